// name_index: a hash index from names to the records that carry them, for
// the tables' duplicate checks and lookups. Open addressing, grown by
// doubling; records are never removed.
#pragma once

#include <cstddef>
#include <cstdint>

struct name_index_slot {
    const char *name;    // the record's own name (not copied); null: empty slot
    uint32_t length;
    uint32_t hash;
    void *record;
};

struct name_index {
    name_index_slot *slots;   // null until the first insertion
    uint32_t capacity;        // a power of two
    uint32_t count;
};

// The hash of a name, also used by the variables' index (var_index.h).
uint32_t name_index_hash(const char *name, size_t length);

// The record stored under the name of length bytes, or null.
void *name_index_find(const name_index *index, const char *name, size_t length);

// The slot of the name: the one that holds it, or else a new one that holds
// the name (which must stay alive and unchanged) and a null record, for the
// caller to fill in. Null when memory runs out; nothing is allocated when
// the name is there already.
name_index_slot *name_index_slot_for(name_index *index, const char *name, size_t length);

// Stores record under name (which must stay alive and unchanged); the name
// must not be in the index yet. Returns 0 when memory runs out.
int name_index_add(name_index *index, const char *name, size_t length, void *record);
