// NFA construction: the records it leaves for the superstate stage (ids,
// the state vector, count states, shared sets, locations), the order of the
// empty-arc closure on hand-made graphs, arcs, internal errors, memory
// exhaustion, the size limit and the graph writer's handling of a stream
// that fails at any byte.
#include "tests/support/temp_file.h"
#include "automata/tirvo_charset.h"
#include "automata/tirvo_nfa_print.h"
#include "automata/tirvo_regex_to_nfa.h"
#include "compiler/tirvo_compile_ctx.h"
#include "lang/tirvo_parse_tree.h"
#include "lang/tirvo_varexp.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

// A fingerprint parsed with a syntax check (which stops before the NFA
// stage); build() then runs the stage on the parse.
struct parsed {
    tirvo_compile_ctx ctx;
    int status;

    explicit parsed(const std::string &text) {
        tirvo_charset_init_predefined();
        tirvo_compile_ctx_init(&ctx);
        tirvo_compile_set_syntax_check(&ctx);
        FILE *f = text_as_file(text);
        EXPECT_NE(f, nullptr);
        tirvo_compile_set_input(&ctx, f, "fp");
        status = tirvo_compile_run(&ctx);
        ctx.flags.syntax_check = 0;
    }
    ~parsed() { tirvo_compile_cleanup(&ctx); }
    parsed(const parsed &) = delete;
    parsed &operator=(const parsed &) = delete;

    int build() { return tirvo_nfa_build(&ctx); }

    tirvo_regex_entry *entry(int i) {
        dl_list *pos = ctx.regex_entries.next;
        while (i-- > 0)
            pos = pos->next;
        return dl_list_entry(pos, tirvo_regex_entry, list);
    }
    tirvo_branch_elem *elem(int i) {
        const tirvo_branch *b = dl_list_entry(entry(0)->regex->branches.next, tirvo_branch, list);
        dl_list *pos = b->branch_elems.next;
        while (i-- > 0)
            pos = pos->next;
        return dl_list_entry(pos, tirvo_branch_elem, list);
    }
};

nfa_state *listed(dl_list *link) {
    return dl_list_entry(link, nsl, list)->nfa_state;
}

std::vector<nfa_state *> states_of(const dl_list *list) {
    std::vector<nfa_state *> v;
    dl_list_for_each(pos, list) v.push_back(listed(pos));
    return v;
}

// What the superstate stage relies on: ids 0 to n - 1 in list order, the
// state vector, no empty arcs, every flag of the closure clear, every state
// consuming (a set) or running an expression, targets inside the NFA and
// never twice, count states with a set and a count.
void check_final_nfa(const nfa *n) {
    uint32_t id = 0;
    std::set<const nfa_state *> members;
    dl_list_for_each(pos, &n->nfa_states) {
        const nfa_state *s = dl_list_entry(pos, nfa_state, list);
        SCOPED_TRACE("state " + std::to_string(id));
        EXPECT_EQ(s->id, id);
        ASSERT_NE(n->nfa_state_vect, nullptr);
        EXPECT_EQ(n->nfa_state_vect[id], s);
        EXPECT_TRUE(dl_list_empty(&s->empty_arcs));
        EXPECT_FALSE(s->flags.touched || s->flags.listed || s->flags.removable);
        EXPECT_TRUE(s->arc_label != nullptr || s->varexp_entry != nullptr);
        EXPECT_EQ(dl_list_empty(&s->next_states) || s->arc_label != nullptr, true);
        if (s->type == tirvo_nfa_state_type_count) {
            EXPECT_NE(s->arc_label, nullptr);
            EXPECT_GE(s->count, 1u);
        } else {
            EXPECT_FALSE(s->flags.keep_on);
        }
        members.insert(s);
        ++id;
    }
    EXPECT_EQ(n->num_states, id);
    auto check_list = [&](const dl_list *list) {
        std::set<const nfa_state *> seen;
        dl_list_for_each(pos, list) {
            const nfa_state *t = listed(const_cast<dl_list *>(pos));
            EXPECT_TRUE(members.count(t)) << "target outside the NFA";
            EXPECT_TRUE(seen.insert(t).second) << "target listed twice";
        }
    };
    check_list(&n->initial_state);
    dl_list_for_each(pos, &n->nfa_states)
        check_list(&dl_list_entry(pos, nfa_state, list)->next_states);
}

struct build_case {
    const char *text;
    void (*setup)(tirvo_compile_ctx *);
};

class NfaBuild : public testing::TestWithParam<build_case> {};

TEST_P(NfaBuild, LeavesAClosedNumberedNfaForEveryEntry) {
    parsed p(GetParam().text);
    ASSERT_EQ(p.status, 0);
    if (GetParam().setup)
        GetParam().setup(&p.ctx);
    ASSERT_EQ(p.build(), 0);
    EXPECT_TRUE(dl_list_empty(&p.ctx.new_nfa_states));
    EXPECT_EQ(p.ctx.flags.no_main_count_extension, 0);
    dl_list_for_each(pos, &p.ctx.regex_entries) {
        const tirvo_regex_entry *e = dl_list_entry(pos, tirvo_regex_entry, list);
        SCOPED_TRACE("entry " + std::to_string(e->id));
        ASSERT_NE(e->nfa, nullptr);
        check_final_nfa(e->nfa);
    }
}

// clang-format off
const build_case build_cases[] = {
    {"", nullptr},
    {"abc(?[x=1])", nullptr},
    {"x{3,7}", nullptr},
    {"(?I{1})(a|bc)?x{2,}(d{0,4}e?)*f+(?[y=1])|g{5}(?>h{2,3}i)", nullptr},
    {"(?I{1})(a|bc)?x{2,}(d{0,4}e?)*f+(?[y=1])|g{5}(?>h{2,3}i)", tirvo_compile_set_no_count_extension},
    {"(?I{1})(a|bc)?x{2,}(d{0,4}e?)*f+(?[y=1])|g{5}(?>h{2,3}i)",
     tirvo_compile_set_no_main_count_extension},
    {"((?[a=1])(?[b=1]))*c(?[regex(x{1,2}|y)])", nullptr},
    {"(?I{1})[a-z]{0,3}\\z?", tirvo_compile_set_low_level_dfa},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, NfaBuild, testing::ValuesIn(build_cases));

// x{3,7}(?[a=1]): the count states carry the piece's own set (shared, not
// copied) and location; the expression state the entry and its location.
TEST(NfaRecords, CountStatesShareThePieceSetAndLocation) {
    parsed p("x{3,7}(?[a=1])");
    ASSERT_EQ(p.status, 0);
    ASSERT_EQ(p.build(), 0);
    const nfa *n = p.entry(0)->nfa;
    ASSERT_EQ(n->num_states, 3u);
    const tirvo_piece *piece = &p.elem(0)->piece;
    nfa_state *a = n->nfa_state_vect[0];
    nfa_state *s_m = n->nfa_state_vect[1];
    nfa_state *v = n->nfa_state_vect[2];
    EXPECT_EQ(a->type, tirvo_nfa_state_type_count);
    EXPECT_EQ(a->count, 3u);
    EXPECT_FALSE(a->flags.keep_on);
    EXPECT_EQ(s_m->type, tirvo_nfa_state_type_count);
    EXPECT_EQ(s_m->count, 4u);
    EXPECT_TRUE(s_m->flags.keep_on);
    EXPECT_EQ(a->arc_label, piece->atom.charset);
    EXPECT_EQ(s_m->arc_label, piece->atom.charset);
    EXPECT_EQ(a->location, &piece->location);
    EXPECT_EQ(v->type, tirvo_nfa_state_type_normal);
    EXPECT_EQ(v->varexp_entry, p.elem(1)->varexp_entry);
    EXPECT_EQ(v->location, &p.elem(1)->varexp_entry->varexp->location);
    EXPECT_EQ(states_of(&n->initial_state), std::vector<nfa_state *>{a});
    EXPECT_EQ(states_of(&a->next_states), std::vector<nfa_state *>{s_m});
    EXPECT_EQ(states_of(&s_m->next_states), std::vector<nfa_state *>{v});
}

// The count extension: which bounds of a set make count states, and the
// switches that turn it off (for the main entry only, or everywhere).
TEST(NfaRecords, CountStatesOnlyForSetsWithBoundsOfTwoOrMore) {
    struct {
        const char *text;
        void (*setup)(tirvo_compile_ctx *);
        std::vector<int> count_states; // per entry
    } cases[] = {
        {"x?y*z+w{1}v{0,1}u{1,}", nullptr, {0}},
        {"x{2}", nullptr, {1}},
        {"x{0,2}", nullptr, {1}},
        {"x{1,2}", nullptr, {2}},
        {"x{2,}", nullptr, {1}},
        {"(x){2}", nullptr, {0}},
        {"x{2}(?>y{2})", nullptr, {1, 1}},
        {"x{2}(?>y{2})", tirvo_compile_set_no_count_extension, {0, 0}},
        {"x{2}(?>y{2})", tirvo_compile_set_no_main_count_extension, {0, 1}},
        {"(?I{1})x{2}", tirvo_compile_set_low_level_dfa, {0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        parsed p(c.text);
        ASSERT_EQ(p.status, 0);
        if (c.setup)
            c.setup(&p.ctx);
        ASSERT_EQ(p.build(), 0);
        std::vector<int> found;
        dl_list_for_each(pos, &p.ctx.regex_entries) {
            const nfa *n = dl_list_entry(pos, tirvo_regex_entry, list)->nfa;
            int count = 0;
            for (uint32_t i = 0; i < n->num_states; ++i)
                count += n->nfa_state_vect[i]->type == tirvo_nfa_state_type_count;
            found.push_back(count);
        }
        EXPECT_EQ(found, c.count_states);
    }
}

TEST(NfaRecords, HugeBoundCostsAHandfulOfStates) {
    parsed p("x{100000}(?[a=1])");
    ASSERT_EQ(p.status, 0);
    ASSERT_EQ(p.build(), 0);
    EXPECT_EQ(p.entry(0)->nfa->num_states, 2u);
}

// Hand-made states for the closure and the arcs, in a context with a pool.
struct hand_made : testing::Test {
    tirvo_compile_ctx ctx;
    tirvo_location loc{1, 2, 1, 3, 2, 3};

    void SetUp() override {
        tirvo_compile_ctx_init(&ctx);
        tirvo_pool_setup(&ctx.pool, std::malloc, std::free);
        ctx.input_name = "fp";
    }
    void TearDown() override { tirvo_compile_cleanup(&ctx); }

    std::vector<nfa_state *> make(int n) {
        std::vector<nfa_state *> v;
        for (int i = 0; i < n; ++i)
            v.push_back(tirvo_nfa_state_new(&ctx, &loc));
        return v;
    }
    void put(dl_list *list, nfa_state *s) {
        nsl *e = tirvo_compile_new<nsl>(&ctx);
        e->nfa_state = s;
        dl_list_append(list, &e->list);
    }
};

using NfaClosure = hand_made;

// Graph: S -> A, S -> B, A -> C, C -> S, B -> A. The search descends at
// once: A, then C, then S again (the cycle), and from that S the target B;
// so the discovery order is A, C, S, B and the list receives them in
// reverse, in front of what it held, skipping removable states and states
// it already holds.
TEST_F(NfaClosure, ReverseDiscoveryOrderInFrontOfTheList) {
    struct {
        const char *name;
        std::vector<int> held;      // the list before, by index (S=0 A=1 B=2 C=3 X=4)
        std::vector<int> removable; // states marked removable
        std::vector<int> expected;  // the list after
    } cases[] = {
        {"AllNew", {4}, {}, {2, 0, 3, 1, 4}},
        {"RemovableSkipped", {4}, {3}, {2, 0, 1, 4}},
        {"HeldOnesStay", {2, 4}, {}, {0, 3, 1, 2, 4}},
        {"EmptyList", {}, {1, 2}, {0, 3}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<nfa_state *> s = make(5);
        tirvo_nfa_add_empty_arc(&ctx, s[0], s[1]);
        tirvo_nfa_add_empty_arc(&ctx, s[0], s[2]);
        tirvo_nfa_add_empty_arc(&ctx, s[1], s[3]);
        tirvo_nfa_add_empty_arc(&ctx, s[3], s[0]);
        tirvo_nfa_add_empty_arc(&ctx, s[2], s[1]);
        for (int i : c.removable)
            s[i]->flags.removable = 1;
        dl_list list;
        dl_list_init(&list);
        for (int i : c.held)
            put(&list, s[i]);
        EXPECT_EQ(tirvo_nfa_closure(&ctx, &list, s[0]), c.expected.size() - c.held.size());
        std::vector<nfa_state *> expected;
        for (int i : c.expected)
            expected.push_back(s[i]);
        EXPECT_EQ(states_of(&list), expected);
        for (nfa_state *t : s) {
            EXPECT_FALSE(t->flags.touched);
            EXPECT_FALSE(t->flags.listed);
            EXPECT_TRUE(dl_list_empty(&t->closure_link));
        }
    }
}

TEST_F(NfaClosure, WithoutEmptyArcsAddsNothing) {
    std::vector<nfa_state *> s = make(2);
    dl_list list;
    dl_list_init(&list);
    EXPECT_EQ(tirvo_nfa_closure(&ctx, &list, s[0]), 0u);
    EXPECT_TRUE(dl_list_empty(&list));
}

// A chain of empty arcs as long as a large NFA (a repeated group of
// variable expressions makes one) must not exhaust the call stack.
TEST_F(NfaClosure, LongChainOfEmptyArcs) {
    constexpr int n = 300000;
    std::vector<nfa_state *> s = make(n);
    for (int i = 0; i + 1 < n; ++i)
        tirvo_nfa_add_empty_arc(&ctx, s[i], s[i + 1]);
    dl_list list;
    dl_list_init(&list);
    EXPECT_EQ(tirvo_nfa_closure(&ctx, &list, s[0]), uint64_t{n - 1});
    EXPECT_EQ(listed(list.next), s[n - 1]);
    EXPECT_EQ(listed(list.prev), s[1]);
}

using NfaArcs = hand_made;

// One leaving set per state: an equal set (even another copy) is accepted
// and the first kept; a target is listed once.
TEST_F(NfaArcs, EqualSetAcceptedAndTargetsListedOnce) {
    std::vector<nfa_state *> s = make(3);
    tirvo_charset x{};
    tirvo_charset_add(&x, 'x');
    tirvo_charset same = x;
    tirvo_nfa_add_arc(&ctx, s[0], s[1], &x);
    tirvo_nfa_add_arc(&ctx, s[0], s[2], &same);
    tirvo_nfa_add_arc(&ctx, s[0], s[1], &x);
    tirvo_nfa_add_empty_arc(&ctx, s[1], s[2]);
    tirvo_nfa_add_empty_arc(&ctx, s[1], s[2]);
    EXPECT_EQ(s[0]->arc_label, &x);
    EXPECT_EQ(states_of(&s[0]->next_states), (std::vector<nfa_state *>{s[1], s[2]}));
    EXPECT_EQ(states_of(&s[1]->empty_arcs), std::vector<nfa_state *>{s[2]});
    EXPECT_EQ(ctx.error, 0);
}

using NfaArcsDeathTest = hand_made;

TEST_F(NfaArcsDeathTest, SecondDifferentSetIsAnInternalError) {
    std::vector<nfa_state *> s = make(2);
    tirvo_charset x{};
    tirvo_charset y{};
    tirvo_charset_add(&x, 'x');
    tirvo_charset_add(&y, 'y');
    tirvo_nfa_add_arc(&ctx, s[0], s[1], &x);
    EXPECT_DEATH(tirvo_nfa_add_arc(&ctx, s[0], s[1], &y),
                 "^fp:1-1,2-3: internal error: more than one leaving charset in NFA state\n");
}

// Unknown kinds of elements and atoms, and a branch without elements, are
// faults of the parse tree's producer.
TEST(NfaDeathTest, MalformedParseTreeAborts) {
    {
        parsed p("x");
        p.elem(0)->type = static_cast<tirvo_branch_elem_type>(7);
        EXPECT_DEATH(p.build(), "^fp:1-1,0-2: internal error: tirvo_regex_to_nfa: [0-9]+\n");
    }
    {
        parsed p("x");
        p.elem(0)->piece.type = static_cast<tirvo_atom_type>(7);
        EXPECT_DEATH(p.build(), "^fp:1-1,0-2: internal error: tirvo_regex_to_nfa: [0-9]+\n");
    }
    {
        parsed p("xy");
        dl_list_init(
            &dl_list_entry(p.entry(0)->regex->branches.next, tirvo_branch, list)->branch_elems);
        EXPECT_DEATH(p.build(), "!dl_list_empty\\(&branch->branch_elems\\)");
    }
}

// Memory runs out at every possible chunk of the construction in turn: the
// stage stops with error 2 and leaves nothing half-linked that the cleanup
// would trip over, until enough chunks succeed for the whole build.
int chunks_left = 0;
void *limited_malloc(std::size_t n) {
    return chunks_left-- > 0 ? std::malloc(n) : nullptr;
}

TEST(NfaMemory, ExhaustionAtEveryChunkGivesErrorTwo) {
    const char *text = "(?I{1})((ab|cd)(?[x=1])){60}e{2,9}(?>f{0,3})";
    bool built = false;
    int failures = 0;
    for (int chunks = 0; chunks < 200 && !built; ++chunks) {
        SCOPED_TRACE(chunks);
        parsed p(text);
        ASSERT_EQ(p.status, 0);
        p.ctx.pool.alloc_fn = limited_malloc;
        p.ctx.pool.left = 0;
        chunks_left = chunks;
        int rc = p.build();
        ASSERT_TRUE(rc == 0 || rc == 2) << rc;
        built = rc == 0;
        failures += rc == 2;
        if (built)
            check_final_nfa(p.entry(0)->nfa);
    }
    EXPECT_TRUE(built);
    EXPECT_GE(failures, 3); // the construction needs several chunks
}

using NfaLimit = hand_made;

// The state limit counts the states made for the entry under construction.
TEST_F(NfaLimit, StateBeyondTheLimitIsRefused) {
    nfa_state *last = tirvo_nfa_state_new(&ctx, &loc);
    ASSERT_NE(last, nullptr);
    last->id = TIRVO_NFA_MAX_STATES - 1; // as if the list held the maximum
    testing::internal::CaptureStderr();
    EXPECT_EQ(tirvo_nfa_state_new(&ctx, &loc), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "fp:1-1,2-3: NFA too large: more than 4194304 states\n");
    EXPECT_EQ(ctx.error, 2);
}

// A stream that accepts `limit` bytes and then fails with "disk full".
struct failing_sink {
    std::size_t limit;
    std::string data;
};

ssize_t sink_write(void *cookie, const char *buf, size_t size) {
    auto *sink = static_cast<failing_sink *>(cookie);
    const std::size_t room = sink->limit - std::min(sink->limit, sink->data.size());
    if (room == 0) {
        errno = ENOSPC;
        return -1;
    }
    const std::size_t n = std::min(room, size);
    sink->data.append(buf, n);
    return static_cast<ssize_t>(n);
}

// The graph of x{2,}(?[a=1]) written to an unbuffered stream that fails
// after every possible number of bytes, in plain text, in a set label or in
// the count label: every failure prints the message once (a write after it
// would fail again and print it again), sets error 5 and keeps what was
// written before it.
TEST(NfaGraphWrite, FailureAtAnyByte) {
    parsed full("x{2,}(?[a=1])");
    ASSERT_EQ(full.status, 0);
    ASSERT_EQ(full.build(), 0);
    const nfa *n = full.entry(0)->nfa;
    failing_sink whole{SIZE_MAX, {}};
    cookie_io_functions_t io{nullptr, sink_write, nullptr, nullptr};
    FILE *f = fopencookie(&whole, "w", io);
    ASSERT_NE(f, nullptr);
    std::setvbuf(f, nullptr, _IONBF, 0);
    ASSERT_EQ(tirvo_nfa_write_graph(&full.ctx, f, n), 0);
    std::fclose(f);
    ASSERT_GT(whole.data.size(), 0u);

    for (std::size_t limit = 0; limit < whole.data.size(); ++limit) {
        SCOPED_TRACE(limit);
        failing_sink sink{limit, {}};
        FILE *g = fopencookie(&sink, "w", io);
        ASSERT_NE(g, nullptr);
        std::setvbuf(g, nullptr, _IONBF, 0);
        full.ctx.error = 0;
        testing::internal::CaptureStderr();
        EXPECT_EQ(tirvo_nfa_write_graph(&full.ctx, g, n), -1);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "could not write file: No space left on device");
        EXPECT_EQ(full.ctx.error, 5);
        EXPECT_EQ(sink.data, whole.data.substr(0, limit));
        std::fclose(g);
    }
}

} // namespace
