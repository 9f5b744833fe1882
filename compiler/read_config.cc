// Reading the configuration into one string, in large blocks read straight
// into it.
#include "compiler/read_config.h"

#include "compiler/report.h"

#include <algorithm>
#include <cstring>

namespace {

// The room made for each read; the string itself grows by doubling.
constexpr uint64_t read_block = 65536;

// A NUL byte would end the text early and drop everything after it. It is
// reported with the number of the line that holds it.
void check_no_nul(const zostr *text, uint64_t from, uint64_t to)
{
    const char *start = text->data + from;
    const char *nul = static_cast<const char *>(memchr(start, 0, to - from));
    if (!nul)
        return;
    auto newlines = std::count(static_cast<const char *>(text->data), nul, '\n');
    config_line = static_cast<int32_t>(static_cast<uint32_t>(newlines) + 1);
    die_at_line(0, "bad input format", "NUL byte in input");
}

} // namespace

void read_config(iobuf *in, zostr *text)
{
    uint64_t checked = 0;   // the whole lines before this hold no NUL byte
    for (;;) {
        if (!text->data || text->capacity - text->length <= read_block)
            zostr_xallocmore(text, read_block);
        char *end = text->data + text->length;
        ssize_t n = iobuf_get_some(in, end, text->capacity - text->length - 1);
        if (n == 0)
            break;
        if (n < 0)
            die_at_line(0, "bad input format", "read error");
        text->length += static_cast<uint64_t>(n);
        if (const void *newline = memrchr(end, '\n', static_cast<size_t>(n))) {
            uint64_t lines_end = static_cast<uint64_t>(static_cast<const char *>(newline) - text->data) + 1;
            check_no_nul(text, checked, lines_end);
            checked = lines_end;
        }
    }
    check_no_nul(text, checked, text->length);
    if (text->length && text->data[text->length - 1] != '\n')
        die_at_line(0, "bad input format", "no linefeed at end of input");
    zostr_xadd_char(text, 0);
}
