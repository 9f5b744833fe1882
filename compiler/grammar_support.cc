// What the generated parser needs from the rest of the compiler: its lexer
// (yylex), its error report with an excerpt of the input after the token at
// which parsing failed (yyerror), and the allocator of its stacks.
#include "compiler/grammar.hh"
#include "compiler/grammar_support.h"
#include "compiler/lexer.h"
#include "compiler/report.h"
#include "lib/zostr.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t excerpt_length = 32;

// "error before end of file", or "before `" + up to 32 bytes of the input
// + "'" and the last symbol read. The excerpt may span lines, and a file
// with CR LF line ends brings carriage returns: the report shows every
// control byte as a space.
char *error_detail()
{
    zostr detail;
    detail.data = nullptr;
    if (*lex_position == 0) {
        zostr_xadd_cstr(&detail, "error before end of file");
    } else {
        zostr_xadd_cstr(&detail, "before `");
        zostr_xadd_mem(&detail, lex_position, strnlen(lex_position, excerpt_length));
        zostr_xadd_char(&detail, '\'');
        if (last_symbol) {
            zostr_xadd_cstr(&detail, ", last symbol was ");
            zostr_xadd_cstr(&detail, last_symbol);
        }
    }
    zostr_xadd_char(&detail, 0);
    return detail.data;
}

} // namespace

int yylex()
{
    return next_token(&yylval);
}

// The parser reports "syntax error" and "memory exhausted" (its stack is
// full); the configuration's users know them under their older names.
void yyerror(const char *message)
{
    const char *reported = strcmp(message, "memory exhausted") == 0 ? "parser stack overflow"
                                                                     : "parse error";
    die_at_line(0, reported, error_detail());
}

void *parse_stack_alloc(size_t size)
{
    void *block = malloc(size);
    if (!block)
        die_at_line(0, "out of memory", nullptr);
    return block;
}
