// Buffered descriptor I/O: the exact calls a writer makes, line and byte
// reading over scripted reads, and waiting with a timeout on real pipes.
#include "lib/iobuf.h"

#include "lib/test_alloc.h"
#include "lib/zostr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int test_fd = 7;

// ---- writing -------------------------------------------------------------

// The n-th transfer call (op and vop counted together, from 1) returns
// result, or -1 with error when result is negative.
struct Reply {
    int call;
    ssize_t result;
    int error;
};

// One recorded call. from tells where each segment's bytes lay: 'b' in the
// iobuf's own buffer, 'd' in the data of the put being made; vectored calls
// are written in angle brackets ("<bd>").
struct WriteCall {
    std::string from;
    size_t count;
    std::string bytes;  // what the call accepted
};

struct FakeWriter {
    const iobuf *b = nullptr;
    const char *data = nullptr;  // the put being made
    size_t data_length = 0;
    std::vector<Reply> replies;
    std::vector<WriteCall> calls;
};

FakeWriter writer;

char source_of(const void *p)
{
    const char *c = static_cast<const char *>(p);
    if (writer.b->buf && c >= writer.b->buf && c < writer.b->buf + writer.b->cap)
        return 'b';
    if (writer.data && c >= writer.data && c < writer.data + writer.data_length)
        return 'd';
    return '?';
}

// Records the call and answers it as scripted, else accepting everything.
ssize_t answer(int fd, std::string from, const std::string &offered)
{
    EXPECT_EQ(fd, test_fd);
    int number = static_cast<int>(writer.calls.size()) + 1;
    writer.calls.push_back({std::move(from), offered.size(), ""});
    for (const Reply &r : writer.replies) {
        if (r.call != number)
            continue;
        if (r.result < 0) {
            errno = r.error;
            return -1;
        }
        writer.calls.back().bytes = offered.substr(0, static_cast<size_t>(r.result));
        return r.result;
    }
    writer.calls.back().bytes = offered;
    return static_cast<ssize_t>(offered.size());
}

ssize_t fake_write(int fd, void *p, size_t n)
{
    return answer(fd, std::string(1, source_of(p)), std::string(static_cast<char *>(p), n));
}

ssize_t fake_writev(int fd, const iovec *iov, int count)
{
    std::string from = "<", offered;
    for (int i = 0; i < count; ++i) {
        from += source_of(iov[i].iov_base);
        offered.append(static_cast<const char *>(iov[i].iov_base), iov[i].iov_len);
    }
    return answer(fd, from + ">", offered);
}

// A step of a case: 'p' puts the next n bytes of the test stream, 'f'
// flushes; result and, for -1, error are what the call must return.
struct Step {
    char what;
    size_t n;
    ssize_t result;
    int error;
};

Step put(size_t n) { return {'p', n, static_cast<ssize_t>(n), 0}; }
Step put_fails(size_t n, int error) { return {'p', n, -1, error}; }
Step flush() { return {'f', 0, 0, 0}; }
Step flush_fails(int error) { return {'f', 0, -1, error}; }

struct Expected {
    std::string from;
    size_t count;
};

struct WriteCase {
    const char *name;
    bool vectored;
    std::vector<Step> steps;
    std::vector<Reply> replies;
    std::vector<Expected> calls;
    size_t buffered;  // len at the end
    size_t reserve = 0;  // the buffer's size given by iobuf_reserve, if any
};

// Bytes without a period near the buffer sizes, so a misplaced copy shows.
std::string test_stream(size_t n)
{
    std::mt19937 gen(12345);
    std::string s(n, '\0');
    for (char &c : s)
        c = static_cast<char>(gen());
    return s;
}

void run_write_case(const WriteCase &c)
{
    SCOPED_TRACE(c.name);
    static const std::string stream = test_stream(64 * 1024);
    iobuf b;
    iobuf_init(&b, test_fd, fake_write, c.vectored ? fake_writev : nullptr);
    if (c.reserve)
        iobuf_reserve(&b, c.reserve);
    writer = FakeWriter{};
    writer.b = &b;
    writer.replies = c.replies;

    size_t offset = 0;
    bool failed = false;
    for (size_t i = 0; i < c.steps.size(); ++i) {
        const Step &s = c.steps[i];
        SCOPED_TRACE("step " + std::to_string(i + 1));
        errno = 0;
        ssize_t r;
        if (s.what == 'p') {
            // A copy of its own, so that 'd' means "the caller's memory".
            std::string data = stream.substr(offset, s.n);
            offset += s.n;
            writer.data = data.data();
            writer.data_length = data.size();
            r = iobuf_put(&b, data.data(), data.size());
            writer.data = nullptr;
        } else {
            r = iobuf_flush(&b);
        }
        EXPECT_EQ(r, s.result);
        if (s.result < 0) {
            EXPECT_EQ(errno, s.error);
            failed = true;
        }
    }

    ASSERT_EQ(writer.calls.size(), c.calls.size());
    for (size_t i = 0; i < c.calls.size(); ++i) {
        EXPECT_EQ(writer.calls[i].from, c.calls[i].from) << "call " << i + 1;
        EXPECT_EQ(writer.calls[i].count, c.calls[i].count) << "call " << i + 1;
    }
    EXPECT_EQ(b.len, c.buffered);
    if (!failed) {
        // Whatever was written, then whatever is buffered: the puts in order.
        std::string out;
        for (const WriteCall &w : writer.calls)
            out += w.bytes;
        out.append(b.buf, b.len);
        EXPECT_TRUE(out == stream.substr(0, offset)) << "the bytes are not the puts in order";
    }
    iobuf_free(&b);
}

TEST(IobufPut, WritePatterns)
{
    const WriteCase cases[] = {
        {"a fresh put of 5000 goes direct", false, {put(5000)}, {}, {{"d", 5000}}, 0},
        {"an exact fill writes the buffer", false, {put(4096)}, {}, {{"b", 4096}}, 0},
        {"an exact fill after earlier puts", false, {put(1000), put(3000), put(96)}, {}, {{"b", 4096}}, 0},
        {"100 then 8000 completes a buffer and keeps the rest", false, {put(100), put(8000)}, {},
         {{"b", 4096}}, 4004},
        {"100 then 9000 writes the 100, then the 9000 direct", false, {put(100), put(9000)}, {},
         {{"b", 100}, {"d", 9000}}, 0},
        {"100 then 8092 leaves a full buffer for the flush", false, {put(100), put(8092), flush()}, {},
         {{"b", 4096}, {"b", 4096}}, 0},
        {"a put into a full buffer writes it first", false, {put(100), put(8092), put(0)}, {},
         {{"b", 4096}, {"b", 4096}}, 0},
        {"flush of a never written iobuf", false, {flush()}, {}, {}, 0},
        {"a large put after a flush goes direct", false, {put(100), flush(), put(5000)}, {},
         {{"b", 100}, {"d", 5000}}, 0},
        {"short writes and results of 0 are continued", false, {put(5000)}, {{1, 1000, 0}, {2, 0, 0}},
         {{"d", 5000}, {"d", 4000}, {"d", 4000}}, 0},
        {"a short write of the buffer is continued", false, {put(4096)}, {{1, 96, 0}},
         {{"b", 4096}, {"b", 4000}}, 0},
        {"EINTR is retried", false, {put(100), flush()}, {{1, -1, EINTR}}, {{"b", 100}, {"b", 100}}, 0},

        {"vop takes the buffered bytes and the data", true, {put(100), put(5000)}, {}, {{"<bd>", 5100}},
         0},
        {"vop partial results consume the segments", true, {put(100), put(5000)}, {{1, 50, 0}, {2, 2000, 0}},
         {{"<bd>", 5100}, {"<bd>", 5050}, {"<d>", 3050}}, 0},
        {"vop result ending the first segment drops it", true, {put(100), put(5000)}, {{1, 100, 0}},
         {{"<bd>", 5100}, {"<d>", 5000}}, 0},
        {"vop EINTR is retried", true, {put(100), put(5000)}, {{1, -1, EINTR}},
         {{"<bd>", 5100}, {"<bd>", 5100}}, 0},
        {"vop only when bytes are buffered and the data does not fit", true,
         {put(5000), put(100), put(100), flush()}, {}, {{"d", 5000}, {"b", 200}}, 0},

        {"a failed write is sticky", false,
         {put_fails(5000, EPIPE), flush_fails(EPIPE), flush_fails(EPIPE), put(10), put_fails(5000, EPIPE),
          put_fails(4086, EPIPE), flush_fails(EPIPE)},
         {{1, -1, EPIPE}}, {{"d", 5000}}, 4096},
        {"a failed flush keeps the bytes and refuses the split put", false,
         {put(10), flush_fails(EIO), flush_fails(EIO), put_fails(5000, EIO)}, {{1, -1, EIO}},
         {{"b", 10}}, 10},
        {"a failed fill write leaves the buffer full", false, {put_fails(4096, EIO), put_fails(1, EIO), put_fails(9000, EIO)},
         {{1, -1, EIO}}, {{"b", 4096}}, 4096},
        {"a vop failure discards the buffered bytes", true,
         {put(100), put_fails(5000, ENOSPC), flush_fails(ENOSPC), put(10), put_fails(5000, ENOSPC)},
         {{1, -1, ENOSPC}}, {{"<bd>", 5100}}, 0},

        {"a reserved buffer gathers up to its size", false, {put(5000), put(11384), put(10)}, {},
         {{"b", 16384}}, 10, 16384},
        {"a reserved buffer completes itself as the usual one does", false, {put(100), put(20000)}, {},
         {{"b", 16384}}, 3716, 16384},
        {"data beyond two reserved buffers goes direct", false, {put(100), put(40000)}, {},
         {{"b", 100}, {"d", 40000}}, 0, 16384},
    };
    for (const WriteCase &c : cases)
        run_write_case(c);
}

TEST(IobufPut, StringCharAndZostr)
{
    iobuf b;
    iobuf_init(&b, test_fd, fake_write, nullptr);
    writer = FakeWriter{};
    writer.b = &b;
    char text[] = "de";
    zostr s{text, 3, 2};
    zostr empty{nullptr, 0, 0};
    EXPECT_EQ(iobuf_puts(&b, "ab"), 2);
    EXPECT_EQ(iobuf_putc(&b, 0x100 + 'c'), 1);  // only the low 8 bits count
    EXPECT_EQ(iobuf_put_zostr(&b, &s), 2);
    EXPECT_EQ(iobuf_put_zostr(&b, &empty), 0);
    EXPECT_EQ(iobuf_puts(&b, ""), 0);
    EXPECT_EQ(iobuf_flush(&b), 0);
    ASSERT_EQ(writer.calls.size(), 1u);
    EXPECT_EQ(writer.calls[0].bytes, "abcde");
    iobuf_free(&b);
}

TEST(IobufPut, WithoutABufferThePutGoesUnbuffered)
{
    iobuf b;
    iobuf_init(&b, test_fd, fake_write, nullptr);
    writer = FakeWriter{};
    writer.b = &b;
    writer.replies = {{2, -1, EPIPE}};

    test_alloc_fail(0, 1);
    ssize_t r = iobuf_put(&b, "0123456789", 10);
    test_alloc_reset();
    EXPECT_EQ(r, 10);
    EXPECT_EQ(b.buf, nullptr);
    ASSERT_EQ(writer.calls.size(), 1u);
    EXPECT_EQ(writer.calls[0].bytes, "0123456789");

    // Unbuffered writes fail as buffered ones do, and stay failed.
    test_alloc_fail(0, 2);
    errno = 0;
    EXPECT_EQ(iobuf_put(&b, "ab", 2), -1);
    EXPECT_EQ(errno, EPIPE);
    errno = 0;
    EXPECT_EQ(iobuf_put(&b, "cd", 2), -1);
    test_alloc_reset();
    EXPECT_EQ(errno, EPIPE);
    EXPECT_EQ(writer.calls.size(), 2u);

    // The next put tries the allocation again.
    EXPECT_EQ(iobuf_put(&b, "ef", 2), 2);
    EXPECT_NE(b.buf, nullptr);
    EXPECT_EQ(b.len, 2u);
    iobuf_free(&b);
}

TEST(IobufPut, ReserveWithoutMemoryLeavesTheUsualBuffer)
{
    iobuf b;
    iobuf_init(&b, test_fd, fake_write, nullptr);
    writer = FakeWriter{};
    writer.b = &b;
    test_alloc_fail(0, 1);
    iobuf_reserve(&b, 65536);
    test_alloc_reset();
    EXPECT_EQ(b.buf, nullptr);
    EXPECT_EQ(iobuf_put(&b, "ab", 2), 2);
    EXPECT_EQ(b.cap, iobuf_write_size);
    // A buffer once there is kept.
    iobuf_reserve(&b, 65536);
    EXPECT_EQ(b.cap, iobuf_write_size);
    EXPECT_EQ(b.len, 2u);
    iobuf_free(&b);
}

// ---- reading -------------------------------------------------------------

// A piece is handed out by one or more reads (as much as each asks for); a
// piece with an error makes one read fail with it. After the last piece
// every read returns 0.
struct Piece {
    std::string bytes;
    int error;
};

struct FakeReader {
    std::vector<Piece> pieces;
    size_t next = 0;
    std::vector<size_t> asked;  // the count of every read
};

FakeReader reader;

ssize_t fake_read(int fd, void *buf, size_t n)
{
    EXPECT_EQ(fd, test_fd);
    reader.asked.push_back(n);
    if (reader.next == reader.pieces.size())
        return 0;
    Piece &p = reader.pieces[reader.next];
    if (p.error) {
        ++reader.next;
        errno = p.error;
        return -1;
    }
    size_t k = std::min(n, p.bytes.size());
    std::memcpy(buf, p.bytes.data(), k);
    p.bytes.erase(0, k);
    if (p.bytes.empty())
        ++reader.next;
    return static_cast<ssize_t>(k);
}

void start_reading(iobuf *b, std::vector<Piece> pieces)
{
    reader = FakeReader{};
    reader.pieces = std::move(pieces);
    iobuf_init(b, test_fd, fake_read, nullptr);
}

TEST(IobufGetln, Lines)
{
    struct Case {
        const char *name;
        std::vector<Piece> pieces;
        int delimiter;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"two lines", {{"a\nbc\n", 0}}, '\n', {"a\n", "bc\n"}},
        {"last line without delimiter", {{"a\nbc", 0}}, '\n', {"a\n", "bc"}},
        {"empty input", {}, '\n', {}},
        {"lines across reads", {{"a", 0}, {"\nb", 0}, {"c\n", 0}}, '\n', {"a\n", "bc\n"}},
        {"another delimiter", {{"x;y\n;z", 0}}, ';', {"x;", "y\n;", "z"}},
        {"a NUL delimiter", {{std::string("k\0v\0", 4), 0}}, '\0',
         {std::string("k\0", 2), std::string("v\0", 2)}},
        {"a high byte as a negative char", {{"a\xff" "b", 0}}, -1, {"a\xff", "b"}},
        {"a high byte as a positive value", {{"a\xff" "b", 0}}, 0xff, {"a\xff", "b"}},
        {"EINTR is retried", {{"ab", 0}, {"", EINTR}, {"c\n", 0}}, '\n', {"abc\n"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        iobuf b;
        start_reading(&b, c.pieces);
        char *line = nullptr;
        for (const std::string &want : c.lines) {
            ssize_t r = iobuf_getln(&b, &line, c.delimiter);
            ASSERT_EQ(r, static_cast<ssize_t>(want.size()));
            EXPECT_EQ(std::string(line, static_cast<size_t>(r)), want);
            EXPECT_TRUE(line >= b.buf && line < b.buf + b.cap) << "the line is not in place";
        }
        line = b.buf;
        EXPECT_EQ(iobuf_getln(&b, &line, c.delimiter), 0);
        EXPECT_EQ(line, nullptr);
        EXPECT_EQ(b.eof, 1u);

        // End of input is final: op is never asked again.
        size_t reads = reader.asked.size();
        char ch;
        EXPECT_EQ(iobuf_getln(&b, &line, c.delimiter), 0);
        EXPECT_EQ(iobuf_getc(&b, &ch), 0);
        EXPECT_EQ(iobuf_get(&b, &ch, 1), 0);
        EXPECT_EQ(reader.asked.size(), reads);
        iobuf_free(&b);
    }
}

TEST(IobufGetln, LongLineGrowsTheBufferBy8192)
{
    iobuf b;
    std::string long_line = std::string(20000, 'x') + "\n";
    start_reading(&b, {{long_line, 0}});
    char *line;
    ASSERT_EQ(iobuf_getln(&b, &line, '\n'), 20001);
    EXPECT_TRUE(std::string(line, 20001) == long_line);
    EXPECT_EQ(b.cap, 3 * 8192u);
    EXPECT_EQ(reader.asked, (std::vector<size_t>{8192, 8192, 8192}));

    // The delimiter was the last byte held: the buffer is empty and the next
    // read may fill all of it.
    EXPECT_EQ(b.pos, nullptr);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(iobuf_getln(&b, &line, '\n'), 0);
    EXPECT_EQ(reader.asked.back(), 3 * 8192u);
    iobuf_free(&b);
}

TEST(IobufGetln, GrowsOnlyWhenLessThan1024Free)
{
    struct Case {
        size_t first;  // bytes of the first read, without a delimiter
        size_t cap;
        size_t second_read;
    };
    const Case cases[] = {
        {8192 - 1023, 2 * 8192, 2 * 8192 - (8192 - 1023)},
        {8192 - 1024, 8192, 1024},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.first);
        iobuf b;
        start_reading(&b, {{std::string(c.first, 'x'), 0}, {"\n", 0}});
        char *line;
        ASSERT_EQ(iobuf_getln(&b, &line, '\n'), static_cast<ssize_t>(c.first + 1));
        EXPECT_EQ(b.cap, c.cap);
        EXPECT_EQ(reader.asked, (std::vector<size_t>{8192, c.second_read}));
        iobuf_free(&b);
    }
}

TEST(IobufGetln, ConsumedBytesMoveOnlyOnce8192Gathered)
{
    char *line;
    iobuf b;

    // 9000 consumed bytes before the pending "yy": moved to the start.
    std::string first(8999, 'A');
    first += '\n';
    start_reading(&b, {{first.substr(0, 8192), 0}, {first.substr(8192) + "yy", 0}, {"z\n", 0}});
    ASSERT_EQ(iobuf_getln(&b, &line, '\n'), 9000);
    ASSERT_EQ(iobuf_getln(&b, &line, '\n'), 4);
    EXPECT_EQ(std::string(line, 4), "yyz\n");
    EXPECT_EQ(line, b.buf);
    EXPECT_EQ(b.cap, 2 * 8192u);
    EXPECT_EQ(reader.asked, (std::vector<size_t>{8192, 8192, 2 * 8192 - 2}));
    iobuf_free(&b);

    // 100 consumed bytes stay where they are; the read goes behind "yy".
    start_reading(&b, {{std::string(99, 'A') + "\nyy", 0}, {"z\n", 0}});
    ASSERT_EQ(iobuf_getln(&b, &line, '\n'), 100);
    ASSERT_EQ(iobuf_getln(&b, &line, '\n'), 4);
    EXPECT_EQ(std::string(line, 4), "yyz\n");
    EXPECT_EQ(line, b.buf + 100);
    EXPECT_EQ(reader.asked, (std::vector<size_t>{8192, 8192 - 102}));
    iobuf_free(&b);
}

TEST(IobufGet, CountsBytesAndEndOfInput)
{
    iobuf b;
    start_reading(&b, {{"abc", 0}, {"defgh", 0}});
    char dst[10];
    char c;
    ASSERT_EQ(iobuf_get(&b, dst, 4), 4);  // across two reads
    EXPECT_EQ(std::string(dst, 4), "abcd");
    ASSERT_EQ(iobuf_getc(&b, &c), 1);
    EXPECT_EQ(c, 'e');
    ASSERT_EQ(iobuf_get(&b, dst, 10), 3);  // 3 left before end of input
    EXPECT_EQ(std::string(dst, 3), "fgh");
    EXPECT_EQ(iobuf_get(&b, dst, 10), 0);
    EXPECT_EQ(iobuf_getc(&b, &c), 0);
    EXPECT_EQ(reader.asked.size(), 3u);
    iobuf_free(&b);
}

// Held bytes come first; after them every call is one read, straight into
// the caller's memory, and no buffer is ever taken.
TEST(IobufGetSome, HeldBytesThenOneReadEach)
{
    iobuf b;
    start_reading(&b, {{"ab\ncd", 0}, {"", EINTR}, {"efgh", 0}, {"", EIO}, {"ij", 0}});
    char *line;
    ASSERT_EQ(iobuf_getln(&b, &line, '\n'), 3);
    char dst[100];
    ASSERT_EQ(iobuf_get_some(&b, dst, 1), 1);
    EXPECT_EQ(dst[0], 'c');
    ASSERT_EQ(iobuf_get_some(&b, dst, sizeof dst), 1);   // what is held, no read
    EXPECT_EQ(dst[0], 'd');
    EXPECT_EQ(reader.asked.size(), 1u);
    iobuf_free(&b);

    start_reading(&b, {{"", EINTR}, {"efgh", 0}, {"", EIO}, {"ij", 0}});
    ASSERT_EQ(iobuf_get_some(&b, dst, 3), 3);   // EINTR repeated
    EXPECT_EQ(std::string(dst, 3), "efg");
    ASSERT_EQ(iobuf_get_some(&b, dst, sizeof dst), 1);
    EXPECT_EQ(dst[0], 'h');
    errno = 0;
    EXPECT_EQ(iobuf_get_some(&b, dst, sizeof dst), -1);
    EXPECT_EQ(errno, EIO);
    ASSERT_EQ(iobuf_get_some(&b, dst, sizeof dst), 2);
    EXPECT_EQ(std::string(dst, 2), "ij");
    EXPECT_EQ(iobuf_get_some(&b, dst, 0), 0);
    EXPECT_EQ(iobuf_get_some(&b, dst, sizeof dst), 0);
    EXPECT_EQ(iobuf_get_some(&b, dst, sizeof dst), 0);   // the end is final
    EXPECT_EQ(reader.asked, (std::vector<size_t>{3, 3, 100, 100, 100, 100}));
    EXPECT_EQ(b.buf, nullptr);
    iobuf_free(&b);
}

TEST(IobufRead, ErrorsAreReportedAndReadAgain)
{
    iobuf b;
    char *line;
    start_reading(&b, {{"ab", 0}, {"", EIO}, {"c\n", 0}});
    errno = 0;
    EXPECT_EQ(iobuf_getln(&b, &line, '\n'), -1);
    EXPECT_EQ(errno, EIO);
    ASSERT_EQ(iobuf_getln(&b, &line, '\n'), 4);  // the pending bytes were kept
    EXPECT_EQ(std::string(line, 4), "abc\n");
    EXPECT_EQ(iobuf_getln(&b, &line, '\n'), 0);
    iobuf_free(&b);

    char c;
    start_reading(&b, {{"", EIO}, {"x", 0}});
    errno = 0;
    EXPECT_EQ(iobuf_getc(&b, &c), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(b.pos, nullptr);
    ASSERT_EQ(iobuf_getc(&b, &c), 1);
    EXPECT_EQ(c, 'x');
    iobuf_free(&b);
}

TEST(IobufRead, OutOfMemoryIsReportedAndTheIobufStaysUsable)
{
    iobuf b;
    char *line;
    start_reading(&b, {{std::string(8192, 'x'), 0}, {"\n", 0}});

    test_alloc_fail(0, 1);
    errno = 0;
    ssize_t r = iobuf_getln(&b, &line, '\n');
    test_alloc_reset();
    EXPECT_EQ(r, -1);
    EXPECT_EQ(errno, ENOMEM);
    EXPECT_TRUE(reader.asked.empty());

    test_alloc_fail(1, 1);  // the buffer is granted, its enlargement is not
    errno = 0;
    r = iobuf_getln(&b, &line, '\n');
    test_alloc_reset();
    EXPECT_EQ(r, -1);
    EXPECT_EQ(errno, ENOMEM);
    EXPECT_EQ(b.cap, 8192u);
    EXPECT_EQ(b.len, 8192u);

    ASSERT_EQ(iobuf_getln(&b, &line, '\n'), 8193);  // nothing was lost
    EXPECT_TRUE(std::string(line, 8193) == std::string(8192, 'x') + "\n");
    EXPECT_EQ(b.cap, 2 * 8192u);
    iobuf_free(&b);
}

// ---- waiting -------------------------------------------------------------

volatile sig_atomic_t alarm_seen;

void on_alarm(int)
{
    alarm_seen = 1;
}

struct Pipe {
    int fd[2];
    Pipe() { EXPECT_EQ(pipe(fd), 0); }
    ~Pipe()
    {
        close(fd[0]);
        close(fd[1]);
    }
};

TEST(IobufWait, ReadTimesOutAlsoWhenInterrupted)
{
    Pipe p;
    iobuf b;
    iobuf_init(&b, p.fd[0], iobuf_read_op, nullptr);
    b.timeout = 1;

    struct sigaction sa {}, old {};
    sa.sa_handler = on_alarm;  // no SA_RESTART: select fails with EINTR
    sigaction(SIGALRM, &sa, &old);
    alarm_seen = 0;
    itimerval shot{{0, 0}, {0, 200000}};
    setitimer(ITIMER_REAL, &shot, nullptr);

    char c;
    errno = 0;
    EXPECT_EQ(iobuf_getc(&b, &c), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_EQ(b.pos, nullptr);
    EXPECT_EQ(alarm_seen, 1);
    sigaction(SIGALRM, &old, nullptr);

    // A ready descriptor passes the wait.
    ASSERT_EQ(write(p.fd[1], "q", 1), 1);
    ASSERT_EQ(iobuf_getc(&b, &c), 1);
    EXPECT_EQ(c, 'q');
    iobuf_free(&b);
}

TEST(IobufWait, WriteTimeoutFailsTheWriterForGood)
{
    Pipe p;
    ASSERT_EQ(fcntl(p.fd[1], F_SETFL, O_NONBLOCK), 0);
    ASSERT_EQ(fcntl(p.fd[0], F_SETFL, O_NONBLOCK), 0);
    char chunk[4096] = {};
    while (write(p.fd[1], chunk, sizeof chunk) > 0) {
    }
    ASSERT_EQ(errno, EAGAIN);

    iobuf b;
    iobuf_init(&b, p.fd[1], iobuf_write_op, nullptr);
    b.timeout = 1;
    std::string data(5000, 'd');
    errno = 0;
    EXPECT_EQ(iobuf_put(&b, data.data(), data.size()), -1);
    EXPECT_EQ(errno, ETIMEDOUT);

    // Room again, but nothing more is written: a retry could repeat bytes
    // that went out before the wait gave up.
    while (read(p.fd[0], chunk, sizeof chunk) > 0) {
    }
    EXPECT_EQ(iobuf_put(&b, "0123456789", 10), 10);
    errno = 0;
    EXPECT_EQ(iobuf_flush(&b), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_EQ(read(p.fd[0], chunk, sizeof chunk), -1);
    EXPECT_EQ(errno, EAGAIN);
    iobuf_free(&b);
}

TEST(IobufWait, DescriptorOutsideSelectSetIsRefused)
{
    iobuf b;
    start_reading(&b, {{"x", 0}});
    b.fd = FD_SETSIZE;
    b.timeout = 1;
    char c;
    errno = 0;
    EXPECT_EQ(iobuf_wait(&b, 0), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(iobuf_getc(&b, &c), -1);
    EXPECT_TRUE(reader.asked.empty());
    iobuf_free(&b);
}

}  // namespace
