// Runs zogetopt in a forked child and collects what it did.
#include "lib/zogetopt_test_run.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int report_fd = -1;

enum : char { kind_output = 'O', kind_note = 'N' };

void put_all(const void *data, size_t n)
{
    const char *p = static_cast<const char *>(data);
    while (n > 0) {
        ssize_t r = write(report_fd, p, n);
        if (r <= 0)
            _exit(120);
        p += r;
        n -= static_cast<size_t>(r);
    }
}

void put_record(char kind, int32_t selector, const std::string &text)
{
    uint32_t n = static_cast<uint32_t>(text.size());
    put_all(&kind, 1);
    put_all(&selector, sizeof selector);
    put_all(&n, sizeof n);
    put_all(text.data(), n);
}

void capture(int selector, const char *text)
{
    put_record(kind_output, selector, text);
}

void set_posix(posix_env posix)
{
    if (posix == posix_env::unset)
        unsetenv("POSIXLY_CORRECT");
    else
        setenv("POSIXLY_CORRECT", posix == posix_env::empty ? "" : "1", 1);
}

[[noreturn]] void run_child(const zogetopt_test_setup &setup, const std::vector<std::string> &args,
                            posix_env posix)
{
    set_posix(posix);
    std::vector<std::string> texts = {zogetopt_test_argv0};
    texts.insert(texts.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &t : texts)
        argv.push_back(t.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(texts.size());

    zogetopt(setup.program, setup.package, setup.version, &argc, argv.data(), capture,
             setup.usage, setup.table, setup.trailing);

    std::string ops = "[";
    int n = 1;
    for (; argv[n] != nullptr; n++)
        ops += std::string(n > 1 ? "|" : "") + argv[n];
    ops += "]";
    if (n != argc)
        ops += " argc=" + std::to_string(argc);
    if (argv[0] != texts[0].data())
        ops += " argv0-changed";
    zogetopt_test_note(ops);
    if (setup.describe)
        zogetopt_test_note(setup.describe());
    _exit(0);
}

bool get_all(int fd, void *data, size_t n)
{
    char *p = static_cast<char *>(data);
    while (n > 0) {
        ssize_t r = read(fd, p, n);
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

void collect(int fd, zogetopt_test_result *result)
{
    char kind;
    int32_t selector;
    uint32_t n;
    while (get_all(fd, &kind, 1) && get_all(fd, &selector, sizeof selector) &&
           get_all(fd, &n, sizeof n)) {
        std::string text(n, '\0');
        if (!get_all(fd, text.data(), n))
            break;
        if (kind == kind_note) {
            result->log += (result->log.empty() ? "" : " ") + text;
            continue;
        }
        result->texts.emplace_back(selector, text);
        (selector == 0 ? result->out : result->err) += text;
    }
}

}  // namespace

void zogetopt_test_note(const std::string &note)
{
    put_record(kind_note, 0, note);
}

zogetopt_test_result run_zogetopt(const zogetopt_test_setup &setup,
                                  const std::vector<std::string> &args, posix_env posix)
{
    zogetopt_test_result result = {-1, "", "", {}, ""};
    int fds[2];
    if (pipe(fds) != 0)
        abort();
    pid_t pid = fork();
    if (pid < 0)
        abort();
    if (pid == 0) {
        close(fds[0]);
        report_fd = fds[1];
        run_child(setup, args, posix);
    }
    close(fds[1]);
    collect(fds[0], &result);
    close(fds[0]);
    int status;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    return result;
}
