// Fuzzing entry for corvane_make's command line: standard input holds the
// argument vector, its words separated by NUL bytes (argument zero first),
// and the compiler runs on it as its main would.
//
// The arguments name files that the compiler opens, truncates and renames,
// so the run is shut in its working directory first: chroot to it (the
// harness runs as root, as the fuzzing scripts do), wipe what an earlier
// run left there and lay out two files that operands can name, "c" (a small
// configuration) and "d.cdb" (an old database).
#include "compiler/driver.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
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
    int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, text, strlen(text)) < 0 || close(fd) < 0)
        harness_fail(name);
}

void enter_sandbox()
{
    if (chroot(".") != 0 || chdir("/") != 0)
        harness_fail("chroot to the working directory");
    DIR *d = opendir(".");
    if (!d)
        harness_fail("opendir");
    while (dirent *e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            unlink(e->d_name);
    closedir(d);
    write_fixture("c", fixture_config);
    write_fixture("d.cdb", fixture_database);
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

} // namespace

int main()
{
    enter_sandbox();
    std::vector<char> input = read_input();
    if (!input.empty() && input.back() != 0)
        input.push_back(0);
    std::vector<char *> argv;
    for (size_t i = 0; i < input.size(); i += strlen(&input[i]) + 1)
        argv.push_back(&input[i]);
    int argc = static_cast<int>(argv.size());
    argv.push_back(nullptr);
    return corvane_make_main(argc, argv.data());
}
