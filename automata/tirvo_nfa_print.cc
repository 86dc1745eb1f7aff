#include "automata/tirvo_nfa_print.h"

#include "automata/tirvo_bitv.h"
#include "automata/tirvo_charset.h"
#include "automata/tirvo_nfa_to_dfa.h"
#include "automata/tirvo_regex_to_nfa.h"
#include "compiler/tirvo_compile_ctx.h"
#include "lang/tirvo_dump.h"
#include "lang/tirvo_varexp.h"
#include "lib/common/tirvo_assert.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// One graph being written: the stream and whether every write so far worked.
struct graph_out {
    tirvo_compile_ctx *ctx; // receives the error code
    FILE *f;                // the graph stream
    bool ok;                // no write has failed yet
};

// Records the first failed write: the message with the current error number,
// then error 5. Later writes are skipped.
void write_failed(graph_out *out) {
    const int err = errno;
    std::fprintf(stderr, "could not write file: %s", std::strerror(err));
    out->ctx->error = TIRVO_COMPILE_ERR_OUTPUT;
    out->ok = false;
}

__attribute__((format(printf, 2, 3))) void put(graph_out *out, const char *fmt, ...) {
    if (!out->ok)
        return;
    va_list ap;
    va_start(ap, fmt);
    const int rc = std::vfprintf(out->f, fmt, ap);
    va_end(ap);
    if (rc < 0)
        write_failed(out);
}

// Writes `set` in display form for a double-quoted label. A failure here
// sets error 5 without the message.
void put_set(graph_out *out, const tirvo_charset *set) {
    if (!out->ok)
        return;
    if (tirvo_charset_print(out->f, set, 1, static_cast<uint32_t>(out->ctx->alphabet_size)) != 0) {
        out->ctx->error = TIRVO_COMPILE_ERR_OUTPUT;
        out->ok = false;
    }
}

// Flushes the graph's stream: the writes may all have gone into its buffer,
// and only the flush reaches the file. Returns 0 or -1.
int finish_graph(graph_out *out) {
    if (out->ok && (std::fflush(out->f) != 0 || std::ferror(out->f)))
        write_failed(out);
    return out->ok ? 0 : -1;
}

const char *shape(const nfa_state *s, bool initial) {
    if (s->varexp_entry)
        return initial ? "box3d" : "box";
    return initial ? "doublecircle" : "circle";
}

void put_arcs(graph_out *out, const nfa_state *s) {
    dl_list_for_each(pos, &s->empty_arcs) {
        put(out, "  %u -> %u;\n", s->id, dl_list_entry(pos, nsl, list)->nfa_state->id);
    }
    const bool count = s->type == tirvo_nfa_state_type_count;
    dl_list_for_each(pos, &s->next_states) {
        put(out, "  %u -> %u [ label = \"", s->id, dl_list_entry(pos, nsl, list)->nfa_state->id);
        if (count)
            put(out, "%s", s->flags.keep_on ? "keep_on" : "count_trans");
        else
            put_set(out, s->arc_label);
        put(out, "\" ];\n");
    }
    if (count) {
        put(out, "  %u -> %u [ label = \"count %u:", s->id, s->id, s->count);
        put_set(out, s->arc_label);
        put(out, "\" ];\n");
    }
}

} // namespace

int tirvo_nfa_write_graph(tirvo_compile_ctx *ctx, FILE *f, const struct nfa *nfa) {
    // The initial states as a set over the ids of the moment, which all lie
    // below `num_states` (the removal keeps the old ids and count).
    tirvo_bitv *initial = nullptr;
    if (nfa->num_states > 0 && !(initial = tirvo_bitv_alloc(ctx, nfa->num_states)))
        return -1;
    dl_list_for_each(pos, &nfa->initial_state) {
        const uint32_t id = dl_list_entry(pos, nsl, list)->nfa_state->id;
        TIRVO_ASSERT(id < nfa->num_states);
        tirvo_bitv_set(initial, id);
    }

    graph_out out{ctx, f, true};
    put(&out, "digraph NFA {\n");
    put(&out, "  rankdir=LR;\n");
    dl_list_for_each(pos, &nfa->nfa_states) {
        const nfa_state *s = dl_list_entry(pos, nfa_state, list);
        TIRVO_ASSERT(s->id < nfa->num_states);
        put(&out, "  %u[ shape = %s ];\n", s->id, shape(s, tirvo_bitv_contains(initial, s->id)));
    }
    dl_list_for_each(pos, &nfa->nfa_states) {
        put_arcs(&out, dl_list_entry(pos, nfa_state, list));
    }
    put(&out, "}\n");
    return finish_graph(&out);
}

namespace {

uint32_t limit(const tirvo_compile_ctx *ctx) { return static_cast<uint32_t>(ctx->alphabet_size); }

void print_set(const tirvo_compile_ctx *ctx, const tirvo_charset *set) {
    tirvo_charset_print(stdout, set, 0, limit(ctx));
}

void print_state(const tirvo_compile_ctx *ctx, const nfa_state *s) {
    char where[TIRVO_LOCATION_TEXT_SIZE];
    std::printf("  id: %d (%s)\n", static_cast<int>(s->id),
                tirvo_location_text(ctx, s->location, where));
    if (s->arc_label) {
        std::printf("    arc: ");
        print_set(ctx, s->arc_label);
        std::printf("\n");
        dl_list_for_each(pos, &s->next_states) {
            std::printf("      next_state: %d\n",
                        static_cast<int>(dl_list_entry(pos, nsl, list)->nfa_state->id));
        }
    }
    if (s->varexp_entry) {
        std::printf("    varexp: ");
        tirvo_dump_varexp(stdout, s->varexp_entry->varexp, 4, ctx);
    }
    std::printf("    eq_class_trans: ");
    print_set(ctx, s->eq_class_trans);
    std::printf("\n");
    if (s->type == tirvo_nfa_state_type_count)
        std::printf("    COUNT: %d (keep_on: %d)\n", static_cast<int>(s->count),
                    s->flags.keep_on ? 1 : 0);
}

void print_masks(const tirvo_compile_ctx *ctx, const struct nfa *nfa) {
    std::printf("NFA transition masks:\n");
    char text[TIRVO_CHARSET_SYMBOL_TEXT_SIZE];
    for (uint32_t i = 0; i < nfa->num_states; ++i) {
        if (tirvo_bitv_contains(nfa->bound_charset_states, i))
            std::printf("  state %u is a bound charset state\n", i);
        for (uint32_t c = 0; c < limit(ctx); ++c) {
            const nfa_trans_mask &m = nfa->trans_masks[c];
            const bool kept = tirvo_bitv_contains(m.kept, i);
            const bool incremented = tirvo_bitv_contains(m.incremented, i);
            const bool looped = tirvo_bitv_contains(m.looped, i);
            if (!kept && !incremented && !looped)
                continue;
            tirvo_charset_format_symbol(text, c, 0);
            if (kept)
                std::printf("  state %u is kept with char %s\n", i, text);
            if (incremented)
                std::printf("  state %u is incremented with char %s\n", i, text);
            if (looped)
                std::printf("  state %u is looped through with char %s\n", i, text);
        }
    }
}

} // namespace

void tirvo_nfa_print(const tirvo_compile_ctx *ctx, const struct nfa *nfa) {
    std::printf("NFA: %d states (initial state:", static_cast<int>(nfa->num_states));
    dl_list_for_each(pos, &nfa->initial_state) {
        std::printf(" %d", static_cast<int>(dl_list_entry(pos, nsl, list)->nfa_state->id));
    }
    std::printf(")\n");
    dl_list_for_each(pos, &nfa->nfa_states) print_state(ctx, dl_list_entry(pos, nfa_state, list));
    print_masks(ctx, nfa);
}

void tirvo_active_print(const struct nfa *nfa, const struct active *rec) {
    tirvo_bitv_for_each(bit, rec->active_states, nfa->num_states) {
        TIRVO_ASSERT_TEXT(nfa->nfa_state_vect[bit]->type == tirvo_nfa_state_type_normal,
                          "nfa->nfa_state_vect[bit]->type == tirvo_nfa_state_type_normal");
        std::printf("  nfa state %u\n", bit);
    }
    for (uint32_t i = 0; i < rec->num_assocs; ++i) {
        const assoc &a = rec->assocs[i];
        TIRVO_ASSERT_TEXT(a.nfa_state->type == tirvo_nfa_state_type_count,
                          "assoc->nfa_state->type == tirvo_nfa_state_type_count");
        std::printf("  nfa state %u counts:", a.nfa_state->id);
        for (uint32_t k = 0; k < a.num_counts; ++k)
            std::printf(" %u", rec->pos - rec->counts[a.first + k].start);
        std::printf("\n");
    }
}

void tirvo_superstates_print(const tirvo_compile_ctx *ctx, const struct superstates *ss) {
    std::printf("NFA superstates:\n");
    dl_list_for_each(pos, &ss->superstate_list) {
        const superstate *s = dl_list_entry(pos, superstate, list);
        std::printf("superstate %u:\n", s->id);
        if (s->cannot_match)
            std::printf("  cannot_match\n");
        if (!s->matching_next_state_exists)
            std::printf("  !matching_next_state_exists\n");
        dl_list_for_each(v, &s->varexps) {
            std::printf("  varexp: ");
            tirvo_dump_varexp(stdout, dl_list_entry(v, superstate_varexp, list)->varexp_entry->varexp,
                              2, ctx);
        }
        if (s->count_charset) {
            std::printf("  COUNT: %u ", s->count);
            print_set(ctx, s->count_charset);
            std::printf("\n");
        }
        dl_list_for_each(a, &s->arcs) {
            const superstate_arc *arc = dl_list_entry(a, superstate_arc, list);
            std::printf("  [%d,%d]: state %u\n", static_cast<int>(arc->first),
                        static_cast<int>(arc->first + arc->len - 1), arc->target->id);
        }
    }
}

namespace {

// One edge per target of `s`: the arcs in order, each not yet written one
// gathering the ranges of all later arcs of `s` to the same target.
void put_edges(graph_out *out, const superstate *s, uint8_t *written) {
    std::size_t n = 0;
    dl_list_for_each(a, &s->arcs) written[n++] = 0;
    std::size_t i = 0;
    dl_list_for_each(a, &s->arcs) {
        if (written[i++])
            continue;
        const superstate *target = dl_list_entry(a, superstate_arc, list)->target;
        tirvo_charset label{};
        std::size_t k = i - 1;
        for (dl_list *b = a; b != &s->arcs; b = b->next, ++k) {
            const superstate_arc *arc = dl_list_entry(b, superstate_arc, list);
            if (written[k] || arc->target != target)
                continue;
            written[k] = 1;
            tirvo_charset_add_range(&label, arc->first, arc->first + arc->len - 1);
        }
        put(out, "  %u -> %u [ label = \"", s->id, target->id);
        put_set(out, &label);
        put(out, "\" ];\n");
    }
}

} // namespace

int tirvo_dfa_write_graph(tirvo_compile_ctx *ctx, FILE *f, const struct superstates *ss) {
    graph_out out{ctx, f, true};
    put(&out, "digraph DFA {\n");
    put(&out, "  rankdir=LR;\n");
    std::size_t most_arcs = 0;
    dl_list_for_each(pos, &ss->superstate_list) {
        const superstate *s = dl_list_entry(pos, superstate, list);
        const char *shape = !dl_list_empty(&s->varexps) ? "box"
                            : s->id == 0                ? "doublecircle"
                                                        : "circle";
        put(&out, "  %u[shape = %s%s];\n", s->id, shape, s->cannot_match ? ", style = dotted" : "");
        const std::size_t arcs = dl_list_len(&s->arcs);
        most_arcs = arcs > most_arcs ? arcs : most_arcs;
    }
    dl_list_for_each(pos, &ss->superstate_list) {
        const superstate *s = dl_list_entry(pos, superstate, list);
        if (!s->count_charset)
            continue;
        put(&out, "  %u -> %u [ label = \"count %u:", s->id, s->id, s->count);
        put_set(&out, s->count_charset);
        put(&out, "\" ];\n");
    }
    std::unique_ptr<uint8_t, decltype(&std::free)> written(
        static_cast<uint8_t *>(std::malloc(most_arcs ? most_arcs : 1)), &std::free);
    if (!written) {
        ctx->error = TIRVO_COMPILE_ERR_MEMORY;
        return -1;
    }
    dl_list_for_each(pos, &ss->superstate_list) {
        if (!out.ok)
            break;
        put_edges(&out, dl_list_entry(pos, superstate, list), written.get());
    }
    put(&out, "}\n");
    return finish_graph(&out);
}
