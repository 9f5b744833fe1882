// The fatal report: exact text on descriptor 2 and status 1.
#include "lib/die.h"
#include "tests/support/exact_message.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {


TEST(DieDeathTest, Reports)
{
    struct Case {
        const char *argv0;
        int err;
        std::string msg;
        std::string expected;
    };
    const std::string long_msg(5000, 'm');  // more than the writer's buffer
    const Case cases[] = {
        {"prog", ENOENT, "cannot open input file", "prog: cannot open input file: No such file or directory\n"},
        {"/usr/bin/corvane_make", 0, "Give --help option for usage information",
         "corvane_make: Give --help option for usage information\n"},
        {"./build/corvane_make", EXDEV, "unable to rename", "corvane_make: unable to rename: Invalid cross-device link\n"},
        {"p", 0, long_msg, "p: " + long_msg + "\n"},
        // One line whatever the texts hold: control bytes show as spaces,
        // tabs and bytes from 0x80 stay.
        {"/x/a\x1b]0;b\x07", EIO, "line\none\r\t\x7f\xc3\xa9",
         "a ]0;b : line one \t \xc3\xa9: Input/output error\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.argv0);
        EXPECT_EXIT(
            {
                die_init(c.argv0);
                die(c.err, c.msg.c_str());
            },
            testing::ExitedWithCode(1), exactly(c.expected));
    }
}

void say_handler_ran()
{
    ssize_t r = write(2, "exit handler\n", 13);
    (void)r;
}

TEST(DieDeathTest, SkipsExitHandlers)
{
    EXPECT_EXIT(
        {
            std::atexit(say_handler_ran);
            die_init("corvane_make");
            die(0, "bad");
        },
        testing::ExitedWithCode(1), exactly("corvane_make: bad\n"));
}

TEST(DieDeathTest, FinishFlushesTheWriter)
{
    EXPECT_EXIT(
        {
            die_init("a/b/corvane_make");
            iobuf_puts(&die_writer, die_program_name);
            iobuf_puts(&die_writer, ": bad input format at line 0\n");
            die_finish();
        },
        testing::ExitedWithCode(1), exactly("corvane_make: bad input format at line 0\n"));
}

}  // namespace
