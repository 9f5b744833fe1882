// corvane_make on configurations too large to write out as case files: the
// parser's stack limit, and a configuration of many statements.
#include "tests/support/run_process.h"

#include <gtest/gtest.h>

#include <string>

namespace {

process_result compile(const std::string &config, std::string *installed)
{
    std::string dir = make_temp_dir();
    write_file(dir + "/config", config);
    process_spec spec;
    spec.path = CORVANE_MAKE_PATH;
    spec.argv = {"corvane_make", "data.cdb", "data.tmp", "config"};
    spec.dir = dir;
    process_result r = run_process(spec);
    bool ok = false;
    *installed = read_file(dir + "/data.cdb", &ok);
    if (!ok)
        installed->clear();
    remove_tree(dir);
    return r;
}

// Every finished top-level statement holds one stack entry until the end of
// the input; the stack holds 10000 entries at most.
TEST(CompilerVolume, StackLimit)
{
    std::string installed;
    std::string statements;
    for (int i = 0; i < 5000; i++)
        statements += "client h" + std::to_string(i) + " { a = " + std::to_string(i) + "; }\n";
    process_result r = compile(statements, &installed);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_GT(installed.size(), 2048u + 5000u * 16);

    r = compile(std::string(10000, ';') + "\n", &installed);
    EXPECT_EQ(r.err, "corvane_make: parser stack overflow: before `; ', last symbol was ; at line 1\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(installed, "");

    // At the end of the input the empty rest of the sequence takes one more
    // entry: 9997 statements fit, 9998 overflow there.
    r = compile(std::string(9997, ';') + "\n", &installed);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(installed.size(), 2048u);
    r = compile(std::string(9998, ';') + "\n", &installed);
    EXPECT_EQ(r.err, "corvane_make: parser stack overflow: error before end of file at line 2\n");
    EXPECT_EQ(r.status, 1);
}

} // namespace
