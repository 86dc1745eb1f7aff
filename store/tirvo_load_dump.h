/* Graph dump of a loaded DFA in the dot language.
 *
 * The loader writes the graph of every DFA to the engine's debug stream
 * after a load while debug is on; a host or a test may write it anywhere.
 * The dump reads only the loaded tables: the states with their shapes and
 * ids, the count information of count states, and per state one edge per
 * distinct target, labelled with the set of symbols that lead there in the
 * bracket notation of the compiler's listings (runs of three or more as
 * first-last, the negated form of the byte complement when that is shorter,
 * backslashes doubled and double quotes escaped for the label).
 *
 * This header is plain C so that a C host can include it.
 */
#ifndef TIRVO_STORE_TIRVO_LOAD_DUMP_H
#define TIRVO_STORE_TIRVO_LOAD_DUMP_H

#include "store/tirvo_load.h"

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Writes the graph of `dfa`, one of the DFAs of `fingerprint`, to `stream`:
 * "digraph DFA {\n" and "  rankdir=LR;\n"; per state s the node
 * "  %d[shape=%s%s];" (box from the first active state up, else doublecircle
 * for the initial state and circle for the others; ", style=dotted" for a
 * cannot-match state), followed, when the state has ids, by a dot comment
 * that opens with "bycp_id_or_sid_cnt: %d id(s):" and lists " %d" per id,
 * and a line end; per count state
 * "  %d -> %d [ label = \"count %u:<set>\" ];\n"; per state and distinct
 * target, in the order of the first symbol that leads to it,
 * "  %u -> %u [ label = \"<set>\" ];\n"; and "}\n". The symbols are 0-259,
 * or 0-255 in a low-level DFA, whose records hold no special targets. */
void tirvo_fp_dfa_print_graph(FILE *stream, const tirvo_fingerprint *fingerprint,
                              const tirvo_fp_dfa *dfa);

#ifdef __cplusplus
}
#endif

#endif
