#pragma once

#include <QByteArrayView>
#include <QString>
#include <memory>
#include <optional>

// One reading of the machine's battery.
struct PowerReading {
    int capacity = 0; // percent
    bool charging = false;

    bool operator==(const PowerReading &) const = default;
};

// Where battery readings come from. A machine without a battery yields nothing.
class PowerSource {
public:
    virtual ~PowerSource() = default;
    virtual std::optional<PowerReading> read() = 0;

    // $ZELVANE_POWER_SUPPLY_DIR when set (that folder only); otherwise UPower's display
    // device, or /sys/class/power_supply when UPower cannot be reached.
    static std::unique_ptr<PowerSource> createDefault();
};

// The kernel's power-supply folder: the first entry by name whose `type` is "Battery".
class SysfsPowerSource final : public PowerSource {
public:
    explicit SysfsPowerSource(QString directory);
    std::optional<PowerReading> read() override;

    // `capacity` holds a whole percentage, `status` words such as "Charging" or
    // "Discharging"; anything unreadable gives nothing.
    static std::optional<PowerReading> parse(QByteArrayView capacity, QByteArrayView status);

private:
    QString m_directory;
};

// UPower's display device on the system bus.
class UPowerSource final : public PowerSource {
public:
    std::optional<PowerReading> read() override;

    // Whether UPower answers on the system bus at all.
    static bool isAvailable();
};
