// The parser trace (--parser-debug): its texts, and the numbering of the
// grammar's rules that it shows. The rule numbers are part of the trace's
// interface, so every rule is checked: a set of fingerprints reduces each
// rule at least once, and the trace tells which symbols each reduction took.
#include "automata/tirvo_charset.h"
#include "compiler/tirvo_compile_ctx.h"
#include "tests/lang/compiled.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>

namespace {

// The pipeline's run of `text` with the trace on.
struct traced : compiled {
    explicit traced(const std::string &text) : compiled(text, tirvo_compile_set_parser_debug) {}
};

// State numbers and grammar line numbers come from the generated tables;
// the texts around them, the rule numbers and the depth of the stack do not.
std::string normalised(const std::string &t) {
    std::istringstream lines(t);
    std::string line, s;
    while (std::getline(lines, line)) {
        if (line.rfind("Stack now", 0) == 0) {
            std::istringstream states(line.substr(9));
            line = "Stack now";
            for (std::string state; states >> state;)
                line += " S";
        } else if (line.rfind("Entering state ", 0) == 0) {
            line = "Entering state S";
        } else if (std::size_t at = line.find("(line "); at != std::string::npos) {
            line = line.substr(0, at) + "(line L" + line.substr(line.find(')', at));
        }
        s += line + "\n";
    }
    return s;
}

TEST(Trace, OfOneCharacter) {
    traced t("a");
    EXPECT_EQ(t.status, 0);
    EXPECT_EQ(normalised(t.err), "Starting parse\n"
                                 "Entering state S\n"
                                 "Stack now S\n"
                                 "Reading a token: Next token is token TOK_CHAR (: )\n"
                                 "Shifting token TOK_CHAR (: )\n"
                                 "Entering state S\n"
                                 "Stack now S S\n"
                                 "Reading a token: Now at end of input.\n"
                                 "Reducing stack by rule 52 (line L):\n"
                                 "   $1 = token TOK_CHAR (: )\n"
                                 "-> $$ = nterm atom (: )\n"
                                 "Entering state S\n"
                                 "Stack now S S\n"
                                 "Now at end of input.\n"
                                 "Reducing stack by rule 42 (line L):\n"
                                 "-> $$ = nterm multiplicity (: )\n"
                                 "Entering state S\n"
                                 "Stack now S S S\n"
                                 "Reducing stack by rule 38 (line L):\n"
                                 "   $1 = nterm atom (: )\n"
                                 "   $2 = nterm multiplicity (: )\n"
                                 "-> $$ = nterm piece (: )\n"
                                 "Entering state S\n"
                                 "Stack now S S\n"
                                 "Reducing stack by rule 16 (line L):\n"
                                 "   $1 = nterm piece (: )\n"
                                 "-> $$ = nterm branch_elem (: )\n"
                                 "Entering state S\n"
                                 "Stack now S S\n"
                                 "Reducing stack by rule 14 (line L):\n"
                                 "   $1 = nterm branch_elem (: )\n"
                                 "-> $$ = nterm branch (: )\n"
                                 "Entering state S\n"
                                 "Stack now S S\n"
                                 "Now at end of input.\n"
                                 "Reducing stack by rule 7 (line L):\n"
                                 "   $1 = nterm branch (: )\n"
                                 "-> $$ = nterm main_regex_branch (: )\n"
                                 "Entering state S\n"
                                 "Stack now S S\n"
                                 "Reducing stack by rule 5 (line L):\n"
                                 "   $1 = nterm main_regex_branch (: )\n"
                                 "-> $$ = nterm main_regex_ne (: )\n"
                                 "Entering state S\n"
                                 "Stack now S S\n"
                                 "Now at end of input.\n"
                                 "Reducing stack by rule 4 (line L):\n"
                                 "   $1 = nterm main_regex_ne (: )\n"
                                 "-> $$ = nterm main_regex (: )\n"
                                 "Entering state S\n"
                                 "Stack now S S\n"
                                 "Reducing stack by rule 1 (line L):\n"
                                 "   $1 = nterm main_regex (: )\n"
                                 "-> $$ = nterm input (: )\n"
                                 "Entering state S\n"
                                 "Stack now S S\n"
                                 "Now at end of input.\n"
                                 "Shifting token $end (: )\n"
                                 "Entering state S\n"
                                 "Stack now S S S\n"
                                 "Stack now S S S\n"
                                 "Cleanup: popping token $end (: )\n"
                                 "Cleanup: popping nterm input (: )\n");
}

TEST(Trace, OfASyntaxError) {
    traced t("(");
    EXPECT_EQ(t.status, 1);
    EXPECT_EQ(normalised(t.err), "Starting parse\n"
                                 "Entering state S\n"
                                 "Stack now S\n"
                                 "Reading a token: Next token is token '(' (: )\n"
                                 "Shifting token '(' (: )\n"
                                 "Entering state S\n"
                                 "Stack now S S\n"
                                 "Reducing stack by rule 50 (line L):\n"
                                 "-> $$ = nterm $@2 (: )\n"
                                 "Entering state S\n"
                                 "Stack now S S S\n"
                                 "Reading a token: Now at end of input.\n"
                                 "fp:1-1,0-2: syntax error, unexpected $end\n"
                                 "Error: popping nterm $@2 (: )\n"
                                 "Stack now S S\n"
                                 "Error: popping token '(' (: )\n"
                                 "Stack now S\n"
                                 "Shifting token error (: )\n"
                                 "Entering state S\n"
                                 "Stack now S S\n"
                                 "Reducing stack by rule 2 (line L):\n"
                                 "   $1 = token error (: )\n"
                                 "Cleanup: discarding lookahead token $end (: )\n"
                                 "Stack now S\n");
}

TEST(Trace, ReportsTheGrowthOfTheStack) {
    // Each "(" takes two entries (the token and the scope it opens), so 120
    // of them outgrow the first 200 entries once.
    traced t(std::string(120, '(') + "a" + std::string(120, ')'));
    EXPECT_EQ(t.status, 0);
    std::size_t at = t.err.find("Stack size increased to 400\n");
    EXPECT_NE(at, std::string::npos);
    EXPECT_EQ(t.err.find("Stack size increased", at + 1), std::string::npos);
}

TEST(Parser, StackOfMoreThan10000EntriesIsMemoryExhausted) {
    compiled r(std::string(5000, '(') + "a");
    EXPECT_EQ(r.status, 1);
    // State 0 and 4999 pairs of "(" and its scope fill 9999 entries; the
    // 5000th "(" (offset 4999, located 5000-5001 as every token after a
    // one-byte token) is the 10000th, and the stack cannot grow further.
    EXPECT_EQ(r.err, "fp:1-1,5000-5001: memory exhausted\n");
}

// The grammar's rules in the documented form: "lhs: (n) symbols ; (n) ...",
// "empty" for an empty alternative and "mid-rule-n" for a mid-rule action,
// which is rule n itself.
const char grammar[] = R"(input: (2) main_regex ; (3) error
main_regex: (4) empty ; (5) main_regex_ne
main_regex_ne: (6) main_regex_branch ; (7) main_regex_ne '|' main_regex_branch
main_regex_branch: (8) branch ; (9) branch any_condition ; (10) branch subexp ; (11) branch subexp any_condition
regex: (12) branches
branches: (13) branch ; (14) branches '|' branch
branch: (15) branch_elem ; (16) branch branch_elem
branch_elem: (17) piece ; (18) TOK_VAREXP_START subexp_bound v_exp_any ']' ')' ; (19) situation
modifier: (20) simple_modifier ; (22) TOK_MODIFIER_START modifier_content ':' mid-rule-21 regex ')' multiplicity
simple_modifier: (23) TOK_MODIFIER_START modifier_content ')' ; (24) deprecated_case_insensitive ; (25) deprecated_case_insensitive_end
modifier_content: (26) modifiers ; (27) modifiers '-' modifiers
modifiers: (28) empty ; (29) modifiers modifier_elem
modifier_elem: (30) 'i' ; (31) 's' ; (32) 'x' ; (33) 'L' ; (34) 'S' ; (35) 'C' ; (36) 'X'
situation: (37) TOK_SID_START any_uint '}' ')' ; (38) TOK_OLD_SID_START '{' any_uint '}'
piece: (39) atom multiplicity ; (40) modifier
deprecated_case_insensitive: (41) TOK_DEPRECATED_CASE_INSENSITIVE
deprecated_case_insensitive_end: (42) TOK_DEPRECATED_CASE_INSENSITIVE_END
multiplicity: (43) empty ; (44) '?' ; (45) '*' ; (46) '+' ; (47) '{' any_uint '}' ; (48) '{' any_uint ',' '}' ; (49) '{' ',' any_uint '}' ; (50) '{' any_uint ',' any_uint '}'
atom: (52) '(' mid-rule-51 regex ')' ; (53) TOK_CHAR ; (54) TOK_HEX_CHAR ; (55) any_char TOK_BITMASK any_char ; (56) '.' ; (57) bracket_exp
any_char: (58) TOK_CHAR ; (59) TOK_HEX_CHAR
bracket_exp: (60) '[' opt_caret bracket_elems ']' ; (61) predefined_bracket
predefined_bracket: (62) TOK_WORD_CHAR ; (63) TOK_NON_WORD_CHAR ; (64) TOK_WS_CHAR ; (65) TOK_NON_WS_CHAR ; (66) TOK_DIGIT_CHAR ; (67) TOK_NON_DIGIT_CHAR
opt_caret: (68) empty ; (69) '^'
bracket_elems: (70) empty ; (71) bracket_elems any_char ; (72) bracket_elems bracket_range ; (73) bracket_elems character_class
bracket_range: (74) any_char '-' any_char
character_class: (75) TOK_CCLASS_BEGIN opt_caret cclass_name TOK_CCLASS_END ; (76) TOK_WORD_CHAR ; (77) TOK_NON_WORD_CHAR ; (78) TOK_WS_CHAR ; (79) TOK_NON_WS_CHAR ; (80) TOK_DIGIT_CHAR ; (81) TOK_NON_DIGIT_CHAR
cclass_name: (82) TOK_CCLASS_ALNUM ; (83) TOK_CCLASS_ALPHA ; (84) TOK_CCLASS_BLANK ; (85) TOK_CCLASS_CNTRL ; (86) TOK_CCLASS_DIGIT ; (87) TOK_CCLASS_GRAPH ; (88) TOK_CCLASS_LOWER ; (89) TOK_CCLASS_PRINT ; (90) TOK_CCLASS_PUNCT ; (91) TOK_CCLASS_SPACE ; (92) TOK_CCLASS_UPPER ; (93) TOK_CCLASS_XDIGIT ; (94) TOK_CCLASS_ASCII ; (95) TOK_CCLASS_WORD
variable: (96) var_scope TOK_IDENTIFIER var_length
var_scope: (97) empty ; (98) '$'
var_length: (99) empty ; (100) '@' any_uint
v_exp_var: (101) variable
v_exp: (102) TOK_UINT1 ; (103) TOK_UINT8 ; (104) TOK_UINT16 ; (105) TOK_UINT32 ; (106) TOK_UINT64 ; (107) v_exp_var ; (108) TOK_VOID ; (109) TOK_MAJOR ; (110) TOK_MINOR ; (111) TOK_PATCH ; (112) TOK_BUILD ; (113) TOK_FPVER ; (114) TOK_DPORT ; (115) TOK_OFFSET ; (116) v_exp_any TOK_IMPLIES v_exp_any ; (117) v_exp_any TOK_SHLEFT v_exp_any ; (118) v_exp_any TOK_SHRIGHT v_exp_any ; (119) v_exp_any TOK_LEQ v_exp_any ; (120) v_exp_any TOK_GEQ v_exp_any ; (121) v_exp_any TOK_EQ v_exp_any ; (122) v_exp_any TOK_NEQ v_exp_any ; (123) v_exp_any TOK_LOG_AND v_exp_any ; (124) v_exp_any TOK_LOG_OR v_exp_any ; (125) v_exp_var TOK_A_MULTIPLY v_exp_any ; (126) v_exp_var TOK_A_DIVIDE v_exp_any ; (127) v_exp_var TOK_A_REM v_exp_any ; (128) v_exp_var TOK_A_PLUS v_exp_any ; (129) v_exp_var TOK_A_MINUS v_exp_any ; (130) v_exp_var TOK_A_SHLEFT v_exp_any ; (131) v_exp_var TOK_A_SHRIGHT v_exp_any ; (132) v_exp_var TOK_A_BIT_AND v_exp_any ; (133) v_exp_var TOK_A_BIT_OR v_exp_any ; (134) v_exp_var TOK_A_BIT_XOR v_exp_any ; (135) v_exp_var TOK_PLUSPLUS ; (136) v_exp_var TOK_MINUSMINUS ; (137) TOK_PLUSPLUS v_exp_var ; (138) TOK_MINUSMINUS v_exp_var ; (139) v_exp_any ',' v_exp_any ; (140) v_exp_var '=' v_exp_any ; (141) v_exp_any '|' v_exp_any ; (142) v_exp_any '^' v_exp_any ; (143) v_exp_any '&' v_exp_any ; (144) v_exp_any '<' v_exp_any ; (145) v_exp_any '>' v_exp_any ; (146) v_exp_any '+' v_exp_any ; (147) v_exp_any '-' v_exp_any ; (148) v_exp_any '*' v_exp_any ; (149) v_exp_any '/' v_exp_any ; (150) v_exp_any '%' v_exp_any ; (151) '+' v_exp_any ; (152) '-' v_exp_any ; (153) '!' v_exp_any ; (154) '~' v_exp_any ; (155) TOK_CANCEL ; (156) TOK_CANCEL_FP_CTX ; (157) v_exp_any '?' v_exp_any ':' v_exp_any ; (158) TOK_SID '(' ')' ; (159) TOK_SID '(' v_exp_any ')' ; (160) TOK_CRC '(' v_exp_any ')' ; (161) TOK_SKIP '(' v_exp_any ')' ; (162) TOK_PARSE_BE '(' any_uint ')' ; (163) TOK_PARSE_LE '(' any_uint ')' ; (164) TOK_PARSE_DEC '(' v_exp_any ')' ; (165) TOK_PARSE_HEX '(' v_exp_any ')' ; (166) TOK_PARSE_OCT '(' v_exp_any ')' ; (167) TOK_PARSE_INT '(' v_exp_any ')' ; (169) TOK_REGEX subexp_bound '(' mid-rule-168 regex ')' ; (171) TOK_RECORD_MARKING subexp_bound '(' mid-rule-170 regex ')' ; (172) '(' v_exp_any ')' ; (173) TOK_CAST v_exp_any
v_exp_any: (174) v_exp
any_uint: (175) TOK_UINT1 ; (176) TOK_UINT8 ; (177) TOK_UINT16 ; (178) TOK_UINT32 ; (179) TOK_UINT64
subexp_bound: (180) empty ; (181) '*' ; (182) '{' any_uint '}'
any_condition: (183) condition opt_simple_modifiers ; (184) deprecated_condition opt_simple_modifiers
opt_simple_modifiers: (185) empty ; (186) opt_simple_modifiers simple_modifier
condition: (187) TOK_CONDITION_START cond_exp '}' ')'
deprecated_condition: (188) TOK_DEPRECATED_CONDITION_START cond_exp '}'
cond_exp: (189) cond_condition ; (190) cond_condition TOK_IMPLIES cond_setting ; (191) cond_setting
cond_condition: (192) cond_condition_elem ; (193) cond_condition TOK_LOG_AND cond_condition_elem
cond_condition_elem: (194) TOK_IDENTIFIER cond_condition_oper TOK_UINT1 ; (195) TOK_OFFSET cond_offset_oper any_uint
cond_condition_oper: (196) TOK_EQ ; (197) TOK_NEQ
cond_offset_oper: (198) TOK_EQ ; (199) TOK_NEQ ; (200) '<' ; (201) TOK_LEQ ; (202) '>' ; (203) TOK_GEQ
cond_setting: (204) cond_setting_elem ; (205) cond_setting ',' cond_setting_elem
cond_setting_elem: (206) TOK_IDENTIFIER cond_setting_oper TOK_UINT1 ; (207) TOK_IGNORE
cond_setting_oper: (208) '=' ; (209) TOK_A_BIT_XOR
subexp: (211) TOK_SUBEXP_START subexp_bound precond mid-rule-210 regex ')' opt_simple_modifiers
precond: (212) empty ; (213) TOK_CONDITION_START cond_condition '}' ')'
)";

// The symbols of a rule as the tests compare them: mid-rule actions, written
// "mid-rule-n" in the grammar and "$@n" in the trace, are "mid-rule".
std::string symbols(const std::string &text) {
    std::istringstream in(text);
    std::string out;
    for (std::string sym; in >> sym;) {
        if (sym.rfind("mid-rule-", 0) == 0 || sym.rfind("$@", 0) == 0)
            sym = "mid-rule";
        out += (out.empty() ? "" : " ") + sym;
    }
    return out == "empty" ? "" : out;
}

// Rule number -> "lhs: symbols"; a mid-rule action is "mid-rule: ".
std::map<int, std::string> documented_rules() {
    std::map<int, std::string> rules;
    std::istringstream lines(grammar);
    std::string line;
    while (std::getline(lines, line)) {
        const std::string lhs = line.substr(0, line.find(':'));
        for (std::size_t at = line.find('('); at != std::string::npos;) {
            const std::size_t close = line.find(") ", at);
            const int n = std::stoi(line.substr(at + 1, close - at - 1));
            const std::size_t end = line.find(" ; (", close);
            const std::string rhs = line.substr(
                close + 2, end == std::string::npos ? std::string::npos : end - close - 2);
            if (std::size_t mid = rhs.find("mid-rule-"); mid != std::string::npos)
                rules[std::stoi(rhs.substr(mid + 9))] = "mid-rule: ";
            rules[n] = lhs + ": " + symbols(rhs);
            at = end == std::string::npos ? end : end + 3;
        }
    }
    return rules;
}

// The name in a trace symbol "token NAME (: )" or "nterm NAME (: )".
std::string symbol_name(const std::string &s) {
    const std::size_t from = s.find(' ') + 1;
    return s.substr(from, s.rfind(" (: )") - from);
}

// What the trace shows of every reduction: trace number + 1 -> "lhs:
// symbols". A reduction whose action ended the parse shows no result; its
// left side is then "?".
void collect_reductions(const std::string &trace, std::map<int, std::string> *seen) {
    std::istringstream lines(trace);
    std::string line;
    int rule = -1;
    std::string rhs;
    auto flush = [&](const std::string &lhs) {
        if (rule >= 0)
            (*seen)[rule + 1] = lhs + ": " + symbols(rhs);
        rule = -1;
    };
    const std::string reducing = "Reducing stack by rule ";
    const std::string result = "-> $$ = ";
    while (std::getline(lines, line)) {
        if (line.rfind("fp:", 0) == 0)
            continue; // a message of the action, printed before its result
        if (line.rfind(reducing, 0) == 0) {
            flush("?");
            rule = std::stoi(line.substr(reducing.size()));
            rhs.clear();
        } else if (rule >= 0 && line.rfind("   $", 0) == 0) {
            rhs += " " + symbol_name(line.substr(line.find(" = ") + 3));
        } else if (rule >= 0 && line.rfind(result, 0) == 0) {
            flush(symbols(symbol_name(line.substr(result.size()))));
        } else {
            flush("?");
        }
    }
    flush("?");
}

TEST(RuleNumbers, AreTheDocumentedOnes) {
    // Together these reduce every rule; the last one is a syntax error.
    const char *fingerprints[] = {
        "",
        "(?isxLSCX-i:a|b)?c*d+e{1}f{1,}g{,2}h{1,2}(i)\\x41.\\xf0\\&\\x40\\C\\E(?i)j",
        "(?I{1})\\w\\W\\s\\S\\d\\D[^a\\x41b-c[:^alpha:][:alnum:][:blank:][:cntrl:][:digit:]"
        "[:graph:][:lower:][:print:][:punct:][:space:][:upper:][:xdigit:][:ascii:][:word:]"
        "\\w\\W\\s\\S\\d\\D]",
        "\\s{7}a{256}b{65536,}(?I{4294967296})c",
        "(?I{9})a(?[x = $y@8, z@16 *= 1, z@16 /= 1, z@16 %= 1, z@16 += 1, z@16 -= 1, "
        "z@16 <<= 1, z@16 >>= 1, z@16 &= 1, z@16 |= 1, z@16 ^= 1, x++, x--, ++x, --x, "
        "1 -> 255 ? 65535 : 4294967295, 4294967296 << 1 >> 1 <= 1 >= 1 == 1 != 1 && 1 || 1, "
        "1 | 1 ^ 1 & 1 < 1 > 1 + 1 - 1 * 1 / 1 % 1, +1, -1, !1, ~1, cancel, cancel_fp_ctx, "
        "sid(), sid(1), CRC(1), skip(1), parse_be(8), parse_le(8), parse_dec(1), parse_hex(1), "
        "parse_oct(1), parse_int(1), regex(a), regex*(a), record_marking{3}(a), (1), "
        "(uint8_t) 1, void, $offset, $major, $minor, $patch, $build, $fpver, $dport])",
        "(?I{2})a(?{x == 1 && y != 0 && $offset == 1 && $offset != 1 && $offset < 1 && "
        "$offset <= 1 && $offset > 1 && $offset >= 1 -> z = 1, w ^= 1, ignore})(?i)"
        "|b(?{x == 1})|c(?{y = 1})|d\\p{x == 1}",
        "a(?>{2}(?{x == 1})b)(?{y == 1})|c(?>d)",
        "(",
    };
    std::map<int, std::string> seen;
    for (const char *fp : fingerprints) {
        traced t(fp);
        EXPECT_EQ(t.status, std::string(fp) == "(" ? 1 : 0) << fp << "\n" << t.err;
        collect_reductions(t.err, &seen);
    }
    const std::map<int, std::string> rules = documented_rules();
    ASSERT_EQ(rules.size(), 212u); // rules 2 to 213
    for (const auto &[n, rule] : rules) {
        auto it = seen.find(n);
        if (it == seen.end()) {
            ADD_FAILURE() << "rule " << n << " (" << rule << ") was not reduced";
            continue;
        }
        // Only the error rule ends the parse in its action, so its trace
        // shows no result.
        const std::string expected = n == 3 ? "?: error" : rule;
        EXPECT_EQ(it->second, expected) << "rule " << n;
    }
    EXPECT_EQ(seen.size(), rules.size());
}

} // namespace
