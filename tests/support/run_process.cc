// Child processes for end-to-end tests.
#include "tests/support/run_process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string read_fd(int fd)
{
    std::string text;
    char buf[65536];
    lseek(fd, 0, SEEK_SET);
    for (;;) {
        ssize_t r = read(fd, buf, sizeof buf);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        text.append(buf, static_cast<size_t>(r));
    }
    return text;
}

int anonymous_file()
{
    FILE *f = tmpfile();
    if (!f) {
        perror("tmpfile");
        abort();
    }
    // The file has no name; the duplicate keeps it alive after fclose.
    int fd = dup(fileno(f));
    fclose(f);
    return fd;
}

[[noreturn]] void child_fail(const char *what)
{
    fprintf(stderr, "test child: %s: %s\n", what, strerror(errno));
    _exit(127);
}

void write_all(int fd, const std::string &data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t r = write(fd, data.data() + done, data.size() - done);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return;   // the child stopped reading; what it read is what counts
        done += static_cast<size_t>(r);
    }
}

} // namespace

process_result run_process(const process_setup &setup)
{
    signal(SIGPIPE, SIG_IGN);
    int out_fd = anonymous_file();
    int err_fd = anonymous_file();
    int in_fd = -1, pipe_fds[2] = {-1, -1};
    if (setup.stdin_pipe) {
        if (pipe(pipe_fds) != 0)
            abort();
    } else if (setup.stdin_path.empty()) {
        in_fd = anonymous_file();
        write_all(in_fd, setup.stdin_data);
        lseek(in_fd, 0, SEEK_SET);
    }

    pid_t pid = fork();
    if (pid < 0)
        abort();
    if (pid == 0) {
        if (setup.stdin_pipe) {
            in_fd = pipe_fds[0];
            close(pipe_fds[1]);
        } else if (!setup.stdin_path.empty()) {
            in_fd = open(setup.stdin_path.c_str(), O_RDONLY);
            if (in_fd < 0)
                child_fail("open stdin");
        }
        if (!setup.stdout_path.empty()) {
            out_fd = open(setup.stdout_path.c_str(), O_WRONLY);
            if (out_fd < 0)
                child_fail("open stdout");
        }
        if (dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0)
            child_fail("dup2");
        for (int fd = 3; fd < 1024; fd++)
            close(fd);
        for (int fd : setup.closed)
            close(fd);
        if (!setup.dir.empty() && chdir(setup.dir.c_str()) != 0)
            child_fail("chdir");
        unsetenv("POSIXLY_CORRECT");
        for (const std::string &setting : setup.env)
            putenv(const_cast<char *>(setting.c_str()));
        signal(SIGPIPE, SIG_DFL);
        std::vector<char *> argv;
        for (const std::string &a : setup.argv)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        alarm(static_cast<unsigned>(setup.timeout_seconds));   // survives exec
        execv(setup.path.c_str(), argv.data());
        child_fail("exec");
    }

    if (setup.stdin_pipe) {
        close(pipe_fds[0]);
        write_all(pipe_fds[1], setup.stdin_data);
        close(pipe_fds[1]);
    }
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    process_result result;
    result.out = read_fd(out_fd);
    result.err = read_fd(err_fd);
    if (WIFEXITED(wstatus))
        result.status = WEXITSTATUS(wstatus);
    else if (WIFSIGNALED(wstatus))
        result.signal = WTERMSIG(wstatus);
    close(out_fd);
    close(err_fd);
    if (in_fd >= 0)
        close(in_fd);
    return result;
}

std::string read_file(const std::string &path, bool *ok)
{
    std::ifstream in(path, std::ios::binary);
    *ok = static_cast<bool>(in);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string make_temp_dir()
{
    const char *base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/corvane-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        abort();
    return buf.data();
}

void remove_tree(const std::string &dir)
{
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}
