#include "automata/tirvo_bitv.h"

#include "lib/common/tirvo_assert.h"

void tirvo_bitv_set_range(tirvo_bitv *v, uint32_t beg, uint32_t end) {
    // Both ends are unsigned: only the order can be wrong.
    TIRVO_ASSERT_TEXT(beg <= end, "beg >= 0 && end >= 0 && beg <= end");
    const std::size_t first = beg / 64;
    const std::size_t last = end / 64;
    const tirvo_bitv first_mask = ~tirvo_bitv{0} << (beg % 64);
    const tirvo_bitv last_mask = ~tirvo_bitv{0} >> (63 - end % 64);
    if (first == last) {
        v[first] |= first_mask & last_mask;
        return;
    }
    v[first] |= first_mask;
    for (std::size_t w = first + 1; w < last; ++w)
        v[w] = ~tirvo_bitv{0};
    v[last] |= last_mask;
}

void tirvo_bitv_or(tirvo_bitv *dst, const tirvo_bitv *src, uint32_t n) {
    const std::size_t words = tirvo_bitv_words(n);
    for (std::size_t w = 0; w < words; ++w)
        dst[w] |= src[w];
}

void tirvo_bitv_single(const tirvo_bitv *v, uint32_t n, uint32_t *first, int *single) {
    *first = 0;
    *single = 0;
    const uint32_t b = tirvo_bitv_next(v, n, 0);
    if (b == TIRVO_BITV_NONE)
        return;
    *first = b;
    *single = tirvo_bitv_next(v, n, b + 1) == TIRVO_BITV_NONE;
}

int tirvo_bitv_compare(const tirvo_bitv *a, const tirvo_bitv *b, uint32_t n) {
    const std::size_t words = tirvo_bitv_words(n);
    for (std::size_t w = 0; w < words; ++w) {
        const tirvo_bitv diff = a[w] ^ b[w];
        if (diff == 0)
            continue;
        // The lowest differing bit lies in the first differing byte of the
        // little-endian image.
        const int shift = std::countr_zero(diff) / 8 * 8;
        return static_cast<int>((a[w] >> shift) & 0xff) - static_cast<int>((b[w] >> shift) & 0xff);
    }
    return 0;
}
