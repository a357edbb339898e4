#include "FreedMemory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {
// glibc's own starting point; fixing it stops glibc from raising it after each large free,
// which would move the next full-screen buffers into the heap for good.
constexpr int separateFrom = 128 * 1024;
} // namespace

void FreedMemory::keepLargeBlocksSeparate() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, separateFrom);
#endif
}

void FreedMemory::giveBack() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}
