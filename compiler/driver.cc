// corvane_make cdbfile tmpfile [configfile]: compiles a configuration into a
// database written to tmpfile, synced, and renamed over cdbfile. cdbfile is
// touched only by that rename, so a run that fails leaves it as it was; and
// tmpfile is opened only once the configuration has been read and parsed,
// so a run that ends before that (an error, a signal, a forgotten
// configfile operand that made the configuration tmpfile) touches nothing.
#include "compiler/driver.h"

#include "cdb/cdb_arena.h"
#include "cdb/cdb_writer.h"
#include "compiler/assign_trace.h"
#include "compiler/check.h"
#include "compiler/emit.h"
#include "compiler/explain.h"
#include "compiler/grammar_support.h"
#include "compiler/lexer.h"
#include "compiler/read_config.h"
#include "compiler/report.h"
#include "compiler/std_fds.h"
#include "compiler/tables.h"
#include "compiler/temp_file.h"
#include "compiler/text_release.h"
#include "lib/die.h"
#include "lib/iobuf.h"
#include "lib/zogetopt.h"
#include "lib/zostr.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The writer of the database: on the temporary file, or for a check on
// nothing. The driver owns it and hands it to record generation.
iobuf db_out;

const char usage_hint[] = "Give --help option for usage information";

// Set by the options: a check instead of a compile, and the key to explain.
int32_t check_only;
const char *explain_arg;

// --help, --longhelp and --version are the option parser's own.
const zogetopt_option options[] = {
    {'t', "check", ZOGETOPT_SET_INT, &check_only, 1,
     "Check the configuration and install nothing.\n"
     "Reads, parses and generates every record as a\n"
     "compile would, reporting the same errors, and\n"
     "warns of entries that are never served and of\n"
     "classes that nothing includes. Opens only the\n"
     "configuration and writes no file.",
     nullptr},
    {'e', "explain", ZOGETOPT_STRING, &explain_arg, 0,
     "Show what the server gets for KEY, and why.\n"
     "Checks as --check does, then prints the record\n"
     "that a lookup of KEY finds, as pellow prints it,\n"
     "with comment lines saying where each value was\n"
     "set. Status 100 when no entry gives KEY.",
     "KEY"},
    {0, nullptr, 0, nullptr, 0, nullptr, nullptr},
};

const char trailing_help[] =
    "  Input will be read from stdin if no configuration file is specified\n"
    "  on the command line.\n"
    "  cdbfile and tmpfile have to be located on the same filesystem.\n"
    "  Report bugs to the corvane issue tracker.";

// The option parser's output, unbuffered. Help or version output that
// cannot be written is a failed write like any other; an error message that
// cannot be written has nowhere to be reported.
void option_output(int selector, const char *text)
{
    int fd = selector ? 2 : 1;
    for (size_t n = strlen(text); n > 0;) {
        ssize_t r = write(fd, text, n);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            if (fd == 1)
                die(errno, "unable to write");
            return;
        }
        text += r;
        n -= static_cast<size_t>(r);
    }
}

struct operands {
    const char *cdbfile;
    const char *tmpfile;
    const char *configfile;   // null: standard input
};

// A compile takes cdbfile, tmpfile and the optional configfile; a check
// only the optional configfile.
operands take_operands(int argc, char **argv)
{
    if (check_only || explain_arg) {
        if (argc > 2)
            die(0, usage_hint);
        return {nullptr, nullptr, argc == 2 ? argv[1] : nullptr};
    }
    if (argc < 3 || argc > 4)
        die(0, usage_hint);
    return {argv[1], argv[2], argc == 4 ? argv[3] : nullptr};
}

// A configuration typed at a terminal is refused: more often than not the
// configfile operand was forgotten, tmpfile names the configuration, and
// whatever ends the typing (an empty input included) would replace it.
int open_input(const char *configfile)
{
    int fd = 0;
    if (configfile) {
        fd = open(configfile, O_RDONLY);
        if (fd < 0)
            die(errno, "cannot open input file");
    }
    if (isatty(fd))
        die(0, "cannot read the configuration from a terminal");
    return fd;
}

// Were tmpfile the database or the configuration (the same name, another
// path, a hard or a symbolic link), writing it would destroy the old
// database or the input before the new database is ready. Checked before
// the configuration is read, and again on the file opened (temp_file.cc).
void refuse_same_files(const operands &files, int input)
{
    struct stat tmp;
    if (stat(files.tmpfile, &tmp) == 0)
        refuse_same_file(&tmp, files.cdbfile, input);
}

int open_output(const operands &files, int input)
{
    int fd = temp_file_open(files.tmpfile, files.cdbfile, input);
    iobuf_init(&db_out, fd, iobuf_write_op, nullptr);
    // The whole database passes through here: written in 64 KiB pieces
    // instead of 4 KiB ones, it takes about a third less system time.
    iobuf_reserve(&db_out, 65536);
    return fd;
}

// The header's place is held by spaces until the tables are known.
void write_placeholder()
{
    char spaces[cdb_header_size];
    memset(spaces, ' ', sizeof spaces);
    if (iobuf_put(&db_out, spaces, sizeof spaces) < 0)
        die(errno, "unable to write");
    cdb_position = cdb_header_size;
}

void emit_database()
{
    for (host *h = host_table; h; h = h->next)
        emit_host(h, &db_out);
    if (!cdb_writer_prepare(cdb_the_writer, cdb_arena_alloc))
        cdb_out_of_memory();
    cdb_writer_emit_tables(&db_out);
}

// A check's database goes nowhere: the writes succeed and are forgotten.
ssize_t discard(int, void *, size_t n)
{
    return static_cast<ssize_t>(n);
}

// Everything a compile does up to the installation, every record and table
// handed to a writer that discards them, so that every error a compile
// reports is reported; then the warnings and the explanation.
[[noreturn]] void check_database()
{
    iobuf_init(&db_out, -1, discard, nullptr);
    cdb_position = cdb_header_size;
    check_begin(explain_arg);
    for (host *h = host_table; h; h = h->next) {
        emit_host(h, &db_out);
        check_host_done(h);
    }
    if (!cdb_writer_prepare(cdb_the_writer, cdb_arena_alloc))
        cdb_out_of_memory();
    cdb_writer_emit_tables(&db_out);
    check_report();
    if (explain_arg)
        explain_key(explain_arg);
    _exit(0);
}

// The header is written last, over the placeholder.
void write_header(int fd)
{
    if (iobuf_flush(&db_out) < 0)
        die(errno, "unable to write");
    iobuf_free(&db_out);
    if (lseek(fd, 0, SEEK_SET) < 0)
        die(errno, "unable to seek");
    iobuf_init(&db_out, fd, iobuf_write_op, nullptr);
    if (iobuf_put(&db_out, cdb_the_writer->header, cdb_header_size) < 0 || iobuf_flush(&db_out) < 0)
        die(errno, "unable to write");
    iobuf_free(&db_out);
}

// The directory that holds cdbfile: the text before its last slash, "/"
// for a name directly under the root, "." for a name without a slash. Made
// before the rename, so that nothing after it can run out of memory.
const char *directory_of(const char *cdbfile)
{
    const char *slash = strrchr(cdbfile, '/');
    zostr dir;
    dir.data = nullptr;
    if (!slash)
        zostr_xdup_cstr(&dir, ".");
    else
        zostr_xdup_mem(&dir, cdbfile, slash == cdbfile ? 1 : static_cast<uint64_t>(slash - cdbfile));
    zostr_xadd_char(&dir, 0);
    zostr_forget(&dir);
    return dir.data;
}

// The new name is only durable once the directory that holds it is synced;
// until then a crash can bring the old database back under cdbfile. The
// rename has happened, so a failure here reports that the new database is in
// place without the assurance that it stays there.
void sync_directory(const char *dir)
{
    int fd = open(dir, O_RDONLY | O_DIRECTORY);
    if (fd < 0 || fsync(fd) < 0)
        die(errno, "unable to fsync");
    // The descriptor was only read; it ends with the process.
}

// The lock on tmpfile stays with its second descriptor (temp_file.cc)
// until the process ends: a run waiting for it goes on after the rename.
void install(int fd, const operands &files)
{
    const char *dir = directory_of(files.cdbfile);
    if (fsync(fd) < 0)
        die(errno, "unable to fsync");
    if (close(fd) < 0)
        die(errno, "unable to close");
    if (rename(files.tmpfile, files.cdbfile) < 0)
        die(errno, "unable to rename");
    sync_directory(dir);
}

} // namespace

int corvane_make_main(int argc, char **argv)
{
    die_init(argv[0] ? argv[0] : "corvane_make");
    std_fds_fill();
    if (argc < 2)
        die(0, usage_hint);
    zogetopt("corvane_make", "corvane", CORVANE_VERSION, &argc, argv, option_output,
             "usage: corvane_make cdbfile tmpfile [configfile]", options, trailing_help);
    operands files = take_operands(argc, argv);

    cdb_the_writer = static_cast<cdb_writer *>(malloc(sizeof(cdb_writer)));
    if (!cdb_the_writer)
        cdb_out_of_memory();
    cdb_writer_init(cdb_the_writer);
    cdb_writer_allocator = cdb_arena_alloc;

    int in = open_input(files.configfile);
    if (files.cdbfile)
        refuse_same_files(files, in);
    iobuf config_in;
    iobuf_init(&config_in, in, iobuf_read_op, nullptr);
    zostr text;
    text.data = nullptr;
    read_config(&config_in, &text);
    // An explanation reads the variables of the key's entry as they were
    // written, views into the text: then the text is kept whole.
    if (!explain_arg)
        text_release_start(text.data, text.length);
    lex_start(text.data);
    assign_trace_on = explain_arg != nullptr;
    parse_config();
    if (!files.cdbfile)
        check_database();

    int out = open_output(files, in);
    write_placeholder();
    emit_database();
    write_header(out);
    install(out, files);
    return 0;
}
