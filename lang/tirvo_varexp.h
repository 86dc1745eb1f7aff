// Variable expressions: the expression nodes, the entries the matcher runs,
// conditions, and the grammar's actions that build them.
//
// A variable expression is a tree of `tirvo_varexp` nodes. Each node has an
// operator, up to three operands and the width of its value in bits
// (`result_size`, 0 for an expression without a value). Leaves carry their
// datum in the operands' place: a literal its 64-bit value, a variable node
// its registry record, a `subexp` or `record_marking` node the regex entry it
// starts. Every expression that the matcher runs gets a `tirvo_varexp_entry`
// (numbered in the order made, kept in the context's `varexp_entries`) and a
// branch element at its place in the branch; the byte-code compiler later
// turns each entry into a program.
//
// Conditions "(?{...})" at the end of a main branch test and set one-bit
// variables; while parsed they are a `tirvo_condition` record, and at the end
// of the branch they become one expression that also reports the branch's
// situation (or ends the sub-expression instance, in a sub-expression). The
// end of a branch without a condition likewise gets an expression that
// reports the current situation.
//
// All records are zero-filled from the compile pool. Functions that allocate
// return null (or a failure) when the pool is exhausted; the context's
// `error` is then 2.
#ifndef TIRVO_LANG_TIRVO_VAREXP_H
#define TIRVO_LANG_TIRVO_VAREXP_H

#include "lang/tirvo_location.h"
#include "lib/dl_list/dl_list.h"

#include <cstdint>

struct tirvo_compile_ctx;
struct tirvo_bycp;
struct tirvo_variable;
struct tirvo_regex_entry;
struct tirvo_branch;
struct tirvo_branch_elem;

// The operators of expression nodes; the codes are fixed (the dump prints
// their names, the byte-code compiler switches on them).
enum tirvo_varexp_oper : int {
    tirvo_varexp_literal = 0,         // a number, true, false, void: `value`
    tirvo_varexp_implies = 1,         // a -> b
    tirvo_varexp_cond = 2,            // a ? b : c
    tirvo_varexp_variable = 3,        // a variable: `variable`
    tirvo_varexp_major = 4,           // $major
    tirvo_varexp_minor = 5,           // $minor
    tirvo_varexp_patch = 6,           // $patch
    tirvo_varexp_build = 7,           // $build
    tirvo_varexp_fpver = 8,           // $fpver
    tirvo_varexp_dport = 9,           // $dport
    tirvo_varexp_cancel = 10,         // cancel
    tirvo_varexp_cancel_fp_ctx = 11,  // cancel_fp_ctx
    tirvo_varexp_sid = 12,            // sid(a)
    tirvo_varexp_crc = 13,            // CRC(a)
    tirvo_varexp_skip = 14,           // skip(a)
    tirvo_varexp_parse_be = 15,       // parse_be(n): n in `result_size`
    tirvo_varexp_parse_le = 16,       // parse_le(n)
    tirvo_varexp_parse_dec = 17,      // parse_dec(a)
    tirvo_varexp_parse_hex = 18,      // parse_hex(a)
    tirvo_varexp_parse_oct = 19,      // parse_oct(a)
    tirvo_varexp_parse_int = 20,      // parse_int(a)
    tirvo_varexp_subexp = 21,         // regex(...), "(?>...)": `regex_entry`
    tirvo_varexp_record_marking = 22, // record_marking(...): `regex_entry`
    tirvo_varexp_shleft = 23,         // a << b
    tirvo_varexp_shright = 24,        // a >> b
    tirvo_varexp_leq = 25,            // a <= b
    tirvo_varexp_geq = 26,            // a >= b
    tirvo_varexp_eq = 27,             // a == b
    tirvo_varexp_neq = 28,            // a != b
    tirvo_varexp_log_and = 29,        // a && b
    tirvo_varexp_log_or = 30,         // a || b
    tirvo_varexp_a_multiply = 31,     // v *= b
    tirvo_varexp_a_divide = 32,       // v /= b
    tirvo_varexp_a_rem = 33,          // v %= b
    tirvo_varexp_a_plus = 34,         // v += b
    tirvo_varexp_a_minus = 35,        // v -= b
    tirvo_varexp_a_shleft = 36,       // v <<= b
    tirvo_varexp_a_shright = 37,      // v >>= b
    tirvo_varexp_a_bit_and = 38,      // v &= b
    tirvo_varexp_a_bit_or = 39,       // v |= b
    tirvo_varexp_a_bit_xor = 40,      // v ^= b
    tirvo_varexp_post_inc = 41,       // v++
    tirvo_varexp_post_dec = 42,       // v--
    tirvo_varexp_pre_inc = 43,        // ++v
    tirvo_varexp_pre_dec = 44,        // --v
    tirvo_varexp_multiply = 45,       // a * b
    tirvo_varexp_divide = 46,         // a / b
    tirvo_varexp_rem = 47,            // a % b
    tirvo_varexp_plus = 48,           // a + b
    tirvo_varexp_minus = 49,          // a - b
    tirvo_varexp_bit_and = 50,        // a & b
    tirvo_varexp_bit_xor = 51,        // a ^ b
    tirvo_varexp_bit_or = 52,         // a | b
    tirvo_varexp_comma = 53,          // a , b
    tirvo_varexp_assign = 54,         // v = b
    tirvo_varexp_bit_not = 55,        // ~a
    tirvo_varexp_log_not = 56,        // !a
    tirvo_varexp_less = 57,           // a < b
    tirvo_varexp_greater = 58,        // a > b
    tirvo_varexp_unary_minus = 59,    // -a
    tirvo_varexp_paren = 60,          // (a)
    tirvo_varexp_cast = 61,           // (uintN_t) a, (void) a: N in `result_size`
};

// Number of operator codes (0 to 61).
constexpr int TIRVO_VAREXP_OPER_COUNT = 62;

// One expression node.
struct tirvo_varexp {
    tirvo_varexp_oper oper; // the operator
    int num_args;           // operand nodes in `arg`, 0 to 3
    union {
        tirvo_varexp *arg[3];           // the operands, in written order
        uint64_t value;                 // tirvo_varexp_literal: the value
        tirvo_variable *variable;       // tirvo_varexp_variable: the registry record
        tirvo_regex_entry *regex_entry; // subexp, record_marking: the entry started
    };
    int result_size;         // width of the value in bits; 0 for none
    tirvo_location location; // where the expression was written
    uint32_t situation;      // on the sid node a branch end adds: its situation; else 0
};

// One expression the matcher runs.
struct tirvo_varexp_entry {
    dl_list list;         // membership in the context's `varexp_entries`
    int id;               // number in the order made, from 0
    tirvo_varexp *varexp; // the expression
    tirvo_bycp *bycp;     // the byte-code program, made by the byte-code compiler
    uint32_t bound;       // concurrent instances: 1 by default, 0-31, TIRVO_BOUND_UNLIMITED
};

// A condition while it is parsed.
struct tirvo_condition {
    tirvo_varexp *condition; // the conjunction of tests, or null
    tirvo_varexp *setting;   // the assignments, or null
    int ignore;              // 1: the branch's situation is not reported
    tirvo_location location; // the whole condition
};

// The name the parse-tree dump prints for `oper`, "<UNKNOWN>" for a code
// outside 0 to 61.
const char *tirvo_varexp_oper_name(int oper);

// A new node for `oper` with `num_args` operands (`a`, `b`, `c`, the unused
// ones null) and `result_size`, located at `loc`; null when the pool is
// exhausted.
tirvo_varexp *tirvo_varexp_new(tirvo_compile_ctx *ctx, tirvo_varexp_oper oper, int num_args,
                               tirvo_varexp *a, tirvo_varexp *b, tirvo_varexp *c, int result_size,
                               const tirvo_location *loc);

// A new literal node holding `value` with `result_size`; null when the pool
// is exhausted.
tirvo_varexp *tirvo_varexp_new_literal(tirvo_compile_ctx *ctx, uint64_t value, int result_size,
                                       const tirvo_location *loc);

// A new variable node for `var` (its size is the node's result size); null
// when the pool is exhausted.
tirvo_varexp *tirvo_varexp_new_variable(tirvo_compile_ctx *ctx, tirvo_variable *var,
                                        const tirvo_location *loc);

// A new node starting `entry` (`oper` is subexp or record_marking), result
// size 0; null when the pool is exhausted.
tirvo_varexp *tirvo_varexp_new_entry(tirvo_compile_ctx *ctx, tirvo_varexp_oper oper,
                                     tirvo_regex_entry *entry, const tirvo_location *loc);

// A new `sid` node over a literal holding `situation`, both of result size 0;
// null when the pool is exhausted. The `situation` field stays 0.
tirvo_varexp *tirvo_varexp_new_sid(tirvo_compile_ctx *ctx, uint32_t situation,
                                   const tirvo_location *loc);

// A new variable-expression element for `expr` with `bound`: a new entry
// (the next id, appended to `varexp_entries`) and a branch element located
// where `expr` is. Warns (unless quiet) at the entry that gets the id 2048.
// Null when the pool is exhausted.
tirvo_branch_elem *tirvo_varexp_elem_new(tirvo_compile_ctx *ctx, tirvo_varexp *expr,
                                         uint32_t bound);

// The variable `name` of the given scope and size, registered and wrapped in
// a variable node located at `loc`; null after "out of memory" at `loc`.
tirvo_varexp *tirvo_varexp_register(tirvo_compile_ctx *ctx, const char *name, int is_shared,
                                    int size, const tirvo_location *loc);

// A new condition record; null when the pool is exhausted.
tirvo_condition *tirvo_condition_new(tirvo_compile_ctx *ctx, tirvo_varexp *condition,
                                     tirvo_varexp *setting, int ignore);

// The end of `branch`: appends the expression that reports the current
// situation, or, for a branch of a sub-expression (`add_cancel` 1), also
// ends the sub-expression's instance. A branch without elements or ending in
// a variable expression gets nothing. Returns null, or the text of a failure
// to print at the rule's location: "low-level DFA empty branch",
// "low-level DFA branch end without defined situation", "memory allocation
// error" (this one already printed once at the branch's end).
const char *tirvo_branch_end(tirvo_compile_ctx *ctx, tirvo_branch *branch, int add_cancel);

// Attaches condition `cond` to `branch` (see tirvo_branch_end for
// `add_cancel`): the expression built from its tests, its settings and the
// report of the current situation (unless ignored). Warns (unless quiet)
// about a test without effect. Returns 0, or 1 after "memory allocation
// error" at the condition.
int tirvo_condition_attach(tirvo_compile_ctx *ctx, tirvo_branch *branch,
                           const tirvo_condition *cond, int add_cancel);

#endif
