#include "lang/tirvo_modifier.h"

#include "compiler/tirvo_compile_ctx.h"

tirvo_modifier *tirvo_modifier_push(tirvo_compile_ctx *ctx) {
    auto *m = tirvo_compile_new<tirvo_modifier>(ctx);
    if (!m)
        return nullptr;
    m->flags = ctx->modifiers ? ctx->modifiers->flags : TIRVO_MOD_DEFAULT;
    m->enclosing = ctx->modifiers;
    ctx->modifiers = m;
    return m;
}

int tirvo_modifier_pop(tirvo_compile_ctx *ctx) {
    if (!ctx->modifiers || !ctx->modifiers->enclosing)
        return -1;
    ctx->modifiers = ctx->modifiers->enclosing;
    return 0;
}
