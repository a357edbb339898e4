// The sync services over HTTP: against scripted servers on 127.0.0.1, and against the real
// backend stand-in.
#include "BackendProcess.h"
#include "LoopbackHttpServer.h"
#include "ManualClock.h"
#include "RawClient.h"
#include "Settle.h"
#include "TestEnvironment.h"
#include "core/AppConfig.h"
#include "models/AccountsModel.h"
#include "models/AddFeedModel.h"
#include "sync/BackendAPIClient.h"
#include "sync/CalendarProxyClient.h"
#include "sync/CalendarService.h"
#include "sync/SMSService.h"
#include "sync/SignInListener.h"
#include "sync/SlackService.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

using namespace Qt::StringLiterals;
using Request = LoopbackHttpServer::Request;
using Response = LoopbackHttpServer::Response;

namespace {
const QString credential = u"standin-credential"_s;
const QString credentialKey = QString::fromLatin1(SecretStore::backendCredential);
const QString slackKey = QString::fromLatin1(SecretStore::slackToken);
const QString api = u"/functions/v1/api/"_s;

QJsonObject bodyOf(const Request &request) {
    return QJsonDocument::fromJson(request.body).object();
}

QJsonObject proxyEvent(const QString &id, qint64 start) {
    return {{"id", id}, {"when", QJsonObject{{"start_time", start}, {"end_time", start + 1800}}}};
}

QSet<QString> accountsOf(const QList<CalendarEvent> &events) {
    QSet<QString> accounts;
    for (const CalendarEvent &e : events)
        accounts.insert(e.accountId.value_or(QString()));
    return accounts;
}

QStringList idsOf(const QList<CalendarEvent> &events) {
    QStringList ids;
    for (const CalendarEvent &e : events)
        ids.append(e.id);
    return ids;
}

QByteArray feedWith(const QDateTime &start) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\nBEGIN:VEVENT\r\nUID:m1\r\n"
           "SUMMARY:Planning\r\nDTSTART:" +
           start.toUTC().toString(u"yyyyMMdd'T'HHmmss'Z'"_s).toUtf8() +
           "\r\nLOCATION:https://meet.jit.si/Planning\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}
} // namespace

// The suite also plays the user's browser: it records what the app opens and, on the
// stand-in's sign-in page, follows the page's one link.
class TestSyncHttp : public QObject {
    Q_OBJECT

    std::unique_ptr<LoopbackHttpServer> server;
    std::unique_ptr<BackendProcess> standIn;
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<AppSettings> settings;
    ManualClock clock;
    SecretStore secrets;
    CalendarProxyClient nylas{secrets, clock};
    CalendarSignInListener auth;
    BackendAPIClient backend;
    SlackService slack{backend, secrets, clock};
    QNetworkAccessManager browser;
    QList<QUrl> opened;

    void answer(const QString &path, const Response &response) {
        server->on(path, [response](const Request &) { return response; });
    }
    // Points the backend clients at a fresh stand-in whose credential is in the keyring.
    bool useStandIn() {
        standIn = std::make_unique<BackendProcess>(QStringList{"--credential", credential});
        if (!standIn->start())
            return false;
        qputenv("ZELVANE_BACKEND_ORIGIN", standIn->origin().toUtf8());
        return settle(secrets.save(credentialKey, credential)).ok();
    }
    ConnectedAccount grant(const QString &email, int events = 3) {
        const QJsonObject g =
            standIn->admin("POST", "grants", {{"email", email}, {"events", events}});
        return ConnectedAccount::create(CalendarProvider::google, email, g["grantId"].toString());
    }
    // A service over `accounts`, or over whatever is stored when none are given.
    std::unique_ptr<CalendarService> makeService(const QList<ConnectedAccount> &accounts = {}) {
        QJsonArray array;
        for (const auto &a : accounts)
            array.append(a.toJson());
        if (!accounts.isEmpty())
            settings->setValue(AppSettings::Key::ConnectedAccounts, QJsonDocument(array).toJson());
        auto service =
            std::make_unique<CalendarService>(*settings, nylas, secrets, auth, clock, cacheFolder);
        // The kept events are read on a worker and published once the main thread hears so.
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        return service;
    }
    // Where the last good events are kept; empty keeps them in memory only.
    QString cacheFolder;

public Q_SLOTS:
    void open(const QUrl &url) {
        opened.append(url);
        if (url.path() != u"/signin")
            return;
        QUrl next = url;
        next.setPath(u"/signin/continue"_s);
        QNetworkReply *reply = browser.get(QNetworkRequest(next));
        connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    }

private Q_SLOTS:
    void initTestCase() { QDesktopServices::setUrlHandler(u"http"_s, this, "open"); }

    void init() {
        server = std::make_unique<LoopbackHttpServer>();
        QVERIFY(server->start());
        qputenv("ZELVANE_BACKEND_ORIGIN", server->origin().toUtf8());
        qputenv("ZELVANE_SLACK_ORIGIN", server->origin().toUtf8());
        settle(secrets.remove(credentialKey));
        settle(secrets.remove(slackKey));
        standIn.reset();
        settings.reset();
        env = std::make_unique<TestEnvironment>();
        settings = env->makeSettings();
        clock.setNow(QDateTime::currentDateTimeUtc());
        opened.clear();
        cacheFolder.clear();
    }

    void smsStatuses_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("200") << 200 << QByteArray(R"({"success":true,"remaining":4})") << "4";
        QTest::newRow("201 is a failure")
            << 201 << QByteArray(R"({"success":true,"remaining":4})") << "SMS failed";
        QTest::newRow("400 with text")
            << 400 << QByteArray(R"({"error":"Missing phone number"})") << "Missing phone number";
        QTest::newRow("200 garbage")
            << 200 << QByteArray("{\"success\":1}") << DecodingError({}).description();
    }
    void smsStatuses() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, outcome);
        // A Location header on an answer that is no redirect changes nothing.
        answer(api + u"sms"_s, {status, body, "application/json", false, -1, {{"Location", "/x"}}});
        const auto r = settle(backend.sendSMS(u"cred"_s, u"+1 555"_s, u"hi"_s));
        QCOMPARE(r.ok() ? QString::number(r.value->remaining) : r.description(), outcome);
        const Request &request = server->requests().last();
        QVERIFY(!request.headers.contains("authorization"));
        QCOMPARE(request.header("content-type"), QByteArray("application/json"));
    }

    void slackExchange() {
        const QString exchange = api + u"slack/exchange"_s;
        answer(exchange, Response::json(R"({"accessToken":"x"})", 400));
        QCOMPARE(settle(backend.exchangeSlackCode("c", "r")).description(),
                 u"Invalid server response"_s);
        answer(exchange, Response::json(R"({"access_token":"x"})"));
        QVERIFY(settle(backend.exchangeSlackCode("c", "r")).as<DecodingError>());
    }

    void eventsArePagedUpToFivePages() {
        QVERIFY(settle(secrets.save(credentialKey, u"tok"_s)).ok());
        server->on(api + u"nylas/events"_s, [&](const Request &) {
            const QString n = QString::number(server->requests().size());
            return Response::json(QJsonDocument({{"data", QJsonArray{QJsonObject{{"id", n}}}},
                                                 {"next_cursor", "next+%&" + n}})
                                      .toJson());
        });
        const auto r = settle(nylas.fetchEvents(u"g 1"_s, u"primary"_s));
        QCOMPARE(r.value.value_or(QList<ProxyEvent>()).value(4).id, u"5"_s);
        QCOMPARE(r.value->size(), 5);
        // The window starts now; the cursor goes back encoded.
        const qint64 start = clock.now().toSecsSinceEpoch();
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
        QVERIFY(settle(nylas.fetchEvents("g", "primary")).ok());
        QCOMPARE(server->requests().size(), 1);
        QVERIFY(!server->requests()[0].headers.contains("authorization"));
    }

    void authUrlIsChecked() {
        answer(api + u"nylas/auth-url"_s, Response::json("{\"authUrl\":\"http://a b\"}"));
        QCOMPARE(settle(nylas.getAuthURL(u"google"_s, std::nullopt)).description(),
                 u"Invalid authentication URL received"_s);
        answer(api + u"nylas/auth-url"_s,
               Response::json("{\"authUrl\":\"http://127.0.0.1:9/in\"}"));
        QCOMPARE(settle(nylas.getAuthURL(u"google"_s, std::nullopt)).value,
                 std::optional(QUrl(u"http://127.0.0.1:9/in"_s)));
        // Without a redirect address only the provider is sent.
        QCOMPARE(bodyOf(server->requests().last()), (QJsonObject{{"provider", "google"}}));
    }

    // Requests carry a secret (credential, token); none may follow a redirect to another origin,
    // and each such answer fails in words.
    void redirectsElsewhereAreRefused() {
        LoopbackHttpServer elsewhere;
        QVERIFY(elsewhere.start());
        elsewhere.respondWith(Response::json(R"({"data":[]})"));
        server->respondWith(Response::redirect(307, elsewhere.origin().toUtf8() + "/x"));
        QVERIFY(settle(secrets.save(credentialKey, u"cred-secret"_s)).ok());
        QVERIFY(settle(secrets.save(slackKey, u"xoxp-secret"_s)).ok());
        const QString refused = RedirectError().description();
        QCOMPARE(settle(nylas.fetchCalendars(u"g"_s)).description(), refused);
        QVERIFY(settle(slack.searchMessages(u"x"_s)).as<RedirectError>());
        QCOMPARE(server->requests().size(), 2);
        QCOMPARE(server->requests().first().header("authorization"),
                 QByteArray("Bearer cred-secret"));
        QVERIFY(elsewhere.requests().isEmpty());
    }

    // An answer that keeps arriving, a byte at a time, still ends at the total limit.
    void trickledAnswerEndsAtTheTotalLimit() {
        Response trickle = Response::json(R"({"data":[]})" + QByteArray(600, ' '));
        trickle.trickle = std::chrono::milliseconds(20);
        server->respondWith(trickle);
        CalendarProxyClient proxy(secrets, clock);
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

        // An answer cut short fails like no answer; a success other than 200 fails too.
        Response cut = Response::json(R"({"data":[]})");
        cut.announcedLength = 100;
        server->respondWith(cut);
        QVERIFY(settle(proxy.fetchCalendars(u"g"_s)).as<TransportError>());
        server->respondWith(Response::json(R"({"data":[]})", 201));
        QCOMPARE(settle(proxy.fetchCalendars(u"g"_s)).description(), u"HTTP error 201"_s);
    }

    void slackSearchAndContext() {
        QCOMPARE(settle(slack.searchMessages("x")).description(),
                 SlackError::notConnected().description());
        QVERIFY(settle(slack.fetchContextForAttendees({"a@x"})).value->isEmpty());
        QVERIFY(server->requests().isEmpty());

        QVERIFY(settle(secrets.save(slackKey, u"xoxp-t"_s)).ok());
        // Every query finds one message of its own and one they all share; one query fails.
        server->on(u"/api/search.messages"_s, [&](const Request &r) {
            const QString q = QUrlQuery(QUrl(QString::fromUtf8(r.target)))
                                  .queryItemValue("query", QUrl::FullyDecoded);
            const QString match = uR"({"text":"t","channel":{"name":"c"},"username":"u","ts":"1",)"
                                  uR"("permalink":"%1"})"_s;
            return Response::json(uR"({"ok":true,"messages":{"matches":[%1,%2]}})"_s
                                      .arg(match.arg(u"shared"_s), match.arg(q))
                                      .toUtf8(),
                                  q == u"from:<b@x>" ? 500 : 200);
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
        auto task = slack.authenticate();
        QCOMPARE(opened.size(), 1);
        clock.advance(179);
        QVERIFY(!task.isReady());
        clock.advance(1);
        QCOMPARE(settle(std::move(task)).description(),
                 u"Slack authorization timed out. Please try again."_s);
        QVERIFY(!*settle(slack.isConnected()).value);
        QVERIFY(server->requests().isEmpty());
    }

    // The browser's redirect is answered in full, though the sign-in drops its listener as soon
    // as it has the code, and the code is exchanged for the token that is kept.
    void slackSignInAnswersTheBrowser() {
        answer(api + u"slack/exchange"_s, Response::json(R"({"accessToken":"xoxp-new"})"));
        auto task = slack.authenticate();
        QCOMPARE(opened.size(), 1);
        const QString state =
            QUrlQuery(opened.first()).queryItemValue(u"state"_s, QUrl::FullyDecoded);
        RawClient tab(quint16(state.section(u':', -1).toUInt()));
        QVERIFY(tab.waitConnected());
        tab.send("GET /slack/callback?code=c-1&state=" + QUrl::toPercentEncoding(state) +
                 " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QCOMPARE(tab.answer(), SignInHttp::successAnswer(SignInHttp::slackSuccessBody()));
        QVERIFY(settle(std::move(task)).ok());
        QCOMPARE(bodyOf(server->requests().last()),
                 (QJsonObject{{"code", "c-1"}, {"redirect_uri", AppConfig::slackCallbackURL()}}));
        QCOMPARE(*settle(secrets.load(slackKey)).value, std::optional<QString>(u"xoxp-new"_s));
    }

    void accountsPersistAndDomainsAreLowerCase() {
        const QList<ConnectedAccount> stored{
            {u"1"_s, CalendarProvider::google, u"a@Example.COM"_s, {}},
            {u"2"_s, CalendarProvider::microsoft, u"b@example.com"_s, u"g"_s},
            {u"3"_s, CalendarProvider::google, u"nodomain"_s, {}},
            {u"4"_s, CalendarProvider::google, u"x@y@z"_s, {}},
            {u"5"_s, CalendarProvider::google, u"trailing@"_s, {}}};
        auto service = makeService(stored);
        QCOMPARE(service->accounts(), stored);
        QCOMPARE(service->userDomains(), QSet<QString>{u"example.com"_s});
        QCOMPARE(service->connectedProviders().size(), 2);
        // Removing rewrites the stored list and forgets the account's reminders.
        settings->addDefaultReminders(u"1"_s);
        service->removeAccount(stored[0]);
        QVERIFY(!settings->accountReminders().contains(u"1"_s));
        QCOMPARE(makeService()->accounts(), stored.mid(1));
        // One unreadable record loses the whole list.
        settings->setValue(AppSettings::Key::ConnectedAccounts, QByteArray("[{\"id\":1}]"));
        QVERIFY(makeService()->accounts().isEmpty());
    }

    // With no sign-in service to ask for the page, the user is told what to do and the
    // listener stops at once.
    void calendarSignInWithoutItsService() {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        qputenv("ZELVANE_BACKEND_ORIGIN",
                "http://127.0.0.1:" + QByteArray::number(closed.serverPort()));
        closed.close();
        auto service = makeService();
        AccountsModel model(*service, slack);
        model.connectProvider(CalendarProvider::google);
        QTRY_VERIFY_WITH_TIMEOUT(!model.isConnecting(), 10000);
        QCOMPARE(model.connectionError().value_or(QString()),
                 u"Zelvane could not reach its sign-in service. Check your connection, or use a "
                 u"calendar feed."_s);
        QVERIFY(!auth.isListening());
    }

    // Through the accounts pane against the stand-in, with the preferred port taken so the
    // redirect must name the port the listener found. The exchange may still fail after the
    // browser came back.
    void calendarSignIn_data() {
        QTest::addColumn<bool>("refused");
        QTest::newRow("connected") << false;
        QTest::newRow("exchange refused") << true;
    }
    void calendarSignIn() {
        QFETCH(bool, refused);
        QVERIFY(useStandIn());
        if (refused)
            standIn->admin("POST", "faults",
                           {{"endpoint", "nylas/exchange-token"}, {"status", 502}});
        QTcpServer blocker;
        blocker.listen(QHostAddress::LocalHost, 8976);
        auto service = makeService();
        AccountsModel model(*service, slack);
        QSignalSpy finished(service.get(), &CalendarService::signInFinished);
        model.connectProvider(CalendarProvider::microsoft);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
        QVERIFY(!auth.isListening() && !model.isConnecting());
        QCOMPARE(finished[0][0].toBool(), !refused);
        QCOMPARE(model.connectionError().value_or(QString()),
                 refused ? u"HTTP error 502"_s : QString());
        QCOMPARE(service->accounts().size(), refused ? 0 : 1);
        if (refused)
            return;
        const ConnectedAccount account = service->accounts().first();
        QCOMPARE(account.provider, CalendarProvider::microsoft);
        QCOMPARE(settings->reminderOffsets(account.id),
                 QList<std::chrono::seconds>{std::chrono::seconds(0)});
        // The demo grant's events arrived with the refresh that ends the sign-in.
        QVERIFY(service->accountCalendars().contains(account.id));
        QCOMPARE(accountsOf(service->events()), QSet<QString>{account.id});
        QCOMPARE(makeService()->accounts(), service->accounts());
    }

    // The first run's answer is held back and stale by the time it arrives; three requests made
    // meanwhile share one follow-up run, which publishes last. Loading ends only after it.
    void refreshesNeverOverlap() {
        QVERIFY(useStandIn());
        const ConnectedAccount a = grant("a@one.test");
        const auto setEvent = [&](const char *id) {
            const QJsonArray events{proxyEvent(id, clock.now().toSecsSinceEpoch() + 3600)};
            standIn->admin("POST", "events", {{"grantId", a.grantId}, {"events", events}});
        };
        const auto eventRequests = [&] { return standIn->requestsTo(u"nylas/events"_s).size(); };
        setEvent("stale");
        standIn->admin("POST", "faults",
                       {{"endpoint", "nylas/events"}, {"delayMs", 600}, {"times", 1}});
        auto service = makeService({a});
        QList<bool> loading;
        connect(service.get(), &CalendarService::isLoadingChanged, this,
                [&] { loading.append(service->isLoading()); });

        auto first = service->fetchEvents();
        QTRY_COMPARE(eventRequests(), 1);
        setEvent("fresh");
        auto second = service->fetchEvents();
        auto third = service->fetchEvents();
        settle(std::move(second));
        // Every caller returns once the run that covers its request has published.
        QCOMPARE(service->events().value(0).id, u"nylas_fresh"_s);
        settle(std::move(first));
        settle(std::move(third));
        QCOMPARE(eventRequests(), 2);
        QCOMPARE(loading, (QList<bool>{true, false}));

        // Idle again: the next request runs at once.
        settle(service->fetchEvents());
        QCOMPARE(eventRequests(), 3);
    }

    // An account whose pages fail part way is left out of that refresh whole. The accounts'
    // events are merged: ended, cancelled, switched-off and timeless ones left out, one under
    // way kept, a meeting on both calendars shown once, sorted by start.
    void refreshMergesAccounts() {
        QVERIFY(useStandIn());
        const ConnectedAccount a = grant("a@one.test", 1000), b = grant("b@two.test");
        standIn->admin("POST", "faults",
                       {{"endpoint", "nylas/events"}, {"status", 500}, {"skip", 2}, {"times", 1}});
        auto service = makeService({a, b});
        QVERIFY(settle(service->fetchEvents()).ok());
        QVERIFY(!service->isLoading());
        QCOMPARE(accountsOf(service->events()), QSet<QString>{b.id});

        const qint64 now = clock.now().toSecsSinceEpoch();
        QJsonObject off = proxyEvent("off", now + 60), cancelled = proxyEvent("gone", now + 90);
        off.insert("calendar_id", "cal-off");
        cancelled.insert("status", "cancelled");
        const QJsonArray eventsOfA{proxyEvent("late", now + 3600),
                                   proxyEvent("started", now - 1),
                                   proxyEvent("ended", now - 1800),
                                   proxyEvent("soon", now + 30),
                                   off,
                                   proxyEvent("same", now + 600),
                                   QJsonObject{{"id", "nowhen"}}};
        const QJsonArray eventsOfB{proxyEvent("same", now + 120), cancelled,
                                   proxyEvent("b-first", now + 600)};
        standIn->admin("POST", "events", {{"grantId", a.grantId}, {"events", eventsOfA}});
        standIn->admin("POST", "events", {{"grantId", b.grantId}, {"events", eventsOfB}});
        settings->setDisabledCalendarIds({"cal-off"});
        QVERIFY(settle(service->fetchEvents()).ok());
        QStringList ids;
        for (const CalendarEvent &e : service->events())
            ids.append(e.id);
        QCOMPARE(ids, (QStringList{"nylas_started", "nylas_soon", "nylas_same", "nylas_b-first",
                                   "nylas_late"}));
        QCOMPARE(service->events()[2].accountId, std::optional(a.id));
        QCOMPARE(service->nextEvent()->id, u"nylas_soon"_s);
    }

    // One account over time: refreshed every two minutes while monitored, its mail read for
    // context, its grant revoked when it is removed; and reminders by SMS once they can be sent,
    // with the SMS switch and number kept across a restart.
    void oneAccountOverTime() {
        QVERIFY(useStandIn());
        const ConnectedAccount a = grant("me@corp.test");
        auto service =
            makeService({a, ConnectedAccount::create(CalendarProvider::google, "x@corp.test", {})});
        service->startMonitoring();
        QTRY_VERIFY_WITH_TIMEOUT(!service->events().isEmpty() && !service->isLoading(), 10000);
        const auto advance = [&](double seconds) {
            standIn->admin("DELETE", "requests");
            clock.advance(seconds);
            QTest::qWait(200);
            return !standIn->requestsTo(u"nylas/events"_s).isEmpty();
        };
        QVERIFY(!advance(119));
        advance(1);
        QTRY_VERIFY_WITH_TIMEOUT(!standIn->requestsTo(u"nylas/events"_s).isEmpty(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!service->isLoading(), 10000);
        service->stopMonitoring();
        QVERIFY(!advance(600));

        const QString priya = u"priya.shah@northwind-labs.test"_s;
        const auto context = settle(service->fetchEmailContext({"nobody@nowhere.test", priya}));
        QCOMPARE(context.value->keys(), QStringList{priya});
        QCOMPARE(context.value->value(priya).size(), 2);
        standIn->admin("DELETE", "requests");
        service->removeAccount(a);
        QCOMPARE(service->accounts().size(), 1);
        const auto revoked = [&] {
            const QJsonArray revokes = standIn->requestsTo(u"nylas/grant"_s);
            return revokes.size() == 1 && revokes[0]["method"] == "DELETE" &&
                   revokes[0]["body"].toString().contains(a.grantId);
        };
        QTRY_VERIFY_WITH_TIMEOUT(revoked(), 10000);

        SMSService sms(backend, secrets, *settings, clock);
        CalendarEvent e;
        e.title = "Design review";
        e.startDate = clock.now().addSecs(600);
        sms.setSmsEnabled(true);
        QVERIFY(settle(sms.sendMeetingReminder(e, std::nullopt)).ok()); // no number
        sms.setPhoneNumber("+1 555 0100");
        settle(secrets.remove(credentialKey));
        QVERIFY(settle(sms.sendMeetingReminder(e, std::nullopt)).ok()); // no credential
        QVERIFY(settle(secrets.save(credentialKey, credential)).ok());
        QVERIFY(settle(sms.sendMeetingReminder(e, std::nullopt)).ok());
        QCOMPARE(standIn->admin("GET", "sms")["messages"].toArray(),
                 (QJsonArray{QJsonObject{{"to", "+1 555 0100"},
                                         {"body", "Zelvane: Design review starts in 10 min"},
                                         {"credential", credential}}}));

        // Both survive a restart; switched off, the number stays for the next time.
        sms.setSmsEnabled(false);
        QCOMPARE(SMSService(backend, secrets, *env->makeSettings(), clock).smsEnabled(), false);
        sms.setSmsEnabled(true);
        const SMSService restarted(backend, secrets, *env->makeSettings(), clock);
        QCOMPARE(restarted.smsEnabled(), true);
        QCOMPARE(restarted.phoneNumber(), u"+1 555 0100"_s);
    }

    // Each account's last good events are kept on disk and published at start, before any
    // refresh answers. A good refresh replaces an account's list, so a meeting it no longer
    // has never comes back from disk; a failing account, proxy or feed, keeps its list; a
    // removed account's list goes with it.
    void lastGoodEventsOutliveTheNetwork() {
        cacheFolder = env->dataHome() + u"/Zelvane"_s;
        const QString file = cacheFolder + u"/Events.json"_s;
        const qint64 now = clock.now().toSecsSinceEpoch();
        QHash<QByteArray, QJsonArray> eventsOf{
            {"ga", {proxyEvent("m1", now + 600), proxyEvent("m2", now + 900)}},
            {"gb", {proxyEvent("p1", now + 1200)}}};
        server->on(api + u"nylas/events"_s, [&](const Request &request) {
            const QByteArray grantId = request.target.contains("grantId=ga") ? "ga" : "gb";
            if (!eventsOf.contains(grantId))
                return Response::json("{}", 500);
            return Response::json(
                QJsonDocument({{"data", eventsOf.value(grantId)}, {"next_cursor", ""}}).toJson());
        });
        const ConnectedAccount a =
            ConnectedAccount::create(CalendarProvider::google, "a@x.test", "ga");
        const ConnectedAccount b =
            ConnectedAccount::create(CalendarProvider::google, "b@y.test", "gb");
        const ConnectedAccount f{u"FEED-1"_s, CalendarProvider::feed, u"Team"_s, {}};
        QVERIFY(settle(secrets.save(CalendarService::feedSecretKey(f.id),
                                    server->origin() + u"/team.ics"_s))
                    .ok());
        answer(u"/team.ics"_s, {200, feedWith(clock.now().addSecs(1500)), "text/calendar"});
        QString feedId;
        {
            auto service = makeService({a, b, f});
            QVERIFY(service->events().isEmpty());
            settle(service->fetchEvents());
            feedId = service->events().value(3).id;
            QVERIFY(feedId.startsWith(u"feed_"_s));
            QCOMPARE(idsOf(service->events()),
                     (QStringList{"nylas_m1", "nylas_m2", "nylas_p1", feedId}));
        }
        QCOMPARE(QFileInfo(file).permissions() & 0x0077, 0);

        eventsOf.insert("ga", {proxyEvent("m1", now + 600)});
        eventsOf.remove("gb");
        answer(u"/team.ics"_s, Response::text("<html>Sign in</html>", 200));
        {
            auto service = makeService();
            const QList<CalendarEvent> kept = service->events();
            QCOMPARE(idsOf(kept), (QStringList{"nylas_m1", "nylas_m2", "nylas_p1", feedId}));
            QCOMPARE(kept.first().startDate, QDateTime::fromSecsSinceEpoch(now + 600, Qt::UTC));
            QCOMPARE(kept.first().accountId, std::optional(a.id));
            settle(service->fetchEvents());
            QCOMPARE(idsOf(service->events()), (QStringList{"nylas_m1", "nylas_p1", feedId}));
        }

        // Offline from the start: the server is gone.
        server.reset();
        clock.advance(60);
        {
            auto service = makeService();
            QCOMPARE(idsOf(service->events()), (QStringList{"nylas_m1", "nylas_p1", feedId}));
            settle(service->fetchEvents());
            QCOMPARE(idsOf(service->events()), (QStringList{"nylas_m1", "nylas_p1", feedId}));
            service->removeAccount(b);
            QCOMPARE(idsOf(service->events()), (QStringList{"nylas_m1", feedId}));
        }
        {
            auto service = makeService();
            QCOMPARE(idsOf(service->events()), (QStringList{"nylas_m1", feedId}));
        }
        // Kept events of a calendar switched off stay out, as fetched ones do.
        settings->setDisabledCalendarIds({f.id});
        QCOMPARE(idsOf(makeService()->events()), QStringList{"nylas_m1"});
        settings->setDisabledCalendarIds({});

        // An account gone from the settings while the app was not running takes its list off
        // the disk at the next start.
        settings->setValue(AppSettings::Key::ConnectedAccounts,
                           QJsonDocument(QJsonArray{a.toJson()}).toJson());
        QCOMPARE(idsOf(makeService()->events()), QStringList{"nylas_m1"});
        {
            QFile kept(file);
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QVERIFY(!kept.readAll().contains(f.id.toUtf8()));
        }

        // A list that no longer reads whole is no list at all.
        QFile damaged(file);
        QVERIFY(damaged.open(QIODevice::ReadOnly));
        const QByteArray bytes = damaged.readAll();
        damaged.close();
        QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
        damaged.write(bytes.left(bytes.size() - 10));
        damaged.close();
        QVERIFY(makeService()->events().isEmpty());
    }

    // Feed accounts through the accounts pane: a redirect elsewhere is refused (the address is
    // the feed's secret), polls are conditional, and a failing poll keeps the last good events
    // and shows why. A file on this computer is a feed too.
    void feedAccounts() {
        LoopbackHttpServer elsewhere;
        QVERIFY(elsewhere.start());
        answer(u"/moved.ics"_s, Response::redirect(302, elsewhere.origin().toUtf8() + "/x.ics"));
        const QByteArray good = feedWith(clock.now().addSecs(3600));
        QByteArray body = good;
        server->on(u"/basic.ics"_s, [&](const Request &request) {
            if (body == good && request.header("If-None-Match") == "\"v1\"")
                return Response{304, {}, "text/calendar"};
            return Response{200, body, "text/calendar", false, -1, {{"ETag", "\"v1\""}}};
        });
        auto service = makeService();
        AccountsModel model(*service, slack);
        AddFeedModel &form = model.feedForm();
        form.add(server->origin() + u"/moved.ics"_s, u"X"_s);
        QTRY_VERIFY(!form.isAdding());
        QCOMPARE(form.error().value_or(QString()),
                 u"The server redirected the request; check the address"_s);
        QVERIFY(elsewhere.requests().isEmpty());

        form.add(server->origin() + u"/basic.ics"_s, u"Team"_s);
        QTRY_COMPARE(service->accounts().size(), 1);
        QVERIFY(!form.isAdding() && !form.error());
        const QString id = service->accounts().first().id;
        // The download that added the feed counts: every later one is conditional.
        settle(service->fetchEvents());
        QList<QByteArray> validators;
        for (const auto &request : server->requests())
            if (request.path() == u"/basic.ics")
                validators << request.header("If-None-Match");
        QVERIFY(validators.size() >= 2);
        QCOMPARE(validators.mid(1), QList<QByteArray>(validators.size() - 1, "\"v1\""));
        QCOMPARE(service->events().size(), 1);
        // The feed is one calendar, named like its account, that General can switch off.
        QCOMPARE(service->accountCalendars().value(id).value(0).id, id);
        QCOMPARE(service->accountCalendars().value(id).value(0).name, u"Team"_s);
        for (const auto &[failing, reason] : QList<std::pair<QByteArray, QString>>{
                 {"<html>Sign in</html>", u"The address does not lead to an iCalendar feed."_s},
                 {QByteArray(21 * 1024 * 1024, 'x'),
                  u"The calendar feed is larger than 20 MB."_s}}) {
            body = failing;
            settle(service->fetchEvents());
            QCOMPARE(model.accountProblem(id), reason);
            QCOMPARE(service->events().size(), 1);
        }
        body = good;
        settle(service->fetchEvents());
        QVERIFY(!model.accountProblem(id));

        QFile file(env->path() + u"/cal.ics"_s);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(feedWith(clock.now().addSecs(600)));
        file.close();
        // Named neither by the user nor by itself.
        form.add(file.fileName(), QString());
        QTRY_COMPARE(service->accounts().size(), 2);
        settle(service->fetchEvents());
        QCOMPARE(service->events().size(), 2);
        const ConnectedAccount local = service->accounts().last();
        QCOMPARE(local.email, u"Calendar Feed"_s);
        QCOMPARE(model.feedAddress(local.id), file.fileName());
        QCOMPARE(model.feedAddress(id), QUrl(server->origin()).authority() + u"/basic.ics"_s);

        // A feed's address is known again after a restart, once it is polled.
        auto restarted = makeService();
        AccountsModel afterRestart(*restarted, slack);
        QSignalSpy changed(&afterRestart, &AccountsModel::changed);
        QVERIFY(!afterRestart.feedAddress(id));
        settle(restarted->fetchEvents());
        QCOMPARE(afterRestart.feedAddress(id), model.feedAddress(id));
        QVERIFY(!changed.isEmpty());
        restarted->removeAccount(local);
        QVERIFY(!afterRestart.feedAddress(local.id));
        // The refresh that removing starts must end before the service goes.
        QTRY_VERIFY_WITH_TIMEOUT(!restarted->isLoading(), 10'000);
    }
};

QTEST_MAIN(TestSyncHttp)
#include "tst_synchttp.moc"
