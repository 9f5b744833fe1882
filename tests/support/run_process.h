// Runs a program as a child process for end-to-end tests: given arguments,
// working directory, environment and standard input; standard output and
// standard error captured; the exit status or the signal that ended it.
#pragma once

#include <string>
#include <vector>

struct process_setup {
    std::string path;                   // the executable
    std::vector<std::string> argv;      // argument zero included
    std::string dir;                    // working directory; empty: unchanged
    std::string stdin_data;             // standard input ...
    bool stdin_pipe = false;            // ... through a pipe instead of a file
    std::string stdin_path;             // or this file opened read-only, if set
    std::string stdout_path;            // standard output to this file, if set
                                        // (for instance /dev/full)
    std::vector<int> closed;            // standard descriptors left closed
    std::vector<std::string> env;       // NAME=VALUE settings; POSIXLY_CORRECT
                                        // is removed unless set here
    int timeout_seconds = 120;          // the child gets SIGALRM after this
};

struct process_result {
    std::string out;
    std::string err;
    int status = -1;                    // exit status, or -1 when signalled
    int signal = 0;                     // the signal that ended it, or 0
};

process_result run_process(const process_setup &setup);

// Reads a whole file; sets *ok to false if it cannot be read.
std::string read_file(const std::string &path, bool *ok);
void write_file(const std::string &path, const std::string &bytes);

// A fresh directory under $TMPDIR (or /tmp), removed with remove_tree.
std::string make_temp_dir();
void remove_tree(const std::string &dir);
