// fmt_ulong: digits in bases 2 to 36, the NUL behind them, and counting alone.
#include "lib/fmt.h"

#include "lib/scan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(FmtUlong, Table)
{
    struct Case { uint64_t value; unsigned base; const char *text; };
    const Case cases[] = {
        {0, 10, "0"},
        {9, 10, "9"},
        {10, 10, "10"},
        {255, 16, "ff"},
        {256, 16, "100"},
        {35, 36, "z"},
        {36, 36, "10"},
        {5, 2, "101"},
        {0, 2, "0"},
        {UINT64_MAX, 10, "18446744073709551615"},
        {UINT64_MAX, 16, "ffffffffffffffff"},
        {UINT64_MAX, 36, "3w5e11264sgsf"},
        {UINT64_MAX, 2, "1111111111111111111111111111111111111111111111111111111111111111"},
        {uint64_t{1} << 63, 2, "1000000000000000000000000000000000000000000000000000000000000000"},
    };
    for (const Case &c : cases) {
        unsigned length = static_cast<unsigned>(strlen(c.text));
        EXPECT_EQ(fmt_ulong(nullptr, c.value, c.base), length) << c.text;
        char buf[70];
        memset(buf, '#', sizeof buf);
        ASSERT_EQ(fmt_ulong(buf, c.value, c.base), length) << c.text;
        EXPECT_STREQ(buf, c.text);
        EXPECT_EQ(buf[length + 1], '#') << c.text;  // nothing beyond the NUL
    }
}

TEST(FmtUlong, SizeConstantHoldsEveryDecimal)
{
    EXPECT_EQ(fmt_ulong(nullptr, UINT64_MAX, 10) + 1, fmt_ulong_size);
}

// What fmt_ulong writes, scan_ulong reads back whole, in every base.
TEST(FmtUlong, ScanReadsItBack)
{
    const uint64_t values[] = {0, 1, 35, 36, 1295, 1296, 4294967296u,
                               0x123456789abcdef0u, UINT64_MAX - 1, UINT64_MAX};
    for (unsigned base = 2; base <= 36; base++) {
        for (uint64_t v : values) {
            char buf[70];
            unsigned n = fmt_ulong(buf, v, base);
            uint64_t back = 0;
            EXPECT_EQ(scan_ulong(buf, &back, static_cast<int>(base)), static_cast<int>(n))
                << buf << " base " << base;
            EXPECT_EQ(back, v) << buf << " base " << base;
        }
    }
}

} // namespace
