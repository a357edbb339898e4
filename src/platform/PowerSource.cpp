#include "PowerSource.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <cmath>

namespace {
constexpr auto upowerService = "org.freedesktop.UPower";
constexpr auto displayDevicePath = "/org/freedesktop/UPower/devices/DisplayDevice";
constexpr auto deviceInterface = "org.freedesktop.UPower.Device";
constexpr uint upowerStateCharging = 1;
constexpr uint upowerTypeBattery = 2;
// The check runs on the main thread once a minute; a stuck bus must not freeze the tray.
constexpr int busTimeoutMs = 500;

QByteArray readSmallFile(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(256).trimmed();
}

std::optional<QVariant> deviceProperty(const QString &name) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(upowerService), QString::fromLatin1(displayDevicePath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QString::fromLatin1(deviceInterface) << name;
    const QDBusMessage reply = QDBusConnection::systemBus().call(call, QDBus::Block, busTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}
} // namespace

std::unique_ptr<PowerSource> PowerSource::createDefault() {
    const QString forced = qEnvironmentVariable("ZELVANE_POWER_SUPPLY_DIR");
    if (!forced.isEmpty())
        return std::make_unique<SysfsPowerSource>(forced);
    if (UPowerSource::isAvailable())
        return std::make_unique<UPowerSource>();
    return std::make_unique<SysfsPowerSource>(QStringLiteral("/sys/class/power_supply"));
}

SysfsPowerSource::SysfsPowerSource(QString directory)
    : m_directory(std::move(directory)) {}

std::optional<PowerReading> SysfsPowerSource::read() {
    const QDir dir(m_directory);
    const QStringList entries =
        dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    for (const QString &entry : entries) {
        const QString base = dir.filePath(entry) + QLatin1Char('/');
        if (readSmallFile(base + QStringLiteral("type")) != "Battery")
            continue;
        return parse(readSmallFile(base + QStringLiteral("capacity")),
                     readSmallFile(base + QStringLiteral("status")));
    }
    return std::nullopt;
}

std::optional<PowerReading> SysfsPowerSource::parse(QByteArrayView capacity,
                                                    QByteArrayView status) {
    bool ok = false;
    const int percent = capacity.trimmed().toInt(&ok);
    if (!ok || percent < 0 || percent > 100 || status.trimmed().isEmpty())
        return std::nullopt;
    return PowerReading{percent, status.trimmed() == "Charging"};
}

bool UPowerSource::isAvailable() {
    QDBusConnectionInterface *bus = QDBusConnection::systemBus().interface();
    return bus && bus->isServiceRegistered(QString::fromLatin1(upowerService)).value();
}

std::optional<PowerReading> UPowerSource::read() {
    const auto type = deviceProperty(QStringLiteral("Type"));
    const auto present = deviceProperty(QStringLiteral("IsPresent"));
    if (!type || !present || type->toUInt() != upowerTypeBattery || !present->toBool())
        return std::nullopt;
    const auto percentage = deviceProperty(QStringLiteral("Percentage"));
    const auto state = deviceProperty(QStringLiteral("State"));
    bool okPercent = false, okState = false;
    const double percent = percentage ? percentage->toDouble(&okPercent) : 0.0;
    const uint stateValue = state ? state->toUInt(&okState) : 0;
    if (!okPercent || !okState || !std::isfinite(percent))
        return std::nullopt;
    return PowerReading{int(std::lround(std::clamp(percent, 0.0, 100.0))),
                        stateValue == upowerStateCharging};
}
