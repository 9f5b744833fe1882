// die: the fatal report shared by the compiler and its database writer.
#include "lib/die.h"

#include "lib/printable.h"

#include <cstring>
#include <unistd.h>

// Set up as die_init would with an empty name, so that a report made before
// die_init still reaches descriptor 2 instead of calling a null operation.
const char *die_program_name = "";
iobuf die_writer = {2, iobuf_write_op, nullptr, nullptr, 0, 0, nullptr, 0, 0, 0};

void die_init(const char *argv0)
{
    if (!argv0)
        argv0 = "";  // a process may be started without argument zero
    const char *slash = std::strrchr(argv0, '/');
    die_program_name = slash ? slash + 1 : argv0;
    iobuf_init(&die_writer, 2, iobuf_write_op, nullptr);
}

// The printable runs go out whole: a text without control bytes is one put,
// as it was before they were looked for.
void die_put_text(const char *text)
{
    for (;;) {
        size_t n = 0;
        while (text[n] && printable_byte(text[n]) == text[n])
            n++;
        iobuf_put(&die_writer, text, n);
        if (!text[n])
            return;
        iobuf_put(&die_writer, " ", 1);
        text += n + 1;
    }
}

void die(int err, const char *msg)
{
    die_put_text(die_program_name);
    iobuf_puts(&die_writer, ": ");
    die_put_text(msg);
    if (err != 0) {
        iobuf_puts(&die_writer, ": ");
        iobuf_puts(&die_writer, std::strerror(err));
    }
    iobuf_puts(&die_writer, "\n");
    die_finish();
}

void die_finish()
{
    iobuf_flush(&die_writer);
    _exit(1);
}
