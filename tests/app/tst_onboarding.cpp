#include "BackendProcess.h"
#include "TestEnvironment.h"
#include "core/AppSettings.h"
#include "core/Clock.h"
#include "sync/CalendarProxyClient.h"
#include "sync/CalendarService.h"
#include "sync/SignInListener.h"
#include "ui/OnboardingFlow.h"
#include "ui/OnboardingView.h"

#include <QAbstractButton>
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

class TestOnboarding : public QObject {
    Q_OBJECT

public Q_SLOTS:
    // Stands in for the browser: remembers the sign-in page the app asked to open.
    void openInBrowser(const QUrl &url) { opened << url; }

private:
    TestEnvironment env;
    std::unique_ptr<AppSettings> settings = env.makeSettings();
    BackendProcess backend;
    SecretStore secrets;
    std::unique_ptr<CalendarProxyClient> proxy;
    CalendarSignInListener auth;
    std::unique_ptr<CalendarService> calendar;
    std::unique_ptr<OnboardingView> view;
    QList<QUrl> opened;
    std::unique_ptr<QSignalSpy> completed;
    QNetworkAccessManager network;

    QStringList texts() const {
        QStringList texts;
        for (const QLabel *label : view->findChildren<QLabel *>())
            if (label->isVisibleTo(view.get()))
                texts << label->text();
        return texts;
    }
    QList<QAbstractButton *> buttons(const QString &title) const {
        QList<QAbstractButton *> found;
        for (QAbstractButton *button : view->findChildren<QAbstractButton *>())
            if (button->isVisibleTo(view.get()) && button->text() == title)
                found << button;
        return found;
    }
    void click(const QString &title) {
        QVERIFY(!buttons(title).isEmpty());
        QTest::mouseClick(buttons(title).first(), Qt::LeftButton);
    }
    void finish(QNetworkReply *reply) {
        QSignalSpy done(reply, &QNetworkReply::finished);
        QVERIFY(done.wait(10'000));
        reply->deleteLater();
    }
    // Sets up (or with no body, clears) a fault of the stand-in backend.
    void fault(const QJsonObject &body = {}) {
        QNetworkRequest request(QUrl(backend.origin() + u"/_admin/faults"_s));
        request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/json"_s);
        finish(network.sendCustomRequest(request, body.isEmpty() ? "DELETE" : "POST",
                                         QJsonDocument(body).toJson()));
    }

private Q_SLOTS:
    // One window for the suite: each test leaves it at the first step without an account.
    void initTestCase() {
        QDesktopServices::setUrlHandler(u"http"_s, this, "openInBrowser");
        QVERIFY2(backend.start(), qPrintable(backend.error()));
        qputenv("ZELVANE_BACKEND_ORIGIN", backend.origin().toUtf8());
        proxy = std::make_unique<CalendarProxyClient>(secrets, Clock::system());
        calendar =
            std::make_unique<CalendarService>(*settings, *proxy, secrets, auth, Clock::system());
        view = std::make_unique<OnboardingView>(*calendar);
        completed = std::make_unique<QSignalSpy>(view.get(), &OnboardingView::completed);
        view->show();
    }

    void cleanup() {
        opened.clear();
        fault();
    }

    // Welcome, then the calendar step, where the real sign-in runs: the stand-in's page opens
    // in the "browser", its continue link redirects to the app's loopback listener, and the
    // account appears. Finishing needs no calendar and does nothing but report completion.
    void stepsAndGoogleSignIn() {
        QVERIFY(texts().contains(u"Welcome to Zelvane"_s));
        QVERIFY(buttons(u"Back"_s).isEmpty());
        QCOMPARE(buttons(u"Continue"_s).value(0)->accessibleName(), u"Continue"_s);
        click(u"Continue"_s);
        QVERIFY(texts().contains(u"Connect Your Calendar"_s));
        QVERIFY(!texts().contains(u"Welcome to Zelvane"_s));
        QVERIFY(buttons(u"Continue"_s).isEmpty());

        QCOMPARE(buttons(u"Connect"_s).size(), 3); // Google, Microsoft, Calendar Feed
        QTest::mouseClick(buttons(u"Connect"_s).first(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, 10'000);
        QCOMPARE(QUrlQuery(opened.first()).queryItemValue(u"provider"_s), u"google"_s);
        QTRY_VERIFY(!view->flow()->isConnecting());
        QUrl next = opened.first();
        next.setPath(u"/signin/continue"_s);
        finish(network.get(QNetworkRequest(next)));
        QTRY_COMPARE_WITH_TIMEOUT(calendar->accounts().size(), 1, 10'000);
        QVERIFY(texts().contains(u"Calendar connected"_s));
        QCOMPARE(buttons(u"Connect"_s).size(), 2); // Microsoft's, the feed's
        click(u"Disconnect"_s);
        QVERIFY(calendar->accounts().isEmpty());
        QVERIFY(!texts().contains(u"Calendar connected"_s));
        QCOMPARE(buttons(u"Connect"_s).size(), 3);

        click(u"Get Started"_s);
        QCOMPARE(completed->count(), 1);
        QCOMPARE(view->flow()->step(), 1);
        click(u"Back"_s);
        QCOMPARE(view->flow()->step(), 0);
        QCOMPARE(buttons(u"Continue"_s).size(), 1);
    }

    // A refused sign-in shows its description; the next attempt clears it at once and keeps
    // every Connect button disabled until the sign-in page opens.
    void failedSignInShowsItsDescription() {
        fault({{"endpoint", "nylas/auth-url"}, {"status", 500}, {"times", 1}});
        view->flow()->forward();
        QTest::mouseClick(buttons(u"Connect"_s).first(), Qt::LeftButton);
        QTRY_VERIFY(!view->flow()->isConnecting());
        QVERIFY(texts().contains(u"HTTP error 500"_s));
        QVERIFY(opened.isEmpty());

        fault({{"endpoint", "nylas/auth-url"}, {"delayMs", 1000}});
        const QList<QAbstractButton *> connects = buttons(u"Connect"_s);
        QTest::mouseClick(connects[1], Qt::LeftButton);
        QVERIFY(!texts().contains(u"HTTP error 500"_s));
        const auto enabled = [&] {
            return connects[0]->isEnabled() + connects[1]->isEnabled() + connects[2]->isEnabled();
        };
        QCOMPARE(enabled(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, 10'000);
        QTRY_COMPARE(enabled(), 3);
        QCOMPARE(QUrlQuery(opened.first()).queryItemValue(u"provider"_s), u"microsoft"_s);
        QVERIFY(!view->flow()->connectionError());
    }
};

QTEST_MAIN(TestOnboarding)
#include "tst_onboarding.moc"
