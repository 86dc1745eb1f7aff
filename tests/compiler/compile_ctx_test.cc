// The compile context: option setters, validation, the pool, the situation
// container and the progress report.
#include "compiler/tirvo_compile_ctx.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

struct ctx_fixture : testing::Test {
    tirvo_compile_ctx ctx;
    void SetUp() override {
        tirvo_compile_ctx_init(&ctx);
        tirvo_pool_setup(&ctx.pool, std::malloc, std::free);
    }
    void TearDown() override { tirvo_compile_cleanup(&ctx); }
};

using CompileCtx = ctx_fixture;

TEST_F(CompileCtx, InitialState) {
    EXPECT_EQ(ctx.alphabet_size, 260);
    EXPECT_TRUE(dl_list_empty(&ctx.regex_entries));
    EXPECT_TRUE(dl_list_empty(&ctx.varexp_entries));
    EXPECT_TRUE(dl_list_empty(&ctx.new_nfa_states));
    EXPECT_EQ(ctx.error, 0);
    EXPECT_EQ(ctx.num_situations, 0);
    EXPECT_EQ(ctx.file_id, 0u);
    uint16_t bits;
    std::memcpy(&bits, &ctx.flags, sizeof bits);
    EXPECT_EQ(bits, 0);
}

TEST_F(CompileCtx, FlagBitsSitWhereTheFileAndTheSettersExpectThem) {
    struct {
        void (*set)(tirvo_compile_ctx *);
        uint16_t bits;
    } cases[] = {
        {tirvo_compile_set_vgr_output, 0x0001 | 0x0008},
        {tirvo_compile_set_syntax_check, 0x0002},
        {tirvo_compile_set_case_insensitive, 0x0004},
        {tirvo_compile_set_quiet, 0x0008},
        {tirvo_compile_set_show_parse_tree, 0x0010},
        {tirvo_compile_set_parser_debug, 0x0020},
        {tirvo_compile_set_show_byc, 0x0040},
        {tirvo_compile_set_show_nfa, 0x0080},
        {tirvo_compile_set_show_superstates, 0x0100},
        {tirvo_compile_set_no_count_extension, 0x0200},
        {tirvo_compile_set_no_count_superstates, 0x0400},
        {tirvo_compile_set_show_variables, 0x0800},
        {tirvo_compile_set_progress, 0x1000},
        {tirvo_compile_set_no_main_count_extension, 0x2000},
        {tirvo_compile_set_low_level_dfa, 0x4000 | 0x0200},
    };
    for (const auto &c : cases) {
        tirvo_compile_ctx fresh;
        tirvo_compile_ctx_init(&fresh);
        c.set(&fresh);
        uint16_t bits;
        std::memcpy(&bits, &fresh.flags, sizeof bits);
        EXPECT_EQ(bits, c.bits);
    }
}

TEST_F(CompileCtx, LowLevelDfaNarrowsTheAlphabet) {
    tirvo_compile_set_low_level_dfa(&ctx);
    EXPECT_EQ(ctx.alphabet_size, 256);
    EXPECT_TRUE(ctx.flags.no_count_extension);
}

TEST_F(CompileCtx, SecondInputIsRefused) {
    EXPECT_EQ(tirvo_compile_set_input(&ctx, stdin, "first"), 0);
    EXPECT_EQ(tirvo_compile_set_input(&ctx, stdin, "second"), 1);
    EXPECT_STREQ(ctx.input_name, "first");
    ctx.input_file = nullptr; // stdin is never closed, but keep the fixture tidy
}

TEST_F(CompileCtx, ValidateCodes) {
    EXPECT_EQ(tirvo_compile_validate(&ctx), 7);
    ctx.input_name = "x";
    EXPECT_EQ(tirvo_compile_validate(&ctx), 8);
    ctx.input_file = stdin;
    EXPECT_EQ(tirvo_compile_validate(&ctx), 9);
    tirvo_compile_set_syntax_check(&ctx);
    EXPECT_EQ(tirvo_compile_validate(&ctx), 0);
    ctx.flags.syntax_check = 0;
    tirvo_compile_set_dfa_file_name(&ctx, "out.fp");
    EXPECT_EQ(tirvo_compile_validate(&ctx), 0);
    ctx.input_file = nullptr;
}

TEST_F(CompileCtx, ZallocGivesZeroedAlignedBlocksOfEverySize) {
    for (std::size_t n : {1u, 7u, 16u, 100u, 16383u, 16385u, 70000u, 1u << 20}) {
        auto *p = static_cast<unsigned char *>(tirvo_compile_zalloc(&ctx, n));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u);
        for (std::size_t i = 0; i < n; ++i)
            ASSERT_EQ(p[i], 0) << "n=" << n << " i=" << i;
        std::memset(p, 0xab, n);
    }
    EXPECT_EQ(ctx.error, 0);
}

int failing_after = 0;
void *limited_malloc(std::size_t n) { return failing_after-- > 0 ? std::malloc(n) : nullptr; }

TEST_F(CompileCtx, ExhaustedPoolSetsErrorTwo) {
    tirvo_pool_release_all(&ctx.pool);
    failing_after = 1;
    tirvo_pool_setup(&ctx.pool, limited_malloc, std::free);
    EXPECT_NE(tirvo_compile_zalloc(&ctx, 100), nullptr);
    EXPECT_EQ(ctx.error, 0);
    EXPECT_EQ(tirvo_compile_zalloc(&ctx, 1 << 20), nullptr);
    EXPECT_EQ(ctx.error, 2);
}

TEST_F(CompileCtx, ReleaseLeavesThePoolUsable) {
    ASSERT_NE(tirvo_compile_zalloc(&ctx, 1000), nullptr);
    tirvo_pool_release_all(&ctx.pool);
    EXPECT_NE(tirvo_compile_zalloc(&ctx, 1000), nullptr);
}

TEST(CompilePoolDeathTest, UseBeforeSetUpAborts) {
    tirvo_pool pool{};
    EXPECT_DEATH(tirvo_pool_alloc(&pool, 8), "tirvo_pool: assertion failed: pool->state == 1");
}

int collect(uint32_t s, void *user) {
    static_cast<std::vector<uint32_t> *>(user)->push_back(s);
    return 0;
}

TEST_F(CompileCtx, SituationsAreKeptOnceInSignedOrder) {
    for (uint32_t s : {5u, 0x80000000u, 3u, 5u, 0xffffffffu, 3u, 0u})
        EXPECT_EQ(tirvo_compile_add_situation(&ctx, s), 0);
    EXPECT_EQ(ctx.num_situations, 5);
    std::vector<uint32_t> seen;
    EXPECT_EQ(tirvo_compile_walk_situations(&ctx, collect, &seen), 0);
    EXPECT_EQ(seen, (std::vector<uint32_t>{0x80000000u, 0xffffffffu, 0u, 3u, 5u}));
}

int stop_at_second(uint32_t, void *user) { return ++*static_cast<int *>(user) == 2 ? 7 : 0; }

TEST_F(CompileCtx, SituationWalkStopsWhenTheCallbackAsks) {
    for (uint32_t s : {1u, 2u, 3u})
        tirvo_compile_add_situation(&ctx, s);
    int calls = 0;
    EXPECT_EQ(tirvo_compile_walk_situations(&ctx, stop_at_second, &calls), 7);
    EXPECT_EQ(calls, 2);
}

TEST_F(CompileCtx, SituationWithoutMemoryFails) {
    tirvo_pool_release_all(&ctx.pool);
    failing_after = 0;
    tirvo_pool_setup(&ctx.pool, limited_malloc, std::free);
    EXPECT_EQ(tirvo_compile_add_situation(&ctx, 9), -1);
    EXPECT_EQ(ctx.num_situations, 0);
    EXPECT_EQ(ctx.error, 2);
}

TEST_F(CompileCtx, ProgressIsPrintedOnlyInVgrModeAndAtMostOncePerSecond) {
    ctx.num_superstates = 42;
    testing::internal::CaptureStdout();
    tirvo_compile_report_progress(&ctx);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    tirvo_compile_set_vgr_output(&ctx);
    testing::internal::CaptureStdout();
    tirvo_compile_report_progress(&ctx);
    ctx.num_superstates = 43;
    // Pretend the previous line was printed in this very second.
    ctx.progress_second = static_cast<int64_t>(std::time(nullptr));
    tirvo_compile_report_progress(&ctx);
    std::string out = testing::internal::GetCapturedStdout();
    // The second call prints only when the clock moved on in between.
    EXPECT_TRUE(out == "42\n" || out == "42\n43\n") << out;

    ctx.progress_second -= 5;
    testing::internal::CaptureStdout();
    tirvo_compile_report_progress(&ctx);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "43\n");
}

} // namespace

namespace {

TEST_F(CompileCtx, LocationTextAndMessagePrefix) {
    tirvo_location loc{3, 7, 4, 12, 40, 55};
    char buf[TIRVO_LOCATION_TEXT_SIZE];
    ctx.input_name = "fp.txt";
    EXPECT_STREQ(tirvo_location_text(&ctx, &loc, buf), "3-4,7-12");
    testing::internal::CaptureStderr();
    tirvo_loc_message(&ctx, &loc, "too large bound\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "fp.txt:3-4,7-12: too large bound\n");

    tirvo_compile_set_vgr_output(&ctx);
    EXPECT_STREQ(tirvo_location_text(&ctx, &loc, buf), "40-55");
    testing::internal::CaptureStderr();
    tirvo_loc_message(&ctx, &loc, "expected integer, got %s\n", "09");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "40-55: expected integer, got 09\n");
}

TEST_F(CompileCtx, LongestLocationTextsFitTheBuffer) {
    tirvo_location loc{-2000000000, -2000000000, -2000000000, -2000000000, -2000000000,
                       -2000000000};
    char buf[TIRVO_LOCATION_TEXT_SIZE];
    EXPECT_EQ(std::strlen(tirvo_location_text(&ctx, &loc, buf)), 47u);
    tirvo_compile_set_vgr_output(&ctx);
    EXPECT_STREQ(tirvo_location_text(&ctx, &loc, buf), "-2000000000--2000000000");
}

} // namespace
