#include "BackendProcess.h"
#include "LoopbackHttpServer.h"
#include "Settle.h"
#include "TestEnvironment.h"
#include "WidgetTestSupport.h"
#include "app/AppServices.h"
#include "core/AppSettings.h"
#include "models/OnboardingFlow.h"
#include "sync/SMSService.h"
#include "ui/CalendarFeedForm.h"
#include "ui/CapsuleButton.h"
#include "ui/OnboardingView.h"
#include "ui/settings/AIContent.h"
#include "ui/settings/AccountsContent.h"
#include "ui/settings/GeneralContent.h"
#include "ui/settings/SettingsBlocks.h"
#include "ui/settings/SettingsView.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QJsonArray>
#include <QMenu>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QUrlQuery>

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

class TestSettingsView : public QObject {
    Q_OBJECT

public Q_SLOTS:
    // The user's browser: records what the app opens.
    void open(const QUrl &url) { opened.append(url); }

private:
    QList<QUrl> opened;
    QNetworkAccessManager network;
    std::unique_ptr<BackendProcess> standIn;
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<AppServices> services;
    std::unique_ptr<SMSService> sms;
    std::unique_ptr<SettingsView> view;
    SecretStore keyring;
    LoopbackHttpServer feeds;

    CalendarService &calendar() { return services->calendar; }
    std::optional<QString> stored(const char *key) {
        return settle(keyring.load(QString::fromLatin1(key))).value.value_or(std::nullopt);
    }

    ConnectedAccount grant(const QString &email, CalendarProvider provider) {
        const QJsonObject g = standIn->admin(
            "POST", u"grants"_s,
            {{"email", email}, {"provider", CalendarProviders::toString(provider).toLower()}});
        return ConnectedAccount::create(provider, email, g.value("grantId").toString());
    }

    // Stores the accounts and opens the window on them, with their calendars listed.
    void openWith(const QList<ConnectedAccount> &accounts) {
        QJsonArray array;
        for (const ConnectedAccount &a : accounts)
            array.append(a.toJson());
        settings->setValue(AppSettings::Key::ConnectedAccounts, QJsonDocument(array).toJson());
        services = std::make_unique<AppServices>(*settings, Clock::system());
        sms = std::make_unique<SMSService>(services->backend, services->secrets, Clock::system());
        view = std::make_unique<SettingsView>(SettingsServices{
            *settings, calendar(), services->slack, services->llm, *sms, services->secrets});
        calendar().fetchEvents();
        QVERIFY(showActive(view.get(), {720, 520}));
        QTRY_COMPARE_WITH_TIMEOUT(calendar().accountCalendars().size(), accounts.size(), 10'000);
    }

    QString feedAddress() const { return feeds.origin() + u"/private/basic.ics"_s; }

private Q_SLOTS:
    void initTestCase() {
        QDesktopServices::setUrlHandler(u"http"_s, this, "open");
        QVERIFY(feeds.start());
        standIn = std::make_unique<BackendProcess>();
        QVERIFY2(standIn->start(), qPrintable(standIn->error()));
        qputenv("ZELVANE_BACKEND_ORIGIN", standIn->origin().toUtf8());
        qputenv("ZELVANE_SLACK_ORIGIN", standIn->origin().toUtf8());
    }

    void init() {
        env = std::make_unique<TestEnvironment>();
        settings = env->makeSettings();
        opened.clear();
        feeds.respondWith({200, icsFeed(), "text/calendar", false});
    }

    void cleanup() {
        // A refresh still on the wire would leave its coroutines suspended forever.
        if (services)
            QTRY_VERIFY_WITH_TIMEOUT(!calendar().isLoading(), 10'000);
        view.reset();
        sms.reset();
        services.reset();
        settings.reset();
        env.reset();
        standIn->admin("DELETE", u"faults"_s);
    }

    // Down in the sidebar selects each tab in turn. In each, every text is read as shown, and
    // Tab from the sidebar reaches every enabled control once, top to bottom and left to right,
    // then the sidebar again.
    void everyTabByKeyboard() {
        openWith({grant(u"sam@northwind.test"_s, CalendarProvider::google)});
        view->sidebarItem(SidebarTab::accounts)->setFocus();
        for (SidebarTab tab : SidebarTabs::all()) {
            if (tab != SidebarTab::accounts)
                QTest::keyClick(focused(), Qt::Key_Down);
            QCOMPARE(focused(), view->sidebarItem(tab));
            for (SidebarTab other : SidebarTabs::all())
                QCOMPARE(view->tabContent(other)->isVisible(), other == tab);
            QCOMPARE(unreadable(view.get()), QStringList());
            const QString name = SidebarTabs::toString(tab).section(u' ', 0, 0).toLower();
            QVERIFY(saveScreenshot(view.get(), u"settings-"_s + name));

            QWidget *content = view->tabContent(tab);
            const auto centre = [&](QWidget *w) { return w->mapTo(content, w->rect().center()); };
            QList<QWidget *> expected;
            for (QWidget *w : content->findChildren<QWidget *>())
                if ((qobject_cast<QAbstractButton *>(w) || qobject_cast<QLineEdit *>(w) ||
                     qobject_cast<QComboBox *>(w)) &&
                    w->isVisible() && w->isEnabled())
                    expected << w;
            std::sort(expected.begin(), expected.end(), [&](QWidget *a, QWidget *b) {
                const QPoint pa = centre(a), pb = centre(b);
                return std::abs(pa.y() - pb.y()) > 2 ? pa.y() < pb.y() : pa.x() < pb.x();
            });
            QList<QWidget *> reached;
            for (QTest::keyClick(focused(), Qt::Key_Tab);
                 content->isAncestorOf(focused()) && reached.size() < 40;
                 QTest::keyClick(focused(), Qt::Key_Tab))
                reached << focused();
            QCOMPARE(reached, expected);
            QCOMPARE(focused(), view->sidebarItem(tab));
        }

        view->setUpdateAvailable(true);
        QSignalSpy update(view.get(), &SettingsView::updateRequested);
        QTest::mouseClick(button(view->updateBanner(), u"Update Now"_s), Qt::LeftButton);
        QCOMPARE(update.size(), 1);
    }

    // Accounts listed with their provider; in General titled by address or provider, calendars
    // folded and counted, and one switched off re-fetched without. Removing every account by
    // keyboard keeps the focus in the tab; General then sets no reminders. Switches save at once.
    void accountsAndCalendars() {
        const ConnectedAccount google = grant(u"alex@northwind.test"_s, CalendarProvider::google);
        const ConnectedAccount microsoft = grant(QString(), CalendarProvider::microsoft);
        openWith({google, microsoft});
        AccountsContent *accounts = view->accounts();
        QVERIFY(shows(accounts, google.email) && shows(accounts, u"Google"_s) &&
                shows(accounts, u"Microsoft"_s) && !shows(accounts, u"No accounts connected"_s));
        QTRY_VERIFY_WITH_TIMEOUT(!calendar().events().isEmpty(), 10'000);
        view->selectTab(SidebarTab::general);
        GeneralContent *general = view->general();
        const QStringList texts = visibleTexts(general);
        QVERIFY(texts.contains(u"ALEX@NORTHWIND.TEST"_s) && texts.contains(u"MICROSOFT"_s));
        QCOMPARE(texts.count(u"All 2 active"_s), 2);
        QVERIFY(!texts.contains(u"Team Events"_s));
        QTest::keyClick(general->findChild<QAbstractButton *>(u"calendars:"_s + google.id),
                        Qt::Key_Space);
        QTRY_VERIFY(shows(general, u"Team Events"_s));
        const ProxyCalendar primary = calendar().accountCalendars().value(google.id).at(0);
        const auto onPrimary = [&] {
            return std::ranges::count(calendar().events(), primary.id, &CalendarEvent::calendarId);
        };
        QAbstractButton *primarySwitch = button(general, primary.name);
        QVERIFY(onPrimary() > 0 && primarySwitch->isChecked());
        QTest::keyClick(primarySwitch, Qt::Key_Space);
        QVERIFY(!settings->isCalendarEnabled(primary.id) && shows(general, u"1 of 2 active"_s));
        QTRY_COMPARE_WITH_TIMEOUT(onPrimary(), 0, 10'000);

        view->selectTab(SidebarTab::accounts);
        for (const ConnectedAccount &account : {google, microsoft}) {
            auto *remove =
                accounts->findChild<QAbstractButton *>(u"remove-account:"_s + account.id);
            remove->setFocus();
            QTest::keyClick(remove, Qt::Key_Space);
            QVERIFY(accounts->isAncestorOf(focused()));
        }
        QVERIFY(shows(accounts, u"No accounts connected"_s) && !shows(accounts, google.email));
        view->selectTab(SidebarTab::general);
        QVERIFY(shows(general, u"Connect an account to configure reminders."_s));
        const bool respect = settings->respectDND();
        QTest::keyClick(button(general, u"Respect Do Not Disturb"_s), Qt::Key_Space);
        QCOMPARE(button(general, u"Respect Do Not Disturb"_s)->isChecked(), !respect);
        QCOMPARE(env->makeSettings()->respectDND(), !respect);
    }

    // Lead times in order (at the start when none are stored), a menu of the missing ones while
    // any is missing; removing one by keyboard keeps the focus inside the card.
    void reminderOffsets() {
        const ConnectedAccount account = grant(u"sam@northwind.test"_s, CalendarProvider::google);
        openWith({account});
        view->selectTab(SidebarTab::general);
        GeneralContent *general = view->general();
        const auto rows = [general] {
            return visibleTexts(general).filter(QRegularExpression(u"before$|^At start$"_s));
        };
        QCOMPARE(rows(), QStringList{u"At start"_s});
        QStringList missing;
        for (const QAction *action : general->addReminderMenu(account.id)->actions())
            missing << action->text();
        QCOMPARE(missing,
                 (QStringList{u"1 minute before"_s, u"2 minutes before"_s, u"5 minutes before"_s,
                              u"10 minutes before"_s, u"15 minutes before"_s}));
        settings->addDefaultReminders(account.id); // as connecting the account does
        for (qsizetype i = 0; i < missing.size(); ++i)
            general->addReminderMenu(account.id)->actions().last()->trigger();
        QCOMPARE(rows(), QStringList{u"At start"_s} + missing);
        QVERIFY(!general->addReminderMenu(account.id));

        QAbstractButton *remove = button(general, u"Remove 2 minutes before"_s);
        remove->setFocus();
        QTest::keyClick(remove, Qt::Key_Space);
        QCOMPARE(general->addReminderMenu(account.id)->actions().first()->text(), missing[1]);
        QVERIFY(general->isAncestorOf(focused()));
    }

    // Beside each account's lead times, its alert style: full-screen until chosen otherwise,
    // chosen from the keyboard, kept per account, and forgotten with the account.
    void alertStylePerAccount() {
        const ConnectedAccount work = grant(u"kim@northwind.test"_s, CalendarProvider::google);
        const ConnectedAccount home = grant(u"kim@home.test"_s, CalendarProvider::microsoft);
        openWith({work, home});
        view->selectTab(SidebarTab::general);
        GeneralContent *general = view->general();
        QComboBox *workStyle = general->alertStyleBox(work.id);
        QComboBox *homeStyle = general->alertStyleBox(home.id);
        QVERIFY(workStyle && homeStyle);
        QCOMPARE(workStyle->accessibleName(), u"Alert style"_s);
        QStringList offered;
        for (int i = 0; i < workStyle->count(); ++i)
            offered << workStyle->itemText(i);
        QCOMPARE(offered, (QStringList{u"Full-screen"_s, u"Notification only"_s}));
        QCOMPARE(workStyle->currentText(), u"Full-screen"_s);

        workStyle->setFocus();
        QTest::keyClick(workStyle, Qt::Key_Down);
        QCOMPARE(workStyle->currentText(), u"Notification only"_s);
        QCOMPARE(env->makeSettings()->alertStyle(work.id), AlertStyle::notificationOnly);
        QCOMPARE(env->makeSettings()->alertStyle(home.id), AlertStyle::fullScreen);
        QCOMPARE(homeStyle->currentText(), u"Full-screen"_s);
        QCOMPARE(general->alertStyleBox(work.id), workStyle);

        // Changed elsewhere, the box follows.
        settings->setAlertStyle(home.id, AlertStyle::notificationOnly);
        QCOMPARE(homeStyle->currentText(), u"Notification only"_s);

        calendar().removeAccount(work);
        QCOMPARE(settings->alertStyle(work.id), AlertStyle::fullScreen);
        QCOMPARE(settings->alertStyle(home.id), AlertStyle::notificationOnly);
        QTRY_VERIFY(!general->alertStyleBox(work.id));
    }

    // A failure shows until the next attempt starts, which keeps both buttons off until the
    // sign-in page opens; the window comes back to the front when the sign-in completes.
    void connectCalendarThroughTheBrowser() {
        openWith({});
        ConnectButton *google = view->accounts()->connectButton(CalendarProvider::google);
        QLabel *error = view->accounts()->errorLabel();
        standIn->admin("POST", u"faults"_s,
                       {{"endpoint", "nylas/auth-url"}, {"status", 500}, {"times", 1}});
        QTest::mouseClick(google, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(error->isVisible(), 10'000);
        QCOMPARE(error->text(), u"Zelvane's sign-in service is not working right now (HTTP error "
                                u"500). Try again later, or use a calendar feed."_s);

        standIn->admin("POST", u"faults"_s, {{"endpoint", "nylas/auth-url"}, {"delayMs", 500}});
        QTest::mouseClick(google, Qt::LeftButton);
        QVERIFY(!error->isVisible() && !google->isEnabled() &&
                !view->accounts()->connectButton(CalendarProvider::microsoft)->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, 10'000);
        QCOMPARE(QUrlQuery(opened.first()).queryItemValue(u"provider"_s), u"google"_s);
        QTRY_VERIFY(google->isEnabled());

        QWidget other;
        QVERIFY(showActive(&other, {100, 100}));
        QUrl next = opened.first();
        next.setPath(u"/signin/continue"_s);
        std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(next)));
        QTRY_COMPARE_WITH_TIMEOUT(calendar().accounts().size(), 1, 10'000);
        QTRY_COMPARE(QApplication::activeWindow(), view.get());
    }

    // Provider and key live in the keyring; an unknown provider reads as Claude. Any key but
    // blanks counts as connected.
    void aiProviderAndKey() {
        QVERIFY(
            settle(keyring.save(QString::fromLatin1(SecretStore::llmProvider), u"Llama"_s)).ok());
        openWith({});
        view->selectTab(SidebarTab::ai);
        AIContent *ai = view->ai();
        QVERIFY(ai->providerRow(LLMProvider::claude)->isChecked() &&
                !ai->testButton()->isEnabled());
        QTest::keyClicks(ai->keyField(), u"  "_s);
        QTRY_COMPARE(stored(SecretStore::llmApiKey), u"  "_s);
        QVERIFY(ai->testButton()->isEnabled() && !shows(ai, u"Connected"_s));
        QTest::keyClicks(ai->keyField(), u"sk"_s);
        QVERIFY(shows(ai, u"Connected"_s));

        QTest::keyClick(ai->providerRow(LLMProvider::openai), Qt::Key_Space);
        QTRY_COMPARE(stored(SecretStore::llmProvider), u"OpenAI"_s);
        QCOMPARE(ai->keyField()->text(), u"  sk"_s);
        QCOMPARE(ai->keyField()->placeholderText(), u"Paste your OpenAI API key"_s);
    }

    // Refused addresses are named before anything is read, until the address is edited. A feed
    // being read takes no second attempt; one read adds its row, which says why the feed fails
    // later until a poll succeeds. Escape or success return the focus to the form's button.
    void feedForm_data() {
        QTest::addColumn<QString>("address"); // "held": a server that holds the request
        QTest::addColumn<QString>("outcome"); // the complaint, or the account's name
        QTest::newRow("plain http elsewhere")
            << u"http://calendar.example/x.ics"_s
            << u"Use an https:// or webcal:// address, or a file on this computer."_s;
        QTest::newRow("missing file")
            << u"/nonexistent/zelvane/calendar.ics"_s << u"The calendar file could not be read."_s;
        QTest::newRow("server goes away")
            << u"held"_s << u"The calendar feed could not be reached."_s;
        QTest::newRow("feed on loopback") << QString() << u"Team Feed"_s;
    }
    void feedForm() {
        QFETCH(QString, address);
        QFETCH(QString, outcome);
        openWith({});
        auto held = std::make_unique<LoopbackHttpServer>();
        QVERIFY(held->start());
        held->respondWith(Response::silence());
        CalendarFeedForm *form = view->accounts()->feedForm();
        QVERIFY(!form->isVisible() && !form->addButton()->isEnabled());
        QTest::keyClick(view->accounts()->connectButton(CalendarProvider::feed), Qt::Key_Space);
        QCOMPARE(focused(), form->addressField());
        QTest::keyClicks(form->addressField(), address == u"held"  ? held->origin() + u"/held.ics"_s
                                               : address.isEmpty() ? feedAddress()
                                                                   : address);
        QTest::keyClick(form->addressField(), Qt::Key_Tab);
        QTest::keyClick(focused(), Qt::Key_Tab);
        QCOMPARE(focused(), form->nameField());
        QTest::keyClicks(form->nameField(), u"Team Feed"_s);
        QTest::keyClick(form->nameField(), Qt::Key_Return);
        if (address == u"held") {
            QCOMPARE(form->progressLabel()->text(), u"Reading the calendar feed…"_s);
            QVERIFY(form->progressLabel()->isVisible() && form->addressField()->isReadOnly());
            QVERIFY(!form->addButton()->isEnabled());
            QVERIFY(saveScreenshot(view->accounts(), u"feedform-reading"_s));
            QTest::keyClick(form->nameField(), Qt::Key_Return);
            QTRY_COMPARE_WITH_TIMEOUT(held->requests().size(), 1, 10'000);
            QCOMPARE(held->openConnections(), 1);
            held.reset();
        }
        if (address.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(calendar().accounts().size(), 1, 10'000);
            QTRY_VERIFY(!form->isVisible());
            QVERIFY(form->addressField()->text().isEmpty() && shows(view->accounts(), outcome));
            const QString id = calendar().accounts().first().id;
            feeds.respondWith(Response::text("busy", 503));
            settle(calendar().fetchEvents());
            QLabel *problem = view->accounts()->feedProblemLabel(id);
            QVERIFY(problem && problem->isVisibleTo(view->accounts()));
            QCOMPARE(problem->text(), u"The calendar feed answered with HTTP status 503."_s);
            QCOMPARE(unreadable(view->accounts()), QStringList());
            feeds.respondWith({200, icsFeed(), "text/calendar", false});
            settle(calendar().fetchEvents());
            QVERIFY(!view->accounts()->feedProblemLabel(id));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(form->errorLabel()->isVisible(), 10'000);
            QCOMPARE(form->errorLabel()->text(), outcome);
            QCOMPARE(unreadable(form), QStringList());
            QVERIFY(!form->progressLabel()->isVisible() && !form->addressField()->isReadOnly());
            QVERIFY(calendar().accounts().isEmpty());
            QTest::keyClick(form->addressField(), Qt::Key_Backspace);
            QVERIFY(!form->errorLabel()->isVisible());
            QTest::keyClick(form->addressField(), Qt::Key_Escape);
            QVERIFY(!form->isVisible());
        }
        QCOMPARE(focused(), view->accounts()->connectButton(CalendarProvider::feed));
    }

    // Onboarding offers the feed as a third choice; its form takes the choices' place and,
    // with its complaint, fits the fixed-size window; so do the choices once connected.
    void onboardingOffersAFeed() {
        openWith({});
        OnboardingView onboarding(calendar());
        onboarding.setFixedSize(OnboardingView::contentWidth, OnboardingView::contentHeight);
        QVERIFY(showActive(&onboarding, onboarding.size()));
        onboarding.flow()->forward();
        OnboardingProviderRow *feedRow = onboarding.providerRow(CalendarProvider::feed);
        CalendarFeedForm *form = onboarding.feedForm();
        QVERIFY(feedRow->isVisible() && !form->isVisible());
        QCOMPARE(unreadable(&onboarding), QStringList());

        QTest::mouseClick(feedRow->connectButton(), Qt::LeftButton);
        QVERIFY(form->isVisible() && !feedRow->isVisible());
        QCOMPARE(focused(), form->addressField());
        QTest::keyClicks(form->addressField(), u"webcal//missing-colon"_s);
        QTest::keyClick(form->addressField(), Qt::Key_Return);
        QTRY_VERIFY(form->errorLabel()->isVisible());
        QVERIFY(saveScreenshot(&onboarding, u"feedform-onboarding-form"_s));
        QTRY_VERIFY(form->errorLabel()->height() >=
                    form->errorLabel()->heightForWidth(form->errorLabel()->width()));
        QVERIFY(form->geometry().bottom() < form->parentWidget()->height());

        form->addressField()->clear();
        QTest::keyClicks(form->addressField(), feedAddress());
        QTest::keyClick(form->addressField(), Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(calendar().accounts().size(), 1, 10'000);
        QTRY_VERIFY(!form->isVisible());
        QVERIFY(feedRow->isConnected() && feedRow->disconnectButton()->isVisible() &&
                shows(&onboarding, u"Calendar connected"_s));
        QCOMPARE(focused()->accessibleName(), u"Get Started"_s);
        QTRY_COMPARE(feedRow->height(), feedRow->sizeHint().height());
    }
};

QTEST_MAIN(TestSettingsView)
#include "tst_settingsview.moc"
