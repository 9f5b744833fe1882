// Reading the configuration, line by line, into one string.
#include "compiler/read_config.h"

#include "compiler/report.h"
#include "lib/iobuf.h"

#include <cstring>

void read_config(int fd, zostr *text)
{
    iobuf in;
    iobuf_init(&in, fd, iobuf_read_op, nullptr);
    uint32_t lines = 0;
    for (;;) {
        char *line;
        ssize_t n = iobuf_getln(&in, &line, '\n');
        if (n == 0)
            break;
        if (n < 0)
            die_at_line(0, "bad input format", "read error");
        lines++;
        // A NUL byte would end the text early and drop everything after it.
        if (memchr(line, 0, static_cast<size_t>(n))) {
            config_line = static_cast<int32_t>(lines);
            die_at_line(0, "bad input format", "NUL byte in input");
        }
        if (line[n - 1] != '\n')
            die_at_line(0, "bad input format", "no linefeed at end of input");
        zostr_xadd_mem(text, line, static_cast<uint64_t>(n));
    }
    zostr_xadd_char(text, 0);
}
