// entry_index: the index of the names of the hosts or of the classes, for
// the duplicate check and the lookup of a class by name. Entries are
// numbered from 0 in the order they are added; a slot holds a name's hash
// and its entry's number (8 bytes, a third of a slot that carried the name
// and a pointer), and the name itself is read from the entry only when the
// hashes agree. Open addressing, grown by doubling, kept at most half full.
#pragma once

#include <cstdint>
#include <string_view>

struct entry_index {
    uint64_t *slots;      // hash << 32 | (number + 1); 0: empty
    uint32_t capacity;    // a power of two
    uint32_t count;
};

// The name of entry number n, for the comparisons.
typedef std::string_view (*entry_name_fn)(uint32_t n);

// The number of the entry called name, or -1.
int64_t entry_index_find(const entry_index *index, std::string_view name, entry_name_fn name_of);

// Looks for name and, when it is not there, adds it as entry number n.
// Returns the number of the entry found, n when it was added, or -1 when
// memory ran out (the index is then unchanged).
int64_t entry_index_add(entry_index *index, std::string_view name, uint32_t n, entry_name_fn name_of);
