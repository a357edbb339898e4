// The "add calendar feed" form in the Accounts tab and in onboarding, against feeds served on
// 127.0.0.1 or read from files, with the addresses kept in a private keyring.
#include "LoopbackHttpServer.h"
#include "ServiceGraph.h"
#include "Settle.h"
#include "TestEnvironment.h"
#include "WidgetTestSupport.h"
#include "core/AppSettings.h"
#include "sync/AccountsModel.h"
#include "ui/CalendarFeedForm.h"
#include "ui/CapsuleButton.h"
#include "ui/OnboardingFlow.h"
#include "ui/OnboardingView.h"
#include "ui/Theme.h"
#include "ui/settings/AccountsContent.h"

#include <QFileDialog>

using namespace Qt::StringLiterals;
using namespace WidgetTest;
using Response = LoopbackHttpServer::Response;

namespace {
// One meeting tomorrow.
QByteArray icsFeed() {
    const QString start =
        QDateTime::currentDateTimeUtc().addDays(1).toString(u"yyyyMMdd'T'HHmmss'Z'"_s);
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\nBEGIN:VEVENT\r\n"
           "UID:feed-meeting\r\nSUMMARY:Roadmap review\r\nDTSTART:" +
           start.toLatin1() + "\r\nDURATION:PT30M\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}
} // namespace

class TestFeedForm : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<ServiceGraph> services;
    std::unique_ptr<AccountsModel> model;
    std::unique_ptr<AccountsContent> tab;
    LoopbackHttpServer server;

    CalendarService &calendar() { return services->calendar; }
    CalendarFeedForm *form() const { return tab->feedForm(); }
    QString feedAddress() const { return server.origin() + u"/private/basic.ics"_s; }

    void openTab() {
        model = std::make_unique<AccountsModel>(calendar(), services->slack);
        tab = std::make_unique<AccountsContent>(*model);
        QVERIFY(showActive(tab.get(), {640, 700}));
    }

    // Opens the form from its button and types into it as a user would, then sends it.
    void submit(const QString &address, const QString &name = {}) {
        if (!form()->isVisible())
            QTest::mouseClick(tab->connectButton(CalendarProvider::feed), Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), form()->addressField());
        form()->addressField()->selectAll();
        QTest::keyClicks(form()->addressField(), address);
        QTest::keyClick(form()->addressField(), Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), form()->nameField());
        QTest::keyClicks(form()->nameField(), name);
        QTest::keyClick(form()->nameField(), Qt::Key_Return);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(server.start()); }

    void init() {
        env = std::make_unique<TestEnvironment>();
        settings = env->makeSettings();
        services = std::make_unique<ServiceGraph>(*settings, Clock::system());
        server.respondWith({200, icsFeed(), "text/calendar", false});
    }

    void cleanup() {
        tab.reset();
        model.reset();
        for (const ConnectedAccount &account : calendar().accounts())
            settle(services->secrets.remove(CalendarService::feedSecretKey(account.id)));
        services.reset();
        settings.reset();
        env.reset();
    }

    // Addresses the feed reader refuses are named in red before anything is read; editing
    // the address takes the complaint away; Escape puts the form away.
    void refusedAddresses_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("error");
        QTest::newRow("plain http elsewhere")
            << u"http://calendar.example/x.ics"_s
            << u"Use an https:// or webcal:// address, or a file on this computer."_s;
        QTest::newRow("missing file")
            << u"/nonexistent/zelvane/calendar.ics"_s << u"The calendar file could not be read."_s;
    }
    void refusedAddresses() {
        QFETCH(QString, address);
        QFETCH(QString, error);
        openTab();
        QVERIFY(!form()->isVisible() && !form()->addButton()->isEnabled());
        submit(address, u"Work"_s);
        QTRY_VERIFY_WITH_TIMEOUT(form()->errorLabel()->isVisible(), 10'000);
        QCOMPARE(form()->errorLabel()->text(), error);
        QCOMPARE(textColor(form()->errorLabel()), Theme::Colors::red());
        QCOMPARE(unreadable(form()), QStringList());
        QVERIFY(!form()->progressLabel()->isVisible());
        QVERIFY(calendar().accounts().isEmpty());
        QCOMPARE(form()->addressField()->text(), address);

        QTest::keyClick(form()->addressField(), Qt::Key_Backspace);
        QVERIFY(!form()->errorLabel()->isVisible());
        QTest::keyClick(form()->addressField(), Qt::Key_Escape);
        QVERIFY(!form()->isVisible());
        QCOMPARE(QApplication::focusWidget(), tab->connectButton(CalendarProvider::feed));
    }

    // While a feed is read the form shows it and takes no second attempt; a server that goes
    // away is named; the next attempt adds the account row and puts the form away.
    void addsAFeedServedOnLoopback() {
        openTab();
        auto slow = std::make_unique<LoopbackHttpServer>();
        QVERIFY(slow->start());
        slow->respondWith(Response::silence());
        submit(slow->origin() + u"/held.ics"_s, u"Team Feed"_s);
        QCOMPARE(form()->progressLabel()->text(), u"Reading the calendar feed…"_s);
        QVERIFY(form()->progressLabel()->isVisible());
        QVERIFY(!form()->addButton()->isEnabled());
        QCOMPARE(form()->addButton()->accessibleName(), u"Adding…"_s);
        QVERIFY(form()->addressField()->isReadOnly());
        QVERIFY(saveScreenshot(tab.get(), u"feedform-reading"_s));
        QTest::keyClick(form()->nameField(), Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(slow->requests().size(), 1, 10'000);
        QCOMPARE(slow->openConnections(), 1);
        slow.reset();
        QTRY_VERIFY_WITH_TIMEOUT(form()->errorLabel()->isVisible(), 10'000);
        QCOMPARE(form()->errorLabel()->text(), u"The calendar feed could not be reached."_s);
        QVERIFY(!form()->progressLabel()->isVisible());
        QVERIFY(!form()->addressField()->isReadOnly());

        form()->addressField()->clear();
        QTest::keyClicks(form()->addressField(), feedAddress());
        QTest::mouseClick(form()->addButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(calendar().accounts().size(), 1, 10'000);
        QCOMPARE(calendar().accounts().first().email, u"Team Feed"_s);
        QTRY_VERIFY(!form()->isVisible());
        QVERIFY(form()->addressField()->text().isEmpty());
        QCOMPARE(QApplication::focusWidget(), tab->connectButton(CalendarProvider::feed));
        QVERIFY(visibleTexts(tab.get()).contains(u"Team Feed"_s));
    }

    // A feed that fails later keeps its row and shows why in red until a poll succeeds again.
    void failingFeed() {
        openTab();
        QVERIFY(settle(calendar().addFeed(feedAddress(), {})).ok());
        const ConnectedAccount account = calendar().accounts().first();
        QVERIFY(!tab->feedProblemLabel(account.id));
        server.respondWith(Response::text("busy", 503));
        settle(calendar().fetchEvents());
        QLabel *problem = tab->feedProblemLabel(account.id);
        QVERIFY(problem && problem->isVisibleTo(tab.get()));
        QCOMPARE(problem->text(), u"The calendar feed answered with HTTP status 503."_s);
        QCOMPARE(textColor(problem), Theme::Colors::red());
        QCOMPARE(unreadable(tab.get()), QStringList());
        QVERIFY(visibleTexts(tab.get()).contains(u"Calendar Feed"_s));
        QVERIFY(saveScreenshot(tab.get(), u"feedform-failing-row"_s));

        server.respondWith({200, icsFeed(), "text/calendar", false});
        settle(calendar().fetchEvents());
        QVERIFY(!tab->feedProblemLabel(account.id));
    }

    // A file chosen in the file dialog fills the address and, when empty, the name.
    void choosesALocalFile() {
        const QString path = env->path() + u"/Family Calendar.ics"_s;
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(icsFeed()) > 0);
        file.close();
        openTab();
        QTest::mouseClick(tab->connectButton(CalendarProvider::feed), Qt::LeftButton);
        QTest::mouseClick(form()->chooseFileButton(), Qt::LeftButton);
        QFileDialog *dialog = nullptr;
        QTRY_VERIFY((dialog = tab->window()->findChild<QFileDialog *>()) && dialog->isVisible());
        dialog->selectFile(path);
        QMetaObject::invokeMethod(dialog, &QDialog::accept);
        QCOMPARE(form()->addressField()->text(), path);
        QCOMPARE(form()->nameField()->text(), u"Family Calendar"_s);
        QTRY_COMPARE(QApplication::focusWidget(), form()->addButton());
        QTest::keyClick(form()->addButton(), Qt::Key_Space);
        QTRY_COMPARE_WITH_TIMEOUT(calendar().accounts().size(), 1, 10'000);
        QCOMPARE(calendar().accounts().first().email, u"Family Calendar"_s);
    }

    // Onboarding offers the feed as a third choice; its form takes the choices' place and,
    // with its complaint, fits the fixed-size window; so do the choices once connected.
    void onboardingOffersAFeed() {
        OnboardingView view(calendar());
        view.setFixedSize(OnboardingView::contentWidth, OnboardingView::contentHeight);
        QVERIFY(showActive(&view, view.size()));
        view.flow()->forward();
        OnboardingProviderRow *feedRow = view.providerRow(CalendarProvider::feed);
        CalendarFeedForm *form = view.feedForm();
        QVERIFY(feedRow->isVisible() && !form->isVisible());
        QCOMPARE(unreadable(&view), QStringList());
        QVERIFY(saveScreenshot(&view, u"feedform-onboarding-choices"_s));

        QTest::mouseClick(feedRow->connectButton(), Qt::LeftButton);
        QVERIFY(form->isVisible() && !feedRow->isVisible());
        QCOMPARE(QApplication::focusWidget(), form->addressField());
        QTest::keyClick(form->addressField(), Qt::Key_Escape);
        QVERIFY(!form->isVisible() && feedRow->isVisible());
        QCOMPARE(QApplication::focusWidget(), feedRow->connectButton());

        QTest::keyClick(feedRow->connectButton(), Qt::Key_Space);
        QTest::keyClicks(form->addressField(), u"webcal//missing-colon"_s);
        QTest::keyClick(form->addressField(), Qt::Key_Return);
        QTRY_VERIFY(form->errorLabel()->isVisible());
        QVERIFY(saveScreenshot(&view, u"feedform-onboarding-form"_s));
        QLabel *error = form->errorLabel();
        QTRY_VERIFY(error->height() >= error->heightForWidth(error->width()));
        QVERIFY(form->geometry().bottom() < form->parentWidget()->height());

        form->addressField()->clear();
        QTest::keyClicks(form->addressField(), feedAddress());
        QTest::keyClick(form->addressField(), Qt::Key_Return);
        QVERIFY(view.flow()->isConnecting());
        QTRY_COMPARE_WITH_TIMEOUT(calendar().accounts().size(), 1, 10'000);
        QTRY_VERIFY(!form->isVisible());
        QVERIFY(feedRow->isConnected() && feedRow->disconnectButton()->isVisible());
        QVERIFY(visibleTexts(&view).contains(u"Calendar connected"_s));
        QCOMPARE(QApplication::focusWidget()->accessibleName(), u"Get Started"_s);
        QTRY_COMPARE(feedRow->height(), feedRow->sizeHint().height());
    }
};

QTEST_MAIN(TestFeedForm)
#include "tst_feedform.moc"
