// 64-bit integers to text in bases 2 to 36.
#include "lib/fmt.h"

unsigned fmt_ulong(char *buf, uint64_t value, unsigned base)
{
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    unsigned count = 1;
    for (uint64_t q = value; q >= base; q /= base)
        count++;
    if (!buf)
        return count;
    buf[count] = '\0';
    for (unsigned i = count; i > 0; i--) {
        buf[i - 1] = digits[value % base];
        value /= base;
    }
    return count;
}
