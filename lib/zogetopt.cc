// zogetopt: the table check, the built-in first arguments and the walk over
// the arguments that carries out every option and closes up the operands.
#include "lib/zogetopt.h"

#include "lib/printable.h"
#include "lib/scan.h"
#include "lib/zogetopt_help.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

unsigned char zogetopt_paranoid = 0;

namespace {

// What the table check learns about the table.
struct table_facts {
    const zogetopt_option *copyright;  // the last record named "copyright" in any case
    int count;                         // records before the terminator
    bool letter_taken[4];              // per shortcut letter below: some record uses it
};

constexpr char shortcut_letters[] = "h?vV";

// One walk over the argument vector: arguments [read, argc) are still to be
// looked at, operands are gathered at [1, write).
struct arg_walk {
    char *argv0;
    zogetopt_output out;
    const zogetopt_option *table;
    char **argv;
    int argc;
    int read;
    int write;
};

bool is_terminator(const zogetopt_option *o)
{
    return o->short_name == 0 && o->long_name == nullptr;
}

uint32_t option_code(const zogetopt_option *o)
{
    return o->type & ~ZOGETOPT_UNLISTED;
}

// Types 7, 8 and the undefined codes never touch the target; a null target
// on any other record would be written through the moment the option is
// used, so it is a table error even when the record is unlisted.
bool needs_target(const zogetopt_option *o)
{
    uint32_t code = option_code(o);
    return code <= ZOGETOPT_STRING || (code >= ZOGETOPT_ULONG && code <= ZOGETOPT_CALL);
}

table_facts check_table(zogetopt_output out, const zogetopt_option *table)
{
    table_facts facts = {nullptr, 0, {false, false, false, false}};
    for (const zogetopt_option *o = table; !is_terminator(o); o++) {
        if (o->target == nullptr && (!(o->type & ZOGETOPT_UNLISTED) || needs_target(o))) {
            out(1, "NULL variable address in zogetopt()\n");
            _exit(1);
        }
        if (o->long_name && strcasecmp(o->long_name, "copyright") == 0)
            facts.copyright = o;
        for (int i = 0; i < 4; i++)
            if (o->short_name == shortcut_letters[i])
                facts.letter_taken[i] = true;
        facts.count++;
    }
    return facts;
}

// A lone first argument "-h..." or "-?..." stands for "--help", "-v..." or
// "-V..." for "--version", unless the table gives the letter a meaning.
const char *apply_shortcut(const table_facts *facts, const char *first)
{
    if (first[0] != '-' || first[1] == 0)
        return first;
    for (int i = 0; i < 4; i++)
        if (first[1] == shortcut_letters[i] && !facts->letter_taken[i])
            return i < 2 ? "--help" : "--version";
    return first;
}

// The error report: four texts on the error output, then status 2. Whatever
// options took effect before stays in effect. The texts quoted from the
// command line, argument zero and detail, are made printable where they
// stand (the vector is the parser's to rewrite, and the process ends here).
[[noreturn]] void fail(const arg_walk *w, const char *middle, char *detail, const char *ending)
{
    printable_in_place(w->argv0);
    printable_in_place(detail);
    w->out(1, w->argv0);
    w->out(1, middle);
    w->out(1, detail);
    w->out(1, ending);
    _exit(2);
}

const zogetopt_option *find_long(const zogetopt_option *table, const char *name)
{
    for (const zogetopt_option *o = table; !is_terminator(o); o++)
        if (o->long_name && strcmp(o->long_name, name) == 0)
            return o;
    return nullptr;
}

const zogetopt_option *find_short(const zogetopt_option *table, char letter)
{
    for (const zogetopt_option *o = table; !is_terminator(o); o++)
        if (o->short_name == letter)
            return o;
    return nullptr;
}

void apply_flag(const zogetopt_option *o)
{
    int32_t *target = static_cast<int32_t *>(o->target);
    if (option_code(o) == ZOGETOPT_SET_INT)
        *target = o->value;
    else
        *target |= o->value;
}

[[noreturn]] void show_text(zogetopt_output out, const zogetopt_option *o)
{
    const char *text = o->help_text ? o->help_text : "";
    size_t n = strlen(text);
    out(0, text);
    if (n == 0 || text[n - 1] != '\n')
        out(0, "\n");
    _exit(0);
}

// Types 2, 4, 5 and 6 act on their argument; any other code reaching here
// is unknown. name is how the option was given: its letter, or the long
// argument up to the "=".
void take_argument(const arg_walk *w, const zogetopt_option *o, char *arg, char *name)
{
    switch (option_code(o)) {
    case ZOGETOPT_STRING:
        *static_cast<const char **>(o->target) = arg;
        return;
    case ZOGETOPT_ULONG: {
        uint64_t value;
        if (scan_ulong(arg, &value, 0) <= 0)
            fail(w, ": ", arg, " is not an unsigned long\n");
        *static_cast<uint64_t *>(o->target) = value;
        return;
    }
    case ZOGETOPT_LONG: {
        int64_t value;
        if (scan_long(arg, &value, 0) <= 0)
            fail(w, ": ", arg, " is not an signed long\n");
        *static_cast<int64_t *>(o->target) = value;
        return;
    }
    case ZOGETOPT_CALL:
        reinterpret_cast<zogetopt_call>(o->target)(o, arg);
        return;
    default:
        fail(w, ": internal problem, unknown option type for `", name, "'\n");
    }
}

// Moves every argument not yet looked at to the operands, whatever it looks like.
void move_rest(arg_walk *w)
{
    while (w->read < w->argc)
        w->argv[w->write++] = w->argv[w->read++];
}

// "--name", "--name=value" or "--name value". Returns true when the argument
// was the end-of-options marker ("--", or "--=" with anything after it).
bool parse_long(arg_walk *w)
{
    char *arg = w->argv[w->read++];
    char *value = nullptr;
    char *equals = strchr(arg, '=');
    if (equals) {
        *equals = 0;
        value = equals + 1;
    } else if (w->read < w->argc) {
        value = w->argv[w->read];
    }
    if (arg[2] == 0)
        return true;

    const zogetopt_option *o = find_long(w->table, arg + 2);
    uint32_t code = o ? option_code(o) : ZOGETOPT_REJECT;
    if (code == ZOGETOPT_REJECT)
        fail(w, ": illegal option -- ", arg, "\n");
    bool flag_like = code == ZOGETOPT_SET_INT || code == ZOGETOPT_OR_INT;
    if (equals && (flag_like || code == ZOGETOPT_SHOW_TEXT))
        fail(w, ": option doesn't allow an argument -- ", arg, "\n");
    if (flag_like) {
        apply_flag(o);
        return false;
    }
    if (code == ZOGETOPT_SHOW_TEXT)
        show_text(w->out, o);
    if (value == nullptr)
        fail(w, ": option requires an argument -- ", arg + 2, "\n");
    if (!equals)
        w->read++;
    take_argument(w, o, value, arg);
    return false;
}

// "-abc": flags one after another; the first option that takes an argument
// takes the rest of the cluster ("-ofile") or the next argument ("-o file").
void parse_cluster(arg_walk *w)
{
    char *arg = w->argv[w->read++];
    for (char *p = arg + 1; *p; p++) {
        char letter[2] = {*p, 0};
        const zogetopt_option *o = find_short(w->table, *p);
        uint32_t code = o ? option_code(o) : ZOGETOPT_REJECT;
        if (code == ZOGETOPT_REJECT)
            fail(w, ": illegal option -- ", letter, "\n");
        if (code == ZOGETOPT_SET_INT || code == ZOGETOPT_OR_INT) {
            apply_flag(o);
            continue;
        }
        if (code == ZOGETOPT_SHOW_TEXT)
            show_text(w->out, o);
        char *value;
        if (p[1])
            value = p + 1;
        else if (w->read < w->argc)
            value = w->argv[w->read++];
        else
            fail(w, ": option requires an argument -- ", letter, "\n");
        take_argument(w, o, value, letter);
        return;
    }
}

void walk_arguments(arg_walk *w, bool posixly_correct)
{
    while (w->read < w->argc) {
        char *arg = w->argv[w->read];
        if (arg[0] != '-') {
            if (posixly_correct)
                break;
            w->argv[w->write++] = arg;
            w->read++;
        } else if (arg[1] == 0) {
            w->read++;
        } else if (arg[1] == '-') {
            if (parse_long(w))
                break;
        } else {
            parse_cluster(w);
        }
    }
    move_rest(w);
}

}  // namespace

void zogetopt(const char *program, const char *package, const char *version,
              int *argc, char **argv, zogetopt_output out, const char *usage,
              const zogetopt_option *table, const char *trailing)
{
    if (*argc < 2 || argv[1] == nullptr)
        return;
    const char *first = argv[1];
    if (strcmp(first, "--zogetopt-paranoid") == 0) {
        first = "--longhelp";
        zogetopt_paranoid = 1;
    }
    table_facts facts = check_table(out, table);
    if (argv[2] == nullptr)
        first = apply_shortcut(&facts, first);

    if (strcmp(first, "--version") == 0)
        zogetopt_show_version(out, program, package, version, facts.copyright);
    bool long_form = strcmp(first, "--longhelp") == 0;
    if (long_form || strcmp(first, "--help") == 0) {
        if (argv[2])
            zogetopt_show_option_help(out, table, facts.count, argv[2]);
        zogetopt_show_help(out, program, usage, table, facts.count, trailing, long_form);
    }

    bool posixly_correct = getenv("POSIXLY_CORRECT") != nullptr;
    static char no_name[1] = "";
    arg_walk w = {argv[0] ? argv[0] : no_name, out, table, argv, *argc, 1, 1};
    walk_arguments(&w, posixly_correct);
    argv[w.write] = nullptr;
    *argc = w.write;
}
