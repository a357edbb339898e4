// The battery watcher through both real readers: the power-supply folder as the kernel presents
// it, and UPower's display device on the test's private system bus. Time is walked by hand.
#include "ManualClock.h"
#include "platform/PowerSource.h"
#include "reminders/BatteryService.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

using namespace std::chrono_literals;

namespace {
const QString upowerName = u"org.freedesktop.UPower"_s;
const QString displayDevicePath = u"/org/freedesktop/UPower/devices/DisplayDevice"_s;

std::optional<PowerReading> readNow(PowerSource &source) {
    return QCoro::waitFor(source.read());
}

void writeSupply(const QString &folder, const QString &name, const QByteArray &type,
                 const QByteArray &capacity, const QByteArray &status) {
    QVERIFY(QDir(folder).mkpath(name));
    for (const auto &[file, content] :
         {std::pair{"type", type}, {"capacity", capacity}, {"status", status}}) {
        QFile f(folder + u'/' + name + u'/' + QLatin1String(file));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content + '\n');
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

class TestBattery : public QObject {
    Q_OBJECT

private:
    FakeDisplayDevice device;
    std::unique_ptr<QTemporaryDir> supplies;
    std::unique_ptr<ManualClock> clock;
    std::unique_ptr<BatteryService> service;
    std::unique_ptr<QSignalSpy> alerts;

    void writeSupply(const QString &name, const QByteArray &type, const QByteArray &capacity,
                     const QByteArray &status) {
        ::writeSupply(supplies->path(), name, type, capacity, status);
    }

    void setBattery(int capacity, bool charging) {
        writeSupply(u"BAT0"_s, "Battery", QByteArray::number(capacity),
                    charging ? "Charging" : "Discharging");
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
        QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.isConnected() || qgetenv("DBUS_SYSTEM_BUS_ADDRESS").isEmpty())
            QSKIP("needs a private system bus (run through its CTest wrapper)");
        QVERIFY(
            bus.registerObject(displayDevicePath, &device, QDBusConnection::ExportAllProperties));
        QVERIFY(bus.registerService(upowerName));
    }

    // The folder reader is forced; the UPower cases lift that.
    void init() {
        device.type = 2;
        device.isPresent = true;
        device.percentage = 80.0;
        device.state = 2;
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

    // A supply folder's type, capacity and status files; none of them a reading.
    void unreadableSupplies_data() {
        QTest::addColumn<QByteArrayList>("files");
        const auto row = [](const char *name, QByteArrayList files) {
            QTest::newRow(name) << files;
        };
        row("mains only", {"Mains", "1", "Discharging"});
        row("capacity not a number", {"Battery", "low", "Discharging"});
        row("capacity out of range", {"Battery", "-1", "Discharging"});
        row("no status", {"Battery", "1", ""});
        row("empty folder", {});
    }

    void unreadableSupplies() {
        QFETCH(QByteArrayList, files);
        if (!files.isEmpty())
            writeSupply(u"BAT0"_s, files[0], files[1], files[2]);
        startService();
        tick();
        tick();
        QCOMPARE(alerts->count(), 0);
        QVERIFY(!service->hasAlerted());
    }

    void firstBatteryByNameIsRead() {
        writeSupply(u"AC"_s, "Mains", "0", "Discharging");
        writeSupply(u"BAT1"_s, "Battery", "80", "Discharging");
        writeSupply(u"BAT0"_s, "Battery", "1", "Discharging");
        startService();
        tick();
        QCOMPARE(alerts->count(), 1);
    }

    void destroyedServiceStopsChecking() {
        setBattery(1, false);
        startService();
        service.reset();
        tick();
        QCOMPARE(alerts->count(), 0);
        QCOMPARE(clock->pendingCount(), 0);
    }

    void parseReadings() {
        QCOMPARE(SysfsPowerSource::parse("100", "Full"), (PowerReading{100, false}));
        QCOMPARE(SysfsPowerSource::parse(" 7 ", "Not charging"), (PowerReading{7, false}));
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
        setBattery(7, false);
        QCOMPARE(readNow(*PowerSource::createDefault())->capacity, 7);
        qunsetenv("ZELVANE_POWER_SUPPLY_DIR");
        device.percentage = 42.0;
        QCOMPARE(readNow(*PowerSource::createDefault())->capacity, 42);
    }

    void withoutUPowerTheFallbackAnswers() {
        setBattery(33, true);
        QDBusConnection bus = QDBusConnection::systemBus();
        UPowerSource source(std::make_unique<SysfsPowerSource>(supplies->path()));
        QVERIFY(bus.unregisterService(upowerName));
        const auto reading = readNow(source);
        QVERIFY(bus.registerService(upowerName));
        QCOMPARE(reading, (PowerReading{33, true}));
        // Back on the bus, UPower is asked again.
        QCOMPARE(readNow(source), (PowerReading{80, false}));
    }

    // The battery is read every minute: a failing bus is reported once, not at every reading,
    // and again only after UPower has answered in between. Without a system bus at all (a
    // container), the kernel's folder answers.
    void failuresAreLoggedOnce() {
        static QStringList warnings;
        warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
                if (type == QtWarningMsg && qstrcmp(context.category, "zelvane.platform") == 0)
                    warnings << message;
            });
        const auto restoreHandler = qScopeGuard([previous] { qInstallMessageHandler(previous); });

        setBattery(33, true);
        const QDBusConnection noBus = QDBusConnection::connectToBus(
            u"unix:path=/nonexistent/zelvane-system-bus"_s, u"no bus"_s);
        QVERIFY(!noBus.isConnected());
        UPowerSource withoutBus(std::make_unique<SysfsPowerSource>(supplies->path()), 5s, noBus);
        for (int minute = 0; minute < 3; ++minute)
            QCOMPARE(readNow(withoutBus), (PowerReading{33, true}));
        QCOMPARE(warnings.size(), 1);
        QDBusConnection::disconnectFromBus(u"no bus"_s);

        QDBusConnection bus = QDBusConnection::systemBus();
        QDBusConnection stalledBus =
            QDBusConnection::connectToBus(QDBusConnection::SystemBus, u"stalled"_s);
        StalledDevice stalled;
        QVERIFY(stalledBus.registerVirtualObject(displayDevicePath, &stalled));
        const auto stall = [&](bool on) {
            QDBusConnection &from = on ? bus : stalledBus;
            QDBusConnection &to = on ? stalledBus : bus;
            QVERIFY(from.unregisterService(upowerName));
            QVERIFY(to.registerService(upowerName));
        };
        const auto restoreBus = qScopeGuard([&] {
            stalledBus.unregisterService(upowerName);
            bus.registerService(upowerName);
            QDBusConnection::disconnectFromBus(u"stalled"_s);
        });
        UPowerSource source(nullptr, 100ms);
        stall(true);
        QCOMPARE(readNow(source), std::nullopt);
        QCOMPARE(readNow(source), std::nullopt);
        QCOMPARE(warnings.size(), 2);
        stall(false);
        QCOMPARE(readNow(source), (PowerReading{80, false}));
        stall(true);
        QCOMPARE(readNow(source), std::nullopt);
        QCOMPARE(warnings.size(), 3);
        stall(false);
    }

    // UPower's PropertiesChanged brings a reading at once, when it names the charge or the
    // state; between announcements the battery is read only every half hour.
    void upowerAnnouncesChanges() {
        QDBusConnection announcer =
            QDBusConnection::connectToBus(QDBusConnection::SystemBus, u"announcer"_s);
        const auto disconnect =
            qScopeGuard([] { QDBusConnection::disconnectFromBus(u"announcer"_s); });
        const auto announce = [&announcer](const QVariantMap &changed) {
            QDBusMessage signal = QDBusMessage::createSignal(
                displayDevicePath, u"org.freedesktop.DBus.Properties"_s, u"PropertiesChanged"_s);
            signal << u"org.freedesktop.UPower.Device"_s << changed << QStringList();
            return announcer.send(signal);
        };
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
        QVERIFY(announce({{u"TimeToEmpty"_s, qlonglong(60)}}));
        QTest::qWait(200);
        QCOMPARE(alerts.count(), 0);
        QVERIFY(announce({{u"Percentage"_s, 1.0}}));
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
        QDBusConnection bus = QDBusConnection::systemBus();
        QDBusConnection stalledBus =
            QDBusConnection::connectToBus(QDBusConnection::SystemBus, u"stalled"_s);
        QVERIFY(stalledBus.isConnected());
        StalledDevice stalled;
        QVERIFY(stalledBus.registerVirtualObject(displayDevicePath, &stalled));
        QVERIFY(bus.unregisterService(upowerName));
        QVERIFY(stalledBus.registerService(upowerName));
        const auto restore = qScopeGuard([&] {
            stalledBus.unregisterService(upowerName);
            bus.registerService(upowerName);
            QDBusConnection::disconnectFromBus(u"stalled"_s);
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

QTEST_GUILESS_MAIN(TestBattery)
#include "tst_battery.moc"
