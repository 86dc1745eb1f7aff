// The fingerprint grammar, run through the compile pipeline with a syntax
// check: the parse tree it builds (regex entries, branches, pieces,
// variable-expression entries and expression nodes, written in a compact
// shape notation below), the numbering of its rules as the parser trace shows
// them, the trace itself, and the warnings that need many entries.
#include "automata/tirvo_charset.h"
#include "byc/tirvo_variable.h"
#include "compiler/tirvo_compile_ctx.h"
#include "lang/tirvo_parse.h"
#include "lang/tirvo_parse_tree.h"
#include "lang/tirvo_scanner.h"
#include "lang/tirvo_varexp.h"
#include "tests/lang/compiled.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

namespace {

std::string set_text(const tirvo_charset *set, int n) {
    char *data = nullptr;
    std::size_t size = 0;
    FILE *f = open_memstream(&data, &size);
    tirvo_charset_print(f, set, 0, static_cast<uint32_t>(n));
    std::fclose(f);
    std::string s(data, size);
    std::free(data);
    return s;
}

// An expression in prefix form: "name/size(operands)". Literals are
// "value/size", variables "[$]name/size", entry nodes "name#entry/size", and
// the sid node that a branch end adds carries its situation: "sid[s]".
std::string shape(const tirvo_varexp *n) {
    std::string size = "/";
    size += std::to_string(n->result_size);
    std::string s;
    switch (n->oper) {
    case tirvo_varexp_literal:
        return s.append(std::to_string(n->value)).append(size);
    case tirvo_varexp_variable:
        s = n->variable->is_shared ? "$" : "";
        return s.append(n->variable->name).append(size);
    case tirvo_varexp_subexp:
    case tirvo_varexp_record_marking:
        s = tirvo_varexp_oper_name(n->oper);
        return s.append("#").append(std::to_string(n->regex_entry->id)).append(size);
    default:
        break;
    }
    s = tirvo_varexp_oper_name(n->oper);
    if (n->situation)
        s.append("[").append(std::to_string(n->situation)).append("]");
    s += size;
    for (int i = 0; i < n->num_args; ++i)
        s.append(i ? "," : "(").append(shape(n->arg[i]));
    if (n->num_args)
        s += ")";
    return s;
}

std::string bound_text(uint32_t b) {
    return b >= TIRVO_BOUND_UNLIMITED ? "*" : std::to_string(b);
}

// A regex: branches separated by "|"; a piece is its set in display form or
// "(regex)", followed by "{min,max}" unless both are 1; a variable-expression
// element is "<entry id:bound:expression>".
std::string shape(const tirvo_regex *r, int alphabet) {
    std::string s;
    dl_list_for_each(b, &r->branches) {
        if (b != r->branches.next)
            s += "|";
        dl_list_for_each(e, &dl_list_entry(b, tirvo_branch, list)->branch_elems) {
            const auto *elem = dl_list_entry(e, tirvo_branch_elem, list);
            if (elem->type == tirvo_branch_elem_type_varexp) {
                const tirvo_varexp_entry *v = elem->varexp_entry;
                s.append("<").append(std::to_string(v->id)).append(":");
                s.append(bound_text(v->bound)).append(":").append(shape(v->varexp)).append(">");
                continue;
            }
            const tirvo_piece &p = elem->piece;
            if (p.type == tirvo_atom_type_regex)
                s.append("(").append(shape(p.atom.regex, alphabet)).append(")");
            else
                s += set_text(p.atom.charset, alphabet);
            if (p.min != 1 || p.max != 1) {
                s.append("{").append(std::to_string(p.min)).append(",");
                s.append(p.max == TIRVO_PIECE_INF ? "Inf" : std::to_string(p.max)).append("}");
            }
        }
    }
    return s;
}

// Every regex entry in list order: "id:bound=regex", separated by " ; ".
std::string entries(const tirvo_compile_ctx *ctx) {
    std::string s;
    dl_list_for_each(pos, &ctx->regex_entries) {
        const auto *e = dl_list_entry(pos, tirvo_regex_entry, list);
        s += (s.empty() ? "" : " ; ") + std::to_string(e->id) + ":" + bound_text(e->bound) + "=" +
             shape(e->regex, ctx->alphabet_size);
    }
    return s;
}

struct tree_case {
    const char *text;
    const char *tree; // entries(), or "" when the parse fails
    const char *err;  // messages
};

std::ostream &operator<<(std::ostream &os, const tree_case &c) {
    return os << testing::PrintToString(std::string(c.text));
}

class Trees : public testing::TestWithParam<tree_case> {};

TEST_P(Trees, AreBuiltAsDocumented) {
    const tree_case &c = GetParam();
    compiled r(c.text);
    EXPECT_EQ(r.err, c.err);
    if (*c.tree) {
        ASSERT_EQ(r.status, 0);
        EXPECT_EQ(r.ctx.main_entry,
                  dl_list_entry(r.ctx.regex_entries.next, tirvo_regex_entry, list));
        EXPECT_EQ(entries(&r.ctx), c.tree);
    } else {
        EXPECT_EQ(r.status, 1);
    }
}

// clang-format off
const tree_case precedence[] = {
    {"(?[a = b ? c : d])", "0:0=<0:1:?:/1(=/1(a/1,b/1),c/1,d/1)>", ""},
    {"(?[a ? b : c ? d : e])", "0:0=<0:1:?:/1(?:/1(a/1,b/1,c/1),d/1,e/1)>", ""},
    {"(?[x = a , b])", "0:0=<0:1:,/1(=/1(x/1,a/1),b/1)>", ""},
    {"(?[a -> b , c])", "0:0=<0:1:->/0(a/1,,/1(b/1,c/1))>", ""},
    {"(?[x = y = 1])", "0:0=<0:1:=/1(x/1,=/1(y/1,1/1))>", ""},
    {"(?[y@16 -= x@8 <<= 2])", "0:0=<0:1:-=/16(y/16,<<=/8(x/8,2/8))>", ""},
    {"(?[a - b - c])", "0:0=<0:1:-/1(-/1(a/1,b/1),c/1)>", ""},
    {"(?[a || b && c | d ^ e & f == g < h << i + j * -k++])",
     "0:0=<0:1:||/1(a/1,&&/1(b/1,|/1(c/1,^/1(d/1,&/1(e/1,==/1(f/1,</1(g/1,<</1(h/1,+/1(i/1,"
     "*/1(j/1,unary -/1(post++/1(k/1))))))))))))>", ""},
    {"(?[a * b / c % d >> e < f > g])",
     "0:0=<0:1:>/1(</1(>>/1(%/1(//1(*/1(a/1,b/1),c/1),d/1),e/1),f/1),g/1)>", ""},
    {"(?[!a == b])", "0:0=<0:1:==/1(!/1(a/1),b/1)>", ""},
    {"(?[(uint16_t) a + b])", "0:0=<0:1:+/16(cast/16(a/1),b/1)>", ""},
};
INSTANTIATE_TEST_SUITE_P(Precedence, Trees, testing::ValuesIn(precedence));

const tree_case result_sizes[] = {
    {"(?[1 + 300])", "0:0=<0:1:+/16(1/1,300/16)>", ""},
    {"(?[65535 + 65536 + 4294967296])", "0:0=<0:1:+/64(+/32(65535/16,65536/32),4294967296/64)>", ""},
    {"(?[(uint8_t) 300, (void) 1])", "0:0=<0:1:,/0(cast/8(300/16),cast/0(1/1))>", ""},
    {"(?[x@64 << 1, 1 << x@64])", "0:0=<0:1:,/1(<</64(x/64,1/1),<</1(1/1,x/64))>", ""},
    {"(?[$x@32 += 5])", "0:0=<0:1:+=/32($x/32,5/8)>", ""},
    {"(?[x@8 = 300])", "0:0=<0:1:=/8(x/8,300/16)>", ""},
    {"(?[x@8 *= 1, x@8 /= 1, x@8 %= 1, x@8 += 1, x@8 &= 1, x@8 |= 1, x@8 ^= 1, x@8 >>= 1, "
     "x@8--, ++x@8])",
     "0:0=<0:1:,/8(,/8(,/8(,/8(,/8(,/8(,/8(,/8(,/8(*=/8(x/8,1/1),/=/8(x/8,1/1)),%=/8(x/8,1/1)),"
     "+=/8(x/8,1/1)),&=/8(x/8,1/1)),|=/8(x/8,1/1)),^=/8(x/8,1/1)),>>=/8(x/8,1/1)),"
     "post--/8(x/8)),++pre/8(x/8))>", ""},
    {"(?[x@8++, --y@16])", "0:0=<0:1:,/16(post++/8(x/8),--pre/16(y/16))>", ""},
    {"(?[!x@8, ~x@8, -y@32])", "0:0=<0:1:,/32(,/8(!/1(x/8),~/8(x/8)),unary -/32(y/32))>", ""},
    {"(?[(x@16), +x@16])", "0:0=<0:1:,/16(()/16(x/16),x/16)>", ""},
    {"(?[x ? 1 : 4294967296])", "0:0=<0:1:?:/64(x/1,1/1,4294967296/64)>", ""},
    {"(?[x <= 1, x >= 1, x != 1])", "0:0=<0:1:,/1(,/1(<=/1(x/1,1/1),>=/1(x/1,1/1)),!=/1(x/1,1/1))>", ""},
    {"(?[CRC(x), skip(4)])", "0:0=<0:1:,/0(crc/32(x/1),skip/0(4/8))>", ""},
    {"(?[parse_dec(x) + parse_be(16), parse_le(64)])",
     "0:0=<0:1:,/64(+/64(parse_dec/64(x/1),parse_be/16),parse_le/64)>", ""},
    {"(?[parse_hex(1), parse_oct(1), parse_int(1)])",
     "0:0=<0:1:,/64(,/64(parse_hex/64(1/1),parse_oct/64(1/1)),parse_int/64(1/1))>", ""},
    {"(?[$major + $minor + $patch + $build + $fpver + $dport])",
     "0:0=<0:1:+/32(+/32(+/32(+/32(+/32($major/32,$minor/32),$patch/32),$build/32),$fpver/32),"
     "$dport/32)>", ""},
    {"(?[$offset, void, true, false])", "0:0=<0:1:,/1(,/1(,/0(offset/32,0/0),1/1),0/1)>", ""},
    {"(?[cancel, cancel_fp_ctx])", "0:0=<0:1:,/0(cancel/0,cancel_fp_ctx/0)>", ""},
    {"(?I{7})a(?[sid(), sid(x)])", "0:0=a<0:1:,/0(sid/0(7/0),sid/0(x/1))>", ""},
};
INSTANTIATE_TEST_SUITE_P(ResultSizes, Trees, testing::ValuesIn(result_sizes));

const tree_case conditions[] = {
    {"(?I{3})abc(?{x == 1 -> y = 1, ignore})", "0:0=abc<0:1:->/0(==/1(x/1,1/1),=/1(y/1,1/1))>", ""},
    {"(?I{3})abc(?{x == 1 -> y = 1})",
     "0:0=abc<0:1:->/0(==/1(x/1,1/1),,/0(=/1(y/1,1/1),sid/0(3/0)))>", ""},
    {"(?I{3})abc(?{y = 1, z ^= 0})", "0:0=abc<0:1:,/0(,/1(=/1(y/1,1/1),^=/1(z/1,0/1)),sid/0(3/0))>", ""},
    {"(?I{3})abc(?{x == 1 && $offset >= 10})",
     "0:0=abc<0:1:->/0(&&/1(==/1(x/1,1/1),>=/1(offset/32,10/1)),sid/0(3/0))>", ""},
    {"(?I{3})a(?{$offset < 5 && $offset <= 5 && $offset > 5 && $offset != 5 && $offset == 5})",
     "0:0=a<0:1:->/0(&&/1(&&/1(&&/1(&&/1(</1(offset/32,5/1),<=/1(offset/32,5/1)),"
     ">/1(offset/32,5/1)),!=/1(offset/32,5/1)),==/1(offset/32,5/1)),sid/0(3/0))>", ""},
    {"(?I{3})abc\\p{x != 0}", "0:0=abc<0:1:->/0(!=/1(x/1,0/1),sid/0(3/0))>",
     "fp:1-1,11-14: warning: deprecated condition syntax \\p{...}\n"},
    {"abc(?{y = 1})", "0:0=abc<0:1:=/1(y/1,1/1)>", ""},
    {"(?I{3})abc(?{ignore})", "0:0=abc", ""},
    {"abc(?{ignore, ignore})", "0:0=abc", ""},
    {"abc(?{x == 1})", "0:0=abc", "fp:1-1,7-13: warning: statement with no effect\n"},
    {"(?I{3})abc(?>{2}(?{x == 1})def)(?{y == 0})",
     "0:0=abc<0:1:->/0(==/1(x/1,1/1),subexp#1/0)> ; "
     "1:2=def<1:1:,/0(cancel/0,->/0(==/1(y/1,0/1),sid/0(3/0)))>", ""},
    {"abc(?>{2}(?{x == 1})def)(?{y == 0})",
     "0:0=abc<0:1:->/0(==/1(x/1,1/1),subexp#1/0)> ; 1:2=def<1:1:cancel/0>",
     "fp:1-1,28-34: warning: statement with no effect\n"},
    {"abc(?>def)(?{ignore})", "0:0=abc<0:1:subexp#1/0> ; 1:1=def<1:1:cancel/0>", ""},
    {"(?I{4})abc(?>def)(?{z = 1})",
     "0:0=abc<0:1:subexp#1/0> ; 1:1=def<1:1:,/0(cancel/0,,/0(=/1(z/1,1/1),sid/0(4/0)))>", ""},
};
INSTANTIATE_TEST_SUITE_P(Conditions, Trees, testing::ValuesIn(conditions));

const tree_case structure[] = {
    {"", "0:0=", ""},
    {"a|b", "0:0=a|b", ""},
    {"(?I{5})abc|def", "0:0=abc<0:1:sid[5]/0(5/0)>|def<1:1:sid[5]/0(5/0)>", ""},
    {"\\s{6}ab", "0:0=ab<0:1:sid[6]/0(6/0)>",
     "fp:1-1,0-3: warning: assuming that \\s is deprecated situation definition, because "
     "(?I{<sid>}) not seen\n"},
    {"(?I{4294967297})a", "0:0=a<0:1:sid[1]/0(1/0)>", ""},
    // Entries are numbered at the end: the main one first, the others in
    // the order their closing parentheses were read.
    {"x(?[regex(a(?[regex(b)]))])(?>c)",
     "0:0=x<1:1:subexp#2/0><2:1:subexp#3/0> ; 1:1=b ; 2:1=a<0:1:subexp#1/0> ; "
     "3:1=c<3:1:cancel/0>", ""},
    // Modifiers set in a regex argument end with it.
    {"(?[regex((?i)a)])b", "0:0=<0:1:subexp#1/0>b ; 1:1=[Aa]", ""},
    {"(?[record_marking*(a|b), regex{0}(c)])",
     "0:0=<0:1:,/0(record_marking#1/0,subexp#2/0)> ; 1:*=a|b ; 2:0=c", ""},
    // A sub-expression of several branches is one branch holding them as a
    // group, so that its end can follow the group.
    {"(?I{4})a(?>*d|e)", "0:0=a<0:1:subexp#1/0> ; 1:*=(d|e)<1:1:,/0(cancel/0,sid[4]/0(4/0))>", ""},
    {"a*b+c?d{2}e{2,}f{,3}g{2,3}", "0:0=a{0,Inf}b{1,Inf}c{0,1}d{2,2}e{2,Inf}f{0,3}g{2,3}", ""},
    {"(?i:ab){2}", "0:0=([Aa][Bb]){2,2}", ""},
    // A modifier group's bounds are checked like any other piece's.
    {"(?i:a){0}", "", "fp:1-1,0-10: invalid bounds\n"},
    // A "\\x" character is never folded.
    {"(?i)\\x41\\101", "0:0=A[Aa]", ""},
    {"[\\w\\s-]", "", "fp:1-1,6-7: syntax error, unexpected '-'\n"},
    {"[^a[:^alpha:]]", "0:0=[A-Zb-z]", ""},
    {"[\\d\\D]", "0:0=[^]", ""},
    {"[^\\m]", "0:0=[^]", "fp:1-1,0-6: warning: assertions in [^...] do not work (yet)\n"},
    {"(?i)[A-C[:lower:]]", "0:0=[A-Ca-z]", ""},
};
INSTANTIATE_TEST_SUITE_P(Structure, Trees, testing::ValuesIn(structure));

// A situation marker restores the modifiers of the scope around it: inside
// a group those in force where the group was opened, at the outermost level
// the defaults. The group's own scope stays open and closes normally.
const tree_case situation_modifiers[] = {
    {"(?i)a(?I{5})b", "0:0=[Aa]b<0:1:sid[5]/0(5/0)>", ""},
    {"((?i)a(?I{5})b)c", "0:0=([Aa]b)c<0:1:sid[5]/0(5/0)>", ""},
    {"(?i)((?I{5})a)b", "0:0=([Aa])[Bb]<0:1:sid[5]/0(5/0)>", ""},
    {"(?x:a(?I{1})b c)", "0:0=(ab\\x20c)<0:1:sid[1]/0(1/0)>", ""},
    {"(((a(?I{2}))))b", "0:0=(((a)))b<0:1:sid[2]/0(2/0)>", ""},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(SituationModifiers, Trees, testing::ValuesIn(situation_modifiers));

TEST(Situations, AreKeptOnceEachInTheContainer) {
    compiled r("(?I{5})a|(?I{7})b|(?I{5})c|(?I{0})e");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.ctx.num_situations, 3);
    std::vector<uint32_t> seen;
    tirvo_compile_walk_situations(
        &r.ctx,
        [](uint32_t s, void *user) {
            static_cast<std::vector<uint32_t> *>(user)->push_back(s);
            return 0;
        },
        &seen);
    EXPECT_EQ(seen, (std::vector<uint32_t>{0, 5, 7}));
    // A situation 0 is no situation: the last branch gets no report.
    EXPECT_EQ(entries(&r.ctx),
              "0:0=a<0:1:sid[5]/0(5/0)>|b<1:1:sid[7]/0(7/0)>|c<2:1:sid[5]/0(5/0)>|e");
}

TEST(Options, CaseInsensitiveAndLowLevelReachTheGrammar) {
    compiled ci("ab\\Ec", tirvo_compile_set_case_insensitive);
    EXPECT_EQ(entries(&ci.ctx), "0:0=[Aa][Bb]c");
    compiled low("(?I{1}).[^a]", tirvo_compile_set_low_level_dfa);
    EXPECT_EQ(entries(&low.ctx), "0:0=[^][^a]<0:1:sid[1]/0(1/0)>");
    compiled full("(?I{1}).[^a]");
    EXPECT_EQ(entries(&full.ctx), "0:0=[\\x00-\\m][^a]<0:1:sid[1]/0(1/0)>");
}

// More than 2047 entries of either kind: the engine limits only the first
// ones, and the parser says so once, at the entry that gets the id 2048.
TEST(ManyEntries, WarnOnceAtTheEntryNumbered2048) {
    // 2048 variable expressions "(?[x++])" after "a", 8 bytes each from
    // offset 1. The k-th expression starts at b = 1 + 8k; it reads as
    // "(?[" b..b+2, x b+3, "++" b+4..b+5. When the entry is made its
    // expression is "x++": from the empty scope before x (the position after
    // the look-ahead of x, b+5) to the end of "++" (b+7, after the look-ahead
    // "]"). Entry ids count from 0, so id 2048 is k = 2048.
    std::string text = "a";
    for (int k = 0; k <= 2048; ++k)
        text += "(?[x++])";
    compiled v(text, tirvo_compile_set_quiet);
    EXPECT_EQ(v.err, "");
    compiled w(text);
    const int b = 1 + 8 * 2048;
    EXPECT_EQ(w.err, "fp:1-1," + std::to_string(b + 5) + "-" + std::to_string(b + 7) +
                         ": warning: Variable expressions from this point on will not have their "
                         "number of concurrent instances limited with the current engine "
                         "implementation (only the first 2047 subexpressions supported)\n");
    EXPECT_EQ(w.ctx.num_varexp_entries, 2049);

    // 2048 arguments "regex(a)" separated by commas in one variable
    // expression; the k-th starts at c = 3 + 9k. Its regex is the piece "a" (c+6, read with the
    // look-ahead ")" up to c+8) with the empty bound after the look-ahead ")"
    // (c+9). The main entry is 0, so the argument k = 2047 gets the id 2048.
    std::string args = "(?[";
    for (int k = 0; k < 2048; ++k)
        args += k ? ",regex(a)" : "regex(a)";
    args += "])";
    compiled r(args);
    const int c = 3 + 9 * 2047;
    EXPECT_EQ(r.err, "fp:1-1," + std::to_string(c + 7) + "-" + std::to_string(c + 9) +
                         ": warning: Subexpressions from this point on will not have their number "
                         "of concurrent instances limited with the current engine implementation "
                         "(only the first 2047 subexpressions supported)\n");
    EXPECT_EQ(r.ctx.num_regex_entries, 2049);
}

// The pool runs dry at every chunk in turn during the parse of a
// fingerprint that uses every kind of record: the parse fails with the
// memory error and leaves nothing behind that the cleanup cannot release.
int chunks_left;

void *limited_alloc(std::size_t n) {
    return chunks_left-- > 0 ? std::malloc(n) : nullptr;
}

TEST(PoolExhaustion, FailsTheParseWithTheMemoryError) {
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += "(?I{" + std::to_string(i + 1) + "})a*[b-d\\w](?i:e|f){2}\\x41\\&\\x42.(?[x" +
                std::to_string(i) +
                "@8 += y ? 1 : 2, regex(g|h), record_marking{3}(k)])"
                "(?>{2}(?{x == 1})m|n)(?{y == 0 -> z = 1, ignore})|";
    text += "o";
    int ok_at = -1;
    for (int chunks = 0; chunks < 200 && ok_at < 0; ++chunks) {
        tirvo_compile_ctx ctx;
        tirvo_compile_ctx_init(&ctx);
        tirvo_compile_set_quiet(&ctx);
        tirvo_compile_set_input(&ctx, text_as_file(text), "fp");
        chunks_left = chunks;
        tirvo_pool_setup(&ctx.pool, limited_alloc, std::free);
        testing::internal::CaptureStderr();
        int result = tirvo_parse_setup(&ctx) == 0 ? tirvo_parse(&ctx) : -1;
        testing::internal::GetCapturedStderr();
        if (result == 0)
            ok_at = chunks;
        else
            EXPECT_EQ(ctx.error, TIRVO_COMPILE_ERR_MEMORY) << chunks << " chunks";
        tirvo_compile_cleanup(&ctx);
    }
    EXPECT_GT(ok_at, 20) << "the failures must hit the parse, not only its set-up";
}

} // namespace
