// The tables' hash index from names to records.
#include "compiler/name_index.h"

#include <cstdlib>
#include <cstring>

namespace {

uint64_t load64(const char *p)
{
    uint64_t w;
    memcpy(&w, p, sizeof w);
    return w;
}

uint64_t load32(const char *p)
{
    uint32_t w;
    memcpy(&w, p, sizeof w);
    return w;
}

// Folds the 128-bit product of a and b: every input bit reaches every
// output bit.
uint64_t mix(uint64_t a, uint64_t b)
{
    unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}

constexpr uint64_t seed = 0x9E3779B97F4A7C15u;
constexpr uint64_t odd = 0xD6E8FEB86659FD93u;

} // namespace

// Names are short: a name of up to 16 bytes is read in two loads, which may
// overlap, instead of byte by byte; a longer one 8 bytes at a time.
uint32_t name_index_hash(const char *name, size_t length)
{
    uint64_t a, b;
    if (length >= 8) {
        uint64_t h = seed ^ length;
        for (; length > 16; name += 8, length -= 8)
            h = mix(h ^ load64(name), odd);
        a = h ^ load64(name);
        b = load64(name + length - 8);
    } else if (length >= 4) {
        a = load32(name);
        b = load32(name + length - 4) << 32 | length;
    } else if (length > 0) {
        auto byte = [name](size_t i) { return uint64_t{static_cast<unsigned char>(name[i])}; };
        a = byte(0) | byte(length / 2) << 8 | byte(length - 1) << 16;
        b = length;
    } else {
        a = 0;
        b = 0;
    }
    uint64_t h = mix(a ^ seed, b ^ odd);
    return static_cast<uint32_t>(h ^ h >> 32);
}

namespace {

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
    return probe(index->slots, index->capacity, name, length, name_index_hash(name, length))->record;
}

name_index_slot *name_index_slot_for(name_index *index, const char *name, size_t length)
{
    if (length > UINT32_MAX)
        return nullptr;
    uint32_t hash = name_index_hash(name, length);
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
