// The memory of the compiler's database index.
#include "cdb/cdb_arena.h"

#include "lib/pages.h"

#include <algorithm>
#include <cstdint>

namespace {

// Blocks double from this size up to a huge page; a request of more than a
// quarter of the current block size gets a block of its own.
constexpr uint64_t first_block = 64 * 1024;
constexpr uint64_t alignment = 16;

char *next;
uint64_t room;
uint64_t block_size;   // the last shared block's; 0: none yet

} // namespace

void *cdb_arena_alloc(size_t size)
{
    uint64_t wanted = (uint64_t{size} + alignment - 1) & ~(alignment - 1);
    if (wanted > std::max(block_size, first_block) / 4)
        return pages_block(wanted);
    if (wanted > room) {
        uint64_t grown = block_size ? std::min(2 * block_size, pages_huge) : first_block;
        auto *block = static_cast<char *>(pages_block(grown));
        if (!block)
            return nullptr;
        block_size = grown;
        next = block;
        room = grown;
    }
    char *at = next;
    next += wanted;
    room -= wanted;
    return at;
}
