// corvane_make killed with SIGKILL at random moments while it compiles a
// large configuration over an existing database: afterwards cdbfile must
// always be the complete old database or the complete new one, byte for
// byte, and pellow must read it. CORVANE_KILL_RUNS sets the number of kills
// (25 by default; the README's reliability run uses 200).
#include "tests/support/compile_config.h"
#include "tests/support/spawn_compiler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

// Many records, so that every stage (reading, parsing, records, tables,
// header, sync and rename) takes a measurable share of the run.
std::string large_config()
{
    std::string c = "class base { domain = example.org; boot = /srv/boot; }\n";
    for (int i = 0; i < 600; i++) {
        std::string n = std::to_string(i);
        c += "client \"10." + std::to_string(i / 200) + "." + std::to_string(i % 200) +
             ".0/24,host" + n + "\" : base {\n  kernel = \"${boot}/vmlinuz-" + n +
             "\";\n  cmdline = \"root=${boot} id=" + n + " " + std::string(40, 'k') + "\";\n}\n";
    }
    return c;
}

pid_t start_compiler(const std::string &dir)
{
    return spawn_compiler(CORVANE_MAKE_PATH, dir, {"data.cdb", "data.tmp", "config"});
}

// Runs the compiler to its end; returns how long that took.
std::chrono::microseconds undisturbed_run(const std::string &dir, int *status)
{
    auto start = std::chrono::steady_clock::now();
    *status = wait_status(start_compiler(dir));
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 start);
}

bool pellow_reads(const std::string &db)
{
    return dump_database(PELLOW_PATH, db).status == 0;
}

TEST(KillDuringCompile, CdbfileIsAlwaysTheOldOrTheNewDatabase)
{
    const char *runs_text = getenv("CORVANE_KILL_RUNS");
    int runs = runs_text ? atoi(runs_text) : 25;
    std::string dir = make_temp_dir();

    // The old database: a real one, compiled from a small configuration.
    write_file(dir + "/config", "client old { a = 1; }\n");
    int status = -1;
    undisturbed_run(dir, &status);
    ASSERT_EQ(status, 0);
    bool ok = false;
    const std::string old_db = read_file(dir + "/data.cdb", &ok);
    ASSERT_TRUE(ok);

    write_file(dir + "/config", large_config());
    std::chrono::microseconds duration = undisturbed_run(dir, &status);
    ASSERT_EQ(status, 0);
    const std::string new_db = read_file(dir + "/data.cdb", &ok);
    ASSERT_GT(new_db.size(), 2048u + 64000u * 16);
    ASSERT_TRUE(pellow_reads(new_db));

    std::mt19937 rng(static_cast<unsigned>(std::random_device{}()));
    // Up to a little past the end of an undisturbed run, so that some kills
    // come after the rename.
    std::uniform_int_distribution<long> moment(0, duration.count() * 11 / 10);
    int old_seen = 0, new_seen = 0;
    for (int i = 0; i < runs; i++) {
        write_file(dir + "/data.cdb", old_db);
        unlink((dir + "/data.tmp").c_str());
        long at = moment(rng);
        pid_t pid = start_compiler(dir);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(at));
        kill(pid, SIGKILL);
        wait_status(pid);
        std::string db = read_file(dir + "/data.cdb", &ok);
        ASSERT_TRUE(ok) << "kill " << i << " after " << at << " us: cdbfile is gone";
        bool is_old = db == old_db, is_new = db == new_db;
        ASSERT_TRUE(is_old || is_new) << "kill " << i << " after " << at
                                      << " us: cdbfile is neither database (" << db.size()
                                      << " bytes)";
        ASSERT_TRUE(pellow_reads(db)) << "kill " << i;
        old_seen += is_old;
        new_seen += is_new;
    }
    remove_tree(dir);
    std::printf("%d kills over runs of %ld us: %d left the old database, %d the new one\n", runs,
                static_cast<long>(duration.count()), old_seen, new_seen);
}

} // namespace
