// The configuration text behind the parser, lent and given back.
#include "compiler/text_release.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Pages are given back only once this much can go at once: one system call
// for a run of pages, not one for every entry.
constexpr uintptr_t release_least = 64 * 1024;

// The text that the places are expected to reach is kept for them: pages
// given back there would be faulted in again. The places are expected to
// keep the pace they had so far, and to go this much further.
constexpr uintptr_t release_reserve = 256 * 1024;

uintptr_t page_mask;     // the page size less one; 0: nothing is lent or given back
char *text_start;
char *taken;             // the places taken end here (null: nothing is lent)
uintptr_t released;      // no page before this is given back again
uintptr_t text_end;      // the text ends before this

// Where the places will end by the end of the text if they keep their
// pace: the data so far against the text behind bound. Where the data is
// about as long as the text (most configurations), nothing is given back
// but the last pages.
uintptr_t expected_end(uintptr_t bound)
{
    auto start = reinterpret_cast<uintptr_t>(text_start);
    double pace = static_cast<double>(reinterpret_cast<uintptr_t>(taken) - start) /
                  static_cast<double>(bound - start);
    return start + static_cast<uintptr_t>(pace * static_cast<double>(text_end - start));
}

} // namespace

void text_release_start(const char *text, uint64_t length)
{
    long page = sysconf(_SC_PAGESIZE);
    if (page <= 0)
        return;
    page_mask = static_cast<uintptr_t>(page) - 1;
    text_start = const_cast<char *>(text);
    taken = text_start;
    // Only the whole pages of the text are its own to give back.
    released = (reinterpret_cast<uintptr_t>(text) + page_mask) & ~page_mask;
    text_end = reinterpret_cast<uintptr_t>(text) + length;
}

uint64_t text_release_length()
{
    return text_start ? text_end - reinterpret_cast<uintptr_t>(text_start) : 0;
}

char *text_release_take(uint64_t length, const char *bound)
{
    if (!taken || bound < taken || length > static_cast<uint64_t>(bound - taken))
        return nullptr;
    char *at = taken;
    taken += length;
    return at;
}

void text_release_before(const char *p)
{
    if (!page_mask)
        return;
    uintptr_t bound = reinterpret_cast<uintptr_t>(p);
    if (bound > text_end)
        bound = text_end;
    uintptr_t upto = bound & ~page_mask;
    if (upto <= released || bound == reinterpret_cast<uintptr_t>(text_start))
        return;
    // The pages to give back begin a reserve after the places taken at the
    // earliest: most entries end too close to them for a release, which is
    // known without working out the pace.
    if (upto < reinterpret_cast<uintptr_t>(taken) + release_reserve + release_least)
        return;
    uintptr_t from = std::max(reinterpret_cast<uintptr_t>(taken), expected_end(bound)) + release_reserve;
    from = std::max((from + page_mask) & ~page_mask, released);
    if (upto < from + release_least)
        return;
    // The pages read as zeros from now on, and a place taken in them later
    // has them faulted in afresh; a failure only leaves them in memory.
    if (madvise(reinterpret_cast<void *>(from), upto - from, MADV_DONTNEED) == 0)
        released = upto;
}
