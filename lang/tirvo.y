/* The fingerprint grammar: the syntax of a fingerprint and the actions that
 * build its parse tree.
 *
 * The parser is a re-entrant LALR(1) parser with locations; it receives the
 * compile context as its parameter and takes its tokens from the scanner
 * (tirvo.l) whose handle the context holds. The token list below fixes the
 * token numbers from 258 on, in the order given, and the scanner returns them
 * by these numbers; single-character tokens are the characters themselves.
 * Syntax errors are reported with the verbose texts ("syntax error, unexpected
 * X, expecting Y or Z"); the parser's stack starts with room for 200 entries
 * and doubles up to 10000 ("memory exhausted" beyond). With the trace on
 * (tirvo_debug) the parser reports every step on the standard error stream.
 *
 * The rules are numbered in the order written, a mid-rule action taking the
 * number before its rule; the trace shows these numbers, so the order of the
 * rules is part of the interface. The actions build the records of
 * tirvo_parse_tree.h and tirvo_varexp.h from the compile pool, register
 * variables and situations, and check what the syntax cannot: a failed check
 * prints its message and ends the parse at once. Values of nonterminals that
 * make no record (situation markers, simple modifiers) are null.
 *
 * Every semantic value fits in 8 bytes: characters, the unsigned numbers of
 * the number tokens, pairs of 32-bit words (bounds, modifier on/off flags),
 * flag words, operator codes, pointers to the parse-tree records and to the
 * identifier copies in the compile pool.
 *
 * The generated parser is post-processed by tirvo_parser_fixup.cmake: the
 * trace announces each scanner call as "Reading a token: " on the line of
 * the token it reads, and the end of the input is named "$end".
 */

%code requires {
#include "lang/tirvo_location.h"

#include <cstdint>

struct tirvo_compile_ctx;
struct tirvo_branch;
struct tirvo_branch_elem;
struct tirvo_charset;
struct tirvo_condition;
struct tirvo_regex;
struct tirvo_regex_entry;
struct tirvo_variable;
struct tirvo_varexp;
struct tirvo_varexp_entry;

/* The repetition bounds of a piece; 0xffffffff as max means unbounded. */
struct tirvo_multiplicity {
    uint32_t min; /* least number of repetitions */
    uint32_t max; /* most number of repetitions */
};

/* The flags a modifier list turns on and off ("(?on-off)"). */
struct tirvo_modifier_content {
    uint32_t on;  /* modifier bits to set */
    uint32_t off; /* modifier bits to clear */
};

/* Locations are plain data: the parser may move its stack with memcpy and
   so grow it. */
#define TIRVO_LTYPE_IS_TRIVIAL 1
}

%code {
#include "automata/tirvo_charset.h"
#include "byc/tirvo_variable.h"
#include "compiler/tirvo_compile_ctx.h"
#include "lang/tirvo_modifier.h"
#include "lang/tirvo_parse.h"
#include "lang/tirvo_parse_tree.h"
#include "lang/tirvo_scanner.h"
#include "lang/tirvo_varexp.h"

#include <algorithm>
#include <cinttypes>

/* The parser hands the compile context to the scanner call; the scanner
   instance itself is kept in the context. */
#undef yylex
#define yylex(value, location, context) tirvo_lex(value, location, (context)->scanner)
#undef yyerror
#define yyerror tirvo_parse_error

/* The trace names symbols only: no value, no location. */
#define YYLOCATION_PRINT(File, Loc) ((void)0)

/* A construct spans its symbols from the first one's start to the last one's
   end; an empty construct is the empty range at the scanner's current
   position. */
#define YYLLOC_DEFAULT(Cur, Rhs, N)                                            \
    do {                                                                       \
        if (N) {                                                               \
            (Cur).first_line = YYRHSLOC(Rhs, 1).first_line;                    \
            (Cur).first_column = YYRHSLOC(Rhs, 1).first_column;                \
            (Cur).first_offset = YYRHSLOC(Rhs, 1).first_offset;                \
            (Cur).last_line = YYRHSLOC(Rhs, N).last_line;                      \
            (Cur).last_column = YYRHSLOC(Rhs, N).last_column;                  \
            (Cur).last_offset = YYRHSLOC(Rhs, N).last_offset;                  \
        } else {                                                               \
            (Cur).first_line = (Cur).last_line = ctx->scan_position.line;      \
            (Cur).first_column = (Cur).last_column = ctx->scan_position.column; \
            (Cur).first_offset = (Cur).last_offset = ctx->scan_position.offset; \
        }                                                                      \
    } while (0)

/* Ends the parse after a check that printed its own message failed. */
#define CHECK(ok)                                                              \
    do {                                                                       \
        if (!(ok))                                                             \
            YYABORT;                                                           \
    } while (0)

/* Ends the parse with a message (format and arguments) at `loc` when `cond`
   holds. */
#define FAIL_IF(cond, loc, ...)                                                \
    do {                                                                       \
        if (cond) {                                                            \
            tirvo_loc_message(ctx, &(loc), __VA_ARGS__);                       \
            YYABORT;                                                           \
        }                                                                      \
    } while (0)

/* Ends the parse when a record could not be allocated (the pool has set the
   compile error). */
#define NEED(ptr, loc) FAIL_IF(!(ptr), loc, "memory allocation error\n")

/* A new expression node located at the rule. */
#define NODE(oper, n, a, b, c, size) \
    tirvo_varexp_new(ctx, tirvo_varexp_##oper, n, a, b, c, size, &yyloc)

namespace {

bool parse_quiet(const tirvo_compile_ctx *ctx) { return ctx->parse_flags & TIRVO_PARSE_QUIET; }

/* A predefined class set. The tree shares it and never changes it. */
tirvo_charset *predefined(tirvo_charset_predefined_index i) {
    return const_cast<tirvo_charset *>(&tirvo_charset_predefined[i]);
}

/* The regex of a sub-expression's value: its `subexp` node, or the second
   operand of the precondition's implication. Null for anything else. */
tirvo_regex *subexp_regex(const tirvo_varexp *v) {
    if (v->oper == tirvo_varexp_implies)
        v = v->arg[1];
    return v->oper == tirvo_varexp_subexp ? v->regex_entry->regex : nullptr;
}

/* A variable-expression element for a sub-expression's value `v`, appended
   to the main branch `branch` (rules 10 and 11). Returns the sub-expression's
   regex, or null after a message at `loc` or `sub_loc`. */
tirvo_regex *subexp_attach(tirvo_compile_ctx *ctx, tirvo_branch *branch, tirvo_varexp *v,
                           const tirvo_location *loc, const tirvo_location *sub_loc) {
    tirvo_branch_elem *elem = tirvo_varexp_elem_new(ctx, v, 1);
    if (ctx->flags.low_level_dfa) {
        tirvo_loc_message(ctx, sub_loc, "You can't use subexpressions with low-level DFAs\n");
        return nullptr;
    }
    if (!elem) {
        tirvo_loc_message(ctx, loc, "memory allocation error\n");
        return nullptr;
    }
    tirvo_branch_add(branch, elem);
    tirvo_regex *regex = subexp_regex(v);
    if (!regex)
        tirvo_loc_message(ctx, loc, "internal error: unexpected variable expression type\n");
    return regex;
}

/* Runs the branch end action with add-cancel on every branch of a
   sub-expression; 0, or -1 after printing the action's message at `loc`. */
int subexp_branches_end(tirvo_compile_ctx *ctx, tirvo_regex *regex, const tirvo_location *loc) {
    dl_list_for_each(pos, &regex->branches) {
        const char *msg = tirvo_branch_end(ctx, dl_list_entry(pos, tirvo_branch, list), 1);
        if (msg) {
            tirvo_loc_message(ctx, loc, "%s\n", msg);
            return -1;
        }
    }
    return 0;
}

/* Attaches `cond` to every branch of a sub-expression with add-cancel; 0, or
   -1 after "memory allocation error" at `loc`. */
int subexp_branches_condition(tirvo_compile_ctx *ctx, tirvo_regex *regex,
                              const tirvo_condition *cond, const tirvo_location *loc) {
    dl_list_for_each(pos, &regex->branches) {
        if (tirvo_condition_attach(ctx, dl_list_entry(pos, tirvo_branch, list), cond, 1) != 0) {
            tirvo_loc_message(ctx, loc, "memory allocation error\n");
            return -1;
        }
    }
    return 0;
}

/* A branch of a group or sub-expression must hold an element; 0, or -1 after
   "empty branch not allowed" at `loc`. */
int add_group_branch(tirvo_compile_ctx *ctx, tirvo_regex *regex, tirvo_branch *branch,
                     const tirvo_location *loc) {
    if (dl_list_empty(&branch->branch_elems)) {
        tirvo_loc_message(ctx, loc, "empty branch not allowed\n");
        return -1;
    }
    dl_list_append(&regex->branches, &branch->list);
    return 0;
}

/* The regex entry of a sub-expression body, "regex(...)" or
   "record_marking(...)" with `bound`. A body of several branches is wrapped
   into a single branch holding it as a group, so that the ends of its
   branches can be added after the group. Null when the pool is exhausted. */
tirvo_regex_entry *entry_for(tirvo_compile_ctx *ctx, tirvo_regex *body, uint32_t bound,
                             int wrap) {
    tirvo_regex *regex = body;
    if (wrap && dl_list_len(&body->branches) > 1) {
        regex = tirvo_regex_new(ctx, &body->location);
        tirvo_branch *branch = regex ? tirvo_branch_new(ctx, &body->location) : nullptr;
        tirvo_branch_elem *group = branch ? tirvo_piece_new_group(ctx, body) : nullptr;
        if (!group)
            return nullptr;
        group->piece.location = body->location;
        group->location = body->location;
        tirvo_branch_add(branch, group);
        dl_list_append(&regex->branches, &branch->list);
    }
    return tirvo_regex_entry_append(ctx, regex, bound);
}

/* The result size of a binary arithmetic node: the wider operand. */
int wider(const tirvo_varexp *a, const tirvo_varexp *b) {
    return std::max(a->result_size, b->result_size);
}

/* "->" and "?:" need a first operand with a value. */
bool has_value(tirvo_compile_ctx *ctx, const tirvo_varexp *a, const tirvo_location *loc) {
    if (a->result_size != 0)
        return true;
    tirvo_loc_message(ctx, loc, "void type condition\n");
    return false;
}

/* parse_be(n) and parse_le(n) read 1 to 8 whole bytes. */
bool parse_length_ok(tirvo_compile_ctx *ctx, const char *name, uint64_t n,
                     const tirvo_location *loc) {
    if (n >= 8 && n <= 64 && n % 8 == 0)
        return true;
    tirvo_loc_message(ctx, loc,
                      "Length for %s() must be 8, 16, 24, 32, 40, 48, 56, or 64 (was %" PRIu64
                      ")\n",
                      name, n);
    return false;
}

} // namespace
}

%define api.prefix {tirvo_}
%define api.pure full
%define api.location.type {tirvo_location}
%define parse.error verbose
%define parse.trace
%locations
%parse-param {tirvo_compile_ctx *ctx}
%lex-param {tirvo_compile_ctx *ctx}

/* Until the first token is read the parser's location is the start of the
   text. */
%initial-action {
    @$.first_line = @$.last_line = ctx->scan_position.line;
    @$.first_column = @$.last_column = ctx->scan_position.column;
    @$.first_offset = @$.last_offset = ctx->scan_position.offset;
}

%union {
    int chr;                                 /* TOK_CHAR, TOK_HEX_CHAR: symbol 0 to 259 */
    uint8_t uint8;                           /* TOK_UINT1, TOK_UINT8 */
    uint16_t uint16;                         /* TOK_UINT16 */
    uint32_t uint32;                         /* TOK_UINT32, bounds of entries, sizes */
    uint64_t uint64;                         /* TOK_UINT64 and numbers in general */
    char *str;                               /* TOK_IDENTIFIER: name copied into the pool */
    uint8_t cast_size;                       /* TOK_CAST: 0 (void), 8, 16, 32 or 64 */
    uint32_t flags;                          /* modifier letters: TIRVO_MOD_* bits; flags */
    tirvo_multiplicity multiplicity;         /* repetition bounds */
    tirvo_modifier_content modifier_content; /* flags set and cleared by "(?...)" */
    int op;                                  /* operator code of a condition */
    tirvo_branch_elem *branch_elem;          /* a branch element */
    tirvo_branch *branch;                    /* a branch */
    tirvo_regex *regex;                      /* a regular expression */
    tirvo_charset *charset;                  /* a character set */
    tirvo_regex_entry *regex_entry;          /* a regex entry */
    tirvo_varexp *varexp;                    /* an expression node */
    tirvo_varexp_entry *varexp_entry;        /* a variable-expression entry */
    tirvo_variable *variable;                /* a registered variable */
    tirvo_condition *condition;              /* a condition being parsed */
}

/* The token list; its order fixes the token numbers (TOK_ERROR = 258). */
%token TOK_ERROR
%token TOK_SUBEXP_START TOK_VAREXP_START TOK_CONDITION_START TOK_DEPRECATED_CONDITION_START
%token TOK_MODIFIER_START
%token TOK_CCLASS_ALNUM TOK_CCLASS_ALPHA TOK_CCLASS_BLANK TOK_CCLASS_CNTRL TOK_CCLASS_DIGIT
%token TOK_CCLASS_GRAPH TOK_CCLASS_LOWER TOK_CCLASS_PRINT TOK_CCLASS_PUNCT TOK_CCLASS_SPACE
%token TOK_CCLASS_UPPER TOK_CCLASS_XDIGIT TOK_CCLASS_ASCII TOK_CCLASS_WORD
%token TOK_WORD_CHAR TOK_NON_WORD_CHAR TOK_WS_CHAR TOK_NON_WS_CHAR TOK_DIGIT_CHAR
%token TOK_NON_DIGIT_CHAR
%token TOK_SID_START TOK_OLD_SID_START
%token TOK_CCLASS_BEGIN TOK_CCLASS_END
%token TOK_BITMASK
%token TOK_DEPRECATED_CASE_INSENSITIVE TOK_DEPRECATED_CASE_INSENSITIVE_END
%token TOK_VOID TOK_IMPLIES
%token TOK_OFFSET TOK_MAJOR TOK_MINOR TOK_PATCH TOK_BUILD TOK_FPVER TOK_DPORT
%token TOK_CANCEL TOK_CANCEL_FP_CTX TOK_SID TOK_CRC TOK_SKIP
%token TOK_PARSE_BE TOK_PARSE_LE TOK_PARSE_DEC TOK_PARSE_HEX TOK_PARSE_OCT TOK_PARSE_INT
%token TOK_REGEX TOK_RECORD_MARKING
%token <str> TOK_IDENTIFIER
%token TOK_SHLEFT TOK_SHRIGHT TOK_LEQ TOK_GEQ TOK_EQ TOK_NEQ TOK_LOG_AND TOK_LOG_OR
%token TOK_A_MULTIPLY TOK_A_DIVIDE TOK_A_REM TOK_A_PLUS TOK_A_MINUS TOK_A_SHLEFT
%token TOK_A_SHRIGHT TOK_A_BIT_AND TOK_A_BIT_OR TOK_A_BIT_XOR
%token TOK_PLUSPLUS TOK_MINUSMINUS
%token TOK_IGNORE
%token <chr> TOK_CHAR TOK_HEX_CHAR
%token <uint8> TOK_UINT1 TOK_UINT8
%token <uint16> TOK_UINT16
%token <uint32> TOK_UINT32
%token <uint64> TOK_UINT64
%token <cast_size> TOK_CAST
/* Names that only carry a precedence (prefix and postfix operators). */
%token PRE_DEC PRE_INC UNARY_PLUS UNARY_MINUS POST_DEC POST_INC

/* Operator precedence of the expression language, loosest first. */
%left TOK_IMPLIES
%left ','
%left '?' ':'
%right '=' TOK_A_MULTIPLY TOK_A_DIVIDE TOK_A_REM TOK_A_PLUS TOK_A_MINUS TOK_A_SHLEFT
       TOK_A_SHRIGHT TOK_A_BIT_AND TOK_A_BIT_OR TOK_A_BIT_XOR
%left TOK_LOG_OR
%left TOK_LOG_AND
%left '|'
%left '^'
%left '&'
%left TOK_EQ TOK_NEQ
%left '<' '>' TOK_LEQ TOK_GEQ
%left TOK_SHLEFT TOK_SHRIGHT
%left '+' '-'
%left '*' '/' '%'
%right PRE_DEC PRE_INC UNARY_PLUS UNARY_MINUS '!' '~' TOK_CAST
%left POST_DEC POST_INC

%type <regex> main_regex main_regex_ne regex branches
%type <branch> main_regex_branch branch
%type <branch_elem> branch_elem modifier piece atom
%type <modifier_content> modifier_content
%type <flags> modifiers modifier_elem opt_caret var_scope
%type <multiplicity> multiplicity
%type <chr> any_char
%type <charset> bracket_exp predefined_bracket bracket_elems bracket_range character_class
%type <charset> cclass_name
%type <variable> variable
%type <uint32> var_length subexp_bound
%type <varexp> v_exp_var v_exp v_exp_any subexp precond cond_condition cond_condition_elem
%type <uint64> any_uint
%type <condition> any_condition condition deprecated_condition cond_exp cond_setting
%type <condition> cond_setting_elem
%type <op> cond_condition_oper cond_offset_oper cond_setting_oper

%%

input:
    main_regex {
        FAIL_IF(tirvo_regex_entries_finish(ctx, $1) != 0, @$, "memory allocation error\n");
    }
  | error {
        FAIL_IF(!ctx->flags.error_reported, @$, "syntax error\n");
        YYABORT;
    }
  ;

main_regex:
    %empty {
        NEED($$ = tirvo_regex_new(ctx, &@$), @$);
    }
  | main_regex_ne {
        $$ = $1;
        $$->location = @$;
    }
  ;

main_regex_ne:
    main_regex_branch {
        NEED($$ = tirvo_regex_new(ctx, &@$), @$);
        /* A first branch of nothing but situation markers and modifiers is
           left out. */
        if (!dl_list_empty(&$1->branch_elems))
            dl_list_append(&$$->branches, &$1->list);
    }
  | main_regex_ne '|' main_regex_branch {
        $$ = $1;
        $$->location = @$;
        dl_list_append(&$$->branches, &$3->list);
        FAIL_IF(dl_list_empty(&$3->branch_elems), @$, "empty branch not allowed\n");
    }
  ;

main_regex_branch:
    branch {
        $$ = $1;
        const char *msg = tirvo_branch_end(ctx, $1, 0);
        FAIL_IF(msg, @$, "%s\n", msg);
    }
  | branch any_condition {
        $$ = $1;
        FAIL_IF(ctx->flags.low_level_dfa, @$, "You can't use conditions with low-level DFAs\n");
        FAIL_IF(tirvo_condition_attach(ctx, $1, $2, 0) != 0, @$, "memory allocation error\n");
    }
  | branch subexp {
        $$ = $1;
        tirvo_regex *sub = subexp_attach(ctx, $1, $2, &@$, &@2);
        CHECK(sub && subexp_branches_end(ctx, sub, &@$) == 0);
    }
  | branch subexp any_condition {
        $$ = $1;
        tirvo_regex *sub = subexp_attach(ctx, $1, $2, &@$, &@2);
        CHECK(sub && subexp_branches_condition(ctx, sub, $3, &@$) == 0);
    }
  ;

regex:
    branches {
        $$ = $1;
        $$->location = @$;
    }
  ;

branches:
    branch {
        NEED($$ = tirvo_regex_new(ctx, &@$), @$);
        CHECK(add_group_branch(ctx, $$, $1, &@$) == 0);
    }
  | branches '|' branch {
        $$ = $1;
        $$->location = @$;
        CHECK(add_group_branch(ctx, $$, $3, &@$) == 0);
    }
  ;

branch:
    branch_elem {
        NEED($$ = tirvo_branch_new(ctx, &@$), @$);
        tirvo_branch_add($$, $1);
    }
  | branch branch_elem {
        $$ = $1;
        $$->location = @$;
        tirvo_branch_add($$, $2);
    }
  ;

branch_elem:
    piece {
        $$ = $1;
        if ($$) {
            $$->piece.location = @$;
            $$->location = @$;
        }
    }
  | TOK_VAREXP_START subexp_bound v_exp_any ']' ')' {
        $$ = tirvo_varexp_elem_new(ctx, $3, $2);
        FAIL_IF(ctx->flags.low_level_dfa, @$,
                "You can't use variable expressions when compiling a low-level DFA\n");
        FAIL_IF(ctx->in_subexp, @$, "you can't use (?[...]) within (?>...)\n");
        FAIL_IF(!$$, @$, "out of memory\n");
        $3->location = @$;
        $$->location = @$;
    }
  | situation {
        $$ = nullptr;
    }
  ;

modifier:
    simple_modifier {
        $$ = nullptr;
    }
  | TOK_MODIFIER_START modifier_content ':' {
        CHECK(tirvo_group_open(ctx, $2.on, $2.off, &@3) == 0);
    } regex ')' multiplicity {
        NEED($$ = tirvo_piece_new_group(ctx, $5), @$);
        /* The bounds of a modifier group get the checks of any other
           piece: the later stages rely on 1 <= max and min <= max. */
        CHECK(tirvo_piece_set_bounds(ctx, $$, $7.min, $7.max, &@$) == 0);
        CHECK(tirvo_group_close(ctx, &@$) == 0);
    }
  ;

simple_modifier:
    TOK_MODIFIER_START modifier_content ')' {
        ctx->modifiers->flags = (ctx->modifiers->flags | $2.on) & ~$2.off;
    }
  | deprecated_case_insensitive
  | deprecated_case_insensitive_end
  ;

modifier_content:
    modifiers {
        $$.on = $1;
        $$.off = 0;
    }
  | modifiers '-' modifiers {
        $$.on = $1;
        $$.off = $3;
    }
  ;

modifiers:
    %empty { $$ = 0; }
  | modifiers modifier_elem { $$ = $1 | $2; }
  ;

modifier_elem:
    'i' { $$ = TIRVO_MOD_CASE_INSENSITIVE; }
  | 's' { $$ = TIRVO_MOD_DOT_ALL; }
  | 'x' { $$ = TIRVO_MOD_EXTENDED; }
  | 'L' { $$ = TIRVO_MOD_SKIP_LINE_ENDS; }
  | 'S' { $$ = TIRVO_MOD_SKIP_BLANKS; }
  | 'C' { $$ = TIRVO_MOD_COMMENTS; }
  | 'X' { $$ = TIRVO_MOD_EXTRA_ERRORS; }
  ;

situation:
    TOK_SID_START any_uint '}' ')' {
        CHECK(tirvo_situation_mark(ctx, $2, 1, &@$) == 0);
    }
  | TOK_OLD_SID_START '{' any_uint '}' {
        CHECK(tirvo_situation_mark(ctx, $3, 0, &@$) == 0);
    }
  ;

piece:
    atom multiplicity {
        $$ = $1;
        CHECK(tirvo_piece_set_bounds(ctx, $$, $2.min, $2.max, &@$) == 0);
    }
  | modifier {
        $$ = $1;
    }
  ;

deprecated_case_insensitive:
    TOK_DEPRECATED_CASE_INSENSITIVE {
        if (!parse_quiet(ctx))
            tirvo_loc_message(ctx, &@$, "warning: using deprecated syntax \\C\n");
        ctx->parse_flags |= TIRVO_PARSE_GLOBAL_CASE_INSENSITIVE;
    }
  ;

deprecated_case_insensitive_end:
    TOK_DEPRECATED_CASE_INSENSITIVE_END {
        ctx->parse_flags &= static_cast<uint8_t>(~TIRVO_PARSE_GLOBAL_CASE_INSENSITIVE);
    }
  ;

multiplicity:
    %empty { $$ = {1, 1}; }
  | '?' { $$ = {0, 1}; }
  | '*' { $$ = {0, TIRVO_PIECE_INF}; }
  | '+' { $$ = {1, TIRVO_PIECE_INF}; }
  | '{' any_uint '}' {
        CHECK(tirvo_check_bound(ctx, $2, &@$) == 0);
        $$ = {static_cast<uint32_t>($2), static_cast<uint32_t>($2)};
    }
  | '{' any_uint ',' '}' {
        CHECK(tirvo_check_bound(ctx, $2, &@$) == 0);
        $$ = {static_cast<uint32_t>($2), TIRVO_PIECE_INF};
    }
  | '{' ',' any_uint '}' {
        CHECK(tirvo_check_bound(ctx, $3, &@$) == 0);
        $$ = {0, static_cast<uint32_t>($3)};
    }
  | '{' any_uint ',' any_uint '}' {
        CHECK(tirvo_check_bound(ctx, $2, &@$) == 0 && tirvo_check_bound(ctx, $4, &@$) == 0);
        $$ = {static_cast<uint32_t>($2), static_cast<uint32_t>($4)};
    }
  ;

atom:
    '(' {
        CHECK(tirvo_group_open(ctx, 0, 0, &@1) == 0);
    } regex ')' {
        NEED($$ = tirvo_piece_new_group(ctx, $3), @$);
        CHECK(tirvo_group_close(ctx, &@$) == 0);
    }
  | TOK_CHAR {
        CHECK(tirvo_check_symbol(ctx, $1, &@1) == 0);
        tirvo_charset *set = tirvo_charset_new_char(ctx, $1, 1);
        NEED(set && ($$ = tirvo_piece_new_chars(ctx, set)), @$);
    }
  | TOK_HEX_CHAR {
        tirvo_charset *set = tirvo_charset_new_char(ctx, $1, 0);
        NEED(set && ($$ = tirvo_piece_new_chars(ctx, set)), @$);
    }
  | any_char TOK_BITMASK any_char {
        tirvo_charset *set = tirvo_charset_new_bitmask(ctx, $1, $3, &@$);
        CHECK(set);
        NEED($$ = tirvo_piece_new_chars(ctx, set), @$);
    }
  | '.' {
        tirvo_charset *set = tirvo_charset_new_dot(ctx);
        NEED(set && ($$ = tirvo_piece_new_chars(ctx, set)), @$);
    }
  | bracket_exp {
        NEED($$ = tirvo_piece_new_chars(ctx, $1), @$);
    }
  ;

any_char:
    TOK_CHAR {
        CHECK(tirvo_check_symbol(ctx, $1, &@1) == 0);
        $$ = $1;
    }
  | TOK_HEX_CHAR { $$ = $1; }
  ;

bracket_exp:
    '[' opt_caret bracket_elems ']' {
        $$ = $3;
        if ($2)
            NEED($$ = tirvo_charset_new_negated(ctx, $3, 1, &@$), @$);
    }
  | predefined_bracket { $$ = $1; }
  ;

predefined_bracket:
    TOK_WORD_CHAR { $$ = predefined(tirvo_charset_predefined_word); }
  | TOK_NON_WORD_CHAR { $$ = predefined(tirvo_charset_predefined_non_word); }
  | TOK_WS_CHAR { $$ = predefined(tirvo_charset_predefined_space); }
  | TOK_NON_WS_CHAR { $$ = predefined(tirvo_charset_predefined_non_space); }
  | TOK_DIGIT_CHAR { $$ = predefined(tirvo_charset_predefined_digit); }
  | TOK_NON_DIGIT_CHAR { $$ = predefined(tirvo_charset_predefined_non_digit); }
  ;

opt_caret:
    %empty { $$ = 0; }
  | '^' { $$ = 1; }
  ;

bracket_elems:
    %empty {
        NEED($$ = tirvo_compile_new<tirvo_charset>(ctx), @$);
    }
  | bracket_elems any_char {
        $$ = $1;
        tirvo_charset_add_folded(ctx, $$, $2);
    }
  | bracket_elems bracket_range {
        $$ = $1;
        tirvo_charset_union($$, $2);
    }
  | bracket_elems character_class {
        $$ = $1;
        tirvo_charset_union($$, $2);
    }
  ;

bracket_range:
    any_char '-' any_char {
        CHECK($$ = tirvo_charset_new_range(ctx, $1, $3, &@$));
    }
  ;

character_class:
    TOK_CCLASS_BEGIN opt_caret cclass_name TOK_CCLASS_END {
        $$ = $3;
        if ($2)
            NEED($$ = tirvo_charset_new_negated(ctx, $3, 0, &@$), @$);
    }
  | TOK_WORD_CHAR { $$ = predefined(tirvo_charset_predefined_word); }
  | TOK_NON_WORD_CHAR { $$ = predefined(tirvo_charset_predefined_non_word); }
  | TOK_WS_CHAR { $$ = predefined(tirvo_charset_predefined_space); }
  | TOK_NON_WS_CHAR { $$ = predefined(tirvo_charset_predefined_non_space); }
  | TOK_DIGIT_CHAR { $$ = predefined(tirvo_charset_predefined_digit); }
  | TOK_NON_DIGIT_CHAR { $$ = predefined(tirvo_charset_predefined_non_digit); }
  ;

cclass_name:
    TOK_CCLASS_ALNUM { $$ = predefined(tirvo_charset_predefined_alnum); }
  | TOK_CCLASS_ALPHA { $$ = predefined(tirvo_charset_predefined_alpha); }
  | TOK_CCLASS_BLANK { $$ = predefined(tirvo_charset_predefined_blank); }
  | TOK_CCLASS_CNTRL { $$ = predefined(tirvo_charset_predefined_cntrl); }
  | TOK_CCLASS_DIGIT { $$ = predefined(tirvo_charset_predefined_digit); }
  | TOK_CCLASS_GRAPH { $$ = predefined(tirvo_charset_predefined_graph); }
  | TOK_CCLASS_LOWER { $$ = predefined(tirvo_charset_predefined_lower); }
  | TOK_CCLASS_PRINT { $$ = predefined(tirvo_charset_predefined_print); }
  | TOK_CCLASS_PUNCT { $$ = predefined(tirvo_charset_predefined_punct); }
  | TOK_CCLASS_SPACE { $$ = predefined(tirvo_charset_predefined_space); }
  | TOK_CCLASS_UPPER { $$ = predefined(tirvo_charset_predefined_upper); }
  | TOK_CCLASS_XDIGIT { $$ = predefined(tirvo_charset_predefined_xdigit); }
  | TOK_CCLASS_ASCII { $$ = predefined(tirvo_charset_predefined_ascii); }
  | TOK_CCLASS_WORD { $$ = predefined(tirvo_charset_predefined_word); }
  ;

variable:
    var_scope TOK_IDENTIFIER var_length {
        const int size = static_cast<int>($3);
        FAIL_IF(size != 1 && size != 8 && size != 16 && size != 32 && size != 64, @$,
                "unknown variable size: %d\n", size);
        $$ = tirvo_variable_register(ctx, $2, static_cast<int>($1), size, &@$);
        FAIL_IF(!$$, @$, "out of memory\n");
    }
  ;

var_scope:
    %empty { $$ = 0; }
  | '$' { $$ = 1; }
  ;

var_length:
    %empty { $$ = 1; }
  | '@' any_uint { $$ = static_cast<uint32_t>($2); }
  ;

v_exp_var:
    variable {
        NEED($$ = tirvo_varexp_new_variable(ctx, $1, &@$), @$);
    }
  ;

v_exp:
    TOK_UINT1 { NEED($$ = tirvo_varexp_new_literal(ctx, $1, 1, &@$), @$); }
  | TOK_UINT8 { NEED($$ = tirvo_varexp_new_literal(ctx, $1, 8, &@$), @$); }
  | TOK_UINT16 { NEED($$ = tirvo_varexp_new_literal(ctx, $1, 16, &@$), @$); }
  | TOK_UINT32 { NEED($$ = tirvo_varexp_new_literal(ctx, $1, 32, &@$), @$); }
  | TOK_UINT64 { NEED($$ = tirvo_varexp_new_literal(ctx, $1, 64, &@$), @$); }
  | v_exp_var { $$ = $1; }
  | TOK_VOID { NEED($$ = tirvo_varexp_new_literal(ctx, 0, 0, &@$), @$); }
  | TOK_MAJOR { NEED($$ = NODE(major, 0, nullptr, nullptr, nullptr, 32), @$); }
  | TOK_MINOR { NEED($$ = NODE(minor, 0, nullptr, nullptr, nullptr, 32), @$); }
  | TOK_PATCH { NEED($$ = NODE(patch, 0, nullptr, nullptr, nullptr, 32), @$); }
  | TOK_BUILD { NEED($$ = NODE(build, 0, nullptr, nullptr, nullptr, 32), @$); }
  | TOK_FPVER { NEED($$ = NODE(fpver, 0, nullptr, nullptr, nullptr, 32), @$); }
  | TOK_DPORT { NEED($$ = NODE(dport, 0, nullptr, nullptr, nullptr, 32), @$); }
  | TOK_OFFSET { CHECK($$ = tirvo_varexp_register(ctx, "offset", 0, 32, &@$)); }
  | v_exp_any TOK_IMPLIES v_exp_any {
        CHECK(has_value(ctx, $1, &@$));
        NEED($$ = NODE(implies, 2, $1, $3, nullptr, 0), @$);
    }
  | v_exp_any TOK_SHLEFT v_exp_any { NEED($$ = NODE(shleft, 2, $1, $3, nullptr, $1->result_size), @$); }
  | v_exp_any TOK_SHRIGHT v_exp_any { NEED($$ = NODE(shright, 2, $1, $3, nullptr, $1->result_size), @$); }
  | v_exp_any TOK_LEQ v_exp_any { NEED($$ = NODE(leq, 2, $1, $3, nullptr, 1), @$); }
  | v_exp_any TOK_GEQ v_exp_any { NEED($$ = NODE(geq, 2, $1, $3, nullptr, 1), @$); }
  | v_exp_any TOK_EQ v_exp_any { NEED($$ = NODE(eq, 2, $1, $3, nullptr, 1), @$); }
  | v_exp_any TOK_NEQ v_exp_any { NEED($$ = NODE(neq, 2, $1, $3, nullptr, 1), @$); }
  | v_exp_any TOK_LOG_AND v_exp_any { NEED($$ = NODE(log_and, 2, $1, $3, nullptr, 1), @$); }
  | v_exp_any TOK_LOG_OR v_exp_any { NEED($$ = NODE(log_or, 2, $1, $3, nullptr, 1), @$); }
  | v_exp_var TOK_A_MULTIPLY v_exp_any { NEED($$ = NODE(a_multiply, 2, $1, $3, nullptr, $1->result_size), @$); }
  | v_exp_var TOK_A_DIVIDE v_exp_any { NEED($$ = NODE(a_divide, 2, $1, $3, nullptr, $1->result_size), @$); }
  | v_exp_var TOK_A_REM v_exp_any { NEED($$ = NODE(a_rem, 2, $1, $3, nullptr, $1->result_size), @$); }
  | v_exp_var TOK_A_PLUS v_exp_any { NEED($$ = NODE(a_plus, 2, $1, $3, nullptr, $1->result_size), @$); }
  | v_exp_var TOK_A_MINUS v_exp_any { NEED($$ = NODE(a_minus, 2, $1, $3, nullptr, $1->result_size), @$); }
  | v_exp_var TOK_A_SHLEFT v_exp_any { NEED($$ = NODE(a_shleft, 2, $1, $3, nullptr, $1->result_size), @$); }
  | v_exp_var TOK_A_SHRIGHT v_exp_any { NEED($$ = NODE(a_shright, 2, $1, $3, nullptr, $1->result_size), @$); }
  | v_exp_var TOK_A_BIT_AND v_exp_any { NEED($$ = NODE(a_bit_and, 2, $1, $3, nullptr, $1->result_size), @$); }
  | v_exp_var TOK_A_BIT_OR v_exp_any { NEED($$ = NODE(a_bit_or, 2, $1, $3, nullptr, $1->result_size), @$); }
  | v_exp_var TOK_A_BIT_XOR v_exp_any { NEED($$ = NODE(a_bit_xor, 2, $1, $3, nullptr, $1->result_size), @$); }
  | v_exp_var TOK_PLUSPLUS %prec POST_INC { NEED($$ = NODE(post_inc, 1, $1, nullptr, nullptr, $1->result_size), @$); }
  | v_exp_var TOK_MINUSMINUS %prec POST_DEC { NEED($$ = NODE(post_dec, 1, $1, nullptr, nullptr, $1->result_size), @$); }
  | TOK_PLUSPLUS v_exp_var %prec PRE_INC { NEED($$ = NODE(pre_inc, 1, $2, nullptr, nullptr, $2->result_size), @$); }
  | TOK_MINUSMINUS v_exp_var %prec PRE_DEC { NEED($$ = NODE(pre_dec, 1, $2, nullptr, nullptr, $2->result_size), @$); }
  | v_exp_any ',' v_exp_any { NEED($$ = NODE(comma, 2, $1, $3, nullptr, $3->result_size), @$); }
  | v_exp_var '=' v_exp_any { NEED($$ = NODE(assign, 2, $1, $3, nullptr, $1->result_size), @$); }
  | v_exp_any '|' v_exp_any { NEED($$ = NODE(bit_or, 2, $1, $3, nullptr, wider($1, $3)), @$); }
  | v_exp_any '^' v_exp_any { NEED($$ = NODE(bit_xor, 2, $1, $3, nullptr, wider($1, $3)), @$); }
  | v_exp_any '&' v_exp_any { NEED($$ = NODE(bit_and, 2, $1, $3, nullptr, wider($1, $3)), @$); }
  | v_exp_any '<' v_exp_any { NEED($$ = NODE(less, 2, $1, $3, nullptr, 1), @$); }
  | v_exp_any '>' v_exp_any { NEED($$ = NODE(greater, 2, $1, $3, nullptr, 1), @$); }
  | v_exp_any '+' v_exp_any { NEED($$ = NODE(plus, 2, $1, $3, nullptr, wider($1, $3)), @$); }
  | v_exp_any '-' v_exp_any { NEED($$ = NODE(minus, 2, $1, $3, nullptr, wider($1, $3)), @$); }
  | v_exp_any '*' v_exp_any { NEED($$ = NODE(multiply, 2, $1, $3, nullptr, wider($1, $3)), @$); }
  | v_exp_any '/' v_exp_any { NEED($$ = NODE(divide, 2, $1, $3, nullptr, wider($1, $3)), @$); }
  | v_exp_any '%' v_exp_any { NEED($$ = NODE(rem, 2, $1, $3, nullptr, wider($1, $3)), @$); }
  | '+' v_exp_any %prec UNARY_PLUS { $$ = $2; }
  | '-' v_exp_any %prec UNARY_MINUS { NEED($$ = NODE(unary_minus, 1, $2, nullptr, nullptr, $2->result_size), @$); }
  | '!' v_exp_any { NEED($$ = NODE(log_not, 1, $2, nullptr, nullptr, 1), @$); }
  | '~' v_exp_any { NEED($$ = NODE(bit_not, 1, $2, nullptr, nullptr, $2->result_size), @$); }
  | TOK_CANCEL { NEED($$ = NODE(cancel, 0, nullptr, nullptr, nullptr, 0), @$); }
  | TOK_CANCEL_FP_CTX { NEED($$ = NODE(cancel_fp_ctx, 0, nullptr, nullptr, nullptr, 0), @$); }
  | v_exp_any '?' v_exp_any ':' v_exp_any {
        CHECK(has_value(ctx, $1, &@$));
        NEED($$ = NODE(cond, 3, $1, $3, $5, wider($3, $5)), @$);
    }
  | TOK_SID '(' ')' {
        FAIL_IF(ctx->current_situation == 0, @$,
                "sid() has no effect here because the current situation has not been set by "
                "(?I{...})\n");
        NEED($$ = tirvo_varexp_new_sid(ctx, ctx->current_situation, &@$), @$);
    }
  | TOK_SID '(' v_exp_any ')' { NEED($$ = NODE(sid, 1, $3, nullptr, nullptr, 0), @$); }
  | TOK_CRC '(' v_exp_any ')' { NEED($$ = NODE(crc, 1, $3, nullptr, nullptr, 32), @$); }
  | TOK_SKIP '(' v_exp_any ')' { NEED($$ = NODE(skip, 1, $3, nullptr, nullptr, 0), @$); }
  | TOK_PARSE_BE '(' any_uint ')' {
        CHECK(parse_length_ok(ctx, "parse_be", $3, &@$));
        NEED($$ = NODE(parse_be, 0, nullptr, nullptr, nullptr, static_cast<int>($3)), @$);
    }
  | TOK_PARSE_LE '(' any_uint ')' {
        CHECK(parse_length_ok(ctx, "parse_le", $3, &@$));
        NEED($$ = NODE(parse_le, 0, nullptr, nullptr, nullptr, static_cast<int>($3)), @$);
    }
  | TOK_PARSE_DEC '(' v_exp_any ')' { NEED($$ = NODE(parse_dec, 1, $3, nullptr, nullptr, 64), @$); }
  | TOK_PARSE_HEX '(' v_exp_any ')' { NEED($$ = NODE(parse_hex, 1, $3, nullptr, nullptr, 64), @$); }
  | TOK_PARSE_OCT '(' v_exp_any ')' { NEED($$ = NODE(parse_oct, 1, $3, nullptr, nullptr, 64), @$); }
  | TOK_PARSE_INT '(' v_exp_any ')' { NEED($$ = NODE(parse_int, 1, $3, nullptr, nullptr, 64), @$); }
  | TOK_REGEX subexp_bound '(' {
        /* The argument is a scope of its own, like a group: modifiers set in
           it end with it. */
        CHECK(tirvo_group_open(ctx, 0, 0, &@3) == 0);
    } regex ')' {
        CHECK(tirvo_group_close(ctx, &@$) == 0);
        tirvo_regex_entry *entry = entry_for(ctx, $5, $2, 0);
        NEED(entry && ($$ = tirvo_varexp_new_entry(ctx, tirvo_varexp_subexp, entry, &@$)), @$);
    }
  | TOK_RECORD_MARKING subexp_bound '(' {
        CHECK(tirvo_group_open(ctx, 0, 0, &@3) == 0);
    } regex ')' {
        CHECK(tirvo_group_close(ctx, &@$) == 0);
        tirvo_regex_entry *entry = entry_for(ctx, $5, $2, 0);
        NEED(entry && ($$ = tirvo_varexp_new_entry(ctx, tirvo_varexp_record_marking, entry, &@$)),
             @$);
    }
  | '(' v_exp_any ')' { NEED($$ = NODE(paren, 1, $2, nullptr, nullptr, $2->result_size), @$); }
  | TOK_CAST v_exp_any {
        const int size = $1;
        FAIL_IF(size != 0 && size != 8 && size != 16 && size != 32 && size != 64, @$,
                "internal error\n");
        NEED($$ = NODE(cast, 1, $2, nullptr, nullptr, size), @$);
    }
  ;

v_exp_any:
    v_exp {
        $$ = $1;
        $$->location = @$;
    }
  ;

any_uint:
    TOK_UINT1 { $$ = $1; }
  | TOK_UINT8 { $$ = $1; }
  | TOK_UINT16 { $$ = $1; }
  | TOK_UINT32 { $$ = $1; }
  | TOK_UINT64 { $$ = $1; }
  ;

subexp_bound:
    %empty { $$ = 1; }
  | '*' { $$ = TIRVO_BOUND_UNLIMITED; }
  | '{' any_uint '}' {
        FAIL_IF($2 > TIRVO_MAX_SUBEXP_BOUND, @2,
                "Too large subexpression count bound: %" PRIu64 " (max %d)\n", $2,
                static_cast<int>(TIRVO_MAX_SUBEXP_BOUND));
        $$ = static_cast<uint32_t>($2);
    }
  ;

any_condition:
    condition opt_simple_modifiers { $$ = $1; }
  | deprecated_condition opt_simple_modifiers { $$ = $1; }
  ;

opt_simple_modifiers:
    %empty
  | opt_simple_modifiers simple_modifier
  ;

condition:
    TOK_CONDITION_START cond_exp '}' ')' {
        $$ = $2;
        $$->location = @$;
    }
  ;

deprecated_condition:
    TOK_DEPRECATED_CONDITION_START cond_exp '}' {
        $$ = $2;
        $$->location = @$;
    }
  ;

cond_exp:
    cond_condition {
        NEED($$ = tirvo_condition_new(ctx, $1, nullptr, 0), @$);
    }
  | cond_condition TOK_IMPLIES cond_setting {
        $$ = $3;
        $$->condition = $1;
    }
  | cond_setting { $$ = $1; }
  ;

cond_condition:
    cond_condition_elem { $$ = $1; }
  | cond_condition TOK_LOG_AND cond_condition_elem {
        NEED($$ = NODE(log_and, 2, $1, $3, nullptr, 1), @$);
    }
  ;

cond_condition_elem:
    TOK_IDENTIFIER cond_condition_oper TOK_UINT1 {
        tirvo_varexp *var = tirvo_varexp_register(ctx, $1, 0, 1, &@1);
        CHECK(var);
        tirvo_varexp *bit = tirvo_varexp_new_literal(ctx, $3, 1, &@3);
        NEED(bit && ($$ = tirvo_varexp_new(ctx, static_cast<tirvo_varexp_oper>($2), 2, var, bit,
                                            nullptr, 1, &@$)),
             @$);
    }
  | TOK_OFFSET cond_offset_oper any_uint {
        tirvo_varexp *var = tirvo_varexp_register(ctx, "offset", 0, 32, &@1);
        CHECK(var);
        tirvo_varexp *n = tirvo_varexp_new_literal(ctx, $3, 1, &@3);
        NEED(n && ($$ = tirvo_varexp_new(ctx, static_cast<tirvo_varexp_oper>($2), 2, var, n,
                                          nullptr, 1, &@$)),
             @$);
    }
  ;

cond_condition_oper:
    TOK_EQ { $$ = tirvo_varexp_eq; }
  | TOK_NEQ { $$ = tirvo_varexp_neq; }
  ;

cond_offset_oper:
    TOK_EQ { $$ = tirvo_varexp_eq; }
  | TOK_NEQ { $$ = tirvo_varexp_neq; }
  | '<' { $$ = tirvo_varexp_less; }
  | TOK_LEQ { $$ = tirvo_varexp_leq; }
  | '>' { $$ = tirvo_varexp_greater; }
  | TOK_GEQ { $$ = tirvo_varexp_geq; }
  ;

cond_setting:
    cond_setting_elem { $$ = $1; }
  | cond_setting ',' cond_setting_elem {
        tirvo_varexp *s1 = $1->setting;
        tirvo_varexp *s2 = $3->setting;
        tirvo_varexp *setting = s1 ? s1 : s2;
        if (s1 && s2)
            NEED(setting = NODE(comma, 2, s1, s2, nullptr, s2->result_size), @$);
        NEED($$ = tirvo_condition_new(ctx, nullptr, setting, $1->ignore || $3->ignore), @$);
    }
  ;

cond_setting_elem:
    TOK_IDENTIFIER cond_setting_oper TOK_UINT1 {
        tirvo_varexp *var = tirvo_varexp_register(ctx, $1, 0, 1, &@1);
        CHECK(var);
        tirvo_varexp *bit = tirvo_varexp_new_literal(ctx, $3, 1, &@3);
        tirvo_varexp *set = bit ? tirvo_varexp_new(ctx, static_cast<tirvo_varexp_oper>($2), 2,
                                                   var, bit, nullptr, 1, &@$)
                                : nullptr;
        NEED(set && ($$ = tirvo_condition_new(ctx, nullptr, set, 0)), @$);
    }
  | TOK_IGNORE {
        NEED($$ = tirvo_condition_new(ctx, nullptr, nullptr, 1), @$);
    }
  ;

cond_setting_oper:
    '=' { $$ = tirvo_varexp_assign; }
  | TOK_A_BIT_XOR { $$ = tirvo_varexp_a_bit_xor; }
  ;

subexp:
    TOK_SUBEXP_START subexp_bound precond {
        ctx->in_subexp = 1;
    } regex ')' opt_simple_modifiers {
        ctx->in_subexp = 0;
        tirvo_regex_entry *entry = entry_for(ctx, $5, $2, 1);
        NEED(entry && ($$ = tirvo_varexp_new_entry(ctx, tirvo_varexp_subexp, entry, &@$)), @$);
        if ($3)
            NEED($$ = NODE(implies, 2, $3, $$, nullptr, 0), @$);
    }
  ;

precond:
    %empty { $$ = nullptr; }
  | TOK_CONDITION_START cond_condition '}' ')' { $$ = $2; }
  ;

%%

void tirvo_parse_error(const tirvo_location *loc, tirvo_compile_ctx *ctx, const char *text) {
    ctx->flags.error_reported = 1;
    tirvo_loc_message(ctx, loc, "%s\n", text);
}
