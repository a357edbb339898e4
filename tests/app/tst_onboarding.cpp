#include "BackendProcess.h"
#include "TestEnvironment.h"
#include "core/AppSettings.h"
#include "core/Clock.h"
#include "sync/CalendarService.h"
#include "sync/LoopbackRedirect.h"
#include "sync/NylasService.h"
#include "ui/CraftButton.h"
#include "ui/OnboardingFlow.h"
#include "ui/OnboardingView.h"

#include <QDesktopServices>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

namespace {
QStringList visibleTexts(const QWidget *root) {
    QStringList texts;
    for (const QLabel *label : root->findChildren<QLabel *>())
        if (label->isVisibleTo(root) && !label->text().isEmpty())
            texts << label->text();
    return texts;
}

QList<CraftButton *> visibleButtons(const QWidget *root, const QString &title) {
    QList<CraftButton *> found;
    for (CraftButton *button : root->findChildren<CraftButton *>())
        if (button->isVisibleTo(root) && button->text() == title)
            found << button;
    return found;
}

QAbstractButton *visibleButton(const QWidget *root, const QString &title) {
    for (QAbstractButton *button : root->findChildren<QAbstractButton *>())
        if (button->isVisibleTo(root) && button->text() == title)
            return button;
    return nullptr;
}
} // namespace

class TestOnboarding : public QObject {
    Q_OBJECT

public Q_SLOTS:
    // Stands in for the browser: remembers the sign-in page the app asked to open.
    void openInBrowser(const QUrl &url) { opened << url; }

private:
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<BackendProcess> backend;
    std::unique_ptr<NylasService> nylas;
    std::unique_ptr<NylasAuthHandler> auth;
    std::unique_ptr<CalendarService> calendar;
    std::unique_ptr<OnboardingView> view;
    QList<QUrl> opened;
    int completed = 0;
    QNetworkAccessManager network;

    void admin(const QByteArray &verb, const QString &path, const QJsonObject &body = {}) {
        QNetworkRequest request(QUrl(backend->origin() + path));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        QNetworkReply *reply =
            network.sendCustomRequest(request, verb, QJsonDocument(body).toJson());
        QSignalSpy done(reply, &QNetworkReply::finished);
        QVERIFY(done.wait(5000));
        reply->deleteLater();
    }

    // What the user's click on the stand-in's sign-in page does.
    void continueInBrowser(const QUrl &signin) {
        QUrl next = signin;
        next.setPath(QStringLiteral("/signin/continue"));
        QNetworkReply *reply = network.get(QNetworkRequest(next));
        QSignalSpy done(reply, &QNetworkReply::finished);
        QVERIFY(done.wait(10'000));
        reply->deleteLater();
    }

    void clickConnect(CalendarProvider provider) {
        QList<CraftButton *> connects = visibleButtons(view.get(), QStringLiteral("Connect"));
        QCOMPARE(connects.size(), 2);
        QTest::mouseClick(connects[provider == CalendarProvider::google ? 0 : 1], Qt::LeftButton);
    }

private Q_SLOTS:
    void initTestCase() {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "openInBrowser");
        backend = std::make_unique<BackendProcess>();
        QVERIFY2(backend->start(), qPrintable(backend->error()));
        qputenv("ZELVANE_BACKEND_ORIGIN", backend->origin().toUtf8());
    }

    void init() {
        env = std::make_unique<TestEnvironment>();
        settings = env->makeSettings();
        nylas = std::make_unique<NylasService>(Clock::system());
        auth = std::make_unique<NylasAuthHandler>();
        calendar = std::make_unique<CalendarService>(*settings, *nylas, *auth, Clock::system());
        view = std::make_unique<OnboardingView>(*calendar, [this] { ++completed; });
        view->show();
        opened.clear();
        completed = 0;
    }

    void cleanup() {
        view.reset();
        calendar.reset();
        auth.reset();
        nylas.reset();
        admin("DELETE", QStringLiteral("/_admin/faults"));
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }

    void stepsAndNavigation() {
        QCOMPARE(view->size(), QSize(500, 480));
        QStringList texts = visibleTexts(view.get());
        for (const char *text :
             {"Welcome to Zelvane", "Full-screen meeting reminders with\nAI-powered meeting prep.",
              "Impossible-to-miss full-screen reminders",
              "One-click join for Zoom, Teams, and Meet",
              "AI researches your attendees before every meeting"})
            QVERIFY2(texts.contains(QString::fromUtf8(text)), text);
        QVERIFY(!visibleButton(view.get(), QStringLiteral("Back")));
        QAbstractButton *forward = visibleButton(view.get(), QStringLiteral("Continue"));
        QVERIFY(forward);
        QCOMPARE(forward->accessibleName(), QStringLiteral("Continue"));

        QTest::mouseClick(forward, Qt::LeftButton);
        texts = visibleTexts(view.get());
        QVERIFY(texts.contains(QStringLiteral("Connect Your Calendar")));
        QVERIFY(texts.contains(
            QStringLiteral("Sign in to see upcoming meetings and trigger reminders.")));
        QVERIFY(texts.contains(QStringLiteral("Google")));
        QVERIFY(texts.contains(QStringLiteral("Microsoft")));
        QVERIFY(!texts.contains(QStringLiteral("Calendar connected")));
        QVERIFY(!texts.contains(QStringLiteral("Welcome to Zelvane")));
        QVERIFY(visibleButton(view.get(), QStringLiteral("Back")));
        QVERIFY(!visibleButton(view.get(), QStringLiteral("Continue")));

        // Finishing needs no connected calendar and does nothing but report completion.
        QTest::mouseClick(visibleButton(view.get(), QStringLiteral("Get Started")), Qt::LeftButton);
        QCOMPARE(completed, 1);
        QCOMPARE(view->flow()->step(), 1);
        QVERIFY(calendar->accounts().isEmpty());

        QTest::mouseClick(visibleButton(view.get(), QStringLiteral("Back")), Qt::LeftButton);
        QCOMPARE(view->flow()->step(), 0);
        QVERIFY(visibleButton(view.get(), QStringLiteral("Continue")));
        QCOMPARE(completed, 1);
    }

    // The real sign-in: the stand-in's page opens in the "browser", its continue link
    // redirects to the app's loopback listener, and the account appears.
    void connectAndDisconnectGoogle() {
        view->flow()->forward();
        QSignalSpy accounts(calendar.get(), &CalendarService::accountsChanged);
        clickConnect(CalendarProvider::google);
        QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, 10'000);
        QCOMPARE(QUrlQuery(opened.first()).queryItemValue(QStringLiteral("provider")),
                 QStringLiteral("google"));
        QTRY_VERIFY(!view->flow()->isConnecting());
        continueInBrowser(opened.first());
        QTRY_COMPARE_WITH_TIMEOUT(calendar->accounts().size(), 1, 10'000);

        QVERIFY(visibleTexts(view.get()).contains(QStringLiteral("Calendar connected")));
        QCOMPARE(visibleButtons(view.get(), QStringLiteral("Connect")).size(), 1); // Microsoft's
        QAbstractButton *disconnect = visibleButton(view.get(), QStringLiteral("Disconnect"));
        QVERIFY(disconnect);
        const auto rows = view->findChildren<OnboardingProviderRow *>();
        QCOMPARE(rows.size(), 2);
        QVERIFY(rows[0]->isConnected());
        QVERIFY(!rows[1]->isConnected());

        QTest::mouseClick(disconnect, Qt::LeftButton);
        QVERIFY(calendar->accounts().isEmpty());
        QVERIFY(!visibleTexts(view.get()).contains(QStringLiteral("Calendar connected")));
        QVERIFY(!visibleButton(view.get(), QStringLiteral("Disconnect")));
        QCOMPARE(visibleButtons(view.get(), QStringLiteral("Connect")).size(), 2);
        QVERIFY(!rows[0]->isConnected());
    }

    void connectButtonsDisabledWhileSigningIn() {
        admin("POST", QStringLiteral("/_admin/faults"),
              {{"endpoint", "nylas/auth-url"}, {"delayMs", 1500}});
        view->flow()->forward();
        clickConnect(CalendarProvider::microsoft);
        const QList<CraftButton *> connects = visibleButtons(view.get(), QStringLiteral("Connect"));
        QCOMPARE(connects.size(), 2);
        QVERIFY(!connects[0]->isEnabled());
        QVERIFY(!connects[1]->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, 10'000);
        QTRY_VERIFY(connects[0]->isEnabled() && connects[1]->isEnabled());
        QCOMPARE(QUrlQuery(opened.first()).queryItemValue(QStringLiteral("provider")),
                 QStringLiteral("microsoft"));
    }

    // A refused sign-in shows its description; the next attempt clears it at once.
    void failedSignInShowsItsDescription() {
        admin("POST", QStringLiteral("/_admin/faults"),
              {{"endpoint", "nylas/auth-url"}, {"status", 500}, {"times", 1}});
        view->flow()->forward();
        clickConnect(CalendarProvider::google);
        QTRY_VERIFY(!view->flow()->isConnecting());
        QCOMPARE(view->flow()->connectionError(),
                 std::optional<QString>(QStringLiteral("HTTP error 500")));
        QVERIFY(visibleTexts(view.get()).contains(QStringLiteral("HTTP error 500")));
        QVERIFY(opened.isEmpty());

        admin("POST", QStringLiteral("/_admin/faults"),
              {{"endpoint", "nylas/auth-url"}, {"delayMs", 1000}});
        clickConnect(CalendarProvider::google);
        QVERIFY(!visibleTexts(view.get()).contains(QStringLiteral("HTTP error 500")));
        QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, 10'000);
        QVERIFY(!view->flow()->connectionError());
    }
};

QTEST_MAIN(TestOnboarding)
#include "tst_onboarding.moc"
