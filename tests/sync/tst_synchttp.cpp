#include "FakeHttpServer.h"
#include "Settle.h"
#include "TestEnvironment.h"
#include "core/AppSettings.h"
#include "core/Clock.h"
#include "sync/BackendAPIClient.h"
#include "sync/CalendarService.h"
#include "sync/HttpExchange.h"
#include "sync/KeychainService.h"
#include "sync/LoopbackRedirect.h"
#include "sync/NylasService.h"
#include "sync/SMSService.h"
#include "sync/SlackService.h"

#include <QDesktopServices>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QtTest>

using Response = FakeHttpServer::Response;

namespace {
const QString credentialKey = QString::fromLatin1(KeychainService::backendCredential);
const QString slackKey = QString::fromLatin1(KeychainService::slackToken);

QByteArray json(const QJsonValue &v) {
    return v.isArray() ? QJsonDocument(v.toArray()).toJson() : QJsonDocument(v.toObject()).toJson();
}

QJsonObject page(int first, int count, const QString &cursor) {
    QJsonArray data;
    for (int i = first; i < first + count; ++i)
        data.append(QJsonObject{{QStringLiteral("id"), QString::number(i)}});
    QJsonObject o{{QStringLiteral("data"), data}};
    if (!cursor.isNull())
        o.insert(QStringLiteral("next_cursor"), cursor);
    return o;
}
} // namespace

// Plays the browser: answers the Slack authorize page by calling the listener named in "state".
class FakeBrowser : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
    bool follow = true;
    QString code = QStringLiteral("slack-code");
    QNetworkAccessManager network;

public Q_SLOTS:
    void open(const QUrl &url) {
        opened.append(url);
        if (!follow)
            return;
        const QString state =
            QUrlQuery(url).queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded);
        const QString port = state.section(u':', -1);
        QUrl callback(QStringLiteral("http://127.0.0.1:") + port +
                      QStringLiteral("/slack/callback"));
        callback.setQuery(QStringLiteral("code=") + code + QStringLiteral("&state=") + state);
        QNetworkReply *reply = network.get(QNetworkRequest(callback));
        connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    }
};

class TestSyncHttp : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FakeHttpServer> server;
    std::unique_ptr<ManualClock> clock;
    FakeBrowser browser;

    void backend(const QString &path, FakeHttpServer::Handler handler) {
        server->on(QStringLiteral("/functions/v1/api/") + path, std::move(handler));
    }
    static void reply(FakeHttpServer &s, const QString &path, Response r) {
        s.on(path, [r](const FakeHttpServer::Request &) { return r; });
    }

private Q_SLOTS:
    void initTestCase() {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "open");
    }

    void init() {
        server = std::make_unique<FakeHttpServer>();
        clock = std::make_unique<ManualClock>();
        qputenv("ZELVANE_BACKEND_ORIGIN", server->origin().toUtf8());
        qputenv("ZELVANE_SLACK_ORIGIN", server->origin().toUtf8());
        KeychainService::remove(credentialKey);
        KeychainService::remove(slackKey);
        browser.opened.clear();
        browser.follow = true;
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
        backend(QStringLiteral("sms"), [=](const FakeHttpServer::Request &) {
            return Response{status, body};
        });
        BackendAPIClient client;
        const auto r = settle(
            client.sendSMS(QStringLiteral("cred"), QStringLiteral("+1 555"), QStringLiteral("hi")));
        QCOMPARE(r.ok() ? QString::number(r.value->remaining) : r.description(), outcome);
        const auto &request = server->requests.last();
        QVERIFY(!request.headers.contains("authorization"));
        QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
        QCOMPARE(QJsonDocument::fromJson(request.body).object(),
                 (QJsonObject{{"credential", "cred"}, {"to", "+1 555"}, {"body", "hi"}}));
    }

    void slackExchange() {
        BackendAPIClient client;
        reply(*server, QStringLiteral("/functions/v1/api/slack/exchange"),
              {400, R"({"accessToken":"x"})"});
        QCOMPARE(settle(client.exchangeSlackCode("c", "r")).description(),
                 QStringLiteral("Invalid server response"));
        reply(*server, QStringLiteral("/functions/v1/api/slack/exchange"),
              {200, R"({"access_token":"x"})"});
        QVERIFY(settle(client.exchangeSlackCode("c", "r")).as<DecodingError>());
        reply(*server, QStringLiteral("/functions/v1/api/slack/exchange"),
              {200, R"({"accessToken":"xoxp-1"})"});
        QCOMPARE(*settle(client.exchangeSlackCode("c", "r")).value, QStringLiteral("xoxp-1"));
        QCOMPARE(QJsonDocument::fromJson(server->requests.last().body).object(),
                 (QJsonObject{{"code", "c"}, {"redirect_uri", "r"}}));
    }

    void transportFailuresPassThrough() {
        BackendAPIClient client;
        client.setTimeout(std::chrono::milliseconds(300));
        reply(*server, QStringLiteral("/functions/v1/api/sms"), {200, "{}", 3000});
        QVERIFY(settle(client.sendSMS("a", "b", "c")).as<TransportError>());
        reply(*server, QStringLiteral("/functions/v1/api/sms"), {200, "{}", 0, true});
        QVERIFY(settle(client.sendSMS("a", "b", "c")).as<TransportError>());
    }

    void eventsArePagedUpToFivePages() {
        KeychainService::save(credentialKey, QStringLiteral("tok"));
        int calls = 0;
        backend(QStringLiteral("nylas/events"), [&](const FakeHttpServer::Request &) {
            ++calls;
            return Response{
                200, json(page(calls * 10, 2, QStringLiteral("next+%&") + QString::number(calls)))};
        });
        NylasService nylas(*clock);
        const auto r = settle(nylas.fetchEvents(QStringLiteral("g 1"), QStringLiteral("primary")));
        QVERIFY(r.ok());
        QCOMPARE(calls, 5);
        QCOMPARE(r.value->size(), 10);
        QCOMPARE(r.value->first().id, QStringLiteral("10"));
        QCOMPARE(r.value->last().id, QStringLiteral("51"));
        const qint64 start = clock->now().toSecsSinceEpoch();
        for (int i = 0; i < 5; ++i) {
            const auto &request = server->requests[i];
            QCOMPARE(request.headers.value("authorization"), QByteArray("Bearer tok"));
            QVERIFY(!request.headers.contains("content-type"));
            QCOMPARE(request.item("grantId"), QStringLiteral("g 1"));
            QCOMPARE(request.item("start"), QString::number(start));
            QCOMPARE(request.item("end"), QString::number(start + 7776000));
            QCOMPARE(request.item("limit"), QStringLiteral("200"));
            QCOMPARE(request.item("page_token"),
                     i == 0 ? QString() : QStringLiteral("next+%&") + QString::number(i));
        }
        QVERIFY(server->requests[0].target.contains("grantId=g%201&calendarId=primary&start="));
    }

    void pagingStopsAndFails() {
        NylasService nylas(*clock);
        // An empty cursor ends after one request; no credential means no Authorization.
        reply(*server, QStringLiteral("/functions/v1/api/nylas/events"),
              {200, json(page(0, 1, ""))});
        QCOMPARE(settle(nylas.fetchEvents("g", "primary")).value->size(), 1);
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
        reply(*server, QStringLiteral("/functions/v1/api/nylas/auth-url"), {status, body});
        NylasService nylas(*clock);
        const auto r = settle(nylas.getAuthURL(QStringLiteral("google"), std::nullopt));
        QCOMPARE(r.ok() ? r.value->toString() : r.description(), outcome);
        // Without a redirect address only the provider is sent.
        QCOMPARE(QJsonDocument::fromJson(server->requests.last().body).object(),
                 (QJsonObject{{"provider", "google"}}));
    }

    void slackSearchAndContext() {
        BackendAPIClient client;
        SlackService slack(client, *clock);
        QVERIFY(!slack.isConnected());
        QCOMPARE(settle(slack.searchMessages("x")).description(),
                 SlackError::notConnected().description());
        QVERIFY(server->requests.isEmpty());
        QVERIFY(settle(slack.fetchContextForAttendees({"a@x"})).value->isEmpty());

        KeychainService::save(slackKey, QStringLiteral("xoxp-t"));
        QVERIFY(slack.isConnected());
        auto match = [](const QString &link) {
            return QJsonObject{{"text", "t"},
                               {"channel", QJsonObject{{"name", "general"}}},
                               {"username", "u"},
                               {"ts", "1.0"},
                               {"permalink", link}};
        };
        server->on(QStringLiteral("/api/search.messages"), [&](const FakeHttpServer::Request &r) {
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
        QCOMPARE(first.item("sort"), QStringLiteral("timestamp"));
        QCOMPARE(first.item("sort_dir"), QStringLiteral("desc"));
        QCOMPARE(first.item("count"), QStringLiteral("20"));

        reply(*server, QStringLiteral("/api/search.messages"), {201, R"({"ok":true})"});
        QCOMPARE(settle(slack.searchMessages("x")).description(),
                 SlackError::requestFailed().description());
        slack.disconnect();
        QVERIFY(!slack.isConnected());
    }

    void slackSignInRoundTrip() {
        BackendAPIClient client;
        SlackService slack(client, *clock);
        reply(*server, QStringLiteral("/functions/v1/api/slack/exchange"),
              {200, R"({"accessToken":"xoxp-new"})"});
        QVERIFY(settle(slack.authenticate()).ok());

        const QUrl opened = browser.opened.last();
        QCOMPARE(opened.path(), QStringLiteral("/oauth/v2/authorize"));
        QStringList names;
        for (const auto &[name, value] : QUrlQuery(opened).queryItems())
            names.append(name);
        QCOMPARE(names, (QStringList{"client_id", "user_scope", "redirect_uri", "state",
                                     "response_type"}));
        const QUrlQuery q(opened);
        QCOMPARE(q.queryItemValue("redirect_uri", QUrl::FullyDecoded),
                 server->origin() + QStringLiteral("/functions/v1/api/slack/callback"));
        QVERIFY(q.queryItemValue("state").contains(u':'));

        // A refused exchange surfaces as the backend's error.
        reply(*server, QStringLiteral("/functions/v1/api/slack/exchange"), {403, "{}"});
        QCOMPARE(settle(slack.authenticate()).description(),
                 QStringLiteral("Invalid server response"));
    }

    void slackSignInTimesOut() {
        BackendAPIClient client;
        SlackService slack(client, *clock);
        browser.follow = false;
        auto task = slack.authenticate();
        QCOMPARE(browser.opened.size(), 1);
        clock->advance(179);
        QVERIFY(!task.isReady());
        clock->advance(1);
        QCOMPARE(settle(std::move(task)).description(),
                 QStringLiteral("Slack authorization timed out. Please try again."));
        QVERIFY(!slack.isConnected());
        QVERIFY(server->requests.isEmpty());
    }

    void smsServiceSendsOnlyWhenReady() {
        int sent = 0;
        backend(QStringLiteral("sms"), [&](const FakeHttpServer::Request &) {
            ++sent;
            return Response{200, R"({"success":true,"remaining":1})"};
        });
        BackendAPIClient client;
        SMSService sms(client, *clock);
        CalendarEvent e;
        e.title = QStringLiteral("Standup");
        e.startDate = clock->now().addSecs(300);

        sms.setSmsEnabled(true);
        QVERIFY(settle(sms.sendMeetingReminder(e, std::nullopt)).ok()); // no number
        sms.setPhoneNumber(QStringLiteral("+44 20"));
        QVERIFY(settle(sms.sendMeetingReminder(e, std::nullopt)).ok()); // no credential
        QCOMPARE(sent, 0);
        KeychainService::save(credentialKey, QStringLiteral("cred-1"));
        QVERIFY(settle(sms.sendMeetingReminder(e, std::nullopt)).ok());
        QCOMPARE(sent, 1);
    }
};

QTEST_MAIN(TestSyncHttp)
#include "tst_synchttp.moc"
