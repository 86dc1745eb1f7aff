// The byte-code compiler on expression trees built by hand: the code of every
// operator at both widths, the compact form of one-bit tests, the jump
// optimisation and the stack-size analysis on hand-written code, the compile
// step (final programs, bounds, failures, limits), and a run over many random
// fingerprints through the whole front end whose programs are checked by a
// separate simulation of the stack.
//
// Code is compared as its listing with the blanks squeezed: "0004: INC32".
// Relocation entries are written "pos name@size" for variables (with "$" for
// a shared one), "pos sid" and "pos entry".
#include "tests/support/temp_file.h"
#include "automata/tirvo_charset.h"
#include "byc/tirvo_byc.h"
#include "byc/tirvo_variable.h"
#include "compiler/tirvo_compile_ctx.h"
#include "lang/tirvo_parse_tree.h"
#include "lang/tirvo_varexp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

// Collapses runs of blanks and drops blanks before line ends.
std::string squeeze(const std::string &s) {
    std::string out;
    for (char c : s) {
        if (c == ' ' && !out.empty() && out.back() == ' ')
            continue;
        if (c == '\n' && !out.empty() && out.back() == ' ')
            out.pop_back();
        out += c;
    }
    return out;
}

std::string code_text(const tirvo_bycp *p) {
    char *data = nullptr;
    std::size_t size = 0;
    FILE *f = open_memstream(&data, &size);
    tirvo_byc_print_code(f, p->byc, p->byc_len, "");
    std::fclose(f);
    std::string s(data, size);
    std::free(data);
    return squeeze(s);
}

std::string reloc_text(const tirvo_bycp *p) {
    std::string s;
    dl_list_for_each(pos, &p->relocs) {
        const rle *e = dl_list_entry(pos, rle, list);
        s += (s.empty() ? "" : ", ") + std::to_string(e->pos) + " ";
        if (e->type == tirvo_rle_type_sid_literal)
            s += "sid";
        else if (e->type == tirvo_rle_type_regex_entry_id)
            s += "entry";
        else
            s += std::string(e->variable->is_shared ? "$" : "") + e->variable->name + "@" +
                 std::to_string(e->variable->size);
    }
    return s;
}

// A compile context with its pool, trees built in it, and one program over a
// buffer of the compiler's size.
struct env {
    tirvo_compile_ctx ctx;
    std::vector<uint8_t> buf = std::vector<uint8_t>(TIRVO_BYC_BUFFER_SIZE);
    tirvo_bycp prog;
    tirvo_location at{1, 2, 1, 4, 2, 4};

    env() {
        tirvo_compile_ctx_init(&ctx);
        tirvo_pool_setup(&ctx.pool, std::malloc, std::free);
        ctx.input_name = "fp";
        ctx.flags.quiet = 1;
        tirvo_bycp_init(&prog, buf.data(), TIRVO_BYC_BUFFER_SIZE);
    }
    ~env() { tirvo_pool_release_all(&ctx.pool); }
    env(const env &) = delete;
    env &operator=(const env &) = delete;

    tirvo_varexp *lit(uint64_t v, int size) { return tirvo_varexp_new_literal(&ctx, v, size, &at); }

    // "[$]name[@size]"; the size is 1 without "@".
    tirvo_varexp *var(const char *written, const tirvo_location *loc = nullptr) {
        bool shared = written[0] == '$';
        std::string name = written + (shared ? 1 : 0);
        int size = 1;
        if (auto a = name.find('@'); a != std::string::npos) {
            size = std::stoi(name.substr(a + 1));
            name.resize(a);
        }
        auto *text = static_cast<char *>(tirvo_compile_zalloc(&ctx, name.size() + 1));
        std::memcpy(text, name.c_str(), name.size());
        tirvo_variable *v = tirvo_variable_register(&ctx, text, shared, size, loc ? loc : &at);
        return tirvo_varexp_new_variable(&ctx, v, &at);
    }

    tirvo_varexp *op(tirvo_varexp_oper o, int size, tirvo_varexp *a = nullptr,
                     tirvo_varexp *b = nullptr, tirvo_varexp *c = nullptr) {
        int n = (a != nullptr) + (b != nullptr) + (c != nullptr);
        return tirvo_varexp_new(&ctx, o, n, a, b, c, size, &at);
    }

    tirvo_varexp *entry(tirvo_varexp_oper o, int id) {
        auto *e = tirvo_compile_new<tirvo_regex_entry>(&ctx);
        e->id = id;
        return tirvo_varexp_new_entry(&ctx, o, e, &at);
    }

    // A variable-expression entry for the compile step.
    tirvo_varexp_entry *add(tirvo_varexp *x, uint32_t bound = 1) {
        auto *e = tirvo_compile_new<tirvo_varexp_entry>(&ctx);
        e->id = ctx.num_varexp_entries++;
        e->varexp = x;
        e->bound = bound;
        dl_list_append(&ctx.varexp_entries, &e->list);
        return e;
    }

    int compile(const tirvo_varexp *x) { return tirvo_byc_compile_varexp(&ctx, &prog, x); }
};

// True when `err` is the void-operand message, whose line number names the
// check in the compiler's source, followed by `rest`.
bool is_void_message(const std::string &err, const std::string &rest = "") {
    const std::string head = "tirvo_byc.cc: ", tail = ": unexpected void argument\n" + rest;
    if (err.size() <= head.size() + tail.size() || err.compare(0, head.size(), head) != 0 ||
        err.compare(err.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    std::string line = err.substr(head.size(), err.size() - head.size() - tail.size());
    return line.find_first_not_of("0123456789") == std::string::npos;
}

// ---------------------------------------------------------------------------
// Code per operator.

struct gen_case {
    const char *name;
    std::function<tirvo_varexp *(env &)> build;
    const char *code;   // squeezed listing
    const char *relocs; // relocation entries
};

void PrintTo(const gen_case &c, std::ostream *os) {
    *os << c.name;
}

class Generate : public testing::TestWithParam<gen_case> {};

TEST_P(Generate, EmitsTheDocumentedCode) {
    const gen_case &c = GetParam();
    env e;
    testing::internal::CaptureStderr();
    int rc = e.compile(c.build(e));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(rc, TIRVO_BYC_OK);
    EXPECT_EQ(code_text(&e.prog), c.code);
    EXPECT_EQ(reloc_text(&e.prog), c.relocs);
}

using O = tirvo_varexp_oper;

// clang-format off
const gen_case leaves[] = {
    {"LiteralUpTo32Bits", [](env &e) { return e.lit(300, 16); },
     "0000: PUSH32_LIT 300\n0005:\n", ""},
    {"Literal64Bits", [](env &e) { return e.lit(5000000000, 64); },
     "0000: PUSH64_LIT 5000000000\n0009:\n", ""},
    {"VoidLiteral", [](env &e) { return e.lit(0, 0); }, "0000:\n", ""},
    {"VariablesOfEverySize", [](env &e) {
         auto *c1 = e.op(O::tirvo_varexp_comma, 8, e.var("x"), e.var("y@8"));
         auto *c2 = e.op(O::tirvo_varexp_comma, 16, c1, e.var("$z@16"));
         auto *c3 = e.op(O::tirvo_varexp_comma, 32, c2, e.var("w@32"));
         return e.op(O::tirvo_varexp_comma, 64, c3, e.var("v@64")); },
     "0000: PUSH1_TO32 0\n0004: POP_DISCARD32\n0005: PUSH8_TO32 0\n0009: POP_DISCARD32\n"
     "0010: PUSH16_TO32 0\n0014: POP_DISCARD32\n0015: PUSH32_TO32 0\n0019: POP_DISCARD32\n"
     "0020: PUSH64_TO64 0\n0024:\n",
     "1 x@1, 6 y@8, 11 $z@16, 16 w@32, 21 v@64"},
    {"OffsetHasItsOwnInstruction", [](env &e) { return e.var("offset@32"); },
     "0000: OFFSET\n0001:\n", ""},
    {"EngineValues", [](env &e) {
         tirvo_varexp *x = e.op(O::tirvo_varexp_major, 32);
         for (O o : {O::tirvo_varexp_minor, O::tirvo_varexp_patch, O::tirvo_varexp_build,
                     O::tirvo_varexp_fpver, O::tirvo_varexp_dport})
             x = e.op(O::tirvo_varexp_comma, 32, x, e.op(o, 32));
         return x; },
     "0000: MAJOR\n0001: POP_DISCARD32\n0002: MINOR\n0003: POP_DISCARD32\n0004: PATCH\n"
     "0005: POP_DISCARD32\n0006: BUILD\n0007: POP_DISCARD32\n0008: TIRVOVER\n"
     "0009: POP_DISCARD32\n0010: DPORT\n0011:\n", ""},
    {"Cancels", [](env &e) {
         return e.op(O::tirvo_varexp_comma, 0, e.op(O::tirvo_varexp_cancel, 0),
                     e.op(O::tirvo_varexp_cancel_fp_ctx, 0)); },
     "0000: END_PARENT\n0001: END_FP_CTX\n0002:\n", ""},
    {"SubexpressionAndRecordMarking", [](env &e) {
         return e.op(O::tirvo_varexp_comma, 0, e.entry(O::tirvo_varexp_subexp, 2),
                     e.entry(O::tirvo_varexp_record_marking, 70000)); },
     "0000: SUBDFA 2\n0004: RMDFA 70000\n0008:\n", "1 entry, 5 entry"},
};
INSTANTIATE_TEST_SUITE_P(Leaves, Generate, testing::ValuesIn(leaves),
                         [](const auto &i) { return std::string(i.param.name); });

const gen_case builtins[] = {
    {"SidOfALiteralUsesItsLow32Bits", [](env &e) {
         return e.op(O::tirvo_varexp_sid, 0, e.lit(0x100000007, 64)); },
     "0000: SID_LIT 7\n0005:\n", "1 sid"},
    {"SidOfAValue", [](env &e) { return e.op(O::tirvo_varexp_sid, 0, e.var("y@8")); },
     "0000: PUSH8_TO32 0\n0004: SID\n0005:\n", "1 y@8"},
    {"SidOfA64BitValue", [](env &e) { return e.op(O::tirvo_varexp_sid, 0, e.var("v@64")); },
     "0000: PUSH64_TO64 0\n0004: CAST64_TO32\n0005: SID\n0006:\n", "1 v@64"},
    {"CrcNarrowsItsLength", [](env &e) { return e.op(O::tirvo_varexp_crc, 32, e.var("v@64")); },
     "0000: ZERO64\n0001: PUSH64_TO64 0\n0005: CAST64_TO32\n0006: CRC\n0007:\n", "2 v@64"},
    {"SkipWidensItsCount", [](env &e) { return e.op(O::tirvo_varexp_skip, 0, e.var("y@8")); },
     "0000: PUSH8_TO32 0\n0004: CAST32_TO64\n0005: SKIP_STREAM\n0006:\n", "1 y@8"},
    {"SkipOfA64BitCount", [](env &e) { return e.op(O::tirvo_varexp_skip, 0, e.var("v@64")); },
     "0000: PUSH64_TO64 0\n0004: SKIP_STREAM\n0005:\n", "1 v@64"},
    {"ParseBe16", [](env &e) { return e.op(O::tirvo_varexp_parse_be, 16); },
     "0000: ZERO32\n0001: PUSH32_LIT 16\n0006: PARSE32_BE\n0007:\n", ""},
    {"ParseBe64", [](env &e) { return e.op(O::tirvo_varexp_parse_be, 64); },
     "0000: ZERO64\n0001: PUSH32_LIT 64\n0006: PARSE64_BE\n0007:\n", ""},
    {"ParseLe32", [](env &e) { return e.op(O::tirvo_varexp_parse_le, 32); },
     "0000: ZERO32\n0001: PUSH32_LIT 32\n0006: PARSE32_LE\n0007:\n", ""},
    {"ParseLe40", [](env &e) { return e.op(O::tirvo_varexp_parse_le, 40); },
     "0000: ZERO64\n0001: PUSH32_LIT 40\n0006: PARSE64_LE\n0007:\n", ""},
    {"ParseDec", [](env &e) { return e.op(O::tirvo_varexp_parse_dec, 64, e.var("y@8")); },
     "0000: ZERO64\n0001: ZERO32\n0002: PUSH8_TO32 0\n0006: PARSE_DEC\n0007:\n", "3 y@8"},
    {"ParseHexNarrowsItsLength", [](env &e) {
         return e.op(O::tirvo_varexp_parse_hex, 64, e.var("v@64")); },
     "0000: ZERO64\n0001: ZERO32\n0002: PUSH64_TO64 0\n0006: CAST64_TO32\n0007: PARSE_HEX\n"
     "0008:\n", "3 v@64"},
    {"ParseOct", [](env &e) { return e.op(O::tirvo_varexp_parse_oct, 64, e.lit(3, 8)); },
     "0000: ZERO64\n0001: ZERO32\n0002: PUSH32_LIT 3\n0007: PARSE_OCT\n0008:\n", ""},
    {"ParseInt", [](env &e) { return e.op(O::tirvo_varexp_parse_int, 64, e.lit(8, 8)); },
     "0000: ZERO64\n0001: ZERO32\n0002: PUSH32_LIT 8\n0007: PARSE_INT\n0008:\n", ""},
};
INSTANTIATE_TEST_SUITE_P(Builtins, Generate, testing::ValuesIn(builtins),
                         [](const auto &i) { return std::string(i.param.name); });

const gen_case control[] = {
    {"ImplicationSkipsOverTheDroppedAction", [](env &e) {
         return e.op(O::tirvo_varexp_implies, 0, e.var("x"),
                     e.op(O::tirvo_varexp_assign, 8, e.var("y@8"), e.lit(5, 8))); },
     "0000: PUSH1_TO32 0\n0004: POP32_SKIP_Z FW 10\n0008: PUSH32_LIT 5\n0013: COPY32_TO8 0\n"
     "0017: POP_DISCARD32\n0018:\n", "1 x@1, 14 y@8"},
    {"ImplicationOnA64BitValue", [](env &e) {
         return e.op(O::tirvo_varexp_implies, 0, e.var("v@64"), e.op(O::tirvo_varexp_cancel, 0)); },
     "0000: PUSH64_TO64 0\n0004: POP64_SKIP_Z FW 1\n0008: END_PARENT\n0009:\n", "1 v@64"},
    {"ConditionalWidensTheNarrowBranch", [](env &e) {
         return e.op(O::tirvo_varexp_cond, 64, e.var("x"), e.var("y@8"), e.var("v@64")); },
     "0000: PUSH1_TO32 0\n0004: POP32_SKIP_Z FW 9\n0008: PUSH8_TO32 0\n0012: CAST32_TO64\n"
     "0013: SKIP FW 4\n0017: PUSH64_TO64 0\n0021:\n", "1 x@1, 9 y@8, 18 v@64"},
    {"ConditionalGivesAVoidBranchAZero", [](env &e) {
         return e.op(O::tirvo_varexp_cond, 1, e.var("v@64"), e.lit(0, 0), e.var("x")); },
     "0000: PUSH64_TO64 0\n0004: POP64_SKIP_Z FW 5\n0008: ZERO32\n0009: SKIP FW 4\n"
     "0013: PUSH1_TO32 0\n0017:\n", "1 v@64, 14 x@1"},
    {"AndInGeneralForm", [](env &e) {
         return e.op(O::tirvo_varexp_log_and, 1, e.var("y@8"), e.var("v@64")); },
     "0000: PUSH8_TO32 0\n0004: POP32_SKIP_Z FW 17\n0008: PUSH64_TO64 0\n"
     "0012: POP64_SKIP_Z FW 9\n0016: PUSH32_LIT 1\n0021: SKIP FW 5\n0025: PUSH32_LIT 0\n"
     "0030:\n", "1 y@8, 9 v@64"},
    {"OrIsAlwaysGeneral", [](env &e) {
         return e.op(O::tirvo_varexp_log_or, 1,
                     e.op(O::tirvo_varexp_eq, 1, e.var("a"), e.lit(1, 1)),
                     e.op(O::tirvo_varexp_eq, 1, e.var("b"), e.lit(0, 1))); },
     "0000: PUSH1_TO32 0\n0004: PUSH32_LIT 1\n0009: EQ32\n0010: POP32_SKIP_NZ FW 23\n"
     "0014: PUSH1_TO32 0\n0018: PUSH32_LIT 0\n0023: EQ32\n0024: POP32_SKIP_NZ FW 9\n"
     "0028: PUSH32_LIT 0\n0033: SKIP FW 5\n0037: PUSH32_LIT 1\n0042:\n", "1 a@1, 15 b@1"},
    {"OrOf64BitValues", [](env &e) {
         return e.op(O::tirvo_varexp_log_or, 1, e.var("v@64"), e.var("$v@64")); },
     "0000: PUSH64_TO64 0\n0004: POP64_SKIP_NZ FW 17\n0008: PUSH64_TO64 0\n"
     "0012: POP64_SKIP_NZ FW 9\n0016: PUSH32_LIT 0\n0021: SKIP FW 5\n0025: PUSH32_LIT 1\n"
     "0030:\n", "1 v@64, 9 $v@64"},
    {"TwoOneBitTests", [](env &e) {
         return e.op(O::tirvo_varexp_log_and, 1,
                     e.op(O::tirvo_varexp_eq, 1, e.var("a"), e.lit(1, 1)),
                     e.op(O::tirvo_varexp_eq, 1, e.var("b"), e.lit(0, 1))); },
     "0000: SKIP_VARBIT_Z 0, FW 16\n0007: SKIP_VARBIT_NZ 0, FW 9\n0014: PUSH32_LIT 1\n"
     "0019: SKIP FW 5\n0023: PUSH32_LIT 0\n0028:\n", "1 a@1, 8 b@1"},
    {"ThreeOneBitTestsWithInequalities", [](env &e) {
         auto *ab = e.op(O::tirvo_varexp_log_and, 1,
                         e.op(O::tirvo_varexp_neq, 1, e.var("a"), e.lit(1, 1)),
                         e.op(O::tirvo_varexp_neq, 1, e.var("$b"), e.lit(0, 1)));
         return e.op(O::tirvo_varexp_log_and, 1, ab,
                     e.op(O::tirvo_varexp_eq, 1, e.var("c"), e.lit(1, 1))); },
     "0000: SKIP_VARBIT_NZ 0, FW 23\n0007: SKIP_VARBIT_Z 0, FW 16\n"
     "0014: SKIP_VARBIT_Z 0, FW 9\n0021: PUSH32_LIT 1\n0026: SKIP FW 5\n0030: PUSH32_LIT 0\n"
     "0035:\n", "1 a@1, 8 $b@1, 15 c@1"},
    {"ChainOnTheRightTakesTheGeneralForm", [](env &e) {
         auto *bc = e.op(O::tirvo_varexp_log_and, 1,
                         e.op(O::tirvo_varexp_eq, 1, e.var("b"), e.lit(1, 1)),
                         e.op(O::tirvo_varexp_eq, 1, e.var("c"), e.lit(1, 1)));
         return e.op(O::tirvo_varexp_log_and, 1,
                     e.op(O::tirvo_varexp_eq, 1, e.var("a"), e.lit(1, 1)), bc); },
     "0000: PUSH1_TO32 0\n0004: PUSH32_LIT 1\n0009: EQ32\n0010: POP32_SKIP_Z FW 41\n"
     "0014: SKIP_VARBIT_Z 0, FW 16\n0021: SKIP_VARBIT_Z 0, FW 9\n0028: PUSH32_LIT 1\n"
     "0033: SKIP FW 5\n0037: PUSH32_LIT 0\n0042: POP32_SKIP_Z FW 9\n0046: PUSH32_LIT 1\n"
     "0051: SKIP FW 5\n0055: PUSH32_LIT 0\n0060:\n", "1 a@1, 15 b@1, 22 c@1"},
    {"WiderVariableTakesTheGeneralForm", [](env &e) {
         return e.op(O::tirvo_varexp_log_and, 1,
                     e.op(O::tirvo_varexp_eq, 1, e.var("a"), e.lit(1, 1)),
                     e.op(O::tirvo_varexp_eq, 1, e.var("y@8"), e.lit(1, 1))); },
     "0000: PUSH1_TO32 0\n0004: PUSH32_LIT 1\n0009: EQ32\n0010: POP32_SKIP_Z FW 23\n"
     "0014: PUSH8_TO32 0\n0018: PUSH32_LIT 1\n0023: EQ32\n0024: POP32_SKIP_Z FW 9\n"
     "0028: PUSH32_LIT 1\n0033: SKIP FW 5\n0037: PUSH32_LIT 0\n0042:\n", "1 a@1, 15 y@8"},
    {"CommaDropsA64BitValue", [](env &e) {
         return e.op(O::tirvo_varexp_comma, 1, e.var("v@64"), e.var("x")); },
     "0000: PUSH64_TO64 0\n0004: POP_DISCARD64\n0005: PUSH1_TO32 0\n0009:\n", "1 v@64, 6 x@1"},
};
INSTANTIATE_TEST_SUITE_P(Control, Generate, testing::ValuesIn(control),
                         [](const auto &i) { return std::string(i.param.name); });

const gen_case stores_and_unary[] = {
    {"AssignLiteral", [](env &e) {
         return e.op(O::tirvo_varexp_assign, 32, e.var("$x@32"), e.lit(5, 8)); },
     "0000: PUSH32_LIT 5\n0005: COPY32_TO32 0\n0009:\n", "6 $x@32"},
    {"AssignNarrows", [](env &e) {
         return e.op(O::tirvo_varexp_assign, 8, e.var("y@8"), e.var("v@64")); },
     "0000: PUSH64_TO64 0\n0004: CAST64_TO32\n0005: COPY32_TO8 0\n0009:\n", "1 v@64, 6 y@8"},
    {"AssignWidens", [](env &e) {
         return e.op(O::tirvo_varexp_assign, 64, e.var("v@64"), e.var("y@8")); },
     "0000: PUSH8_TO32 0\n0004: CAST32_TO64\n0005: COPY64_TO64 0\n0009:\n", "1 y@8, 6 v@64"},
    {"PostIncrement", [](env &e) { return e.op(O::tirvo_varexp_post_inc, 8, e.var("y@8")); },
     "0000: PUSH8_TO32 0\n0004: INC32\n0005: COPY32_TO8 0\n0009: DEC32\n0010:\n",
     "1 y@8, 6 y@8"},
    {"PostDecrement64", [](env &e) { return e.op(O::tirvo_varexp_post_dec, 64, e.var("v@64")); },
     "0000: PUSH64_TO64 0\n0004: DEC64\n0005: COPY64_TO64 0\n0009: INC64\n0010:\n",
     "1 v@64, 6 v@64"},
    {"PreIncrement", [](env &e) { return e.op(O::tirvo_varexp_pre_inc, 16, e.var("$z@16")); },
     "0000: PUSH16_TO32 0\n0004: INC32\n0005: COPY32_TO16 0\n0009:\n", "1 $z@16, 6 $z@16"},
    {"PreDecrement64", [](env &e) { return e.op(O::tirvo_varexp_pre_dec, 64, e.var("v@64")); },
     "0000: PUSH64_TO64 0\n0004: DEC64\n0005: COPY64_TO64 0\n0009:\n", "1 v@64, 6 v@64"},
    {"Complement", [](env &e) { return e.op(O::tirvo_varexp_bit_not, 8, e.var("y@8")); },
     "0000: PUSH8_TO32 0\n0004: BITWISE_COMPLEMENT32\n0005:\n", "1 y@8"},
    {"Complement64", [](env &e) { return e.op(O::tirvo_varexp_bit_not, 64, e.var("v@64")); },
     "0000: PUSH64_TO64 0\n0004: BITWISE_COMPLEMENT64\n0005:\n", "1 v@64"},
    {"Negate", [](env &e) { return e.op(O::tirvo_varexp_unary_minus, 8, e.var("y@8")); },
     "0000: PUSH8_TO32 0\n0004: NEGATE32\n0005:\n", "1 y@8"},
    {"Negate64", [](env &e) { return e.op(O::tirvo_varexp_unary_minus, 64, e.var("v@64")); },
     "0000: PUSH64_TO64 0\n0004: NEGATE64\n0005:\n", "1 v@64"},
    {"LogicalNot", [](env &e) { return e.op(O::tirvo_varexp_log_not, 1, e.var("y@8")); },
     "0000: PUSH8_TO32 0\n0004: LOGICAL_COMPLEMENT\n0005:\n", "1 y@8"},
    {"LogicalNotNarrows", [](env &e) { return e.op(O::tirvo_varexp_log_not, 1, e.var("v@64")); },
     "0000: PUSH64_TO64 0\n0004: CAST64_TO32\n0005: LOGICAL_COMPLEMENT\n0006:\n", "1 v@64"},
    {"Parentheses", [](env &e) { return e.op(O::tirvo_varexp_paren, 8, e.var("y@8")); },
     "0000: PUSH8_TO32 0\n0004:\n", "1 y@8"},
    {"CastTo64", [](env &e) { return e.op(O::tirvo_varexp_cast, 64, e.var("y@8")); },
     "0000: PUSH8_TO32 0\n0004: CAST32_TO64\n0005:\n", "1 y@8"},
    {"CastFrom64", [](env &e) { return e.op(O::tirvo_varexp_cast, 8, e.var("v@64")); },
     "0000: PUSH64_TO64 0\n0004: CAST64_TO32\n0005:\n", "1 v@64"},
    {"CastWithinFourBytes", [](env &e) { return e.op(O::tirvo_varexp_cast, 16, e.var("y@8")); },
     "0000: PUSH8_TO32 0\n0004:\n", "1 y@8"},
    // A cast to void leaves nothing, as its result size says.
    {"CastToVoidDropsTheValue", [](env &e) { return e.op(O::tirvo_varexp_cast, 0, e.var("y@8")); },
     "0000: PUSH8_TO32 0\n0004: POP_DISCARD32\n0005:\n", "1 y@8"},
    {"CastToVoidDrops64Bits", [](env &e) { return e.op(O::tirvo_varexp_cast, 0, e.var("v@64")); },
     "0000: PUSH64_TO64 0\n0004: POP_DISCARD64\n0005:\n", "1 v@64"},
};
INSTANTIATE_TEST_SUITE_P(StoresAndUnary, Generate, testing::ValuesIn(stores_and_unary),
                         [](const auto &i) { return std::string(i.param.name); });
// clang-format on

// The sixteen binary operators and the ten compound assignments, each at
// both widths.
struct binary_case {
    O oper;
    const char *op32; // the 32-bit instruction
    const char *op64; // the 64-bit instruction
};

void PrintTo(const binary_case &c, std::ostream *os) {
    *os << c.op32;
}

bool is_comparison(O o) {
    return o == O::tirvo_varexp_leq || o == O::tirvo_varexp_geq || o == O::tirvo_varexp_eq ||
           o == O::tirvo_varexp_neq || o == O::tirvo_varexp_less || o == O::tirvo_varexp_greater;
}
bool is_shift(O o) {
    return o == O::tirvo_varexp_shleft || o == O::tirvo_varexp_shright;
}

// The result size of a binary node over operands of `a` and `b` bits.
int binary_size(O o, int a, int b) {
    return is_comparison(o) ? 1 : is_shift(o) ? a : std::max(a, b);
}

class Binary : public testing::TestWithParam<binary_case> {
  protected:
    // Compiles `a oper b` and returns the listing.
    std::string run(const char *a, const char *b, int a_size, int b_size) {
        env e;
        const binary_case &c = GetParam();
        int rc = e.compile(e.op(c.oper, binary_size(c.oper, a_size, b_size), e.var(a), e.var(b)));
        EXPECT_EQ(rc, TIRVO_BYC_OK);
        EXPECT_EQ(reloc_text(&e.prog),
                  std::string("1 ") + a + (a_size == 8 && b_size == 64 ? ", 6 " : ", 5 ") + b);
        return code_text(&e.prog);
    }
};

TEST_P(Binary, NarrowOperandsUseThe32BitForm) {
    EXPECT_EQ(run("y@8", "z@16", 8, 16),
              std::string("0000: PUSH8_TO32 0\n0004: PUSH16_TO32 0\n0008: ") + GetParam().op32 +
                  "\n0009:\n");
}

TEST_P(Binary, AWideRightOperandWidensTheLeft) {
    // A shift keeps its left operand's width, so a 64-bit count makes a
    // 64-bit shift whose result is cut back.
    std::string tail = is_shift(GetParam().oper) ? "\n0010: CAST64_TO32\n0011:\n" : "\n0010:\n";
    EXPECT_EQ(run("y@8", "v@64", 8, 64),
              std::string("0000: PUSH8_TO32 0\n0004: CAST32_TO64\n0005: PUSH64_TO64 0\n0009: ") +
                  GetParam().op64 + tail);
}

TEST_P(Binary, AWideLeftOperandWidensTheRight) {
    EXPECT_EQ(run("v@64", "y@8", 64, 8),
              std::string("0000: PUSH64_TO64 0\n0004: PUSH8_TO32 0\n0008: CAST32_TO64\n0009: ") +
                  GetParam().op64 + "\n0010:\n");
}

const binary_case binary_ops[] = {
    {O::tirvo_varexp_shleft, "SHLEFT32", "SHLEFT64"},
    {O::tirvo_varexp_shright, "SHRIGHT32", "SHRIGHT64"},
    {O::tirvo_varexp_leq, "LEQ32", "LEQ64"},
    {O::tirvo_varexp_geq, "GEQ32", "GEQ64"},
    {O::tirvo_varexp_eq, "EQ32", "EQ64"},
    {O::tirvo_varexp_neq, "NEQ32", "NEQ64"},
    {O::tirvo_varexp_less, "LESS32", "LESS64"},
    {O::tirvo_varexp_greater, "GREATER32", "GREATER64"},
    {O::tirvo_varexp_multiply, "MULTIPLY32", "MULTIPLY64"},
    {O::tirvo_varexp_divide, "DIVIDE32", "DIVIDE64"},
    {O::tirvo_varexp_rem, "REMAINDER32", "REMAINDER64"},
    {O::tirvo_varexp_plus, "ADD32", "ADD64"},
    {O::tirvo_varexp_minus, "SUBTRACT32", "SUBTRACT64"},
    {O::tirvo_varexp_bit_and, "BITWISE_AND32", "BITWISE_AND64"},
    {O::tirvo_varexp_bit_xor, "BITWISE_XOR32", "BITWISE_XOR64"},
    {O::tirvo_varexp_bit_or, "BITWISE_OR32", "BITWISE_OR64"},
};
INSTANTIATE_TEST_SUITE_P(Operators, Binary, testing::ValuesIn(binary_ops),
                         [](const auto &i) { return std::string(i.param.op32); });

class Compound : public testing::TestWithParam<binary_case> {
  protected:
    // Compiles `v oper= b` and checks the relocations: b, then v twice.
    std::string run(const char *v, const char *b, int v_size, const char *relocs) {
        env e;
        auto *target = e.var(v);
        int rc = e.compile(e.op(GetParam().oper, v_size, target, e.var(b)));
        EXPECT_EQ(rc, TIRVO_BYC_OK);
        EXPECT_EQ(reloc_text(&e.prog), relocs);
        return code_text(&e.prog);
    }
};

TEST_P(Compound, NarrowSides) {
    EXPECT_EQ(run("y@8", "z@16", 8, "1 z@16, 5 y@8, 11 y@8"),
              std::string("0000: PUSH16_TO32 0\n0004: PUSH8_TO32 0\n0008: SWAP32\n0009: ") +
                  GetParam().op32 + "\n0010: COPY32_TO8 0\n0014:\n");
}

TEST_P(Compound, WideValueIntoNarrowVariable) {
    EXPECT_EQ(run("y@8", "v@64", 8, "1 v@64, 5 y@8, 13 y@8"),
              std::string("0000: PUSH64_TO64 0\n0004: PUSH8_TO32 0\n0008: CAST32_TO64\n"
                          "0009: SWAP64\n0010: ") +
                  GetParam().op64 + "\n0011: CAST64_TO32\n0012: COPY32_TO8 0\n0016:\n");
}

TEST_P(Compound, NarrowValueIntoWideVariable) {
    EXPECT_EQ(run("v@64", "y@8", 64, "1 y@8, 6 v@64, 12 v@64"),
              std::string("0000: PUSH8_TO32 0\n0004: CAST32_TO64\n0005: PUSH64_TO64 0\n"
                          "0009: SWAP64\n0010: ") +
                  GetParam().op64 + "\n0011: COPY64_TO64 0\n0015:\n");
}

const binary_case compound_ops[] = {
    {O::tirvo_varexp_a_multiply, "MULTIPLY32", "MULTIPLY64"},
    {O::tirvo_varexp_a_divide, "DIVIDE32", "DIVIDE64"},
    {O::tirvo_varexp_a_rem, "REMAINDER32", "REMAINDER64"},
    {O::tirvo_varexp_a_plus, "ADD32", "ADD64"},
    {O::tirvo_varexp_a_minus, "SUBTRACT32", "SUBTRACT64"},
    {O::tirvo_varexp_a_shleft, "SHLEFT32", "SHLEFT64"},
    {O::tirvo_varexp_a_shright, "SHRIGHT32", "SHRIGHT64"},
    {O::tirvo_varexp_a_bit_and, "BITWISE_AND32", "BITWISE_AND64"},
    {O::tirvo_varexp_a_bit_or, "BITWISE_OR32", "BITWISE_OR64"},
    {O::tirvo_varexp_a_bit_xor, "BITWISE_XOR32", "BITWISE_XOR64"},
};
INSTANTIATE_TEST_SUITE_P(Operators, Compound, testing::ValuesIn(compound_ops),
                         [](const auto &i) { return std::string(i.param.op32); });

// ---------------------------------------------------------------------------
// Failures of one expression.

struct fail_case {
    const char *name;
    std::function<tirvo_varexp *(env &)> build;
};

void PrintTo(const fail_case &c, std::ostream *os) {
    *os << c.name;
}

class VoidOperand : public testing::TestWithParam<fail_case> {};

TEST_P(VoidOperand, IsRefusedWithItsMessage) {
    env e;
    testing::internal::CaptureStderr();
    int rc = e.compile(GetParam().build(e));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, TIRVO_BYC_ERR_VOID);
    EXPECT_TRUE(is_void_message(err)) << err;
}

// clang-format off
const fail_case void_operands[] = {
    {"RightOfPlus", [](env &e) { return e.op(O::tirvo_varexp_plus, 8, e.var("y@8"), e.lit(0, 0)); }},
    {"LeftOfLess", [](env &e) {
         return e.op(O::tirvo_varexp_less, 1, e.op(O::tirvo_varexp_cancel, 0), e.var("y@8")); }},
    {"AssignedValue", [](env &e) {
         return e.op(O::tirvo_varexp_assign, 8, e.var("y@8"),
                     e.op(O::tirvo_varexp_skip, 0, e.lit(3, 8))); }},
    {"CompoundValue", [](env &e) {
         return e.op(O::tirvo_varexp_a_plus, 8, e.var("y@8"), e.lit(0, 0)); }},
    {"SidOfAComputedVoid", [](env &e) {
         return e.op(O::tirvo_varexp_sid, 0, e.op(O::tirvo_varexp_cancel, 0)); }},
    {"CrcLength", [](env &e) { return e.op(O::tirvo_varexp_crc, 32, e.lit(0, 0)); }},
    {"SkipCount", [](env &e) { return e.op(O::tirvo_varexp_skip, 0, e.lit(0, 0)); }},
    {"ParseIntLength", [](env &e) { return e.op(O::tirvo_varexp_parse_int, 64, e.lit(0, 0)); }},
    {"LeftOfAnd", [](env &e) {
         return e.op(O::tirvo_varexp_log_and, 1, e.lit(0, 0), e.var("x")); }},
    {"RightOfOr", [](env &e) {
         return e.op(O::tirvo_varexp_log_or, 1, e.var("x"), e.op(O::tirvo_varexp_cancel, 0)); }},
    {"Complement", [](env &e) { return e.op(O::tirvo_varexp_bit_not, 0, e.lit(0, 0)); }},
    {"Negation", [](env &e) { return e.op(O::tirvo_varexp_unary_minus, 0, e.lit(0, 0)); }},
    {"LogicalNot", [](env &e) { return e.op(O::tirvo_varexp_log_not, 1, e.lit(0, 0)); }},
    // A cast cannot make a value out of nothing.
    {"CastOfVoid", [](env &e) { return e.op(O::tirvo_varexp_cast, 8, e.lit(0, 0)); }},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Operands, VoidOperand, testing::ValuesIn(void_operands),
                         [](const auto &i) { return std::string(i.param.name); });

TEST(OffsetName, MisuseNamesTheFirstOccurrence) {
    const tirvo_location first{3, 5, 3, 9, 40, 44};
    const char *message = "\"offset\" variable can only be used as \"$offset\", no size "
                          "specifiers, only with \"$\" at ";
    for (const char *text : {"offset@8", "$offset@32", "offset"}) {
        for (bool vgr : {false, true}) {
            env e;
            e.ctx.flags.vgr_output = vgr;
            tirvo_varexp *x = e.var(text, &first);
            testing::internal::CaptureStderr();
            EXPECT_EQ(e.compile(e.op(O::tirvo_varexp_plus, 32, e.lit(1, 1), x)),
                      TIRVO_BYC_ERR_OFFSET);
            EXPECT_EQ(testing::internal::GetCapturedStderr(),
                      std::string(message) + (vgr ? "40-44\n" : "3-3,5-9\n"))
                << text;
        }
    }
}

// ---------------------------------------------------------------------------
// Limits.

// y@8 + y@8 + ... with `terms` terms: 4 + 5 * (terms - 1) bytes.
tirvo_varexp *sum_chain(env &e, int terms) {
    tirvo_varexp *x = e.var("y@8");
    for (int i = 1; i < terms; ++i)
        x = e.op(O::tirvo_varexp_plus, 8, x, e.var("y@8"));
    return x;
}

TEST(Limits, TheBufferHoldsExactly10000Bytes) {
    {
        env e; // 9999 bytes and one NEGATE32
        EXPECT_EQ(e.compile(e.op(O::tirvo_varexp_unary_minus, 8, sum_chain(e, 2000))),
                  TIRVO_BYC_OK);
        EXPECT_EQ(e.prog.byc_len, 10000);
    }
    {
        env e; // one byte more
        auto *neg = e.op(O::tirvo_varexp_unary_minus, 8, sum_chain(e, 2000));
        EXPECT_EQ(e.compile(e.op(O::tirvo_varexp_bit_not, 8, neg)), TIRVO_BYC_ERR_FULL);
        EXPECT_EQ(e.prog.byc_len, 10000);
    }
    {
        env e; // 9999 bytes, then a PUSH32_LIT that does not fit is not written at all
        auto *x = e.op(O::tirvo_varexp_plus, 8, sum_chain(e, 2000), e.lit(1, 8));
        EXPECT_EQ(e.compile(x), TIRVO_BYC_ERR_FULL);
        EXPECT_EQ(e.prog.byc_len, 9999);
    }
}

// a == 1 && a == 1 && ... with `tests` tests.
tirvo_varexp *bit_chain(env &e, int tests) {
    auto test = [&e] { return e.op(O::tirvo_varexp_eq, 1, e.var("a"), e.lit(1, 1)); };
    tirvo_varexp *x = test();
    for (int i = 1; i < tests; ++i)
        x = e.op(O::tirvo_varexp_log_and, 1, x, test());
    return x;
}

TEST(Limits, LongestChainOfOneBitTests) {
    {
        env e; // 1426 tests of 7 bytes and the 14 bytes after them
        EXPECT_EQ(e.compile(bit_chain(e, 1426)), TIRVO_BYC_OK);
        EXPECT_EQ(e.prog.byc_len, 9996);
        EXPECT_EQ(dl_list_len(&e.prog.relocs), 1426u);
    }
    {
        env e;
        EXPECT_EQ(e.compile(bit_chain(e, 1427)), TIRVO_BYC_ERR_FULL);
    }
    {
        // A chain that cannot fit is refused without being walked to its
        // end, even when a test further down would not qualify.
        env e;
        EXPECT_EQ(e.compile(bit_chain(e, 300000)), TIRVO_BYC_ERR_FULL);
        env f;
        tirvo_varexp *x = f.var("y@8");
        for (int i = 0; i < 300000; ++i)
            x = f.op(O::tirvo_varexp_log_and, 1, x,
                     f.op(O::tirvo_varexp_eq, 1, f.var("a"), f.lit(1, 1)));
        EXPECT_EQ(f.compile(x), TIRVO_BYC_ERR_FULL);
    }
}

TEST(Limits, NestingIsBoundedBeforeTheMachineStack) {
    {
        env e; // parentheses as deep as the parser allows cost no code
        tirvo_varexp *x = e.var("y@8");
        for (int i = 0; i < TIRVO_BYC_MAX_NESTING; ++i)
            x = e.op(O::tirvo_varexp_paren, 8, x);
        EXPECT_EQ(e.compile(x), TIRVO_BYC_OK);
        EXPECT_EQ(e.prog.byc_len, 4);
    }
    {
        env e; // a left-hand chain of empty operands, far deeper
        tirvo_varexp *x = e.lit(0, 0);
        for (int i = 0; i < 500000; ++i)
            x = e.op(O::tirvo_varexp_comma, 0, x, e.lit(0, 0));
        EXPECT_EQ(e.compile(x), TIRVO_BYC_ERR_FULL);
    }
    {
        env e; // the general "&&" recurses through two functions per level
        tirvo_varexp *x = e.var("y@8");
        for (int i = 0; i < 2 * TIRVO_BYC_MAX_NESTING; ++i)
            x = e.op(O::tirvo_varexp_log_and, 1, x, e.var("y@8"));
        EXPECT_EQ(e.compile(x), TIRVO_BYC_ERR_FULL);
    }
}

// ---------------------------------------------------------------------------
// Jump optimisation on hand-written code.

struct skip_case {
    const char *name;
    std::vector<uint8_t> code;
    int32_t operand; // position of the skip operand to optimise
    uint32_t skip;   // the skip afterwards
};

void PrintTo(const skip_case &c, std::ostream *os) {
    *os << c.name;
}

class OptimizeSkip : public testing::TestWithParam<skip_case> {};

TEST_P(OptimizeSkip, FollowsControlToItsEnd) {
    skip_case c = GetParam();
    tirvo_bycp p;
    tirvo_bycp_init(&p, c.code.data(), static_cast<int32_t>(c.code.size()));
    p.byc_len = p.byc_size;
    std::vector<uint8_t> before = c.code;
    tirvo_byc_optimize_skip(&p, c.operand);
    EXPECT_EQ(tirvo_byc_read_u24(c.code.data() + c.operand), c.skip);
    // Only the operand changes.
    for (size_t i = 0; i < before.size(); ++i)
        if (i < size_t(c.operand) || i >= size_t(c.operand) + 3) {
            EXPECT_EQ(c.code[i], before[i]) << i;
        }
}

constexpr uint8_t SKIP = TIRVO_BYC_SKIP, PUSH = TIRVO_BYC_PUSH32_LIT, NOP = TIRVO_BYC_NOP,
                  NOP2 = TIRVO_BYC_NOP2, NOP3 = TIRVO_BYC_NOP3, Z = TIRVO_BYC_POP32_SKIP_Z,
                  NZ = TIRVO_BYC_POP32_SKIP_NZ, ZERO = TIRVO_BYC_ZERO32, EQ = TIRVO_BYC_EQ32;

// clang-format off
const skip_case skips[] = {
    // 0 SKIP -> 4 NOP, 5 NOP3, 8 SKIP -> 14 PUSH 5 at the end of the code.
    {"ThroughNopsAndSkips",
     {SKIP, 0, 0, 0, NOP, NOP3, 2, 1, SKIP, 2, 0, 0, NOP2, 1, PUSH, 5, 0, 0, 0}, 1, 10},
    // 0 SKIP -> 4 PUSH c, 9 NOP, 10 POP32_SKIP_x -> 15 (the end); 14 ZERO32.
    {"ZeroLiteralTakesTheZeroSkip",
     {SKIP, 0, 0, 0, PUSH, 0, 0, 0, 0, NOP, Z, 1, 0, 0, ZERO}, 1, 11},
    {"NonZeroLiteralFallsThroughTheZeroSkip",
     {SKIP, 0, 0, 0, PUSH, 7, 0, 0, 0, NOP, Z, 1, 0, 0, ZERO}, 1, 10},
    {"NonZeroLiteralTakesTheNonZeroSkip",
     {SKIP, 0, 0, 0, PUSH, 0, 1, 0, 0, NOP, NZ, 1, 0, 0, ZERO}, 1, 11},
    {"ZeroLiteralFallsThroughTheNonZeroSkip",
     {SKIP, 0, 0, 0, PUSH, 0, 0, 0, 0, NOP, NZ, 1, 0, 0, ZERO}, 1, 10},
    // The conditional skip at 4 lands on PUSH 0, POP32_SKIP_Z, whose target
    // is a SKIP to the end: 4 -> 8 -> 17 -> 21.
    {"RedirectionsChain",
     {ZERO, NOP, NOP, NOP, Z, 0, 0, 0, PUSH, 0, 0, 0, 0, Z, 0, 0, 0, SKIP, 0, 0, 0}, 5, 13},
    {"LiteralUsedOtherwiseStops", {SKIP, 0, 0, 0, PUSH, 0, 0, 0, 0, PUSH, 0, 0, 0, 0, EQ}, 1, 0},
    {"LiteralAtTheEndStops", {SKIP, 0, 0, 0, PUSH, 0, 0, 0, 0, NOP}, 1, 0},
    {"OtherInstructionStops", {SKIP, 0, 0, 0, NOP, ZERO, NOP}, 1, 1},
    {"TargetAtTheEndStays", {SKIP, 1, 0, 0, NOP}, 1, 1},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Cases, OptimizeSkip, testing::ValuesIn(skips),
                         [](const auto &i) { return std::string(i.param.name); });

// ---------------------------------------------------------------------------
// Stack-size analysis on hand-written code.

struct stack_run {
    std::vector<int32_t> sizes, prevs;
};

stack_run analyse(std::vector<uint8_t> code) {
    tirvo_bycp p;
    tirvo_bycp_init(&p, code.data(), static_cast<int32_t>(code.size()));
    p.byc_len = p.byc_size;
    stack_run r{std::vector<int32_t>(code.size() + 1, -1),
                std::vector<int32_t>(code.size() + 1, -1)};
    tirvo_byc_stack_size(&p, 0, 0, -1, r.sizes.data(), r.prevs.data());
    return r;
}

TEST(StackSize, EachPathCountsItsOwnPushes) {
    // 0 PUSH32_LIT 1; 5 POP32_SKIP_Z -> 19; 9 PUSH64_LIT 7; 18 POP_DISCARD64;
    // 19 PUSH32_LIT 2; 24 end. The target is walked first, then the fall-through.
    stack_run r = analyse({PUSH,
                           1,
                           0,
                           0,
                           0,
                           Z,
                           10,
                           0,
                           0,
                           TIRVO_BYC_PUSH64_LIT,
                           7,
                           0,
                           0,
                           0,
                           0,
                           0,
                           0,
                           0,
                           TIRVO_BYC_POP_DISCARD64,
                           PUSH,
                           2,
                           0,
                           0,
                           0});
    std::map<int, std::pair<int, int>> reached;
    for (size_t i = 0; i < r.sizes.size(); ++i)
        if (r.sizes[i] >= 0)
            reached[int(i)] = {r.sizes[i], r.prevs[i]};
    std::map<int, std::pair<int, int>> want{{0, {0, -1}}, {5, {4, 0}},  {9, {0, 5}},
                                            {18, {8, 9}}, {19, {0, 5}}, {24, {4, 19}}};
    EXPECT_EQ(reached, want);
}

TEST(StackSize, ALargerSizeWalksAgainFromWhereItMeetsAnEarlierPath) {
    // 0 ZERO32; 1 POP32_SKIP_Z -> 6; 5 ZERO32; 6 ZERO32; 7 end. The target
    // path reaches 6 with 0 bytes, the fall-through later with 4 and wins.
    stack_run r = analyse({ZERO, Z, 1, 0, 0, ZERO, ZERO});
    EXPECT_EQ(r.sizes, (std::vector<int32_t>{0, 4, -1, -1, -1, 0, 4, 8}));
    EXPECT_EQ(r.prevs, (std::vector<int32_t>{-1, 0, -1, -1, -1, 1, 5, 6}));
}

TEST(StackSize, OneBitTestsAndUnconditionalSkips) {
    // 0 SKIP_VARBIT_NZ -> 16; 7 ZERO64; 8 SKIP -> 17; 12 ZERO32 (never
    // reached); 13..15 NOP; 16 ZERO32; 17 end.
    stack_run r = analyse({TIRVO_BYC_SKIP_VARBIT_NZ, 0, 0, 0, 9, 0, 0, TIRVO_BYC_ZERO64, SKIP, 5, 0,
                           0, ZERO, NOP, NOP, NOP, ZERO});
    EXPECT_EQ(r.sizes[16], 0);
    EXPECT_EQ(r.prevs[16], 0);
    EXPECT_EQ(r.sizes[17], 8);
    EXPECT_EQ(r.prevs[17], 8);
    EXPECT_EQ(r.sizes[12], -1);
}

TEST(StackSizeDeathTest, PoppingAnEmptyStackIsAnInternalFault) {
    EXPECT_DEATH(analyse({TIRVO_BYC_POP_DISCARD32}), "next_size >= 0");
}

// ---------------------------------------------------------------------------
// The compile step.

struct step_result {
    std::string out, err;
};

step_result compile_all(env &e) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    tirvo_byc_compile(&e.ctx);
    step_result r;
    r.err = testing::internal::GetCapturedStderr();
    r.out = testing::internal::GetCapturedStdout();
    return r;
}

TEST(Step, VoidExpressionGivesAnEmptyProgram) {
    env e;
    tirvo_varexp_entry *v = e.add(e.lit(0, 0));
    step_result r = compile_all(e);
    EXPECT_EQ(e.ctx.error, 0);
    ASSERT_NE(v->bycp, nullptr);
    EXPECT_EQ(v->bycp->byc, nullptr);
    EXPECT_EQ(v->bycp->byc_len, 0);
    EXPECT_EQ(v->bycp->byc_size, 0);
    EXPECT_EQ(v->bycp->end_stack_size, 0);
    EXPECT_EQ(v->bycp->max_stack_size, 0);
    EXPECT_TRUE(dl_list_empty(&v->bycp->relocs));
    EXPECT_EQ(r.out + r.err, "");
}

TEST(Step, ProgramsGetTheirOwnCodeAndSizes) {
    env e;
    tirvo_varexp_entry *a = e.add(e.op(O::tirvo_varexp_assign, 32, e.var("$x@32"), e.lit(5, 8)));
    tirvo_varexp_entry *b = e.add(e.var("v@64"));
    compile_all(e);
    ASSERT_EQ(e.ctx.error, 0);
    for (tirvo_varexp_entry *x : {a, b}) {
        ASSERT_NE(x->bycp, nullptr);
        EXPECT_EQ(x->bycp->byc_size, x->bycp->byc_len);
        EXPECT_NE(x->bycp->byc, e.buf.data());
    }
    const uint8_t want_a[] = {TIRVO_BYC_PUSH32_LIT, 5, 0, 0, 0, TIRVO_BYC_COPY32_TO32, 0, 0, 0};
    ASSERT_EQ(a->bycp->byc_len, 9);
    EXPECT_EQ(std::memcmp(a->bycp->byc, want_a, sizeof want_a), 0);
    EXPECT_EQ(reloc_text(a->bycp), "6 $x@32");
    EXPECT_EQ(a->bycp->end_stack_size, 4);
    EXPECT_EQ(a->bycp->max_stack_size, 4);
    EXPECT_EQ(code_text(b->bycp), "0000: PUSH64_TO64 0\n0004:\n");
    EXPECT_EQ(b->bycp->end_stack_size, 8);
    EXPECT_EQ(b->bycp->max_stack_size, 8);
}

TEST(Step, ProgramsAreStoredWithTheirSkipsShortened) {
    env e;
    auto *cond = e.op(O::tirvo_varexp_log_and, 1, e.var("y@8"), e.var("z@8"));
    tirvo_varexp_entry *x = e.add(e.op(O::tirvo_varexp_implies, 0, cond,
                                       e.op(O::tirvo_varexp_assign, 1, e.var("w"), e.lit(1, 1))));
    compile_all(e);
    ASSERT_NE(x->bycp, nullptr);
    EXPECT_EQ(code_text(x->bycp),
              "0000: PUSH8_TO32 0\n0004: POP32_SKIP_Z FW 36\n0008: PUSH8_TO32 0\n"
              "0012: POP32_SKIP_Z FW 28\n0016: PUSH32_LIT 1\n0021: SKIP FW 5\n"
              "0025: PUSH32_LIT 0\n0030: POP32_SKIP_Z FW 10\n0034: PUSH32_LIT 1\n"
              "0039: COPY32_TO1 0\n0043: POP_DISCARD32\n0044:\n");
    EXPECT_EQ(x->bycp->max_stack_size, 4);
}

struct bound_case {
    const char *name;
    std::function<tirvo_varexp *(env &)> build;
    uint32_t bound; // given
    uint32_t want;  // after the compile
};

void PrintTo(const bound_case &c, std::ostream *os) {
    *os << c.name;
}

class Bound : public testing::TestWithParam<bound_case> {};

TEST_P(Bound, IsDroppedUnlessTheProgramReadsTheStream) {
    env e;
    tirvo_varexp_entry *x = e.add(GetParam().build(e), GetParam().bound);
    compile_all(e);
    ASSERT_EQ(e.ctx.error, 0);
    EXPECT_EQ(x->bound, GetParam().want);
}

// clang-format off
const bound_case bounds[] = {
    {"Arithmetic", [](env &e) { return e.op(O::tirvo_varexp_post_inc, 8, e.var("y@8")); }, 1, 0xffffffff},
    {"UnlimitedArithmetic", [](env &e) { return e.var("x"); }, TIRVO_BOUND_UNLIMITED, 0xffffffff},
    {"Situation", [](env &e) { return e.op(O::tirvo_varexp_sid, 0, e.lit(4, 0)); }, 1, 0xffffffff},
    {"Subexpression", [](env &e) { return e.entry(O::tirvo_varexp_subexp, 1); }, 7, 0xffffffff},
    {"Skip", [](env &e) { return e.op(O::tirvo_varexp_skip, 0, e.lit(5, 8)); }, 1, 1},
    {"Crc", [](env &e) { return e.op(O::tirvo_varexp_crc, 32, e.lit(5, 8)); }, 3, 3},
    {"ParseBe", [](env &e) { return e.op(O::tirvo_varexp_parse_be, 8); }, 0, 0},
    {"ParseHexInABranch", [](env &e) {
         return e.op(O::tirvo_varexp_implies, 0, e.var("x"),
                     e.op(O::tirvo_varexp_parse_hex, 64, e.lit(4, 8))); },
     TIRVO_BOUND_UNLIMITED, TIRVO_BOUND_UNLIMITED},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Programs, Bound, testing::ValuesIn(bounds),
                         [](const auto &i) { return std::string(i.param.name); });

TEST(Step, TheFirstFailureStopsTheStep) {
    env e;
    tirvo_varexp_entry *ok = e.add(e.var("x"));
    tirvo_varexp_entry *bad = e.add(e.op(O::tirvo_varexp_log_not, 1, e.lit(0, 0)));
    tirvo_varexp_entry *later = e.add(e.op(O::tirvo_varexp_log_not, 1, e.lit(0, 0)), 5);
    step_result r = compile_all(e);
    EXPECT_EQ(e.ctx.error, TIRVO_COMPILE_ERR_BYTE_CODE);
    EXPECT_NE(ok->bycp, nullptr);
    EXPECT_EQ(bad->bycp, nullptr);
    EXPECT_EQ(later->bycp, nullptr);
    EXPECT_EQ(later->bound, 5u);
    EXPECT_TRUE(is_void_message(r.err, "byc compile error: 5\n")) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST(Step, TooMuchCodeIsError1) {
    env e;
    e.add(
        e.op(O::tirvo_varexp_bit_not, 8, e.op(O::tirvo_varexp_unary_minus, 8, sum_chain(e, 2000))));
    step_result r = compile_all(e);
    EXPECT_EQ(e.ctx.error, TIRVO_COMPILE_ERR_BYTE_CODE);
    EXPECT_EQ(r.err, "byc compile error: 1\n");
}

void *no_memory(std::size_t) {
    return nullptr;
}

TEST(Step, MemoryExhaustionIsSilent) {
    // Once the tree is built the pool gets no more memory beyond `room`
    // bytes: with room for the program record only, the relocation entry of
    // the variable cannot be made; with none, not even the record.
    constexpr std::size_t record = (sizeof(tirvo_bycp) + alignof(std::max_align_t) - 1) /
                                   alignof(std::max_align_t) * alignof(std::max_align_t);
    for (std::size_t room : {record, std::size_t{0}}) {
        env e;
        tirvo_varexp_entry *x = e.add(e.var("y@8"));
        ASSERT_GE(e.ctx.pool.left, room);
        e.ctx.pool.alloc_fn = no_memory;
        e.ctx.pool.left = room;
        step_result r = compile_all(e);
        EXPECT_EQ(e.ctx.error, TIRVO_COMPILE_ERR_MEMORY);
        EXPECT_EQ(x->bycp, nullptr);
        EXPECT_EQ(r.out + r.err, "");
    }
}

// ---------------------------------------------------------------------------
// Random fingerprints through the whole front end. Each program that
// compiles is checked by a simulation that knows the true stack effect of
// every instruction: no path pops what is not there, every position is
// reached with one stack size only, every path ends with the expression's
// value on the stack, and the recorded maximum covers every path.

// The true stack effect: the 64-bit comparisons pop two 8-byte cells and push
// a 4-byte one.
int true_effect(int op) {
    if ((op >= TIRVO_BYC_LESS64 && op <= TIRVO_BYC_GREATER64) ||
        (op >= TIRVO_BYC_LEQ64 && op <= TIRVO_BYC_NEQ64))
        return -12;
    return tirvo_byc_stack_size_change(op);
}

bool jumps(int op) {
    return (op >= TIRVO_BYC_SKIP && op <= TIRVO_BYC_POP64_SKIP_NZ) ||
           op == TIRVO_BYC_SKIP_VARBIT_Z || op == TIRVO_BYC_SKIP_VARBIT_NZ;
}

void check_program(const tirvo_varexp_entry *x, const std::string &text) {
    const tirvo_bycp *p = x->bycp;
    ASSERT_NE(p, nullptr) << text;
    std::vector<uint8_t> starts(size_t(p->byc_len) + 1);
    ASSERT_TRUE(tirvo_byc_code_valid(p->byc, p->byc_len, starts.data())) << text;
    bool reads = false;
    for (int32_t pos = 0; pos < p->byc_len; pos += tirvo_byc_instruction_size(p->byc[pos]))
        reads |= __tirvo_byc_reads_stream[p->byc[pos]] != 0;
    EXPECT_EQ(x->bound == 0xffffffff, !reads) << text;
    dl_list_for_each(pos, &p->relocs) {
        const rle *e = dl_list_entry(pos, rle, list);
        EXPECT_TRUE(tirvo_byc_reloc_valid(p->byc, p->byc_len, starts.data(), e->pos, e->type))
            << text;
    }
    std::vector<int> depth(size_t(p->byc_len) + 1, -1);
    std::vector<int32_t> work{0};
    depth[0] = 0;
    int deepest = 0;
    auto reach = [&](int32_t at, int d) {
        if (depth[at] == -1) {
            depth[at] = d;
            work.push_back(at);
        }
        EXPECT_EQ(depth[at], d) << text << " at " << at;
    };
    while (!work.empty()) {
        int32_t at = work.back();
        work.pop_back();
        if (at == p->byc_len)
            continue;
        int op = p->byc[at], n = tirvo_byc_instruction_size(op);
        int d = depth[at] + true_effect(op);
        ASSERT_GE(d, 0) << text << " at " << at;
        deepest = std::max(deepest, std::max(d, depth[at]));
        if (jumps(op))
            reach(at + n + int32_t(tirvo_byc_read_u24(p->byc + at + n - 3)), d);
        if (op != TIRVO_BYC_SKIP)
            reach(at + n, d);
    }
    EXPECT_EQ(depth[size_t(p->byc_len)], p->end_stack_size) << text;
    EXPECT_GE(p->max_stack_size, deepest) << text;
}

const char *const leaves_text[] = {
    "x",      "y@8",          "$z@16",        "w@32",       "$v@64",  "$offset", "0",
    "1",      "300",          "70000",        "5000000000", "true",   "void",    "$major",
    "$dport", "parse_be(16)", "parse_le(40)", "cancel",     "x == 1", "y != 0",  "$offset > 7"};
const char *const binary_text[] = {"+",  "-",  "*", "/", "%",  "<<", ">>", "&",  "|", "^",
                                   "==", "!=", "<", ">", "<=", ">=", "&&", "||", ",", "->"};
const char *const targets_text[] = {"x", "y@8", "$z@16", "w@32", "$v@64"};
const char *const assign_text[] = {
    "=", "+=", "-=", "*=", "/=", "%=", "<<=", ">>=", "&=", "|=", "^="};
const char *const prefix_text[] = {"!", "~", "-", "(uint8_t) ", "(uint64_t) ", "(void) "};
const char *const call_text[] = {"sid", "skip", "CRC", "parse_dec", "parse_int"};

template <size_t N>
const char *pick(std::mt19937 &rng, const char *const (&list)[N]) {
    return list[std::uniform_int_distribution<size_t>(0, N - 1)(rng)];
}

std::string random_expr(std::mt19937 &rng, int depth) {
    int kind = depth == 0 ? 0 : std::uniform_int_distribution<int>(0, 9)(rng);
    switch (kind) {
    case 0:
    case 1:
        return pick(rng, leaves_text);
    case 2:
    case 3:
        return "(" + random_expr(rng, depth - 1) + " " + pick(rng, binary_text) + " " +
               random_expr(rng, depth - 1) + ")";
    case 4:
        return random_expr(rng, depth - 1) + " " + pick(rng, binary_text) + " " +
               random_expr(rng, depth - 1);
    case 5:
        return std::string(pick(rng, targets_text)) + " " + pick(rng, assign_text) + " (" +
               random_expr(rng, depth - 1) + ")";
    case 6:
        return pick(rng, prefix_text) + ("(" + random_expr(rng, depth - 1) + ")");
    case 7:
        return "(" + random_expr(rng, depth - 1) + " ? " + random_expr(rng, depth - 1) + " : " +
               random_expr(rng, depth - 1) + ")";
    case 8:
        return std::string(pick(rng, call_text)) + "(" + random_expr(rng, depth - 1) + ")";
    default: {
        const char *t = pick(rng, targets_text);
        switch (std::uniform_int_distribution<int>(0, 4)(rng)) {
        case 0:
            return std::string(t) + "++";
        case 1:
            return std::string("--") + t;
        case 2:
            return "regex(a)";
        case 3:
            return "record_marking(b)";
        default:
            return "x == 1 && y == 0 && $q == 1";
        }
    }
    }
}

TEST(RandomFingerprints, CompileToSoundProgramsOrFailCleanly) {
    tirvo_charset_init_predefined();
    std::mt19937 rng(20240611);
    int counts[7] = {};
    for (int i = 0; i < 3000; ++i) {
        std::string text =
            "(?I{9})ab(?[" + random_expr(rng, 4) + "])c(?[" + random_expr(rng, 2) + "])";
        tirvo_compile_ctx ctx;
        tirvo_compile_ctx_init(&ctx);
        tirvo_compile_set_syntax_check(&ctx);
        tirvo_compile_set_quiet(&ctx);
        FILE *f = text_as_file(text);
        ASSERT_NE(f, nullptr);
        tirvo_compile_set_input(&ctx, f, "fp");
        testing::internal::CaptureStderr();
        int status = tirvo_compile_run(&ctx);
        std::string err = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(status == 0 || status == 1 || status == 6) << text << "\n" << err;
        ++counts[status];
        if (status == 0) {
            EXPECT_EQ(err, "") << text;
            dl_list_for_each(pos, &ctx.varexp_entries)
                check_program(dl_list_entry(pos, tirvo_varexp_entry, list), text);
        } else if (status == 6) {
            EXPECT_NE(err.find("byc compile error: "), std::string::npos) << text;
        }
        tirvo_compile_cleanup(&ctx);
    }
    // The generator must reach both outcomes often enough to mean something.
    EXPECT_GT(counts[0], 600);
    EXPECT_GT(counts[6], 100);
}

} // namespace
