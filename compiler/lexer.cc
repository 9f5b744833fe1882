// The configuration lexer.
#include "compiler/lexer.h"

#include "compiler/grammar.hh"
#include "compiler/report.h"

#include <array>
#include <cstring>
#include <string_view>

int64_t config_line;
lex_mode_kind lex_mode;
const char *last_symbol;
const char *lex_position;
int64_t lex_token_line;
const char *lex_token_start;

namespace {

// Character classes of the "C" locale; bytes from 0x80 up are neither.
constexpr bool is_space(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool is_alnum(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

constexpr unsigned char to_lower(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// Bytes that end a bare word besides NUL and white space, per mode group.
constexpr std::array<bool, 256> delimiter_set(std::string_view chars)
{
    std::array<bool, 256> set{};
    set[0] = true;
    for (unsigned char c = 1; c != 0; c++)
        set[c] = is_space(c);
    for (char c : chars)
        set[static_cast<unsigned char>(c)] = true;
    return set;
}

constexpr std::array<bool, 256> normal_delimiters = delimiter_set("{},=;+:");
constexpr std::array<bool, 256> line_delimiters = delimiter_set("()");

constexpr std::array<bool, 256> byte_set(std::string_view chars)
{
    std::array<bool, 256> set{};
    for (char c : chars)
        set[static_cast<unsigned char>(c)] = true;
    return set;
}

// White space that only needs passing over: all of it but the newline.
constexpr std::array<bool, 256> blanks = byte_set(" \t\v\f\r");

// The bytes after white space that may still begin something to skip: a
// newline or a comment. Most tokens begin with none of them.
constexpr std::array<bool, 256> skip_starts = byte_set("\n#/");

// The one-byte tokens of each mode, in the order of the modes; every other
// byte begins a word.
static_assert(lex_normal == 0 && lex_after_name == 1 && lex_in_items == 2);
constexpr std::array<bool, 256> mode_tokens[] = {
    byte_set("(){},:;="),
    byte_set("():"),
    byte_set("()"),
};

// Every byte as a text of its own: a one-byte token is its own last symbol.
constexpr std::array<std::array<char, 2>, 256> byte_texts = [] {
    std::array<std::array<char, 2>, 256> texts{};
    for (int c = 0; c < 256; c++)
        texts[static_cast<size_t>(c)][0] = static_cast<char>(c);
    return texts;
}();

struct keyword {
    std::string_view text;
    int token;
};

constexpr keyword keywords[] = {
    {"class", CLASS},
    {"client", CLIENT},
    {"override", OVERRIDE},
    {"+=", PLUSEQ},
};

// The first bytes of the keywords, in either case: most words begin with
// none of them and skip the comparisons.
constexpr std::array<bool, 256> keyword_starts = [] {
    std::array<bool, 256> set{};
    for (const keyword &k : keywords) {
        unsigned char c = static_cast<unsigned char>(k.text[0]);
        set[c] = true;
        set[to_lower(c)] = true;
        if (c >= 'a' && c <= 'z')
            set[static_cast<unsigned char>(c - 'a' + 'A')] = true;
    }
    return set;
}();

// Moves past a block comment that starts at the position; newlines in it are
// counted. A comment that never ends would swallow the rest of the input.
void skip_block_comment()
{
    int64_t opened_at = config_line;
    const char *p = lex_position + 2;
    for (;; p++) {
        if (*p == 0) {
            lex_position = p;
            die_at(opened_at, 0, "parse error", "unterminated comment");
        }
        if (*p == '\n')
            config_line++;
        else if (p[0] == '*' && p[1] == '/')
            break;
    }
    lex_position = p + 2;
}

void skip_line_comment()
{
    const char *end = strchr(lex_position, '\n');
    lex_position = end ? end : lex_position + strlen(lex_position);
}

// Skips white space and comments. Returns true when a newline ends a
// one-line entry: the NEWLINE token, with the newline left in place.
bool skip()
{
    for (;;) {
        const char *p = lex_position;
        while (blanks[static_cast<unsigned char>(*p)])
            p++;
        lex_position = p;
        if (!skip_starts[static_cast<unsigned char>(*p)])
            return false;
        if (*p == '\n') {
            if (lex_mode != lex_normal) {
                lex_mode = lex_normal;
                return true;
            }
            config_line++;
            lex_position = p + 1;
        } else if (*p == '#' || (*p == '/' && p[1] == '/')) {
            skip_line_comment();
        } else if (*p == '/' && p[1] == '*') {
            skip_block_comment();
        } else {
            return false;
        }
    }
}

int match_keyword()
{
    // Most words begin with no keyword's first byte and go at once.
    if (!keyword_starts[static_cast<unsigned char>(*lex_position)])
        return 0;
    for (const keyword &k : keywords) {
        size_t n = k.text.size();
        size_t i = 0;
        while (i < n && to_lower(static_cast<unsigned char>(lex_position[i])) == k.text[i])
            i++;
        if (i == n && !is_alnum(static_cast<unsigned char>(lex_position[n]))) {
            lex_position += n;
            last_symbol = k.text.data();
            return k.token;
        }
    }
    return 0;
}

// Most quoted values hold no newline: memchr passes over them at once.
int64_t count_newlines(const char *p, const char *end)
{
    int64_t n = 0;
    while (const void *nl = memchr(p, '\n', static_cast<size_t>(end - p))) {
        n++;
        p = static_cast<const char *>(nl) + 1;
    }
    return n;
}

int word(std::string_view *value)
{
    if (int token = match_keyword())
        return token;
    const char *start = lex_position;
    if (*start == '"') {
        const char *close = strchr(start + 1, '"');
        const char *end = close ? close : start + 1 + strlen(start + 1);
        *value = std::string_view(start + 1, static_cast<size_t>(end - start - 1));
        // A value may span lines; later messages must name the true line.
        config_line += count_newlines(start + 1, end);
        lex_position = close ? close + 1 : end;
        last_symbol = "\"string\"";
        return STRING;
    }
    const std::array<bool, 256> &stop = lex_mode == lex_normal ? normal_delimiters : line_delimiters;
    const char *end = start + 1;   // the first byte belongs to the word, even a '+'
    while (!stop[static_cast<unsigned char>(*end)])
        end++;
    *value = std::string_view(start, static_cast<size_t>(end - start));
    lex_position = end;
    last_symbol = "string";
    return STRING;
}

} // namespace

void lex_start(const char *text)
{
    lex_position = text;
    lex_token_start = text;
    lex_mode = lex_normal;
    config_line = 1;
    last_symbol = nullptr;
}

int next_token(std::string_view *value)
{
    bool newline = skip();
    lex_token_start = lex_position;
    if (newline)
        return NEWLINE;
    lex_token_line = config_line;
    unsigned char c = static_cast<unsigned char>(*lex_position);
    if (c == 0)
        return 0;
    if (!mode_tokens[lex_mode][c])
        return word(value);
    if (lex_mode == lex_after_name && c == ':')
        lex_mode = lex_in_items;
    lex_position++;
    last_symbol = byte_texts[c].data();
    return c;
}
