// The configuration lexer.
//
// It runs for every token of the configuration, so it is written for the
// common case: a byte's class decides what it begins in one lookup, white
// space and words are passed over with tables, and a quoted value is
// scanned sixteen bytes at a time where the machine can.
#include "compiler/lexer.h"

#include "compiler/grammar.hh"
#include "compiler/report.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string_view>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

int64_t config_line;
lex_mode_kind lex_mode;
const char *last_symbol;
const char *lex_position;
int64_t lex_token_line;
const char *lex_token_start;

namespace {

// The NUL that ends the text: the quoted scan reads no byte past it.
const char *lex_end;

// Character classes of the "C" locale; bytes from 0x80 up are neither.
constexpr bool is_space(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool is_alnum(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
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

// What a byte begins where a token may begin, in each mode: a token, or
// white space or a comment to pass over. One lookup tells both.
enum start_kind : unsigned char {
    start_word,     // a bare word that cannot be a keyword
    start_keyword,  // a bare word, or a keyword if one is spelt there
    start_quote,    // a quoted value (or a keyword: none begins with '"')
    start_byte,     // a one-byte token of the mode
    start_end,      // the NUL that ends the text
    skip_blank,     // white space other than the newline
    skip_newline,
    skip_hash,      // a comment to the end of the line
    skip_slash,     // a comment if "//" or "/*" begins there, else a word
};

// The one-byte tokens of each mode, in the order of the modes; every other
// byte begins a word but the NUL, white space and the first bytes of
// comments ('/' begins a word where no comment begins).
static_assert(lex_normal == 0 && lex_after_name == 1 && lex_in_items == 2);

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

constexpr std::array<start_kind, 256> start_kinds(std::string_view one_byte_tokens)
{
    std::array<start_kind, 256> kinds{};
    // The first bytes of the keywords, in either case: most words begin
    // with none of them and skip the comparisons.
    for (const keyword &k : keywords) {
        unsigned char c = static_cast<unsigned char>(k.text[0]);
        kinds[c] = start_keyword;
        if (c >= 'a' && c <= 'z')
            kinds[static_cast<unsigned char>(c - 'a' + 'A')] = start_keyword;
    }
    kinds['"'] = start_quote;
    for (char c : one_byte_tokens)
        kinds[static_cast<unsigned char>(c)] = start_byte;
    kinds[0] = start_end;
    for (unsigned char c : {' ', '\t', '\v', '\f', '\r'})
        kinds[c] = skip_blank;
    kinds['\n'] = skip_newline;
    kinds['#'] = skip_hash;
    kinds['/'] = skip_slash;
    return kinds;
}

constexpr std::array<start_kind, 256> mode_starts[] = {
    start_kinds("(){},:;="),
    start_kinds("():"),
    start_kinds("()"),
};

// Every byte as a text of its own: a one-byte token is its own last symbol.
constexpr std::array<std::array<char, 2>, 256> byte_texts = [] {
    std::array<std::array<char, 2>, 256> texts{};
    for (int c = 0; c < 256; c++)
        texts[static_cast<size_t>(c)][0] = static_cast<char>(c);
    return texts;
}();

// The parser's number of every one-byte token.
constexpr std::array<unsigned char, 256> byte_tokens = [] {
    std::array<unsigned char, 256> tokens{};
    for (auto [c, token] : {std::pair{'(', LPAREN}, {')', RPAREN}, {'{', LBRACE}, {'}', RBRACE}, {',', COMMA},
                            {':', COLON}, {';', SEMICOLON}, {'=', EQUALS}})
        tokens[static_cast<unsigned char>(c)] = static_cast<unsigned char>(token);
    return tokens;
}();

// Set while a block is read ahead of the parser (read_block).
bool reading_ahead;

// Moves past a block comment that starts at p; newlines in it are counted.
// A comment that never ends would swallow the rest of the input.
const char *skip_block_comment(const char *p)
{
    int64_t opened_at = config_line;
    for (p += 2;; p++) {
        if (*p == 0) {
            // Read ahead, the end is only a token that no block holds: the
            // parser reads the text again and meets it in its turn.
            if (reading_ahead)
                return p;
            lex_position = p;
            die_at(opened_at, 0, "parse error", "unterminated comment");
        }
        if (*p == '\n')
            config_line++;
        else if (p[0] == '*' && p[1] == '/')
            return p + 2;
    }
}

const char *skip_line_comment(const char *p)
{
    const char *end = static_cast<const char *>(memchr(p, '\n', static_cast<size_t>(lex_end - p)));
    return end ? end : lex_end;
}

// Past a newline of the normal mode at p, counted, and past the indentation
// that most lines begin with.
inline const char *line_start(const char *p, const std::array<start_kind, 256> &kinds)
{
    config_line++;
    p++;
    while (kinds[static_cast<unsigned char>(*p)] == skip_blank)
        p++;
    return p;
}

// Skips white space and comments from p; returns where the next token
// begins and sets *kind to what it begins. Sets *newline when a newline
// ends a one-line entry: the NEWLINE token, with the newline left in place.
inline const char *skip(const char *p, const std::array<start_kind, 256> &kinds, bool *newline,
                        start_kind *kind)
{
    // Most tokens follow a single blank, none, or the newline and the
    // indentation that begin their line: those are found without the
    // loop's jump.
    start_kind first = kinds[static_cast<unsigned char>(*p)];
    if (first == skip_blank) {
        p++;
    } else if (first == skip_newline && lex_mode == lex_normal) {
        p = line_start(p, kinds);
    }
    if ((*kind = kinds[static_cast<unsigned char>(*p)]) < skip_blank)
        return p;
    for (;;) {
        switch (kinds[static_cast<unsigned char>(*p)]) {
        case skip_blank:
            p++;
            break;
        case skip_newline:
            if (lex_mode != lex_normal) {
                lex_mode = lex_normal;
                *newline = true;
                return p;
            }
            p = line_start(p, kinds);
            if ((*kind = kinds[static_cast<unsigned char>(*p)]) < skip_blank)
                return p;
            break;
        case skip_hash:
            p = skip_line_comment(p);
            break;
        case skip_slash:
            if (p[1] == '/') {
                p = skip_line_comment(p);
            } else if (p[1] == '*') {
                p = skip_block_comment(p);
            } else {
                *kind = start_word;
                return p;
            }
            break;
        default:
            *kind = kinds[static_cast<unsigned char>(*p)];
            return p;
        }
    }
}

// A keyword as eight bytes, compared with the eight bytes of the text at
// once: its own bytes, the bits to set in the text's bytes first, and the
// bytes it covers. Setting the 0x20 bit makes an upper-case letter lower
// case and keeps a lower-case one, and no other byte turns into a
// lower-case letter that way; "+=" holds no letter and sets no bit.
struct keyword_word {
    uint64_t bytes;
    uint64_t fold;
    uint64_t mask;
};

constexpr uint64_t byte_at(unsigned char c, size_t i)
{
    return uint64_t{c} << (std::endian::native == std::endian::little ? 8 * i : 56 - 8 * i);
}

constexpr keyword_word keyword_word_of(std::string_view text)
{
    keyword_word w{};
    for (size_t i = 0; i < text.size(); i++) {
        auto c = static_cast<unsigned char>(text[i]);
        w.bytes |= byte_at(c, i);
        w.fold |= c >= 'a' && c <= 'z' ? byte_at(0x20, i) : 0;
        w.mask |= byte_at(0xFF, i);
    }
    return w;
}

constexpr auto keyword_words = [] {
    std::array<keyword_word, std::size(keywords)> words{};
    for (size_t i = 0; i < words.size(); i++)
        words[i] = keyword_word_of(keywords[i].text);
    return words;
}();

static_assert(std::all_of(std::begin(keywords), std::end(keywords),
                          [](const keyword &k) { return k.text.size() <= 8; }));

int match_keyword(const char *p)
{
    // The eight bytes at p; those past the NUL that ends the text read as
    // NULs, which match no keyword's byte.
    uint64_t text = 0;
    memcpy(&text, p, std::min<ptrdiff_t>(lex_end - p, 8));
    for (size_t i = 0; i < std::size(keywords); i++) {
        const keyword_word &w = keyword_words[i];
        size_t n = keywords[i].text.size();
        if (((text | w.fold) & w.mask) == w.bytes && !is_alnum(static_cast<unsigned char>(p[n]))) {
            lex_position = p + n;
            last_symbol = keywords[i].text.data();
            return keywords[i].token;
        }
    }
    return 0;
}

// The closing quote of a value that begins at p, or the NUL that ends the
// text; the newlines before it are added to *newlines. Most values hold no
// newline and end within a few blocks of sixteen bytes, each looked at in
// a few instructions; no byte past the NUL is read.
// The set bits of a block's mask. Newlines in values are rare, so a loop
// does; the compiler's bit count would be a call into libgcc_s on machines
// without the instruction, a library the program otherwise does not load.
int64_t bits_set(unsigned mask)
{
    int64_t n = 0;
    for (; mask; mask &= mask - 1)
        n++;
    return n;
}

const char *quoted_end(const char *p, int64_t *newlines)
{
#ifdef __SSE2__
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i nl = _mm_set1_epi8('\n');
    while (lex_end - p >= 16) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        unsigned stops = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, quote)));
        unsigned lines = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, nl)));
        if (stops) {
            unsigned before = (stops & (0u - stops)) - 1;   // the bytes before the first quote
            if (lines & before)
                *newlines += bits_set(lines & before);
            return p + __builtin_ctz(stops);
        }
        if (lines)
            *newlines += bits_set(lines);
        p += 16;
    }
#endif
    for (;; p++) {
        if (*p == '"' || *p == 0)
            return p;
        if (*p == '\n')
            ++*newlines;
    }
}

int quoted(const char *start, std::string_view *value)
{
    int64_t newlines = 0;
    const char *end = quoted_end(start + 1, &newlines);
    *value = std::string_view(start + 1, static_cast<size_t>(end - start - 1));
    // A value may span lines; later messages must name the true line.
    config_line += newlines;
    lex_position = *end ? end + 1 : end;
    last_symbol = "\"string\"";
    return STRING;
}

// The first byte belongs to the word, even a '+'.
int bare_word(const char *start, std::string_view *value)
{
    const std::array<bool, 256> &stop = lex_mode == lex_normal ? normal_delimiters : line_delimiters;
    const char *end = start + 1;
    while (!stop[static_cast<unsigned char>(*end)])
        end++;
    *value = std::string_view(start, static_cast<size_t>(end - start));
    lex_position = end;
    last_symbol = "string";
    return STRING;
}

// Between a block's "{" and its "}", and the last token returned: where an
// assignment may begin.
bool in_block;
int last_token;

// Whether the parser takes an assignment at the token about to be read: in
// a block, right after its "{", a ";" (an ASSIGN_END's too) or "override"
// (a block holds nothing else, and where it does not, the parse fails
// before that token).
bool assignment_may_begin()
{
    return in_block && (last_token == LBRACE || last_token == SEMICOLON || last_token == ASSIGN_END ||
                        last_token == OVERRIDE);
}

// Most assignments are a name, "=" and a quoted value on one line: they are
// one token, ASSIGN, the name (just read as token) its text and the value
// in lex_assign_value, which the parser takes in one step instead of three;
// ASSIGN_END when the ";" after them is on that line too.
// Anything else (a newline or a comment between them, a value unquoted,
// unterminated or over more than one line) stays three tokens, read as
// before.
[[gnu::always_inline]] inline int assignment_or(int token)
{
    const std::array<start_kind, 256> &kinds = mode_starts[lex_normal];
    const char *p = lex_position;
    while (kinds[static_cast<unsigned char>(*p)] == skip_blank)
        p++;
    if (*p != '=')
        return token;
    p++;
    while (kinds[static_cast<unsigned char>(*p)] == skip_blank)
        p++;
    if (*p != '"')
        return token;
    int64_t newlines = 0;
    const char *end = quoted_end(p + 1, &newlines);
    if (newlines || !*end)
        return token;
    lex_assign_value = std::string_view(p + 1, static_cast<size_t>(end - p - 1));
    // Its ";", when blanks at most come between, is part of the token too,
    // but not an override's, whose parts hold one stack entry more.
    p = end + 1;
    while (kinds[static_cast<unsigned char>(*p)] == skip_blank)
        p++;
    if (*p == ';' && last_token != OVERRIDE) {
        lex_position = p + 1;
        last_symbol = byte_texts[';'].data();
        return ASSIGN_END;
    }
    lex_position = end + 1;
    last_symbol = "\"string\"";
    return ASSIGN;
}

[[gnu::always_inline]] inline int token_at(const char *p, start_kind kind, std::string_view *value)
{
    unsigned char c = static_cast<unsigned char>(*p);
    switch (kind) {
    case start_word:
        lex_token_line = config_line;
        return bare_word(p, value);
    case start_keyword:
        lex_token_line = config_line;
        if (int token = match_keyword(p))
            return token;
        return bare_word(p, value);
    case start_quote:
        lex_token_line = config_line;
        return quoted(p, value);
    case start_byte:
        if (lex_mode == lex_after_name && c == ':')
            lex_mode = lex_in_items;
        lex_position = p + 1;
        last_symbol = byte_texts[c].data();
        return byte_tokens[c];
    default:   // start_end: what is passed over never begins a token
        break;
    }
    lex_position = p;
    return 0;
}

// Where the tokens read stand in an entry's head ("client" or "class", its
// name, and its include list): a "{" after the name or a class of the list
// is the parser's next token, and opens the entry's block.
enum head_state : unsigned char { head_none, head_keyword, head_name, head_colon, head_include };
head_state head;

head_state head_after(int token)
{
    switch (token) {
    case CLIENT:
    case CLASS:
        return head_keyword;
    case STRING:
        return head == head_keyword ? head_name : head == head_colon ? head_include : head_none;
    case COLON:
        return head == head_name ? head_colon : head_none;
    case COMMA:
        return head == head_include ? head_colon : head_none;
    default:
        return head_none;
    }
}

// What read_block must put back when a block is not one token after all.
struct lex_state {
    const char *position;
    const char *token_start;
    const char *symbol;
    std::string_view assign_value;
    int64_t line;
    int64_t token_line;
    int token;
    bool block;
};

lex_state lex_save()
{
    return lex_state{lex_position, lex_token_start, last_symbol, lex_assign_value, config_line, lex_token_line,
                     last_token, in_block};
}

void lex_restore(const lex_state &s)
{
    lex_position = s.position;
    lex_token_start = s.token_start;
    last_symbol = s.symbol;
    lex_assign_value = s.assign_value;
    config_line = s.line;
    lex_token_line = s.token_line;
    last_token = s.token;
    in_block = s.block;
    head = head_none;
}

// The next token: next_token's work, inline where the parser and
// read_block call it. A "{" that opens an entry's block, at_block, has the
// block read ahead (read_block): not while one is.
int read_block();

[[gnu::always_inline]] inline int lex_token(std::string_view *value, bool at_block)
{
    bool newline = false;
    start_kind kind;
    const char *p = skip(lex_position, mode_starts[lex_mode], &newline, &kind);
    lex_token_start = p;
    if (newline) {
        lex_position = p;
        head = head_none;
        return last_token = NEWLINE;
    }
    bool assignment = assignment_may_begin();
    int token = token_at(p, kind, value);
    if (token == STRING && assignment) {
        token = assignment_or(token);
    } else if (token == LBRACE) {
        in_block = true;
        if (at_block && (head == head_name || head == head_include)) {
            head = head_none;
            last_token = LBRACE;
            return last_token = read_block();
        }
    } else if (token == RBRACE) {
        in_block = false;
    }
    head = head_after(token);
    return last_token = token;
}

// The line after the block, while its assignments are taken.
int64_t line_after_block;

// The block read from start is one token. Until the parser takes it, the
// line counter stays where the "{" left it: actions that the parser runs
// before (a class included) name that line, as they would have.
int block_read(const lex_state &start)
{
    reading_ahead = false;
    line_after_block = config_line;
    config_line = start.line;
    return BLOCK;
}

// An entry's block read ahead, from its "{" (just read) on, token by token
// as the parser would read them: when they are assignments in any of the
// grammar's forms and the block's "}", at most lex_block_most of them, they
// are kept in lex_block and the block is one token, BLOCK, read to its
// "}". Anything else puts the lexer back after the "{", and the parser
// reads the block itself and meets what it meets in its turn. Each
// assignment keeps the line at which the parser would take it: after its
// last token.
int read_block()
{
    lex_state start = lex_save();
    reading_ahead = true;
    lex_block_count = 0;
    enum { want_assignment, want_end, want_override_name, want_equals, want_value } want = want_assignment;
    lex_assign_kind kind = lex_plain;
    std::string_view name;
    for (;;) {
        std::string_view value;
        int token = lex_token(&value, false);
        bool taken = false;
        switch (want) {
        case want_assignment:
            if (token == RBRACE)
                return block_read(start);
            if (token == OVERRIDE) {
                kind = lex_override;
                want = want_override_name;
                continue;
            }
            kind = lex_plain;
            [[fallthrough]];
        case want_override_name:
            if (token == ASSIGN || (token == ASSIGN_END && kind == lex_plain)) {
                name = value;
                value = lex_assign_value;
                taken = true;
            } else if (token == STRING) {
                name = value;
                want = want_equals;
                continue;
            }
            break;
        case want_equals:
            if (token == EQUALS || (token == PLUSEQ && kind == lex_plain)) {
                kind = token == PLUSEQ ? lex_append : kind;
                want = want_value;
                continue;
            }
            break;
        case want_value:
            taken = token == STRING;
            break;
        case want_end:
            if (token == SEMICOLON) {
                want = want_assignment;
                continue;
            }
            if (token == RBRACE)
                return block_read(start);
            break;
        }
        if (!taken || lex_block_count == lex_block_most)
            break;
        lex_block[lex_block_count++] = lex_block_assignment{kind, name, value, config_line};
        want = token == ASSIGN_END ? want_assignment : want_end;
    }
    reading_ahead = false;
    lex_restore(start);
    return LBRACE;
}

} // namespace

std::string_view lex_assign_value;
// Zero from the start, in pages that only the blocks read touch: not set
// up by code at start-up, which would touch them all.
constinit lex_block_assignment lex_block[lex_block_most]{};
size_t lex_block_count;

void lex_block_take(size_t i)
{
    config_line = lex_block[i].line;
}

void lex_block_taken()
{
    config_line = line_after_block;
}

void lex_start(const char *text)
{
    lex_position = text;
    lex_token_start = text;
    lex_end = text + strlen(text);
    lex_mode = lex_normal;
    config_line = 1;
    last_symbol = nullptr;
    in_block = false;
    last_token = 0;
    head = head_none;
}

int next_token(std::string_view *value)
{
    return lex_token(value, true);
}
