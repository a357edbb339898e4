#include "TestEnvironment.h"
#include "app/AppController.h"
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

using namespace Qt::StringLiterals;

namespace {
CalendarEvent meeting() {
    CalendarEvent event;
    event.id = u"nylas_review"_s;
    event.title = u"Design review"_s;
    event.startDate = QDateTime::currentDateTime().addSecs(600);
    event.endDate = event.startDate.addSecs(1800);
    event.calendarTitle = u"Work"_s;
    return event;
}

MeetingBrief brief() {
    MeetingBrief b;
    b.eventId = u"nylas_review"_s;
    b.generatedAt = QDateTime::currentDateTime();
    b.summary = {u"Decide on the new navigation"_s};
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

class TestAppController : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<AppController> delegate;

private Q_SLOTS:
    void init() {
        env = std::make_unique<TestEnvironment>();
        settings = env->makeSettings();
        settings->setSoundEnabled(false);
        delegate = std::make_unique<AppController>(*settings);
    }

    void cleanup() {
        delegate.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void appWindowIsCreatedOnceAndReused() {
        delegate->openApp();
        QWidget *window = delegate->settingsWindow();
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), u"Zelvane"_s);
        delegate->openApp();
        QCOMPARE(delegate->settingsWindow(), window);
        QCOMPARE(visibleTopLevels(u"Zelvane"_s).size(), 1);

        window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        delegate->openApp();
        QCOMPARE(delegate->settingsWindow(), window);
        QVERIFY(window->isVisible());

        // Minimised, it comes back rather than a second window.
        window->showMinimized();
        QTRY_VERIFY(window->isMinimized());
        delegate->openApp();
        QTRY_VERIFY(!window->isMinimized());
        QCOMPARE(visibleTopLevels(u"Zelvane"_s).size(), 1);
    }

    void onboardingCompletesOnce() {
        delegate->showOnboarding();
        QPointer<QWidget> window = delegate->onboardingWindow();
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), u"Welcome to Zelvane"_s);
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
        QCOMPARE(first->windowTitle(), u"Meeting Brief"_s);

        delegate->showBriefPreview(meeting(), brief());
        QPointer<QWidget> second = delegate->briefWindow();
        QVERIFY(second && second != first);
        QCOMPARE(visibleTopLevels(u"Meeting Brief"_s).size(), 2);

        QTest::keyClick(second, Qt::Key_Escape);
        QVERIFY(!delegate->briefWindow());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!second);
        QVERIFY(first && first->isVisible());
    }

    void batteryAlertCoversThePrimaryScreenUntilDismissed() {
        delegate->showBatteryAlert();
        const QList<QWidget *> alerts = visibleTopLevels(u"Battery Critical"_s);
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
                 u"Design review"_s);

        CalendarEvent next = meeting();
        next.id = u"nylas_next"_s;
        next.title = u"Planning"_s;
        delegate->showReminder(next, std::nullopt);
        QCOMPARE(delegate->overlayController()->windows().size(), screens);
        QCOMPARE(delegate->overlayController()->windows().first()->windowTitle(), u"Planning"_s);
        delegate->overlayController()->closeAll();
        QVERIFY(delegate->overlayController()->windows().isEmpty());
    }

    // The whole start-up, once per process (the calendar service is process-wide).
    void firstLaunch() {
        QVERIFY(!Autostart::isEnabled());
        delegate->start();
        QVERIFY(delegate->reminderScheduler());
        QVERIFY(delegate->batteryService());
        QVERIFY(delegate->trayIcon());
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
            if (action->text() == u"Open Zelvane"_s)
                action->trigger();
        QVERIFY(delegate->settingsWindow() && delegate->settingsWindow()->isVisible());
    }
};

QTEST_MAIN(TestAppController)
#include "tst_appcontroller.moc"
