// The fingerprint scanner, driven through the parse set-up over texts in
// temporary files: token sequences with their values, locations and messages
// in every mode, the token numbering, and the failure paths (exhausted pool,
// unreadable input).
#include "tests/support/temp_file.h"
#include "compiler/tirvo_compile_ctx.h"
#include "lang/tirvo_modifier.h"
#include "lang/tirvo_parse.h"
#include "lang/tirvo_scanner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>

namespace {

constexpr uint32_t D = TIRVO_MOD_DEFAULT;
constexpr uint32_t S = TIRVO_MOD_SKIP_BLANKS;
constexpr uint32_t L = TIRVO_MOD_SKIP_LINE_ENDS;
constexpr uint32_t C = TIRVO_MOD_COMMENTS;
constexpr uint32_t X = TIRVO_MOD_EXTRA_ERRORS;
constexpr uint8_t QUIET = TIRVO_PARSE_QUIET;
constexpr uint8_t NEW_SID = TIRVO_PARSE_NEW_SITUATION_SYNTAX;

struct token_name {
    int token;
    const char *name;
};

#define T(t)                                                                                       \
    { t, #t }
// The token list in its documented order.
// clang-format off
constexpr token_name token_list[] = {
    T(TOK_ERROR), T(TOK_SUBEXP_START), T(TOK_VAREXP_START), T(TOK_CONDITION_START),
    T(TOK_DEPRECATED_CONDITION_START), T(TOK_MODIFIER_START), T(TOK_CCLASS_ALNUM),
    T(TOK_CCLASS_ALPHA), T(TOK_CCLASS_BLANK), T(TOK_CCLASS_CNTRL), T(TOK_CCLASS_DIGIT),
    T(TOK_CCLASS_GRAPH), T(TOK_CCLASS_LOWER), T(TOK_CCLASS_PRINT), T(TOK_CCLASS_PUNCT),
    T(TOK_CCLASS_SPACE), T(TOK_CCLASS_UPPER), T(TOK_CCLASS_XDIGIT), T(TOK_CCLASS_ASCII),
    T(TOK_CCLASS_WORD), T(TOK_WORD_CHAR), T(TOK_NON_WORD_CHAR), T(TOK_WS_CHAR), T(TOK_NON_WS_CHAR),
    T(TOK_DIGIT_CHAR), T(TOK_NON_DIGIT_CHAR), T(TOK_SID_START), T(TOK_OLD_SID_START),
    T(TOK_CCLASS_BEGIN), T(TOK_CCLASS_END), T(TOK_BITMASK), T(TOK_DEPRECATED_CASE_INSENSITIVE),
    T(TOK_DEPRECATED_CASE_INSENSITIVE_END), T(TOK_VOID), T(TOK_IMPLIES), T(TOK_OFFSET),
    T(TOK_MAJOR), T(TOK_MINOR), T(TOK_PATCH), T(TOK_BUILD), T(TOK_FPVER), T(TOK_DPORT),
    T(TOK_CANCEL), T(TOK_CANCEL_FP_CTX), T(TOK_SID), T(TOK_CRC), T(TOK_SKIP), T(TOK_PARSE_BE),
    T(TOK_PARSE_LE), T(TOK_PARSE_DEC), T(TOK_PARSE_HEX), T(TOK_PARSE_OCT), T(TOK_PARSE_INT),
    T(TOK_REGEX), T(TOK_RECORD_MARKING), T(TOK_IDENTIFIER), T(TOK_SHLEFT), T(TOK_SHRIGHT),
    T(TOK_LEQ), T(TOK_GEQ), T(TOK_EQ), T(TOK_NEQ), T(TOK_LOG_AND), T(TOK_LOG_OR),
    T(TOK_A_MULTIPLY), T(TOK_A_DIVIDE), T(TOK_A_REM), T(TOK_A_PLUS), T(TOK_A_MINUS),
    T(TOK_A_SHLEFT), T(TOK_A_SHRIGHT), T(TOK_A_BIT_AND), T(TOK_A_BIT_OR), T(TOK_A_BIT_XOR),
    T(TOK_PLUSPLUS), T(TOK_MINUSMINUS), T(TOK_IGNORE), T(TOK_CHAR), T(TOK_HEX_CHAR), T(TOK_UINT1),
    T(TOK_UINT8), T(TOK_UINT16), T(TOK_UINT32), T(TOK_UINT64), T(TOK_CAST), T(PRE_DEC), T(PRE_INC),
    T(UNARY_PLUS), T(UNARY_MINUS), T(POST_DEC), T(POST_INC)
};
// clang-format on
#undef T

std::string token_name_of(int token) {
    for (const auto &t : token_list)
        if (t.token == token) {
            std::string n = t.name;
            return n.rfind("TOK_", 0) == 0 ? n.substr(4) : n;
        }
    std::string unknown = "?";
    unknown += std::to_string(token);
    return unknown;
}

// A symbol as the expectations write it: printable ASCII quoted, anything
// else as its number.
std::string symbol_text(int c) {
    if (c > 32 && c < 127)
        return std::string("'") + static_cast<char>(c) + "'";
    return std::to_string(c);
}

std::string token_text(int token, const TIRVO_STYPE &v) {
    if (token < 256)
        return symbol_text(token);
    std::string s = token_name_of(token);
    switch (token) {
    case TOK_CHAR:
    case TOK_HEX_CHAR:
        return s + " " + symbol_text(v.chr);
    case TOK_UINT1:
    case TOK_UINT8:
        return s + " " + std::to_string(v.uint8);
    case TOK_UINT16:
        return s + " " + std::to_string(v.uint16);
    case TOK_UINT32:
        return s + " " + std::to_string(v.uint32);
    case TOK_UINT64:
        return s + " " + std::to_string(v.uint64);
    case TOK_IDENTIFIER:
        return s + " " + v.str;
    case TOK_CAST:
        return s + " " + std::to_string(v.cast_size);
    default:
        return s;
    }
}

std::string offsets(const tirvo_location &l) {
    return std::to_string(l.first_offset) + "-" + std::to_string(l.last_offset);
}

// Lines and columns in the order of the message prefix, then the offsets.
std::string full_location(const tirvo_location &l) {
    return std::to_string(l.first_line) + "-" + std::to_string(l.last_line) + "," +
           std::to_string(l.first_column) + "-" + std::to_string(l.last_column) + "/" + offsets(l);
}

struct scan_options {
    uint32_t modifiers = D;                          // innermost modifier flags at the start
    uint8_t parse_flags = 0;                         // TIRVO_PARSE_* bits
    bool vgr = false;                                // -M message form
    int change_after = 0;                            // after this many tokens...
    std::function<void(tirvo_compile_ctx *)> change; // ...the parser would change this
};

struct scan_result {
    std::string tokens;  // "TOKEN value, ..." without locations
    std::string located; // the same with "@first-last" offsets, then "EOF@..."
    std::string full;    // the same with full locations
    std::string err;     // everything printed to the standard error stream
};

// A compile context reading `text`, prepared as the pipeline prepares a parse.
struct scan_ctx {
    tirvo_compile_ctx ctx;

    explicit scan_ctx(const std::string &text) {
        tirvo_compile_ctx_init(&ctx);
        tirvo_pool_setup(&ctx.pool, std::malloc, std::free);
        FILE *f = text_as_file(text);
        EXPECT_NE(f, nullptr);
        tirvo_compile_set_input(&ctx, f, "fp");
    }
    ~scan_ctx() { tirvo_compile_cleanup(&ctx); }
    scan_ctx(const scan_ctx &) = delete;
    scan_ctx &operator=(const scan_ctx &) = delete;

    int setup() { return tirvo_parse_setup(&ctx); }

    // Calls the scanner until the end of the input (or a runaway limit).
    scan_result run(const scan_options &o = {}) {
        ctx.parse_flags = o.parse_flags;
        ctx.modifiers->flags = o.modifiers;
        scan_result r;
        TIRVO_STYPE v{};
        tirvo_location loc{-1, -1, -1, -1, -1, -1};
        testing::internal::CaptureStderr();
        for (int n = 1; n <= 500; ++n) {
            int t = tirvo_lex(&v, &loc, ctx.scanner);
            if (t == 0)
                break;
            std::string sep = r.tokens.empty() ? "" : ", ";
            std::string text = token_text(t, v);
            r.tokens += sep + text;
            r.located += sep + text + "@" + offsets(loc);
            r.full += sep + text + "@" + full_location(loc);
            if (n == o.change_after)
                o.change(&ctx);
        }
        r.err = testing::internal::GetCapturedStderr();
        r.located += (r.located.empty() ? "" : ", ") + std::string("EOF@") + offsets(loc);
        return r;
    }
};

scan_result scan(const std::string &text, const scan_options &o = {}) {
    scan_ctx s(text);
    if (o.vgr)
        tirvo_compile_set_vgr_output(&s.ctx);
    EXPECT_EQ(s.setup(), 0);
    return s.run(o);
}

struct token_case {
    const char *text;
    scan_options options;
    const char *tokens;
    const char *err;
};

std::ostream &operator<<(std::ostream &os, const token_case &c) {
    return os << testing::PrintToString(std::string(c.text));
}

class ScannerTokens : public testing::TestWithParam<token_case> {};

TEST_P(ScannerTokens, GiveTheirValuesAndMessages) {
    const token_case &c = GetParam();
    scan_result r = scan(c.text, c.options);
    EXPECT_EQ(r.tokens, c.tokens);
    EXPECT_EQ(r.err, c.err);
}

scan_options mods(uint32_t flags) {
    scan_options o;
    o.modifiers = flags;
    return o;
}

scan_options flags(uint8_t parse_flags) {
    scan_options o;
    o.parse_flags = parse_flags;
    return o;
}

// The parser changes the innermost modifier flags after the `n`-th token.
scan_options modifiers_after(int n, uint32_t to) {
    scan_options o;
    o.change_after = n;
    o.change = [to](tirvo_compile_ctx *ctx) { ctx->modifiers->flags = to; };
    return o;
}

scan_options vgr() {
    scan_options o;
    o.vgr = true;
    return o;
}

const token_case blanks_and_line_ends[] = {
    {"a b", {}, "CHAR 'a', CHAR 32, CHAR 'b'", ""},
    {"a \tb", mods(D | S), "CHAR 'a', CHAR 'b'", ""},
    {"\\ ", mods(D | S), "CHAR 32", ""},
    {"a\nb", {}, "CHAR 'a', CHAR 'b'", ""},
    {"a\r\nb", {}, "CHAR 'a', CHAR 'b'", ""},
    {"a\r\nb", mods(D & ~L), "CHAR 'a', CHAR 13, CHAR 10, CHAR 'b'", ""},
    {"a\tb\n", mods(D & ~L), "CHAR 'a', CHAR 9, CHAR 'b', CHAR 10", ""},
    {"[a b\n]", {}, "'[', CHAR 'a', CHAR 32, CHAR 'b', ']'", ""},
    {"[a b\n]", mods((D | S) & ~L), "'[', CHAR 'a', CHAR 'b', CHAR 10, ']'", ""},
    {"(?S)a b", modifiers_after(3, D | S), "MODIFIER_START, 'S', ')', CHAR 'a', CHAR 'b'", ""},
    {"(?x)a b # note\nc", modifiers_after(3, D | S | L | C),
     "MODIFIER_START, 'x', ')', CHAR 'a', CHAR 'b', CHAR 'c'", ""},
    {"(?-L)a\nb", modifiers_after(4, D & ~L),
     "MODIFIER_START, '-', 'L', ')', CHAR 'a', CHAR 10, CHAR 'b'", ""},
};
INSTANTIATE_TEST_SUITE_P(BlanksAndLineEnds, ScannerTokens, testing::ValuesIn(blanks_and_line_ends));

const token_case comments[] = {
    {"#c\nab", {}, "CHAR 'a', CHAR 'b'", ""},
    {"#abc", {}, "", ""},
    {"a#b", mods(D & ~C), "CHAR 'a', CHAR '#', CHAR 'b'", ""},
    {"\\#", {}, "CHAR '#'", ""},
    {"#a\rb", {}, "CHAR 'b'", ""},
    {"#a\n\rb", mods(D & ~L), "CHAR 'b'", ""},
    {"#a\r\nb", mods(D & ~L), "CHAR 'b'", ""},
    {"#a\n\nb", mods(D & ~L), "CHAR 10, CHAR 'b'", ""},
    {"[a#]\n]", {}, "'[', CHAR 'a', ']'", ""},
    {"{2#}\n}", {}, "'{', UINT8 2, '}'", ""},
    {"(?[x#])\n])", {}, "VAREXP_START, IDENTIFIER x, ']', ')'", ""},
    {"(?[#\n1])", mods(D & ~C), "VAREXP_START, CHAR '#', UINT1 1, ']', ')'", ""},
    {"(?i#)\n)", {}, "MODIFIER_START, 'i', ')'", ""},
    {"a(?#x\n)y)b", {}, "CHAR 'a', CHAR 'y', ')', CHAR 'b'", ""},
    {"(?#ab", {}, "ERROR", "fp:1-1,4-6: tokenization error: read char a\n"},
    {"(?#", {}, "", ""},
    {"\\Q#(*\n\\E*", {}, "CHAR '#', CHAR '(', CHAR '*', CHAR 10, '*'", ""},
};
INSTANTIATE_TEST_SUITE_P(Comments, ScannerTokens, testing::ValuesIn(comments));

const token_case numbers[] = {
    {"{09}", {}, "'{', ERROR, '}'", "fp:1-1,2-4: expected integer, got 09\n"},
    {"{010,0x1F,0X1f,0777}",
     {},
     "'{', UINT8 8, ',', UINT8 31, ',', UINT8 31, ',', UINT16 511, '}'",
     ""},
    {"{0x}", {}, "'{', UINT1 0, ERROR, '}'", "fp:1-1,4-4: tokenization error: read char x\n"},
    {"(?[0x])", {}, "VAREXP_START, UINT1 0, IDENTIFIER x, ']', ')'", ""},
    {"{0,1,2,255,256,65535,65536,4294967295,4294967296,0xffffffffffffffff}",
     {},
     "'{', UINT1 0, ',', UINT1 1, ',', UINT8 2, ',', UINT8 255, ',', UINT16 256, ',', "
     "UINT16 65535, ',', UINT32 65536, ',', UINT32 4294967295, ',', UINT64 4294967296, ',', "
     "UINT64 18446744073709551615, '}'",
     ""},
    {"{18446744073709551616}",
     {},
     "'{', ERROR, '}'",
     "fp:1-1,2-22: expected integer, got 18446744073709551616\n"},
    {"(?[true false])", {}, "VAREXP_START, UINT1 1, UINT1 0, ']', ')'", ""},
    {"(?I{ 0x10\n})", {}, "SID_START, UINT8 16, '}', ')'", ""},
    {"\\S{7}a", flags(QUIET), "OLD_SID_START, '{', UINT8 7, '}', CHAR 'a'", ""},
    {"(?[x{ 3 }])", {}, "VAREXP_START, IDENTIFIER x, '{', UINT8 3, '}', ']', ')'", ""},
    {"(?[regex{2}*(a)])",
     {},
     "VAREXP_START, REGEX, '{', UINT8 2, '}', '*', '(', CHAR 'a', ')', ']', ')'",
     ""},
    {"a{ \t\r\n\f1}", {}, "CHAR 'a', '{', UINT1 1, '}'", ""},
};
INSTANTIATE_TEST_SUITE_P(Numbers, ScannerTokens, testing::ValuesIn(numbers));

const token_case escapes[] = {
    {"\\400", {}, "ERROR", "fp:1-1,0-5: invalid octal: \\400\n"},
    {"\\101", {}, "CHAR 'A'", ""},
    {"\\8", {}, "CHAR '8'", ""},
    {"\\1234", {}, "CHAR 'S', CHAR '4'", ""},
    {"\\0", {}, "CHAR 0", ""},
    {"\\x41\\x4g",
     {},
     "HEX_CHAR 'A', CHAR 'x', CHAR '4', CHAR 'g'",
     "fp:1-1,5-8: warning: \\x has no special meaning here.\n"},
    {"\\c@\\c`\\c[\\ca",
     {},
     "CHAR 0, CHAR 32, CHAR 27, CHAR 'c', CHAR 'a'",
     "fp:1-1,10-12: warning: \\c has no special meaning here.\n"},
    {"\\a\\t\\n\\f\\r\\e\\ ",
     {},
     "CHAR 7, CHAR 9, CHAR 10, CHAR 12, CHAR 13, CHAR 27, CHAR 32",
     ""},
    {"\\m\\z\\M\\@", {}, "CHAR 256, CHAR 257, CHAR 258, CHAR 259", ""},
    {"\\w\\W\\d\\D\\&\\C\\E",
     {},
     "WORD_CHAR, NON_WORD_CHAR, DIGIT_CHAR, NON_DIGIT_CHAR, BITMASK, "
     "DEPRECATED_CASE_INSENSITIVE, DEPRECATED_CASE_INSENSITIVE_END",
     ""},
    {"\\b", {}, "ERROR", "fp:1-1,0-3: \\b only allowed in bracket expression\n"},
    {"[\\b]", {}, "'[', CHAR 8, ']'", ""},
    {"\\p{x}a",
     {},
     "DEPRECATED_CONDITION_START, IDENTIFIER x, '}', CHAR 'a'",
     "fp:1-1,0-4: warning: deprecated condition syntax \\p{...}\n"},
    {"\\p{x}", flags(QUIET), "DEPRECATED_CONDITION_START, IDENTIFIER x, '}'", ""},
    {"\\px", {}, "CHAR 'p', CHAR 'x'", "fp:1-1,0-3: warning: \\p has no special meaning here.\n"},
    {"\\q", mods(D | X), "ERROR", "fp:1-1,0-3: \\q not allowed here in extra errors mode\n"},
    {"\\q", flags(QUIET), "CHAR 'q'", ""},
    {"[\\E\\&\\s\\S\\d]",
     {},
     "'[', CHAR 'E', CHAR '&', WS_CHAR, NON_WS_CHAR, DIGIT_CHAR, ']'",
     "fp:1-1,2-4: warning: \\E has no special meaning here.\n"},
    {"[\\Q]", mods(D | X), "'[', ERROR, ']'",
     "fp:1-1,2-4: \\Q not allowed here in extra errors mode\n"},
    {"\\\xe9[\\\xff]\xe9", {}, "CHAR 233, '[', CHAR 255, ']', CHAR 233", ""},
    {"\\\n\\\\", {}, "CHAR 10, CHAR '\\'", ""},
    {"a\\", {}, "CHAR 'a', ERROR", "fp:1-1,2-3: tokenization error: read char \\\n"},
    {"[\\", {}, "'[', ERROR", "fp:1-1,2-3: tokenization error: read char \\\n"},
};
INSTANTIATE_TEST_SUITE_P(Escapes, ScannerTokens, testing::ValuesIn(escapes));

scan_options situation_syntax_after(int n) {
    scan_options o;
    o.change_after = n;
    o.change = [](tirvo_compile_ctx *ctx) { ctx->parse_flags |= NEW_SID; };
    return o;
}

const token_case situations[] = {
    {"\\s{5}a",
     {},
     "OLD_SID_START, '{', UINT8 5, '}', CHAR 'a'",
     "fp:1-1,0-3: warning: assuming that \\s is deprecated situation definition, because "
     "(?I{<sid>}) not seen\n"},
    {"\\S{5}", flags(QUIET), "OLD_SID_START, '{', UINT8 5, '}'", ""},
    {"\\s\\S", flags(NEW_SID), "WS_CHAR, NON_WS_CHAR", ""},
    {"(?I{5})\\s", situation_syntax_after(4), "SID_START, UINT8 5, '}', ')', WS_CHAR", ""},
};
INSTANTIATE_TEST_SUITE_P(Situations, ScannerTokens, testing::ValuesIn(situations));

const token_case quoted[] = {
    {"\\Q(*\n\\b\\E*",
     {},
     "CHAR '(', CHAR '*', CHAR 10, ERROR, '*'",
     "fp:2-2,1-3: \\b only allowed in bracket expression\n"},
    {"\\Qa\\x\\E", {}, "CHAR 'a', CHAR '\\', CHAR 'x'", ""},
};
INSTANTIATE_TEST_SUITE_P(Quoted, ScannerTokens, testing::ValuesIn(quoted));

const token_case variable_expressions[] = {
    {"(?[ regex( (?i:a)b ) ])",
     {},
     "VAREXP_START, REGEX, '(', CHAR 32, MODIFIER_START, 'i', ':', CHAR 'a', ')', CHAR 'b', "
     "CHAR 32, ')', ']', ')'",
     ""},
    {"(?[regex((?[regex(a)])b)])",
     {},
     "VAREXP_START, REGEX, '(', VAREXP_START, REGEX, '(', CHAR 'a', ')', ']', ')', CHAR 'b', "
     "')', ']', ')'",
     ""},
    {"(?[record_marking(a)])",
     {},
     "VAREXP_START, RECORD_MARKING, '(', CHAR 'a', ')', ']', ')'",
     ""},
    {"(?[sidx crc(x) CRC sid $offsetx cancel_fp_ctx cancelx _a1])",
     {},
     "VAREXP_START, IDENTIFIER sidx, IDENTIFIER crc, '(', IDENTIFIER x, ')', CRC, SID, OFFSET, "
     "IDENTIFIER x, CANCEL_FP_CTX, IDENTIFIER cancelx, IDENTIFIER _a1, ']', ')'",
     ""},
    {"(?{$major $minor $patch $build $fpver $dport void ignore cancel skip parse_be parse_le "
     "parse_dec parse_hex parse_oct parse_int $ @})",
     {},
     "CONDITION_START, MAJOR, MINOR, PATCH, BUILD, FPVER, DPORT, VOID, IGNORE, CANCEL, SKIP, "
     "PARSE_BE, PARSE_LE, PARSE_DEC, PARSE_HEX, PARSE_OCT, PARSE_INT, '$', '@', '}', ')'",
     ""},
    {"(?[-> << >> <= >= == != && || *= /= %= += -= <<= >>= &= |= ^= ++ --])",
     {},
     "VAREXP_START, IMPLIES, SHLEFT, SHRIGHT, LEQ, GEQ, EQ, NEQ, LOG_AND, LOG_OR, A_MULTIPLY, "
     "A_DIVIDE, A_REM, A_PLUS, A_MINUS, A_SHLEFT, A_SHRIGHT, A_BIT_AND, A_BIT_OR, A_BIT_XOR, "
     "PLUSPLUS, MINUSMINUS, ']', ')'",
     ""},
    {"(?[! % & ( ) * + , - / : < = > ? ^ ~ |])",
     {},
     "VAREXP_START, '!', '%', '&', '(', ')', '*', '+', ',', '-', '/', ':', '<', '=', '>', '?', "
     "'^', '~', '|', ']', ')'",
     ""},
    {"(?[x\t\r\n\fy])", {}, "VAREXP_START, IDENTIFIER x, IDENTIFIER y, ']', ')'", ""},
    {"(?[( uint16_t )x (void)y (\tuint8_t\n) (uint32_t)(uint64_t) (uint16_t x)])",
     {},
     "VAREXP_START, CAST 16, IDENTIFIER x, CAST 0, IDENTIFIER y, CAST 8, CAST 32, CAST 64, "
     "'(', IDENTIFIER uint16_t, IDENTIFIER x, ')', ']', ')'",
     ""},
    {"(?[[.`])",
     {},
     "VAREXP_START, ERROR, ERROR, ERROR, ']', ')'",
     "fp:1-1,4-5: tokenization error: read char [\n"
     "fp:1-1,5-6: tokenization error: read char .\n"
     "fp:1-1,6-7: tokenization error: read char `\n"},
};
INSTANTIATE_TEST_SUITE_P(VariableExpressions, ScannerTokens,
                         testing::ValuesIn(variable_expressions));

const token_case other_modes[] = {
    {"a*+?.|(b)]}^$",
     {},
     "CHAR 'a', '*', '+', '?', '.', '|', '(', CHAR 'b', ')', CHAR ']', CHAR '}', CHAR '^', "
     "CHAR '$'",
     ""},
    {"(?>a)(?{x})", {}, "SUBEXP_START, CHAR 'a', ')', CONDITION_START, IDENTIFIER x, '}', ')'", ""},
    {"[[a-z^]", {}, "'[', CHAR '[', CHAR 'a', '-', CHAR 'z', '^', ']'", ""},
    {"[[:alpha:][: ^digit :]]",
     {},
     "'[', CCLASS_BEGIN, CCLASS_ALPHA, CCLASS_END, CCLASS_BEGIN, '^', CCLASS_DIGIT, "
     "CCLASS_END, ']'",
     ""},
    {"[[:alnum:][:blank:][:cntrl:][:graph:][:lower:][:print:][:punct:][:space:][:upper:]"
     "[:xdigit:][:ascii:][:word:]]",
     {},
     "'[', CCLASS_BEGIN, CCLASS_ALNUM, CCLASS_END, CCLASS_BEGIN, CCLASS_BLANK, CCLASS_END, "
     "CCLASS_BEGIN, CCLASS_CNTRL, CCLASS_END, CCLASS_BEGIN, CCLASS_GRAPH, CCLASS_END, "
     "CCLASS_BEGIN, CCLASS_LOWER, CCLASS_END, CCLASS_BEGIN, CCLASS_PRINT, CCLASS_END, "
     "CCLASS_BEGIN, CCLASS_PUNCT, CCLASS_END, CCLASS_BEGIN, CCLASS_SPACE, CCLASS_END, "
     "CCLASS_BEGIN, CCLASS_UPPER, CCLASS_END, CCLASS_BEGIN, CCLASS_XDIGIT, CCLASS_END, "
     "CCLASS_BEGIN, CCLASS_ASCII, CCLASS_END, CCLASS_BEGIN, CCLASS_WORD, CCLASS_END, ']'",
     ""},
    {"[[:x:]]",
     {},
     "'[', CCLASS_BEGIN, ERROR, CCLASS_END, ']'",
     "fp:1-1,4-5: tokenization error: read char x\n"},
    {"(?iLsxSCX-i:a)",
     {},
     "MODIFIER_START, 'i', 'L', 's', 'x', 'S', 'C', 'X', '-', 'i', ':', CHAR 'a', ')'",
     ""},
    {"(? i\t)", {}, "MODIFIER_START, 'i', ')'", ""},
    {"(?q)", {}, "MODIFIER_START, ERROR, ')'", "fp:1-1,3-4: tokenization error: read char q\n"},
};
INSTANTIATE_TEST_SUITE_P(OtherModes, ScannerTokens, testing::ValuesIn(other_modes));

const token_case vgr_messages[] = {
    {"{09}", vgr(), "'{', ERROR, '}'", "2-4: expected integer, got 09\n"},
    {"(?[`])", vgr(), "VAREXP_START, ERROR, ']', ')'", ""},
    {"\\400", vgr(), "ERROR", "0-5: invalid octal: \\400\n"},
};
INSTANTIATE_TEST_SUITE_P(VgrOutput, ScannerTokens, testing::ValuesIn(vgr_messages));

// Locations: every read request advances the position, so a token's range
// ends after the byte that the scanner read to find its end; the range of a
// token that needed no new byte is empty. The end of the input keeps the
// location of the last rule run, which may be a skipped blank or comment.
struct location_case {
    const char *text;
    scan_options options;
    const char *located;
};

std::ostream &operator<<(std::ostream &os, const location_case &c) {
    return os << testing::PrintToString(std::string(c.text));
}

class ScannerLocations : public testing::TestWithParam<location_case> {};

TEST_P(ScannerLocations, CoverTheBytesRead) {
    const location_case &c = GetParam();
    EXPECT_EQ(scan(c.text, c.options).located, c.located);
}

const location_case locations[] = {
    {"abc", {}, "CHAR 'a'@0-2, CHAR 'b'@2-3, CHAR 'c'@3-4, EOF@3-4"},
    {"(?[x])", {}, "VAREXP_START@0-4, IDENTIFIER x@4-5, ']'@5-6, ')'@6-7, EOF@6-7"},
    {"\\x4g", {}, "CHAR 'x'@0-4, CHAR '4'@4-4, CHAR 'g'@4-5, EOF@4-5"},
    {"{ 12 }", {}, "'{'@0-2, UINT8 12@3-5, '}'@6-7, EOF@6-7"},
    {"a ", mods(D | S), "CHAR 'a'@0-2, EOF@2-3"},
    {"(?#ab)c", {}, "CHAR 'c'@7-8, EOF@7-8"},
    {"#x\n\rb", {}, "CHAR 'b'@5-6, EOF@5-6"},
    // a comment at the end: its text is located as one token
    {"a#bc", {}, "CHAR 'a'@0-2, EOF@3-5"},
    {"a#", {}, "CHAR 'a'@0-2, EOF@2-3"},
    {"a(?#bc)", {}, "CHAR 'a'@0-2, EOF@5-8"},
};
INSTANTIATE_TEST_SUITE_P(Offsets, ScannerLocations, testing::ValuesIn(locations));

TEST(ScannerLocation, LineFeedStartsColumnZeroOfTheNextLine) {
    scan_result r = scan("a\n\\q");
    EXPECT_EQ(r.full, "CHAR 'a'@1-2,0-0/0-2, CHAR 'q'@2-2,1-3/3-5");
    EXPECT_EQ(r.err, "fp:2-2,1-3: warning: \\q has no special meaning here.\n");
}

// NUL bytes are ordinary input: characters in REGEX and QUOTED, unusable in a
// variable expression, and read like any other byte.
TEST(ScannerInput, NulBytesAreBytesLikeAnyOther) {
    using namespace std::string_literals;
    scan_result r = scan("a\0b\\Q\0\\E(?[\0])"s);
    EXPECT_EQ(r.located, "CHAR 'a'@0-2, CHAR 0@2-3, CHAR 'b'@3-4, CHAR 0@6-7, VAREXP_START@9-12, "
                         "ERROR@12-13, ']'@13-14, ')'@14-15, EOF@14-15");
    EXPECT_EQ(r.err, "fp:1-1,12-13: tokenization error: read char \0\n"s);
}

// A comment of a million bytes is skipped in time proportional to its length
// (scanning it as one match would take hours with one-byte reads).
TEST(ScannerLocation, LongCommentsAreSkipped) {
    const std::string body(1000000, 'x');
    scan_result line = scan("#" + body + "\na");
    EXPECT_EQ(line.full, "CHAR 'a'@2-2,1-2/1000003-1000004");
    scan_result group = scan("(?#" + body + ")a");
    EXPECT_EQ(group.full, "CHAR 'a'@1-1,1000005-1000006/1000005-1000006");
}

TEST(ScannerTokenList, NumbersFollowTheListFrom258) {
    int expected = 258;
    for (const auto &t : token_list)
        EXPECT_EQ(t.token, expected++) << t.name;
    EXPECT_EQ(expected, POST_INC + 1);
}

// Fills the pool's current chunk and makes it fail to get another, so that
// the next allocation from the pool fails.
void *no_memory(std::size_t) {
    return nullptr;
}
void exhaust_pool(tirvo_compile_ctx *ctx) {
    if (ctx->pool.left) {
        ASSERT_NE(tirvo_compile_zalloc(ctx, ctx->pool.left), nullptr);
    }
    ctx->pool.alloc_fn = no_memory;
}

TEST(ScannerMemory, IdentifierWithoutPoolIsAnError) {
    scan_ctx s("(?[abc])");
    ASSERT_EQ(s.setup(), 0);
    exhaust_pool(&s.ctx);
    scan_result r = s.run();
    EXPECT_EQ(r.tokens, "VAREXP_START, ERROR, ']', ')'");
    EXPECT_EQ(r.err, "memory allocation error\n");
    EXPECT_EQ(s.ctx.error, 2);
}

// The argument's "(" still opens a group in REGEX mode, but without its
// stack entry the closing ")" no longer returns to the variable expression.
TEST(ScannerMemory, RegexArgumentWithoutPoolStillEntersRegexMode) {
    scan_ctx s("(?[regex(a)])");
    ASSERT_EQ(s.setup(), 0);
    exhaust_pool(&s.ctx);
    scan_result r = s.run();
    EXPECT_EQ(r.tokens, "VAREXP_START, REGEX, ERROR, CHAR 'a', ')', CHAR ']', ')'");
    EXPECT_EQ(r.err, "memory allocation error\n");
    EXPECT_EQ(s.ctx.scan_position.paren_depth, 0);
}

TEST(ScannerDeathTest, ReadErrorEndsTheProcessWithStatus2) {
    EXPECT_EXIT(
        {
            scan_ctx s("");
            std::fclose(s.ctx.input_file);
            s.ctx.input_file = std::fopen("/dev/null", "w"); // reading it fails
            tirvo_parse_setup(&s.ctx);
            TIRVO_STYPE v;
            tirvo_location loc;
            tirvo_lex(&v, &loc, s.ctx.scanner);
        },
        testing::ExitedWithCode(2), "^fread failed\n$");
}

TEST(ParseError, MarksTheReportAndPrintsTheTextAfterThePrefix) {
    scan_ctx s("");
    const tirvo_location loc{2, 3, 4, 5, 6, 7};
    testing::internal::CaptureStderr();
    tirvo_parse_error(&loc, &s.ctx, "syntax error");
    tirvo_compile_set_vgr_output(&s.ctx);
    tirvo_parse_error(&loc, &s.ctx, "memory exhausted");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "fp:2-4,3-5: syntax error\n6-7: memory exhausted\n");
    EXPECT_TRUE(s.ctx.flags.error_reported);
}

TEST(ParseSetup, ClearsTheParseStateAndStartsAtLineOne) {
    scan_ctx s("a");
    s.ctx.saved_mode = 3;
    s.ctx.parse_flags = 0xff;
    s.ctx.current_situation = 9;
    s.ctx.in_subexp = 1;
    s.ctx.scan_position.paren_depth = 4;
    s.ctx.scan_position.offset = 17;
    ASSERT_EQ(s.setup(), 0);
    EXPECT_EQ(s.ctx.saved_mode, 0);
    EXPECT_EQ(s.ctx.parse_flags, 0);
    EXPECT_EQ(s.ctx.current_situation, 0u);
    EXPECT_EQ(s.ctx.in_subexp, 0);
    const tirvo_scan_position &p = s.ctx.scan_position;
    EXPECT_EQ(p.paren_depth, 0);
    EXPECT_EQ(p.first_column, 0);
    EXPECT_EQ(p.column, 0);
    EXPECT_EQ(p.first_line, 1);
    EXPECT_EQ(p.line, 1);
    EXPECT_EQ(p.first_offset, 0);
    EXPECT_EQ(p.offset, 0);
    EXPECT_EQ(p.regex_arg_stack, nullptr);
    ASSERT_NE(s.ctx.modifiers, nullptr);
    EXPECT_EQ(s.ctx.modifiers->flags, 0x1au);
    EXPECT_EQ(s.ctx.modifiers->enclosing, nullptr);
    EXPECT_NE(s.ctx.scanner, nullptr);
}

TEST(ParseSetup, ModifierRecordWithoutPoolIsErrorTwo) {
    scan_ctx s("a");
    tirvo_pool_setup(&s.ctx.pool, no_memory, std::free);
    EXPECT_EQ(s.setup(), 2);
    EXPECT_EQ(s.ctx.error, 2);
    EXPECT_EQ(s.ctx.modifiers, nullptr);
    // the scanner was made and is still destroyed by the cleanup
    EXPECT_NE(s.ctx.scanner, nullptr);
}

TEST(ParseSetup, PipelineMakesTheScannerAndCleanupDestroysIt) {
    tirvo_compile_ctx ctx;
    tirvo_compile_ctx_init(&ctx);
    FILE *f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    tirvo_compile_set_input(&ctx, f, "fp");
    tirvo_compile_set_syntax_check(&ctx);
    EXPECT_EQ(tirvo_compile_run(&ctx), 0);
    EXPECT_NE(ctx.scanner, nullptr);
    ASSERT_NE(ctx.modifiers, nullptr);
    EXPECT_EQ(ctx.modifiers->flags, TIRVO_MOD_DEFAULT);
    tirvo_compile_cleanup(&ctx);
    EXPECT_EQ(ctx.scanner, nullptr);
}

} // namespace
