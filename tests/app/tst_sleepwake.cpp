// The whole way from logind's wake-up to the reminder on screen: a logind of the test's own on
// a private system bus announces sleep and wake, the app's services and controller (built as
// the application builds them) do the rest. The clock jumps past the meeting's start while
// "asleep". The time from the wake-up signal to the painted reminder is printed.
#include "ManualClock.h"
#include "TestEnvironment.h"
#include "app/AppController.h"
#include "app/AppServices.h"
#include "ui/OverlayWindowController.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

class TestSleepWake : public QObject {
    Q_OBJECT

    static bool announce(QDBusConnection &bus, bool asleep) {
        QDBusMessage signal =
            QDBusMessage::createSignal(u"/org/freedesktop/login1"_s,
                                       u"org.freedesktop.login1.Manager"_s, u"PrepareForSleep"_s);
        signal << asleep;
        return bus.send(signal);
    }

private Q_SLOTS:
    void initTestCase() {
        // Refreshes go nowhere: the meeting is the one the test publishes.
        qputenv("ZELVANE_BACKEND_ORIGIN", "http://127.0.0.1:9");
        qputenv("ZELVANE_UPDATE_FEED", "http://127.0.0.1:9/appcast.xml");
    }

    // Asleep across a meeting's start, the app shows its reminder on waking, marked late,
    // once; a second sleep and wake in the same meeting shows nothing more.
    void reminderOnWaking() {
        TestEnvironment env;
        const auto settings = env.makeSettings();
        settings->setHasCompletedOnboarding(true);
        settings->setLaunchAtLogin(false);
        settings->setSoundEnabled(false);
        QDBusConnection logind =
            QDBusConnection::connectToBus(QDBusConnection::SystemBus, u"logind"_s);
        QVERIFY(logind.registerService(u"org.freedesktop.login1"_s));

        ManualClock clock(QDateTime::currentDateTimeUtc());
        AppServices services(*settings, clock);
        AppController app(*settings, services);
        app.start();
        CalendarEvent standup;
        standup.id = u"standup"_s;
        standup.title = u"Standup"_s;
        standup.startDate = clock.now().addSecs(120);
        standup.endDate = standup.startDate.addSecs(1800);
        services.calendar.publishEvents({standup});
        QSignalSpy painted(app.overlayController(), &OverlayWindowController::overlayPainted);
        QSignalSpy asleep(&services.sleep, &SleepMonitor::aboutToSleep);
        QSignalSpy woken(&services.sleep, &SleepMonitor::woke);

        QVERIFY(announce(logind, true));
        QTRY_COMPARE(asleep.size(), 1);
        clock.setNow(clock.now().addSecs(300));
        QElapsedTimer sinceWake;
        sinceWake.start();
        QVERIFY(announce(logind, false));
        QVERIFY(painted.wait(10'000));
        const double ms = double(sinceWake.nsecsElapsed()) / 1e6;
        QCOMPARE(woken.size(), 1);
        QCOMPARE(app.overlayController()->windows().size(), QGuiApplication::screens().size());
        QCOMPARE(app.overlayController()->windows().first()->windowTitle(), u"Standup"_s);
        qInfo("wake-to-reminder: %.1f ms from PrepareForSleep(false) to the painted reminder", ms);

        app.overlayController()->closeAll();
        QVERIFY(announce(logind, true));
        QTRY_COMPARE(asleep.size(), 2);
        clock.setNow(clock.now().addSecs(120));
        QVERIFY(announce(logind, false));
        QTRY_COMPARE(woken.size(), 2);
        QTest::qWait(200);
        QVERIFY(app.overlayController()->windows().isEmpty());
        QDBusConnection::disconnectFromBus(u"logind"_s);
    }
};

QTEST_MAIN(TestSleepWake)
#include "tst_sleepwake.moc"
