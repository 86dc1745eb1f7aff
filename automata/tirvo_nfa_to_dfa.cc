#include "automata/tirvo_nfa_to_dfa.h"

#include "automata/tirvo_nfa_print.h"
#include "automata/tirvo_regex_to_nfa.h"
#include "compiler/tirvo_compile_ctx.h"
#include "lang/tirvo_parse_tree.h"
#include "lang/tirvo_varexp.h"
#include "lib/common/tirvo_assert.h"

#include <openssl/evp.h>

#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// The module name that internal error messages carry.
constexpr const char MODULE_NAME[] = "tirvo_nfa_to_dfa";

// First symbol above the consuming ones: 257, 258 and 259 are assertions.
constexpr uint32_t FIRST_ASSERTION = 257;

bool is_assertion(uint32_t c) {
    return c >= FIRST_ASSERTION;
}

struct md_ctx_free {
    void operator()(EVP_MD_CTX *p) const { EVP_MD_CTX_free(p); }
};
struct md_free {
    void operator()(EVP_MD *p) const { EVP_MD_free(p); }
};

// A heap array that grows on demand and is reused for every child; growth
// failure is reported, never thrown.
template <typename T>
struct scratch_array {
    T *data = nullptr;   // the elements
    std::size_t cap = 0; // room in elements

    scratch_array() = default;
    scratch_array(const scratch_array &) = delete;
    scratch_array &operator=(const scratch_array &) = delete;
    ~scratch_array() { std::free(data); }

    // Makes room for `n` elements, keeping the first `keep`; false when
    // memory is exhausted (the array is unchanged then).
    bool reserve(std::size_t n, std::size_t keep = 0) {
        if (n <= cap)
            return true;
        std::size_t want = cap * 2 > n ? cap * 2 : n;
        if (want < 16)
            want = 16;
        if (want > SIZE_MAX / sizeof(T))
            return false;
        T *p = static_cast<T *>(std::malloc(want * sizeof(T)));
        if (!p)
            return false;
        if (keep)
            std::memcpy(p, data, keep * sizeof(T));
        std::free(data);
        data = p;
        cap = want;
        return true;
    }
};

// A candidate record under construction: the record and its buffers.
struct record_buf {
    active rec{};                     // pos, counts and pointers into the buffers below
    scratch_array<tirvo_bitv> states; // the state set
    scratch_array<assoc> assocs;      // the assocs
    scratch_array<count_node> counts; // the counters

    // Points `rec` at the buffers (after any of them moved).
    void bind() {
        rec.active_states = states.data;
        rec.assocs = assocs.data;
        rec.counts = counts.data;
    }
};

// Everything the construction of one entry uses besides the superstates.
struct builder {
    tirvo_compile_ctx *ctx; // the compile
    struct nfa *nfa;        // the NFA of the entry
    superstates *ss;        // the superstates being built
    uint32_t num_states;    // states of the NFA
    uint32_t words;         // words of a state set (at least 1 allocated)
    uint32_t alphabet_size; // symbols to cut into classes
    bool trace;             // --show-superstates
    bool count_superstates; // the count-superstate shortcut is on
    // The targets of state t (all of its `next_states`, list order) are
    // tgt_ids[tgt_begin[t]] to tgt_ids[tgt_begin[t + 1] - 1].
    uint32_t *tgt_begin;
    uint32_t *tgt_ids;
    tirvo_bitv *varexp_states; // states with a variable expression

    std::unique_ptr<EVP_MD_CTX, md_ctx_free> md; // reused for every digest
    std::unique_ptr<EVP_MD, md_free> md5;        // fetched once

    record_buf cand;                    // the candidate record of the current child
    record_buf merged;                  // assocs and counters after entering count states
    scratch_array<tirvo_bitv> entering; // entering count states of a lookup
    scratch_array<tirvo_bitv> spare;    // a second state set for the shortcut and the initial
    scratch_array<uint32_t> worklist;   // the keep_on closure's stack

    // Verdict of the lo-independent tests of the count shortcut for
    // `shortcut_for` (the superstate being expanded): 1 may take, 0 declines.
    const superstate *shortcut_for;
    int shortcut_verdict;
};

void out_of_memory(tirvo_compile_ctx *ctx) {
    ctx->error = TIRVO_COMPILE_ERR_MEMORY;
}

// A zero-filled state set of at least one word from the pool, so that an NFA
// without states still gets real blocks; null with `error` 2.
tirvo_bitv *alloc_set(builder &b) {
    return static_cast<tirvo_bitv *>(
        tirvo_compile_zalloc(b.ctx, sizeof(tirvo_bitv) * (b.words ? b.words : 1)));
}

void add_targets(const builder &b, tirvo_bitv *set, uint32_t t) {
    for (uint32_t k = b.tgt_begin[t]; k < b.tgt_begin[t + 1]; ++k)
        tirvo_bitv_set(set, b.tgt_ids[k]);
}

// ---------------------------------------------------------------------------
// Preparation: boundary sets, target arrays, masks.

// Fills every state's boundary set, the set of count states, the set of
// states with a variable expression and the target arrays.
bool prepare_states(builder &b) {
    struct nfa *nfa = b.nfa;
    b.tgt_begin = static_cast<uint32_t *>(
        tirvo_compile_zalloc(b.ctx, sizeof(uint32_t) * (std::size_t{b.num_states} + 1)));
    if (!b.tgt_begin)
        return false;
    std::size_t total = 0;
    dl_list_for_each(pos, &nfa->nfa_states) {
        nfa_state *s = dl_list_entry(pos, nfa_state, list);
        s->eq_class_trans = tirvo_compile_new<tirvo_charset>(b.ctx);
        if (!s->eq_class_trans)
            return false;
        tirvo_charset_boundaries(s->arc_label, s->eq_class_trans);
        b.tgt_begin[s->id] = static_cast<uint32_t>(total);
        total += dl_list_len(&s->next_states);
    }
    b.tgt_begin[b.num_states] = static_cast<uint32_t>(total);
    b.tgt_ids = static_cast<uint32_t *>(
        tirvo_compile_zalloc(b.ctx, sizeof(uint32_t) * (total ? total : 1)));
    nfa->bound_charset_states = alloc_set(b);
    b.varexp_states = alloc_set(b);
    if (!b.tgt_ids || !nfa->bound_charset_states || !b.varexp_states)
        return false;
    dl_list_for_each(pos, &nfa->nfa_states) {
        const nfa_state *s = dl_list_entry(pos, nfa_state, list);
        uint32_t k = b.tgt_begin[s->id];
        dl_list_for_each(t, &s->next_states) b.tgt_ids[k++] =
            dl_list_entry(t, nsl, list)->nfa_state->id;
        if (s->type == tirvo_nfa_state_type_count)
            tirvo_bitv_set(nfa->bound_charset_states, s->id);
        if (s->varexp_entry)
            tirvo_bitv_set(b.varexp_states, s->id);
    }
    return true;
}

// How a normal state's targets move: bits of a target summary.
constexpr uint8_t TARGET_SELF = 1;  // the state itself
constexpr uint8_t TARGET_NEXT = 2;  // the next id, in the same 64-bit word
constexpr uint8_t TARGET_OTHER = 4; // anything else

uint8_t target_kinds(const builder &b, uint32_t t) {
    uint8_t kinds = 0;
    for (uint32_t k = b.tgt_begin[t]; k < b.tgt_begin[t + 1]; ++k) {
        const uint32_t u = b.tgt_ids[k];
        if (u == t)
            kinds |= TARGET_SELF;
        else if (u == t + 1 && u % 64 != 0)
            kinds |= TARGET_NEXT;
        else
            kinds |= TARGET_OTHER;
    }
    return kinds;
}

// Fills the three masks of symbol `c` for every normal state.
void fill_masks(const builder &b, const nfa_trans_mask &m, uint32_t c, const uint8_t *kinds) {
    for (uint32_t t = 0; t < b.num_states; ++t) {
        const nfa_state *s = b.nfa->nfa_state_vect[t];
        if (s->type == tirvo_nfa_state_type_count)
            continue;
        const bool in_set = s->arc_label && tirvo_bitv_contains(s->arc_label->bits, c);
        if (is_assertion(c) && !in_set) {
            tirvo_bitv_set(m.kept, t);
        } else if (in_set) {
            if (kinds[t] & TARGET_OTHER) {
                tirvo_bitv_set(m.looped, t);
            } else {
                if (kinds[t] & TARGET_SELF)
                    tirvo_bitv_set(m.kept, t);
                if (kinds[t] & TARGET_NEXT)
                    tirvo_bitv_set(m.incremented, t);
            }
        }
    }
}

// Builds the per-symbol masks. Symbols that lie in one class of the union of
// all boundary sets (with 256 and 257 always starting a class, so that every
// class is all consuming or all assertion symbols) are in or out of every
// state's set together, so their masks are equal: each such class gets one
// triple of masks, which every symbol of the class points to.
bool prepare_masks(builder &b) {
    tirvo_charset cuts{};
    dl_list_for_each(pos, &b.nfa->nfa_states)
        tirvo_charset_union(&cuts, dl_list_entry(pos, nfa_state, list)->eq_class_trans);
    tirvo_charset_add(&cuts, 0);
    tirvo_charset_add(&cuts, 256);
    tirvo_charset_add(&cuts, FIRST_ASSERTION);

    auto *kinds = static_cast<uint8_t *>(tirvo_compile_zalloc(b.ctx, b.num_states + 1));
    if (!kinds)
        return false;
    for (uint32_t t = 0; t < b.num_states; ++t)
        kinds[t] = target_kinds(b, t);

    nfa_trans_mask current{};
    for (uint32_t c = 0; c < b.alphabet_size; ++c) {
        if (tirvo_bitv_contains(cuts.bits, c)) {
            current.kept = alloc_set(b);
            current.incremented = alloc_set(b);
            current.looped = alloc_set(b);
            if (!current.kept || !current.incremented || !current.looped)
                return false;
            fill_masks(b, current, c, kinds);
        }
        b.nfa->trans_masks[c] = current;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Records: successor, closure, counters, identity.

// next := the successor of the normal states of `a` on symbol `c`: a word
// at a time from the masks, then the targets of the looped states one by one
// (in a second pass, because they may lie in any word).
void superstate_step(const builder &b, const tirvo_bitv *a, tirvo_bitv *next, uint32_t c) {
    const nfa_trans_mask &m = b.nfa->trans_masks[c];
    tirvo_bitv looped_any = 0;
    for (uint32_t w = 0; w < b.words; ++w) {
        next[w] = (a[w] & m.kept[w]) | ((a[w] & m.incremented[w]) << 1);
        looped_any |= a[w] & m.looped[w];
    }
    if (!looped_any)
        return;
    for (uint32_t w = 0; w < b.words; ++w) {
        for (tirvo_bitv l = a[w] & m.looped[w]; l; l &= l - 1)
            add_targets(b, next, w * 64 + static_cast<uint32_t>(std::countr_zero(l)));
    }
}

// Adds the targets of the keep_on count state `j` (which is in `entering`):
// count states join `entering` and, with keep_on, are closed in turn; normal
// states join `states`. Uses an explicit stack, so long chains of optional
// pieces cannot exhaust the call stack.
void keep_on_closure(builder &b, tirvo_bitv *entering, tirvo_bitv *states, uint32_t j) {
    const nfa_state *js = b.nfa->nfa_state_vect[j];
    TIRVO_ASSERT_TEXT(js->flags.keep_on, "nfa_state->flags.keep_on");
    TIRVO_ASSERT_TEXT(tirvo_bitv_contains(entering, j),
                      "tirvo_bitv_contains(new_count_states, bit)");
    uint32_t *stack = b.worklist.data; // room for every state was made up front
    std::size_t top = 0;
    stack[top++] = j;
    while (top) {
        const uint32_t s = stack[--top];
        for (uint32_t k = b.tgt_begin[s]; k < b.tgt_begin[s + 1]; ++k) {
            const uint32_t t = b.tgt_ids[k];
            const nfa_state *ts = b.nfa->nfa_state_vect[t];
            if (ts->type != tirvo_nfa_state_type_count) {
                tirvo_bitv_set(states, t);
            } else if (!tirvo_bitv_contains(entering, t)) {
                tirvo_bitv_set(entering, t);
                if (ts->flags.keep_on)
                    stack[top++] = t;
            }
        }
    }
}

// The counters of the child of class `lo` of record `src` into the candidate
// record (whose `pos` and state set are set): assocs whose set lacks a
// consuming `lo` die; on an assertion symbol all are carried unchanged;
// otherwise a counter that reaches its count is removed and activates the
// count state's targets, and a keep_on count state activates them after
// every counted symbol.
bool carry_counts(builder &b, const active &src, uint32_t lo) {
    record_buf &cb = b.cand;
    if (!cb.assocs.reserve(src.num_assocs) || !cb.counts.reserve(src.num_counts)) {
        out_of_memory(b.ctx);
        return false;
    }
    cb.bind();
    active &r = cb.rec;
    r.num_assocs = 0;
    r.num_counts = 0;
    const bool assertion = is_assertion(lo);
    for (uint32_t i = 0; i < src.num_assocs; ++i) {
        const assoc &a = src.assocs[i];
        TIRVO_ASSERT_TEXT(a.num_counts > 0, "!dl_list_empty(&old_assoc->counts)");
        const nfa_state *st = a.nfa_state;
        TIRVO_ASSERT_TEXT(st->type == tirvo_nfa_state_type_count,
                          "old_assoc->nfa_state->type == tirvo_nfa_state_type_count");
        TIRVO_ASSERT_TEXT(st->arc_label != nullptr, "old_assoc->nfa_state->arc_label != NULL");
        if (!assertion && !tirvo_bitv_contains(st->arc_label->bits, lo))
            continue;
        const count_node *c = src.counts + a.first;
        uint32_t n = a.num_counts;
        if (!assertion) {
            if (r.pos - c[0].start == st->count) {
                ++c;
                --n;
                add_targets(b, r.active_states, st->id);
            } else if (st->flags.keep_on) {
                add_targets(b, r.active_states, st->id);
            }
        }
        if (n == 0)
            continue;
        r.assocs[r.num_assocs++] = assoc{a.nfa_state, r.num_counts, n};
        std::memcpy(r.counts + r.num_counts, c, sizeof(count_node) * n);
        r.num_counts += n;
    }
    return true;
}

// Starts a counter at the candidate's `pos` for every state of `entering`
// (ascending): into the existing assoc of that state or a new one at its
// place in id order. A counter that would repeat the newest counter of its
// assoc (entered twice at one `pos`, which an assertion symbol allows) is
// not added twice. The result goes to `merged`, whose buffers then change
// places with the candidate's.
bool enter_counts(builder &b, const tirvo_bitv *entering, std::size_t n_entering) {
    record_buf &cb = b.cand;
    record_buf &mb = b.merged;
    const active &r = cb.rec;
    if (!mb.assocs.reserve(r.num_assocs + n_entering) ||
        !mb.counts.reserve(r.num_counts + n_entering)) {
        out_of_memory(b.ctx);
        return false;
    }
    assoc *out = mb.assocs.data;
    count_node *counts = mb.counts.data;
    uint32_t na = 0;
    uint32_t nc = 0;
    uint32_t i = 0;
    auto copy_assoc = [&](const assoc &a) {
        out[na++] = assoc{a.nfa_state, nc, a.num_counts};
        std::memcpy(counts + nc, r.counts + a.first, sizeof(count_node) * a.num_counts);
        nc += a.num_counts;
    };
    tirvo_bitv_for_each(j, entering, b.num_states) {
        nfa_state *js = b.nfa->nfa_state_vect[j];
        TIRVO_ASSERT_TEXT(js->varexp_entry == nullptr,
                          "nfa->nfa_state_vect[bit]->varexp_entry == NULL");
        while (i < r.num_assocs && r.assocs[i].nfa_state->id < j)
            copy_assoc(r.assocs[i++]);
        if (i < r.num_assocs && r.assocs[i].nfa_state->id == j) {
            copy_assoc(r.assocs[i++]);
            if (counts[nc - 1].start != r.pos) {
                counts[nc++].start = r.pos;
                ++out[na - 1].num_counts;
            }
        } else {
            out[na++] = assoc{js, nc, 1};
            counts[nc++].start = r.pos;
        }
    }
    while (i < r.num_assocs)
        copy_assoc(r.assocs[i++]);
    std::swap(cb.assocs.data, mb.assocs.data);
    std::swap(cb.assocs.cap, mb.assocs.cap);
    std::swap(cb.counts.data, mb.counts.data);
    std::swap(cb.counts.cap, mb.counts.cap);
    const uint32_t pos = r.pos;
    cb.bind();
    cb.rec.pos = pos;
    cb.rec.num_assocs = na;
    cb.rec.num_counts = nc;
    return true;
}

// A heap copy of `r` in one block: the record, its state set, its assocs and
// its counters. Null when memory is exhausted.
active *record_copy(const active &r, uint32_t words) {
    const std::size_t states = sizeof(tirvo_bitv) * words;
    const std::size_t assocs = sizeof(assoc) * r.num_assocs;
    const std::size_t counts = sizeof(count_node) * r.num_counts;
    static_assert(sizeof(active) % alignof(tirvo_bitv) == 0);
    static_assert(sizeof(tirvo_bitv) % alignof(assoc) == 0);
    static_assert(sizeof(assoc) % alignof(count_node) == 0);
    char *block = static_cast<char *>(std::malloc(sizeof(active) + states + assocs + counts));
    if (!block)
        return nullptr;
    auto *copy = reinterpret_cast<active *>(block);
    *copy = r;
    copy->active_states = reinterpret_cast<tirvo_bitv *>(block + sizeof(active));
    copy->assocs = reinterpret_cast<assoc *>(block + sizeof(active) + states);
    copy->counts = reinterpret_cast<count_node *>(block + sizeof(active) + states + assocs);
    if (states)
        std::memcpy(copy->active_states, r.active_states, states);
    if (assocs)
        std::memcpy(copy->assocs, r.assocs, assocs);
    if (counts)
        std::memcpy(copy->counts, r.counts, counts);
    return copy;
}

// The key of the candidate record; false (with `error` 2) when the crypto
// library failed.
bool candidate_key(builder &b, uint8_t key[TIRVO_SUPERSTATE_KEY_SIZE]) {
    std::memset(key, 0, TIRVO_SUPERSTATE_KEY_SIZE);
    if (!tirvo_superstate_digest(b.md.get(), b.md5.get(), &b.cand.rec, b.ss->bitv_bytes, key)) {
        out_of_memory(b.ctx);
        return false;
    }
    return true;
}

superstate *hash_find(const tirvo_nfa_hash *tab, const uint8_t *key) {
    for (superstate *s = tab->slots[tirvo_nfa_hash_index(tab, key)]; s; s = s->hash_next)
        if (std::memcmp(s->key, key, TIRVO_SUPERSTATE_KEY_SIZE) == 0)
            return s;
    return nullptr;
}

// Finds or creates the superstate of the candidate record: starts the
// counters of the count states it enters (after their keep_on closure),
// digests it and looks the key up. A created superstate gets a heap copy of
// the record and is pending; the caller hashes it.
superstate *superstate_lookup(builder &b, bool *created) {
    *created = false;
    active &r = b.cand.rec;
    tirvo_bitv *entering = b.entering.data;
    const tirvo_bitv *bound = b.nfa->bound_charset_states;
    tirvo_bitv any = 0;
    for (uint32_t w = 0; w < b.words; ++w)
        any |= entering[w] = r.active_states[w] & bound[w];
    if (any) {
        tirvo_bitv_for_each(j, entering, b.num_states) {
            if (b.nfa->nfa_state_vect[j]->flags.keep_on)
                keep_on_closure(b, entering, r.active_states, j);
        }
        std::size_t n = 0;
        for (uint32_t w = 0; w < b.words; ++w) {
            n += static_cast<std::size_t>(std::popcount(entering[w]));
            r.active_states[w] &= ~bound[w];
        }
        if (!enter_counts(b, entering, n))
            return nullptr;
    }
    uint8_t key[TIRVO_SUPERSTATE_KEY_SIZE];
    if (!candidate_key(b, key))
        return nullptr;
    if (superstate *found = hash_find(b.ss->hash_tab, key))
        return found;
    superstate *s = tirvo_superstate_new(b.ctx, b.ss);
    if (!s)
        return nullptr;
    std::memcpy(s->key, key, sizeof key);
    s->active = record_copy(b.cand.rec, b.ss->bitv_words);
    if (!s->active) {
        out_of_memory(b.ctx);
        return nullptr;
    }
    *created = true;
    return s;
}

// Makes the candidate record empty at `pos` with room for every state.
void candidate_reset(builder &b, uint32_t pos) {
    b.cand.bind();
    b.cand.rec.pos = pos;
    b.cand.rec.num_assocs = 0;
    b.cand.rec.num_counts = 0;
}

bool append_varexp(tirvo_compile_ctx *ctx, superstate *s, tirvo_varexp_entry *e) {
    auto *v = tirvo_compile_new<superstate_varexp>(ctx);
    if (!v)
        return false;
    v->varexp_entry = e;
    dl_list_append(&s->varexps, &v->list);
    return true;
}

// ---------------------------------------------------------------------------
// Count superstates.

// The tests of the shortcut that do not depend on the class: one assoc with
// one counter, at least 2 symbols from its end, and every other active state
// either untouched by the counted symbols or looping on all of them without
// leaving the active set.
bool shortcut_possible(const builder &b, const active &r) {
    if (r.num_assocs != 1)
        return false;
    const assoc &a = r.assocs[0];
    const tirvo_charset *counted = a.nfa_state->arc_label;
    if (!counted)
        return false;
    tirvo_bitv_for_each(t, r.active_states, b.num_states) {
        const nfa_state *ts = b.nfa->nfa_state_vect[t];
        if (!ts->arc_label || tirvo_charset_disjoint(ts->arc_label, counted))
            continue;
        if (!tirvo_charset_contains_set(ts->arc_label, counted) ||
            b.tgt_begin[t] == b.tgt_begin[t + 1])
            return false;
        bool self = false;
        for (uint32_t k = b.tgt_begin[t]; k < b.tgt_begin[t + 1]; ++k) {
            if (!tirvo_bitv_contains(r.active_states, b.tgt_ids[k]))
                return false;
            self = self || b.tgt_ids[k] == t;
        }
        if (!self)
            return false;
    }
    TIRVO_ASSERT_TEXT(a.num_counts > 0, "!dl_list_empty(&assoc->counts)");
    if (a.num_counts > 1)
        return false;
    TIRVO_ASSERT_TEXT(a.nfa_state->type == tirvo_nfa_state_type_count,
                      "assoc->nfa_state->type == tirvo_nfa_state_type_count");
    const uint32_t remain = a.nfa_state->count - (r.pos - r.counts[a.first].start);
    TIRVO_ASSERT_TEXT(remain != 0, "remain != 0");
    return remain != 1;
}

// The count-superstate shortcut for class [lo, lo + len - 1] of `s`: false
// when it declines; true when it takes the class, with `*child` the exit
// child (created now or earlier) or null after a failure (`error` set).
bool count_shortcut(builder &b, superstate *s, uint32_t lo, uint32_t len, superstate **child,
                    bool *created) {
    const active &r = *s->active;
    if (is_assertion(lo) || r.num_assocs != 1)
        return false;
    const tirvo_charset *counted = r.assocs[0].nfa_state->arc_label;
    if (!counted || !tirvo_charset_contains(counted, lo))
        return false;
    if (b.shortcut_for != s) {
        b.shortcut_for = s;
        b.shortcut_verdict = shortcut_possible(b, r) ? 1 : 0;
    }
    if (!b.shortcut_verdict)
        return false;
    const nfa_state *as = r.assocs[0].nfa_state;
    const uint32_t remain = as->count - (r.pos - r.counts[r.assocs[0].first].start);

    // The counted symbol must leave the state set as it is.
    tirvo_bitv *next = b.spare.data;
    superstate_step(b, r.active_states, next, lo);
    if (as->flags.keep_on) {
        for (uint32_t k = b.tgt_begin[as->id]; k < b.tgt_begin[as->id + 1]; ++k) {
            // A count state among the targets (a repeated group around an
            // optional piece) can never be in the state set, so the class
            // stays an ordinary one.
            if (b.nfa->nfa_state_vect[b.tgt_ids[k]]->type != tirvo_nfa_state_type_normal)
                return false;
            tirvo_bitv_set(next, b.tgt_ids[k]);
        }
    }
    if (std::memcmp(next, r.active_states, b.ss->bitv_bytes) != 0)
        return false;

    *child = nullptr;
    *created = false;
    if (!s->count_charset) {
        s->count_charset = tirvo_compile_new<tirvo_charset>(b.ctx);
        if (!s->count_charset)
            return true;
        tirvo_charset_add_range(s->count_charset, lo, lo + len - 1);
        s->count = remain;
        candidate_reset(b, r.pos + remain);
        std::memcpy(b.cand.rec.active_states, r.active_states, b.ss->bitv_bytes);
        add_targets(b, b.cand.rec.active_states, as->id);
        *child = superstate_lookup(b, created);
        return true;
    }
    TIRVO_ASSERT_TEXT(s->count == remain, "ss->count == remain");
    tirvo_charset_add_range(s->count_charset, lo, lo + len - 1);
    dl_list_for_each(pos, &s->arcs) {
        const superstate_arc *arc = dl_list_entry(pos, superstate_arc, list);
        if (tirvo_bitv_contains(s->count_charset->bits, arc->first)) {
            *child = arc->target;
            break;
        }
    }
    TIRVO_ASSERT_TEXT(*child, "*child");
    return true;
}

// ---------------------------------------------------------------------------
// Expansion.

// Makes the arc of class [lo, lo + len - 1] of `s` and, when its target is
// new, hashes it and gives it its variable expressions.
void superstate_child(builder &b, superstate *s, uint32_t lo, uint32_t len) {
    tirvo_compile_ctx *ctx = b.ctx;
    if (b.trace)
        std::printf("Making children [%d,%d] for state %u\n", static_cast<int>(lo),
                    static_cast<int>(lo + len - 1), s->id);
    superstate *child = nullptr;
    bool created = false;
    if (!b.count_superstates || !count_shortcut(b, s, lo, len, &child, &created)) {
        candidate_reset(b, s->active->pos + (is_assertion(lo) ? 0 : 1));
        superstate_step(b, s->active->active_states, b.cand.rec.active_states, lo);
        if (carry_counts(b, *s->active, lo))
            child = superstate_lookup(b, &created);
    }
    if (ctx->error)
        return;
    auto *arc = tirvo_compile_new<superstate_arc>(ctx);
    if (!arc)
        return;
    arc->first = lo;
    arc->len = len;
    arc->target = child;
    dl_list_append(&s->arcs, &arc->list);
    if (!created) {
        if (b.trace)
            std::printf("child %u already exists\n", child->id);
        return;
    }
    if (tirvo_nfa_hash_add(&b.ss->hash_tab, child, b.ss) != 0) {
        out_of_memory(ctx);
        return;
    }
    const tirvo_bitv *states = child->active->active_states;
    for (uint32_t w = 0; w < b.words; ++w) {
        for (tirvo_bitv v = states[w] & b.varexp_states[w]; v; v &= v - 1) {
            const uint32_t t = w * 64 + static_cast<uint32_t>(std::countr_zero(v));
            if (!append_varexp(ctx, child, b.nfa->nfa_state_vect[t]->varexp_entry))
                return;
        }
    }
    if (b.trace) {
        std::printf("child %u created:\n", child->id);
        tirvo_active_print(b.nfa, child->active);
    }
}

// Joins each arc with its immediate successor when both lead to the same
// superstate and their ranges touch; after a join the pass goes on with the
// arc after the joined pair.
void merge_arcs(superstate *s) {
    dl_list *pos = s->arcs.next;
    while (pos != &s->arcs) {
        superstate_arc *arc = dl_list_entry(pos, superstate_arc, list);
        dl_list *next = pos->next;
        if (next != &s->arcs) {
            superstate_arc *succ = dl_list_entry(next, superstate_arc, list);
            if (succ->target == arc->target && succ->first == arc->first + arc->len) {
                arc->len += succ->len;
                dl_list_remove(next);
                next = pos->next;
            }
        }
        pos = next;
    }
}

// The classes of `s`: the alphabet cut at every member of the union of the
// boundary sets of its active states and counting states (with 257 when it
// has no normal state). When that union has no member above 0, which happens
// only when every such set is the whole alphabet, the whole alphabet is one
// class, so that the arcs still cover every symbol.
void expand_one(builder &b, superstate *s) {
    const active &r = *s->active;
    tirvo_charset cuts{};
    bool no_states = true;
    for (uint32_t w = 0; w < b.words; ++w) {
        for (tirvo_bitv v = r.active_states[w]; v; v &= v - 1) {
            const uint32_t t = w * 64 + static_cast<uint32_t>(std::countr_zero(v));
            tirvo_charset_union(&cuts, b.nfa->nfa_state_vect[t]->eq_class_trans);
            no_states = false;
        }
    }
    for (uint32_t i = 0; i < r.num_assocs; ++i)
        tirvo_charset_union(&cuts, r.assocs[i].nfa_state->eq_class_trans);
    if (no_states)
        tirvo_charset_add(&cuts, FIRST_ASSERTION);

    uint32_t prev = 0;
    uint32_t p = 1;
    while (prev < b.alphabet_size) {
        uint32_t next = p;
        if (!tirvo_charset_next(&cuts, &next))
            next = b.alphabet_size;
        superstate_child(b, s, prev, next - prev);
        if (b.ctx->error)
            return;
        prev = next;
        p = next + 1;
    }
    merge_arcs(s);
}

// Expands pending superstates, the most recent first, until none is left.
void superstate_expand(builder &b) {
    superstates *ss = b.ss;
    if (b.trace) {
        std::printf("initial superstate (%u):\n", ss->initial->id);
        tirvo_active_print(b.nfa, ss->initial->active);
    }
    while (!dl_list_empty(&ss->pending)) {
        superstate *s = dl_list_entry(ss->pending.prev, superstate, pending_link);
        expand_one(b, s);
        if (b.ctx->error)
            return;
        std::free(s->active);
        s->active = nullptr;
        dl_list_remove(&s->pending_link);
    }
}

// Adds state `t` to the initial record and, the first time, its variable
// expression to the initial superstate.
bool initial_add(builder &b, const nfa_state *t) {
    tirvo_bitv *states = b.cand.rec.active_states;
    if (tirvo_bitv_contains(states, t->id))
        return true;
    tirvo_bitv_set(states, t->id);
    return !t->varexp_entry || append_varexp(b.ctx, b.ss->initial, t->varexp_entry);
}

// The initial superstate: the initial states and the direct targets of
// keep_on count states among them, the keep_on closure of the count states,
// one counter at 0 per count state. Normal states that the closure adds run
// their variable expressions too, in ascending id order after the others, so
// that the initial superstate behaves like any superstate with its states.
void make_initial(builder &b) {
    superstates *ss = b.ss;
    ss->initial = tirvo_superstate_new(b.ctx, ss);
    if (b.ctx->error)
        return;
    TIRVO_ASSERT_TEXT(ss->initial != nullptr, "superstates->initial != NULL");
    candidate_reset(b, 0);
    tirvo_bitv *states = b.cand.rec.active_states;
    std::memset(states, 0, sizeof(tirvo_bitv) * b.words);
    dl_list_for_each(pos, &b.nfa->initial_state) {
        const nfa_state *s = dl_list_entry(pos, nsl, list)->nfa_state;
        if (!initial_add(b, s))
            return;
        if (s->type == tirvo_nfa_state_type_count && s->flags.keep_on) {
            dl_list_for_each(t, &s->next_states) {
                if (!initial_add(b, dl_list_entry(t, nsl, list)->nfa_state))
                    return;
            }
        }
    }

    tirvo_bitv *entering = b.entering.data;
    tirvo_bitv *before = b.spare.data;
    const tirvo_bitv *bound = b.nfa->bound_charset_states;
    for (uint32_t w = 0; w < b.words; ++w) {
        entering[w] = states[w] & bound[w];
        states[w] &= ~bound[w];
        before[w] = states[w];
    }
    tirvo_bitv_for_each(j, entering, b.num_states) {
        const nfa_state *js = b.nfa->nfa_state_vect[j];
        TIRVO_ASSERT_TEXT(js->type == tirvo_nfa_state_type_count,
                          "nfa->nfa_state_vect[bit]->type == tirvo_nfa_state_type_count");
        if (js->flags.keep_on)
            keep_on_closure(b, entering, states, j);
    }
    for (uint32_t w = 0; w < b.words; ++w) {
        for (tirvo_bitv v = states[w] & ~before[w] & b.varexp_states[w]; v; v &= v - 1) {
            const uint32_t t = w * 64 + static_cast<uint32_t>(std::countr_zero(v));
            if (!append_varexp(b.ctx, ss->initial, b.nfa->nfa_state_vect[t]->varexp_entry))
                return;
        }
    }

    std::size_t n = 0;
    for (uint32_t w = 0; w < b.words; ++w)
        n += static_cast<std::size_t>(std::popcount(entering[w]));
    record_buf &cb = b.cand;
    if (!cb.assocs.reserve(n) || !cb.counts.reserve(n)) {
        out_of_memory(b.ctx);
        return;
    }
    cb.bind();
    tirvo_bitv_for_each(j, entering, b.num_states) {
        nfa_state *js = b.nfa->nfa_state_vect[j];
        TIRVO_ASSERT_TEXT(js->type == tirvo_nfa_state_type_count,
                          "nfa_state->type == tirvo_nfa_state_type_count");
        TIRVO_ASSERT_TEXT(!tirvo_bitv_contains(states, j),
                          "!tirvo_bitv_contains(active->active_states, bit)");
        active &r = cb.rec;
        r.assocs[r.num_assocs++] = assoc{js, r.num_counts, 1};
        r.counts[r.num_counts++].start = 0;
    }

    if (!candidate_key(b, ss->initial->key))
        return;
    ss->initial->active = record_copy(cb.rec, ss->bitv_words);
    if (!ss->initial->active) {
        out_of_memory(b.ctx);
        return;
    }
    if (tirvo_nfa_hash_add(&ss->hash_tab, ss->initial, ss) != 0)
        out_of_memory(b.ctx);
}

// Scratch buffers for one entry, sized for its NFA; false with `error` 2.
bool prepare_scratch(builder &b) {
    const std::size_t words = b.words ? b.words : 1;
    if (!b.cand.states.reserve(words) || !b.merged.states.reserve(words) ||
        !b.entering.reserve(words) || !b.spare.reserve(words) ||
        !b.worklist.reserve(std::size_t{b.num_states} + 1)) {
        out_of_memory(b.ctx);
        return false;
    }
    std::memset(b.cand.states.data, 0, sizeof(tirvo_bitv) * words);
    b.cand.bind();
    b.md.reset(EVP_MD_CTX_new());
    b.md5.reset(EVP_MD_fetch(nullptr, "MD5", nullptr));
    if (!b.md || !b.md5) {
        out_of_memory(b.ctx);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Finishing.

const tirvo_location *varexp_location(const dl_list *link) {
    return &dl_list_entry(const_cast<dl_list *>(link), superstate_varexp, list)
                ->varexp_entry->varexp->location;
}

int varexp_position_cmp(const dl_list *a, const dl_list *b) {
    const tirvo_location *loc_a = varexp_location(a);
    const tirvo_location *loc_b = varexp_location(b);
    TIRVO_ASSERT_TEXT(!tirvo_location_empty(loc_a), "!tirvo_location_empty(loc_a)");
    TIRVO_ASSERT_TEXT(!tirvo_location_empty(loc_b), "!tirvo_location_empty(loc_b)");
    if (loc_a->first_line != loc_b->first_line)
        return loc_a->first_line < loc_b->first_line ? -1 : 1;
    if (loc_a->first_column != loc_b->first_column)
        return loc_a->first_column < loc_b->first_column ? -1 : 1;
    return 0;
}

int parent_cmp(const void *a, const void *b) {
    const uint32_t x = *static_cast<const uint32_t *>(a);
    const uint32_t y = *static_cast<const uint32_t *>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

// Puts `parent` into the parents of `s` unless it is there.
void add_parent(tirvo_compile_ctx *ctx, superstate *s, superstate *parent) {
    superstate_parent key{};
    key.id = parent->id;
    if (qle_avl_tree_find(&s->parents, qle_avl_payload(&key.node)))
        return;
    auto *node = tirvo_compile_new<superstate_parent>(ctx);
    if (!node)
        return;
    node->id = parent->id;
    node->parent = parent;
    qle_avl_node_init(&node->node);
    const int rc = qle_avl_tree_insert(&s->parents, &node->node);
    if (rc != 0) {
        std::fprintf(stderr, "internal error (%s: %d): %d\n", MODULE_NAME, __LINE__, rc);
        std::fflush(stderr);
        std::abort();
    }
}

// Every superstate gets `cannot_match` and becomes a parent of the targets of
// its arcs, except of arcs for the special symbols of a low-level DFA.
void collect_parents(tirvo_compile_ctx *ctx, superstates *ss) {
    const bool low_level = ctx->flags.low_level_dfa;
    dl_list_for_each(pos, &ss->superstate_list) {
        superstate *s = dl_list_entry(pos, superstate, list);
        s->cannot_match = 1;
        const superstate *last = nullptr;
        dl_list_for_each(a, &s->arcs) {
            const superstate_arc *arc = dl_list_entry(a, superstate_arc, list);
            if ((low_level && arc->first > 255) || arc->target == last)
                continue;
            add_parent(ctx, arc->target, s);
            if (ctx->error)
                return;
            last = arc->target;
        }
    }
}

// The queue of the backwards pass; `tail` grows as parents lose cannot_match.
struct match_queue {
    superstate **items; // room for every superstate and one start
    std::size_t tail;   // number of items queued
};

int queue_parent(qle_avl_tree *, qle_avl_node *node, void *user) {
    superstate *p = reinterpret_cast<superstate_parent *>(node)->parent;
    if (p->cannot_match) {
        p->cannot_match = 0;
        auto *q = static_cast<match_queue *>(user);
        q->items[q->tail++] = p;
    }
    return 0;
}

// Clears `cannot_match` on every superstate from which a path of one or more
// arcs (as collected in the parents) reaches a superstate with variable
// expressions: backwards from each of them, each superstate queued at most
// once since it loses the flag once.
bool compute_matchability(tirvo_compile_ctx *ctx, superstates *ss) {
    std::unique_ptr<superstate *, decltype(&std::free)> items(
        static_cast<superstate **>(
            std::malloc(sizeof(superstate *) * (std::size_t{ss->ss_cnt} + 1))),
        &std::free);
    if (!items) {
        out_of_memory(ctx);
        return false;
    }
    dl_list_for_each(pos, &ss->superstate_list) {
        superstate *s = dl_list_entry(pos, superstate, list);
        if (dl_list_empty(&s->varexps))
            continue;
        match_queue q{items.get(), 0};
        q.items[q.tail++] = s;
        for (std::size_t head = 0; head < q.tail; ++head) {
            const int rc = qle_avl_tree_walk(&q.items[head]->parents, queue_parent, &q);
            TIRVO_ASSERT(rc == 0);
        }
    }
    return true;
}

bool is_plain(const superstate *s) {
    return dl_list_empty(&s->varexps) && !s->cannot_match && !s->count_charset;
}

// New numbers: the plain superstates first, then all others, each group in
// list order; the list is rebuilt in the new order.
bool renumber(tirvo_compile_ctx *ctx, superstates *ss) {
    std::unique_ptr<superstate *, decltype(&std::free)> order(
        static_cast<superstate **>(
            std::malloc(sizeof(superstate *) * (std::size_t{ss->ss_cnt} + 1))),
        &std::free);
    if (!order) {
        out_of_memory(ctx);
        return false;
    }
    uint32_t curr_id = 0;
    for (int plain = 1; plain >= 0; --plain) {
        dl_list_for_each(pos, &ss->superstate_list) {
            superstate *s = dl_list_entry(pos, superstate, list);
            if (is_plain(s) == (plain == 1)) {
                TIRVO_ASSERT(curr_id < ss->ss_cnt);
                order.get()[curr_id++] = s;
            }
        }
        if (plain)
            ss->plain_cnt = curr_id;
    }
    TIRVO_ASSERT_TEXT(curr_id == ss->ss_cnt, "curr_id == superstates->ss_cnt");
    dl_list_init(&ss->superstate_list);
    for (uint32_t i = 0; i < curr_id; ++i) {
        superstate *s = order.get()[i];
        s->id = i;
        dl_list_append(&ss->superstate_list, &s->list);
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------------------
// Public operations.

superstate *tirvo_superstate_new(tirvo_compile_ctx *ctx, superstates *ss) {
    if (ss->ss_cnt >= TIRVO_DFA_MAX_SUPERSTATES) {
        if (ss->location)
            tirvo_loc_message(ctx, ss->location,
                              "DFA too large: more than %" PRIu32 " superstates\n",
                              TIRVO_DFA_MAX_SUPERSTATES);
        out_of_memory(ctx);
        return nullptr;
    }
    auto *s = tirvo_compile_new<superstate>(ctx);
    if (!s)
        return nullptr;
    ++ctx->num_superstates;
    s->id = ss->ss_cnt++;
    tirvo_compile_report_progress(ctx);
    dl_list_init(&s->arcs);
    dl_list_init(&s->varexps);
    qle_avl_tree_init(&s->parents, parent_cmp);
    dl_list_append(&ss->superstate_list, &s->list);
    dl_list_append(&ss->pending, &s->pending_link);
    return s;
}

bool tirvo_superstate_digest(EVP_MD_CTX *md, const EVP_MD *md5, const struct active *rec,
                             uint32_t bitv_bytes, uint8_t out[TIRVO_SUPERSTATE_DIGEST_SIZE]) {
    if (EVP_DigestInit_ex(md, md5, nullptr) != 1)
        return false;
    if (bitv_bytes && EVP_DigestUpdate(md, rec->active_states, bitv_bytes) != 1)
        return false;
    // The counter part goes through a small buffer: the numbers are 4-byte
    // little-endian, which is the host's own layout (see tirvo_bitv.h).
    uint32_t buf[256];
    std::size_t n = 0;
    auto put = [&](uint32_t v) {
        if (n == std::size(buf)) {
            if (EVP_DigestUpdate(md, buf, sizeof buf) != 1)
                return false;
            n = 0;
        }
        buf[n++] = v;
        return true;
    };
    int64_t prev_assoc_id = -1;
    for (uint32_t i = 0; i < rec->num_assocs; ++i) {
        const assoc &a = rec->assocs[i];
        TIRVO_ASSERT_TEXT(a.nfa_state->id > prev_assoc_id, "assoc->nfa_state->id > prev_assoc_id");
        prev_assoc_id = a.nfa_state->id;
        if (!put(a.nfa_state->id) || !put(a.num_counts))
            return false;
        uint64_t prev_diff = uint64_t{1} << 32;
        for (uint32_t k = 0; k < a.num_counts; ++k) {
            const uint32_t diff = rec->pos - rec->counts[a.first + k].start;
            TIRVO_ASSERT_TEXT(diff < prev_diff, "diff < prev_diff");
            prev_diff = diff;
            if (!put(diff))
                return false;
        }
    }
    if (n && EVP_DigestUpdate(md, buf, n * sizeof(uint32_t)) != 1)
        return false;
    unsigned int len = 0;
    return EVP_DigestFinal_ex(md, out, &len) == 1 && len == TIRVO_SUPERSTATE_DIGEST_SIZE;
}

tirvo_nfa_hash *tirvo_nfa_hash_new(uint32_t bits) {
    TIRVO_ASSERT_TEXT(bits >= tirvo_nfa_hash_init_bits && bits < 32,
                      "bits >= tirvo_nfa_hash_init_bits && bits < 62 && size1 == size2");
    const std::size_t slots = std::size_t{1} << bits;
    void *block = std::calloc(1, sizeof(tirvo_nfa_hash) + slots * sizeof(superstate *));
    if (!block)
        return nullptr;
    auto *tab = static_cast<tirvo_nfa_hash *>(block);
    tab->num_slots = static_cast<uint32_t>(slots);
    tab->bits = bits;
    tab->slots =
        reinterpret_cast<superstate **>(static_cast<char *>(block) + sizeof(tirvo_nfa_hash));
    return tab;
}

void tirvo_nfa_hash_free(tirvo_nfa_hash *tab) {
    std::free(tab);
}

uint32_t tirvo_nfa_hash_index(const tirvo_nfa_hash *tab, const uint8_t *key) {
    uint64_t w[3];
    std::memcpy(w, key, sizeof w);
    const uint64_t h = (w[0] ^ w[1] ^ w[2]) & ((uint64_t{1} << tab->bits) - 1);
    TIRVO_ASSERT_TEXT(h < tab->num_slots, "h < hash_tab->num_slots");
    return static_cast<uint32_t>(h);
}

void tirvo_nfa_hash_insert(tirvo_nfa_hash *tab, superstate *s) {
    const uint32_t h = tirvo_nfa_hash_index(tab, s->key);
    ++tab->num_entries;
    s->hash_next = tab->slots[h];
    tab->slots[h] = s;
}

int tirvo_nfa_hash_add(tirvo_nfa_hash **slot, superstate *s, superstates *ss) {
    tirvo_nfa_hash *tab = *slot;
    if (static_cast<double>(tab->num_entries) > 0.9 * static_cast<double>(tab->num_slots)) {
        if (tab->bits + 1 >= 32)
            return -1;
        tirvo_nfa_hash *bigger = tirvo_nfa_hash_new(tab->bits + 1);
        if (!bigger)
            return -1;
        dl_list_for_each(pos, &ss->superstate_list)
            tirvo_nfa_hash_insert(bigger, dl_list_entry(pos, superstate, list));
        tirvo_nfa_hash_free(tab);
        *slot = bigger;
        return 0;
    }
    tirvo_nfa_hash_insert(tab, s);
    return 0;
}

void tirvo_superstates_release(superstates *ss) {
    if (!ss)
        return;
    tirvo_nfa_hash_free(ss->hash_tab);
    ss->hash_tab = nullptr;
    dl_list_for_each(pos, &ss->pending) {
        superstate *s = dl_list_entry(pos, superstate, pending_link);
        std::free(s->active);
        s->active = nullptr;
    }
}

void tirvo_dfa_finish(tirvo_compile_ctx *ctx, superstates *ss) {
    if (ctx->error)
        return;
    dl_list_for_each(pos, &ss->superstate_list) {
        superstate *s = dl_list_entry(pos, superstate, list);
        if (s->varexps.next != s->varexps.prev)
            dl_list_sort(&s->varexps, varexp_position_cmp);
    }
    collect_parents(ctx, ss);
    if (ctx->error || !compute_matchability(ctx, ss))
        return;
    dl_list_for_each(pos, &ss->superstate_list) {
        superstate *s = dl_list_entry(pos, superstate, list);
        s->matching_next_state_exists = 0;
        dl_list_for_each(a, &s->arcs) {
            if (!dl_list_empty(&dl_list_entry(a, superstate_arc, list)->target->varexps)) {
                s->matching_next_state_exists = 1;
                break;
            }
        }
    }
    if (!renumber(ctx, ss))
        return;
    if (ctx->flags.show_superstates)
        tirvo_superstates_print(ctx, ss);
    if (ctx->dfa_graph_file)
        tirvo_dfa_write_graph(ctx, ctx->dfa_graph_file, ss);
}

void tirvo_dfa_build_entry(tirvo_compile_ctx *ctx, tirvo_regex_entry *entry) {
    struct nfa *nfa = entry->nfa;
    TIRVO_ASSERT(nfa != nullptr);
    builder b{};
    b.ctx = ctx;
    b.nfa = nfa;
    b.num_states = nfa->num_states;
    b.words = static_cast<uint32_t>(tirvo_bitv_words(nfa->num_states));
    b.alphabet_size = static_cast<uint32_t>(ctx->alphabet_size);
    b.trace = ctx->flags.show_superstates;
    b.count_superstates = !ctx->flags.no_count_superstates;
    if (!prepare_states(b) || !prepare_masks(b))
        return;
    if (ctx->flags.show_nfa)
        tirvo_nfa_print(ctx, nfa);

    auto *ss = tirvo_compile_new<superstates>(ctx);
    if (!ss)
        return;
    dl_list_init(&ss->superstate_list);
    dl_list_init(&ss->pending);
    ss->location = &entry->regex->location;
    ss->bitv_words = b.words;
    ss->bitv_bytes = static_cast<uint32_t>(tirvo_bitv_bytes(nfa->num_states));
    ss->hash_tab = tirvo_nfa_hash_new(tirvo_nfa_hash_init_bits);
    if (!ss->hash_tab) {
        out_of_memory(ctx);
        return;
    }
    entry->superstates = ss;
    b.ss = ss;
    if (!prepare_scratch(b))
        return;
    make_initial(b);
    if (ctx->error)
        return;
    superstate_expand(b);
    if (ctx->error)
        return;
    tirvo_nfa_hash_free(ss->hash_tab);
    ss->hash_tab = nullptr;
    tirvo_dfa_finish(ctx, ss);
}

int tirvo_dfa_build(tirvo_compile_ctx *ctx) {
    dl_list_for_each(pos, &ctx->regex_entries) {
        tirvo_regex_entry *entry = dl_list_entry(pos, tirvo_regex_entry, list);
        char where[TIRVO_LOCATION_TEXT_SIZE];
        if (ctx->flags.progress)
            std::printf("compiling DFA for regex at %s:%s\n", ctx->input_name,
                        tirvo_location_text(ctx, &entry->regex->location, where));
        tirvo_dfa_build_entry(ctx, entry);
        if (ctx->flags.progress && entry->superstates)
            std::printf("DFA for regex at %s:%s complete! %d states\n", ctx->input_name,
                        tirvo_location_text(ctx, &entry->regex->location, where),
                        static_cast<int>(entry->superstates->ss_cnt));
        if (ctx->error)
            return ctx->error;
    }
    if (ctx->flags.progress)
        std::printf("Total DFA states: %" PRId64 "\n", ctx->num_superstates);
    return ctx->error;
}
