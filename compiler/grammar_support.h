// What the generated parser needs from the rest of the compiler: the lexer
// under the parser's name for it, and the error report.
#pragma once

#include <cstddef>

int yylex();
void yyerror(const char *message);

// The parser's allocator for its grown stacks: malloc, or the report
// "out of memory" at the current line when no memory is left.
void *parse_stack_alloc(size_t size);

// Parses the input text given to lex_start; returns once it was accepted.
// Every error ends the process.
void parse_config();
