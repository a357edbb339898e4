#include "BatteryService.h"

#include <QMetaObject>
#include <QPointer>
#include <optional>

namespace {
// End-to-end tests walk the battery's timeline in seconds; users never set this.
std::optional<std::chrono::milliseconds> forcedInterval() {
    const int seconds = qEnvironmentVariableIntValue("ZELVANE_BATTERY_CHECK_SECONDS");
    return seconds > 0 ? std::optional(std::chrono::seconds(seconds)) : std::nullopt;
}
} // namespace

BatteryService::BatteryService(Clock &clock, std::unique_ptr<PowerSource> source, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_source(std::move(source)) {}

BatteryService::~BatteryService() = default;

void BatteryService::startMonitoring() {
    m_watch = std::make_unique<QObject>();
    if (m_source)
        m_source->watch(m_watch.get(), [this] { checkBattery(); });
    planCheck(forcedInterval().value_or(checkInterval));
}

void BatteryService::planCheck(std::chrono::milliseconds delay) {
    m_timer = std::make_unique<QObject>();
    m_clock.after(delay, m_timer.get(), [this] { checkBattery(); });
}

QCoro::Task<> BatteryService::checkBattery() {
    if (!m_source || m_reading)
        co_return;
    QPointer<BatteryService> self(this);
    m_reading = true;
    // No timer runs while the reading is on its way; the next is planned once it is in.
    m_timer.reset();
    const std::optional<PowerReading> reading = co_await m_source->read();
    if (!self)
        co_return;
    m_reading = false;
    if (reading)
        apply(*reading);
    if (const auto forced = forcedInterval())
        planCheck(*forced);
    else if (m_source->announcesChanges())
        planCheck(announcedInterval);
    else
        planCheck(m_source->foundNoBattery() ? noBatteryInterval : checkInterval);
}

void BatteryService::apply(const PowerReading &reading) {
    if (reading.capacity <= alertCapacity) {
        if (reading.charging || m_hasAlerted)
            return;
        m_hasAlerted = true;
        QMetaObject::invokeMethod(this, &BatteryService::lowBattery, Qt::QueuedConnection);
    } else if (reading.capacity >= rearmCapacity) {
        m_hasAlerted = false;
    }
}
