#include "automata/tirvo_charset.h"

#include <cstdlib>
#include <cstring>

namespace {

// The first symbol beyond the bytes (\m) and the first assertion symbol (\z).
constexpr uint32_t MISSING_SYMBOL = 256;
constexpr uint32_t END_SYMBOL = 257;

// Word 4 holds the symbols 256-259 in its bits 0-3.
constexpr std::size_t SPECIAL_WORD = 4;
constexpr tirvo_bitv ASSERTION_MASK = 0xe; // 257, 258, 259

tirvo_charset predefined_sets[tirvo_charset_predefined_count];

// Writes `text` and a terminator at `buf`; returns the length of `text`.
int put_text(char *buf, const char *text) {
    const std::size_t len = std::strlen(text);
    std::memcpy(buf, text, len + 1);
    return static_cast<int>(len);
}

// Writes "\x" and two lower-case hex digits of `c` at `buf`.
int put_hex(char *buf, uint32_t c) {
    static constexpr char digits[] = "0123456789abcdef";
    buf[0] = '\\';
    buf[1] = 'x';
    buf[2] = digits[(c >> 4) & 0xf];
    buf[3] = digits[c & 0xf];
    buf[4] = '\0';
    return 4;
}

// Writes a backslash and `ch` at `buf`.
int put_escape(char *buf, char ch) {
    buf[0] = '\\';
    buf[1] = ch;
    buf[2] = '\0';
    return 2;
}

// Writes the character `ch` alone at `buf`.
int put_char(char *buf, char ch) {
    buf[0] = ch;
    buf[1] = '\0';
    return 1;
}

// Adds every symbol of the zero-terminated list `symbols` to `set`.
void add_each(tirvo_charset *set, const char *symbols) {
    for (const char *p = symbols; *p; ++p)
        tirvo_charset_add(set, static_cast<unsigned char>(*p));
}

} // namespace

extern const tirvo_charset *const tirvo_charset_predefined = predefined_sets;

void tirvo_charset_init_predefined() {
    std::memset(predefined_sets, 0, sizeof predefined_sets);
    tirvo_charset *t = predefined_sets;

    tirvo_charset &digit = t[tirvo_charset_predefined_digit];
    tirvo_charset_add_range(&digit, '0', '9');

    tirvo_charset_add_range(&t[tirvo_charset_predefined_ascii], 0, 127);

    tirvo_charset &xdigit = t[tirvo_charset_predefined_xdigit];
    tirvo_charset_union(&xdigit, &digit);
    tirvo_charset_add_range(&xdigit, 'a', 'f');
    tirvo_charset_add_range(&xdigit, 'A', 'F');

    tirvo_charset &upper = t[tirvo_charset_predefined_upper];
    tirvo_charset_add_range(&upper, 'A', 'Z');

    tirvo_charset &space = t[tirvo_charset_predefined_space];
    add_each(&space, " \t\r\n\f");

    tirvo_charset &punct = t[tirvo_charset_predefined_punct];
    tirvo_charset_add_range(&punct, 33, 47);
    tirvo_charset_add_range(&punct, 58, 64);
    tirvo_charset_add_range(&punct, 91, 96);
    tirvo_charset_add_range(&punct, 123, 126);

    tirvo_charset_add_range(&t[tirvo_charset_predefined_print], 32, 126);

    tirvo_charset &lower = t[tirvo_charset_predefined_lower];
    tirvo_charset_add_range(&lower, 'a', 'z');

    tirvo_charset_add_range(&t[tirvo_charset_predefined_graph], 33, 126);

    tirvo_charset &cntrl = t[tirvo_charset_predefined_cntrl];
    tirvo_charset_add_range(&cntrl, 0, 31);
    tirvo_charset_add(&cntrl, 127);

    add_each(&t[tirvo_charset_predefined_blank], " \t");

    tirvo_charset &alpha = t[tirvo_charset_predefined_alpha];
    tirvo_charset_union(&alpha, &upper);
    tirvo_charset_union(&alpha, &lower);

    tirvo_charset &alnum = t[tirvo_charset_predefined_alnum];
    tirvo_charset_union(&alnum, &alpha);
    tirvo_charset_union(&alnum, &digit);

    tirvo_charset &word = t[tirvo_charset_predefined_word];
    tirvo_charset_union(&word, &alnum);
    tirvo_charset_add(&word, '_');

    tirvo_charset_complement_bytes(&t[tirvo_charset_predefined_non_digit], &digit);
    tirvo_charset_complement_bytes(&t[tirvo_charset_predefined_non_space], &space);
    tirvo_charset_complement_bytes(&t[tirvo_charset_predefined_non_word], &word);
}

void tirvo_charset_add_range(tirvo_charset *set, uint32_t beg, uint32_t end) {
    TIRVO_ASSERT_TEXT(beg <= end && end < TIRVO_MAX_ALPHABET_SIZE,
                      "beg >= 0 && beg <= end && end < TIRVO_MAX_ALPHABET_SIZE");
    tirvo_bitv_set_range(set->bits, beg, end);
}

void tirvo_charset_add_all_bytes(tirvo_charset *set) {
    for (std::size_t w = 0; w < SPECIAL_WORD; ++w)
        set->bits[w] = ~tirvo_bitv{0};
}

void tirvo_charset_complement_bytes(tirvo_charset *dst, const tirvo_charset *src) {
    for (std::size_t w = 0; w < SPECIAL_WORD; ++w)
        dst->bits[w] = ~src->bits[w];
}

int tirvo_charset_compare(const tirvo_charset *a, const tirvo_charset *b) {
    return tirvo_bitv_compare(a->bits, b->bits, TIRVO_MAX_ALPHABET_SIZE);
}

int tirvo_charset_has_special(const tirvo_charset *set) {
    return set->bits[SPECIAL_WORD] != 0;
}

int tirvo_charset_has_assertion(const tirvo_charset *set) {
    return (set->bits[SPECIAL_WORD] & ASSERTION_MASK) != 0;
}

int tirvo_charset_is_assertion(uint32_t c) {
    TIRVO_ASSERT_TEXT(c < TIRVO_MAX_ALPHABET_SIZE, "c >= 0 && c < TIRVO_MAX_ALPHABET_SIZE");
    return c > MISSING_SYMBOL;
}

void tirvo_charset_single(const tirvo_charset *set, uint32_t *first, int *single) {
    tirvo_bitv_single(set->bits, TIRVO_MAX_ALPHABET_SIZE, first, single);
}

int tirvo_charset_disjoint(const tirvo_charset *a, const tirvo_charset *b) {
    if (!a || !b)
        return 1;
    for (std::size_t w = 0; w < TIRVO_CHARSET_WORDS; ++w)
        if (a->bits[w] & b->bits[w])
            return 0;
    return 1;
}

int tirvo_charset_contains_set(const tirvo_charset *a, const tirvo_charset *b) {
    for (std::size_t w = 0; w < TIRVO_CHARSET_WORDS; ++w)
        if (b->bits[w] & ~a->bits[w])
            return 0;
    return 1;
}

void tirvo_charset_boundaries(const tirvo_charset *set, tirvo_charset *dst) {
    std::memset(dst, 0, sizeof *dst);
    if (!set) {
        tirvo_bitv_set(dst->bits, END_SYMBOL);
        return;
    }
    // Bit i of (word << 1 | carry) is membership of i - 1; symbol 0 counts as
    // a change by taking "-1" to be the opposite of symbol 0.
    tirvo_bitv carry = ~set->bits[0] & 1;
    for (std::size_t w = 0; w < TIRVO_CHARSET_WORDS; ++w) {
        const tirvo_bitv word = set->bits[w];
        dst->bits[w] = word ^ ((word << 1) | carry);
        carry = word >> 63;
    }
    // 259 in the set makes bit 260 a change; it is no symbol.
    tirvo_bitv_clear(dst->bits, TIRVO_MAX_ALPHABET_SIZE);
    if (!tirvo_bitv_contains(set->bits, MISSING_SYMBOL) &&
        !tirvo_bitv_contains(set->bits, END_SYMBOL))
        tirvo_bitv_set(dst->bits, END_SYMBOL);
}

int tirvo_charset_format_symbol(char *buf, uint32_t c, int in_class) {
    static constexpr const char *special[] = {"\\m", "\\z", "\\M", "\\@"};
    if (c >= TIRVO_MAX_ALPHABET_SIZE) {
        std::fputs("internal error\n", stderr);
        std::abort();
    }
    if (c >= MISSING_SYMBOL)
        return put_text(buf, special[c - MISSING_SYMBOL]);
    switch (c) {
    case '^':
    case '-':
    case ']':
        return in_class ? put_escape(buf, static_cast<char>(c))
                        : put_char(buf, static_cast<char>(c));
    case '"':
        return put_escape(buf, '"');
    case 7:
        return put_escape(buf, 'a');
    case 8:
        return in_class ? put_escape(buf, 'b') : put_hex(buf, c);
    case 9:
        return put_escape(buf, 't');
    case 10:
        return put_escape(buf, 'n');
    case 12:
        return put_escape(buf, 'f');
    case 13:
        return put_escape(buf, 'r');
    case 27:
        return put_escape(buf, 'e');
    default:
        break;
    }
    if (c >= 33 && c <= 126)
        return put_char(buf, static_cast<char>(c));
    return put_hex(buf, c);
}

int tirvo_charset_format(char *buf, const tirvo_charset *set, int negated, uint32_t n) {
    TIRVO_ASSERT(n <= TIRVO_MAX_ALPHABET_SIZE);
    uint32_t first;
    int single;
    tirvo_charset_single(set, &first, &single);
    if (single && !negated)
        return tirvo_charset_format_symbol(buf, first, 0);

    const tirvo_bitv *bits = set->bits;
    char *p = buf;
    *p++ = '[';
    if (negated)
        *p++ = '^';
    uint32_t i = 0;
    while (i < n) {
        if (!tirvo_bitv_contains(bits, i)) {
            ++i;
            continue;
        }
        p += tirvo_charset_format_symbol(p, i, 1);
        ++i;
        // Two more members in a row: a run of three or more, written first-last.
        if (i + 1 < n && tirvo_bitv_contains(bits, i) && tirvo_bitv_contains(bits, i + 1)) {
            *p++ = '-';
            while (i < n - 1 && tirvo_bitv_contains(bits, i + 1))
                ++i;
            p += tirvo_charset_format_symbol(p, i, 1);
            ++i;
        }
    }
    *p++ = ']';
    *p = '\0';
    return static_cast<int>(p - buf);
}

int tirvo_charset_print(FILE *f, const tirvo_charset *set, int dot, uint32_t n) {
    char plain[TIRVO_CHARSET_TEXT_SIZE];
    char negated[TIRVO_CHARSET_TEXT_SIZE];
    const int plain_len = tirvo_charset_format(plain, set, 0, n);
    const char *text = plain;
    if (n <= MISSING_SYMBOL || !tirvo_charset_has_special(set)) {
        tirvo_charset complement{};
        tirvo_charset_complement_bytes(&complement, set);
        if (tirvo_charset_format(negated, &complement, 1, n) < plain_len)
            text = negated;
    }
    if (!dot)
        return std::fprintf(f, "%s", text) < 0 ? -1 : 0;

    // Inside a double-quoted dot label a backslash stands for itself only
    // when doubled, and a double quote would end the label.
    char label[2 * TIRVO_CHARSET_TEXT_SIZE];
    char *p = label;
    for (const char *s = text; *s; ++s) {
        if (*s == '\\' || *s == '"')
            *p++ = '\\';
        *p++ = *s;
    }
    *p = '\0';
    return std::fprintf(f, "%s", label) < 0 ? -1 : 0;
}
