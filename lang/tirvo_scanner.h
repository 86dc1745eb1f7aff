// The fingerprint scanner: turns the text into the parser's tokens.
//
// The scanner is generated from tirvo.l: a table-driven, re-entrant scanner
// whose extra data is the compile context. It reads its input one byte per
// read request and keeps the source position in the context
// (`scan_position`), so that every token gets a location, and it works in
// thirteen modes, one per sub-language of the fingerprint text (regular
// expression, bound, bracket, character class, the two comment forms,
// modifier list, quoted text, situations, variable expressions and their
// bounds and regex arguments). Of the matching rules of the current mode the
// longest match wins, then the rule listed first. The scanner reads, and
// never changes, the innermost modifier record's flags and the quiet and
// situation-syntax bits of `parse_flags`; it reports unusable bytes, malformed
// numbers and escapes with the message prefix of tirvo_loc_message and
// returns TOK_ERROR for them, so that the parser stops with a syntax error.
#ifndef TIRVO_LANG_TIRVO_SCANNER_H
#define TIRVO_LANG_TIRVO_SCANNER_H

#include "lang/tirvo_location.h"
#include "lang/tirvo_parser.hh"

#include <cstdio>

struct tirvo_compile_ctx;

// Creates the scanner with `ctx` as its extra data, in its starting mode
// (REGEX), and stores it in `ctx->scanner`. Returns 0, or -1 when memory is
// exhausted (then `ctx->scanner` stays null).
int tirvo_scanner_create(tirvo_compile_ctx *ctx);

// Makes the scanner of `ctx` read `input` (borrowed: the context closes it).
void tirvo_scanner_set_input(tirvo_compile_ctx *ctx, FILE *input);

// Destroys the scanner of `ctx`, if there is one, and clears `ctx->scanner`.
// The regex-argument entries and identifier copies stay in the pool.
void tirvo_scanner_destroy(tirvo_compile_ctx *ctx);

// The next token of the text, filling `value` and `location`: a token number
// of the parser's token list or a character, and 0 at the end of the input
// (then `location` is left as it was). `scanner` is `ctx->scanner`. A read
// error of the input stream prints "fread failed" and ends the process with
// status 2, as do the scanner's own fatal errors (buffers exhausted).
int tirvo_lex(TIRVO_STYPE *value, tirvo_location *location, void *scanner);

#endif
