// Reading the configuration: the text over scripted reads, and which of the
// input errors is reported when several are present: each as soon as it is
// met.
#include "compiler/read_config.h"
#include "tests/support/exact_message.h"

#include "compiler/report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// One read: its bytes, or an error when error is set.
struct piece {
    std::string bytes;
    int error;
};

std::vector<piece> pieces;
size_t next_piece;

ssize_t scripted_read(int, void *buf, size_t n)
{
    if (next_piece == pieces.size())
        return 0;
    piece &p = pieces[next_piece];
    if (p.error) {
        next_piece++;
        errno = p.error;
        return -1;
    }
    size_t k = std::min(n, p.bytes.size());
    memcpy(buf, p.bytes.data(), k);
    p.bytes.erase(0, k);
    if (p.bytes.empty())
        next_piece++;
    return static_cast<ssize_t>(k);
}

std::string read_all(std::vector<piece> script)
{
    pieces = std::move(script);
    next_piece = 0;
    config_line = 0;
    iobuf in;
    iobuf_init(&in, 0, scripted_read, nullptr);
    zostr text;
    text.data = nullptr;
    read_config(&in, &text);
    std::string result(text.data, text.length);
    zostr_free(&text);
    return result;
}

TEST(ReadConfig, TheWholeTextAndANul)
{
    EXPECT_EQ(read_all({}), std::string(1, '\0'));
    EXPECT_EQ(read_all({{"a;\n", 0}, {"", EINTR}, {"b", 0}, {";\n", 0}}), std::string("a;\nb;\n", 7));

    // More than one block, in pieces of every size.
    std::string big;
    for (int i = 0; big.size() < 300000; i++)
        big += "client c" + std::to_string(i) + ";\n";
    std::vector<piece> script;
    for (size_t at = 0, n = 1; at < big.size(); at += n, n = n * 3 % 70001 + 1)
        script.push_back({big.substr(at, n), 0});
    EXPECT_EQ(read_all(script), big + '\0');
}

TEST(ReadConfig, ErrorsAsSoonAsMet)
{
    struct error_case {
        const char *what;
        std::vector<piece> script;
        const char *report;
    };
    const std::string nul_in_line_3 = std::string("a;\nb;\nc\0;\n", 10);
    const error_case cases[] = {
        {"a read error", {{"a;\n", 0}, {"", EIO}}, "read error at line 0"},
        {"no newline at the end", {{"a;\nb;", 0}}, "no linefeed at end of input at line 0"},
        {"a NUL byte", {{nul_in_line_3, 0}}, "NUL byte in input at line 3"},
        {"a NUL byte in a line read in pieces",
         {{"a;\nb;\nc", 0}, {std::string("\0", 1), 0}, {";", 0}, {"\nd;\n", 0}},
         "NUL byte in input at line 3"},
        {"a NUL byte in a complete line before a read error",
         {{nul_in_line_3, 0}, {"", EIO}},
         "NUL byte in input at line 3"},
        {"a NUL byte in a line that a read error cuts short",
         {{"a;\n", 0}, {std::string("b\0;", 3), 0}, {"", EIO}},
         "NUL byte in input at line 2"},
        {"a NUL byte in a last line without newline",
         {{std::string("a;\nb\0;", 6), 0}},
         "NUL byte in input at line 2"},
    };
    for (const error_case &c : cases) {
        std::string expected = exactly(std::string("corvane_make: bad input format: ") + c.report + "\n");
        EXPECT_EXIT(
            {
                die_init("corvane_make");
                read_all(c.script);
            },
            testing::ExitedWithCode(1), expected)
            << c.what;
    }
}

// An endless input without a newline, all NUL bytes (a device of zeros):
// the first read already ends the run.
ssize_t zeros(int, void *buf, size_t n)
{
    memset(buf, 0, n);
    return static_cast<ssize_t>(n);
}

TEST(ReadConfigDeathTest, EndlessZerosEndAtTheFirstRead)
{
    EXPECT_EXIT(
        {
            die_init("corvane_make");
            alarm(10);
            iobuf in;
            iobuf_init(&in, 0, zeros, nullptr);
            zostr text;
            text.data = nullptr;
            read_config(&in, &text);
        },
        testing::ExitedWithCode(1), exactly("corvane_make: bad input format: NUL byte in input at line 1\n"));
}

} // namespace
