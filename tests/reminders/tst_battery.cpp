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

// The charge, "+" while charging; empty for no reading.
QString describe(const std::optional<PowerReading> &reading) {
    return reading ? QString::number(reading->capacity) + (reading->charging ? u"+"_s : u""_s)
                   : QString();
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
// stopped in a debugger would. `stall` moves UPower's name to it and back; it gives the name
// back for good when it goes.
class StalledUPower : public QDBusVirtualObject {
public:
    int calls = 0;

    StalledUPower() { QVERIFY(stalledBus.registerVirtualObject(displayDevicePath, this)); }
    ~StalledUPower() override {
        stalledBus.unregisterService(upowerName);
        bus.registerService(upowerName);
        QDBusConnection::disconnectFromBus(u"stalled"_s);
    }
    bool stall(bool on) {
        QDBusConnection &from = on ? bus : stalledBus;
        QDBusConnection &to = on ? stalledBus : bus;
        return from.unregisterService(upowerName) && to.registerService(upowerName);
    }
    // UPower's PropertiesChanged for the display device, sent from this connection.
    bool announce(const QVariantMap &changed) {
        QDBusMessage signal = QDBusMessage::createSignal(
            displayDevicePath, u"org.freedesktop.DBus.Properties"_s, u"PropertiesChanged"_s);
        signal << u"org.freedesktop.UPower.Device"_s << changed << QStringList();
        return stalledBus.send(signal);
    }
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &, const QDBusConnection &) override {
        ++calls;
        return true; // claimed, and no reply is ever sent
    }

private:
    QDBusConnection bus = QDBusConnection::systemBus();
    QDBusConnection stalledBus =
        QDBusConnection::connectToBus(QDBusConnection::SystemBus, u"stalled"_s);
};

class TestBattery : public QObject {
    Q_OBJECT

private:
    FakeDisplayDevice device;
    std::unique_ptr<QTemporaryDir> supplies;
    std::unique_ptr<ManualClock> clock;
    std::unique_ptr<BatteryService> service;
    std::unique_ptr<QSignalSpy> alerts;

    // A supply folder as "name|type|capacity|status".
    void writeSupply(const QString &supply) {
        const QStringList parts = supply.split(u'|');
        QVERIFY(QDir(supplies->path()).mkpath(parts[0]));
        for (int i = 1; i < parts.size(); ++i) {
            QFile f(supplies->path() + u'/' + parts[0] + u'/' +
                    QStringList{{}, u"type"_s, u"capacity"_s, u"status"_s}[i]);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(parts[i].toUtf8() + '\n');
        }
    }

    void setBattery(int capacity, bool charging) {
        writeSupply(
            u"BAT0|Battery|%1|%2"_s.arg(capacity).arg(charging ? u"Charging"_s : u"Discharging"_s));
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

    // The kernel's supply folders: the first battery by name is read; "+" while charging.
    void folderReadings_data() {
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QString>("reading"); // empty: none
        const auto row = [](const char *name, QStringList folders, const char *reading) {
            QTest::newRow(name) << folders << QString::fromLatin1(reading);
        };
        row("full is not charging", {u"BAT0|Battery|100|Full"_s}, "100");
        row("spaces, not charging", {u"BAT0|Battery| 7 |Not charging"_s}, "7");
        row("charging", {u"BAT0|Battery|33|Charging"_s}, "33+");
        row("first battery by name",
            {u"AC|Mains|0|Discharging"_s, u"BAT1|Battery|80|Discharging"_s,
             u"BAT0|Battery|1|Discharging"_s},
            "1");
        row("mains only", {u"AC|Mains|1|Discharging"_s}, "");
        row("capacity not a number", {u"BAT0|Battery|low|Discharging"_s}, "");
        row("capacity out of range", {u"BAT0|Battery|-1|Discharging"_s}, "");
        row("no status", {u"BAT0|Battery|1|"_s}, "");
        row("empty folder", {}, "");
    }

    void folderReadings() {
        QFETCH(QStringList, folders);
        QFETCH(QString, reading);
        for (const QString &supply : std::as_const(folders))
            writeSupply(supply);
        SysfsPowerSource source(supplies->path());
        QCOMPARE(describe(readNow(source)), reading);
    }

    void destroyedServiceStopsChecking() {
        setBattery(1, false);
        startService();
        service.reset();
        tick();
        QCOMPARE(alerts->count(), 0);
        QCOMPARE(clock->pendingCount(), 0);
    }

    // UPower's display device: its type, presence, charge and state.
    void upowerReadings_data() {
        QTest::addColumn<uint>("type");
        QTest::addColumn<bool>("present");
        QTest::addColumn<double>("percentage");
        QTest::addColumn<uint>("state");
        QTest::addColumn<QString>("reading");
        QTest::newRow("discharging") << 2u << true << 57.0 << 2u << u"57"_s;
        QTest::newRow("charging") << 2u << true << 1.0 << 1u << u"1+"_s;
        QTest::newRow("fully charged is not charging") << 2u << true << 100.0 << 4u << u"100"_s;
        QTest::newRow("fractions round") << 2u << true << 1.4 << 2u << u"1"_s;
        QTest::newRow("desktop without battery") << 0u << false << 0.0 << 0u << QString();
        QTest::newRow("battery not present") << 2u << false << 0.0 << 0u << QString();
    }

    void upowerReadings() {
        QFETCH(uint, type);
        QFETCH(bool, present);
        QFETCH(double, percentage);
        QFETCH(uint, state);
        QFETCH(QString, reading);
        device.type = type;
        device.isPresent = present;
        device.percentage = percentage;
        device.state = state;
        UPowerSource source;
        QCOMPARE(describe(readNow(source)), reading);
    }

    // A forced folder, else UPower; while no one owns UPower's name, the kernel's folder.
    void sourceChoice() {
        setBattery(33, true);
        QCOMPARE(describe(readNow(*PowerSource::createDefault())), u"33+"_s);
        qunsetenv("ZELVANE_POWER_SUPPLY_DIR");
        QCOMPARE(describe(readNow(*PowerSource::createDefault())), u"80"_s);
        QDBusConnection bus = QDBusConnection::systemBus();
        UPowerSource source(std::make_unique<SysfsPowerSource>(supplies->path()));
        QVERIFY(bus.unregisterService(upowerName));
        const auto reading = readNow(source);
        QVERIFY(bus.registerService(upowerName));
        QCOMPARE(describe(reading), u"33+"_s);
        // Back on the bus, UPower is asked again.
        QCOMPARE(describe(readNow(source)), u"80"_s);
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

        StalledUPower upower;
        UPowerSource source(nullptr, 100ms);
        QVERIFY(upower.stall(true));
        QCOMPARE(readNow(source), std::nullopt);
        QCOMPARE(readNow(source), std::nullopt);
        QCOMPARE(warnings.size(), 2);
        QVERIFY(upower.stall(false));
        QCOMPARE(readNow(source), (PowerReading{80, false}));
        QVERIFY(upower.stall(true));
        QCOMPARE(readNow(source), std::nullopt);
        QCOMPARE(warnings.size(), 3);
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
