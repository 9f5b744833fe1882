// corvane_make makes a host's data as soon as its entry ends, keeps the
// variables of a host whose data fails or would be long and makes that at
// its turn, keeps the data over the text behind the parser and gives back
// the text that the data does not reach. None of it may show: the records,
// every message and their order are those of a compile that makes every
// host's data at its turn, newest first, after the whole parse. Each
// configuration runs twice: as it is, and with a line of 20,000 entries
// (about 500 KB) after its first entry, whose data is far shorter than
// their text: the text of the first entries is written over with data, and
// most of the filler's is given back before the rest is read.
#include "tests/support/compile_config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string filler_line()
{
    std::string line;
    for (int i = 0; i < 20000; i++)
        line += "client f" + std::to_string(i) + " { a = 1; } ";
    return line + "\n";
}

// The configuration with "@\n" replaced by an empty line, or by the
// filler. A comment on the first line puts the first entries past the
// first page of the text, which is not the text's alone.
std::vector<std::string> both_ways(const std::string &config)
{
    std::string small = "/* " + std::string(8000, '-') + " */ " + config;
    std::string large = small;
    small.replace(small.find("@\n"), 2, "\n");
    large.replace(large.find("@\n"), 2, filler_line());
    return {small, large};
}

// Forty variables, each twice the one before: the data would be 2^39 bytes.
std::string doubling_entry(const std::string &name)
{
    std::string e = "client " + name + " {\n v0 = x;\n";
    for (int i = 1; i < 40; i++)
        e += " v" + std::to_string(i) + " = \"${v" + std::to_string(i - 1) + "}${v" +
             std::to_string(i - 1) + "}\";\n";
    return e + "}\n";
}

// The first failure met going through the hosts newest first is reported,
// after every failure of the parse, whichever host's data was made when.
TEST(EntryEnd, FailuresKeepTheirOrder)
{
    struct failure_case {
        const char *what;
        std::string config;
        std::string err;
    };
    const failure_case cases[] = {
        {"an old reference error, then a parse error",
         "client a { x = \"${nope}\"; }\n@\nclient b { y = 1; }\nclient c { z = ; }\n",
         "parse error: before ` } ', last symbol was ; at line 4"},
        {"an old reference error, then a duplicate host",
         "client a { x = \"${y\"; }\n@\nclient b { y = 1; }\nclient a { z = 1; }\n",
         "duplicate host name: a at line 4"},
        {"an old reference error, then a newer entry's key error",
         "client a { x = \"${y\"; }\n@\nclient \"10.0.0.0/19\" { y = 1; }\n",
         "bad /mask in input: /number <20 at line 3"},
        {"two reference errors: the newer one's",
         "client a { x = \"${y\"; }\n@\nclient b { y = \"${nope}\"; }\n",
         "didn't find variable: ${nope} at line 3"},
        {"an old reference error alone, quoting its value",
         "client a {\n  w = 1;\n  x = \"pre ${y\";\n}\n@\nclient b { y = 1; }\n",
         "unfinished ${ in: ${y at line 3"},
        {"an old cycle", "client a { x = \"${y}\"; y = \"${x}\"; }\n@\nclient b { y = 1; }\n",
         "recursive variable reference: ${x} at line 1"},
        {"old data too large, then a newer reference error",
         doubling_entry("a") + "@\nclient b { y = \"${nope}\"; }\n",
         "didn't find variable: ${nope} at line 44"},
        {"old data too large alone", doubling_entry("a") + "@\nclient b { y = 1; }\n",
         "database too large"},
    };
    for (const failure_case &c : cases)
        for (const std::string &config : both_ways(c.config)) {
            compiled r = compile_config(CORVANE_MAKE_PATH, config);
            EXPECT_EQ(r.result.err, "corvane_make: " + c.err + "\n") << c.what << ", " << config.size();
            EXPECT_EQ(r.result.status, 1) << c.what;
            EXPECT_EQ(r.db, "") << c.what;
        }
}

std::string pellow(const std::string &db)
{
    process_result r = dump_database(PELLOW_PATH, db);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

// Classes defined at the top are included after their text was given
// back. The first entry's data is longer than its variables, so it keeps
// copies of them and its data is made at its turn; so does long1's, which
// has more variables than are searched in order and keeps its index, while
// long2 has the same names looked up through the tables' shared index.
TEST(EntryEnd, RecordsOfEarlyEntries)
{
    // n0 to n39 set to prefix0 to prefix39, as assignments or as pellow
    // prints them.
    auto numbered = [](bool printed, const std::string &prefix) {
        std::string s;
        for (int i = 0; i < 40; i++) {
            std::string n = std::to_string(i);
            s += printed ? "  n" + n + "=\"" + prefix + n + "\";\n" : " n" + n + " = " + prefix + n + ";";
        }
        return s;
    };
    auto times = [](const std::string &text, int n) {
        std::string s;
        for (int i = 0; i < n; i++)
            s += text;
        return s;
    };
    std::string digits = "0123456789";
    std::string k2 = times(digits, 16), k1 = times(k2, 4);
    std::string config = "class site { root = /srv; domain = example.org; }\n"
                         "class rack : site { switch = \"sw.${domain}\"; }\n"
                         "client grow { x = 0123456789; y = \"${x}${x}${x}${x}\"; z = \"${y}${y}${y}${y}\";\n"
                         "  w = \"${z}${z}${z}${z}\"; }\n"
                         "@\n"
                         "client \"late,10.0.0.1\" : rack { path = \"${root}/late\"; switch += \"-2\"; }\n"
                         "client long1 {" + numbered(false, "a") +
                         " k = \"${k1}${k1}${k1}${k1}${k1}${k1}${k1}${k1}\"; k1 = \"${k2}${k2}${k2}${k2}\";"
                         " k2 = \"${k3}${k3}${k3}${k3}\"; k3 = 0123456789012345678901234567890123456789; r = \"${n0}${n39}\"; }\n"
                         "client long2 {" + numbered(false, "b") + " r = \"${n0}${n39}\"; }\n";
    std::string late = "  root=\"/srv\";\n  domain=\"example.org\";\n  switch=\"sw.example.org-2\";\n"
                       "  path=\"/srv/late\";\n  }\n";
    std::string expected = "client long2 {\n" + numbered(true, "b") + "  r=\"b0b39\";\n  }\n" +
                           "client long1 {\n" + numbered(true, "a") + "  k=\"" + times(k1, 8) + "\";\n" +
                           "  k1=\"" + k1 + "\";\n  k2=\"" + k2 + "\";\n  k3=\"" + times(digits, 4) +
                           "\";\n  r=\"a0a39\";\n  }\n" +
                           "client late {\n" + late + "client 10.0.0.1 {\n" + late;
    std::string y = times(digits, 4), z = times(y, 4);
    std::string grow = "client grow {\n  x=\"" + digits + "\";\n  y=\"" + y + "\";\n  z=\"" + z +
                       "\";\n  w=\"" + times(z, 4) + "\";\n  }\n";
    for (const std::string &c : both_ways(config)) {
        compiled r = compile_config(CORVANE_MAKE_PATH, c);
        ASSERT_EQ(r.result.err, "");
        ASSERT_EQ(r.result.status, 0);
        std::string dump = pellow(r.db);
        EXPECT_EQ(dump.substr(0, expected.size()), expected) << c.size();
        ASSERT_GE(dump.size(), grow.size());
        EXPECT_EQ(dump.substr(dump.size() - grow.size()), grow) << c.size();
    }
}

// The data of an entry goes over the text behind it when it has room there,
// and else to memory of its own: entries whose data is longer than their
// text (a reference repeated) and entries whose data is shorter, in turn,
// so that the first and every fifth or so of the long ones find no room.
TEST(EntryEnd, DataLongerAndShorterThanItsText)
{
    std::string forty = "0123456789012345678901234567890123456789";
    std::string config, expected;
    for (int i = 0; i < 60; i++) {
        std::string n = std::to_string(i);
        if (i % 2 == 0) {
            config += "client long" + n + " { a = " + forty + "; b = \"${a}${a}${a}\"; }\n";
            expected = "client long" + n + " {\n  a=\"" + forty + "\";\n  b=\"" + forty + forty + forty +
                       "\";\n  }\n" + expected;
        } else {
            config += "client short" + n + " { /* a comment that the data need not hold */ s = " + n + "; }\n";
            expected = "client short" + n + " {\n  s=\"" + n + "\";\n  }\n" + expected;
        }
    }
    compiled r = compile_config(CORVANE_MAKE_PATH, config);
    ASSERT_EQ(r.result.err, "");
    ASSERT_EQ(r.result.status, 0);
    EXPECT_EQ(pellow(r.db), expected);
}

// The warnings of a check name early entries and classes by copies of
// their names.
TEST(EntryEnd, CheckWarningsNameEarlyEntries)
{
    std::string config = "class unused { a = 1; }\nclient \"pc1,pc2\" { a = 1; }\n@\nclient pc1 { a = 2; }\n"
                         "client pc2 { a = 3; }\n";
    for (const std::string &c : both_ways(config)) {
        std::string dir = make_temp_dir();
        write_file(dir + "/config", c);
        process_setup setup;
        setup.path = CORVANE_MAKE_PATH;
        setup.argv = {"corvane_make", "--check", "config"};
        setup.dir = dir;
        process_result r = run_process(setup);
        EXPECT_EQ(r.err, "corvane_make: warning: class never included: unused at line 1\n"
                         "corvane_make: warning: entry never served, later entries give all its keys "
                         "(the first at line 4): pc1,pc2 at line 2\n")
            << c.size();
        EXPECT_EQ(r.status, 0);
        remove_tree(dir);
    }
}

} // namespace
