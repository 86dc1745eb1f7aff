#include "lang/tirvo_parse.h"

#include "compiler/tirvo_compile_ctx.h"
#include "lang/tirvo_modifier.h"
#include "lang/tirvo_scanner.h"

namespace {

// The parser's part of the context starts cleared; the text starts at line 1,
// column 0, offset 0, with no group open.
void clear_parse_state(tirvo_compile_ctx *ctx) {
    ctx->modifiers = nullptr;
    ctx->scan_position = tirvo_scan_position{};
    ctx->scan_position.first_line = 1;
    ctx->scan_position.line = 1;
    ctx->scanner = nullptr;
    ctx->saved_mode = 0;
    ctx->parse_flags = 0;
    ctx->current_situation = 0;
    ctx->in_subexp = 0;
}

} // namespace

int tirvo_parse_setup(tirvo_compile_ctx *ctx) {
    clear_parse_state(ctx);
    if (tirvo_scanner_create(ctx) != 0) {
        tirvo_pool_release_all(&ctx->pool);
        ctx->error = TIRVO_COMPILE_ERR_MEMORY;
        return ctx->error;
    }
    if (!tirvo_modifier_push(ctx))
        return ctx->error; // the pool has set it to 2
    tirvo_scanner_set_input(ctx, ctx->input_file);
    return 0;
}

int tirvo_parse_run(tirvo_compile_ctx *ctx) {
    tirvo_debug = ctx->flags.parser_debug;
    if (ctx->flags.case_insensitive)
        ctx->parse_flags |= TIRVO_PARSE_GLOBAL_CASE_INSENSITIVE;
    if (ctx->flags.quiet)
        ctx->parse_flags |= TIRVO_PARSE_QUIET;
    if (tirvo_parse(ctx) != 0 && ctx->error == TIRVO_COMPILE_OK)
        ctx->error = TIRVO_COMPILE_ERR_PARSE;
    return ctx->error;
}
