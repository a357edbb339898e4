// zelvane-backend: a stand-in for the product backend on 127.0.0.1, for tests, benchmarks and
// the demo.
#include "BackendRouter.h"
#include "HttpServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

namespace {

const char *const description = R"(Stand-in for the Zelvane product backend, on 127.0.0.1 only.

Serves /functions/v1/api/ (sms, slack/exchange, slack/callback, nylas/auth-url,
nylas/exchange-token, nylas/calendars, nylas/events, nylas/messages, nylas/grant) with demo
data made relative to each sign-in: the first meeting starts two minutes after it.
Also serves the sign-in pages (/signin, /signin/continue) and Slack's /oauth/v2/authorize
and /api/search.messages, so ZELVANE_BACKEND_ORIGIN and ZELVANE_SLACK_ORIGIN can both point here.

The first line on standard output is
  zelvane-backend listening on http://127.0.0.1:<port>

Test control, only with --admin (JSON bodies):
  POST   /_admin/faults    {"endpoint": "nylas/events", "status": 500 | "delayMs": 3000 |
                            "body": "...", "skip": N, "times": N}
  DELETE /_admin/faults
  POST   /_admin/grants    {"email", "provider", "events": N, "minutesUntilFirst": M}
  POST   /_admin/events    {"grantId", "events": [...]} replaces a grant's events
  GET    /_admin/sms       messages sent through sms
  GET    /_admin/requests  every request outside /_admin/ (DELETE clears the log)
Fault endpoints are paths under /functions/v1/api/ (e.g. "sms"), or other paths without
their leading "/" (e.g. "api/search.messages").)";

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zelvane-backend"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(description));
    parser.addHelpOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Port to listen on; 0 (the default) picks a free one."), QStringLiteral("N"),
        QStringLiteral("0"));
    const QCommandLineOption credentialOption(
        QStringLiteral("credential"),
        QStringLiteral("Require \"Authorization: Bearer TOKEN\" on every nylas/ request and this "
                       "credential in every sms request."),
        QStringLiteral("TOKEN"));
    const QCommandLineOption adminOption(
        QStringLiteral("admin"),
        QStringLiteral("Serve the test-control interface under /_admin/ (any local user can "
                       "reach it)."));
    parser.addOption(portOption);
    parser.addOption(credentialOption);
    parser.addOption(adminOption);
    parser.process(app);

    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        std::fprintf(stderr, "zelvane-backend: --port needs a number from 0 to 65535\n");
        return 2;
    }
    std::optional<QString> credential;
    if (parser.isSet(credentialOption))
        credential = parser.value(credentialOption);

    BackendRouter router(credential, parser.isSet(adminOption));
    HttpServer server([&router](const HttpRequest &request) { return router.handle(request); });
    if (!server.listen(quint16(port))) {
        std::fprintf(stderr, "zelvane-backend: cannot listen on port %u: %s\n", port,
                     qPrintable(server.errorString()));
        return 1;
    }
    const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(server.port());
    router.setOrigin(origin);
    std::printf("zelvane-backend listening on %s\n", qPrintable(origin));
    std::fflush(stdout);
    return app.exec();
}
