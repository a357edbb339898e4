#include "ReminderOffset.h"

const QList<ReminderOffset> &ReminderOffsets::all() {
    static const QList<ReminderOffset> offsets{
        ReminderOffset::atStart, ReminderOffset::oneMin, ReminderOffset::twoMin,
        ReminderOffset::fiveMin, ReminderOffset::tenMin, ReminderOffset::fifteenMin,
    };
    return offsets;
}

std::optional<ReminderOffset> ReminderOffsets::fromRaw(qint64 raw) {
    for (ReminderOffset offset : all())
        if (ReminderOffsets::raw(offset) == raw)
            return offset;
    return std::nullopt;
}

QString ReminderOffsets::label(ReminderOffset offset) {
    switch (offset) {
    case ReminderOffset::atStart:
        return QStringLiteral("At start");
    case ReminderOffset::oneMin:
        return QStringLiteral("1 minute before");
    case ReminderOffset::twoMin:
        return QStringLiteral("2 minutes before");
    case ReminderOffset::fiveMin:
        return QStringLiteral("5 minutes before");
    case ReminderOffset::tenMin:
        return QStringLiteral("10 minutes before");
    case ReminderOffset::fifteenMin:
        return QStringLiteral("15 minutes before");
    }
    return {};
}
