// The compiler's reports with a line number.
#include "compiler/report.h"

#include "lib/fmt.h"
#include "lib/printable.h"

#include <cstring>
#include <unistd.h>


void die_at(int64_t line, int err, const char *msg, const char *detail)
{
    char number[fmt_ulong_size + 1];
    char *digits = number;
    uint64_t magnitude = static_cast<uint64_t>(line);
    if (line < 0) {
        *digits++ = '-';
        magnitude = 0 - magnitude;
    }
    fmt_ulong(digits, magnitude, 10);

    die_put_text(die_program_name);
    iobuf_puts(&die_writer, ": ");
    die_put_text(msg);
    if (detail) {
        iobuf_puts(&die_writer, ": ");
        die_put_text(detail);
    }
    iobuf_puts(&die_writer, " at line ");
    iobuf_puts(&die_writer, number);
    if (err) {
        iobuf_puts(&die_writer, ": ");
        iobuf_puts(&die_writer, strerror(err));
    }
    iobuf_puts(&die_writer, "\n");
    die_finish();
}

void die_at_line(int err, const char *msg, const char *detail)
{
    die_at(config_line, err, msg, detail);
}

namespace {

void put_line_text(std::string_view text)
{
    for (char c : text) {
        char shown = printable_byte(c);
        iobuf_put(&die_writer, &shown, 1);
    }
}

// "PROG: " kind msg ": " detail, the beginning of a report.
void put_report(const char *kind, const char *msg, std::string_view detail)
{
    die_put_text(die_program_name);
    iobuf_puts(&die_writer, ": ");
    iobuf_puts(&die_writer, kind);
    die_put_text(msg);
    iobuf_puts(&die_writer, ": ");
    put_line_text(detail);
}

} // namespace

void warn_at(int64_t line, const char *msg, std::string_view detail)
{
    char number[fmt_ulong_size];
    fmt_ulong(number, static_cast<uint64_t>(line), 10);
    put_report("warning: ", msg, detail);
    iobuf_puts(&die_writer, " at line ");
    iobuf_puts(&die_writer, number);
    iobuf_puts(&die_writer, "\n");
    iobuf_flush(&die_writer);
}

void die_status(int status, const char *msg, const char *detail)
{
    put_report("", msg, detail);
    iobuf_puts(&die_writer, "\n");
    iobuf_flush(&die_writer);
    _exit(status);
}
