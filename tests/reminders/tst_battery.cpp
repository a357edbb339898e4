// The battery watcher over both real readers (tests/platform tests the readers themselves): the
// power-supply folder and UPower's display device on the test's private system bus. Time is
// walked by hand.
#include "FakeUPower.h"
#include "ManualClock.h"
#include "platform/PowerSource.h"
#include "reminders/BatteryService.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

class TestBattery : public QObject {
    Q_OBJECT

private:
    FakeDisplayDevice device;
    std::unique_ptr<QTemporaryDir> supplies;
    std::unique_ptr<ManualClock> clock;
    std::unique_ptr<BatteryService> service;
    std::unique_ptr<QSignalSpy> alerts;

    // The first battery in the forced supply folder.
    void setBattery(int capacity, bool charging) {
        QVERIFY(QDir(supplies->path()).mkpath(u"BAT0"_s));
        const QByteArray status = charging ? "Charging" : "Discharging";
        for (const auto &[name, value] : {std::pair{"type", QByteArray("Battery")},
                                          {"capacity", QByteArray::number(capacity)},
                                          {"status", status}}) {
            QFile f(supplies->filePath(u"BAT0/"_s + QLatin1StringView(name)));
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(value) > 0);
        }
    }

    void startService() {
        service = std::make_unique<BatteryService>(*clock);
        alerts = std::make_unique<QSignalSpy>(service.get(), &BatteryService::lowBattery);
        service->startMonitoring();
    }

    // One check, and the queued callback it may have posted.
    void tick() {
        clock->advance(BatteryService::checkInterval);
        QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void initTestCase() {
        if (qgetenv("DBUS_SYSTEM_BUS_ADDRESS").isEmpty())
            QSKIP("needs a private system bus (run through its CTest wrapper)");
        QVERIFY(device.publish());
    }

    // The folder reader is forced; the UPower cases lift that.
    void init() {
        device.reset();
        supplies = std::make_unique<QTemporaryDir>();
        QVERIFY(supplies->isValid());
        qputenv("ZELVANE_POWER_SUPPLY_DIR", supplies->path().toUtf8());
        clock = std::make_unique<ManualClock>();
        alerts.reset();
    }

    void cleanup() {
        service.reset();
        qunsetenv("ZELVANE_POWER_SUPPLY_DIR");
    }

    void firstCheckAtFirstTickAndCallbackQueued() {
        setBattery(1, false);
        startService();
        QCoreApplication::processEvents();
        clock->advance(59.9);
        QCoreApplication::processEvents();
        QCOMPARE(alerts->count(), 0);
        clock->advance(0.1);
        // The callback reaches the controller through the event loop, not from the tick.
        QCOMPARE(alerts->count(), 0);
        QVERIFY(service->hasAlerted());
        QCoreApplication::processEvents();
        QCOMPARE(alerts->count(), 1);
    }

    // Readings one check apart: the charge, "+" while charging.
    void episodes_data() {
        QTest::addColumn<QStringList>("readings");
        QTest::addColumn<int>("expectedAlerts");
        QTest::addColumn<bool>("finallyAlerted");
        const auto row = [](const char *name, const char *readings, int alerts, bool alerted) {
            QTest::newRow(name) << QString::fromLatin1(readings).split(u' ') << alerts << alerted;
        };
        row("one alert while it stays low", "1 1 0", 1, true);
        row("charging at 1 % never alerts", "1+ 1+", 0, false);
        row("rising into the band does not re-arm", "1 5 1", 1, true);
        row("6 % re-arms", "1 6 1", 2, true);
        row("charging after the alert leaves it alerted", "1 1+ 1", 1, true);
        row("2 % is not low", "2 2", 0, false);
        row("falling from the band alerts", "50 5 2 1", 1, true);
    }

    void episodes() {
        QFETCH(QStringList, readings);
        QFETCH(int, expectedAlerts);
        QFETCH(bool, finallyAlerted);
        const auto set = [this](QString reading) {
            const bool charging = reading.endsWith(u'+');
            reading.remove(u'+');
            setBattery(reading.toInt(), charging);
        };
        set(readings.first());
        startService();
        for (const QString &reading : std::as_const(readings)) {
            set(reading);
            tick();
        }
        QCOMPARE(alerts->count(), expectedAlerts);
        QCOMPARE(service->hasAlerted(), finallyAlerted);
    }

    void destroyedServiceStopsChecking() {
        setBattery(1, false);
        startService();
        service.reset();
        tick();
        QCOMPARE(alerts->count(), 0);
        QCOMPARE(clock->pendingCount(), 0);
    }

    // UPower's PropertiesChanged brings a reading at once, when it names the charge or the
    // state; between announcements the battery is read only every half hour.
    void upowerAnnouncesChanges() {
        StalledUPower announcer;
        device.percentage = 50.0;
        ManualClock clock;
        BatteryService service(clock, std::make_unique<UPowerSource>());
        QSignalSpy alerts(&service, &BatteryService::lowBattery);
        service.startMonitoring();
        clock.advance(BatteryService::checkInterval);
        QTRY_VERIFY(!service.isReading());

        device.percentage = 1.0;
        clock.advance(BatteryService::announcedInterval - 1min);
        QTest::qWait(200);
        QCOMPARE(alerts.count(), 0);
        QVERIFY(announcer.announce({{u"TimeToEmpty"_s, qlonglong(60)}}));
        QTest::qWait(200);
        QCOMPARE(alerts.count(), 0);
        QVERIFY(announcer.announce({{u"Percentage"_s, 1.0}}));
        QTRY_COMPARE(alerts.count(), 1);
    }

    // Without a battery the folder is looked at again only every ten minutes.
    void noBatteryIsLookedForRarely() {
        startService();
        tick();
        setBattery(1, false);
        clock->advance(BatteryService::noBatteryInterval - 1s);
        QCoreApplication::processEvents();
        QVERIFY(!service->hasAlerted());
        clock->advance(1s);
        QVERIFY(service->hasAlerted());
    }

    void stalledUPowerDoesNotHoldUpTheEventLoop() {
        StalledUPower upower;
        QVERIFY(upower.stall(true));
        device.percentage = 1.0;
        ManualClock clock;
        BatteryService service(clock, std::make_unique<UPowerSource>(nullptr, 5s));
        QSignalSpy alerts(&service, &BatteryService::lowBattery);
        service.startMonitoring();

        int beats = 0;
        QTimer heartbeat;
        QObject::connect(&heartbeat, &QTimer::timeout, &heartbeat, [&] { ++beats; });
        heartbeat.start(20ms);
        // The tick returns with the reading on its way; a blocking read would return only
        // after the call's time-out, with nothing pending.
        clock.advance(BatteryService::checkInterval);
        QVERIFY(service.isReading());
        QTRY_COMPARE(upower.calls, 1);
        // The loop keeps turning while UPower says nothing.
        QTRY_VERIFY_WITH_TIMEOUT(beats >= 10, 3000);
        QVERIFY(service.isReading());
        // An announcement while the reading is pending does not pile up another call.
        QVERIFY(upower.announce({{u"Percentage"_s, 1.0}}));
        QTest::qWait(300);
        QCOMPARE(upower.calls, 1);

        // The call times out, and once UPower answers again the next tick reads it.
        QTRY_VERIFY_WITH_TIMEOUT(!service.isReading(), 10000);
        QCOMPARE(alerts.count(), 0);
        QVERIFY(upower.stall(false));
        clock.advance(BatteryService::checkInterval);
        QTRY_COMPARE(alerts.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestBattery)
#include "tst_battery.moc"
