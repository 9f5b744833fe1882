// corvane_make --check and --explain beyond the case files: the explanation
// of every key of the example and of generated configurations is, without
// its comment lines, the block that pellow prints for the record a lookup
// finds; a check leaves the folder exactly as it was; the operands.
#include "tests/support/compile_config.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

process_result run_in(const std::string &dir, const std::vector<std::string> &args)
{
    process_setup setup;
    setup.path = CORVANE_MAKE_PATH;
    setup.argv = {"corvane_make"};
    setup.argv.insert(setup.argv.end(), args.begin(), args.end());
    setup.dir = dir;
    return run_process(setup);
}

std::string pellow(const std::string &db)
{
    process_result r = dump_database(PELLOW_PATH, db);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

// The first block of every key in pellow's output, in the order the keys
// first appear.
std::vector<std::pair<std::string, std::string>> first_blocks(const std::string &dump)
{
    std::vector<std::pair<std::string, std::string>> blocks;
    std::set<std::string> seen;
    size_t at = 0;
    while (at < dump.size()) {
        size_t end = dump.find("\n  }\n", at);
        if (end == std::string::npos)
            break;
        end += 5;
        std::string block = dump.substr(at, end - at);
        std::string key = block.substr(7, block.find(" {\n") - 7);
        if (seen.insert(key).second)
            blocks.emplace_back(key, block);
        at = end;
    }
    return blocks;
}

// The output without its comment lines: those whose first byte after the
// indentation is "#".
std::string without_comments(const std::string &text)
{
    std::string kept;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(at, end - at);
        size_t first = line.find_first_not_of(' ');
        if (first == std::string::npos || line[first] != '#')
            kept += line;
        at = end;
    }
    return kept;
}

// Compiles config, then explains every key of the database; returns the
// number of keys explained.
size_t expect_explanations_match(const std::string &config)
{
    compiled c = compile_config(CORVANE_MAKE_PATH, config);
    EXPECT_EQ(c.result.status, 0) << c.result.err << config;
    std::string dir = make_temp_dir();
    write_file(dir + "/config", config);
    auto blocks = first_blocks(pellow(c.db));
    for (const auto &[key, block] : blocks) {
        process_result r = run_in(dir, {"--explain=" + key, "config"});
        EXPECT_EQ(r.status, 0) << key << ": " << r.err;
        EXPECT_EQ(without_comments(r.out), block) << key;
    }
    remove_tree(dir);
    return blocks.size();
}

TEST(Explain, EveryKeyOfTheExample)
{
    bool ok = false;
    std::string config = read_file(EXAMPLE_CONFIG, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(expect_explanations_match(config), 31u);
}

// Configurations with classes that include each other, overlapping entries
// (networks, ranges, names given twice), one-line entries, appends,
// overrides and references, names and values that hold "=" or quotes.
std::string generated_config(std::mt19937 *rng)
{
    auto pick = [rng](int n) { return static_cast<int>((*rng)() % static_cast<unsigned>(n)); };
    // Every entry sets v0 to a number, so a reference to it always resolves.
    static const char *const values[] = {"1", "a=b", "${v0}", "x${v0}y", "'q'", "", "/srv/${v0}"};
    auto value = [&] { return std::string(values[pick(7)]); };
    std::string c;
    int classes = 1 + pick(4);
    for (int i = 0; i < classes; i++) {
        c += "class c" + std::to_string(i);
        if (i > 0 && pick(2))
            c += " : c" + std::to_string(pick(i));
        c += " {";
        for (int v = 0; v < 3; v++)
            if (pick(2))
                c += " w" + std::to_string(i) + "_" + std::to_string(v) + " = \"" + value() + "\";";
        c += " }\n";
    }
    static const char *const names[] = {"10.0.0.0/30", "10.0.0.2", "10.0.0.1-2", "pc1", "pc1,pc2",
                                        "pc2,10.0.0.3", "lab-1", "10.0.0.0/31,lab-1"};
    std::set<std::string> used;
    for (int e = 0; e < 10; e++) {
        std::string name = names[pick(8)];
        if (!used.insert(name).second)
            continue;
        if (pick(3) == 0) {
            c += "\"" + name + "\": v0(" + std::to_string(e) + ") v1(" + value() + ") v0(z" +
                 std::to_string(e) + ")\n";
            continue;
        }
        c += "client \"" + name + "\"";
        if (pick(2))
            c += " : c" + std::to_string(pick(classes));
        c += " {\n  v0 = " + std::to_string(e) + ";\n  v1 = \"" + value() + "\";\n";
        c += "  v2 = k" + std::to_string(e) + ";\n";
        if (pick(2))
            c += "  v1 += \"" + value() + "\";\n";
        if (pick(2))
            c += "  override v2 = \"" + value() + "\";\n";
        c += "}\n";
    }
    return c;
}

// The keys explained of `configs` configurations that make() generates
// from the seed, each explained key by key.
size_t explained_keys(std::string (*make)(std::mt19937 *), uint32_t seed, int configs)
{
    std::mt19937 rng(seed);
    size_t keys = 0;
    for (int i = 0; i < configs; i++)
        keys += expect_explanations_match(make(&rng));
    return keys;
}

TEST(Explain, EveryKeyOfGeneratedConfigurations)
{
    EXPECT_GT(explained_keys(generated_config, 20261210, 20), 50u);
}

// Hosts that include the same classes in the same order, whose classes'
// values refer to each other's variables, and which change some of those
// variables (an override or an append of their own) or leave them: what a
// compile makes from the include path once and copies must be what the
// explanation, which makes every host's data itself, shows.
std::string shared_paths_config(std::mt19937 *rng)
{
    auto pick = [rng](int n) { return static_cast<int>((*rng)() % static_cast<unsigned>(n)); };
    std::string c = "class base { root = \"/srv\"; boot = \"pxe\"; loader = \"${root}/${boot}\"; }\n"
                    "class rack : base { rack = \"r1\"; switch = \"sw-${rack}.${root}\"; }\n"
                    "class uefi { arch = \"x64\"; efi = \"${arch}.efi\"; }\n"
                    "class site { note = \"${name}\"; }\n";
    static const char *const heads[] = {" : rack", " : rack, uefi", " : base, uefi", " : rack, site", ""};
    static const char *const changes[] = {"override boot = \"efi\";", "rack += \"-x\";", "override root = \"/r\";",
                                          "arch += \"v2\";", "override loader = \"${boot}\";", ""};
    std::string head = heads[pick(5)];
    for (int h = 0; h < 8; h++) {
        if (pick(3) == 0)
            head = heads[pick(5)];
        std::string name = "pc" + std::to_string(h);
        c += "client " + name + head + " {\n  name = \"" + name + "\";\n";
        // Changes of variables the head does not give are left out by the
        // compile's "duplicate" or "unknown" reports: only those it gives.
        std::string change = changes[pick(6)];
        bool given = change.find("arch") != std::string::npos ? head.find("uefi") != std::string::npos
                     : change.find("rack") != std::string::npos ? head.find("rack") != std::string::npos
                                                                : !head.empty() && head != " : site";
        if (given && !change.empty())
            c += "  " + change + "\n";
        c += "}\n";
    }
    return c;
}

TEST(Explain, EveryKeyOfHostsSharingIncludePaths)
{
    EXPECT_GT(explained_keys(shared_paths_config, 1215, 15), 100u);
}

TEST(Check, ExampleIsClean)
{
    std::string dir = make_temp_dir();
    process_result r = run_in(dir, {"--check", EXAMPLE_CONFIG});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
    remove_tree(dir);
}

// Every file of a folder with its content.
std::map<std::string, std::string> folder(const std::string &dir)
{
    std::map<std::string, std::string> files;
    DIR *d = opendir(dir.c_str());
    while (dirent *e = d ? readdir(d) : nullptr) {
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        bool ok = false;
        files[name] = read_file(dir + "/" + name, &ok);
    }
    if (d)
        closedir(d);
    return files;
}

// Names that look like a database and a temporary file are not touched.
TEST(Check, LeavesTheFolderAsItWas)
{
    std::string dir = make_temp_dir();
    write_file(dir + "/config", "client \"pc1,10.0.0.0/30\" { a = 1; }\n");
    write_file(dir + "/data.cdb", old_database);
    write_file(dir + "/data.tmp", "old temporary file");
    write_file(dir + "/config.tmp", "");
    auto before = folder(dir);
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"-t", "config"}, {"--check", "config"}, {"--explain=pc1", "config"},
          {"-e", "10.0.0.9", "config"}, {"-t", "data.cdb", "data.tmp", "config"}}) {
        run_in(dir, args);
        EXPECT_EQ(folder(dir), before) << args[0];
    }
    remove_tree(dir);
}

// A check takes the configuration alone: more than one operand is the
// usage error.
TEST(Check, Operands)
{
    struct operands_case {
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    const std::string usage = "corvane_make: Give --help option for usage information\n";
    const operands_case cases[] = {
        {{"-t", "a", "config"}, 1, usage},
        {{"--check", "a", "b", "config"}, 1, usage},
        {{"--explain=pc1", "data.cdb", "config"}, 1, usage},
        {{"-t", "-e", "pc1", "config"}, 0, "# pc1: given by entry \"pc1\" at line 1\n"},
        {{"-t", "config"}, 0, ""},
        {{"-t", "missing"}, 1, "corvane_make: cannot open input file: No such file or directory\n"},
    };
    std::string dir = make_temp_dir();
    write_file(dir + "/config", "client pc1 { a = 1; }\n");
    for (const operands_case &c : cases) {
        process_result r = run_in(dir, c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args[1];
        if (c.status == 0 && !c.err.empty())
            EXPECT_EQ(r.out.substr(0, c.err.size()), c.err);
        else
            EXPECT_EQ(r.err, c.err) << c.args[0] << " " << c.args[1];
    }
    remove_tree(dir);
}

} // namespace
