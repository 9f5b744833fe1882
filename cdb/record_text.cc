// The text form of a record (see record_text.h). The data is copied eight
// bytes at a time, each word searched at once for the
// bytes that the data rule transforms: a NUL always, an "=" only while the
// item's value has not been opened yet.
#include "cdb/record_text.h"

#include <bit>
#include <cstring>

namespace {

constexpr uint64_t byte_ones = 0x0101010101010101;
constexpr uint64_t byte_highs = 0x8080808080808080;
constexpr uint64_t byte_equals = byte_ones * '=';

// Consecutive records often carry the same data, since every key of a
// network or a range does: the text of the last data is kept beside the data
// it came from, and equal data reuses it. Longer data is not kept, so the
// memory stays the same whatever the database.
constexpr uint32_t memo_limit = 4096;
unsigned char memo_data[memo_limit + record_text_overrun];
unsigned char memo_text[5 + 5 * memo_limit + 2 + record_text_overrun];
uint32_t memo_data_length = UINT32_MAX;  // none kept yet
size_t memo_text_length;

// A remembered text of up to this many bytes is copied as this many bytes,
// in fixed steps without a test each, when the room that the bound of its
// data leaves after the key holds them; what follows overwrites the rest.
constexpr size_t fixed_copy = 64;
bool memo_fixed;

// The high bit of every zero byte of w is set, and possibly of bytes after a
// zero byte (the borrow runs on): only the first mark is exact.
constexpr uint64_t zero_bytes(uint64_t w)
{
    return (w - byte_ones) & ~w & byte_highs;
}

// The index of the first marked byte in memory order.
size_t first_marked(uint64_t marks)
{
    if constexpr (std::endian::native == std::endian::little)
        return static_cast<size_t>(std::countr_zero(marks)) / 8;
    else
        return static_cast<size_t>(std::countl_zero(marks)) / 8;
}

unsigned char *put_text(unsigned char *out, const char *text, size_t n)
{
    std::memcpy(out, text, n);
    return out + n;
}

uint64_t load_word(const unsigned char *p)
{
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

// The bits of the first n bytes of a word in memory order (n below 8).
uint64_t byte_mask(size_t n)
{
    uint64_t low = (uint64_t{1} << (8 * n)) - 1;
    return std::endian::native == std::endian::little ? low : ~(~uint64_t{0} >> (8 * n));
}

// Keys and the data of ranges are short: they are copied and compared
// sixteen bytes at a time, within the overrun, without a call to the
// library, whose wider steps pay off only for longer texts.
constexpr size_t short_text = 96;

// Sixteen bytes held as one value, which the compiler loads, stores and
// combines with single vector instructions where the machine has them.
typedef unsigned char bytes16 __attribute__((vector_size(16)));

bytes16 load16(const unsigned char *p)
{
    bytes16 v;
    std::memcpy(&v, p, 16);
    return v;
}

bool all_zero(bytes16 v)
{
    uint64_t w[2];
    std::memcpy(w, &v, 16);
    return (w[0] | w[1]) == 0;
}

unsigned char *copy_words(unsigned char *out, const unsigned char *p, size_t n)
{
    if (n <= 16) {
        std::memcpy(out, p, 16);
        return out + n;
    }
    if (n > short_text) {
        std::memcpy(out, p, n);
        return out + n;
    }
    for (size_t i = 0; i < n; i += 16)
        std::memcpy(out + i, p + i, 16);
    return out + n;
}

// Whether the first n bytes at a and at b agree; reads within the overrun.
// From sixteen bytes on, the last sixteen are compared in one more step
// that may cover bytes compared already, so no part needs a mask.
bool equal_words(const unsigned char *a, const unsigned char *b, size_t n)
{
    if (n > short_text)
        return std::memcmp(a, b, n) == 0;
    if (n >= 16) {
        bytes16 differ = load16(a + n - 16) ^ load16(b + n - 16);
        for (size_t i = 0; i + 16 < n; i += 16)
            differ |= load16(a + i) ^ load16(b + i);
        return all_zero(differ);
    }
    // 0 to 15 bytes: their own bytes only.
    uint64_t first = load_word(a) ^ load_word(b);
    uint64_t second = load_word(a + 8) ^ load_word(b + 8);
    if (n < 8) {
        first &= byte_mask(n);
        second = 0;
    } else {
        second &= byte_mask(n - 8);
    }
    return (first | second) == 0;
}

// A word is stored whole before its first special byte is known; the text
// that follows overwrites what lies past that byte.
unsigned char *data_text(unsigned char *out, const unsigned char *p, const unsigned char *stop,
                         bool *quoted_now)
{
    bool quoted = *quoted_now;
    while (p < stop) {
        size_t left = static_cast<size_t>(stop - p);
        uint64_t w;
        std::memcpy(&w, p, 8);
        std::memcpy(out, &w, 8);
        uint64_t marks = zero_bytes(w);
        if (!quoted)
            marks |= zero_bytes(w ^ byte_equals);
        size_t k = marks ? first_marked(marks) : 8;
        if (k >= left) {
            out += left;
            break;
        }
        p += k;
        out += k;
        if (k == 8)
            continue;
        if (*p == 0) {
            out = put_text(out, "\";\n  ", 5);
            quoted = false;
        } else {
            out = put_text(out, "=\"", 2);
            quoted = true;
        }
        p++;
    }
    *quoted_now = quoted;
    return out;
}

// The text after the key for data other than the last: " {\n  ", the data's
// text and "}\n", remembered with the data when it is short enough. Kept out
// of line, so that the path of repeated data stays small.
[[gnu::noinline]] unsigned char *new_tail(unsigned char *out, const unsigned char *data, uint32_t n)
{
    unsigned char *start = out;
    bool quoted = false;
    out = put_text(out, " {\n  ", 5);
    out = put_text(data_text(out, data, data + n, &quoted), "}\n", 2);
    if (n <= memo_limit) {
        std::memcpy(memo_data, data, n);
        memo_data_length = n;
        memo_text_length = static_cast<size_t>(out - start);
        std::memcpy(memo_text, start, memo_text_length);
        memo_fixed = memo_text_length <= fixed_copy &&
                     5 + 5 * uint64_t{n} + 2 + record_text_overrun >= fixed_copy;
    }
    return out;
}

}  // namespace

unsigned char *record_text(unsigned char *out, const unsigned char *key, uint32_t key_length,
                           const unsigned char *data, uint32_t data_length)
{
    out = copy_words(put_text(out, "client ", 7), key, key_length);
    // Data equal to the last takes the text remembered whole.
    if (data_length == memo_data_length && equal_words(data, memo_data, data_length)) {
        if (!memo_fixed)
            return copy_words(out, memo_text, memo_text_length);
        std::memcpy(out, memo_text, fixed_copy);
        return out + memo_text_length;
    }
    return new_tail(out, data, data_length);
}

unsigned char *record_text_data(unsigned char *out, const unsigned char *data, uint32_t data_length,
                                bool *quoted)
{
    return data_text(out, data, data + data_length, quoted);
}
