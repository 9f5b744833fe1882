// The state of one expansion, in one struct, and the words the expander's
// files share. Internal to the expander: expand.h has the map, and says
// which file owns which part of this state.
#pragma once

#include "compiler/expand/expand.h"
#include "lib/zarray.h"
#include "lib/zostr.h"

#include <cstdint>

constexpr uint32_t none = UINT32_MAX;

// A count or length this large is refused as too large (see the map);
// below it, the sum of two of them is exact.
constexpr uint64_t count_cap = uint64_t{1} << 62;

// The count of a front: as many "$" as it takes back.
constexpr uint64_t unlimited = UINT64_MAX;

inline uint64_t add_capped(uint64_t a, uint64_t b)
{
    return a >= count_cap || b >= count_cap - a ? count_cap : a + b;
}

// ---- texts (texts.cc) ----

enum piece_kind : uint8_t {
    piece_bytes,     // bytes of the byte pool
    piece_dollars,   // a run of "$", not stored
    piece_text,      // a prefix of a finished text: a hole
};

struct text_piece {
    uint64_t length;
    uint64_t ref;        // bytes: where in the byte pool; text: the text
    piece_kind kind;
};

// A finished text: an expansion that memos share.
struct text_record {
    uint64_t length;
    uint64_t end_dollars;   // "$" bytes at its end
    uint64_t written;       // 1 + where the data holds it whole, or 0
    uint32_t piece_begin;   // in the stored pieces
    uint32_t piece_count;
    bool sealed;            // it holds a byte other than "$"
};

// A text a frame is writing: its pieces are the work pieces from
// piece_base on.
struct text_work {
    uint64_t length;
    uint64_t end_dollars;
    uint32_t piece_base;
    bool sealed;
};

// ---- names (names.cc) ----

// The variables whose names begin with the text read so far of a name
// that runs across the end of inserted values: names_sorted[lo, hi),
// which share their first `read` bytes.
struct name_range {
    uint32_t lo;
    uint32_t hi;
    uint64_t read;
};

// The text of a reference after its "${", read so far across the ends of
// inserted values: one part per value, each linked to the part before it.
struct pending_part {
    const char *text;
    uint64_t length;
    uint32_t before;     // the earlier part, or none
};

// ---- memos (memos.cc) ----

enum memo_state : uint8_t { memo_unknown, memo_busy, memo_known };

// How a memo's expansion ends.
enum memo_end : uint8_t {
    end_done,        // the value's text is used up
    end_crossing,    // a reference runs on past the value's end: pending
    end_sealed,      // fronts: the first byte other than "$" comes; rest follows
    end_missing,     // fronts: a reference names no variable (pending: the name)
    end_too_large,   // fronts: a count or length reached count_cap
    end_endless,     // fronts: the value takes back "$" for ever
};

struct memo {
    uint64_t count;         // behind: the "$" before the value; fronts: unlimited
    uint64_t taken;         // of them, how many the expansion takes back
    uint64_t dollars;       // fronts: the "$" written before the first other byte
    uint64_t seal_at;       // fronts: where in the value the rest begins
    name_range names;       // crossing: the names the pending text begins
    uint32_t var;
    uint32_t text;          // behind and rest: the expansion
    uint32_t pending;       // crossing: the text after "${" so far; missing: the name
    uint32_t seal_var;      // fronts: the nested front that wrote the first other byte, or none
    memo_state state;
    memo_end end;
    bool met_empty;         // behind: a decision on a count linked to its own
                            // (see frame) went the way a larger count would not
    bool family;            // behind: one of a family (descents.cc): x behind
                            // family_base + j for every j >= 0 is this memo
                            // with j more "$" taken and a fixed number more at its end
    uint64_t family_base;
};

// ---- frames (frames.cc, items.cc) ----

enum frame_kind : uint8_t {
    frame_item,     // the data, one item after another
    frame_behind,   // a value behind exactly `count` "$"
    frame_front,    // a value behind unlimited "$", up to its first other byte
    frame_rest,     // a value from that byte on
};

// What a frame waits for, its child frame being at work.
constexpr uint8_t no_part = 0xFF;

enum frame_wait : uint8_t {
    wait_none,
    wait_insert,    // the memos that decide how wait_var is inserted
    wait_rest,      // the rest of wait_var, its front already applied
    wait_opening,   // rest frames: the rest of the front that sealed this one
    wait_descent,   // the levels of a descent, wait_var's memos (descents.cc)
};

struct frame {
    const char *part[3];     // the text still to scan: up to three parts
    uint64_t part_length[3];
    uint64_t at;             // in part[part_now]
    uint64_t count;          // "$" before the frame that it may take back
    uint64_t taken;          // of them, taken back so far
    uint64_t skipped;        // descent levels: the "$" that the levels above it,
                             // not on the stack, took back before it began
    uint64_t final_below;    // bytes of the data before the frame certain to stay
    uint64_t pool_slack;     // of the decisions it made while it had written only
                             // "$": the least by which the count passed what
                             // the decision needed
    uint64_t descent_level;  // wait_descent: the count of the level to make next
    uint64_t descent_step;
    uint64_t descent_target;
    uint32_t descent_below;  // the memo of the level below it, or none
    uint64_t descent_since;  // the dirt clock when the descent began
    uint64_t probe_count;    // behind: the count of its first reference to its own
                             // variable behind fewer "$" (descents.cc), if probed
    uint64_t probe_since;    // the dirt clock then
    uint64_t dirtied_at;     // the dirt clock when it became dirty
    uint32_t chain_base;     // the lowest frame of the chain of frames, up to this
                             // one, that each began while the one below had
                             // written only "$"
    bool probed;
    text_work out;           // what it wrote; fronts: only its count of "$"
    name_range pending_names;
    uint32_t pending;        // a reference being read across the end of a value, or none
    uint32_t var;            // the value's variable; the item frame: the item's
    uint32_t memo;           // the memo it computes; none for the item frame
    uint32_t outer_same_var; // behind: the innermost behind frame of var around it
    uint32_t wait_var;
    uint32_t seal_var;       // fronts: as in memo
    uint8_t part_count;
    uint8_t part_now;
    uint8_t value_part;      // the item frame: which part is the item's value; else no_part
    frame_kind kind;
    frame_wait wait;
    memo_end end;
    bool linked;             // behind: the "$" at the end of what it wrote are
                             // as many more as its count would be larger (so
                             // far only "$", or a family member's end)
    bool began_linked;       // its count was linked in its parent
    bool dirty;              // since it began, a decision on a count linked to
                             // its own, through its chain, went the way a
                             // larger count would not
    bool met_empty;
};

// A frame of the kind, computing memo, with nothing read, waited for or
// written yet; its text and the fields of its kind are the caller's.
inline frame frame_blank(frame_kind kind, uint32_t memo)
{
    frame f{};
    f.kind = kind;
    f.memo = memo;
    f.value_part = no_part;
    f.pending = none;
    f.outer_same_var = none;
    f.wait_var = none;
    f.seal_var = none;
    f.descent_below = none;
    f.pool_slack = UINT64_MAX;
    return f;
}

// ---- the direct expansion (direct.cc) ----

enum direct_state : uint8_t { direct_unseen, direct_busy, direct_done };

// A variable's expansion: where it is once done.
struct direct_var {
    uint64_t at;        // in the data, or in the side block when expanded ahead
    uint64_t length;
    direct_state state;
    bool ahead;
};

// A variable expanded ahead, whose references are being looked at.
struct direct_walk_frame {
    const host_var *var;
    uint64_t at;        // in its value: the scan goes on from here
};

// A step of writing a text out (texts.cc).
struct write_step {
    uint64_t left;          // bytes still to write
    uint64_t began;         // where the text began in the output
    uint32_t piece;         // the next piece
    uint32_t piece_end;
    uint32_t text;          // the text written whole, to remember where; or none
    bool work;              // the pieces are work pieces
};

// ---- the include path's items (prefix.cc) ----

constexpr uint32_t prefix_none = UINT32_MAX;

// The items of a path's variables, as a host that changed none of them has
// them; a variable's item is left to the host where it refers to a name
// that only hosts set, or is not plain.
struct prefix_memo {
    uint32_t count;           // the path's variables, at most 64
    const char *items;        // the items that can be copied, one after another
    const uint32_t *item_at;  // per variable: where its item begins in items, or prefix_none
    const uint32_t *item_length;
    const uint64_t *needs;    // per variable: itself and what it refers to, directly or not, a bit each
};

// ---- the state ----

// Owners: expand.cc sets the host, the limit and the outcome; items.cc
// the item frame; frames.cc every other frame; memos.cc the memos and
// their indexes; texts.cc the texts; names.cc the sorted names and the
// pending parts; direct.cc its own arrays.
struct expansion {
    const host *h;
    uint64_t limit;
    expand_failure *failure;
    expand_status status;               // when a step fails
    uint32_t var_count;
    uint32_t item;                      // the variable whose item is scanned
    zarray<const host_var *> vars;      // vars[v->index] is v

    zarray<frame> frames;               // the item frame first

    zarray<memo> memos;
    zarray<uint32_t> plain_memo;        // per variable: its memo behind no "$"
    zarray<uint32_t> front_memo;        // per variable
    zarray<uint32_t> rest_memo;         // per variable
    zarray<uint32_t> behind_slots;      // open addressing: memos behind one "$" or more
    uint32_t behind_used;
    zarray<uint32_t> old_slots;         // scratch: the slots while they grow
    zarray<uint32_t> innermost_behind;  // per variable: its innermost behind frame, or none
    uint64_t dirt_clock;                // counts the frames made dirty

    zostr byte_pool;                    // the bytes of every text
    zarray<text_piece> work_pieces;     // the texts being written, innermost last
    zarray<text_piece> stored_pieces;
    zarray<text_record> texts;
    zarray<write_step> write_steps;
    zostr data;                         // the data written out

    zarray<uint32_t> names_sorted;      // variables by name, made when first needed
    bool names_ready;
    zarray<pending_part> pending_parts;
    zarray<uint32_t> pending_order;     // scratch: the parts of one text, last first

    zostr name_text;                    // a name that spans parts of an item
    zostr detail_text;                  // the failure's detail

    zarray<direct_var> direct_vars;     // per variable
    zostr direct_side;                  // the expansions made ahead of their turn
    uint64_t side_used;
    zarray<direct_walk_frame> direct_walk;
    const prefix_memo *prefix;          // the host's include path's, or null
    uint32_t prefix_count;              // its variables; 0 without one
    uint64_t prefix_changed;            // the host's changes among them

    uint64_t data_length;
    const char *data_written;           // the data once written out
};

inline const host_var *var_at(const expansion *run, uint32_t var)
{
    return *zarray_at(&run->vars, var);
}

inline frame *frame_at(const expansion *run, uint32_t i)
{
    return zarray_at(&run->frames, i);
}

inline uint32_t frame_count(const expansion *run)
{
    return static_cast<uint32_t>(zarray_size(&run->frames));
}

inline frame *top_frame(const expansion *run)
{
    return zarray_last(&run->frames);
}

inline memo *memo_at(const expansion *run, uint32_t id)
{
    return zarray_at(&run->memos, id);
}

// How a step of the frames ended.
enum step {
    step_go,         // scanning goes on
    step_pushed,     // a child frame was started
    step_finished,   // the top frame ended (its end says how)
    step_failed,     // the expansion failed: run->status says how
};

// texts.cc
void text_begin(expansion *run, text_work *w);
void text_add_bytes(expansion *run, text_work *w, const char *bytes, uint64_t n);
void text_add_dollars(expansion *run, text_work *w, uint64_t n);
void text_add_text(expansion *run, text_work *w, uint32_t text);
void text_take_dollars(expansion *run, text_work *w, uint64_t n);
uint32_t text_store(expansion *run, text_work *w);
const char *text_write_data(expansion *run, const text_work *w);

// names.cc
int32_t name_lookup(const expansion *run, const char *name, uint64_t length);
name_range names_all(expansion *run);
name_range names_extend(const expansion *run, name_range r, const char *bytes, uint64_t n);
int32_t names_found(const expansion *run, name_range r);
uint32_t pending_add(expansion *run, uint32_t before, const char *text, uint64_t length);
void pending_append_to(expansion *run, uint32_t last, zostr *out);

// memos.cc
void memos_reset(expansion *run);
uint32_t memo_behind(expansion *run, uint32_t var, uint64_t count);
uint32_t memo_front(expansion *run, uint32_t var);
uint32_t memo_rest(expansion *run, uint32_t var);
bool behind_repeats(const expansion *run, uint32_t var, uint64_t count);
void meet_empty(expansion *run, frame *f);
void undo_dirt(expansion *run, uint32_t top, uint64_t since);

// frames.cc
step frame_scan(expansion *run, frame *f);
step frame_start(expansion *run, frame *f, frame_wait wait, frame_kind kind, uint32_t var,
                 uint64_t count, uint32_t id);
step insert_behind(expansion *run, frame *f, uint32_t var, uint64_t count);
void frame_finish(expansion *run);
uint64_t frame_final_bytes(const frame *f);

// descents.cc
void descent_probe(expansion *run, frame *f, uint32_t var, uint64_t count);
bool descent_begin(expansion *run, frame *f, uint32_t var, uint64_t count);
step descent_step(expansion *run, frame *f);
void descent_finish(expansion *run, const frame *f, uint32_t memo_id);

// failures.cc
step fail_too_large(expansion *run);
step fail_missing(expansion *run, uint32_t pending, const char *bytes, uint64_t n);
step fail_unfinished(expansion *run, uint32_t pending);
step fail_cycle(expansion *run, uint32_t var);

// items.cc
expand_status items_expand(expansion *run);

// direct.cc
bool expand_direct(expansion *run);

// prefix.cc: takes the memo of prefix's path for the run, made for the
// path's second host; none for a null prefix or path.
void prefix_use(expansion *run, const host_prefix *prefix);

// The item of the path's variable var (below prefix_count) when the host
// changed nothing it needs.
inline bool prefix_item(const expansion *run, uint32_t var, const char **item, uint32_t *length)
{
    const prefix_memo *m = run->prefix;
    if (m->item_at[var] == prefix_none || m->needs[var] & run->prefix_changed)
        return false;
    *item = m->items + m->item_at[var];
    *length = m->item_length[var];
    return true;
}
