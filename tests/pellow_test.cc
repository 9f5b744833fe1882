// pellow on databases larger than its buffers, through a pipe and from a
// file: the output must not depend on how the input arrives.
#include "tests/support/cdb_builder.h"
#include "tests/support/run_process.h"

#include <gtest/gtest.h>

namespace {

TEST(PellowVolume, ManyRecordsThroughPipeAndFile)
{
    std::vector<test_record> records;
    std::string expected;
    for (int i = 0; i < 20000; i++) {
        std::string key = "host" + std::to_string(i);
        // Values of varying length, some longer than the 64 KiB blocks.
        std::string value(static_cast<size_t>(i % 97) * (i % 1000 == 0 ? 1500 : 3), 'v');
        records.push_back({key, "a=" + value + '\0' + "b=x=" + std::to_string(i) + '\0'});
        expected += "client " + key + " {\n  a=\"" + value + "\";\n  b=\"x=" + std::to_string(i) +
                    "\";\n  }\n";
    }
    std::string db = build_cdb(records);
    ASSERT_GT(db.size(), 3u * 65536);
    for (bool pipe : {true, false}) {
        process_setup setup;
        setup.path = PELLOW_PATH;
        setup.argv = {"pellow"};
        setup.stdin_data = db;
        setup.stdin_pipe = pipe;
        process_result r = run_process(setup);
        EXPECT_EQ(r.status, 0) << "pipe " << pipe;
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(r.out == expected) << "pipe " << pipe << ": output differs";
    }
}

} // namespace
