// Short texts a machine word at a time: names and values are mostly
// shorter than a call to the C library's copy, search or comparison costs.
// Loads and stores may be unaligned; they are memcpy, which the compiler
// turns into one instruction.
#pragma once

#include <cstdint>
#include <cstring>

template <typename W>
W word_load(const char *p)
{
    W w;
    memcpy(&w, p, sizeof w);
    return w;
}

template <typename W>
void word_store(char *p, W w)
{
    memcpy(p, &w, sizeof w);
}

// Nonzero when one of the word's bytes is c.
inline uint64_t word_has_byte(uint64_t w, char c)
{
    constexpr uint64_t ones = 0x0101010101010101;
    uint64_t x = w ^ (ones * static_cast<unsigned char>(c));
    return (x - ones) & ~x & (ones * 0x80);
}

// A text of four to eight bytes in one word: its first and its last four,
// which between them hold all of it. Two texts of the same length are equal
// when their words are.
inline uint64_t word_of_short(const char *text, uint64_t n)
{
    return word_load<uint32_t>(text) | uint64_t{word_load<uint32_t>(text + n - 4)} << 32;
}
