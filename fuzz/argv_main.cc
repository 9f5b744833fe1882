// Fuzzing entry for corvane_make's command line: standard input holds the
// argument vector, its words separated by NUL bytes (argument zero first),
// and the compiler runs on it as its main would.
//
// The arguments name files that the compiler opens, truncates and renames,
// so each run is shut in a directory of its own: the harness makes a fresh
// one in its working directory, and a child process chroots into it (the
// harness runs as root, as the fuzzing scripts do), lays out two files that
// operands can name, "c" (a small configuration) and "d.cdb" (an old
// database), and runs the compiler. The harness then removes that directory
// with what the child made in it, and nothing else, and ends as the child
// ended: with its status, or by its signal, so that the fuzzer sees a crash.
// A run that the fuzzer kills for taking too long leaves its directory
// behind (the child is killed with it); fuzz/run.sh removes the working
// directory at the end.
#include "compiler/driver.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const char fixture_config[] = "class k { a = 1; }\nclient \"h,10.0.0.0/30\" : k { b = \"${a}\"; }\nx: y(z)\n";
const char fixture_database[] = "an old database\n";

[[noreturn]] void harness_fail(const char *what)
{
    fprintf(stderr, "fuzz_argv: %s: %s\n", what, strerror(errno));
    abort();
}

void write_fixture(const char *name, const char *text)
{
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0 || write(fd, text, strlen(text)) < 0 || close(fd) < 0)
        harness_fail(name);
}

std::vector<char> read_input()
{
    std::vector<char> input;
    char buf[65536];
    for (;;) {
        ssize_t n = read(0, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        input.insert(input.end(), buf, buf + n);
    }
    return input;
}

[[noreturn]] void run_compiler(const char *sandbox, pid_t harness, std::vector<char> *input)
{
    // Killed with the harness, which the fuzzer kills when a run hangs.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != harness)
        _exit(1);
    if (chroot(sandbox) != 0 || chdir("/") != 0)
        harness_fail("chroot to the run's directory");
    write_fixture("c", fixture_config);
    write_fixture("d.cdb", fixture_database);
    if (!input->empty() && input->back() != 0)
        input->push_back(0);
    std::vector<char *> argv;
    for (size_t i = 0; i < input->size(); i += strlen(&(*input)[i]) + 1)
        argv.push_back(&(*input)[i]);
    int argc = static_cast<int>(argv.size());
    argv.push_back(nullptr);
    exit(corvane_make_main(argc, argv.data()));
}

// Everything in the run's directory was made by the run: the compiler
// creates files only (tmpfile, renamed to cdbfile), never directories.
void remove_sandbox(const char *sandbox)
{
    DIR *d = opendir(sandbox);
    if (!d)
        harness_fail("opendir of the run's directory");
    while (dirent *e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            unlinkat(dirfd(d), e->d_name, 0);
    closedir(d);
    if (rmdir(sandbox) != 0)
        harness_fail("rmdir of the run's directory");
}

} // namespace

int main()
{
    std::vector<char> input = read_input();
    char sandbox[] = "argv-run-XXXXXX";
    if (!mkdtemp(sandbox))
        harness_fail("mkdtemp");
    pid_t harness = getpid();
    pid_t pid = fork();
    if (pid < 0)
        harness_fail("fork");
    if (pid == 0)
        run_compiler(sandbox, harness, &input);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            harness_fail("waitpid");
    remove_sandbox(sandbox);
    if (WIFSIGNALED(status)) {
        signal(WTERMSIG(status), SIG_DFL);
        raise(WTERMSIG(status));
        abort();
    }
    return WEXITSTATUS(status);
}
