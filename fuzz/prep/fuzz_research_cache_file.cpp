// Cache files sit in the user's home where anything may have written them.
#include "core/JsonRead.h"
#include "prep/ResearchCache.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    std::optional<CachedResearch> record;
    try {
        record = CachedResearch::decode(bytes);
    } catch (const DecodingError &) {
        return 0;
    }
    // What decodes must survive its own round trip. The file form is compared, not the
    // records: QUrl keeps a tolerated spelling such as "a###" until it is written, and writes
    // it escaped ("a#%23%23"), which then stays as it is.
    const QByteArray written = record->encode();
    const CachedResearch again = CachedResearch::decode(written);
    if (again.encode() != written || again.attendeeId != record->attendeeId ||
        again.eventIds != record->eventIds || again.cachedAt != record->cachedAt)
        __builtin_trap();
    return 0;
}
