#include "automata/tirvo_nfa_print.h"

#include "automata/tirvo_bitv.h"
#include "automata/tirvo_charset.h"
#include "automata/tirvo_regex_to_nfa.h"
#include "compiler/tirvo_compile_ctx.h"
#include "lib/common/tirvo_assert.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

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

// Writes `set` in display form for a double-quoted label.
void put_set(graph_out *out, const tirvo_charset *set) {
    if (!out->ok)
        return;
    if (tirvo_charset_print(out->f, set, 1, static_cast<uint32_t>(out->ctx->alphabet_size)) != 0)
        write_failed(out);
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
    // The writes may all have gone into the stream's buffer; only the flush
    // reaches the file.
    if (out.ok && (std::fflush(f) != 0 || std::ferror(f)))
        write_failed(&out);
    return out.ok ? 0 : -1;
}
