// The state of the one expansion in progress, shared by the expander's
// files: expand.cc (the scan and the references), expand_segments.cc (the
// text still to scan and its regions) and expand_memo.cc (the memos).
// Internal to record generation.
#pragma once

#include "compiler/expand.h"
#include "compiler/expand_text.h"
#include "compiler/zarray.h"

#include <cstdint>

// Text still to scan: what is left of a stored value being expanded in
// place (whose region this is, when var >= 0), or plain text. Segments form
// a stack with the next byte on top.
struct segment {
    const char *text;
    uint64_t length;
    int32_t var;        // -1: plain text
    bool deferred;      // an item's value whose region has not begun yet
};

// Regions that began at the same place in the output: the segments from
// first up.
struct region_group {
    uint64_t start;
    uint32_t first;
};

constexpr uint32_t no_memo = UINT32_MAX;

// A reference that a memo's expansion met.
struct dep {
    uint32_t var;
    uint32_t memo;      // the memo that replaced it, or no_memo: scanned in place
};

// One expansion in progress: the host's data, or a variable's value on its
// own (the computation of its memo).
struct context {
    int32_t var;        // the variable whose memo this is; -1: the host's data
    uint32_t slot;      // the memo
    int32_t waiting;    // the variable of a reference waiting for a memo, or -1
    uint32_t waiting_for;  // that memo
    uint32_t seg_base;
    uint32_t group_base;
    uint32_t regions_base;  // regions counted before it began
    uint32_t dep_base;
    text_out out;
    uint64_t low;       // the shortest the output has been
    bool raw;           // a stored value was inserted and scanned in place
};

// A position in the segments of a context.
struct spot {
    uint32_t seg;
    uint64_t off;
};

struct expansion {
    const host *h;
    uint64_t limit;
    uint32_t var_count;
    zarray<const host_var *> vars;   // in list order: var_at(v->index) is v
    zarray<uint32_t> region_count;   // counted regions of each variable
    zarray<uint32_t> lowest_region;  // the lowest of them
    uint32_t regions_live;           // counted regions of all variables
    bool item_crossed;               // the item's value took in text from before it
    zarray<segment> segs;
    zarray<region_group> groups;
    zarray<context> contexts;        // the host's data first
    zarray<dep> work_deps;           // of the memos being computed
    zarray<dep> memo_deps;
    zarray<uint32_t> raw_lists;
    zarray<uint32_t> behind_busy;    // per variable: its memo behind "$" is being computed
    uint32_t behind_busy_count;
    zarray<uint32_t> walk;
    uint32_t epoch;
    uint32_t item;                   // the variable whose assignment is being scanned
    zostr name_text;
    zostr detail_text;
};

extern expansion ex;

inline uint32_t seg_count()
{
    return static_cast<uint32_t>(zarray_size(&ex.segs));
}

inline segment *seg(uint32_t i)
{
    return zarray_at(&ex.segs, i);
}

inline segment *top_seg()
{
    return zarray_last(&ex.segs);
}

inline memo *memo_of(uint32_t slot)
{
    return zarray_at(&memos, slot);
}

// The memo of var's value behind a run of "$" bytes.
inline uint32_t behind_dollars(uint32_t var)
{
    return ex.var_count + var;
}

inline bool memo_busy_for(uint32_t var)
{
    return memo_of(var)->state == memo_busy || *zarray_at(&ex.behind_busy, var);
}

inline const host_var *var_at(uint32_t var)
{
    return *zarray_at(&ex.vars, var);
}

inline uint64_t value_length(uint32_t var)
{
    return var_at(var)->value.size();
}

// expand.cc: the index of the host's variable called name, or -1.
int32_t var_lookup(const char *name, uint64_t length);

// expand_direct.cc: the host's data, when its references are all plain
// (see there); false leaves the expansion to the general way.
bool expand_direct(uint64_t limit, const char **data, uint64_t *length);

// expand_segments.cc
void segs_push_plain(const char *text, uint64_t length);
void segs_push_region(const context *c, const char *text, uint64_t length, uint32_t var);
void segs_push_waiting(const char *text, uint64_t length, uint32_t var);
void segs_pop();
void segs_settle(const context *c);
int segs_char_after_top(const context *c);
bool segs_advance(const context *c, spot *p);
bool segs_find_close(const context *c, spot from, spot *close);
void segs_name(spot from, spot close, const char **name, uint64_t *length);
void segs_consume(spot close);
uint32_t segs_cross(const context *c, uint64_t q);
void segs_take_in(const context *c, uint32_t first, uint64_t q);
bool segs_in_region(int32_t var, uint32_t crossed);

// expand_memo.cc
void memo_begin(uint32_t slot);
void memo_end(bool ok);
bool memo_reaches_region(const context *c, uint32_t slot);
