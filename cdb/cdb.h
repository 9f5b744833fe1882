// The cdb file format as both programs see it: the key hash and the
// little-endian 32-bit word codec. Everything here is independent of the
// machine's byte order and word size.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

// The layout: a 2048-byte header of 256 (table position, slot count) pairs,
// then the records from offset 2048, then the 256 hash tables.
constexpr uint32_t cdb_header_size = 2048;
constexpr uint32_t cdb_bucket_count = 256;
constexpr uint32_t cdb_hash_start = 5381;

// One step of the key hash: (h * 33 mod 2^32) xor c.
constexpr uint32_t cdb_hash_step(uint32_t h, unsigned char c)
{
    return ((h << 5) + h) ^ c;
}

uint32_t cdb_hash(const void *key, size_t length);

constexpr void cdb_store_u32(unsigned char *p, uint32_t v)
{
    // On a little-endian machine the word's bytes are already in order: one
    // store, which the compiler does not always make of the four below.
    if (!std::is_constant_evaluated() && std::endian::native == std::endian::little) {
        std::memcpy(p, &v, sizeof v);
        return;
    }
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

constexpr uint32_t cdb_load_u32(const unsigned char *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
