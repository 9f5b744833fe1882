// Fresh memory set up in one system call, on huge pages where it can be.
#include "lib/pages.h"

#include <cerrno>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

void pages_prepare(void *at, uint64_t size)
{
#ifdef MADV_POPULATE_WRITE
    long page = sysconf(_SC_PAGESIZE);
    if (page <= 0 || size < 65536)
        return;
    auto start = reinterpret_cast<uintptr_t>(at);
    uintptr_t mask = static_cast<uintptr_t>(page) - 1;
    uintptr_t first = (start + mask) & ~mask;
    uintptr_t end = (start + size) & ~mask;
    uintptr_t huge_first = (start + pages_huge - 1) & ~(pages_huge - 1);
    uintptr_t huge_end = (start + size) & ~(pages_huge - 1);
    if (huge_end > huge_first)
        madvise(reinterpret_cast<void *>(huge_first), huge_end - huge_first, MADV_HUGEPAGE);
    if (end > first)
        madvise(reinterpret_cast<void *>(first), end - first, MADV_POPULATE_WRITE);
#else
    (void)at;
    (void)size;
#endif
}

void *pages_alloc(uint64_t size)
{
    if (size < pages_huge)
        return malloc(size);
    void *block;
    int error = posix_memalign(&block, pages_huge, size);
    if (error != 0) {
        errno = error;
        return nullptr;
    }
    return block;
}

void *pages_block(uint64_t size)
{
    void *block = pages_alloc(size);
    if (block)
        pages_prepare(block, size);
    return block;
}
