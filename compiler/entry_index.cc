// The index of the names of hosts or classes.
#include "compiler/entry_index.h"

#include "compiler/name_index.h"
#include "lib/pages.h"

#include <cstdlib>

namespace {

constexpr uint64_t slot(uint32_t hash, uint32_t n)
{
    return uint64_t{hash} << 32 | (uint64_t{n} + 1);
}

uint32_t slot_hash(uint64_t s)
{
    return static_cast<uint32_t>(s >> 32);
}

uint32_t slot_number(uint64_t s)
{
    return static_cast<uint32_t>(s) - 1;
}

// The place of the slot that holds name, or of the empty slot where it
// would go.
uint32_t probe(const entry_index *index, std::string_view name, uint32_t hash, entry_name_fn name_of)
{
    uint32_t mask = index->capacity - 1;
    for (uint32_t i = hash & mask;; i = (i + 1) & mask) {
        uint64_t s = index->slots[i];
        if (!s || (slot_hash(s) == hash && name_of(slot_number(s)) == name))
            return i;
    }
}

// Doubles the table, or makes the first one. The names need not be read:
// every slot keeps its hash.
int grow(entry_index *index)
{
    uint32_t capacity = index->capacity ? index->capacity * 2 : 64;
    if (capacity < index->capacity)
        return 0;
    auto *slots = static_cast<uint64_t *>(calloc(capacity, sizeof(uint64_t)));
    if (!slots)
        return 0;
    pages_prepare(slots, capacity * sizeof(uint64_t));
    for (uint32_t i = 0; i < index->capacity; i++) {
        uint64_t s = index->slots[i];
        if (!s)
            continue;
        uint32_t j = slot_hash(s) & (capacity - 1);
        while (slots[j])
            j = (j + 1) & (capacity - 1);
        slots[j] = s;
    }
    free(index->slots);
    index->slots = slots;
    index->capacity = capacity;
    return 1;
}

} // namespace

int64_t entry_index_find(const entry_index *index, std::string_view name, entry_name_fn name_of)
{
    if (!index->slots)
        return -1;
    uint64_t s = index->slots[probe(index, name, name_index_hash(name.data(), name.size()), name_of)];
    return s ? int64_t{slot_number(s)} : -1;
}

int64_t entry_index_add(entry_index *index, std::string_view name, uint32_t n, entry_name_fn name_of)
{
    uint32_t hash = name_index_hash(name.data(), name.size());
    // A name that is there needs no room: it is looked for before the table
    // grows, and else the search finds the empty slot where it goes.
    if (2 * (uint64_t{index->count} + 1) > index->capacity) {
        if (index->slots) {
            uint64_t s = index->slots[probe(index, name, hash, name_of)];
            if (s)
                return slot_number(s);
        }
        if (!grow(index))
            return -1;
    }
    uint64_t *s = &index->slots[probe(index, name, hash, name_of)];
    if (*s)
        return slot_number(*s);
    *s = slot(hash, n);
    index->count++;
    return n;
}
