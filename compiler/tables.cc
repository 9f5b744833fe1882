// The host and class tables and the rules of assignment and inclusion.
#include "compiler/tables.h"

#include "compiler/report.h"
#include "lib/zostr.h"

#include <cstdlib>
#include <cstring>

host *host_table;
host_class *class_table;

namespace {

name_index host_names;
name_index class_names;

[[noreturn]] void out_of_memory()
{
    die_at_line(0, "out of memory", nullptr);
}

char *copy_text(const char *text)
{
    size_t n = strlen(text) + 1;
    char *copy = static_cast<char *>(malloc(n));
    if (!copy)
        out_of_memory();
    memcpy(copy, text, n);
    return copy;
}

// Variable records and their names are never freed (values are, when an
// override or an append replaces them): they are cut one after another from
// large blocks instead of taking a block each.
constexpr size_t kept_block_size = 65536;
char *kept_next;
size_t kept_room;

void *keep(size_t n)
{
    n = (n + alignof(host_var) - 1) & ~(alignof(host_var) - 1);
    if (n > kept_room) {
        size_t size = n < kept_block_size ? kept_block_size : n;
        kept_next = static_cast<char *>(malloc(size));
        if (!kept_next)
            out_of_memory();
        kept_room = size;
    }
    void *p = kept_next;
    kept_next += n;
    kept_room -= n;
    return p;
}

char *keep_text(const char *text)
{
    size_t n = strlen(text) + 1;
    return static_cast<char *>(memcpy(keep(n), text, n));
}

// The old value immediately followed by the added text, in a new block.
char *join_values(const char *old_value, const char *added)
{
    zostr joined;
    joined.data = nullptr;
    zostr_xdup_cstr(&joined, old_value);
    zostr_xadd_cstr(&joined, added);
    zostr_xadd_char(&joined, 0);
    char *text = joined.data;
    zostr_forget(&joined);
    return text;
}

// Most hosts have a few variables: their lists are searched in order, and
// only a list that grows longer than this gets an index.
constexpr int unindexed_most = 8;

void index_var(var_list *vars, host_var *v)
{
    if (!name_index_add(&vars->index, v->name, strlen(v->name), v))
        out_of_memory();
}

// Indexes v, the newest variable, once the list has become too long to
// search in order; the first time that takes in all of the list.
void index_new_var(var_list *vars, host_var *v)
{
    if (vars->index.slots) {
        index_var(vars, v);
        return;
    }
    int count = 0;
    for (host_var *u = vars->first; u; u = u->next)
        count++;
    if (count > unindexed_most)
        for (host_var *u = vars->first; u; u = u->next)
            index_var(vars, u);
}

void var_append_new(var_list *vars, const char *name, const char *value)
{
    host_var *v = static_cast<host_var *>(keep(sizeof *v));
    v->name = keep_text(name);
    v->value = copy_text(value);
    v->line = config_line;
    v->next = nullptr;
    if (vars->last)
        vars->last->next = v;
    else
        vars->first = v;
    vars->last = v;
    index_new_var(vars, v);
}

// The assignment rules shared by hosts and classes; duplicate names the
// message of a plain assignment to an existing variable.
void var_set(var_list *vars, assign_kind kind, const char *name, const char *value,
             const char *duplicate)
{
    host_var *v = var_find(vars, name, strlen(name));
    if (!v) {
        var_append_new(vars, name, value);
        return;
    }
    char *old_value = v->value;
    switch (kind) {
    case assign_plain:
        die_at_line(0, duplicate, name);
    case assign_append:
        v->value = join_values(old_value, value);
        break;
    case assign_override:
        v->value = copy_text(value);
        break;
    }
    free(old_value);
    v->line = config_line;
}

host_class *class_find(const char *name)
{
    host_class *c = static_cast<host_class *>(name_index_find(&class_names, name, strlen(name)));
    if (!c)
        die_at_line(0, "unknown class", name);
    return c;
}

} // namespace

host_var *var_find(const var_list *vars, const char *name, size_t length)
{
    if (vars->index.slots)
        return static_cast<host_var *>(name_index_find(&vars->index, name, length));
    // The name may hold a NUL byte: only a full match of its length counts.
    // The first bytes, compared first, turn most names away at once.
    char first = length ? name[0] : 0;
    for (host_var *v = vars->first; v; v = v->next)
        if (v->name[0] == first && strncmp(v->name, name, length) == 0 && strlen(v->name) == length)
            return v;
    return nullptr;
}

void host_new(const char *name)
{
    size_t length = strlen(name);
    if (name_index_find(&host_names, name, length))
        die_at_line(0, "duplicate host name", name);
    host *h = static_cast<host *>(calloc(1, sizeof *h));
    if (!h)
        out_of_memory();
    h->name = copy_text(name);
    if (!name_index_add(&host_names, h->name, length, h))
        out_of_memory();
    h->next = host_table;
    host_table = h;
}

void class_new(const char *name)
{
    size_t length = strlen(name);
    if (name_index_find(&class_names, name, length))
        die_at_line(0, "duplicate class name", name);
    host_class *c = static_cast<host_class *>(calloc(1, sizeof *c));
    if (!c)
        out_of_memory();
    c->name = copy_text(name);
    if (!name_index_add(&class_names, c->name, length, c))
        out_of_memory();
    c->next = class_table;
    class_table = c;
}

void host_set(assign_kind kind, const char *name, const char *value)
{
    var_set(&host_table->variables, kind, name, value, "duplicate assignment to host variable");
}

void class_set(assign_kind kind, const char *name, const char *value)
{
    var_set(&class_table->variables, kind, name, value, "duplicate assignment to variable ");
}

// Includes copy the class's values as they are now, through plain
// assignments, so a variable that is already set is a duplicate.
void host_include(const char *class_name)
{
    for (host_var *v = class_find(class_name)->variables.first; v; v = v->next)
        host_set(assign_plain, v->name, v->value);
}

void class_include(const char *class_name)
{
    for (host_var *v = class_find(class_name)->variables.first; v; v = v->next)
        class_set(assign_plain, v->name, v->value);
}
