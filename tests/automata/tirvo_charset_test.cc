#include "automata/tirvo_charset.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

// Inclusive symbol ranges; a single symbol is {c, c}.
using ranges = std::vector<std::pair<uint32_t, uint32_t>>;

tirvo_charset make(const ranges &rs) {
    tirvo_charset set{};
    for (auto [beg, end] : rs)
        for (uint32_t c = beg; c <= end; ++c)
            tirvo_charset_add(&set, c);
    return set;
}

// Every symbol 0-255 except `c`.
ranges bytes_except(uint32_t c) {
    ranges rs;
    if (c > 0)
        rs.push_back({0, c - 1});
    if (c < 255)
        rs.push_back({c + 1, 255});
    return rs;
}

std::vector<uint32_t> members(const tirvo_charset &set) {
    std::vector<uint32_t> out;
    for (uint32_t c = 0; c < TIRVO_MAX_ALPHABET_SIZE; ++c)
        if (tirvo_charset_contains(&set, c))
            out.push_back(c);
    return out;
}

std::vector<uint32_t> expand(const ranges &rs) {
    std::vector<uint32_t> out;
    for (auto [beg, end] : rs)
        for (uint32_t c = beg; c <= end; ++c)
            out.push_back(c);
    return out;
}

// The display form as written to a stream.
std::string print(const tirvo_charset &set, int dot, uint32_t n) {
    char *data = nullptr;
    std::size_t size = 0;
    FILE *f = open_memstream(&data, &size);
    EXPECT_NE(f, nullptr);
    EXPECT_EQ(tirvo_charset_print(f, &set, dot, n), 0);
    std::fclose(f);
    std::string text(data, size);
    std::free(data);
    return text;
}

const char RANGE_CHECK[] = "beg >= 0 && beg <= end && end < TIRVO_MAX_ALPHABET_SIZE";

// ---------------------------------------------------------------------------
// Text of one symbol.

TEST(Charset, SymbolText) {
    struct {
        uint32_t c;
        int in_class;
        const char *text;
    } const cases[] = {
        {256, 0, R"(\m)"},  {257, 0, R"(\z)"},   {258, 1, R"(\M)"},   {259, 1, R"(\@)"},
        {'^', 0, "^"},      {'^', 1, R"(\^)"},   {'-', 0, "-"},       {'-', 1, R"(\-)"},
        {']', 0, "]"},      {']', 1, R"(\])"},   {'"', 0, R"(\")"},   {'"', 1, R"(\")"},
        {'a', 0, "a"},      {'[', 1, "["},       {'\\', 0, R"(\)"},   {'!', 1, "!"},
        {'~', 0, "~"},      {7, 0, R"(\a)"},     {9, 0, R"(\t)"},     {10, 1, R"(\n)"},
        {12, 0, R"(\f)"},   {13, 1, R"(\r)"},    {27, 0, R"(\e)"},    {8, 0, R"(\x08)"},
        {8, 1, R"(\b)"},    {0, 0, R"(\x00)"},   {11, 1, R"(\x0b)"},  {32, 0, R"(\x20)"},
        {32, 1, R"(\x20)"}, {127, 0, R"(\x7f)"}, {200, 0, R"(\xc8)"}, {255, 1, R"(\xff)"},
    };
    for (const auto &c : cases) {
        char buf[TIRVO_CHARSET_SYMBOL_TEXT_SIZE];
        const int len = tirvo_charset_format_symbol(buf, c.c, c.in_class);
        EXPECT_STREQ(buf, c.text) << c.c << " in class " << c.in_class;
        EXPECT_EQ(len, static_cast<int>(std::string(c.text).size())) << c.c;
    }
}

TEST(CharsetDeathTest, SymbolTextBeyondAlphabetAborts) {
    char buf[TIRVO_CHARSET_SYMBOL_TEXT_SIZE];
    EXPECT_DEATH(tirvo_charset_format_symbol(buf, 260, 0), "internal error\n");
}

// ---------------------------------------------------------------------------
// Bracket form.

TEST(Charset, BracketForm) {
    struct {
        ranges set;
        int negated;
        uint32_t n;
        const char *text;
    } const cases[] = {
        {{{65, 65}}, 0, 260, "A"},
        {{{65, 65}}, 1, 260, "[^A]"},
        {{{97, 98}}, 0, 260, "[ab]"},
        {{{97, 99}}, 0, 260, "[a-c]"},
        {{{97, 99}, {101, 101}}, 0, 260, "[a-ce]"},
        {{{65, 67}, {69, 70}}, 0, 260, "[A-CEF]"},
        {{{45, 45}}, 0, 260, "-"},
        {{{45, 45}, {97, 97}}, 0, 260, R"([\-a])"},
        {{{94, 94}, {97, 97}}, 0, 260, R"([\^a])"},
        {{{8, 8}}, 0, 260, R"(\x08)"},
        {{{8, 10}}, 0, 260, R"([\b-\n])"},
        {{{0, 0}, {2, 2}, {4, 4}}, 0, 260, R"([\x00\x02\x04])"},
        {{}, 0, 260, "[]"},
        {{}, 1, 260, "[^]"},
        {{{0, 255}}, 0, 260, R"([\x00-\xff])"},
        {{{0, 259}}, 0, 260, R"([\x00-\@])"},
        {{{0, 259}}, 0, 256, R"([\x00-\xff])"},   // the run ends at the limit
        {{{254, 256}}, 0, 256, R"([\xfe\xff])"},  // a pair below the limit
        {{{253, 256}}, 0, 256, R"([\xfd-\xff])"}, // a run cut at the limit
        {{{257, 257}}, 0, 256, R"(\z)"},          // one member: written whatever the limit
        {{{97, 97}, {257, 257}}, 0, 256, "[a]"},  // members at or above the limit are left out
        {{{255, 256}}, 0, 260, R"([\xff\m])"},
        {{{97, 97}}, 1, 0, "[^]"},
    };
    for (const auto &c : cases) {
        const tirvo_charset set = make(c.set);
        char buf[TIRVO_CHARSET_TEXT_SIZE];
        const int len = tirvo_charset_format(buf, &set, c.negated, c.n);
        EXPECT_STREQ(buf, c.text);
        EXPECT_EQ(len, static_cast<int>(std::string(c.text).size())) << c.text;
    }
}

// ---------------------------------------------------------------------------
// Display form.

TEST(Charset, DisplayForm) {
    struct {
        ranges set;
        int dot;
        uint32_t n;
        const char *text;
    } const cases[] = {
        {bytes_except(97), 0, 260, "[^a]"},
        {{{97, 97}}, 0, 260, "a"},
        {{}, 0, 260, "[]"},
        {{{0, 255}}, 0, 260, "[^]"},
        {{{0, 255}}, 0, 256, "[^]"},
        {{{0, 259}}, 0, 260, R"([\x00-\@])"},
        // Equal lengths keep the plain form; one character less takes the negated one.
        {{{1, 254}}, 0, 260, R"([\x01-\xfe])"},
        {{{0, 253}}, 0, 260, R"([\x00-\xfd])"},
        {{{0, 254}}, 0, 260, R"([^\xff])"},
        // A set holding a symbol 256-259 keeps its plain form with 260 symbols...
        {{{0, 96}, {98, 256}}, 0, 260, R"([\x00-`b-\m])"},
        {{{256, 256}}, 0, 260, R"(\m)"},
        // ... but not with the 256 bytes, where those symbols are not listed.
        {{{0, 96}, {98, 256}}, 0, 256, "[^a]"},
        {{{0, 96}, {98, 255}, {259, 259}}, 0, 256, "[^a]"},
        // Graph labels: backslashes doubled, double quotes escaped.
        {{{1, 1}}, 1, 260, R"(\\x01)"},
        {{{1, 1}}, 0, 260, R"(\x01)"},
        {bytes_except('\t'), 1, 260, R"([^\\t])"},
        {{{'"', '"'}}, 0, 260, R"(\")"},
        {{{'"', '"'}}, 1, 260, R"(\\\")"},
        {{{'"', '"'}, {'a', 'a'}}, 1, 260, R"([\\\"a])"},
        {{{'a', 'c'}}, 1, 260, "[a-c]"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(print(make(c.set), c.dot, c.n), c.text);
    }
}

TEST(Charset, DisplayFormReportsAFailedWrite) {
    FILE *f = std::fopen("/dev/null", "r"); // a stream that refuses writes
    ASSERT_NE(f, nullptr);
    const tirvo_charset set = make({{97, 97}});
    EXPECT_EQ(tirvo_charset_print(f, &set, 1, 260), -1);
    EXPECT_EQ(tirvo_charset_print(f, &set, 0, 260), -1);
    std::fclose(f);
}

// ---------------------------------------------------------------------------
// Boundary sets.

TEST(Charset, Boundaries) {
    struct {
        bool absent;
        ranges set;
        ranges want;
    } const cases[] = {
        {true, {}, {{257, 257}}},
        {false, {}, {{0, 0}, {257, 257}}},
        {false, {{97, 97}}, {{0, 0}, {97, 98}, {257, 257}}},
        {false, {{0, 259}}, {{0, 0}}},
        {false, {{0, 0}}, {{0, 1}, {257, 257}}},
        {false, {{64, 64}}, {{0, 0}, {64, 65}, {257, 257}}},
        {false, {{63, 64}}, {{0, 0}, {63, 63}, {65, 65}, {257, 257}}},
        {false, {{127, 128}}, {{0, 0}, {127, 127}, {129, 129}, {257, 257}}},
        {false, {{0, 255}}, {{0, 0}, {256, 257}}},
        {false, {{0, 256}}, {{0, 0}, {257, 257}}},
        {false, {{256, 256}}, {{0, 0}, {256, 257}}},
        {false, {{257, 257}}, {{0, 0}, {257, 258}}},
        {false, {{256, 257}}, {{0, 0}, {256, 256}, {258, 258}}}, // the one case without 257
        {false, {{259, 259}}, {{0, 0}, {257, 257}, {259, 259}}}, // nothing at 260
        {false, {{258, 259}}, {{0, 0}, {257, 258}}},
    };
    for (const auto &c : cases) {
        const tirvo_charset set = make(c.set);
        tirvo_charset dst;
        for (auto &w : dst.bits)
            w = ~tirvo_bitv{0}; // overwritten completely
        tirvo_charset_boundaries(c.absent ? nullptr : &set, &dst);
        EXPECT_EQ(members(dst), expand(c.want));
        EXPECT_EQ(dst.bits[4] >> 4, 0u) << "bits beyond 259";
    }
}

// ---------------------------------------------------------------------------
// Membership, predicates and set operations.

TEST(Charset, AddRemoveContainsUpToTheLastSymbol) {
    tirvo_charset set{};
    tirvo_charset_add(&set, 259);
    tirvo_charset_add(&set, 0);
    tirvo_charset_add_range(&set, 250, 257);
    tirvo_charset_remove(&set, 256);
    EXPECT_EQ(members(set), (std::vector<uint32_t>{0, 250, 251, 252, 253, 254, 255, 257, 259}));
    tirvo_charset_add_all_bytes(&set);
    EXPECT_EQ(members(set), expand({{0, 255}, {257, 257}, {259, 259}}));
}

TEST(CharsetDeathTest, SymbolsBeyondTheAlphabetStop) {
    const std::string symbol_check = "tirvo_charset: assertion failed: c >= 0 && c < "
                                     "TIRVO_MAX_ALPHABET_SIZE";
    const std::string range_check = std::string("tirvo_charset: assertion failed: ") + RANGE_CHECK;
    tirvo_charset set{};
    const uint32_t too_big = 260;
    EXPECT_DEATH(tirvo_charset_add(&set, too_big), symbol_check);
    EXPECT_DEATH(tirvo_charset_remove(&set, too_big), symbol_check);
    EXPECT_DEATH(tirvo_charset_contains(&set, too_big), symbol_check);
    EXPECT_DEATH(tirvo_charset_is_assertion(too_big), symbol_check);
    EXPECT_DEATH(tirvo_charset_add_range(&set, 65, 64), range_check);
    EXPECT_DEATH(tirvo_charset_add_range(&set, 250, too_big), range_check);
}

TEST(Charset, SpecialAndAssertionSymbols) {
    struct {
        ranges set;
        int has_special, has_assertion;
    } const cases[] = {
        {{}, 0, 0},           {{{0, 255}}, 0, 0},   {{{256, 256}}, 1, 0},
        {{{257, 257}}, 1, 1}, {{{258, 258}}, 1, 1}, {{{0, 0}, {259, 259}}, 1, 1},
    };
    for (const auto &c : cases) {
        const tirvo_charset set = make(c.set);
        EXPECT_EQ(tirvo_charset_has_special(&set), c.has_special);
        EXPECT_EQ(tirvo_charset_has_assertion(&set), c.has_assertion);
    }
    const std::pair<uint32_t, int> symbols[] = {{0, 0}, {255, 0}, {256, 0}, {257, 1}, {259, 1}};
    for (auto [c, want] : symbols)
        EXPECT_EQ(tirvo_charset_is_assertion(c), want) << c;
}

TEST(Charset, ComplementOfBytesKeepsTheSpecialSymbols) {
    const tirvo_charset src = make({{0, 0}, {97, 255}, {256, 256}});
    tirvo_charset dst = make({{5, 5}, {258, 258}});
    tirvo_charset_complement_bytes(&dst, &src);
    EXPECT_EQ(members(dst), expand({{1, 96}, {258, 258}}));

    tirvo_charset self = make({{0, 99}, {257, 257}});
    tirvo_charset_complement_bytes(&self, &self);
    EXPECT_EQ(members(self), expand({{100, 255}, {257, 257}}));
}

TEST(Charset, DisjointContainsSetUnionCompare) {
    const tirvo_charset abc = make({{'a', 'c'}});
    const tirvo_charset cd = make({{'c', 'd'}});
    const tirvo_charset high = make({{259, 259}});
    const tirvo_charset all = make({{0, 259}});
    EXPECT_EQ(tirvo_charset_disjoint(&abc, &cd), 0);
    EXPECT_EQ(tirvo_charset_disjoint(&abc, &high), 1);
    EXPECT_EQ(tirvo_charset_disjoint(&all, &high), 0);
    EXPECT_EQ(tirvo_charset_disjoint(nullptr, &all), 1);
    EXPECT_EQ(tirvo_charset_disjoint(&all, nullptr), 1);
    EXPECT_EQ(tirvo_charset_disjoint(nullptr, nullptr), 1);

    EXPECT_EQ(tirvo_charset_contains_set(&all, &high), 1);
    EXPECT_EQ(tirvo_charset_contains_set(&abc, &cd), 0);
    EXPECT_EQ(tirvo_charset_contains_set(&abc, &abc), 1);
    const tirvo_charset empty{};
    EXPECT_EQ(tirvo_charset_contains_set(&empty, &empty), 1);
    EXPECT_EQ(tirvo_charset_contains_set(&empty, &high), 0);

    tirvo_charset u = abc;
    tirvo_charset_union(&u, &cd);
    tirvo_charset_union(&u, &high);
    EXPECT_EQ(members(u), expand({{'a', 'd'}, {259, 259}}));

    const tirvo_charset abcd_high = make({{'a', 'd'}, {259, 259}});
    EXPECT_EQ(tirvo_charset_compare(&u, &abcd_high), 0);
    EXPECT_NE(tirvo_charset_compare(&u, &abc), 0);
    EXPECT_NE(tirvo_charset_compare(&abcd_high, &all), 0);
}

TEST(Charset, Next) {
    struct {
        ranges set;
        uint32_t from;
        int found;
        uint32_t after;
    } const cases[] = {
        {{{97, 97}, {200, 200}}, 97, 1, 97},
        {{{97, 97}, {200, 200}}, 98, 1, 200},
        {{{97, 97}, {200, 200}}, 201, 0, 201},
        {{{97, 97}, {200, 200}}, 0, 1, 97},
        {{{259, 259}}, 64, 1, 259},
        {{{259, 259}}, 260, 0, 260},
        {{{0, 259}}, 1000, 0, 1000},
        {{}, 0, 0, 0},
    };
    for (const auto &c : cases) {
        const tirvo_charset set = make(c.set);
        uint32_t p = c.from;
        EXPECT_EQ(tirvo_charset_next(&set, &p), c.found) << "from " << c.from;
        EXPECT_EQ(p, c.after) << "from " << c.from;
    }
}

TEST(Charset, SingleLooksAtAllSymbols) {
    struct {
        ranges set;
        uint32_t first;
        int single;
    } const cases[] = {
        {{}, 0, 0},
        {{{259, 259}}, 259, 1},
        {{{0, 0}}, 0, 1},
        {{{97, 97}, {259, 259}}, 97, 0},
    };
    for (const auto &c : cases) {
        const tirvo_charset set = make(c.set);
        uint32_t first = 77;
        int single = 77;
        tirvo_charset_single(&set, &first, &single);
        EXPECT_EQ(first, c.first);
        EXPECT_EQ(single, c.single);
    }
}

// ---------------------------------------------------------------------------
// Predefined sets.

TEST(Charset, PredefinedSets) {
    tirvo_charset_init_predefined();
    struct {
        int index;
        ranges members;
        std::size_t count;
    } const cases[] = {
        {tirvo_charset_predefined_ascii, {{0, 127}}, 128},
        {tirvo_charset_predefined_xdigit, {{'0', '9'}, {'A', 'F'}, {'a', 'f'}}, 22},
        {tirvo_charset_predefined_upper, {{'A', 'Z'}}, 26},
        {tirvo_charset_predefined_space, {{9, 10}, {12, 13}, {32, 32}}, 5},
        {tirvo_charset_predefined_punct, {{33, 47}, {58, 64}, {91, 96}, {123, 126}}, 32},
        {tirvo_charset_predefined_print, {{32, 126}}, 95},
        {tirvo_charset_predefined_lower, {{'a', 'z'}}, 26},
        {tirvo_charset_predefined_graph, {{33, 126}}, 94},
        {tirvo_charset_predefined_cntrl, {{0, 31}, {127, 127}}, 33},
        {tirvo_charset_predefined_blank, {{9, 9}, {32, 32}}, 2},
        {tirvo_charset_predefined_alpha, {{'A', 'Z'}, {'a', 'z'}}, 52},
        {tirvo_charset_predefined_alnum, {{'0', '9'}, {'A', 'Z'}, {'a', 'z'}}, 62},
        {tirvo_charset_predefined_non_digit, {{0, 47}, {58, 255}}, 246},
        {tirvo_charset_predefined_digit, {{'0', '9'}}, 10},
        {tirvo_charset_predefined_non_space, {{0, 8}, {11, 11}, {14, 31}, {33, 255}}, 251},
        {tirvo_charset_predefined_non_word,
         {{0, 47}, {58, 64}, {91, 94}, {96, 96}, {123, 255}},
         193},
        {tirvo_charset_predefined_word, {{'0', '9'}, {'A', 'Z'}, {'_', '_'}, {'a', 'z'}}, 63},
    };
    static_assert(std::size(cases) == tirvo_charset_predefined_count);
    for (const auto &c : cases) {
        const std::vector<uint32_t> got = members(tirvo_charset_predefined[c.index]);
        EXPECT_EQ(got, expand(c.members)) << "index " << c.index;
        EXPECT_EQ(got.size(), c.count) << "index " << c.index;
    }
    // A second build gives the same sets, not doubled or shifted ones.
    tirvo_charset_init_predefined();
    EXPECT_EQ(members(tirvo_charset_predefined[tirvo_charset_predefined_non_word]).size(), 193u);
}

} // namespace
