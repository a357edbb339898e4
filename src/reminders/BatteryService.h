#pragma once

#include "core/Clock.h"
#include "platform/PowerSource.h"

#include <QCoroTask>
#include <QObject>
#include <chrono>
#include <memory>

// Watches the battery and raises one alert per low-battery episode: at 1 % or less while
// discharging. It reads the battery when UPower announces a change, and otherwise once a
// minute; where UPower announces changes, the minute becomes a half-hour safety net, and a
// machine with no battery at all is looked at again every ten minutes. The alert re-arms only once
// the charge is back at 6 % or more, so a reading that wobbles around the threshold does not alert
// twice.
class BatteryService : public QObject {
    Q_OBJECT

public:
    explicit BatteryService(Clock &clock,
                            std::unique_ptr<PowerSource> source = PowerSource::createDefault(),
                            QObject *parent = nullptr);
    ~BatteryService() override;

    // The first check happens a minute from now (every check after $ZELVANE_BATTERY_CHECK_SECONDS
    // when that is set), or at the first announced change.
    void startMonitoring();

    bool hasAlerted() const { return m_hasAlerted; }
    // A reading is on its way; ticks meanwhile are skipped rather than queued.
    bool isReading() const { return m_reading; }

    static constexpr std::chrono::minutes checkInterval{1};
    static constexpr std::chrono::minutes announcedInterval{30};
    static constexpr std::chrono::minutes noBatteryInterval{10};
    static constexpr int alertCapacity = 1;
    static constexpr int rearmCapacity = 6;

Q_SIGNALS:
    // Queued, so listeners never run inside a check.
    void lowBattery();

private:
    QCoro::Task<> checkBattery();
    void apply(const PowerReading &reading);
    void planCheck(std::chrono::milliseconds delay);

    Clock &m_clock;
    std::unique_ptr<PowerSource> m_source;
    // Lives as long as the watch; replaced when monitoring restarts.
    std::unique_ptr<QObject> m_watch;
    // Lives as long as the next check's timer: replacing it cancels that timer.
    std::unique_ptr<QObject> m_timer;
    bool m_hasAlerted = false;
    bool m_reading = false;
};
