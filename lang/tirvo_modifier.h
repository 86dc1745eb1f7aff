// The modifier stack: the flags that the in-line modifiers "(?...)" set, one
// record per open group scope.
//
// The innermost record holds the flags in force at the current point of the
// text. Opening a group pushes a copy of the innermost flags, so that changes
// made inside the group ("(?i)", "(?x:...)") are dropped again when the group
// closes and its record is popped. The scanner only reads the innermost
// record's flags (comments, skipped blanks and line ends, extra errors); the
// grammar pushes, changes and pops records. Records come from the compile pool
// and are never freed one by one; a popped record simply stays in the pool.
#ifndef TIRVO_LANG_TIRVO_MODIFIER_H
#define TIRVO_LANG_TIRVO_MODIFIER_H

#include <cstdint>

struct tirvo_compile_ctx;

// Modifier flag bits, one per modifier letter.
constexpr uint32_t TIRVO_MOD_CASE_INSENSITIVE = 0x01; // i: letters match both cases
constexpr uint32_t TIRVO_MOD_DOT_ALL = 0x02;          // s: "." matches line feed and \m
constexpr uint32_t TIRVO_MOD_EXTRA_ERRORS = 0x04;     // X: meaningless escapes are errors
constexpr uint32_t TIRVO_MOD_COMMENTS = 0x08;         // C: "#" starts a comment
constexpr uint32_t TIRVO_MOD_SKIP_LINE_ENDS = 0x10;   // L: line ends in the text are skipped
constexpr uint32_t TIRVO_MOD_SKIP_BLANKS = 0x20;      // S: blanks and tabs are skipped
// x: C, L and S together.
constexpr uint32_t TIRVO_MOD_EXTENDED =
    TIRVO_MOD_COMMENTS | TIRVO_MOD_SKIP_LINE_ENDS | TIRVO_MOD_SKIP_BLANKS;
// The flags of the outermost scope: s, C and L.
constexpr uint32_t TIRVO_MOD_DEFAULT =
    TIRVO_MOD_DOT_ALL | TIRVO_MOD_COMMENTS | TIRVO_MOD_SKIP_LINE_ENDS;

// One scope of the modifier stack.
struct tirvo_modifier {
    uint32_t flags;            // TIRVO_MOD_* bits in force in this scope
    tirvo_modifier *enclosing; // the scope around this one, or null at the outermost level
};

// Opens a scope: a new record from the compile pool with a copy of the
// innermost record's flags (TIRVO_MOD_DEFAULT when the stack is empty), linked
// to the innermost record and made the innermost itself. Returns the record,
// or null when the pool is exhausted (then the context's `error` is 2 and the
// stack is unchanged).
tirvo_modifier *tirvo_modifier_push(tirvo_compile_ctx *ctx);

// Closes the innermost scope: its enclosing record becomes the innermost.
// Returns 0, or -1 (and changes nothing) when the stack is empty or the
// innermost record is the outermost one, which must never be popped.
int tirvo_modifier_pop(tirvo_compile_ctx *ctx);

#endif
