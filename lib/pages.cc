// Setting up the pages of a fresh block in one system call.
#include "lib/pages.h"

#include <sys/mman.h>
#include <unistd.h>

void pages_prepare(void *at, uint64_t size)
{
#ifdef MADV_POPULATE_WRITE
    long page = sysconf(_SC_PAGESIZE);
    if (page <= 0 || size < 65536)
        return;
    uintptr_t mask = static_cast<uintptr_t>(page) - 1;
    uintptr_t first = (reinterpret_cast<uintptr_t>(at) + mask) & ~mask;
    uintptr_t end = (reinterpret_cast<uintptr_t>(at) + size) & ~mask;
    if (end > first)
        madvise(reinterpret_cast<void *>(first), end - first, MADV_POPULATE_WRITE);
#else
    (void)at;
    (void)size;
#endif
}
