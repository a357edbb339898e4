// zelvane-backend: the product backend. With --demo it is a stand-in on 127.0.0.1 with demo
// data, for tests, benchmarks and the demo; with --config it serves real provider accounts.
#include "BackendConfig.h"
#include "BackendLog.h"
#include "BackendRouter.h"
#include "CredentialSet.h"
#include "GrantStore.h"
#include "HttpServer.h"
#include "LiveRouter.h"
#include "TokenCipher.h"
#include "UpstreamClient.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <cstdio>
#include <sodium.h>

namespace {

const char *const description = R"(The Zelvane product backend.

  zelvane-backend --config FILE   serves real Google and Microsoft accounts, the Slack sign-in
                                  and text messages as set in FILE (see
                                  packaging/zelvane-backend.conf.example); HTTPS is expected
                                  from a reverse proxy in front of it
  zelvane-backend --demo          a stand-in on 127.0.0.1 with demo data, for the demo,
                                  tests and benchmarks

Both serve /functions/v1/api/ (sms, slack/exchange, slack/callback, nylas/auth-url,
nylas/exchange-token, nylas/calendars, nylas/events, nylas/messages, nylas/grant). The first
line on standard output is
  zelvane-backend listening on http://<address>:<port>

With --demo, data is made relative to each sign-in: the first meeting starts two minutes
after it. It also serves the sign-in pages (/signin, /signin/continue) and Slack's
/oauth/v2/authorize and /api/search.messages, so ZELVANE_BACKEND_ORIGIN and
ZELVANE_SLACK_ORIGIN can both point here.

Test control, only with --demo --admin (JSON bodies):
  POST   /_admin/faults    {"endpoint": "nylas/events", "status": 500 | "delayMs": 3000 |
                            "body": "...", "skip": N, "times": N}
  DELETE /_admin/faults
  POST   /_admin/grants    {"email", "provider", "events": N, "minutesUntilFirst": M}
  POST   /_admin/events    {"grantId", "events": [...]} replaces a grant's events
  GET    /_admin/sms       messages sent through sms
  GET    /_admin/requests  every request outside /_admin/ (DELETE clears the log)
Fault endpoints are paths under /functions/v1/api/ (e.g. "sms"), or other paths without
their leading "/" (e.g. "api/search.messages").)";

int refuse(const QString &message) {
    std::fprintf(stderr, "zelvane-backend: %s\n", qPrintable(message));
    return 2;
}

void announce(const HttpServer &server, const QHostAddress &address) {
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? u'[' + address.toString() + u']'
                             : address.toString();
    std::printf("zelvane-backend listening on http://%s:%u\n", qPrintable(host),
                uint(server.port()));
    std::fflush(stdout);
}

int runDemo(QCoreApplication &app, const QString &portText, std::optional<QString> credential,
            bool admin) {
    bool ok = false;
    const uint port = portText.toUInt(&ok);
    if (!ok || port > 65535)
        return refuse(QStringLiteral("--port needs a number from 0 to 65535"));
    BackendRouter router(std::move(credential), admin);
    HttpServer server([&router](const HttpRequest &request, const HttpServer::Responder &respond) {
        respond(router.handle(request));
    });
    if (!server.listen(QHostAddress::LocalHost, quint16(port))) {
        std::fprintf(stderr, "zelvane-backend: cannot listen on port %u: %s\n", port,
                     qPrintable(server.errorString()));
        return 1;
    }
    router.setOrigin(QStringLiteral("http://127.0.0.1:%1").arg(server.port()));
    announce(server, QHostAddress::LocalHost);
    return app.exec();
}

int runLive(QCoreApplication &app, const QString &configPath) {
    if (sodium_init() < 0)
        return refuse(QStringLiteral("libsodium could not start"));
    try {
        const BackendConfig config = BackendConfig::load(configPath);
        const auto cipher =
            TokenCipher::fromKeyFile(config.tokenKeyFile, QStringLiteral("server.token_key_file"));
        const CredentialSet credentials = CredentialSet::load(
            config.credentialsFile, QStringLiteral("server.credentials_file"), *cipher);
        std::unique_ptr<GrantStore> store;
        try {
            store = std::make_unique<GrantStore>(config.database, *cipher);
        } catch (const StoreError &error) {
            return refuse(QStringLiteral("server.database: ") + QString::fromUtf8(error.what()));
        }
        QNetworkAccessManager network;
        UpstreamClient upstream(network);
        LiveRouter router(config, credentials, *store, upstream);
        HttpServer server(
            [&router](const HttpRequest &request, const HttpServer::Responder &respond) {
                router.handle(request, respond);
            });
        if (!server.listen(config.listen, config.port))
            return refuse(QStringLiteral("server.listen/server.port: cannot listen: ") +
                          server.errorString());
        announce(server, config.listen);
        qCInfo(lcBackend) << "serving" << config.publicUrl.toString() << "with"
                          << (config.google ? "Google" : "no Google") << "and"
                          << (config.microsoft ? "Microsoft" : "no Microsoft");
        return app.exec();
    } catch (const ConfigError &error) {
        return refuse(QString::fromUtf8(error.what()));
    }
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zelvane-backend"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(description));
    parser.addHelpOption();
    const QCommandLineOption configOption(QStringLiteral("config"),
                                          QStringLiteral("The configuration of a real backend."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption demoOption(QStringLiteral("demo"),
                                        QStringLiteral("Serve demo data on 127.0.0.1."));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("With --demo: port to listen on; 0 (the default) picks a free one."),
        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption credentialOption(
        QStringLiteral("credential"),
        QStringLiteral("With --demo: require \"Authorization: Bearer TOKEN\" on every nylas/ "
                       "request and this credential in every sms request."),
        QStringLiteral("TOKEN"));
    const QCommandLineOption adminOption(
        QStringLiteral("admin"),
        QStringLiteral("With --demo: serve the test-control interface under /_admin/ (any local "
                       "user can reach it)."));
    parser.addOptions({configOption, demoOption, portOption, credentialOption, adminOption});
    parser.process(app);

    if (parser.isSet(demoOption)) {
        if (parser.isSet(configOption))
            return refuse(QStringLiteral("--demo takes no --config"));
        std::optional<QString> credential;
        if (parser.isSet(credentialOption))
            credential = parser.value(credentialOption);
        return runDemo(app, parser.value(portOption), credential, parser.isSet(adminOption));
    }
    for (const QCommandLineOption &demoOnly : {portOption, credentialOption, adminOption})
        if (parser.isSet(demoOnly))
            return refuse(QStringLiteral("--%1 is only for --demo").arg(demoOnly.names().first()));
    if (!parser.isSet(configOption))
        return refuse(QStringLiteral("give --config FILE, or --demo for the stand-in"));
    return runLive(app, parser.value(configOption));
}
