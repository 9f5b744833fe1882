// The help and version output: the compiler's own outputs byte for byte,
// the forms of a help line and the paranoid warnings (in-process, through
// print_option_help), and the listing, version and one-option outputs of a
// table of every kind of record (in child processes).
#include "lib/zogetopt_help.h"
#include "lib/zogetopt_test_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string indent(29, ' ');

std::string spaces(size_t n)
{
    return std::string(n, ' ');
}

// ---- the compiler's values: an empty table ----

const zogetopt_option empty_table[] = {{0, nullptr, 0, nullptr, 0, nullptr, nullptr}};

const char compiler_trailing[] =
    "  Input will be read from stdin if no configuration file is specified\n"
    "  on the command line.\n"
    "  cdbfile and tmpfile have to be located on the same filesystem.\n"
    "  Report bugs to <bugs@corvane.example>";

const zogetopt_test_setup compiler = {"corvane_make", "corvane", CORVANE_VERSION,
                                      "usage: corvane_make cdbfile tmpfile [configfile]",
                                      empty_table, compiler_trailing, nullptr};

const std::string version_line =
    "      --version              Show version information.\n";
const std::string help_first_line =
    "      --help                 Show a list of options or the long help on one.\n";
const std::string longhelp_first_line =
    "      --longhelp             Show longer help texts for all or one variable\n";
const std::string help_long =
    help_first_line +
    indent + "--help with an argument shows the long helptext\n" +
    indent + "of that option, without an argument it will list\n" +
    indent + "all options.\n";
const std::string longhelp_long =
    longhelp_first_line +
    indent + "--longhelp with an argument shows the long help\n" +
    indent + "for this option, without arguments it shows the\n" +
    indent + "long description of all options.\n";
const std::string compiler_usage = "usage: corvane_make cdbfile tmpfile [configfile]\n";

std::string show(const std::vector<std::string> &args)
{
    std::string s;
    for (const std::string &a : args)
        s += "'" + a + "' ";
    return s;
}

// The compiler's help and version outputs: (arguments) -> (normal output, status).
TEST(ZogetoptHelp, CompilerOutputs)
{
    const std::string listing = compiler_usage + version_line + help_first_line +
                                longhelp_first_line + compiler_trailing + "\n";
    const std::string long_listing = compiler_usage + version_line + help_long + longhelp_long +
                                     compiler_trailing + "\n";
    struct Case { std::vector<std::string> args; std::string out; int status; };
    const Case cases[] = {
        {{"--help"}, listing, 0},
        {{"-h"}, listing, 0},
        {{"--longhelp"}, long_listing, 0},
        {{"--zogetopt-paranoid"}, long_listing, 0},
        {{"--help", "help"}, help_long, 0},
        {{"--help", "--help"}, help_long, 0},
        {{"--longhelp", "help", "extra"}, help_long, 0},
        {{"--help", "longhelp"}, longhelp_long, 0},
        {{"--help", "version"}, version_line, 0},
        {{"--longhelp", "--version"}, version_line, 0},
        {{"--zogetopt-paranoid", "version"}, version_line, 0},
        {{"--version"}, "corvane_make (corvane) " CORVANE_VERSION "\n", 0},
        {{"--version", "a", "-x"}, "corvane_make (corvane) " CORVANE_VERSION "\n", 0},
        {{"-V"}, "corvane_make (corvane) " CORVANE_VERSION "\n", 0},
        // The built-in records have no letters; "-" leaves the empty name.
        {{"--help", "h"}, "no such option\n", 1},
        {{"--help", "-"}, "no such option\n", 1},
        {{"--help", "--"}, "no such option\n", 1},
        {{"--help", "Help"}, "no such option\n", 1},
    };
    for (const Case &c : cases) {
        zogetopt_test_result r = run_zogetopt(compiler, c.args);
        EXPECT_EQ(r.out, c.out) << show(c.args);
        EXPECT_EQ(r.status, c.status) << show(c.args);
        EXPECT_EQ(r.err, "") << show(c.args);
    }
}

TEST(ZogetoptHelp, CompilerCommandLineErrors)
{
    struct Case { std::vector<std::string> args; std::string err; };
    const Case cases[] = {
        {{"-x"}, "./bin/tool: illegal option -- x\n"},
        {{"db", "--name=3", "tmp"}, "./bin/tool: illegal option -- --name\n"},
        {{"db", "tmp", "--help"}, "./bin/tool: illegal option -- --help\n"},
        {{"-h", "db"}, "./bin/tool: illegal option -- h\n"},
    };
    for (const Case &c : cases) {
        zogetopt_test_result r = run_zogetopt(compiler, c.args);
        EXPECT_EQ(r.err, c.err) << show(c.args);
        EXPECT_EQ(r.status, 2) << show(c.args);
    }
    zogetopt_test_result r = run_zogetopt(compiler, {"--", "-db", "-", "--tmp"});
    EXPECT_EQ(r.log, "[-db|-|--tmp]");
    EXPECT_EQ(run_zogetopt(compiler, {"db", "-", "tmp"}).log, "[db|tmp]");
}

// Every item of a help line is a text of its own; lines of a multi-line
// help text go out one character at a time.
TEST(ZogetoptHelp, ItemsGoToTheCallbackOneByOne)
{
    zogetopt_test_result r = run_zogetopt(compiler, {"--help", "version"});
    const std::vector<std::pair<int, std::string>> version_items = {
        {0, "  "}, {0, "  "}, {0, "  --"}, {0, "version"}, {0, spaces(14)},
        {0, "Show version information."}, {0, "\n"}};
    EXPECT_EQ(r.texts, version_items);

    r = run_zogetopt(compiler, {"--help", "help"});
    ASSERT_GT(r.texts.size(), 5u);
    size_t chars = 0;
    for (size_t i = 5; i < r.texts.size(); i++)
        if (r.texts[i].second != indent) {
            EXPECT_EQ(r.texts[i].second.size(), 1u) << i;
            chars++;
        }
    EXPECT_EQ(chars, 47u + 1 + 47 + 1 + 48 + 1 + 12 + 1);

    r = run_zogetopt(compiler, {"--version"});
    const std::vector<std::pair<int, std::string>> line_items = {
        {0, "corvane_make"}, {0, " ("}, {0, "corvane"}, {0, ")"}, {0, " "}, {0, CORVANE_VERSION}, {0, "\n"}};
    EXPECT_EQ(r.texts, line_items);
}

// ---- one help line, in this process ----

std::string captured;

void capture(int selector, const char *text)
{
    captured += selector == 0 ? text : "<ERR>";
}

std::string help_line(const zogetopt_option &o, int long_form, bool paranoid)
{
    captured.clear();
    zogetopt_paranoid = paranoid;
    print_option_help(capture, &o, long_form);
    zogetopt_paranoid = 0;
    return captured;
}

int dummy;

zogetopt_option record(char letter, const char *name, uint32_t type, const char *help,
                       const char *arg_name = nullptr)
{
    return {letter, name, type, &dummy, 0, help, arg_name};
}

TEST(ZogetoptHelp, OptionPartForms)
{
    struct Case { zogetopt_option o; std::string part; };
    const Case cases[] = {
        {record('c', "name", ZOGETOPT_SET_INT, "H"), "  -c, --name"},
        {record(0, "name", ZOGETOPT_OR_INT, "H"), "      --name"},
        {record('c', nullptr, ZOGETOPT_SET_INT, "H"), "  -c    "},
        {record('c', "name", ZOGETOPT_STRING, "H"), "  -c, --name=STRING"},
        {record(0, "name", ZOGETOPT_LONG, "H", "ARG"), "      --name=ARG"},
        {record('c', nullptr, ZOGETOPT_ULONG, "H"), "  -c     NUMBER"},
        {record('c', nullptr, ZOGETOPT_STRING, "H", "FILE"), "  -c     FILE"},
        {record('c', "name", ZOGETOPT_CALL, "H"), "  -c, --name=NUMBER"},
        {record('c', "name", 3, "H"), "  -c, --name=NUMBER"},
        // The type word counts whole: the unlisted flag makes it "2 or more"
        // and never "exactly 2".
        {record('c', "name", ZOGETOPT_STRING | ZOGETOPT_UNLISTED, "H"), "  -c, --name=NUMBER"},
        {record('c', "name", ZOGETOPT_SET_INT | ZOGETOPT_UNLISTED, "H"), "  -c, --name=NUMBER"},
        {record('c', "name", ZOGETOPT_REJECT, "H"), "  -c, --name=NUMBER"},
        {record(0, "name", ZOGETOPT_SHOW_TEXT | ZOGETOPT_UNLISTED, "H"), "      --name=NUMBER"},
    };
    for (const Case &c : cases) {
        std::string expected = c.part + spaces(29 - c.part.size()) + "H\n";
        EXPECT_EQ(help_line(c.o, 0, false), expected) << c.part;
        EXPECT_EQ(help_line(c.o, 1, true), expected) << c.part;
    }
}

TEST(ZogetoptHelp, HelpTextShapes)
{
    const std::string part = "  -c" + spaces(25);
    struct Case { const char *help; std::string short_form; std::string long_form; };
    const Case cases[] = {
        {nullptr, "???\n", "???\n"},
        {"", "\n", "\n"},
        {"one line", "one line\n", "one line\n"},
        {"ends in newline\n", "ends in newline\n", "ends in newline\n"},
        {"a\nb\nc", "a\n", "a\n" + indent + "b\n" + indent + "c\n"},
        {"a\nb\n", "a\n", "a\n" + indent + "b\n"},
        {"a\n\nb", "a\n", "a\n" + indent + "\n" + indent + "b\n"},
    };
    for (const Case &c : cases) {
        zogetopt_option o = record('c', nullptr, ZOGETOPT_SET_INT, c.help);
        EXPECT_EQ(help_line(o, 0, false), part + c.short_form) << (c.help ? c.help : "null");
        EXPECT_EQ(help_line(o, 1, false), part + c.long_form) << (c.help ? c.help : "null");
    }
}

TEST(ZogetoptHelp, ParanoidWideOptionPart)
{
    const std::string name28(20, 'n');  // 8 + 20: the widest part with the usual fill
    const std::string name29(21, 'n');
    zogetopt_option fits = record(0, name28.c_str(), ZOGETOPT_SET_INT, "H");
    zogetopt_option wide = record(0, name29.c_str(), ZOGETOPT_SET_INT, "H");
    zogetopt_option wider = record('w', name29.c_str(), ZOGETOPT_STRING, "H", "ARG");

    EXPECT_EQ(help_line(fits, 0, false), "      --" + name28 + " H\n");
    EXPECT_EQ(help_line(fits, 1, true), "      --" + name28 + " H\n");
    EXPECT_EQ(help_line(wide, 0, false), "      --" + name29 + " H\n");
    EXPECT_EQ(help_line(wide, 0, true),
              "      --" + name29 + " \n###time for shorter options?\nH\n");
    EXPECT_EQ(help_line(wider, 1, true),
              "  -w, --" + name29 + "=ARG \n###time for shorter options?\nH\n");
}

TEST(ZogetoptHelp, ParanoidLongLines)
{
    const std::string warning = "###the last help text is too long for 80 characters screens.\n";
    const std::string part = "  -c" + spaces(25);
    const std::string l49(49, 'x'), l50(50, 'x'), l51(51, 'x');
    struct Case { std::string help; int long_form; std::string text; };
    const Case cases[] = {
        // one line without a newline: the added newline counts
        {l49, 0, l49 + "\n"},
        {l50, 0, l50 + "\n" + warning},
        {l51, 1, l51 + "\n" + warning},
        // one line with its newline
        {l49 + "\n", 0, l49 + "\n"},
        {l50 + "\n", 0, l50 + "\n" + warning},
        // the first line of a longer text, in both forms
        {l49 + "\nb", 0, l49 + "\n"},
        {l50 + "\nb", 0, l50 + "\n" + warning},
        {l50 + "\nb", 1, l50 + "\n" + warning + indent + "b\n"},
        // further lines: tested only in the long form, where they are written
        {"a\n" + l50 + "\nb", 0, "a\n"},
        {"a\n" + l50 + "\nb", 1, "a\n" + indent + l50 + "\n" + warning + indent + "b\n"},
        {"a\n" + l49 + "\n", 1, "a\n" + indent + l49 + "\n"},
        // a last line without a newline: the warning comes before the added one
        {"a\n" + l50, 1, "a\n" + indent + l50 + "\n"},
        {"a\n" + l51, 1, "a\n" + indent + l51 + warning + "\n"},
    };
    for (const Case &c : cases) {
        zogetopt_option o = record('c', nullptr, ZOGETOPT_SET_INT, c.help.c_str());
        EXPECT_EQ(help_line(o, c.long_form, true), part + c.text)
            << c.help.size() << " chars, long form " << c.long_form;
        if (c.text.find("###") != std::string::npos) {
            EXPECT_EQ(help_line(o, c.long_form, false).find("###"), std::string::npos);
        }
    }
}

TEST(ZogetoptHelp, VersionLine)
{
    struct Case { const char *package; const char *version; std::string line; };
    const Case cases[] = {
        {"kit", "1.0", "tool (kit) 1.0\n"},
        {nullptr, "1.0", "tool 1.0\n"},
        {"kit", nullptr, "tool (kit) \n"},
        {nullptr, nullptr, "tool \n"},
    };
    for (const Case &c : cases) {
        captured.clear();
        print_version_line(capture, "tool", c.package, c.version);
        EXPECT_EQ(captured, c.line);
    }
}

// ---- a table of every kind of record ----

int32_t flag;
const char *text;

const zogetopt_option table[] = {
    {'f', "flag", ZOGETOPT_SET_INT, &flag, 1, "Set the flag.", nullptr},
    {'o', "output", ZOGETOPT_STRING, &text, 0, "Write to FILE.\nThe file is replaced.", "FILE"},
    {'r', "reject", ZOGETOPT_REJECT, &flag, 0, "Not available.", nullptr},
    {'u', "hidden", ZOGETOPT_SET_INT | ZOGETOPT_UNLISTED, &flag, 7, "Hidden.", nullptr},
    {0, "quiet", ZOGETOPT_OR_INT, &flag, 1, nullptr, nullptr},
    {'q', "alpha", ZOGETOPT_SET_INT, &flag, 2, "Letter q.", nullptr},
    {0, "q", ZOGETOPT_SET_INT, &flag, 3, "Long name q.", nullptr},
    {0, "beta", ZOGETOPT_SET_INT, &flag, 3, "Long name beta.", nullptr},
    {'b', "gamma", ZOGETOPT_SET_INT, &flag, 3, "Letter b.", nullptr},
    {0, "copyright", ZOGETOPT_SHOW_TEXT | ZOGETOPT_UNLISTED, nullptr, 0, "older", nullptr},
    {0, "CopyRight", ZOGETOPT_SHOW_TEXT | ZOGETOPT_UNLISTED, nullptr, 0, "(c) notice\n", nullptr},
    {0, nullptr, 0, nullptr, 0, nullptr, nullptr},
};

const zogetopt_test_setup bare = {"tool", "kit", "1.0", nullptr, table, nullptr, nullptr};

std::string line(const std::string &part, const std::string &help)
{
    return part + spaces(29 - part.size()) + help;
}

TEST(ZogetoptHelp, ListingOfATable)
{
    const std::string head = "usage: tool [options]\n\n" + line("  -f, --flag", "Set the flag.\n") +
                             line("  -o, --output=FILE", "Write to FILE.\n");
    const std::string tail = line("  -r, --reject=NUMBER", "Not available.\n") +
                             line("      --quiet", "???\n") +
                             line("  -q, --alpha", "Letter q.\n") +
                             line("      --q", "Long name q.\n") +
                             line("      --beta", "Long name beta.\n") +
                             line("  -b, --gamma", "Letter b.\n");
    zogetopt_test_result r = run_zogetopt(bare, {"--help"});
    EXPECT_EQ(r.out, head + tail + version_line + help_first_line + longhelp_first_line);
    EXPECT_EQ(r.status, 0);
    r = run_zogetopt(bare, {"--longhelp"});
    EXPECT_EQ(r.out, head + indent + "The file is replaced.\n" + tail + version_line + help_long +
                         longhelp_long);
    EXPECT_EQ(r.status, 0);

    zogetopt_test_setup no_program = bare;
    no_program.program = nullptr;
    no_program.trailing = "bye";
    r = run_zogetopt(no_program, {"--help"});
    EXPECT_EQ(r.out.substr(0, 20), "usage:  [options]\n\n ");
    EXPECT_EQ(r.out.substr(r.out.size() - 4), "bye\n");
}

TEST(ZogetoptHelp, VersionWithCopyright)
{
    // The last record named copyright in any case gives the text, unchanged.
    zogetopt_test_result r = run_zogetopt(bare, {"--version"});
    EXPECT_EQ(r.out, "tool (kit) 1.0\n\n(c) notice\n");
    EXPECT_EQ(r.status, 0);

    const zogetopt_option no_text[] = {
        {0, "copyright", ZOGETOPT_SET_INT, &flag, 0, nullptr, nullptr},
        {0, nullptr, 0, nullptr, 0, nullptr, nullptr},
    };
    zogetopt_test_setup s = bare;
    s.table = no_text;
    s.version = nullptr;
    EXPECT_EQ(run_zogetopt(s, {"--version"}).out, "tool (kit) \n");
}

TEST(ZogetoptHelp, HelpOnOneOption)
{
    const std::string output_long =
        line("  -o, --output=FILE", "Write to FILE.\n") + indent + "The file is replaced.\n";
    struct Case { std::vector<std::string> args; std::string out; int status; };
    const Case cases[] = {
        {{"--help", "output"}, output_long, 0},
        {{"--help", "o"}, output_long, 0},
        {{"--help", "-o"}, output_long, 0},
        {{"--longhelp", "--output", "-x"}, output_long, 0},
        {{"--help", "-output"}, output_long, 0},
        {{"--help", "hidden"}, line("  -u, --hidden=NUMBER", "Hidden.\n"), 0},
        {{"--help", "r"}, line("  -r, --reject=NUMBER", "Not available.\n"), 0},
        // table order decides between a letter and a long name
        {{"--help", "q"}, line("  -q, --alpha", "Letter q.\n"), 0},
        {{"--help", "b"}, line("  -b, --gamma", "Letter b.\n"), 0},
        {{"--help", "--version"}, version_line, 0},
        {{"--help", "quiet"}, "no help available\n", 1},
        {{"--help", "Flag"}, "no such option\n", 1},
        {{"--help", "fl"}, "no such option\n", 1},
        {{"--help", "-"}, "no such option\n", 1},
    };
    for (const Case &c : cases) {
        zogetopt_test_result r = run_zogetopt(bare, c.args);
        EXPECT_EQ(r.out, c.out) << show(c.args);
        EXPECT_EQ(r.status, c.status) << show(c.args);
        EXPECT_EQ(r.err, "") << show(c.args);
    }

    // A table option named like a built-in one is found first.
    const zogetopt_option own_help[] = {
        {0, "help", ZOGETOPT_SET_INT, &flag, 0, "Mine.", nullptr},
        {0, nullptr, 0, nullptr, 0, nullptr, nullptr},
    };
    zogetopt_test_setup s = bare;
    s.table = own_help;
    EXPECT_EQ(run_zogetopt(s, {"--help", "help"}).out, line("      --help", "Mine.\n"));

    // "--" loses one dash only: the name is the letter "-".
    const zogetopt_option dash_letter[] = {
        {'-', "dash", ZOGETOPT_SET_INT, &flag, 0, "Dash.", nullptr},
        {0, "", ZOGETOPT_SET_INT, &flag, 0, "Empty name.", nullptr},
        {0, nullptr, 0, nullptr, 0, nullptr, nullptr},
    };
    s.table = dash_letter;
    EXPECT_EQ(run_zogetopt(s, {"--help", "--"}).out, line("  --, --dash", "Dash.\n"));
    EXPECT_EQ(run_zogetopt(s, {"--help", "-"}).out, line("      --", "Empty name.\n"));
}

TEST(ZogetoptHelp, ParanoidSwitchReachesTheListing)
{
    const zogetopt_option wide[] = {
        {'w', "a-rather-long-option", ZOGETOPT_STRING, &text, 0, "Short help.", nullptr},
        {0, nullptr, 0, nullptr, 0, nullptr, nullptr},
    };
    zogetopt_test_setup s = bare;
    s.table = wide;
    const std::string wide_line = "  -w, --a-rather-long-option=STRING \n"
                                  "###time for shorter options?\nShort help.\n";
    zogetopt_test_result r = run_zogetopt(s, {"--zogetopt-paranoid"});
    EXPECT_EQ(r.out, "usage: tool [options]\n\n" + wide_line + version_line + help_long +
                         longhelp_long);
    EXPECT_EQ(run_zogetopt(s, {"--zogetopt-paranoid", "w"}).out, wide_line);
    EXPECT_EQ(run_zogetopt(s, {"--longhelp", "w"}).out,
              "  -w, --a-rather-long-option=STRING Short help.\n");
}

}  // namespace
