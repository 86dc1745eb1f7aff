// The parse-tree dump (-D): the parsed regular expressions and their
// variable expressions as an indented text tree.
//
// A regex prints its location and number of branches, each branch its
// location and then its elements two blanks further in. A piece prints its
// location, its bounds unless they are exactly {1, 1}, and then either the
// character set in display form or, for a group, the group's regex on the
// following lines. A variable-expression element prints the location and
// bound of its expression and then the expression, one node per line with
// its operator, operand count and result size, operands two blanks further
// in. Locations are the position texts of the message prefix (offsets in
// VGR mode). Every function writes to the given stream at indentation `n`
// (the number of blanks that starts its lines); a record of an unknown kind
// is an internal error that prints "internal error" and aborts.
#ifndef TIRVO_LANG_TIRVO_DUMP_H
#define TIRVO_LANG_TIRVO_DUMP_H

#include <cstdio>

struct tirvo_compile_ctx;
struct tirvo_regex;
struct tirvo_branch_elem;
struct tirvo_varexp;

// Prints `regex` and everything below it at indentation `n`.
void tirvo_dump_regex(FILE *f, const tirvo_regex *regex, int n, const tirvo_compile_ctx *ctx);

// Prints one branch element, starting with `n` blanks.
void tirvo_dump_branch_elem(FILE *f, const tirvo_branch_elem *elem, int n,
                            const tirvo_compile_ctx *ctx);

// Prints expression node `node` and its operands; the caller has written the
// blanks before its first line, later lines are indented from `n`.
void tirvo_dump_varexp(FILE *f, const tirvo_varexp *node, int n, const tirvo_compile_ctx *ctx);

#endif
