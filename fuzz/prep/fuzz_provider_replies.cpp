// Provider replies come from outside services: every shape must parse or fail with an error.
#include "core/JsonRead.h"
#include "prep/LLMError.h"
#include "prep/LLMProvider.h"
#include "prep/ProviderDialect.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    for (LLMProvider provider : LLMProviders::all()) {
        try {
            const BriefingResponse response =
                LLMProviders::info(provider).dialect.parseResponse(bytes);
            (void)response.summary.size();
        } catch (const LLMError &) {
        } catch (const DecodingError &) {
        }
    }
    return 0;
}
