// The power-supply folder's `capacity` and `status` files are read as the kernel, a driver or
// a test left them.
#include "platform/PowerSource.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    // "<capacity>\0<status>"
    const qsizetype split = input.indexOf('\0');
    const QByteArrayView capacity = split < 0 ? input : input.first(split);
    const QByteArrayView status = split < 0 ? QByteArrayView() : input.sliced(split + 1);
    if (const auto reading = SysfsPowerSource::parse(capacity, status))
        Q_ASSERT(reading->capacity >= 0 && reading->capacity <= 100);
    return 0;
}
