// The memos of one host: finding a memo by what it is of, and the two
// checks that tell a repeat that goes on for ever (see "Cycles" in the
// map).
#include "compiler/expand/state.h"

namespace {

uint32_t memo_new(expansion *run, uint32_t var, uint64_t count)
{
    memo m{};
    m.count = count;
    m.var = var;
    m.text = none;
    m.pending = none;
    m.seal_var = none;
    m.state = memo_unknown;
    zarray_push(&run->memos, m);
    return static_cast<uint32_t>(zarray_size(&run->memos)) - 1;
}

uint32_t per_var(expansion *run, zarray<uint32_t> *table, uint32_t var, uint64_t count)
{
    uint32_t *slot = zarray_at(table, var);
    if (*slot == none)
        *slot = memo_new(run, var, count);
    return *slot;
}

void fill_none(zarray<uint32_t> *a, size_t n)
{
    zarray_resize(a, n);
    for (size_t i = 0; i < n; i++)
        *zarray_at(a, i) = none;
}

uint64_t slot_hash(uint32_t var, uint64_t count)
{
    uint64_t h = (uint64_t{var} + 1) * 0x9E3779B97F4A7C15u ^ count * 0xC2B2AE3D27D4EB4Fu;
    return h ^ h >> 29;
}

// The slot of (var, count), or the empty slot where it would go.
uint32_t *behind_slot(expansion *run, uint32_t var, uint64_t count)
{
    size_t mask = zarray_size(&run->behind_slots) - 1;
    for (size_t i = slot_hash(var, count) & mask;; i = (i + 1) & mask) {
        uint32_t *slot = zarray_at(&run->behind_slots, i);
        if (*slot == none)
            return slot;
        const memo *m = memo_at(run, *slot);
        if (m->var == var && m->count == count)
            return slot;
    }
}

void grow_behind_slots(expansion *run)
{
    size_t n = zarray_size(&run->behind_slots);
    zarray_resize(&run->old_slots, n);
    for (size_t i = 0; i < n; i++)
        *zarray_at(&run->old_slots, i) = *zarray_at(&run->behind_slots, i);
    fill_none(&run->behind_slots, n ? 2 * n : 64);
    for (size_t i = 0; i < n; i++) {
        uint32_t id = *zarray_at(&run->old_slots, i);
        if (id != none)
            *behind_slot(run, memo_at(run, id)->var, memo_at(run, id)->count) = id;
    }
}

} // namespace

void memos_reset(expansion *run)
{
    zarray_cut(&run->memos, 0);
    fill_none(&run->plain_memo, run->var_count);
    fill_none(&run->front_memo, run->var_count);
    fill_none(&run->rest_memo, run->var_count);
    fill_none(&run->innermost_behind, run->var_count);
    zarray_cut(&run->behind_slots, 0);
    run->behind_used = 0;
    run->dirt_clock = 0;
}

uint32_t memo_behind(expansion *run, uint32_t var, uint64_t count)
{
    if (!count)
        return per_var(run, &run->plain_memo, var, 0);
    if (2 * (uint64_t{run->behind_used} + 1) > zarray_size(&run->behind_slots))
        grow_behind_slots(run);
    uint32_t *slot = behind_slot(run, var, count);
    if (*slot == none) {
        uint32_t id = memo_new(run, var, count);
        *behind_slot(run, var, count) = id;
        run->behind_used++;
        return id;
    }
    return *slot;
}

uint32_t memo_front(expansion *run, uint32_t var)
{
    return per_var(run, &run->front_memo, var, unlimited);
}

uint32_t memo_rest(expansion *run, uint32_t var)
{
    return per_var(run, &run->rest_memo, var, 0);
}

// Whether expanding var behind count "$" repeats an expansion of var
// around it for ever: the innermost one began behind fewer "$" and is
// clean (see "Cycles" in the map). The same count is the memo being busy,
// which the caller sees.
bool behind_repeats(const expansion *run, uint32_t var, uint64_t count)
{
    uint32_t i = *zarray_at(&run->innermost_behind, var);
    if (i == none)
        return false;
    const frame *outer = frame_at(run, i);
    return outer->count < count && !outer->dirty;
}

// A decision on a count linked to f's own went the way a larger count
// would not: f, and every frame whose count f's is linked to through the
// chain, is dirty. A frame already dirty has its chain marked beyond it.
void meet_empty(expansion *run, frame *f)
{
    f->met_empty = true;
    for (uint32_t i = static_cast<uint32_t>(f - frame_at(run, 0));; i--) {
        frame *g = frame_at(run, i);
        if (g->dirty)
            return;
        g->dirty = true;
        g->dirtied_at = ++run->dirt_clock;
        if (!g->began_linked || i == 0)
            return;
    }
}

// Makes clean again the frames from top down that became dirty after the
// clock read since: the dirt came from the expansions that a family
// explains (descents.cc). Only the top frame's expansions run, so all of
// it reached down from there, and stopped at a frame dirty before.
void undo_dirt(expansion *run, uint32_t top, uint64_t since)
{
    for (uint32_t k = top + 1; k-- > 0;) {
        frame *g = frame_at(run, k);
        if (!g->dirty || g->dirtied_at <= since)
            return;
        g->dirty = false;
    }
}
