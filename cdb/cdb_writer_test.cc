// The database writer: the exact bytes of whole files built as the compiler
// builds them, lookups in them, and every way the writer ends the process.
#include "cdb/cdb_writer.h"
#include "tests/support/exact_message.h"

#include "lib/die.h"
#include "tests/support/cdb_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The output's end: an in-memory file, or a full disk once sink_full is set.
std::string sink;
bool sink_full;

ssize_t sink_op(int, void *buf, size_t n)
{
    if (sink_full) {
        errno = ENOSPC;
        return -1;
    }
    sink.append(static_cast<const char *>(buf), n);
    return static_cast<ssize_t>(n);
}

void *failing_alloc(size_t)
{
    return nullptr;
}


uint32_t u32_at(const std::string &file, size_t at)
{
    return cdb_load_u32(reinterpret_cast<const unsigned char *>(file.data() + at));
}

std::string u32_bytes(uint32_t v)
{
    unsigned char b[4];
    cdb_store_u32(b, v);
    return std::string(reinterpret_cast<const char *>(b), 4);
}

// A lookup as a reader does it: from the key's starting slot, in probe order,
// until an empty slot or after slot-count slots; every record of the key.
std::vector<std::string> lookup(const std::string &file, const std::string &key)
{
    std::vector<std::string> found;
    uint32_t h = cdb_hash(key.data(), key.size());
    uint32_t table = u32_at(file, 8 * (h % 256));
    uint32_t slots = u32_at(file, 8 * (h % 256) + 4);
    if (slots == 0)
        return found;
    uint32_t i = (h >> 8) % slots;
    for (uint32_t probes = 0; probes < slots; probes++) {
        uint32_t slot_hash = u32_at(file, table + 8 * i);
        uint32_t record = u32_at(file, table + 8 * i + 4);
        if (record == 0)
            break;
        if (slot_hash == h) {
            uint32_t key_length = u32_at(file, record);
            uint32_t data_length = u32_at(file, record + 4);
            if (file.compare(record + 8, key_length, key) == 0 && key_length == key.size())
                found.push_back(file.substr(record + 8 + key_length, data_length));
        }
        i = i + 1 == slots ? 0 : i + 1;
    }
    return found;
}

// A writer and its output set up as the compiler has them after the
// placeholder; finish() completes the file as the compiler does.
class CdbWriter : public testing::Test {
protected:
    void SetUp() override
    {
        sink.clear();
        sink_full = false;
        writer = static_cast<cdb_writer *>(malloc(sizeof *writer));
        cdb_writer_init(writer);
        cdb_the_writer = writer;
        cdb_writer_allocator = malloc;
        begin(-1, sink_op);
    }

    void TearDown() override
    {
        iobuf_free(&out);
        while (writer->chunks != nullptr) {
            cdb_entry_chunk *next = writer->chunks->next;
            free(writer->chunks);
            writer->chunks = next;
        }
        free(writer->sorted);
        free(writer);
    }

    void begin(int fd, iobuf_op op)
    {
        iobuf_init(&out, fd, op, nullptr);
        ASSERT_EQ(iobuf_put(&out, std::string(cdb_header_size, ' ').data(), cdb_header_size),
                  static_cast<ssize_t>(cdb_header_size));
        cdb_position = cdb_header_size;
    }

    void add(const std::string &key, const std::string &data)
    {
        cdb_writer_add(&out, key.data(), static_cast<uint32_t>(key.size()), data.data(),
                       static_cast<uint32_t>(data.size()));
    }

    void add_all(const std::vector<test_record> &records)
    {
        for (const test_record &r : records)
            add(r.key, r.data);
    }

    // The tables and the header over the placeholder; returns the file.
    std::string finish()
    {
        EXPECT_EQ(cdb_writer_prepare(writer, malloc), 1);
        cdb_writer_emit_tables(&out);
        EXPECT_EQ(iobuf_flush(&out), 0);
        EXPECT_EQ(sink.size(), cdb_position);
        sink.replace(0, cdb_header_size, reinterpret_cast<const char *>(writer->header),
                     cdb_header_size);
        return sink;
    }

    cdb_writer *writer;
    iobuf out;
};

using CdbWriterDeathTest = CdbWriter;

TEST_F(CdbWriter, EmptyDatabaseIsTheHeaderAlone)
{
    std::string file = finish();
    ASSERT_EQ(file.size(), 2048u);
    for (uint32_t b = 0; b < 256; b++) {
        EXPECT_EQ(u32_at(file, 8 * b), 2048u) << "bucket " << b;
        EXPECT_EQ(u32_at(file, 8 * b + 4), 0u) << "bucket " << b;
    }
}

TEST_F(CdbWriter, OneRecordByteForByte)
{
    add("k", std::string("a=1\0", 4));
    std::string expected;
    for (uint32_t b = 0; b < 256; b++) {
        uint32_t position = b <= 206 ? 2061 : 2077;
        expected += u32_bytes(position) + u32_bytes(b == 206 ? 2 : 0);
    }
    expected += std::string("\x01\0\0\0\x04\0\0\0k" "a=1\0", 13);
    expected += std::string(8, '\0');
    expected += std::string("\xCE\xB5\x02\x00\x00\x08\x00\x00", 8);
    EXPECT_EQ(finish(), expected);
    EXPECT_EQ(cdb_position, 2077u);
}

TEST_F(CdbWriter, ProbingWrapsFromTheLastSlotToSlotZero)
{
    // Two keys of one bucket whose starting slot in a 4-slot table is 3.
    std::vector<std::string> keys;
    for (int i = 0; keys.size() < 2; i++) {
        std::string key = "key" + std::to_string(i);
        uint32_t h = cdb_hash(key.data(), key.size());
        if ((h >> 8) % 4 == 3 &&
            (keys.empty() || h % 256 == cdb_hash(keys[0].data(), keys[0].size()) % 256))
            keys.push_back(key);
    }
    add(keys[0], "first");
    add(keys[1], "second");
    std::string file = finish();
    uint32_t h0 = cdb_hash(keys[0].data(), keys[0].size());
    uint32_t h1 = cdb_hash(keys[1].data(), keys[1].size());
    uint32_t table = u32_at(file, 8 * (h0 % 256));
    ASSERT_EQ(u32_at(file, 8 * (h0 % 256) + 4), 4u);
    uint32_t second = 2048 + 8 + static_cast<uint32_t>(keys[0].size()) + 5;
    EXPECT_EQ(file.substr(table, 32), u32_bytes(h1) + u32_bytes(second) + std::string(16, '\0') +
                                          u32_bytes(h0) + u32_bytes(2048));
    EXPECT_EQ(file, build_cdb({{keys[0], "first"}, {keys[1], "second"}}));
}

TEST_F(CdbWriter, EqualKeysKeepEveryRecordInOrder)
{
    std::vector<test_record> records = {{"dup", "1"}, {"other", "x"}, {"dup", "2"}, {"dup", ""}};
    add_all(records);
    std::string file = finish();
    EXPECT_EQ(file, build_cdb(records));
    EXPECT_EQ(lookup(file, "dup"), (std::vector<std::string>{"1", "2", ""}));
    EXPECT_EQ(lookup(file, "other"), std::vector<std::string>{"x"});
}

TEST_F(CdbWriter, SecondChunkChangesNothingInTheFile)
{
    std::vector<test_record> records;
    for (int i = 0; i < 1001; i++)
        records.push_back({"host" + std::to_string(i % 700), "n=" + std::to_string(i)});
    add_all(records);
    ASSERT_NE(writer->chunks, nullptr);
    EXPECT_EQ(writer->chunks->used, 1);
    ASSERT_NE(writer->chunks->next, nullptr);
    EXPECT_EQ(writer->chunks->next->used, 1000);
    EXPECT_EQ(writer->chunks->next->next, nullptr);
    EXPECT_EQ(writer->entry_count, 1001u);
    EXPECT_EQ(finish(), build_cdb(records));
}

TEST_F(CdbWriter, RoundTripOfManyRandomRecords)
{
    // Short keys over a small alphabet: many equal keys, crowded buckets,
    // empty keys and data, and bytes of every value in the data.
    std::mt19937 rng(20240611);
    std::vector<test_record> records;
    for (int i = 0; i < 40000; i++) {
        std::string key(rng() % 5, '\0');
        for (char &c : key)
            c = "abcdefg\0\xff"[rng() % 9];
        std::string data(rng() % 3 == 0 ? 0 : rng() % 60, '\0');
        for (char &c : data)
            c = static_cast<char>(rng());
        records.push_back({key, data});
    }
    records.push_back({std::string(5000, 'L'), std::string(9000, 'D')});   // past the buffer
    add_all(records);
    std::string file = finish();
    EXPECT_EQ(file.size(), 2048 + 16 * records.size() + [&] {
        size_t bytes = 0;
        for (const test_record &r : records)
            bytes += 8 + r.key.size() + r.data.size();
        return bytes;
    }());

    std::map<std::string, std::vector<std::string>> expected;
    for (const test_record &r : records)
        expected[r.key].push_back(r.data);
    ASSERT_GT(expected.size(), 1000u);
    ASSERT_LT(expected.size(), records.size());
    for (const auto &[key, datas] : expected)
        ASSERT_EQ(lookup(file, key), datas) << "key of length " << key.size();
    EXPECT_TRUE(lookup(file, "absent!").empty());
    EXPECT_EQ(file, build_cdb(records));
}

TEST_F(CdbWriter, PushEntryLeavesTheIndexAloneWhenTheAllocatorFails)
{
    EXPECT_EQ(cdb_writer_push_entry(writer, 1, 2048, failing_alloc), 0);
    EXPECT_EQ(writer->chunks, nullptr);
    EXPECT_EQ(writer->entry_count, 0u);

    for (uint32_t i = 0; i < 1000; i++)
        ASSERT_EQ(cdb_writer_push_entry(writer, i, 2048 + 8 * i, malloc), 1);
    cdb_entry_chunk *full = writer->chunks;
    EXPECT_EQ(cdb_writer_push_entry(writer, 7, 9999, failing_alloc), 0);
    EXPECT_EQ(writer->chunks, full);
    EXPECT_EQ(full->used, 1000);
    EXPECT_EQ(full->next, nullptr);
    EXPECT_EQ(writer->entry_count, 1000u);
    EXPECT_EQ(full->entries[999].hash, 999u);
    EXPECT_EQ(full->entries[999].position, 2048u + 8 * 999);
}

TEST_F(CdbWriterDeathTest, AddWithoutMemoryForAChunk)
{
    EXPECT_EXIT(
        {
            cdb_writer_allocator = failing_alloc;
            add("k", "v");
        },
        testing::ExitedWithCode(111), exactly("out of memory\n"));
    // The second chunk: the first 1000 records fit in the one chunk allowed.
    EXPECT_EXIT(
        {
            cdb_writer_allocator = [](size_t size) -> void * {
                static int calls;
                return ++calls == 1 ? malloc(size) : nullptr;
            };
            for (int i = 0; i < 1000; i++)
                add(std::string("k").append(std::to_string(i)), "");
            fputs("1000 added\n", stderr);
            add("one more", "");
        },
        testing::ExitedWithCode(111), exactly("1000 added\nout of memory\n"));
}

TEST_F(CdbWriter, PrepareFailsWhenTheAllocatorDoes)
{
    add("k", "v");
    EXPECT_EQ(cdb_writer_prepare(writer, failing_alloc), 0);
    EXPECT_EQ(writer->sorted, nullptr);
}

TEST_F(CdbWriter, WorkPlacesAreTheLargestTableAndTheEntries)
{
    struct Case { uint32_t largest_count; uint32_t entry_count; uint64_t places; };
    const Case cases[] = {
        {0, 0, 1},
        {1, 1, 3},
        {3, 10, 16},
        {0x0AAAAAAA, 0x0AAAAAAB, 0x1FFFFFFF},   // the largest allowed
        {0x0AAAAAAA, 0x0AAAAAAC, 0x20000000},
        {0x80000000, 0x80000000, 0x180000000},  // would wrap in 32 bits
        {0xFFFFFFFF, 0xFFFFFFFF, 0x2FFFFFFFD},
    };
    for (const Case &c : cases) {
        std::fill(std::begin(writer->bucket_count), std::end(writer->bucket_count), 1);
        writer->bucket_count[77] = c.largest_count;
        if (c.largest_count == 0)
            std::fill(std::begin(writer->bucket_count), std::end(writer->bucket_count), 0);
        writer->entry_count = c.entry_count;
        EXPECT_EQ(cdb_writer_work_places(writer), c.places) << "largest " << c.largest_count;
    }
}

// Records the size that prepare asks for, and gives nothing.
size_t asked_for;
void *recording_alloc(size_t size)
{
    asked_for = size;
    return nullptr;
}

TEST_F(CdbWriter, PrepareRefusesMoreThan32BitsOfPlaces)
{
    // An index that claims more entries than its chunks hold: the bound is
    // decided before any entry is touched.
    writer->entry_count = cdb_writer_max_places - 1;
    asked_for = 0;
    EXPECT_EQ(cdb_writer_prepare(writer, recording_alloc), 0);
    EXPECT_EQ(asked_for, 0xFFFFFFF8u);

    writer->entry_count = cdb_writer_max_places;
    asked_for = 0;
    EXPECT_EQ(cdb_writer_prepare(writer, recording_alloc), 0);
    EXPECT_EQ(asked_for, 0u);
    EXPECT_EQ(writer->sorted, nullptr);
    writer->entry_count = 0;
}

TEST_F(CdbWriterDeathTest, RecordsEndAtTheLastOffsetAtMost)
{
    struct Case { uint32_t start; uint32_t key_length; uint32_t data_length; bool accepted; };
    const Case cases[] = {
        {0xFFFFFFF7, 0, 0, true},
        {0xFFFFFFF8, 0, 0, false},           // the head alone passes the limit
        {0xFFFFFFFF - 8 - 5, 5, 0, true},
        {0xFFFFFFFF - 8 - 4, 5, 0, false},   // the key passes it
        {0xFFFFFFFF - 8 - 1 - 4, 1, 4, true},
        {0xFFFFFFFF - 8 - 1 - 3, 1, 4, false},   // the data passes it
        {0xFFFFFFFF, 0, 0, false},
    };
    for (const Case &c : cases) {
        std::string key(c.key_length, 'k');
        std::string data(c.data_length, 'd');
        SCOPED_TRACE(testing::Message() << "start " << c.start << " key " << c.key_length
                                        << " data " << c.data_length);
        cdb_position = c.start;
        if (c.accepted) {
            add(key, data);
            EXPECT_EQ(cdb_position, 0xFFFFFFFFu);
            EXPECT_EQ(writer->chunks->entries[writer->chunks->used - 1].position, c.start);
        } else {
            EXPECT_EXIT(
                {
                    die_init("/usr/sbin/PROG");
                    add(key, data);
                },
                testing::ExitedWithCode(1), exactly("PROG: database too large\n"));
        }
    }
}

TEST_F(CdbWriterDeathTest, SlotsEndAtTheLastOffsetAtMost)
{
    // A file on disk: what reached it shows how many slots were put before
    // the end, with the position moved near the limit before the tables.
    char path[] = "/tmp/cdb_writer_test.XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    unlink(path);
    iobuf_free(&out);
    begin(fd, iobuf_write_op);
    // 600 slots in one table, then 2 in another: the batches of a table
    // and the step from one table to the next are both crossed.
    for (int i = 0; i < 300; i++)
        add("x", "");
    add("y", "");
    ASSERT_NE(cdb_hash("x", 1) % 256, cdb_hash("y", 1) % 256);
    const uint32_t record_end = cdb_position;
    ASSERT_EQ(cdb_writer_prepare(writer, malloc), 1);
    const off_t flushed = lseek(fd, 0, SEEK_CUR);
    ASSERT_EQ(flushed, 4096);

    // Around `edge` the slots put complete the second buffer: one slot more
    // or less than the rule puts changes the file's size there.
    const uint32_t edge = (2 * 4096 - record_end) / 8;
    for (uint32_t fitting : {0u, 1u, 2u, edge - 1, edge, edge + 1, 511u, 512u, 513u, 601u}) {
        SCOPED_TRACE(testing::Message() << fitting << " slots fit");
        // Each run starts from the records' state; the descriptor's offset is
        // shared with the process that ran before.
        ASSERT_EQ(ftruncate(fd, flushed), 0);
        ASSERT_EQ(lseek(fd, flushed, SEEK_SET), flushed);
        EXPECT_EXIT(
            {
                die_init("PROG");
                cdb_position = 0xFFFFFFFF - 8 * fitting - 7;
                cdb_writer_emit_tables(&out);
            },
            testing::ExitedWithCode(1), exactly("PROG: database too large\n"));
        // The slot that passes the limit is put too; the output writes only
        // full buffers, so the file ends at the last one of them.
        uint64_t put = record_end + 8 * (fitting + 1);
        struct stat st;
        ASSERT_EQ(fstat(fd, &st), 0);
        EXPECT_EQ(static_cast<uint64_t>(st.st_size), put / 4096 * 4096);
    }

    cdb_position = 0xFFFFFFFF - 8 * 602;
    cdb_writer_emit_tables(&out);
    EXPECT_EQ(cdb_position, 0xFFFFFFFFu);
    close(fd);
}

TEST_F(CdbWriterDeathTest, FailedWritesAreFatal)
{
    // While records are written: a key larger than the buffer's room makes
    // the output write at once.
    EXPECT_EXIT(
        {
            die_init("PROG");
            sink_full = true;
            add(std::string(3000, 'k'), "v");
        },
        testing::ExitedWithCode(1), exactly("PROG: unable to write: No space left on device\n"));
    // While the tables are written: the records went out before the disk
    // filled.
    EXPECT_EXIT(
        {
            die_init("PROG");
            for (int i = 0; i < 1000; i++)
                add("host" + std::to_string(i), "a=1");
            if (sink.empty())
                _exit(3);
            sink_full = true;
            if (cdb_writer_prepare(writer, malloc) != 1)
                _exit(4);
            cdb_writer_emit_tables(&out);
            _exit(5);
        },
        testing::ExitedWithCode(1), exactly("PROG: unable to write: No space left on device\n"));
}

} // namespace
