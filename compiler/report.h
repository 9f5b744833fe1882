// The compiler's reports with a line number: the fatal ones and the
// warnings of a check.
#pragma once

#include "lib/die.h"
#include "lib/iobuf.h"
#include "lib/zostr.h"

#include <cstdint>
#include <string_view>

// The configuration line counter: 0 until parsing starts, then set and
// advanced by the lexer, its owner (lexer.cc). Every die_at_line report
// prints it. In 64 bits it cannot wrap:
// no input that fits in memory has that many lines.
extern int64_t config_line;


// Writes the program name, ": ", msg; then ": " and detail when detail is not
// null (each control byte in them as a space, see die_put_text); then
// " at line " and the line counter; then ": " and strerror(err) when err is
// not 0; a newline; and ends the process with status 1.
[[noreturn]] void die_at_line(int err, const char *msg, const char *detail);

// As die_at_line, reporting the given line instead of the counter.
[[noreturn]] void die_at(int64_t line, int err, const char *msg, const char *detail);

// "PROG: warning: msg: detail at line N" on standard error (control bytes
// of the detail as spaces); the run goes on.
void warn_at(int64_t line, const char *msg, std::string_view detail);

// Writes "PROG: msg: detail" (control bytes of the detail as spaces) and
// ends the process with status.
[[noreturn]] void die_status(int status, const char *msg, const char *detail);
