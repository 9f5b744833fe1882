// The index arena: every block it hands out is aligned, writable and apart
// from every other, through the growth of its shared blocks and past them.
#include "cdb/cdb_arena.h"

#include "cdb/cdb_writer.h"
#include "lib/pages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>

namespace {

TEST(CdbArena, BlocksAreAlignedWritableAndApart)
{
    // Chunks by the thousand (more than the shared blocks' growth to a huge
    // page), with requests of every kind between them: tiny, odd, a quarter
    // block and more, and larger than a huge page.
    std::map<uintptr_t, uintptr_t> taken;   // start -> end
    auto take = [&](size_t size, unsigned char fill) {
        auto *p = static_cast<unsigned char *>(cdb_arena_alloc(size));
        ASSERT_NE(p, nullptr) << size;
        auto at = reinterpret_cast<uintptr_t>(p);
        EXPECT_EQ(at % 16, 0u) << size;
        auto after = taken.lower_bound(at);
        if (after != taken.end()) {
            ASSERT_LE(at + size, after->first) << size;
        }
        if (after != taken.begin()) {
            ASSERT_LE(std::prev(after)->second, at) << size;
        }
        taken[at] = at + size;
        memset(p, fill, size);
    };
    const size_t odd[] = {1, 7, 16, 17, 16384, 16385, 300000, pages_huge + 3};
    for (int i = 0; i < 3000; i++) {
        take(sizeof(cdb_entry_chunk), static_cast<unsigned char>(i));
        if (i % 400 == 0)
            take(odd[i / 400], 0xAB);
    }
    // Each block still holds what was written into it last.
    int i = 0;
    for (const auto &[start, end] : taken) {
        const auto *p = reinterpret_cast<const unsigned char *>(start);
        EXPECT_EQ(p[0], p[end - start - 1]) << "block " << i++;
    }
}

} // namespace
