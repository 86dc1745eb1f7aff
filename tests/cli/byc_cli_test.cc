// The byte-code stage through the built tirvo_compile: the -B listings
// (before and after the jump optimisation, the maximum stack size and the
// path that reaches it), the messages and exit status 6 of expressions that
// do not compile, the 10000-byte limit, and which expressions a syntax check
// (-S, which now ends after the byte code) accepts.
//
// A fingerprint that is one variable expression "(?[...])" of n characters
// is located at "1-1,0-<n+1>" (offsets "0-<n+1>" with -M): the expression's
// range ends after the look-ahead the parser read past its closing bracket.
#include "tests/support/run_program.h"
#include "tests/support/temp_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace {

run_result compile(std::vector<std::string> args) {
    args.insert(args.begin(), TIRVO_COMPILE_PATH);
    return run_program(args);
}

const std::string failed = "error in fingerprint compiling: 6\n";

// `text` with what follows each `marker` up to the next ':' or line end
// replaced by "#": hides source line numbers and parser positions.
std::string mask(const std::string &text, const std::string &marker) {
    std::string out;
    size_t from = 0;
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, from)) {
        out.append(text, from, at + marker.size() - from).append("#");
        from = std::min(text.find_first_of(":\n", at + marker.size()), text.size());
    }
    return out.append(text, from, std::string::npos);
}

// The location text of a fingerprint that is one expression.
std::string whole(const std::string &fp) {
    return "1-1,0-" + std::to_string(fp.size() + 1);
}

// One line of a program listing: the position in four digits, the mnemonic
// left-aligned in 15 characters, a blank and the operands.
std::string ins(int pos, const std::string &mnemonic, const std::string &operands = "") {
    char line[80];
    std::snprintf(line, sizeof line, "%04d: %-15s %s\n", pos, mnemonic.c_str(), operands.c_str());
    return line;
}

std::string end(int pos) {
    char line[16];
    std::snprintf(line, sizeof line, "%04d:\n", pos);
    return line;
}

// One program's listing: header, code, end stack size, relocations.
std::string program(const std::string &where, const std::string &code, int end_stack,
                    const std::string &relocs) {
    return "Byte code from varexp@" + where + ":\n" + code +
           "End stack size: " + std::to_string(end_stack) + "\nRelocation information:\n" + relocs;
}

// Everything -B prints for one program.
std::string show(const std::string &where, const std::string &before, const std::string &after,
                 int end_stack, const std::string &relocs, int max, const std::string &path) {
    return "Byte code without jump optimization:\n" + program(where, before, end_stack, relocs) +
           "Byte code with jump optimization:\n" + program(where, after, end_stack, relocs) +
           "max stack size: " + std::to_string(max) +
           "\nreverse execution path to max stack size:" + path + "\n";
}

std::string var(int pos, const std::string &name, int shared, int size, int id) {
    return "  pos: " + std::to_string(pos) + ": variable: " + name +
           " (is_shared: " + std::to_string(shared) + ", size: " + std::to_string(size) +
           ", id: " + std::to_string(id) + ")\n";
}

struct listing_case {
    const char *name;
    std::vector<std::string> options; // before "-l fp"
    std::string fp;
    std::string out;
};

void PrintTo(const listing_case &c, std::ostream *os) {
    *os << c.name;
}

class Listing : public testing::TestWithParam<listing_case> {};

TEST_P(Listing, ShowsTheProgramBeforeAndAfterJumpOptimisation) {
    const listing_case &c = GetParam();
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"-S", "-B", "-l", c.fp});
    run_result r = compile(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, c.out);
}

// a == 1 || b == 0 in the general form; no skip can be shortened.
const std::string or_code = ins(0, "PUSH1_TO32", "0") + ins(4, "PUSH32_LIT", "1") + ins(9, "EQ32") +
                            ins(10, "POP32_SKIP_NZ", "FW 23") + ins(14, "PUSH1_TO32", "0") +
                            ins(18, "PUSH32_LIT", "0") + ins(23, "EQ32") +
                            ins(24, "POP32_SKIP_NZ", "FW 9") + ins(28, "PUSH32_LIT", "0") +
                            ins(33, "SKIP", "FW 5") + ins(37, "PUSH32_LIT", "1") + end(42);

// x@8 && y@8 -> z = 1: both tests of "&&" skip to its "PUSH32_LIT 0", which
// only feeds the "POP32_SKIP_Z" of "->"; the optimisation sends them on to
// the end (44) at once.
std::string implies_code(int first_skip, int second_skip) {
    return ins(0, "PUSH8_TO32", "0") + ins(4, "POP32_SKIP_Z", "FW " + std::to_string(first_skip)) +
           ins(8, "PUSH8_TO32", "0") +
           ins(12, "POP32_SKIP_Z", "FW " + std::to_string(second_skip)) +
           ins(16, "PUSH32_LIT", "1") + ins(21, "SKIP", "FW 5") + ins(25, "PUSH32_LIT", "0") +
           ins(30, "POP32_SKIP_Z", "FW 10") + ins(34, "PUSH32_LIT", "1") +
           ins(39, "COPY32_TO1", "0") + ins(43, "POP_DISCARD32") + end(44);
}

const std::string chain_code = ins(0, "SKIP_VARBIT_Z", "0, FW 16") +
                               ins(7, "SKIP_VARBIT_NZ", "0, FW 9") + ins(14, "PUSH32_LIT", "1") +
                               ins(19, "SKIP", "FW 5") + ins(23, "PUSH32_LIT", "0") + end(28);

const std::string ab_vars = var(1, "a", 0, 1, 0);

const std::string post_inc_code = ins(0, "PUSH8_TO32", "0") + ins(4, "INC32") +
                                  ins(5, "COPY32_TO8", "0") + ins(9, "DEC32") + end(10);

const std::string x8_vars = var(1, "x", 0, 8, 0) + var(6, "x", 0, 8, 0);

const std::string wide_eq_code = ins(0, "PUSH64_TO64", "0") + ins(4, "PUSH32_LIT", "5") +
                                 ins(9, "CAST32_TO64") + ins(10, "EQ64") + end(11);

// clang-format off
const listing_case listings[] = {
    {"VoidIsAnEmptyProgram", {}, "(?[void])",
     show("1-1,0-10", end(0), end(0), 0, "", 0, " 0")},
    // Written out in full once, blanks and all.
    {"AssignmentToASharedVariable", {}, "(?[$x@32 = 5])",
     "Byte code without jump optimization:\n"
     "Byte code from varexp@1-1,0-15:\n"
     "0000: PUSH32_LIT      5\n"
     "0005: COPY32_TO32     0\n"
     "0009:\n"
     "End stack size: 4\n"
     "Relocation information:\n"
     "  pos: 6: variable: x (is_shared: 1, size: 32, id: 0)\n"
     "Byte code with jump optimization:\n"
     "Byte code from varexp@1-1,0-15:\n"
     "0000: PUSH32_LIT      5\n"
     "0005: COPY32_TO32     0\n"
     "0009:\n"
     "End stack size: 4\n"
     "Relocation information:\n"
     "  pos: 6: variable: x (is_shared: 1, size: 32, id: 0)\n"
     "max stack size: 4\n"
     "reverse execution path to max stack size: 5 0\n"},
    // 28 bytes; both tests skip to 23; the maximum is first reached at 19,
    // on the path where both tests pass.
    {"ChainOfOneBitTests", {}, "(?[a == 1 && b == 0])",
     show("1-1,0-22", chain_code, chain_code, 4, ab_vars + var(8, "b", 0, 1, 1), 4,
          " 19 14 7 0")},
    {"OrTakesTheGeneralForm", {}, "(?[a == 1 || b == 0])",
     show("1-1,0-22", or_code, or_code, 4, ab_vars + var(15, "b", 0, 1, 1), 8, " 9 4 0")},
    // The literal is widened; the comparison is counted as leaving 8 bytes.
    {"WideComparison", {}, "(?[$v@64 == 5])",
     show("1-1,0-16", wide_eq_code, wide_eq_code, 4, var(1, "v", 1, 64, 0), 16, " 10 9 4 0")},
    {"PostIncrement", {}, "(?[x@8++])",
     show("1-1,0-11", post_inc_code, post_inc_code, 4, x8_vars, 4, " 4 0")},
    {"VgrListsOffsets", {"-M"}, "(?[x@8++])",
     show("0-11", post_inc_code, post_inc_code, 4, x8_vars, 4, " 4 0")},
    {"SkipsLandingOnATestedLiteralAreRedirected", {}, "(?[x@8 && y@8 -> z = 1])",
     show("1-1,0-25", implies_code(17, 9), implies_code(36, 28), 0,
          var(1, "x", 0, 8, 0) + var(9, "y", 0, 8, 1) + var(40, "z", 0, 1, 2), 4, " 4 0")},
    {"SubexpressionAndSituation", {}, "(?[regex(ab), sid(7)])",
     show("1-1,0-23", ins(0, "SUBDFA", "1") + ins(4, "SID_LIT", "7") + end(9),
          ins(0, "SUBDFA", "1") + ins(4, "SID_LIT", "7") + end(9), 0,
          "  pos: 1: regex_entry id\n  pos: 5: sid literal\n", 0, " 0")},
    // The variables are listed after the parse and before the byte code.
    {"VariablesComeFirst", {"--show-variables"}, "(?[$y@16])",
     "Variables:\n  $y@16 (id 0)\n" +
         show("1-1,0-11", ins(0, "PUSH16_TO32", "0") + end(4), ins(0, "PUSH16_TO32", "0") + end(4),
              4, var(1, "y", 1, 16, 0), 4, " 4 0")},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Programs, Listing, testing::ValuesIn(listings),
                         [](const testing::TestParamInfo<listing_case> &i) {
                             return std::string(i.param.name);
                         });

TEST(Listing, BranchesReachTheirOwnMaximum) {
    // c ? y@8 : v@64: the narrow branch is widened. The 64-bit branch (the
    // skip target) is walked first and reaches 8 bytes at 21; the other
    // branch reaches 8 bytes at 13 first, a lower position, so the path
    // goes back through the widening.
    const std::string code = ins(0, "PUSH1_TO32", "0") + ins(4, "POP32_SKIP_Z", "FW 9") +
                             ins(8, "PUSH8_TO32", "0") + ins(12, "CAST32_TO64") +
                             ins(13, "SKIP", "FW 4") + ins(17, "PUSH64_TO64", "0") + end(21);
    std::string fp = "(?[c ? y@8 : v@64])";
    run_result r = compile({"-S", "-B", "-l", fp});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, show(whole(fp), code, code, 8,
                          var(1, "c", 0, 1, 0) + var(9, "y", 0, 8, 1) + var(18, "v", 0, 64, 2), 8,
                          " 13 12 8 4 0"));
}

// ---------------------------------------------------------------------------
// Expressions that do not compile.

const std::string void_message = "tirvo_byc.cc: #: unexpected void argument\n";
const std::string offset_message = "\"offset\" variable can only be used as \"$offset\", no "
                                   "size specifiers, only with \"$\" at #\n";

// Standard error with the source line of a void check and the position of an
// offset variable hidden.
std::string masked(const std::string &err) {
    return mask(mask(err, "tirvo_byc.cc: "), "only with \"$\" at ");
}

struct check_case {
    const char *fp;
    int status;
};

std::ostream &operator<<(std::ostream &os, const check_case &c) {
    return os << c.fp;
}

struct failure_case {
    const char *name;
    std::vector<std::string> args;
    std::string err; // standard error, masked
};

void PrintTo(const failure_case &c, std::ostream *os) {
    *os << c.name;
}

class Failure : public testing::TestWithParam<failure_case> {};

TEST_P(Failure, ReportsTheCodeAndExitsWithSix) {
    const failure_case &c = GetParam();
    run_result r = compile(c.args);
    EXPECT_EQ(r.status, 6);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(masked(r.err), c.err);
}

// clang-format off
const failure_case failures[] = {
    {"VoidOperand", {"-S", "-l", "(?[x@8 + void])"},
     void_message + "byc compile error: 5\n" + failed},
    {"VoidOperandInVgrMode", {"-M", "-S", "-l", "(?[x@8 + void])"},
     void_message + "byc compile error: 5\n"},
    {"OffsetWithASize", {"-S", "-l", "(?[offset@8 + 1])"},
     offset_message + "byc compile error: 4\n" + failed},
    {"OffsetWithoutDollar", {"-S", "-l", "(?[offset])"},
     offset_message + "byc compile error: 4\n" + failed},
    // Only the first failing expression is reported.
    {"FirstFailureStops", {"-S", "-l", "(?[x++])(?[y@8 + void])(?[!cancel])"},
     void_message + "byc compile error: 5\n" + failed},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Expressions, Failure, testing::ValuesIn(failures),
                         [](const testing::TestParamInfo<failure_case> &i) {
                             return std::string(i.param.name);
                         });

TEST(Failure, ListingsStopAtTheFailingExpression) {
    run_result r = compile({"-S", "-B", "-l", "(?[x++])(?[y@8 + void])(?[z++])"});
    EXPECT_EQ(r.status, 6);
    size_t headers = 0;
    for (size_t at = r.out.find("Byte code from varexp@"); at != std::string::npos;
         at = r.out.find("Byte code from varexp@", at + 1))
        ++headers;
    EXPECT_EQ(headers, 2u); // the first program, before and after the optimisation
    EXPECT_NE(r.out.find("max stack size: 4\n"), std::string::npos);
    EXPECT_EQ(masked(r.err), void_message + "byc compile error: 5\n" + failed);
}

TEST(Failure, NoFingerprintFileAfterASyntaxCheck) {
    temp_dir dir;
    const check_case cases[] = {{"(?[x@8 + void])", 6}, {"(?[x@8 + 1])", 0}};
    for (const check_case &c : cases) {
        run_result r = compile({"-S", "-s", dir.file("out.fp"), "-l", c.fp});
        EXPECT_EQ(r.status, c.status) << c.fp;
        bool exists = false;
        read_file(dir.file("out.fp"), &exists);
        EXPECT_FALSE(exists) << c.fp;
    }
}

// ---------------------------------------------------------------------------
// The 10000-byte limit. y@8 + y@8 + ... with 2000 terms is 4 + 5 * 1999 =
// 9999 bytes; a negation makes 10000, a complement on top one too many.

std::string sum(int terms) {
    std::string s = "y@8";
    for (int i = 1; i < terms; ++i)
        s += " + y@8";
    return s;
}

run_result compile_file(const std::string &fp) {
    temp_dir dir;
    write_file(dir.file("fp.txt"), fp);
    return compile({"-S", "-f", dir.file("fp.txt")});
}

TEST(Limit, TenThousandBytesCompile) {
    run_result r = compile_file("(?[-(" + sum(2000) + ")])");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

TEST(Limit, OneByteMoreIsError1) {
    run_result r = compile_file("(?[~-(" + sum(2000) + ")])");
    EXPECT_EQ(r.status, 6);
    EXPECT_EQ(r.err, "byc compile error: 1\n" + failed);
}

TEST(Limit, HugeExpressionsFailQuickly) {
    // Far more terms than fit, nested far deeper than the compiler walks,
    // and a chain of one-bit tests far longer than fits.
    std::string tests = "a == 1";
    for (int i = 0; i < 100000; ++i)
        tests += " && a == 1";
    for (const std::string &fp : {"(?[" + sum(200000) + "])", "(?[" + tests + "])"}) {
        run_result r = compile_file(fp);
        EXPECT_EQ(r.status, 6);
        EXPECT_EQ(r.err, "byc compile error: 1\n" + failed);
    }
}

// ---------------------------------------------------------------------------
// What a syntax check accepts.

class SyntaxCheck : public testing::TestWithParam<check_case> {};

TEST_P(SyntaxCheck, CompilesEveryExpressionOrFailsWithSix) {
    run_result r = compile({"-q", "-S", "-l", GetParam().fp});
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, GetParam().status) << r.err;
    if (GetParam().status == 0) {
        EXPECT_EQ(r.err, "");
    } else {
        EXPECT_NE(r.err.find("byc compile error: "), std::string::npos) << r.err;
    }
}

// clang-format off
const check_case checks[] = {
    {"(?[x++])", 0},
    {"(?[void])", 0},
    {"(?[$offset > 5])", 0},
    {"(?[offset@32 + 1])", 0},
    {"(?[(void) x@8])", 0},
    {"(?[skip(4)])", 0},
    {"(?[CRC(10) == 5])", 0},
    {"(?[parse_int(8) > 3 -> sid(2)])", 0},
    {"(?[parse_be(24) + parse_le(64)])", 0},
    {"(?[parse_dec(3), parse_hex(4), parse_oct(5)])", 0},
    {"(?[regex{3}(ab), record_marking(x)])", 0},
    {"(?[cancel, cancel_fp_ctx])", 0},
    {"(?I{5})a(?{x == 1 && y == 0 -> z = 1})", 0},
    {"(?I{5})abc(?>{2}(?{x == 1})def)(?{y == 0})", 0},
    {"(?[x@64 << 1, 1 << x@64])", 0},
    {"(?[c ? void : 5])", 0},
    {"(?[$major + $minor + $patch + $build + $fpver + $dport])", 0},
    {"(?[~-!x@16])", 0},
    {"(?[(uint64_t) x@8 * (uint8_t) y@64 / 3 % 2 - 1])", 0},
    {"(?[a@32 *= 2, a@32 /= 2, a@32 %= 2, a@32 += 2, a@32 -= 2, a@32 <<= 2, a@32 >>= 2, "
     "a@32 &= 2, a@32 |= 2, a@32 ^= 2])", 0},
    {"(?[x@8-- <= --x@8 || ++x@8 >= x@8++ && x@8 != 3 & 1 ^ 2 | 4])", 0},
    {"(?[x@8 + void])", 6},
    {"(?[offset@8])", 6},
    {"(?[offset])", 6},
    {"(?[!cancel])", 6},
    {"(?[sid(skip(2))])", 6},
    {"(?[x@8 = skip(4)])", 6},
    {"(?[(uint8_t) void])", 6},
    {"(?[skip(cancel)])", 6},
    {"(?[void && x])", 6},
    {"(?[x || sid(3)])", 6},
    {"(?[x += void])", 6},
    {"(?[-void])", 6},
    {"(?[CRC(cancel)])", 6},
    {"(?[parse_dec(regex(a))])", 6},
    {"(?[x@8 < (void) 1])", 6},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Expressions, SyntaxCheck, testing::ValuesIn(checks));

} // namespace
