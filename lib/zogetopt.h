// zogetopt: the command-line option parser of the support library.
//
// A program describes its options in a table of zogetopt_option records,
// ended by a record with neither a letter nor a long name. zogetopt carries
// out every option it meets, removes the options and the arguments they
// consumed from the vector and leaves the operands in their order. It never
// returns an error: a bad command line is reported through the output
// callback and ends the process (_exit) with status 2; "--help",
// "--longhelp" and "--version" (first argument only) print their output and
// end it with status 0, or 1 when the help on one option cannot be given.
#pragma once

#include <cstdint>

// Type codes, in the low bits of zogetopt_option::type.
constexpr uint32_t ZOGETOPT_SET_INT = 0;    // stores value into the int32_t at target
constexpr uint32_t ZOGETOPT_OR_INT = 1;     // ors value into the int32_t at target
constexpr uint32_t ZOGETOPT_STRING = 2;     // stores the argument into the const char * at target
constexpr uint32_t ZOGETOPT_ULONG = 4;      // scans the argument into the uint64_t at target
constexpr uint32_t ZOGETOPT_LONG = 5;       // scans the argument into the int64_t at target
constexpr uint32_t ZOGETOPT_CALL = 6;       // calls the zogetopt_call at target with the argument
constexpr uint32_t ZOGETOPT_REJECT = 7;     // counts as absent: its use is an illegal option
constexpr uint32_t ZOGETOPT_SHOW_TEXT = 8;  // writes help_text and ends the process with status 0
// Leaves the record out of the help listing; its target may then be null
// when its type never touches the target (7, 8).
constexpr uint32_t ZOGETOPT_UNLISTED = 1u << 16;

struct zogetopt_option {
    char short_name;        // 0: no short form
    const char *long_name;  // without the dashes; null: no long form
    uint32_t type;          // type code, plus ZOGETOPT_UNLISTED
    void *target;
    int32_t value;          // what types 0 and 1 store or merge
    const char *help_text;  // may be null; also the text of type 8 and of the copyright record
    const char *arg_name;   // the argument's name in the help listing; may be null
};

// Selector 0: normal output; any other: error output. The text is
// NUL-terminated; the result, if any, is not looked at.
typedef void (*zogetopt_output)(int selector, const char *text);

// What a ZOGETOPT_CALL record's target points to.
typedef void (*zogetopt_call)(const zogetopt_option *option, const char *argument);

// Set by the first argument "--zogetopt-paranoid", read by the help output,
// never cleared: a process parses its command line once.
extern unsigned char zogetopt_paranoid;

// On return argv[1..] holds the operands in command-line order followed by a
// null element and *argc is 1 plus their number. Texts stored by string
// options point into the argument vector; in "--name=value" the "=" has been
// overwritten with a NUL. A command-line error quotes argument zero and the
// offending argument with each control byte as a space (lib/printable.h),
// overwriting them in the vector just before the process ends.
void zogetopt(const char *program, const char *package, const char *version,
              int *argc, char **argv, zogetopt_output out, const char *usage,
              const zogetopt_option *table, const char *trailing);
