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
ssize_t iobuf_put(iobuf *b, const void *data, size_t n);
ssize_t iobuf_puts(iobuf *b, const char *s);
ssize_t iobuf_putc(iobuf *b, int c);
ssize_t iobuf_put_zostr(iobuf *b, const zostr *s);
int iobuf_flush(iobuf *b);
void iobuf_free(iobuf *b);
ssize_t iobuf_get(iobuf *b, void *dst, size_t n);
int iobuf_getc(iobuf *b, char *c);
ssize_t iobuf_getln(iobuf *b, char **line, int delimiter);
int iobuf_wait(iobuf *b, int direction);
