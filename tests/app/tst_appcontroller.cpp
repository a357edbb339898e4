#include "TestEnvironment.h"
#include "app/AppController.h"
#include "app/StatusMenu.h"
#include "app/StatusMenuModel.h"
#include "core/AppSettings.h"
#include "platform/Autostart.h"
#include "ui/OnboardingFlow.h"
#include "ui/OnboardingView.h"
#include "ui/OverlayWindowController.h"

#include <QApplication>
#include <QMenu>
#include <QTest>

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

} // namespace

class TestAppController : public QObject {
    Q_OBJECT

    TestEnvironment env;
    std::unique_ptr<AppSettings> settings = env.makeSettings();
    AppController app{*settings};

private Q_SLOTS:
    void initTestCase() { settings->setSoundEnabled(false); }

    // The first meeting counts down from five minutes; the menu lists five meetings at most.
    void meetingTimes() {
        const std::pair<QList<CalendarEvent>, QStringList> cases[] = {
            {{meeting("a", 30, "Standup"), meeting("b", 120, "Two")},
             {"NOW  Standup", "9:02 AM  Two"}},
            {{meeting("a", 300, "Sync")}, {"in 5 min  Sync"}},
            {{meeting("a", 360, "Sync")}, {"9:06 AM  Sync"}},
            // Started ones are skipped.
            {{meeting("a", -600), meeting("b", 0), meeting("c", 200), meeting("d", 3600),
              meeting("e", 7200), meeting("f", 7260), meeting("g", 7320), meeting("h", 7380)},
             {"in 3 min  Meeting c", "10:00 AM  Meeting d", "11:00 AM  Meeting e",
              "11:01 AM  Meeting f", "11:02 AM  Meeting g"}}};
        for (const auto &[events, expected] : cases) {
            QStringList titles;
            for (const StatusMenuEntry &entry : StatusMenuModel::entries(stateWith(events)))
                if (entry.kind == StatusMenuEntry::Kind::meeting)
                    titles << entry.title;
            QCOMPARE(titles, expected);
        }
    }

    // The menu shows the entries of the moment it opens; an entry is enabled only when someone
    // acts on it.
    void menuRebuildsOnOpening() {
        StatusMenuState state = stateWith({meeting("gone", -5)});
        state.updateAvailable = true;
        StatusMenu menu([&state] { return StatusMenuModel::entries(state); });
        QList<CalendarEvent> prepped, viewed;
        connect(&menu, &StatusMenu::prepMeetingRequested, this,
                [&](const CalendarEvent &e) { prepped << e; });
        connect(&menu, &StatusMenu::viewBriefRequested, this,
                [&](const CalendarEvent &e) { viewed << e; });
        int opened = 0;
        connect(&menu, &StatusMenu::openAppRequested, this, [&] { ++opened; });
        Q_EMIT menu.menu()->aboutToShow();
        QCOMPARE(shown(menu.menu()),
                 (QStringList{"(⬆  Update Available — Install Now\tCtrl+U)", "---",
                              "(No upcoming meetings)", "---", "Open Zelvane\tCtrl+O", "---",
                              "(Quit Zelvane\tCtrl+Q)"}));

        state = stateWith({meeting("a", 270, "Design review"), meeting("b", 3600, "Planning"),
                           meeting("c", 7200, "Retro")});
        state.researching = {"b", "c"};
        MeetingBrief brief;
        brief.eventId = u"c"_s;
        state.briefs.insert("c", brief);
        Q_EMIT menu.menu()->aboutToShow();
        QCOMPARE(shown(menu.menu()),
                 (QStringList{"in 4 min  Design review", "(⏳ 10:00 AM  Planning)",
                              "✨ 11:00 AM  Retro", "---", "Open Zelvane\tCtrl+O", "---",
                              "(Check for Updates…)", "---", "(Quit Zelvane\tCtrl+Q)"}));
        for (QAction *action : menu.menu()->actions())
            action->trigger();
        QCOMPARE(prepped.size(), 1);
        QCOMPARE(prepped.first().id, u"a"_s);
        QCOMPARE(viewed.size(), 1);
        QCOMPARE(viewed.first().id, u"c"_s);
        QCOMPARE(opened, 1);
    }

    // The app window is made once and kept; a brief preview replaces the current one.
    void windowsAreReusedOrReplaced() {
        app.openApp();
        QWidget *window = app.settingsWindow();
        QVERIFY(window && window->isVisible());
        window->showMinimized();
        QTRY_VERIFY(window->isMinimized());
        app.openApp();
        QTRY_VERIFY(!window->isMinimized());
        window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        app.openApp();
        QCOMPARE(app.settingsWindow(), window);
        int shownWindows = 0;
        for (const QWidget *widget : QApplication::topLevelWidgets())
            shownWindows += widget->isVisible() && widget->windowTitle() == u"Zelvane";
        QCOMPARE(shownWindows, 1);

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

    // The whole start-up, once per process (the calendar service is process-wide): the tray,
    // the launch-at-login entry, onboarding until it is completed, reminders on screen.
    void firstLaunch() {
        QVERIFY(!Autostart::isEnabled());
        app.start();
        QVERIFY(app.trayIcon() && app.reminderScheduler() && app.batteryService());
        QVERIFY(Autostart::isEnabled());
        app.toggleLaunchAtLogin();
        QVERIFY(!settings->launchAtLogin() && !Autostart::isEnabled());

        QPointer<QWidget> onboarding = app.onboardingWindow();
        QVERIFY(onboarding && onboarding->isVisible());
        QCOMPARE(onboarding->minimumSize(), onboarding->maximumSize());
        QVERIFY(!(onboarding->windowFlags() & Qt::WindowMinimizeButtonHint));
        OnboardingFlow *flow = qobject_cast<OnboardingView *>(onboarding.data())->flow();
        flow->forward();
        QVERIFY(!settings->hasCompletedOnboarding());
        flow->forward();
        QVERIFY(settings->hasCompletedOnboarding() && !app.onboardingWindow());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!onboarding);

        QMenu *menu = app.statusMenu()->menu();
        Q_EMIT menu->aboutToShow();
        QCOMPARE(shown(menu),
                 (QStringList{"(No upcoming meetings)", "---", "Open Zelvane\tCtrl+O", "---",
                              "Check for Updates…", "---", "Quit Zelvane\tCtrl+Q"}));
        menu->actions().at(2)->trigger();
        QVERIFY(app.settingsWindow() && app.settingsWindow()->isVisible());

        app.showReminder(meeting("r", 600, u"Design review"_s, QDateTime::currentDateTime()),
                         std::nullopt);
        QCOMPARE(app.overlayController()->windows().size(), QGuiApplication::screens().size());
        QCOMPARE(app.overlayController()->windows().first()->windowTitle(), u"Design review"_s);
    }
};

QTEST_MAIN(TestAppController)
#include "tst_appcontroller.moc"
