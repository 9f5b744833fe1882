// corvane_make with memory running out at every allocation that a run
// makes, one after the other (the fault-injecting build, faults/): the run
// either succeeds with the very database of an undisturbed run, or ends with
// one of the three out-of-memory reports and its status, never by a signal
// and never with cdbfile changed.
#include "tests/support/compile_config.h"

#include "lib/pages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

namespace {

// Reaches the allocations of every stage: a line longer than the read
// buffer, classes with includes, appends and overrides, a one-line entry,
// enough hosts to grow the name index, references to expand, a range and a
// network of more records than one chunk of index entries holds, and more
// top-level statements than the parser's first stack.
std::string rich_config()
{
    std::string c = "# " + std::string(20000, 'x') + "\n";
    c += "class base { domain = example.org; path = /srv; }\n";
    c += "class boot : base { kernel = \"${path}/vmlinuz\"; path += /boot; }\n";
    for (int i = 0; i < 12; i++)
        c += "client h" + std::to_string(i) + " : boot { override path = /h" + std::to_string(i) +
             "; x = \"${kernel} ${domain}\"; }\n";
    c += "printer: queue(lp) duplex()\n";
    c += "client \"10.1.2.5-9,pc\" { a = \"${b}${b}\"; b = \"${c}-${c}\"; c = z; }\n";
    c += "client \"10.2.0.0/22\" : base;\n";
    c += std::string(300, ';') + "\n";
    return c;
}

struct outcome {
    process_result result;
    std::string installed;
    bool fault_struck;
};

outcome compile(const std::string &config, const std::string &faults)
{
    std::string dir = make_temp_dir();
    write_file(dir + "/config", config);
    write_file(dir + "/data.cdb", old_database);
    process_setup setup;
    setup.path = CORVANE_MAKE_FAULTS_PATH;
    setup.argv = {"corvane_make", "data.cdb", "data.tmp", "config"};
    setup.dir = dir;
    if (!faults.empty())
        setup.env = {"CORVANE_FAULTS=" + faults + ",mark"};
    outcome o;
    o.result = run_process(setup);
    bool ok = false;
    o.installed = read_file(dir + "/data.cdb", &ok);
    o.fault_struck = std::filesystem::exists(dir + "/fault-injected");
    remove_tree(dir);
    return o;
}

bool documented_out_of_memory(const process_result &r)
{
    static const std::regex zostr("out of memory in zostr_x[a-z_]+\n");
    static const std::regex tables("corvane_make: out of memory at line [0-9]+\n");
    return (r.status == 111 && r.err == "out of memory\n") ||
           (r.status == 1 && (std::regex_match(r.err, zostr) || std::regex_match(r.err, tables)));
}

// Fails allocation n (and, onward, every later one) for n = 1, 2, ... until
// a run no longer reaches the n-th allocation. An undisturbed run ends with
// status 0, or with the message `error` and status 1: a run with a failing
// allocation must end the same way or with an out-of-memory report.
void every_allocation(const std::string &config, bool onward, const std::string &error = "")
{
    outcome undisturbed = compile(config, "");
    ASSERT_EQ(undisturbed.result.err, error);
    ASSERT_EQ(undisturbed.result.status, error.empty() ? 0 : 1);

    int failures = 0;
    unsigned n = 1;
    for (;; n++) {
        std::string faults = "alloc=" + std::to_string(n) + (onward ? "+" : "");
        outcome o = compile(config, faults);
        const process_result &r = o.result;
        ASSERT_EQ(r.signal, 0) << faults << ": ended by a signal; stderr: " << r.err;
        if (!o.fault_struck) {
            ASSERT_EQ(r.status, undisturbed.result.status) << faults << ": " << r.err;
            break;
        }
        if (r.status == undisturbed.result.status && r.err == error) {
            // The failure was absorbed (an unbuffered write, tracking off):
            // the outcome must be the same.
            EXPECT_TRUE(o.installed == undisturbed.installed) << faults << ": database differs";
            continue;
        }
        failures++;
        EXPECT_TRUE(documented_out_of_memory(r))
            << faults << ": status " << r.status << ", stderr: " << r.err;
        EXPECT_EQ(o.installed, old_database) << faults << ": cdbfile changed";
    }
    // The run makes allocations at every stage (the block allocators keep
    // their number small); each was tried, and the wrapper did fail them.
    EXPECT_GT(n, 10u);
    EXPECT_GT(failures, 5);
}

TEST(FaultAlloc, EachAllocationFailingAlone)
{
    every_allocation(rich_config(), false);
}

TEST(FaultAlloc, EveryAllocationFromTheNthOn)
{
    every_allocation(rich_config(), true);
}

// The large blocks: a text of more than a huge page, and hosts whose data
// outgrows the text behind the parser, past the first data block into
// blocks of a huge page each.
TEST(FaultAlloc, LargeBlocks)
{
    std::string c = "# " + std::string(pages_huge, 'x') + "\n";
    c += "class big { v = \"" + std::string(400, 'v') + "\"; }\n";
    for (int i = 0; i < 8000; i++)
        c += "client h" + std::to_string(i) + " : big;\n";
    every_allocation(c, false);
}

// The reports of a failed run build their details in memory too.
TEST(FaultAlloc, ReportsOfFailedRuns)
{
    every_allocation(rich_config() + "client bad { a = \"${nope}\"; }\n", false,
                     "corvane_make: didn't find variable: ${nope} at line 20\n");
    every_allocation(rich_config() + "client bad { a b }\n", false,
                     "corvane_make: parse error: before ` } ', last symbol was string at line 20\n");
}

} // namespace
