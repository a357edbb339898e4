#include "PowerSource.h"

#include "PlatformLog.h"

#include <QCoroDBusPendingCall>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QFile>
#include <algorithm>
#include <cmath>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
constexpr auto upowerService = "org.freedesktop.UPower";
constexpr auto displayDevicePath = "/org/freedesktop/UPower/devices/DisplayDevice";
constexpr auto deviceInterface = "org.freedesktop.UPower.Device";
constexpr uint upowerStateCharging = 1;
constexpr uint upowerTypeBattery = 2;

// The start of a small attribute file below `directory`. The supply folder is read every
// minute on the main thread, so plain calls instead of Qt's file and folder classes.
QByteArray readSmallFile(int directory, const std::string &path) {
    const int fd = ::openat(directory, path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    char buffer[256];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    return got > 0 ? QByteArray(buffer, got).trimmed() : QByteArray();
}

// Passes UPower's PropertiesChanged on when it names a property a reading is made of.
class PropertiesRelay : public QObject {
    Q_OBJECT

public:
    PropertiesRelay(std::function<void()> changed, QObject *parent)
        : QObject(parent)
        , m_changed(std::move(changed)) {}

public Q_SLOTS:
    void relay(const QString &, const QVariantMap &changed, const QStringList &invalidated) {
        static const QStringList read{QStringLiteral("Percentage"), QStringLiteral("State"),
                                      QStringLiteral("IsPresent"), QStringLiteral("Type")};
        for (const QString &name : read) {
            if (changed.contains(name) || invalidated.contains(name)) {
                m_changed();
                return;
            }
        }
    }

private:
    std::function<void()> m_changed;
};

// What the bus answers when no one owns the name (UPower is not installed or not running).
bool isUnowned(const QDBusError &error) {
    return error.type() == QDBusError::ServiceUnknown;
}
} // namespace

void PowerSource::watch(QObject *, std::function<void()>) {}

std::unique_ptr<PowerSource> PowerSource::createDefault() {
    const QString forced = qEnvironmentVariable("ZELVANE_POWER_SUPPLY_DIR");
    if (!forced.isEmpty())
        return std::make_unique<SysfsPowerSource>(forced);
    return std::make_unique<UPowerSource>(
        std::make_unique<SysfsPowerSource>(QStringLiteral("/sys/class/power_supply")));
}

SysfsPowerSource::SysfsPowerSource(QString directory)
    : m_directory(std::move(directory)) {}

QCoro::Task<std::optional<PowerReading>> SysfsPowerSource::read() {
    co_return readNow();
}

std::optional<PowerReading> SysfsPowerSource::readNow() const {
    m_noBattery = true;
    const std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(QFile::encodeName(m_directory)),
                                                   &::closedir);
    if (!dir)
        return std::nullopt;
    // Every supply's folder (links, in sysfs), hidden names aside, taken in order of name.
    std::vector<std::string> names;
    while (const dirent *entry = ::readdir(dir.get())) {
        if (entry->d_name[0] != '.')
            names.emplace_back(entry->d_name);
    }
    std::sort(names.begin(), names.end());
    const int fd = ::dirfd(dir.get());
    for (const std::string &name : names) {
        if (readSmallFile(fd, name + "/type") != "Battery")
            continue;
        m_noBattery = false;
        return parse(readSmallFile(fd, name + "/capacity"), readSmallFile(fd, name + "/status"));
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

UPowerSource::UPowerSource(std::unique_ptr<PowerSource> fallback, std::chrono::milliseconds timeout,
                           QDBusConnection bus)
    : m_fallback(std::move(fallback))
    , m_timeout(timeout)
    , m_bus(std::move(bus)) {}

QCoro::Task<std::optional<PowerReading>> UPowerSource::read() {
    // Only locals after the first suspension: the source may be gone when the reply comes.
    const std::shared_ptr<PowerSource> fallback = m_fallback;
    const std::shared_ptr<QString> reported = m_reported;
    const std::shared_ptr<bool> answered = m_answered;
    const std::shared_ptr<bool> noBattery = m_noBattery;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(upowerService), QString::fromLatin1(displayDevicePath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    call << QString::fromLatin1(deviceInterface);
    const QDBusPendingCall pending = m_bus.asyncCall(call, int(m_timeout.count()));
    const QDBusMessage reply = co_await pending;
    if (reply.type() == QDBusMessage::ReplyMessage) {
        reported->clear();
        *answered = true;
        if (reply.arguments().isEmpty())
            co_return std::nullopt;
        const auto properties = qdbus_cast<QVariantMap>(reply.arguments().constFirst());
        *noBattery = properties.value(QStringLiteral("Type")).toUInt() != upowerTypeBattery ||
                     !properties.value(QStringLiteral("IsPresent")).toBool();
        co_return fromProperties(properties);
    }
    *answered = false;
    const QDBusError error(reply);
    // The battery is read every minute: the same failure is worth one line, not one a minute.
    if (!isUnowned(error) && *reported != error.name()) {
        *reported = error.name();
        qCWarning(lcPlatform) << "UPower's display device could not be read:" << error.name()
                              << error.message();
    }
    // No system bus (a container, a minimal session) is as good as no UPower.
    const bool unreachable = isUnowned(error) || error.type() == QDBusError::Disconnected;
    if (unreachable && fallback)
        co_return co_await fallback->read();
    co_return std::nullopt;
}

bool UPowerSource::foundNoBattery() const {
    if (*m_answered)
        return *m_noBattery;
    return m_fallback && m_fallback->foundNoBattery();
}

void UPowerSource::watch(QObject *context, std::function<void()> changed) {
    auto *relay = new PropertiesRelay(std::move(changed), context);
    // Matched on path and interface alone: naming the service would make Qt look up its owner
    // with a blocking call.
    m_watching = m_bus.connect(QString(), QString::fromLatin1(displayDevicePath),
                               QStringLiteral("org.freedesktop.DBus.Properties"),
                               QStringLiteral("PropertiesChanged"), relay,
                               SLOT(relay(QString, QVariantMap, QStringList)));
}

std::optional<PowerReading> UPowerSource::fromProperties(const QVariantMap &properties) {
    const QVariant type = properties.value(QStringLiteral("Type"));
    const QVariant present = properties.value(QStringLiteral("IsPresent"));
    if (!type.isValid() || !present.isValid() || type.toUInt() != upowerTypeBattery ||
        !present.toBool())
        return std::nullopt;
    bool okPercent = false, okState = false;
    const double percent = properties.value(QStringLiteral("Percentage")).toDouble(&okPercent);
    const uint state = properties.value(QStringLiteral("State")).toUInt(&okState);
    if (!okPercent || !okState || !std::isfinite(percent))
        return std::nullopt;
    return PowerReading{int(std::lround(std::clamp(percent, 0.0, 100.0))),
                        state == upowerStateCharging};
}

#include "PowerSource.moc"
