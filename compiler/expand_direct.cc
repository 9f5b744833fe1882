// The expansion of a host whose references are all plain, done directly.
//
// Plain means: no variable name holds a "$"; in every value each "$" opens a
// reference "${name}" that its own value closes, with no "$" in the name;
// every such name is a variable of the host; and no variable reaches itself
// through its references. Then the text outside the references holds no
// "$", and what replaces a reference is again such text and such
// references, so the step by step rule only ever meets references of the
// host's values, whole. Each one ends up as the full expansion of its
// variable, whatever the order of the steps: every variable is expanded
// once, after those it refers to, and the data is joined from the results.
//
// Anything else (a stray "$", an unfinished or unknown reference, a cycle,
// data past the limit or too long to be worth a second copy) is left to
// the general expansion, which starts afresh and reports what it finds.
#include "compiler/expand_state.h"

#include <cstring>

namespace {

// Longer data is built by the general expansion, which does not hold every
// variable's expansion a second time.
constexpr uint64_t direct_most = uint64_t{1} << 20;

struct direct_ref {
    uint64_t at;        // the "$" in the value
    uint64_t end;       // just past the "}"
    uint32_t var;
};

enum walk_state : uint8_t { unseen, on_walk, ordered };

struct direct_var {
    uint32_t ref_begin;
    uint32_t ref_count;
    walk_state state;
    uint64_t length;    // of the expansion
    uint64_t begin;     // of the expansion in expansions, when it has references
};

struct walk_frame {
    uint32_t var;
    uint32_t next_ref;
};

zarray<direct_ref> refs;
zarray<direct_var> dvars;
zarray<uint32_t> order;     // every variable after those it refers to
zarray<walk_frame> walk;
zostr expansions;
zostr data;

direct_var *dvar(uint32_t var)
{
    return zarray_at(&dvars, var);
}

const direct_ref *ref_of(const direct_var *d, uint32_t i)
{
    return zarray_at(&refs, d->ref_begin + i);
}

// Lists the references of var's value; false if it is not plain.
bool list_refs(uint32_t var)
{
    const char *value = var_at(var)->value;
    uint64_t length = value_length(var);
    direct_var d{static_cast<uint32_t>(zarray_size(&refs)), 0, unseen, 0, 0};
    for (uint64_t p = 0;;) {
        const void *dollar = memchr(value + p, '$', length - p);
        if (!dollar)
            break;
        uint64_t at = static_cast<uint64_t>(static_cast<const char *>(dollar) - value);
        if (at + 1 == length || value[at + 1] != '{')
            return false;
        const void *close = memchr(value + at + 2, '}', length - at - 2);
        if (!close)
            return false;
        uint64_t end = static_cast<uint64_t>(static_cast<const char *>(close) - value) + 1;
        const char *name = value + at + 2;
        uint64_t name_length = end - 1 - (at + 2);
        if (memchr(name, '$', name_length))
            return false;
        int32_t target = var_lookup(name, name_length);
        if (target < 0)
            return false;
        zarray_push(&refs, direct_ref{at, end, static_cast<uint32_t>(target)});
        d.ref_count++;
        p = end;
    }
    zarray_push(&dvars, d);
    return true;
}

// Orders the variables reachable from root, each after the ones it refers
// to; false on a cycle.
bool order_from(uint32_t root)
{
    zarray_cut(&walk, 0);
    zarray_push(&walk, walk_frame{root, 0});
    dvar(root)->state = on_walk;
    while (zarray_size(&walk)) {
        walk_frame *top = zarray_last(&walk);
        direct_var *d = dvar(top->var);
        if (top->next_ref == d->ref_count) {
            d->state = ordered;
            zarray_push(&order, top->var);
            zarray_pop(&walk);
            continue;
        }
        uint32_t target = ref_of(d, top->next_ref++)->var;
        if (dvar(target)->state == on_walk)
            return false;
        if (dvar(target)->state == unseen) {
            dvar(target)->state = on_walk;
            zarray_push(&walk, walk_frame{target, 0});
        }
    }
    return true;
}

// The length of var's expansion, its references' already known.
uint64_t expanded_length(uint32_t var)
{
    const direct_var *d = dvar(var);
    uint64_t length = value_length(var);
    for (uint32_t i = 0; i < d->ref_count; i++) {
        const direct_ref *r = ref_of(d, i);
        length = length - (r->end - r->at) + dvar(r->var)->length;
        if (length > direct_most)
            return length;
    }
    return length;
}

void add_expansion(zostr *out, uint32_t var)
{
    const direct_var *d = dvar(var);
    if (!d->ref_count)
        zostr_xadd_mem(out, var_at(var)->value, value_length(var));
    else
        zostr_xadd_mem(out, expansions.data + d->begin, d->length);
}

void write_expansion(uint32_t var)
{
    direct_var *d = dvar(var);
    const char *value = var_at(var)->value;
    d->begin = expansions.data ? expansions.length : 0;
    uint64_t p = 0;
    for (uint32_t i = 0; i < d->ref_count; i++) {
        const direct_ref *r = ref_of(d, i);
        zostr_xadd_mem(&expansions, value + p, r->at - p);
        add_expansion(&expansions, r->var);
        p = r->end;
    }
    zostr_xadd_mem(&expansions, value + p, value_length(var) - p);
}

bool plain_host(uint32_t n)
{
    zarray_cut(&refs, 0);
    zarray_cut(&dvars, 0);
    zarray_cut(&order, 0);
    for (uint32_t k = 0; k < n; k++)
        if (strchr(var_at(k)->name, '$') || !list_refs(k))
            return false;
    for (uint32_t k = 0; k < n; k++)
        if (dvar(k)->state == unseen && !order_from(k))
            return false;
    return true;
}

} // namespace

bool expand_direct(uint64_t limit, const char **out, uint64_t *out_length)
{
    uint32_t n = static_cast<uint32_t>(zarray_size(&ex.vars));
    if (!plain_host(n))
        return false;
    uint64_t total = 0;
    for (uint32_t i = 0; i < n; i++) {
        uint32_t var = *zarray_at(&order, i);
        dvar(var)->length = expanded_length(var);
        if (dvar(var)->length > direct_most)
            return false;
        total += strlen(var_at(var)->name) + 2 + dvar(var)->length;
        if (total > direct_most || total > limit)
            return false;
    }
    // Expansions are copied from the block they are added to: it must not
    // move while they are written.
    uint64_t room = 0;
    for (uint32_t k = 0; k < n; k++)
        if (dvar(k)->ref_count)
            room += dvar(k)->length;
    zostr_cut(&expansions, 0);
    if (!expansions.data || expansions.capacity <= room)
        zostr_xallocmore(&expansions, room + 1);
    for (uint32_t i = 0; i < n; i++) {
        uint32_t var = *zarray_at(&order, i);
        if (dvar(var)->ref_count)
            write_expansion(var);
    }
    zostr_cut(&data, 0);
    for (uint32_t k = 0; k < n; k++) {
        zostr_xadd_cstr(&data, var_at(k)->name);
        zostr_xadd_char(&data, '=');
        add_expansion(&data, k);
        zostr_xadd_char(&data, 0);
    }
    *out = data.data ? data.data : "";
    *out_length = data.data ? data.length : 0;
    return true;
}
