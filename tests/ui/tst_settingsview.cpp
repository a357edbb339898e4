#include "AccessibleWalk.h"
#include "BackendProcess.h"
#include "LoopbackHttpServer.h"
#include "Settle.h"
#include "TestEnvironment.h"
#include "WidgetTestSupport.h"
#include "app/AppServices.h"
#include "core/AppSettings.h"
#include "models/OnboardingFlow.h"
#include "platform/Autostart.h"
#include "sync/SMSService.h"
#include "ui/CalendarFeedForm.h"
#include "ui/CapsuleButton.h"
#include "ui/Controls.h"
#include "ui/OnboardingView.h"
#include "ui/Theme.h"
#include "ui/settings/AIContent.h"
#include "ui/settings/AccountsContent.h"
#include "ui/settings/GeneralContent.h"
#include "ui/settings/SMSContent.h"
#include "ui/settings/SettingsBlocks.h"
#include "ui/settings/SettingsView.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QJsonArray>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
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
        sms = std::make_unique<SMSService>(services->backend, services->secrets, *settings,
                                           Clock::system());
        view = std::make_unique<SettingsView>(SettingsServices{
            *settings, calendar(), services->slack, services->llm, *sms, services->secrets});
        calendar().fetchEvents();
        QVERIFY(showActive(view.get(), {720, 520}));
        QTRY_COMPARE_WITH_TIMEOUT(calendar().accountCalendars().size(), accounts.size(), 10'000);
    }

    // The window and its services again from what they stored, as after a restart.
    void reopen() {
        QTRY_VERIFY_WITH_TIMEOUT(!calendar().isLoading(), 10'000);
        view.reset();
        sms.reset();
        services.reset();
        settings = env->makeSettings();
        openWith({});
    }

    // The last calendar sign-in page the app sent the browser to.
    QUrl signInPage() const {
        for (auto it = opened.crbegin(); it != opened.crend(); ++it)
            if (QUrlQuery(*it).hasQueryItem(u"provider"_s))
                return *it;
        return {};
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
    // then Quit and the sidebar again.
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
            // Nothing runs off the window's side.
            for (QWidget *w : expected) {
                const QRect area(w->mapTo(view.get(), QPoint()), w->size());
                QVERIFY2(area.left() >= 0 && area.right() < view->width(),
                         qPrintable(w->accessibleName()));
            }
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
            // Quit, below the tabs in the sidebar, is the last stop.
            QCOMPARE(focused(), view->quitButton());
            QTest::keyClick(focused(), Qt::Key_Tab);
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
        // Each account's events are published as they come: both, once the refresh is over.
        QTRY_VERIFY_WITH_TIMEOUT(!calendar().events().isEmpty() && !calendar().isLoading(), 10'000);
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

        // Removing asks first; Escape keeps the account, the dialog's Remove removes it.
        view->selectTab(SidebarTab::accounts);
        for (const ConnectedAccount &account : {google, microsoft}) {
            const QString name = account.email.isEmpty() ? u"Microsoft"_s : account.email;
            auto *remove =
                accounts->findChild<QAbstractButton *>(u"remove-account:"_s + account.id);
            for (int key : {Qt::Key_Escape, Qt::Key_Return}) {
                remove->setFocus();
                QTest::keyClick(remove, Qt::Key_Space);
                QTRY_VERIFY(QApplication::activeModalWidget());
                const QPointer<QWidget> dialog = QApplication::activeModalWidget();
                // The dialog takes the keyboard, on its Cancel button.
                QTRY_COMPARE(QApplication::activeWindow(), dialog);
                QCOMPARE(focused()->accessibleName(), u"Cancel"_s);
                QCOMPARE(dialog->windowTitle(), u"Remove %1?"_s.arg(name));
                QCOMPARE(unreadable(dialog), QStringList());
                if (key == Qt::Key_Return)
                    QTest::keyClick(focused(), Qt::Key_Tab);
                QTest::keyClick(focused(), Qt::Key(key));
                QTRY_VERIFY(!dialog || !dialog->isVisible());
                const bool kept = std::ranges::count(calendar().accounts(), account.id,
                                                     &ConnectedAccount::id) == 1;
                QCOMPARE(kept, key == Qt::Key_Escape);
                QTRY_VERIFY(accounts->isAncestorOf(focused()));
            }
        }
        QVERIFY(shows(accounts, u"No accounts connected"_s) && !shows(accounts, google.email));
        // Each removed account's grant is revoked, once.
        const auto revoked = [this] {
            const QJsonArray requests = standIn->requestsTo(u"nylas/grant"_s);
            return std::ranges::count_if(requests, [](const QJsonValue &r) {
                return r[u"method"_s].toString() == u"DELETE"_s;
            });
        };
        QTRY_COMPARE_WITH_TIMEOUT(revoked(), 2, 10'000);
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
        // Listed in the order they fire, the earliest reminder first.
        QStringList firingOrder = missing;
        std::reverse(firingOrder.begin(), firingOrder.end());
        QCOMPARE(rows(), firingOrder + QStringList{u"At start"_s});
        QVERIFY(!general->addReminderMenu(account.id));

        QAbstractButton *remove = button(general, u"Remove 2 minutes before"_s);
        remove->setFocus();
        QTest::keyClick(remove, Qt::Key_Space);
        QCOMPARE(general->addReminderMenu(account.id)->actions().first()->text(), missing[1]);
        QVERIFY(general->isAncestorOf(focused()));
    }

    // Ctrl+W closes the window (the app keeps running); the sidebar's Quit asks the app to
    // end, by mouse or keyboard. On a dark desktop the pane's scroll bar keeps the window's
    // light look: a light groove with a darker handle.
    void closeQuitAndScrollBar() {
        const QPalette desktop = QApplication::palette();
        QPalette dark = desktop;
        for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button, QPalette::Mid,
                          QPalette::Dark, QPalette::Midlight})
            dark.setColor(role, QColor(35, 35, 35));
        for (auto role : {QPalette::Light, QPalette::WindowText, QPalette::ButtonText})
            dark.setColor(role, QColor(235, 235, 235));
        QApplication::setPalette(dark);
        const auto restore = qScopeGuard([&] { QApplication::setPalette(desktop); });
        openWith({grant(u"sam@northwind.test"_s, CalendarProvider::google)});
        view->resize(SettingsView::minimumWidth, SettingsView::minimumHeight);
        view->selectTab(SidebarTab::general);
        QScrollBar *bar = view->contentPane()->verticalScrollBar();
        QTRY_VERIFY(bar->isVisible() && bar->maximum() > 0);
        const QImage drawn = bar->grab().toImage();
        const auto lightness = [&](int y) {
            return QColor(drawn.pixel(bar->width() / 2, y)).lightness();
        };
        const int groove = lightness(bar->height() - 4);
        QVERIFY2(groove > 230, qPrintable(QString::number(groove)));
        int handle = 255;
        for (int y = 0; y < bar->height() / 4; ++y)
            handle = std::min(handle, lightness(y));
        QVERIFY2(handle < groove - 40, qPrintable(u"%1 %2"_s.arg(handle).arg(groove)));

        QSignalSpy quit(view.get(), &SettingsView::quitRequested);
        QTest::mouseClick(button(view.get(), u"Quit"_s), Qt::LeftButton);
        view->quitButton()->setFocus();
        QTest::keyClick(focused(), Qt::Key_Space);
        QCOMPARE(quit.size(), 2);
        QTest::keyClick(view.get(), Qt::Key_W, Qt::ControlModifier);
        QVERIFY(!view->isVisible());
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
        QCOMPARE(settings->alertStyle(work.id), AlertStyle::notificationOnly);
        QCOMPARE(homeStyle->currentText(), u"Full-screen"_s);

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
    // blanks shows as saved until it has been used.
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
        QVERIFY(ai->testButton()->isEnabled() && !ai->keyBadge(LLMProvider::claude)->isVisible());
        QTest::keyClicks(ai->keyField(), u"sk"_s);
        QVERIFY(shows(ai, u"Key saved"_s) && !shows(ai, u"Connected"_s));

        QTest::keyClick(ai->providerRow(LLMProvider::openai), Qt::Key_Space);
        QTRY_COMPARE(stored(SecretStore::llmProvider), u"OpenAI"_s);
        QCOMPARE(ai->keyField()->text(), u"  sk"_s);
        QCOMPARE(ai->keyField()->placeholderText(), u"Paste your OpenAI API key"_s);
        // A screen reader toggles a row without clicking it.
        ai->providerRow(LLMProvider::gemini)->toggle();
        QTRY_COMPARE(stored(SecretStore::llmProvider), u"Gemini"_s);
        QVERIFY(!ai->providerRow(LLMProvider::openai)->isChecked());
    }

    // The badge tells what the key's last use found, with the provider's complaint under the
    // field, and tells it again after a restart; the test's own outcome goes when the tab is
    // left.
    void aiKeyStatus() {
        LoopbackHttpServer provider;
        QVERIFY(provider.start());
        const QByteArray origin = qgetenv("ZELVANE_ANTHROPIC_ORIGIN");
        const auto restore = qScopeGuard([origin] { qputenv("ZELVANE_ANTHROPIC_ORIGIN", origin); });
        qputenv("ZELVANE_ANTHROPIC_ORIGIN", provider.origin().toUtf8());
        provider.respondWith(Response::text("invalid x-api-key", 401));
        QVERIFY(
            settle(keyring.save(QString::fromLatin1(SecretStore::llmProvider), u"Claude"_s)).ok());
        settle(keyring.remove(QString::fromLatin1(SecretStore::llmApiKey)));
        openWith({});
        view->selectTab(SidebarTab::ai);
        AIContent *ai = view->ai();
        QTest::keyClicks(ai->keyField(), u"sk-wrong"_s);
        QTest::mouseClick(ai->testButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(ai->testResultLabel()->isVisible(), 10'000);
        QCOMPARE(ai->testResultLabel()->text(), u"Failed — check your key"_s);
        QCOMPARE(provider.requests().last().header("x-api-key"), QByteArray("sk-wrong"));
        const auto badgeOf = [this] { return view->ai()->keyBadge(LLMProvider::claude); };
        QVERIFY(badgeOf()->isVisible());
        QCOMPARE(badgeOf()->text(), u"Not working"_s);
        QCOMPARE(badgeOf()->color(), Theme::Colors::red());
        QVERIFY(ai->keyProblemLabel()->isVisible());
        QCOMPARE(ai->keyProblemLabel()->text(), u"Claude API error 401: invalid x-api-key"_s);
        QCOMPARE(unreadable(ai), QStringList());
        QVERIFY(saveScreenshot(view.get(), u"settings-ai-not-working"_s));
        view->selectTab(SidebarTab::sms);
        view->selectTab(SidebarTab::ai);
        QVERIFY(!ai->testResultLabel()->isVisible() && ai->keyProblemLabel()->isVisible());

        reopen();
        view->selectTab(SidebarTab::ai);
        QTRY_COMPARE(view->ai()->keyField()->text(), u"sk-wrong"_s);
        QCOMPARE(badgeOf()->text(), u"Not working"_s);
        provider.respondWith(Response::json("{}"));
        QTest::mouseClick(view->ai()->testButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(badgeOf()->text(), u"Connected"_s, 10'000);
        QCOMPARE(badgeOf()->color(), Theme::Colors::green());
        QVERIFY(!view->ai()->keyProblemLabel()->isVisible());
        QVERIFY(saveScreenshot(view.get(), u"settings-ai-connected"_s));
    }

    // The switch answers however it is toggled (a screen reader toggles without a click); the
    // number can be typed only while it is on; both come back after a restart, from a file
    // only the user may read.
    void smsSettingsSurviveARestart() {
        openWith({});
        view->selectTab(SidebarTab::sms);
        QVERIFY(!view->sms()->enableSwitch()->isChecked() &&
                !view->sms()->phoneField()->isEnabled());
        view->sms()->enableSwitch()->toggle();
        QVERIFY(sms->smsEnabled() && view->sms()->phoneField()->isEnabled());
        QTest::keyClicks(view->sms()->phoneField(), u"+15551234567"_s);
        QCOMPARE(sms->phoneNumber(), u"+15551234567"_s);

        reopen();
        view->selectTab(SidebarTab::sms);
        QVERIFY(view->sms()->enableSwitch()->isChecked() && view->sms()->phoneField()->isEnabled());
        QCOMPARE(view->sms()->phoneField()->text(), u"+15551234567"_s);
        QTest::keyClick(view->sms()->enableSwitch(), Qt::Key_Space);
        QVERIFY(!sms->smsEnabled() && !view->sms()->phoneField()->isEnabled());
        const auto reread = env->makeSettings();
        QCOMPARE(reread->value(AppSettings::Key::SmsEnabled), QVariant(false));
        QCOMPARE(reread->value(AppSettings::Key::SmsPhoneNumber), QVariant(u"+15551234567"_s));
        QCOMPARE(QFile::permissions(env->configHome() + u"/Zelvane/Zelvane.conf"_s),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    }

    // The backend address is kept when Save is pressed or Enter typed, as an origin; a refused
    // one is named under the field and nothing is kept.
    void backendAddressField() {
        openWith({});
        view->selectTab(SidebarTab::accounts);
        AccountsContent *accounts = view->accounts();
        QLineEdit *field = accounts->backendField();
        QCOMPARE(field->accessibleName(), u"Backend address"_s);
        QVERIFY(!accounts->backendErrorLabel()->isVisible());
        field->setFocus();
        QTest::keyClicks(field, u"http://backend.example.test"_s);
        QTest::mouseClick(accounts->backendSaveButton(), Qt::LeftButton);
        QVERIFY(accounts->backendErrorLabel()->isVisible());
        QVERIFY(accounts->backendErrorLabel()->text().contains(u"https://"_s));
        view->findChild<QScrollArea *>()->ensureWidgetVisible(accounts->backendErrorLabel());
        QVERIFY(saveScreenshot(view.get(), u"settings-backend-address-refused"_s));
        QVERIFY(!settings->contains(AppSettings::Key::BackendOrigin));
        QCOMPARE(field->text(), u"http://backend.example.test"_s);

        field->selectAll();
        QTest::keyClicks(field, u"https://backend.example.test:8443/"_s);
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY(!accounts->backendErrorLabel()->isVisible());
        QCOMPARE(settings->value(AppSettings::Key::BackendOrigin).toString(),
                 u"https://backend.example.test:8443"_s);
        QCOMPARE(field->text(), u"https://backend.example.test:8443"_s);
    }

    // Coming back to the tab drops the last connection error and reads Slack's state again,
    // whoever changed it meanwhile.
    void accountsTabShownAgain() {
        openWith({});
        AccountsContent *accounts = view->accounts();
        standIn->admin("POST", u"faults"_s,
                       {{"endpoint", "nylas/auth-url"}, {"status", 500}, {"times", 1}});
        QTest::mouseClick(accounts->connectButton(CalendarProvider::google), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(accounts->errorLabel()->isVisible(), 10'000);
        QVERIFY(shows(accounts, u"Connect Slack"_s));
        const QString token = QString::fromLatin1(SecretStore::slackToken);
        const auto forget = qScopeGuard([&] { settle(keyring.remove(token)); });
        QVERIFY(settle(keyring.save(token, u"xoxp-elsewhere"_s)).ok());
        view->selectTab(SidebarTab::general);
        view->selectTab(SidebarTab::accounts);
        QVERIFY(!accounts->errorLabel()->isVisible());
        QTRY_VERIFY(shows(accounts, u"Slack Connected"_s));
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
            // Cancelled, the form opens empty next time.
            QTest::keyClick(form->addressField(), Qt::Key_Escape);
            QVERIFY(!form->isVisible());
            QVERIFY(form->addressField()->text().isEmpty() && form->nameField()->text().isEmpty());
        }
        QCOMPARE(focused(), view->accounts()->connectButton(CalendarProvider::feed));
        // A feed is one calendar, counted without an "All".
        if (address.isEmpty()) {
            view->selectTab(SidebarTab::general);
            QTRY_VERIFY(shows(view->general(), u"1 of 1 active"_s));
        }
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

        const QString signIn = u"Sign in to see upcoming meetings and trigger reminders."_s;
        QVERIFY(shows(&onboarding, signIn));
        QTest::mouseClick(feedRow->connectButton(), Qt::LeftButton);
        QVERIFY(form->isVisible() && !feedRow->isVisible());
        QCOMPARE(focused(), form->addressField());
        // A feed asks for no sign-in, and what its address may be is shown whole.
        QVERIFY(!shows(&onboarding, signIn));
        QCOMPARE(onboarding.connectSubtitle()->text(),
                 u"Add your calendar's feed address to see upcoming meetings and trigger "
                 u"reminders."_s);
        QLineEdit *address = form->addressField();
        QVERIFY(address->fontMetrics().horizontalAdvance(address->placeholderText()) <
                address->width() - 20);
        QLabel *hint = form->addressHint();
        QVERIFY(hint->isVisible() && hint->wordWrap());
        QVERIFY(hint->height() >= hint->heightForWidth(hint->width()));
        QVERIFY(hint->geometry().right() <= form->width());
        QTest::keyClick(address, Qt::Key_Escape);
        QVERIFY(shows(&onboarding, signIn));
        // Shown again, the choices are laid out before they can be clicked.
        QTRY_VERIFY(feedRow->connectButton()->height() > 0);
        QTest::mouseClick(feedRow->connectButton(), Qt::LeftButton);
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
        // Every choice, the line under them and the step marks fit without being squeezed.
        QVERIFY2(onboarding.minimumSizeHint().height() <= OnboardingView::contentHeight,
                 qPrintable(QString::number(onboarding.minimumSizeHint().height())));
    }

    // The switch shows the stored choice without acting on it; each change by keyboard is
    // stored and carried out on the login entry at once.
    void openAtLogin() {
        openWith({});
        view->selectTab(SidebarTab::general);
        QAbstractButton *toggle = button(view->general(), u"Open at login"_s);
        QVERIFY(toggle && toggle->isChecked() && shows(view->general(), u"Open at login"_s));
        QVERIFY(!Autostart::isEnabled());
        toggle->setFocus();
        QTest::keyClick(toggle, Qt::Key_Space);
        QVERIFY(!env->makeSettings()->launchAtLogin() && !Autostart::isEnabled());
        QTest::keyClick(toggle, Qt::Key_Space);
        QVERIFY(env->makeSettings()->launchAtLogin() && Autostart::isEnabled());
        // A screen reader's Toggle does what a click does.
        toggle->toggle();
        QVERIFY(!settings->launchAtLogin() && !Autostart::isEnabled());
        settings->setLaunchAtLogin(true);
        QVERIFY(toggle->isChecked());
    }

    // Slack waits for its browser on its own row, with a way out, while the calendar buttons
    // stay usable; its failure shows on its row, not under the calendars.
    void slackRowWaitsOnItsOwn() {
        openWith({});
        AccountsContent *accounts = view->accounts();
        const auto slackButton = [accounts] {
            return accounts->findChild<QAbstractButton *>(u"slack-action"_s);
        };
        const QString waiting = u"Waiting for Slack… Finish signing in in your browser."_s;
        QTest::mouseClick(slackButton(), Qt::LeftButton);
        QTRY_VERIFY(shows(accounts, waiting));
        QCOMPARE(slackButton()->accessibleName(), u"Cancel"_s);
        QVERIFY(accounts->connectButton(CalendarProvider::google)->isEnabled() &&
                accounts->connectButton(CalendarProvider::microsoft)->isEnabled());
        QCOMPARE(unreadable(accounts), QStringList());
        QVERIFY(saveScreenshot(accounts, u"accounts-slack-waiting"_s));
        QTest::keyClick(slackButton(), Qt::Key_Space);
        QVERIFY(!shows(accounts, waiting) && shows(accounts, u"Connect Slack"_s));
        QCOMPARE(slackButton()->accessibleName(), u"Connect"_s);

        standIn->admin("POST", u"faults"_s, {{"endpoint", "slack/exchange"}, {"status", 502}});
        opened.clear();
        QTest::mouseClick(slackButton(), Qt::LeftButton);
        QTRY_COMPARE(opened.size(), 1);
        QUrl allow = opened.first();
        allow.setPath(u"/oauth/v2/authorize/allow"_s);
        std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(allow)));
        QLabel *error = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(error = accounts->findChild<QLabel *>(u"slack-error"_s), 10'000);
        QVERIFY(error->isVisibleTo(accounts) && !error->text().isEmpty());
        QVERIFY(!accounts->errorLabel()->isVisible());
        QCOMPARE(slackButton()->accessibleName(), u"Connect"_s);
    }

    // Worked through accessible actions alone, as Orca, switch access or voice control work
    // it: a switch's action changes its setting and its checked state is announced; every
    // other control in every tab, the sidebar (page tabs, checked in tests/e2e over AT-SPI),
    // the feed form and onboarding does what a click does.
    void accessibleActions() {
        QDesktopServices::setUrlHandler(u"https"_s, this, "open");
        const auto unset = qScopeGuard([] { QDesktopServices::unsetUrlHandler(u"https"_s); });
        const ConnectedAccount account = grant(u"sam@northwind.test"_s, CalendarProvider::google);
        openWith({account});
        const auto iface = [](QObject *o) { return QAccessible::queryAccessibleInterface(o); };
        const auto activate = [](QAccessibleInterface *control) {
            // What a screen reader's "activate" does: the first action.
            control->actionInterface()->doAction(
                control->actionInterface()->actionNames().value(0));
        };
        view->selectTab(SidebarTab::general);
        GeneralContent *general = view->general();
        activate(iface(general->findChild<QAbstractButton *>(u"calendars:"_s + account.id)));
        const ProxyCalendar primary = calendar().accountCalendars().value(account.id).at(0);
        QTRY_VERIFY(button(general, primary.name));
        const QList<std::pair<QString, std::function<bool()>>> switches{
            {u"Play sound"_s, [this] { return settings->soundEnabled(); }},
            {u"Respect Do Not Disturb"_s, [this] { return settings->respectDND(); }},
            {u"Open at login"_s, [this] { return settings->launchAtLogin(); }},
            {primary.name, [&] { return settings->isCalendarEnabled(primary.id); }}};
        for (const auto &[name, stored] : switches) {
            QAbstractButton *toggle = button(general, name);
            QVERIFY2(toggle, qPrintable(name));
            QAccessibleInterface *control = iface(toggle);
            QVERIFY2(control->role() == QAccessible::CheckBox, qPrintable(name));
            for (bool expected : {!stored(), stored()}) {
                activate(control);
                QTRY_COMPARE(stored(), expected);
                QCOMPARE(bool(control->state().checked), expected);
            }
        }

        // Every control of every tab, the sidebar and the update banner.
        qsizetype covered = 0;
        QStringList problems;
        // The browser comes back to the last sign-in it was sent to.
        const auto finishSignIn = [&] {
            QUrl back;
            QTRY_VERIFY(!(back = signInPage()).isEmpty());
            opened.clear();
            back.setPath(u"/signin/continue"_s);
            const qsizetype accounts = calendar().accounts().size();
            std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(back)));
            QTRY_COMPARE_WITH_TIMEOUT(calendar().accounts().size(), accounts + 1, 10'000);
        };
        const auto walk = [&](QWidget *root) {
            const AccessibleWalk::Report report = AccessibleWalk::walk(root);
            qInfo("%s: %lld controls, %lld broken", root->metaObject()->className(),
                  report.covered.size(), report.broken.size());
            covered += report.covered.size();
            for (const QString &control : report.covered)
                qInfo("  %s %s", qPrintable(control),
                      qPrintable(report.broken.value(control).join(u"; "_s)));
            problems << report.problems();
        };
        view->setUpdateAvailable(true);
        view->general()->enableUpdates();
        walk(view->updateBanner());
        for (SidebarTab tab : SidebarTabs::all()) {
            view->selectTab(tab);
            walk(view->tabContent(tab));
            if (tab != SidebarTab::accounts)
                continue;
            // The Connect buttons opened sign-ins: the last calendar's comes back from the
            // browser, Slack's is cancelled.
            finishSignIn();
            auto *slack = view->accounts()->findChild<QAbstractButton *>(u"slack-action"_s);
            QTRY_COMPARE(slack->accessibleName(), u"Cancel"_s);
            slack->click();
        }
        walk(view->quitButton()->parentWidget());
        view->selectTab(SidebarTab::accounts);
        QTest::keyClick(view->accounts()->connectButton(CalendarProvider::feed), Qt::Key_Space);
        walk(view->accounts()->feedForm());
        OnboardingView onboarding(calendar());
        onboarding.setFixedSize(OnboardingView::contentWidth, OnboardingView::contentHeight);
        QVERIFY(showActive(&onboarding, onboarding.size()));
        QList<int> steps;
        connect(onboarding.flow(), &OnboardingFlow::changed, this, [&] {
            if (steps.isEmpty() || steps.last() != onboarding.flow()->step())
                steps << onboarding.flow()->step();
        });
        walk(&onboarding);
        finishSignIn();
        qInfo("%lld controls in all", covered);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
        // Continue led on, Back led back.
        QCOMPARE(steps, (QList<int>{OnboardingFlow::connectCalendar, OnboardingFlow::welcome}));
    }

    // Without a name of the user's, a feed is called by its own; its row shows where it comes
    // from, so two feeds can be told apart.
    void feedNamedByItself() {
        QByteArray body = icsFeed();
        body.replace("PRODID:-//Test//EN\r\n",
                     "PRODID:-//Test//EN\r\nX-WR-CALNAME:Platform Rota\r\n");
        feeds.respondWith({200, body, "text/calendar", false});
        openWith({});
        AccountsContent *accounts = view->accounts();
        QTest::keyClick(accounts->connectButton(CalendarProvider::feed), Qt::Key_Space);
        QTest::keyClicks(accounts->feedForm()->addressField(), feedAddress());
        QTest::keyClick(accounts->feedForm()->addressField(), Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(calendar().accounts().size(), 1, 10'000);
        const ConnectedAccount feed = calendar().accounts().first();
        QCOMPARE(feed.email, u"Platform Rota"_s);
        QTRY_VERIFY(accounts->findChild<QLabel *>(u"feed-address:"_s + feed.id));
        QCOMPARE(accounts->findChild<QLabel *>(u"feed-address:"_s + feed.id)->text(),
                 QUrl(feedAddress()).host() + u':' + QString::number(QUrl(feedAddress()).port()) +
                     u"/private/basic.ics"_s);
        QVERIFY(shows(accounts, u"Platform Rota"_s));
        QCOMPARE(unreadable(accounts), QStringList());
        QVERIFY(saveScreenshot(accounts, u"accounts-feed-row"_s));
        view->selectTab(SidebarTab::general);
        QVERIFY(shows(view->general(), u"PLATFORM ROTA"_s));
    }
};

QTEST_MAIN(TestSettingsView)
#include "tst_settingsview.moc"
