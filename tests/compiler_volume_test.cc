// corvane_make on configurations too large to write out as case files: the
// parser's stack limit, and a configuration of many statements.
#include "tests/support/compile_config.h"

#include <gtest/gtest.h>

#include <string>

namespace {

compiled compile(const std::string &config)
{
    return compile_config(CORVANE_MAKE_PATH, config);
}

// Every finished top-level statement holds one stack entry until the end of
// the input; the stack holds 10000 entries at most.
TEST(CompilerVolume, StackLimit)
{
    std::string statements;
    for (int i = 0; i < 5000; i++)
        statements += "client h" + std::to_string(i) + " { a = " + std::to_string(i) + "; }\n";
    compiled c = compile(statements);
    EXPECT_EQ(c.result.err, "");
    EXPECT_EQ(c.result.status, 0);
    EXPECT_GT(c.db.size(), 2048u + 5000u * 16);

    c = compile(std::string(10000, ';') + "\n");
    EXPECT_EQ(c.result.err, "corvane_make: parser stack overflow: before `; ', last symbol was ; at line 1\n");
    EXPECT_EQ(c.result.status, 1);
    EXPECT_EQ(c.db, "");

    // At the end of the input the empty rest of the sequence takes one more
    // entry: 9997 statements fit, 9998 overflow there.
    c = compile(std::string(9997, ';') + "\n");
    EXPECT_EQ(c.result.err, "");
    EXPECT_EQ(c.result.status, 0);
    EXPECT_EQ(c.db.size(), 2048u);
    c = compile(std::string(9998, ';') + "\n");
    EXPECT_EQ(c.result.err, "corvane_make: parser stack overflow: error before end of file at line 2\n");
    EXPECT_EQ(c.result.status, 1);
}

} // namespace
