// Block-buffered standard input and output for pellow. The input is read
// strictly front to back, so a pipe serves as well as a file; the output is
// gathered and written in large blocks. Every failure ends the process with
// pellow's own message and status, and whatever was printed before it still
// reaches standard output.
#pragma once

#include <cstddef>
#include <cstdint>

// The size of both buffers. The input buffer has pellow_overrun spare bytes
// beyond it, so that sixteen bytes may be loaded from any place in the input
// read.
constexpr size_t pellow_block_size = 131072;
constexpr size_t pellow_overrun = 16;

// The one input (standard input) and the one output (standard output) of a
// run: the bytes from pos to end are read and not yet consumed, or, for the
// output, the free room of the buffer.
struct pellow_stream {
    unsigned char *pos;
    unsigned char *end;
};
extern pellow_stream pellow_in;
extern pellow_stream pellow_out;

// All records are printed: flush and end with status 0, or report the write.
[[noreturn]] void pellow_finish();
// The input is not a well-formed database: message and status 1.
[[noreturn]] void pellow_bad_format();

// Reads more input into the buffer. Returns false at the end of the input;
// a read error ends the process ("unable to read", status 111).
bool pellow_fill();

// Writes out the buffered output; a failed write ends the process ("unable
// to write", status 111). Rare beside the records printed, it is kept out of
// their loop, whose places then stay in registers.
[[gnu::noinline]] void pellow_drain();

// Reads exactly n bytes into dst, or skips them when dst is null; a short
// input is a bad format.
void pellow_read(unsigned char *dst, size_t n);

// Copies n bytes to the output.
void pellow_write(const void *src, size_t n);

template <size_t N>
inline void pellow_put(const char (&text)[N])
{
    pellow_write(text, N - 1);
}
