// NFA construction: one non-deterministic automaton per regex entry.
//
// The stage turns the parse tree of every regex entry (the main expression,
// its sub-expressions and the arguments of regex(...) and record_marking(...))
// into an NFA whose states are the later superstates' elements. The design
// choices, each of which the superstate construction relies on:
//
// - Every state has at most one leaving character set (`arc_label`); all of
//   its character arcs carry that one set, so a state "consumes" a set and
//   moves to all of its `next_states` at once.
// - Bounded repetition of a single character set is not unrolled: x{3,7}
//   becomes a count state A (count 3) followed by a `keep_on` count state
//   (count 4) and an end state, so x{100000} costs a handful of states. Groups
//   and the small bounds ?, *, + and {1} are expanded into copies of the atom.
// - Empty arcs exist only while the NFA is built. After numbering, every
//   state's targets are closed over empty arcs and the states that neither
//   consume a symbol nor run a variable expression are removed, so a set of
//   remaining states is already closed.
// - State ids follow creation order, and a sequence of pieces is created in
//   order, so the consuming state of piece k + 1 normally has the id of the
//   consuming state of piece k plus one: the superstate construction moves
//   such chains bit-parallel with one shift.
//
// The closure keeps its sets in lists with a visit flag per state instead of
// allocated sets; its depth-first search walks with scratch fields of the
// states rather than the call stack, because chains of empty arcs can be as
// long as the NFA (a group of variable expressions repeated many times).
//
// Every record (states, list elements, the `nfa` itself) is zero-filled from
// the compile pool and released with the compile context. Allocation failure
// sets the context's `error` to 2; every step tests `error` after each call
// and returns at once. The construction refuses an NFA of more than
// TIRVO_NFA_MAX_STATES states or TIRVO_NFA_MAX_ARCS closure arcs (error 2 with
// a message), so that a huge expansion such as (ab){100000000} ends with an
// error instead of exhausting the machine.
#ifndef TIRVO_AUTOMATA_TIRVO_REGEX_TO_NFA_H
#define TIRVO_AUTOMATA_TIRVO_REGEX_TO_NFA_H

#include "automata/tirvo_bitv.h"
#include "automata/tirvo_charset.h"
#include "lang/tirvo_location.h"
#include "lib/dl_list/dl_list.h"

#include <cstdint>

struct tirvo_compile_ctx;
struct tirvo_regex;
struct tirvo_branch_elem;
struct tirvo_piece;
struct tirvo_varexp_entry;

// Most states one NFA may have; more ends the stage with error 2.
constexpr uint32_t TIRVO_NFA_MAX_STATES = uint32_t{1} << 22;
// Most arcs the closure may add to one NFA; more ends the stage with error 2.
constexpr uint64_t TIRVO_NFA_MAX_ARCS = uint64_t{1} << 26;

// Kinds of NFA states.
enum tirvo_nfa_state_type : int {
    tirvo_nfa_state_type_normal = 0, // consumes its set and moves to its targets
    tirvo_nfa_state_type_count = 1,  // counts repetitions of its set (`count`)
};

struct nfa_state;

// One element of a state list (`next_states`, `empty_arcs`, `initial_state`).
struct nsl {
    dl_list list;                // membership in the list
    struct nfa_state *nfa_state; // the listed state
};

// Flags of a state.
struct nfa_state_flags {
    uint8_t keep_on : 1;   // count state: targets active at once and after each repetition
    uint8_t removable : 1; // set by the closure: no `next_states` and no `varexp_entry`
    uint8_t touched : 1;   // visit mark of the closure's search; clear outside it
    uint8_t listed : 1;    // the closure's mark for states already in its list; clear outside it
};

// One NFA state.
struct nfa_state {
    dl_list list;                     // link in `nfa_states` (or the context's new states)
    dl_list closure_link;             // link in the collection of one closure
    uint32_t id;                      // number in its NFA, 0 to n - 1 = position in `nfa_states`
    tirvo_nfa_state_type type;        // normal or count state
    tirvo_charset *arc_label;         // the one leaving set (shared, not owned), or null
    dl_list next_states;              // nsl: targets of the character arcs, no target twice
    dl_list empty_arcs;               // nsl: targets of empty arcs, no target twice
    tirvo_varexp_entry *varexp_entry; // expression run when the state becomes active, or null
    tirvo_charset *eq_class_trans;    // boundary set of `arc_label`; made by the superstate stage
    const tirvo_location *location;   // the parse-tree location the state was made for
    uint32_t count;                   // count states: the repetition count
    nfa_state_flags flags;            // keep_on, removable, touched, listed
    nfa_state *closure_parent;        // closure search: the state it was discovered from
    dl_list *closure_pos;             // closure search: next empty arc to look at
};

// The three transition masks of one input symbol c (state sets of
// `num_states` bits), built by the superstate stage.
struct nfa_trans_mask {
    tirvo_bitv *kept;        // states that stay active on c (self target only)
    tirvo_bitv *incremented; // states whose only target on c has the next id in the same word
    tirvo_bitv *looped;      // states with other targets on c, walked one by one
};

// The NFA of one regex entry.
struct nfa {
    dl_list initial_state;            // nsl: the initial states
    dl_list nfa_states;               // every state, in id order
    uint32_t num_states;              // number of states
    nfa_state **nfa_state_vect;       // `num_states` state references, index = id; null for none
    tirvo_bitv *bound_charset_states; // the count states; made by the superstate stage
    nfa_trans_mask trans_masks[TIRVO_MAX_ALPHABET_SIZE]; // per symbol; made by the superstate stage
};

// Builds the NFA of every regex entry of `ctx` in list order and stores it in
// the entry's `nfa`, writing the requested graphs (-X, the closure graph, the
// graph before renumbering, -x) and, with --progress, one line per entry.
// The count extension is off with `no_count_extension`, and for the first
// entry only with `no_main_count_extension` (cleared after that entry).
// Returns the context's `error`: 0, 2 (memory, or an NFA over the size
// limits) or 5 (a graph could not be written); the stage stops at the first.
int tirvo_nfa_build(tirvo_compile_ctx *ctx);

// A new normal state located at `loc` (borrowed), appended to the context's
// list of new states; null with `error` 2 when memory is exhausted or the
// list already holds TIRVO_NFA_MAX_STATES states (then a message has been
// printed at `loc`).
nfa_state *tirvo_nfa_state_new(tirvo_compile_ctx *ctx, const tirvo_location *loc);

// Adds a character arc from `s` to `t` labelled `set` (shared, not copied):
// `set` becomes the state's leaving set, `t` joins `next_states` unless it is
// there. A state that already has a different set prints "internal error:
// more than one leaving charset in NFA state" at its location and aborts.
// Sets `error` 2 when memory is exhausted.
void tirvo_nfa_add_arc(tirvo_compile_ctx *ctx, nfa_state *s, nfa_state *t, tirvo_charset *set);

// Adds an empty arc from `s` to `t` unless there is one; sets `error` 2 when
// memory is exhausted.
void tirvo_nfa_add_empty_arc(tirvo_compile_ctx *ctx, nfa_state *s, nfa_state *t);

// Builds the fragment of `regex`: a new begin and end state (`*beg`, `*end`)
// joined through every branch. A regex without branches leaves them
// unconnected. On failure `error` is set and the results are unspecified.
void tirvo_nfa_regex_fragment(tirvo_compile_ctx *ctx, const tirvo_regex *regex, nfa_state **beg,
                              nfa_state **end);

// Builds the fragment of one branch element: a variable-expression element,
// or a piece expanded into copies of its atom or built with count states.
// Sets `*piece_beg` and `*piece_end`. An unknown element kind prints
// "internal error: tirvo_regex_to_nfa: <line>" at the element and aborts.
void tirvo_nfa_elem_fragment(tirvo_compile_ctx *ctx, const tirvo_branch_elem *elem,
                             nfa_state **piece_beg, nfa_state **piece_end);

// Builds one copy of the atom of `piece`: the fragment of its group, or two
// new states joined by an arc labelled with its set. An unknown atom kind
// prints the internal error above at the piece and aborts.
void tirvo_nfa_atom_fragment(tirvo_compile_ctx *ctx, const tirvo_piece *piece, nfa_state **beg,
                             nfa_state **end);

// Numbers the states of `nfa` 0 to n - 1 in list order and sets `num_states`.
void tirvo_nfa_number_states(struct nfa *nfa);

// Adds to `list` (of nsl elements) the states reachable from `s` over one or
// more empty arcs that are not `removable` and not in the list yet, each
// inserted at the front, so that the list ends with its earlier elements
// preceded by the new ones in reverse discovery order. `s` itself counts only
// when an empty-arc cycle leads back to it. Returns the number of elements
// added; sets `error` 2 (and may have added some) when memory is exhausted.
uint64_t tirvo_nfa_closure(tirvo_compile_ctx *ctx, dl_list *list, nfa_state *s);

#endif
