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

// The size of a regular file, or 0 when it has none.
uint64_t file_size(const iobuf *in)
{
    struct stat st;
    if (fstat(in->fd, &st) < 0 || !S_ISREG(st.st_mode) || st.st_size <= 0)
        return 0;
    return static_cast<uint64_t>(st.st_size);
}

// How much of the text's block to set up for a file of size bytes: the
// file, or the whole huge page that it ends a little short of (by at most a
// quarter of one), since one huge page costs less than the many small
// pages it would end in.
uint64_t prepared_length(uint64_t size)
{
    uint64_t rounded = (size + pages_huge - 1) & ~(pages_huge - 1);
    return rounded - size <= pages_huge / 4 ? rounded : size;
}

// The text's first block. A file's text gets room for the whole file, with
// a read's room to spare, so that the read that meets its end finds room
// and the text is never moved; its pages are set up before it is read.
// Otherwise the room of one read.
void first_block(const iobuf *in, zostr *text)
{
    uint64_t size = file_size(in);
    if (size == 0) {
        zostr_xallocmore(text, read_block);
        return;
    }
    uint64_t prepared = prepared_length(size);
    zostr_xallocmore(text, std::max(size + read_block + 1, prepared));
    pages_prepare(text->data, prepared);
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
    if (!text->data)
        first_block(in, text);
    for (;;) {
        ssize_t n = iobuf_get_some(in, bounce, sizeof bounce);
        if (n == 0)
            break;
        if (n < 0)
            die_at_line(0, "bad input format", "read error");
        zostr_xadd_mem(text, bounce, static_cast<uint64_t>(n));
        check_no_nul(text, text->length - static_cast<uint64_t>(n));
    }
    if (text->length && text->data[text->length - 1] != '\n')
        die_at_line(0, "bad input format", "no linefeed at end of input");
    zostr_xadd_char(text, 0);
}
