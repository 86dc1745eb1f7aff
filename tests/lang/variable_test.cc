// The variable registry on its own: one record per (name, scope, size), ids
// in order of creation, the tree order of the listing, and the warnings about
// one name used with different sizes or scopes.
#include "byc/tirvo_variable.h"
#include "compiler/tirvo_compile_ctx.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// A context whose pool is set up, as the parser finds it.
struct registry {
    tirvo_compile_ctx ctx;

    explicit registry(bool quiet = false) {
        tirvo_compile_ctx_init(&ctx);
        tirvo_pool_setup(&ctx.pool, std::malloc, std::free);
        ctx.input_name = "fp";
        if (quiet)
            tirvo_compile_set_quiet(&ctx);
    }
    ~registry() { tirvo_compile_cleanup(&ctx); }
    registry(const registry &) = delete;
    registry &operator=(const registry &) = delete;

    tirvo_variable *add(const char *name, int shared, int size, int at) {
        tirvo_location loc{1, at, 1, at + 1, at, at + 1};
        return tirvo_variable_register(&ctx, name, shared, size, &loc);
    }

    std::string listing() {
        char *data = nullptr;
        std::size_t size = 0;
        FILE *f = open_memstream(&data, &size);
        tirvo_variables_print(f, &ctx.variables);
        std::fclose(f);
        std::string s(data, size);
        std::free(data);
        return s;
    }
};

TEST(VariableRegistry, KeepsOneRecordPerNameScopeAndSize) {
    registry r;
    testing::internal::CaptureStderr();
    tirvo_variable *x = r.add("x", 0, 1, 0);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(r.add("x", 0, 1, 5), x);
    EXPECT_EQ(x->id, 0);
    EXPECT_EQ(x->location.first_column, 0); // the first occurrence stays
    tirvo_variable *x8 = r.add("x", 0, 8, 10);
    tirvo_variable *sx = r.add("x", 1, 1, 20);
    EXPECT_EQ(x8->id, 1);
    EXPECT_EQ(sx->id, 2);
    EXPECT_EQ(r.ctx.num_variables, 3);
    const std::string block =
        "warning: variable name \"x\" used with different size and/or scope\n";
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              block + "fp:1-1,0-1: first occurence\nfp:1-1,10-11: the other occurence\n" + block +
                  "fp:1-1,0-1: first occurence\nfp:1-1,20-21: the other occurence\n" + block +
                  "fp:1-1,10-11: first occurence\nfp:1-1,20-21: the other occurence\n");
}

TEST(VariableRegistry, ListsLocalsFirstThenByBytesOfTheNameThenBySize) {
    registry r(true);
    testing::internal::CaptureStderr();
    const char *names[] = {"b", "a", "B", "a", "ab", "a", "\xe9", "_"};
    const int shared[] = {1, 0, 0, 0, 0, 1, 0, 0};
    const int sizes[] = {32, 64, 8, 8, 1, 16, 1, 1};
    for (int i = 0; i < 8; ++i)
        ASSERT_NE(r.add(names[i], shared[i], sizes[i], i), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), ""); // quiet
    EXPECT_EQ(r.listing(), "Variables:\n"
                           "  B@8 (id 2)\n"
                           "  _@1 (id 7)\n"
                           "  a@8 (id 3)\n"
                           "  a@64 (id 1)\n"
                           "  ab@1 (id 4)\n"
                           "  \xe9@1 (id 6)\n"
                           "  $a@16 (id 5)\n"
                           "  $b@32 (id 0)\n");
}

TEST(VariableRegistry, ComparatorLooksAtTheFieldsAfterTheNodeHeader) {
    tirvo_variable a{}, b{};
    a.name = b.name = "v";
    a.size = b.size = 16;
    a.id = 1; // neither the id nor the location takes part
    b.location.first_line = 9;
    EXPECT_EQ(tirvo_variable_compare(qle_avl_payload(&a.node), qle_avl_payload(&b.node)), 0);
    b.is_shared = 1;
    EXPECT_LT(tirvo_variable_compare(qle_avl_payload(&a.node), qle_avl_payload(&b.node)), 0);
    b.is_shared = 0;
    b.size = 8;
    EXPECT_GT(tirvo_variable_compare(qle_avl_payload(&a.node), qle_avl_payload(&b.node)), 0);
}

} // namespace
