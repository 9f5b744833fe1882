// The configuration lexer: cuts the input text into tokens for the grammar,
// keeps the line counter, skips white space and comments.
//
// Modes: 0 is the normal mode. The grammar sets 1 right after the name of a
// one-line client entry; the lexer moves to 2 on that entry's colon and back
// to 0 at the end of the line, which is a token (NEWLINE) in modes 1 and 2.
// In modes 1 and 2 only parentheses end a word besides white space, so the
// values of one-line items may hold braces, commas and the like unquoted.
#pragma once

#include <cstdint>
#include <string_view>

extern int lex_mode;

// The text that a parse error names as the last symbol read, or null.
extern const char *last_symbol;

// The next byte to look at; the input ends at the first NUL byte.
extern const char *lex_position;

// The line on which the last token read began (a quoted string may end on
// a later one).
extern int64_t lex_token_line;

// Starts lexing text (NUL-terminated) in mode 0 with no last symbol.
void lex_start(const char *text);

// Returns the next token kind (the grammar's token numbers; 0 at the end of
// input) and, for STRING, stores its text in *value: a view into the input
// text, which must stay unchanged as long as the view is used.
int next_token(std::string_view *value);
