// Test support for zogetopt: every end of the parser is _exit, so each run
// happens in a forked child whose callback output, option side effects and
// final state come back to the parent through a pipe.
#pragma once

#include "lib/zogetopt.h"

#include <string>
#include <utility>
#include <vector>

// What zogetopt gets besides the arguments.
struct zogetopt_test_setup {
    const char *program;
    const char *package;
    const char *version;
    const char *usage;
    const zogetopt_option *table;
    const char *trailing;
    // Runs in the child after zogetopt returned; describes the variables.
    std::string (*describe)();
};

enum class posix_env { unset, empty, set };

struct zogetopt_test_result {
    int status;                                      // exit status; -1: killed by a signal
    std::string out;                                 // selector 0, all texts in order
    std::string err;                                 // every other selector
    std::vector<std::pair<int, std::string>> texts;  // each callback call: selector and text
    // The child's notes in order: those of zogetopt_test_note, then, when
    // zogetopt returned, "[op1|op2|...]" and the describe text.
    std::string log;
};

// The argument zero of every run: errors name the program as typed.
constexpr const char *zogetopt_test_argv0 = "./bin/tool";

zogetopt_test_result run_zogetopt(const zogetopt_test_setup &setup,
                                  const std::vector<std::string> &args,
                                  posix_env posix = posix_env::unset);

// Adds a note to the log of the running child (for option callbacks).
void zogetopt_test_note(const std::string &note);
