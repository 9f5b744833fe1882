// The history of every assignment, kept only when a key is to be explained
// (corvane_make --explain): which variable was set, how, on which line, and
// for an include which class variable it copied. A compile keeps none of
// it; the tables then cost what they cost without it.
#pragma once

#include "lib/zarray.h"

#include <cstdint>

struct host_var;

enum assign_event_kind : uint8_t {
    event_set,        // the variable was created, by "=", "+=", "override" or an item
    event_append,     // "+=" on a variable that was there
    event_override,   // "override" (or an item) on a variable that was there
    event_include,    // created by an include, as a copy of source
};

struct assign_event {
    const host_var *var;
    const host_var *source;   // event_include: the class's variable
    int64_t line;
    assign_event_kind kind;
};

// Set by the driver before parsing when a key is to be explained.
extern bool assign_trace_on;

// The events in the order of the assignments; filled by the tables.
extern zarray<assign_event> assign_trace;
