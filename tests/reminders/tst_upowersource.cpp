#include "core/Clock.h"
#include "platform/PowerSource.h"
#include "reminders/BatteryService.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// UPower's display device as the daemon publishes it, served on the test's private
// system bus.
class FakeDisplayDevice : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.UPower.Device")
    Q_PROPERTY(uint Type MEMBER type)
    Q_PROPERTY(bool IsPresent MEMBER isPresent)
    Q_PROPERTY(double Percentage MEMBER percentage)
    Q_PROPERTY(uint State MEMBER state)

public:
    uint type = 2; // battery
    bool isPresent = true;
    double percentage = 80.0;
    uint state = 2; // discharging
};

class TestUPowerSource : public QObject {
    Q_OBJECT

private:
    FakeDisplayDevice device;

private Q_SLOTS:
    void initTestCase() {
        QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.isConnected() || qgetenv("DBUS_SYSTEM_BUS_ADDRESS").isEmpty())
            QSKIP("needs a private system bus (run through its CTest wrapper)");
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/UPower/devices/DisplayDevice"),
                                   &device, QDBusConnection::ExportAllProperties));
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.UPower")));
    }

    void init() {
        device.type = 2;
        device.isPresent = true;
        device.percentage = 80.0;
        device.state = 2;
        qunsetenv("ZELVANE_POWER_SUPPLY_DIR");
    }

    void readings_data() {
        QTest::addColumn<uint>("type");
        QTest::addColumn<bool>("present");
        QTest::addColumn<double>("percentage");
        QTest::addColumn<uint>("state");
        QTest::addColumn<int>("capacity"); // -1: no reading
        QTest::addColumn<bool>("charging");

        QTest::newRow("discharging") << 2u << true << 57.0 << 2u << 57 << false;
        QTest::newRow("charging") << 2u << true << 1.0 << 1u << 1 << true;
        QTest::newRow("fully charged is not charging") << 2u << true << 100.0 << 4u << 100 << false;
        QTest::newRow("fractions round") << 2u << true << 1.4 << 2u << 1 << false;
        QTest::newRow("desktop without battery") << 0u << false << 0.0 << 0u << -1 << false;
        QTest::newRow("battery not present") << 2u << false << 0.0 << 0u << -1 << false;
    }

    void readings() {
        QFETCH(uint, type);
        QFETCH(bool, present);
        QFETCH(double, percentage);
        QFETCH(uint, state);
        QFETCH(int, capacity);
        QFETCH(bool, charging);
        device.type = type;
        device.isPresent = present;
        device.percentage = percentage;
        device.state = state;

        QVERIFY(UPowerSource::isAvailable());
        const auto reading = UPowerSource().read();
        if (capacity < 0) {
            QVERIFY(!reading);
            return;
        }
        QVERIFY(reading);
        QCOMPARE(reading->capacity, capacity);
        QCOMPARE(reading->charging, charging);
    }

    void defaultSourceIsUPowerUnlessAFolderIsForced() {
        device.percentage = 42.0;
        QCOMPARE(PowerSource::createDefault()->read()->capacity, 42);

        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("BAT0")));
        for (auto [file, content] :
             {std::pair{"type", "Battery"}, {"capacity", "7"}, {"status", "Discharging"}}) {
            QFile f(dir.filePath(QStringLiteral("BAT0/") + QLatin1String(file)));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        qputenv("ZELVANE_POWER_SUPPLY_DIR", dir.path().toUtf8());
        QCOMPARE(PowerSource::createDefault()->read()->capacity, 7);
    }

    void watcherAlertsFromUPower() {
        device.percentage = 1.0;
        ManualClock clock;
        BatteryService service(clock);
        QSignalSpy alerts(&service, &BatteryService::lowBattery);
        service.startMonitoring();
        clock.advance(BatteryService::checkInterval);
        QTRY_COMPARE(alerts.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestUPowerSource)
#include "tst_upowersource.moc"
