// The key hash of the database format.
#include "cdb/cdb.h"

uint32_t cdb_hash(const void *key, size_t length)
{
    const unsigned char *p = static_cast<const unsigned char *>(key);
    uint32_t h = cdb_hash_start;
    // Every step waits for the one before; four to a round spare the loop's
    // own work, which costs as much as a step.
    size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        h = cdb_hash_step(h, p[i]);
        h = cdb_hash_step(h, p[i + 1]);
        h = cdb_hash_step(h, p[i + 2]);
        h = cdb_hash_step(h, p[i + 3]);
    }
    for (; i < length; i++)
        h = cdb_hash_step(h, p[i]);
    return h;
}

static_assert(cdb_hash_step(cdb_hash_start, 'a') == ((5381u * 33u) ^ 'a'));
