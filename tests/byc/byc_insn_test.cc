#include "byc/tirvo_byc_insn.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

// A regular expression that matches `text` literally (death-test output).
std::string literally(const std::string &text) {
    std::string re;
    for (char c : text) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos)
            re += '\\';
        re += c;
    }
    return re;
}

// The assertion line of this module for the check `check`.
std::string assertion(const std::string &check) {
    return literally("tirvo_byc_insn: assertion failed: " + check);
}

// Collects what a printing function writes to a stream.
struct capture {
    char *buf = nullptr;
    size_t len = 0;
    FILE *stream = open_memstream(&buf, &len);

    capture() = default;
    capture(const capture &) = delete;
    capture &operator=(const capture &) = delete;
    ~capture() {
        if (stream)
            std::fclose(stream);
        std::free(buf);
    }
    std::string text() {
        std::fflush(stream);
        return std::string(buf, len);
    }
};

// ---------------------------------------------------------------------------
// Opcode tables.

struct table_case {
    int enumerator; // the enumerator under test
    int opcode;     // its number as documented
    const char *mnemonic;
    int size;
    int stack;
    int reads_stream;
    int local; // local form, 0 for none
};

const table_case table_cases[] = {
    {TIRVO_BYC_NOP, 1, "NOP", 1, 0, 0, 0},
    {TIRVO_BYC_NOP3, 3, "NOP3", 3, 0, 0, 0},
    {TIRVO_BYC_NOP5, 5, "NOP5", 5, 0, 0, 0},
    {TIRVO_BYC_POP_DISCARD32, 6, "POP_DISCARD32", 1, -4, 0, 0},
    {TIRVO_BYC_POP_DISCARD64, 7, "POP_DISCARD64", 1, -8, 0, 0},
    {TIRVO_BYC_OFFSET, 8, "OFFSET", 1, 4, 0, 0},
    {TIRVO_BYC_TIRVOVER, 13, "TIRVOVER", 1, 4, 0, 0},
    {TIRVO_BYC_DPORT, 14, "DPORT", 1, 4, 0, 0},
    {TIRVO_BYC_SKIP, 15, "SKIP", 4, 0, 0, 0},
    {TIRVO_BYC_POP32_SKIP_Z, 16, "POP32_SKIP_Z", 4, -4, 0, 0},
    {TIRVO_BYC_POP64_SKIP_Z, 17, "POP64_SKIP_Z", 4, -8, 0, 0},
    {TIRVO_BYC_POP32_SKIP_NZ, 18, "POP32_SKIP_NZ", 4, -4, 0, 0},
    {TIRVO_BYC_POP64_SKIP_NZ, 19, "POP64_SKIP_NZ", 4, -8, 0, 0},
    {TIRVO_BYC_SUBDFA, 20, "SUBDFA", 4, 0, 0, 0},
    {TIRVO_BYC_END, 21, "END", 1, 0, 0, 0},
    {TIRVO_BYC_END_FP_CTX, 23, "END_FP_CTX", 1, 0, 0, 0},
    {TIRVO_BYC_PUSH32_LIT, 24, "PUSH32_LIT", 5, 4, 0, 0},
    {TIRVO_BYC_PUSH64_LIT, 25, "PUSH64_LIT", 9, 8, 0, 0},
    {TIRVO_BYC_COPY32_TO1, 26, "COPY32_TO1", 4, 0, 0, 38},
    {TIRVO_BYC_COPY32_TO32, 29, "COPY32_TO32", 4, 0, 0, 41},
    {TIRVO_BYC_COPY64_TO64, 30, "COPY64_TO64", 4, 0, 0, 42},
    {TIRVO_BYC_PUSH1_TO32, 31, "PUSH1_TO32", 4, 4, 0, 43},
    {TIRVO_BYC_PUSH64_TO64, 35, "PUSH64_TO64", 4, 8, 0, 47},
    {TIRVO_BYC_SKIP_VARBIT_Z, 36, "SKIP_VARBIT_Z", 7, 0, 0, 48},
    {TIRVO_BYC_SKIP_VARBIT_NZ, 37, "SKIP_VARBIT_NZ", 7, 0, 0, 49},
    {TIRVO_BYC_LCOPY32_TO1, 38, "LCOPY32_TO1", 4, 0, 0, 0},
    {TIRVO_BYC_LPUSH16_TO32, 45, "LPUSH16_TO32", 4, 4, 0, 0},
    {TIRVO_BYC_LPUSH64_TO64, 47, "LPUSH64_TO64", 4, 8, 0, 0},
    {TIRVO_BYC_SKIP_LVARBIT_NZ, 49, "SKIP_LVARBIT_NZ", 7, 0, 0, 0},
    {TIRVO_BYC_SWAP64, 51, "SWAP64", 1, 0, 0, 0},
    {TIRVO_BYC_ZERO64, 53, "ZERO64", 1, 8, 0, 0},
    {TIRVO_BYC_SID, 54, "SID", 1, -4, 0, 0},
    {TIRVO_BYC_SID_LIT, 55, "SID_LIT", 5, 0, 0, 0},
    {TIRVO_BYC_CRC, 56, "CRC", 1, -8, 1, 0},
    {TIRVO_BYC_SKIP_STREAM, 57, "SKIP_STREAM", 1, -8, 1, 0},
    {TIRVO_BYC_PARSE32_BE, 58, "PARSE32_BE", 1, -4, 1, 0},
    {TIRVO_BYC_PARSE64_LE, 61, "PARSE64_LE", 1, -4, 1, 0},
    {TIRVO_BYC_PARSE_DEC, 62, "PARSE_DEC", 1, -8, 1, 0},
    {TIRVO_BYC_PARSE_INT, 65, "PARSE_INT", 1, -8, 1, 0},
    {TIRVO_BYC_RMDFA, 66, "RMDFA", 4, 0, 0, 0},
    {TIRVO_BYC_SHLEFT32, 67, "SHLEFT32", 1, -4, 0, 0},
    {TIRVO_BYC_NEGATE32, 71, "NEGATE32", 1, 0, 0, 0},
    {TIRVO_BYC_NEQ32, 75, "NEQ32", 1, -4, 0, 0},
    {TIRVO_BYC_DEC32, 77, "DEC32", 1, 0, 0, 0},
    {TIRVO_BYC_BITWISE_OR32, 85, "BITWISE_OR32", 1, -4, 0, 0},
    {TIRVO_BYC_BITWISE_COMPLEMENT32, 86, "BITWISE_COMPLEMENT32", 1, 0, 0, 0},
    {TIRVO_BYC_SHLEFT64, 87, "SHLEFT64", 1, -8, 0, 0},
    {TIRVO_BYC_LESS64, 89, "LESS64", 1, -8, 0, 0},
    {TIRVO_BYC_NEGATE64, 91, "NEGATE64", 1, 0, 0, 0},
    {TIRVO_BYC_EQ64, 94, "EQ64", 1, -8, 0, 0},
    {TIRVO_BYC_INC64, 96, "INC64", 1, 0, 0, 0},
    {TIRVO_BYC_DEC64, 97, "DEC64", 1, 0, 0, 0},
    {TIRVO_BYC_REMAINDER64, 100, "REMAINDER64", 1, -8, 0, 0},
    {TIRVO_BYC_BITWISE_COMPLEMENT64, 106, "BITWISE_COMPLEMENT64", 1, 0, 0, 0},
    {TIRVO_BYC_LOGICAL_COMPLEMENT, 107, "LOGICAL_COMPLEMENT", 1, 0, 0, 0},
    {TIRVO_BYC_CAST32_TO64, 108, "CAST32_TO64", 1, 4, 0, 0},
    {TIRVO_BYC_CAST64_TO32, 109, "CAST64_TO32", 1, -4, 0, 0},
};

TEST(BycTables, SampleOfOpcodesMatchesTheInstructionTable) {
    for (const table_case &c : table_cases) {
        SCOPED_TRACE(c.mnemonic);
        EXPECT_EQ(c.enumerator, c.opcode);
        EXPECT_STREQ(tirvo_byc_mnemonic(c.opcode), c.mnemonic);
        EXPECT_EQ(tirvo_byc_instruction_size(c.opcode), c.size);
        EXPECT_EQ(tirvo_byc_stack_size_change(c.opcode), c.stack);
        EXPECT_EQ(__tirvo_byc_reads_stream[c.opcode], c.reads_stream);
        EXPECT_EQ(tirvo_byc_change_to_local(c.opcode), c.local);
        EXPECT_TRUE(tirvo_opcode_valid(c.opcode));
    }
}

TEST(BycTables, DefinedAndUndefinedOpcodes) {
    for (int op = 0; op <= 255; ++op) {
        SCOPED_TRACE(op);
        bool defined = op >= 1 && op <= 109;
        EXPECT_EQ(tirvo_opcode_valid(op), defined);
        EXPECT_EQ(__tirvo_byc_instruction_size[op] != 0, defined);
        EXPECT_EQ(__tirvo_byc_mnemonic[op] != nullptr, defined);
        EXPECT_EQ(__tirvo_byc_stack_size_change[op] != TIRVO_BYC_STACK_SIZE_CHANGE_INVALID,
                  defined);
        if (!defined) {
            EXPECT_EQ(__tirvo_byc_reads_stream[op], 0);
            EXPECT_EQ(tirvo_byc_change_to_local(op), TIRVO_BYC_UNDEFINED);
        }
    }
    EXPECT_EQ(TIRVO_BYC_STACK_SIZE_CHANGE_INVALID, -100);
    EXPECT_FALSE(tirvo_opcode_valid(-1));
    EXPECT_FALSE(tirvo_opcode_valid(256));
}

// Only CRC, SKIP_STREAM and the parse instructions 58 to 65 read the stream;
// only the twelve shared variable instructions 26 to 37 have local forms, and
// those are 38 to 49 in the same order.
TEST(BycTables, StreamReadersAndLocalForms) {
    for (int op = 1; op <= 109; ++op) {
        SCOPED_TRACE(op);
        EXPECT_EQ(__tirvo_byc_reads_stream[op], op >= 56 && op <= 65 ? 1 : 0);
        EXPECT_EQ(tirvo_byc_change_to_local(op), op >= 26 && op <= 37 ? op + 12 : 0);
    }
}

// ---------------------------------------------------------------------------
// Accessors refuse undefined opcodes.

enum accessor { acc_size, acc_mnemonic, acc_stack, acc_local };

void call(accessor a, int opcode) {
    switch (a) {
    case acc_size:
        (void)tirvo_byc_instruction_size(opcode);
        break;
    case acc_mnemonic:
        (void)tirvo_byc_mnemonic(opcode);
        break;
    case acc_stack:
        (void)tirvo_byc_stack_size_change(opcode);
        break;
    case acc_local:
        (void)tirvo_byc_change_to_local(opcode);
        break;
    }
}

struct refusal_case {
    accessor a;
    int opcode;
    const char *check;
};

const char range_check[] = "opcode >= 0 && opcode <= 255";
const char size_check[] = "__tirvo_byc_instruction_size[opcode] != 0";
const char mnemonic_check[] = "__tirvo_byc_mnemonic[opcode] != NULL";
const char stack_check[] =
    "__tirvo_byc_stack_size_change[opcode] != TIRVO_BYC_STACK_SIZE_CHANGE_INVALID";

const refusal_case refusal_cases[] = {
    {acc_size, 0, size_check},           {acc_size, 110, size_check},
    {acc_size, 255, size_check},         {acc_size, -1, range_check},
    {acc_size, 256, range_check},        {acc_mnemonic, 0, mnemonic_check},
    {acc_mnemonic, 110, mnemonic_check}, {acc_mnemonic, 200, mnemonic_check},
    {acc_mnemonic, -5, range_check},     {acc_stack, 0, stack_check},
    {acc_stack, 110, stack_check},       {acc_stack, 255, stack_check},
    {acc_stack, 1000, range_check},      {acc_local, -1, range_check},
    {acc_local, 256, range_check},
};

TEST(BycAccessorsDeathTest, RefuseUndefinedOpcodes) {
    for (const refusal_case &c : refusal_cases) {
        SCOPED_TRACE(testing::Message() << "accessor " << c.a << ", opcode " << c.opcode);
        EXPECT_DEATH(call(c.a, c.opcode), assertion(c.check));
    }
}

// ---------------------------------------------------------------------------
// Instruction listing.

struct listing_case {
    bytes code;
    const char *text;
    int advance;
};

const listing_case listing_cases[] = {
    {{24, 5, 0, 0, 0}, "PUSH32_LIT      5", 5},
    {{24, 0xff, 0xff, 0xff, 0xff}, "PUSH32_LIT      4294967295", 5},
    {{15, 4, 0, 0}, "SKIP            FW 4", 4},
    {{19, 0xff, 0xff, 0xff}, "POP64_SKIP_NZ   FW 16777215", 4},
    {{36, 2, 0, 0, 7, 0, 0}, "SKIP_VARBIT_Z   2, FW 7", 7},
    {{49, 0, 1, 0, 0, 0, 1}, "SKIP_LVARBIT_NZ 256, FW 65536", 7},
    {{5, 4, 3, 2, 1}, "NOP5            ", 5},
    {{2, 1}, "NOP2            ", 2},
    {{1}, "NOP             ", 1},
    {{21}, "END             ", 1},
    {{86}, "BITWISE_COMPLEMENT32 ", 1},
    {{25, 8, 7, 6, 5, 4, 3, 2, 1}, "PUSH64_LIT      72623859790382856", 9},
    {{25, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff},
     "PUSH64_LIT      18446744073709551615",
     9},
    {{20, 0x34, 0x12, 0}, "SUBDFA          4660", 4},
    {{66, 1, 0, 0}, "RMDFA           1", 4},
    {{44, 0x10, 0, 1}, "LPUSH8_TO32     65552", 4},
    {{30, 7, 0, 0}, "COPY64_TO64     7", 4},
    {{55, 0x78, 0x56, 0x34, 0x12}, "SID_LIT         305419896", 5},
};

TEST(BycListing, OneInstructionPerCase) {
    for (const listing_case &c : listing_cases) {
        SCOPED_TRACE(c.text);
        // Trailing bytes show that the cursor stops right after the instruction.
        bytes code = c.code;
        code.push_back(0xee);
        code.push_back(0xee);
        capture out;
        const uint8_t *cursor = code.data();
        tirvo_byc_print_instruction(out.stream, &cursor);
        EXPECT_EQ(out.text(), c.text);
        EXPECT_EQ(cursor - code.data(), c.advance);
    }
}

TEST(BycListing, WholeProgramWithPositions) {
    const bytes code = {24, 5, 0, 0, 0, 29, 0, 0, 0, 15, 0, 0, 0};
    capture out;
    tirvo_byc_print_code(out.stream, code.data(), static_cast<int32_t>(code.size()), "    ");
    EXPECT_EQ(out.text(), "    0000: PUSH32_LIT      5\n"
                          "    0005: COPY32_TO32     0\n"
                          "    0009: SKIP            FW 0\n"
                          "    0013:\n");
    capture empty;
    tirvo_byc_print_code(empty.stream, nullptr, 0, "");
    EXPECT_EQ(empty.text(), "0000:\n");
}

TEST(BycListingDeathTest, UndefinedOrTruncatedInstructions) {
    for (uint8_t op : {uint8_t{0}, uint8_t{110}, uint8_t{255}}) {
        const uint8_t code[] = {op, 0, 0, 0, 0, 0, 0, 0, 0};
        const uint8_t *cursor = code;
        EXPECT_DEATH(tirvo_byc_print_instruction(stdout, &cursor), assertion(mnemonic_check));
    }
    const uint8_t truncated[] = {24, 5, 0};
    EXPECT_DEATH(tirvo_byc_print_code(stdout, truncated, 3, ""),
                 assertion("tirvo_byc_instruction_size_at(code, len, pos) != 0"));
}

// ---------------------------------------------------------------------------
// Operand readers and writers.

// Every width at every alignment: the bytes land least significant first,
// the neighbours stay untouched and the reader gives the value back.
TEST(BycOperands, FixedWidthRoundTripAtEveryOffset) {
    const uint8_t le[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    for (int width : {1, 2, 3, 4, 8}) {
        for (int off = 0; off < 8; ++off) {
            SCOPED_TRACE(testing::Message() << "width " << width << ", offset " << off);
            uint8_t buf[24];
            std::fill(std::begin(buf), std::end(buf), uint8_t{0xee});
            uint8_t *p = buf + off;
            uint64_t got = 0;
            switch (width) {
            case 1:
                tirvo_byc_write_u8(p, 0x01);
                got = tirvo_byc_read_u8(p);
                EXPECT_EQ(got, 0x01u);
                break;
            case 2:
                tirvo_byc_write_u16(p, 0x0201);
                got = tirvo_byc_read_u16(p);
                EXPECT_EQ(got, 0x0201u);
                break;
            case 3:
                tirvo_byc_write_u24(p, 0xff030201); // the top byte is dropped
                got = tirvo_byc_read_u24(p);
                EXPECT_EQ(got, 0x030201u);
                break;
            case 4:
                tirvo_byc_write_u32(p, 0x04030201);
                got = tirvo_byc_read_u32(p);
                EXPECT_EQ(got, 0x04030201u);
                break;
            case 8:
                tirvo_byc_write_u64(p, 0x0807060504030201);
                got = tirvo_byc_read_u64(p);
                EXPECT_EQ(got, 0x0807060504030201u);
                break;
            }
            for (int i = 0; i < 24; ++i) {
                int k = i - off;
                EXPECT_EQ(buf[i], k >= 0 && k < width ? le[k] : 0xee) << "byte " << i;
            }
        }
    }
}

TEST(BycOperands, HighBitsAndGenericWidths) {
    const uint8_t b[] = {0xff, 0x80, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
    EXPECT_EQ(tirvo_byc_read_u24(b), 0x1180ffu);
    EXPECT_EQ(tirvo_byc_read_u32(b + 1), 0x33221180u);
    EXPECT_EQ(tirvo_byc_read_u64(b + 1), 0x7766554433221180u);

    const uint64_t expect[] = {0x11,         0x2211,         0x332211,         0x44332211,
                               0x5544332211, 0x665544332211, 0x77665544332211, 0x8877665544332211};
    for (int n = 1; n <= 8; ++n) {
        SCOPED_TRACE(n);
        uint8_t buf[11];
        std::fill(std::begin(buf), std::end(buf), uint8_t{0xee});
        tirvo_byc_write_le(buf + 1, n, 0x8877665544332211);
        EXPECT_EQ(buf[0], 0xee);
        EXPECT_EQ(buf[1], 0x11);
        EXPECT_EQ(buf[n], static_cast<uint8_t>(0x11 * n));
        EXPECT_EQ(buf[n + 1], 0xee);
        EXPECT_EQ(tirvo_byc_read_le(buf + 1, n), expect[n - 1]);
    }
}

TEST(BycOperands, NopFillerCountsDown) {
    const bytes expect[] = {{1}, {2, 1}, {3, 2, 1}, {4, 3, 2, 1}, {5, 4, 3, 2, 1}};
    for (int n = 1; n <= 5; ++n) {
        uint8_t buf[6] = {0xee, 0xee, 0xee, 0xee, 0xee, 0xee};
        tirvo_byc_write_nop(buf, n);
        EXPECT_EQ(bytes(buf, buf + n), expect[n - 1]);
        EXPECT_EQ(buf[n], 0xee);
        EXPECT_EQ(tirvo_byc_instruction_size(buf[0]), n);
    }
}

// ---------------------------------------------------------------------------
// Program record.

TEST(BycProgram, RelocationEntriesKeepTheirOrder) {
    uint8_t buf[32] = {};
    tirvo_bycp p;
    tirvo_bycp_init(&p, buf, 32);
    EXPECT_EQ(p.byc, buf);
    EXPECT_EQ(p.byc_len, 0);
    EXPECT_EQ(p.byc_size, 32);
    EXPECT_TRUE(dl_list_empty(&p.relocs));
    p.byc_len = 20;
    auto *var = reinterpret_cast<tirvo_variable *>(buf + 31); // any distinct address
    rle a{}, b{}, c{};
    tirvo_bycp_add_rle(&p, &a, 1, tirvo_rle_type_sid_literal, nullptr);
    tirvo_bycp_add_rle(&p, &b, 6, tirvo_rle_type_variable, var);
    tirvo_bycp_add_rle(&p, &c, 13, tirvo_rle_type_regex_entry_id, nullptr);
    std::vector<const rle *> got;
    dl_list_for_each(it, &p.relocs) got.push_back(dl_list_entry(it, rle, list));
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], &a);
    EXPECT_EQ(got[1], &b);
    EXPECT_EQ(got[2], &c);
    EXPECT_EQ(b.pos, 6);
    EXPECT_EQ(b.type, 3);
    EXPECT_EQ(b.variable, var);
    EXPECT_EQ(c.type, 2);
}

TEST(BycProgramDeathTest, RelocationPositionsAscend) {
    uint8_t buf[16] = {};
    tirvo_bycp p;
    tirvo_bycp_init(&p, buf, 16);
    p.byc_len = 16;
    rle a{}, b{};
    tirvo_bycp_add_rle(&p, &a, 6, tirvo_rle_type_sid_literal, nullptr);
    EXPECT_DEATH(tirvo_bycp_add_rle(&p, &b, 6, tirvo_rle_type_sid_literal, nullptr),
                 assertion("dl_list_entry(last, rle, list)->pos < pos"));
}

// ---------------------------------------------------------------------------
// Checks of code read from a file.

struct code_case {
    const char *what;
    bytes code;
    bool valid;
};

const code_case code_cases[] = {
    {"empty program", {}, true},
    {"one whole instruction", {24, 5, 0, 0, 0}, true},
    {"truncated literal", {24, 5, 0, 0}, false},
    {"opcode 0", {0}, false},
    {"opcode 110", {1, 110}, false},
    {"opcode 255", {1, 255}, false},
    {"skip 0 to the end", {15, 0, 0, 0}, true},
    {"skip onto the end", {15, 1, 0, 0, 1}, true},
    {"skip past the end", {15, 2, 0, 0, 1}, false},
    {"skip onto an instruction", {15, 1, 0, 0, 1, 24, 0, 0, 0, 0}, true},
    {"skip into an operand", {15, 2, 0, 0, 1, 24, 0, 0, 0, 0}, false},
    {"largest skip", {16, 0xff, 0xff, 0xff}, false},
    {"bit test onto an instruction", {36, 0, 0, 0, 5, 0, 0, 24, 0, 0, 0, 0, 1}, true},
    {"bit test into an operand", {36, 0, 0, 0, 4, 0, 0, 24, 0, 0, 0, 0, 1}, false},
    {"local bit test past the end", {48, 0, 0, 0, 1, 0, 0}, false},
    {"variable operand is no skip", {29, 0xff, 0xff, 0xff}, true},
};

TEST(BycCheck, CodeStructureAndSkipTargets) {
    for (const code_case &c : code_cases) {
        SCOPED_TRACE(c.what);
        bytes starts(c.code.size() + 1, 0xee);
        EXPECT_EQ(
            tirvo_byc_code_valid(c.code.data(), static_cast<int32_t>(c.code.size()), starts.data()),
            c.valid);
    }
}

TEST(BycCheck, InstructionSizeAt) {
    const bytes code = {24, 5, 0, 0, 0, 15, 0, 0};
    const int32_t len = static_cast<int32_t>(code.size());
    EXPECT_EQ(tirvo_byc_instruction_size_at(code.data(), len, 0), 5);
    EXPECT_EQ(tirvo_byc_instruction_size_at(code.data(), len, 5), 0); // runs past the end
    EXPECT_EQ(tirvo_byc_instruction_size_at(code.data(), len, 1), 5); // opcode 5 is NOP5
    EXPECT_EQ(tirvo_byc_instruction_size_at(code.data(), len, 2), 0); // opcode 0
    EXPECT_EQ(tirvo_byc_instruction_size_at(code.data(), len, -1), 0);
    EXPECT_EQ(tirvo_byc_instruction_size_at(code.data(), len, len), 0);
}

struct reloc_case {
    int32_t pos;
    int32_t type;
    bool valid;
};

TEST(BycCheck, RelocationsPointAfterTheRightOpcode) {
    // 0 PUSH32_LIT 29, 5 COPY32_TO32, 9 SID_LIT, 14 SUBDFA, 18 LPUSH8_TO32,
    // 22 RMDFA, 26 SKIP_VARBIT_NZ; 33 bytes.
    const bytes code = {24, 29, 0, 0, 0, 29, 0, 0, 0, 55, 7, 0, 0, 0, 20, 1, 0,
                        0,  44, 0, 0, 0, 66, 2, 0, 0, 37, 0, 0, 0, 0, 0,  0};
    const int32_t len = static_cast<int32_t>(code.size());
    bytes starts(code.size() + 1);
    ASSERT_TRUE(tirvo_byc_code_valid(code.data(), len, starts.data()));
    const reloc_case cases[] = {
        {6, tirvo_rle_type_variable, true},
        {6, tirvo_rle_type_sid_literal, false},
        {10, tirvo_rle_type_sid_literal, true},
        {15, tirvo_rle_type_regex_entry_id, true},
        {23, tirvo_rle_type_regex_entry_id, true},
        {27, tirvo_rle_type_variable, true},
        {19, tirvo_rle_type_variable, false}, // already a local form
        {1, tirvo_rle_type_variable, false},  // PUSH32_LIT has no variable
        {2, tirvo_rle_type_variable, false},  // byte 1 looks like COPY32_TO32 but is an operand
        {0, tirvo_rle_type_variable, false},
        {34, tirvo_rle_type_variable, false},
        {-3, tirvo_rle_type_variable, false},
        {6, 0, false},
        {6, 4, false},
    };
    for (const reloc_case &c : cases) {
        SCOPED_TRACE(testing::Message() << "pos " << c.pos << ", type " << c.type);
        EXPECT_EQ(tirvo_byc_reloc_valid(code.data(), len, starts.data(), c.pos, c.type), c.valid);
    }
}

} // namespace
