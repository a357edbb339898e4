#include "BatteryService.h"

#include <QMetaObject>
#include <QPointer>

namespace {
// End-to-end tests walk the battery's timeline in seconds; users never set this.
std::chrono::milliseconds interval() {
    const int seconds = qEnvironmentVariableIntValue("ZELVANE_BATTERY_CHECK_SECONDS");
    return seconds > 0 ? std::chrono::seconds(seconds) : BatteryService::checkInterval;
}
} // namespace

BatteryService::BatteryService(Clock &clock, std::unique_ptr<PowerSource> source, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_source(std::move(source)) {}

BatteryService::~BatteryService() = default;

void BatteryService::startMonitoring() {
    m_timer = std::make_unique<QObject>();
    m_clock.every(interval(), m_timer.get(), [this] { checkBattery(); });
}

QCoro::Task<> BatteryService::checkBattery() {
    if (!m_source || m_reading)
        co_return;
    QPointer<BatteryService> self(this);
    m_reading = true;
    const std::optional<PowerReading> reading = co_await m_source->read();
    if (!self)
        co_return;
    m_reading = false;
    if (reading)
        apply(*reading);
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
