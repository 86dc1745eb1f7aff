// The parse of a fingerprint: preparing the parser's part of the compile
// context and reporting errors at a place in the text.
//
// Before the parse the parser's state in the context is cleared, the source
// position starts at line 1, column 0, offset 0, the scanner is created on the
// context's input stream and the modifier stack gets its outermost record. The
// set-up is one function so that the pipeline and the tests prepare a parse
// the same way.
//
// The parser itself is generated from tirvo.y; its header (tirvo_parser.hh,
// included by tirvo_scanner.h) declares `int tirvo_parse(tirvo_compile_ctx *)`,
// which parses the whole input into the context and returns 0, or non-zero
// after an error (1) or when its stack would exceed 10000 entries (2), and the
// trace switch `tirvo_debug` (non-zero: trace on the standard error stream).
#ifndef TIRVO_LANG_TIRVO_PARSE_H
#define TIRVO_LANG_TIRVO_PARSE_H

#include "lang/tirvo_location.h"

struct tirvo_compile_ctx;

// Prepares a parse of `ctx->input_file`; the pool must be set up. Clears the
// modifier stack pointer, the source position and the group depth, the
// scanner handle, `saved_mode`, `parse_flags`, `current_situation` and
// `in_subexp`; creates the scanner (owned by the context until
// tirvo_compile_cleanup) in its starting mode, pushes the outermost modifier
// record (flags 0x1a) and makes the scanner read `input_file`. Returns 0, or
// 2 (also stored in `error`) when memory is exhausted: when the scanner cannot
// be created the pool is released as well.
int tirvo_parse_setup(tirvo_compile_ctx *ctx);

// Parses the whole input into the context (after tirvo_parse_setup): turns
// the parser's trace on when `parser_debug` is set, starts case-insensitive
// and quiet as the options say, and runs the parser. A failed parse sets
// `error` to 1 unless a stage already stored its code (memory exhaustion).
// Returns `error`.
int tirvo_parse_run(tirvo_compile_ctx *ctx);

// Reports a parse error: marks `error_reported` in the context's flags and
// prints "<prefix>: <text>\n" to the standard error stream, the prefix made
// from `loc` (see tirvo_loc_message).
void tirvo_parse_error(const tirvo_location *loc, tirvo_compile_ctx *ctx, const char *text);

#endif
