// The help and version output of zogetopt: the version line, the two-column
// help lines (option forms on the left, help text from column 29) and the
// three outputs of the built-in options, each of which ends the process.
// Everything goes to the output callback with selector 0, one item at a
// time, nothing buffered.
#pragma once

#include "lib/zogetopt.h"

// Column at which help texts begin, and the longest help line (its newline
// counted) that the paranoid check lets pass.
constexpr unsigned zogetopt_help_column = 29;
constexpr unsigned zogetopt_line_limit = 50;

// "PROG (PACKAGE) VERSION\n"; a null package drops " (PACKAGE)", a null
// version leaves the space before the newline.
void print_version_line(zogetopt_output out, const char *program, const char *package,
                        const char *version);

// One option's help line; in the long form also the further lines of its
// help text, indented to the help column.
void print_option_help(zogetopt_output out, const zogetopt_option *option, int long_form);

// "--version": the version line, then the copyright record's text after an
// empty line when there is one. Status 0.
[[noreturn]] void zogetopt_show_version(zogetopt_output out, const char *program,
                                        const char *package, const char *version,
                                        const zogetopt_option *copyright);

// "--help" / "--longhelp" alone: usage, the listed options of the table's
// first count records, the built-in options, the trailing text. Status 0.
[[noreturn]] void zogetopt_show_help(zogetopt_output out, const char *program, const char *usage,
                                     const zogetopt_option *table, int count,
                                     const char *trailing, int long_form);

// "--help NAME" / "--longhelp NAME": the long help of one option, found by
// long name or letter among the table's options, then among the built-in
// ones. Status 0; 1 when there is no such option or it has no help text.
[[noreturn]] void zogetopt_show_option_help(zogetopt_output out, const zogetopt_option *table,
                                            int count, const char *name);
