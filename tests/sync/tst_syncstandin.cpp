// The calendar and SMS services against the real backend stand-in.
#include "BackendProcess.h"
#include "ManualClock.h"
#include "Settle.h"
#include "TestEnvironment.h"
#include "core/AppSettings.h"
#include "platform/SecretStore.h"
#include "sync/AccountsModel.h"
#include "sync/BackendAPIClient.h"
#include "sync/CalendarProxyClient.h"
#include "sync/CalendarService.h"
#include "sync/SMSService.h"
#include "sync/SignInListener.h"
#include "sync/SlackService.h"

#include <QDesktopServices>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

using namespace Qt::StringLiterals;

// Plays the user's browser: on each sign-in page it follows the page's one link.
class Browser : public QObject {
    Q_OBJECT
public:
    QNetworkAccessManager network;
    QList<QUrl> opened;
    QList<int> finalStatuses;

public Q_SLOTS:
    void open(const QUrl &url) {
        opened.append(url);
        QUrl next = url;
        if (url.path() == u"/signin")
            next.setPath(u"/signin/continue"_s);
        else if (url.path() == u"/oauth/v2/authorize")
            next.setPath(u"/oauth/v2/authorize/allow"_s);
        QNetworkReply *reply = network.get(QNetworkRequest(next));
        connect(reply, &QNetworkReply::finished, this, [this, reply] {
            finalStatuses.append(
                reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
            reply->deleteLater();
        });
    }
};

namespace {
const QString credential = u"standin-credential"_s;
const QString credentialKey = QString::fromLatin1(SecretStore::backendCredential);

QJsonObject proxyEvent(const QString &id, qint64 start, std::optional<QString> calendar = {}) {
    QJsonObject o{{"id", id},
                  {"title", id},
                  {"when", QJsonObject{{"start_time", start}, {"end_time", start + 1800}}}};
    if (calendar)
        o.insert("calendar_id", *calendar);
    return o;
}

QSet<QString> accountsOf(const QList<CalendarEvent> &events) {
    QSet<QString> accounts;
    for (const CalendarEvent &e : events)
        accounts.insert(e.accountId.value_or(QString()));
    return accounts;
}
} // namespace

class TestSyncStandIn : public QObject {
    Q_OBJECT

    std::unique_ptr<BackendProcess> standIn;
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<AppSettings> settings;
    ManualClock clock;
    SecretStore secrets;
    CalendarProxyClient nylas{secrets, clock};
    CalendarSignInListener auth;
    BackendAPIClient backend;
    SlackService slack{backend, secrets, clock};
    Browser browser;

    // A service over `accounts`, or over whatever is stored when none are given.
    std::unique_ptr<CalendarService> makeService(const QList<ConnectedAccount> &accounts = {}) {
        QJsonArray array;
        for (const auto &a : accounts)
            array.append(a.toJson());
        if (!accounts.isEmpty())
            settings->setValue(AppSettings::Key::ConnectedAccounts, QJsonDocument(array).toJson());
        return std::make_unique<CalendarService>(*settings, nylas, secrets, auth, clock);
    }
    ConnectedAccount grant(const QString &email, int events = 3) {
        const QJsonObject g =
            standIn->admin("POST", "grants", {{"email", email}, {"events", events}});
        return ConnectedAccount::create(CalendarProvider::google, email, g["grantId"].toString());
    }
    QJsonArray requests() { return standIn->admin("GET", "requests")["requests"].toArray(); }

private Q_SLOTS:
    void initTestCase() { QDesktopServices::setUrlHandler(u"http"_s, &browser, "open"); }

    void init() {
        standIn = std::make_unique<BackendProcess>(QStringList{"--credential", credential});
        QVERIFY2(standIn->start(), qPrintable(standIn->error()));
        qputenv("ZELVANE_BACKEND_ORIGIN", standIn->origin().toUtf8());
        qputenv("ZELVANE_SLACK_ORIGIN", standIn->origin().toUtf8());
        QVERIFY(settle(secrets.save(credentialKey, credential)).ok());
        settle(slack.disconnect());
        env = std::make_unique<TestEnvironment>();
        settings = env->makeSettings();
        clock.setNow(QDateTime::currentDateTimeUtc());
        browser.opened.clear();
        browser.finalStatuses.clear();
    }
    void cleanup() {
        settings.reset();
        env.reset();
    }

    // Through the accounts pane, with the preferred port taken so the redirect must name the
    // port the listener found. The exchange may still fail after the browser came back.
    void calendarSignIn_data() {
        QTest::addColumn<bool>("refused");
        QTest::newRow("connected") << false;
        QTest::newRow("exchange refused") << true;
    }
    void calendarSignIn() {
        QFETCH(bool, refused);
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
        QCOMPARE(browser.opened.size(), 1);
        QCOMPARE(browser.finalStatuses, QList<int>{200});
        QVERIFY(!auth.isListening() && !model.isConnecting());
        QCOMPARE(finished[0][0].toBool(), !refused);
        QCOMPARE(model.connectionError().value_or(QString()),
                 refused ? u"HTTP error 502"_s : QString());
        QCOMPARE(service->accounts().size(), refused ? 0 : 1);
        if (refused)
            return;
        const ConnectedAccount account = service->accounts().first();
        QCOMPARE(account.provider, CalendarProvider::microsoft);
        QVERIFY(!account.grantId.isEmpty());
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
        const ConnectedAccount a = grant("a@one.test");
        const qint64 soon = clock.now().toSecsSinceEpoch() + 3600;
        const auto setEvent = [&](const char *id) {
            standIn->admin("POST", "events",
                           {{"grantId", a.grantId}, {"events", QJsonArray{proxyEvent(id, soon)}}});
        };
        const auto eventRequests = [&] {
            int count = 0;
            for (const QJsonValue &r : requests())
                count += r["path"].toString().endsWith("nylas/events");
            return count;
        };
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
        auto fourth = service->fetchEvents();
        settle(std::move(second));
        // Every caller returns once the run that covers its request has published.
        QCOMPARE(service->events().value(0).id, u"nylas_fresh"_s);
        settle(std::move(first));
        settle(std::move(third));
        settle(std::move(fourth));
        QCOMPARE(eventRequests(), 2);
        QCOMPARE(service->events().value(0).id, u"nylas_fresh"_s);
        QCOMPARE(loading, (QList<bool>{true, false}));

        // Idle again: the next request runs at once.
        settle(service->fetchEvents());
        QCOMPARE(eventRequests(), 3);
    }

    void refreshFiltersDeDuplicatesAndSorts() {
        const ConnectedAccount a = grant("a@one.test"), b = grant("b@two.test");
        const qint64 now = clock.now().toSecsSinceEpoch();
        standIn->admin(
            "POST", "events",
            {{"grantId", a.grantId},
             {"events", QJsonArray{proxyEvent("late", now + 3600), proxyEvent("started", now - 1),
                                   proxyEvent("soon", now + 30),
                                   proxyEvent("off", now + 60, QString("cal-off")),
                                   proxyEvent("same", now + 600), QJsonObject{{"id", "nowhen"}}}}});
        QJsonObject cancelled = proxyEvent("gone", now + 90);
        cancelled.insert("status", "cancelled");
        standIn->admin("POST", "events",
                       {{"grantId", b.grantId},
                        {"events", QJsonArray{proxyEvent("same", now + 120), cancelled,
                                              proxyEvent("b-first", now + 600)}}});
        settings->setDisabledCalendarIds({"cal-off"});

        auto service = makeService({a, b});
        QSignalSpy loading(service.get(), &CalendarService::isLoadingChanged);
        QVERIFY(settle(service->fetchEvents()).ok());
        QStringList ids;
        for (const CalendarEvent &e : service->events())
            ids.append(e.id);
        QCOMPARE(ids, (QStringList{"nylas_soon", "nylas_same", "nylas_b-first", "nylas_late"}));
        QCOMPARE(service->events()[1].accountId, std::optional(a.id));
        QCOMPARE(loading.size(), 2);
        QVERIFY(!service->isLoading());
        QCOMPARE(service->nextEvent()->id, u"nylas_soon"_s);
    }

    void failingAccountsAreSkipped_data() {
        QTest::addColumn<QJsonObject>("fault");
        QTest::newRow("201") << QJsonObject{{"status", 201}, {"body", R"({"data":[]})"}};
        QTest::newRow("garbage") << QJsonObject{{"body", "<html>not json"}};
        QTest::newRow("page 3 of 5") << QJsonObject{{"status", 500}, {"skip", 2}};
    }
    void failingAccountsAreSkipped() {
        QFETCH(QJsonObject, fault);
        // The first account has five pages; the fault hits its calls, the second account is fine.
        const ConnectedAccount big = grant("big@one.test", 1000), small = grant("small@two.test");
        fault.insert("endpoint", "nylas/events");
        fault.insert("times", 1);
        standIn->admin("POST", "faults", fault);

        auto service = makeService({big, small});
        QVERIFY(settle(service->fetchEvents()).ok());
        QVERIFY(!service->isLoading());
        QCOMPARE(accountsOf(service->events()), QSet<QString>{small.id});
        // The next refresh, without the fault, has both.
        QVERIFY(settle(service->fetchEvents()).ok());
        QCOMPARE(accountsOf(service->events()), (QSet<QString>{big.id, small.id}));
    }

    void monitoringRefreshesEveryTwoMinutes() {
        auto service = makeService({grant("m@one.test")});
        service->startMonitoring();
        QTRY_VERIFY_WITH_TIMEOUT(!service->events().isEmpty() && !service->isLoading(), 10000);
        standIn->admin("DELETE", "requests");
        clock.advance(119);
        QTest::qWait(200);
        QVERIFY(requests().isEmpty());
        clock.advance(1);
        QTRY_VERIFY_WITH_TIMEOUT(!requests().isEmpty(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!service->isLoading(), 10000);
        service->stopMonitoring();
        standIn->admin("DELETE", "requests");
        clock.advance(600);
        QTest::qWait(200);
        QVERIFY(requests().isEmpty());
    }

    void emailContextAndRevokingOnRemoval() {
        const ConnectedAccount a = grant("me@corp.test");
        auto service =
            makeService({a, ConnectedAccount::create(CalendarProvider::google, "x@corp.test", {})});
        const QString priya = u"priya.shah@northwind-labs.test"_s;
        const auto context = settle(service->fetchEmailContext({"nobody@nowhere.test", priya}));
        QCOMPARE(context.value->keys(), QStringList{priya});
        QCOMPARE(context.value->value(priya).size(), 2);

        standIn->admin("DELETE", "requests");
        service->removeAccount(a);
        QCOMPARE(service->accounts().size(), 1);
        const auto revoked = [&] {
            for (const QJsonValue &r : requests())
                if (r["method"] == "DELETE" && r["path"].toString().endsWith("nylas/grant"))
                    return r["body"].toString().contains(a.grantId);
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(revoked(), 10000);
    }

    void smsReachesTheBackendOnlyWhenReady() {
        SMSService sms(backend, secrets, clock);
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
    }
};

QTEST_MAIN(TestSyncStandIn)
#include "tst_syncstandin.moc"
