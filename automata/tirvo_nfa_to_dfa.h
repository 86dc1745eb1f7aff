// Superstate construction: the deterministic automaton of one NFA, with
// repetition counters, count superstates and the finishing passes.
//
// A superstate is a set of active normal NFA states together with, for every
// active count state, the list of its running repetition counters. The
// construction is a subset construction with these decisions:
//
// - Per superstate the alphabet is cut into equivalence classes at the
//   boundaries of the active states' character sets (their `eq_class_trans`),
//   and one child is made per class, not per symbol. Every decision about a
//   class is taken from its first symbol.
// - The successor of the normal states is computed a word at a time from
//   three per-symbol masks (`kept`, `incremented`, `looped`) built once per
//   NFA: a state that only loops on itself stays, a state whose only other
//   target is the next id moves by a shift, and only states with general
//   targets are walked one by one. Symbols that every state treats alike
//   share one triple of masks, so the masks cost one triple per distinct
//   class of the whole NFA rather than one per symbol.
// - A counter is stored as the `pos` at which it started; `pos` counts the
//   consumed symbols (assertion symbols do not count), so every counter
//   advances by the one increment of `pos`. A superstate's identity is the
//   MD5 digest of its state set and its counter values (not of `pos`), kept
//   in a hash table that doubles when its load passes 0.9.
// - Pending superstates are expanded last-created-first, and an expanded
//   superstate's active record is freed at once, so that memory holds the
//   active records of the pending superstates only.
// - A superstate whose single counter runs while nothing else changes on the
//   counted symbols becomes a count superstate: it stands for every value of
//   that counter and counts at run time (off with --no-count-superstates).
//
// After the expansion the finishing passes sort each superstate's variable
// expressions by source position, collect the parents of every superstate,
// compute `cannot_match` backwards from the superstates with variable
// expressions, set `matching_next_state_exists`, and renumber so that the
// plain superstates (nothing to do on entry) come first.
//
// Memory: superstates, arcs, parent nodes, variable-expression elements and
// the per-NFA masks come zero-filled from the compile pool and live until the
// context is cleaned up. Only the hash table and the active records of
// pending superstates are heap blocks; the construction frees them, and after
// a failure tirvo_superstates_release (called by the compile cleanup) does.
// The candidate record of a child, the class set and the set of entering
// count states live in scratch buffers of the construction that are reused
// for every child. Memory exhaustion sets the context's `error` to 2 and the
// construction stops. An entry that would need more than
// TIRVO_DFA_MAX_SUPERSTATES superstates ends with a message and error 2
// instead of running until the machine's memory is gone.
//
// Design choice: the counters of a record are kept in two arrays (the assocs
// in ascending count-state id, and all counters one assoc after the other)
// instead of linked lists, so that a candidate record is built in reused
// buffers and a pending superstate's record is one heap block.
#ifndef TIRVO_AUTOMATA_TIRVO_NFA_TO_DFA_H
#define TIRVO_AUTOMATA_TIRVO_NFA_TO_DFA_H

#include "automata/tirvo_bitv.h"
#include "automata/tirvo_charset.h"
#include "lang/tirvo_location.h"
#include "lib/avl/private/avl.h"
#include "lib/dl_list/dl_list.h"

#include <openssl/types.h>

#include <cstddef>
#include <cstdint>

struct tirvo_compile_ctx;
struct tirvo_regex_entry;
struct tirvo_varexp_entry;
struct nfa;
struct nfa_state;

// Bits of the first superstate hash table (4 slots).
constexpr uint32_t tirvo_nfa_hash_init_bits = 2;

// Most superstates one entry may have; more ends the stage with error 2.
constexpr uint32_t TIRVO_DFA_MAX_SUPERSTATES = uint32_t{1} << 24;

// Size of a superstate key: the 16-byte MD5 digest, then 8 zero bytes.
constexpr std::size_t TIRVO_SUPERSTATE_KEY_SIZE = 24;

// Size of an MD5 digest.
constexpr std::size_t TIRVO_SUPERSTATE_DIGEST_SIZE = 16;

// One running repetition counter.
struct count_node {
    uint32_t start; // the `pos` at which the counter started; its value is pos - start
};

// The counters of one active count state.
struct assoc {
    struct nfa_state *nfa_state; // the count state
    uint32_t first;              // index of its first (oldest) counter in the record's `counts`
    uint32_t num_counts;         // number of counters, at least 1; values strictly decrease
};

// The active record of a superstate: its state set and its counters.
struct active {
    uint32_t pos;              // consumed symbols since the initial superstate (not digested)
    uint32_t num_assocs;       // entries of `assocs`
    uint32_t num_counts;       // entries of `counts`
    tirvo_bitv *active_states; // the active normal states; never a count state
    assoc *assocs;             // strictly ascending by the id of their count state
    count_node *counts;        // the counters of all assocs, one assoc after the other
};

struct superstate;

// An arc of a superstate: the symbols `first` to `first` + `len` - 1.
struct superstate_arc {
    dl_list list;       // membership in the superstate's `arcs`
    uint32_t first;     // first symbol
    uint32_t len;       // number of symbols
    superstate *target; // the superstate reached
};

// One element of a superstate's `varexps`.
struct superstate_varexp {
    dl_list list;                     // membership in `varexps`
    tirvo_varexp_entry *varexp_entry; // the expression run when the superstate is entered
};

// A node of a superstate's `parents` tree. The key is the parent's id at the
// time the parents were collected (its creation number); the tree keeps that
// order after the renumbering.
struct superstate_parent {
    qle_avl_node node;  // tree links
    uint32_t id;        // the key: the parent's id when it was inserted
    superstate *parent; // a superstate with an arc to the tree's owner
};

// One state of the deterministic automaton.
struct superstate {
    dl_list list;                           // membership in `superstate_list`
    dl_list pending_link;                   // membership in `pending` while pending
    uint32_t id;                            // creation number; the final number after finishing
    superstate *hash_next;                  // next superstate in the same hash bucket
    uint8_t key[TIRVO_SUPERSTATE_KEY_SIZE]; // MD5 digest of the active record, 8 zero bytes
    struct active *active;                  // heap record while pending, then null
    dl_list arcs;                           // superstate_arc: ascending by `first`, disjoint
    qle_avl_tree parents;                   // superstate_parent: superstates with an arc here
    dl_list varexps;                        // superstate_varexp: expressions run on entry
    tirvo_charset *count_charset;           // count superstates: the counted symbols; else null
    uint32_t count;                     // count superstates: counted symbols to the exit; else 0
    uint8_t cannot_match;               // no path of arcs reaches a superstate with varexps
    uint8_t matching_next_state_exists; // an arc leads to a superstate with varexps
};

// The hash table of superstates: 2^bits bucket heads, chained through
// `hash_next`. One zero-filled heap block holds the header and the slots.
struct tirvo_nfa_hash {
    uint32_t num_slots;   // 2^bits
    uint32_t bits;        // number of key bits used for the slot
    uint64_t num_entries; // superstates inserted
    superstate **slots;   // the bucket heads (right after the header in the block)
};

// The superstates of one regex entry.
struct superstates {
    superstate *initial;            // the initial superstate
    dl_list superstate_list;        // every superstate: creation order, id order after finishing
    dl_list pending;                // superstates whose children are not made yet (pending_link)
    uint32_t bitv_bytes;            // byte size of a state set of the NFA
    uint32_t bitv_words;            // word size of a state set of the NFA
    tirvo_nfa_hash *hash_tab;       // the hash table (heap) during the construction, then null
    uint32_t ss_cnt;                // number of superstates; the next id
    uint32_t plain_cnt;             // plain superstates (ids 0 to plain_cnt - 1 after finishing)
    const tirvo_location *location; // the entry's regex, for messages
};

// The stage driver: builds the superstates of every regex entry of `ctx` in
// list order, with the --progress lines ("compiling DFA for regex at ...",
// "DFA for regex at ... complete! N states", and at the end "Total DFA
// states: N"). Returns the context's `error`: 0, 2 (memory, or an entry over
// TIRVO_DFA_MAX_SUPERSTATES) or 5 (the DFA graph could not be written); the
// stage stops at the first failure, without the total line.
int tirvo_dfa_build(tirvo_compile_ctx *ctx);

// Builds the superstates of one entry whose NFA is built: the masks (and the
// NFA listing with --show-nfa), the initial superstate, the expansion (with
// the trace of --show-superstates), then tirvo_dfa_finish. The entry's
// `superstates` points to the result as soon as it exists, also after a
// failure, which is left in `error`.
void tirvo_dfa_build_entry(tirvo_compile_ctx *ctx, tirvo_regex_entry *entry);

// The finishing passes over the expanded superstates `ss`: sorts each
// superstate's variable expressions by source position, collects parents,
// sets `cannot_match` and `matching_next_state_exists`, renumbers (plain
// superstates first, `plain_cnt`), and prints the listing (--show-superstates)
// and writes the DFA graph (-y). Runs only when `error` is 0; sets 2 when a
// temporary array cannot be allocated, 5 when the graph cannot be written.
void tirvo_dfa_finish(tirvo_compile_ctx *ctx, superstates *ss);

// Frees the heap parts of `ss` (may be null): the hash table and the active
// records of superstates still pending after a failure. The pool records stay.
void tirvo_superstates_release(superstates *ss);

// A new superstate of `ss`: zero-filled from the pool, the next id, empty
// arcs, varexps and parents, appended to `superstate_list` and `pending`;
// adds 1 to the context's total and calls its progress report. Null with
// `error` 2 when memory is exhausted or `ss` already holds
// TIRVO_DFA_MAX_SUPERSTATES superstates (then a message has been printed at
// the entry's location).
superstate *tirvo_superstate_new(tirvo_compile_ctx *ctx, superstates *ss);

// Writes the MD5 digest of `rec` into `out`: the `bitv_bytes` bytes of its
// state set, then per assoc the count state's id, the number of counters and
// each counter's value (pos - start), each as a 4-byte little-endian number.
// `md` is a digest context that the caller reuses; `md5` the fetched MD5.
// Returns false when the crypto library failed. Asserts that the assocs
// ascend by id and that the values of each assoc strictly decrease.
bool tirvo_superstate_digest(EVP_MD_CTX *md, const EVP_MD *md5, const struct active *rec,
                             uint32_t bitv_bytes, uint8_t out[TIRVO_SUPERSTATE_DIGEST_SIZE]);

// A zero-filled heap table with 2^`bits` empty slots, or null when memory is
// exhausted. `bits` must lie in [tirvo_nfa_hash_init_bits, 32) (assertion).
// Free it with tirvo_nfa_hash_free.
tirvo_nfa_hash *tirvo_nfa_hash_new(uint32_t bits);

// Frees a table made by tirvo_nfa_hash_new (null is ignored).
void tirvo_nfa_hash_free(tirvo_nfa_hash *tab);

// The slot of `key` (24 bytes): the XOR of its three little-endian 64-bit
// words, masked to `bits` bits.
uint32_t tirvo_nfa_hash_index(const tirvo_nfa_hash *tab, const uint8_t *key);

// Puts `s` at the head of the bucket of its key and counts it.
void tirvo_nfa_hash_insert(tirvo_nfa_hash *tab, superstate *s);

// Adds the new superstate `s` (already in `ss`'s `superstate_list`) to the
// table in `*slot`. When the table holds more than 0.9 entries per slot it is
// first replaced by one with twice the slots holding every superstate of the
// list (including `s`). Returns 0, or -1 when the larger table cannot be
// allocated (the old table stays).
int tirvo_nfa_hash_add(tirvo_nfa_hash **slot, superstate *s, superstates *ss);

#endif
