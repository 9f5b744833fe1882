// Token streams of the configuration lexer.
#include "compiler/lexer.h"
#include "tests/support/exact_message.h"

#include "compiler/grammar.hh"
#include "compiler/report.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    case ASSIGN: return "A(" + std::string(value) + "=" + std::string(lex_assign_value) + ")";
    case ASSIGN_END: return "A(" + std::string(value) + "=" + std::string(lex_assign_value) + ";)";
    case BLOCK: {
        std::string b = "B[";
        for (size_t i = 0; i < lex_block_count; i++) {
            const lex_block_assignment &a = lex_block[i];
            b += i ? " " : "";
            b += std::string(1, "=+!"[a.kind]) + std::string(a.name) + "=" + std::string(a.value) + "@" +
                 std::to_string(a.line);
        }
        return b + "]";
    }
    case LPAREN: return "(";
    case RPAREN: return ")";
    case LBRACE: return "{";
    case RBRACE: return "}";
    case COMMA: return ",";
    case COLON: return ":";
    case SEMICOLON: return ";";
    case EQUALS: return "=";
    default: return std::string("?").append(std::to_string(token));
    }
}

// Lexes text in the given mode; a token "@1" in the expectation is where the
// grammar would switch to mode 1 (right after the first word).
std::vector<std::string> tokens(const std::string &text, lex_mode_kind mode = lex_normal)
{
    lex_start(text.c_str());
    lex_mode = mode;
    std::vector<std::string> out;
    for (int i = 0; i < 10000; i++) {
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
    struct Case { std::string text; lex_mode_kind mode; V expected; };
    const Case cases[] = {
        {"", lex_normal, {"END"}},
        {"class classes class2 CLASS{", lex_normal, {"CLASS", "W(classes)", "W(class2)", "CLASS", "{", "END"}},
        {"class_x", lex_normal, {"CLASS", "W(_x)", "END"}},
        {"ClIeNt OVERRIDE override1", lex_normal, {"CLIENT", "OVERRIDE", "W(override1)", "END"}},
        // Keywords are compared eight bytes at a time, also where fewer are
        // left before the end, and only letters match in either case.
        {"client", lex_normal, {"CLIENT", "END"}},
        {"clien", lex_normal, {"W(clien)", "END"}},
        {"x Override", lex_normal, {"W(x)", "OVERRIDE", "END"}},
        {"overrid", lex_normal, {"W(overrid)", "END"}},
        {"clAss2 CLASS_ +\x1d", lex_normal, {"W(clAss2)", "CLASS", "W(_)", "W(+\x1d)", "END"}},
        {"+=", lex_normal, {"PLUSEQ", "END"}},
        {"a+=b", lex_normal, {"W(a)", "W(+)", "=", "W(b)", "END"}},
        {"a += b", lex_normal, {"W(a)", "PLUSEQ", "W(b)", "END"}},
        {"+=+", lex_normal, {"PLUSEQ", "W(+)", "END"}},
        {"{},=;:()", lex_normal, {"{", "}", ",", "=", ";", ":", "(", ")", "END"}},
        {"a//b /x a/*b", lex_normal, {"W(a//b)", "W(/x)", "W(a/*b)", "END"}},
        {"a;# c\nb}// c\n/* c\n*/c", lex_normal, {"W(a)", ";", "W(b)", "}", "W(c)", "END"}},
        {"a#b #c", lex_normal, {"W(a#b)", "END"}},
        {"\"a b\nc\"\"\"x", lex_normal, {"W(a b\nc)", "W()", "W(x)", "END"}},
        {"\"open", lex_normal, {"W(open)", "END"}},
        {"\xc3\xa9t\xc3\xa9 \x01", lex_normal, {"W(\xc3\xa9t\xc3\xa9)", "W(\x01)", "END"}},
        // One-line entries: after the name the colon is read and switches
        // to the items, where only parentheses end a word; the newline is
        // a token.
        {": a({x};=,y) b()\nc", lex_after_name, {":", "W(a)", "(", "W({x};=,y)", ")", "W(b)", "(", ")", "NL", "W(c)", "END"}},
        {"x:y\n", lex_after_name, {"W(x:y)", "NL", "END"}},
        {": a:b(c:d)", lex_after_name, {":", "W(a:b)", "(", "W(c:d)", ")", "END"}},
        {": class(x) # c\n", lex_after_name, {":", "CLASS", "(", "W(x)", ")", "NL", "END"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(tokens(c.text, c.mode), c.expected) << "text: " << c.text;
}

// In a block, right after its "{", a ";" or "override", a name with "=" and
// a quoted value on the same line is one token, with the ";" after it on
// that line unless it is an override's; every other form, and the same text
// anywhere else, is three.
TEST(Lexer, AssignmentsAsOneToken)
{
    struct Case { std::string text; V expected; };
    const Case cases[] = {
        {"{ a = \"1\"; }", {"{", "A(a=1;)", "}", "END"}},
        {"{a=\"x y\";\tb\t=\"\" \t;}", {"{", "A(a=x y;)", "A(b=;)", "}", "END"}},
        {"{ a = \"1\"\n; b = \"2\" /**/; }", {"{", "A(a=1)", ";", "A(b=2)", ";", "}", "END"}},
        {"{ a\r=\v\f\"1\" }", {"{", "A(a=1)", "}", "END"}},
        {"{ override \"n m\" = \"v\" }", {"{", "OVERRIDE", "A(n m=v)", "}", "END"}},
        {"{ override a = \"v\"; b = \"w\";", {"{", "OVERRIDE", "A(a=v)", ";", "A(b=w;)", "END"}},
        {"{ a = \"{x};\" }", {"{", "A(a={x};)", "}", "END"}},
        // Three tokens: an unquoted value, a newline or a comment between
        // the parts, a value over two lines or unterminated, an append.
        {"{ a = 1; }", {"{", "W(a)", "=", "W(1)", ";", "}", "END"}},
        {"{ a\n= \"1\" }", {"{", "W(a)", "=", "W(1)", "}", "END"}},
        {"{ a = /* c */ \"1\" }", {"{", "W(a)", "=", "W(1)", "}", "END"}},
        {"{ a = \"1\n2\" }", {"{", "W(a)", "=", "W(1\n2)", "}", "END"}},
        {"{ a = \"open", {"{", "W(a)", "=", "W(open)", "END"}},
        {"{ a += \"1\" }", {"{", "W(a)", "PLUSEQ", "W(1)", "}", "END"}},
        // Outside a block, or after another token in one.
        {"a = \"1\"", {"W(a)", "=", "W(1)", "END"}},
        {"{ } a = \"1\"", {"{", "}", "W(a)", "=", "W(1)", "END"}},
        {"{ a b = \"1\" }", {"{", "W(a)", "W(b)", "=", "W(1)", "}", "END"}},
        {"{ \"a\" = \"1\" = \"2\" }", {"{", "A(a=1)", "=", "W(2)", "}", "END"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(tokens(c.text), c.expected) << "text: " << c.text;
    // In a one-line entry's items "=" is part of a word.
    EXPECT_EQ(tokens("{ : a=\"1\"", lex_after_name), V({"W({)", ":", "W(a=\"1\")", "END"}));
}

// An entry's block right after its name or include list is one token when
// it holds assignments in the grammar's forms only, at most lex_block_most;
// each keeps the line at which the parser takes it: after its last token.
// Anything else is read token by token.
TEST(Lexer, BlocksAsOneToken)
{
    std::string many = "client h {";
    for (size_t i = 0; i <= lex_block_most; i++)
        many += " a" + std::to_string(i) + " = \"v\";";
    many += " }";
    struct Case { std::string text; V expected; };
    const Case cases[] = {
        {"client h { a = \"1\"; b = 2; override c = \"3\"; d += \"4\" }",
         {"CLIENT", "W(h)", "B[=a=1@1 =b=2@1 !c=3@1 +d=4@1]", "END"}},
        {"class k : a, \"b\"\n{\n a = \"1\"\n;\n override \"x y\" =\n \"2\" }",
         {"CLASS", "W(k)", ":", "W(a)", ",", "W(b)", "B[=a=1@3 !x y=2@6]", "END"}},
        {"client h {} x", {"CLIENT", "W(h)", "B[]", "W(x)", "END"}},
        {"client h { a = \"1\";; }", {"CLIENT", "W(h)", "{", "A(a=1;)", ";", "}", "END"}},
        {"client h { a } ", {"CLIENT", "W(h)", "{", "W(a)", "}", "END"}},
        {"client h { override a += \"1\" }", {"CLIENT", "W(h)", "{", "OVERRIDE", "W(a)", "PLUSEQ", "W(1)", "}", "END"}},
        {"client h { a = \"1\" b = \"2\" }", {"CLIENT", "W(h)", "{", "A(a=1)", "W(b)", "=", "W(2)", "}", "END"}},
        {"client h { a = \"1\"", {"CLIENT", "W(h)", "{", "A(a=1)", "END"}},
        // Not right after an entry's name or include list.
        {"{ a = \"1\"; }", {"{", "A(a=1;)", "}", "END"}},
        {"client h : { }", {"CLIENT", "W(h)", ":", "{", "}", "END"}},
        {"client h : a, { }", {"CLIENT", "W(h)", ":", "W(a)", ",", "{", "}", "END"}},
        {"h { }", {"W(h)", "{", "}", "END"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(tokens(c.text), c.expected) << "text: " << c.text;
    V long_block = tokens(many);
    ASSERT_GE(long_block.size(), 4u);
    EXPECT_EQ(V(long_block.begin(), long_block.begin() + 4), V({"CLIENT", "W(h)", "{", "A(a0=v;)"}));
    EXPECT_EQ(long_block.size(), 2 + 1 + lex_block_most + 1 + 2u);

    // Until the parser takes the block, the line counter stays at its "{".
    lex_start("client h {\n a = \"1\";\n}\n");
    std::string_view value;
    EXPECT_EQ(next_token(&value), CLIENT);
    EXPECT_EQ(next_token(&value), STRING);
    EXPECT_EQ(next_token(&value), BLOCK);
    EXPECT_EQ(config_line, 1);
    lex_block_take(0);
    EXPECT_EQ(config_line, 2);
    lex_block_taken();
    EXPECT_EQ(config_line, 3);
}

TEST(Lexer, LineCounting)
{
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
    lex_start("a\nb");
    lex_mode = lex_in_items;
    EXPECT_EQ(next_token(&value), STRING);
    EXPECT_EQ(next_token(&value), NEWLINE);
    EXPECT_EQ(config_line, 1);
    EXPECT_EQ(lex_mode, lex_normal);
    EXPECT_EQ(next_token(&value), STRING);
    EXPECT_EQ(config_line, 2);
}

// Quoted values of every length up to a few blocks of the scan, closed and
// left open at the end of the text: the value, and the newlines counted
// before the closing quote only (those right after it are the skipper's).
TEST(Lexer, QuotedValuesOfAnyLength)
{
    for (int n = 0; n <= 50; n++) {
        std::string v;
        for (int i = 0; i < n; i++)
            v += i % 7 == 3 ? '\n' : static_cast<char>('a' + i % 26);
        const int64_t lines = std::count(v.begin(), v.end(), '\n');
        std::string_view value;

        std::string closed = "\"" + v + "\"\n\n\"x\ny\" z";
        lex_start(closed.c_str());
        EXPECT_EQ(next_token(&value), STRING);
        EXPECT_EQ(value, v) << "length " << n;
        EXPECT_EQ(config_line, 1 + lines) << "length " << n;
        EXPECT_EQ(next_token(&value), STRING);
        EXPECT_EQ(value, "x\ny");
        EXPECT_EQ(lex_token_line, 3 + lines) << "length " << n;
        EXPECT_EQ(next_token(&value), STRING);
        EXPECT_EQ(lex_token_line, 4 + lines) << "length " << n;
        EXPECT_EQ(next_token(&value), 0);

        std::string open = "\"" + v;
        lex_start(open.c_str());
        EXPECT_EQ(next_token(&value), STRING);
        EXPECT_EQ(value, v) << "open, length " << n;
        EXPECT_EQ(config_line, 1 + lines) << "open, length " << n;
        EXPECT_EQ(next_token(&value), 0);
    }
}

// The counter goes on past 2^31 (and the report prints it) instead of
// wrapping to a negative number.
TEST(LexerDeathTest, LineCounterPastTwoToThe31)
{
    const int64_t start = (int64_t{1} << 31) - 2;
    lex_start("a\n\n/*\n*/ b\n\nc");
    config_line = start;
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
