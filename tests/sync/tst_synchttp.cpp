// The backend, calendar proxy and Slack clients against scripted servers on 127.0.0.1.
#include "LoopbackHttpServer.h"
#include "ManualClock.h"
#include "Settle.h"
#include "platform/SecretStore.h"
#include "sync/BackendAPIClient.h"
#include "sync/CalendarProxyClient.h"
#include "sync/HttpExchange.h"
#include "sync/SignInListener.h"
#include "sync/SlackService.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace Qt::StringLiterals;
using Request = LoopbackHttpServer::Request;
using Response = LoopbackHttpServer::Response;

namespace {
const QString credentialKey = QString::fromLatin1(SecretStore::backendCredential);
const QString slackKey = QString::fromLatin1(SecretStore::slackToken);
const QString api = u"/functions/v1/api/"_s;

QByteArray json(const QJsonObject &o) {
    return QJsonDocument(o).toJson();
}

QJsonObject bodyOf(const Request &request) {
    return QJsonDocument::fromJson(request.body).object();
}

QString queryItem(const Request &request, const QString &name) {
    return QUrlQuery(QUrl(QString::fromUtf8(request.target)))
        .queryItemValue(name, QUrl::FullyDecoded);
}
} // namespace

// Stands in for the browser: records what the app opens and never answers.
class Browser : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;

public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }
};

class TestSyncHttp : public QObject {
    Q_OBJECT

    std::unique_ptr<LoopbackHttpServer> server;
    std::unique_ptr<ManualClock> clock;
    SecretStore secrets;
    Browser browser;

    void answer(const QString &path, const Response &response) {
        server->on(path, [response](const Request &) { return response; });
    }

private Q_SLOTS:
    void initTestCase() { QDesktopServices::setUrlHandler(u"http"_s, &browser, "open"); }

    void init() {
        server = std::make_unique<LoopbackHttpServer>();
        QVERIFY(server->start());
        clock = std::make_unique<ManualClock>();
        qputenv("ZELVANE_BACKEND_ORIGIN", server->origin().toUtf8());
        qputenv("ZELVANE_SLACK_ORIGIN", server->origin().toUtf8());
        settle(secrets.remove(credentialKey));
        settle(secrets.remove(slackKey));
        browser.opened.clear();
    }

    void smsStatuses_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("200") << 200 << QByteArray(R"({"success":true,"remaining":4})") << "4";
        QTest::newRow("201 is a failure")
            << 201 << QByteArray(R"({"success":true,"remaining":4})") << "SMS failed";
        QTest::newRow("429 with text")
            << 429 << QByteArray(R"({"error":"Daily limit reached"})") << "Daily limit reached";
        QTest::newRow("200 garbage")
            << 200 << QByteArray("{\"success\":1}") << DecodingError({}).description();
    }
    void smsStatuses() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, outcome);
        answer(api + u"sms"_s, Response::json(body, status));
        BackendAPIClient client;
        const auto r = settle(client.sendSMS(u"cred"_s, u"+1 555"_s, u"hi"_s));
        QCOMPARE(r.ok() ? QString::number(r.value->remaining) : r.description(), outcome);
        const Request &request = server->requests().last();
        QVERIFY(!request.headers.contains("authorization"));
        QCOMPARE(request.header("content-type"), QByteArray("application/json"));
        QCOMPARE(bodyOf(request),
                 (QJsonObject{{"credential", "cred"}, {"to", "+1 555"}, {"body", "hi"}}));
    }

    void slackExchangeAndTransportFailures() {
        BackendAPIClient client;
        const QString exchange = api + u"slack/exchange"_s;
        answer(exchange, Response::json(R"({"accessToken":"x"})", 400));
        QCOMPARE(settle(client.exchangeSlackCode("c", "r")).description(),
                 u"Invalid server response"_s);
        answer(exchange, Response::json(R"({"access_token":"x"})"));
        QVERIFY(settle(client.exchangeSlackCode("c", "r")).as<DecodingError>());
        answer(exchange, Response::json(R"({"accessToken":"xoxp-1"})"));
        QCOMPARE(*settle(client.exchangeSlackCode("c", "r")).value, u"xoxp-1"_s);
        QCOMPARE(bodyOf(server->requests().last()),
                 (QJsonObject{{"code", "c"}, {"redirect_uri", "r"}}));

        // No answer in time, and an answer cut short.
        client.setTimeout(std::chrono::milliseconds(300));
        answer(api + u"sms"_s, Response::silence());
        QVERIFY(settle(client.sendSMS("a", "b", "c")).as<TransportError>());
        Response cut = Response::json(R"({"success":true,"remaining":4})");
        cut.announcedLength = 100;
        answer(api + u"sms"_s, cut);
        QVERIFY(settle(client.sendSMS("a", "b", "c")).as<TransportError>());
    }

    void eventsArePagedUpToFivePages() {
        QVERIFY(settle(secrets.save(credentialKey, u"tok"_s)).ok());
        server->on(api + u"nylas/events"_s, [&](const Request &) {
            const QString n = QString::number(server->requests().size());
            return Response::json(json(
                {{"data", QJsonArray{QJsonObject{{"id", n}}}}, {"next_cursor", "next+%&" + n}}));
        });
        CalendarProxyClient proxy(secrets, *clock);
        const auto r = settle(proxy.fetchEvents(u"g 1"_s, u"primary"_s));
        QCOMPARE(r.value.value_or(QList<ProxyEvent>()).size(), 5);
        QCOMPARE(r.value->last().id, u"5"_s);
        // The window starts now; the cursor goes back encoded.
        const qint64 start = clock->now().toSecsSinceEpoch();
        const QByteArray query =
            "/functions/v1/api/nylas/events?grantId=g%201&calendarId=primary&start=" +
            QByteArray::number(start) + "&end=" + QByteArray::number(start + 7776000) +
            "&limit=200";
        QCOMPARE(server->requests()[0].target, query);
        QCOMPARE(server->requests()[4].target, query + "&page_token=next%2B%25%264");
        QCOMPARE(server->requests()[4].header("authorization"), QByteArray("Bearer tok"));
        QVERIFY(!server->requests()[4].headers.contains("content-type"));

        // An empty cursor ends after one request; no credential means no Authorization.
        settle(secrets.remove(credentialKey));
        server->clearRequests();
        answer(api + u"nylas/events"_s, Response::json(R"({"data":[],"next_cursor":""})"));
        QVERIFY(settle(proxy.fetchEvents("g", "primary")).ok());
        QCOMPARE(server->requests().size(), 1);
        QVERIFY(!server->requests()[0].headers.contains("authorization"));
    }

    void authUrlIsChecked() {
        CalendarProxyClient proxy(secrets, *clock);
        answer(api + u"nylas/auth-url"_s, Response::json("{\"authUrl\":\"http://a b\"}"));
        QCOMPARE(settle(proxy.getAuthURL(u"google"_s, std::nullopt)).description(),
                 u"Invalid authentication URL received"_s);
        answer(api + u"nylas/auth-url"_s,
               Response::json("{\"authUrl\":\"http://127.0.0.1:9/in\"}"));
        QCOMPARE(settle(proxy.getAuthURL(u"google"_s, std::nullopt)).value,
                 std::optional(QUrl(u"http://127.0.0.1:9/in"_s)));
        // Without a redirect address only the provider is sent.
        QCOMPARE(bodyOf(server->requests().last()), (QJsonObject{{"provider", "google"}}));
    }

    // Every request here carries a secret (credential, token); none may follow a redirect to
    // another origin, and each such answer fails in words.
    void redirectsElsewhereAreRefused() {
        LoopbackHttpServer elsewhere;
        QVERIFY(elsewhere.start());
        elsewhere.respondWith(Response::json(R"({"data":[]})"));
        server->respondWith(Response::redirect(307, elsewhere.origin().toUtf8() + "/x"));
        QVERIFY(settle(secrets.save(credentialKey, u"cred-secret"_s)).ok());
        QVERIFY(settle(secrets.save(slackKey, u"xoxp-secret"_s)).ok());

        CalendarProxyClient proxy(secrets, *clock);
        BackendAPIClient backend;
        SlackService slack(backend, secrets, *clock);
        const QString refused = RedirectError().description();
        QCOMPARE(settle(proxy.fetchCalendars(u"g"_s)).description(), refused);
        QCOMPARE(settle(backend.sendSMS(u"cred-secret"_s, u"+1"_s, u"hi"_s)).description(),
                 refused);
        QVERIFY(settle(slack.searchMessages(u"x"_s)).as<RedirectError>());
        QCOMPARE(server->requests().size(), 3);
        QCOMPARE(server->requests().first().header("authorization"),
                 QByteArray("Bearer cred-secret"));
        QVERIFY(elsewhere.requests().isEmpty());
    }

    // An answer that keeps arriving, a byte at a time, still ends at the total limit.
    void trickledAnswerEndsAtTheTotalLimit() {
        Response trickle = Response::json(R"({"data":[]})" + QByteArray(600, ' '));
        trickle.trickle = std::chrono::milliseconds(20);
        server->respondWith(trickle);
        CalendarProxyClient proxy(secrets, *clock);
        proxy.setLimits({std::chrono::milliseconds(400), std::chrono::milliseconds(1'000)});
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(settle(proxy.fetchCalendars(u"g"_s)).as<TimeLimitError>());
        // Not the idle limit: bytes kept coming. Not the end of the body either (12 s away).
        QVERIFY2(elapsed.elapsed() >= 900 && elapsed.elapsed() < 5'000,
                 QByteArray::number(elapsed.elapsed()));
        QTRY_COMPARE(server->openConnections(), 0);

        // A stall ends at the idle limit, well before the total one.
        server->respondWith(Response::silence());
        proxy.setLimits({std::chrono::milliseconds(300), std::chrono::milliseconds(10'000)});
        elapsed.restart();
        const auto stalled = settle(proxy.fetchCalendars(u"g"_s));
        QVERIFY(stalled.as<TransportError>() && !stalled.as<TimeLimitError>());
        QVERIFY2(elapsed.elapsed() < 5'000, QByteArray::number(elapsed.elapsed()));
    }

    void slackSearchAndContext() {
        BackendAPIClient client;
        SlackService slack(client, secrets, *clock);
        QCOMPARE(settle(slack.searchMessages("x")).description(),
                 SlackError::notConnected().description());
        QVERIFY(settle(slack.fetchContextForAttendees({"a@x"})).value->isEmpty());
        QVERIFY(server->requests().isEmpty());

        QVERIFY(settle(secrets.save(slackKey, u"xoxp-t"_s)).ok());
        QVERIFY(*settle(slack.isConnected()).value);
        server->on(u"/api/search.messages"_s, [&](const Request &r) {
            const QString q = queryItem(r, "query");
            if (q == u"from:<b@x>")
                return Response::json("{}", 500);
            QJsonArray matches;
            for (const QString &link : {u"shared"_s, q})
                matches.append(QJsonObject{{"text", "t"},
                                           {"channel", QJsonObject{{"name", "general"}}},
                                           {"username", "u"},
                                           {"ts", "1.0"},
                                           {"permalink", link}});
            return Response::json(
                json({{"ok", true}, {"messages", QJsonObject{{"matches", matches}}}}));
        });
        const auto context = settle(slack.fetchContextForAttendees({"a@x", "b@x"}));
        QStringList links;
        for (const SlackMessage &m : context.value->value("a@x"))
            links.append(m.permalink);
        QCOMPARE(links, (QStringList{"shared", "from:<a@x>", "to:<a@x>"}));
        QCOMPARE(context.value->value("b@x").size(), 2);
        QCOMPARE(
            server->requests().first().target,
            "/api/search.messages?query=from:%3Ca%40x%3E&sort=timestamp&sort_dir=desc&count=20");
        QCOMPARE(server->requests().first().header("authorization"), QByteArray("Bearer xoxp-t"));

        answer(u"/api/search.messages"_s, Response::json(R"({"ok":true})", 201));
        QCOMPARE(settle(slack.searchMessages("x")).description(),
                 SlackError::requestFailed().description());
        settle(slack.disconnect());
        QVERIFY(!*settle(slack.isConnected()).value);
    }

    void slackSignInTimesOut() {
        BackendAPIClient client;
        SlackService slack(client, secrets, *clock);
        auto task = slack.authenticate();
        QCOMPARE(browser.opened.size(), 1);
        clock->advance(179);
        QVERIFY(!task.isReady());
        clock->advance(1);
        QCOMPARE(settle(std::move(task)).description(),
                 u"Slack authorization timed out. Please try again."_s);
        QVERIFY(!*settle(slack.isConnected()).value);
        QVERIFY(server->requests().isEmpty());
    }
};

QTEST_MAIN(TestSyncHttp)
#include "tst_synchttp.moc"
