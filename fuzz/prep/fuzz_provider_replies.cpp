// Provider replies come from outside services: every shape must parse or fail with an error.
#include "core/JsonRead.h"
#include "prep/ChatCompletionsDialect.h"
#include "prep/ClaudeDialect.h"
#include "prep/GeminiDialect.h"
#include "prep/LLMError.h"

#include <cstddef>
#include <cstdint>

namespace {
template <typename Parse> void tryParse(Parse parse, const QByteArray &bytes) {
    try {
        const BriefingResponse response = parse(bytes);
        (void)response.summary.size();
    } catch (const LLMError &) {
    } catch (const DecodingError &) {
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    tryParse(ClaudeDialect::parseResponse, bytes);
    tryParse(ChatCompletionsDialect::parseResponse, bytes);
    tryParse(GeminiDialect::parseResponse, bytes);
    return 0;
}
