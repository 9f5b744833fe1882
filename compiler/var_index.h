// var_index: the index by name of a long list of variables, for the lookups
// of assignments and references. Open addressing over the variable records
// themselves (a slot holds the record and its name's hash), grown by
// doubling; records are never removed one by one.
//
// An index is emptied at no cost, by moving on to its next generation:
// slots of an older generation count as empty. The tables keep one index
// for the current host and empty it for the next host, instead of building
// and dropping one for every host.
#pragma once

#include <cstdint>
#include <string_view>

struct host_var;

struct var_index_slot {
    host_var *var;
    uint32_t hash;
    uint32_t generation;   // the slot is in use when this is the index's
};

struct var_index {
    var_index_slot *slots;   // null until the first insertion
    uint32_t capacity;       // a power of two
    uint32_t count;          // records of the current generation
    uint32_t generation;     // from 1
};

// The variable called name, or null.
host_var *var_index_find(const var_index *index, std::string_view name);

// Adds v, whose name the index must not hold yet. Returns 0 when memory
// runs out (the index is then unchanged).
int var_index_add(var_index *index, host_var *v);

// Empties the index; its slots stay for the next records.
void var_index_clear(var_index *index);
