// Bodies of the calendar proxy's list answers, and the event conversion behind them.
#include "core/Error.h"
#include "sync/NylasRecords.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const auto events = NylasListResponse<NylasEvent>::decode(body);
        const QList<NylasCalendar> calendars{
            {QStringLiteral("c"), QStringLiteral("C"), QStringLiteral("#12ab3f"), true}};
        for (const NylasEvent &e : events.data)
            makeCalendarEvent(e, QStringLiteral("A"), CalendarProvider::microsoft, calendars);
    } catch (const Error &) {
    }
    try {
        NylasListResponse<NylasCalendar>::decode(body);
    } catch (const Error &) {
    }
    try {
        NylasListResponse<NylasMessage>::decode(body);
    } catch (const Error &) {
    }
    try {
        NylasGrant::fromJson(body);
    } catch (const Error &) {
    }
    return 0;
}
