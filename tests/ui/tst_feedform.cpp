// The "add calendar feed" form in the Accounts tab and in onboarding, against feeds served on
// 127.0.0.1 or read from files, with the addresses kept in a private keyring.
#include "LoopbackHttpServer.h"
#include "ServiceGraph.h"
#include "Settle.h"
#include "TestEnvironment.h"
#include "UiTestSupport.h"
#include "core/AppSettings.h"
#include "core/Clock.h"
#include "sync/AccountsModel.h"
#include "sync/AddFeedModel.h"
#include "sync/GeneralSettingsModel.h"
#include "ui/CalendarFeedForm.h"
#include "ui/CapsuleButton.h"
#include "ui/OnboardingFlow.h"
#include "ui/OnboardingView.h"
#include "ui/Theme.h"
#include "ui/settings/AccountsContent.h"
#include "ui/settings/GeneralContent.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLayout>
#include <QLineEdit>
#include <QTest>

using namespace Qt::StringLiterals;
using Response = LoopbackHttpServer::Response;

namespace {
QStringList visibleTexts(const QWidget *root) {
    QStringList texts;
    for (const QLabel *label : root->findChildren<QLabel *>())
        if (label->isVisibleTo(root) && !label->text().isEmpty())
            texts << label->text();
    return texts;
}

QColor textColor(const QLabel *label) {
    return label->palette().color(QPalette::WindowText);
}

// One meeting tomorrow with a Jitsi room in its description.
QByteArray icsFeed() {
    const QString start =
        QDateTime::currentDateTimeUtc().addDays(1).toString(u"yyyyMMdd'T'HHmmss'Z'"_s);
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\nBEGIN:VEVENT\r\n"
           "UID:feed-meeting\r\nSUMMARY:Roadmap review\r\nDTSTART:" +
           start.toLatin1() +
           "\r\nDURATION:PT30M\r\nDESCRIPTION:Join https://meet.jit.si/ZelvaneRoadmap\r\n"
           "END:VEVENT\r\nEND:VCALENDAR\r\n";
}

Response calendarResponse() {
    return {200, icsFeed(), "text/calendar", false};
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
    QString feedAddress() const { return server.origin() + u"/private/basic.ics"_s; }

    std::optional<QString> storedAddress(const QString &accountId) {
        return settle(services->secrets.load(CalendarService::feedSecretKey(accountId)))
            .value.value_or(std::nullopt);
    }

    void openTab() {
        model = std::make_unique<AccountsModel>(calendar(), services->slack);
        tab = std::make_unique<AccountsContent>(*model);
        tab->resize(640, 700);
        tab->show();
        tab->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(tab.get()));
    }

    // Opens the form from its button and types into it as a user would.
    void fillIn(const QString &address, const QString &name) {
        CalendarFeedForm *form = tab->feedForm();
        if (!form->isVisible())
            QTest::mouseClick(tab->connectButton(CalendarProvider::feed), Qt::LeftButton);
        QVERIFY(form->isVisible());
        QCOMPARE(QApplication::focusWidget(), form->addressField());
        form->addressField()->selectAll();
        QTest::keyClicks(form->addressField(), address);
        QTest::keyClick(form->addressField(), Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), form->nameField());
        QTest::keyClicks(form->nameField(), name);
    }

    // Pictures for a person to look at, beside the test binary.
    static void saveScreenshot(QWidget *widget, const QString &name) {
        QCoreApplication::processEvents();
        QVERIFY(widget->grab().save(QCoreApplication::applicationDirPath() + u"/feedform-"_s +
                                    name + u".png"_s));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(server.start()); }

    void init() {
        env = std::make_unique<TestEnvironment>();
        settings = env->makeSettings();
        services = std::make_unique<ServiceGraph>(*settings, Clock::system());
        server.respondWith(calendarResponse());
        server.clearRequests();
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
        const QString badAddress =
            u"Use an https:// or webcal:// address, or a file on this computer."_s;
        QTest::newRow("plain http elsewhere") << u"http://calendar.example/x.ics"_s << badAddress;
        QTest::newRow("other scheme") << u"ftp://calendar.example/x.ics"_s << badAddress;
        QTest::newRow("relative path") << u"calendar.ics"_s << badAddress;
        QTest::newRow("missing file")
            << u"/nonexistent/zelvane/calendar.ics"_s << u"The calendar file could not be read."_s;
    }
    void refusedAddresses() {
        QFETCH(QString, address);
        QFETCH(QString, error);
        openTab();
        CalendarFeedForm *form = tab->feedForm();
        QVERIFY(!form->isVisible());
        QVERIFY(!form->addButton()->isEnabled());
        fillIn(address, u"Work"_s);
        QVERIFY(form->addButton()->isEnabled());
        QTest::keyClick(form->nameField(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(form->errorLabel()->isVisible(), 10'000);
        QCOMPARE(form->errorLabel()->text(), error);
        QCOMPARE(form->errorLabel()->accessibleName(), error);
        QCOMPARE(textColor(form->errorLabel()), Theme::Colors::red());
        QVERIFY(!form->progressLabel()->isVisible());
        QVERIFY(calendar().accounts().isEmpty());
        QVERIFY(server.requests().isEmpty());
        QCOMPARE(form->addressField()->text(), address);

        QTest::keyClick(form->addressField(), Qt::Key_End);
        QTest::keyClick(form->addressField(), Qt::Key_Backspace);
        QVERIFY(!form->errorLabel()->isVisible());
        QTest::keyClick(form->addressField(), Qt::Key_Escape);
        QVERIFY(!form->isVisible());
        QCOMPARE(QApplication::focusWidget(), tab->connectButton(CalendarProvider::feed));
    }

    // The whole path: typed address, progress while it reads, the account row, the address in
    // the keyring only, the feed's calendar switch in the General tab, and removal.
    void addsAFeedServedOnLoopback() {
        openTab();
        CalendarFeedForm *form = tab->feedForm();

        // A server that holds the request: the form shows it is reading, takes no second
        // attempt, and names the failure once the server goes away.
        auto slow = std::make_unique<LoopbackHttpServer>();
        QVERIFY(slow->start());
        slow->respondWith(Response::silence());
        fillIn(slow->origin() + u"/held.ics"_s, u"Team Feed"_s);
        QTest::keyClick(form->nameField(), Qt::Key_Return);
        QVERIFY(form->progressLabel()->isVisible());
        QCOMPARE(form->progressLabel()->text(), u"Reading the calendar feed…"_s);
        QVERIFY(!form->addButton()->isEnabled());
        QCOMPARE(form->addButton()->accessibleName(), u"Adding…"_s);
        QVERIFY(form->addressField()->isReadOnly());
        saveScreenshot(tab.get(), u"reading"_s);
        QTest::keyClick(form->nameField(), Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(slow->requests().size(), 1, 10'000);
        QCOMPARE(slow->openConnections(), 1);
        slow.reset();
        QTRY_VERIFY_WITH_TIMEOUT(form->errorLabel()->isVisible(), 10'000);
        QCOMPARE(form->errorLabel()->text(), u"The calendar feed could not be reached."_s);
        saveScreenshot(tab.get(), u"unreachable"_s);
        QVERIFY(!form->progressLabel()->isVisible());
        QVERIFY(!form->addressField()->isReadOnly());
        QVERIFY(calendar().accounts().isEmpty());

        form->addressField()->clear();
        QTest::keyClicks(form->addressField(), u"  "_s + feedAddress());
        QTest::mouseClick(form->addButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(calendar().accounts().size(), 1, 10'000);
        const ConnectedAccount account = calendar().accounts().first();
        QCOMPARE(account.provider, CalendarProvider::feed);
        QCOMPARE(account.email, u"Team Feed"_s);
        QCOMPARE(server.requests().first().path(), u"/private/basic.ics"_s);
        QTRY_VERIFY(!form->isVisible());
        QVERIFY(form->addressField()->text().isEmpty());
        QCOMPARE(QApplication::focusWidget(), tab->connectButton(CalendarProvider::feed));
        QVERIFY(!form->errorLabel()->isVisible());
        const QStringList texts = visibleTexts(tab.get());
        QVERIFY(texts.contains(u"Team Feed"_s));
        QVERIFY(texts.contains(u"Calendar Feed"_s));
        QVERIFY(!texts.contains(u"No accounts connected"_s));
        QVERIFY(!tab->feedProblemLabel(account.id));

        // The address is a secret: in the keyring, not in the settings file.
        QCOMPARE(storedAddress(account.id), feedAddress());
        QFile conf(env->configHome() + u"/Zelvane/Zelvane.conf"_s);
        QVERIFY(conf.open(QIODevice::ReadOnly));
        QVERIFY(!conf.readAll().contains("/private/basic.ics"));
        QTRY_VERIFY_WITH_TIMEOUT(!calendar().events().isEmpty(), 10'000);
        QCOMPARE(calendar().events().first().meetingLink.value_or(QUrl()),
                 QUrl(u"https://meet.jit.si/ZelvaneRoadmap"_s));

        // The General tab lists it with its lead times and an on/off switch for its calendar.
        GeneralSettingsModel generalModel(*settings, calendar());
        GeneralContent general(generalModel);
        general.resize(640, 700);
        general.show();
        const QStringList generalTexts = visibleTexts(&general);
        QVERIFY(generalTexts.contains(u"TEAM FEED"_s));
        QVERIFY(generalTexts.contains(u"All 1 active"_s));
        QVERIFY(generalTexts.contains(u"At start"_s));
        QTest::keyClick(general.findChild<QAbstractButton *>(u"calendars:"_s + account.id),
                        Qt::Key_Space);
        QAbstractButton *feedSwitch = UiTest::button(&general, u"Team Feed"_s);
        QVERIFY(feedSwitch && feedSwitch->isVisibleTo(&general));
        QVERIFY(feedSwitch->isChecked());
        QTest::keyClick(feedSwitch, Qt::Key_Space);
        QVERIFY(!settings->isCalendarEnabled(account.id));
        QTRY_VERIFY_WITH_TIMEOUT(calendar().events().isEmpty(), 10'000);

        // Removing it forgets the address too.
        auto *remove = tab->findChild<QAbstractButton *>(u"remove-account:"_s + account.id);
        QVERIFY(remove);
        QCOMPARE(remove->accessibleName(), u"Remove"_s);
        remove->setFocus();
        QTest::keyClick(remove, Qt::Key_Space);
        QVERIFY(calendar().accounts().isEmpty());
        QTRY_VERIFY(visibleTexts(tab.get()).contains(u"No accounts connected"_s));
        QTRY_VERIFY(!storedAddress(account.id));
    }

    // A first read that is no calendar adds nothing; a feed that fails later keeps its row and
    // shows why in red until a poll succeeds again.
    void failingFeeds() {
        openTab();
        server.respondWith({200, "<!DOCTYPE html><html>Sign in</html>", "text/html", false});
        fillIn(feedAddress(), QString());
        CalendarFeedForm *form = tab->feedForm();
        QTest::keyClick(form->addressField(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(form->errorLabel()->isVisible(), 10'000);
        QCOMPARE(form->errorLabel()->text(), u"The address does not lead to an iCalendar feed."_s);
        QVERIFY(calendar().accounts().isEmpty());
        QVERIFY(form->isVisible());

        server.respondWith(calendarResponse());
        QTest::keyClick(form->addressField(), Qt::Key_Return);
        QVERIFY(!form->errorLabel()->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(calendar().accounts().size(), 1, 10'000);
        const ConnectedAccount account = calendar().accounts().first();
        QCOMPARE(account.email, u"Calendar Feed"_s);
        QTRY_VERIFY_WITH_TIMEOUT(!calendar().isLoading(), 10'000);

        server.respondWith(Response::text("busy", 503));
        settle(calendar().fetchEvents());
        QLabel *problem = tab->feedProblemLabel(account.id);
        QVERIFY(problem);
        QVERIFY(problem->isVisibleTo(tab.get()));
        QCOMPARE(problem->text(), u"The calendar feed answered with HTTP status 503."_s);
        QCOMPARE(problem->accessibleName(), problem->text());
        QCOMPARE(textColor(problem), Theme::Colors::red());
        QVERIFY(!problem->text().contains(server.origin()));
        QCOMPARE(calendar().events().size(), 1);
        saveScreenshot(tab.get(), u"failing-row"_s);

        server.respondWith(calendarResponse());
        settle(calendar().fetchEvents());
        QVERIFY(!tab->feedProblemLabel(account.id));
        QVERIFY(visibleTexts(tab.get()).contains(u"Calendar Feed"_s));
    }

    // A file chosen in the file dialog fills the address and, when empty, the name.
    void choosesALocalFile() {
        const QString path = env->path() + u"/Family Calendar.ics"_s;
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(icsFeed());
        file.close();
        openTab();
        QTest::mouseClick(tab->connectButton(CalendarProvider::feed), Qt::LeftButton);
        CalendarFeedForm *form = tab->feedForm();
        QTest::mouseClick(form->chooseFileButton(), Qt::LeftButton);
        QFileDialog *dialog = nullptr;
        QTRY_VERIFY((dialog = tab->window()->findChild<QFileDialog *>()));
        QTRY_VERIFY(dialog->isVisible());
        dialog->selectFile(path);
        QMetaObject::invokeMethod(dialog, &QDialog::accept);
        QCOMPARE(form->addressField()->text(), path);
        QCOMPARE(form->nameField()->text(), u"Family Calendar"_s);
        QTRY_COMPARE(QApplication::focusWidget(), form->addButton());
        QTest::keyClick(form->addButton(), Qt::Key_Space);
        QTRY_COMPARE_WITH_TIMEOUT(calendar().accounts().size(), 1, 10'000);
        QCOMPARE(storedAddress(calendar().accounts().first().id),
                 QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
        QVERIFY(visibleTexts(tab.get()).contains(u"Family Calendar"_s));
    }

    // Onboarding offers the feed as a third choice; its form takes the choices' place.
    void onboardingOffersAFeed() {
        OnboardingView view(calendar());
        view.setFixedSize(OnboardingView::contentWidth, OnboardingView::contentHeight);
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        view.flow()->forward();
        QStringList texts = visibleTexts(&view);
        for (const QString &text : {u"Google"_s, u"Microsoft"_s, u"Calendar Feed"_s})
            QVERIFY2(texts.contains(text), qPrintable(text));
        OnboardingProviderRow *feedRow = view.providerRow(CalendarProvider::feed);
        CalendarFeedForm *form = view.feedForm();
        QVERIFY(!form->isVisible());

        saveScreenshot(&view, u"onboarding-choices"_s);
        QTest::mouseClick(feedRow->connectButton(), Qt::LeftButton);
        QVERIFY(form->isVisible());
        QVERIFY(!feedRow->isVisible());
        QCOMPARE(QApplication::focusWidget(), form->addressField());
        QTest::keyClick(form->addressField(), Qt::Key_Escape);
        QVERIFY(!form->isVisible() && feedRow->isVisible());
        QCOMPARE(QApplication::focusWidget(), feedRow->connectButton());

        QTest::keyClick(feedRow->connectButton(), Qt::Key_Space);
        QTest::keyClicks(form->addressField(), u"webcal//missing-colon"_s);
        QTest::keyClick(form->addressField(), Qt::Key_Return);
        QTRY_VERIFY(form->errorLabel()->isVisible());
        QVERIFY(!view.flow()->isConnecting());
        saveScreenshot(&view, u"onboarding-form"_s);
        // The form with its complaint fits the fixed-size window.
        QLabel *error = form->errorLabel();
        QTRY_VERIFY(error->height() >= error->heightForWidth(error->width()));
        QVERIFY(form->geometry().bottom() < form->parentWidget()->height());

        form->addressField()->clear();
        QTest::keyClicks(form->addressField(), feedAddress());
        QTest::keyClick(form->addressField(), Qt::Key_Return);
        QVERIFY(view.flow()->isConnecting());
        QVERIFY(!view.providerRow(CalendarProvider::google)->connectButton()->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(calendar().accounts().size(), 1, 10'000);
        QTRY_VERIFY(!form->isVisible());
        QVERIFY(feedRow->isConnected());
        QVERIFY(feedRow->disconnectButton()->isVisible());
        QVERIFY(view.providerRow(CalendarProvider::google)->connectButton()->isEnabled());
        texts = visibleTexts(&view);
        QVERIFY(texts.contains(u"Calendar connected"_s));
        QCOMPARE(QApplication::focusWidget()->accessibleName(), u"Get Started"_s);

        const QString id = calendar().accounts().first().id;
        // Three choices and the "connected" line still fit the fixed-size window.
        QTRY_COMPARE(feedRow->height(), feedRow->sizeHint().height());
        QTest::mouseClick(feedRow->disconnectButton(), Qt::LeftButton);
        QVERIFY(calendar().accounts().isEmpty());
        QVERIFY(!feedRow->isConnected());
        QTRY_VERIFY(!storedAddress(id));
    }
};

QTEST_MAIN(TestFeedForm)
#include "tst_feedform.moc"
