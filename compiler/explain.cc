// The explanation of one key: the record's block with the history of each
// of its variables in comment lines.
#include "compiler/explain.h"

#include "cdb/record_text.h"
#include "compiler/assign_trace.h"
#include "compiler/check.h"
#include "compiler/report.h"
#include "lib/fmt.h"
#include "lib/iobuf.h"
#include "lib/printable.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unistd.h>

namespace {

iobuf out;

void put(std::string_view text)
{
    if (iobuf_put(&out, text.data(), text.size()) < 0)
        die(errno, "unable to write");
}

// Text of the configuration inside a comment: one line, whatever it holds.
void put_one_line(std::string_view text)
{
    while (!text.empty()) {
        size_t n = 0;
        while (n < text.size() && printable_byte(text[n]) == text[n])
            n++;
        put(text.substr(0, n));
        if (n < text.size()) {
            put(" ");
            n++;
        }
        text.remove_prefix(n);
    }
}

void put_line_number(int64_t line)
{
    char number[fmt_ulong_size];
    put(std::string_view(number, fmt_ulong(number, static_cast<uint64_t>(line), 10)));
}

// The events of the variables that the explanation names, in the order of
// the assignments, each variable's own list linked through next.
struct traced {
    const assign_event *event;
    uint32_t next;     // the variable's next event, or none
};
constexpr uint32_t none = UINT32_MAX;

// A variable that the explanation names: the key's entry's own, and every
// class variable that an include copied into one of them.
struct named_var {
    const host_var *var;
    const host_class *owner;   // null: the entry's own
    uint32_t first;            // its first event, or none
};

zarray<named_var> named;
zarray<traced> events;

// An index of named by the variable's address: open addressing over a
// power of two of places, each 0 or 1 + the place in named; kept at most
// half full.
zarray<uint32_t> places;

size_t place_of(const host_var *v, size_t mask)
{
    uint64_t h = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(v)) * 0x9E3779B97F4A7C15u;
    return static_cast<size_t>(h >> 32) & mask;
}

named_var *find_named(const host_var *v)
{
    size_t mask = zarray_size(&places) - 1;
    for (size_t i = place_of(v, mask);; i = (i + 1) & mask) {
        uint32_t p = *zarray_at(&places, i);
        if (p == 0)
            return nullptr;
        if (zarray_at(&named, p - 1)->var == v)
            return zarray_at(&named, p - 1);
    }
}

void index_named(uint32_t n)
{
    size_t mask = zarray_size(&places) - 1;
    size_t i = place_of(zarray_at(&named, n)->var, mask);
    while (*zarray_at(&places, i))
        i = (i + 1) & mask;
    *zarray_at(&places, i) = n + 1;
}

void add_named(const host_var *v)
{
    zarray_push(&named, named_var{v, nullptr, none});
    size_t count = zarray_size(&named);
    if (2 * count <= zarray_size(&places)) {
        index_named(static_cast<uint32_t>(count - 1));
        return;
    }
    size_t size = 16;
    while (size < 4 * count)
        size *= 2;
    zarray_zero(&places, size);
    for (size_t i = 0; i < count; i++)
        index_named(static_cast<uint32_t>(i));
}

// Collects the events of the entry's variables and of the class variables
// they were copied from. Classes are defined before they are included, so
// one pass from the newest event back meets every copied variable's events
// after the include that names it.
void collect_events(const host *h)
{
    for (const host_var *v = h->variables.first; v; v = v->next)
        add_named(v);
    size_t count = zarray_size(&assign_trace);
    // Linked newest first while walking back, which leaves each list oldest first.
    for (size_t i = count; i-- > 0;) {
        const assign_event *e = zarray_at(&assign_trace, i);
        named_var *n = find_named(e->var);
        if (!n)
            continue;
        uint32_t at = static_cast<uint32_t>(zarray_size(&events));
        zarray_push(&events, traced{e, n->first});
        n->first = at;
        if (e->kind == event_include && !find_named(e->source))
            add_named(e->source);
    }
    for (const host_class *c = class_table; c; c = c->next)
        for (const host_var *v = c->variables.first; v; v = v->next)
            if (named_var *n = find_named(v))
                n->owner = c;
}

void put_owner(const named_var *n)
{
    if (n->owner) {
        put(" in class ");
        put_one_line(n->owner->name);
    }
}

// The comment lines of one variable's history, the class variables it was
// copied from first.
void put_history(const host_var *v, std::string_view name)
{
    const named_var *n = find_named(v);
    for (uint32_t i = n->first; i != none; i = zarray_at(&events, i)->next) {
        const assign_event *e = zarray_at(&events, i)->event;
        if (e->kind == event_include)
            put_history(e->source, name);
        put("# ");
        put_one_line(name);
        static const char *const what[] = {": set", ": +=", ": override", ": included"};
        put(what[e->kind]);
        if (e->kind == event_include && n->owner) {
            put(" into class ");
            put_one_line(n->owner->name);
        } else {
            put_owner(n);
        }
        put(" at line ");
        put_line_number(e->line);
        put("\n  ");
    }
}

void put_entry(const host *h)
{
    put("entry \"");
    put_one_line(h->name);
    put("\" at line ");
    put_line_number(h->line);
}

void put_givers(const char *key, const key_givers *g)
{
    put("# ");
    put_one_line(key);
    put(": given by ");
    put_entry(g->first);
    put("\n");
    size_t older = zarray_size(&g->older);
    if (older)
        put("# older entries give it too, and are never found for it:\n");
    for (size_t i = 0; i < older; i++) {
        put("#   ");
        put_entry(*zarray_at(&g->older, i));
        put("\n");
    }
}

// One item of the data by the data rule, its NUL included.
void put_item(const char *item, uint32_t length)
{
    // The rule reads and writes a word at a time past the item's end.
    static zostr room;
    static zostr copy;
    static const char zeros[record_text_overrun] = {};
    zostr_xdup_mem(&copy, item, length);
    zostr_xadd_mem(&copy, zeros, record_text_overrun);
    zostr_xdup_mem(&room, "", 0);
    zostr_xallocmore(&room, 5 * uint64_t{length} + record_text_overrun);
    bool quoted = false;
    auto *begin = reinterpret_cast<unsigned char *>(room.data);
    unsigned char *end =
        record_text_data(begin, reinterpret_cast<const unsigned char *>(copy.data), length, &quoted);
    put(std::string_view(room.data, static_cast<size_t>(end - begin)));
}

void put_block(const char *key, const key_givers *g)
{
    put("client ");
    put(key);
    put(" {\n  ");
    const char *item = g->data;
    const char *end = g->data + g->data_length;
    for (const host_var *v = g->first->variables.first; v && item < end; v = v->next) {
        put_history(v, v->name);
        if (v->value.find("${") != std::string_view::npos) {
            put("# ");
            put_one_line(v->name);
            put(": before expansion: ");
            put_one_line(v->value);
            put("\n  ");
        }
        const char *nul = static_cast<const char *>(memchr(item, 0, static_cast<size_t>(end - item)));
        const char *stop = nul ? nul + 1 : end;
        put_item(item, static_cast<uint32_t>(stop - item));
        item = stop;
    }
    put("}\n");
}

[[noreturn]] void not_found(const char *key)
{
    die_status(100, "no entry gives the key", key);
}

} // namespace

void explain_key(const char *key)
{
    const key_givers *g = check_givers();
    if (!g->first)
        not_found(key);
    collect_events(g->first);
    iobuf_init(&out, 1, iobuf_write_op, nullptr);
    put_givers(key, g);
    put_block(key, g);
    if (iobuf_flush(&out) < 0)
        die(errno, "unable to write");
    iobuf_free(&out);
}
