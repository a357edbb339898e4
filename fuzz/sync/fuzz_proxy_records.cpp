// Bodies of the calendar proxy's list answers, and the event conversion behind them.
#include "platform/Error.h"
#include "sync/ProxyRecords.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const auto events = ProxyListResponse<ProxyEvent>::decode(body);
        const QList<ProxyCalendar> calendars{
            {QStringLiteral("c"), QStringLiteral("C"), QStringLiteral("#12ab3f"), true}};
        for (const ProxyEvent &e : events.data)
            makeCalendarEvent(e, QStringLiteral("A"), CalendarProvider::microsoft, calendars);
    } catch (const Error &) {
    }
    try {
        ProxyListResponse<ProxyCalendar>::decode(body);
    } catch (const Error &) {
    }
    try {
        ProxyListResponse<ProxyMessage>::decode(body);
    } catch (const Error &) {
    }
    try {
        ProxyGrant::fromJson(body);
    } catch (const Error &) {
    }
    return 0;
}
