// The superstate construction in process: the hash table and the digest on
// their own, the finishing passes on hand-built superstates, corners of the
// construction on compiled fingerprints, and running out of pool memory at
// every point of a construction.
#include "tests/automata/dfa_compile.h"

#include "automata/tirvo_charset.h"
#include "automata/tirvo_regex_to_nfa.h"
#include "lang/tirvo_parse_tree.h"
#include "lang/tirvo_varexp.h"

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// A context with a pool and nothing else, for records built by hand.
struct pool_ctx {
    tirvo_compile_ctx ctx;
    pool_ctx() {
        tirvo_compile_ctx_init(&ctx);
        tirvo_pool_setup(&ctx.pool, std::malloc, std::free);
    }
    ~pool_ctx() { tirvo_compile_cleanup(&ctx); }
    pool_ctx(const pool_ctx &) = delete;
    pool_ctx &operator=(const pool_ctx &) = delete;
};

// An empty set of superstates in the pool of `ctx`.
superstates *empty_superstates(tirvo_compile_ctx *ctx) {
    auto *ss = tirvo_compile_new<superstates>(ctx);
    dl_list_init(&ss->superstate_list);
    dl_list_init(&ss->pending);
    return ss;
}

// A key whose three words are `w0`, `w1` and `w2`.
void set_key(superstate *s, uint64_t w0, uint64_t w1, uint64_t w2) {
    std::memcpy(s->key, &w0, 8);
    std::memcpy(s->key + 8, &w1, 8);
    std::memcpy(s->key + 16, &w2, 8);
}

std::size_t bucket_len(const tirvo_nfa_hash *tab, uint32_t slot) {
    std::size_t n = 0;
    for (const superstate *s = tab->slots[slot]; s; s = s->hash_next)
        ++n;
    return n;
}

TEST(SuperstateHash, SlotIsTheXorOfTheKeyWordsMasked) {
    std::unique_ptr<tirvo_nfa_hash, decltype(&tirvo_nfa_hash_free)> tab(tirvo_nfa_hash_new(3),
                                                                        &tirvo_nfa_hash_free);
    ASSERT_NE(tab, nullptr);
    EXPECT_EQ(tab->num_slots, 8u);
    EXPECT_EQ(tab->num_entries, 0u);
    superstate s{};
    set_key(&s, 0x0f, 0x30, 0x05); // 0x3a & 7 = 2
    EXPECT_EQ(tirvo_nfa_hash_index(tab.get(), s.key), 2u);
    set_key(&s, 0xff00000000000001u, 0, 0xff00000000000000u); // high bits cancel
    EXPECT_EQ(tirvo_nfa_hash_index(tab.get(), s.key), 1u);
}

// Adding superstates one by one: the table grows before the insertion that
// finds more than 0.9 entries per slot, and then holds every superstate of
// the list.
TEST(SuperstateHash, GrowsWhenTheLoadPassesNineTenths) {
    pool_ctx p;
    superstates *ss = empty_superstates(&p.ctx);
    ss->hash_tab = tirvo_nfa_hash_new(tirvo_nfa_hash_init_bits);
    ASSERT_NE(ss->hash_tab, nullptr);
    struct step {
        uint32_t slots;   // slots after adding superstate i
        uint64_t entries; // entries after adding superstate i
    };
    // 3 entries are not above 3.6, 4 are: the fifth addition grows to 8;
    // 7 entries are not above 7.2, 8 are: the ninth grows to 16.
    const step expected[] = {{4, 1}, {4, 2}, {4, 3}, {4, 4}, {8, 5},
                             {8, 6}, {8, 7}, {8, 8}, {16, 9}};
    for (uint32_t i = 0; i < std::size(expected); ++i) {
        superstate *s = tirvo_superstate_new(&p.ctx, ss);
        ASSERT_NE(s, nullptr);
        set_key(s, i * 0x9e3779b97f4a7c15u, i, 0);
        ASSERT_EQ(tirvo_nfa_hash_add(&ss->hash_tab, s, ss), 0);
        EXPECT_EQ(ss->hash_tab->num_slots, expected[i].slots) << i;
        EXPECT_EQ(ss->hash_tab->num_entries, expected[i].entries) << i;
        std::size_t total = 0;
        for (uint32_t k = 0; k < ss->hash_tab->num_slots; ++k)
            total += bucket_len(ss->hash_tab, k);
        EXPECT_EQ(total, expected[i].entries);
    }
    dl_list_for_each(pos, &ss->superstate_list) {
        superstate *s = dl_list_entry(pos, superstate, list);
        bool found = false;
        for (const superstate *t = ss->hash_tab->slots[tirvo_nfa_hash_index(ss->hash_tab, s->key)];
             t; t = t->hash_next)
            found = found || t == s;
        EXPECT_TRUE(found) << s->id;
    }
    tirvo_superstates_release(ss);
    EXPECT_EQ(ss->hash_tab, nullptr);
}

// ---------------------------------------------------------------------------
// Digest.

struct digest_env {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md{EVP_MD_CTX_new(), &EVP_MD_CTX_free};
    std::unique_ptr<EVP_MD, decltype(&EVP_MD_free)> md5{EVP_MD_fetch(nullptr, "MD5", nullptr),
                                                        &EVP_MD_free};

    std::array<uint8_t, 16> of(const active &rec, uint32_t bytes) {
        std::array<uint8_t, 16> out{};
        EXPECT_TRUE(tirvo_superstate_digest(md.get(), md5.get(), &rec, bytes, out.data()));
        return out;
    }
    std::array<uint8_t, 16> md5_of(const std::vector<uint8_t> &bytes) {
        std::array<uint8_t, 16> out{};
        unsigned int len = 0;
        EXPECT_EQ(EVP_Digest(bytes.data(), bytes.size(), out.data(), &len, md5.get(), nullptr), 1);
        return out;
    }
};

void put32(std::vector<uint8_t> &v, uint32_t x) {
    for (int i = 0; i < 4; ++i)
        v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

TEST(SuperstateDigest, EmptyRecordIsTheDigestOfNothing) {
    digest_env env;
    active rec{};
    tirvo_bitv none = 0;
    rec.active_states = &none;
    const std::array<uint8_t, 16> md5_empty = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                                               0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};
    EXPECT_EQ(env.of(rec, 0), md5_empty);
}

// The state set's bytes, then per assoc the id, the number of counters and
// the counter values, each 4 bytes least significant first; `pos` itself is
// not digested, so the same values at another `pos` give the same digest.
TEST(SuperstateDigest, CoversStatesAndCounterValuesButNotPos) {
    digest_env env;
    nfa_state count_a{};
    count_a.id = 3;
    count_a.type = tirvo_nfa_state_type_count;
    nfa_state count_b{};
    count_b.id = 70;
    count_b.type = tirvo_nfa_state_type_count;
    tirvo_bitv states[2] = {0x0000000000000105u, 0x2u}; // states 0, 2, 8 and 65
    assoc assocs[2] = {{&count_a, 0, 2}, {&count_b, 2, 1}};
    count_node counts[3] = {{10}, {14}, {17}};
    active rec{20, 2, 3, states, assocs, counts};

    std::vector<uint8_t> expected = {0x05, 0x01, 0, 0, 0, 0, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0};
    put32(expected, 3);
    put32(expected, 2);
    put32(expected, 10); // 20 - 10
    put32(expected, 6);  // 20 - 14
    put32(expected, 70);
    put32(expected, 1);
    put32(expected, 3); // 20 - 17
    const auto digest = env.of(rec, 16);
    EXPECT_EQ(digest, env.md5_of(expected));

    count_node later[3] = {{110}, {114}, {117}};
    active moved{120, 2, 3, states, assocs, later};
    EXPECT_EQ(env.of(moved, 16), digest);

    count_node other[3] = {{10}, {15}, {17}};
    active changed{20, 2, 3, states, assocs, other};
    EXPECT_NE(env.of(changed, 16), digest);
}

// ---------------------------------------------------------------------------
// Finishing passes on hand-built superstates.

struct hand_dfa {
    pool_ctx p;
    superstates *ss = empty_superstates(&p.ctx);
    std::vector<superstate *> v;
    tirvo_varexp expr{};
    tirvo_varexp_entry entry{};

    explicit hand_dfa(int n) {
        expr.location = {1, 4, 1, 9, 4, 9};
        entry.varexp = &expr;
        for (int i = 0; i < n; ++i)
            v.push_back(tirvo_superstate_new(&p.ctx, ss));
        while (!dl_list_empty(&ss->pending))
            dl_list_remove(ss->pending.next);
    }
    void arc(int from, uint32_t first, uint32_t len, int to) {
        auto *a = tirvo_compile_new<superstate_arc>(&p.ctx);
        a->first = first;
        a->len = len;
        a->target = v[static_cast<std::size_t>(to)];
        dl_list_append(&v[static_cast<std::size_t>(from)]->arcs, &a->list);
    }
    void varexp(int at) {
        auto *e = tirvo_compile_new<superstate_varexp>(&p.ctx);
        e->varexp_entry = &entry;
        dl_list_append(&v[static_cast<std::size_t>(at)]->varexps, &e->list);
    }
    std::vector<uint32_t> parents(int at) {
        std::vector<uint32_t> ids;
        qle_avl_tree_walk(
            &v[static_cast<std::size_t>(at)]->parents,
            [](qle_avl_tree *, qle_avl_node *node, void *user) {
                static_cast<std::vector<uint32_t> *>(user)->push_back(
                    reinterpret_cast<superstate_parent *>(node)->id);
                return 0;
            },
            &ids);
        return ids;
    }
};

// 0 reaches the matching superstate 1 only through an arc that starts at
// symbol 256, 2 reaches it through a byte arc, 3 is the dead end. In a
// low-level DFA the arc at 256 gives 1 no parent, so 0 keeps cannot_match.
// The plain superstates (2 only, or 0 and 2) are renumbered first.
TEST(DfaFinish, LowLevelArcsAbove255GiveNoParent) {
    for (int low_level = 0; low_level < 2; ++low_level) {
        hand_dfa d(4);
        d.p.ctx.flags.low_level_dfa = static_cast<uint16_t>(low_level);
        d.arc(0, 0, 256, 3);
        d.arc(0, 256, 1, 1);
        d.arc(1, 0, 257, 3);
        d.arc(2, 0, 97, 3);
        d.arc(2, 97, 1, 1);
        d.arc(2, 98, 159, 3);
        d.arc(3, 0, 257, 3);
        d.varexp(1);
        tirvo_dfa_finish(&d.p.ctx, d.ss);
        ASSERT_EQ(d.p.ctx.error, 0);
        const std::vector<uint32_t> parents_of_1 =
            low_level ? std::vector<uint32_t>{2} : std::vector<uint32_t>{0, 2};
        EXPECT_EQ(d.parents(1), parents_of_1);
        EXPECT_EQ(d.parents(3), (std::vector<uint32_t>{0, 1, 2, 3}));
        EXPECT_EQ(d.v[0]->cannot_match, low_level);
        EXPECT_EQ(d.v[1]->cannot_match, 1);
        EXPECT_EQ(d.v[2]->cannot_match, 0);
        EXPECT_EQ(d.v[3]->cannot_match, 1);
        EXPECT_EQ(d.v[0]->matching_next_state_exists, 1);
        EXPECT_EQ(d.v[1]->matching_next_state_exists, 0);
        EXPECT_EQ(d.v[2]->matching_next_state_exists, 1);
        EXPECT_EQ(d.v[3]->matching_next_state_exists, 0);
        if (low_level) {
            EXPECT_EQ(d.ss->plain_cnt, 1u);
            EXPECT_EQ(d.v[2]->id, 0u);
            EXPECT_EQ(d.v[0]->id, 1u);
        } else {
            EXPECT_EQ(d.ss->plain_cnt, 2u);
            EXPECT_EQ(d.v[0]->id, 0u);
            EXPECT_EQ(d.v[2]->id, 1u);
        }
        EXPECT_EQ(d.v[1]->id, 2u);
        EXPECT_EQ(d.v[3]->id, 3u);
    }
}

// ---------------------------------------------------------------------------
// Corners of the construction on compiled fingerprints.

std::vector<uint32_t> symbols(const std::string &text) {
    std::vector<uint32_t> v;
    for (char c : text)
        v.push_back(c == 'Z' ? 257u : static_cast<unsigned char>(c));
    return v;
}

struct corner_case {
    const char *name;
    const char *fingerprint;
    void (*setup)(tirvo_compile_ctx *);
    const char *input; // 'Z' stands for the assertion symbol \z
    bool matches;      // the last superstate of the walk runs a variable expression
};

void PrintTo(const corner_case &c, std::ostream *os) {
    *os << c.name;
}

class DfaCorners : public testing::TestWithParam<corner_case> {};

TEST_P(DfaCorners, BuildsAndRuns) {
    const corner_case &c = GetParam();
    dfa_compile dc(c.fingerprint, c.setup);
    ASSERT_EQ(dc.status, 0);
    const auto path = walk_superstates(dc.main_superstates(), symbols(c.input));
    ASSERT_EQ(path.size(), std::strlen(c.input) + 1);
    EXPECT_EQ(!dl_list_empty(&path.back()->varexps), c.matches);
}

// clang-format off
const corner_case corners[] = {
    // After "a", \z moves the second branch into x{3} where the first branch
    // has just started its counter: the two counters are one.
    {"CountStateEnteredTwiceAtOnePos", "(a|a\\z)x{3}(?[v=1])", nullptr, "aZxxx", true},
    {"CountStateEnteredTwiceAtOnePosShort", "(a|a\\z)x{3}(?[v=1])", nullptr, "aZxx", false},
    {"CountStateEnteredTwiceWithoutShortcut", "(a|a\\z)x{3}(?[v=1])",
     tirvo_compile_set_no_count_superstates, "aZxxx", true},
    // A repeated optional piece: the keep_on count state is its own target,
    // which the count shortcut must decline rather than trip over.
    {"KeepOnCountStateTargetsItself", "(x{0,3})*y(?[v=1])", nullptr, "xxxxxxxy", true},
    {"KeepOnCountStateTargetsItselfNoY", "(x{0,3})*y(?[v=1])", nullptr, "xxxxxxxx", false},
    // Optional pieces in a row: the expression is reached at once.
    {"NestedKeepOnAtStart", "x{0,2}y{0,2}(?[v=1])", nullptr, "", true},
    {"NestedKeepOnAfterY", "x{0,2}y{0,2}(?[v=1])", nullptr, "yy", true},
    {"NestedKeepOnTooManyY", "x{0,2}y{0,2}(?[v=1])", nullptr, "yyy", false},
    // A counter keeps its value over assertion symbols.
    {"AssertionsDoNotCount", "x{3}(?[v=1])", nullptr, "xZxZx", true},
    {"AssertionsDoNotCountShort", "x{3}(?[v=1])", nullptr, "xZxZ", false},
    {"AssertionsDoNotCountNoShortcut", "x{3}(?[v=1])", tirvo_compile_set_no_count_superstates,
     "xZxZx", true},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Fingerprints, DfaCorners, testing::ValuesIn(corners),
                         [](const testing::TestParamInfo<corner_case> &i) {
                             return std::string(i.param.name);
                         });

// The initial superstate runs the expression that the closure of its keep_on
// count states reaches, as every later superstate with the same states does.
TEST(DfaInitial, RunsExpressionsOfTheKeepOnClosure) {
    dfa_compile dc("x{0,2}y{0,2}(?[v=1])");
    ASSERT_EQ(dc.status, 0);
    EXPECT_EQ(dl_list_len(&dc.main_superstates()->initial->varexps), 1u);
}

// A set of all 260 symbols has no boundary above 0: the superstate gets one
// class, and its arcs still cover the alphabet.
TEST(DfaClasses, FullAlphabetIsOneClass) {
    dfa_compile dc("(?s)[\\x00-\\xff\\m\\z\\M\\@](?[v=1])");
    ASSERT_EQ(dc.status, 0);
    const superstate *init = dc.main_superstates()->initial;
    ASSERT_EQ(dl_list_len(&init->arcs), 1u);
    const superstate_arc *arc = dl_list_entry(init->arcs.next, superstate_arc, list);
    EXPECT_EQ(arc->first, 0u);
    EXPECT_EQ(arc->len, 260u);
    EXPECT_EQ(dl_list_len(&arc->target->varexps), 1u);
}

// Records that differ only in `pos` are one superstate: after "xxxy" the
// record is the initial one again, 4 symbols later.
TEST(DfaIdentity, SameCountersAtAnotherPosAreTheSameSuperstate) {
    for (auto setup : {static_cast<void (*)(tirvo_compile_ctx *)>(nullptr),
                       tirvo_compile_set_no_count_superstates}) {
        dfa_compile dc("(x{3}y)*(?[v=1])", setup);
        ASSERT_EQ(dc.status, 0);
        const auto path = walk_superstates(dc.main_superstates(), symbols("xxxyxxxy"));
        ASSERT_EQ(path.size(), 9u);
        EXPECT_EQ(path[4], path[0]);
        EXPECT_EQ(path[8], path[0]);
        EXPECT_NE(path[2], path[0]);
    }
}

// ---------------------------------------------------------------------------
// Running out of pool memory.

int chunks_left;

void *limited_alloc(std::size_t n) {
    if (chunks_left-- <= 0)
        return nullptr;
    return std::malloc(n);
}

// Every chunk of the pool may be the one that fails: the compile ends with
// error 2, the construction stops where it was, and the cleanup frees the
// pending records and the hash table (which the leak checker of the
// sanitizer build verifies).
TEST(DfaMemory, PoolExhaustionAtEveryChunk) {
    int failed_in_dfa = 0;
    for (int limit = 0;; ++limit) {
        chunks_left = limit;
        dfa_compile dc(".*a.{9}(?[v=1])", nullptr, limited_alloc);
        if (dc.status == 0) {
            EXPECT_GT(dc.main_superstates()->ss_cnt, 1000u);
            break;
        }
        ASSERT_EQ(dc.status, TIRVO_COMPILE_ERR_MEMORY) << limit;
        failed_in_dfa += dc.main_superstates() != nullptr;
        ASSERT_LT(limit, 1000);
    }
    EXPECT_GT(failed_in_dfa, 3);
}

} // namespace
