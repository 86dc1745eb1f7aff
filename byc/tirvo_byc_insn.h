// The byte-code instruction set: opcodes, their static properties, the
// program record with its relocation entries, the text form of one
// instruction, and the little-endian operand readers and writers.
//
// Every variable expression of a fingerprint becomes a small program for a
// stack machine. The byte-code compiler writes these programs, the fingerprint
// file stores them, the agent relocates them and the interpreter runs them; all
// four take the encoding from this one module, so that it cannot drift between
// the compile side and the run-time side. The encoding is part of the
// fingerprint file format: opcode numbers, lengths and operand layouts never
// change.
//
// An instruction is one opcode byte followed by its operands. Multi-byte
// operands are unsigned and little-endian. A skip operand (3 bytes) counts
// forward from the end of its instruction, so programs are free of loops.
// Variable and regex-entry-id operands take 3 bytes, 32-bit literals and
// situation ids 4 bytes, 64-bit literals 8 bytes. The filler of NOP2 to NOP5
// holds the bytes n-1, n-2, ..., 1.
//
// Design: the instruction list is written down once, as the X-macro
// TIRVO_BYC_INSTRUCTIONS below; the opcode enumerators, the mnemonics (which
// therefore always equal the enumerator names) and the 256-entry tables are
// all generated from it at compile time, and static checks make sure the list
// is dense and in opcode order. The tables are constexpr so that the compiler
// and the interpreter can index them without a call. Accessors assert that an
// opcode is defined: an undefined opcode in a program the system built itself
// is a fault of the system. Code that comes from a file is checked with
// tirvo_byc_code_valid and tirvo_byc_reloc_valid before anything walks,
// relocates, lists or runs it, so that bad files never reach an assertion.
//
// This module allocates nothing. The compile side allocates programs and
// relocation entries from its compile pool and hands them in; the module only
// fills and links them, which keeps the run-time library free of compiler code.
#ifndef TIRVO_BYC_TIRVO_BYC_INSN_H
#define TIRVO_BYC_TIRVO_BYC_INSN_H

#include "lib/common/tirvo_assert.h"
#include "lib/dl_list/dl_list.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

// X(name, opcode, size, stack size change, reads stream, local form)
//
// One row per defined opcode, in opcode order. `size` counts the opcode byte;
// the stack size change is the net number of bytes the instruction adds to
// the value stack (4-byte cells for values of up to 32 bits, 8-byte cells for
// 64-bit values); `reads stream` marks the instructions that consume stream
// data; the local form is the opcode a shared-variable instruction becomes
// when its variable turns out to be local (UNDEFINED when there is none).
//
// The six 64-bit comparisons count -8 although they leave a 4-byte cell: the
// stored maximum stack sizes were computed with these values, and the
// overestimate only ever gives the interpreter 4 bytes more room than needed.
#define TIRVO_BYC_INSTRUCTIONS(X)                                                                  \
    X(NOP, 1, 1, 0, 0, UNDEFINED)                                                                  \
    X(NOP2, 2, 2, 0, 0, UNDEFINED)                                                                 \
    X(NOP3, 3, 3, 0, 0, UNDEFINED)                                                                 \
    X(NOP4, 4, 4, 0, 0, UNDEFINED)                                                                 \
    X(NOP5, 5, 5, 0, 0, UNDEFINED)                                                                 \
    X(POP_DISCARD32, 6, 1, -4, 0, UNDEFINED)                                                       \
    X(POP_DISCARD64, 7, 1, -8, 0, UNDEFINED)                                                       \
    X(OFFSET, 8, 1, 4, 0, UNDEFINED)                                                               \
    X(MAJOR, 9, 1, 4, 0, UNDEFINED)                                                                \
    X(MINOR, 10, 1, 4, 0, UNDEFINED)                                                               \
    X(PATCH, 11, 1, 4, 0, UNDEFINED)                                                               \
    X(BUILD, 12, 1, 4, 0, UNDEFINED)                                                               \
    X(TIRVOVER, 13, 1, 4, 0, UNDEFINED)                                                            \
    X(DPORT, 14, 1, 4, 0, UNDEFINED)                                                               \
    X(SKIP, 15, 4, 0, 0, UNDEFINED)                                                                \
    X(POP32_SKIP_Z, 16, 4, -4, 0, UNDEFINED)                                                       \
    X(POP64_SKIP_Z, 17, 4, -8, 0, UNDEFINED)                                                       \
    X(POP32_SKIP_NZ, 18, 4, -4, 0, UNDEFINED)                                                      \
    X(POP64_SKIP_NZ, 19, 4, -8, 0, UNDEFINED)                                                      \
    X(SUBDFA, 20, 4, 0, 0, UNDEFINED)                                                              \
    X(END, 21, 1, 0, 0, UNDEFINED)                                                                 \
    X(END_PARENT, 22, 1, 0, 0, UNDEFINED)                                                          \
    X(END_FP_CTX, 23, 1, 0, 0, UNDEFINED)                                                          \
    X(PUSH32_LIT, 24, 5, 4, 0, UNDEFINED)                                                          \
    X(PUSH64_LIT, 25, 9, 8, 0, UNDEFINED)                                                          \
    X(COPY32_TO1, 26, 4, 0, 0, LCOPY32_TO1)                                                        \
    X(COPY32_TO8, 27, 4, 0, 0, LCOPY32_TO8)                                                        \
    X(COPY32_TO16, 28, 4, 0, 0, LCOPY32_TO16)                                                      \
    X(COPY32_TO32, 29, 4, 0, 0, LCOPY32_TO32)                                                      \
    X(COPY64_TO64, 30, 4, 0, 0, LCOPY64_TO64)                                                      \
    X(PUSH1_TO32, 31, 4, 4, 0, LPUSH1_TO32)                                                        \
    X(PUSH8_TO32, 32, 4, 4, 0, LPUSH8_TO32)                                                        \
    X(PUSH16_TO32, 33, 4, 4, 0, LPUSH16_TO32)                                                      \
    X(PUSH32_TO32, 34, 4, 4, 0, LPUSH32_TO32)                                                      \
    X(PUSH64_TO64, 35, 4, 8, 0, LPUSH64_TO64)                                                      \
    X(SKIP_VARBIT_Z, 36, 7, 0, 0, SKIP_LVARBIT_Z)                                                  \
    X(SKIP_VARBIT_NZ, 37, 7, 0, 0, SKIP_LVARBIT_NZ)                                                \
    X(LCOPY32_TO1, 38, 4, 0, 0, UNDEFINED)                                                         \
    X(LCOPY32_TO8, 39, 4, 0, 0, UNDEFINED)                                                         \
    X(LCOPY32_TO16, 40, 4, 0, 0, UNDEFINED)                                                        \
    X(LCOPY32_TO32, 41, 4, 0, 0, UNDEFINED)                                                        \
    X(LCOPY64_TO64, 42, 4, 0, 0, UNDEFINED)                                                        \
    X(LPUSH1_TO32, 43, 4, 4, 0, UNDEFINED)                                                         \
    X(LPUSH8_TO32, 44, 4, 4, 0, UNDEFINED)                                                         \
    X(LPUSH16_TO32, 45, 4, 4, 0, UNDEFINED)                                                        \
    X(LPUSH32_TO32, 46, 4, 4, 0, UNDEFINED)                                                        \
    X(LPUSH64_TO64, 47, 4, 8, 0, UNDEFINED)                                                        \
    X(SKIP_LVARBIT_Z, 48, 7, 0, 0, UNDEFINED)                                                      \
    X(SKIP_LVARBIT_NZ, 49, 7, 0, 0, UNDEFINED)                                                     \
    X(SWAP32, 50, 1, 0, 0, UNDEFINED)                                                              \
    X(SWAP64, 51, 1, 0, 0, UNDEFINED)                                                              \
    X(ZERO32, 52, 1, 4, 0, UNDEFINED)                                                              \
    X(ZERO64, 53, 1, 8, 0, UNDEFINED)                                                              \
    X(SID, 54, 1, -4, 0, UNDEFINED)                                                                \
    X(SID_LIT, 55, 5, 0, 0, UNDEFINED)                                                             \
    X(CRC, 56, 1, -8, 1, UNDEFINED)                                                                \
    X(SKIP_STREAM, 57, 1, -8, 1, UNDEFINED)                                                        \
    X(PARSE32_BE, 58, 1, -4, 1, UNDEFINED)                                                         \
    X(PARSE32_LE, 59, 1, -4, 1, UNDEFINED)                                                         \
    X(PARSE64_BE, 60, 1, -4, 1, UNDEFINED)                                                         \
    X(PARSE64_LE, 61, 1, -4, 1, UNDEFINED)                                                         \
    X(PARSE_DEC, 62, 1, -8, 1, UNDEFINED)                                                          \
    X(PARSE_HEX, 63, 1, -8, 1, UNDEFINED)                                                          \
    X(PARSE_OCT, 64, 1, -8, 1, UNDEFINED)                                                          \
    X(PARSE_INT, 65, 1, -8, 1, UNDEFINED)                                                          \
    X(RMDFA, 66, 4, 0, 0, UNDEFINED)                                                               \
    X(SHLEFT32, 67, 1, -4, 0, UNDEFINED)                                                           \
    X(SHRIGHT32, 68, 1, -4, 0, UNDEFINED)                                                          \
    X(LESS32, 69, 1, -4, 0, UNDEFINED)                                                             \
    X(GREATER32, 70, 1, -4, 0, UNDEFINED)                                                          \
    X(NEGATE32, 71, 1, 0, 0, UNDEFINED)                                                            \
    X(LEQ32, 72, 1, -4, 0, UNDEFINED)                                                              \
    X(GEQ32, 73, 1, -4, 0, UNDEFINED)                                                              \
    X(EQ32, 74, 1, -4, 0, UNDEFINED)                                                               \
    X(NEQ32, 75, 1, -4, 0, UNDEFINED)                                                              \
    X(INC32, 76, 1, 0, 0, UNDEFINED)                                                               \
    X(DEC32, 77, 1, 0, 0, UNDEFINED)                                                               \
    X(MULTIPLY32, 78, 1, -4, 0, UNDEFINED)                                                         \
    X(DIVIDE32, 79, 1, -4, 0, UNDEFINED)                                                           \
    X(REMAINDER32, 80, 1, -4, 0, UNDEFINED)                                                        \
    X(ADD32, 81, 1, -4, 0, UNDEFINED)                                                              \
    X(SUBTRACT32, 82, 1, -4, 0, UNDEFINED)                                                         \
    X(BITWISE_AND32, 83, 1, -4, 0, UNDEFINED)                                                      \
    X(BITWISE_XOR32, 84, 1, -4, 0, UNDEFINED)                                                      \
    X(BITWISE_OR32, 85, 1, -4, 0, UNDEFINED)                                                       \
    X(BITWISE_COMPLEMENT32, 86, 1, 0, 0, UNDEFINED)                                                \
    X(SHLEFT64, 87, 1, -8, 0, UNDEFINED)                                                           \
    X(SHRIGHT64, 88, 1, -8, 0, UNDEFINED)                                                          \
    X(LESS64, 89, 1, -8, 0, UNDEFINED)                                                             \
    X(GREATER64, 90, 1, -8, 0, UNDEFINED)                                                          \
    X(NEGATE64, 91, 1, 0, 0, UNDEFINED)                                                            \
    X(LEQ64, 92, 1, -8, 0, UNDEFINED)                                                              \
    X(GEQ64, 93, 1, -8, 0, UNDEFINED)                                                              \
    X(EQ64, 94, 1, -8, 0, UNDEFINED)                                                               \
    X(NEQ64, 95, 1, -8, 0, UNDEFINED)                                                              \
    X(INC64, 96, 1, 0, 0, UNDEFINED)                                                               \
    X(DEC64, 97, 1, 0, 0, UNDEFINED)                                                               \
    X(MULTIPLY64, 98, 1, -8, 0, UNDEFINED)                                                         \
    X(DIVIDE64, 99, 1, -8, 0, UNDEFINED)                                                           \
    X(REMAINDER64, 100, 1, -8, 0, UNDEFINED)                                                       \
    X(ADD64, 101, 1, -8, 0, UNDEFINED)                                                             \
    X(SUBTRACT64, 102, 1, -8, 0, UNDEFINED)                                                        \
    X(BITWISE_AND64, 103, 1, -8, 0, UNDEFINED)                                                     \
    X(BITWISE_XOR64, 104, 1, -8, 0, UNDEFINED)                                                     \
    X(BITWISE_OR64, 105, 1, -8, 0, UNDEFINED)                                                      \
    X(BITWISE_COMPLEMENT64, 106, 1, 0, 0, UNDEFINED)                                               \
    X(LOGICAL_COMPLEMENT, 107, 1, 0, 0, UNDEFINED)                                                 \
    X(CAST32_TO64, 108, 1, 4, 0, UNDEFINED)                                                        \
    X(CAST64_TO32, 109, 1, -4, 0, UNDEFINED)

// The opcodes. 0 and 110 to 255 are undefined.
enum tirvo_byc_opcode : uint8_t {
    TIRVO_BYC_UNDEFINED = 0,
#define TIRVO_BYC_X_ENUM(name, op, size, stack, reads, local) TIRVO_BYC_##name = op,
    TIRVO_BYC_INSTRUCTIONS(TIRVO_BYC_X_ENUM)
#undef TIRVO_BYC_X_ENUM
};

// The number of opcode values from 0 up to the last defined opcode; every
// opcode from this value up is undefined.
constexpr int TIRVO_BYC_NUM_OPCODES = TIRVO_BYC_CAST64_TO32 + 1;

// The stack size change recorded for undefined opcodes.
constexpr int8_t TIRVO_BYC_STACK_SIZE_CHANGE_INVALID = -100;

// Relocation types of a relocation entry (`rle::type`), also stored in the
// fingerprint file.
enum tirvo_rle_type : int32_t {
    tirvo_rle_type_sid_literal = 1,    // the 4-byte situation id of SID_LIT
    tirvo_rle_type_regex_entry_id = 2, // the 3-byte operand of SUBDFA or RMDFA
    tirvo_rle_type_variable = 3,       // the 3-byte variable operand of a variable instruction
};

namespace tirvo_byc_detail {

// One row of the instruction list.
struct insn_row {
    uint8_t opcode;       // the opcode byte
    const char *mnemonic; // the name without the TIRVO_BYC_ prefix
    uint8_t size;         // length in bytes including the opcode
    int8_t stack;         // stack size change in bytes
    uint8_t reads_stream; // 1 when the instruction consumes stream data
    uint8_t local_form;   // the local form, or TIRVO_BYC_UNDEFINED
};

// The instruction list as data, in opcode order.
inline constexpr insn_row insn_rows[] = {
#define TIRVO_BYC_X_ROW(name, op, size, stack, reads, local)                                       \
    {TIRVO_BYC_##name, #name, size, stack, reads, TIRVO_BYC_##local},
    TIRVO_BYC_INSTRUCTIONS(TIRVO_BYC_X_ROW)
#undef TIRVO_BYC_X_ROW
};

// 1 when the rows are exactly the opcodes 1, 2, ... in order.
constexpr bool rows_dense() {
    int expect = 1;
    for (const insn_row &r : insn_rows)
        if (r.opcode != expect++)
            return false;
    return true;
}
static_assert(rows_dense(), "instruction list must hold opcodes 1, 2, ... in order");
static_assert(std::size(insn_rows) + 1 == TIRVO_BYC_NUM_OPCODES);

// Builds a 256-entry table: `undefined` everywhere, `field` of the row for
// every defined opcode.
template <typename T, typename F>
constexpr std::array<T, 256> make_table(T undefined, F field) {
    std::array<T, 256> t{};
    for (T &e : t)
        e = undefined;
    for (const insn_row &r : insn_rows)
        t[r.opcode] = field(r);
    return t;
}

} // namespace tirvo_byc_detail

// Length in bytes (opcode included) per opcode; 0 for undefined opcodes.
inline constexpr std::array<uint8_t, 256> __tirvo_byc_instruction_size =
    tirvo_byc_detail::make_table<uint8_t>(
        0, [](const tirvo_byc_detail::insn_row &r) { return r.size; });

// Mnemonic per opcode; null for undefined opcodes.
inline constexpr std::array<const char *, 256> __tirvo_byc_mnemonic =
    tirvo_byc_detail::make_table<const char *>(
        nullptr, [](const tirvo_byc_detail::insn_row &r) { return r.mnemonic; });

// Stack size change in bytes per opcode; TIRVO_BYC_STACK_SIZE_CHANGE_INVALID
// for undefined opcodes.
inline constexpr std::array<int8_t, 256> __tirvo_byc_stack_size_change =
    tirvo_byc_detail::make_table<int8_t>(
        TIRVO_BYC_STACK_SIZE_CHANGE_INVALID,
        [](const tirvo_byc_detail::insn_row &r) { return r.stack; });

// 1 for the instructions that consume stream data (CRC, SKIP_STREAM and the
// parse instructions 58 to 65), else 0.
inline constexpr std::array<uint8_t, 256> __tirvo_byc_reads_stream =
    tirvo_byc_detail::make_table<uint8_t>(
        0, [](const tirvo_byc_detail::insn_row &r) { return r.reads_stream; });

// The local form of each shared-variable instruction; TIRVO_BYC_UNDEFINED for
// every other opcode.
inline constexpr std::array<uint8_t, 256> __tirvo_byc_local_form =
    tirvo_byc_detail::make_table<uint8_t>(
        TIRVO_BYC_UNDEFINED, [](const tirvo_byc_detail::insn_row &r) { return r.local_form; });

// Length in bytes of the instruction `opcode`, opcode byte included. Asserts
// "opcode >= 0 && opcode <= 255" and that the opcode is defined.
inline int tirvo_byc_instruction_size(int opcode) {
    TIRVO_ASSERT(opcode >= 0 && opcode <= 255);
    TIRVO_ASSERT(__tirvo_byc_instruction_size[opcode] != 0);
    return __tirvo_byc_instruction_size[opcode];
}

// Mnemonic of `opcode` (a static text). Asserts the range and that the opcode
// is defined.
inline const char *tirvo_byc_mnemonic(int opcode) {
    TIRVO_ASSERT(opcode >= 0 && opcode <= 255);
    TIRVO_ASSERT_TEXT(__tirvo_byc_mnemonic[opcode] != nullptr,
                      "__tirvo_byc_mnemonic[opcode] != NULL");
    return __tirvo_byc_mnemonic[opcode];
}

// Net number of stack bytes `opcode` adds (negative when it removes some).
// Asserts the range and that the opcode is defined.
inline int tirvo_byc_stack_size_change(int opcode) {
    TIRVO_ASSERT(opcode >= 0 && opcode <= 255);
    TIRVO_ASSERT(__tirvo_byc_stack_size_change[opcode] != TIRVO_BYC_STACK_SIZE_CHANGE_INVALID);
    return __tirvo_byc_stack_size_change[opcode];
}

// The local form of a shared-variable instruction (COPY..., PUSH..._TO...,
// SKIP_VARBIT_...), or TIRVO_BYC_UNDEFINED for every other opcode, undefined
// ones included. Asserts the range.
inline tirvo_byc_opcode tirvo_byc_change_to_local(int opcode) {
    TIRVO_ASSERT(opcode >= 0 && opcode <= 255);
    return static_cast<tirvo_byc_opcode>(__tirvo_byc_local_form[opcode]);
}

// True for the defined opcodes 1 to 109; false for every other value,
// including those outside 0 to 255. Never asserts.
inline bool tirvo_opcode_valid(int opcode) {
    return opcode > 0 && opcode <= 255 && __tirvo_byc_mnemonic[opcode] != nullptr;
}

// ---------------------------------------------------------------------------
// Operand readers and writers. All operands are little-endian; `p` may point
// anywhere (no alignment is assumed) and must have room for the operand.

inline uint8_t tirvo_byc_read_u8(const uint8_t *p) {
    return p[0];
}

inline uint16_t tirvo_byc_read_u16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// A 3-byte operand (skip, variable, regex entry id): b0 + 256*b1 + 65536*b2.
inline uint32_t tirvo_byc_read_u24(const uint8_t *p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
}

inline uint32_t tirvo_byc_read_u32(const uint8_t *p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline uint64_t tirvo_byc_read_u64(const uint8_t *p) {
    return uint64_t{tirvo_byc_read_u32(p)} | uint64_t{tirvo_byc_read_u32(p + 4)} << 32;
}

inline void tirvo_byc_write_u8(uint8_t *p, uint8_t v) {
    p[0] = v;
}

inline void tirvo_byc_write_u16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// Stores the low 24 bits of `v` as a 3-byte operand; higher bits are dropped.
inline void tirvo_byc_write_u24(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
}

inline void tirvo_byc_write_u32(uint8_t *p, uint32_t v) {
    tirvo_byc_write_u24(p, v);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline void tirvo_byc_write_u64(uint8_t *p, uint64_t v) {
    tirvo_byc_write_u32(p, static_cast<uint32_t>(v));
    tirvo_byc_write_u32(p + 4, static_cast<uint32_t>(v >> 32));
}

// Reads an operand of `n` bytes (1 to 8, asserted). Unused high bits are 0.
uint64_t tirvo_byc_read_le(const uint8_t *p, int n);

// Writes the low `n` bytes (1 to 8, asserted) of `v`, least significant first.
void tirvo_byc_write_le(uint8_t *p, int n, uint64_t v);

// Writes a no-operation of `n` bytes (1 to 5, asserted) at `p`: NOP for 1,
// else NOPn followed by the filler n-1, ..., 1. Used to blank out an
// instruction of n bytes in place.
void tirvo_byc_write_nop(uint8_t *p, int n);

// ---------------------------------------------------------------------------
// Program record.

// The variable record of the variable registry (compile side). The program
// record only points at it.
struct tirvo_variable;

// One relocation entry: an operand that is filled in or checked when the
// program is bound to its variables and file. Allocated by the compile side
// from its compile pool; linked into `tirvo_bycp::relocs`.
struct rle {
    dl_list list;             // membership in the program's `relocs`
    int32_t pos;              // position of the first operand byte (the byte after the opcode)
    int32_t type;             // a tirvo_rle_type value
    tirvo_variable *variable; // for tirvo_rle_type_variable: the variable; else null
};

// One byte-code program, the compiled form of one variable expression. The
// record holds a list head, so it must not be copied by value once
// initialised.
struct tirvo_bycp {
    uint8_t *byc;           // the code; null when the program is empty
    int32_t byc_len;        // number of code bytes
    int32_t byc_size;       // capacity of `byc` in bytes (byc_len once the program is final)
    dl_list relocs;         // relocation entries (rle), in ascending `pos`
    int32_t max_stack_size; // largest stack size in bytes on any execution path
    int32_t end_stack_size; // bytes left on the stack: 0 (void), 4 (1-32 bits), 8 (more)
};

// Offset of the 3-byte skip operand within an instruction of `opcode` (it is
// always the instruction's last three bytes): 1 for the plain and popping
// skips, 4 for the skips on a variable bit; 0 for an instruction without a
// skip or an undefined opcode.
int tirvo_byc_skip_operand_offset(int opcode);

// Makes `bycp` an empty program over the caller's buffer `buf` of `size`
// bytes (null and 0 for no buffer): no code, no relocation entries, stack
// sizes 0. The buffer stays the caller's.
void tirvo_bycp_init(tirvo_bycp *bycp, uint8_t *buf, int32_t size);

// Fills the caller's relocation entry `entry` (which the caller owns and keeps
// alive with the program) and appends it to `bycp->relocs`. Asserts that the
// operand lies after an opcode inside the code (1 <= pos < byc_len), that
// `type` is a tirvo_rle_type, that `variable` is given exactly for the
// variable type, and that positions ascend.
void tirvo_bycp_add_rle(tirvo_bycp *bycp, rle *entry, int32_t pos, int32_t type,
                        tirvo_variable *variable);

// ---------------------------------------------------------------------------
// Checks for code from outside (a fingerprint file).

// Length of the instruction at `pos` of `code` (`len` bytes) when its opcode
// is defined and all of it lies inside the code; 0 otherwise (also for `pos`
// outside 0 to len - 1).
int tirvo_byc_instruction_size_at(const uint8_t *code, int32_t len, int32_t pos);

// Checks that `code` (`len` bytes, len >= 0; `code` may be null when len is
// 0) is a sequence of whole, defined instructions and that every skip lands on
// the start of an instruction or exactly at the end of the code. `starts` is
// the caller's scratch of len + 1 bytes; on success starts[p] is 1 exactly
// when p is an instruction start or p == len, as tirvo_byc_reloc_valid needs.
// Returns true when the code is sound.
bool tirvo_byc_code_valid(const uint8_t *code, int32_t len, uint8_t *starts);

// Checks one relocation entry against code that passed tirvo_byc_code_valid
// (with the same `starts`): `pos` must be the byte after an opcode, and that
// opcode must carry the operand kind of `type` (SID_LIT for a situation id,
// SUBDFA or RMDFA for a regex entry id, one of the shared-variable
// instructions 26 to 37 for a variable). Returns true when it fits.
bool tirvo_byc_reloc_valid(const uint8_t *code, int32_t len, const uint8_t *starts, int32_t pos,
                           int32_t type);

// ---------------------------------------------------------------------------
// Listing.

// Prints the instruction at `*cursor` to `stream` and advances `*cursor`
// past it: the mnemonic left-aligned in 15 characters and one blank, then the
// operands ("FW %u" for a skip, "%u" for a 3-byte or 4-byte operand,
// "%u, FW %u" for a variable and a skip, the 64-bit literal in decimal;
// nothing for the rest and for NOP fillers). No newline. An undefined opcode
// is an assertion failure; the caller guarantees the whole instruction is
// readable.
void tirvo_byc_print_instruction(FILE *stream, const uint8_t **cursor);

// Prints the program `code` of `len` bytes, one instruction per line as
// "<indent>%04td: <instruction>\n" with its position, and then
// "<indent>%04td:\n" with `len`. Asserts that every instruction is defined and
// lies inside the code.
void tirvo_byc_print_code(FILE *stream, const uint8_t *code, int32_t len, const char *indent);

#endif
