// corvane_make in what surrounds a run rather than in its configuration: a
// terminal as the input, a signal while the input is still being typed, and
// a second run that holds the lock on the same tmpfile. Each run must touch
// no file it should not, and a run that waited must install its own
// database and nothing else.
#include "tests/support/compile_config.h"
#include "tests/support/spawn_compiler.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace {

const std::string config_text = "client a { x = 1; }\n";
const std::string old_database = "the previous database\n";

std::string file_text(const std::string &path)
{
    bool ok = false;
    std::string text = read_file(path, &ok);
    return ok ? text : "(missing)";
}

std::set<std::string> names_in(const std::string &dir)
{
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

// The database that config_text compiles to, made by an undisturbed run.
std::string expected_database()
{
    compiled c = compile_config(CORVANE_MAKE_PATH, config_text);
    EXPECT_EQ(c.result.status, 0) << c.result.err;
    return c.db;
}

pid_t start_compiler(const std::string &dir, const std::vector<std::string> &operands, int in_fd = -1)
{
    return spawn_compiler(CORVANE_MAKE_PATH, dir, operands, in_fd);
}

// Whether the process waits for a lock, as /proc/locks lists it.
bool waits_for_lock(pid_t pid)
{
    std::ifstream locks("/proc/locks");
    std::string line;
    std::string id = " ";
    id.append(std::to_string(pid)).append(" ");
    while (std::getline(locks, line))
        if (line.find("->") != std::string::npos && line.find(id) != std::string::npos)
            return true;
    return false;
}

bool wait_until_blocked_on_lock(pid_t pid)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (waits_for_lock(pid))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

// The slip the refusal is for: "corvane_make clients.cdb clients.conf" at a
// terminal, the configfile operand forgotten. Whatever ends the typing, the
// configuration named as tmpfile would be replaced; the input is refused
// before anything is opened. A terminal named as configfile likewise.
TEST(RunEnvironment, ATerminalIsRefusedAsInput)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        GTEST_SKIP() << "no pseudo-terminal on this machine";
    std::string terminal = ptsname(master);
    std::string dir = make_temp_dir();
    write_file(dir + "/clients.conf", config_text);
    write_file(dir + "/clients.cdb", old_database);

    process_setup setup;
    setup.path = CORVANE_MAKE_PATH;
    setup.dir = dir;
    setup.timeout_seconds = 20;
    const std::vector<std::vector<std::string>> command_lines = {
        {"corvane_make", "clients.cdb", "clients.conf"},
        {"corvane_make", "clients.cdb", "clients.tmp", terminal},
    };
    for (const auto &argv : command_lines) {
        setup.argv = argv;
        setup.stdin_path = terminal;
        process_result r = run_process(setup);
        EXPECT_EQ(r.err, "corvane_make: cannot read the configuration from a terminal\n") << argv.size();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(file_text(dir + "/clients.conf"), config_text);
        EXPECT_EQ(file_text(dir + "/clients.cdb"), old_database);
        EXPECT_EQ(names_in(dir), (std::set<std::string>{"clients.conf", "clients.cdb"}));
    }
    close(master);
    remove_tree(dir);
}

// Interrupted while the configuration is still coming in (here: once it
// has read the first line of a block), the run has touched no file; the
// configuration named as tmpfile is intact.
TEST(RunEnvironment, ASignalWhileReadingLeavesEveryFile)
{
    std::string dir = make_temp_dir();
    write_file(dir + "/clients.conf", config_text);
    write_file(dir + "/clients.cdb", old_database);
    int pipe_fds[2];
    ASSERT_EQ(pipe2(pipe_fds, O_CLOEXEC), 0);
    pid_t pid = start_compiler(dir, {"clients.cdb", "clients.conf"}, pipe_fds[0]);
    ASSERT_GT(pid, 0);
    close(pipe_fds[0]);
    const char partial[] = "client b {\n";
    ASSERT_EQ(write(pipe_fds[1], partial, sizeof partial - 1), static_cast<ssize_t>(sizeof partial - 1));
    // Wait until the compiler has taken the bytes out of the pipe.
    int unread = 1;
    for (int i = 0; i < 10000 && unread > 0; i++) {
        ASSERT_EQ(ioctl(pipe_fds[1], FIONREAD, &unread), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(unread, 0);
    kill(pid, SIGINT);
    EXPECT_EQ(wait_status(pid), -SIGINT);
    close(pipe_fds[1]);
    EXPECT_EQ(file_text(dir + "/clients.conf"), config_text);
    EXPECT_EQ(file_text(dir + "/clients.cdb"), old_database);
    EXPECT_EQ(names_in(dir), (std::set<std::string>{"clients.conf", "clients.cdb"}));
    remove_tree(dir);
}

// Another run holds tmpfile: this one waits for it without touching the
// file, and once the lock is free builds and installs its own database.
TEST(RunEnvironment, ARunWaitsForTheLockOnTmpfile)
{
    if (!std::filesystem::exists("/proc/locks"))
        GTEST_SKIP() << "no /proc/locks to see the waiting run in";
    const std::string expected = expected_database();
    std::string dir = make_temp_dir();
    write_file(dir + "/config", config_text);
    write_file(dir + "/data.cdb", old_database);
    write_file(dir + "/data.tmp", "another run's database in the making\n");
    // Not inherited by the compiler, whose copy would hold the lock it waits for.
    int holder = open((dir + "/data.tmp").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);

    pid_t pid = start_compiler(dir, {"data.cdb", "data.tmp", "config"});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(wait_until_blocked_on_lock(pid));
    EXPECT_EQ(file_text(dir + "/data.tmp"), "another run's database in the making\n");
    EXPECT_EQ(file_text(dir + "/data.cdb"), old_database);
    close(holder);
    EXPECT_EQ(wait_status(pid), 0);
    EXPECT_TRUE(file_text(dir + "/data.cdb") == expected) << "the installed database differs";
    EXPECT_FALSE(std::filesystem::exists(dir + "/data.tmp"));
    remove_tree(dir);
}

// The run holding the lock finishes while this one waits: it renames the
// file away (over its cdbfile) and lets go. The file this run opened is now
// the other run's installed database; this run must open tmpfile afresh
// instead of writing into it.
TEST(RunEnvironment, ARunThatWaitedBuildsInAFreshFile)
{
    if (!std::filesystem::exists("/proc/locks"))
        GTEST_SKIP() << "no /proc/locks to see the waiting run in";
    const std::string expected = expected_database();
    std::string dir = make_temp_dir();
    write_file(dir + "/config", config_text);
    write_file(dir + "/other.cdb", old_database);
    write_file(dir + "/data.cdb", old_database);
    const std::string others_database = "the other run's database\n";
    int holder = open((dir + "/data.tmp").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);

    pid_t pid = start_compiler(dir, {"data.cdb", "data.tmp", "config"});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(wait_until_blocked_on_lock(pid));
    ASSERT_EQ(write(holder, others_database.data(), others_database.size()),
              static_cast<ssize_t>(others_database.size()));
    ASSERT_EQ(rename((dir + "/data.tmp").c_str(), (dir + "/other.cdb").c_str()), 0);
    close(holder);
    EXPECT_EQ(wait_status(pid), 0);
    EXPECT_EQ(file_text(dir + "/other.cdb"), others_database);
    EXPECT_TRUE(file_text(dir + "/data.cdb") == expected) << "the installed database differs";
    EXPECT_FALSE(std::filesystem::exists(dir + "/data.tmp"));
    remove_tree(dir);
}

} // namespace
