// A small, deliberately plain database builder for tests.
#include "tests/support/cdb_builder.h"

#include "cdb/cdb.h"

#include <cstdint>

namespace {

void append_u32(std::string *out, uint32_t v)
{
    unsigned char b[4];
    cdb_store_u32(b, v);
    out->append(reinterpret_cast<const char *>(b), 4);
}

void put_u32(std::string *out, size_t at, uint32_t v)
{
    unsigned char b[4];
    cdb_store_u32(b, v);
    out->replace(at, 4, reinterpret_cast<const char *>(b), 4);
}

struct slot {
    uint32_t hash;
    uint32_t position;
};

} // namespace

std::string build_cdb_with_stray(const std::vector<test_record> &records, const std::string &stray)
{
    std::string out(cdb_header_size, '\0');
    std::vector<std::vector<slot>> buckets(256);
    for (const test_record &r : records) {
        uint32_t h = cdb_hash(r.key.data(), r.key.size());
        buckets[h % 256].push_back({h, static_cast<uint32_t>(out.size())});
        append_u32(&out, static_cast<uint32_t>(r.key.size()));
        append_u32(&out, static_cast<uint32_t>(r.data.size()));
        out += r.key;
        out += r.data;
    }
    out += stray;
    for (uint32_t b = 0; b < 256; b++) {
        const std::vector<slot> &entries = buckets[b];
        uint32_t slots = static_cast<uint32_t>(entries.size() * 2);
        put_u32(&out, 8 * b, static_cast<uint32_t>(out.size()));
        put_u32(&out, 8 * b + 4, slots);
        std::vector<slot> table(slots, slot{0, 0});
        for (const slot &e : entries) {
            uint32_t i = (e.hash >> 8) % slots;
            while (table[i].position != 0)
                i = (i + 1) % slots;
            table[i] = e;
        }
        for (const slot &s : table) {
            append_u32(&out, s.hash);
            append_u32(&out, s.position);
        }
    }
    return out;
}

std::string build_cdb(const std::vector<test_record> &records)
{
    return build_cdb_with_stray(records, "");
}

uint64_t cdb_record_count(const std::string &db)
{
    if (db.size() < cdb_header_size)
        return 0;
    uint64_t slots = 0;
    const unsigned char *header = reinterpret_cast<const unsigned char *>(db.data());
    for (uint32_t b = 0; b < cdb_bucket_count; b++)
        slots += cdb_load_u32(header + 8 * b + 4);
    return slots / 2;
}
