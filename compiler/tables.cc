// The host and class tables and the rules of assignment and inclusion.
#include "compiler/tables.h"

#include "compiler/assign_trace.h"
#include "compiler/entry_index.h"
#include "compiler/report.h"
#include "lib/pages.h"
#include "lib/zostr.h"

#include <cstdlib>
#include <cstring>
#include <new>

host *host_table;
host_class *class_table;
include_path *host_include_path;
uint64_t host_changed;
bool assign_trace_on;
zarray<assign_event> assign_trace;

namespace {


// The reports of a plain assignment to a variable that is set already.
const char host_duplicate[] = "duplicate assignment to host variable";
const char class_duplicate[] = "duplicate assignment to variable ";

[[noreturn]] void out_of_memory()
{
    die_at_line(0, "out of memory", nullptr);
}

// The reports that name a text of the configuration, which is not
// terminated where the token ends.
[[noreturn]] void die_naming(const char *msg, std::string_view name)
{
    zostr detail;
    detail.data = nullptr;
    zostr_xdup_mem(&detail, name.data(), name.size());
    zostr_xadd_char(&detail, 0);
    die_at_line(0, msg, detail.data);
}

// Variable records of classes (and of the lists that tests make) are never
// freed: they are cut one after another from large blocks instead of
// taking a block each.
constexpr size_t kept_block_size = 65536;
char *kept_next;
size_t kept_room;

// Every record kept is a multiple of this long, so each one after the
// first in a block stays as aligned as the block.
constexpr size_t kept_alignment = 8;

// Room for a T, to be set up by the caller.
template <typename T>
T *keep()
{
    static_assert(alignof(T) <= kept_alignment && sizeof(T) % kept_alignment == 0);
    if (sizeof(T) > kept_room) {
        kept_next = static_cast<char *>(pages_block(kept_block_size));
        if (!kept_next)
            out_of_memory();
        kept_room = kept_block_size;
    }
    T *p = reinterpret_cast<T *>(kept_next);
    kept_next += sizeof(T);
    kept_room -= sizeof(T);
    return p;
}

// Copies of the texts that outlive the configuration text behind the
// parser (text_release.h), one after another in large blocks; a long text
// gets a block of its own.
constexpr size_t text_block_size = 65536;
char *text_next;
size_t text_room;

std::string_view keep_text(std::string_view text)
{
    if (text.empty())
        return "";
    char *copy;
    if (text.size() > text_block_size / 4) {
        copy = static_cast<char *>(malloc(text.size()));
        if (!copy)
            out_of_memory();
    } else {
        if (text.size() > text_room) {
            text_next = static_cast<char *>(pages_block(text_block_size));
            if (!text_next)
                out_of_memory();
            text_room = text_block_size;
        }
        copy = text_next;
        text_next += text.size();
        text_room -= text.size();
    }
    memcpy(copy, text.data(), text.size());
    return std::string_view(copy, text.size());
}

// The old value immediately followed by the added text, in a new block of
// just that size (one allocation: many hosts append to a value of theirs).
std::string_view join_values(std::string_view old_value, std::string_view added)
{
    size_t length = old_value.size() + added.size();
    auto *joined = static_cast<char *>(malloc(length + 1));
    if (!joined)
        out_of_memory();
    if (!old_value.empty())
        memcpy(joined, old_value.data(), old_value.size());
    if (!added.empty())
        memcpy(joined + old_value.size(), added.data(), added.size());
    return std::string_view(joined, length);
}

// The current host's variable records: cut from blocks that are used
// again, from the first, once the host has released them. A host that
// keeps its variables keeps the blocks they are in.
constexpr size_t host_block_vars = 1024;

struct var_block {
    var_block *next;
    host_var vars[host_block_vars];
};

var_block *host_blocks;      // the chain of blocks, the first one first
var_block *host_block;       // the one in use, or null: none yet
host_var *host_free;         // its records not yet used, up to host_free_end
host_var *host_free_end;     // (both null while there is none)

// The current host's variables whose values an append has made, which are
// freed when it releases its variables (a record may be noted twice, once
// its value was replaced and made again). Past this many, all of its
// variables are looked through.
constexpr size_t joined_noted_most = 8;
host_var *joined_noted[joined_noted_most];
size_t joined_count;   // may exceed joined_noted_most

// The current host's index, emptied for the next host; a host that keeps
// its variables takes it along.
var_index *host_index;

host_var *host_var_new()
{
    if (host_free == host_free_end) {
        var_block *next = host_block ? host_block->next : host_blocks;
        if (!next) {
            next = static_cast<var_block *>(malloc(sizeof(var_block)));
            if (!next)
                out_of_memory();
            next->next = nullptr;
            (host_block ? host_block->next : host_blocks) = next;
        }
        host_block = next;
        host_free = next->vars;
        host_free_end = next->vars + host_block_vars;
    }
    return host_free++;
}

var_index *new_index()
{
    auto *index = static_cast<var_index *>(calloc(1, sizeof(var_index)));
    if (!index)
        out_of_memory();
    return index;
}

// Which list a variable goes to: the current host's, whose records and
// index are used again, or a list that keeps its own.
enum var_owner : bool { kept_list, current_host };

// Most hosts have a dozen variables or fewer: their lists are searched in
// order, and only a list that grows longer than this gets an index.
constexpr uint32_t unindexed_most = 32;

void index_var(var_index *index, host_var *v)
{
    if (!var_index_add(index, v))
        out_of_memory();
}

// Indexes v, the newest variable, once the list has become too long to
// search in order; the first time that takes in all of the list.
void index_new_var(var_list *vars, host_var *v, var_owner owner)
{
    if (vars->index) {
        index_var(vars->index, v);
        return;
    }
    if (v->index < unindexed_most)
        return;
    if (owner == current_host) {
        if (!host_index)
            host_index = new_index();
        vars->index = host_index;
    } else {
        vars->index = new_index();
    }
    for (host_var *u = vars->first; u; u = u->next)
        index_var(vars->index, u);
}

// The names of the current host's variables, each marked by a bit of a
// small set: a name whose bit is clear is not in the list, so most
// assignments and includes know their name is new without a search.
const var_list *marked_list;

// The marks: 256 bits, so that a dozen or two names seldom share one. A
// name's mark depends on the name alone, and every variable record keeps
// its own: an include's names need not be looked at again.
struct name_marks {
    uint64_t words[4];
};

name_marks marked_names;

bool is_marked(uint8_t mark)
{
    return marked_names.words[mark >> 6] & uint64_t{1} << (mark & 63);
}

void set_mark(uint8_t mark)
{
    marked_names.words[mark >> 6] |= uint64_t{1} << (mark & 63);
}

uint8_t mark_of(std::string_view name)
{
    if (name.empty())
        return 0;
    // The length and three bytes in one word, whose product's top eight
    // bits pick the mark: names of a host often share their length and
    // their first and last bytes ("name", "note").
    auto byte = [name](size_t i) { return uint32_t{static_cast<unsigned char>(name[i])}; };
    uint32_t key = static_cast<uint32_t>(name.size()) ^ byte(0) << 8 ^ byte(name.size() / 2) << 16 ^
                   byte(name.size() - 1) << 24;
    return static_cast<uint8_t>((key * 0x9E3779B1u) >> 24);
}

// The variable called name in the list, or null; from the marks when the
// list is the current host's.
host_var *var_lookup(const var_list *vars, std::string_view name)
{
    if (vars == marked_list && !is_marked(mark_of(name)))
        return nullptr;
    return var_find(vars, name);
}

// Puts v, a record not yet set up, at the end of the list.
host_var *var_add(var_list *vars, host_var *v, std::string_view name, std::string_view value,
                  int64_t line, var_owner owner)
{
    uint32_t index = 0;
    if (vars->last) {
        if (vars->last->index == var_list_most - 1)
            out_of_memory();
        index = vars->last->index + 1;
    }
    new (v) host_var{name, value, nullptr, line, index, 0, mark_of(name)};
    if (vars->last)
        vars->last->next = v;
    else
        vars->first = v;
    vars->last = v;
    if (vars == marked_list)
        set_mark(v->mark);
    if (vars->index || index >= unindexed_most)
        index_new_var(vars, v, owner);
    return v;
}

void trace(const host_var *v, assign_event_kind kind, const host_var *source)
{
    if (assign_trace_on)
        zarray_push(&assign_trace, assign_event{v, source, config_line, kind});
}

// The assignment rules shared by hosts and classes, once the variable
// called name has been looked for: v is that variable, or null. duplicate
// names the message of a plain assignment to an existing variable.
// source: the class variable that an include copies, or null.
[[gnu::always_inline]] inline void var_assign(var_list *vars, host_var *v, var_owner owner, assign_kind kind,
                                              std::string_view name, std::string_view value, const char *duplicate,
                                              const host_var *source)
{
    if (!v) {
        v = var_add(vars, owner == current_host ? host_var_new() : keep<host_var>(), name, value,
                    config_line, owner);
        trace(v, source ? event_include : event_set, source);
        return;
    }
    std::string_view old_value = v->value;
    bool old_joined = v->value_joined;
    if (owner == current_host && v->index < 64)
        host_changed |= uint64_t{1} << v->index;
    switch (kind) {
    case assign_plain:
        die_naming(duplicate, name);
    case assign_append:
        v->value = join_values(old_value, value);
        v->value_joined = 1;
        if (owner == current_host && !old_joined) {
            if (joined_count < joined_noted_most)
                joined_noted[joined_count] = v;
            joined_count++;
        }
        break;
    case assign_override:
        v->value = value;
        v->value_joined = 0;
        break;
    }
    if (old_joined)
        free(const_cast<char *>(old_value.data()));
    v->line = config_line;
    trace(v, kind == assign_append ? event_append : event_override, nullptr);
}

void var_set(var_list *vars, var_owner owner, assign_kind kind, std::string_view name,
             std::string_view value, const char *duplicate)
{
    var_assign(vars, var_lookup(vars, name), owner, kind, name, value, duplicate, nullptr);
}

// The variable called name among those up to last (or none, for a null
// last).
host_var *var_find_until(const var_list *vars, std::string_view name, const host_var *last)
{
    if (!last)
        return nullptr;
    if (vars == marked_list && !is_marked(mark_of(name)))
        return nullptr;
    if (vars->index)
        return var_find(vars, name);
    for (host_var *v = vars->first;; v = v->next) {
        if (v->name == name)
            return v;
        if (v == last)
            return nullptr;
    }
}

// Most assignments and includes give the current host a new variable, in a
// block with room, in a list too short for an index, with no explanation
// traced: such a variable is set up and linked here at once. False when the
// case is another, which the rules then take in full. vars: the current
// host's list.
bool add_new_at_once(var_list *vars, std::string_view name, std::string_view value, uint8_t mark)
{
    host_var *last = vars->last;
    uint32_t index = last ? uint32_t{last->index} + 1 : 0;
    if (index >= unindexed_most || host_free == host_free_end || assign_trace_on || is_marked(mark))
        return false;
    host_var *v = host_free++;
    new (v) host_var{name, value, nullptr, config_line, index, 0, mark};
    (last ? last->next : vars->first) = v;
    vars->last = v;
    set_mark(mark);
    return true;
}

// Includes copy the class's values as they are now, through plain
// assignments, so a variable that is already set is a duplicate. A class
// has each name once, so each of its variables is looked for only among
// the variables that were there before the include.
void var_include(var_list *vars, var_owner owner, const host_class *c, const char *duplicate)
{
    const host_var *before = vars->last;
    for (host_var *v = c->variables.first; v; v = v->next)
        if (owner != current_host || !add_new_at_once(vars, v->name, v->value, v->mark))
            var_assign(vars, var_find_until(vars, v->name, before), owner, assign_plain, v->name, v->value,
                       duplicate, v);
}

// The first include paths, of one class each.
include_path *path_roots;

// The path of from's classes and c after them; the one found last goes
// to the front of its list, where the next host of a group finds it.
include_path *path_child(include_path *from, const host_class *c)
{
    include_path **list = from ? &from->children : &path_roots;
    include_path **link = list;
    while (*link && (*link)->included != c)
        link = &(*link)->next_sibling;
    include_path *p = *link;
    if (p) {
        *link = p->next_sibling;
    } else {
        p = keep<include_path>();
        *p = include_path{c, from, nullptr, nullptr, nullptr, 0, 0, nullptr};
    }
    p->next_sibling = *list;
    *list = p;
    return p;
}

// What all copies of includes may take together.
constexpr size_t include_copies_most = 4 * 1024 * 1024;
size_t include_copies;

// Keeps a copy of the variables that the include of path's last class gave
// the current host, from first on, for the path's later hosts: what the
// include gives is the same for every host of the path. Not while
// assignments are traced (each include is an event), nor for a list that
// has an index.
void keep_include_copy(include_path *path, const host_var *first)
{
    // Tried again for every host of the path while it cannot be kept:
    // what rules it out is looked at before the records are counted.
    if (assign_trace_on || host_table->variables.index)
        return;
    uint32_t count = 0;
    for (const host_var *v = first; v; v = v->next)
        count++;
    size_t size = count * sizeof(host_var);
    if (count == 0 || include_copies + size > include_copies_most)
        return;
    auto *copy = static_cast<host_var *>(malloc(size));
    if (!copy)
        out_of_memory();
    include_copies += size;
    for (uint32_t i = 0; first; first = first->next)
        copy[i++] = *first;
    path->copy = copy;
    path->copy_count = count;
}

// Gives the current host the variables of path's last class from the copy
// its first host left, where they fit in the block in use and the list
// stays short enough to go without an index; false otherwise. They go
// after the same variables as for that host, and the include checked that
// none of their names was taken.
bool include_at_once(var_list *vars, const include_path *path)
{
    uint32_t count = path->copy_count;
    uint32_t index = vars->last ? uint32_t{vars->last->index} + 1 : 0;
    if (assign_trace_on || index != path->copy[0].index || index + count > unindexed_most ||
        static_cast<size_t>(host_free_end - host_free) < count)
        return false;
    host_var *first = host_free;
    memcpy(static_cast<void *>(first), path->copy, count * sizeof(host_var));
    for (uint32_t i = 0; i < count; i++) {
        first[i].next = i + 1 < count ? &first[i + 1] : nullptr;
        first[i].line = config_line;
        set_mark(first[i].mark);
    }
    (vars->last ? vars->last->next : vars->first) = first;
    vars->last = first + count - 1;
    host_free += count;
    return true;
}

// Hosts and classes are numbered in the order they are made (the index of
// their names holds the numbers) and kept in blocks of this many.
constexpr uint32_t entries_per_block = 1024;

template <typename T>
struct entry_table {
    T **blocks;
    uint32_t block_room;
    uint32_t count;
    entry_index names;
};

entry_table<host> hosts;
entry_table<host_class> classes;

template <typename T>
T *entry_at(const entry_table<T> *t, uint32_t n)
{
    return &t->blocks[n / entries_per_block][n % entries_per_block];
}

std::string_view host_name_of(uint32_t n)
{
    return entry_at(&hosts, n)->name;
}

std::string_view class_name_of(uint32_t n)
{
    return entry_at(&classes, n)->name;
}

// Room for entry number t->count.
template <typename T>
T *entry_new(entry_table<T> *t)
{
    uint32_t b = t->count / entries_per_block;
    if (t->count % entries_per_block == 0) {
        if (b == t->block_room) {
            uint32_t room = t->block_room ? 2 * t->block_room : 16;
            auto *blocks = static_cast<T **>(realloc(t->blocks, room * sizeof(T *)));
            if (!blocks)
                out_of_memory();
            t->blocks = blocks;
            t->block_room = room;
        }
        t->blocks[b] = static_cast<T *>(pages_block(entries_per_block * sizeof(T)));
        if (!t->blocks[b])
            out_of_memory();
    }
    return new (entry_at(t, t->count++)) T{};
}

host_class *class_find(std::string_view name)
{
    int64_t n = entry_index_find(&classes.names, name, class_name_of);
    if (n < 0)
        die_naming("unknown class", name);
    return entry_at(&classes, static_cast<uint32_t>(n));
}

// A new host or class, named and indexed, at the head of its table (the
// tables list the newest first); duplicate names the message for a name
// that is taken.
template <typename T>
void table_new(T **table, entry_table<T> *entries, entry_name_fn name_of, std::string_view name,
               int64_t line, const char *duplicate)
{
    // Every number and the one after it must fit the index's 32 bits.
    if (entries->count == UINT32_MAX - 1)
        out_of_memory();
    int64_t n = entry_index_add(&entries->names, name, entries->count, name_of);
    if (n < 0)
        out_of_memory();
    if (n != entries->count)
        die_naming(duplicate, name);
    T *entry = entry_new(entries);
    entry->name = keep_text(name);
    entry->line = line;
    entry->next = *table;
    *table = entry;
}

// Out of line, with the arguments of host_set: the common case stays small
// enough to be inlined into the parser's actions.
[[gnu::noinline]] void host_set_in_full(assign_kind kind, std::string_view name, std::string_view value)
{
    var_set(&host_table->variables, current_host, kind, name, value, host_duplicate);
}

} // namespace

host_var *var_append(var_list *vars, std::string_view name, std::string_view value, int64_t line)
{
    return var_add(vars, keep<host_var>(), name, value, line, kept_list);
}

void host_vars_release(host *h)
{
    auto free_joined = [](host_var *v) {
        if (v->value_joined) {
            free(const_cast<char *>(v->value.data()));
            v->value_joined = 0;
        }
    };
    if (joined_count > joined_noted_most) {
        for (host_var *v = h->variables.first; v; v = v->next)
            free_joined(v);
    } else {
        for (size_t i = 0; i < joined_count; i++)
            free_joined(joined_noted[i]);
    }
    joined_count = 0;
    if (h->variables.index)
        var_index_clear(h->variables.index);
    h->variables = var_list{};
    // The next host starts again in the first block, if there is one.
    host_block = host_blocks;
    host_free = host_block ? host_block->vars : nullptr;
    host_free_end = host_block ? host_block->vars + host_block_vars : nullptr;
}

void host_vars_keep(host *h, bool copy_texts)
{
    if (copy_texts)
        for (host_var *v = h->variables.first; v; v = v->next) {
            v->name = keep_text(v->name);
            if (!v->value_joined)
                v->value = keep_text(v->value);
        }
    // Its blocks are the chain's up to the one in use; none when it has no
    // variables in the block in use.
    if (host_block && host_free != host_block->vars) {
        host_blocks = host_block->next;
        host_block = nullptr;
        host_free = host_free_end = nullptr;
    }
    if (h->variables.index)
        host_index = nullptr;
    joined_count = 0;
}

void host_new(std::string_view name, int64_t line)
{
    table_new(&host_table, &hosts, host_name_of, name, line, "duplicate host name");
    marked_list = &host_table->variables;
    marked_names = name_marks{};
    host_include_path = nullptr;
    host_changed = 0;
}

void class_new(std::string_view name, int64_t line)
{
    table_new(&class_table, &classes, class_name_of, name, line, "duplicate class name");
}

void host_set(assign_kind kind, std::string_view name, std::string_view value)
{
    if (!add_new_at_once(&host_table->variables, name, value, mark_of(name)))
        host_set_in_full(kind, name, value);
}

void class_set(assign_kind kind, std::string_view name, std::string_view value)
{
    // A class outlives the text behind the parser: it keeps copies.
    var_list *vars = &class_table->variables;
    host_var *v = var_find(vars, name);
    var_assign(vars, v, kept_list, kind, v ? name : keep_text(name), keep_text(value), class_duplicate,
               nullptr);
}

void host_include(std::string_view class_name)
{
    host_class *c = class_find(class_name);
    c->included = true;
    include_path *path = path_child(host_include_path, c);
    host_include_path = path;
    var_list *vars = &host_table->variables;
    if (path->copy && include_at_once(vars, path))
        return;
    const host_var *before = vars->last;
    var_include(vars, current_host, c, host_duplicate);
    if (!path->copy)
        keep_include_copy(path, before ? before->next : vars->first);
}

void class_include(std::string_view class_name)
{
    host_class *c = class_find(class_name);
    if (c != class_table)
        c->included = true;
    var_include(&class_table->variables, kept_list, c, class_duplicate);
}
