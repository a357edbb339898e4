#include "ReminderOffset.h"

#include <QCoreApplication>

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
        return QCoreApplication::translate("ReminderOffsets", "At start");
    case ReminderOffset::oneMin:
        return QCoreApplication::translate("ReminderOffsets", "1 minute before");
    case ReminderOffset::twoMin:
        return QCoreApplication::translate("ReminderOffsets", "2 minutes before");
    case ReminderOffset::fiveMin:
        return QCoreApplication::translate("ReminderOffsets", "5 minutes before");
    case ReminderOffset::tenMin:
        return QCoreApplication::translate("ReminderOffsets", "10 minutes before");
    case ReminderOffset::fifteenMin:
        return QCoreApplication::translate("ReminderOffsets", "15 minutes before");
    }
    return {};
}
