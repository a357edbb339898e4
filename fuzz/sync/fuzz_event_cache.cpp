// The stored events sit in the user's data folder, where anything may have written them.
#include "core/JsonRead.h"
#include "sync/EventCache.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    EventCache::Lists lists;
    try {
        lists = EventCache::decode(bytes);
    } catch (const DecodingError &) {
        return 0;
    }
    // What decodes must survive its own round trip: written again, it reads back to the same
    // file, account by account and event by event.
    const QByteArray written = EventCache::encode(lists);
    const EventCache::Lists again = EventCache::decode(written);
    if (EventCache::encode(again) != written || again.size() != lists.size())
        __builtin_trap();
    for (auto it = lists.cbegin(); it != lists.cend(); ++it) {
        const QList<CalendarEvent> &events = again.value(it.key());
        if (events.size() != it->size())
            __builtin_trap();
        for (qsizetype i = 0; i < events.size(); ++i)
            if (events[i].id != it->at(i).id || events[i].startDate != it->at(i).startDate ||
                events[i].endDate != it->at(i).endDate)
                __builtin_trap();
    }
    return 0;
}
