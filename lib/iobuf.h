// iobuf: buffered reading from or writing to a raw descriptor.
//
// Writing: small puts are gathered in a 4096-byte buffer, large ones go
// straight from the caller's memory to the descriptor; the first failed
// write is remembered in err and every later write reports it again.
// Reading: an 8192-byte buffer from which the caller takes bytes, counts of
// bytes or whole delimiter-terminated lines, handed out in place.
// Interrupted system calls are repeated; an optional timeout bounds every
// wait for the descriptor.
#pragma once

#include <cstddef>
#include <cstring>
#include <sys/types.h>
#include <sys/uio.h>

struct zostr;

// The transfer operation: the system's read, or its write (see iobuf_write_op).
typedef ssize_t (*iobuf_op)(int fd, void *buf, size_t n);
// The vectored write operation, with the contract of writev.
typedef ssize_t (*iobuf_vop)(int fd, const struct iovec *iov, int count);

struct iobuf {
    int fd;
    iobuf_op op;
    iobuf_vop vop;
    char *buf;
    size_t len;         // writing: bytes buffered; reading: bytes read into buf
    size_t cap;
    char *pos;          // reading: first unconsumed byte, null when none held
    unsigned eof;       // reading: op returned 0
    unsigned err;       // writing: errno of the first failed write
    unsigned timeout;   // seconds to wait for the descriptor; 0: no waiting
};

constexpr size_t iobuf_write_size = 4096;
constexpr size_t iobuf_read_size = 8192;

// The system's read and write with the iobuf_op signature.
ssize_t iobuf_read_op(int fd, void *buf, size_t n);
ssize_t iobuf_write_op(int fd, void *buf, size_t n);

void iobuf_init(iobuf *b, int fd, iobuf_op op, iobuf_vop vop);

// Gives a writing iobuf that has no buffer yet one of size bytes, in place of
// the iobuf_write_size bytes that its first put would take: an output that
// carries a whole database then reaches the descriptor in fewer, larger
// writes. Without the memory nothing changes, and the first put allocates as
// usual.
void iobuf_reserve(iobuf *b, size_t size);

// Every put that cannot simply be appended: the first put (allocation),
// one that fills the buffer and every one that has to write.
ssize_t iobuf_put_slow(iobuf *b, const void *data, size_t n);

// The common put is a copy into a buffer that still has room afterwards; it
// writes nothing and does not look at err, so it stays inline. Without a
// buffer cap is 0 and the test fails. An empty put may come with a null
// pointer (an empty zostr has no block), which memcpy must not see.
inline ssize_t iobuf_put(iobuf *b, const void *data, size_t n)
{
    if (n < b->cap - b->len) {
        if (n != 0)
            std::memcpy(b->buf + b->len, data, n);
        b->len += n;
        return static_cast<ssize_t>(n);
    }
    return iobuf_put_slow(b, data, n);
}

inline ssize_t iobuf_putc(iobuf *b, int c)
{
    if (b->cap - b->len > 1) {
        b->buf[b->len++] = static_cast<char>(c);
        return 1;
    }
    char byte = static_cast<char>(c);
    return iobuf_put_slow(b, &byte, 1);
}

ssize_t iobuf_puts(iobuf *b, const char *s);
ssize_t iobuf_put_zostr(iobuf *b, const zostr *s);
int iobuf_flush(iobuf *b);
void iobuf_free(iobuf *b);
ssize_t iobuf_get(iobuf *b, void *dst, size_t n);
// Takes at most n bytes: those held in the buffer, or else what one read
// brings, straight into dst (a large dst then sees no copying and no
// buffer). Returns the count, 0 at the end of input, -1 on an error.
ssize_t iobuf_get_some(iobuf *b, void *dst, size_t n);
int iobuf_getc(iobuf *b, char *c);
ssize_t iobuf_getln(iobuf *b, char **line, int delimiter);
int iobuf_wait(iobuf *b, int direction);
