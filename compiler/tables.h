// The host and class tables: what the configuration says. The grammar fills
// them through the operations below, which enforce the rules on names and
// assignments; record generation reads the hosts afterwards.
//
// Hosts and classes are lists with the newest entry at the head; the head is
// the current entry, which assignments and includes go to. Variables are
// kept in creation order. Every text is a private copy; nothing is freed
// before the process ends, except a value that an append or override
// replaces.
#pragma once

#include "compiler/name_index.h"

#include <cstddef>
#include <cstdint>

enum assign_kind {
    assign_plain,     // "="
    assign_append,    // "+="
    assign_override,  // "override", and every item of a one-line entry
};

struct host_var {
    char *name;
    char *value;
    int32_t line;       // the line counter when the variable was created or last changed
    host_var *next;
};

// The variables of one host or class: the list in creation order and an
// index by name.
struct var_list {
    host_var *first;
    host_var *last;
    name_index index;
};

struct host {
    char *name;         // the key list as written
    var_list variables;
    host *next;
};

struct host_class {
    char *name;
    var_list variables;
    host_class *next;
};

extern host *host_table;          // newest first
extern host_class *class_table;   // newest first

void host_new(const char *name);
void host_set(assign_kind kind, const char *name, const char *value);
void host_include(const char *class_name);
void class_new(const char *name);
void class_set(assign_kind kind, const char *name, const char *value);
void class_include(const char *class_name);

// The variable called name (length bytes, not necessarily terminated), or null.
host_var *var_find(const var_list *vars, const char *name, size_t length);
