#include "automata/tirvo_bitv.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// A vector of `n` bits with the given bits set, in a word array of its own.
std::vector<tirvo_bitv> make(uint32_t n, std::initializer_list<uint32_t> bits) {
    std::vector<tirvo_bitv> v(tirvo_bitv_words(n) + 1, 0); // one spare word to see overruns
    for (uint32_t b : bits)
        tirvo_bitv_set(v.data(), b);
    return v;
}

// The set bits of the first `words` words of `v`, ascending, by testing
// every bit (independent of the word-wise operations under test).
std::vector<uint32_t> members(const std::vector<tirvo_bitv> &v) {
    std::vector<uint32_t> out;
    for (uint32_t i = 0; i < v.size() * 64; ++i)
        if (tirvo_bitv_contains(v.data(), i))
            out.push_back(i);
    return out;
}

TEST(Bitv, WordAndByteCounts) {
    struct {
        uint32_t n;
        std::size_t words, bytes;
    } const cases[] = {
        {0, 0, 0}, {1, 1, 8}, {63, 1, 8}, {64, 1, 8}, {65, 2, 16}, {128, 2, 16}, {260, 5, 40},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(tirvo_bitv_words(c.n), c.words) << c.n;
        EXPECT_EQ(tirvo_bitv_bytes(c.n), c.bytes) << c.n;
    }
}

// The byte image is fixed: bit i is bit i % 8 of byte i / 8, across words.
TEST(Bitv, LittleEndianByteImage) {
    const uint32_t bits[] = {0, 7, 8, 63, 64, 127, 128, 200};
    for (uint32_t b : bits) {
        std::vector<tirvo_bitv> v = make(256, {b});
        unsigned char image[32];
        std::memcpy(image, v.data(), sizeof image);
        for (uint32_t byte = 0; byte < sizeof image; ++byte)
            EXPECT_EQ(image[byte], byte == b / 8 ? 1u << (b % 8) : 0u) << "bit " << b;
    }
}

TEST(Bitv, SetAndClearTouchOnlyTheirBit) {
    std::vector<tirvo_bitv> v = make(128, {62, 63, 64, 65});
    tirvo_bitv_clear(v.data(), 63);
    tirvo_bitv_clear(v.data(), 64);
    EXPECT_EQ(members(v), (std::vector<uint32_t>{62, 65}));
    tirvo_bitv_set(v.data(), 64);
    tirvo_bitv_set(v.data(), 64); // setting twice is harmless
    EXPECT_EQ(members(v), (std::vector<uint32_t>{62, 64, 65}));
}

// A range is added to what the vector holds; bits outside it stay as they
// were.
TEST(Bitv, SetRange) {
    struct {
        uint32_t beg, end;
    } const cases[] = {
        {5, 5},  {0, 0},    {63, 63}, {64, 64},  {63, 64},
        {0, 63}, {64, 127}, {60, 70}, {10, 200}, {1, 255},
    };
    for (const auto &c : cases) {
        std::vector<tirvo_bitv> v = make(256, {3, 250});
        tirvo_bitv_set_range(v.data(), c.beg, c.end);
        std::vector<uint32_t> want;
        for (uint32_t i = 0; i < 256; ++i)
            if (i == 3 || i == 250 || (i >= c.beg && i <= c.end))
                want.push_back(i);
        EXPECT_EQ(members(v), want) << c.beg << ".." << c.end;
    }
}

TEST(BitvDeathTest, ReversedRangeStops) {
    std::vector<tirvo_bitv> v = make(64, {});
    EXPECT_DEATH(tirvo_bitv_set_range(v.data(), 6, 5),
                 "tirvo_bitv: assertion failed: beg >= 0 && end >= 0 && beg <= end");
}

TEST(Bitv, OrCoversTheWordsOfTheBitCount) {
    std::vector<tirvo_bitv> dst = make(256, {1, 100});
    const std::vector<tirvo_bitv> src = make(256, {0, 64, 127, 128, 255});
    tirvo_bitv_or(dst.data(), src.data(), 65); // two words: bits 0-127
    EXPECT_EQ(members(dst), (std::vector<uint32_t>{0, 1, 64, 100, 127}));
}

TEST(Bitv, Next) {
    struct {
        uint32_t n;
        std::initializer_list<uint32_t> bits;
        uint32_t from, want;
    } const cases[] = {
        {128, {5, 70}, 0, 5},
        {128, {5, 70}, 5, 5},
        {128, {5, 70}, 6, 70},
        {128, {5, 70}, 70, 70},
        {128, {5, 70}, 71, TIRVO_BITV_NONE},
        {71, {5, 70}, 71, TIRVO_BITV_NONE}, // p >= n whatever is set
        {71, {5, 70}, 500, TIRVO_BITV_NONE},
        {256, {63, 64}, 63, 63},
        {256, {63, 64}, 64, 64},
        {256, {200}, 1, 200}, // skips zero words
        {256, {255}, 255, 255},
        {256, {}, 0, TIRVO_BITV_NONE},
        {0, {}, 0, TIRVO_BITV_NONE},
    };
    for (const auto &c : cases) {
        std::vector<tirvo_bitv> v = make(c.n, c.bits);
        EXPECT_EQ(tirvo_bitv_next(v.data(), c.n, c.from), c.want)
            << "n " << c.n << " from " << c.from;
    }
}

// A walk reads the vector live: bits a visit adds above the cursor are
// visited, bits added below it are not.
TEST(Bitv, WalkSeesBitsAddedAhead) {
    std::vector<tirvo_bitv> v = make(200, {3});
    std::vector<uint32_t> visited;
    tirvo_bitv_for_each(i, v.data(), 200) {
        visited.push_back(i);
        if (i == 3) {
            tirvo_bitv_set(v.data(), 10);
            tirvo_bitv_set(v.data(), 1);
        }
        if (i == 10)
            tirvo_bitv_set(v.data(), 150); // in a later word
    }
    EXPECT_EQ(visited, (std::vector<uint32_t>{3, 10, 150}));
}

TEST(Bitv, Single) {
    struct {
        uint32_t n;
        std::initializer_list<uint32_t> bits;
        uint32_t first;
        int single;
    } const cases[] = {
        {128, {}, 0, 0},      {128, {0}, 0, 1},      {256, {3, 200}, 3, 0},
        {128, {63}, 63, 1},   {128, {64}, 64, 1},    {128, {63, 64}, 63, 0},
        {256, {255}, 255, 1}, {256, {0, 255}, 0, 0}, {0, {}, 0, 0},
    };
    for (const auto &c : cases) {
        std::vector<tirvo_bitv> v = make(c.n, c.bits);
        uint32_t first = 99;
        int single = 99;
        tirvo_bitv_single(v.data(), c.n, &first, &single);
        EXPECT_EQ(first, c.first) << "n " << c.n;
        EXPECT_EQ(single, c.single) << "n " << c.n << " first " << c.first;
    }
}

TEST(Bitv, CompareIsByteComparisonOfWholeWords) {
    struct {
        uint32_t n;
        std::initializer_list<uint32_t> a, b;
        int want;
    } const cases[] = {
        {65, {}, {}, 0},          {65, {0, 64}, {0, 64}, 0}, {65, {0}, {}, 1}, // byte 0: 1 - 0
        {65, {}, {7}, -128},                                                   // byte 0: 0 - 128
        {65, {8, 16}, {9}, -1},   // byte 1 decides: 1 - 2
        {65, {100}, {}, 16},      // beyond bit 65 but inside the second word: byte 12 is 16
        {65, {130}, {}, 0},       // third word: not compared
        {128, {127}, {120}, 127}, // byte 15: 128 - 1
    };
    for (const auto &c : cases) {
        std::vector<tirvo_bitv> a = make(256, c.a), b = make(256, c.b);
        EXPECT_EQ(tirvo_bitv_compare(a.data(), b.data(), c.n), c.want);
    }
}

} // namespace
