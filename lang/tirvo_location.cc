#include "lang/tirvo_location.h"

#include "compiler/tirvo_compile_ctx.h"

#include <cstdarg>
#include <cstdio>

const char *tirvo_location_text(const tirvo_compile_ctx *ctx, const tirvo_location *loc,
                                char *buf) {
    if (ctx->flags.vgr_output)
        std::snprintf(buf, 24, "%d-%d", loc->first_offset, loc->last_offset);
    else
        std::snprintf(buf, TIRVO_LOCATION_TEXT_SIZE, "%d-%d,%d-%d", loc->first_line,
                      loc->last_line, loc->first_column, loc->last_column);
    return buf;
}

void tirvo_loc_message(const tirvo_compile_ctx *ctx, const tirvo_location *loc, const char *fmt,
                       ...) {
    if (ctx->flags.vgr_output)
        std::fprintf(stderr, "%d-%d: ", loc->first_offset, loc->last_offset);
    else
        std::fprintf(stderr, "%s:%d-%d,%d-%d: ", ctx->input_name, loc->first_line, loc->last_line,
                     loc->first_column, loc->last_column);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
}
