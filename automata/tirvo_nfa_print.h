// Listings and graphs of the automata construction.
//
// The construction can show its work. Graphs in the dot language: an NFA at
// four moments, raw, with its empty arcs and its single begin state as
// initial state (-X); after the closure, before the removal
// (--nfa-closure-graph-file); after the removal, still with the old ids
// (--nfa-graph-file-before-renumbering); final (-x); and the finished DFA
// (-y). Text listings on the standard output: the NFA with its boundary sets
// and transition masks (--show-nfa), the active records of the expansion
// trace and the finished superstates (--show-superstates).
//
// In an NFA graph a node's shape tells its role: box3d for an initial state
// that runs a variable expression, box for any other such state,
// doublecircle for another initial state, circle otherwise. Character arcs
// carry the state's set in display form (escaped for a double-quoted label),
// except that the arcs of a count state say "keep_on" or "count_trans" and
// the count state gets a self-loop with its count and its set; empty arcs
// have no label. In the DFA graph a superstate with variable expressions is a
// box, superstate 0 otherwise a double circle, a cannot-match superstate is
// dotted, a count superstate has a self-loop with its count and counted set,
// and the arcs of one superstate to one target are drawn as one edge
// labelled with the union of their ranges.
//
// The graph streams may be files or the standard output. Every write is
// checked, and the stream is flushed and its error flag tested at the end of
// a graph, so that a full disk shows even when everything went into the
// buffer. The listings go to the standard output unchecked, like every other
// listing.
#ifndef TIRVO_AUTOMATA_TIRVO_NFA_PRINT_H
#define TIRVO_AUTOMATA_TIRVO_NFA_PRINT_H

#include <cstdio>

struct tirvo_compile_ctx;
struct nfa;
struct active;
struct superstates;

// Writes `nfa` as one graph "digraph NFA { ... }" to `f`, with the sets in
// display form up to the context's alphabet size. Reads the NFA only (it
// takes a block of the compile pool for the set of initial states). Returns
// 0, or -1 with the context's `error` set: 5 after "could not write file: %s"
// (the system's text for the error, no line feed) on the standard error
// stream when a write or the final flush failed, 2 when memory is exhausted.
int tirvo_nfa_write_graph(tirvo_compile_ctx *ctx, FILE *f, const struct nfa *nfa);

// Prints the NFA listing of `nfa` on the standard output: every state with
// its location, set, targets, variable expression, boundary set and count,
// then the transition masks per state and symbol below the context's
// alphabet size. Needs the masks of the superstate construction.
void tirvo_nfa_print(const tirvo_compile_ctx *ctx, const struct nfa *nfa);

// Prints the active record `rec` of a superstate of `nfa` on the standard
// output: its normal states ascending, then the counter values of every
// active count state. A count state in the state set is an internal error.
void tirvo_active_print(const struct nfa *nfa, const struct active *rec);

// Prints the finished superstates `ss` on the standard output in id order:
// flags, variable expressions, count data and arcs.
void tirvo_superstates_print(const tirvo_compile_ctx *ctx, const struct superstates *ss);

// Writes the finished superstates `ss` as one graph "digraph DFA { ... }" to
// `f`. Returns 0, or -1 with the context's `error` set: 5 after "could not
// write file: %s" (no line feed) when a write or the final flush failed, 5
// without a message when a set in a label could not be written, 2 when the
// marks of the arcs cannot be allocated (the graph stays incomplete).
int tirvo_dfa_write_graph(tirvo_compile_ctx *ctx, FILE *f, const struct superstates *ss);

#endif
