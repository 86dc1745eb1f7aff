#include "byc/tirvo_byc.h"

#include "byc/tirvo_variable.h"
#include "compiler/tirvo_compile_ctx.h"
#include "lang/tirvo_parse_tree.h"
#include "lang/tirvo_varexp.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Ends the calling function with the first failure of `expr`.
#define TIRVO_BYC_TRY(expr)                                                                        \
    do {                                                                                           \
        if (int rc_ = (expr); rc_ != TIRVO_BYC_OK)                                                 \
            return rc_;                                                                            \
    } while (0)

// The bound stored for a program that reads no stream data: it never waits
// across blocks, so the engine need not limit its instances.
constexpr uint32_t BOUND_READS_NO_STREAM = 0xffffffff;

// Bytes of the compact form of a chain of one-bit tests: 7 per test, then
// PUSH32_LIT 1, SKIP and PUSH32_LIT 0.
constexpr int32_t TEST_BYTES = 7;
constexpr int32_t TEST_TAIL_BYTES = 14;
// No chain with more tests fits the buffer. The general form of a chain of
// three or more tests is larger still (at least 23 bytes per "&&"), so a
// longer chain cannot compile in either form.
constexpr int MAX_CHAIN_TESTS = (TIRVO_BYC_BUFFER_SIZE - TEST_TAIL_BYTES) / TEST_BYTES;

// The 64-bit arithmetic instructions follow the 32-bit ones in the same order.
constexpr int WIDE_OFFSET = TIRVO_BYC_SHLEFT64 - TIRVO_BYC_SHLEFT32;
static_assert(TIRVO_BYC_BITWISE_COMPLEMENT64 - TIRVO_BYC_BITWISE_COMPLEMENT32 == WIDE_OFFSET);
static_assert(TIRVO_BYC_NEQ64 - TIRVO_BYC_NEQ32 == WIDE_OFFSET);
// The engine values and the text parses are numbered in the operators' order.
static_assert(TIRVO_BYC_DPORT - TIRVO_BYC_MAJOR == tirvo_varexp_dport - tirvo_varexp_major);
static_assert(TIRVO_BYC_PARSE_INT - TIRVO_BYC_PARSE_DEC ==
              tirvo_varexp_parse_int - tirvo_varexp_parse_dec);

// The file name without its folders, for the void-operand message.
constexpr const char *base_name(const char *path) {
    const char *base = path;
    for (const char *p = path; *p; ++p)
        if (*p == '/')
            base = p + 1;
    return base;
}

// One code generation: the context for allocations and messages, and the
// program being appended to.
struct gen {
    tirvo_compile_ctx *ctx; // pool and message settings
    tirvo_bycp *p;          // the program; `byc` is the buffer
};

bool is_wide(int bits) {
    return bits > 32;
}

// ---------------------------------------------------------------------------
// Emitting. Each helper writes a whole instruction or, when the buffer lacks
// room, nothing and returns TIRVO_BYC_ERR_FULL.

int emit_op(tirvo_bycp *p, int opcode) {
    TIRVO_ASSERT(tirvo_opcode_valid(opcode));
    TIRVO_ASSERT(tirvo_byc_instruction_size(opcode) == 1);
    if (p->byc_size - p->byc_len < 1)
        return TIRVO_BYC_ERR_FULL;
    p->byc[p->byc_len++] = static_cast<uint8_t>(opcode);
    return TIRVO_BYC_OK;
}

// The opcode and an operand of `n` bytes, little-endian from `value`.
int emit_operand(tirvo_bycp *p, int opcode, int n, uint64_t value) {
    TIRVO_ASSERT(tirvo_opcode_valid(opcode));
    TIRVO_ASSERT(tirvo_byc_instruction_size(opcode) == n + 1);
    if (p->byc_size - p->byc_len < n + 1)
        return TIRVO_BYC_ERR_FULL;
    p->byc[p->byc_len] = static_cast<uint8_t>(opcode);
    tirvo_byc_write_le(p->byc + p->byc_len + 1, n, value);
    p->byc_len += n + 1;
    return TIRVO_BYC_OK;
}

int emit_push32(tirvo_bycp *p, uint32_t value) {
    return emit_operand(p, TIRVO_BYC_PUSH32_LIT, 4, value);
}

// A skip instruction with a placeholder operand; `*operand` receives the
// operand's position for patch_skip.
int emit_skip(tirvo_bycp *p, int opcode, int32_t *operand) {
    TIRVO_BYC_TRY(emit_operand(p, opcode, 3, 0));
    *operand = p->byc_len - 3;
    return TIRVO_BYC_OK;
}

// Makes the skip operand at `operand` jump to `target`.
void patch_skip(tirvo_bycp *p, int32_t operand, int32_t target) {
    TIRVO_ASSERT(target >= operand + 3 && target <= p->byc_len);
    tirvo_byc_write_u24(p->byc + operand, static_cast<uint32_t>(target - (operand + 3)));
}

// A relocation entry of `type` for the operand at `rel` bytes before the
// current end of the code.
int add_rle(gen &g, int32_t rel, int32_t type, tirvo_variable *variable) {
    rle *entry = tirvo_compile_new<rle>(g.ctx);
    if (!entry)
        return TIRVO_BYC_ERR_MEMORY;
    tirvo_bycp_add_rle(g.p, entry, g.p->byc_len + rel, type, variable);
    return TIRVO_BYC_OK;
}

// A variable instruction with a zero operand and its relocation entry.
int emit_var(gen &g, int opcode, tirvo_variable *variable) {
    TIRVO_BYC_TRY(emit_operand(g.p, opcode, 3, 0));
    return add_rle(g, -3, tirvo_rle_type_variable, variable);
}

// ---------------------------------------------------------------------------
// Width conversions of the top of the stack; `from` and `to` are result
// sizes in bits (0 for no value).

// From no value to a value: a zero; from a 4-byte to an 8-byte cell: a cast.
int widen(tirvo_bycp *p, int from, int to) {
    if (from == 0)
        return to == 0 ? TIRVO_BYC_OK
                       : emit_op(p, is_wide(to) ? TIRVO_BYC_ZERO64 : TIRVO_BYC_ZERO32);
    if (!is_wide(from) && is_wide(to))
        return emit_op(p, TIRVO_BYC_CAST32_TO64);
    return TIRVO_BYC_OK;
}

// From an 8-byte to a 4-byte cell: a cast; to no value (`to` 0): the value is
// dropped.
int narrow(tirvo_bycp *p, int from, int to) {
    if (to == 0) {
        if (from == 0)
            return TIRVO_BYC_OK;
        return emit_op(p, is_wide(from) ? TIRVO_BYC_POP_DISCARD64 : TIRVO_BYC_POP_DISCARD32);
    }
    if (is_wide(from) && !is_wide(to))
        return emit_op(p, TIRVO_BYC_CAST64_TO32);
    return TIRVO_BYC_OK;
}

// Drops the value of a node whose result is not used.
int discard(tirvo_bycp *p, int from) {
    return narrow(p, from, 0);
}

// An operand without a value where one is needed: the message names the
// place of the check in this file.
int void_check(const tirvo_varexp *x, int line) {
    if (x->result_size != 0)
        return TIRVO_BYC_OK;
    std::fprintf(stderr, "%s: %d: unexpected void argument\n", base_name(__FILE__), line);
    return TIRVO_BYC_ERR_VOID;
}
#define TIRVO_BYC_VOID_CHECK(x) TIRVO_BYC_TRY(void_check((x), __LINE__))

// ---------------------------------------------------------------------------
// Opcode choice.

// Index of a variable size in the tables below; the parser admits no other.
int size_index(int size) {
    switch (size) {
    case 1:
        return 0;
    case 8:
        return 1;
    case 16:
        return 2;
    case 32:
        return 3;
    default:
        TIRVO_ASSERT(size == 64);
        return 4;
    }
}

constexpr tirvo_byc_opcode push_ops[] = {TIRVO_BYC_PUSH1_TO32, TIRVO_BYC_PUSH8_TO32,
                                         TIRVO_BYC_PUSH16_TO32, TIRVO_BYC_PUSH32_TO32,
                                         TIRVO_BYC_PUSH64_TO64};
constexpr tirvo_byc_opcode copy_ops[] = {TIRVO_BYC_COPY32_TO1, TIRVO_BYC_COPY32_TO8,
                                         TIRVO_BYC_COPY32_TO16, TIRVO_BYC_COPY32_TO32,
                                         TIRVO_BYC_COPY64_TO64};

int push_op(const tirvo_variable *v) {
    return push_ops[size_index(v->size)];
}
int copy_op(const tirvo_variable *v) {
    return copy_ops[size_index(v->size)];
}

// The 32-bit instruction of a binary or compound-assignment operator, or
// TIRVO_BYC_UNDEFINED for any other operator.
tirvo_byc_opcode binary_op32(int oper) {
    switch (oper) {
    case tirvo_varexp_shleft:
    case tirvo_varexp_a_shleft:
        return TIRVO_BYC_SHLEFT32;
    case tirvo_varexp_shright:
    case tirvo_varexp_a_shright:
        return TIRVO_BYC_SHRIGHT32;
    case tirvo_varexp_leq:
        return TIRVO_BYC_LEQ32;
    case tirvo_varexp_geq:
        return TIRVO_BYC_GEQ32;
    case tirvo_varexp_eq:
        return TIRVO_BYC_EQ32;
    case tirvo_varexp_neq:
        return TIRVO_BYC_NEQ32;
    case tirvo_varexp_less:
        return TIRVO_BYC_LESS32;
    case tirvo_varexp_greater:
        return TIRVO_BYC_GREATER32;
    case tirvo_varexp_multiply:
    case tirvo_varexp_a_multiply:
        return TIRVO_BYC_MULTIPLY32;
    case tirvo_varexp_divide:
    case tirvo_varexp_a_divide:
        return TIRVO_BYC_DIVIDE32;
    case tirvo_varexp_rem:
    case tirvo_varexp_a_rem:
        return TIRVO_BYC_REMAINDER32;
    case tirvo_varexp_plus:
    case tirvo_varexp_a_plus:
        return TIRVO_BYC_ADD32;
    case tirvo_varexp_minus:
    case tirvo_varexp_a_minus:
        return TIRVO_BYC_SUBTRACT32;
    case tirvo_varexp_bit_and:
    case tirvo_varexp_a_bit_and:
        return TIRVO_BYC_BITWISE_AND32;
    case tirvo_varexp_bit_xor:
    case tirvo_varexp_a_bit_xor:
        return TIRVO_BYC_BITWISE_XOR32;
    case tirvo_varexp_bit_or:
    case tirvo_varexp_a_bit_or:
        return TIRVO_BYC_BITWISE_OR32;
    default:
        return TIRVO_BYC_UNDEFINED;
    }
}

// The instruction of `op32`'s operation on 8-byte cells when `wide`.
int sized(int op32, bool wide) {
    return wide ? op32 + WIDE_OFFSET : op32;
}

// The pop-and-skip of a cell of `bits` bits: on zero, or on non-zero (`nz`).
int pop_skip(bool nz, int bits) {
    if (is_wide(bits))
        return nz ? TIRVO_BYC_POP64_SKIP_NZ : TIRVO_BYC_POP64_SKIP_Z;
    return nz ? TIRVO_BYC_POP32_SKIP_NZ : TIRVO_BYC_POP32_SKIP_Z;
}

// ---------------------------------------------------------------------------
// Code generation per operator.

int gen_node(gen &g, const tirvo_varexp *x, int depth);

int gen_variable(gen &g, const tirvo_varexp *x) {
    tirvo_variable *v = x->variable;
    TIRVO_ASSERT(v != nullptr && v->size > 0 && v->size <= x->result_size);
    if (std::strcmp(v->name, "offset") != 0)
        return emit_var(g, push_op(v), v);
    // The stream offset is read by its own instruction; the name means
    // nothing else.
    if (!v->is_shared && v->size == 32)
        return emit_op(g.p, TIRVO_BYC_OFFSET);
    char where[TIRVO_LOCATION_TEXT_SIZE];
    std::fprintf(stderr,
                 "\"offset\" variable can only be used as \"$offset\", no size specifiers, only "
                 "with \"$\" at %s\n",
                 tirvo_location_text(g.ctx, &v->location, where));
    return TIRVO_BYC_ERR_OFFSET;
}

int gen_sid(gen &g, const tirvo_varexp *x, int depth) {
    const tirvo_varexp *a = x->arg[0];
    if (a->oper == tirvo_varexp_literal) {
        TIRVO_BYC_TRY(emit_operand(g.p, TIRVO_BYC_SID_LIT, 4, static_cast<uint32_t>(a->value)));
        return add_rle(g, -4, tirvo_rle_type_sid_literal, nullptr);
    }
    TIRVO_BYC_VOID_CHECK(a);
    TIRVO_BYC_TRY(gen_node(g, a, depth + 1));
    TIRVO_BYC_TRY(narrow(g.p, a->result_size, 32));
    return emit_op(g.p, TIRVO_BYC_SID);
}

// CRC, skip and the text parses: the argument, adjusted to the width the
// instruction takes, after the zeros that hold the instruction's state.
int gen_stream_op(gen &g, const tirvo_varexp *x, int depth) {
    const tirvo_varexp *a = x->arg[0];
    int opcode = 0;
    switch (x->oper) {
    case tirvo_varexp_crc:
        TIRVO_BYC_TRY(emit_op(g.p, TIRVO_BYC_ZERO64));
        opcode = TIRVO_BYC_CRC;
        break;
    case tirvo_varexp_skip:
        opcode = TIRVO_BYC_SKIP_STREAM;
        break;
    default:
        TIRVO_BYC_TRY(emit_op(g.p, TIRVO_BYC_ZERO64));
        TIRVO_BYC_TRY(emit_op(g.p, TIRVO_BYC_ZERO32));
        opcode = TIRVO_BYC_PARSE_DEC + (x->oper - tirvo_varexp_parse_dec);
        break;
    }
    TIRVO_BYC_VOID_CHECK(a);
    TIRVO_BYC_TRY(gen_node(g, a, depth + 1));
    if (x->oper == tirvo_varexp_skip)
        TIRVO_BYC_TRY(widen(g.p, a->result_size, 64));
    else
        TIRVO_BYC_TRY(narrow(g.p, a->result_size, 32));
    return emit_op(g.p, opcode);
}

// parse_be(n), parse_le(n): the value's zero, the bit count, the parse.
int gen_parse_binary(gen &g, const tirvo_varexp *x) {
    int r = x->result_size;
    TIRVO_ASSERT(r > 0);
    bool be = x->oper == tirvo_varexp_parse_be;
    TIRVO_BYC_TRY(emit_op(g.p, is_wide(r) ? TIRVO_BYC_ZERO64 : TIRVO_BYC_ZERO32));
    TIRVO_BYC_TRY(emit_push32(g.p, static_cast<uint32_t>(r)));
    if (is_wide(r))
        return emit_op(g.p, be ? TIRVO_BYC_PARSE64_BE : TIRVO_BYC_PARSE64_LE);
    return emit_op(g.p, be ? TIRVO_BYC_PARSE32_BE : TIRVO_BYC_PARSE32_LE);
}

int gen_entry(gen &g, const tirvo_varexp *x) {
    int opcode = x->oper == tirvo_varexp_subexp ? TIRVO_BYC_SUBDFA : TIRVO_BYC_RMDFA;
    TIRVO_BYC_TRY(emit_operand(g.p, opcode, 3, static_cast<uint32_t>(x->regex_entry->id)));
    return add_rle(g, -3, tirvo_rle_type_regex_entry_id, nullptr);
}

// a -> b: b runs when a is not zero; its value is dropped.
int gen_implies(gen &g, const tirvo_varexp *x, int depth) {
    const tirvo_varexp *a = x->arg[0], *b = x->arg[1];
    TIRVO_ASSERT(a->result_size != 0);
    int32_t to_end;
    TIRVO_BYC_TRY(gen_node(g, a, depth + 1));
    TIRVO_BYC_TRY(emit_skip(g.p, pop_skip(false, a->result_size), &to_end));
    TIRVO_BYC_TRY(gen_node(g, b, depth + 1));
    TIRVO_BYC_TRY(discard(g.p, b->result_size));
    patch_skip(g.p, to_end, g.p->byc_len);
    return TIRVO_BYC_OK;
}

// a ? b : c: both branches leave the wider of the two widths.
int gen_cond(gen &g, const tirvo_varexp *x, int depth) {
    const tirvo_varexp *a = x->arg[0], *b = x->arg[1], *c = x->arg[2];
    TIRVO_ASSERT(a->result_size != 0);
    int32_t to_false, to_end;
    TIRVO_BYC_TRY(gen_node(g, a, depth + 1));
    TIRVO_BYC_TRY(emit_skip(g.p, pop_skip(false, a->result_size), &to_false));
    TIRVO_BYC_TRY(gen_node(g, b, depth + 1));
    TIRVO_BYC_TRY(widen(g.p, b->result_size, c->result_size));
    TIRVO_BYC_TRY(emit_skip(g.p, TIRVO_BYC_SKIP, &to_end));
    patch_skip(g.p, to_false, g.p->byc_len);
    TIRVO_BYC_TRY(gen_node(g, c, depth + 1));
    TIRVO_BYC_TRY(widen(g.p, c->result_size, b->result_size));
    patch_skip(g.p, to_end, g.p->byc_len);
    return TIRVO_BYC_OK;
}

// Arithmetic, shifts and comparisons: both operands at the wider width, then
// the instruction of that width.
int gen_binary(gen &g, const tirvo_varexp *x, int op32, int depth) {
    const tirvo_varexp *a = x->arg[0], *b = x->arg[1];
    TIRVO_BYC_VOID_CHECK(a);
    TIRVO_BYC_TRY(gen_node(g, a, depth + 1));
    TIRVO_BYC_TRY(widen(g.p, a->result_size, b->result_size));
    TIRVO_BYC_VOID_CHECK(b);
    TIRVO_BYC_TRY(gen_node(g, b, depth + 1));
    TIRVO_BYC_TRY(widen(g.p, b->result_size, a->result_size));
    bool wide = is_wide(a->result_size) || is_wide(b->result_size);
    TIRVO_BYC_TRY(emit_op(g.p, sized(op32, wide)));
    // A shift has the width of its left operand; a 64-bit count made the
    // shift itself 64 bits wide, so its result is cut back to the node's
    // width. Without the cut the node would leave an 8-byte cell where its
    // consumers expect a 4-byte one.
    if (wide && (op32 == TIRVO_BYC_SHLEFT32 || op32 == TIRVO_BYC_SHRIGHT32))
        return narrow(g.p, 64, x->result_size);
    return TIRVO_BYC_OK;
}

// v op= b: b first, then v, swapped so that v is the left operand; the new
// value is stored and stays on the stack.
int gen_compound(gen &g, const tirvo_varexp *x, int op32, int depth) {
    const tirvo_varexp *a = x->arg[0], *b = x->arg[1];
    TIRVO_ASSERT(a->oper == tirvo_varexp_variable);
    tirvo_variable *v = a->variable;
    int va = a->result_size, vb = b->result_size;
    bool wide = is_wide(va) || is_wide(vb);
    TIRVO_BYC_VOID_CHECK(b);
    TIRVO_BYC_TRY(gen_node(g, b, depth + 1));
    TIRVO_BYC_TRY(widen(g.p, vb, va));
    TIRVO_BYC_TRY(emit_var(g, push_op(v), v));
    TIRVO_BYC_TRY(widen(g.p, va, vb));
    TIRVO_BYC_TRY(emit_op(g.p, wide ? TIRVO_BYC_SWAP64 : TIRVO_BYC_SWAP32));
    TIRVO_BYC_TRY(emit_op(g.p, sized(op32, wide)));
    TIRVO_BYC_TRY(narrow(g.p, vb, va));
    return emit_var(g, copy_op(v), v);
}

// v = b: b at v's width, stored; the value stays on the stack.
int gen_assign(gen &g, const tirvo_varexp *x, int depth) {
    const tirvo_varexp *a = x->arg[0], *b = x->arg[1];
    TIRVO_ASSERT(a->oper == tirvo_varexp_variable);
    TIRVO_BYC_TRY(gen_node(g, b, depth + 1));
    TIRVO_BYC_VOID_CHECK(b);
    TIRVO_BYC_TRY(narrow(g.p, b->result_size, a->result_size));
    TIRVO_BYC_TRY(widen(g.p, b->result_size, a->result_size));
    return emit_var(g, copy_op(a->variable), a->variable);
}

// ++v, --v, v++, v--: the new value is stored; the postfix forms undo the
// change on the stack so that the old value is the result.
int gen_incdec(gen &g, const tirvo_varexp *x) {
    const tirvo_varexp *a = x->arg[0];
    TIRVO_ASSERT(a->oper == tirvo_varexp_variable && x->result_size > 0);
    tirvo_variable *v = a->variable;
    bool wide = is_wide(x->result_size);
    bool inc = x->oper == tirvo_varexp_post_inc || x->oper == tirvo_varexp_pre_inc;
    int inc_op = sized(TIRVO_BYC_INC32, wide), dec_op = sized(TIRVO_BYC_DEC32, wide);
    TIRVO_BYC_TRY(emit_var(g, push_op(v), v));
    TIRVO_BYC_TRY(emit_op(g.p, inc ? inc_op : dec_op));
    TIRVO_BYC_TRY(emit_var(g, copy_op(v), v));
    if (x->oper == tirvo_varexp_post_inc)
        return emit_op(g.p, dec_op);
    if (x->oper == tirvo_varexp_post_dec)
        return emit_op(g.p, inc_op);
    return TIRVO_BYC_OK;
}

// a && b, a || b: the compact form when it applies, else both operands
// tested in turn and a 1 or 0 pushed.
int gen_logical(gen &g, const tirvo_varexp *x, int depth) {
    int rc = tirvo_bycp_optimized_cond(g.ctx, g.p, x);
    if (rc != TIRVO_BYC_ERR_NOT_COND)
        return rc;
    const tirvo_varexp *a = x->arg[0], *b = x->arg[1];
    bool is_or = x->oper == tirvo_varexp_log_or;
    int32_t first, second, to_end;
    TIRVO_BYC_VOID_CHECK(a);
    TIRVO_BYC_TRY(gen_node(g, a, depth + 1));
    TIRVO_BYC_TRY(emit_skip(g.p, pop_skip(is_or, a->result_size), &first));
    TIRVO_BYC_VOID_CHECK(b);
    TIRVO_BYC_TRY(gen_node(g, b, depth + 1));
    TIRVO_BYC_TRY(emit_skip(g.p, pop_skip(is_or, b->result_size), &second));
    TIRVO_BYC_TRY(emit_push32(g.p, is_or ? 0 : 1));
    TIRVO_BYC_TRY(emit_skip(g.p, TIRVO_BYC_SKIP, &to_end));
    patch_skip(g.p, first, g.p->byc_len);
    patch_skip(g.p, second, g.p->byc_len);
    TIRVO_BYC_TRY(emit_push32(g.p, is_or ? 1 : 0));
    patch_skip(g.p, to_end, g.p->byc_len);
    return TIRVO_BYC_OK;
}

// ~a, -a, !a.
int gen_unary(gen &g, const tirvo_varexp *x, int depth) {
    const tirvo_varexp *a = x->arg[0];
    bool wide = is_wide(a->result_size);
    TIRVO_BYC_VOID_CHECK(a);
    TIRVO_BYC_TRY(gen_node(g, a, depth + 1));
    switch (x->oper) {
    case tirvo_varexp_bit_not:
        return emit_op(g.p, sized(TIRVO_BYC_BITWISE_COMPLEMENT32, wide));
    case tirvo_varexp_unary_minus:
        return emit_op(g.p, sized(TIRVO_BYC_NEGATE32, wide));
    default:
        TIRVO_BYC_TRY(narrow(g.p, a->result_size, 32));
        return emit_op(g.p, TIRVO_BYC_LOGICAL_COMPLEMENT);
    }
}

// (uintN_t) a, (void) a. A cast to void drops the value, and a cast of no
// value to a width is a missing operand: either way the node leaves exactly
// what its result size says, which its consumers rely on.
int gen_cast(gen &g, const tirvo_varexp *x, int depth) {
    const tirvo_varexp *a = x->arg[0];
    int r = x->result_size;
    if (r == 0) {
        TIRVO_BYC_TRY(gen_node(g, a, depth + 1));
        return discard(g.p, a->result_size);
    }
    TIRVO_BYC_VOID_CHECK(a);
    TIRVO_BYC_TRY(gen_node(g, a, depth + 1));
    TIRVO_BYC_TRY(widen(g.p, a->result_size, r));
    return narrow(g.p, a->result_size, r);
}

// The code of node `x`, which lies `depth` levels below the expression's root.
int gen_node(gen &g, const tirvo_varexp *x, int depth) {
    if (depth > TIRVO_BYC_MAX_NESTING)
        return TIRVO_BYC_ERR_FULL;
    if (int op32 = binary_op32(x->oper); op32 != TIRVO_BYC_UNDEFINED) {
        if (x->oper >= tirvo_varexp_a_multiply && x->oper <= tirvo_varexp_a_bit_xor)
            return gen_compound(g, x, op32, depth);
        return gen_binary(g, x, op32, depth);
    }
    switch (x->oper) {
    case tirvo_varexp_literal:
        if (x->result_size == 0)
            return TIRVO_BYC_OK;
        if (!is_wide(x->result_size))
            return emit_push32(g.p, static_cast<uint32_t>(x->value));
        return emit_operand(g.p, TIRVO_BYC_PUSH64_LIT, 8, x->value);
    case tirvo_varexp_variable:
        return gen_variable(g, x);
    case tirvo_varexp_major:
    case tirvo_varexp_minor:
    case tirvo_varexp_patch:
    case tirvo_varexp_build:
    case tirvo_varexp_fpver:
    case tirvo_varexp_dport:
        return emit_op(g.p, TIRVO_BYC_MAJOR + (x->oper - tirvo_varexp_major));
    case tirvo_varexp_cancel:
        return emit_op(g.p, TIRVO_BYC_END_PARENT);
    case tirvo_varexp_cancel_fp_ctx:
        return emit_op(g.p, TIRVO_BYC_END_FP_CTX);
    case tirvo_varexp_sid:
        return gen_sid(g, x, depth);
    case tirvo_varexp_crc:
    case tirvo_varexp_skip:
    case tirvo_varexp_parse_dec:
    case tirvo_varexp_parse_hex:
    case tirvo_varexp_parse_oct:
    case tirvo_varexp_parse_int:
        return gen_stream_op(g, x, depth);
    case tirvo_varexp_parse_be:
    case tirvo_varexp_parse_le:
        return gen_parse_binary(g, x);
    case tirvo_varexp_subexp:
    case tirvo_varexp_record_marking:
        return gen_entry(g, x);
    case tirvo_varexp_implies:
        return gen_implies(g, x, depth);
    case tirvo_varexp_cond:
        return gen_cond(g, x, depth);
    case tirvo_varexp_post_inc:
    case tirvo_varexp_post_dec:
    case tirvo_varexp_pre_inc:
    case tirvo_varexp_pre_dec:
        return gen_incdec(g, x);
    case tirvo_varexp_log_and:
    case tirvo_varexp_log_or:
        return gen_logical(g, x, depth);
    case tirvo_varexp_comma:
        TIRVO_BYC_TRY(gen_node(g, x->arg[0], depth + 1));
        TIRVO_BYC_TRY(discard(g.p, x->arg[0]->result_size));
        return gen_node(g, x->arg[1], depth + 1);
    case tirvo_varexp_assign:
        return gen_assign(g, x, depth);
    case tirvo_varexp_bit_not:
    case tirvo_varexp_log_not:
    case tirvo_varexp_unary_minus:
        return gen_unary(g, x, depth);
    case tirvo_varexp_paren:
        return gen_node(g, x->arg[0], depth + 1);
    case tirvo_varexp_cast:
        return gen_cast(g, x, depth);
    default:
        TIRVO_ASSERT_TEXT(false, "unknown expression operator");
        return TIRVO_BYC_OK;
    }
}

// ---------------------------------------------------------------------------
// The compact form of one-bit tests.

// `v == 0|1` or `v != 0|1` on a one-bit variable.
bool is_one_bit_test(const tirvo_varexp *t) {
    if (t->oper != tirvo_varexp_eq && t->oper != tirvo_varexp_neq)
        return false;
    const tirvo_varexp *v = t->arg[0], *lit = t->arg[1];
    return v->oper == tirvo_varexp_variable && v->variable->size == 1 &&
           lit->oper == tirvo_varexp_literal && lit->result_size == 1;
}

// The value the variable of test `t` must hold for the test to pass.
bool required_bit(const tirvo_varexp *t) {
    uint64_t lit = t->arg[1]->value;
    return (t->oper == tirvo_varexp_eq && lit == 1) || (t->oper == tirvo_varexp_neq && lit == 0);
}

// ---------------------------------------------------------------------------
// Instruction classes of the passes after the generation.

// The instructions whose last three bytes are a skip.
bool has_skip(int opcode) { return tirvo_byc_skip_operand_offset(opcode) != 0; }

bool is_nop(int opcode) {
    return opcode >= TIRVO_BYC_NOP && opcode <= TIRVO_BYC_NOP5;
}

// Where the skip instruction at `pos` (of `size` bytes) jumps to.
int32_t skip_target(const uint8_t *code, int32_t pos, int size) {
    return pos + size + static_cast<int32_t>(tirvo_byc_read_u24(code + pos + size - 3));
}

// ---------------------------------------------------------------------------
// The steps of one program after its code is generated.

void optimize_jumps(tirvo_bycp *p) {
    for (int32_t pos = 0; pos < p->byc_len;) {
        int size = tirvo_byc_instruction_size(p->byc[pos]);
        if (has_skip(p->byc[pos]))
            tirvo_byc_optimize_skip(p, pos + size - 3);
        pos += size;
    }
}

// Moves the code out of the shared buffer into a block of its own size;
// false when the pool is exhausted (the context's `error` is then 2).
bool finish_code(tirvo_compile_ctx *ctx, tirvo_bycp *p) {
    uint8_t *block = nullptr;
    if (p->byc_len > 0) {
        block = static_cast<uint8_t *>(tirvo_compile_zalloc(ctx, static_cast<size_t>(p->byc_len)));
        if (!block)
            return false;
        std::memcpy(block, p->byc, static_cast<size_t>(p->byc_len));
    }
    p->byc = block;
    p->byc_size = p->byc_len;
    return true;
}

// The maximum stack size of `p`; with `show` also its listing line and the
// path that reaches it, backwards to position 0.
int32_t max_stack_size(const tirvo_bycp *p, bool show) {
    std::vector<int32_t> sizes(static_cast<size_t>(p->byc_len) + 1, -1);
    std::vector<int32_t> prevs(static_cast<size_t>(p->byc_len) + 1, -1);
    tirvo_byc_stack_size(p, 0, 0, -1, sizes.data(), prevs.data());
    int32_t at = 0;
    for (int32_t pos = 1; pos <= p->byc_len; ++pos)
        if (sizes[pos] > sizes[at])
            at = pos;
    if (show) {
        std::printf("max stack size: %d\n", sizes[at]);
        std::printf("reverse execution path to max stack size:");
        for (int32_t pos = at; pos != -1; pos = prevs[pos])
            std::printf(" %d", pos);
        std::printf("\n");
    }
    return sizes[at];
}

bool reads_stream(const tirvo_bycp *p) {
    for (int32_t pos = 0; pos < p->byc_len; pos += tirvo_byc_instruction_size(p->byc[pos]))
        if (__tirvo_byc_reads_stream[p->byc[pos]])
            return true;
    return false;
}

// Compiles one entry with the shared code buffer `buffer`; returns the
// context's `error` (0 on success).
int compile_entry(tirvo_compile_ctx *ctx, tirvo_varexp_entry *entry, uint8_t *buffer) {
    auto *p = tirvo_compile_new<tirvo_bycp>(ctx);
    if (!p)
        return ctx->error;
    tirvo_bycp_init(p, buffer, TIRVO_BYC_BUFFER_SIZE);
    int rc = tirvo_byc_compile_varexp(ctx, p, entry->varexp);
    if (rc != TIRVO_BYC_OK) {
        TIRVO_ASSERT(rc != TIRVO_BYC_ERR_NOT_COND);
        if (rc == TIRVO_BYC_ERR_MEMORY) {
            ctx->error = TIRVO_COMPILE_ERR_MEMORY;
        } else {
            std::fprintf(stderr, "byc compile error: %d\n", rc);
            ctx->error = TIRVO_COMPILE_ERR_BYTE_CODE;
        }
        return ctx->error;
    }
    int r = entry->varexp->result_size;
    p->end_stack_size = is_wide(r) ? 8 : r > 0 ? 4 : 0;
    bool show = ctx->flags.show_byc;
    if (show) {
        std::printf("Byte code without jump optimization:\n");
        tirvo_bycp_print(stdout, p, &entry->varexp->location, ctx);
    }
    optimize_jumps(p);
    if (show) {
        std::printf("Byte code with jump optimization:\n");
        tirvo_bycp_print(stdout, p, &entry->varexp->location, ctx);
    }
    if (!finish_code(ctx, p))
        return ctx->error;
    p->max_stack_size = max_stack_size(p, show);
    if (!reads_stream(p))
        entry->bound = BOUND_READS_NO_STREAM;
    entry->bycp = p;
    return TIRVO_COMPILE_OK;
}

} // namespace

int tirvo_byc_compile_varexp(tirvo_compile_ctx *ctx, tirvo_bycp *bycp, const tirvo_varexp *node) {
    gen g{ctx, bycp};
    return gen_node(g, node, 0);
}

int tirvo_bycp_optimized_cond(tirvo_compile_ctx *ctx, tirvo_bycp *bycp, const tirvo_varexp *node) {
    // Check the tests from the last one back to the first; a chain that
    // cannot fit is refused before it is walked any further.
    int n = 1;
    const tirvo_varexp *x = node;
    for (; x->oper == tirvo_varexp_log_and; x = x->arg[0]) {
        if (!is_one_bit_test(x->arg[1]))
            return TIRVO_BYC_ERR_NOT_COND;
        if (++n > MAX_CHAIN_TESTS)
            return TIRVO_BYC_ERR_FULL;
    }
    if (!is_one_bit_test(x))
        return TIRVO_BYC_ERR_NOT_COND;

    // The tests in source order.
    std::unique_ptr<const tirvo_varexp *[], decltype(&std::free)> tests(
        static_cast<const tirvo_varexp **>(std::malloc(sizeof(tirvo_varexp *) * size_t(n))),
        &std::free);
    if (!tests)
        return TIRVO_BYC_ERR_MEMORY;
    int i = n - 1;
    for (x = node; x->oper == tirvo_varexp_log_and; x = x->arg[0])
        tests[i--] = x->arg[1];
    tests[0] = x;

    gen g{ctx, bycp};
    int32_t first = bycp->byc_len;
    for (i = 0; i < n; ++i) {
        int opcode = required_bit(tests[i]) ? TIRVO_BYC_SKIP_VARBIT_Z : TIRVO_BYC_SKIP_VARBIT_NZ;
        TIRVO_BYC_TRY(emit_operand(bycp, opcode, TEST_BYTES - 1, 0));
        TIRVO_BYC_TRY(add_rle(g, -6, tirvo_rle_type_variable, tests[i]->arg[0]->variable));
    }
    int32_t to_end;
    TIRVO_BYC_TRY(emit_push32(bycp, 1));
    TIRVO_BYC_TRY(emit_skip(bycp, TIRVO_BYC_SKIP, &to_end));
    int32_t on_false = bycp->byc_len;
    TIRVO_BYC_TRY(emit_push32(bycp, 0));
    for (i = 0; i < n; ++i)
        patch_skip(bycp, first + i * TEST_BYTES + 4, on_false);
    patch_skip(bycp, to_end, bycp->byc_len);
    return TIRVO_BYC_OK;
}

void tirvo_byc_optimize_skip(tirvo_bycp *bycp, int32_t pos) {
    // The redirections below step over exactly these lengths.
    TIRVO_ASSERT(tirvo_byc_instruction_size(TIRVO_BYC_SKIP) == 4);
    TIRVO_ASSERT(tirvo_byc_instruction_size(TIRVO_BYC_POP32_SKIP_Z) == 4);
    TIRVO_ASSERT(tirvo_byc_instruction_size(TIRVO_BYC_POP32_SKIP_NZ) == 4);
    TIRVO_ASSERT(tirvo_byc_instruction_size(TIRVO_BYC_PUSH32_LIT) == 5);
    const uint8_t *code = bycp->byc;
    int32_t len = bycp->byc_len;
    int32_t t = pos + 3 + static_cast<int32_t>(tirvo_byc_read_u24(code + pos));
    while (t < len) {
        int op = code[t];
        int32_t next;
        if (is_nop(op)) {
            next = t + tirvo_byc_instruction_size(op);
        } else if (op == TIRVO_BYC_SKIP) {
            next = skip_target(code, t, 4);
        } else if (op == TIRVO_BYC_PUSH32_LIT) {
            // A literal pushed only to be tested at once decides the test.
            bool nonzero = tirvo_byc_read_u32(code + t + 1) != 0;
            int32_t u = t + 5;
            while (u < len && is_nop(code[u]))
                u += tirvo_byc_instruction_size(code[u]);
            if (u >= len)
                return;
            if (code[u] == TIRVO_BYC_POP32_SKIP_Z)
                next = nonzero ? u + 4 : skip_target(code, u, 4);
            else if (code[u] == TIRVO_BYC_POP32_SKIP_NZ)
                next = nonzero ? skip_target(code, u, 4) : u + 4;
            else
                return;
        } else {
            return;
        }
        tirvo_byc_write_u24(bycp->byc + pos, static_cast<uint32_t>(next - (pos + 3)));
        t = next;
    }
}

void tirvo_byc_stack_size(const tirvo_bycp *bycp, int32_t pos, int32_t size, int32_t prev,
                          int32_t *sizes, int32_t *prevs) {
    // Each element is a path still to walk: position, stack size, and the
    // position it comes from. A conditional skip walks its target at once
    // and leaves the next instruction for later, which visits the paths in
    // the same order as a recursion that follows the target first.
    struct path {
        int32_t pos, size, prev;
    };
    const uint8_t *code = bycp->byc;
    int32_t len = bycp->byc_len;
    std::vector<path> pending{{pos, size, prev}};
    while (!pending.empty()) {
        path at = pending.back();
        pending.pop_back();
        for (;;) {
            TIRVO_ASSERT(at.pos >= 0 && at.pos <= len);
            if (sizes[at.pos] >= at.size)
                break;
            sizes[at.pos] = at.size;
            prevs[at.pos] = at.prev;
            if (at.pos == len)
                break;
            int op = code[at.pos];
            int n = tirvo_byc_instruction_size(op);
            int32_t next_size = at.size + tirvo_byc_stack_size_change(op);
            TIRVO_ASSERT(next_size >= 0);
            int32_t next = at.pos + n;
            if (has_skip(op)) {
                if (op != TIRVO_BYC_SKIP)
                    pending.push_back({next, next_size, at.pos});
                next = skip_target(code, at.pos, n);
            }
            at = {next, next_size, at.pos};
        }
    }
}

void tirvo_bycp_print(FILE *stream, const tirvo_bycp *bycp, const tirvo_location *loc,
                      const tirvo_compile_ctx *ctx) {
    char where[TIRVO_LOCATION_TEXT_SIZE];
    std::fprintf(stream, "Byte code from varexp@%s:\n", tirvo_location_text(ctx, loc, where));
    tirvo_byc_print_code(stream, bycp->byc, bycp->byc_len, "");
    std::fprintf(stream, "End stack size: %d\n", bycp->end_stack_size);
    std::fprintf(stream, "Relocation information:\n");
    dl_list_for_each(pos, &bycp->relocs) {
        const rle *e = dl_list_entry(pos, rle, list);
        std::fprintf(stream, "  pos: %d: ", e->pos);
        switch (e->type) {
        case tirvo_rle_type_sid_literal:
            std::fprintf(stream, "sid literal");
            break;
        case tirvo_rle_type_regex_entry_id:
            std::fprintf(stream, "regex_entry id");
            break;
        default:
            TIRVO_ASSERT(e->type == tirvo_rle_type_variable);
            std::fprintf(stream, "variable: %s (is_shared: %d, size: %d, id: %d)",
                         e->variable->name, e->variable->is_shared, e->variable->size,
                         e->variable->id);
            break;
        }
        std::fprintf(stream, "\n");
    }
}

void tirvo_byc_compile(tirvo_compile_ctx *ctx) {
    std::vector<uint8_t> buffer(TIRVO_BYC_BUFFER_SIZE);
    dl_list_for_each(pos, &ctx->varexp_entries) {
        auto *entry = dl_list_entry(pos, tirvo_varexp_entry, list);
        if (compile_entry(ctx, entry, buffer.data()) != TIRVO_COMPILE_OK)
            return;
    }
}
