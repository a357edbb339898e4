#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QObject>
#include <QTest>

// UPower on a test's private system bus. A test target lists this header among its sources for
// moc.
namespace FakeUPower {
inline const QString name = QStringLiteral("org.freedesktop.UPower");
inline const QString displayDevicePath =
    QStringLiteral("/org/freedesktop/UPower/devices/DisplayDevice");
} // namespace FakeUPower

// UPower's display device as the daemon publishes it.
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

    // Back to the present, discharging battery at 80 % that each case starts from.
    void reset() {
        type = 2;
        isPresent = true;
        percentage = 80.0;
        state = 2;
    }

    // Serves the device under UPower's name on the system bus.
    bool publish() {
        QDBusConnection bus = QDBusConnection::systemBus();
        return bus.registerObject(FakeUPower::displayDevicePath, this,
                                  QDBusConnection::ExportAllProperties) &&
               bus.registerService(FakeUPower::name);
    }
};

// A UPower that has taken its name but never answers, as a daemon stuck in a kernel call or
// stopped in a debugger would. `stall` moves UPower's name to it and back; it gives the name
// back for good when it goes.
class StalledUPower : public QDBusVirtualObject {
public:
    int calls = 0;

    StalledUPower() {
        QVERIFY(stalledBus.registerVirtualObject(FakeUPower::displayDevicePath, this));
    }
    ~StalledUPower() override {
        stalledBus.unregisterService(FakeUPower::name);
        bus.registerService(FakeUPower::name);
        QDBusConnection::disconnectFromBus(QStringLiteral("stalled"));
    }
    bool stall(bool on) {
        QDBusConnection &from = on ? bus : stalledBus;
        QDBusConnection &to = on ? stalledBus : bus;
        return from.unregisterService(FakeUPower::name) && to.registerService(FakeUPower::name);
    }
    // UPower's PropertiesChanged for the display device, sent from this connection.
    bool announce(const QVariantMap &changed) {
        QDBusMessage signal = QDBusMessage::createSignal(
            FakeUPower::displayDevicePath, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("PropertiesChanged"));
        signal << QStringLiteral("org.freedesktop.UPower.Device") << changed << QStringList();
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
        QDBusConnection::connectToBus(QDBusConnection::SystemBus, QStringLiteral("stalled"));
};
