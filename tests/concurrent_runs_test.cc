// Two corvane_make runs at once with the same cdbfile and the same tmpfile
// (two administrators, or a timer and a person), each on a configuration of
// its own, of different sizes, started together or a little apart: both must
// succeed, and cdbfile must afterwards be byte for byte the database of one
// of them. CORVANE_RACE_PAIRS sets the number of pairs (10 by default; the
// README's reliability run uses 200).
#include "tests/support/run_process.h"
#include "tests/support/spawn_compiler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

// hosts client blocks, each /26 network a record per address: from a few
// records to tens of thousands, so that one run may still be parsing while
// the other writes, or be done long before it.
std::string config_of(int hosts, const std::string &tag)
{
    std::string c = "class base { domain = " + tag + ".example; boot = /srv/" + tag + "; }\n";
    for (int i = 0; i < hosts; i++) {
        std::string n = std::to_string(i);
        c += "client \"10." + std::to_string(i / 250) + "." + std::to_string(i % 250) +
             ".0/26,h" + n + "\" : base {\n  kernel = \"${boot}/vmlinuz-" + n + "\";\n}\n";
    }
    return c;
}

pid_t start_compiler(const std::string &dir, const std::string &config)
{
    return spawn_compiler(CORVANE_MAKE_PATH, dir, {"data.cdb", "data.tmp", config});
}

TEST(ConcurrentRuns, CdbfileIsTheDatabaseOfOneOfThem)
{
    const char *pairs_text = getenv("CORVANE_RACE_PAIRS");
    int pairs = pairs_text ? atoi(pairs_text) : 10;
    std::string dir = make_temp_dir();

    const int sizes[] = {1, 40, 400, 1200};
    const int kinds = sizeof sizes / sizeof sizes[0];
    std::vector<std::string> databases;
    for (int k = 0; k < kinds; k++) {
        std::string name = "config" + std::to_string(k);
        write_file(dir + "/" + name, config_of(sizes[k], name));
        ASSERT_EQ(wait_status(start_compiler(dir, name)), 0);
        bool ok = false;
        databases.push_back(read_file(dir + "/data.cdb", &ok));
        ASSERT_TRUE(ok);
    }

    std::mt19937 rng(static_cast<unsigned>(std::random_device{}()));
    std::uniform_int_distribution<int> kind(0, kinds - 1);
    std::uniform_int_distribution<int> stagger_us(0, 3000);
    int first_won = 0, second_won = 0;
    for (int i = 0; i < pairs; i++) {
        int a = kind(rng), b = kind(rng);
        while (b == a)
            b = kind(rng);
        int stagger = stagger_us(rng);
        pid_t first = start_compiler(dir, "config" + std::to_string(a));
        std::this_thread::sleep_for(std::chrono::microseconds(stagger));
        pid_t second = start_compiler(dir, "config" + std::to_string(b));
        ASSERT_GT(first, 0);
        ASSERT_GT(second, 0);
        int first_status = wait_status(first), second_status = wait_status(second);
        std::string pair = "pair " + std::to_string(i) + " (sizes " + std::to_string(sizes[a]) +
                           " and " + std::to_string(sizes[b]) + ", " + std::to_string(stagger) +
                           " us apart)";
        ASSERT_EQ(first_status, 0) << pair;
        ASSERT_EQ(second_status, 0) << pair;
        bool ok = false;
        std::string db = read_file(dir + "/data.cdb", &ok);
        bool is_first = db == databases[static_cast<size_t>(a)];
        bool is_second = db == databases[static_cast<size_t>(b)];
        ASSERT_TRUE(is_first || is_second) << pair << ": cdbfile is neither database ("
                                           << db.size() << " bytes)";
        ASSERT_FALSE(std::filesystem::exists(dir + "/data.tmp")) << pair;
        first_won += is_first;
        second_won += is_second;
    }
    remove_tree(dir);
    std::printf("%d pairs: the first run's database installed last %d times, the second's %d\n",
                pairs, first_won, second_won);
}

} // namespace
