// The configuration lexer: cuts the input text into tokens for the grammar,
// keeps the line counter, skips white space and comments.
//
// Modes: the grammar switches to lex_after_name right after the name of a
// one-line client entry; the lexer moves on to lex_in_items at that entry's
// colon and back to lex_normal at the end of the line, which is a token
// (NEWLINE) in the one-line modes. There only parentheses end a word
// besides white space, so the values of one-line items may hold braces,
// commas and the like unquoted.
//
// The lexer owns the configuration line counter (config_line, report.h):
// lex_start sets it to 1 and next_token advances it; everyone else reads it.
#pragma once

#include <cstdint>
#include <string_view>

enum lex_mode_kind {
    lex_normal,
    lex_after_name,   // of a one-line entry, before its colon
    lex_in_items,     // of a one-line entry, after its colon
};

extern lex_mode_kind lex_mode;

// The text that a parse error names as the last symbol read, or null.
extern const char *last_symbol;

// The next byte to look at; the input ends at the first NUL byte.
extern const char *lex_position;

// The line on which the last word, quoted value or keyword read began (a
// quoted value may end on a later one).
extern int64_t lex_token_line;

// Where the last token read begins: the text before it is no longer looked
// at by the lexer, and none of it is in the token's value.
extern const char *lex_token_start;

// Starts lexing text (NUL-terminated) in the normal mode with no last
// symbol, on line 1.
void lex_start(const char *text);

// The value of the last ASSIGN or ASSIGN_END token: an assignment's name,
// "=" and quoted value read as one token (its name is the token's text),
// ASSIGN_END with the ";" after them. The parser takes it before the next
// such token can be read.
extern std::string_view lex_assign_value;

// An entry's block "{" ... "}" whose contents are assignments in the forms
// of the grammar, at most lex_block_most of them, is read as one token,
// BLOCK, when the parser is certain to take it (right after the entry's
// name or include list). Until then the line counter stays at the "{":
// the parser then takes its assignments from here, as lex_block_take sets
// the line counter to each one's line in turn, and lex_block_taken to the
// line after the block.
enum lex_assign_kind : unsigned char { lex_plain, lex_append, lex_override };

struct lex_block_assignment {
    lex_assign_kind kind;
    std::string_view name;
    std::string_view value;
    int64_t line;   // the line counter when the parser would take it
};

// A longer block is read by the parser, whose stack holds eight entries
// when a block begins and two for each assignment, 10000 in all: a block
// this long cannot fill it. What was read of a longer block is read again.
// The array's pages are touched only as far as blocks reach.
constexpr size_t lex_block_most = 4096;
extern lex_block_assignment lex_block[lex_block_most];
extern size_t lex_block_count;

void lex_block_take(size_t i);
void lex_block_taken();

// Returns the next token kind (the parser's own numbers of its symbols,
// grammar.hh; 0 at the end of input) and, for STRING, ASSIGN and ASSIGN_END,
// stores its text in *value: a view into the input text, which must stay
// unchanged as long as the view is used.
int next_token(std::string_view *value);
