// Text to 64-bit integers: base detection, digits of either case, and an
// overflow check made before each step so that no value ever wraps.
#include "lib/scan.h"

#include <climits>

namespace {

// The value of c as a digit, or 36 when it is no digit in any base.
unsigned digit_value(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return 36;
}

bool is_x(char c)
{
    return c == 'x' || c == 'X';
}

// Settles the base and returns the number of prefix characters to pass over.
int take_prefix(const char *s, unsigned *base)
{
    if (*base == 16)
        return s[0] == '0' && is_x(s[1]) && s[2] != '\0' ? 2 : 0;
    if (*base != 0)
        return 0;
    if (s[0] != '0') {
        *base = 10;
        return 0;
    }
    if (is_x(s[1])) {
        *base = 16;
        return 2;
    }
    *base = 8;
    return 1;
}

// scan_ulong that uses at most limit characters, so that the count (and a
// sign added to it) always fits in an int.
int scan_unsigned(const char *s, uint64_t *value, int base, int limit)
{
    unsigned b = static_cast<unsigned>(base);
    int used = take_prefix(s, &b);
    uint64_t v = 0;
    while (used < limit) {
        unsigned d = digit_value(static_cast<unsigned char>(s[used]));
        if (d >= b)
            break;
        if (v > (UINT64_MAX - d) / b)
            return -1;
        v = v * b + d;
        used++;
    }
    *value = v;
    return used;
}

} // namespace

int scan_ulong(const char *s, uint64_t *value, int base)
{
    return scan_unsigned(s, value, base, INT_MAX);
}

int scan_long(const char *s, int64_t *value, int base)
{
    bool negative = s[0] == '-';
    int sign = negative || s[0] == '+' ? 1 : 0;
    uint64_t magnitude;
    int used = scan_unsigned(s + sign, &magnitude, base, INT_MAX - sign);
    if (used < 0)
        return -1;
    if (used == 0) {
        *value = 0;
        return sign;
    }
    constexpr uint64_t int64_max = static_cast<uint64_t>(INT64_MAX);
    if (magnitude > int64_max + (negative ? 1 : 0))
        return -1;
    // Negated in unsigned arithmetic: -2^63 has no positive counterpart.
    *value = static_cast<int64_t>(negative ? 0 - magnitude : magnitude);
    return used + sign;
}
