#include "store/tirvo_load_dump.h"

#include "automata/tirvo_charset.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t NUM_BYTES = 256;

// Writes the display form of `set` inside a double-quoted dot label.
void print_label(FILE *f, const tirvo_charset &set, uint32_t n) {
    tirvo_charset_print(f, &set, 1, n);
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
    tirvo_charset set{};
    for (uint32_t c = 0; c < TIRVO_MAX_ALPHABET_SIZE; ++c)
        if (tirvo_fp_count_contains(count, static_cast<int>(c)))
            tirvo_charset_add(&set, c);
    std::fprintf(f, "  %d -> %d [ label = \"count %u:", s, s, count->count);
    print_label(f, set, n);
    std::fputs("\" ];\n", f);
}

// One edge per distinct target, in the order of the first symbol leading
// there, labelled with all symbols leading there.
void print_edges(FILE *f, const tirvo_fp_dfa *dfa, int32_t s, uint32_t n) {
    uint32_t targets[TIRVO_MAX_ALPHABET_SIZE];
    for (uint32_t c = 0; c < n; ++c)
        targets[c] = c < NUM_BYTES ? tirvo_fp_dfa_target(dfa, s, static_cast<int>(c))
                                   : tirvo_fp_dfa_special_target(dfa, s, static_cast<int>(c));
    bool done[TIRVO_MAX_ALPHABET_SIZE] = {};
    for (uint32_t c = 0; c < n; ++c) {
        if (done[c])
            continue;
        tirvo_charset set{};
        for (uint32_t d = c; d < n; ++d)
            if (!done[d] && targets[d] == targets[c]) {
                done[d] = true;
                tirvo_charset_add(&set, d);
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
    const uint32_t n = fp->low_level_dfa ? NUM_BYTES : TIRVO_MAX_ALPHABET_SIZE;
    std::fputs("digraph DFA {\n  rankdir=LR;\n", f);
    for (int32_t s = 0; s < dfa->num_states; ++s)
        print_node(f, dfa, s);
    for (int32_t s = 0; s < dfa->num_states; ++s)
        print_count(f, dfa, s, n);
    for (int32_t s = 0; s < dfa->num_states; ++s)
        print_edges(f, dfa, s, n);
    std::fputs("}\n", f);
}
