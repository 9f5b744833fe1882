// The index by name of a long list of variables.
#include "compiler/var_index.h"

#include "compiler/name_index.h"
#include "compiler/tables.h"

#include <cstdlib>

namespace {

bool in_use(const var_index *index, const var_index_slot *s)
{
    return s->generation == index->generation;
}

// The slot that holds name, or the empty slot where it would go.
var_index_slot *probe(const var_index *index, std::string_view name, uint32_t hash)
{
    uint32_t mask = index->capacity - 1;
    for (uint32_t i = hash & mask;; i = (i + 1) & mask) {
        var_index_slot *s = &index->slots[i];
        if (!in_use(index, s) || (s->hash == hash && s->var->name == name))
            return s;
    }
}

// Doubles the table, or makes the first one; the records of the current
// generation move over, and the new table starts a generation of its own.
int grow(var_index *index)
{
    uint32_t capacity = index->capacity ? index->capacity * 2 : 32;
    if (capacity < index->capacity)
        return 0;
    auto *slots = static_cast<var_index_slot *>(calloc(capacity, sizeof(var_index_slot)));
    if (!slots)
        return 0;
    var_index grown{slots, capacity, index->count, 1};
    for (uint32_t i = 0; i < index->capacity; i++) {
        const var_index_slot &old = index->slots[i];
        if (in_use(index, &old))
            *probe(&grown, old.var->name, old.hash) = {old.var, old.hash, grown.generation};
    }
    free(index->slots);
    *index = grown;
    return 1;
}

} // namespace

host_var *var_index_find(const var_index *index, std::string_view name)
{
    if (!index->slots)
        return nullptr;
    const var_index_slot *s = probe(index, name, name_index_hash(name.data(), name.size()));
    return in_use(index, s) ? s->var : nullptr;
}

int var_index_add(var_index *index, host_var *v)
{
    // Kept at most half full.
    if (2 * (uint64_t{index->count} + 1) > index->capacity && !grow(index))
        return 0;
    uint32_t hash = name_index_hash(v->name.data(), v->name.size());
    *probe(index, v->name, hash) = {v, hash, index->generation};
    index->count++;
    return 1;
}

void var_index_clear(var_index *index)
{
    index->count = 0;
    // Slots that still carry the next generation from long ago would count
    // as in use: when the counter wraps, the table is emptied for real.
    if (++index->generation == 0) {
        for (uint32_t i = 0; i < index->capacity; i++)
            index->slots[i].generation = 0;
        index->generation = 1;
    }
}
