// Starts the compiler as a child process that the test does not wait for at
// once: for runs that are killed, interrupted, or raced against each other.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Starts program in dir as "corvane_make" with the operands, each taken
// relative to dir. Standard input is in_fd (or /dev/null); standard output
// and error go to /dev/null; SIGINT has its default action even where the
// test runs with it ignored. Returns the child's pid, or -1.
pid_t spawn_compiler(const std::string &program, const std::string &dir,
                     const std::vector<std::string> &operands, int in_fd = -1);

// Waits for the child: its exit status, or minus the signal that ended it.
int wait_status(pid_t pid);
