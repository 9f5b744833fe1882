// The hash and the word codec of the database format.
#include "cdb/cdb.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

TEST(CdbHash, KnownValues)
{
    struct Case { std::string_view key; uint32_t hash; };
    const Case cases[] = {
        {"", 5381},
        {"abc", 193409669},         // 0x0B873285, bucket 133
        {"k", 177614},              // 0x0002B5CE, bucket 206
        {std::string_view("\0", 1), 5381u * 33u},
        {"\xff", (5381u * 33u) ^ 0xffu},  // bytes count as unsigned
    };
    for (const Case &c : cases)
        EXPECT_EQ(cdb_hash(c.key.data(), c.key.size()), c.hash) << "key of length " << c.key.size();
    EXPECT_EQ(cdb_hash("abc", 3) % 256, 133u);
    EXPECT_EQ(cdb_hash("k", 1) >> 8, 693u);
}

TEST(CdbHash, WrapsModulo2To32)
{
    // Long keys overflow 32 bits many times; the step is exact modular arithmetic.
    uint64_t h = 5381;
    std::string key(1000, '\xa5');
    for (unsigned char c : key)
        h = ((h * 33) % 4294967296u) ^ c;
    EXPECT_EQ(cdb_hash(key.data(), key.size()), static_cast<uint32_t>(h));

    // Keys of every length up to a few rounds of the loop.
    std::string varied("10.20.30.40-a\xff\x80" "b=c\0d,e;fghij", 28);
    for (size_t n = 0; n <= varied.size(); n++) {
        uint64_t g = 5381;
        for (size_t i = 0; i < n; i++)
            g = ((g * 33) % 4294967296u) ^ static_cast<unsigned char>(varied[i]);
        EXPECT_EQ(cdb_hash(varied.data(), n), static_cast<uint32_t>(g)) << "length " << n;
    }
}

TEST(CdbCodec, LittleEndianWords)
{
    struct Case { uint32_t value; unsigned char bytes[4]; };
    const Case cases[] = {
        {0, {0, 0, 0, 0}},
        {2048, {0x00, 0x08, 0x00, 0x00}},
        {177614, {0xCE, 0xB5, 0x02, 0x00}},
        {0x01020304, {0x04, 0x03, 0x02, 0x01}},
        {0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF}},
        {0x80000001, {0x01, 0x00, 0x00, 0x80}},
    };
    for (const Case &c : cases) {
        unsigned char out[6] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
        cdb_store_u32(out + 1, c.value);
        EXPECT_EQ(out[0], 0xAA);
        EXPECT_EQ(out[5], 0xAA);
        for (int i = 0; i < 4; i++)
            EXPECT_EQ(out[1 + i], c.bytes[i]) << "value " << c.value << " byte " << i;
        EXPECT_EQ(cdb_load_u32(c.bytes), c.value);
    }
}

} // namespace
