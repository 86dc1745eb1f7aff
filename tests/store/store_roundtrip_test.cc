// Compiled files loaded back: every fingerprint is compiled in process into
// a file, the file is loaded as a host loads it, and the loaded tables are
// compared with the compile context that produced them: variables by id,
// the sorted situations, every program (code, stack size, bound, location,
// relocations), and per DFA its header values and, for every state, the
// targets of all 256 bytes and of the special symbols, the flags, the ids
// (inside the 32-byte record or in the overflow area) and the count
// information.
#include "automata/tirvo_charset.h"
#include "byc/tirvo_byc_insn.h"
#include "byc/tirvo_variable.h"
#include "engine/tirvo_eng_settings.h"
#include "lang/tirvo_parse_tree.h"
#include "lang/tirvo_varexp.h"
#include "store/tirvo_load.h"
#include "tests/store/fp_compiled.h"
#include "tests/support/temp_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace {

// Bytes of a state record before the room for its ids.
size_t used_part(const tirvo_fingerprint *fp, const tirvo_fp_dfa *d) {
    return fp->low_level_dfa ? 12 : tirvo_fp_dfa_wide(d) ? 28 : 20;
}

void expect_location(const tirvo_location &loaded, const tirvo_location &compiled,
                     const std::string &what) {
    EXPECT_EQ(loaded.first_line, compiled.first_line) << what;
    EXPECT_EQ(loaded.first_column, compiled.first_column) << what;
    EXPECT_EQ(loaded.last_line, compiled.last_line) << what;
    EXPECT_EQ(loaded.last_column, compiled.last_column) << what;
    EXPECT_EQ(loaded.first_offset, 0) << what;
    EXPECT_EQ(loaded.last_offset, 0) << what;
}

void expect_variables(const fp_compiled &c, const tirvo_fingerprint *fp) {
    ASSERT_EQ(fp->num_variables, c.ctx.num_variables);
    struct walk {
        const tirvo_fingerprint *fp;
        int seen;
    } w{fp, 0};
    qle_avl_tree_walk(
        const_cast<qle_avl_tree *>(&c.ctx.variables),
        [](qle_avl_tree *, qle_avl_node *node, void *user) {
            auto *w = static_cast<walk *>(user);
            const auto *v = reinterpret_cast<const tirvo_variable *>(node);
            ++w->seen;
            EXPECT_GE(v->id, 0);
            EXPECT_LT(v->id, w->fp->num_variables);
            if (v->id < 0 || v->id >= w->fp->num_variables)
                return 0;
            const tirvo_fp_variable &l = w->fp->variables[v->id];
            EXPECT_STREQ(l.name, v->name) << "variable " << v->id;
            EXPECT_EQ(l.is_shared, v->is_shared) << "variable " << v->id;
            EXPECT_EQ(l.size, v->size) << "variable " << v->id;
            return 0;
        },
        &w);
    EXPECT_EQ(w.seen, fp->num_variables);
}

void expect_situations(const fp_compiled &c, const tirvo_fingerprint *fp) {
    std::vector<int32_t> compiled;
    tirvo_compile_walk_situations(
        const_cast<tirvo_compile_ctx *>(&c.ctx),
        [](uint32_t s, void *user) {
            static_cast<std::vector<int32_t> *>(user)->push_back(static_cast<int32_t>(s));
            return 0;
        },
        &compiled);
    ASSERT_EQ(fp->num_situations, static_cast<int32_t>(compiled.size()));
    EXPECT_EQ(std::vector<int32_t>(fp->situations, fp->situations + fp->num_situations), compiled);
    for (int32_t s : compiled)
        EXPECT_EQ(tirvo_fingerprint_has_situation(fp, s), 1) << s;
}

void expect_programs(const fp_compiled &c, const tirvo_fingerprint *fp) {
    ASSERT_EQ(fp->num_byc_progs, c.ctx.num_varexp_entries);
    dl_list_for_each(pos, &c.ctx.varexp_entries) {
        const auto *e = dl_list_entry(pos, tirvo_varexp_entry, list);
        const std::string what = "program " + std::to_string(e->id);
        ASSERT_LT(e->id, fp->num_byc_progs);
        const tirvo_fp_bycp &l = fp->bycps[e->id];
        const tirvo_bycp *p = e->bycp;
        ASSERT_EQ(l.len, p->byc_len) << what;
        if (l.len > 0) {
            EXPECT_EQ(std::vector<uint8_t>(l.code, l.code + l.len),
                      std::vector<uint8_t>(p->byc, p->byc + p->byc_len))
                << what;
        }
        EXPECT_EQ(l.required_stack_size, p->max_stack_size) << what;
        EXPECT_EQ(l.bound, static_cast<int32_t>(e->bound)) << what;
        expect_location(l.location, e->varexp->location, what);
        ASSERT_EQ(l.num_relocs, static_cast<int32_t>(dl_list_len(&p->relocs))) << what;
        int32_t i = 0;
        dl_list_for_each(rpos, &p->relocs) {
            const rle *r = dl_list_entry(rpos, rle, list);
            const tirvo_fp_reloc &lr = l.relocs[i];
            EXPECT_EQ(lr.pos, r->pos) << what << " relocation " << i;
            EXPECT_EQ(lr.type, r->type) << what << " relocation " << i;
            EXPECT_EQ(lr.variable_id, r->type == tirvo_rle_type_variable ? r->variable->id : 0)
                << what << " relocation " << i;
            ++i;
        }
    }
}

// The ids a loaded state must have: its program ids, or in a low-level DFA
// the situations of its expressions.
std::vector<uint32_t> expected_ids(const tirvo_fingerprint *fp, const superstate *s) {
    std::vector<uint32_t> ids;
    dl_list_for_each(pos, &s->varexps) {
        const tirvo_varexp_entry *e = dl_list_entry(pos, superstate_varexp, list)->varexp_entry;
        if (!fp->low_level_dfa)
            ids.push_back(static_cast<uint32_t>(e->id));
        else if (e->varexp->situation != 0)
            ids.push_back(e->varexp->situation);
    }
    return ids;
}

// One state of a loaded DFA against its superstate. Returns false after the
// first difference, which it reports.
bool state_matches(const tirvo_fingerprint *fp, const tirvo_fp_dfa *d, const superstate *s) {
    const int32_t id = static_cast<int32_t>(s->id);
    const std::string what = "DFA " + std::to_string(d->index) + " state " + std::to_string(id);
    for (int c = 0; c < 256; ++c) {
        const uint32_t want = fp_superstate_target(s, static_cast<uint32_t>(c));
        if (tirvo_fp_dfa_target(d, id, c) != want) {
            ADD_FAILURE() << what << " symbol " << c << ": " << tirvo_fp_dfa_target(d, id, c)
                          << " instead of " << want;
            return false;
        }
    }
    if (!fp->low_level_dfa) {
        for (int c = 256; c < 260; ++c) {
            const uint32_t want = fp_superstate_target(s, static_cast<uint32_t>(c));
            if (tirvo_fp_dfa_special_target(d, id, c) != want) {
                ADD_FAILURE() << what << " symbol " << c << ": "
                              << tirvo_fp_dfa_special_target(d, id, c) << " instead of " << want;
                return false;
            }
        }
    }
    const tirvo_fp_state *rec = tirvo_fp_dfa_state(d, id);
    int flags = s->cannot_match ? tirvo_fp_state_flag_cannot_match : 0;
    if (fp->low_level_dfa && s->matching_next_state_exists)
        flags |= tirvo_fp_state_flag_matching_next_state_exists;
    EXPECT_EQ(rec->flags, flags) << what;

    const std::vector<uint32_t> ids = expected_ids(fp, s);
    EXPECT_EQ(rec->num_ids, ids.size()) << what;
    if (rec->num_ids == ids.size() && !ids.empty()) {
        const uint32_t *loaded = tirvo_fp_dfa_state_ids(d, id);
        EXPECT_EQ(std::vector<uint32_t>(loaded, loaded + ids.size()), ids) << what;
        // Inside the record when the ids fit behind its used part.
        const size_t used = used_part(fp, d);
        if (used + 4 * ids.size() < 32) {
            EXPECT_EQ(rec->ids_offset, 32 * static_cast<size_t>(id) + used) << what;
        } else {
            EXPECT_GE(rec->ids_offset, 32 * static_cast<size_t>(d->num_states)) << what;
        }
    }

    const tirvo_fp_count *count = tirvo_fp_dfa_state_count(d, id);
    if (!s->count_charset) {
        EXPECT_EQ(count, nullptr) << what;
    } else if (count == nullptr) {
        ADD_FAILURE() << what << " has no count information";
    } else {
        EXPECT_EQ(count->count, s->count) << what;
        for (int c = 0; c < 260; ++c)
            EXPECT_EQ(tirvo_fp_count_contains(count, c) != 0,
                      tirvo_charset_contains(s->count_charset, static_cast<uint32_t>(c)))
                << what << " count symbol " << c;
    }
    return !testing::Test::HasFailure();
}

void expect_dfas(const fp_compiled &c, const tirvo_fingerprint *fp) {
    ASSERT_EQ(fp->num_dfas, c.ctx.num_regex_entries);
    dl_list_for_each(pos, &c.ctx.regex_entries) {
        const auto *e = dl_list_entry(pos, tirvo_regex_entry, list);
        const std::string what = "DFA " + std::to_string(e->id);
        ASSERT_LT(e->id, fp->num_dfas);
        const tirvo_fp_dfa *d = &fp->dfas[e->id];
        const superstates *ss = e->superstates;
        EXPECT_EQ(d->index, e->id);
        ASSERT_EQ(d->num_states, static_cast<int32_t>(ss->ss_cnt)) << what;
        EXPECT_EQ(d->first_active_state, static_cast<int32_t>(ss->plain_cnt)) << what;
        EXPECT_EQ(d->initial_state, static_cast<int32_t>(ss->initial->id)) << what;
        EXPECT_EQ(d->bound, static_cast<int32_t>(e->bound)) << what;
        expect_location(d->location, e->regex->location, what);
        int32_t i = 0;
        for (const superstate *s : fp_superstates(ss)) {
            ASSERT_EQ(s->id, static_cast<uint32_t>(i)) << what << ": list out of id order";
            if (!state_matches(fp, d, s))
                return;
            ++i;
        }
    }
}

struct roundtrip_case {
    const char *name;
    std::string (*text)(); // the fingerprint
    fp_compile_setup setup;
    bool wide; // the DFA of the main entry needs 32-bit tables
};

void PrintTo(const roundtrip_case &c, std::ostream *os) {
    *os << c.name;
}

class RoundTrip : public testing::TestWithParam<roundtrip_case> {
  protected:
    void SetUp() override {
        tirvo_eng_set_error_stream(stderr);
        tirvo_eng_set_warning_stream(stderr);
        tirvo_eng_set_debug_stream(stderr);
    }
    void TearDown() override {
        tirvo_eng_set_error_stream(nullptr);
        tirvo_eng_set_warning_stream(nullptr);
        tirvo_eng_set_debug_stream(nullptr);
    }
};

TEST_P(RoundTrip, LoadedTablesAreTheCompiledOnes) {
    const roundtrip_case &rc = GetParam();
    temp_dir dir;
    fp_compiled c(rc.text(), dir.file("fp.out"), rc.setup);
    ASSERT_EQ(c.status, 0);
    tirvo_fingerprint *fp = nullptr;
    ASSERT_EQ(tirvo_load_fingerprint_file(c.out_path.c_str(), &fp), 0);
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(fp->file_id, static_cast<int32_t>(c.ctx.file_id));
    EXPECT_EQ(fp->low_level_dfa, c.ctx.flags.low_level_dfa);
    expect_variables(c, fp);
    expect_situations(c, fp);
    expect_programs(c, fp);
    expect_dfas(c, fp);
    if (fp->num_dfas > 0) {
        EXPECT_EQ(tirvo_fp_dfa_wide(&fp->dfas[0]), rc.wide);
    }
    tirvo_free_fingerprint(fp);
}

// Thirty branches with situations in both signed halves, words that share
// prefixes, variables of every size and scope, and expressions that read the
// stream.
std::string many_branches() {
    static const char *const words[] = {"GET", "GEX", "POST", "PUT", "HEAD", "HELP"};
    static const char *const sizes[] = {"", "@8", "@16", "@32", "@64"};
    std::string text;
    uint32_t sid = 12345;
    for (int i = 0; i < 30; ++i) {
        sid = sid * 1103515245u + 12345u;
        if (i)
            text += "|";
        text += "(?I{" + std::to_string(i % 7 == 0 ? sid | 0x80000000u : sid % 100000) + "})";
        text += words[i % 6];
        text += "[0-9a-f]{" + std::to_string(i % 4 + 1) + "," + std::to_string(i % 4 + 3) + "}";
        if (i % 3 == 0)
            text += "(?[" + std::string(i % 2 ? "$" : "") + "v" + std::to_string(i % 5) +
                    sizes[i % 5] + " += 1])";
        if (i % 5 == 0)
            text += "(?[{" + std::to_string(i % 32) + "} skip(3)])";
        text += "x";
    }
    return text;
}

std::string example_fingerprint() {
    bool ok = false;
    std::string text = read_file(std::string(TIRVO_SOURCE_DIR) + "/examples/http_admin.fp", &ok);
    EXPECT_TRUE(ok);
    return text;
}

#define TEXT(literal) [] { return std::string(literal); }

const roundtrip_case roundtrip_cases[] = {
    {"Empty", TEXT(""), nullptr, false},
    {"Example", example_fingerprint, nullptr, false},
    {"ManyBranches", many_branches, nullptr, false},
    {"SubExpression", TEXT("(?I{3})abc(?>{2}de+f)|(?I{4})ab(?>*g|h)"), nullptr, false},
    {"RegexArgument", TEXT("a(?[regex{3}(b(?[v=1]))])|c(?[record_marking(d+(?[w@16=2]))])"),
     nullptr, false},
    {"SpecialSymbols", TEXT("(?I{5})a\\m|(?I{6})b\\z|(?I{7})c\\Md"), nullptr, false},
    {"CountStates", TEXT("(?I{1})[a-cx]{1000}|(?I{2})x{3,4}(?[v=1])y|(?I{3})q{200,}"), nullptr,
     false},
    // Four program ids at the start, two after x, three after y, the
    // situation alone after z: two fit into the record, three do not.
    {"IdsInsideAndOutsideTheRecord",
     TEXT("(?I{9})(?[a=1])(?[b=1])(?[c=1])(?[d=1])x(?[e=1])(?[f=1])y(?[g=1])(?[h=1])(?[i=1])z"),
     nullptr, false},
    // With a file id above the signed range.
    {"LowLevel", TEXT("(?I{5})ab|(?I{6})a[bc]|(?I{7})a.c|(?I{8})abc"),
     [](tirvo_compile_ctx *ctx) {
         tirvo_compile_set_low_level_dfa(ctx);
         tirvo_compile_set_file_id(ctx, 4000000000u);
     },
     false},
    // Five situations on one state: 20 bytes of ids do not fit behind 12.
    {"LowLevelManySituations", TEXT("(?I{1})ab|(?I{2})ab|(?I{3})ab|(?I{4})ab|(?I{5})ab|(?I{6})a"),
     tirvo_compile_set_low_level_dfa, false},
    // 70002 states: 32-bit tables, no ids inside the records.
    {"ThirtyTwoBitTables", TEXT("(?I{1})a{70000}"), tirvo_compile_set_no_count_superstates, true},
};

INSTANTIATE_TEST_SUITE_P(Fingerprints, RoundTrip, testing::ValuesIn(roundtrip_cases),
                         [](const testing::TestParamInfo<roundtrip_case> &i) {
                             return std::string(i.param.name);
                         });

} // namespace
