// 64-bit integers to text.
#pragma once

#include <cstdint>

// Enough room for any value in base 10, with the NUL.
constexpr unsigned fmt_ulong_size = 21;

// Writes the digits of value in base 2 to 36 (lower-case letters) and a NUL
// into buf and returns the number of digits; with a null buf it only counts.
unsigned fmt_ulong(char *buf, uint64_t value, unsigned base);
