// The bytes a browser sends to the sign-in listener.
#include "sync/SignInListener.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype length = SignInHttp::headLength(bytes);
    if (length > bytes.size())
        __builtin_trap();
    if (const auto request = SignInHttp::parseRequest(length < 0 ? bytes : bytes.first(length)))
        if (!request->path.startsWith(u'/'))
            __builtin_trap();
    return 0;
}
