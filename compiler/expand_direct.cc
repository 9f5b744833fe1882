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

// The arrays of a host are sized once, and then filled in place.
zarray<direct_ref> refs;
zarray<direct_var> dvars;
zarray<uint32_t> order;     // every variable after those it refers to
uint32_t order_count;
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
    const char *value = var_at(var)->value.data();
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
    *dvar(var) = d;
    return true;
}

void put_in_order(uint32_t var)
{
    dvar(var)->state = ordered;
    *zarray_at(&order, order_count++) = var;
}

// Orders the variables reachable from root, each after the ones it refers
// to; false on a cycle.
bool order_from(uint32_t root)
{
    uint32_t depth = 0;
    *zarray_at(&walk, depth++) = walk_frame{root, 0};
    dvar(root)->state = on_walk;
    while (depth) {
        walk_frame *top = zarray_at(&walk, depth - 1);
        const direct_var *d = dvar(top->var);
        if (top->next_ref == d->ref_count) {
            put_in_order(top->var);
            depth--;
            continue;
        }
        uint32_t target = ref_of(d, top->next_ref++)->var;
        if (dvar(target)->state == on_walk)
            return false;
        if (dvar(target)->state == unseen) {
            dvar(target)->state = on_walk;
            *zarray_at(&walk, depth++) = walk_frame{target, 0};
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

char *put(char *p, const char *bytes, uint64_t n)
{
    memcpy(p, bytes, n);
    return p + n;
}

char *put_expansion(char *p, uint32_t var)
{
    const direct_var *d = dvar(var);
    if (!d->ref_count)
        return put(p, var_at(var)->value.data(), value_length(var));
    return put(p, expansions.data + d->begin, d->length);
}

char *write_expansion(char *p, uint32_t var)
{
    direct_var *d = dvar(var);
    const char *value = var_at(var)->value.data();
    d->begin = static_cast<uint64_t>(p - expansions.data);
    uint64_t done = 0;
    for (uint32_t i = 0; i < d->ref_count; i++) {
        const direct_ref *r = ref_of(d, i);
        p = put(p, value + done, r->at - done);
        p = put_expansion(p, r->var);
        done = r->end;
    }
    return put(p, value + done, value_length(var) - done);
}

// An empty block with room for n bytes.
char *room_for(zostr *s, uint64_t n)
{
    zostr_cut(s, 0);
    if (!s->data || s->capacity <= n)
        zostr_xallocmore(s, n + 1);
    return s->data;
}

bool plain_host(uint32_t n)
{
    zarray_cut(&refs, 0);
    zarray_resize(&dvars, n);
    for (uint32_t k = 0; k < n; k++)
        if (var_at(k)->name.find('$') != std::string_view::npos || !list_refs(k))
            return false;
    zarray_resize(&order, n);
    zarray_resize(&walk, n);
    order_count = 0;
    for (uint32_t k = 0; k < n; k++) {
        if (dvar(k)->state != unseen)
            continue;
        if (!dvar(k)->ref_count)
            put_in_order(k);
        else if (!order_from(k))
            return false;
    }
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
        total += var_at(var)->name.size() + 2 + dvar(var)->length;
        if (total > direct_most || total > limit)
            return false;
    }
    // The lengths are known, so both blocks are sized before anything is
    // written: expansions, copied from the block they are added to, must
    // not move meanwhile.
    uint64_t room = 0;
    for (uint32_t k = 0; k < n; k++)
        if (dvar(k)->ref_count)
            room += dvar(k)->length;
    char *p = room_for(&expansions, room);
    for (uint32_t i = 0; i < n; i++) {
        uint32_t var = *zarray_at(&order, i);
        if (dvar(var)->ref_count)
            p = write_expansion(p, var);
    }
    p = room_for(&data, total);
    for (uint32_t k = 0; k < n; k++) {
        std::string_view name = var_at(k)->name;
        p = put(p, name.data(), name.size());
        *p++ = '=';
        p = put_expansion(p, k);
        *p++ = 0;
    }
    *out = data.data;
    *out_length = total;
    return true;
}
