// The watch that a check keeps over the records, and its warnings.
#include "compiler/check.h"

#include "compiler/emit.h"
#include "compiler/name_index.h"
#include "compiler/report.h"
#include "lib/fmt.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// Every key given so far, with the oldest entry seen that gives it: since
// hosts come newest first, that is the first entry after the one at hand
// (in the configuration's order) that gives the key.
name_index keys_given;

// The keys of the host at hand, one after another, and where each begins.
zostr host_keys;
zarray<uint64_t> host_key_starts;

// Keys are kept until the end, cut one after another from large blocks.
constexpr size_t key_block_size = 1 << 20;
char *key_next;
size_t key_room;

const char *explained;     // the key to explain, or null
size_t explained_length;
key_givers givers;

// Hosts done so far: a host's place in the configuration, counted from the
// newest, orders the entries that begin on one line.
uint64_t hosts_done;

struct warning {
    int64_t line;
    uint64_t newer;        // hosts or classes after it on the same line come first
    const host *entry;     // an entry never served, or null
    int64_t later_line;    // its first later entry's line
    const host_class *unused;
    uint64_t found;        // how many warnings were found before it
};
zarray<warning> warnings;

[[noreturn]] void out_of_memory()
{
    die_at_line(0, "out of memory", nullptr);
}

const char *keep_key(const char *key, size_t length)
{
    if (length > key_room) {
        size_t size = std::max(key_block_size, length);
        key_next = static_cast<char *>(malloc(size));
        if (!key_next)
            out_of_memory();
        key_room = size;
    }
    char *kept = key_next;
    memcpy(kept, key, length);
    key_next += length;
    key_room -= length;
    return kept;
}

void watch(const host *h, const char *key, size_t length, const char *data, uint64_t data_length)
{
    zarray_push(&host_key_starts, host_keys.length);
    zostr_xadd_mem(&host_keys, key, length);
    if (!explained || length != explained_length || memcmp(key, explained, length) != 0)
        return;
    if (givers.first) {
        if (givers.first != h && (zarray_size(&givers.older) == 0 || *zarray_last(&givers.older) != h))
            zarray_push(&givers.older, h);
        return;
    }
    givers.first = h;
    givers.data = keep_key(data, data_length);
    givers.data_length = data_length;
}

std::string_view host_key(size_t i)
{
    uint64_t start = *zarray_at(&host_key_starts, i);
    uint64_t end = i + 1 < zarray_size(&host_key_starts) ? *zarray_at(&host_key_starts, i + 1)
                                                        : host_keys.length;
    return std::string_view(host_keys.data + start, end - start);
}

// When later entries give every one of the host's count keys, the first of
// those later entries (by line, which is all a warning names); else null.
const host *first_later_giver(size_t count)
{
    const host *first = nullptr;
    for (size_t i = 0; i < count; i++) {
        std::string_view key = host_key(i);
        const host *later = static_cast<const host *>(name_index_find(&keys_given, key.data(), key.size()));
        if (!later)
            return nullptr;
        if (!first || later->line < first->line)
            first = later;
    }
    return first;
}

// Warnings that agree in both keep the order in which they were found.
// (A stable sort would do that too, but it takes its scratch memory from
// the C++ runtime library, which the program would then have to load.)
bool by_line(const warning &a, const warning &b)
{
    if (a.line != b.line)
        return a.line < b.line;
    return a.newer != b.newer ? a.newer > b.newer : a.found < b.found;
}

void add_warning(warning w)
{
    w.found = zarray_size(&warnings);
    zarray_push(&warnings, w);
}

void warn_never_served(const warning *w)
{
    char number[fmt_ulong_size];
    fmt_ulong(number, static_cast<uint64_t>(w->later_line), 10);
    static zostr msg;
    zostr_xdup_cstr(&msg, "entry never served, later entries give all its keys (the first at line ");
    zostr_xadd_cstr(&msg, number);
    zostr_xadd_cstr(&msg, ")");
    zostr_xadd_char(&msg, 0);
    warn_at(w->line, msg.data, w->entry->name);
}

} // namespace

void check_begin(const char *explain_key)
{
    explained = explain_key;
    explained_length = explain_key ? strlen(explain_key) : 0;
    emit_watch = watch;
}

void check_host_done(const host *h)
{
    size_t count = zarray_size(&host_key_starts);
    if (count) {
        if (const host *later = first_later_giver(count))
            add_warning(warning{h->line, hosts_done, h, later->line, nullptr, 0});
        for (size_t i = 0; i < count; i++) {
            std::string_view key = host_key(i);
            name_index_slot *s = name_index_slot_for(&keys_given, key.data(), key.size());
            if (!s)
                out_of_memory();
            if (!s->record)
                s->name = keep_key(key.data(), key.size());
            s->record = const_cast<host *>(h);
        }
    }
    hosts_done++;
    zarray_cut(&host_key_starts, 0);
    host_keys.length = 0;
}

void check_report()
{
    uint64_t newer = 0;
    for (const host_class *c = class_table; c; c = c->next, newer++)
        if (!c->included)
            add_warning(warning{c->line, newer, nullptr, 0, c, 0});
    size_t n = zarray_size(&warnings);
    std::sort(zarray_at(&warnings, 0), zarray_at(&warnings, n), by_line);
    for (size_t i = 0; i < n; i++) {
        const warning *w = zarray_at(&warnings, i);
        if (w->entry)
            warn_never_served(w);
        else
            warn_at(w->line, "class never included", w->unused->name);
    }
}

const key_givers *check_givers()
{
    return &givers;
}
