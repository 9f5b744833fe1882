// Standard input and output of pellow, in 128 KiB blocks.
#include "dumper/pellow_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr size_t block_size = pellow_block_size;
// Word-wide loads may look at a word past the input that was read.
unsigned char input_buffer[block_size + pellow_overrun];
unsigned char output_buffer[block_size];

[[noreturn]] void fail_io(const char *what)
{
    perror(what);
    _exit(111);
}

// Writes n bytes to standard output, repeating the system call after
// interruptions and short writes; false when a write fails.
bool write_all(const unsigned char *p, size_t n)
{
    while (n > 0) {
        ssize_t r = write(1, p, n);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

bool flush_output()
{
    bool ok = write_all(output_buffer, static_cast<size_t>(pellow_out.pos - output_buffer));
    pellow_out.pos = output_buffer;
    return ok;
}

} // namespace

pellow_stream pellow_in = {input_buffer, input_buffer};
pellow_stream pellow_out = {output_buffer, output_buffer + block_size};

bool pellow_fill()
{
    for (;;) {
        ssize_t r = read(0, input_buffer, block_size);
        if (r > 0) {
            pellow_in.pos = input_buffer;
            pellow_in.end = input_buffer + r;
            return true;
        }
        if (r == 0)
            return false;
        if (errno != EINTR)
            fail_io("pellow: fatal: unable to read");
    }
}

void pellow_drain()
{
    if (!flush_output())
        fail_io("pellow: fatal: unable to write");
}

void pellow_write(const void *src, size_t n)
{
    const unsigned char *p = static_cast<const unsigned char *>(src);
    size_t room = static_cast<size_t>(pellow_out.end - pellow_out.pos);
    if (n > room) {
        pellow_drain();
        if (n >= block_size) {
            if (!write_all(p, n))
                fail_io("pellow: fatal: unable to write");
            return;
        }
    }
    memcpy(pellow_out.pos, p, n);
    pellow_out.pos += n;
}

void pellow_read(unsigned char *dst, size_t n)
{
    while (n > 0) {
        if (pellow_in.pos == pellow_in.end && !pellow_fill())
            pellow_bad_format();
        size_t take = static_cast<size_t>(pellow_in.end - pellow_in.pos);
        if (take > n)
            take = n;
        if (dst) {
            memcpy(dst, pellow_in.pos, take);
            dst += take;
        }
        pellow_in.pos += take;
        n -= take;
    }
}

void pellow_finish()
{
    pellow_drain();
    _exit(0);
}

void pellow_bad_format()
{
    static const char message[] = "pellow: fatal: bad database format\n";
    if (write(2, message, sizeof message - 1) < 0) {
        // Nothing more can be reported; the status still tells.
    }
    // The partial output follows the message, as a buffered stream flushed
    // at exit would deliver it. The status already reports the failure, so
    // a failing write here adds no second message.
    flush_output();
    _exit(1);
}
