#include "automata/tirvo_regex_to_nfa.h"

#include "automata/tirvo_nfa_print.h"
#include "compiler/tirvo_compile_ctx.h"
#include "lang/tirvo_parse_tree.h"
#include "lang/tirvo_varexp.h"
#include "lib/common/tirvo_assert.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace {

// The module name that internal error messages carry.
constexpr const char MODULE_NAME[] = "tirvo_regex_to_nfa";

// Prints "internal error: <module>: <line>" at `loc` and aborts.
[[noreturn]] void internal_error(const tirvo_compile_ctx *ctx, const tirvo_location *loc,
                                 int line) {
    tirvo_loc_message(ctx, loc, "internal error: %s: %d\n", MODULE_NAME, line);
    std::fflush(stderr);
    std::abort();
}

// Ends the stage because the NFA would get more than TIRVO_NFA_MAX_STATES
// states: the message at `loc`, then error 2.
void too_many_states(tirvo_compile_ctx *ctx, const tirvo_location *loc) {
    tirvo_loc_message(ctx, loc, "NFA too large: more than %" PRIu32 " states\n",
                      TIRVO_NFA_MAX_STATES);
    ctx->error = TIRVO_COMPILE_ERR_MEMORY;
}

nfa_state *listed_state(dl_list *link) {
    return dl_list_entry(link, nsl, list)->nfa_state;
}

// Whether `list` (of nsl elements) holds `s`.
bool list_holds(const dl_list *list, const nfa_state *s) {
    dl_list_for_each(pos, list) {
        if (listed_state(pos) == s)
            return true;
    }
    return false;
}

// A new list element for `s`, not linked yet; null on memory failure.
nsl *nsl_new(tirvo_compile_ctx *ctx, nfa_state *s) {
    nsl *e = tirvo_compile_new<nsl>(ctx);
    if (e)
        e->nfa_state = s;
    return e;
}

// Appends `s` to `list` unless it is there; sets `error` 2 on memory failure.
void list_add(tirvo_compile_ctx *ctx, dl_list *list, nfa_state *s) {
    if (list_holds(list, s))
        return;
    if (nsl *e = nsl_new(ctx, s))
        dl_list_append(list, &e->list);
}

// A new count state with `count` located at `loc`; null on failure.
nfa_state *count_state_new(tirvo_compile_ctx *ctx, const tirvo_location *loc, uint32_t count,
                           bool keep_on) {
    nfa_state *s = tirvo_nfa_state_new(ctx, loc);
    if (!s)
        return nullptr;
    s->type = tirvo_nfa_state_type_count;
    s->count = count;
    s->flags.keep_on = keep_on ? 1 : 0;
    return s;
}

// Whether `piece` is built with count states rather than copies of its atom:
// a character set repeated at least twice or up to a finite bound of at
// least two, unless the count extension is switched off.
bool uses_count_states(const tirvo_compile_ctx *ctx, const tirvo_piece *piece) {
    if (ctx->flags.no_count_extension || ctx->flags.no_main_count_extension)
        return false;
    if (piece->type != tirvo_atom_type_chars)
        return false;
    const bool small = piece->min <= 1 && (piece->max == 1 || piece->max == TIRVO_PIECE_INF);
    return !small;
}

// The count-state form of a repeated character set L:
//   m = M:          A (count m) -L-> Z
//   M = Inf:        A (count m) -L-> Z, Z -L-> Z
//   0 < m < M:      A (count m) -L-> s_m (count M - m, keep_on) -L-> Z
//   m = 0:          s_m (count M, keep_on) -L-> Z
// created in the order A, s_m, Z; the piece runs from A (or s_m) to Z.
void count_fragment(tirvo_compile_ctx *ctx, const tirvo_piece *piece, nfa_state **piece_beg,
                    nfa_state **piece_end) {
    TIRVO_ASSERT_TEXT(piece->type == tirvo_atom_type_chars, "piece->type == tirvo_atom_type_chars");
    const uint32_t m = piece->min;
    const uint32_t max = piece->max;
    const tirvo_location *loc = &piece->location;
    tirvo_charset *set = piece->atom.charset;

    nfa_state *a = nullptr;
    if (m > 0 && !(a = count_state_new(ctx, loc, m, false)))
        return;
    nfa_state *s_m = nullptr;
    if (max != TIRVO_PIECE_INF && max > m && !(s_m = count_state_new(ctx, loc, max - m, true)))
        return;
    nfa_state *z = tirvo_nfa_state_new(ctx, loc);
    if (!z)
        return;

    if (a) {
        tirvo_nfa_add_arc(ctx, a, s_m ? s_m : z, set);
        *piece_beg = a;
    } else {
        TIRVO_ASSERT_TEXT(s_m, "s_m");
        *piece_beg = s_m;
    }
    if (s_m && !ctx->error)
        tirvo_nfa_add_arc(ctx, s_m, z, set);
    if (max == TIRVO_PIECE_INF && !ctx->error)
        tirvo_nfa_add_arc(ctx, z, z, set);
    *piece_end = z;
}

// Builds the next copy of the atom of `piece` and chains it after
// `*prev_atom_end` (the end of the copy before, or null for the first copy,
// whose begin becomes the piece's begin). Returns the copy's begin, or null
// on failure.
nfa_state *chain_copy(tirvo_compile_ctx *ctx, const tirvo_piece *piece, uint32_t i,
                      nfa_state **prev_atom_end, nfa_state **piece_beg) {
    nfa_state *beg = nullptr;
    nfa_state *end = nullptr;
    tirvo_nfa_atom_fragment(ctx, piece, &beg, &end);
    if (ctx->error)
        return nullptr;
    if (*prev_atom_end == nullptr) {
        TIRVO_ASSERT_TEXT(i == 0, "i == 0");
        *piece_beg = beg;
    } else {
        TIRVO_ASSERT_TEXT(i > 0, "i > 0");
        tirvo_nfa_add_empty_arc(ctx, *prev_atom_end, beg);
        if (ctx->error)
            return nullptr;
    }
    *prev_atom_end = end;
    return beg;
}

// The expanded form of a piece {m, M}: m mandatory copies of the atom, then
// either one looping copy (M = Inf) or M - m optional copies, each of which
// may be skipped by an empty arc from its begin to the end of the last copy.
void expand_fragment(tirvo_compile_ctx *ctx, const tirvo_piece *piece, nfa_state **piece_beg,
                     nfa_state **piece_end) {
    const uint32_t m = piece->min;
    const uint32_t max = piece->max;
    // Every copy makes at least two states; refuse before building when the
    // copies alone would pass the limit.
    const uint64_t copies = max == TIRVO_PIECE_INF ? uint64_t{m} + 1 : uint64_t{max};
    if (copies > TIRVO_NFA_MAX_STATES / 2) {
        too_many_states(ctx, &piece->location);
        return;
    }

    nfa_state *prev_atom_end = nullptr;
    for (uint32_t i = 0; i < m; ++i)
        if (!chain_copy(ctx, piece, i, &prev_atom_end, piece_beg))
            return;

    if (max == TIRVO_PIECE_INF) {
        nfa_state *beg = nullptr;
        nfa_state *end = nullptr;
        tirvo_nfa_atom_fragment(ctx, piece, &beg, &end);
        if (ctx->error)
            return;
        tirvo_nfa_add_empty_arc(ctx, end, beg);
        if (prev_atom_end && !ctx->error)
            tirvo_nfa_add_empty_arc(ctx, prev_atom_end, beg);
        *piece_end = beg;
        if (m == 0)
            *piece_beg = beg;
    } else if (max > m) {
        auto **optional =
            static_cast<nfa_state **>(tirvo_compile_zalloc(ctx, sizeof(nfa_state *) * (max - m)));
        if (!optional)
            return;
        for (uint32_t i = m; i < max; ++i)
            if (!(optional[i - m] = chain_copy(ctx, piece, i, &prev_atom_end, piece_beg)))
                return;
        TIRVO_ASSERT_TEXT(prev_atom_end != nullptr, "prev_atom_end != NULL");
        for (uint32_t k = 0; k < max - m && !ctx->error; ++k)
            tirvo_nfa_add_empty_arc(ctx, optional[k], prev_atom_end);
        *piece_end = prev_atom_end;
    } else {
        *piece_end = prev_atom_end;
    }
}

// Marks every state without targets and without a variable expression as
// removable and clears the mark on all others.
void mark_removable(struct nfa *nfa) {
    dl_list_for_each(pos, &nfa->nfa_states) {
        nfa_state *s = dl_list_entry(pos, nfa_state, list);
        TIRVO_ASSERT_TEXT(!s->flags.touched, "!nfa_state->flags.touched");
        s->flags.removable = dl_list_empty(&s->next_states) && s->varexp_entry == nullptr ? 1 : 0;
    }
}

// Adds `added` closure arcs to the running total `*arcs` of the entry and
// ends the stage with error 2 when the total passes TIRVO_NFA_MAX_ARCS.
bool count_arcs(tirvo_compile_ctx *ctx, const tirvo_regex *regex, uint64_t *arcs, uint64_t added) {
    *arcs += added;
    if (*arcs <= TIRVO_NFA_MAX_ARCS)
        return true;
    tirvo_loc_message(ctx, &regex->location, "NFA too large: more than %" PRIu64 " arcs\n",
                      TIRVO_NFA_MAX_ARCS);
    ctx->error = TIRVO_COMPILE_ERR_MEMORY;
    return false;
}

// Closes the initial states and every state's targets over empty arcs. Each
// state's targets from before this step are closed in list order; the
// closure only inserts at the front, so walking on from the first original
// element visits exactly the original ones.
void close_nfa(tirvo_compile_ctx *ctx, const tirvo_regex *regex, struct nfa *nfa) {
    TIRVO_ASSERT_TEXT(dl_list_len(&nfa->initial_state) == 1,
                      "dl_list_len(&nfa->initial_state) == 1");
    uint64_t arcs = 0;
    nfa_state *initial = listed_state(nfa->initial_state.next);
    if (!count_arcs(ctx, regex, &arcs, tirvo_nfa_closure(ctx, &nfa->initial_state, initial)) ||
        ctx->error)
        return;
    dl_list_for_each(pos, &nfa->nfa_states) {
        nfa_state *s = dl_list_entry(pos, nfa_state, list);
        dl_list *original = s->next_states.next;
        for (dl_list *e = original; e != &s->next_states; e = e->next)
            if (!count_arcs(ctx, regex, &arcs,
                            tirvo_nfa_closure(ctx, &s->next_states, listed_state(e))) ||
                ctx->error)
                return;
    }
}

// Unlinks every element of `list` whose state is removable.
void drop_removable(dl_list *list) {
    dl_list_for_each_safe(pos, list) {
        if (listed_state(pos)->flags.removable)
            dl_list_remove(pos);
    }
}

// Removes the removable states from every target list, from the initial
// states and from the NFA, and forgets every empty arc.
void remove_removable(struct nfa *nfa) {
    dl_list_for_each(pos, &nfa->nfa_states) {
        nfa_state *s = dl_list_entry(pos, nfa_state, list);
        drop_removable(&s->next_states);
        dl_list_init(&s->empty_arcs);
    }
    drop_removable(&nfa->initial_state);
    dl_list_for_each_safe(pos, &nfa->nfa_states) {
        if (dl_list_entry(pos, nfa_state, list)->flags.removable)
            dl_list_remove(pos);
    }
}

// Writes one NFA graph to `f` when that stream was requested; false when the
// write failed (then `error` is set).
bool write_graph(tirvo_compile_ctx *ctx, FILE *f, struct nfa *nfa) {
    return f == nullptr || tirvo_nfa_write_graph(ctx, f, nfa) == 0;
}

// Fills `nfa_state_vect` from `nfa_states`.
void fill_state_vect(tirvo_compile_ctx *ctx, struct nfa *nfa) {
    if (nfa->num_states == 0)
        return;
    nfa->nfa_state_vect =
        static_cast<nfa_state **>(tirvo_compile_zalloc(ctx, sizeof(nfa_state *) * nfa->num_states));
    if (!nfa->nfa_state_vect)
        return;
    dl_list_for_each(pos, &nfa->nfa_states) {
        nfa_state *s = dl_list_entry(pos, nfa_state, list);
        nfa->nfa_state_vect[s->id] = s;
    }
}

// Builds the NFA of one regex entry; failures are left in `error`.
void build_entry(tirvo_compile_ctx *ctx, tirvo_regex_entry *entry) {
    auto *nfa = tirvo_compile_new<struct nfa>(ctx);
    if (!nfa)
        return;
    dl_list_init(&nfa->initial_state);
    dl_list_init(&nfa->nfa_states);
    entry->nfa = nfa;

    nfa_state *beg = nullptr;
    nfa_state *end = nullptr;
    tirvo_nfa_regex_fragment(ctx, entry->regex, &beg, &end);
    if (ctx->error)
        return;
    list_add(ctx, &nfa->initial_state, beg);
    if (ctx->error)
        return;
    dl_list_splice_tail(&nfa->nfa_states, &ctx->new_nfa_states);
    tirvo_nfa_number_states(nfa);
    if (!write_graph(ctx, ctx->nfa_raw_graph_file, nfa))
        return;

    mark_removable(nfa);
    close_nfa(ctx, entry->regex, nfa);
    if (ctx->error || !write_graph(ctx, ctx->nfa_closure_graph_file, nfa))
        return;

    remove_removable(nfa);
    if (!write_graph(ctx, ctx->nfa_graph_before_renumbering_file, nfa))
        return;

    tirvo_nfa_number_states(nfa);
    if (!write_graph(ctx, ctx->nfa_graph_file, nfa))
        return;
    fill_state_vect(ctx, nfa);
}

} // namespace

nfa_state *tirvo_nfa_state_new(tirvo_compile_ctx *ctx, const tirvo_location *loc) {
    // Until the entry is numbered, a state's id is its position in the list
    // of new states, which gives the count without walking the list.
    dl_list *last = dl_list_last(&ctx->new_nfa_states);
    const uint32_t next_id = last ? dl_list_entry(last, nfa_state, list)->id + 1 : 0;
    if (next_id >= TIRVO_NFA_MAX_STATES) {
        too_many_states(ctx, loc);
        return nullptr;
    }
    nfa_state *s = tirvo_compile_new<nfa_state>(ctx);
    if (!s)
        return nullptr;
    s->id = next_id;
    s->type = tirvo_nfa_state_type_normal;
    s->location = loc;
    dl_list_init(&s->closure_link);
    dl_list_init(&s->next_states);
    dl_list_init(&s->empty_arcs);
    dl_list_append(&ctx->new_nfa_states, &s->list);
    return s;
}

void tirvo_nfa_add_arc(tirvo_compile_ctx *ctx, nfa_state *s, nfa_state *t, tirvo_charset *set) {
    if (s->arc_label == nullptr) {
        s->arc_label = set;
    } else if (s->arc_label != set && tirvo_charset_compare(s->arc_label, set) != 0) {
        tirvo_loc_message(ctx, s->location,
                          "internal error: more than one leaving charset in NFA state\n");
        std::fflush(stderr);
        std::abort();
    }
    list_add(ctx, &s->next_states, t);
}

void tirvo_nfa_add_empty_arc(tirvo_compile_ctx *ctx, nfa_state *s, nfa_state *t) {
    list_add(ctx, &s->empty_arcs, t);
}

void tirvo_nfa_regex_fragment(tirvo_compile_ctx *ctx, const tirvo_regex *regex, nfa_state **beg,
                              nfa_state **end) {
    nfa_state *b = tirvo_nfa_state_new(ctx, &regex->location);
    if (!b)
        return;
    nfa_state *e = tirvo_nfa_state_new(ctx, &regex->location);
    if (!e)
        return;
    *beg = b;
    *end = e;
    dl_list_for_each(bpos, &regex->branches) {
        const tirvo_branch *branch = dl_list_entry(bpos, tirvo_branch, list);
        TIRVO_ASSERT_TEXT(!dl_list_empty(&branch->branch_elems),
                          "!dl_list_empty(&branch->branch_elems)");
        nfa_state *prev_end = nullptr;
        dl_list_for_each(epos, &branch->branch_elems) {
            const tirvo_branch_elem *elem = dl_list_entry(epos, tirvo_branch_elem, list);
            nfa_state *piece_beg = nullptr;
            nfa_state *piece_end = nullptr;
            tirvo_nfa_elem_fragment(ctx, elem, &piece_beg, &piece_end);
            if (ctx->error)
                return;
            tirvo_nfa_add_empty_arc(ctx, prev_end ? prev_end : b, piece_beg);
            if (ctx->error)
                return;
            prev_end = piece_end;
        }
        tirvo_nfa_add_empty_arc(ctx, prev_end, e);
        if (ctx->error)
            return;
    }
}

void tirvo_nfa_atom_fragment(tirvo_compile_ctx *ctx, const tirvo_piece *piece, nfa_state **beg,
                             nfa_state **end) {
    switch (piece->type) {
    case tirvo_atom_type_regex:
        tirvo_nfa_regex_fragment(ctx, piece->atom.regex, beg, end);
        return;
    case tirvo_atom_type_chars: {
        nfa_state *b = tirvo_nfa_state_new(ctx, &piece->location);
        if (!b)
            return;
        nfa_state *e = tirvo_nfa_state_new(ctx, &piece->location);
        if (!e)
            return;
        tirvo_nfa_add_arc(ctx, b, e, piece->atom.charset);
        *beg = b;
        *end = e;
        return;
    }
    }
    internal_error(ctx, &piece->location, __LINE__);
}

void tirvo_nfa_elem_fragment(tirvo_compile_ctx *ctx, const tirvo_branch_elem *elem,
                             nfa_state **piece_beg, nfa_state **piece_end) {
    *piece_beg = nullptr;
    *piece_end = nullptr;
    switch (elem->type) {
    case tirvo_branch_elem_type_varexp: {
        const tirvo_location *loc = &elem->varexp_entry->varexp->location;
        nfa_state *b = tirvo_nfa_state_new(ctx, loc);
        if (!b)
            return;
        nfa_state *e = tirvo_nfa_state_new(ctx, loc);
        if (!e)
            return;
        e->varexp_entry = elem->varexp_entry;
        tirvo_nfa_add_empty_arc(ctx, b, e);
        *piece_beg = b;
        *piece_end = e;
        return;
    }
    case tirvo_branch_elem_type_piece:
        if (uses_count_states(ctx, &elem->piece))
            count_fragment(ctx, &elem->piece, piece_beg, piece_end);
        else
            expand_fragment(ctx, &elem->piece, piece_beg, piece_end);
        if (ctx->error)
            return;
        TIRVO_ASSERT_TEXT(*piece_beg != nullptr && *piece_end != nullptr,
                          "*piece_beg != NULL && *piece_end != NULL");
        return;
    }
    internal_error(ctx, &elem->location, __LINE__);
}

void tirvo_nfa_number_states(struct nfa *nfa) {
    uint32_t id = 0;
    dl_list_for_each(pos, &nfa->nfa_states) {
        dl_list_entry(pos, nfa_state, list)->id = id++;
    }
    nfa->num_states = id;
}

namespace {

// Collects through `closure_link`, in discovery order, the states reachable
// from `s` over empty arcs, marking each `touched`. This is a depth-first
// search that descends into a target as soon as it is found; the path of
// open frames is kept in the states themselves (`closure_parent`,
// `closure_pos`), and the frame of `s` as the root in a local, because `s`
// may be found again through a cycle and then gets a frame of its own.
void collect_closure(nfa_state *s, dl_list *collected) {
    nfa_state *frame = nullptr; // the open frame's state; null for the root frame
    dl_list *root_pos = s->empty_arcs.next;
    for (;;) {
        nfa_state *owner = frame ? frame : s;
        dl_list *&pos = frame ? frame->closure_pos : root_pos;
        nfa_state *found = nullptr;
        while (pos != &owner->empty_arcs && !found) {
            nfa_state *t = listed_state(pos);
            pos = pos->next;
            if (!t->flags.touched)
                found = t;
        }
        if (found) {
            found->flags.touched = 1;
            dl_list_append(collected, &found->closure_link);
            found->closure_parent = frame;
            found->closure_pos = found->empty_arcs.next;
            frame = found;
        } else if (frame) {
            frame = frame->closure_parent;
        } else {
            return;
        }
    }
}

} // namespace

uint64_t tirvo_nfa_closure(tirvo_compile_ctx *ctx, dl_list *list, nfa_state *s) {
    dl_list collected;
    dl_list_init(&collected);
    collect_closure(s, &collected);

    // Members of the list are marked so that the test "already in the list"
    // costs nothing per collected state.
    dl_list_for_each(pos, list) {
        listed_state(pos)->flags.listed = 1;
    }
    uint64_t added = 0;
    dl_list_for_each_safe(pos, &collected) {
        nfa_state *t = dl_list_entry(pos, nfa_state, closure_link);
        dl_list_remove(pos);
        t->flags.touched = 0;
        if (t->flags.removable || t->flags.listed || ctx->error)
            continue;
        nsl *e = nsl_new(ctx, t);
        if (!e)
            continue;
        dl_list_prepend(list, &e->list);
        t->flags.listed = 1;
        ++added;
    }
    dl_list_for_each(pos, list) {
        listed_state(pos)->flags.listed = 0;
    }
    return added;
}

int tirvo_nfa_build(tirvo_compile_ctx *ctx) {
    dl_list_for_each(pos, &ctx->regex_entries) {
        tirvo_regex_entry *entry = dl_list_entry(pos, tirvo_regex_entry, list);
        build_entry(ctx, entry);
        // --no-main-count-extension applies to the main entry only.
        ctx->flags.no_main_count_extension = 0;
        if (ctx->error)
            return ctx->error;
        if (ctx->flags.progress) {
            char where[TIRVO_LOCATION_TEXT_SIZE];
            std::printf("NFA for regex at %s:%s: %d states\n", ctx->input_name,
                        tirvo_location_text(ctx, &entry->regex->location, where),
                        static_cast<int>(entry->nfa->num_states));
        }
    }
    return ctx->error;
}
