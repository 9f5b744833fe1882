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
#include "compiler/expand/state.h"

#include <cstring>

namespace {

// Longer data is left to the general expansion, which builds the data only
// once a record needs it, and not at all when it cannot fit.
constexpr uint64_t direct_most = uint64_t{1} << 20;

uint64_t value_length(const expansion *run, uint32_t var)
{
    return var_at(run, var)->value.size();
}

direct_var *dvar(expansion *run, uint32_t var)
{
    return zarray_at(&run->direct_vars, var);
}

const direct_ref *ref_of(const expansion *run, const direct_var *d, uint32_t i)
{
    return zarray_at(&run->direct_refs, d->ref_begin + i);
}

// Lists the references of var's value; false if it is not plain.
bool list_refs(expansion *run, uint32_t var)
{
    const char *value = var_at(run, var)->value.data();
    uint64_t length = value_length(run, var);
    direct_var d{0, 0, static_cast<uint32_t>(zarray_size(&run->direct_refs)), 0, direct_unseen};
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
        int32_t target = name_lookup(run, name, name_length);
        if (target < 0)
            return false;
        zarray_push(&run->direct_refs, direct_ref{at, end, static_cast<uint32_t>(target)});
        run->direct_refer_back &= static_cast<uint32_t>(target) < var;
        d.ref_count++;
        p = end;
    }
    *dvar(run, var) = d;
    return true;
}

void put_in_order(expansion *run, uint32_t var)
{
    dvar(run, var)->state = direct_ordered;
    *zarray_at(&run->direct_order, run->direct_order_count++) = var;
}

// Orders the variables reachable from root, each after the ones it refers
// to; false on a cycle.
bool order_from(expansion *run, uint32_t root)
{
    uint32_t depth = 0;
    *zarray_at(&run->direct_walk, depth++) = direct_walk_frame{root, 0};
    dvar(run, root)->state = direct_on_walk;
    while (depth) {
        direct_walk_frame *top = zarray_at(&run->direct_walk, depth - 1);
        const direct_var *d = dvar(run, top->var);
        if (top->next_ref == d->ref_count) {
            put_in_order(run, top->var);
            depth--;
            continue;
        }
        uint32_t target = ref_of(run, d, top->next_ref++)->var;
        if (dvar(run, target)->state == direct_on_walk)
            return false;
        if (dvar(run, target)->state == direct_unseen) {
            dvar(run, target)->state = direct_on_walk;
            *zarray_at(&run->direct_walk, depth++) = direct_walk_frame{target, 0};
        }
    }
    return true;
}

// The length of var's expansion, its references' already known.
uint64_t expanded_length(expansion *run, uint32_t var)
{
    const direct_var *d = dvar(run, var);
    uint64_t length = value_length(run, var);
    for (uint32_t i = 0; i < d->ref_count; i++) {
        const direct_ref *r = ref_of(run, d, i);
        length = length - (r->end - r->at) + dvar(run, r->var)->length;
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
void write_expansion(expansion *run, uint32_t var)
{
    const direct_var *d = dvar(run, var);
    const char *value = var_at(run, var)->value.data();
    char *data = run->data.data;
    char *p = data + d->at;
    uint64_t done = 0;
    for (uint32_t i = 0; i < d->ref_count; i++) {
        const direct_ref *r = ref_of(run, d, i);
        const direct_var *target = dvar(run, r->var);
        p = put(p, value + done, r->at - done);
        p = put(p, data + target->at, target->length);
        done = r->end;
    }
    put(p, value + done, value_length(run, var) - done);
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
bool order_vars(expansion *run, uint32_t n)
{
    zarray_resize(&run->direct_order, n);
    run->direct_order_count = 0;
    if (run->direct_refer_back) {
        for (uint32_t k = 0; k < n; k++)
            *zarray_at(&run->direct_order, run->direct_order_count++) = k;
        return true;
    }
    zarray_resize(&run->direct_walk, n);
    for (uint32_t k = 0; k < n; k++) {
        if (dvar(run, k)->state != direct_unseen)
            continue;
        if (!dvar(run, k)->ref_count)
            put_in_order(run, k);
        else if (!order_from(run, k))
            return false;
    }
    return true;
}

bool plain_host(expansion *run, uint32_t n)
{
    zarray_cut(&run->direct_refs, 0);
    zarray_resize(&run->direct_vars, n);
    run->direct_refer_back = true;
    for (uint32_t k = 0; k < n; k++)
        if (var_at(run, k)->name.find('$') != std::string_view::npos || !list_refs(run, k))
            return false;
    return order_vars(run, n);
}

// Values and names are mostly shorter than a call to the C library's copy
// or search costs: they are copied here eight bytes at a time, and looked
// at for "$" while copied.
uint64_t load_word(const char *p)
{
    uint64_t w;
    memcpy(&w, p, sizeof w);
    return w;
}

void store_word(char *p, uint64_t w)
{
    memcpy(p, &w, sizeof w);
}

// Nonzero when one of the word's bytes is a "$".
uint64_t dollar_in(uint64_t w)
{
    constexpr uint64_t ones = 0x0101010101010101;
    uint64_t x = w ^ (ones * '$');
    return (x - ones) & ~x & (ones * 0x80);
}

uint32_t load_half(const char *p)
{
    uint32_t w;
    memcpy(&w, p, sizeof w);
    return w;
}

void store_half(char *p, uint32_t w)
{
    memcpy(p, &w, sizeof w);
}

// The bytes of a name of four to eight bytes in one word: its first and
// its last four, which between them hold all of it.
uint64_t short_name_word(const char *name, uint64_t n)
{
    return load_half(name) | uint64_t{load_half(name + n - 4)} << 32;
}

// Copies n bytes from src to dst, ranges that do not overlap.
void copy_short(char *dst, const char *src, uint64_t n)
{
    if (n < 8) {
        for (uint64_t i = 0; i < n; i++)
            dst[i] = src[i];
        return;
    }
    for (uint64_t i = 0; i + 8 < n; i += 8)
        store_word(dst + i, load_word(src + i));
    store_word(dst + n - 8, load_word(src + n - 8));
}

// Copies text[0, n) to dst up to its first "$": how many bytes come before
// that "$", or n when there is none. dst has room for n bytes. Words are
// copied whole, the last one ending with the text over bytes already seen;
// the word that holds a "$" is looked at again a byte at a time.
[[gnu::always_inline]] inline uint64_t copy_to_dollar(char *dst, const char *text, uint64_t n)
{
    uint64_t i = 0;
    if (n >= 8) {
        for (;; i += 8) {
            if (i + 8 > n)
                i = n - 8;
            uint64_t w = load_word(text + i);
            store_word(dst + i, w);
            if (dollar_in(w))
                break;
            if (i + 8 == n)
                return n;
        }
    } else if (n >= 4) {
        uint64_t w = short_name_word(text, n);
        if (!dollar_in(w)) {
            store_half(dst, static_cast<uint32_t>(w));
            store_half(dst + n - 4, static_cast<uint32_t>(w >> 32));
            return n;
        }
    }
    for (; i < n; i++) {
        if (text[i] == '$')
            return i;
        dst[i] = text[i];
    }
    return n;
}

// The end of a reference's name that begins at name: its "}", or null when
// no "}" comes before end or a "$" comes first.
const char *name_end(const char *name, const char *end)
{
    for (const char *p = name; p < end; p++) {
        if (*p == '}')
            return p;
        if (*p == '$')
            return nullptr;
    }
    return nullptr;
}

// The variable called name among those before v in the list, or null.
const host_var *find_before(const host_var *first, const host_var *v, const char *name, uint64_t n)
{
    if (n >= 4 && n <= 8) {
        uint64_t word = short_name_word(name, n);
        for (const host_var *u = first; u != v; u = u->next)
            if (u->name.size() == n && short_name_word(u->name.data(), n) == word)
                return u;
        return nullptr;
    }
    for (const host_var *u = first; u != v; u = u->next) {
        if (u->name.size() != n)
            continue;
        uint64_t i = 0;
        while (i < n && u->name[i] == name[i])
            i++;
        if (i == n)
            return u;
    }
    return nullptr;
}

// Room in the data for n more bytes after the first `used`; the block may
// move, so the data is addressed by offsets.
char *data_room(zostr *s, uint64_t used, uint64_t n)
{
    if (!s->data || s->capacity - used <= n)
        zostr_xallocmore(s, n + 1);
    return s->data + used;
}

} // namespace

// Most hosts refer only to variables before the one referring, as a host
// does to its classes' and its own earlier settings: then the list's order
// is an order of expansion, and the data is written in one pass, each
// reference copied from the expansion already in place. The first value
// that does anything else ends the pass, and the ordered pass below (or the
// general expansion) starts afresh.
bool expand_in_order(expansion *run)
{
    zarray_resize(&run->direct_vars, run->var_count);
    zostr *s = &run->data;
    uint64_t used = 0;
    for (const host_var *v = run->h->variables.first; v; v = v->next) {
        const char *name = v->name.data();
        const char *text = v->value.data();
        uint64_t name_length = v->name.size();
        uint64_t left = v->value.size();
        char *p = data_room(s, used, name_length + left + 2);
        if (copy_to_dollar(p, name, name_length) < name_length)
            return false;
        p[name_length] = '=';
        used += name_length + 1;
        uint64_t at = used;
        for (;;) {
            uint64_t before = copy_to_dollar(s->data + used, text, left);
            if (before == left)
                break;
            if (before + 1 == left || text[before + 1] != '{')
                return false;
            const char *ref_name = text + before + 2;
            const char *close = name_end(ref_name, text + left);
            if (!close)
                return false;
            uint64_t ref_length = static_cast<uint64_t>(close - ref_name);
            const host_var *target = find_before(run->h->variables.first, v, ref_name, ref_length);
            if (!target)
                return false;
            const direct_var *t = dvar(run, target->index);
            used += before;
            // The rest of the value after the reference, at most, is still
            // to come as well.
            uint64_t after = left - before - (ref_length + 3);
            p = data_room(s, used, t->length + after + 1);
            copy_short(p, s->data + t->at, t->length);
            used += t->length;
            if (used > direct_most)
                return false;
            text = close + 1;
            left = after;
        }
        used += left;
        s->data[used] = 0;
        *dvar(run, v->index) = direct_var{used - at, at, 0, 0, direct_ordered};
        used++;
        if (used > direct_most || used > run->limit)
            return false;
    }
    // A host without variables has data too: empty, but written.
    run->data_written = used ? s->data : data_room(s, 0, 0);
    run->data_length = used;
    return true;
}

bool expand_direct(expansion *run)
{
    uint32_t n = run->var_count;
    if (!plain_host(run, n))
        return false;
    for (uint32_t i = 0; i < n; i++) {
        uint32_t var = *zarray_at(&run->direct_order, i);
        dvar(run, var)->length = expanded_length(run, var);
        if (dvar(run, var)->length > direct_most)
            return false;
    }
    // Each item is the name, "=", the expansion and a NUL byte.
    uint64_t total = 0;
    for (uint32_t k = 0; k < n; k++) {
        direct_var *d = dvar(run, k);
        d->at = total + var_at(run, k)->name.size() + 1;
        total = d->at + d->length + 1;
        if (total > direct_most || total > run->limit)
            return false;
    }
    char *p = room_for(&run->data, total);
    for (uint32_t k = 0; k < n; k++) {
        std::string_view name = var_at(run, k)->name;
        p = put(p, name.data(), name.size());
        *p++ = '=';
        p += dvar(run, k)->length;
        *p++ = 0;
    }
    for (uint32_t i = 0; i < n; i++)
        write_expansion(run, *zarray_at(&run->direct_order, i));
    run->data_written = run->data.data;
    run->data_length = total;
    return true;
}
