// An assignment to a host finds the variable of that name wherever it came
// from: the host's first assignment, a later one, an include, or one past
// the length at which a list is indexed. A plain assignment to it is a
// duplicate; an append or override changes it; any other name is new.
#include "tests/support/compile_config.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Variables v1 to v(n) of one host, each set to its number.
std::string numbered(int n)
{
    std::string s;
    for (int i = 1; i <= n; i++)
        s += " v" + std::to_string(i) + " = " + std::to_string(i) + ";";
    return s;
}

TEST(HostAssignments, FindEveryEarlierVariable)
{
    struct assignment_case {
        std::string config;
        std::string err;    // "" for success
        std::string dump;   // checked on success
    };
    const std::string dup = "corvane_make: duplicate assignment to host variable: ";
    std::string many_appends, many_appended;
    for (int i = 0; i < 10; i++) {
        many_appends += " b" + std::to_string(i) + " += x; b" + std::to_string(i) + " += y;";
        many_appended += "  b" + std::to_string(i) + "=\"xy\";\n";
    }
    const assignment_case cases[] = {
        {"client h { a = 1; b = 2; c = 3; b = 4; }\n", dup + "b at line 1\n", ""},
        {"client h { a = 1; b = 2; c = 3; c = 4; }\n", dup + "c at line 1\n", ""},
        {"class k { x = 1; y = 2; }\nclient h : k { a = 1; y = 3; }\n", dup + "y at line 2\n", ""},
        {"client h {" + numbered(40) + " v35 = 0; }\n", dup + "v35 at line 1\n", ""},
        {"client h {" + numbered(40) + " v20 = 0; }\n", dup + "v20 at line 1\n", ""},
        {"h: x(1) y(2) y(3)\n", "", "client h {\n  x=\"1\";\n  y=\"3\";\n  }\n"},
        {"client h { a = 1; b = 2; b += 3; override c = 4; c += 5; d += 6; }\n", "",
         "client h {\n  a=\"1\";\n  b=\"23\";\n  c=\"45\";\n  d=\"6\";\n  }\n"},
        // Names that share their length and first and last bytes.
        {"client h { abc = 1; aXc = 2; aYc = 3; aXc += 4; }\n", "",
         "client h {\n  abc=\"1\";\n  aXc=\"24\";\n  aYc=\"3\";\n  }\n"},
        // An include's names are checked against the variables before it,
        // also those of another include.
        {"class k { x = 1; y = 2; }\nclass m : k { z = 3; }\nclient h : m, k { a = 1; }\n",
         dup + "x at line 3\n", ""},
        // Appends of and to empty values.
        {"client h { a = \"\"; a += \"\"; b += \"\"; b += x; c = y; c += \"\"; }\n", "",
         "client h {\n  a=\"\";\n  b=\"x\";\n  c=\"y\";\n  }\n"},
        // A value made by appends, replaced and made again; and more
        // appended values in a host than the tables note one by one. Each
        // made value is freed once when the next host begins (ASan).
        {"client h { a = 1; a += 2; override a = 3; a += 4; a += 5; }\nclient g { a += 6; }\n", "",
         "client g {\n  a=\"6\";\n  }\nclient h {\n  a=\"345\";\n  }\n"},
        {"client h {" + many_appends + " }\nclient g { a += 5; }\n", "",
         "client g {\n  a=\"5\";\n  }\nclient h {\n" + many_appended + "  }\n"},
        // The next host starts afresh.
        {"client g { a = 1; b = 2; }\nclient h { b = 3; a = 4; }\n", "",
         "client h {\n  b=\"3\";\n  a=\"4\";\n  }\nclient g {\n  a=\"1\";\n  b=\"2\";\n  }\n"},
    };
    for (const assignment_case &c : cases) {
        compiled r = compile_config(CORVANE_MAKE_PATH, c.config);
        EXPECT_EQ(r.result.err, c.err) << c.config;
        if (c.err.empty()) {
            EXPECT_EQ(r.result.status, 0) << c.config;
            EXPECT_EQ(dump_database(PELLOW_PATH, r.db).out, c.dump) << c.config;
        } else {
            EXPECT_EQ(r.result.status, 1) << c.config;
        }
    }
}

} // namespace
