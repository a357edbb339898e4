#include "BatteryService.h"

#include <QMetaObject>

BatteryService::BatteryService(Clock &clock, std::unique_ptr<PowerSource> source, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_source(std::move(source)) {}

BatteryService::~BatteryService() = default;

void BatteryService::startMonitoring() {
    m_timer = std::make_unique<QObject>();
    m_clock.every(checkInterval, m_timer.get(), [this] { checkBattery(); });
}

void BatteryService::checkBattery() {
    if (!m_source)
        return;
    const std::optional<PowerReading> reading = m_source->read();
    if (!reading)
        return;
    if (reading->capacity <= alertCapacity) {
        if (reading->charging || m_hasAlerted)
            return;
        m_hasAlerted = true;
        QMetaObject::invokeMethod(this, &BatteryService::lowBattery, Qt::QueuedConnection);
    } else if (reading->capacity >= rearmCapacity) {
        m_hasAlerted = false;
    }
}
