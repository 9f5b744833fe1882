// Frames: the text of one value scanned by the rule, and what happens at a
// reference in it. The map in expand.h says what each kind of frame is
// for; this file moves a frame on until it ends, starts a child frame, or
// the expansion fails.
#include "compiler/expand/state.h"

#include <cstring>

namespace {

bool is_front(const frame *f)
{
    return f->kind == frame_front;
}

// The "$" that a "{" may pair with, or an inserted value take back: those
// at the end of what the frame wrote and, while it wrote only "$", those
// before it that it has not taken yet.
uint64_t count_now(const frame *f)
{
    if (is_front(f))
        return unlimited;
    return f->out.end_dollars + (f->out.sealed ? 0 : f->count - f->taken);
}

// After a frame on the data's path wrote: the data is certain to pass the
// limit, or a length reached the cap.
step check_length(expansion *run, const frame *f)
{
    if (f->final_below + frame_final_bytes(f) > run->limit || f->out.length >= count_cap ||
        count_now(f) >= count_cap)
        return fail_too_large(run);
    return step_go;
}

step check_front(frame *f)
{
    if (f->out.end_dollars < count_cap && f->taken < count_cap)
        return step_go;
    f->end = end_too_large;
    return step_finished;
}

void add_front_dollars(frame *f, uint64_t n)
{
    f->out.end_dollars = add_capped(f->out.end_dollars, n);
    f->out.length = f->out.end_dollars;
}

// A decision that needed the count to be at least `count - slack`: while
// the frame has written only "$", descents (descents.cc) must know by how
// much it passed.
void note_decision(frame *f, uint64_t slack)
{
    if (f->linked && slack < f->pool_slack)
        f->pool_slack = slack;
}

// Takes back k "$" before an insertion: the frame's own first, then those
// before it.
void take_back(expansion *run, frame *f, uint64_t k)
{
    uint64_t own = k < f->out.end_dollars ? k : f->out.end_dollars;
    if (is_front(f)) {
        f->out.end_dollars -= own;
        f->out.length = f->out.end_dollars;
    } else {
        text_take_dollars(run, &f->out, own);
    }
    f->taken = add_capped(f->taken, k - own);
}

void settle(frame *f)
{
    while (f->part_now < f->part_count && f->at == f->part_length[f->part_now]) {
        f->part_now++;
        f->at = 0;
    }
}

bool scanned_all(const frame *f)
{
    return f->part_now == f->part_count;
}

const char *here(const frame *f)
{
    return f->part[f->part_now] + f->at;
}

uint64_t left_in_part(const frame *f)
{
    return f->part_length[f->part_now] - f->at;
}

// Where the scan stands in the value (frames other than the item frame
// scan one part).
uint64_t value_offset(const frame *f)
{
    return f->part_now ? f->part_length[0] : f->at;
}

// The first "}" from the scan position on, in the frame's text.
bool find_close(const frame *f, uint8_t *close_part, uint64_t *close_at)
{
    for (uint8_t p = f->part_now; p < f->part_count; p++) {
        uint64_t from = p == f->part_now ? f->at : 0;
        const void *hit = memchr(f->part[p] + from, '}', f->part_length[p] - from);
        if (hit) {
            *close_part = p;
            *close_at = static_cast<uint64_t>(static_cast<const char *>(hit) - f->part[p]);
            return true;
        }
    }
    return false;
}

// The text from the scan position up to the "}", and the scan moved past
// it. Copied only when it spans parts of an item.
void take_name(expansion *run, frame *f, uint8_t close_part, uint64_t close_at, const char **name,
               uint64_t *length)
{
    if (close_part == f->part_now) {
        *name = here(f);
        *length = close_at - f->at;
    } else {
        zostr_cut(&run->name_text, 0);
        for (uint8_t p = f->part_now; p < close_part; p++, f->at = 0)
            zostr_xadd_mem(&run->name_text, f->part[p] + f->at, f->part_length[p] - f->at);
        zostr_xadd_mem(&run->name_text, f->part[close_part], close_at);
        *name = run->name_text.data;
        *length = run->name_text.length;
    }
    f->part_now = close_part;
    f->at = close_at + 1;
}

// The reference just begun runs past the end of the frame's text: the
// frame ends, leaving the reference's text so far. At the end of an item
// the reference is unfinished.
step run_past_end(expansion *run, frame *f, uint32_t pending, name_range names)
{
    bool item = f->kind == frame_item;
    for (settle(f); !scanned_all(f); f->at = f->part_length[f->part_now], settle(f)) {
        pending = pending_add(run, pending, here(f), left_in_part(f));
        if (!item)
            names = names_extend(run, names, here(f), left_in_part(f));
    }
    // A reference being read is one with a part, be it empty.
    if (pending == none)
        pending = pending_add(run, none, "", 0);
    if (item)
        return fail_unfinished(run, pending);
    f->pending = pending;
    f->pending_names = names;
    f->end = end_crossing;
    return step_finished;
}

step missing(expansion *run, frame *f, uint32_t pending, const char *name, uint64_t length)
{
    if (!is_front(f))
        return fail_missing(run, pending, name, length);
    // A front scans a value, so the name is the value's text and stays.
    f->pending = pending_add(run, pending, name, length);
    f->end = end_missing;
    return step_finished;
}

// The deepest the frames may nest. Without a value met again, frames nest
// at most a few per variable (a front, a rest, a value behind its counts);
// deeper, the same variable is nested in itself behind ever more "$", each
// level dirty, and the rule goes on until its data passes the limit, a
// level a byte: that is billions of frames, each holding memory. Such a
// run is reported as the cycle it is long before (see "The guard").
constexpr uint32_t depth_spare = 1 << 16;

uint32_t deepest(const expansion *run)
{
    return depth_spare + 4 * run->var_count;
}

} // namespace

step frame_start(expansion *run, frame *f, frame_wait wait, frame_kind kind, uint32_t var,
                 uint64_t count, uint32_t id)
{
    if (frame_count(run) >= deepest(run))
        return fail_cycle(run, var);
    f->wait = wait;
    f->wait_var = var;
    const host_var *v = var_at(run, var);
    frame child = frame_blank(kind, id);
    child.part[0] = v->value.data();
    child.part_length[0] = v->value.size();
    child.part_count = 1;
    child.count = count;
    child.var = var;
    if (kind == frame_rest) {
        const memo *front = memo_at(run, memo_front(run, var));
        child.at = front->seal_at;
        if (front->seal_var != none) {
            child.wait = wait_opening;
            child.wait_var = front->seal_var;
        }
    }
    if (!is_front(f)) {
        child.began_linked = kind == frame_behind && f->linked;
        child.final_below = f->final_below + frame_final_bytes(f);
    }
    child.linked = kind == frame_behind;
    child.chain_base = child.began_linked && !f->out.sealed ? f->chain_base : frame_count(run);
    text_begin(run, &child.out);
    memo_at(run, id)->state = memo_busy;
    if (kind == frame_behind) {
        uint32_t *innermost = zarray_at(&run->innermost_behind, var);
        child.outer_same_var = *innermost;
        *innermost = frame_count(run);
    }
    zarray_push(&run->frames, child);
    return step_pushed;
}

namespace {


// The rest of var, whose front the frame has applied already; or, for a
// rest frame, the rest it opens with.
step insert_rest(expansion *run, frame *f, uint32_t var, frame_wait wait)
{
    uint32_t id = memo_rest(run, var);
    const memo *rest = memo_at(run, id);
    if (rest->state == memo_busy)
        return fail_cycle(run, var);
    if (rest->state == memo_unknown)
        return frame_start(run, f, wait, frame_rest, var, 0, id);
    text_add_text(run, &f->out, rest->text);
    f->linked = false;
    if (rest->end == end_crossing) {
        f->pending = rest->pending;
        f->pending_names = rest->names;
    }
    return check_length(run, f);
}

} // namespace

step insert_behind(expansion *run, frame *f, uint32_t var, uint64_t count)
{
    uint32_t id = memo_behind(run, var, count);
    const memo *m = memo_at(run, id);
    if (m->state == memo_busy || (m->state == memo_unknown && behind_repeats(run, var, count)))
        return fail_cycle(run, var);
    descent_probe(run, f, var, count);
    if (m->state == memo_unknown && count && descent_begin(run, f, var, count))
        return descent_step(run, f);
    if (m->state == memo_unknown)
        return frame_start(run, f, wait_insert, frame_behind, var, count, id);
    bool linked = f->linked;
    take_back(run, f, m->taken);
    if (m->family && linked)
        note_decision(f, count - m->family_base);
    else if (m->met_empty && linked)
        meet_empty(run, f);
    text_add_text(run, &f->out, m->text);
    // A family member's end moves with its count; any other text that
    // holds more than "$" ends the run of "$" linked to the frame's count.
    if (f->out.sealed && !(m->family && linked))
        f->linked = false;
    if (m->end == end_crossing) {
        f->pending = m->pending;
        f->pending_names = m->names;
    }
    return check_length(run, f);
}

namespace {

// In a front, a value is inserted behind unlimited "$" too: its own front.
// A front met again while it is being made takes back "$" for ever.
step insert_in_front(expansion *run, frame *f, uint32_t var)
{
    uint32_t id = memo_front(run, var);
    const memo *m = memo_at(run, id);
    if (m->state == memo_busy || (m->state == memo_known && m->end == end_endless)) {
        f->end = end_endless;
        return step_finished;
    }
    if (m->state == memo_unknown)
        return frame_start(run, f, wait_insert, frame_front, var, unlimited, id);
    take_back(run, f, m->taken);
    add_front_dollars(f, m->dollars);
    if (check_front(f) != step_go)
        return step_finished;
    switch (m->end) {
    case end_crossing:
        f->pending = m->pending;
        f->pending_names = m->names;
        return step_go;
    case end_sealed:
        f->seal_var = var;
        f->end = end_sealed;
        return step_finished;
    case end_missing:
        f->pending = m->pending;
        f->end = end_missing;
        return step_finished;
    case end_too_large:
        f->end = end_too_large;
        return step_finished;
    default:
        return step_go;
    }
}

// Replaces the reference to var, already read, at the scan position.
// Behind no "$" the value's memo is its expansion; behind some, its front
// says how many it takes back, and its rest follows, unless it would take
// back more than there are: then it is expanded behind exactly that many.
step insert(expansion *run, frame *f, uint32_t var)
{
    if (is_front(f))
        return insert_in_front(run, f, var);
    uint64_t count = count_now(f);
    if (!count)
        return insert_behind(run, f, var, 0);
    // A front is only ever made for a frame on the data's path or for a
    // front, so it is never busy here.
    uint32_t id = memo_front(run, var);
    const memo *front = memo_at(run, id);
    if (front->state == memo_unknown)
        return frame_start(run, f, wait_insert, frame_front, var, unlimited, id);
    if (front->end == end_endless || front->taken > count)
        return insert_behind(run, f, var, count);
    note_decision(f, count - front->taken);
    take_back(run, f, front->taken);
    text_add_dollars(run, &f->out, front->dollars);
    step s = check_length(run, f);
    if (s != step_go)
        return s;
    switch (front->end) {
    case end_crossing:
        f->pending = front->pending;
        f->pending_names = front->names;
        return step_go;
    case end_missing:
        return fail_missing(run, front->pending, nullptr, 0);
    case end_too_large:
        return fail_too_large(run);
    case end_sealed:
        return insert_rest(run, f, var, wait_rest);
    default:
        return step_go;
    }
}

// After "${": the name up to the next "}", and the variable inserted.
step read_name(expansion *run, frame *f)
{
    uint8_t close_part;
    uint64_t close_at;
    if (!find_close(f, &close_part, &close_at))
        return run_past_end(run, f, none, f->kind == frame_item ? name_range{} : names_all(run));
    const char *name;
    uint64_t length;
    take_name(run, f, close_part, close_at, &name, &length);
    int32_t var = name_lookup(run, name, length);
    if (var < 0)
        return missing(run, f, none, name, length);
    return insert(run, f, static_cast<uint32_t>(var));
}

// A reference that an inserted memo began goes on in the frame's text.
step read_across(expansion *run, frame *f)
{
    uint32_t pending = f->pending;
    name_range names = f->pending_names;
    f->pending = none;
    uint8_t close_part;
    uint64_t close_at;
    if (!find_close(f, &close_part, &close_at))
        return run_past_end(run, f, pending, names);
    const char *name;
    uint64_t length;
    take_name(run, f, close_part, close_at, &name, &length);
    int32_t var = names_found(run, names_extend(run, names, name, length));
    if (var < 0)
        return missing(run, f, pending, name, length);
    return insert(run, f, static_cast<uint32_t>(var));
}

step resume(expansion *run, frame *f)
{
    frame_wait wait = f->wait;
    f->wait = wait_none;
    switch (wait) {
    case wait_insert:
        return insert(run, f, f->wait_var);
    case wait_rest:
    case wait_opening:
        return insert_rest(run, f, f->wait_var, wait);
    case wait_descent:
        return descent_step(run, f);
    default:
        return step_go;
    }
}

// A "$" run, written as it is.
step scan_dollars(expansion *run, frame *f)
{
    const char *t = here(f);
    uint64_t n = left_in_part(f);
    uint64_t k = 1;
    while (k < n && t[k] == '$')
        k++;
    f->at += k;
    if (is_front(f)) {
        add_front_dollars(f, k);
        return check_front(f);
    }
    text_add_bytes(run, &f->out, t, k);
    return check_length(run, f);
}

// A "{": with a "$" before it, the "$" is taken back and a reference
// begins; without, it is written.
step scan_open(expansion *run, frame *f)
{
    f->at++;
    if (uint64_t count = count_now(f)) {
        note_decision(f, count - 1);
        take_back(run, f, 1);
        return read_name(run, f);
    }
    if (f->linked)
        meet_empty(run, f);
    text_add_bytes(run, &f->out, "{", 1);
    f->linked = false;
    return check_length(run, f);
}

// Bytes that are neither "$" nor "{". The first of them ends a front.
step scan_plain(expansion *run, frame *f)
{
    if (is_front(f)) {
        f->end = end_sealed;
        return step_finished;
    }
    const char *t = here(f);
    uint64_t n = left_in_part(f);
    uint64_t k = 1;
    while (k < n && t[k] != '$' && t[k] != '{')
        k++;
    f->at += k;
    text_add_bytes(run, &f->out, t, k);
    f->linked = false;
    return check_length(run, f);
}

step scan_step(expansion *run, frame *f)
{
    settle(f);
    if (f->pending != none)
        return read_across(run, f);
    if (f->kind == frame_item && f->part_now == f->value_part && f->at == 0) {
        // The item's value, reached with nothing before it to pair with,
        // is its variable's memo.
        f->at = f->part_length[f->part_now];
        return insert(run, f, f->var);
    }
    if (scanned_all(f)) {
        f->end = end_done;
        return step_finished;
    }
    switch (*here(f)) {
    case '$':
        return scan_dollars(run, f);
    case '{':
        return scan_open(run, f);
    default:
        return scan_plain(run, f);
    }
}

} // namespace

uint64_t frame_final_bytes(const frame *f)
{
    return f->out.sealed ? f->out.length - f->out.end_dollars : 0;
}

// Moves the frame on until it ends, starts a child or fails.
step frame_scan(expansion *run, frame *f)
{
    step s = f->wait != wait_none ? resume(run, f) : step_go;
    while (s == step_go)
        s = scan_step(run, f);
    return s;
}

// Ends the top frame, which is not the item frame: its memo is known.
void frame_finish(expansion *run)
{
    frame *f = top_frame(run);
    memo *m = memo_at(run, f->memo);
    m->state = memo_known;
    m->end = f->end;
    m->taken = f->taken;
    m->met_empty = f->met_empty;
    m->pending = f->pending;
    m->names = f->pending_names;
    if (is_front(f)) {
        m->dollars = f->out.end_dollars;
        m->seal_var = f->seal_var;
        m->seal_at = value_offset(f);
    } else {
        m->text = text_store(run, &f->out);
    }
    if (f->kind == frame_behind) {
        *zarray_at(&run->innermost_behind, f->var) = f->outer_same_var;
        descent_finish(run, f, f->memo);
    }
    zarray_pop(&run->frames);
}
