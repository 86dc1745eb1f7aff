// Character sets over the 260-symbol input alphabet.
//
// Every symbol test of the fingerprint language is a character set: the
// parser builds them, the NFA construction hangs one on every consuming
// state, the superstate construction cuts the alphabet into classes at the
// sets' boundaries, and the listings and graphs print them in
// regular-expression notation.
//
// The alphabet: symbols 0-255 are the data bytes, 256 (written \m, missing
// data) is a consuming symbol outside the byte range, and 257, 258 and 259
// (\z end of data, \M, \@) are assertion symbols, which the superstate
// construction treats as zero-width. A set is a bit vector (tirvo_bitv.h) of
// TIRVO_MAX_ALPHABET_SIZE = 260 bits in five words, 40 bytes, symbol c being
// bit c; bits 260 and above stay zero. A compile may use only the 256 bytes
// (a low-level DFA), but a set always has room for all 260 symbols; the text
// forms take the alphabet size as their limit.
//
// Sets of the parse tree come zero-filled from the compile pool
// (tirvo_compile_new<tirvo_charset>), temporaries live on the stack, and the
// predefined class sets are built once at program start by
// tirvo_charset_init_predefined. Every operation that takes a single symbol
// checks it against the alphabet: an out-of-range symbol is a fault of the
// caller and stops the program with an assertion naming this module.
//
// Text forms: a symbol is written in escape notation (tirvo_charset_format_symbol);
// a set in bracket form, runs of three or more members as first-last
// (tirvo_charset_format); the display form of the listings and graphs is the
// shorter of the plain and the negated bracket form (tirvo_charset_print).
#ifndef TIRVO_AUTOMATA_TIRVO_CHARSET_H
#define TIRVO_AUTOMATA_TIRVO_CHARSET_H

#include "automata/tirvo_bitv.h"
#include "lib/common/tirvo_assert.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Number of symbols of the full alphabet: bytes 0-255 and 256-259.
constexpr uint32_t TIRVO_MAX_ALPHABET_SIZE = 260;

// Number of words of a character set.
constexpr std::size_t TIRVO_CHARSET_WORDS = (TIRVO_MAX_ALPHABET_SIZE + 63) / 64;

// Buffer size for the text of one symbol, terminator included.
constexpr std::size_t TIRVO_CHARSET_SYMBOL_TEXT_SIZE = 5;

// Buffer size for a bracket form of any limit up to TIRVO_MAX_ALPHABET_SIZE:
// 4 characters per symbol, "[^" and "]", and the terminator.
constexpr std::size_t TIRVO_CHARSET_TEXT_SIZE = 4 * TIRVO_MAX_ALPHABET_SIZE + 3 + 1;

// A set of alphabet symbols.
struct tirvo_charset {
    tirvo_bitv bits[TIRVO_CHARSET_WORDS]; // symbol c is bit c; bits 260-319 are zero
};
static_assert(sizeof(tirvo_charset) == 40);

// Indices of the predefined sets in tirvo_charset_predefined.
enum tirvo_charset_predefined_index : int {
    tirvo_charset_predefined_ascii = 0,      // 0-127
    tirvo_charset_predefined_xdigit = 1,     // 0-9, A-F, a-f
    tirvo_charset_predefined_upper = 2,      // A-Z
    tirvo_charset_predefined_space = 3,      // space, \t, \r, \n, \f (not \v)
    tirvo_charset_predefined_punct = 4,      // 33-47, 58-64, 91-96, 123-126
    tirvo_charset_predefined_print = 5,      // 32-126
    tirvo_charset_predefined_lower = 6,      // a-z
    tirvo_charset_predefined_graph = 7,      // 33-126
    tirvo_charset_predefined_cntrl = 8,      // 0-31, 127
    tirvo_charset_predefined_blank = 9,      // space, \t
    tirvo_charset_predefined_alpha = 10,     // upper and lower
    tirvo_charset_predefined_alnum = 11,     // alpha and digit
    tirvo_charset_predefined_non_digit = 12, // bytes not in digit
    tirvo_charset_predefined_digit = 13,     // 0-9
    tirvo_charset_predefined_non_space = 14, // bytes not in space
    tirvo_charset_predefined_non_word = 15,  // bytes not in word
    tirvo_charset_predefined_word = 16,      // A-Z, a-z, 0-9, _
    tirvo_charset_predefined_count = 17,     // number of predefined sets
};

// The predefined class sets, indexed by tirvo_charset_predefined_index; they
// hold byte symbols only. Empty until tirvo_charset_init_predefined has run.
extern const tirvo_charset *const tirvo_charset_predefined;

// Builds the table of predefined sets. The entry point calls it once before
// reading the options; calling it again rebuilds the same sets.
void tirvo_charset_init_predefined();

// Adds symbol `c` to `set`. `c` >= 260 stops the program with the assertion
// "c >= 0 && c < TIRVO_MAX_ALPHABET_SIZE".
inline void tirvo_charset_add(tirvo_charset *set, uint32_t c) {
    TIRVO_ASSERT_TEXT(c < TIRVO_MAX_ALPHABET_SIZE, "c >= 0 && c < TIRVO_MAX_ALPHABET_SIZE");
    tirvo_bitv_set(set->bits, c);
}

// Removes symbol `c` from `set`; asserts on `c` as tirvo_charset_add.
inline void tirvo_charset_remove(tirvo_charset *set, uint32_t c) {
    TIRVO_ASSERT_TEXT(c < TIRVO_MAX_ALPHABET_SIZE, "c >= 0 && c < TIRVO_MAX_ALPHABET_SIZE");
    tirvo_bitv_clear(set->bits, c);
}

// 1 when `set` holds symbol `c`, else 0; asserts on `c` as tirvo_charset_add.
inline int tirvo_charset_contains(const tirvo_charset *set, uint32_t c) {
    TIRVO_ASSERT_TEXT(c < TIRVO_MAX_ALPHABET_SIZE, "c >= 0 && c < TIRVO_MAX_ALPHABET_SIZE");
    return tirvo_bitv_contains(set->bits, c);
}

// dst |= src.
inline void tirvo_charset_union(tirvo_charset *dst, const tirvo_charset *src) {
    for (std::size_t w = 0; w < TIRVO_CHARSET_WORDS; ++w)
        dst->bits[w] |= src->bits[w];
}

// If `*p` < 260 and `set` has a member at or above `*p`, sets `*p` to the
// lowest such member and returns 1; otherwise leaves `*p` alone and returns 0.
inline int tirvo_charset_next(const tirvo_charset *set, uint32_t *p) {
    const uint32_t next = tirvo_bitv_next(set->bits, TIRVO_MAX_ALPHABET_SIZE, *p);
    if (next == TIRVO_BITV_NONE)
        return 0;
    *p = next;
    return 1;
}

// Adds the symbols `beg` to `end` inclusive. A reversed range or `end` >= 260
// stops the program with the assertion
// "beg >= 0 && beg <= end && end < TIRVO_MAX_ALPHABET_SIZE".
void tirvo_charset_add_range(tirvo_charset *set, uint32_t beg, uint32_t end);

// Adds the byte symbols 0-255.
void tirvo_charset_add_all_bytes(tirvo_charset *set);

// Replaces the byte symbols 0-255 of `dst` with the bytes that `src` lacks;
// the symbols 256-259 of `dst` stay as they were. `dst` may be `src`.
void tirvo_charset_complement_bytes(tirvo_charset *dst, const tirvo_charset *src);

// Compares the 40-byte images of `a` and `b`: 0 when the sets are equal,
// otherwise the difference of the first unequal bytes.
int tirvo_charset_compare(const tirvo_charset *a, const tirvo_charset *b);

// 1 when `set` holds any of the symbols 256-259, else 0.
int tirvo_charset_has_special(const tirvo_charset *set);

// 1 when `set` holds an assertion symbol (257, 258 or 259), else 0.
int tirvo_charset_has_assertion(const tirvo_charset *set);

// 1 when `c` is an assertion symbol (above 256), else 0; asserts on `c` as
// tirvo_charset_add.
int tirvo_charset_is_assertion(uint32_t c);

// `*first` becomes the lowest member of `set` (0 for an empty set), `*single`
// 1 when the set has exactly one member, else 0.
void tirvo_charset_single(const tirvo_charset *set, uint32_t *first, int *single);

// 1 when `a` or `b` is null or the two sets share no symbol, else 0.
int tirvo_charset_disjoint(const tirvo_charset *a, const tirvo_charset *b);

// 1 when every symbol of `b` is in `a`, else 0.
int tirvo_charset_contains_set(const tirvo_charset *a, const tirvo_charset *b);

// Writes into `dst` the symbols at which the membership of `set` changes: 0,
// every i >= 1 with (i in set) != (i - 1 in set), and 257 unless `set` holds
// 256 or 257. A null `set` (a state without a set) gives {257}. `dst` is
// overwritten completely. The union of the boundary sets of the active
// states cuts the alphabet into the classes of a superstate.
void tirvo_charset_boundaries(const tirvo_charset *set, tirvo_charset *dst);

// Writes the text of symbol `c` and a terminator into `buf` (at least
// TIRVO_CHARSET_SYMBOL_TEXT_SIZE bytes) and returns its length. `in_class`
// non-zero gives the text inside a bracket (^, - and ] escaped, 8 as \b).
// `c` >= 260 prints "internal error\n" on the standard error stream and
// aborts.
int tirvo_charset_format_symbol(char *buf, uint32_t c, int in_class);

// Writes the bracket form of `set` ("[...]", "[^...]" when `negated`) listing
// the members below `n` (at most 260, else an assertion stops the program)
// into `buf` (at least TIRVO_CHARSET_TEXT_SIZE bytes) and returns its length.
// A set of exactly one member that is not negated is written as that symbol
// alone, whatever `n`.
int tirvo_charset_format(char *buf, const tirvo_charset *set, int negated, uint32_t n);

// Writes the display form of `set` with limit `n` (at most 260) to `f`: the
// plain bracket form, or the negated form of the byte complement when that is
// shorter, unless `n` > 256 and the set holds a symbol 256-259 (the negated
// form would lose it); on equal length the plain form. With `dot` non-zero
// the text goes inside a double-quoted dot label: every backslash is doubled
// and every double quote escaped. Returns 0, or -1 when the write failed.
int tirvo_charset_print(FILE *f, const tirvo_charset *set, int dot, uint32_t n);

#endif
