// Reading the configuration into one string, a large block at a time.
#include "compiler/read_config.h"

#include "compiler/report.h"
#include "lib/pages.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The room made for each read; the string itself grows by doubling.
constexpr uint64_t read_block = 65536;

// The room for the whole text when its size is known: a regular file's,
// with a read's room to spare, so that the read that meets its end finds
// room and the text is never moved. Otherwise the room of one read.
uint64_t first_room(const iobuf *in)
{
    struct stat st;
    if (fstat(in->fd, &st) < 0 || !S_ISREG(st.st_mode) || st.st_size <= 0)
        return read_block;
    return static_cast<uint64_t>(st.st_size) + read_block + 1;
}

// Every read goes into this one block, whose pages stay set up, and is
// copied from there into the string. Reading straight into the string
// costs more than the copy: the system's first write to each page of a
// fresh string is slow (on the virtual machines measured, a 6 MB text took
// 7 ms more than through this block), and the string's pages are touched
// anyway when the text is read.
char bounce[read_block];

// A NUL byte would end the text early and drop everything after it. It is
// reported as soon as it has been read, with the number of the line that
// holds it: an input without newlines (a device of zeros) must not be read
// on until memory runs out.
void check_no_nul(const zostr *text, uint64_t from)
{
    const char *start = text->data + from;
    const char *nul = static_cast<const char *>(memchr(start, 0, text->length - from));
    if (!nul)
        return;
    die_at(std::count(static_cast<const char *>(text->data), nul, '\n') + 1, 0, "bad input format",
           "NUL byte in input");
}

} // namespace

void read_config(iobuf *in, zostr *text)
{
    for (;;) {
        ssize_t n = iobuf_get_some(in, bounce, sizeof bounce);
        if (n == 0)
            break;
        if (n < 0)
            die_at_line(0, "bad input format", "read error");
        if (!text->data) {
            uint64_t room = first_room(in);
            zostr_xallocmore(text, room);
            if (room > read_block)
                pages_prepare(text->data, room - read_block);
        }
        zostr_xadd_mem(text, bounce, static_cast<uint64_t>(n));
        check_no_nul(text, text->length - static_cast<uint64_t>(n));
    }
    if (text->length && text->data[text->length - 1] != '\n')
        die_at_line(0, "bad input format", "no linefeed at end of input");
    zostr_xadd_char(text, 0);
}
