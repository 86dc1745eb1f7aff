// Source locations of the fingerprint text and the message prefix built from
// them.
//
// Every message about a fingerprint starts with "<name>:<position>: ", where
// the name is the `-f` path or "<cmdline arg>" and the position is
// "first_line-last_line,first_column-last_column". In VGR mode (`-M`) the name
// and the colon are left out and the position is "first_offset-last_offset",
// so that a calling tool can point into the text by byte offsets.
#ifndef TIRVO_LANG_TIRVO_LOCATION_H
#define TIRVO_LANG_TIRVO_LOCATION_H

#include <cstdint>

struct tirvo_compile_ctx;

// A range of the fingerprint text.
struct tirvo_location {
    int32_t first_line;   // line of the first byte (from 1)
    int32_t first_column; // column of the first byte
    int32_t last_line;    // line of the last byte
    int32_t last_column;  // column of the last byte
    int32_t first_offset; // offset of the first byte
    int32_t last_offset;  // offset of the last byte
};

// 1 when the location's first and last lines and columns are all 0.
inline bool tirvo_location_empty(const tirvo_location *loc) {
    return loc->first_line == 0 && loc->first_column == 0 && loc->last_line == 0 &&
           loc->last_column == 0;
}

// Size of a buffer that holds any location text with its terminating zero.
constexpr int TIRVO_LOCATION_TEXT_SIZE = 48;

// Writes the position text of `loc` into `buf` (TIRVO_LOCATION_TEXT_SIZE
// bytes): "first_line-last_line,first_column-last_column", cut to 47
// characters, or in VGR mode "first_offset-last_offset", cut to 23. Returns
// `buf`.
const char *tirvo_location_text(const tirvo_compile_ctx *ctx, const tirvo_location *loc,
                                char *buf);

// Prints the message prefix for `loc` and then `fmt` with its arguments to the
// standard error stream. `fmt` is the part of a message after "%s%s%s: ".
void tirvo_loc_message(const tirvo_compile_ctx *ctx, const tirvo_location *loc, const char *fmt,
                       ...) __attribute__((format(printf, 3, 4)));

#endif
