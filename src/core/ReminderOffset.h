#pragma once

#include <QList>
#include <QString>
#include <chrono>
#include <optional>

// A lead time a user can choose; the raw value is minutes.
enum class ReminderOffset : int {
    atStart = 0,
    oneMin = 1,
    twoMin = 2,
    fiveMin = 5,
    tenMin = 10,
    fifteenMin = 15,
};

namespace ReminderOffsets {
const QList<ReminderOffset> &all();
std::optional<ReminderOffset> fromRaw(qint64 raw);
inline int raw(ReminderOffset offset) {
    return int(offset);
}
inline std::chrono::minutes leadTime(ReminderOffset offset) {
    return std::chrono::minutes(raw(offset));
}
QString label(ReminderOffset offset);
} // namespace ReminderOffsets
