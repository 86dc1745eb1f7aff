#include "lib/libk4m4util/k4mstr.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

// What the kind's functions saw; the kind's user data points here.
struct recorder {
    int budget = INT_MAX;               // allocations that still succeed
    std::vector<size_t> alloc_sizes;    // bytes asked for, in order
    std::set<void *> live;              // blocks allocated and not yet released
    std::vector<k4mstr_seg *> released; // segments handed back, in order
    int clears = 0;                     // on_clear calls
    size_t released_at_clear = 0;       // released.size() when on_clear ran
    size_t len_at_clear = 1;            // the string's length when on_clear ran
};

void *rec_alloc(size_t bytes, void *user) {
    auto *rec = static_cast<recorder *>(user);
    if (rec->budget == 0)
        return nullptr;
    --rec->budget;
    rec->alloc_sizes.push_back(bytes);
    void *block = std::malloc(bytes);
    rec->live.insert(block);
    return block;
}

void rec_release(k4mstr_seg *seg, void *user) {
    auto *rec = static_cast<recorder *>(user);
    rec->released.push_back(seg);
    if (rec->live.erase(seg))
        std::free(seg);
}

void rec_on_clear(k4mstr *string, void *user) {
    auto *rec = static_cast<recorder *>(user);
    ++rec->clears;
    rec->released_at_clear = rec->released.size();
    rec->len_at_clear = string->len;
}

std::string contents(const k4mstr *s) {
    std::string out(s->len, '\0');
    EXPECT_EQ(k4mstr_copy_out(s, out.data(), out.size()), s->len);
    return out;
}

std::vector<int> used_per_segment(const k4mstr *s) {
    std::vector<int> v;
    for (const k4mstr_seg *seg = s->first_seg; seg; seg = seg->next_seg)
        v.push_back(seg->used);
    return v;
}

// The string's invariant: `len` is the sum of `used`, `last` ends the chain.
void expect_consistent(const k4mstr *s) {
    size_t sum = 0;
    const k4mstr_seg *end = nullptr;
    for (const k4mstr_seg *seg = s->first_seg; seg; seg = seg->next_seg) {
        EXPECT_LE(seg->used, seg->capacity);
        sum += seg->used;
        end = seg;
    }
    EXPECT_EQ(sum, s->len);
    EXPECT_EQ(end, s->last);
}

std::string pattern(size_t n) {
    std::string p(n, '\0');
    for (size_t i = 0; i < n; ++i)
        p[i] = static_cast<char>(i * 7 + i / 251);
    return p;
}

// One string of a kind that records its allocations and releases. Teardown
// clears the string and checks that every allocated segment came back.
class K4mstrTest : public ::testing::Test {
  protected:
    void make_kind(size_t max_len, size_t seg_size) {
        ops = {rec_alloc, rec_release, rec_on_clear, max_len, seg_size, &rec};
    }
    void TearDown() override {
        k4mstr_clear(&str);
        EXPECT_TRUE(rec.live.empty());
        for (void *block : rec.live)
            std::free(block);
    }

    recorder rec;
    k4mstr_ops ops{};
    k4mstr str{&ops, 0, nullptr, nullptr};
};

TEST_F(K4mstrTest, LoaderKind) {
    k4mstr_ops_init_loader(&ops, rec_alloc, rec_release, &rec);
    EXPECT_EQ(ops.alloc_seg, rec_alloc);
    EXPECT_EQ(ops.release_seg, rec_release);
    EXPECT_EQ(ops.on_clear, nullptr);
    EXPECT_EQ(ops.max_len, 0x7FFFFFFFu);
    EXPECT_EQ(ops.seg_size, 4092u);
    EXPECT_EQ(ops.user, &rec);
}

// Appends to a string of the loader's kind fill the last segment, then new
// ones of 4092 bytes whose data lies right behind their header.
struct split_case {
    const char *name;
    int own_capacity;            // -1: no initial segment, else its capacity
    int own_used;                // bytes already in the initial segment
    std::vector<size_t> appends; // sizes of consecutive appends
    std::vector<int> used;       // expected `used` per segment afterwards
};

const split_case split_cases[] = {
    {"no_initial_segment", -1, 0, {5000}, {4092, 908}},
    {"empty_initial_segment", 0, 0, {5000}, {0, 4092, 908}},
    {"exactly_one_segment", -1, 0, {4092}, {4092}},
    {"one_byte_over", -1, 0, {4092, 1}, {4092, 1}},
    {"small_pieces", -1, 0, std::vector<size_t>(1000, 5), {4092, 908}},
    {"partly_used_initial_segment", 10, 3, {5000}, {10, 4092, 901}},
    {"three_segments", -1, 0, {3000, 3000, 3000}, {4092, 4092, 816}},
};

TEST_F(K4mstrTest, AppendSplitsIntoSegments) {
    for (const split_case &c : split_cases) {
        SCOPED_TRACE(c.name);
        rec = recorder{};
        k4mstr_ops_init_loader(&ops, rec_alloc, rec_release, &rec);
        uint8_t own_data[16] = {'x', 'y', 'z'};
        k4mstr_seg own;
        k4mstr_seg_init(&own, own_data,
                        static_cast<uint16_t>(c.own_capacity < 0 ? 0 : c.own_capacity),
                        static_cast<uint16_t>(c.own_used), nullptr);
        k4mstr_init(&str, &ops, c.own_capacity < 0 ? nullptr : &own);
        std::string expected(reinterpret_cast<char *>(own_data), static_cast<size_t>(c.own_used));
        size_t total = 0;
        for (size_t n : c.appends)
            total += n;
        std::string data = pattern(total);
        size_t at = 0;
        for (size_t n : c.appends) {
            EXPECT_EQ(k4mstr_append(&str, data.data() + at, n), n);
            at += n;
        }
        expected += data;
        EXPECT_EQ(used_per_segment(&str), c.used);
        expect_consistent(&str);
        EXPECT_EQ(contents(&str), expected);
        size_t new_segments = c.used.size() - (c.own_capacity < 0 ? 0 : 1);
        EXPECT_EQ(rec.alloc_sizes, std::vector<size_t>(new_segments, sizeof(k4mstr_seg) + 4092));
        for (k4mstr_seg *seg = str.first_seg; seg; seg = seg->next_seg) {
            if (seg == &own)
                continue;
            EXPECT_EQ(seg->capacity, 4092);
            EXPECT_EQ(seg->data, reinterpret_cast<uint8_t *>(seg + 1));
            EXPECT_EQ(seg->release, rec_release);
        }
        k4mstr_clear(&str);
        EXPECT_TRUE(rec.live.empty());
    }
}

TEST_F(K4mstrTest, InitialSegmentWithSuccessorIsRefused) {
    make_kind(1000, 4);
    uint8_t data[4];
    k4mstr_seg a, b;
    k4mstr_seg_init(&a, data, 4, 0, nullptr);
    k4mstr_seg_init(&b, data, 4, 0, nullptr);
    a.next_seg = &b;
    EXPECT_DEATH(k4mstr_init(&str, &ops, &a),
                 "k4mstr: assertion failed: initial_segment->next_seg == NULL");
}

enum class append_op { bytes, bytes_unlimited, cstr, cstr_unlimited, chr, chr_unlimited };

struct limit_case {
    const char *name;
    size_t preset; // bytes already in the string (appended without limit)
    append_op op;
    const char *text; // appended (for chr, its first byte)
    size_t result;
    size_t len;
};

// The kind allows 10 bytes; segments of 4 bytes make the appends cross
// segment boundaries.
const limit_case limit_cases[] = {
    {"bytes_stop_at_max_len", 0, append_op::bytes, "abcdefghijkl", 10, 10},
    {"bytes_unlimited", 0, append_op::bytes_unlimited, "abcdefghijkl", 12, 12},
    {"cstr_stop_at_max_len", 0, append_op::cstr, "abcdefghijkl", 10, 10},
    {"cstr_unlimited", 0, append_op::cstr_unlimited, "abcdefghijkl", 12, 12},
    {"bytes_fill_the_rest", 7, append_op::bytes, "abcdefghijkl", 3, 10},
    {"bytes_at_max_len", 10, append_op::bytes, "abc", 0, 10},
    {"bytes_above_max_len", 11, append_op::bytes, "abc", 0, 11},
    {"char_below_max_len", 9, append_op::chr, "a", 1, 10},
    {"char_at_max_len", 10, append_op::chr, "a", 0, 10},
    {"char_unlimited_at_max_len", 10, append_op::chr_unlimited, "a", 1, 11},
    {"empty_cstr", 3, append_op::cstr, "", 0, 3},
};

TEST_F(K4mstrTest, AppendStopsAtMaxLen) {
    make_kind(10, 4);
    for (const limit_case &c : limit_cases) {
        SCOPED_TRACE(c.name);
        k4mstr_init(&str, &ops, nullptr);
        std::string preset = pattern(c.preset);
        ASSERT_EQ(k4mstr_append_unlimited(&str, preset.data(), preset.size()), c.preset);
        size_t n = std::strlen(c.text);
        size_t got = 0;
        switch (c.op) {
        case append_op::bytes:
            got = k4mstr_append(&str, c.text, n);
            break;
        case append_op::bytes_unlimited:
            got = k4mstr_append_unlimited(&str, c.text, n);
            break;
        case append_op::cstr:
            got = k4mstr_append_cstr(&str, c.text);
            break;
        case append_op::cstr_unlimited:
            got = k4mstr_append_cstr_unlimited(&str, c.text);
            break;
        case append_op::chr:
            got = k4mstr_append_char(&str, c.text[0]);
            break;
        case append_op::chr_unlimited:
            got = k4mstr_append_char_unlimited(&str, c.text[0]);
            break;
        }
        EXPECT_EQ(got, c.result);
        EXPECT_EQ(str.len, c.len);
        expect_consistent(&str);
        EXPECT_EQ(contents(&str), preset + std::string(c.text, c.result));
        k4mstr_clear(&str);
    }
}

// Appending "abcdefghijkl" in segments of 4 bytes while the allocator grants
// only `budget` segments stops short and keeps what it stored; once storage is
// back, appending continues behind it.
struct alloc_fail_case {
    int budget;
    size_t appended;
    std::vector<int> used;
};

const alloc_fail_case alloc_fail_cases[] = {
    {0, 0, {}},
    {1, 4, {4}},
    {2, 8, {4, 4}},
};

TEST_F(K4mstrTest, AllocatorFailureGivesShortCount) {
    make_kind(1000, 4);
    const std::string text = "abcdefghijkl";
    for (const alloc_fail_case &c : alloc_fail_cases) {
        SCOPED_TRACE(c.budget);
        k4mstr_init(&str, &ops, nullptr);
        rec.budget = c.budget;
        EXPECT_EQ(k4mstr_append(&str, text.data(), text.size()), c.appended);
        EXPECT_EQ(contents(&str), text.substr(0, c.appended));
        EXPECT_EQ(used_per_segment(&str), c.used);
        expect_consistent(&str);
        EXPECT_EQ(k4mstr_append_char(&str, 'z'), 0u);
        rec.budget = INT_MAX;
        size_t rest = text.size() - c.appended;
        EXPECT_EQ(k4mstr_append(&str, text.data() + c.appended, rest), rest);
        EXPECT_EQ(contents(&str), text);
        expect_consistent(&str);
        k4mstr_clear(&str);
    }
}

TEST_F(K4mstrTest, KindWithoutAllocatorFillsOnlyItsOwnSegment) {
    make_kind(1000, 4);
    ops.alloc_seg = nullptr;
    uint8_t own_data[4];
    k4mstr_seg own;
    k4mstr_seg_init(&own, own_data, 4, 0, nullptr);
    k4mstr_init(&str, &ops, &own);
    EXPECT_EQ(k4mstr_append_cstr(&str, "abcdef"), 4u);
    EXPECT_EQ(contents(&str), "abcd");
    EXPECT_EQ(str.last, &own);
    k4mstr_clear(&str);
}

TEST_F(K4mstrTest, ClearReleasesEverySegmentThenCallsOnClear) {
    make_kind(1000, 4);
    uint8_t own_data[4];
    k4mstr_seg own;
    k4mstr_seg_init(&own, own_data, 4, 0, rec_release);
    k4mstr_init(&str, &ops, &own);
    ASSERT_EQ(k4mstr_append_cstr(&str, "abcdefghij"), 10u);
    std::vector<k4mstr_seg *> chain;
    for (k4mstr_seg *seg = str.first_seg; seg; seg = seg->next_seg)
        chain.push_back(seg);
    ASSERT_EQ(chain.size(), 3u);
    k4mstr_clear(&str);
    EXPECT_EQ(rec.released, chain);
    EXPECT_EQ(rec.clears, 1);
    EXPECT_EQ(rec.released_at_clear, 3u);
    EXPECT_EQ(rec.len_at_clear, 0u);
    EXPECT_EQ(str.len, 0u);
    EXPECT_EQ(str.first_seg, nullptr);
    EXPECT_EQ(str.last, nullptr);
    EXPECT_TRUE(rec.live.empty());
    // The cleared string takes new bytes.
    EXPECT_EQ(k4mstr_append_cstr(&str, "xy"), 2u);
    EXPECT_EQ(contents(&str), "xy");
}

TEST_F(K4mstrTest, ClearSkipsSegmentWithoutReleaseAndWorksWithoutOnClear) {
    make_kind(1000, 4);
    ops.on_clear = nullptr;
    uint8_t own_data[2] = {'a', 'b'};
    k4mstr_seg own;
    k4mstr_seg_init(&own, own_data, 2, 2, nullptr);
    k4mstr_init(&str, &ops, &own);
    EXPECT_EQ(str.len, 2u);
    ASSERT_EQ(k4mstr_append_cstr(&str, "cd"), 2u);
    k4mstr_seg *second = own.next_seg;
    k4mstr_clear(&str);
    EXPECT_EQ(rec.released, std::vector<k4mstr_seg *>{second});
    EXPECT_EQ(rec.clears, 0);
}

TEST_F(K4mstrTest, TruncateKeepsFirstSegment) {
    make_kind(1000, 4);
    k4mstr_init(&str, &ops, nullptr);
    ASSERT_EQ(k4mstr_append_cstr(&str, "abcdefghij"), 10u);
    k4mstr_seg *first = str.first_seg;
    k4mstr_seg *second = first->next_seg;
    k4mstr_seg *third = second->next_seg;
    k4mstr_truncate(&str);
    EXPECT_EQ(rec.released, (std::vector<k4mstr_seg *>{second, third}));
    EXPECT_EQ(rec.clears, 0);
    EXPECT_EQ(str.len, 0u);
    EXPECT_EQ(str.first_seg, first);
    EXPECT_EQ(str.last, first);
    EXPECT_EQ(first->next_seg, nullptr);
    EXPECT_EQ(first->used, 0);
    // The kept segment is filled again before anything is allocated.
    size_t allocs = rec.alloc_sizes.size();
    EXPECT_EQ(k4mstr_append_cstr(&str, "wxyz"), 4u);
    EXPECT_EQ(rec.alloc_sizes.size(), allocs);
    EXPECT_EQ(contents(&str), "wxyz");
    expect_consistent(&str);
}

TEST_F(K4mstrTest, TruncateEmptyString) {
    make_kind(1000, 4);
    k4mstr_init(&str, &ops, nullptr);
    k4mstr_truncate(&str);
    EXPECT_EQ(str.first_seg, nullptr);
    EXPECT_EQ(str.last, nullptr);
    EXPECT_EQ(str.len, 0u);
    EXPECT_TRUE(rec.released.empty());
}

TEST_F(K4mstrTest, PopOnEmptyStringReturnsMinusOne) {
    make_kind(1000, 4);
    k4mstr_init(&str, &ops, nullptr);
    EXPECT_EQ(k4mstr_pop_char(&str), -1);
    EXPECT_EQ(k4mstr_last_char(&str), -1);
    EXPECT_EQ(str.len, 0u);
    EXPECT_EQ(str.first_seg, nullptr);
    EXPECT_TRUE(rec.released.empty());
    EXPECT_TRUE(rec.alloc_sizes.empty());
}

TEST_F(K4mstrTest, PopAcrossSegmentsDropsEmptyOnes) {
    make_kind(1000, 4);
    k4mstr_init(&str, &ops, nullptr);
    ASSERT_EQ(k4mstr_append_cstr(&str, "abcd\xff"), 5u);
    k4mstr_seg *first = str.first_seg;
    k4mstr_seg *second = first->next_seg;
    // A byte of 255 is not mistaken for "empty".
    EXPECT_EQ(k4mstr_last_char(&str), 255);
    EXPECT_EQ(k4mstr_pop_char(&str), 255);
    EXPECT_EQ(str.len, 4u);
    // The emptied segment goes only when the next byte is looked at.
    EXPECT_TRUE(rec.released.empty());
    EXPECT_EQ(k4mstr_last_char(&str), 'd');
    EXPECT_EQ(rec.released, std::vector<k4mstr_seg *>{second});
    EXPECT_EQ(str.last, first);
    EXPECT_EQ(first->next_seg, nullptr);
    expect_consistent(&str);
    std::string popped;
    for (int c; (c = k4mstr_pop_char(&str)) != -1;)
        popped += static_cast<char>(c);
    EXPECT_EQ(popped, "dcba");
    EXPECT_EQ(rec.released, (std::vector<k4mstr_seg *>{second, first}));
    EXPECT_EQ(str.first_seg, nullptr);
    EXPECT_EQ(str.last, nullptr);
    EXPECT_EQ(str.len, 0u);
}

TEST_F(K4mstrTest, CopyOut) {
    make_kind(1000, 4);
    k4mstr_init(&str, &ops, nullptr);
    ASSERT_EQ(k4mstr_append_cstr(&str, "hello world"), 11u);
    struct copy_case {
        size_t n;
        size_t copied;
        const char *buffer; // 16 bytes after the copy; '#' untouched, '0' the terminator
    };
    const copy_case cases[] = {
        {0, 0, "################"}, {3, 3, "hel#############"},   {4, 4, "hell############"},
        {5, 5, "hello###########"}, {11, 11, "hello world#####"}, {16, 11, "hello world#####"},
    };
    const copy_case cstr_cases[] = {
        {0, 0, "################"},   {3, 3, "hel#############"},   {4, 4, "hell############"},
        {11, 11, "hello world#####"}, {12, 11, "hello world0####"}, {16, 11, "hello world0####"},
    };
    for (const copy_case &c : cases) {
        SCOPED_TRACE(c.n);
        char buffer[16];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(k4mstr_copy_out(&str, buffer, c.n), c.copied);
        EXPECT_EQ(std::string(buffer, sizeof buffer), c.buffer);
    }
    for (const copy_case &c : cstr_cases) {
        SCOPED_TRACE(c.n);
        char buffer[16];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(k4mstr_copy_out_cstr(&str, buffer, c.n), c.copied);
        std::string got(buffer, sizeof buffer);
        for (char &ch : got)
            if (ch == '\0')
                ch = '0';
        EXPECT_EQ(got, c.buffer);
    }
}

enum class chomp_fn { chr, tight, line_end };

struct chomp_case {
    const char *name;
    chomp_fn fn;
    size_t max_len;
    const char *text; // the string before (appended without limit)
    char c;           // the character to remove (chr and tight)
    int result;
    const char *after;
};

// Segments of 4 bytes, so that removing a line end often crosses a segment
// boundary.
const chomp_case chomp_cases[] = {
    {"line_end_crlf", chomp_fn::line_end, 100, "line\r\n", 0, 1, "line"},
    {"line_end_crlf_split", chomp_fn::line_end, 100, "abc\r\n", 0, 1, "abc"},
    {"line_end_lf", chomp_fn::line_end, 100, "line\n", 0, 1, "line"},
    {"line_end_only_one_cr", chomp_fn::line_end, 100, "a\r\r\n", 0, 1, "a\r"},
    {"line_end_cr_alone_stays", chomp_fn::line_end, 100, "line\r", 0, 0, "line\r"},
    {"line_end_none", chomp_fn::line_end, 100, "line", 0, 0, "line"},
    {"line_end_only_crlf", chomp_fn::line_end, 100, "\r\n", 0, 1, ""},
    {"line_end_empty", chomp_fn::line_end, 100, "", 0, 0, ""},
    {"line_end_fits", chomp_fn::line_end, 10, "abcdefg\r\n", 0, 1, "abcdefg"},
    {"line_end_cut", chomp_fn::line_end, 10, "abcdefghi\n", 0, -1, "abcdefgh..."},
    {"char_removed", chomp_fn::chr, 100, "path/", '/', 1, "path"},
    {"char_absent", chomp_fn::chr, 100, "path", '/', 0, "path"},
    {"char_empty", chomp_fn::chr, 100, "", '/', 0, ""},
    {"char_high_byte", chomp_fn::chr, 100, "ab\xff", '\xff', 1, "ab"},
    {"char_fits", chomp_fn::chr, 10, "abcdefgh/", '/', 1, "abcdefgh"},
    {"char_removed_then_cut", chomp_fn::chr, 10, "abcdefghi/", '/', -1, "abcdefgh..."},
    {"char_cut_one", chomp_fn::chr, 10, "abcdefghi", '/', -1, "abcdefgh..."},
    {"char_cut_two", chomp_fn::chr, 10, "abcdefghij", '/', -1, "abcdefgh..."},
    {"char_cut_above_max", chomp_fn::chr, 10, "abcdefghijkl", '/', -1, "abcdefghij..."},
    {"tight_removed", chomp_fn::tight, 10, "abcdefghij", 'j', 1, "abcdefghi"},
    {"tight_fits", chomp_fn::tight, 10, "abcdefghi", 'x', 0, "abcdefghi"},
    {"tight_cut", chomp_fn::tight, 10, "abcdefghij", 'x', -1, "abcdefghi..."},
    {"tight_empty", chomp_fn::tight, 10, "", 'x', 0, ""},
};

TEST_F(K4mstrTest, Chomp) {
    for (const chomp_case &c : chomp_cases) {
        SCOPED_TRACE(c.name);
        make_kind(c.max_len, 4);
        k4mstr_init(&str, &ops, nullptr);
        ASSERT_EQ(k4mstr_append_cstr_unlimited(&str, c.text), std::strlen(c.text));
        int got = 0;
        switch (c.fn) {
        case chomp_fn::chr:
            got = k4mstr_chomp_char(&str, c.c);
            break;
        case chomp_fn::tight:
            got = k4mstr_chomp_char_tight(&str, c.c);
            break;
        case chomp_fn::line_end:
            got = k4mstr_chomp_line_end(&str);
            break;
        }
        EXPECT_EQ(got, c.result);
        EXPECT_EQ(contents(&str), c.after);
        expect_consistent(&str);
        k4mstr_clear(&str);
    }
}

} // namespace
