// The parse tree of a fingerprint's regular expressions, and the grammar's
// actions that build its regular-expression part.
//
// One regex entry stands for each automaton to build: the main regular
// expression (always id 0), every sub-expression "(?>...)" and every
// argument of "regex(...)" and "record_marking(...)". A regex is a list of
// alternative branches; a branch is a list of elements, each either a piece
// (an atom with repetition bounds: a group, or one character set) or a
// variable-expression element that the matcher runs at that point. Every
// record is zero-filled from the compile pool and lives until the compile is
// cleaned up; lists are intrusive dl_lists whose order is the text's order.
//
// What the later stages may rely on: every branch of a regex in the tree has
// at least one element (except that the main regular expression may have no
// branch at all); every piece has max >= 1 and min <= max; every symbol in a
// character set is below the compile's alphabet size. The grammar checks the
// fingerprint for all of this and reports a message instead.
//
// The functions below are the grammar's actions for pieces, character atoms
// and bracket expressions; they print their messages with the message prefix
// of the given location and return a failure that ends the parse. The
// actions for expressions, conditions and the ends of branches are in
// tirvo_varexp.h.
#ifndef TIRVO_LANG_TIRVO_PARSE_TREE_H
#define TIRVO_LANG_TIRVO_PARSE_TREE_H

#include "lang/tirvo_location.h"
#include "lib/dl_list/dl_list.h"

#include <cstdint>

struct tirvo_compile_ctx;
struct tirvo_charset;
struct tirvo_varexp_entry;
struct nfa;
struct superstates;

// `max` of a piece without an upper bound (written Inf).
constexpr uint32_t TIRVO_PIECE_INF = 0xffffffff;
// Bound of a regex or variable-expression entry without a limit on its
// concurrent instances ("*").
constexpr uint32_t TIRVO_BOUND_UNLIMITED = 0xfffffffe;
// Largest number that may be given as such a bound.
constexpr uint32_t TIRVO_MAX_SUBEXP_BOUND = 31;
// Entry id from which the engine no longer limits concurrent instances; the
// parser warns when it hands it out.
constexpr int TIRVO_LIMITED_ENTRIES = 2048;

// A regular expression: alternative branches.
struct tirvo_regex {
    dl_list branches;        // tirvo_branch records, in text order
    tirvo_location location; // the whole expression
};

// One alternative of a regex.
struct tirvo_branch {
    dl_list list;            // membership in tirvo_regex::branches
    dl_list branch_elems;    // tirvo_branch_elem records, in text order
    tirvo_location location; // the branch's elements
};

// What the atom of a piece is.
enum tirvo_atom_type : int {
    tirvo_atom_type_regex = 0, // a group: `atom.regex`
    tirvo_atom_type_chars = 1, // one character set: `atom.charset`
};

// An atom with repetition bounds.
struct tirvo_piece {
    uint32_t min;         // least number of repetitions
    uint32_t max;         // most repetitions; TIRVO_PIECE_INF for no limit
    tirvo_atom_type type; // which member of `atom` is set
    union {
        tirvo_regex *regex;     // tirvo_atom_type_regex: the group's expression
        tirvo_charset *charset; // tirvo_atom_type_chars: the set (may be a shared predefined one)
    } atom;
    tirvo_location location; // the piece, bounds included
};

// What a branch element is.
enum tirvo_branch_elem_type : int {
    tirvo_branch_elem_type_piece = 0,  // `piece`
    tirvo_branch_elem_type_varexp = 1, // `varexp_entry`
};

// One element of a branch.
struct tirvo_branch_elem {
    dl_list list;                // membership in tirvo_branch::branch_elems
    tirvo_branch_elem_type type; // which member of the union is set
    union {
        tirvo_piece piece;                // a piece
        tirvo_varexp_entry *varexp_entry; // a variable expression run at this point
    };
    tirvo_location location; // the element
};

// One automaton to build.
struct tirvo_regex_entry {
    dl_list list;                    // membership in the context's `regex_entries`
    struct nfa *nfa;                 // built by the NFA construction
    tirvo_regex *regex;              // the expression
    struct superstates *superstates; // built by the superstate construction
    int id;                          // position in `regex_entries`, from 0
    uint32_t bound; // concurrent instances: 0-31, TIRVO_BOUND_UNLIMITED; 0 for the main entry
};

// A new regex without branches, located at `loc`; null when the pool is
// exhausted (then the context's `error` is 2).
tirvo_regex *tirvo_regex_new(tirvo_compile_ctx *ctx, const tirvo_location *loc);

// A new branch without elements, located at `loc`; null when the pool is
// exhausted.
tirvo_branch *tirvo_branch_new(tirvo_compile_ctx *ctx, const tirvo_location *loc);

// Appends `elem` to `branch`; a null `elem` (a situation marker or a simple
// modifier, which make no element) adds nothing.
void tirvo_branch_add(tirvo_branch *branch, tirvo_branch_elem *elem);

// A new piece element with bounds {1, 1} whose atom is the group `regex`;
// null when the pool is exhausted.
tirvo_branch_elem *tirvo_piece_new_group(tirvo_compile_ctx *ctx, tirvo_regex *regex);

// A new piece element with bounds {1, 1} whose atom is `set` (borrowed: a set
// of the pool or a predefined set); null when the pool is exhausted.
tirvo_branch_elem *tirvo_piece_new_chars(tirvo_compile_ctx *ctx, tirvo_charset *set);

// A new regex entry for `regex` with `bound`, appended at the end of the
// context's `regex_entries` (its id is given when the parse ends); null when
// the pool is exhausted.
tirvo_regex_entry *tirvo_regex_entry_append(tirvo_compile_ctx *ctx, tirvo_regex *regex,
                                            uint32_t bound);

// The end of the parse: makes the main entry for `regex` (bound 0), puts it at
// the front of `regex_entries`, sets `main_entry` and numbers all entries in
// list order, warning (unless quiet) at the entry that gets the id 2048.
// Returns 0, or -1 when the pool is exhausted.
int tirvo_regex_entries_finish(tirvo_compile_ctx *ctx, tirvo_regex *regex);

// Stores the bounds {`min`, `max`} in the piece element `elem` (whose
// location becomes `loc`). Reports "invalid bounds" when max < min or max is
// 0, and the assertion-bounds message when the atom is a set with an
// assertion symbol and the bounds are other than 0, 1 and Inf. Returns 0, or
// -1 after a message.
int tirvo_piece_set_bounds(tirvo_compile_ctx *ctx, tirvo_branch_elem *elem, uint32_t min,
                           uint32_t max, const tirvo_location *loc);

// Checks a repetition bound given in the text: it must fit in 32 bits and not
// be 0xffffffff (which stands for Inf), else "too large bound" at `loc`.
// Returns 0, or -1 after the message.
int tirvo_check_bound(tirvo_compile_ctx *ctx, uint64_t n, const tirvo_location *loc);

// Checks that symbol `c` (from a character token at `loc`) belongs to the
// compile's alphabet. The four special symbols lie outside the alphabet of a
// low-level DFA: "special symbols are not allowed in low-level DFAs" at
// `loc`. Returns 0, or -1 after the message.
int tirvo_check_symbol(tirvo_compile_ctx *ctx, int c, const tirvo_location *loc);

// 1 when letters are case-insensitive at this point of the text: the
// innermost modifiers have `i` or global case-insensitivity is on.
int tirvo_case_insensitive(const tirvo_compile_ctx *ctx);

// Adds symbol `c` (below the alphabet size) to `set`, and the other case of
// an ASCII letter when letters are case-insensitive.
void tirvo_charset_add_folded(const tirvo_compile_ctx *ctx, tirvo_charset *set, int c);

// A new set for the character atom `c`, folded as tirvo_charset_add_folded
// unless `fold` is 0; null when the pool is exhausted.
tirvo_charset *tirvo_charset_new_char(tirvo_compile_ctx *ctx, int c, int fold);

// A new set for "a\&b": every byte u with (u & mask) == value. Warns (unless
// quiet) when letters are case-insensitive, and reports "Bitmask operator \&
// is only allowed between ordinary characters" at `loc` when either symbol is
// above 255. Null after a message (also "memory allocation error").
tirvo_charset *tirvo_charset_new_bitmask(tirvo_compile_ctx *ctx, int mask, int value,
                                         const tirvo_location *loc);

// A new set for ".": every byte and \m (not in a low-level DFA), without the
// line feed and \m unless the innermost modifiers have `s`. Null when the
// pool is exhausted.
tirvo_charset *tirvo_charset_new_dot(tirvo_compile_ctx *ctx);

// A new set holding the bytes that `set` lacks (never a special symbol).
// With `warn_special`, warns (unless quiet) that assertions do not work in a
// negated bracket when `set` holds a special symbol. Null when the pool is
// exhausted.
tirvo_charset *tirvo_charset_new_negated(tirvo_compile_ctx *ctx, const tirvo_charset *set,
                                         int warn_special, const tirvo_location *loc);

// A new set for the bracket range "a-b" at `loc`, with the other case of its
// letters when letters are case-insensitive. Reports "range end is before
// range begin" when b < a, and the long case-insensitive range message when
// the range mixes letters and other symbols in a way that folding cannot
// cover. Null after a message (also "memory allocation error").
tirvo_charset *tirvo_charset_new_range(tirvo_compile_ctx *ctx, int a, int b,
                                       const tirvo_location *loc);

// Pushes a modifier scope for a group: a copy of the innermost flags with
// `on` set and `off` cleared. Returns 0, or -1 after "memory allocation
// error" at `loc`.
int tirvo_group_open(tirvo_compile_ctx *ctx, uint32_t on, uint32_t off, const tirvo_location *loc);

// Pops the modifier scope of a group. Returns 0, or -1 after "internal error:
// modifier stack underflow" at `loc`.
int tirvo_group_close(tirvo_compile_ctx *ctx, const tirvo_location *loc);

// A situation marker "(?I{n})" (`new_syntax` 1) or "\s{n}" (0): `n`'s low 32
// bits become the current situation and join the situation container. The
// new syntax also resets the modifiers: the innermost scope takes the flags
// of the scope around it, or the default flags at the outermost level. Returns
// 0, or -1 after "could not add situation to container" at `loc`.
int tirvo_situation_mark(tirvo_compile_ctx *ctx, uint64_t n, int new_syntax,
                         const tirvo_location *loc);

#endif
