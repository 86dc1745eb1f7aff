#include "byc/tirvo_byc_insn.h"

#include <cinttypes>

namespace {

// How the operands of an instruction are laid out (and listed).
enum operand_form : uint8_t {
    operand_form_none,     // opcode only, or a NOP filler that is skipped
    operand_form_skip,     // 3-byte skip: "FW %u"
    operand_form_u24,      // 3-byte variable or regex entry id: "%u"
    operand_form_var_skip, // 3-byte variable, 3-byte skip: "%u, FW %u"
    operand_form_u32,      // 4-byte literal or situation id: "%u"
    operand_form_u64,      // 8-byte literal: unsigned decimal
};

constexpr operand_form form_of(int opcode) {
    switch (opcode) {
    case TIRVO_BYC_SKIP:
    case TIRVO_BYC_POP32_SKIP_Z:
    case TIRVO_BYC_POP64_SKIP_Z:
    case TIRVO_BYC_POP32_SKIP_NZ:
    case TIRVO_BYC_POP64_SKIP_NZ:
        return operand_form_skip;
    case TIRVO_BYC_SKIP_VARBIT_Z:
    case TIRVO_BYC_SKIP_VARBIT_NZ:
    case TIRVO_BYC_SKIP_LVARBIT_Z:
    case TIRVO_BYC_SKIP_LVARBIT_NZ:
        return operand_form_var_skip;
    case TIRVO_BYC_PUSH32_LIT:
    case TIRVO_BYC_SID_LIT:
        return operand_form_u32;
    case TIRVO_BYC_PUSH64_LIT:
        return operand_form_u64;
    case TIRVO_BYC_SUBDFA:
    case TIRVO_BYC_RMDFA:
        return operand_form_u24;
    default:
        // The copy and push instructions, shared (26-35) and local (38-47).
        if ((opcode >= TIRVO_BYC_COPY32_TO1 && opcode <= TIRVO_BYC_PUSH64_TO64) ||
            (opcode >= TIRVO_BYC_LCOPY32_TO1 && opcode <= TIRVO_BYC_LPUSH64_TO64))
            return operand_form_u24;
        return operand_form_none;
    }
}

// 1 for the no-operations whose filler follows the opcode.
constexpr bool is_nop_with_filler(int opcode) {
    return opcode >= TIRVO_BYC_NOP2 && opcode <= TIRVO_BYC_NOP5;
}

// The operand layout must account for every byte of each defined instruction.
constexpr bool forms_match_sizes() {
    for (int op = 1; op < TIRVO_BYC_NUM_OPCODES; ++op) {
        int want = 1;
        switch (form_of(op)) {
        case operand_form_none:
            want = is_nop_with_filler(op) ? op : 1;
            break;
        case operand_form_skip:
        case operand_form_u24:
            want = 4;
            break;
        case operand_form_var_skip:
            want = 7;
            break;
        case operand_form_u32:
            want = 5;
            break;
        case operand_form_u64:
            want = 9;
            break;
        }
        if (__tirvo_byc_instruction_size[op] != want)
            return false;
    }
    return true;
}
static_assert(forms_match_sizes(), "operand layout disagrees with an instruction size");

} // namespace

int tirvo_byc_skip_operand_offset(int opcode) {
    switch (form_of(opcode)) {
    case operand_form_skip:
        return 1;
    case operand_form_var_skip:
        return 4;
    default:
        return 0;
    }
}

uint64_t tirvo_byc_read_le(const uint8_t *p, int n) {
    TIRVO_ASSERT(n >= 1 && n <= 8);
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

void tirvo_byc_write_le(uint8_t *p, int n, uint64_t v) {
    TIRVO_ASSERT(n >= 1 && n <= 8);
    for (int i = 0; i < n; ++i, v >>= 8)
        p[i] = static_cast<uint8_t>(v);
}

void tirvo_byc_write_nop(uint8_t *p, int n) {
    TIRVO_ASSERT(n >= 1 && n <= 5);
    // NOP is opcode 1 and NOPn is opcode n, so the bytes are n, n-1, ..., 1.
    for (int i = 0; i < n; ++i)
        p[i] = static_cast<uint8_t>(n - i);
}

void tirvo_bycp_init(tirvo_bycp *bycp, uint8_t *buf, int32_t size) {
    TIRVO_ASSERT(size >= 0 && (buf != nullptr || size == 0));
    bycp->byc = buf;
    bycp->byc_len = 0;
    bycp->byc_size = size;
    dl_list_init(&bycp->relocs);
    bycp->max_stack_size = 0;
    bycp->end_stack_size = 0;
}

void tirvo_bycp_add_rle(tirvo_bycp *bycp, rle *entry, int32_t pos, int32_t type,
                        tirvo_variable *variable) {
    TIRVO_ASSERT(pos >= 1 && pos < bycp->byc_len);
    TIRVO_ASSERT(type >= tirvo_rle_type_sid_literal && type <= tirvo_rle_type_variable);
    TIRVO_ASSERT((type == tirvo_rle_type_variable) == (variable != nullptr));
    if (dl_list *last = dl_list_last(&bycp->relocs))
        TIRVO_ASSERT(dl_list_entry(last, rle, list)->pos < pos);
    entry->pos = pos;
    entry->type = type;
    entry->variable = variable;
    dl_list_append(&bycp->relocs, &entry->list);
}

int tirvo_byc_instruction_size_at(const uint8_t *code, int32_t len, int32_t pos) {
    if (pos < 0 || pos >= len)
        return 0;
    int size = __tirvo_byc_instruction_size[code[pos]];
    return size <= len - pos ? size : 0;
}

bool tirvo_byc_code_valid(const uint8_t *code, int32_t len, uint8_t *starts) {
    if (len < 0)
        return false;
    for (int32_t p = 0; p <= len; ++p)
        starts[p] = 0;
    // Mark the instruction starts; every instruction must be whole.
    for (int32_t p = 0; p < len;) {
        int size = tirvo_byc_instruction_size_at(code, len, p);
        if (size == 0)
            return false;
        starts[p] = 1;
        p += size;
    }
    starts[len] = 1;
    // Every skip counts from the end of its instruction and must land on a
    // start or the end; a 3-byte skip cannot overflow the 32-bit arithmetic.
    for (int32_t p = 0; p < len; p += __tirvo_byc_instruction_size[code[p]]) {
        int off = tirvo_byc_skip_operand_offset(code[p]);
        if (off == 0)
            continue;
        int64_t target = int64_t{p} + off + 3 + tirvo_byc_read_u24(code + p + off);
        if (target > len || !starts[target])
            return false;
    }
    return true;
}

bool tirvo_byc_reloc_valid(const uint8_t *code, int32_t len, const uint8_t *starts, int32_t pos,
                           int32_t type) {
    if (pos < 1 || pos > len || !starts[pos - 1])
        return false;
    int opcode = code[pos - 1];
    switch (type) {
    case tirvo_rle_type_sid_literal:
        return opcode == TIRVO_BYC_SID_LIT;
    case tirvo_rle_type_regex_entry_id:
        return opcode == TIRVO_BYC_SUBDFA || opcode == TIRVO_BYC_RMDFA;
    case tirvo_rle_type_variable:
        return opcode >= TIRVO_BYC_COPY32_TO1 && opcode <= TIRVO_BYC_SKIP_VARBIT_NZ;
    default:
        return false;
    }
}

void tirvo_byc_print_instruction(FILE *stream, const uint8_t **cursor) {
    const uint8_t *p = *cursor;
    int opcode = p[0];
    std::fprintf(stream, "%-15s ", tirvo_byc_mnemonic(opcode));
    switch (form_of(opcode)) {
    case operand_form_none:
        break;
    case operand_form_skip:
        std::fprintf(stream, "FW %u", static_cast<unsigned>(tirvo_byc_read_u24(p + 1)));
        break;
    case operand_form_u24:
        std::fprintf(stream, "%u", static_cast<unsigned>(tirvo_byc_read_u24(p + 1)));
        break;
    case operand_form_var_skip:
        std::fprintf(stream, "%u, FW %u", static_cast<unsigned>(tirvo_byc_read_u24(p + 1)),
                     static_cast<unsigned>(tirvo_byc_read_u24(p + 4)));
        break;
    case operand_form_u32:
        std::fprintf(stream, "%u", static_cast<unsigned>(tirvo_byc_read_u32(p + 1)));
        break;
    case operand_form_u64:
        std::fprintf(stream, "%" PRIu64, tirvo_byc_read_u64(p + 1));
        break;
    }
    *cursor = p + tirvo_byc_instruction_size(opcode);
}

void tirvo_byc_print_code(FILE *stream, const uint8_t *code, int32_t len, const char *indent) {
    const uint8_t *p = code;
    for (int32_t pos = 0; pos < len; pos = static_cast<int32_t>(p - code)) {
        TIRVO_ASSERT(tirvo_byc_instruction_size_at(code, len, pos) != 0);
        std::fprintf(stream, "%s%04td: ", indent, p - code);
        tirvo_byc_print_instruction(stream, &p);
        std::fputc('\n', stream);
    }
    std::fprintf(stream, "%s%04td:\n", indent, static_cast<ptrdiff_t>(len));
}
