// The variable registry: one record per distinct variable of a fingerprint.
//
// A variable is identified by its name, its scope (shared, written with a
// leading "$", or local) and its size in bits (1, 8, 16, 32 or 64) together:
// x, $x and x@8 are three variables. The parser registers every variable it
// meets; the first use creates the record, with the next id of the compile
// (0, 1, 2, ... in order of creation) and the location of that use, and every
// later use gets the same record. The byte-code compiler points its
// relocation entries at the records and the fingerprint file writer stores
// them all.
//
// The records live in an AVL tree of the compile context ordered by scope
// (local first), then name (byte-wise), then size; the tree's comparator
// looks only at the record's fields after its node header, so any record
// with name, scope and size filled in serves as a search key. Records come
// from the compile pool. Using one name with different sizes or scopes is
// allowed but suspicious, so the registry warns about it.
#ifndef TIRVO_BYC_TIRVO_VARIABLE_H
#define TIRVO_BYC_TIRVO_VARIABLE_H

#include "lang/tirvo_location.h"
#include "lib/avl/private/avl.h"

#include <cstdint>
#include <cstdio>

struct tirvo_compile_ctx;

// One variable.
struct tirvo_variable {
    qle_avl_node node;       // membership in the registry tree
    const char *name;        // identifier without "$" and size; owned by the compile pool
    int32_t is_shared;       // 1 shared ("$"), 0 local
    int32_t size;            // size in bits: 1, 8, 16, 32 or 64
    int32_t id;              // number in order of creation, from 0
    tirvo_location location; // where the variable was first met
};

// The registry tree's comparator, given the payloads (the bytes after the
// node header) of two records: negative, 0 or positive by scope (local
// first), name and size.
int tirvo_variable_compare(const void *a, const void *b);

// The record of variable (`name`, `is_shared`, `size`), created on first use
// with the next id and `loc`. A new record whose name is already used with
// another size or scope prints, unless `quiet`, one warning block per such
// record in tree order. `name` must stay valid as long as the compile (the
// parser's identifiers live in the pool). Returns null when the pool is
// exhausted (the context's `error` is 2) or after "too deep AVL tree"; a
// refused insert of any other kind is an internal error that aborts.
tirvo_variable *tirvo_variable_register(tirvo_compile_ctx *ctx, const char *name, int is_shared,
                                        int size, const tirvo_location *loc);

// The --show-variables listing of `tree` to `f`: "Variables:" and one line
// "  [$]name@size (id n)" per variable in tree order.
void tirvo_variables_print(FILE *f, qle_avl_tree *tree);

#endif
