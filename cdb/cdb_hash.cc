// The key hash of the database format.
#include "cdb/cdb.h"

uint32_t cdb_hash(const void *key, size_t length)
{
    const unsigned char *p = static_cast<const unsigned char *>(key);
    uint32_t h = cdb_hash_start;
    for (size_t i = 0; i < length; i++)
        h = cdb_hash_step(h, p[i]);
    return h;
}

static_assert(cdb_hash_step(cdb_hash_start, 'a') == ((5381u * 33u) ^ 'a'));
