// Memos: a variable's value expanded on its own, computed once per host,
// and what decides whether one may stand in for expanding the value in
// place.
//
// A memo records the references its expansion met (its deps). Inserted
// inside a region whose variable it reaches, it would skip the reference
// at which the expansion in place meets the cycle; that is checked before it
// is used. While a memo is being computed, its variable counts as a region
// around everything the computation meets.
#include "compiler/expand_state.h"

namespace {

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

// Lists the variables whose values were scanned in place in m's expansion,
// or in the memos it used, as long as they are few.
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
        const memo *used = memo_of(d->var);
        if (!d->via_memo)
            add(d->var);
        else if (used->raw && used->raw_count == raw_many)
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

// Whether the deps of var, followed through the memos used, meet a marked
// variable.
bool deps_reach_marked(uint32_t var)
{
    zarray_cut(&ex.walk, 0);
    zarray_push(&ex.walk, var);
    memo_of(var)->mark = ex.epoch;
    while (zarray_size(&ex.walk)) {
        const memo *m = memo_of(*zarray_last(&ex.walk));
        zarray_pop(&ex.walk);
        for (uint32_t i = 0; i < m->dep_count; i++) {
            const dep *d = zarray_at(&ex.memo_deps, m->dep_begin + i);
            if (*zarray_at(&ex.marks, d->var) == ex.epoch)
                return true;
            if (d->via_memo && memo_of(d->var)->mark != ex.epoch) {
                memo_of(d->var)->mark = ex.epoch;
                zarray_push(&ex.walk, d->var);
            }
        }
    }
    return false;
}

} // namespace

// Whether the expansion of var refers to a variable one of whose regions
// holds the reference. For the item's own region alone the answer is in
// the memo: the region expands as the value does on its own, so a memo
// that reached it back would have met the cycle while being computed,
// unless it scanned the value in place somewhere, in other surroundings.
bool memo_reaches_region(const context *c, uint32_t var)
{
    bool any = false;
    bool item_only = true;
    ++ex.epoch;
    for (uint32_t i = c->seg_base; i < seg_count(); i++) {
        const segment *s = seg(i);
        if (s->var < 0 || s->start == deferred)
            continue;
        any = true;
        *zarray_at(&ex.marks, static_cast<uint32_t>(s->var)) = ex.epoch;
        if (c->var >= 0 || i != c->seg_base || s->crossed)
            item_only = false;
    }
    const memo *m = memo_of(var);
    if (!any || (item_only && !m->raw))
        return false;
    if (item_only && m->raw_count != raw_many)
        return raw_listed(m, ex.item);
    return deps_reach_marked(var);
}

void memo_begin(uint32_t var)
{
    memo_of(var)->state = memo_busy;
    context c{};
    c.var = static_cast<int32_t>(var);
    c.waiting = -1;
    c.seg_base = seg_count();
    c.dep_base = static_cast<uint32_t>(zarray_size(&ex.work_deps));
    text_begin(&c.out);
    if (value_length(var))
        segs_push(var_at(var)->value, value_length(var), 0, 0, -1);
    zarray_push(&ex.contexts, c);
}

void memo_end(bool ok)
{
    context *c = zarray_last(&ex.contexts);
    memo *m = memo_of(static_cast<uint32_t>(c->var));
    if (ok) {
        m->state = memo_ok;
        m->raw = c->raw;
        text_store(&c->out, static_cast<uint32_t>(c->var));
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
    zarray_cut(&ex.work_deps, c->dep_base);
    zarray_pop(&ex.contexts);
}
