// Splitting a host's name into the keys of its records.
#include "compiler/keys.h"

#include "lib/scan.h"
#include "lib/zostr.h"

#include <arpa/inet.h>
#include <array>
#include <cstdint>
#include <cstring>
#include <netinet/in.h>

namespace {

const key_failure not_an_address{"bad input format", "not an IP address"};
const key_failure no_prefix_length{"bad input format", "not a number after /"};
const key_failure prefix_too_long{"bad input format", "/number too large"};
const key_failure prefix_too_short{"bad /mask in input", "/number <20"};

zostr item_text;   // the item being split, terminated
zostr scratch;     // the address text of a network, the key of a range

// Every octet in decimal without leading zeros, in the first bytes of its
// entry, and the number of them in the last.
constexpr std::array<std::array<char, 4>, 256> octet_texts = [] {
    std::array<std::array<char, 4>, 256> texts{};
    for (unsigned n = 0; n < 256; n++) {
        std::array<char, 4> &t = texts[n];
        char digits = 0;
        if (n >= 100)
            t[static_cast<size_t>(digits++)] = static_cast<char>('0' + n / 100);
        if (n >= 10)
            t[static_cast<size_t>(digits++)] = static_cast<char>('0' + n / 10 % 10);
        t[static_cast<size_t>(digits++)] = static_cast<char>('0' + n % 10);
        t[3] = digits;
    }
    return texts;
}();

// Writes n (at most 255) in decimal without leading zeros; returns the end.
// Three bytes are written whatever the length: p has room for them.
char *put_octet(char *p, unsigned n)
{
    const std::array<char, 4> &t = octet_texts[n];
    memcpy(p, t.data(), 3);
    return p + t[3];
}

// Writes the first three octets of a in dotted decimal with the "." after
// them, as inet_ntoa does; returns the length.
size_t format_prefix(char *out, uint32_t a)
{
    char *p = out;
    for (int shift = 24; shift >= 8; shift -= 8) {
        p = put_octet(p, (a >> shift) & 0xFF);
        *p++ = '.';
    }
    return static_cast<size_t>(p - out);
}

const key_failure *network_keys(const char *item, const char *slash, key_sink sink,
                                void *context)
{
    zostr_xdup_mem(&scratch, item, static_cast<uint64_t>(slash - item));
    zostr_xadd_char(&scratch, 0);
    in_addr address;
    if (!inet_aton(scratch.data, &address))
        return &not_an_address;
    uint64_t bits;
    int used = scan_ulong(slash + 1, &bits, 0);
    if (used == 0)
        return &no_prefix_length;
    if (used < 0 || bits > 32)
        return &prefix_too_long;
    if (bits < 20)
        return &prefix_too_short;
    uint32_t mask = bits == 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> bits);
    uint32_t first = ntohl(address.s_addr) & mask;
    // Only the last octet changes from one key to the next, but at most
    // every 256 keys.
    char key[16];
    size_t prefix = 0;
    for (uint64_t i = 0; i <= uint64_t{~mask}; i++) {
        uint32_t a = first + static_cast<uint32_t>(i);
        if (i == 0 || (a & 0xFF) == 0)
            prefix = format_prefix(key, a);
        char *end = put_octet(key + prefix, a & 0xFF);
        sink(context, key, static_cast<size_t>(end - key));
    }
    return nullptr;
}

// prefix start-end suffix: the prefix runs up to the last "." before the
// "-"; start and end are decimal numbers, end at most 255. A start text
// without digits counts as 0.
void range_keys(const char *item, size_t length, const char *dash, key_sink sink, void *context)
{
    size_t before = static_cast<size_t>(dash - item);
    size_t prefix = before;
    while (prefix && item[prefix - 1] != '.')
        prefix--;
    uint64_t start;
    if (scan_ulong(item + prefix, &start, 10) < 0)
        return;
    const char *after = dash + 1;
    size_t after_length = length - before - 1;
    uint64_t end;
    int used = scan_ulong(after, &end, 10);
    const char *suffix = after;
    size_t suffix_length = after_length;
    if (used < 0) {
        end = 255;
        suffix_length = 0;
    } else if (used > 0) {
        suffix += used;
        suffix_length -= static_cast<size_t>(used);
        if (end > 255)
            end = 255;
    } else {
        end = 255;
    }
    // Every key is the prefix, at most three digits and the suffix: with
    // room for that, each one is written in place behind the prefix.
    zostr_xdup_mem(&scratch, item, prefix);
    uint64_t room = 3 + uint64_t{suffix_length};
    if (scratch.capacity - scratch.length <= room)
        zostr_xallocmore(&scratch, room + 1);
    for (uint64_t n = start; n <= end; n++) {
        char *p = put_octet(scratch.data + prefix, static_cast<unsigned>(n));
        if (suffix_length != 0)
            memcpy(p, suffix, suffix_length);
        sink(context, scratch.data, static_cast<size_t>(p - scratch.data) + suffix_length);
    }
}

// A "-" makes a range only where a number may start it: the start text
// (after the last "." before the "-", or all before it when there is no
// ".") is empty or decimal digits. Host names such as build-01, web-3 or
// lab-a.example.net are plain names.
bool starts_a_range(const char *item, const char *dash)
{
    const char *p = dash;
    while (p != item && p[-1] != '.')
        p--;
    for (; p != dash; p++)
        if (*p < '0' || *p > '9')
            return false;
    return true;
}

// Networks and ranges are read from a terminated copy of the item, since
// the numbers in them are read up to the first byte that is not a digit.
const key_failure *item_keys(const char *item, size_t length, key_sink sink, void *context)
{
    const void *slash = memchr(item, '/', length);
    const void *dash = slash ? nullptr : memchr(item, '-', length);
    if (dash && !starts_a_range(item, static_cast<const char *>(dash)))
        dash = nullptr;
    if (!slash && !dash) {
        sink(context, item, length);
        return nullptr;
    }
    zostr_xdup_mem(&item_text, item, length);
    zostr_xadd_char(&item_text, 0);
    const char *copy = item_text.data;
    size_t at = static_cast<size_t>(static_cast<const char *>(slash ? slash : dash) - item);
    if (slash)
        return network_keys(copy, copy + at, sink, context);
    range_keys(copy, length, copy + at, sink, context);
    return nullptr;
}

} // namespace

const key_failure *keys_split(std::string_view name, key_sink sink, void *context)
{
    for (;;) {
        size_t end = name.find(',');
        std::string_view item = name.substr(0, end);
        if (!item.empty())
            if (const key_failure *f = item_keys(item.data(), item.size(), sink, context))
                return f;
        if (end == std::string_view::npos)
            return nullptr;
        name.remove_prefix(end + 1);
    }
}
