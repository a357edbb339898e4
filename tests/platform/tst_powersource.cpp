// The battery's two readers: the power-supply folder as the kernel presents it, and UPower's
// display device on the test's private system bus.
#include "FakeUPower.h"
#include "platform/PowerSource.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {
// The charge, "+" while charging; "no battery" when the source found none, empty when it could
// not tell.
QString readNow(PowerSource &source) {
    const std::optional<PowerReading> reading = QCoro::waitFor(source.read());
    if (!reading)
        return source.foundNoBattery() ? u"no battery"_s : QString();
    return QString::number(reading->capacity) + (reading->charging ? u"+"_s : u""_s);
}
} // namespace

class TestPowerSource : public QObject {
    Q_OBJECT

    FakeDisplayDevice device;
    std::unique_ptr<QTemporaryDir> supplies;

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

private Q_SLOTS:
    void initTestCase() {
        if (qgetenv("DBUS_SYSTEM_BUS_ADDRESS").isEmpty())
            QSKIP("needs a private system bus (run through its CTest wrapper)");
        QVERIFY(device.publish());
    }

    void init() {
        device.reset();
        supplies = std::make_unique<QTemporaryDir>();
        QVERIFY(supplies->isValid());
    }

    void cleanup() { qunsetenv("ZELVANE_POWER_SUPPLY_DIR"); }

    // The kernel's supply folders: the first battery by name is read.
    void folderReadings_data() {
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QString>("reading");
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
        row("mains only", {u"AC|Mains|1|Discharging"_s}, "no battery");
        row("capacity not a number", {u"BAT0|Battery|low|Discharging"_s}, "");
        row("capacity below range", {u"BAT0|Battery|-1|Discharging"_s}, "");
        row("capacity above range", {u"BAT0|Battery|101|Discharging"_s}, "");
        row("no status", {u"BAT0|Battery|1|"_s}, "");
        row("empty folder", {}, "no battery");
    }
    void folderReadings() {
        QFETCH(QStringList, folders);
        QFETCH(QString, reading);
        for (const QString &supply : std::as_const(folders))
            writeSupply(supply);
        SysfsPowerSource source(supplies->path());
        QCOMPARE(readNow(source), reading);
    }

    // The display device's properties: a present battery with a finite charge and a state.
    void upowerProperties_data() {
        QTest::addColumn<QVariantMap>("properties");
        QTest::addColumn<QString>("reading");
        const QVariantMap battery{
            {u"Type"_s, 2u}, {u"IsPresent"_s, true}, {u"Percentage"_s, 57.0}, {u"State"_s, 2u}};
        const auto with = [&](const QString &key, const QVariant &value) {
            QVariantMap properties = battery;
            if (value.isValid())
                properties.insert(key, value);
            else
                properties.remove(key);
            return properties;
        };
        QTest::newRow("discharging") << battery << u"57"_s;
        QTest::newRow("charging") << with(u"State"_s, 1u) << u"57+"_s;
        QTest::newRow("fully charged is not charging") << with(u"State"_s, 4u) << u"57"_s;
        QTest::newRow("fractions round") << with(u"Percentage"_s, 1.5) << u"2"_s;
        QTest::newRow("over full") << with(u"Percentage"_s, 104.0) << u"100"_s;
        QTest::newRow("no charge") << with(u"Percentage"_s, {}) << QString();
        QTest::newRow("charge not a number") << with(u"Percentage"_s, std::nan("")) << QString();
        QTest::newRow("no state") << with(u"State"_s, {}) << QString();
        QTest::newRow("not a battery") << with(u"Type"_s, 0u) << QString();
        QTest::newRow("no type") << with(u"Type"_s, {}) << QString();
        QTest::newRow("not present") << with(u"IsPresent"_s, false) << QString();
        QTest::newRow("presence unknown") << with(u"IsPresent"_s, {}) << QString();
    }
    void upowerProperties() {
        QFETCH(QVariantMap, properties);
        QFETCH(QString, reading);
        const std::optional<PowerReading> read = UPowerSource::fromProperties(properties);
        QCOMPARE(read ? QString::number(read->capacity) + (read->charging ? u"+"_s : u""_s)
                      : QString(),
                 reading);
    }

    // A forced folder, else UPower; while no one owns UPower's name, the kernel's folder. A
    // device that is no battery is no battery, not a failed reading.
    void sourceChoice() {
        writeSupply(u"BAT0|Battery|33|Charging"_s);
        qputenv("ZELVANE_POWER_SUPPLY_DIR", supplies->path().toUtf8());
        QCOMPARE(readNow(*PowerSource::createDefault()), u"33+"_s);
        qunsetenv("ZELVANE_POWER_SUPPLY_DIR");
        QCOMPARE(readNow(*PowerSource::createDefault()), u"80"_s);
        QDBusConnection bus = QDBusConnection::systemBus();
        UPowerSource source(std::make_unique<SysfsPowerSource>(supplies->path()));
        QVERIFY(bus.unregisterService(FakeUPower::name));
        const QString reading = readNow(source);
        QVERIFY(bus.registerService(FakeUPower::name));
        QCOMPARE(reading, u"33+"_s);
        // Back on the bus, UPower is asked again.
        QCOMPARE(readNow(source), u"80"_s);
        device.type = 0;
        QCOMPARE(readNow(source), u"no battery"_s);
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

        writeSupply(u"BAT0|Battery|33|Charging"_s);
        const QDBusConnection noBus = QDBusConnection::connectToBus(
            u"unix:path=/nonexistent/zelvane-system-bus"_s, u"no bus"_s);
        QVERIFY(!noBus.isConnected());
        UPowerSource withoutBus(std::make_unique<SysfsPowerSource>(supplies->path()), 5s, noBus);
        for (int minute = 0; minute < 3; ++minute)
            QCOMPARE(readNow(withoutBus), u"33+"_s);
        QCOMPARE(warnings.size(), 1);
        QDBusConnection::disconnectFromBus(u"no bus"_s);

        StalledUPower upower;
        UPowerSource source(nullptr, 100ms);
        QVERIFY(upower.stall(true));
        QCOMPARE(readNow(source), QString());
        QCOMPARE(readNow(source), QString());
        QCOMPARE(warnings.size(), 2);
        QVERIFY(upower.stall(false));
        QCOMPARE(readNow(source), u"80"_s);
        QVERIFY(upower.stall(true));
        QCOMPARE(readNow(source), QString());
        QCOMPARE(warnings.size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestPowerSource)
#include "tst_powersource.moc"
