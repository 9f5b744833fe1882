// End-to-end cases of both programs, one case file each under cases/:
// cases/pellow/ run the dumper on a described database, cases/corvane_make/
// run the compiler on a configuration and dump what it installed, and
// cases/corvane_make_faults/ run the compiler's fault-injecting test build
// (faults/fault_inject.cc; the env section sets CORVANE_FAULTS) the same way,
// and cases/corvane_make_capped/ a test build whose database limit is the
// fuzzing build's cap.
//
// Sections of a case (see support/case_file.h for the file syntax):
//   db        pellow: the database on standard input (support/db_text.h)
//   config    corvane_make: written to the file "config"
//   args      the arguments, words over any number of lines; for the
//             compiler "data.cdb data.tmp config" when absent; "{shm}" in
//             a word stands for a fresh directory on another file system
//             (/dev/shm), and the case is skipped where there is none
//   argv0     argument zero (default: the program's name)
//   stdin     standard input (instead of db)
//   env       NAME=VALUE lines
//   options   words: stdin-pipe (standard input through a pipe), stdout-full
//             (standard output on /dev/full), stdin-dir (standard input is a
//             directory), stdin-file:NAME (standard input is the file NAME
//             of the working directory), stdin-closed, stdout-closed,
//             stderr-closed (the descriptor is closed)
//   stdout, stderr, status   what the run must give (default: empty, 0);
//             "{version}" in stdout stands for the programs' version
//   dump      corvane_make: pellow's output on the installed database
//   installed corvane_make: the installed database, byte for byte, described
//             as for db
//   dirs      directories to create in the working directory before the run
//   setup     lines run in the working directory before the run, after the
//             config and data.cdb are written: "file NAME TEXT" (TEXT a
//             word, quoted with escapes where needed), "symlink TARGET
//             NAME", "link TARGET NAME" (a hard link), "fifo NAME"
//   unchanged files that must hold after the run exactly what they held
//             before it (read through any link)
//   absent    files that must not exist after the run
// A section, flag or option word that is not listed here fails the case.
// A compiler run starts with "data.cdb" holding an old database; a run that
// installs nothing (no dump or installed section) must leave it untouched.
// The compiler never writes its configuration: "config" must hold its
// section's text after every run.
#include "tests/support/case_file.h"
#include "tests/support/compile_config.h"
#include "tests/support/db_text.h"
#include "tests/support/run_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool has_option(const case_file &c, const std::string &option)
{
    auto it = c.sections.find("options");
    if (it == c.sections.end())
        return false;
    std::string error;
    for (const std::string &line : body_lines(it->second)) {
        std::vector<std::string> words = split_words(line, &error);
        if (std::find(words.begin(), words.end(), option) != words.end())
            return true;
    }
    return false;
}

std::string section(const case_file &c, const std::string &name, const std::string &fallback = "")
{
    auto it = c.sections.find(name);
    return it == c.sections.end() ? fallback : it->second;
}

std::vector<std::string> words_of(const std::string &body, std::string *error)
{
    std::vector<std::string> words;
    for (const std::string &line : body_lines(body))
        for (std::string &w : split_words(line, error))
            words.push_back(w);
    return words;
}

std::string program_of(const case_file &c)
{
    return std::filesystem::path(c.path).parent_path().filename().string();
}

std::string program_path(const std::string &program)
{
    if (program == "pellow")
        return PELLOW_PATH;
    if (program == "corvane_make")
        return CORVANE_MAKE_PATH;
    if (program == "corvane_make_faults")
        return CORVANE_MAKE_FAULTS_PATH;
    if (program == "corvane_make_capped")
        return CORVANE_MAKE_CAPPED_PATH;
    return "";
}

// A directory on a file system other than the one of dir, or "" when the
// machine has none to offer.
std::string other_file_system_dir(const std::string &dir)
{
    struct stat here, there;
    if (stat(dir.c_str(), &here) != 0 || stat("/dev/shm", &there) != 0 || here.st_dev == there.st_dev)
        return "";
    char pattern[] = "/dev/shm/corvane-test-XXXXXX";
    return mkdtemp(pattern) ? pattern : "";
}

std::string substituted(std::string word, const std::string &placeholder, const std::string &value)
{
    for (size_t at; (at = word.find(placeholder)) != std::string::npos;)
        word.replace(at, placeholder.size(), value);
    return word;
}

// The value of an option word "name:VALUE", or "" when there is none.
std::string option_value(const case_file &c, const std::string &name)
{
    auto it = c.sections.find("options");
    if (it == c.sections.end())
        return "";
    std::string error;
    for (const std::string &line : body_lines(it->second))
        for (const std::string &w : split_words(line, &error))
            if (w.rfind(name + ":", 0) == 0)
                return w.substr(name.size() + 1);
    return "";
}

// Carries out the setup section in dir; returns what went wrong, or "".
std::string run_setup(const std::string &body, const std::string &dir)
{
    std::string error;
    for (const std::string &line : body_lines(body)) {
        std::vector<std::string> w = split_words(line, &error);
        if (w.empty())
            continue;
        bool ok = true;
        if (w[0] == "file" && w.size() == 3)
            write_file(dir + "/" + w[1], w[2]);
        else if (w[0] == "symlink" && w.size() == 3)
            ok = symlink(w[1].c_str(), (dir + "/" + w[2]).c_str()) == 0;
        else if (w[0] == "link" && w.size() == 3)
            ok = link((dir + "/" + w[1]).c_str(), (dir + "/" + w[2]).c_str()) == 0;
        else if (w[0] == "fifo" && w.size() == 2)
            ok = mkfifo((dir + "/" + w[1]).c_str(), 0644) == 0;
        else
            return "bad setup line: " + line;
        if (!ok)
            return "setup failed: " + line;
    }
    return error;
}

// The sections a case may have, and which program's cases may have them.
struct known_section {
    const char *name;
    bool pellow;
    bool compiler;
};
constexpr known_section known_sections[] = {
    {"db", true, false},        {"config", false, true},    {"args", true, true},
    {"argv0", true, true},      {"stdin", true, true},      {"env", true, true},
    {"options", true, true},    {"stdout", true, true},     {"stderr", true, true},
    {"status", true, true},     {"dump", false, true},      {"installed", false, true},
    {"dirs", false, true},      {"setup", false, true},     {"unchanged", false, true},
    {"absent", true, true},
};

constexpr const char *known_options[] = {
    "stdin-pipe", "stdout-full", "stdin-dir", "stdin-file:", "stdin-closed", "stdout-closed",
    "stderr-closed",
};

bool known_option(const std::string &word)
{
    for (std::string_view o : known_options)
        if (o.back() == ':' ? word.rfind(o, 0) == 0 && word.size() > o.size() : word == o)
            return true;
    return false;
}

// What a case holds that the runner does not know, or "": a misspelt
// section or option must fail the case, not pass unnoticed.
std::string unknown_in(const case_file &c, bool compiler)
{
    for (const auto &[name, body] : c.sections) {
        const known_section *k = nullptr;
        for (const known_section &s : known_sections)
            if (name == s.name)
                k = &s;
        if (!k)
            return "unknown section " + name;
        if (!(compiler ? k->compiler : k->pellow))
            return "section " + name + " is not for this program";
    }
    std::string error;
    for (const std::string &w : words_of(section(c, "options"), &error))
        if (!known_option(w))
            return "unknown option " + w;
    return error;
}

TEST(CaseRunner, RejectsWhatItDoesNotKnow)
{
    struct runner_case {
        std::map<std::string, std::string> sections;
        bool compiler;
        std::string problem;
    };
    const runner_case cases[] = {
        {{{"config", ""}, {"absent", "data.tmp\n"}}, true, ""},
        {{{"config", ""}, {"absnt", "data.tmp\n"}}, true, "unknown section absnt"},
        {{{"db", ""}, {"config", ""}}, false, "section config is not for this program"},
        {{{"options", "stdin-pipe stdout-full\n"}}, true, ""},
        {{{"options", "stdin-pipes\n"}}, true, "unknown option stdin-pipes"},
        {{{"options", "stdin-file:data.tmp\n"}}, true, ""},
        {{{"options", "stdin-file:\n"}}, true, "unknown option stdin-file:"},
    };
    for (const runner_case &rc : cases) {
        case_file c;
        c.sections = rc.sections;
        EXPECT_EQ(unknown_in(c, rc.compiler), rc.problem) << rc.problem;
    }
}

TEST(CaseRunner, RejectsUnknownFlags)
{
    std::string dir = make_temp_dir();
    write_file(dir + "/flags.case", "=== config escapd\nx\n");
    EXPECT_EQ(read_case_file(dir + "/flags.case").error, "unknown flag escapd of section config");
    remove_tree(dir);
}

class E2E : public ::testing::TestWithParam<std::string> {};

TEST_P(E2E, Case)
{
    case_file c = read_case_file(GetParam());
    ASSERT_EQ(c.error, "") << c.path;
    std::string program = program_of(c);
    bool compiler = program.rfind("corvane_make", 0) == 0;
    std::string path = program_path(program);
    ASSERT_NE(path, "") << "no program " << program << " for " << c.path;
    ASSERT_EQ(unknown_in(c, compiler), "") << c.path;

    std::string dir = make_temp_dir();
    process_setup setup;
    setup.path = path;
    setup.dir = dir;
    std::string error;
    setup.argv.push_back(c.sections.count("argv0") ? body_lines(section(c, "argv0")).at(0)
                        : compiler                 ? "corvane_make"
                                                   : program);
    std::string default_args = compiler ? "data.cdb data.tmp config" : "";
    std::string args = section(c, "args", default_args);
    std::string shm;
    if (args.find("{shm}") != std::string::npos) {
        shm = other_file_system_dir(dir);
        if (shm.empty()) {
            remove_tree(dir);
            GTEST_SKIP() << "no second file system (/dev/shm) on this machine";
        }
    }
    for (const std::string &w : words_of(args, &error))
        setup.argv.push_back(substituted(w, "{shm}", shm));
    for (const std::string &line : body_lines(section(c, "env")))
        setup.env.push_back(line);
    setup.stdin_data = section(c, "stdin");
    if (c.sections.count("db"))
        setup.stdin_data = build_db_from_text(section(c, "db"), &error);
    ASSERT_EQ(error, "") << c.path;
    setup.stdin_pipe = has_option(c, "stdin-pipe");
    if (has_option(c, "stdin-dir"))
        setup.stdin_path = dir;
    if (std::string name = option_value(c, "stdin-file"); !name.empty())
        setup.stdin_path = dir + "/" + name;
    if (has_option(c, "stdout-full"))
        setup.stdout_path = "/dev/full";
    const char *closable[] = {"stdin-closed", "stdout-closed", "stderr-closed"};
    for (int fd = 0; fd < 3; fd++)
        if (has_option(c, closable[fd]))
            setup.closed.push_back(fd);
    for (const std::string &d : words_of(section(c, "dirs"), &error))
        std::filesystem::create_directories(dir + "/" + d);
    if (compiler) {
        if (c.sections.count("config"))
            write_file(dir + "/config", section(c, "config"));
        write_file(dir + "/data.cdb", old_database);
    }
    ASSERT_EQ(run_setup(section(c, "setup"), dir), "") << c.path;
    std::map<std::string, std::string> before;
    for (const std::string &f : words_of(section(c, "unchanged"), &error)) {
        bool ok = false;
        before[f] = read_file(dir + "/" + f, &ok);
        ASSERT_TRUE(ok) << c.path << ": cannot read " << f;
    }

    process_result r = run_process(setup);
    EXPECT_EQ(r.signal, 0) << c.path << ": ended by a signal";
    EXPECT_EQ(r.err, section(c, "stderr")) << c.path;
    EXPECT_EQ(r.out, substituted(section(c, "stdout"), "{version}", CORVANE_VERSION)) << c.path;
    int status = std::stoi(section(c, "status", "0"));
    EXPECT_EQ(r.status, status) << c.path;

    for (const std::string &f : words_of(section(c, "absent"), &error))
        EXPECT_FALSE(std::filesystem::exists(dir + "/" + f)) << c.path << ": " << f << " exists";
    for (const auto &[f, bytes] : before) {
        bool ok = false;
        EXPECT_TRUE(read_file(dir + "/" + f, &ok) == bytes) << c.path << ": " << f << " changed";
    }
    if (compiler && c.sections.count("config")) {
        bool ok = false;
        EXPECT_TRUE(read_file(dir + "/config", &ok) == section(c, "config"))
            << c.path << ": the configuration changed";
    }
    if (compiler) {
        bool ok = false;
        std::string installed = read_file(dir + "/data.cdb", &ok);
        if (c.sections.count("installed")) {
            std::string expected = build_db_from_text(section(c, "installed"), &error);
            EXPECT_EQ(error, "") << c.path;
            EXPECT_TRUE(installed == expected) << c.path << ": the installed database differs";
        } else if (c.sections.count("dump")) {
            process_result d = dump_database(PELLOW_PATH, installed);
            EXPECT_EQ(d.status, 0) << c.path << ": pellow on the installed database: " << d.err;
            EXPECT_EQ(d.out, section(c, "dump")) << c.path;
        } else {
            // Nothing was to be installed: a failed run, or help output.
            EXPECT_EQ(installed, old_database) << c.path << ": data.cdb changed";
        }
    }
    remove_tree(dir);
    if (!shm.empty())
        remove_tree(shm);
}

std::string case_name(const ::testing::TestParamInfo<std::string> &info)
{
    std::filesystem::path p(info.param);
    std::string name = p.parent_path().filename().string() + "_" + p.stem().string();
    for (char &ch : name)
        if (!isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, E2E, ::testing::ValuesIn(list_case_files(CASES_DIR)), case_name);

} // namespace
