// iobuf: buffered reading from or writing to a raw descriptor (see iobuf.h).
//
// Two choices of this implementation:
// - A wait whose time has run out before an interrupted select could resume
//   polls once with a zero timeout (a negative remainder counts as zero), so
//   a descriptor that became ready meanwhile is still taken.
// - A writer whose wait fails (timeout included) is failed for good, as after
//   a failed write: err keeps the wait's errno. The write loop cannot tell
//   how much of a range reached the descriptor before the wait gave up, and
//   sending the buffer again could put bytes on the descriptor twice.
#include "lib/iobuf.h"

#include "lib/zostr.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/select.h>
#include <unistd.h>

namespace {

// A read buffer grows when less than this is free before a read.
constexpr size_t read_min_room = 1024;

ssize_t fail_with(unsigned err)
{
    errno = static_cast<int>(err);
    return -1;
}

int wait_for_writing(iobuf *b)
{
    if (b->timeout == 0 || iobuf_wait(b, 1) == 0)
        return 0;
    b->err = static_cast<unsigned>(errno);
    return -1;
}

// Writes all of p..p+n with op; EINTR and results of 0 just call again.
int write_all(iobuf *b, const char *p, size_t n)
{
    while (n > 0) {
        if (wait_for_writing(b) < 0)
            return -1;
        // op has the read signature; a write op does not modify the bytes.
        ssize_t r = b->op(b->fd, const_cast<char *>(p), n);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            b->err = static_cast<unsigned>(errno);
            return -1;
        }
        p += r;
        n -= static_cast<size_t>(r);
    }
    return 0;
}

// The caller's bytes straight to the descriptor, nothing buffered.
ssize_t put_direct(iobuf *b, const char *data, size_t n)
{
    if (b->err)
        return fail_with(b->err);
    if (n == 0)
        return 0;
    if (write_all(b, data, n) < 0)
        return -1;
    return static_cast<ssize_t>(n);
}

// Drops r written bytes from the front of the segments still to be written.
void consume_segments(iovec **segments, int *count, size_t r)
{
    while (*count > 0 && (*segments)->iov_len <= r) {
        r -= (*segments)->iov_len;
        ++*segments;
        --*count;
    }
    if (*count > 0) {
        (*segments)->iov_base = static_cast<char *>((*segments)->iov_base) + r;
        (*segments)->iov_len -= r;
    }
}

// The buffered bytes and the caller's bytes in vectored writes. The buffered
// bytes are discarded on every failure: the writer is failed for good anyway.
ssize_t put_vectored(iobuf *b, const char *data, size_t n)
{
    if (b->err) {
        b->len = 0;
        return fail_with(b->err);
    }
    iovec segments[2] = {{b->buf, b->len}, {const_cast<char *>(data), n}};
    iovec *left = segments;
    int count = 2;
    while (count > 0) {
        if (wait_for_writing(b) < 0) {
            b->len = 0;
            return -1;
        }
        ssize_t r = b->vop(b->fd, left, count);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            b->err = static_cast<unsigned>(errno);
            b->len = 0;
            return -1;
        }
        consume_segments(&left, &count, static_cast<size_t>(r));
    }
    b->len = 0;
    return static_cast<ssize_t>(n);
}

// Completes the buffer with the head of the data, writes it, and starts the
// buffer afresh with the rest, which fits into it.
ssize_t put_split(iobuf *b, const char *data, size_t n)
{
    size_t head = b->cap - b->len;
    std::memcpy(b->buf + b->len, data, head);
    b->len = b->cap;
    if (write_all(b, b->buf, b->cap) < 0)
        return -1;
    std::memcpy(b->buf, data + head, n - head);
    b->len = n - head;
    return static_cast<ssize_t>(n);
}

// More than a buffer more: the buffered bytes first, then the data uncopied.
ssize_t put_around(iobuf *b, const char *data, size_t n)
{
    if (write_all(b, b->buf, b->len) < 0)
        return -1;
    b->len = 0;
    if (write_all(b, data, n) < 0)
        return -1;
    return static_cast<ssize_t>(n);
}

// One read into dst, after the wait; interrupted calls are repeated and the
// end of input is remembered.
ssize_t read_once(iobuf *b, void *dst, size_t n)
{
    if (b->timeout != 0 && iobuf_wait(b, 0) < 0)
        return -1;
    ssize_t r;
    do
        r = b->op(b->fd, dst, n);
    while (r < 0 && errno == EINTR);
    if (r == 0)
        b->eof = 1;
    return r;
}

ssize_t fill(iobuf *b)
{
    ssize_t r = read_once(b, b->buf + b->len, b->cap - b->len);
    if (r > 0)
        b->len += static_cast<size_t>(r);
    return r;
}

int ensure_read_buffer(iobuf *b)
{
    if (b->buf)
        return 0;
    b->buf = static_cast<char *>(std::malloc(iobuf_read_size));
    if (!b->buf) {
        errno = ENOMEM;
        return -1;
    }
    b->cap = iobuf_read_size;
    b->len = 0;
    return 0;
}

// Takes the held bytes from pos; when the last one goes the buffer is empty
// and the next fill starts at its beginning.
void consume(iobuf *b, size_t k)
{
    b->pos += k;
    if (b->pos == b->buf + b->len) {
        b->pos = nullptr;
        b->len = 0;
    }
}

// Before reading more of a line: consumed bytes are moved out of the way only
// once a whole initial buffer of them has gathered, and the buffer grows only
// when little room is left, so moving and growing stay cheap against reading.
int make_room(iobuf *b)
{
    size_t consumed = static_cast<size_t>(b->pos - b->buf);
    if (consumed >= iobuf_read_size) {
        size_t pending = b->len - consumed;
        std::memmove(b->buf, b->pos, pending);
        b->pos = b->buf;
        b->len = pending;
        consumed = 0;
    }
    if (b->cap - b->len >= read_min_room)
        return 0;
    char *bigger = static_cast<char *>(std::realloc(b->buf, b->cap + iobuf_read_size));
    if (!bigger) {
        errno = ENOMEM;
        return -1;
    }
    b->buf = bigger;
    b->pos = bigger + consumed;
    b->cap += iobuf_read_size;
    return 0;
}

}  // namespace

ssize_t iobuf_read_op(int fd, void *buf, size_t n)
{
    return read(fd, buf, n);
}

ssize_t iobuf_write_op(int fd, void *buf, size_t n)
{
    return write(fd, buf, n);
}

void iobuf_init(iobuf *b, int fd, iobuf_op op, iobuf_vop vop)
{
    *b = iobuf{};
    b->fd = fd;
    b->op = op;
    b->vop = vop;
}

void iobuf_reserve(iobuf *b, size_t size)
{
    if (b->buf)
        return;
    b->buf = static_cast<char *>(std::malloc(size));
    if (b->buf) {
        b->cap = size;
        b->len = 0;
    }
}

// The order of the tests decides which bytes are copied and which calls the
// descriptor sees; callers and tests rely on it.
ssize_t iobuf_put_slow(iobuf *b, const void *data, size_t n)
{
    const char *bytes = static_cast<const char *>(data);
    if (n > SSIZE_MAX) {
        // The count could not be returned.
        errno = EINVAL;
        return -1;
    }
    if (!b->buf) {
        b->buf = static_cast<char *>(std::malloc(iobuf_write_size));
        if (!b->buf)
            return put_direct(b, bytes, n);  // no buffer is no error
        b->cap = iobuf_write_size;
        b->len = 0;
    }
    if (n <= b->cap - b->len) {
        if (n != 0)
            std::memcpy(b->buf + b->len, bytes, n);
        b->len += n;
        if (b->len < b->cap)
            return static_cast<ssize_t>(n);
        return iobuf_flush(b) < 0 ? -1 : static_cast<ssize_t>(n);
    }
    if (b->len == 0)
        return put_direct(b, bytes, n);
    if (b->vop)
        return put_vectored(b, bytes, n);
    if (b->err)
        return fail_with(b->err);
    if (n <= (b->cap - b->len) + b->cap)
        return put_split(b, bytes, n);
    return put_around(b, bytes, n);
}

ssize_t iobuf_puts(iobuf *b, const char *s)
{
    return iobuf_put(b, s, std::strlen(s));
}

ssize_t iobuf_put_zostr(iobuf *b, const zostr *s)
{
    return iobuf_put(b, s->data, s->length);
}

int iobuf_flush(iobuf *b)
{
    if (b->err)
        return static_cast<int>(fail_with(b->err));
    if (!b->buf || b->len == 0)
        return 0;
    if (write_all(b, b->buf, b->len) < 0)
        return -1;
    b->len = 0;
    return 0;
}

// The buffer fields are cleared with the block, so that a second free or a
// put before the next iobuf_init cannot touch the released memory.
void iobuf_free(iobuf *b)
{
    std::free(b->buf);
    b->buf = nullptr;
    b->pos = nullptr;
    b->len = 0;
    b->cap = 0;
}

ssize_t iobuf_get(iobuf *b, void *dst, size_t n)
{
    char *out = static_cast<char *>(dst);
    size_t stored = 0;
    for (;;) {
        if (b->pos) {
            size_t held = static_cast<size_t>(b->buf + b->len - b->pos);
            size_t k = held < n - stored ? held : n - stored;
            if (k != 0)
                std::memcpy(out + stored, b->pos, k);
            stored += k;
            consume(b, k);
        }
        if (stored == n)
            return static_cast<ssize_t>(n);
        if (b->eof)
            return static_cast<ssize_t>(stored);
        if (ensure_read_buffer(b) < 0)
            return -1;
        ssize_t r = fill(b);
        if (r < 0)
            return -1;
        if (r > 0)
            b->pos = b->buf;
    }
}

ssize_t iobuf_get_some(iobuf *b, void *dst, size_t n)
{
    if (n == 0)
        return 0;
    if (b->pos) {
        size_t held = static_cast<size_t>(b->buf + b->len - b->pos);
        size_t k = held < n ? held : n;
        std::memcpy(dst, b->pos, k);
        consume(b, k);
        return static_cast<ssize_t>(k);
    }
    if (b->eof)
        return 0;
    return read_once(b, dst, n);
}

int iobuf_getc(iobuf *b, char *c)
{
    if (b->pos) {
        *c = *b->pos;
        consume(b, 1);
        return 1;
    }
    return static_cast<int>(iobuf_get(b, c, 1));
}

ssize_t iobuf_getln(iobuf *b, char **line, int delimiter)
{
    if (ensure_read_buffer(b) < 0)
        return -1;
    for (;;) {
        if (b->pos) {
            size_t pending = static_cast<size_t>(b->buf + b->len - b->pos);
            // memchr compares as unsigned char: the same bytes match as when
            // the delimiter is taken as a signed char.
            const char *q = static_cast<const char *>(std::memchr(b->pos, delimiter, pending));
            if (q) {
                size_t k = static_cast<size_t>(q - b->pos) + 1;
                *line = b->pos;
                consume(b, k);
                return static_cast<ssize_t>(k);
            }
            if (make_room(b) < 0)
                return -1;
        }
        if (b->eof) {
            // The pending bytes are a last line without its delimiter.
            if (!b->pos) {
                *line = nullptr;
                return 0;
            }
            size_t k = static_cast<size_t>(b->buf + b->len - b->pos);
            *line = b->pos;
            consume(b, k);
            return static_cast<ssize_t>(k);
        }
        if (fill(b) < 0)
            return -1;
        if (!b->pos && b->len > 0)
            b->pos = b->buf;
    }
}

int iobuf_wait(iobuf *b, int direction)
{
    // select's descriptor sets cannot hold others.
    if (b->fd < 0 || b->fd >= FD_SETSIZE) {
        errno = EINVAL;
        return -1;
    }
    time_t start = time(nullptr);
    time_t limit = b->timeout;
    for (;;) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(b->fd, &set);
        timeval tv{};
        tv.tv_sec = limit;
        int r = select(b->fd + 1, direction == 0 ? &set : nullptr,
                       direction == 0 ? nullptr : &set, nullptr, &tv);
        if (r > 0)
            return 0;
        if (r == 0) {
            errno = ETIMEDOUT;
            return -1;
        }
        if (errno != EINTR)
            return -1;
        limit = start + static_cast<time_t>(b->timeout) - time(nullptr);
        if (limit < 0)
            limit = 0;
        else if (limit > static_cast<time_t>(b->timeout))
            limit = b->timeout;  // the clock went back
    }
}
