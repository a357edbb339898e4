// The request rate one real-mode backend process holds for nylas/events: 1,000 Google grants in
// its SQLite file, a fake Google on loopback (in its own thread of this process), and a crowd of
// clients each sending one request per connection, as the app does. Prints requests/s and
// latency percentiles.
//
//   bench_backend_events [--grants N] [--requests N] [--clients N]
#include "FakeGoogle.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>

namespace {

const QByteArray credential = "bench-credential-0123456789abcdef";
const QString redirect = QStringLiteral("http://127.0.0.1:8976/nylas/callback");

void waitFor(const std::function<bool()> &done) {
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// One request on its own connection; the answer's status and body once the server closes.
struct Exchange {
    int status = 0;
    QByteArray body;
};

Exchange exchange(quint16 port, const QByteArray &method, const QString &target,
                  const QByteArray &body = {}) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    QByteArray request =
        method + ' ' + target.toUtf8() + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
        "Authorization: Bearer " + credential +
        "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) +
        "\r\nConnection: close\r\n\r\n" + body;
    socket.write(request);
    QByteArray answer;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { answer += socket.readAll(); });
    waitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; });
    answer += socket.readAll();
    const qsizetype headEnd = answer.indexOf("\r\n\r\n");
    return {answer.mid(9, 3).toInt(), headEnd < 0 ? QByteArray() : answer.mid(headEnd + 4)};
}

// A client that sends the next request when the last answer is complete.
class Client : public QObject {
public:
    Client(quint16 port, const QStringList &targets, int &budget, QList<qint64> &latencies,
           int &failures)
        : m_port(port)
        , m_targets(targets)
        , m_budget(budget)
        , m_latencies(latencies)
        , m_failures(failures) {
        connect(&m_socket, &QTcpSocket::connected, this, [this] {
            const QString &target =
                m_targets.at(QRandomGenerator::global()->bounded(int(m_targets.size())));
            m_socket.write("GET " + target.toUtf8() +
                           " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + credential +
                           "\r\nConnection: close\r\n\r\n");
        });
        connect(&m_socket, &QTcpSocket::readyRead, this,
                [this] { m_answer += m_socket.readAll(); });
        connect(&m_socket, &QTcpSocket::disconnected, this, [this] { finish(); });
        connect(&m_socket, &QTcpSocket::errorOccurred, this, [this] {
            if (m_socket.state() == QAbstractSocket::UnconnectedState)
                finish();
        });
    }
    void next() {
        if (m_budget <= 0) {
            m_done = true;
            return;
        }
        --m_budget;
        m_answer.clear();
        m_timer.start();
        m_socket.connectToHost(QHostAddress::LocalHost, m_port);
    }
    bool done() const { return m_done; }

private:
    void finish() {
        m_answer += m_socket.readAll();
        if (m_answer.startsWith("HTTP/1.1 200"))
            m_latencies.append(m_timer.nsecsElapsed() / 1000);
        else
            ++m_failures;
        m_socket.abort();
        QMetaObject::invokeMethod(
            this, [this] { next(); }, Qt::QueuedConnection);
    }

    QTcpSocket m_socket;
    quint16 m_port;
    const QStringList &m_targets;
    int &m_budget;
    QList<qint64> &m_latencies;
    int &m_failures;
    QElapsedTimer m_timer;
    QByteArray m_answer;
    bool m_done = false;
};

QJsonArray events() {
    QJsonArray items;
    for (int i = 0; i < 10; ++i)
        items.append(QJsonObject{
            {"id", QStringLiteral("event%1").arg(i)},
            {"status", "confirmed"},
            {"summary", QStringLiteral("Meeting %1").arg(i)},
            {"start",
             QJsonObject{{"dateTime", QStringLiteral("2026-12-%1T10:00:00Z").arg(10 + i)}}},
            {"end", QJsonObject{{"dateTime", QStringLiteral("2026-12-%1T11:00:00Z").arg(10 + i)}}},
            {"hangoutLink", "https://meet.google.com/abc-defg-hij"},
            {"attendees",
             QJsonArray{QJsonObject{{"email", "ann@x.test"}, {"responseStatus", "accepted"}},
                        QJsonObject{{"email", "bo@y.test"}, {"responseStatus", "needsAction"}}}}});
    return items;
}

bool write(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() &&
           file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

qint64 percentile(const QList<qint64> &sorted, double p) {
    return sorted.at(std::min<qsizetype>(sorted.size() - 1, qsizetype(p * sorted.size())));
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption grantsOption(QStringLiteral("grants"), QStringLiteral("Grants."),
                                          QStringLiteral("N"), QStringLiteral("1000"));
    const QCommandLineOption requestsOption(QStringLiteral("requests"),
                                            QStringLiteral("Measured requests."),
                                            QStringLiteral("N"), QStringLiteral("20000"));
    const QCommandLineOption clientsOption(QStringLiteral("clients"),
                                           QStringLiteral("Clients at once."), QStringLiteral("N"),
                                           QStringLiteral("32"));
    parser.addOptions({grantsOption, requestsOption, clientsOption});
    parser.addHelpOption();
    parser.process(app);
    const int grantCount = parser.value(grantsOption).toInt();
    const int requestCount = parser.value(requestsOption).toInt();
    const int clientCount = parser.value(clientsOption).toInt();

    // The fake provider answers from its own thread, so it does not queue behind the clients.
    QThread providerThread;
    providerThread.start();
    QObject providerContext;
    providerContext.moveToThread(&providerThread);
    FakeGoogle *google = nullptr;
    QMetaObject::invokeMethod(
        &providerContext,
        [&] {
            google = new FakeGoogle;
            google->events = events();
            google->start();
        },
        Qt::BlockingQueuedConnection);

    QTemporaryDir dir;
    QByteArray key(32, '\0');
    for (int i = 0; i < key.size(); ++i)
        key[i] = char(i * 37 + 11);
    const QString config =
        QStringLiteral("[server]\npublic_url = https://bench.test\nport = 0\ndatabase = %1\n"
                       "token_key_file = %2\ncredentials_file = %3\n[google]\nclient_id = %4\n"
                       "client_secret = %5\nauth_origin = %6\ntoken_origin = %6\n"
                       "api_origin = %6\n")
            .arg(dir.filePath(QStringLiteral("grants.sqlite")),
                 dir.filePath(QStringLiteral("token.key")),
                 dir.filePath(QStringLiteral("credentials")), FakeGoogle::clientId,
                 FakeGoogle::clientSecret, google->origin());
    if (!write(dir.filePath(QStringLiteral("token.key")), key) ||
        !write(dir.filePath(QStringLiteral("credentials")), credential + '\n') ||
        !write(dir.filePath(QStringLiteral("backend.conf")), config.toUtf8())) {
        std::fprintf(stderr, "cannot write the configuration\n");
        return 1;
    }

    QProcess backend;
    backend.setProcessChannelMode(QProcess::SeparateChannels);
    backend.setStandardErrorFile(QProcess::nullDevice());
    backend.start(QStringLiteral(ZELVANE_BACKEND_BINARY),
                  {QStringLiteral("--config"), dir.filePath(QStringLiteral("backend.conf"))});
    if (!backend.waitForReadyRead(10'000)) {
        std::fprintf(stderr, "the backend did not start\n");
        return 1;
    }
    const quint16 port =
        quint16(QString::fromUtf8(backend.readLine()).trimmed().section(u':', -1).toUInt());

    // Each grant through the app's own sign-in: auth-url, consent, exchange-token.
    QElapsedTimer setup;
    setup.start();
    QStringList targets;
    const QByteArray signInBody =
        QJsonDocument(QJsonObject{{"provider", "google"}, {"redirectURI", redirect}}).toJson();
    for (int i = 0; i < grantCount; ++i) {
        const QUrl authUrl(
            QJsonDocument::fromJson(exchange(port, "POST",
                                             QStringLiteral("/functions/v1/api/nylas/"
                                                            "auth-url"),
                                             signInBody)
                                        .body)
                .object()
                .value("authUrl")
                .toString());
        QString code;
        QMetaObject::invokeMethod(
            &providerContext, [&] { code = google->consent(authUrl); },
            Qt::BlockingQueuedConnection);
        const Exchange grant = exchange(
            port, "POST", QStringLiteral("/functions/v1/api/nylas/exchange-token"),
            QJsonDocument(QJsonObject{{"code", code}, {"redirectURI", redirect}}).toJson());
        const QString grantId =
            QJsonDocument::fromJson(grant.body).object().value("grantId").toString();
        if (grant.status != 200 || grantId.isEmpty()) {
            std::fprintf(stderr, "sign-in %d failed with %d\n", i, grant.status);
            return 1;
        }
        targets.append(QStringLiteral("/functions/v1/api/nylas/events?grantId=%1&calendarId="
                                      "primary&start=1796515200&end=1804291200&limit=50")
                           .arg(grantId));
    }
    std::printf("%d grants signed in in %.1f s\n", grantCount, setup.elapsed() / 1000.0);

    const auto run = [&](int count, QList<qint64> &latencies, int &failures) {
        int budget = count;
        std::vector<std::unique_ptr<Client>> clients;
        for (int i = 0; i < clientCount; ++i)
            clients.push_back(std::make_unique<Client>(port, targets, budget, latencies, failures));
        for (const auto &client : clients)
            client->next();
        waitFor([&] {
            return std::all_of(clients.begin(), clients.end(),
                               [](const auto &client) { return client->done(); });
        });
    };
    QList<qint64> warmLatencies;
    int warmFailures = 0;
    run(std::min(2000, requestCount / 5), warmLatencies, warmFailures);

    QList<qint64> latencies;
    int failures = 0;
    QElapsedTimer wall;
    wall.start();
    run(requestCount, latencies, failures);
    const double seconds = wall.nsecsElapsed() / 1e9;
    std::sort(latencies.begin(), latencies.end());
    if (latencies.isEmpty()) {
        std::fprintf(stderr, "no request succeeded (%d failed)\n", failures);
        return 1;
    }
    std::printf("nylas/events, %d grants, %d clients at once, %lld answered 200, %d not\n",
                grantCount, clientCount, qint64(latencies.size()), failures);
    std::printf("  %.0f requests/s over %.1f s\n", latencies.size() / seconds, seconds);
    std::printf("  latency ms: p50 %.2f  p90 %.2f  p99 %.2f  p99.9 %.2f  max %.2f\n",
                percentile(latencies, 0.50) / 1000.0, percentile(latencies, 0.90) / 1000.0,
                percentile(latencies, 0.99) / 1000.0, percentile(latencies, 0.999) / 1000.0,
                latencies.last() / 1000.0);

    backend.terminate();
    backend.waitForFinished(5'000);
    QMetaObject::invokeMethod(
        &providerContext, [&] { delete google; }, Qt::BlockingQueuedConnection);
    providerThread.quit();
    providerThread.wait();
    return failures == 0 ? 0 : 1;
}
