// Text to 64-bit integers, without locale, white space skipping or errno.
// The result is the number of characters used (prefix and sign included),
// 0 when none, -1 when the number does not fit (destination unchanged).
// Base 0 detects "0x"/"0X" (hexadecimal) and a leading "0" (octal).
#pragma once

#include <cstdint>

int scan_ulong(const char *s, uint64_t *value, int base);
int scan_long(const char *s, int64_t *value, int base);
