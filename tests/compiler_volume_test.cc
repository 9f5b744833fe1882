// corvane_make on configurations too large to write out as case files: any
// number of entries, and the parser's stack limit inside one entry.
#include "tests/support/cdb_builder.h"
#include "tests/support/compile_config.h"

#include <gtest/gtest.h>

#include <string>

namespace {

compiled compile(const std::string &config)
{
    return compile_config(CORVANE_MAKE_PATH, config);
}

// A finished statement leaves nothing on the parser's stack: the number of
// entries is limited by memory alone.
TEST(CompilerVolume, MillionOneLineEntries)
{
    std::string config;
    const int entries = 1000000;
    for (int i = 0; i < entries; i++)
        config.append("h").append(std::to_string(i)).append(": a(").append(std::to_string(i)).append(")\n");
    compiled c = compile(config);
    EXPECT_EQ(c.result.err, "");
    ASSERT_EQ(c.result.status, 0);
    EXPECT_EQ(cdb_record_count(c.db), uint64_t{entries});
    // The newest entry's record comes first: key "h999999", data "a=999999".
    std::string first = c.db.substr(2048 + 8, 7 + 9);
    EXPECT_EQ(first, std::string("h999999a=999999\0", 16));
}

TEST(CompilerVolume, StraySemicolons)
{
    for (int n : {10000, 100000}) {
        compiled c = compile(std::string(n, ';') + "\n");
        EXPECT_EQ(c.result.err, "") << n;
        EXPECT_EQ(c.result.status, 0) << n;
        EXPECT_EQ(c.db.size(), 2048u) << n;
    }
}

// Every finished assignment of the block being read holds two stack
// entries until the block ends, and the stack holds 10000: 4995 fit, 4996
// overflow, however many entries came before.
std::string block(int assignments)
{
    std::string b = "client h {";
    for (int i = 0; i < assignments; i++)
        b.append(" a").append(std::to_string(i)).append(" = 1;");
    return b + " }\n";
}

TEST(CompilerVolume, StackLimitCountsOneEntry)
{
    std::string before;
    for (int i = 0; i < 50000; i++)
        before.append("client e").append(std::to_string(i)).append(" { a = 1; }\n");
    for (const std::string &prefix : {std::string(), before}) {
        compiled c = compile(prefix + block(4995));
        EXPECT_EQ(c.result.err, "");
        EXPECT_EQ(c.result.status, 0);

        c = compile(prefix + block(4996));
        std::string line = prefix.empty() ? "1" : "50001";
        EXPECT_EQ(c.result.err, "corvane_make: parser stack overflow: before ` 1; } ', last symbol was = at line " +
                                    line + "\n");
        EXPECT_EQ(c.result.status, 1);
        EXPECT_EQ(c.db, "");
    }
}

// The same limit for every kind of entry and list: an assignment's tokens
// are on the stack until it is complete (an override's four of them, one
// more than the others, when its value is not quoted on its line), and
// every name of an include list followed by a comma holds three entries.
// The grammar may be rewritten, but the stack must fill where it always did.
TEST(CompilerVolume, StackLimitOfEveryList)
{
    auto assignments = [](const std::string &keyword, int n, bool last_override, bool quoted = false) {
        std::string b = keyword + " h {";
        for (int i = 0; i < n; i++)
            b.append(last_override && i == n - 1 ? " override a" : " a")
                .append(std::to_string(i))
                .append(quoted ? " = \"1\";" : " = 1;");
        return b + " }\n";
    };
    auto includes = [](const std::string &keyword, int n) {
        std::string c = "class e;\n" + keyword + " h : e";
        for (int i = 1; i < n; i++)
            c += ", e";
        return c + " { x = 1; }\n";
    };
    const std::string overflow = "corvane_make: parser stack overflow: before ";
    struct Case { std::string config; std::string err; };
    const Case cases[] = {
        {assignments("class", 4995, false), ""},
        {assignments("class", 4996, false), overflow + "` 1; } ', last symbol was = at line 1\n"},
        {assignments("client", 4994, true), ""},
        {assignments("client", 4995, true), overflow + "`; } ', last symbol was string at line 1\n"},
        {assignments("class", 4995, true), overflow + "`; } ', last symbol was string at line 1\n"},
        // A quoted value on the name's line makes the assignment one token
        // (the lexer's ASSIGN): as many fit, an override's among them, and
        // the stack fills at the last ";" (an override's: at its value).
        {assignments("client", 4995, false, true), ""},
        {assignments("client", 4996, false, true), overflow + "` } ', last symbol was ; at line 1\n"},
        {assignments("class", 4996, false, true), overflow + "` } ', last symbol was ; at line 1\n"},
        {assignments("client", 4995, true, true), ""},
        {assignments("client", 4996, true, true), overflow + "`; } ', last symbol was \"string\" at line 1\n"},
        {includes("client", 3331), ""},
        {includes("class", 3331), ""},
        {includes("client", 3332), overflow + "` e { x = 1; } ', last symbol was , at line 2\n"},
        {includes("class", 3332), overflow + "` e { x = 1; } ', last symbol was , at line 2\n"},
    };
    for (const Case &c : cases) {
        compiled r = compile(c.config);
        EXPECT_EQ(r.result.err, c.err) << c.config.substr(0, 40);
        EXPECT_EQ(r.result.status, c.err.empty() ? 0 : 1) << c.config.substr(0, 40);
    }
}

} // namespace
