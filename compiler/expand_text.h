// The texts of an expansion in progress, and what is remembered of each
// variable's expansion (its memo). Internal to record generation.
//
// A text is held as bytes with holes: a hole stands for another variable's
// finished expansion, or a prefix of it, without copying it. So a host
// whose variables double each other's size costs a few holes, its length
// is known before a byte of it is written out, and a host that could never
// fit in a database is refused without building it.
#pragma once

#include "compiler/zarray.h"
#include "lib/zostr.h"

#include <cstdint>

constexpr int no_char = -1;

// Lengths saturate here; anything that long is refused long before.
constexpr uint64_t length_cap = uint64_t{1} << 62;

inline uint64_t length_add(uint64_t a, uint64_t b)
{
    return a + b > length_cap ? length_cap : a + b;
}

struct text_hole {
    uint64_t at;        // offset in the owner's bytes
    uint64_t length;    // a prefix of the expansion this long
    uint32_t memo;      // the memo whose expansion it is (never an alias)
};

enum memo_state : uint8_t { memo_none, memo_busy, memo_ok, memo_bad };

struct memo {
    memo_state state;
    bool raw;           // it, or a memo it used, expanded a value in its surroundings
                        // (scanned in place, or behind "$" bytes)
    int first;          // the first byte, or no_char when empty
    int last_other;     // the last byte that is not "$", or no_char
    uint64_t trail;     // the "$" bytes at its end
    uint64_t length;
    int32_t alias;      // the memo whose expansion this one is a prefix of, or -1
    uint32_t dollars;   // for a memo behind "$" bytes: how many of them it used up
    uint64_t byte_begin;
    uint64_t byte_count;
    uint32_t hole_begin;
    uint32_t hole_count;
    uint32_t dep_begin;  // the references it met (see expand_memo.cc)
    uint32_t dep_count;
    uint32_t raw_begin;  // the variables whose values it so expanded
    uint32_t raw_count;  // raw_many when too many to list
    uint32_t mark;       // walk epoch
    uint64_t written;    // 1 + where the host's data holds it in full, or 0
};

constexpr uint32_t raw_many = UINT32_MAX;

// The text before the scan position of one expansion: its bytes and holes
// lie in the work areas from the two bases on.
struct text_out {
    uint64_t byte_base;
    uint32_t hole_base;
    uint64_t length;
    uint64_t trail;
    int last_other;
    int first;
};

// Two per variable of the host: its value expanded on its own, and behind
// a run of "$" bytes (see expand_memo.cc).
extern zarray<memo> memos;

void text_reset();
void text_begin(text_out *o);
void text_add_bytes(text_out *o, const char *bytes, uint64_t n);
void text_add_memo(text_out *o, uint32_t slot);
// Removes the "$" that ends the text.
void text_pop_dollar(text_out *o);
// Makes the text, less its first skip bytes (which are bytes, not holes), the
// expansion of the memo, and drops it from the work areas.
void text_store(text_out *o, uint32_t slot, uint64_t skip);
// Drops the text from the work areas.
void text_drop(text_out *o);
// The finished text of the host's data (the outermost one), written out.
const char *text_result(const text_out *o);
