// Differential test of the superstate construction against a reference that
// knows nothing of it.
//
// Random small fingerprints over the bytes a, b and c (character sets,
// groups, alternation, the repetitions ?, *, +, {m}, {m,n}, {m,}, and
// variable expressions "(?[vK=1])" at random places) are compiled in
// process; expressions whose automaton would explode are drawn again. Random
// inputs over a, b, c and d (which stands for every other byte) are then run
// through the built superstates the way
// the engine runs them (a count superstate counts its symbols in place and
// leaves through its ordinary arcs after `count` of them) and through a
// Thompson automaton of the same expression with every repetition written
// out and no counters at all. At every input position the set of variable
// expressions that the entered superstate runs must equal the set of
// expression markers the reference reaches at that position. The same cases
// run with the count superstates off and with the count states off. Every
// seed is fixed; a failure prints the fingerprint and the input.
#include "tests/automata/dfa_compile.h"

#include "byc/tirvo_variable.h"
#include "lang/tirvo_parse_tree.h"
#include "lang/tirvo_varexp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Random expressions.

struct regex_ast;

// One element of a branch: a character set, a group or a variable
// expression, with its repetition bounds.
struct piece_ast {
    enum kind_t { chars, group, varexp } kind = chars;
    uint8_t set = 0;                // chars: members (bit 0 = a, 1 = b, 2 = c, 3 = others)
    std::string set_text;           // chars: the set as written
    std::shared_ptr<regex_ast> sub; // group: the alternatives
    int min = 1;                    // repetitions at least
    int max = 1;                    // repetitions at most; -1 for no limit
    int var = -1;                   // varexp: the number K of "vK"
};

struct regex_ast {
    std::vector<std::vector<piece_ast>> branches; // alternatives, each a sequence
};

struct set_choice {
    const char *text;
    uint8_t members;
};

// Members among a, b, c and, as bit 3, every other byte (such as d): '.'
// and "[^a]" hold those too.
constexpr set_choice sets[] = {{"a", 1},    {"b", 2},     {"c", 4},    {".", 15},
                               {"[ab]", 3}, {"[^a]", 14}, {"[bc]", 6}, {"[ac]", 5}};

struct generator {
    std::mt19937 rng;
    int next_var = 0;

    explicit generator(uint32_t seed) : rng(seed) {}

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }

    // Bounds that favour the count states of character sets.
    void bounds(piece_ast &p) {
        switch (pick(12)) {
        case 0:
            p.min = 0, p.max = 1;
            break;
        case 1:
            p.min = 0, p.max = -1;
            break;
        case 2:
            p.min = 1, p.max = -1;
            break;
        case 3:
        case 4:
            p.min = 1 + pick(4), p.max = p.min;
            break;
        case 5:
        case 6:
            p.min = pick(4), p.max = std::max(p.min, 1) + pick(3);
            break;
        case 7:
            p.min = pick(4), p.max = -1;
            break;
        default:
            p.min = p.max = 1;
            break;
        }
    }

    piece_ast piece(int depth) {
        piece_ast p;
        const int r = pick(10);
        if (r < 2) {
            p.kind = piece_ast::varexp;
            p.var = next_var++;
            return p;
        }
        if (r < 4 && depth < 2) {
            p.kind = piece_ast::group;
            p.sub = std::make_shared<regex_ast>(regex(depth + 1, 2));
            // Repeated groups are written out by the construction; keep them small.
            static constexpr int group_bounds[][2] = {{1, 1}, {1, 1}, {0, 1}, {0, -1}, {1, -1},
                                                      {2, 2}, {1, 2}, {0, 2}, {2, 3},  {2, -1}};
            const auto &gb = group_bounds[pick(static_cast<int>(std::size(group_bounds)))];
            p.min = gb[0];
            p.max = gb[1];
            return p;
        }
        const set_choice &s = sets[pick(static_cast<int>(std::size(sets)))];
        p.set_text = s.text;
        p.set = s.members;
        bounds(p);
        return p;
    }

    regex_ast regex(int depth, int max_branches) {
        regex_ast r;
        const int n = 1 + pick(max_branches);
        for (int i = 0; i < n; ++i) {
            std::vector<piece_ast> branch;
            const int len = 1 + pick(4);
            for (int k = 0; k < len; ++k)
                branch.push_back(piece(depth));
            r.branches.push_back(std::move(branch));
        }
        return r;
    }
};

std::string text_of(const regex_ast &r);

std::string text_of(const piece_ast &p) {
    std::string s;
    switch (p.kind) {
    case piece_ast::varexp:
        return "(?[v" + std::to_string(p.var) + "=1])";
    case piece_ast::group:
        s = "(" + text_of(*p.sub) + ")";
        break;
    case piece_ast::chars:
        s = p.set_text;
        break;
    }
    if (p.min == 1 && p.max == 1)
        return s;
    if (p.min == 0 && p.max == 1)
        return s + "?";
    if (p.min == 0 && p.max < 0)
        return s + "*";
    if (p.min == 1 && p.max < 0)
        return s + "+";
    if (p.max < 0)
        return s + "{" + std::to_string(p.min) + ",}";
    if (p.min == p.max)
        return s + "{" + std::to_string(p.min) + "}";
    return s + "{" + std::to_string(p.min) + "," + std::to_string(p.max) + "}";
}

std::string text_of(const regex_ast &r) {
    std::string s;
    for (std::size_t i = 0; i < r.branches.size(); ++i) {
        if (i)
            s += "|";
        for (const piece_ast &p : r.branches[i])
            s += text_of(p);
    }
    return s;
}

// ---------------------------------------------------------------------------
// The reference: a Thompson automaton with every repetition written out.

struct ref_nfa {
    struct node {
        std::vector<int> eps; // empty arcs
        int next = -1;        // target of the character arc
        uint8_t set = 0;      // symbols of the character arc (bit 0 = a, 3 = d)
        int tag = -1;         // variable expression K reached here
    };
    std::vector<node> nodes;
    int begin = -1;

    int add() {
        nodes.emplace_back();
        return static_cast<int>(nodes.size()) - 1;
    }
    void eps(int from, int to) { nodes[static_cast<std::size_t>(from)].eps.push_back(to); }

    std::pair<int, int> regex(const regex_ast &r) {
        const int b = add();
        const int e = add();
        for (const auto &branch : r.branches) {
            int cur = b;
            for (const piece_ast &p : branch) {
                auto [pb, pe] = piece(p);
                eps(cur, pb);
                cur = pe;
            }
            eps(cur, e);
        }
        return {b, e};
    }

    std::pair<int, int> atom(const piece_ast &p) {
        if (p.kind == piece_ast::group)
            return regex(*p.sub);
        const int b = add();
        const int e = add();
        if (p.kind == piece_ast::varexp) {
            nodes[static_cast<std::size_t>(b)].tag = p.var;
            eps(b, e);
        } else {
            nodes[static_cast<std::size_t>(b)].next = e;
            nodes[static_cast<std::size_t>(b)].set = p.set;
        }
        return {b, e};
    }

    std::pair<int, int> piece(const piece_ast &p) {
        const int b = add();
        const int e = add();
        int cur = b;
        for (int i = 0; i < p.min; ++i) {
            auto [ab, ae] = atom(p);
            eps(cur, ab);
            cur = ae;
        }
        if (p.max < 0) {
            const int loop = add();
            auto [ab, ae] = atom(p);
            eps(cur, loop);
            eps(loop, ab);
            eps(ae, loop);
            eps(loop, e);
        } else {
            for (int i = p.min; i < p.max; ++i) {
                auto [ab, ae] = atom(p);
                eps(cur, ab);
                eps(cur, e);
                cur = ae;
            }
            eps(cur, e);
        }
        return {b, e};
    }

    void close(std::vector<char> &in) const {
        std::vector<int> stack;
        for (std::size_t i = 0; i < in.size(); ++i)
            if (in[i])
                stack.push_back(static_cast<int>(i));
        while (!stack.empty()) {
            const int n = stack.back();
            stack.pop_back();
            for (int t : nodes[static_cast<std::size_t>(n)].eps) {
                if (!in[static_cast<std::size_t>(t)]) {
                    in[static_cast<std::size_t>(t)] = 1;
                    stack.push_back(t);
                }
            }
        }
    }

    std::set<int> tags(const std::vector<char> &in) const {
        std::set<int> t;
        for (std::size_t i = 0; i < in.size(); ++i)
            if (in[i] && nodes[i].tag >= 0)
                t.insert(nodes[i].tag);
        return t;
    }

    // The subsets reachable over a, b, c and d, counted up to `limit`: the
    // size of the deterministic automaton, to leave out expressions whose
    // automaton explodes.
    std::size_t subsets(std::size_t limit) const {
        std::vector<char> start(nodes.size(), 0);
        start[static_cast<std::size_t>(begin)] = 1;
        close(start);
        std::set<std::vector<char>> seen{start};
        std::vector<std::vector<char>> todo{start};
        while (!todo.empty() && seen.size() <= limit) {
            const std::vector<char> cur = todo.back();
            todo.pop_back();
            for (uint8_t bit = 1; bit <= 8; bit <<= 1) {
                std::vector<char> next(nodes.size(), 0);
                for (std::size_t i = 0; i < nodes.size(); ++i)
                    if (cur[i] && (nodes[i].set & bit))
                        next[static_cast<std::size_t>(nodes[i].next)] = 1;
                close(next);
                if (seen.insert(next).second)
                    todo.push_back(std::move(next));
            }
        }
        return seen.size();
    }

    // The markers reached at every position 0 to input length.
    std::vector<std::set<int>> run(const std::string &input) const {
        std::vector<char> cur(nodes.size(), 0);
        cur[static_cast<std::size_t>(begin)] = 1;
        close(cur);
        std::vector<std::set<int>> out{tags(cur)};
        for (char ch : input) {
            const uint8_t bit = static_cast<uint8_t>(1u << (ch - 'a'));
            std::vector<char> next(nodes.size(), 0);
            for (std::size_t i = 0; i < nodes.size(); ++i)
                if (cur[i] && (nodes[i].set & bit))
                    next[static_cast<std::size_t>(nodes[i].next)] = 1;
            close(next);
            cur.swap(next);
            out.push_back(tags(cur));
        }
        return out;
    }
};

// ---------------------------------------------------------------------------
// Walking the superstates as the engine does.

std::set<int> markers(const superstate *s) {
    std::set<int> t;
    dl_list_for_each(pos, &s->varexps) {
        const tirvo_varexp *e = dl_list_entry(pos, superstate_varexp, list)->varexp_entry->varexp;
        t.insert(std::stoi(std::string(e->arg[0]->variable->name).substr(1)));
    }
    return t;
}

struct walk_result {
    std::vector<std::set<int>> seen; // markers per position
    int dead_from = -1;              // first position in a cannot_match superstate (not counting)
};

walk_result walk(const superstates *ss, const std::string &input) {
    std::vector<uint32_t> symbols;
    for (char ch : input)
        symbols.push_back(static_cast<unsigned char>(ch));
    walk_result r;
    const std::vector<const superstate *> path = walk_superstates(ss, symbols);
    for (std::size_t i = 0; i < path.size(); ++i) {
        r.seen.push_back(markers(path[i]));
        if (r.dead_from < 0 && path[i]->cannot_match && !path[i]->count_charset)
            r.dead_from = static_cast<int>(i);
    }
    return r;
}

std::string describe(const std::set<int> &s) {
    std::string t = "{";
    for (int v : s)
        t += " v" + std::to_string(v);
    return t + " }";
}

// Checks the shape every finished DFA must have: arcs that cover the
// alphabet in ascending disjoint ranges, ids in list order, plain
// superstates first.
void check_shape(const superstates *ss, uint32_t alphabet, const std::string &fp) {
    uint32_t id = 0;
    for (const superstate *s : superstate_vector(ss)) {
        ASSERT_EQ(s->id, id++) << fp;
        uint32_t next = 0;
        dl_list_for_each(pos, &s->arcs) {
            const superstate_arc *arc = dl_list_entry(pos, superstate_arc, list);
            ASSERT_EQ(arc->first, next) << fp;
            next = arc->first + arc->len;
        }
        ASSERT_GE(next, alphabet) << fp;
        const bool plain = dl_list_empty(&s->varexps) && !s->cannot_match && !s->count_charset;
        ASSERT_EQ(plain, s->id < ss->plain_cnt) << fp;
    }
    ASSERT_EQ(id, ss->ss_cnt) << fp;
}

struct config {
    const char *name;
    void (*setup)(tirvo_compile_ctx *);
};

const config configs[] = {
    {"default", nullptr},
    {"no-count-superstates", tirvo_compile_set_no_count_superstates},
    {"no-count-extension", tirvo_compile_set_no_count_extension},
};

class SuperstatesAgainstReference : public testing::TestWithParam<uint32_t> {};

TEST_P(SuperstatesAgainstReference, VariableExpressionsRunWhereTheRegexReachesThem) {
    const uint32_t batch = GetParam();
    generator gen(0x5eed0000u + batch);
    std::mt19937 inputs(0x1a9u + batch);
    int count_superstates = 0;
    for (int n = 0; n < 250; ++n) {
        gen.next_var = 0;
        regex_ast ast = gen.regex(0, 3);
        const std::string fp = text_of(ast);
        ref_nfa ref;
        ref.begin = ref.regex(ast).first;
        if (ref.subsets(400) > 400) {
            --n; // an exploding automaton: draw another expression
            continue;
        }

        std::vector<std::string> words;
        for (int k = 0; k < 24; ++k) {
            std::string w;
            const int len = std::uniform_int_distribution<int>(0, 14)(inputs);
            for (int i = 0; i < len; ++i)
                w += static_cast<char>('a' + std::uniform_int_distribution<int>(0, 3)(inputs));
            words.push_back(w);
        }
        if (std::getenv("DFA_TEST_TRACE"))
            std::fprintf(stderr, "%s\n", fp.c_str());
        for (const config &cfg : configs) {
            dfa_compile c(fp, cfg.setup);
            ASSERT_EQ(c.status, 0) << cfg.name << ": " << fp;
            const superstates *ss = c.main_superstates();
            ASSERT_NE(ss, nullptr);
            check_shape(ss, 260, fp);
            for (const superstate *s : superstate_vector(ss))
                count_superstates += s->count_charset != nullptr;
            for (const std::string &w : words) {
                const auto expected = ref.run(w);
                const walk_result got = walk(ss, w);
                ASSERT_EQ(got.seen.size(), expected.size()) << cfg.name << ": " << fp << " / " << w;
                for (std::size_t i = 0; i < expected.size(); ++i) {
                    ASSERT_EQ(describe(got.seen[i]), describe(expected[i]))
                        << cfg.name << ": " << fp << " on \"" << w << "\" at " << i;
                    if (got.dead_from >= 0 && static_cast<int>(i) > got.dead_from) {
                        ASSERT_TRUE(expected[i].empty())
                            << cfg.name << ": cannot_match too early in " << fp << " on " << w;
                    }
                }
            }
        }
    }
    // The batch must exercise the count superstates, or it proves little.
    EXPECT_GT(count_superstates, 0);
}

INSTANTIATE_TEST_SUITE_P(Batches, SuperstatesAgainstReference, testing::Range(0u, 12u));

} // namespace
