// Bit vectors: fixed-size sets of small non-negative integers.
//
// A bit vector of n bits is an array of (n + 63) / 64 unsigned 64-bit words;
// a `tirvo_bitv *` points to its first word. Bit i lives in word i / 64 under
// the mask 1 << (i % 64). The words are little-endian, so bit i is bit i % 8
// of byte i / 8: this byte image is what the superstate construction hashes
// and what tirvo_bitv_compare compares, so it must not depend on the host.
//
// A vector carries no length: every operation that covers more than one bit
// takes the bit count n from the caller, and the owner of a vector always
// passes the same n (the NFA's number of states, or 260 for a character
// set). Bits at n and above in the last word are never set by correct use;
// the whole-word operations (or, compare, single, next) do look at them.
// No operation checks a bit index against n, allocates or frees: vectors are
// zero-filled by their owner, long-lived ones from the compile pool
// (tirvo_bitv_alloc in the compile context), temporaries on the caller's stack.
//
// The operations run in the innermost loops of the superstate construction,
// which makes and compares millions of state sets on large fingerprints.
// Everything that touches single bits, and the iteration, is inline here;
// multi-bit operations work a whole word at a time and iteration skips a zero
// word with one test.
//
// Iteration: take tirvo_bitv_next from 0, visit the bit, continue from the
// visited index plus one until the result is TIRVO_BITV_NONE
// (tirvo_bitv_for_each). Every step reads the vector afresh, so a bit that a
// visit sets above the current position is visited later in the same walk
// and a bit set below it is not; the closure of count states over their
// successors relies on this.
#ifndef TIRVO_AUTOMATA_TIRVO_BITV_H
#define TIRVO_AUTOMATA_TIRVO_BITV_H

#include <bit>
#include <cstddef>
#include <cstdint>

// The byte image of a vector is the in-memory image of its words; this holds
// only on a little-endian host.
static_assert(std::endian::native == std::endian::little,
              "bit vectors need a little-endian host for their byte image");

// One word of a bit vector; a vector is an array of these.
using tirvo_bitv = uint64_t;

// The result of tirvo_bitv_next when no set bit is left.
constexpr uint32_t TIRVO_BITV_NONE = UINT32_MAX;

// Number of words of a vector of `n` bits: (n + 63) / 64.
inline std::size_t tirvo_bitv_words(uint32_t n) {
    return (std::size_t{n} + 63) / 64;
}

// Number of bytes of a vector of `n` bits: its word count times 8.
inline std::size_t tirvo_bitv_bytes(uint32_t n) {
    return tirvo_bitv_words(n) * 8;
}

// 1 if bit `i` of `v` is set, else 0.
inline int tirvo_bitv_contains(const tirvo_bitv *v, uint32_t i) {
    return static_cast<int>((v[i / 64] >> (i % 64)) & 1);
}

// Sets bit `i` of `v`.
inline void tirvo_bitv_set(tirvo_bitv *v, uint32_t i) {
    v[i / 64] |= tirvo_bitv{1} << (i % 64);
}

// Clears bit `i` of `v`.
inline void tirvo_bitv_clear(tirvo_bitv *v, uint32_t i) {
    v[i / 64] &= ~(tirvo_bitv{1} << (i % 64));
}

// The lowest set bit of `v` (a vector of `n` bits) at or above `p`, or
// TIRVO_BITV_NONE when there is none or `p` >= `n`. Reads the vector on every
// call, so a walk sees bits added above its position.
inline uint32_t tirvo_bitv_next(const tirvo_bitv *v, uint32_t n, uint32_t p) {
    if (p >= n)
        return TIRVO_BITV_NONE;
    std::size_t w = p / 64;
    const std::size_t words = tirvo_bitv_words(n);
    tirvo_bitv word = v[w] & (~tirvo_bitv{0} << (p % 64));
    while (word == 0) {
        if (++w == words)
            return TIRVO_BITV_NONE;
        word = v[w];
    }
    return static_cast<uint32_t>(w * 64 + static_cast<std::size_t>(std::countr_zero(word)));
}

// Walks the set bits of `v` (a vector of `n` bits) in ascending order with
// `i` (a uint32_t declared by the loop), reading the vector live.
#define tirvo_bitv_for_each(i, v, n)                                                               \
    for (uint32_t i = tirvo_bitv_next((v), (n), 0); i != TIRVO_BITV_NONE;                          \
         i = tirvo_bitv_next((v), (n), i + 1))

// Sets every bit of `v` from `beg` to `end` inclusive. `beg` > `end` is an
// internal error: the program stops with the assertion
// "beg >= 0 && end >= 0 && beg <= end".
void tirvo_bitv_set_range(tirvo_bitv *v, uint32_t beg, uint32_t end);

// dst |= src, word by word over the (n + 63) / 64 words of `n` bits.
void tirvo_bitv_or(tirvo_bitv *dst, const tirvo_bitv *src, uint32_t n);

// Examines `v` (a vector of `n` bits): `*first` becomes the index of its
// lowest set bit (0 when no bit is set), `*single` 1 when exactly one bit is
// set, else 0.
void tirvo_bitv_single(const tirvo_bitv *v, uint32_t n, uint32_t *first, int *single);

// Compares the byte images of `a` and `b`, vectors of `n` bits (all
// ((n + 63) / 64) * 8 bytes): 0 when equal, otherwise the difference of the
// first unequal bytes taken as unsigned values (a's minus b's).
int tirvo_bitv_compare(const tirvo_bitv *a, const tirvo_bitv *b, uint32_t n);

#endif
