#include "ManualClock.h"
#include "reminders/BatteryService.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
void writeFile(const QString &path, const QByteArray &content) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}
} // namespace

// Drives the watcher through the real power-supply folder reader, as a user's kernel would
// present it, with time walked by a manual clock.
class TestBatteryService : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> supplies;
    std::unique_ptr<ManualClock> clock;
    std::unique_ptr<BatteryService> service;
    std::unique_ptr<QSignalSpy> alerts;

    void writeSupply(const QString &name, const QByteArray &type, const QByteArray &capacity,
                     const QByteArray &status) {
        QDir().mkpath(supplies->filePath(name));
        writeFile(supplies->filePath(name + QStringLiteral("/type")), type + '\n');
        writeFile(supplies->filePath(name + QStringLiteral("/capacity")), capacity + '\n');
        writeFile(supplies->filePath(name + QStringLiteral("/status")), status + '\n');
    }

    void setBattery(int capacity, bool charging) {
        writeSupply(QStringLiteral("BAT0"), "Battery", QByteArray::number(capacity),
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
    void init() {
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

    void episodes_data() {
        QTest::addColumn<QList<int>>("capacities");
        QTest::addColumn<QList<bool>>("charging");
        QTest::addColumn<int>("expectedAlerts");
        QTest::addColumn<bool>("finallyAlerted");

        QTest::newRow("one alert while it stays low")
            << QList<int>{1, 1, 0} << QList<bool>{false, false, false} << 1 << true;
        QTest::newRow("charging at 1 % never alerts")
            << QList<int>{1, 1} << QList<bool>{true, true} << 0 << false;
        QTest::newRow("rising into the band does not re-arm")
            << QList<int>{1, 5, 1} << QList<bool>{false, false, false} << 1 << true;
        QTest::newRow("6 % re-arms")
            << QList<int>{1, 6, 1} << QList<bool>{false, false, false} << 2 << true;
        QTest::newRow("charging after the alert leaves it alerted")
            << QList<int>{1, 1, 1} << QList<bool>{false, true, false} << 1 << true;
        QTest::newRow("2 % is not low")
            << QList<int>{2, 2} << QList<bool>{false, false} << 0 << false;
        QTest::newRow("falling from the band alerts")
            << QList<int>{50, 5, 2, 1} << QList<bool>{false, false, false, false} << 1 << true;
    }

    void episodes() {
        QFETCH(QList<int>, capacities);
        QFETCH(QList<bool>, charging);
        QFETCH(int, expectedAlerts);
        QFETCH(bool, finallyAlerted);

        setBattery(capacities.first(), charging.first());
        startService();
        for (qsizetype i = 0; i < capacities.size(); ++i) {
            setBattery(capacities[i], charging[i]);
            tick();
        }
        QCOMPARE(alerts->count(), expectedAlerts);
        QCOMPARE(service->hasAlerted(), finallyAlerted);
    }

    void unreadableSupplies_data() {
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QByteArray>("capacity");
        QTest::addColumn<QByteArray>("status");

        QTest::newRow("mains only")
            << QByteArray("Mains") << QByteArray("1") << QByteArray("Discharging");
        QTest::newRow("capacity not a number")
            << QByteArray("Battery") << QByteArray("low") << QByteArray("Discharging");
        QTest::newRow("capacity out of range")
            << QByteArray("Battery") << QByteArray("-1") << QByteArray("Discharging");
        QTest::newRow("no status") << QByteArray("Battery") << QByteArray("1") << QByteArray();
        QTest::newRow("empty folder") << QByteArray() << QByteArray() << QByteArray();
    }

    void unreadableSupplies() {
        QFETCH(QByteArray, type);
        QFETCH(QByteArray, capacity);
        QFETCH(QByteArray, status);
        if (!type.isEmpty())
            writeSupply(QStringLiteral("BAT0"), type, capacity, status);
        startService();
        tick();
        tick();
        QCOMPARE(alerts->count(), 0);
        QVERIFY(!service->hasAlerted());
    }

    void firstBatteryByNameIsRead() {
        writeSupply(QStringLiteral("AC"), "Mains", "0", "Discharging");
        writeSupply(QStringLiteral("BAT1"), "Battery", "80", "Discharging");
        writeSupply(QStringLiteral("BAT0"), "Battery", "1", "Discharging");
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
};

QTEST_GUILESS_MAIN(TestBatteryService)
#include "tst_batteryservice.moc"
