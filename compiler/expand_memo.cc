// Memos: a variable's value expanded on its own, computed once per host,
// and what decides whether one may stand in for expanding the value in
// place.
//
// Behind a "$", a value whose expansion begins with "{" starts a reference
// at that "$", and maybe at more before it. So each variable has a second
// memo: its value expanded behind dollars_before "$" bytes, with the count
// of them that the front of the value used up. Behind at least that many,
// the value expands to that memo after them: a "{" left at its front would
// have used up one more.
//
// A memo records the references its expansion met (its deps). Inserted
// inside a region whose variable it reaches, it would skip the reference
// at which the expansion in place meets the cycle; that is checked before it
// is used. While a memo is being computed, its variable counts as a region
// around everything the computation meets. A memo finished before could not
// reach that variable, since the reference would have started the plain
// memo's computation then, unless it is the memo behind "$" bytes that is
// being computed: that variable is checked like a region.
#include "compiler/expand_state.h"

namespace {

constexpr uint64_t dollars_before = 64;
const char dollar_run[dollars_before + 1] =
    "$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$$";

bool listed(const uint32_t *list, uint32_t n, uint32_t var)
{
    for (uint32_t i = 0; i < n; i++)
        if (list[i] == var)
            return true;
    return false;
}

bool raw_listed(const memo *m, uint32_t var)
{
    return listed(zarray_at(&ex.raw_lists, m->raw_begin), m->raw_count, var);
}

// Lists the variables whose values m's expansion, or a memo it used,
// expanded in their surroundings, as long as they are few.
void list_raw(memo *m)
{
    constexpr uint32_t most = 8;
    uint32_t list[most];
    uint32_t n = 0;
    bool many = false;
    auto add = [&](uint32_t var) {
        if (listed(list, n, var))
            return;
        if (n == most)
            many = true;
        else
            list[n++] = var;
    };
    for (uint32_t i = 0; i < m->dep_count && !many; i++) {
        const dep *d = zarray_at(&ex.memo_deps, m->dep_begin + i);
        if (d->memo == no_memo || d->memo == behind_dollars(d->var))
            add(d->var);
        if (d->memo == no_memo)
            continue;
        const memo *used = memo_of(d->memo);
        if (used->raw && used->raw_count == raw_many)
            many = true;
        else if (used->raw)
            for (uint32_t j = 0; j < used->raw_count; j++)
                add(*zarray_at(&ex.raw_lists, used->raw_begin + j));
    }
    m->raw_begin = static_cast<uint32_t>(zarray_size(&ex.raw_lists));
    m->raw_count = many ? raw_many : n;
    for (uint32_t i = 0; i < n && !many; i++)
        zarray_push(&ex.raw_lists, list[i]);
}

bool in_region(uint32_t var)
{
    return *zarray_at(&ex.region_count, var) || *zarray_at(&ex.behind_busy, var);
}

// Whether the deps of the memo, followed through the memos used, meet a
// variable that has a region counted, or whose memo behind "$" is being
// computed.
bool deps_reach_region(uint32_t slot)
{
    zarray_cut(&ex.walk, 0);
    zarray_push(&ex.walk, slot);
    memo_of(slot)->mark = ex.epoch;
    while (zarray_size(&ex.walk)) {
        const memo *m = memo_of(*zarray_last(&ex.walk));
        zarray_pop(&ex.walk);
        for (uint32_t i = 0; i < m->dep_count; i++) {
            const dep *d = zarray_at(&ex.memo_deps, m->dep_begin + i);
            if (in_region(d->var))
                return true;
            if (d->memo != no_memo && memo_of(d->memo)->mark != ex.epoch) {
                memo_of(d->memo)->mark = ex.epoch;
                zarray_push(&ex.walk, d->memo);
            }
        }
    }
    return false;
}

} // namespace

// Whether the memo's expansion refers to a variable one of whose regions
// holds the reference. For the item's own region alone the answer is in
// the memo: the region expands as the value does on its own, so a memo
// that reached it back would have met the cycle while being computed,
// unless it expanded the value in other surroundings somewhere (in place,
// or behind "$" bytes).
//
// The walk also checks the regions of the expansions that a memo's
// computation is part of: its text will end up inside them, or not be used,
// and a memo given up needlessly only costs time.
bool memo_reaches_region(const context *c, uint32_t slot)
{
    uint32_t regions = ex.regions_live - c->regions_base;
    if (!regions && !ex.behind_busy_count)
        return false;
    const memo *m = memo_of(slot);
    bool item_only = c->var < 0 && regions == 1 && !ex.behind_busy_count && !ex.item_crossed &&
                     seg_count() > c->seg_base && seg(c->seg_base)->var >= 0 &&
                     !seg(c->seg_base)->deferred;
    if (item_only && !m->raw)
        return false;
    if (item_only && m->raw_count != raw_many)
        return raw_listed(m, ex.item);
    ++ex.epoch;
    return deps_reach_region(slot);
}

void memo_begin(uint32_t slot)
{
    uint32_t var = slot < ex.var_count ? slot : slot - ex.var_count;
    memo_of(slot)->state = memo_busy;
    context c{};
    c.var = static_cast<int32_t>(var);
    c.slot = slot;
    c.waiting = -1;
    c.seg_base = seg_count();
    c.group_base = static_cast<uint32_t>(zarray_size(&ex.groups));
    c.regions_base = ex.regions_live;
    c.dep_base = static_cast<uint32_t>(zarray_size(&ex.work_deps));
    text_begin(&c.out);
    if (slot != var) {
        text_add_bytes(&c.out, dollar_run, dollars_before);
        ++*zarray_at(&ex.behind_busy, var);
        ex.behind_busy_count++;
    }
    c.low = c.out.length;
    if (value_length(var))
        segs_push_plain(var_at(var)->value.data(), value_length(var));
    zarray_push(&ex.contexts, c);
}

void memo_end(bool ok)
{
    context *c = zarray_last(&ex.contexts);
    memo *m = memo_of(c->slot);
    uint64_t kept = c->slot == static_cast<uint32_t>(c->var) ? 0 : c->low;
    if (ok && c->slot != static_cast<uint32_t>(c->var) && !kept)
        ok = false;
    if (ok) {
        m->state = memo_ok;
        m->raw = c->raw;
        m->dollars = kept ? static_cast<uint32_t>(dollars_before - kept) : 0;
        text_store(&c->out, c->slot, kept);
        m->dep_begin = static_cast<uint32_t>(zarray_size(&ex.memo_deps));
        m->dep_count = static_cast<uint32_t>(zarray_size(&ex.work_deps)) - c->dep_base;
        for (uint32_t i = 0; i < m->dep_count; i++)
            zarray_push(&ex.memo_deps, *zarray_at(&ex.work_deps, c->dep_base + i));
        list_raw(m);
    } else {
        m->state = memo_bad;
        while (seg_count() > c->seg_base)
            segs_pop();
        text_drop(&c->out);
    }
    if (c->slot != static_cast<uint32_t>(c->var)) {
        --*zarray_at(&ex.behind_busy, static_cast<uint32_t>(c->var));
        ex.behind_busy_count--;
    }
    zarray_cut(&ex.work_deps, c->dep_base);
    zarray_pop(&ex.contexts);
}
