// The modifier stack: scopes copy the flags around them and closing a scope
// brings those flags back; the outermost scope is never closed.
#include "compiler/tirvo_compile_ctx.h"
#include "lang/tirvo_modifier.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

struct ModifierStack : testing::Test {
    tirvo_compile_ctx ctx;
    void SetUp() override {
        tirvo_compile_ctx_init(&ctx);
        tirvo_pool_setup(&ctx.pool, std::malloc, std::free);
    }
    void TearDown() override { tirvo_compile_cleanup(&ctx); }
};

TEST_F(ModifierStack, InnerScopeChangesAreDroppedWhenItCloses) {
    tirvo_modifier *outer = tirvo_modifier_push(&ctx);
    ASSERT_NE(outer, nullptr);
    EXPECT_EQ(outer->flags, 0x1au);
    EXPECT_EQ(outer->enclosing, nullptr);
    outer->flags |= TIRVO_MOD_CASE_INSENSITIVE;

    tirvo_modifier *inner = tirvo_modifier_push(&ctx);
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(ctx.modifiers, inner);
    EXPECT_EQ(inner->enclosing, outer);
    EXPECT_EQ(inner->flags, 0x1bu);
    inner->flags &= ~TIRVO_MOD_COMMENTS;

    EXPECT_EQ(tirvo_modifier_pop(&ctx), 0);
    EXPECT_EQ(ctx.modifiers, outer);
    EXPECT_EQ(outer->flags, 0x1bu);
}

TEST_F(ModifierStack, OutermostScopeIsNeverPopped) {
    EXPECT_EQ(tirvo_modifier_pop(&ctx), -1);
    tirvo_modifier *outer = tirvo_modifier_push(&ctx);
    ASSERT_NE(outer, nullptr);
    EXPECT_EQ(tirvo_modifier_pop(&ctx), -1);
    EXPECT_EQ(ctx.modifiers, outer);
}

void *no_memory(std::size_t) {
    return nullptr;
}

TEST_F(ModifierStack, PushWithoutMemoryLeavesTheStackAlone) {
    tirvo_modifier *outer = tirvo_modifier_push(&ctx);
    ASSERT_NE(outer, nullptr);
    tirvo_pool_release_all(&ctx.pool);
    tirvo_pool_setup(&ctx.pool, no_memory, std::free);
    ctx.modifiers = nullptr; // the record went with the pool
    EXPECT_EQ(tirvo_modifier_push(&ctx), nullptr);
    EXPECT_EQ(ctx.modifiers, nullptr);
    EXPECT_EQ(ctx.error, 2);
}

} // namespace
