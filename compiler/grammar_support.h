// What the generated parser needs from the rest of the compiler: the lexer
// under the parser's name for it, and the error report.
#pragma once

int yylex();
void yyerror(const char *message);

// Parses the input text given to lex_start; returns once it was accepted.
// Every error ends the process.
void parse_config();
