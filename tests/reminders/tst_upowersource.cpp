#include "ManualClock.h"
#include "platform/PowerSource.h"
#include "reminders/BatteryService.h"

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;

namespace {
const QString upowerName = QStringLiteral("org.freedesktop.UPower");
const QString displayDevicePath = QStringLiteral("/org/freedesktop/UPower/devices/DisplayDevice");

std::optional<PowerReading> readNow(PowerSource &source) {
    return QCoro::waitFor(source.read());
}

void writeBattery(const QTemporaryDir &dir, const char *capacity, const char *status) {
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("BAT0")));
    for (auto [file, content] :
         {std::pair{"type", "Battery"}, {"capacity", capacity}, {"status", status}}) {
        QFile f(dir.filePath(QStringLiteral("BAT0/") + QLatin1String(file)));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }
}
} // namespace

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

// A UPower that has taken its name but never answers, as a daemon stuck in a kernel call or
// stopped in a debugger would.
class StalledDevice : public QDBusVirtualObject {
public:
    int calls = 0;
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &, const QDBusConnection &) override {
        ++calls;
        return true; // claimed, and no reply is ever sent
    }
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
        QVERIFY(
            bus.registerObject(displayDevicePath, &device, QDBusConnection::ExportAllProperties));
        QVERIFY(bus.registerService(upowerName));
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

        UPowerSource source;
        const auto reading = readNow(source);
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
        QCOMPARE(readNow(*PowerSource::createDefault())->capacity, 42);

        QTemporaryDir dir;
        writeBattery(dir, "7", "Discharging");
        qputenv("ZELVANE_POWER_SUPPLY_DIR", dir.path().toUtf8());
        QCOMPARE(readNow(*PowerSource::createDefault())->capacity, 7);
    }

    void withoutUPowerTheFallbackAnswers() {
        QTemporaryDir dir;
        writeBattery(dir, "33", "Charging");
        QDBusConnection bus = QDBusConnection::systemBus();
        UPowerSource source(std::make_unique<SysfsPowerSource>(dir.path()));
        QVERIFY(bus.unregisterService(upowerName));
        const auto reading = readNow(source);
        QVERIFY(bus.registerService(upowerName));
        QCOMPARE(reading, (PowerReading{33, true}));
        // Back on the bus, UPower is asked again.
        QCOMPARE(readNow(source), (PowerReading{80, false}));
    }

    void stalledUPowerDoesNotHoldUpTheEventLoop() {
        QDBusConnection bus = QDBusConnection::systemBus();
        QDBusConnection stalledBus =
            QDBusConnection::connectToBus(QDBusConnection::SystemBus, QStringLiteral("stalled"));
        QVERIFY(stalledBus.isConnected());
        StalledDevice stalled;
        QVERIFY(stalledBus.registerVirtualObject(displayDevicePath, &stalled));
        QVERIFY(bus.unregisterService(upowerName));
        QVERIFY(stalledBus.registerService(upowerName));
        const auto restore = qScopeGuard([&] {
            stalledBus.unregisterService(upowerName);
            bus.registerService(upowerName);
            QDBusConnection::disconnectFromBus(QStringLiteral("stalled"));
        });

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
        QTRY_COMPARE(stalled.calls, 1);
        // The loop keeps turning while UPower says nothing.
        QTRY_VERIFY_WITH_TIMEOUT(beats >= 10, 3000);
        QVERIFY(service.isReading());
        // A tick while the reading is pending does not pile up another call.
        clock.advance(BatteryService::checkInterval);
        QTest::qWait(100);
        QCOMPARE(stalled.calls, 1);

        // The call times out, and once UPower answers again the next tick reads it.
        QTRY_VERIFY_WITH_TIMEOUT(!service.isReading(), 10000);
        QCOMPARE(alerts.count(), 0);
        QVERIFY(stalledBus.unregisterService(upowerName));
        QVERIFY(bus.registerService(upowerName));
        clock.advance(BatteryService::checkInterval);
        QTRY_COMPARE(alerts.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestUPowerSource)
#include "tst_upowersource.moc"
