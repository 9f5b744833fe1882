// The option parser: the argument walk, every option type, every error, the
// table check and the first-argument shortcuts. Each case runs in a child
// process (see zogetopt_test_run.h).
#include "lib/zogetopt.h"
#include "lib/zogetopt_test_run.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The variables of the test table, with start values that no case stores.
int32_t flag = -1;
int32_t bits = 0;
const char *str = nullptr;
uint64_t count = 77;
int64_t shift = 77;

void note_call(const zogetopt_option *o, const char *arg)
{
    zogetopt_test_note(std::string("call(") + o->long_name + "," + arg + ")");
}

void *const call_target = reinterpret_cast<void *>(&note_call);

const zogetopt_option table[] = {
    {'f', "flag", ZOGETOPT_SET_INT, &flag, 1, "Set the flag.", nullptr},
    {'a', "alpha", ZOGETOPT_OR_INT, &bits, 1, "Merge 1.", nullptr},
    {'b', "beta", ZOGETOPT_OR_INT, &bits, 4, "Merge 4.", nullptr},
    {'o', "output", ZOGETOPT_STRING, &str, 0, "Write to FILE.", "FILE"},
    {'n', "count", ZOGETOPT_ULONG, &count, 0, "How many.", nullptr},
    {'s', "shift", ZOGETOPT_LONG, &shift, 0, "How far.", nullptr},
    {'c', "call", ZOGETOPT_CALL, call_target, 0, "Call back.", nullptr},
    {'r', "reject", ZOGETOPT_REJECT, &flag, 0, "Not here.", nullptr},
    {'t', "text", ZOGETOPT_SHOW_TEXT, &flag, 0, "Some text", nullptr},
    {'T', "Text", ZOGETOPT_SHOW_TEXT | ZOGETOPT_UNLISTED, nullptr, 0, "Text with newline\n", nullptr},
    {'u', "hidden", ZOGETOPT_SET_INT | ZOGETOPT_UNLISTED, &flag, 7, nullptr, nullptr},
    {0, "Copyright", ZOGETOPT_SHOW_TEXT | ZOGETOPT_UNLISTED, nullptr, 0, "Copyright notice\n", nullptr},
    {'3', "three", 3, &flag, 0, "Undefined type.", nullptr},
    {'9', "nine", 9, &flag, 0, "Undefined type.", nullptr},
    {0, "long-only", ZOGETOPT_SET_INT, &flag, 2, "No letter.", nullptr},
    {'L', nullptr, ZOGETOPT_SET_INT, &flag, 3, "No long name.", nullptr},
    {0, nullptr, 0, nullptr, 0, nullptr, nullptr},
};

std::string describe()
{
    std::string s;
    auto add = [&s](const std::string &item) { s += (s.empty() ? "" : " ") + item; };
    if (flag != -1)
        add("flag=" + std::to_string(flag));
    if (bits != 0)
        add("bits=" + std::to_string(bits));
    if (str)
        add("str='" + std::string(str) + "'");
    if (count != 77)
        add("count=" + std::to_string(count));
    if (shift != 77)
        add("shift=" + std::to_string(shift));
    return s.empty() ? "-" : s;
}

const zogetopt_test_setup setup = {"tool", "kit", "1.0", "usage: tool [options] file", table,
                                   "Trailing text.", describe};

zogetopt_test_result run(const std::vector<std::string> &args, posix_env posix = posix_env::unset)
{
    return run_zogetopt(setup, args, posix);
}

std::string show(const std::vector<std::string> &args)
{
    std::string s;
    for (const std::string &a : args)
        s += "'" + a + "' ";
    return s;
}

// Command lines that return: the operands left and the variables set.
TEST(Zogetopt, WalkLeavesOperandsAndSetsVariables)
{
    struct Case { std::vector<std::string> args; posix_env posix; std::string log; };
    const posix_env none = posix_env::unset;
    const Case cases[] = {
        {{}, none, "[] -"},
        {{"a", "b", "c"}, none, "[a|b|c] -"},
        {{"", "x"}, none, "[|x] -"},
        // flags, or-flags, clusters
        {{"-f", "a"}, none, "[a] flag=1"},
        {{"--flag", "--alpha", "--beta"}, none, "[] flag=1 bits=5"},
        {{"-fab"}, none, "[] flag=1 bits=5"},
        {{"-ba", "-a"}, none, "[] bits=5"},
        {{"-u"}, none, "[] flag=7"},
        {{"--hidden", "-f"}, none, "[] flag=1"},
        {{"--long-only"}, none, "[] flag=2"},
        {{"-L"}, none, "[] flag=3"},
        // string values: attached, separate, taken whatever they look like
        {{"-ofile"}, none, "[] str='file'"},
        {{"-o", "file", "x"}, none, "[x] str='file'"},
        {{"-fofile"}, none, "[] flag=1 str='file'"},
        {{"-oab"}, none, "[] str='ab'"},
        {{"-fo", "-a"}, none, "[] flag=1 str='-a'"},
        {{"-o", "-"}, none, "[] str='-'"},
        {{"-o", "--", "-f"}, none, "[] flag=1 str='--'"},
        {{"--output=x", "y"}, none, "[y] str='x'"},
        {{"--output", "x", "y"}, none, "[y] str='x'"},
        {{"--output", "-f"}, none, "[] str='-f'"},
        {{"--output", "--"}, none, "[] str='--'"},
        {{"--output=", "a"}, none, "[a] str=''"},
        {{"--output=a=b"}, none, "[] str='a=b'"},
        // numbers: automatic base, trailing text ignored, a lone sign is 0
        {{"--count=0x1F"}, none, "[] count=31"},
        {{"-n", "017"}, none, "[] count=15"},
        {{"-n12abc"}, none, "[] count=12"},
        {{"--count", "18446744073709551615"}, none, "[] count=18446744073709551615"},
        {{"-n0"}, none, "[] count=0"},
        {{"--shift=-0x10"}, none, "[] shift=-16"},
        {{"-s+"}, none, "[] shift=0"},
        {{"--shift", "-", "a"}, none, "[a] shift=0"},
        {{"-s", "-9223372036854775808"}, none, "[] shift=-9223372036854775808"},
        // calls, in command-line order
        {{"-c", "x", "--call=y", "--call", "-z", "-cw"}, none,
         "call(call,x) call(call,y) call(call,-z) call(call,w) [] -"},
        // end of options, lone dashes
        {{"a", "--", "-f", "--", "b"}, none, "[a|-f|--|b] -"},
        {{"a", "--=x", "-f"}, none, "[a|-f] -"},
        {{"--", "--help"}, none, "[--help] -"},
        {{"a", "-", "b", "-"}, none, "[a|b] -"},
        {{"-"}, none, "[] -"},
        // permutation, and its absence with POSIXLY_CORRECT (even empty)
        {{"a", "b", "-f", "c"}, none, "[a|b|c] flag=1"},
        {{"a", "b", "-f", "c"}, posix_env::empty, "[a|b|-f|c] -"},
        {{"a", "b", "-f", "c"}, posix_env::set, "[a|b|-f|c] -"},
        {{"-f", "-", "a", "-b", "-"}, posix_env::empty, "[a|-b|-] flag=1"},
        {{"a", "-x", "--nope"}, posix_env::set, "[a|-x|--nope] -"},
    };
    for (const Case &c : cases) {
        zogetopt_test_result r = run(c.args, c.posix);
        EXPECT_EQ(r.log, c.log) << show(c.args);
        EXPECT_EQ(r.status, 0) << show(c.args);
        EXPECT_EQ(r.out + r.err, "") << show(c.args);
    }
}

// Every command-line error: four texts on the error output, status 2.
TEST(Zogetopt, CommandLineErrors)
{
    struct Case { std::vector<std::string> args; std::string message; };
    const Case cases[] = {
        {{"-x"}, ": illegal option -- x\n"},
        {{"a", "-fx"}, ": illegal option -- x\n"},
        {{"--nope"}, ": illegal option -- --nope\n"},
        {{"--nope=3"}, ": illegal option -- --nope\n"},
        {{"--Flag"}, ": illegal option -- --Flag\n"},
        {{"--fla"}, ": illegal option -- --fla\n"},
        {{"-r"}, ": illegal option -- r\n"},
        {{"--reject=1"}, ": illegal option -- --reject\n"},
        {{"a", "--help"}, ": illegal option -- --help\n"},
        {{"-f", "--version"}, ": illegal option -- --version\n"},
        {{"-h", "a"}, ": illegal option -- h\n"},
        {{"--flag=1"}, ": option doesn't allow an argument -- --flag\n"},
        {{"--alpha="}, ": option doesn't allow an argument -- --alpha\n"},
        {{"--text=1"}, ": option doesn't allow an argument -- --text\n"},
        {{"-o"}, ": option requires an argument -- o\n"},
        {{"a", "-fo"}, ": option requires an argument -- o\n"},
        {{"--output"}, ": option requires an argument -- output\n"},
        {{"--nine"}, ": option requires an argument -- nine\n"},
        {{"-9"}, ": option requires an argument -- 9\n"},
        {{"--count=abc"}, ": abc is not an unsigned long\n"},
        {{"--count="}, ":  is not an unsigned long\n"},
        {{"-n", "-1"}, ": -1 is not an unsigned long\n"},
        {{"-n18446744073709551616"}, ": 18446744073709551616 is not an unsigned long\n"},
        {{"--shift=x"}, ": x is not an signed long\n"},
        {{"--shift="}, ":  is not an signed long\n"},
        {{"-s", "9223372036854775808"}, ": 9223372036854775808 is not an signed long\n"},
        {{"-3", "x"}, ": internal problem, unknown option type for `3'\n"},
        {{"-f3x"}, ": internal problem, unknown option type for `3'\n"},
        {{"--three=x"}, ": internal problem, unknown option type for `--three'\n"},
        {{"--nine", "x"}, ": internal problem, unknown option type for `--nine'\n"},
        // What is quoted shows control bytes as spaces (tab stays): one line.
        {{"-\x01"}, ": illegal option --  \n"},
        {{"--no\rpe\x1b[2J=1"}, ": illegal option -- --no pe [2J\n"},
        {{"--count=\x7fx\n"}, ":  x  is not an unsigned long\n"},
        {{"--a\tb\x80"}, ": illegal option -- --a\tb\x80\n"},
    };
    for (const Case &c : cases) {
        zogetopt_test_result r = run(c.args);
        EXPECT_EQ(r.err, std::string(zogetopt_test_argv0) + c.message) << show(c.args);
        EXPECT_EQ(r.status, 2) << show(c.args);
        EXPECT_EQ(r.out, "") << show(c.args);
        EXPECT_EQ(r.log, "") << show(c.args);
    }
}

TEST(Zogetopt, ErrorIsFourTextsNamingArgumentZero)
{
    zogetopt_test_result r = run({"--count=zz"});
    const std::vector<std::pair<int, std::string>> texts = {
        {1, zogetopt_test_argv0}, {1, ": "}, {1, "zz"}, {1, " is not an unsigned long\n"}};
    EXPECT_EQ(r.texts, texts);
}

TEST(Zogetopt, OptionsBeforeAnErrorHaveTakenEffect)
{
    zogetopt_test_result r = run({"-c", "x", "a", "-z", "-c", "y"});
    EXPECT_EQ(r.log, "call(call,x)");
    EXPECT_EQ(r.err, std::string(zogetopt_test_argv0) + ": illegal option -- z\n");
    EXPECT_EQ(r.status, 2);
}

// Type 8 writes its text (with a newline unless it has one) and ends with 0;
// nothing after it on the command line is looked at.
TEST(Zogetopt, ShowTextEndsTheRun)
{
    struct Case { std::vector<std::string> args; std::string out; };
    const Case cases[] = {
        {{"-t"}, "Some text\n"},
        {{"--text", "a"}, "Some text\n"},
        {{"-ftx", "-z"}, "Some text\n"},
        {{"a", "-T", "--nope"}, "Text with newline\n"},
        {{"--Copyright"}, "Copyright notice\n"},
    };
    for (const Case &c : cases) {
        zogetopt_test_result r = run(c.args);
        EXPECT_EQ(r.out, c.out) << show(c.args);
        EXPECT_EQ(r.err, "") << show(c.args);
        EXPECT_EQ(r.status, 0) << show(c.args);
        EXPECT_EQ(r.log, "") << show(c.args);
    }
}

TEST(Zogetopt, LongValueAfterEqualsIsCutOffInPlace)
{
    char prog[] = "prog", opt[] = "--output=a=b", operand[] = "x";
    char *argv[] = {prog, opt, operand, nullptr};
    int argc = 3;
    const char *saved = str;
    zogetopt("prog", nullptr, nullptr, &argc, argv, nullptr, nullptr, table, nullptr);
    EXPECT_EQ(argc, 2);
    EXPECT_EQ(argv[0], prog);
    EXPECT_EQ(argv[1], operand);
    EXPECT_EQ(argv[2], nullptr);
    EXPECT_EQ(std::memcmp(opt, "--output\0a=b", sizeof opt), 0);
    EXPECT_EQ(str, opt + 9);  // the text in the vector, not a copy
    str = saved;
}

// A record with a null target is a table error reported before the command
// line is looked at; unlisted records of the types that never touch their
// target may have none.
TEST(Zogetopt, TableCheck)
{
    const zogetopt_option listed_null[] = {
        {'f', "flag", ZOGETOPT_SET_INT, &flag, 1, nullptr, nullptr},
        {'g', "gone", ZOGETOPT_REJECT, nullptr, 0, nullptr, nullptr},
        {0, nullptr, 0, nullptr, 0, nullptr, nullptr},
    };
    // Unlisted, yet it would be written through when used.
    const zogetopt_option unlisted_flag_null[] = {
        {'f', "flag", ZOGETOPT_SET_INT | ZOGETOPT_UNLISTED, nullptr, 1, nullptr, nullptr},
        {0, nullptr, 0, nullptr, 0, nullptr, nullptr},
    };
    const zogetopt_option unlisted_ok[] = {
        {'g', "gone", ZOGETOPT_REJECT | ZOGETOPT_UNLISTED, nullptr, 0, nullptr, nullptr},
        {'t', "text", ZOGETOPT_SHOW_TEXT | ZOGETOPT_UNLISTED, nullptr, 0, "hi", nullptr},
        {0, nullptr, 0, nullptr, 0, nullptr, nullptr},
    };
    struct Case { const zogetopt_option *table; std::vector<std::string> args; std::string err; int status; std::string log; };
    const Case cases[] = {
        {listed_null, {"-f", "a"}, "NULL variable address in zogetopt()\n", 1, ""},
        {listed_null, {"-x"}, "NULL variable address in zogetopt()\n", 1, ""},
        {listed_null, {"--help"}, "NULL variable address in zogetopt()\n", 1, ""},
        {listed_null, {}, "", 0, "[] -"},
        {unlisted_flag_null, {"a"}, "NULL variable address in zogetopt()\n", 1, ""},
        {unlisted_ok, {"a"}, "", 0, "[a] -"},
        {unlisted_ok, {"-g"}, "./bin/tool: illegal option -- g\n", 2, ""},
    };
    for (const Case &c : cases) {
        zogetopt_test_setup s = setup;
        s.table = c.table;
        zogetopt_test_result r = run_zogetopt(s, c.args);
        EXPECT_EQ(r.err, c.err) << show(c.args);
        EXPECT_EQ(r.status, c.status) << show(c.args);
        EXPECT_EQ(r.log, c.log) << show(c.args);
        EXPECT_EQ(r.out, "") << show(c.args);
    }
}

// A lone first argument -h..., -?..., -v... or -V... stands for --help or
// --version unless the table gives that letter a meaning.
TEST(Zogetopt, SingleArgumentShortcuts)
{
    const zogetopt_test_result help = run({"--help"});
    const zogetopt_test_result version = run({"--version"});
    ASSERT_EQ(help.status, 0);
    ASSERT_EQ(help.out.rfind("usage: tool [options] file\n", 0), 0u);
    ASSERT_EQ(version.out, "tool (kit) 1.0\n\nCopyright notice\n");
    for (const char *arg : {"-h", "-?", "-hello", "-?x"}) {
        zogetopt_test_result r = run({arg});
        EXPECT_EQ(r.out, help.out) << arg;
        EXPECT_EQ(r.status, 0) << arg;
    }
    for (const char *arg : {"-v", "-V", "-vfoo", "-Va"}) {
        zogetopt_test_result r = run({arg});
        EXPECT_EQ(r.out, version.out) << arg;
        EXPECT_EQ(r.status, 0) << arg;
    }

    // With h and v taken by the table, only ? and V remain shortcuts.
    const zogetopt_option own_letters[] = {
        {'h', "here", ZOGETOPT_SET_INT, &flag, 4, nullptr, nullptr},
        {'v', "verbose", ZOGETOPT_OR_INT, &bits, 2, nullptr, nullptr},
        {0, nullptr, 0, nullptr, 0, nullptr, nullptr},
    };
    zogetopt_test_setup s = setup;
    s.table = own_letters;
    EXPECT_EQ(run_zogetopt(s, {"-h"}).log, "[] flag=4");
    EXPECT_EQ(run_zogetopt(s, {"-v"}).log, "[] bits=2");
    EXPECT_EQ(run_zogetopt(s, {"-hv"}).log, "[] flag=4 bits=2");
    EXPECT_EQ(run_zogetopt(s, {"-V"}).out, "tool (kit) 1.0\n");
    EXPECT_EQ(run_zogetopt(s, {"-?"}).out.rfind("usage: tool [options] file\n", 0), 0u);
}

TEST(Zogetopt, BuiltInsOnlyAsFirstArgument)
{
    zogetopt_test_result r = run({"--version", "-x", "--nope"});
    EXPECT_EQ(r.out, "tool (kit) 1.0\n\nCopyright notice\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(run({"--help", "-f", "-x", "y"}).out,
              "  -f, --flag                 Set the flag.\n");
    // Only the exact name counts.
    EXPECT_EQ(run({"--versions"}).err, "./bin/tool: illegal option -- --versions\n");
    EXPECT_EQ(run({"--version=1"}).err, "./bin/tool: illegal option -- --version\n");
}

TEST(Zogetopt, LongOptionNamedLikeABuiltIn)
{
    // Past the first argument, "--help" is looked up in the table.
    const zogetopt_option named_help[] = {
        {0, "help", ZOGETOPT_SET_INT, &flag, 9, nullptr, nullptr},
        {0, nullptr, 0, nullptr, 0, nullptr, nullptr},
    };
    zogetopt_test_setup s = setup;
    s.table = named_help;
    EXPECT_EQ(run_zogetopt(s, {"a", "--help"}).log, "[a] flag=9");
    EXPECT_EQ(run_zogetopt(s, {"--help", "a"}).out, "no such option\n");
}

}  // namespace
