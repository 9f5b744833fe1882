// zostr: the growable byte string of the compiler.
//
// The content is never NUL-terminated by the library: after every change of
// content the byte just behind it is set to 'Z'. Users that need a terminated
// text append a zero byte as content. Blocks grow along the ladder
// 16, 48, 112, 240, ... (32 * 2^k - 16), and an enlargement asks for the
// current block size plus the bytes wanted. A first block of 2 MiB or more
// starts on a huge page (lib/pages.h).
//
// Every operation returns s on success and null when memory runs out; its
// x-twin (zostr_xadd_mem for zostr_add_mem) reports "out of memory in " and
// its own name on descriptor 2 and ends the process with status 1 instead.
//
// A process-wide tracking list remembers every record holding a block: a
// record that comes to its first allocation again while still listed (set
// back to no block without zostr_free or zostr_forget) aborts the process
// with "reusing zostr\n".
#pragma once

#include <bit>
#include <cstdint>

struct zostr {
    char *data;         // the block, or null: no block (an empty string)
    uint64_t capacity;  // bytes in the block; meaningful only while data is set
    uint64_t length;    // content bytes
};

struct zostr_track_entry {
    zostr *record;
    zostr_track_entry *next;
};

// The largest block size of the ladder; no allocation can meet it, so a
// request that maps to it fails as memory exhausted.
constexpr uint64_t zostr_top_size = UINT64_MAX - 15;

// The smallest ladder size not below request (16 for 0 to 16, 48 for 17 to
// 48, ...); every request above 2^63 - 16 maps to the top size.
constexpr uint64_t zostr_ladder_size(uint64_t request)
{
    if (request <= 16)
        return 16;
    if (request > (uint64_t{1} << 63) - 16)
        return zostr_top_size;
    return std::bit_ceil(request + 16) - 16;
}

extern int zostr_tracking;                        // 1 at start; 0 for good once a list entry could not be had
extern zostr_track_entry *zostr_track_list;       // newest first
extern void (*zostr_oom_handler)(const char *name);  // called instead of the message when set

zostr *zostr_allocmore(zostr *s, uint64_t n);
zostr *zostr_add_mem(zostr *s, const void *src, uint64_t n);
zostr *zostr_dup_mem(zostr *s, const void *src, uint64_t n);
zostr *zostr_add_cstr(zostr *s, const char *t);
zostr *zostr_dup_cstr(zostr *s, const char *t);
zostr *zostr_add_zostr(zostr *s, const zostr *t);
zostr *zostr_dup_zostr(zostr *s, const zostr *t);
zostr *zostr_add_char(zostr *s, int c);
zostr *zostr_dup_char(zostr *s, int c);

zostr *zostr_xallocmore(zostr *s, uint64_t n);
zostr *zostr_xadd_mem(zostr *s, const void *src, uint64_t n);
zostr *zostr_xdup_mem(zostr *s, const void *src, uint64_t n);
zostr *zostr_xadd_cstr(zostr *s, const char *t);
zostr *zostr_xdup_cstr(zostr *s, const char *t);
zostr *zostr_xadd_zostr(zostr *s, const zostr *t);
zostr *zostr_xdup_zostr(zostr *s, const zostr *t);
zostr *zostr_xadd_char(zostr *s, int c);
zostr *zostr_xdup_char(zostr *s, int c);

// Sets the length to k (k >= 0) or shortens it by -k (k < 0); null when the
// cut is refused.
zostr *zostr_cut(zostr *s, int64_t k);
void zostr_free(zostr *s);
void zostr_forget(zostr *s);
[[noreturn]] void zostr_out_of_memory(const char *name);
