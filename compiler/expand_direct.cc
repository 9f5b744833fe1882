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
// once, in its place in the data, after those it refers to, whose
// expansions it copies from their places.
//
// Anything else (a stray "$", an unfinished or unknown reference, a cycle,
// data past the limit or too long to build before it is known to fit the
// database) is left to the general expansion, which starts afresh and
// reports what it finds.
#include "compiler/expand_state.h"

#include <cstring>

namespace {

// Longer data is left to the general expansion, which builds the data only
// once a record needs it, and not at all when it cannot fit.
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
    uint64_t at;        // where the expansion stands in the data
};

struct walk_frame {
    uint32_t var;
    uint32_t next_ref;
};

// The arrays of a host are sized once, and then filled in place.
zarray<direct_ref> refs;
zarray<direct_var> dvars;
bool refer_back;            // every reference is to a variable before it
zarray<uint32_t> order;     // every variable after those it refers to
uint32_t order_count;
zarray<walk_frame> walk;
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
        refer_back &= static_cast<uint32_t>(target) < var;
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

// Writes var's expansion in its place, those of the variables it refers to
// being in theirs.
void write_expansion(uint32_t var)
{
    const direct_var *d = dvar(var);
    const char *value = var_at(var)->value.data();
    char *p = data.data + d->at;
    uint64_t done = 0;
    for (uint32_t i = 0; i < d->ref_count; i++) {
        const direct_ref *r = ref_of(d, i);
        const direct_var *target = dvar(r->var);
        p = put(p, value + done, r->at - done);
        p = put(p, data.data + target->at, target->length);
        done = r->end;
    }
    put(p, value + done, value_length(var) - done);
}

// An empty block with room for n bytes.
char *room_for(zostr *s, uint64_t n)
{
    zostr_cut(s, 0);
    if (!s->data || s->capacity <= n)
        zostr_xallocmore(s, n + 1);
    return s->data;
}

// Orders the variables, each after those it refers to; false on a cycle.
// When they only refer back, the list's order is such an order already.
bool order_vars(uint32_t n)
{
    zarray_resize(&order, n);
    order_count = 0;
    if (refer_back) {
        for (uint32_t k = 0; k < n; k++)
            *zarray_at(&order, order_count++) = k;
        return true;
    }
    zarray_resize(&walk, n);
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

bool plain_host(uint32_t n)
{
    zarray_cut(&refs, 0);
    zarray_resize(&dvars, n);
    refer_back = true;
    for (uint32_t k = 0; k < n; k++)
        if (var_at(k)->name.find('$') != std::string_view::npos || !list_refs(k))
            return false;
    return order_vars(n);
}

} // namespace

bool expand_direct(uint64_t limit, const char **out, uint64_t *out_length)
{
    uint32_t n = static_cast<uint32_t>(zarray_size(&ex.vars));
    if (!plain_host(n))
        return false;
    for (uint32_t i = 0; i < n; i++) {
        uint32_t var = *zarray_at(&order, i);
        dvar(var)->length = expanded_length(var);
        if (dvar(var)->length > direct_most)
            return false;
    }
    // Each item is the name, "=", the expansion and a NUL byte.
    uint64_t total = 0;
    for (uint32_t k = 0; k < n; k++) {
        direct_var *d = dvar(k);
        d->at = total + var_at(k)->name.size() + 1;
        total = d->at + d->length + 1;
        if (total > direct_most || total > limit)
            return false;
    }
    char *p = room_for(&data, total);
    for (uint32_t k = 0; k < n; k++) {
        std::string_view name = var_at(k)->name;
        p = put(p, name.data(), name.size());
        *p++ = '=';
        p += dvar(k)->length;
        *p++ = 0;
    }
    for (uint32_t i = 0; i < n; i++)
        write_expansion(*zarray_at(&order, i));
    *out = data.data;
    *out_length = total;
    return true;
}
