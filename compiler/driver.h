// The compiler's run, from the command line to the installed database:
// corvane_make's main, callable by fuzzing harnesses that build their own
// argument vector.
#pragma once

// Runs corvane_make on argv (argv[argc] is null; the vector is rewritten in
// place by the option parser). Returns 0 after the database was installed;
// every failure ends the process with its message and status.
int corvane_make_main(int argc, char **argv);
