#include "store/tirvo_load_dump.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t NUM_BYTES = 256;
constexpr uint32_t NUM_SYMBOLS = 260;
constexpr uint32_t FIRST_SPECIAL = 256;
constexpr int SET_WORDS = 5;
// Bracket form of any set: 4 characters per symbol, "[^", "]" and the
// terminator.
constexpr size_t TEXT_SIZE = 4 * NUM_SYMBOLS + 4;

// A set of symbols 0-259: symbol c is bit c % 64 of word c / 64.
struct symbol_set {
    uint64_t w[SET_WORDS];
};

bool has(const symbol_set &s, uint32_t c) {
    return (s.w[c >> 6] >> (c & 63)) & 1;
}

void add(symbol_set *s, uint32_t c) {
    s->w[c >> 6] |= uint64_t{1} << (c & 63);
}

int put(char *buf, const char *text) {
    const size_t n = std::strlen(text);
    std::memcpy(buf, text, n + 1);
    return static_cast<int>(n);
}

int put_hex(char *buf, uint32_t c) {
    static constexpr char digits[] = "0123456789abcdef";
    const char text[] = {'\\', 'x', digits[c >> 4], digits[c & 15], '\0'};
    return put(buf, text);
}

// The text of one symbol; `in_class` for the text inside brackets.
int format_symbol(char *buf, uint32_t c, bool in_class) {
    static constexpr const char *special[] = {"\\m", "\\z", "\\M", "\\@"};
    if (c >= FIRST_SPECIAL)
        return put(buf, special[c - FIRST_SPECIAL]);
    const char plain[] = {static_cast<char>(c), '\0'};
    const char escaped[] = {'\\', static_cast<char>(c), '\0'};
    switch (c) {
    case '^':
    case '-':
    case ']':
        return put(buf, in_class ? escaped : plain);
    case '"':
        return put(buf, escaped);
    case 7:
        return put(buf, "\\a");
    case 8:
        return in_class ? put(buf, "\\b") : put_hex(buf, c);
    case 9:
        return put(buf, "\\t");
    case 10:
        return put(buf, "\\n");
    case 12:
        return put(buf, "\\f");
    case 13:
        return put(buf, "\\r");
    case 27:
        return put(buf, "\\e");
    default:
        return c >= 33 && c <= 126 ? put(buf, plain) : put_hex(buf, c);
    }
}

// The bracket form of `s` listing the members below `n`; a single member
// that is not negated stands alone.
int format_set(char *buf, const symbol_set &s, bool negated, uint32_t n) {
    uint32_t members = 0, first = 0;
    for (uint32_t c = NUM_SYMBOLS; c-- > 0;)
        if (has(s, c)) {
            ++members;
            first = c;
        }
    if (members == 1 && !negated)
        return format_symbol(buf, first, false);
    char *p = buf;
    *p++ = '[';
    if (negated)
        *p++ = '^';
    uint32_t i = 0;
    while (i < n) {
        if (!has(s, i)) {
            ++i;
            continue;
        }
        p += format_symbol(p, i, true);
        ++i;
        // Two more members in a row start a run, written first-last.
        if (i + 1 < n && has(s, i) && has(s, i + 1)) {
            *p++ = '-';
            while (i < n - 1 && has(s, i + 1))
                ++i;
            p += format_symbol(p, i, true);
            ++i;
        }
    }
    *p++ = ']';
    *p = '\0';
    return static_cast<int>(p - buf);
}

// Writes the display form of `s` inside a double-quoted dot label: the plain
// bracket form, or the negated form of the byte complement when shorter
// (never for a set with special symbols when they are listed).
void print_label(FILE *f, const symbol_set &s, uint32_t n) {
    char plain[TEXT_SIZE];
    char negated[TEXT_SIZE];
    const int plain_len = format_set(plain, s, false, n);
    const char *text = plain;
    const bool special = s.w[SET_WORDS - 1] != 0;
    if (n <= FIRST_SPECIAL || !special) {
        symbol_set complement{};
        for (uint32_t c = 0; c < NUM_BYTES; ++c)
            if (!has(s, c))
                add(&complement, c);
        if (format_set(negated, complement, true, n) < plain_len)
            text = negated;
    }
    for (const char *p = text; *p; ++p) {
        if (*p == '\\' || *p == '"')
            std::fputc('\\', f);
        std::fputc(*p, f);
    }
}

void print_node(FILE *f, const tirvo_fp_dfa *dfa, int32_t s) {
    const tirvo_fp_state *rec = tirvo_fp_dfa_state(dfa, s);
    const char *shape = s >= dfa->first_active_state ? "box"
                        : s == dfa->initial_state    ? "doublecircle"
                                                     : "circle";
    std::fprintf(f, "  %d[shape=%s%s];", s, shape,
                 rec->flags & tirvo_fp_state_flag_cannot_match ? ", style=dotted" : "");
    if (rec->num_ids > 0) {
        std::fprintf(f, "/* bycp_id_or_sid_cnt: %d id(s):", rec->num_ids);
        const uint32_t *ids = tirvo_fp_dfa_state_ids(dfa, s);
        for (uint16_t i = 0; i < rec->num_ids; ++i) {
            uint32_t id;
            std::memcpy(&id, ids + i, sizeof id);
            std::fprintf(f, " %d", static_cast<int32_t>(id));
        }
        std::fputs(" */", f);
    }
    std::fputc('\n', f);
}

void print_count(FILE *f, const tirvo_fp_dfa *dfa, int32_t s, uint32_t n) {
    const tirvo_fp_count *count = tirvo_fp_dfa_state_count(dfa, s);
    if (!count)
        return;
    symbol_set set{};
    for (uint32_t c = 0; c < NUM_SYMBOLS; ++c)
        if (tirvo_fp_count_contains(count, static_cast<int>(c)))
            add(&set, c);
    std::fprintf(f, "  %d -> %d [ label = \"count %u:", s, s, count->count);
    print_label(f, set, n);
    std::fputs("\" ];\n", f);
}

// One edge per distinct target, in the order of the first symbol leading
// there, labelled with all symbols leading there.
void print_edges(FILE *f, const tirvo_fp_dfa *dfa, int32_t s, uint32_t n) {
    uint32_t targets[NUM_SYMBOLS];
    for (uint32_t c = 0; c < n; ++c)
        targets[c] = c < NUM_BYTES ? tirvo_fp_dfa_target(dfa, s, static_cast<int>(c))
                                   : tirvo_fp_dfa_special_target(dfa, s, static_cast<int>(c));
    bool done[NUM_SYMBOLS] = {};
    for (uint32_t c = 0; c < n; ++c) {
        if (done[c])
            continue;
        symbol_set set{};
        for (uint32_t d = c; d < n; ++d)
            if (!done[d] && targets[d] == targets[c]) {
                done[d] = true;
                add(&set, d);
            }
        std::fprintf(f, "  %u -> %u [ label = \"", static_cast<unsigned>(s),
                     static_cast<unsigned>(targets[c]));
        print_label(f, set, n);
        std::fputs("\" ];\n", f);
    }
}

} // namespace

extern "C" void tirvo_fp_dfa_print_graph(FILE *f, const tirvo_fingerprint *fp,
                                         const tirvo_fp_dfa *dfa) {
    const uint32_t n = fp->low_level_dfa ? NUM_BYTES : NUM_SYMBOLS;
    std::fputs("digraph DFA {\n  rankdir=LR;\n", f);
    for (int32_t s = 0; s < dfa->num_states; ++s)
        print_node(f, dfa, s);
    for (int32_t s = 0; s < dfa->num_states; ++s)
        print_count(f, dfa, s, n);
    for (int32_t s = 0; s < dfa->num_states; ++s)
        print_edges(f, dfa, s, n);
    std::fputs("}\n", f);
}
