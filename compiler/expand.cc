// Expansion of a host's record data.
//
// The rule: find the first "${" from the first "=" of the data on, take the
// name up to the next "}" of the same item, replace the reference by the
// variable's stored value, and start again from the beginning. Done that
// way, a chain of variables each referring to the one before costs
// quadratic time, so the scan here never goes back: everything before the
// scan position is final except that a "$" ending it can still pair with a
// "{" that a substitution brings along, and the text still to scan is a
// stack of segments (the rest of the item below, inserted values on top),
// which makes an insertion cost nothing.
//
// A referenced variable's value is expanded once on its own (its memo) and
// the result is inserted whole, which gives exactly the bytes of the step by
// step process unless the surroundings take part: a "$" just before the
// reference meeting a "{" at the front of the value's expansion, or a "${"
// in the value whose "}" only the text after the reference supplies (the
// memo then fails on its own). In those cases, and whenever a memo is not
// known to be usable, the stored value is inserted as is and scanned in
// place, which is the step by step process itself.
//
// Cycles: the text that came from a variable's value (a region) is tracked
// while it is expanded in place (expand_segments.cc), and so are the memos
// being computed (expand_memo.cc). A reference to a variable found wholly
// inside a region of that variable, or while its memo is being computed, is
// a recursive reference.
#include "compiler/expand.h"

#include "compiler/expand_state.h"

#include <cstring>

expansion ex;

namespace {

enum event { ev_next, ev_done, ev_compute, ev_fail };

expand_status failed;
expand_failure *failure;
text_out data_out;
uint64_t data_length;
const char *data_written;   // the data once written out

void index_vars(const host *h)
{
    uint32_t n = h->variables.last ? h->variables.last->index + 1 : 0;
    zarray_resize(&ex.vars, n);
    for (const host_var *v = h->variables.first; v; v = v->next)
        *zarray_at(&ex.vars, v->index) = v;
}

void pop_dollar(context *c)
{
    text_pop_dollar(&c->out);
    if (c->out.length < c->low)
        c->low = c->out.length;
}

// Asks for a memo to be computed before the reference to var is replaced.
event compute(context *c, uint32_t var, uint32_t slot)
{
    c->waiting = static_cast<int32_t>(var);
    c->waiting_for = slot;
    return ev_compute;
}

// Which memo, if any, replaces the reference to var here. A "$" just before
// it pairs with a "{" at the front of the value's expansion; that "{" would
// have stood at the front from the moment it got there, so the memo's first
// byte tells, and the memo behind "$" bytes then says how many of them the
// front uses up.
event choose_memo(context *c, uint32_t var, uint32_t *chosen)
{
    const memo *m = memo_of(var);
    *chosen = no_memo;
    if (m->state != memo_ok)
        return ev_next;
    if (!c->out.trail || m->first != '{') {
        if (!memo_reaches_region(c, var))
            *chosen = var;
        return ev_next;
    }
    uint32_t behind = behind_dollars(var);
    const memo *d = memo_of(behind);
    if (d->state == memo_none)
        return compute(c, var, behind);
    if (d->state == memo_ok && d->dollars <= c->out.trail && !memo_reaches_region(c, behind))
        *chosen = behind;
    return ev_next;
}

// Replaces the reference to var, already removed, at the scan position.
event resolve(context *c, uint32_t var)
{
    uint32_t chosen;
    if (choose_memo(c, var, &chosen) == ev_compute)
        return ev_compute;
    if (chosen == behind_dollars(var)) {
        for (uint32_t i = memo_of(chosen)->dollars; i; i--)
            pop_dollar(c);
        segs_take_in(c, segs_cross(c, c->out.length), c->out.length);
    }
    if (chosen != no_memo)
        text_add_memo(&c->out, chosen);
    else if (value_length(var))
        segs_push_region(c, var_at(var)->value.data(), value_length(var), var);
    if (c->var < 0)
        return ev_next;
    zarray_push(&ex.work_deps, dep{var, chosen});
    c->raw |= chosen != var || memo_of(var)->raw;
    return ev_next;
}

event fail_reference(const context *c, const char *msg, const char *name, uint64_t length)
{
    if (c->var >= 0)
        return ev_fail;
    zostr_xdup_mem(&ex.detail_text, "${", 2);
    zostr_xadd_mem(&ex.detail_text, name, length);
    zostr_xadd_mem(&ex.detail_text, "}", 2);
    failed = expand_bad_reference;
    *failure = expand_failure{msg, ex.detail_text.data, var_at(ex.item)->line};
    return ev_fail;
}

event fail_unfinished(const context *c, bool from_out)
{
    if (c->var >= 0)
        return ev_fail;
    zostr_cut(&ex.detail_text, 0);
    if (from_out)
        zostr_xadd_char(&ex.detail_text, '$');
    for (uint32_t i = seg_count(); i-- > c->seg_base;)
        zostr_xadd_mem(&ex.detail_text, seg(i)->text, seg(i)->length);
    zostr_xadd_char(&ex.detail_text, 0);
    failed = expand_bad_reference;
    *failure = expand_failure{"unfinished ${ in", ex.detail_text.data, var_at(ex.item)->line};
    return ev_fail;
}

// Whether the text before a reference is bound to make the host's data too
// long: only a "$" at its end can still go. A memo that grows too long is
// given up (the value is then expanded in place, where this check applies).
bool too_long(const context *c)
{
    if (c->var >= 0)
        return c->out.length > ex.limit;
    if (c->out.length - c->out.trail <= ex.limit)
        return false;
    failed = expand_too_large;
    return true;
}

// A reference whose "$" ends the output (from_out) or is the next byte.
event reference(context *c, bool from_out)
{
    if (too_long(c))
        return ev_fail;
    spot from{seg_count() - 1, 0};
    if (!from_out)
        segs_advance(c, &from);
    spot close;
    if (!segs_advance(c, &from) || !segs_find_close(c, from, &close))
        return fail_unfinished(c, from_out);
    const char *name;
    uint64_t length;
    segs_name(from, close, &name, &length);
    int32_t var = var_lookup(name, length);
    if (var < 0)
        return fail_reference(c, "didn't find variable", name, length);
    segs_consume(close);
    if (from_out)
        pop_dollar(c);
    uint32_t crossed = segs_cross(c, c->out.length);
    bool cycle = segs_in_region(var, crossed) || memo_busy_for(static_cast<uint32_t>(var));
    segs_take_in(c, crossed, c->out.length);
    if (cycle)
        return fail_reference(c, "recursive variable reference", name, length);
    if (memo_of(static_cast<uint32_t>(var))->state == memo_none)
        return compute(c, static_cast<uint32_t>(var), static_cast<uint32_t>(var));
    return resolve(c, static_cast<uint32_t>(var));
}

// Moves the next bytes that cannot begin a reference to the output.
void move_on(context *c, segment *s)
{
    uint64_t n = 1;
    if (s->text[0] != '$') {
        const void *dollar = memchr(s->text + 1, '$', s->length - 1);
        n = dollar ? static_cast<uint64_t>(static_cast<const char *>(dollar) - s->text) : s->length;
    }
    text_add_bytes(&c->out, s->text, n);
    s->text += n;
    s->length -= n;
}

event scan(context *c)
{
    for (;;) {
        segs_settle(c);
        if (seg_count() == c->seg_base)
            return ev_done;
        segment *s = top_seg();
        event e;
        if (s->text[0] == '{' && c->out.trail)
            e = reference(c, true);
        else if (s->text[0] == '$' && segs_char_after_top(c) == '{')
            e = reference(c, false);
        else {
            move_on(c, s);
            continue;
        }
        if (e != ev_next)
            return e;
    }
}

// Runs the expansions until the host's data has scanned the current item.
expand_status run()
{
    for (;;) {
        context *c = zarray_last(&ex.contexts);
        event e = ev_next;
        if (c->waiting >= 0) {
            uint32_t var = static_cast<uint32_t>(c->waiting);
            c->waiting = -1;
            e = resolve(c, var);
        }
        if (e == ev_next)
            e = scan(c);
        if (e == ev_compute) {
            memo_begin(c->waiting_for);
            continue;
        }
        if (zarray_size(&ex.contexts) == 1)
            return e == ev_done ? expand_done : failed;
        memo_end(e == ev_done);
    }
}

// The first item is scanned from its first "=" on, every other one whole;
// the value is the item's own region, which begins after the "=".
void begin_item(context *c, uint32_t k)
{
    const host_var *v = var_at(k);
    const char *rest = v->name.data();
    uint64_t rest_length = v->name.size();
    ex.item = k;
    ex.item_crossed = false;
    if (k == 0) {
        const char *eq = static_cast<const char *>(memchr(rest, '=', rest_length));
        if (!eq) {
            text_add_bytes(&c->out, rest, rest_length);
            text_add_bytes(&c->out, "=", 1);
            if (value_length(k))
                segs_push_region(c, v->value.data(), value_length(k), k);
            return;
        }
        uint64_t skipped = static_cast<uint64_t>(eq - rest) + 1;
        text_add_bytes(&c->out, rest, skipped);
        rest += skipped;
        rest_length -= skipped;
    }
    if (value_length(k))
        segs_push_waiting(v->value.data(), value_length(k), k);
    segs_push_plain("=", 1);
    if (rest_length)
        segs_push_plain(rest, rest_length);
}

// What the direct expansion needs as well.
void reset_vars(const host *h)
{
    ex.h = h;
    data_written = nullptr;
    index_vars(h);
}

void reset(uint64_t limit)
{
    ex.limit = limit;
    ex.epoch = 0;
    size_t n = zarray_size(&ex.vars);
    ex.var_count = static_cast<uint32_t>(n);
    zarray_zero(&memos, 2 * n);
    zarray_zero(&ex.region_count, n);
    zarray_zero(&ex.lowest_region, n);
    zarray_zero(&ex.behind_busy, n);
    ex.regions_live = 0;
    ex.behind_busy_count = 0;
    zarray_cut(&ex.segs, 0);
    zarray_cut(&ex.groups, 0);
    zarray_cut(&ex.work_deps, 0);
    zarray_cut(&ex.memo_deps, 0);
    zarray_cut(&ex.raw_lists, 0);
    zarray_cut(&ex.contexts, 0);
    text_reset();
}

} // namespace

int32_t var_lookup(const char *name, uint64_t length)
{
    const host_var *v = var_find(&ex.h->variables, std::string_view(name, length));
    return v ? static_cast<int32_t>(v->index) : -1;
}

expand_status expand_host(const host *h, uint64_t limit, expand_failure *f)
{
    reset_vars(h);
    if (expand_direct(limit, &data_written, &data_length))
        return expand_done;
    reset(limit);
    failure = f;
    context top{};
    top.var = -1;
    top.waiting = -1;
    text_begin(&top.out);
    zarray_push(&ex.contexts, top);
    uint32_t n = static_cast<uint32_t>(zarray_size(&ex.vars));
    for (uint32_t k = 0; k < n; k++) {
        begin_item(zarray_last(&ex.contexts), k);
        expand_status s = run();
        if (s != expand_done)
            return s;
        text_add_bytes(&zarray_last(&ex.contexts)->out, "", 1);
    }
    data_out = zarray_last(&ex.contexts)->out;
    data_length = data_out.length;
    return data_out.length > limit ? expand_too_large : expand_done;
}

uint64_t expand_length()
{
    return data_length;
}

const char *expand_data()
{
    if (!data_written)
        data_written = text_result(&data_out);
    return data_written;
}
