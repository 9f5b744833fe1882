// Names of references: looked up whole, or read a part at a time when a
// reference runs across the end of inserted values. The part read so far
// is held as a range of the host's names sorted, those that begin with it,
// so that each further byte costs a binary search, however long the part
// before it was and however often a memo that ends in it is inserted.
#include "compiler/expand/state.h"

#include <algorithm>
#include <string_view>

namespace {

std::string_view name_of(const expansion *run, uint32_t i)
{
    return var_at(run, *zarray_at(&run->names_sorted, i))->name;
}

void sort_names(expansion *run)
{
    zarray_resize(&run->names_sorted, run->var_count);
    uint32_t *first = zarray_at(&run->names_sorted, 0);
    for (uint32_t v = 0; v < run->var_count; v++)
        first[v] = v;
    std::sort(first, first + run->var_count, [run](uint32_t a, uint32_t b) {
        return var_at(run, a)->name < var_at(run, b)->name;
    });
    run->names_ready = true;
}

// The first name in [lo, hi) that, at byte `at`, has a byte for which
// `past` holds; the names there share their first `at` bytes, so a name
// that ends there sorts first, and the others by that byte.
template <typename P>
uint32_t first_where(const expansion *run, uint32_t lo, uint32_t hi, uint64_t at, P past)
{
    while (lo < hi) {
        uint32_t mid = lo + (hi - lo) / 2;
        std::string_view n = name_of(run, mid);
        if (n.size() > at && past(static_cast<unsigned char>(n[at])))
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

} // namespace

int32_t name_lookup(const expansion *run, const char *name, uint64_t length)
{
    const host_var *v = var_find(&run->h->variables, std::string_view(name, length));
    return v ? static_cast<int32_t>(v->index) : -1;
}

name_range names_all(expansion *run)
{
    if (!run->names_ready)
        sort_names(run);
    return name_range{0, run->var_count, 0};
}

name_range names_extend(const expansion *run, name_range r, const char *bytes, uint64_t n)
{
    for (uint64_t i = 0; i < n && r.lo < r.hi; i++) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        uint32_t lo = first_where(run, r.lo, r.hi, r.read, [b](unsigned char c) { return c >= b; });
        uint32_t hi = first_where(run, lo, r.hi, r.read, [b](unsigned char c) { return c > b; });
        r = name_range{lo, hi, r.read + 1};
    }
    return r;
}

int32_t names_found(const expansion *run, name_range r)
{
    if (r.lo < r.hi && name_of(run, r.lo).size() == r.read)
        return static_cast<int32_t>(*zarray_at(&run->names_sorted, r.lo));
    return -1;
}

uint32_t pending_add(expansion *run, uint32_t before, const char *text, uint64_t length)
{
    zarray_push(&run->pending_parts, pending_part{text, length, before});
    return static_cast<uint32_t>(zarray_size(&run->pending_parts)) - 1;
}

// Appends the text of the parts up to `last`, in order, to out (the list
// runs backwards).
void pending_append_to(expansion *run, uint32_t last, zostr *out)
{
    zarray_cut(&run->pending_order, 0);
    for (uint32_t i = last; i != none; i = zarray_at(&run->pending_parts, i)->before)
        zarray_push(&run->pending_order, i);
    for (size_t k = zarray_size(&run->pending_order); k-- > 0;) {
        const pending_part *p = zarray_at(&run->pending_parts, *zarray_at(&run->pending_order, k));
        zostr_xadd_mem(out, p->text, p->length);
    }
}
