// The tables' hash index from names to records.
#include "compiler/name_index.h"

#include <cstdlib>
#include <cstring>

namespace {

// FNV-1a: cheap, and good enough spread for names written by people.
uint32_t name_hash(const char *name, size_t length)
{
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < length; i++)
        h = (h ^ static_cast<unsigned char>(name[i])) * 16777619u;
    return h;
}

name_index_slot *probe(name_index_slot *slots, uint32_t capacity, const char *name, size_t length,
                       uint32_t hash)
{
    uint32_t i = hash & (capacity - 1);
    for (;;) {
        name_index_slot *s = &slots[i];
        if (!s->name || (s->hash == hash && s->length == length && memcmp(s->name, name, length) == 0))
            return s;
        i = (i + 1) & (capacity - 1);
    }
}

// Doubles the table, or makes the first one.
int grow(name_index *index)
{
    uint32_t capacity = index->capacity ? index->capacity * 2 : 16;
    if (capacity < index->capacity)
        return 0;
    name_index_slot *slots = static_cast<name_index_slot *>(calloc(capacity, sizeof *slots));
    if (!slots)
        return 0;
    for (uint32_t i = 0; i < index->capacity; i++) {
        const name_index_slot &old = index->slots[i];
        if (old.name)
            *probe(slots, capacity, old.name, old.length, old.hash) = old;
    }
    free(index->slots);
    index->slots = slots;
    index->capacity = capacity;
    return 1;
}

} // namespace

void *name_index_find(const name_index *index, const char *name, size_t length)
{
    if (!index->slots)
        return nullptr;
    return probe(index->slots, index->capacity, name, length, name_hash(name, length))->record;
}

name_index_slot *name_index_slot_for(name_index *index, const char *name, size_t length)
{
    if (length > UINT32_MAX)
        return nullptr;
    uint32_t hash = name_hash(name, length);
    name_index_slot *s = nullptr;
    if (index->slots) {
        s = probe(index->slots, index->capacity, name, length, hash);
        if (s->name)
            return s;
    }
    // Kept at most half full.
    if (2 * (static_cast<uint64_t>(index->count) + 1) > index->capacity) {
        if (!grow(index))
            return nullptr;
        s = probe(index->slots, index->capacity, name, length, hash);
    }
    *s = {name, static_cast<uint32_t>(length), hash, nullptr};
    index->count++;
    return s;
}

int name_index_add(name_index *index, const char *name, size_t length, void *record)
{
    name_index_slot *s = name_index_slot_for(index, name, length);
    if (!s)
        return 0;
    s->record = record;
    return 1;
}
