// The help and version output of zogetopt: version line, help lines in two
// columns for 80-column screens, and the paranoid layout warnings.
#include "lib/zogetopt_help.h"

#include <cstring>
#include <unistd.h>

namespace {

int builtin_target;  // the built-in records are never parsed; nothing reads this

constexpr zogetopt_option version_record = {
    0, "version", ZOGETOPT_SET_INT, &builtin_target, 0, "Show version information.", nullptr};
constexpr zogetopt_option help_record = {
    0, "help", ZOGETOPT_SET_INT, &builtin_target, 0,
    "Show a list of options or the long help on one.\n"
    "--help with an argument shows the long helptext\n"
    "of that option, without an argument it will list\n"
    "all options.",
    nullptr};
constexpr zogetopt_option longhelp_record = {
    0, "longhelp", ZOGETOPT_SET_INT, &builtin_target, 0,
    "Show longer help texts for all or one variable\n"
    "--longhelp with an argument shows the long help\n"
    "for this option, without arguments it shows the\n"
    "long description of all options.",
    nullptr};

constexpr char help_indent[] = "                             ";
static_assert(sizeof help_indent - 1 == zogetopt_help_column);

const char *const too_long_warning = "###the last help text is too long for 80 characters screens.\n";

// The listing decides by the type word taken whole, the flag bit included, so
// an unlisted record shows an argument part whatever its type.
bool takes_argument(const zogetopt_option *o)
{
    return o->type >= ZOGETOPT_STRING;
}

// Writes "-c, --name=ARG" with its leading spaces and returns its width.
size_t print_option_part(zogetopt_output out, const zogetopt_option *o)
{
    const char letter[3] = {'-', o->short_name, 0};
    size_t width = 8;
    out(0, "  ");
    out(0, o->short_name ? letter : "  ");
    if (o->long_name) {
        out(0, o->short_name ? ", --" : "  --");
        out(0, o->long_name);
        width += strlen(o->long_name);
    } else {
        out(0, "    ");
    }
    if (takes_argument(o)) {
        const char *arg_name = o->arg_name;
        if (arg_name == nullptr)
            arg_name = o->type == ZOGETOPT_STRING ? "STRING" : "NUMBER";
        out(0, o->long_name ? "=" : " ");
        out(0, arg_name);
        width += 1 + strlen(arg_name);
    }
    return width;
}

void check_line_length(zogetopt_output out, size_t length)
{
    if (zogetopt_paranoid && length > zogetopt_line_limit)
        out(0, too_long_warning);
}

// Lines of multi-line texts go out one character at a time.
void print_chars(zogetopt_output out, const char *from, const char *to)
{
    for (const char *p = from; p < to; p++) {
        const char c[2] = {*p, 0};
        out(0, c);
    }
}

// The lines after the first, each indented to the help column; a last line
// without a newline gets one, after the length check.
void print_further_lines(zogetopt_output out, const char *line)
{
    while (*line) {
        out(0, help_indent);
        const char *newline = strchr(line, '\n');
        if (newline == nullptr) {
            size_t n = strlen(line);
            print_chars(out, line, line + n);
            check_line_length(out, n);
            out(0, "\n");
            return;
        }
        print_chars(out, line, newline + 1);
        check_line_length(out, newline + 1 - line);
        line = newline + 1;
    }
}

void print_help_text(zogetopt_output out, const char *text, int long_form)
{
    if (text == nullptr) {
        out(0, "???\n");
        return;
    }
    const char *newline = strchr(text, '\n');
    if (newline == nullptr) {
        out(0, text);
        out(0, "\n");
        check_line_length(out, strlen(text) + 1);
        return;
    }
    size_t first_length = newline + 1 - text;
    if (newline[1] == 0) {
        out(0, text);
        check_line_length(out, first_length);
        return;
    }
    print_chars(out, text, newline + 1);
    check_line_length(out, first_length);
    if (long_form)
        print_further_lines(out, newline + 1);
}

// The name after "--help": one dash dropped, or two when more follows them.
const char *strip_dashes(const char *name)
{
    if (name[0] != '-')
        return name;
    if (name[1] == '-' && name[2] != 0)
        return name + 2;
    return name + 1;
}

const zogetopt_option *find_option(const zogetopt_option *table, int count, const char *name)
{
    for (int i = 0; i < count; i++) {
        const zogetopt_option *o = &table[i];
        if (o->long_name && strcmp(o->long_name, name) == 0)
            return o;
        if (name[0] != 0 && name[1] == 0 && o->short_name == name[0])
            return o;
    }
    return nullptr;
}

const zogetopt_option *find_builtin(const char *name)
{
    if (strcmp(name, "longhelp") == 0 || strcmp(name, "--longhelp") == 0)
        return &longhelp_record;
    if (strcmp(name, "help") == 0 || strcmp(name, "--help") == 0)
        return &help_record;
    if (strcmp(name, "version") == 0 || strcmp(name, "--version") == 0)
        return &version_record;
    return nullptr;
}

}  // namespace

void print_version_line(zogetopt_output out, const char *program, const char *package,
                        const char *version)
{
    if (program)
        out(0, program);
    if (package) {
        out(0, " (");
        out(0, package);
        out(0, ")");
    }
    out(0, " ");
    if (version)
        out(0, version);
    out(0, "\n");
}

void print_option_help(zogetopt_output out, const zogetopt_option *option, int long_form)
{
    size_t width = print_option_part(out, option);
    if (width < zogetopt_help_column) {
        out(0, help_indent + width);
    } else {
        out(0, " ");
        if (zogetopt_paranoid)
            out(0, "\n###time for shorter options?\n");
    }
    print_help_text(out, option->help_text, long_form);
}

void zogetopt_show_version(zogetopt_output out, const char *program, const char *package,
                           const char *version, const zogetopt_option *copyright)
{
    print_version_line(out, program, package, version);
    if (copyright && copyright->help_text) {
        out(0, "\n");
        out(0, copyright->help_text);
    }
    _exit(0);
}

void zogetopt_show_help(zogetopt_output out, const char *program, const char *usage,
                        const zogetopt_option *table, int count, const char *trailing,
                        int long_form)
{
    if (usage) {
        out(0, usage);
        out(0, "\n");
    } else {
        out(0, "usage: ");
        if (program)
            out(0, program);
        out(0, " [options]\n");
        out(0, "\n");
    }
    for (int i = 0; i < count; i++)
        if (!(table[i].type & ZOGETOPT_UNLISTED))
            print_option_help(out, &table[i], long_form);
    print_option_help(out, &version_record, long_form);
    print_option_help(out, &help_record, long_form);
    print_option_help(out, &longhelp_record, long_form);
    if (trailing) {
        out(0, trailing);
        out(0, "\n");
    }
    _exit(0);
}

void zogetopt_show_option_help(zogetopt_output out, const zogetopt_option *table, int count,
                               const char *name)
{
    name = strip_dashes(name);
    const zogetopt_option *o = find_option(table, count, name);
    if (o == nullptr)
        o = find_builtin(name);
    if (o == nullptr) {
        out(0, "no such option\n");
        _exit(1);
    }
    if (o->help_text == nullptr) {
        out(0, "no help available\n");
        _exit(1);
    }
    print_option_help(out, o, 1);
    _exit(0);
}
