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
// once, and each reference to it is a copy of that expansion.
//
// One pass writes the data in list order. A reference to a variable before
// it (a host's classes, its own earlier settings: most references) copies
// the expansion already in the data. A reference to one further on has that
// variable expanded first, ahead of its turn, into a side block, after the
// variables it refers to in turn (a walk with a stack of its own); its item
// copies it from there when its turn comes.
//
// Anything else (a stray "$", an unfinished or unknown reference, a cycle,
// data past the limit or too long to build before it is known to fit the
// database) ends the pass, and the general expansion starts afresh and
// reports what it finds.
#include "compiler/expand/state.h"
#include "lib/words.h"

#include <cstring>

namespace {

// Longer data is left to the general expansion, which builds the data only
// once a record needs it, and not at all when it cannot fit.
constexpr uint64_t direct_most = uint64_t{1} << 20;

direct_var *dvar(expansion *run, uint32_t var)
{
    return zarray_at(&run->direct_vars, var);
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
        word_store(dst + i, word_load<uint64_t>(src + i));
    word_store(dst + n - 8, word_load<uint64_t>(src + n - 8));
}

// Copies text[0, n) to dst up to its first "$": how many bytes come before
// that "$", or n when there is none, looking at it while copying. dst has
// room for n bytes. Words are
// copied whole, the last one ending with the text over bytes already seen;
// the word that holds a "$" is looked at again a byte at a time.
[[gnu::always_inline]] inline uint64_t copy_to_dollar(char *dst, const char *text, uint64_t n)
{
    uint64_t i = 0;
    if (n >= 8) {
        for (;; i += 8) {
            if (i + 8 > n)
                i = n - 8;
            uint64_t w = word_load<uint64_t>(text + i);
            word_store(dst + i, w);
            if (word_has_byte(w, '$'))
                break;
            if (i + 8 == n)
                return n;
        }
    } else if (n >= 4) {
        uint64_t w = word_of_short(text, n);
        if (!word_has_byte(w, '$')) {
            word_store(dst, static_cast<uint32_t>(w));
            word_store(dst + n - 4, static_cast<uint32_t>(w >> 32));
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

// The variable of the plain reference whose "$" is at text[0], the value
// ending at end; *after is set past its "}". Null when it is not plain.
[[gnu::always_inline]] inline const host_var *read_reference(const expansion *run, const char *text,
                                                             const char *end, const char **after)
{
    if (end - text < 2 || text[1] != '{')
        return nullptr;
    const char *close = name_end(text + 2, end);
    if (!close)
        return nullptr;
    *after = close + 1;
    return var_find(&run->h->variables, std::string_view(text + 2, static_cast<size_t>(close - text - 2)));
}

// Room for n more bytes after the first `used` of a block; the block may
// move, so the data is addressed by offsets.
char *room(zostr *s, uint64_t used, uint64_t n)
{
    if (!s->data || s->capacity - used <= n)
        zostr_xallocmore(s, n + 1);
    return s->data + used;
}

const char *expansion_of(const expansion *run, const direct_var *d)
{
    return (d->ahead ? run->direct_side.data : run->data.data) + d->at;
}

bool expand_ahead(expansion *run, const host_var *root);

// Writes v's expansion at the end of out, `used` bytes long so far, and
// records where; the variables it refers to are expanded already, or (into
// the data only) are expanded ahead first. False when the value is not
// plain or the block would pass direct_most. The caller has made room for
// the value and one byte more; a reference makes room for what it adds, so
// that one byte more is there when the expansion is written.
[[gnu::always_inline]] inline bool write_value(expansion *run, zostr *out, uint64_t *used, const host_var *v)
{
    direct_var *d = dvar(run, v->index);
    d->state = direct_busy;
    const char *text = v->value.data();
    const char *end = text + v->value.size();
    uint64_t at = *used;
    uint64_t n = at;
    for (;;) {
        uint64_t left = static_cast<uint64_t>(end - text);
        uint64_t before = copy_to_dollar(out->data + n, text, left);
        n += before;
        if (before == left)
            break;
        const char *after;
        const host_var *target = read_reference(run, text + before, end, &after);
        if (!target)
            return false;
        direct_var *t = dvar(run, target->index);
        if (t->state == direct_unseen && (out != &run->data || !expand_ahead(run, target)))
            return false;
        if (t->state != direct_done)
            return false;   // a cycle
        left = static_cast<uint64_t>(end - after);
        char *p = room(out, n, t->length + left + 1);
        copy_short(p, expansion_of(run, t), t->length);
        n += t->length;
        if (n > direct_most)
            return false;
        text = after;
    }
    *d = direct_var{at, n - at, direct_done, out != &run->data};
    *used = n;
    return true;
}

// Expands root, a variable further on, into the side block, after the
// variables it refers to that are not expanded yet: a walk down its
// references, each variable written once all of its own are.
bool expand_ahead(expansion *run, const host_var *root)
{
    zarray_cut(&run->direct_walk, 0);
    zarray_push(&run->direct_walk, direct_walk_frame{root, 0});
    dvar(run, root->index)->state = direct_busy;
    while (zarray_size(&run->direct_walk)) {
        direct_walk_frame *f = zarray_last(&run->direct_walk);
        const char *value = f->var->value.data();
        uint64_t length = f->var->value.size();
        const char *end = value + length;
        const char *dollar = static_cast<const char *>(memchr(value + f->at, '$', length - f->at));
        if (!dollar) {
            const host_var *v = f->var;
            zarray_pop(&run->direct_walk);
            room(&run->direct_side, run->side_used, v->value.size() + 1);
            if (!write_value(run, &run->direct_side, &run->side_used, v))
                return false;
            continue;
        }
        const char *after;
        const host_var *target = read_reference(run, dollar, end, &after);
        if (!target)
            return false;
        f->at = static_cast<uint64_t>(after - value);
        direct_var *t = dvar(run, target->index);
        if (t->state == direct_busy)
            return false;
        if (t->state == direct_unseen) {
            t->state = direct_busy;
            zarray_push(&run->direct_walk, direct_walk_frame{target, 0});
        }
    }
    return true;
}

} // namespace

bool expand_direct(expansion *run)
{
    static_assert(direct_unseen == 0);
    zarray_resize(&run->direct_vars, run->var_count);
    memset(dvar(run, 0), 0, run->var_count * sizeof(direct_var));
    run->side_used = 0;
    zostr *s = &run->data;
    uint64_t used = 0;
    for (const host_var *v = run->h->variables.first; v; v = v->next) {
        const char *name = v->name.data();
        uint64_t name_length = v->name.size();
        direct_var *d = dvar(run, v->index);
        // Expanded ahead, it is in the side block.
        bool ahead = d->state == direct_done;
        const char *item;
        uint32_t item_length;
        if (!ahead && v->index < run->prefix_count && prefix_item(run, v->index, &item, &item_length)) {
            copy_short(room(s, used, item_length), item, item_length);
            *d = direct_var{used + name_length + 1, item_length - name_length - 2, direct_done, false};
            used += item_length;
            if (used > direct_most || used > run->limit)
                return false;
            continue;
        }
        uint64_t text_length = ahead ? d->length : v->value.size();
        char *p = room(s, used, name_length + text_length + 2);
        if (copy_to_dollar(p, name, name_length) < name_length)
            return false;
        p[name_length] = '=';
        used += name_length + 1;
        if (ahead) {
            copy_short(p + name_length + 1, expansion_of(run, d), d->length);
            used += d->length;
        } else if (!write_value(run, s, &used, v)) {
            return false;
        }
        s->data[used++] = 0;
        if (used > direct_most || used > run->limit)
            return false;
    }
    // A host without variables has data too: empty, but written.
    run->data_written = room(s, used, 0) - used;
    run->data_length = used;
    return true;
}
