/* The configuration grammar. Its actions fill the host and class tables.
 *
 * Action timing matters: the name action of a one-line entry switches the
 * lexer to mode 1 before the colon is read (a default reduction, made
 * without lookahead), and every assignment runs right after its last token.
 * Most assignments come as one token, ASSIGN or, with their ";", ASSIGN_END
 * (lexer.h), whose value the lexer holds until the next such token, which
 * cannot come before the assignment is taken. Most blocks of entries come
 * as one token, BLOCK, whose assignments the lexer holds for the entry's
 * last action, which takes them as the rules would have, each at its line.
 * The value of every symbol is a view of a token's text, which copies as
 * plain bytes, so the parser's stacks can be relocated when they grow (from
 * 200 entries, doubling, up to 10000).
 */
%{
/* The stacks grow through parse_stack_alloc, which reports a failed
 * allocation as running out of memory, not as a full stack. */
#define YYMALLOC parse_stack_alloc
#define YYFREE free
#include <cstdlib>
#include "compiler/grammar_support.h"
#include "compiler/host_data.h"
#include "compiler/lexer.h"
#include "compiler/tables.h"
#include "compiler/text_release.h"

/* The line of the keyword that opened the entry being read. */
static int64_t entry_line;

/* The assignments of a block read as one token (lexer.h), taken in order,
 * each at its line, by set: host_set or class_set. */
static void take_block(void (*set)(assign_kind, std::string_view, std::string_view))
{
    static constexpr assign_kind kinds[] = {assign_plain, assign_append, assign_override};
    static_assert(lex_plain == 0 && lex_append == 1 && lex_override == 2);
    for (size_t i = 0; i < lex_block_count; i++) {
        lex_block_take(i);
        set(kinds[lex_block[i].kind], lex_block[i].name, lex_block[i].value);
    }
    lex_block_taken();
}

/* A host's entry is complete: its data is made (host_data.h) and kept in
 * the text before it, or that text is given back (text_release.h). */
static void host_done()
{
    host_data_make(host_table, lex_token_start);
    text_release_before(lex_token_start);
}
%}

%code requires {
#include <string_view>
}

%define api.value.type {std::string_view}

/* The lexer returns the parser's own numbers of the symbols, which need no
 * translation; the one-byte tokens are named, and spelt as themselves in
 * the rules. */
%define api.token.raw

%token END 0
%token STRING CLASS CLIENT OVERRIDE PLUSEQ NEWLINE ASSIGN ASSIGN_END BLOCK
%token LPAREN "(" RPAREN ")" LBRACE "{" RBRACE "}" COMMA "," COLON ":" SEMICOLON ";" EQUALS "="

%start config

%%

/* Left-recursive, so that a finished entry leaves nothing on the stack: a
 * configuration may hold any number of them. The lists inside one entry
 * keep the stack's limit: the stack holds eight entries when an entry's
 * body or include list begins (tests count on the limit it leaves). */
config
    : %empty
    | config class_def
    | config host_block
    | config ";"
    | config host_line
    ;

host_line
    : STRING { host_new($1, lex_token_line); lex_mode = lex_after_name; } ":" inline_items NEWLINE
      { host_done(); }
    ;

inline_items
    : inline_item
    | inline_items inline_item
    ;

inline_item
    : STRING "(" STRING ")" { host_set(assign_override, $1, $3); }
    | STRING "(" ")"        { host_set(assign_override, $1, ""); }
    ;

/* An entry's line is that of its first token, the keyword. The forms
 * share the actions before the body (a rule of their own each, empty), so
 * that the end of an entry is one reduction. */
host_block
    : CLIENT entry_start STRING host_start host_includes "{" host_assigns "}" { host_done(); }
    | CLIENT entry_start STRING host_start host_includes "{" "}"              { host_done(); }
    | CLIENT entry_start STRING host_start host_includes ";"                  { host_done(); }
    | CLIENT entry_start STRING host_start host_includes BLOCK                { take_block(host_set); host_done(); }
    ;

entry_start
    : %empty { entry_line = lex_token_line; }
    ;

/* $0: the entry's name, right before. */
host_start
    : %empty { host_new($0, entry_line); }
    ;

/* The first name of the list is spelt out: a single include is one
 * reduction, and the stack holds what it held with the list alone. */
host_includes
    : %empty
    | ":" STRING { host_include($2); }
    | ":" STRING { host_include($2); } "," host_include_list
    ;

host_include_list
    : STRING { host_include($1); }
    | STRING { host_include($1); } "," host_include_list
    ;

/* Right-recursive: every assignment of the entry holds two stack entries
 * until the entry ends. A last ";" ends the list without an empty rule.
 * An assignment read with its ";" as one token holds its second entry in
 * an empty rule, which takes it. */
host_assigns
    : host_assign
    | host_assign ";"
    | host_assign ";" host_assigns
    | ASSIGN_END host_assigned
    | ASSIGN_END host_assigned host_assigns
    ;

/* $0: the ASSIGN_END right before. */
host_assigned
    : %empty { host_set(assign_plain, $0, lex_assign_value); }
    ;

host_assign
    : ASSIGN                        { host_set(assign_plain, $1, lex_assign_value); }
    | STRING "=" STRING             { host_set(assign_plain, $1, $3); }
    | STRING PLUSEQ STRING          { host_set(assign_append, $1, $3); }
    | OVERRIDE ASSIGN               { host_set(assign_override, $2, lex_assign_value); }
    | OVERRIDE STRING "=" STRING    { host_set(assign_override, $2, $4); }
    ;

class_def
    : CLASS entry_start STRING class_start class_includes "{" class_assigns "}"
    | CLASS entry_start STRING class_start class_includes "{" "}"
    | CLASS entry_start STRING class_start class_includes ";"
    | CLASS entry_start STRING class_start class_includes BLOCK { take_block(class_set); }
    ;

/* $0: the class's name, right before. */
class_start
    : %empty { class_new($0, entry_line); }
    ;

class_includes
    : %empty
    | ":" STRING { class_include($2); }
    | ":" STRING { class_include($2); } "," class_include_list
    ;

class_include_list
    : STRING { class_include($1); }
    | STRING { class_include($1); } "," class_include_list
    ;

class_assigns
    : class_assign
    | class_assign ";"
    | class_assign ";" class_assigns
    | ASSIGN_END class_assigned
    | ASSIGN_END class_assigned class_assigns
    ;

/* $0: the ASSIGN_END right before. */
class_assigned
    : %empty { class_set(assign_plain, $0, lex_assign_value); }
    ;

class_assign
    : ASSIGN                        { class_set(assign_plain, $1, lex_assign_value); }
    | STRING "=" STRING             { class_set(assign_plain, $1, $3); }
    | STRING PLUSEQ STRING          { class_set(assign_append, $1, $3); }
    | OVERRIDE ASSIGN               { class_set(assign_override, $2, lex_assign_value); }
    | OVERRIDE STRING "=" STRING    { class_set(assign_override, $2, $4); }
    ;

%%

void parse_config()
{
    yyparse();
}
