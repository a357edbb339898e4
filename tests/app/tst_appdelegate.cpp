#include "TestEnvironment.h"
#include "app/AppDelegate.h"
#include "app/StatusMenu.h"
#include "core/AppSettings.h"
#include "platform/Autostart.h"
#include "reminders/BatteryService.h"
#include "reminders/ReminderScheduler.h"
#include "ui/OnboardingFlow.h"
#include "ui/OnboardingView.h"
#include "ui/OverlayWindowController.h"

#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>

namespace {
CalendarEvent meeting() {
    CalendarEvent event;
    event.id = QStringLiteral("nylas_review");
    event.title = QStringLiteral("Design review");
    event.startDate = QDateTime::currentDateTime().addSecs(600);
    event.endDate = event.startDate.addSecs(1800);
    event.calendarTitle = QStringLiteral("Work");
    return event;
}

MeetingBrief brief() {
    MeetingBrief b;
    b.eventId = QStringLiteral("nylas_review");
    b.generatedAt = QDateTime::currentDateTime();
    b.summary = {QStringLiteral("Decide on the new navigation")};
    return b;
}

QList<QWidget *> visibleTopLevels(const QString &title) {
    QList<QWidget *> found;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && widget->windowTitle() == title)
            found << widget;
    return found;
}
} // namespace

class TestAppDelegate : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<AppDelegate> delegate;

private Q_SLOTS:
    void init() {
        env = std::make_unique<TestEnvironment>();
        settings = env->makeSettings();
        settings->setSoundEnabled(false);
        delegate = std::make_unique<AppDelegate>(*settings);
    }

    void cleanup() {
        delegate.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void appWindowIsCreatedOnceAndReused() {
        delegate->openApp();
        QWidget *window = delegate->settingsWindow();
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), QStringLiteral("Zelvane"));
        QCOMPARE(window->size(), QSize(720, 520));
        QCOMPARE(window->minimumSize(), QSize(620, 420));
        delegate->openApp();
        QCOMPARE(delegate->settingsWindow(), window);
        QCOMPARE(visibleTopLevels(QStringLiteral("Zelvane")).size(), 1);

        window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        delegate->openApp();
        QCOMPARE(delegate->settingsWindow(), window);
        QVERIFY(window->isVisible());
    }

    void onboardingCompletesOnce() {
        delegate->showOnboarding();
        QPointer<QWidget> window = delegate->onboardingWindow();
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), QStringLiteral("Welcome to Zelvane"));
        QCOMPARE(window->size(), QSize(500, 480));
        QCOMPARE(window->minimumSize(), window->maximumSize());
        QVERIFY(!(window->windowFlags() & Qt::WindowMinimizeButtonHint));

        auto *view = qobject_cast<OnboardingView *>(window.data());
        QVERIFY(view);
        view->flow()->forward();
        QVERIFY(!settings->hasCompletedOnboarding());
        view->flow()->forward();
        QVERIFY(settings->hasCompletedOnboarding());
        QVERIFY(!delegate->onboardingWindow());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!window);
    }

    void briefPreviewIsReplacedAndDismissed() {
        delegate->showBriefPreview(meeting(), brief());
        QPointer<QWidget> first = delegate->briefWindow();
        QVERIFY(first);
        QCOMPARE(first->windowTitle(), QStringLiteral("Meeting Brief"));
        QCOMPARE(first->size(), QSize(520, 480));

        delegate->showBriefPreview(meeting(), brief());
        QPointer<QWidget> second = delegate->briefWindow();
        QVERIFY(second && second != first);
        QCOMPARE(visibleTopLevels(QStringLiteral("Meeting Brief")).size(), 2);

        QTest::keyClick(second, Qt::Key_Escape);
        QVERIFY(!delegate->briefWindow());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!second);
        QVERIFY(first && first->isVisible());
    }

    void batteryAlertCoversThePrimaryScreenUntilDismissed() {
        delegate->showBatteryAlert();
        const QList<QWidget *> alerts = visibleTopLevels(QStringLiteral("Battery Critical"));
        QCOMPARE(alerts.size(), 1);
        QPointer<QWidget> alert = alerts.first();
        QCOMPARE(alert->geometry(), QGuiApplication::primaryScreen()->geometry());
        QVERIFY(alert->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(alert->windowFlags() & Qt::FramelessWindowHint);

        QTest::keyClick(alert->focusWidget() ? alert->focusWidget() : alert.data(), Qt::Key_Escape);
        QTRY_VERIFY(!alert || !alert->isVisible());
    }

    void reminderReplacesTheOneOnScreen() {
        delegate->showReminder(meeting(), brief());
        const int screens = int(QGuiApplication::screens().size());
        QCOMPARE(delegate->overlayController()->windows().size(), screens);
        QCOMPARE(delegate->overlayController()->windows().first()->windowTitle(),
                 QStringLiteral("Design review"));

        CalendarEvent next = meeting();
        next.id = QStringLiteral("nylas_next");
        next.title = QStringLiteral("Planning");
        delegate->showReminder(next, std::nullopt);
        QCOMPARE(delegate->overlayController()->windows().size(), screens);
        QCOMPARE(delegate->overlayController()->windows().first()->windowTitle(),
                 QStringLiteral("Planning"));
        delegate->overlayController()->closeAll();
        QVERIFY(delegate->overlayController()->windows().isEmpty());
    }

    // The whole start-up, once per process (the calendar service is process-wide).
    void firstLaunch() {
        QVERIFY(!Autostart::isEnabled());
        delegate->applicationDidFinishLaunching();
        QVERIFY(delegate->reminderScheduler());
        QVERIFY(delegate->batteryService());
        QVERIFY(delegate->statusItem());
        QVERIFY(delegate->onboardingWindow());
        QVERIFY(delegate->onboardingWindow()->isVisible());
        // launchAtLogin defaults to true, so the autostart entry is written.
        QVERIFY(Autostart::isEnabled());
        delegate->toggleLaunchAtLogin();
        QVERIFY(!settings->launchAtLogin());
        QVERIFY(!Autostart::isEnabled());

        QMenu *menu = delegate->statusMenu()->menu();
        Q_EMIT menu->aboutToShow();
        QStringList texts;
        for (QAction *action : menu->actions())
            if (!action->isSeparator())
                texts << action->text();
        QCOMPARE(texts, (QStringList{"No upcoming meetings", "Open Zelvane", "Check for Updates…",
                                     "Quit Zelvane"}));
        QVERIFY(!menu->actions().first()->isEnabled());

        // "Open Zelvane" opens the app window.
        for (QAction *action : menu->actions())
            if (action->text() == QStringLiteral("Open Zelvane"))
                action->trigger();
        QVERIFY(delegate->settingsWindow() && delegate->settingsWindow()->isVisible());
    }
};

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
