#include "ProcessMemory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void ProcessMemory::returnFreePages() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}
