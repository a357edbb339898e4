#include "FakeHttpServer.h"
#include "LoopbackHttpServer.h"
#include "ManualClock.h"
#include "Settle.h"
#include "TestEnvironment.h"
#include "core/AppSettings.h"
#include "platform/SecretStore.h"
#include "sync/BackendAPIClient.h"
#include "sync/CalendarProxyClient.h"
#include "sync/CalendarService.h"
#include "sync/HttpExchange.h"
#include "sync/SMSService.h"
#include "sync/SignInListener.h"
#include "sync/SlackService.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QtTest>

using namespace Qt::StringLiterals;

using Response = FakeHttpServer::Response;

namespace {
const QString credentialKey = QString::fromLatin1(SecretStore::backendCredential);
const QString slackKey = QString::fromLatin1(SecretStore::slackToken);

QByteArray json(const QJsonValue &v) {
    return v.isArray() ? QJsonDocument(v.toArray()).toJson() : QJsonDocument(v.toObject()).toJson();
}

QJsonObject page(int first, int count, const QString &cursor) {
    QJsonArray data;
    for (int i = first; i < first + count; ++i)
        data.append(QJsonObject{{u"id"_s, QString::number(i)}});
    QJsonObject o{{u"data"_s, data}};
    if (!cursor.isNull())
        o.insert(u"next_cursor"_s, cursor);
    return o;
}
} // namespace

// Stands in for the browser: records what the app opens and never answers.
class FakeBrowser : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;

public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }
};

class TestSyncHttp : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FakeHttpServer> server;
    std::unique_ptr<ManualClock> clock;
    SecretStore secrets;
    FakeBrowser browser;

    void backend(const QString &path, FakeHttpServer::Handler handler) {
        server->on(u"/functions/v1/api/"_s + path, std::move(handler));
    }
    static void reply(FakeHttpServer &s, const QString &path, Response r) {
        s.on(path, [r](const FakeHttpServer::Request &) { return r; });
    }

private Q_SLOTS:
    void initTestCase() { QDesktopServices::setUrlHandler(u"http"_s, &browser, "open"); }

    void init() {
        server = std::make_unique<FakeHttpServer>();
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
        QTest::newRow("500 html") << 500 << QByteArray("<html>oops</html>") << "SMS failed";
        QTest::newRow("200 garbage")
            << 200 << QByteArray("{\"success\":1}") << DecodingError({}).description();
    }
    void smsStatuses() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, outcome);
        backend(u"sms"_s, [=](const FakeHttpServer::Request &) { return Response{status, body}; });
        BackendAPIClient client;
        const auto r = settle(client.sendSMS(u"cred"_s, u"+1 555"_s, u"hi"_s));
        QCOMPARE(r.ok() ? QString::number(r.value->remaining) : r.description(), outcome);
        const auto &request = server->requests.last();
        QVERIFY(!request.headers.contains("authorization"));
        QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
        QCOMPARE(QJsonDocument::fromJson(request.body).object(),
                 (QJsonObject{{"credential", "cred"}, {"to", "+1 555"}, {"body", "hi"}}));
    }

    void slackExchange() {
        BackendAPIClient client;
        reply(*server, u"/functions/v1/api/slack/exchange"_s, {400, R"({"accessToken":"x"})"});
        QCOMPARE(settle(client.exchangeSlackCode("c", "r")).description(),
                 u"Invalid server response"_s);
        reply(*server, u"/functions/v1/api/slack/exchange"_s, {200, R"({"access_token":"x"})"});
        QVERIFY(settle(client.exchangeSlackCode("c", "r")).as<DecodingError>());
        reply(*server, u"/functions/v1/api/slack/exchange"_s, {200, R"({"accessToken":"xoxp-1"})"});
        QCOMPARE(*settle(client.exchangeSlackCode("c", "r")).value, u"xoxp-1"_s);
        QCOMPARE(QJsonDocument::fromJson(server->requests.last().body).object(),
                 (QJsonObject{{"code", "c"}, {"redirect_uri", "r"}}));
    }

    void transportFailuresPassThrough() {
        BackendAPIClient client;
        client.setTimeout(std::chrono::milliseconds(300));
        reply(*server, u"/functions/v1/api/sms"_s, {200, "{}", 3000});
        QVERIFY(settle(client.sendSMS("a", "b", "c")).as<TransportError>());
        reply(*server, u"/functions/v1/api/sms"_s, {200, "{}", 0, true});
        QVERIFY(settle(client.sendSMS("a", "b", "c")).as<TransportError>());
    }

    void eventsArePagedUpToFivePages() {
        QVERIFY(settle(secrets.save(credentialKey, u"tok"_s)).ok());
        int calls = 0;
        backend(u"nylas/events"_s, [&](const FakeHttpServer::Request &) {
            ++calls;
            return Response{200, json(page(calls * 10, 2, u"next+%&"_s + QString::number(calls)))};
        });
        CalendarProxyClient proxy(secrets, *clock);
        const auto r = settle(proxy.fetchEvents(u"g 1"_s, u"primary"_s));
        QVERIFY(r.ok());
        QCOMPARE(calls, 5);
        QCOMPARE(r.value->size(), 10);
        QCOMPARE(r.value->first().id, u"10"_s);
        QCOMPARE(r.value->last().id, u"51"_s);
        const qint64 start = clock->now().toSecsSinceEpoch();
        for (int i = 0; i < 5; ++i) {
            const auto &request = server->requests[i];
            QCOMPARE(request.headers.value("authorization"), QByteArray("Bearer tok"));
            QVERIFY(!request.headers.contains("content-type"));
            QCOMPARE(request.item("grantId"), u"g 1"_s);
            QCOMPARE(request.item("start"), QString::number(start));
            QCOMPARE(request.item("end"), QString::number(start + 7776000));
            QCOMPARE(request.item("limit"), u"200"_s);
            QCOMPARE(request.item("page_token"),
                     i == 0 ? QString() : u"next+%&"_s + QString::number(i));
        }
        QVERIFY(server->requests[0].target.contains("grantId=g%201&calendarId=primary&start="));
    }

    void pagingStopsAndFails() {
        CalendarProxyClient proxy(secrets, *clock);
        // An empty cursor ends after one request; no credential means no Authorization.
        reply(*server, u"/functions/v1/api/nylas/events"_s, {200, json(page(0, 1, ""))});
        QCOMPARE(settle(proxy.fetchEvents("g", "primary")).value->size(), 1);
        QCOMPARE(server->requests.size(), 1);
        QVERIFY(!server->requests[0].headers.contains("authorization"));
    }

    void proxyFailures_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("204") << 204 << QByteArray() << "HTTP error 204";
        QTest::newRow("bad authUrl") << 200
                                     << json(QJsonObject{{"authUrl", "http:"
                                                                     "//a b"}})
                                     << "Invalid authentication URL received";
        QTest::newRow("garbage") << 200 << QByteArray("[") << DecodingError({}).description();
        QTest::newRow("ok") << 200
                            << json(QJsonObject{{"authUrl", "http:"
                                                            "//127.0.0.1:9/signin"}})
                            << "http://127.0.0.1:9/signin";
    }
    void proxyFailures() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, outcome);
        reply(*server, u"/functions/v1/api/nylas/auth-url"_s, {status, body});
        CalendarProxyClient proxy(secrets, *clock);
        const auto r = settle(proxy.getAuthURL(u"google"_s, std::nullopt));
        QCOMPARE(r.ok() ? r.value->toString() : r.description(), outcome);
        // Without a redirect address only the provider is sent.
        QCOMPARE(QJsonDocument::fromJson(server->requests.last().body).object(),
                 (QJsonObject{{"provider", "google"}}));
    }

    // Every request here carries a secret (credential, token); none may follow a redirect to
    // another origin, and each such answer fails in words.
    void redirectsElsewhereAreRefused_data() {
        QTest::addColumn<int>("status");
        QTest::newRow("302") << 302;
        QTest::newRow("307") << 307;
    }
    void redirectsElsewhereAreRefused() {
        QFETCH(int, status);
        LoopbackHttpServer origin, elsewhere;
        QVERIFY(origin.start());
        QVERIFY(elsewhere.start());
        elsewhere.respondWith(LoopbackHttpServer::Response::json(R"({"data":[]})"));
        origin.respondWith(LoopbackHttpServer::Response::redirect(
            status, elsewhere.origin().toUtf8() + "/functions/v1/api/nylas/calendars"));
        qputenv("ZELVANE_BACKEND_ORIGIN", origin.origin().toUtf8());
        qputenv("ZELVANE_SLACK_ORIGIN", origin.origin().toUtf8());
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
        QCOMPARE(origin.requests().size(), 3);
        QCOMPARE(origin.requests().first().header("authorization"),
                 QByteArray("Bearer cred-secret"));
        QVERIFY(elsewhere.requests().isEmpty());
    }

    // An answer that keeps arriving, a byte at a time, still ends at the total limit.
    void trickledAnswerEndsAtTheTotalLimit() {
        LoopbackHttpServer slow;
        QVERIFY(slow.start());
        LoopbackHttpServer::Response trickle = LoopbackHttpServer::Response::json(
            json(QJsonObject{{"data", QJsonArray{}}}) + QByteArray(600, ' '));
        trickle.trickle = std::chrono::milliseconds(20);
        slow.respondWith(trickle);
        qputenv("ZELVANE_BACKEND_ORIGIN", slow.origin().toUtf8());

        CalendarProxyClient proxy(secrets, *clock);
        proxy.setLimits({std::chrono::milliseconds(400), std::chrono::milliseconds(1'000)});
        QElapsedTimer elapsed;
        elapsed.start();
        const auto r = settle(proxy.fetchCalendars(u"g"_s));
        QVERIFY(r.as<TimeLimitError>());
        // Not the idle limit: bytes kept coming. Not the end of the body either (12 s away).
        QVERIFY2(elapsed.elapsed() >= 900 && elapsed.elapsed() < 5'000,
                 QByteArray::number(elapsed.elapsed()));
        QTRY_COMPARE(slow.openConnections(), 0);

        // A stall ends at the idle limit, well before the total one.
        slow.respondWith(LoopbackHttpServer::Response::silence());
        proxy.setLimits({std::chrono::milliseconds(300), std::chrono::milliseconds(10'000)});
        elapsed.restart();
        const auto stalled = settle(proxy.fetchCalendars(u"g"_s));
        QVERIFY(stalled.as<TransportError>());
        QVERIFY(!stalled.as<TimeLimitError>());
        QVERIFY2(elapsed.elapsed() < 5'000, QByteArray::number(elapsed.elapsed()));
    }

    void slackSearchAndContext() {
        BackendAPIClient client;
        SlackService slack(client, secrets, *clock);
        QVERIFY(!*settle(slack.isConnected()).value);
        QCOMPARE(settle(slack.searchMessages("x")).description(),
                 SlackError::notConnected().description());
        QVERIFY(server->requests.isEmpty());
        QVERIFY(settle(slack.fetchContextForAttendees({"a@x"})).value->isEmpty());

        QVERIFY(settle(secrets.save(slackKey, u"xoxp-t"_s)).ok());
        QVERIFY(*settle(slack.isConnected()).value);
        auto match = [](const QString &link) {
            return QJsonObject{{"text", "t"},
                               {"channel", QJsonObject{{"name", "general"}}},
                               {"username", "u"},
                               {"ts", "1.0"},
                               {"permalink", link}};
        };
        server->on(u"/api/search.messages"_s, [&](const FakeHttpServer::Request &r) {
            const QString q = r.item("query");
            if (q == u"from:<b@x>")
                return Response{500, "{}"};
            QJsonArray matches{match("shared"), match(q)};
            return Response{
                200,
                json(QJsonObject{{"ok", true}, {"messages", QJsonObject{{"matches", matches}}}})};
        });
        const auto context = settle(slack.fetchContextForAttendees({"a@x", "b@x"}));
        QStringList links;
        for (const SlackMessage &m : context.value->value("a@x"))
            links.append(m.permalink);
        QCOMPARE(links, (QStringList{"shared", "from:<a@x>", "to:<a@x>"}));
        QCOMPARE(context.value->value("b@x").size(), 2);
        const auto &first = server->requests.first();
        QCOMPARE(first.headers.value("authorization"), QByteArray("Bearer xoxp-t"));
        QCOMPARE(first.item("sort"), u"timestamp"_s);
        QCOMPARE(first.item("sort_dir"), u"desc"_s);
        QCOMPARE(first.item("count"), u"20"_s);

        reply(*server, u"/api/search.messages"_s, {201, R"({"ok":true})"});
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
        QVERIFY(server->requests.isEmpty());
    }
};

QTEST_MAIN(TestSyncHttp)
#include "tst_synchttp.moc"
