// The first bytes a browser sends to the sign-in listener.
#include "sync/SignInListener.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray request(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto code = SignInHttp::extractCode(request))
        if (code->isEmpty())
            __builtin_trap();
    return 0;
}
