// Token streams of the configuration lexer.
#include "compiler/lexer.h"
#include "tests/support/exact_message.h"

#include "compiler/grammar.hh"
#include "compiler/report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A token as text: punctuation as itself, keywords in upper case, words as
// W(text), NEWLINE as NL, the end as END.
std::string show(int token, std::string_view value)
{
    switch (token) {
    case 0: return "END";
    case STRING: return "W(" + std::string(value) + ")";
    case CLASS: return "CLASS";
    case CLIENT: return "CLIENT";
    case OVERRIDE: return "OVERRIDE";
    case PLUSEQ: return "PLUSEQ";
    case NEWLINE: return "NL";
    default: return std::string(1, static_cast<char>(token));
    }
}

// Lexes text in the given mode; a token "@1" in the expectation is where the
// grammar would switch to mode 1 (right after the first word).
std::vector<std::string> tokens(const std::string &text, int mode = 0)
{
    config_line = 1;
    lex_start(text.c_str());
    lex_mode = mode;
    std::vector<std::string> out;
    for (int i = 0; i < 100; i++) {
        std::string_view value;
        int token = next_token(&value);
        out.push_back(show(token, value));
        if (token == 0)
            break;
    }
    return out;
}

using V = std::vector<std::string>;

TEST(Lexer, TokenStreams)
{
    struct Case { std::string text; int mode; V expected; };
    const Case cases[] = {
        {"", 0, {"END"}},
        {"class classes class2 CLASS{", 0, {"CLASS", "W(classes)", "W(class2)", "CLASS", "{", "END"}},
        {"class_x", 0, {"CLASS", "W(_x)", "END"}},
        {"ClIeNt OVERRIDE override1", 0, {"CLIENT", "OVERRIDE", "W(override1)", "END"}},
        {"a+=b", 0, {"W(a)", "W(+)", "=", "W(b)", "END"}},
        {"a += b", 0, {"W(a)", "PLUSEQ", "W(b)", "END"}},
        {"+=+", 0, {"PLUSEQ", "W(+)", "END"}},
        {"{},=;:()", 0, {"{", "}", ",", "=", ";", ":", "(", ")", "END"}},
        {"a//b /x a/*b", 0, {"W(a//b)", "W(/x)", "W(a/*b)", "END"}},
        {"a;# c\nb}// c\n/* c\n*/c", 0, {"W(a)", ";", "W(b)", "}", "W(c)", "END"}},
        {"a#b #c", 0, {"W(a#b)", "END"}},
        {"\"a b\nc\"\"\"x", 0, {"W(a b\nc)", "W()", "W(x)", "END"}},
        {"\"open", 0, {"W(open)", "END"}},
        {"\xc3\xa9t\xc3\xa9 \x01", 0, {"W(\xc3\xa9t\xc3\xa9)", "W(\x01)", "END"}},
        // One-line entries: mode 1 reads the colon and switches to mode 2,
        // where only parentheses end a word; the newline is a token.
        {": a({x};=,y) b()\nc", 1, {":", "W(a)", "(", "W({x};=,y)", ")", "W(b)", "(", ")", "NL", "W(c)", "END"}},
        {"x:y\n", 1, {"W(x:y)", "NL", "END"}},
        {": a:b(c:d)", 1, {":", "W(a:b)", "(", "W(c:d)", ")", "END"}},
        {": class(x) # c\n", 1, {":", "CLASS", "(", "W(x)", ")", "NL", "END"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(tokens(c.text, c.mode), c.expected) << "text: " << c.text;
}

TEST(Lexer, LineCounting)
{
    config_line = 1;
    lex_start("a\n\"b\nc\"\n/*\n\n*/ d\n");
    std::string_view value;
    EXPECT_EQ(next_token(&value), STRING);
    EXPECT_EQ(config_line, 1);
    EXPECT_EQ(next_token(&value), STRING);   // the newline inside quotes is counted
    EXPECT_EQ(config_line, 3);
    EXPECT_EQ(lex_token_line, 2);            // the string began a line earlier
    EXPECT_EQ(next_token(&value), STRING);   // and so are those of block comments
    EXPECT_EQ(config_line, 6);
    EXPECT_EQ(next_token(&value), 0);
    EXPECT_EQ(config_line, 7);

    // In one-line mode the newline is counted once, when the next token is read.
    config_line = 1;
    lex_start("a\nb");
    lex_mode = 2;
    EXPECT_EQ(next_token(&value), STRING);
    EXPECT_EQ(next_token(&value), NEWLINE);
    EXPECT_EQ(config_line, 1);
    EXPECT_EQ(lex_mode, 0);
    EXPECT_EQ(next_token(&value), STRING);
    EXPECT_EQ(config_line, 2);
}

// The counter goes on past 2^31 (and the report prints it) instead of
// wrapping to a negative number.
TEST(LexerDeathTest, LineCounterPastTwoToThe31)
{
    const int64_t start = (int64_t{1} << 31) - 2;
    config_line = start;
    lex_start("a\n\n/*\n*/ b\n\nc");
    std::string_view value;
    EXPECT_EQ(next_token(&value), STRING);
    EXPECT_EQ(next_token(&value), STRING);
    EXPECT_EQ(config_line, start + 3);
    EXPECT_EQ(next_token(&value), STRING);
    EXPECT_EQ(config_line, start + 5);
    EXPECT_EXIT(
        {
            die_init("corvane_make");
            die_at_line(0, "parse error", "x");
        },
        testing::ExitedWithCode(1), exactly("corvane_make: parse error: x at line 2147483651\n"));
}

TEST(Lexer, LastSymbol)
{
    struct Case { std::string text; const char *last; };
    const Case cases[] = {
        {"word", "string"}, {"\"q\"", "\"string\""}, {"Class", "class"}, {"+=", "+="}, {";", ";"},
    };
    for (const Case &c : cases) {
        config_line = 1;
        lex_start(c.text.c_str());
        std::string_view value;
        next_token(&value);
        ASSERT_NE(last_symbol, nullptr) << c.text;
        EXPECT_STREQ(last_symbol, c.last) << c.text;
        next_token(&value);   // the end leaves it
        EXPECT_STREQ(last_symbol, c.last) << c.text;
    }
}

} // namespace
