// The number scanners: a table of text -> (count, value) per scanner.
#include "lib/scan.h"

#include <gtest/gtest.h>

namespace {

constexpr uint64_t untouched = 777;

TEST(ScanUlong, Table)
{
    struct Case { const char *text; int base; int count; uint64_t value; };
    const Case cases[] = {
        {"123abc", 10, 3, 123},
        {"abc", 10, 0, 0},
        {"", 10, 0, 0},
        {" 1", 10, 0, 0},                  // no white space skipping
        {"-1", 10, 0, 0},
        {"0x1F", 0, 4, 31},
        {"017", 0, 3, 15},
        {"019", 0, 2, 1},
        {"08", 0, 1, 0},
        {"0", 0, 1, 0},
        {"", 0, 0, 0},
        {"0x", 0, 2, 0},                   // prefix counts even without digits
        {"0xg", 0, 2, 0},
        {"0Xfg", 0, 3, 15},
        {"90", 0, 2, 90},
        {"0X1f", 16, 4, 31},
        {"1f", 16, 2, 31},
        {"0x", 16, 1, 0},                  // only the prefix: the digit 0
        {"0xg", 16, 2, 0},
        {"0x10", 10, 1, 0},
        {"Z", 36, 1, 35},
        {"zZ", 36, 2, 35 * 36 + 35},
        {"1012", 2, 3, 5},
        {"\xff" "1", 10, 0, 0},
        {"18446744073709551615", 10, 20, UINT64_MAX},
        {"ffffffffffffffff", 16, 16, UINT64_MAX},
        {"0xFFFFFFFFFFFFFFFF", 0, 18, UINT64_MAX},
        {"1777777777777777777777", 0, -1, untouched},
        {"01777777777777777777777", 0, 23, UINT64_MAX},
        {"18446744073709551616", 10, -1, untouched},    // last step adds past 2^64
        {"30000000000000000000", 10, -1, untouched},    // last step multiplies past it
        {"184467440737095516150", 10, -1, untouched},
        {"10000000000000000", 16, -1, untouched},
        {"0x10000000000000000", 0, -1, untouched},
        {"3w5e11264sgsf", 36, 13, UINT64_MAX},
        {"3w5e11264sgsg", 36, -1, untouched},
    };
    for (const Case &c : cases) {
        uint64_t value = untouched;
        EXPECT_EQ(scan_ulong(c.text, &value, c.base), c.count) << c.text << " base " << c.base;
        EXPECT_EQ(value, c.value) << c.text << " base " << c.base;
    }
}

TEST(ScanLong, Table)
{
    struct Case { const char *text; int base; int count; int64_t value; };
    const Case cases[] = {
        {"-12x", 10, 3, -12},
        {"+7", 10, 2, 7},
        {"42", 10, 2, 42},
        {"-", 10, 1, 0},                   // a lone sign is one used character
        {"+", 10, 1, 0},
        {"+-5", 10, 1, 0},
        {"--5", 10, 1, 0},
        {"x", 10, 0, 0},
        {"", 10, 0, 0},
        {"-0", 10, 2, 0},
        {"9223372036854775807", 10, 19, INT64_MAX},
        {"+9223372036854775807", 10, 20, INT64_MAX},
        {"9223372036854775808", 10, -1, untouched},
        {"+9223372036854775808", 10, -1, untouched},
        {"-9223372036854775808", 10, 20, INT64_MIN},
        {"-9223372036854775809", 10, -1, untouched},
        {"-18446744073709551616", 10, -1, untouched},
        {"-0x10", 0, 5, -16},
        {"-010", 0, 4, -8},
        {"+0x", 0, 3, 0},
        {"-ff", 16, 3, -255},
        {"-0x8000000000000000", 0, 19, INT64_MIN},
        {"0x8000000000000000", 0, -1, untouched},
    };
    for (const Case &c : cases) {
        int64_t value = untouched;
        EXPECT_EQ(scan_long(c.text, &value, c.base), c.count) << c.text << " base " << c.base;
        EXPECT_EQ(value, c.value) << c.text << " base " << c.base;
    }
}

} // namespace
