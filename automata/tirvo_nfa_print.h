// Graphs of NFAs in the dot language.
//
// The NFA construction can show an NFA at four moments: raw, with its empty
// arcs and its single begin state as initial state (-X); after the closure,
// before the removal (--nfa-closure-graph-file); after the removal, still
// with the old ids (--nfa-graph-file-before-renumbering); and final (-x). One
// writer serves all four. A node's shape tells its role: box3d for an initial
// state that runs a variable expression, box for any other such state,
// doublecircle for another initial state, circle otherwise. Character arcs
// carry the state's set in display form (escaped for a double-quoted label),
// except that the arcs of a count state say "keep_on" or "count_trans" and
// the count state gets a self-loop with its count and its set; empty arcs
// have no label.
//
// The streams may be files or the standard output. Every write is checked,
// and the stream is flushed and its error flag tested at the end of a graph,
// so that a full disk shows even when everything went into the buffer.
#ifndef TIRVO_AUTOMATA_TIRVO_NFA_PRINT_H
#define TIRVO_AUTOMATA_TIRVO_NFA_PRINT_H

#include <cstdio>

struct tirvo_compile_ctx;
struct nfa;

// Writes `nfa` as one graph "digraph NFA { ... }" to `f`, with the sets in
// display form up to the context's alphabet size. Reads the NFA only (it
// takes a block of the compile pool for the set of initial states). Returns
// 0, or -1 with the context's `error` set: 5 after "could not write file: %s"
// (the system's text for the error, no line feed) on the standard error
// stream when a write or the final flush failed, 2 when memory is exhausted.
int tirvo_nfa_write_graph(tirvo_compile_ctx *ctx, FILE *f, const struct nfa *nfa);

#endif
