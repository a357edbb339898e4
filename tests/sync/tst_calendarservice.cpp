// The calendar service against a scripted backend on 127.0.0.1: refreshes that are asked for
// while one runs, and a sign-in whose token exchange fails after the browser came back.
#include "FakeHttpServer.h"
#include "ManualClock.h"
#include "Settle.h"
#include "TestEnvironment.h"
#include "core/AppSettings.h"
#include "core/Clock.h"
#include "platform/SecretStore.h"
#include "sync/AccountsModel.h"
#include "sync/BackendAPIClient.h"
#include "sync/CalendarProxyClient.h"
#include "sync/CalendarService.h"
#include "sync/SignInListener.h"
#include "sync/SlackService.h"

#include <QDesktopServices>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;
using Response = FakeHttpServer::Response;

namespace {
const QString api = u"/functions/v1/api/nylas/"_s;

QByteArray listOf(const QJsonArray &data) {
    return QJsonDocument(QJsonObject{{"data", data}}).toJson();
}

QJsonObject proxyEvent(const QString &id, qint64 start) {
    return {{"id", id},
            {"title", id},
            {"when", QJsonObject{{"start_time", start}, {"end_time", start + 1800}}}};
}
} // namespace

// Stands in for the browser: records what the app opens.
class Browser : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;

public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }
};

class TestCalendarService : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeHttpServer> server;
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<ManualClock> clock;
    SecretStore secrets;
    std::unique_ptr<CalendarProxyClient> proxy;
    std::unique_ptr<CalendarSignInListener> listener;
    Browser browser;

    std::unique_ptr<CalendarService> makeService() {
        return std::make_unique<CalendarService>(*settings, *proxy, secrets, *listener, *clock);
    }

private Q_SLOTS:
    void initTestCase() { QDesktopServices::setUrlHandler(u"http"_s, &browser, "open"); }

    void init() {
        server = std::make_unique<FakeHttpServer>();
        qputenv("ZELVANE_BACKEND_ORIGIN", server->origin().toUtf8());
        env = std::make_unique<TestEnvironment>();
        settings = env->makeSettings();
        clock = std::make_unique<ManualClock>(QDateTime::currentDateTimeUtc());
        proxy = std::make_unique<CalendarProxyClient>(secrets, *clock);
        listener = std::make_unique<CalendarSignInListener>();
        browser.opened.clear();
    }

    void cleanup() {
        listener.reset();
        proxy.reset();
        settings.reset();
        env.reset();
        server.reset();
    }

    // The first run's events arrive late and are stale by then; three requests made meanwhile
    // share one follow-up run, which publishes last. Loading ends only after it.
    void refreshesNeverOverlap() {
        const ConnectedAccount account =
            ConnectedAccount::create(CalendarProvider::google, u"me@corp.test"_s, u"g1"_s);
        settings->setValue(AppSettings::Key::ConnectedAccounts,
                           QJsonDocument(QJsonArray{account.toJson()}).toJson());
        const qint64 soon = clock->now().toSecsSinceEpoch() + 3600;
        int eventRequests = 0;
        server->on(api + u"calendars"_s, [](const FakeHttpServer::Request &) {
            return Response{200, listOf({})};
        });
        server->on(api + u"events"_s, [&](const FakeHttpServer::Request &) {
            ++eventRequests;
            if (eventRequests == 1)
                return Response{200, listOf({proxyEvent(u"stale"_s, soon)}), 600};
            return Response{200, listOf({proxyEvent(u"fresh"_s, soon)})};
        });
        auto service = makeService();
        QList<bool> loading;
        connect(service.get(), &CalendarService::isLoadingChanged, this,
                [&] { loading.append(service->isLoading()); });

        auto first = service->fetchEvents();
        QTRY_COMPARE(eventRequests, 1);
        auto second = service->fetchEvents();
        auto third = service->fetchEvents();
        auto fourth = service->fetchEvents();
        settle(std::move(second));
        // Every caller returns once the run that covers its request has published.
        QCOMPARE(service->events().size(), 1);
        QCOMPARE(service->events().first().id, u"nylas_fresh"_s);
        settle(std::move(first));
        settle(std::move(third));
        settle(std::move(fourth));

        QCOMPARE(eventRequests, 2);
        QCOMPARE(service->events().first().id, u"nylas_fresh"_s);
        QCOMPARE(loading, (QList<bool>{true, false}));
        QVERIFY(!service->isLoading());

        // Idle again: the next request runs at once.
        settle(service->fetchEvents());
        QCOMPARE(eventRequests, 3);
    }

    // The browser came back with a code, but the backend refuses the exchange: the reason
    // reaches the accounts model that started the sign-in, and no account is added.
    void failedTokenExchangeIsShown() {
        server->on(api + u"auth-url"_s, [](const FakeHttpServer::Request &) {
            const QJsonObject answer{{"authUrl", QString(u"http:"_s + u"//127.0.0.1:9/signin"_s)}};
            return Response{200, QJsonDocument(answer).toJson()};
        });
        server->on(api + u"exchange-token"_s, [](const FakeHttpServer::Request &) {
            return Response{502, "{}"};
        });
        auto service = makeService();
        BackendAPIClient backend;
        SlackService slack(backend, secrets, *clock);
        AccountsModel model(*service, slack);
        QSignalSpy failed(service.get(), &CalendarService::signInFailed);
        QSignalSpy finished(service.get(), &CalendarService::signInFinished);

        model.connectProvider(CalendarProvider::google);
        QTRY_VERIFY(!model.isConnecting());
        QVERIFY(!model.connectionError());
        QCOMPARE(browser.opened.size(), 1);
        const QJsonObject authBody =
            QJsonDocument::fromJson(server->requests.first().body).object();
        const QUrl redirect(authBody.value("redirectURI").toString());
        QVERIFY(redirect.isValid());

        // The browser follows the provider's redirect back to the listener.
        QNetworkAccessManager network;
        QUrl callback = redirect;
        callback.setQuery(u"code=abc123"_s);
        QNetworkReply *reply = network.get(QNetworkRequest(callback));
        QTRY_VERIFY(reply->isFinished());
        reply->deleteLater();

        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(finished.first().first().toBool(), false);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.first().first().toString(), u"HTTP error 502"_s);
        QCOMPARE(model.connectionError().value_or(QString()), u"HTTP error 502"_s);
        QVERIFY(service->accounts().isEmpty());
        QCOMPARE(QJsonDocument::fromJson(server->requests.last().body).object().value("code"),
                 QJsonValue(u"abc123"_s));
    }
};

QTEST_MAIN(TestCalendarService)
#include "tst_calendarservice.moc"
