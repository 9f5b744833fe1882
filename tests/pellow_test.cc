// pellow on databases larger than its buffers, through a pipe and from a
// file: the output must not depend on how the input arrives.
#include "tests/support/cdb_builder.h"
#include "tests/support/record_rule.h"
#include "tests/support/run_process.h"

#include <gtest/gtest.h>

namespace {

process_result run_pellow(const std::string &db, bool pipe)
{
    process_setup setup;
    setup.path = PELLOW_PATH;
    setup.argv = {"pellow"};
    setup.stdin_data = db;
    setup.stdin_pipe = pipe;
    return run_process(setup);
}

TEST(PellowVolume, ManyRecordsThroughPipeAndFile)
{
    std::vector<test_record> records;
    std::string expected;
    for (int i = 0; i < 20000; i++) {
        std::string key = "host" + std::to_string(i);
        // Values of varying length, some longer than the blocks read and
        // written (128 KiB).
        std::string value(static_cast<size_t>(i % 97) * (i % 1000 == 0 ? 3000 : 3), 'v');
        records.push_back({key, "a=" + value + '\0' + "b=x=" + std::to_string(i) + '\0'});
        expected += "client " + key + " {\n  a=\"" + value + "\";\n  b=\"x=" + std::to_string(i) +
                    "\";\n  }\n";
    }
    std::string db = build_cdb(records);
    ASSERT_GT(db.size(), 3u * 131072);
    for (bool pipe : {true, false}) {
        process_result r = run_pellow(db, pipe);
        EXPECT_EQ(r.status, 0) << "pipe " << pipe;
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(r.out == expected) << "pipe " << pipe << ": output differs";
    }
}

// A file is read in blocks from its start, so a record that ends a few bytes
// before a block's end puts the next record's head, key or data across it;
// the same for larger blocks. Records with the data of the one before follow
// each place, then one with other data.
TEST(PellowVolume, RecordsAcrossTheEndsOfBlocks)
{
    const std::string data = "pool=range-7\0boot=ipxe.efi\0lease=3600\0";
    for (size_t before_end = 0; before_end <= 40; before_end++) {
        std::vector<test_record> records;
        size_t at = 2048;
        for (size_t block_end : {65536, 131072, 262144}) {
            // A filler record "fill" of data "x=v...v\0" up to the place.
            records.push_back({"fill", "x=" + std::string(block_end - before_end - at - 15, 'v') + '\0'});
            at = block_end - before_end;
            for (const char *key : {"10.0.0.1", "10.0.0.2", "10.0.0.3"})
                records.push_back({key, data});
            records.push_back({"10.0.0.4", "other=" + std::to_string(block_end) + '\0'});
            for (size_t i = records.size() - 4; i < records.size(); i++)
                at += 8 + records[i].key.size() + records[i].data.size();
        }
        std::string expected;
        for (const test_record &r : records)
            expected += record_rule_text(r.key, r.data);
        std::string db = build_cdb(records);
        for (bool pipe : {false, true}) {
            process_result r = run_pellow(db, pipe);
            EXPECT_EQ(r.status, 0) << before_end << " before the end, pipe " << pipe;
            EXPECT_EQ(r.err, "");
            EXPECT_TRUE(r.out == expected) << before_end << " before the end, pipe " << pipe << ": output differs";
        }
    }
}

} // namespace
