// Bodies of Slack's search.messages answer.
#include "platform/Error.h"
#include "sync/SlackService.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        SlackService::parseSearchReply(body);
    } catch (const Error &) {
    }
    return 0;
}
