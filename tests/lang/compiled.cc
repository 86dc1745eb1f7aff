#include "tests/lang/compiled.h"

#include "automata/tirvo_charset.h"
#include "lang/tirvo_parse.h"

#include <cstdlib>

#include <gtest/gtest.h>

compiled::compiled(const std::string &text, void (*setup)(tirvo_compile_ctx *)) {
    tirvo_charset_init_predefined();
    tirvo_compile_ctx_init(&ctx);
    tirvo_compile_set_syntax_check(&ctx);
    tirvo_compile_set_input(&ctx, text_as_file(text), "fp");
    if (setup)
        setup(&ctx);
    // Only the front end runs: the grammar's results are inspected as the
    // parser left them, before later stages fill in more.
    testing::internal::CaptureStderr();
    tirvo_pool_setup(&ctx.pool, std::malloc, std::free);
    status = tirvo_parse_setup(&ctx);
    if (status == 0)
        status = tirvo_parse_run(&ctx);
    err = testing::internal::GetCapturedStderr();
}

compiled::~compiled() {
    tirvo_compile_cleanup(&ctx);
}
