#include "AccessibleWalk.h"
#include "BackendProcess.h"
#include "FakeNotificationServer.h"
#include "ManualClock.h"
#include "TestEnvironment.h"
#include "app/AppController.h"
#include "app/AppServices.h"
#include "app/ReminderPresenter.h"
#include "app/StatusMenu.h"
#include "app/StatusMenuModel.h"
#include "core/AppSettings.h"
#include "models/TrayCountdown.h"
#include "platform/Autostart.h"
#include "platform/DesktopNotification.h"
#include "platform/DoNotDisturb.h"
#include "ui/CapsuleButton.h"
#include "ui/OnboardingView.h"
#include "ui/OverlayWindowController.h"
#include "ui/settings/SettingsView.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QUrlQuery>

using namespace Qt::StringLiterals;

namespace {
const QDateTime menuNow = QDateTime(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC);

CalendarEvent meeting(const QString &id, double secondsFromNow, const QString &title = {},
                      const QDateTime &now = menuNow) {
    CalendarEvent event;
    event.id = id;
    event.title = title.isEmpty() ? u"Meeting "_s + id : title;
    event.startDate = now.addMSecs(qint64(secondsFromNow * 1000));
    event.endDate = event.startDate.addSecs(1800);
    return event;
}

const QUrl zoom(u"https://zoom.us/j/5"_s);

// A reminder five minutes after the manual clock's start, in a calendar whose name needs
// escaping in a notification's body.
CalendarEvent review(std::optional<QUrl> link) {
    CalendarEvent event = meeting(u"review"_s, 300, u"Design review"_s,
                                  QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC));
    event.calendarTitle = u"Work <team>"_s;
    event.meetingLink = std::move(link);
    return event;
}

StatusMenuState stateWith(QList<CalendarEvent> events) {
    StatusMenuState state;
    state.events = std::move(events);
    state.now = menuNow;
    state.locale = QLocale(QLocale::English, QLocale::UnitedStates);
    return state;
}

// The menu as a user meets it: "---" for a separator, a disabled entry in brackets, a shortcut
// after a tab.
QStringList shown(const QMenu *menu) {
    QStringList shown;
    for (const QAction *action : menu->actions()) {
        QString text = action->isSeparator() ? u"---"_s : action->text();
        if (!action->shortcut().isEmpty())
            text += u'\t' + action->shortcut().toString();
        shown << (action->isEnabled() ? text : u'(' + text + u')');
    }
    return shown;
}

void click(QWidget *window, const QString &title) {
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>())
        if (button->isVisibleTo(window) && button->text() == title)
            return QTest::mouseClick(button, Qt::LeftButton);
    QFAIL(qPrintable(u"no button "_s + title));
}

void finish(QNetworkReply *reply) {
    QSignalSpy done(reply, &QNetworkReply::finished);
    QVERIFY(done.wait(10'000));
    reply->deleteLater();
}
} // namespace

class TestAppController : public QObject {
    Q_OBJECT

public Q_SLOTS:
    // Stands in for the browser: remembers the pages the app asked to open.
    void openInBrowser(const QUrl &url) { opened << url; }

private:
    QDBusConnection serverBus{u"unused"_s};
    FakeNotificationServer server;
    TestEnvironment env;
    std::unique_ptr<AppSettings> settings = env.makeSettings();
    BackendProcess backend;
    QNetworkAccessManager network;
    QList<QUrl> opened;
    AppServices services{*settings, Clock::system()};
    AppController app{*settings, services};
    // A reminder presenter of its own, on a desktop whose quiet the test decides.
    ManualClock clock;
    OverlayWindowController overlay{*settings, clock};
    DesktopNotification notifications;
    std::unique_ptr<ReminderPresenter> presenter;
    bool quiet = true;

    void present(const CalendarEvent &event) {
        QCoro::waitFor(presenter->present(event, std::nullopt));
    }
    void newPresenter(bool respect, bool isQuiet, bool refused) {
        overlay.closeAll();
        server.shown.clear();
        server.refuse = refused;
        quiet = isQuiet;
        opened.clear();
        settings->setRespectDND(respect);
        presenter = std::make_unique<ReminderPresenter>(*settings, overlay, notifications, clock,
                                                        [this] { return quiet; });
    }

    bool revoked() {
        const QJsonArray requests = backend.requestsTo(u"nylas/grant"_s);
        return std::any_of(requests.begin(), requests.end(), [](const QJsonValue &r) {
            return r["method"].toString() == "DELETE"_L1;
        });
    }

private Q_SLOTS:
    void initTestCase() {
        settings->setSoundEnabled(false);
        serverBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"server"_s);
        QVERIFY(serverBus.registerObject(u"/org/freedesktop/Notifications"_s, &server,
                                         QDBusConnection::ExportAllContents));
        QVERIFY(serverBus.registerService(u"org.freedesktop.Notifications"_s));
        QDesktopServices::setUrlHandler(u"http"_s, this, "openInBrowser");
        QDesktopServices::setUrlHandler(u"https"_s, this, "openInBrowser");
        QVERIFY2(backend.start(), qPrintable(backend.error()));
        qputenv("ZELVANE_BACKEND_ORIGIN", backend.origin().toUtf8());
    }

    // The first meeting counts down from five minutes; the menu lists five meetings at most, a
    // meeting under way among them until it ends.
    void meetingTimes() {
        const std::pair<QList<CalendarEvent>, QStringList> cases[] = {
            {{meeting("a", 30, "Standup"), meeting("b", 120, "Two")},
             {"NOW  Standup", "9:02 AM  Two"}},
            {{meeting("a", 300, "Sync")}, {"in 5 min  Sync"}},
            {{meeting("a", 360, "Sync")}, {"9:06 AM  Sync"}},
            // Ended ones are skipped; those under way read NOW until they end.
            {{meeting("z", -1801), meeting("a", -600), meeting("b", 0), meeting("c", 200),
              meeting("d", 3600), meeting("e", 7200), meeting("f", 7260)},
             {"NOW  Meeting a", "NOW  Meeting b", "9:03 AM  Meeting c", "10:00 AM  Meeting d",
              "11:00 AM  Meeting e"}}};
        for (const auto &[events, expected] : cases) {
            QStringList titles;
            for (const StatusMenuEntry &entry : StatusMenuModel::entries(stateWith(events)))
                if (entry.kind == StatusMenuEntry::Kind::meeting)
                    titles << entry.title;
            QCOMPARE(titles, expected);
        }
    }

    // The menu and the tray's tooltip write clock times the user's way, never with seconds,
    // also where the system's locale is C.
    void trayTimesWithoutSeconds_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("time");
        QTest::newRow("C") << QLocale(u"C"_s) << u"10:00"_s;
        QTest::newRow("en_US") << QLocale(u"en_US"_s) << u"10:00 AM"_s;
    }
    void trayTimesWithoutSeconds() {
        QFETCH(QLocale, locale);
        QFETCH(QString, time);
        // An hour and 29 seconds away: shown seconds would read "10:00:29".
        const QList<CalendarEvent> events{meeting("a", 3629, "Planning")};
        StatusMenuState state = stateWith(events);
        state.locale = locale;
        QStringList titles;
        for (const StatusMenuEntry &entry : StatusMenuModel::entries(state))
            if (entry.kind == StatusMenuEntry::Kind::meeting)
                titles << QString(entry.title).replace(QChar(0x202F), u' ');
        QCOMPARE(titles, QStringList{time + u"  Planning"_s});
        QCOMPARE(
            TrayCountdown::statusAt(events, menuNow, locale).toolTip.replace(QChar(0x202F), u' '),
            u"Planning at "_s + time);
    }

    // The menu shows the entries of the moment it opens; an entry is enabled only when someone
    // acts on it.
    void menuRebuildsOnOpening() {
        StatusMenuState state = stateWith({meeting("gone", -1805)});
        state.updateAvailable = true;
        StatusMenu menu([&state] { return StatusMenuModel::entries(state); });
        QStringList asked;
        connect(&menu, &StatusMenu::prepMeetingRequested, this,
                [&](const CalendarEvent &e) { asked << u"prep "_s + e.id; });
        connect(&menu, &StatusMenu::viewBriefRequested, this,
                [&](const CalendarEvent &e) { asked << u"view "_s + e.id; });
        connect(&menu, &StatusMenu::openAppRequested, this, [&] { asked << u"open"_s; });
        Q_EMIT menu.menu()->aboutToShow();
        QCOMPARE(shown(menu.menu()), (QStringList{"(⬆  Update Available — Install Now)", "---",
                                                  "(No upcoming meetings)", "---", "Open Zelvane",
                                                  "---", "(Quit Zelvane)"}));

        // A meeting with a link joins from its entry, its brief once ready beside Join in a
        // submenu; research under way does not stop the joining.
        state = stateWith({meeting("a", 270, "Design review"), meeting("b", 3600, "Planning"),
                           meeting("c", 7200, "Retro"), meeting("d", 7500, "Call"),
                           meeting("e", 7800, "Demo")});
        state.events[3].meetingLink = zoom;
        state.events[4].meetingLink = zoom;
        state.researching = {"b", "c", "d"};
        state.briefs.insert("c", MeetingBrief());
        state.briefs.insert("e", MeetingBrief());
        connect(&menu, &StatusMenu::joinRequested, this,
                [&](const CalendarEvent &e) { asked << u"join "_s + e.id; });
        Q_EMIT menu.menu()->aboutToShow();
        QCOMPARE(
            shown(menu.menu()),
            (QStringList{"in 4 min  Design review", "(⏳ 10:00 AM  Planning)", "✨ 11:00 AM  Retro",
                         "⏳ 11:05 AM  Call", "✨ 11:10 AM  Demo", "---", "Open Zelvane", "---",
                         "(Check for Updates…)", "---", "(Quit Zelvane)"}));
        QMenu *demo = menu.menu()->actions().at(4)->menu();
        QVERIFY(demo && !menu.menu()->actions().at(3)->menu());
        QCOMPARE(shown(demo), (QStringList{"Join", "View Brief"}));
        for (QMenu *level : {menu.menu(), demo})
            for (QAction *action : level->actions())
                action->trigger();
        QCOMPARE(asked, (QStringList{"prep a", "view c", "join d", "open", "join e", "view e"}));

        // Without any calendar the menu says how to connect one, and the next opening
        // forgets the old submenus.
        QPointer<QMenu> oldSubmenu = demo;
        state = stateWith({});
        state.hasCalendar = false;
        connect(&menu, &StatusMenu::connectCalendarRequested, this, [&] { asked << u"connect"_s; });
        Q_EMIT menu.menu()->aboutToShow();
        QVERIFY(!oldSubmenu);
        QCOMPARE(shown(menu.menu()).mid(0, 3),
                 (QStringList{"(No calendar connected)", "Connect a Calendar…", "---"}));
        menu.menu()->actions().at(1)->trigger();
        QCOMPARE(asked.last(), u"connect"_s);
    }

    // Every entry works through its accessible action, as a screen reader's activate works it,
    // and none tells of a shortcut (a tray menu has none).
    void trayMenuThroughAssistiveTools() {
        StatusMenuState state =
            stateWith({meeting("a", 270, "Design review"), meeting("b", 3600, "Planning"),
                       meeting("c", 7200, "Retro")});
        state.updateAvailable = true;
        state.events[1].meetingLink = zoom;
        state.events[2].meetingLink = zoom;
        state.briefs.insert("c", MeetingBrief());
        StatusMenu menu([&state] { return StatusMenuModel::entries(state); });
        QStringList asked;
        const auto ask = [&](const QString &what) { return [&asked, what] { asked << what; }; };
        const auto askAbout = [&](const QString &what) {
            return [&asked, what](const CalendarEvent &e) { asked << what + u' ' + e.id; };
        };
        connect(&menu, &StatusMenu::installUpdateRequested, this, ask(u"install"_s));
        connect(&menu, &StatusMenu::openAppRequested, this, ask(u"open"_s));
        connect(&menu, &StatusMenu::quitRequested, this, ask(u"quit"_s));
        connect(&menu, &StatusMenu::prepMeetingRequested, this, askAbout(u"prep"_s));
        connect(&menu, &StatusMenu::joinRequested, this, askAbout(u"join"_s));
        connect(&menu, &StatusMenu::viewBriefRequested, this, askAbout(u"view"_s));
        // Opening the menu rebuilds it, so the submenu is taken from the open menu.
        menu.menu()->popup(QPoint(100, 100));
        QVERIFY(QTest::qWaitForWindowExposed(menu.menu()));
        QMenu *retro = menu.menu()->actions().at(4)->menu();
        QVERIFY(retro);

        qsizetype covered = 0;
        for (QMenu *level : {menu.menu(), retro}) {
            if (!level->isVisible())
                level->popup(QPoint(300, 100));
            QVERIFY(QTest::qWaitForWindowExposed(level));
            const AccessibleWalk::Report report = AccessibleWalk::walk(level);
            qInfo("%s: %lld controls, %lld broken", qPrintable(level->accessibleName()),
                  report.covered.size(), report.broken.size());
            covered += report.covered.size();
            QVERIFY2(report.broken.isEmpty(), qPrintable(report.problems().join(u'\n')));
            QAccessibleInterface *list = QAccessible::queryAccessibleInterface(level);
            for (int i = 0; i < list->childCount(); ++i)
                QCOMPARE(list->child(i)->text(QAccessible::Accelerator), QString());
            for (const QAction *action : level->actions())
                QVERIFY2(action->shortcut().isEmpty(), qPrintable(action->text()));
        }
        QCOMPARE(asked,
                 (QStringList{"install", "prep a", "join b", "open", "quit", "join c", "view c"}));
        QCOMPARE(covered, asked.size() + 1); // the submenu's own entry opens it
    }

    // A brief preview replaces the current one.
    void briefPreviewsReplaceEachOther() {
        app.showBriefPreview(meeting("r", 600, {}, QDateTime::currentDateTime()), MeetingBrief());
        QPointer<QWidget> first = app.briefWindow();
        app.showBriefPreview(meeting("r", 600, {}, QDateTime::currentDateTime()), MeetingBrief());
        QPointer<QWidget> second = app.briefWindow();
        QVERIFY(first && second && second != first);
        QTest::keyClick(second, Qt::Key_Escape);
        QVERIFY(!app.briefWindow());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!second && first->isVisible());
    }

    // On a quiet desktop the reminder is a notification that stays until answered; each
    // answer counts once, and only for our own notifications while they are up.
    void quietDesktopGetsANotificationInsteadOfTheOverlay() {
        newPresenter(true, true, false);
        for (const std::optional<QUrl> &link : {std::optional(zoom), {}, {}})
            present(review(link));
        QVERIFY(overlay.windows().isEmpty());
        QCOMPARE(server.shown.size(), 3);
        const QStringList first = server.shown.first();
        QCOMPARE(first[0], u"Design review"_s);
        QVERIFY2(first[1].startsWith(u"Starting in 5 min"_s), qPrintable(first[1]));
        QVERIFY2(first[1].endsWith(u"\nWork &lt;team&gt;"_s), qPrintable(first[1]));
        QCOMPARE(first.mid(2), (QStringList{u"join,Join,dismiss,Dismiss"_s, u"2"_s, u"0"_s}));
        // Without a link there is nothing to join.
        QCOMPARE(server.shown[1][2], u"dismiss,Dismiss"_s);

        QSignalSpy dismissed(presenter.get(), &ReminderPresenter::dismissed);
        Q_EMIT server.ActionInvoked(41, u"join"_s);
        QTRY_COMPARE(opened, QList<QUrl>{zoom});
        Q_EMIT server.ActionInvoked(41, u"join"_s);
        Q_EMIT server.ActionInvoked(41, u"dismiss"_s);
        // Another application's notification with the same action key.
        Q_EMIT server.ActionInvoked(7, u"dismiss"_s);
        Q_EMIT server.ActionInvoked(42, u"dismiss"_s);
        Q_EMIT server.ActionInvoked(42, u"dismiss"_s);
        // Closed by the server without an answer: a late action is no longer ours.
        Q_EMIT server.NotificationClosed(43, 2);
        Q_EMIT server.ActionInvoked(43, u"dismiss"_s);
        QTRY_COMPARE(dismissed.size(), 1);
        QTest::qWait(100);
        QCOMPARE(dismissed.size(), 1);
        QCOMPARE(dismissed.constFirst().constFirst().value<CalendarEvent>().meetingLink,
                 std::nullopt);
        QCOMPARE(opened.size(), 1);
    }

    // The overlay comes when the desktop is not quiet, when the user does not ask for quiet to
    // be respected, or when the notification is refused (a reminder nobody sees is worse than
    // one that interrupts); its Join goes where the notification's would. An account set to
    // notifications only gets them whatever the desktop's state, unless they are refused.
    void overlayOrNotification_data() {
        QTest::addColumn<bool>("respect");
        QTest::addColumn<bool>("isQuiet");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QString>("account");
        QTest::addColumn<bool>("notified");
        QTest::newRow("desktop not quiet") << true << false << false << QString() << false;
        QTest::newRow("notification refused") << true << true << true << QString() << false;
        QTest::newRow("user does not ask for it") << false << true << false << u"LOUD"_s << false;
        QTest::newRow("notifications only") << false << false << false << u"QUIET"_s << true;
        QTest::newRow("notifications only, refused")
            << false << false << true << u"QUIET"_s << false;
    }
    void overlayOrNotification() {
        QFETCH(bool, respect);
        QFETCH(bool, isQuiet);
        QFETCH(bool, refused);
        QFETCH(QString, account);
        QFETCH(bool, notified);
        newPresenter(respect, isQuiet, refused);
        settings->setAlertStyle(u"QUIET"_s, AlertStyle::notificationOnly);
        CalendarEvent event = review(zoom);
        if (!account.isEmpty())
            event.accountId = account;
        present(event);
        settings->setAlertStyle(u"QUIET"_s, AlertStyle::fullScreen);
        server.refuse = false; // the start-up below needs the server
        QCOMPARE(server.shown.size(), notified ? 1 : 0);
        QCOMPARE(overlay.windows().size(), notified ? 0 : QGuiApplication::screens().size());
        if (notified) {
            QCOMPARE(server.shown.first().mid(2, 1), QStringList{u"join,Join,dismiss,Dismiss"_s});
            return;
        }
        QSignalSpy dismissed(presenter.get(), &ReminderPresenter::dismissed);
        Q_EMIT overlay.joinRequested(review(zoom));
        QCOMPARE(opened, QList<QUrl>{zoom});
        Q_EMIT overlay.dismissed(review(std::nullopt));
        QCOMPARE(dismissed.size(), 1);
    }

    // The whole start-up, once per process (the calendar service is process-wide): the tray,
    // the launch-at-login entry, onboarding.
    // Nothing is set up at login before onboarding ends.
    void firstLaunch() {
        QVERIFY(!Autostart::isEnabled());
        app.start();
        QVERIFY(app.trayIcon());
        // The application's own icon as the desktop gets it from the package.
        const QIcon packaged(QFINDTESTDATA("../../packaging/icons/app.zelvane.Zelvane.svg"));
        QVERIFY(!packaged.isNull());
        QCOMPARE(app.trayIcon()->icon().pixmap(32).toImage().convertToFormat(QImage::Format_ARGB32),
                 packaged.pixmap(32).toImage().convertToFormat(QImage::Format_ARGB32));
        QCOMPARE(app.trayIcon()->toolTip(), u"No more meetings today"_s);
        // Without a tray to show the icon, a notification says where the app went, once.
        QTRY_COMPARE(server.shown.value(0).value(0), u"Zelvane is running in the background"_s);
        QVERIFY(settings->launchAtLogin() && !Autostart::isEnabled());
        QVERIFY(app.onboardingWindow() && app.onboardingWindow()->isVisible());
    }

    // Onboarding's calendar step runs the real sign-in against the stand-in: its page opens in
    // the "browser", whose continue link brings the account. A refused sign-in shows its
    // reason; the next attempt clears it at once and keeps every Connect button disabled until
    // the sign-in page opens.
    void onboardingSignsIn() {
        opened.clear();
        auto *view = qobject_cast<OnboardingView *>(app.onboardingWindow());
        const auto connect = [view](CalendarProvider provider) {
            return view->providerRow(provider)->connectButton();
        };
        click(view, u"Continue"_s);
        backend.admin("POST", u"faults"_s,
                      {{"endpoint", "nylas/auth-url"}, {"status", 500}, {"times", 1}});
        QTest::mouseClick(connect(CalendarProvider::microsoft), Qt::LeftButton);
        QTRY_COMPARE(view->errorLabel()->text(),
                     u"Zelvane's sign-in service is not working right now (HTTP error 500). "
                     u"Try again later, or use a calendar feed."_s);
        QVERIFY(view->errorLabel()->isVisible() && opened.isEmpty());

        backend.admin("POST", u"faults"_s, {{"endpoint", "nylas/auth-url"}, {"delayMs", 1000}});
        QTest::mouseClick(connect(CalendarProvider::google), Qt::LeftButton);
        QVERIFY(!view->errorLabel()->isVisible());
        QVERIFY(!connect(CalendarProvider::microsoft)->isEnabled() &&
                !connect(CalendarProvider::feed)->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, 10'000);
        QTRY_VERIFY(connect(CalendarProvider::microsoft)->isEnabled());
        QCOMPARE(QUrlQuery(opened.first()).queryItemValue(u"provider"_s), u"google"_s);
        QUrl next = opened.first();
        next.setPath(u"/signin/continue"_s);
        finish(network.get(QNetworkRequest(next)));
        QTRY_COMPARE_WITH_TIMEOUT(app.services().calendar.accounts().size(), 1, 10'000);
        QTRY_VERIFY(view->providerRow(CalendarProvider::google)->isConnected());

        QTest::mouseClick(view->providerRow(CalendarProvider::google)->disconnectButton(),
                          Qt::LeftButton);
        QVERIFY(app.services().calendar.accounts().isEmpty());
        QVERIFY(!view->providerRow(CalendarProvider::google)->isConnected());
        // Disconnecting revokes the grant; waiting for it also keeps the request from being cut
        // off by the app's teardown.
        QTRY_VERIFY_WITH_TIMEOUT(revoked(), 10'000);
        // The next case goes on from the welcome step.
        click(view, u"Back"_s);
    }

    // Finishing onboarding needs no calendar and closes its window for good; then the tray's
    // menu opens the app window, made once and kept, and restores it when minimised. A reminder is
    // a notification when do-not-disturb is respected and on, and otherwise covers every screen.
    void onboardingCompletesAndRemindersShow() {
        QPointer<QWidget> onboarding = app.onboardingWindow();
        click(onboarding, u"Continue"_s);
        QVERIFY(!settings->hasCompletedOnboarding());
        click(onboarding, u"Get Started"_s);
        QVERIFY(settings->hasCompletedOnboarding() && !app.onboardingWindow());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!onboarding);
        QVERIFY(Autostart::isEnabled());
        app.toggleLaunchAtLogin();
        QVERIFY(!settings->launchAtLogin() && !Autostart::isEnabled());

        // No calendar yet: the menu says how to connect one, which opens the Accounts tab.
        QMenu *menu = app.statusMenu()->menu();
        Q_EMIT menu->aboutToShow();
        QCOMPARE(shown(menu),
                 (QStringList{"(No calendar connected)", "Connect a Calendar…", "---",
                              "Open Zelvane", "---", "Check for Updates…", "---", "Quit Zelvane"}));
        menu->actions().at(1)->trigger();
        auto *settingsView = qobject_cast<SettingsView *>(app.settingsWindow());
        QVERIFY(settingsView && settingsView->isVisible());
        QCOMPARE(settingsView->selectedTab(), SidebarTab::accounts);
        settingsView->selectTab(SidebarTab::general);
        settingsView->close();
        menu->actions().at(1)->trigger();
        QVERIFY(settingsView->isVisible() && settingsView->selectedTab() == SidebarTab::accounts);
        settingsView->close();

        menu->actions().at(3)->trigger();
        QPointer<QWidget> window = app.settingsWindow();
        QVERIFY(window && window->isVisible());
        window->showMinimized();
        QTRY_VERIFY(window->isMinimized());
        menu->actions().at(3)->trigger();
        QTRY_VERIFY(!window->isMinimized());
        window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        menu->actions().at(3)->trigger();
        QVERIFY(window && app.settingsWindow() == window && window->isVisible());

        // The desktop's quiet is watched from the moment the user asks for it to be respected:
        // each change the server announces decides the next reminder without asking again.
        const auto due = meeting("r", 600, u"Design review"_s, QDateTime::currentDateTime());
        server.inhibited = true;
        server.inhibitedReads = 0;
        QVERIFY(!app.doNotDisturb());
        settings->setRespectDND(true);
        QVERIFY(app.doNotDisturb());
        QTRY_VERIFY(app.doNotDisturb()->isOn());
        const qsizetype notified = server.shown.size();
        for (const bool inhibited : {false, true, false, true}) {
            server.announceInhibited(serverBus, inhibited);
            QTRY_COMPARE(app.doNotDisturb()->isOn(), inhibited);
            app.overlayController()->closeAll();
            app.showReminder(due, std::nullopt);
            if (inhibited) {
                QTRY_COMPARE(server.shown.size(), notified + 1);
                QCOMPARE(server.shown.takeLast().value(0), u"Design review"_s);
            }
            QCOMPARE(app.overlayController()->windows().isEmpty(), inhibited);
        }
        QCOMPARE(server.inhibitedReads, 1);
        settings->setRespectDND(false);
        QVERIFY(!app.doNotDisturb());
        app.showReminder(due, std::nullopt);
        QCOMPARE(app.overlayController()->windows().size(), QGuiApplication::screens().size());
        QCOMPARE(app.overlayController()->windows().first()->windowTitle(), u"Design review"_s);
        QCOMPARE(server.shown.size(), notified);
    }
};

QTEST_MAIN(TestAppController)
#include "tst_appcontroller.moc"
