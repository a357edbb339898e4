#include "BackendProcess.h"
#include "TestEnvironment.h"
#include "core/AppSettings.h"
#include "core/Clock.h"
#include "sync/CalendarProxyClient.h"
#include "sync/CalendarService.h"
#include "sync/SignInListener.h"
#include "ui/CapsuleButton.h"
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

using namespace Qt::StringLiterals;

namespace {
QStringList visibleTexts(const QWidget *root) {
    QStringList texts;
    for (const QLabel *label : root->findChildren<QLabel *>())
        if (label->isVisibleTo(root) && !label->text().isEmpty())
            texts << label->text();
    return texts;
}

QList<CapsuleButton *> visibleButtons(const QWidget *root, const QString &title) {
    QList<CapsuleButton *> found;
    for (CapsuleButton *button : root->findChildren<CapsuleButton *>())
        if (button->isVisibleTo(root) && button->text() == title)
            found << button;
    return found;
}

// Any kind of button (Back, Continue and Disconnect are plain ones).
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
    SecretStore secrets;
    std::unique_ptr<CalendarProxyClient> proxy;
    std::unique_ptr<CalendarSignInListener> auth;
    std::unique_ptr<CalendarService> calendar;
    std::unique_ptr<OnboardingView> view;
    QList<QUrl> opened;
    std::unique_ptr<QSignalSpy> completed;
    QNetworkAccessManager network;

    void admin(const QByteArray &verb, const QString &path, const QJsonObject &body = {}) {
        QNetworkRequest request(QUrl(backend->origin() + path));
        request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/json"_s);
        QNetworkReply *reply =
            network.sendCustomRequest(request, verb, QJsonDocument(body).toJson());
        QSignalSpy done(reply, &QNetworkReply::finished);
        QVERIFY(done.wait(5000));
        reply->deleteLater();
    }

    // What the user's click on the stand-in's sign-in page does.
    void continueInBrowser(const QUrl &signin) {
        QUrl next = signin;
        next.setPath(u"/signin/continue"_s);
        QNetworkReply *reply = network.get(QNetworkRequest(next));
        QSignalSpy done(reply, &QNetworkReply::finished);
        QVERIFY(done.wait(10'000));
        reply->deleteLater();
    }

    void clickConnect(CalendarProvider provider) {
        QList<CapsuleButton *> connects = visibleButtons(view.get(), u"Connect"_s);
        QCOMPARE(connects.size(), 3); // Google, Microsoft, Calendar Feed
        QTest::mouseClick(connects[provider == CalendarProvider::google ? 0 : 1], Qt::LeftButton);
    }

private Q_SLOTS:
    void initTestCase() {
        QDesktopServices::setUrlHandler(u"http"_s, this, "openInBrowser");
        backend = std::make_unique<BackendProcess>();
        QVERIFY2(backend->start(), qPrintable(backend->error()));
        qputenv("ZELVANE_BACKEND_ORIGIN", backend->origin().toUtf8());
    }

    void init() {
        env = std::make_unique<TestEnvironment>();
        settings = env->makeSettings();
        proxy = std::make_unique<CalendarProxyClient>(secrets, Clock::system());
        auth = std::make_unique<CalendarSignInListener>();
        calendar =
            std::make_unique<CalendarService>(*settings, *proxy, secrets, *auth, Clock::system());
        view = std::make_unique<OnboardingView>(*calendar);
        completed = std::make_unique<QSignalSpy>(view.get(), &OnboardingView::completed);
        view->show();
        opened.clear();
    }

    void cleanup() {
        view.reset();
        calendar.reset();
        auth.reset();
        proxy.reset();
        admin("DELETE", u"/_admin/faults"_s);
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(u"http"_s); }

    void stepsAndNavigation() {
        QCOMPARE(view->size(), QSize(500, 480));
        QStringList texts = visibleTexts(view.get());
        for (const char *text :
             {"Welcome to Zelvane", "Full-screen meeting reminders with\nAI-powered meeting prep.",
              "Impossible-to-miss full-screen reminders",
              "One-click join for Zoom, Teams, and Meet",
              "AI researches your attendees before every meeting"})
            QVERIFY2(texts.contains(QString::fromUtf8(text)), text);
        QVERIFY(!visibleButton(view.get(), u"Back"_s));
        QAbstractButton *forward = visibleButton(view.get(), u"Continue"_s);
        QVERIFY(forward);
        QCOMPARE(forward->accessibleName(), u"Continue"_s);

        QTest::mouseClick(forward, Qt::LeftButton);
        texts = visibleTexts(view.get());
        for (const char *text :
             {"Connect Your Calendar", "Sign in to see upcoming meetings and trigger reminders.",
              "Google", "Microsoft", "Calendar Feed"})
            QVERIFY2(texts.contains(QString::fromUtf8(text)), text);
        QVERIFY(!texts.contains(u"Calendar connected"_s));
        QVERIFY(!texts.contains(u"Welcome to Zelvane"_s));
        QVERIFY(visibleButton(view.get(), u"Back"_s));
        QVERIFY(!visibleButton(view.get(), u"Continue"_s));

        // Finishing needs no connected calendar and does nothing but report completion.
        QTest::mouseClick(visibleButton(view.get(), u"Get Started"_s), Qt::LeftButton);
        QCOMPARE(completed->count(), 1);
        QCOMPARE(view->flow()->step(), 1);
        QVERIFY(calendar->accounts().isEmpty());

        QTest::mouseClick(visibleButton(view.get(), u"Back"_s), Qt::LeftButton);
        QCOMPARE(view->flow()->step(), 0);
        QVERIFY(visibleButton(view.get(), u"Continue"_s));
        QCOMPARE(completed->count(), 1);
    }

    // The real sign-in: the stand-in's page opens in the "browser", its continue link
    // redirects to the app's loopback listener, and the account appears.
    void connectAndDisconnectGoogle() {
        view->flow()->forward();
        QSignalSpy accounts(calendar.get(), &CalendarService::accountsChanged);
        clickConnect(CalendarProvider::google);
        QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, 10'000);
        QCOMPARE(QUrlQuery(opened.first()).queryItemValue(u"provider"_s), u"google"_s);
        QTRY_VERIFY(!view->flow()->isConnecting());
        continueInBrowser(opened.first());
        QTRY_COMPARE_WITH_TIMEOUT(calendar->accounts().size(), 1, 10'000);

        QVERIFY(visibleTexts(view.get()).contains(u"Calendar connected"_s));
        QCOMPARE(visibleButtons(view.get(), u"Connect"_s).size(), 2); // Microsoft's, the feed's
        QAbstractButton *disconnect = visibleButton(view.get(), u"Disconnect"_s);
        QVERIFY(disconnect);

        QTest::mouseClick(disconnect, Qt::LeftButton);
        QVERIFY(calendar->accounts().isEmpty());
        QVERIFY(!visibleTexts(view.get()).contains(u"Calendar connected"_s));
        QVERIFY(!visibleButton(view.get(), u"Disconnect"_s));
        QCOMPARE(visibleButtons(view.get(), u"Connect"_s).size(), 3);
    }

    // A refused sign-in shows its description; the next attempt clears it at once and keeps
    // both Connect buttons disabled until the sign-in page opens.
    void failedSignInShowsItsDescription() {
        admin("POST", u"/_admin/faults"_s,
              {{"endpoint", "nylas/auth-url"}, {"status", 500}, {"times", 1}});
        view->flow()->forward();
        clickConnect(CalendarProvider::google);
        QTRY_VERIFY(!view->flow()->isConnecting());
        QCOMPARE(view->flow()->connectionError(), std::optional<QString>(u"HTTP error 500"_s));
        QVERIFY(visibleTexts(view.get()).contains(u"HTTP error 500"_s));
        QVERIFY(opened.isEmpty());

        admin("POST", u"/_admin/faults"_s, {{"endpoint", "nylas/auth-url"}, {"delayMs", 1000}});
        clickConnect(CalendarProvider::microsoft);
        QVERIFY(!visibleTexts(view.get()).contains(u"HTTP error 500"_s));
        const QList<CapsuleButton *> connects = visibleButtons(view.get(), u"Connect"_s);
        QVERIFY(!connects[0]->isEnabled() && !connects[1]->isEnabled() &&
                !connects[2]->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, 10'000);
        QTRY_VERIFY(connects[0]->isEnabled() && connects[1]->isEnabled() &&
                    connects[2]->isEnabled());
        QCOMPARE(QUrlQuery(opened.first()).queryItemValue(u"provider"_s), u"microsoft"_s);
        QVERIFY(!view->flow()->connectionError());
    }
};

QTEST_MAIN(TestOnboarding)
#include "tst_onboarding.moc"
