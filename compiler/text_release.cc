// The configuration text given back behind the parser.
#include "compiler/text_release.h"

#include <cstddef>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Pages are given back only once this much can go at once: one system call
// for a run of pages, not one for every entry.
constexpr uintptr_t release_least = 64 * 1024;

uintptr_t page_mask;     // the page size less one; 0: nothing is given back
uintptr_t released;      // the text before this is given back
uintptr_t text_end;      // the text ends before this

} // namespace

void text_release_start(const char *text, uint64_t length)
{
    long page = sysconf(_SC_PAGESIZE);
    if (page <= 0)
        return;
    page_mask = static_cast<uintptr_t>(page) - 1;
    // Only the whole pages of the text are its own to give back.
    released = (reinterpret_cast<uintptr_t>(text) + page_mask) & ~page_mask;
    text_end = reinterpret_cast<uintptr_t>(text) + length;
}

void text_release_before(const char *p)
{
    if (!page_mask)
        return;
    uintptr_t upto = reinterpret_cast<uintptr_t>(p) & ~page_mask;
    if (upto > text_end)
        upto = text_end & ~page_mask;
    if (upto < released + release_least)
        return;
    // The pages read as zeros from now on, should anything look at them
    // after all; a failure only leaves them in memory.
    if (madvise(reinterpret_cast<void *>(released), upto - released, MADV_DONTNEED) == 0)
        released = upto;
}
