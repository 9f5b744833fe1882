// corvane_make on hostile configurations too large to commit as case files:
// include lists at the parser's stack limit, megabyte lines and tokens,
// exponential references and huge network lists. Each either compiles to the
// database it describes or ends with its one message and status; none may
// crash, hang or run away with memory.
#include "tests/support/case_file.h"
#include "tests/support/cdb_builder.h"
#include "tests/support/compile_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

compiled compile(const std::string &config)
{
    return compile_config(CORVANE_MAKE_PATH, config);
}

std::string dump(const std::string &db)
{
    process_result r = dump_database(PELLOW_PATH, db);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

void expect_failure(const compiled &c, const std::string &err)
{
    EXPECT_EQ(c.result.signal, 0);
    EXPECT_EQ(c.result.err, err);
    EXPECT_EQ(c.result.status, 1);
    EXPECT_EQ(c.db, "");
}

// Every class name of an include list followed by a comma holds three stack
// entries until the list ends; the stack holds 10000.
std::string include_list(int n)
{
    std::string c = "class e;\nclient h : e";
    for (int i = 1; i < n; i++)
        c += ", e";
    return c + " { x = 1; }\n";
}

TEST(HostileConfig, IncludeListsAtTheStackLimit)
{
    compiled fits = compile(include_list(3300));
    EXPECT_EQ(fits.result.err, "");
    EXPECT_EQ(fits.result.status, 0);
    EXPECT_EQ(dump(fits.db), "client h {\n  x=\"1\";\n  }\n");

    compiled overflows = compile(include_list(3400));
    EXPECT_EQ(overflows.result.signal, 0);
    EXPECT_EQ(overflows.result.err.rfind("corvane_make: parser stack overflow: before ` e, e, e", 0), 0u)
        << overflows.result.err;
    EXPECT_EQ(overflows.result.status, 1);
}

// A chain of classes, each including the one before: the last holds every
// variable of the chain.
TEST(HostileConfig, LongIncludeChain)
{
    std::string c = "class c0 { v0 = 0; }\n";
    const int depth = 2000;
    for (int i = 1; i < depth; i++)
        c += "class c" + std::to_string(i) + " : c" + std::to_string(i - 1) + " { v" +
             std::to_string(i) + " = " + std::to_string(i) + "; }\n";
    c += "client h : c" + std::to_string(depth - 1) + ";\n";
    compiled r = compile(c);
    EXPECT_EQ(r.result.err, "");
    ASSERT_EQ(r.result.status, 0);
    std::string expected = "client h {\n  ";
    for (int i = 0; i < depth; i++)
        expected.append("v").append(std::to_string(i)).append("=\"").append(std::to_string(i)).append("\";\n  ");
    EXPECT_TRUE(dump(r.db) == expected + "}\n");
}

TEST(HostileConfig, MegabyteLinesAndTokens)
{
    const std::string name(2 << 20, 'n');
    const std::string word(4 << 20, 'w');
    const std::string key(1 << 20, 'k');
    std::string c = std::string(8 << 20, ' ') + "\n";   // a line of blanks alone
    c += "client " + key + " { " + name + " = " + word + "; }\n";
    compiled r = compile(c);
    EXPECT_EQ(r.result.err, "");
    ASSERT_EQ(r.result.status, 0);
    EXPECT_TRUE(dump(r.db) == "client " + key + " {\n  " + name + "=\"" + word + "\";\n  }\n");
}

// A quoted string of a million bytes, newlines included; an error after it
// names the line where the string ends.
TEST(HostileConfig, MillionByteQuotedString)
{
    std::string value;
    for (int i = 0; value.size() < 1000000; i++)
        value += i % 61 == 60 ? '\n' : static_cast<char>('a' + i % 26);
    compiled r = compile("client h { v = \"" + value + "\"; }\n");
    EXPECT_EQ(r.result.err, "");
    ASSERT_EQ(r.result.status, 0);
    EXPECT_TRUE(dump(r.db) == "client h {\n  v=\"" + value + "\";\n  }\n");

    compiled bad = compile("client h { v = \"" + value + "\" w }\n");
    std::string line = std::to_string(1 + std::count(value.begin(), value.end(), '\n'));
    EXPECT_EQ(bad.result.err,
              "corvane_make: parse error: before ` } ', last symbol was string at line " + line + "\n");
    EXPECT_EQ(bad.result.status, 1);
}

// v(i) refers twice to v(i-1): the data doubles with every variable.
std::string doubling(int n)
{
    std::string c = "client h {\n  v0 = x;\n";
    for (int i = 1; i < n; i++)
        c += "  v" + std::to_string(i) + " = \"${v" + std::to_string(i - 1) + "}${v" +
             std::to_string(i - 1) + "}\";\n";
    return c + "}\n";
}

TEST(HostileConfig, ExponentialReferences)
{
    // 2^20 bytes in the last value, 2^21 in all: built fine.
    compiled fits = compile(doubling(21));
    EXPECT_EQ(fits.result.err, "");
    ASSERT_EQ(fits.result.status, 0);
    EXPECT_EQ(cdb_record_count(fits.db), 1u);
    uint64_t values = 0;
    for (int i = 0; i < 21; i++)
        values += (uint64_t{1} << i) + 3 + std::to_string(i).size();   // "v", "=", NUL
    EXPECT_EQ(fits.db.size(), 2048 + 8 + 1 + values + 16);

    // 2^64 bytes: refused as too large, at once and without the memory.
    expect_failure(compile(doubling(65)), "corvane_make: database too large\n");
}

// The input of the capped build's doubling case describes 96 MiB of data,
// past the fuzzing build's cap: with the real limit it compiles into one
// record that carries all of it.
TEST(HostileConfig, DoublingJustPastTheCap)
{
    case_file c = read_case_file(CASES_DIR "/corvane_make_capped/doubling_past_the_cap.case");
    ASSERT_EQ(c.error, "");
    compiled r = compile(c.sections["config"]);
    EXPECT_EQ(r.result.err, "");
    ASSERT_EQ(r.result.status, 0);
    EXPECT_EQ(cdb_record_count(r.db), 1u);
    // v0 holds 23 bytes, v1 24 and every later one twice the one before;
    // each is written "v", its number, "=", the value and NUL.
    uint64_t data = 0;
    uint64_t value = 23;
    for (int i = 0; i <= 22; i++) {
        data += 1 + std::to_string(i).size() + 1 + value + 1;
        value = i == 0 ? value + 1 : 2 * value;
    }
    EXPECT_GT(data, uint64_t{64} << 20);
    EXPECT_EQ(r.db.size(), 2048 + 8 + 1 + data + 16);
}

// Many /20 networks in one name: 4096 records each.
TEST(HostileConfig, HugeNetworkList)
{
    std::string name;
    const int networks = 64;
    for (int i = 0; i < networks; i++)
        name.append(i ? ",10." : "10.").append(std::to_string(i)).append(".0.0/20");
    compiled r = compile("client \"" + name + "\" { a = 1; }\n");
    EXPECT_EQ(r.result.err, "");
    ASSERT_EQ(r.result.status, 0);
    EXPECT_EQ(cdb_record_count(r.db), uint64_t{networks} * 4096);
    // Every record: head, a key of 8 to 11 bytes, the data "a=1" and NUL.
    std::string out = dump(r.db);
    EXPECT_EQ(out.rfind("client 10.0.0.0 {\n  a=\"1\";\n  }\n", 0), 0u);
    EXPECT_NE(out.find("client 10.63.15.255 {\n  a=\"1\";\n  }\n"), std::string::npos);
}

} // namespace
