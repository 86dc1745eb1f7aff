/* The fingerprint grammar: token list, semantic values and locations.
 *
 * The parser is a re-entrant LALR(1) parser with locations; it receives the
 * compile context as its parameter and takes its tokens from the scanner
 * (tirvo.l) whose handle the context holds. The token list below fixes the
 * token numbers from 258 on, in the order given, and the scanner returns them
 * by these numbers; single-character tokens are the characters themselves.
 * Syntax errors are reported with the verbose texts ("syntax error, unexpected
 * X, expecting Y or Z").
 *
 * Every semantic value fits in 8 bytes: characters, the unsigned numbers of
 * the number tokens, pairs of 32-bit words (bounds, modifier on/off flags),
 * flag words, operator codes, pointers to the parse-tree records and to the
 * identifier copies in the compile pool.
 */

%code requires {
#include "lang/tirvo_location.h"

#include <cstdint>

struct tirvo_compile_ctx;
struct tirvo_branch;
struct tirvo_branch_elem;
struct tirvo_charset;
struct tirvo_regex;
struct tirvo_regex_entry;
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
}

%code {
#include "compiler/tirvo_compile_ctx.h"
#include "lang/tirvo_parse.h"
#include "lang/tirvo_scanner.h"

/* The parser hands the compile context to the scanner call; the scanner
   instance itself is kept in the context. */
#undef yylex
#define yylex(value, location, context) tirvo_lex(value, location, (context)->scanner)
#undef yyerror
#define yyerror tirvo_parse_error

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
}

%define api.prefix {tirvo_}
%define api.pure full
%define api.location.type {tirvo_location}
%define parse.error verbose
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
    uint32_t uint32;                         /* TOK_UINT32 */
    uint64_t uint64;                         /* TOK_UINT64 and numbers in general */
    char *str;                               /* TOK_IDENTIFIER: name copied into the pool */
    uint8_t cast_size;                       /* TOK_CAST: 0 (void), 8, 16, 32 or 64 */
    uint32_t flags;                          /* modifier letters: TIRVO_MOD_* bits */
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

%%

/* The grammar rules are added with the parse tree; until then the parser
   accepts only the empty text. */
input:
    %empty
    ;

%%

void tirvo_parse_error(const tirvo_location *loc, tirvo_compile_ctx *ctx, const char *text) {
    ctx->flags.error_reported = 1;
    tirvo_loc_message(ctx, loc, "%s\n", text);
}
