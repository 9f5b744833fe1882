// The fatal error report shared by the compiler and its database writer:
// "PROG: msg[: system text]\n" on descriptor 2, then _exit(1).
#pragma once

#include "lib/iobuf.h"

// The program name of every message (the last path component of argument
// zero) and the error writer on descriptor 2 that carries them. Set up once
// at start by die_init.
extern const char *die_program_name;
extern iobuf die_writer;

void die_init(const char *argv0);

// Puts a text that may come from the input or the command line (the program
// name, a message, its detail) on the error writer, each control byte as a
// space: every report is one line.
void die_put_text(const char *text);

// Writes the program name, ": " and msg; then ": " and strerror(err) when err
// is not 0; then a newline; and ends the process with status 1.
[[noreturn]] void die(int err, const char *msg);

// Ends the process with status 1 after the error writer was flushed: the
// common end of every report.
[[noreturn]] void die_finish();
