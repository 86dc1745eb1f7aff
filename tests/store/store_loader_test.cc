#include "engine/tirvo_eng_settings.h"
#include "store/tirvo_alloc.h"
#include "store/tirvo_load.h"
#include "store/tirvo_load_dump.h"
#include "tests/store/fp_test_file.h"
#include "tests/store/loader_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

// Opcodes used by the programs of the tests.
constexpr uint8_t OP_PUSH32_LIT = 24, OP_COPY32_TO32 = 29, OP_LCOPY32_TO32 = 41;

// ---------------------------------------------------------------------------

TEST(LoadErrorText, EveryCodeHasItsText) {
    static const char *const texts[] = {
        "Success",
        "Internal error: too short buffer for record header",
        "Too short buffer for record",
        "Invalid record header",
        "Unexpected end of file",
        "File read error",
        "Decoding error",
        "Decompressing error",
        "Memory allocation failed",
        "Internal error",
        "Could not open temporary file.",
        "Could not write to temporary file.",
        "Could not read from temporary file.",
        "Could not unlink temporary file.",
        "Old DFA format detected (this error code used only internally)",
        "Decoding error in old format DFA file",
        "Too short buffer for old DFA file record",
    };
    for (int code = 0; code < 17; ++code)
        EXPECT_STREQ(tirvo_load_error_text(code), texts[code]) << code;
    EXPECT_STREQ(tirvo_load_error_text(-1), "<unknown error code>");
    EXPECT_STREQ(tirvo_load_error_text(17), "<unknown error code>");
}

TEST_F(loader_fixture, HeaderOnlyFileLoadsFromGzipAndZlib) {
    fp_test_file f;
    f.file_id = 7;
    const std::string raw = fp_test_records(f);
    for (const std::string &bytes : {fp_test_gzip(raw), fp_test_zlib(raw)}) {
        fp_holder fp;
        ASSERT_EQ(load(bytes, &fp.p), 0) << errors();
        EXPECT_EQ(fp.p->file_id, 7);
        EXPECT_STREQ(fp.p->file_name, "test.fp");
        EXPECT_EQ(fp.p->low_level_dfa, 0u);
        EXPECT_EQ(fp.p->num_variables, 0);
        EXPECT_EQ(fp.p->num_byc_progs, 0);
        EXPECT_EQ(fp.p->num_situations, 0);
        EXPECT_EQ(fp.p->num_dfas, 0);
        EXPECT_EQ(fp.p->variables, nullptr);
        EXPECT_EQ(fp.p->bycps, nullptr);
        EXPECT_EQ(fp.p->situations, nullptr);
        EXPECT_EQ(fp.p->dfas, nullptr);
        EXPECT_EQ(fp.p->data, nullptr);
        EXPECT_EQ(fp.p->data_size, 0u);
        EXPECT_EQ(fp.p->mmap_file, nullptr);
        EXPECT_EQ(fp.p->tmp_file, nullptr);
        EXPECT_EQ(tirvo_fingerprint_has_situation(fp.p, 0), 0);
    }
    EXPECT_EQ(errors(), "");
}

TEST_F(loader_fixture, VariablesSituationsAndProgramsAreLoadedByIdAndSorted) {
    fp_holder fp;
    ASSERT_EQ(load(fp_test_gzip(fp_test_records(fp_test_sample_file())), &fp.p), 0) << errors();
    const tirvo_fingerprint *p = fp.p;

    ASSERT_EQ(p->num_variables, 3);
    const struct {
        const char *name;
        int is_shared;
        int size;
    } vars[] = {{"x", 1, 32}, {"flag", 0, 1}, {"count", 0, 8}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ(p->variables[i].name, vars[i].name) << i;
        EXPECT_EQ(p->variables[i].is_shared, vars[i].is_shared) << i;
        EXPECT_EQ(p->variables[i].size, vars[i].size) << i;
    }

    ASSERT_EQ(p->num_situations, 3);
    EXPECT_EQ(std::vector<int32_t>(p->situations, p->situations + 3),
              (std::vector<int32_t>{-5, 7, 30}));
    for (int32_t sid : {30, -5, 7})
        EXPECT_EQ(tirvo_fingerprint_has_situation(p, sid), 1) << sid;
    for (int32_t sid : {0, 8, 31, -6})
        EXPECT_EQ(tirvo_fingerprint_has_situation(p, sid), 0) << sid;

    ASSERT_EQ(p->num_byc_progs, 3);
    const fp_test_file f = fp_test_sample_file();
    const struct {
        int32_t stack, bound;
        tirvo_location loc;
    } progs[] = {
        {4, -1, {3, 4, 3, 17, 0, 0}}, {0, 2, {0, 0, 0, 0, 0, 0}}, {0, -1, {5, 1, 6, 2, 0, 0}}};
    for (int i = 0; i < 3; ++i) {
        const tirvo_fp_bycp &b = p->bycps[i];
        const std::vector<uint8_t> &code = f.programs[static_cast<size_t>(i)].code;
        ASSERT_EQ(b.len, static_cast<int32_t>(code.size())) << i;
        if (code.empty()) {
            EXPECT_EQ(b.code, nullptr);
        } else {
            EXPECT_EQ(std::vector<uint8_t>(b.code, b.code + b.len), code) << i;
        }
        EXPECT_EQ(b.required_stack_size, progs[i].stack) << i;
        EXPECT_EQ(b.bound, progs[i].bound) << i;
        EXPECT_EQ(std::memcmp(&b.location, &progs[i].loc, sizeof b.location), 0) << i;
    }
    ASSERT_EQ(p->bycps[0].num_relocs, 2);
    EXPECT_EQ(p->bycps[0].relocs[0].type, 3);
    EXPECT_EQ(p->bycps[0].relocs[0].pos, 6);
    EXPECT_EQ(p->bycps[0].relocs[0].variable_id, 0);
    EXPECT_EQ(p->bycps[0].relocs[1].type, 1);
    EXPECT_EQ(p->bycps[0].relocs[1].pos, 10);
    ASSERT_EQ(p->bycps[1].num_relocs, 2);
    EXPECT_EQ(p->bycps[1].relocs[0].variable_id, 1);
    EXPECT_EQ(p->bycps[1].relocs[1].type, 2);
    EXPECT_EQ(p->bycps[1].relocs[1].pos, 8);
    EXPECT_EQ(p->bycps[2].num_relocs, 0);
    EXPECT_EQ(p->bycps[2].relocs, nullptr);
}

// The four states of the first DFA of full_file, checked entry by entry;
// 16-bit tables, 20 used bytes per record, the overflow area at 4 x 32.
TEST_F(loader_fixture, DfaTablesStateRecordsAndOverflowArea) {
    fp_holder fp;
    ASSERT_EQ(load(fp_test_gzip(fp_test_records(fp_test_sample_file())), &fp.p), 0) << errors();
    ASSERT_EQ(fp.p->num_dfas, 2);
    const tirvo_fp_dfa *d = &fp.p->dfas[0];
    EXPECT_EQ(d->index, 0);
    EXPECT_EQ(d->num_states, 4);
    EXPECT_EQ(d->first_active_state, 2);
    EXPECT_EQ(d->initial_state, 0);
    EXPECT_EQ(d->bound, 3);
    const tirvo_location loc = {1, 1, 1, 20, 0, 0};
    EXPECT_EQ(std::memcmp(&d->location, &loc, sizeof loc), 0);
    EXPECT_EQ(tirvo_fp_dfa_wide(d), 0);
    // 4 rows of 256 16-bit entries, 4 records, 3 overflow ids, one count.
    EXPECT_EQ(d->data_size, 4u * 512 + 4 * 32 + 12 + 48);
    EXPECT_EQ(d->table, fp.p->data);
    EXPECT_EQ(d->states, fp.p->data + 4 * 512);

    const uint32_t expect_row[4] = {0, 2, 2, 3};
    for (int32_t s = 0; s < 4; ++s)
        for (int c = 0; c < 256; ++c) {
            const uint32_t want = s == 0 && c == 97 ? 1 : expect_row[s];
            ASSERT_EQ(tirvo_fp_dfa_target(d, s, c), want) << s << " " << c;
        }
    const uint16_t special[4][4] = {{0, 3, 0, 0}, {2, 2, 2, 2}, {2, 2, 2, 2}, {3, 3, 3, 3}};
    for (int32_t s = 0; s < 4; ++s)
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(tirvo_fp_dfa_state(d, s)->u.special16[i], special[s][i]) << s << " " << i;

    const struct {
        uint16_t num_ids;
        uint8_t flags;
        uint32_t count_offset, ids_offset;
        std::vector<uint32_t> ids;
    } recs[] = {
        {0, 0, 0, 0 * 32 + 20, {}},
        {2, 0, 0, 1 * 32 + 20, {0, 1}},
        {3, 0, 4 * 32 + 12, 4 * 32, {0, 1, 2}},
        {0, tirvo_fp_state_flag_cannot_match, 0, 3 * 32 + 20, {}},
    };
    for (int32_t s = 0; s < 4; ++s) {
        const tirvo_fp_state *r = tirvo_fp_dfa_state(d, s);
        EXPECT_EQ(r->num_ids, recs[s].num_ids) << s;
        EXPECT_EQ(r->flags, recs[s].flags) << s;
        EXPECT_EQ(r->reserved, 0) << s;
        EXPECT_EQ(r->count_offset, recs[s].count_offset) << s;
        EXPECT_EQ(r->ids_offset, recs[s].ids_offset) << s;
        const uint32_t *ids = tirvo_fp_dfa_state_ids(d, s);
        EXPECT_EQ(std::vector<uint32_t>(ids, ids + r->num_ids), recs[s].ids) << s;
    }

    const tirvo_fp_count *count = tirvo_fp_dfa_state_count(d, 2);
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(count->count, 5u);
    EXPECT_EQ(count->reserved, 0u);
    for (int c = 0; c < 260; ++c) {
        const bool in = (c >= 48 && c <= 57) || c >= 250;
        EXPECT_EQ(tirvo_fp_count_contains(count, c), in ? 1 : 0) << c;
    }
    // Bits 260-319 stay clear: the run 250+20 is cut at the alphabet's end.
    EXPECT_EQ(count->charset[32] & 0xF0, 0);
    for (int i = 33; i < 40; ++i)
        EXPECT_EQ(count->charset[i], 0) << i;
}

TEST_F(loader_fixture, SingleStateDfaHasAllTargetsZero) {
    fp_holder fp;
    ASSERT_EQ(load(fp_test_gzip(fp_test_records(fp_test_sample_file())), &fp.p), 0) << errors();
    const tirvo_fp_dfa *d = &fp.p->dfas[1];
    EXPECT_EQ(d->num_states, 1);
    EXPECT_EQ(d->index, 1);
    EXPECT_EQ(d->bound, -1);
    const tirvo_location zero = {};
    EXPECT_EQ(std::memcmp(&d->location, &zero, sizeof zero), 0);
    EXPECT_EQ(d->data_size, 512u + 32);
    EXPECT_EQ(d->table, fp.p->data + fp.p->dfas[0].data_size);
    EXPECT_EQ(fp.p->data_size, fp.p->dfas[0].data_size + d->data_size);
    for (int c = 0; c < 256; ++c)
        ASSERT_EQ(tirvo_fp_dfa_target(d, 0, c), 0u) << c;
    for (int c = 256; c < 260; ++c)
        EXPECT_EQ(tirvo_fp_dfa_special_target(d, 0, c), 0u) << c;
}

TEST_F(loader_fixture, LowLevelStatesKeepSituationIdsWhereTheSpecialTargetsWouldBe) {
    fp_test_file f;
    f.low_level = true;
    fp_test_dfa d;
    d.plain = 1;
    d.initial = 0;
    for (int32_t i = 0; i < 3; ++i) {
        fp_test_state s;
        s.id = i;
        s.type = 1;
        s.next.assign(256, static_cast<uint32_t>((i + 1) % 3));
        d.states.push_back(s);
    }
    d.states[0].matching_next_state_exists = true;
    d.states[0].ids = {5, 6, -7, 8};
    d.states[1].ids = {1, 2, 3, 4, 5};
    d.states[2].cannot_match = true;
    f.dfas = {d};
    fp_holder fp;
    ASSERT_EQ(load(fp_test_gzip(fp_test_records(f)), &fp.p), 0) << errors();
    EXPECT_EQ(fp.p->low_level_dfa, 1u);
    const tirvo_fp_dfa *ld = &fp.p->dfas[0];
    EXPECT_EQ(ld->data_size, 3u * 512 + 3 * 32 + 5 * 4);
    for (int32_t s = 0; s < 3; ++s)
        for (int c = 0; c < 256; ++c)
            ASSERT_EQ(tirvo_fp_dfa_target(ld, s, c), static_cast<uint32_t>((s + 1) % 3));

    const struct {
        uint8_t flags;
        uint32_t ids_offset;
        std::vector<uint32_t> ids;
    } recs[] = {
        {tirvo_fp_state_flag_matching_next_state_exists, 0 * 32 + 12, {5, 6, 0xFFFFFFF9u, 8}},
        {0, 3 * 32, {1, 2, 3, 4, 5}},
        {tirvo_fp_state_flag_cannot_match, 2 * 32 + 12, {}},
    };
    for (int32_t s = 0; s < 3; ++s) {
        const tirvo_fp_state *r = tirvo_fp_dfa_state(ld, s);
        EXPECT_EQ(r->flags, recs[s].flags) << s;
        EXPECT_EQ(r->ids_offset, recs[s].ids_offset) << s;
        EXPECT_EQ(r->count_offset, 0u) << s;
        const uint32_t *ids = tirvo_fp_dfa_state_ids(ld, s);
        EXPECT_EQ(std::vector<uint32_t>(ids, ids + r->num_ids), recs[s].ids) << s;
    }
    // Four ids fill bytes 12 to 27 of the first record; nothing else is there.
    const tirvo_fp_state *r0 = tirvo_fp_dfa_state(ld, 0);
    for (int i = 16; i < 20; ++i)
        EXPECT_EQ(r0->u.room[i], 0) << i;
}

// Table width, vector entry width and where the ids go, by the number of
// states.
struct width_case {
    int32_t num_states;
    int entry_bytes;     // bytes per entry of the file's vectors
    bool wide;           // 32-bit table entries
    bool two_ids_inside; // a state with two ids keeps them in its record
    bool one_id_inside;  // a state with one id keeps it in its record
};

void PrintTo(const width_case &wc, std::ostream *os) {
    *os << wc.num_states << " states";
}

class loader_width_test : public loader_fixture,
                          public ::testing::WithParamInterface<width_case> {};

TEST_P(loader_width_test, TableWidthFollowsTheStateCount) {
    const width_case &wc = GetParam();
    const int32_t n = wc.num_states;
    const uint32_t last = static_cast<uint32_t>(n - 1);
    fp_test_file f;
    fp_test_program empty;
    f.programs = {empty};
    fp_test_dfa d = fp_test_self_loop_dfa(n, false);
    d.plain = 1;
    d.initial = n - 1;
    d.states[0] = fp_test_plain_state(0, 0, {{0, last}, {255, last - 1}, {259, last}});
    EXPECT_EQ(fp_test_entry_bytes(n), wc.entry_bytes);
    d.states[1].ids = {0, 0};
    d.states[2].ids = {0};
    d.states[last].next.assign(256, 1);
    f.dfas = {d};

    fp_holder fp;
    ASSERT_EQ(load(fp_test_gzip(fp_test_records(f)), &fp.p), 0) << errors();
    const tirvo_fp_dfa *ld = &fp.p->dfas[0];
    EXPECT_EQ(tirvo_fp_dfa_wide(ld), wc.wide ? 1 : 0);
    EXPECT_EQ(tirvo_fp_dfa_target(ld, 0, 0), last);
    EXPECT_EQ(tirvo_fp_dfa_target(ld, 0, 1), 0u);
    EXPECT_EQ(tirvo_fp_dfa_target(ld, 0, 255), last - 1);
    EXPECT_EQ(tirvo_fp_dfa_special_target(ld, 0, 259), last);
    EXPECT_EQ(tirvo_fp_dfa_special_target(ld, 0, 256), 0u);
    EXPECT_EQ(tirvo_fp_dfa_target(ld, static_cast<int32_t>(last), 7), 1u);
    EXPECT_EQ(tirvo_fp_dfa_special_target(ld, static_cast<int32_t>(last), 256), last);
    EXPECT_EQ(tirvo_fp_dfa_target(ld, 5, 200), 5u);

    const size_t used = wc.wide ? 28 : 20;
    const size_t overflow = static_cast<size_t>(n) * 32;
    const tirvo_fp_state *r1 = tirvo_fp_dfa_state(ld, 1);
    const tirvo_fp_state *r2 = tirvo_fp_dfa_state(ld, 2);
    EXPECT_EQ(r1->ids_offset, wc.two_ids_inside ? 32 + used : overflow);
    EXPECT_EQ(r2->ids_offset,
              wc.one_id_inside ? 64 + used : overflow + (wc.two_ids_inside ? 0 : 8));
    const size_t overflow_bytes = (wc.two_ids_inside ? 0 : 8) + (wc.one_id_inside ? 0 : 4);
    const size_t row = wc.wide ? 1024 : 512;
    EXPECT_EQ(ld->data_size, static_cast<size_t>(n) * (row + 32) + overflow_bytes);
    EXPECT_EQ(tirvo_fp_dfa_state_ids(ld, 1)[1], 0u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, loader_width_test,
                         ::testing::Values(width_case{300, 2, false, true, true},
                                           width_case{65536, 2, false, true, true},
                                           width_case{65537, 3, true, false, false},
                                           width_case{70000, 3, true, false, false}));

// ---------------------------------------------------------------------------
// Files the loader refuses.

struct refusal_case {
    const char *name;                   // what is wrong
    std::function<std::string()> bytes; // the file
    int code;                           // the expected result
    const char *message;                // expected message before the final line, or null
};

std::string gz(const fp_test_file &f) {
    return fp_test_gzip(fp_test_records(f));
}

// full_file with one change.
std::string changed(const std::function<void(fp_test_file &)> &change) {
    fp_test_file f = fp_test_sample_file();
    change(f);
    return gz(f);
}

std::string record_header(uint8_t kind, uint32_t length) {
    const char h[] = {static_cast<char>(kind), static_cast<char>(length >> 24),
                      static_cast<char>(length >> 16), static_cast<char>(length >> 8),
                      static_cast<char>(length)};
    return std::string(h, 5);
}

// A header record without the low-level flag.
std::string header_without_flag() {
    fp_test_record r;
    fp_test_record_begin(&r, 1);
    fp_test_record_i32(&r, LN_TIRVO_VERSION, 1);
    fp_test_record_i32(&r, LN_TIRVO_FILE_ID, 0);
    fp_test_record_i32(&r, LN_TIRVO_NUM_DFAS, 0);
    fp_test_record_i32(&r, LN_TIRVO_NUM_VARIABLES, 0);
    fp_test_record_i32(&r, LN_TIRVO_NUM_BYC_PROGS, 0);
    fp_test_record_i32(&r, LN_TIRVO_NUM_SITUATIONS, 0);
    return fp_test_gzip(fp_test_record_end(&r));
}

fp_test_program &prog(fp_test_file &f, size_t i) {
    return f.programs[i];
}

fp_test_state &state(fp_test_file &f, size_t dfa, size_t s) {
    return f.dfas[dfa].states[s];
}

const std::string old_format("ZkvM\0\0\0\2\1\3HEAD", 13);

const refusal_case refusal_cases[] = {
    {"OldFormat", [] { return old_format; }, 14, nullptr},
    {"OldFormatInsideGzip", [] { return fp_test_gzip(old_format); }, 14, nullptr},
    {"Version2", [] { return changed([](fp_test_file &f) { f.version = 2; }); }, 6, nullptr},
    {"HeaderFieldMissing", header_without_flag, 6, nullptr},
    {"NegativeDfaCount", [] { return changed([](fp_test_file &f) { f.num_dfas = -1; }); }, 6,
     nullptr},
    {"TooManyVariables",
     [] { return changed([](fp_test_file &f) { f.num_variables = TIRVO_FP_MAX_VARIABLES + 1; }); },
     6, nullptr},
    {"TooManySituations",
     [] {
         return changed([](fp_test_file &f) { f.num_situations = TIRVO_FP_MAX_SITUATIONS + 1; });
     },
     6, nullptr},
    {"TooManyPrograms",
     [] { return changed([](fp_test_file &f) { f.num_byc_progs = INT32_MAX; }); }, 6, nullptr},
    {"FewerSituationsThanCounted",
     [] { return changed([](fp_test_file &f) { f.num_situations = 1000; }); }, 4, nullptr},
    {"VariableIdOutOfRange", [] { return changed([](fp_test_file &f) { f.variables[0].id = 3; }); },
     6, nullptr},
    {"VariableIdTwice", [] { return changed([](fp_test_file &f) { f.variables[1].id = 2; }); }, 6,
     nullptr},
    {"VariableOfSeventeenBits",
     [] { return changed([](fp_test_file &f) { f.variables[0].size = 17; }); }, 6, nullptr},
    {"ProgramsOutOfIdOrder",
     [] {
         return changed([](fp_test_file &f) {
             prog(f, 0).id = 1;
             prog(f, 1).id = 0;
         });
     },
     6, nullptr},
    {"UndefinedOpcode", [] { return changed([](fp_test_file &f) { prog(f, 0).code[9] = 200; }); },
     6, nullptr},
    {"InstructionCutOffAtTheEnd",
     [] { return changed([](fp_test_file &f) { prog(f, 0).code.pop_back(); }); }, 6, nullptr},
    {"SkipPastTheEnd", [] { return changed([](fp_test_file &f) { prog(f, 1).code[4] = 5; }); }, 6,
     nullptr},
    {"NegativeStackSize",
     [] { return changed([](fp_test_file &f) { prog(f, 0).required_stack_size = -4; }); }, 6,
     nullptr},
    {"StackOfMoreThan255Cells",
     [] { return changed([](fp_test_file &f) { prog(f, 0).required_stack_size = 1024; }); }, 6,
     nullptr},
    {"MoreRelocationsThanCodeBytes",
     [] { return changed([](fp_test_file &f) { prog(f, 2).num_relocs = 1; }); }, 6, nullptr},
    {"RelocationMissing",
     [] { return changed([](fp_test_file &f) { prog(f, 0).num_relocs = 3; }); }, 6, nullptr},
    {"RelocationOutsideTheCode",
     [] { return changed([](fp_test_file &f) { prog(f, 0).relocs[1].pos = 14; }); }, 6, nullptr},
    {"RelocationNotAfterAnOpcode",
     [] { return changed([](fp_test_file &f) { prog(f, 0).relocs[1].pos = 11; }); }, 6, nullptr},
    {"RelocationOfTheWrongType",
     [] { return changed([](fp_test_file &f) { prog(f, 0).relocs[1].type = 2; }); }, 6, nullptr},
    {"RelocationOfAnUnknownType",
     [] { return changed([](fp_test_file &f) { prog(f, 0).relocs[1].type = 4; }); }, 6, nullptr},
    {"RelocationsDescending",
     [] {
         return changed(
             [](fp_test_file &f) { std::swap(prog(f, 0).relocs[0], prog(f, 0).relocs[1]); });
     },
     6, nullptr},
    {"RelocationToAMissingVariable",
     [] { return changed([](fp_test_file &f) { prog(f, 0).relocs[0].variable_id = 3; }); }, 6,
     nullptr},
    {"RelocationToAVariableOfAnotherSize",
     [] { return changed([](fp_test_file &f) { prog(f, 0).relocs[0].variable_id = 2; }); }, 6,
     nullptr},
    {"RelocationToTheLocalOffset",
     [] {
         return changed([](fp_test_file &f) {
             f.variables[1].name = "offset";
             f.variables[1].is_shared = false;
         });
     },
     6, nullptr},
    {"VariableOperandWithoutRelocation",
     [] {
         return changed(
             [](fp_test_file &f) { prog(f, 0).relocs.erase(prog(f, 0).relocs.begin()); });
     },
     6, nullptr},
    {"LocalFormInTheFile",
     [] {
         return changed([](fp_test_file &f) {
             prog(f, 0).code[5] = OP_LCOPY32_TO32;
             prog(f, 0).relocs.erase(prog(f, 0).relocs.begin());
         });
     },
     6, nullptr},
    {"SubexpressionOfAMissingDfa",
     [] { return changed([](fp_test_file &f) { prog(f, 1).code[8] = 2; }); }, 6, nullptr},
    {"DfasOutOfIdOrder", [] { return changed([](fp_test_file &f) { f.dfas[0].id = 1; }); }, 6,
     nullptr},
    {"DfaWithoutStates",
     [] {
         return changed([](fp_test_file &f) {
             f.dfas[1].num_states = 0;
             f.dfas[1].states.clear();
         });
     },
     6, nullptr},
    {"DfaOfTooManyStates",
     [] {
         return changed([](fp_test_file &f) { f.dfas[1].num_states = TIRVO_FP_MAX_STATES + 1; });
     },
     6, nullptr},
    {"InitialStateOutside", [] { return changed([](fp_test_file &f) { f.dfas[0].initial = 4; }); },
     6, nullptr},
    {"PlainStatesMoreThanStates",
     [] { return changed([](fp_test_file &f) { f.dfas[0].plain = 5; }); }, 6, nullptr},
    {"NegativePlainStates", [] { return changed([](fp_test_file &f) { f.dfas[0].plain = -1; }); },
     6, nullptr},
    {"StatesOutOfIdOrder", [] { return changed([](fp_test_file &f) { state(f, 0, 1).id = 2; }); },
     6, nullptr},
    {"FewerStatesThanCounted",
     [] { return changed([](fp_test_file &f) { f.dfas[1].num_states = 2; }); }, 4, nullptr},
    {"LowLevelStateInAFullDfa",
     [] { return changed([](fp_test_file &f) { state(f, 0, 0).type = 1; }); }, 6, nullptr},
    {"PlainStateInALowLevelDfa",
     [] {
         fp_test_file f;
         f.low_level = true;
         f.dfas = {fp_test_self_loop_dfa(2, true)};
         f.dfas[0].states[1].type = 2;
         return gz(f);
     },
     6, nullptr},
    {"SituationIdZeroInALowLevelDfa",
     [] {
         fp_test_file f;
         f.low_level = true;
         f.dfas = {fp_test_self_loop_dfa(2, true)};
         f.dfas[0].states[1].ids = {3, 0};
         return gz(f);
     },
     6, nullptr},
    {"VectorOfMoreThan260Entries",
     [] { return changed([](fp_test_file &f) { state(f, 0, 0).next.push_back(0); }); }, 6, nullptr},
    {"VectorEndsInsideAnEntry",
     [] {
         fp_test_file f;
         f.dfas = {fp_test_self_loop_dfa(300, false)};
         f.dfas[0].states[7].next = {1, 2, 3};
         f.dfas[0].states[7].entry_bytes = 1;
         return gz(f);
     },
     6, nullptr},
    {"TargetOutsideTheDfa",
     [] { return changed([](fp_test_file &f) { state(f, 0, 0).next[3] = 4; }); }, 6, nullptr},
    {"StateProgramIdOutside",
     [] { return changed([](fp_test_file &f) { state(f, 0, 1).ids[1] = 3; }); }, 6, nullptr},
    {"StateProgramIdNegative",
     [] { return changed([](fp_test_file &f) { state(f, 0, 1).ids[0] = -1; }); }, 6, nullptr},
    {"FewerIdsThanCounted",
     [] { return changed([](fp_test_file &f) { state(f, 0, 1).num_ids = 3; }); }, 6, nullptr},
    {"MoreIdsThanARecordCounts",
     [] { return changed([](fp_test_file &f) { state(f, 0, 1).num_ids = 65536; }); }, 6, nullptr},
    {"CountRunWithNegativeStart",
     [] { return changed([](fp_test_file &f) { state(f, 0, 2).runs[1].start = -1; }); }, 6,
     nullptr},
    {"CountRunWithNegativeLength",
     [] { return changed([](fp_test_file &f) { state(f, 0, 2).runs[0].len = -2; }); }, 6, nullptr},
    {"RecordLengthBelowItsHeader",
     [] { return fp_test_gzip(record_header(1, 4) + std::string(20, '\0')); }, 3, nullptr},
    {"RecordLargerThanTheWindow",
     [] { return fp_test_gzip(record_header(1, 5 + 65537) + std::string(65537, '\0')); }, 2,
     nullptr},
    {"RecordCutOff",
     [] {
         const std::string raw = fp_test_records(fp_test_sample_file());
         return fp_test_gzip(raw.substr(0, raw.size() - 10));
     },
     4, nullptr},
    {"CompressedStreamCutOff",
     [] {
         const std::string z = gz(fp_test_sample_file());
         return z.substr(0, z.size() / 2);
     },
     4, nullptr},
    {"GarbageAfterACompleteStreamOfAShortFile",
     [] {
         const std::string raw = fp_test_records(fp_test_sample_file());
         return fp_test_gzip(raw.substr(0, raw.size() - 10)) + std::string(100, 'x');
     },
     4, nullptr},
    {"NotCompressed", [] { return std::string("hello, this is no fingerprint file"); }, 7,
     "zlib inflate error code: -3\n"},
    {"EmptyFile", [] { return std::string(); }, 5, "Could not read file test.fp: Success (0)\n"},
    {"ThreeBytes", [] { return std::string("\x1f\x8b\x08"); }, 5,
     "Could not read file test.fp: Success (0)\n"},
};

void PrintTo(const refusal_case &rc, std::ostream *os) {
    *os << rc.name;
}

class loader_refusal_test : public loader_fixture,
                            public ::testing::WithParamInterface<refusal_case> {};

TEST_P(loader_refusal_test, FailsWithItsCodeAndLeavesNothing) {
    const refusal_case &rc = GetParam();
    tirvo_fingerprint *fp = reinterpret_cast<tirvo_fingerprint *>(&fp);
    EXPECT_EQ(load(rc.bytes(), &fp), rc.code);
    EXPECT_EQ(fp, nullptr);
    std::string expect = rc.message ? rc.message : "";
    expect += "could not load fingerprint file test.fp: " + std::to_string(rc.code) + " (" +
              tirvo_load_error_text(rc.code) + ")\n";
    EXPECT_EQ(errors(), expect);
}

INSTANTIATE_TEST_SUITE_P(Files, loader_refusal_test, ::testing::ValuesIn(refusal_cases),
                         [](const ::testing::TestParamInfo<refusal_case> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(loader_fixture, OldFormatMessageNamesTheCode) {
    tirvo_fingerprint *fp;
    EXPECT_EQ(load(old_format, &fp), 14);
    EXPECT_EQ(errors(), "could not load fingerprint file test.fp: 14 (Old DFA format detected "
                        "(this error code used only internally))\n");
}

// The stream must be seekable: the first four bytes are read and given back.
TEST_F(loader_fixture, PipeCannotBeMovedBack) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::string bytes = gz(fp_test_sample_file()).substr(0, 100);
    ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fds[1]);
    FILE *f = fdopen(fds[0], "rb");
    ASSERT_NE(f, nullptr);
    tirvo_fingerprint *fp;
    EXPECT_EQ(tirvo_load_fingerprint(f, &fp, "test.fp"), 9);
    std::fclose(f);
    EXPECT_EQ(fp, nullptr);
    EXPECT_EQ(errors(), "fseek failed: Illegal seek (29)\n"
                        "could not load fingerprint file test.fp: 9 (Internal error)\n");
}

TEST_F(loader_fixture, UnreadableStreamGivesFiveWithTheSystemsText) {
    const std::string path = write_temp("");
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    tirvo_fingerprint *fp;
    EXPECT_EQ(tirvo_load_fingerprint(f, &fp, "test.fp"), 5);
    std::fclose(f);
    EXPECT_EQ(errors(), "Could not read file test.fp: Bad file descriptor (9)\n"
                        "could not load fingerprint file test.fp: 5 (File read error)\n");
}

TEST_F(loader_fixture, MissingFileGivesFiveWithoutMessage) {
    tirvo_fingerprint *fp = reinterpret_cast<tirvo_fingerprint *>(&fp);
    EXPECT_EQ(tirvo_load_fingerprint_file("/nonexistent/dir/file.fp", &fp), 5);
    EXPECT_EQ(fp, nullptr);
    EXPECT_EQ(errors(), "");
}

TEST_F(loader_fixture, FileByNameKeepsTheNameAndEachLoadGetsTheNextSerial) {
    const std::string path = write_temp(gz(fp_test_sample_file()));
    fp_holder a, b;
    ASSERT_EQ(tirvo_load_fingerprint_file(path.c_str(), &a.p), 0) << errors();
    ASSERT_EQ(tirvo_load_fingerprint_file(path.c_str(), &b.p), 0) << errors();
    EXPECT_STREQ(a.p->file_name, path.c_str());
    EXPECT_EQ(b.p->load_serial, a.p->load_serial + 1);
}

// ---------------------------------------------------------------------------
// Allocation hooks.

// Counts obtains and releases per kind and can refuse the n-th obtain.
struct alloc_counter {
    int obtains[tirvo_alloc_kind_count] = {};
    int releases[tirvo_alloc_kind_count] = {};
    std::vector<std::pair<void *, int>> live; // block and kind
    int fail_at = 0;                          // refuse the obtain with this number (from 1)
    int total = 0;                            // obtains so far
    int wrong_kind = 0;                       // releases through another kind's function
};

alloc_counter counter;

template <int K>
void *counting_obtain(size_t size) {
    if (++counter.total == counter.fail_at)
        return nullptr;
    void *block = std::malloc(size ? size : 1);
    ++counter.obtains[K];
    counter.live.emplace_back(block, K);
    return block;
}

template <int K>
void counting_release(void *block) {
    ++counter.releases[K];
    for (auto it = counter.live.begin(); it != counter.live.end(); ++it)
        if (it->first == block) {
            counter.wrong_kind += it->second != K;
            counter.live.erase(it);
            break;
        }
    std::free(block);
}

#define PAIR(k) counting_obtain<k>, counting_release<k>

void install_counting_allocators() {
    counter = alloc_counter{};
    tirvo_set_allocators(PAIR(0), PAIR(1), PAIR(2), PAIR(3), PAIR(4), PAIR(5), PAIR(6), PAIR(7),
                         PAIR(8), PAIR(9), PAIR(10), PAIR(11), PAIR(12), PAIR(13), PAIR(14),
                         PAIR(15), PAIR(16), PAIR(17), PAIR(18), PAIR(19), PAIR(20), PAIR(21),
                         PAIR(22), PAIR(23));
}

#undef PAIR

void restore_default_allocators() {
    tirvo_set_allocators(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

struct loader_alloc_test : loader_fixture {
    void TearDown() override {
        restore_default_allocators();
        loader_fixture::TearDown();
    }
};

TEST_F(loader_alloc_test, EveryBlockComesFromItsKindAndGoesBack) {
    install_counting_allocators();
    const std::string bytes = gz(fp_test_sample_file());
    tirvo_fingerprint *fp;
    ASSERT_EQ(load(bytes, &fp), 0) << errors();
    const int expect[tirvo_alloc_kind_count] = {
        1,     // the record
        1,     // variables
        1,     // programs
        1,     // DFAs
        3,     // variable names
        2,     // code of the two non-empty programs
        2,     // relocation tables of the two programs with entries
        1,     // file name
        -1, 1, // decompressor: counted below; situations
        -1,    // state data: counted below
        1,     // temporary file name
    };
    for (int k = 0; k < 12; ++k) {
        if (expect[k] >= 0) {
            EXPECT_EQ(counter.obtains[k], expect[k]) << k;
        }
    }
    // The read buffers and zlib's state (and its window when zlib wants one).
    EXPECT_GE(counter.obtains[tirvo_alloc_kind_inflate], 2);
    // The data block and at least the segments of the first DFA's strings.
    EXPECT_GE(counter.obtains[tirvo_alloc_kind_state_data], 3);
    for (int k = 12; k < tirvo_alloc_kind_count; ++k)
        EXPECT_EQ(counter.obtains[k], 0) << k;
    // What stays with the fingerprint: the record, its tables and names, the
    // data block.
    EXPECT_EQ(counter.live.size(), 1u + 4 + 3 + 2 + 2 + 1 + 1);
    tirvo_free_fingerprint(fp);
    EXPECT_TRUE(counter.live.empty());
    EXPECT_EQ(counter.wrong_kind, 0);
    for (int k = 0; k < tirvo_alloc_kind_count; ++k)
        EXPECT_EQ(counter.obtains[k], counter.releases[k]) << k;
}

TEST_F(loader_alloc_test, EveryFailingObtainGivesTheMemoryErrorWithoutLeaks) {
    install_counting_allocators();
    const std::string bytes = gz(fp_test_sample_file());
    tirvo_fingerprint *fp;
    ASSERT_EQ(load(bytes, &fp), 0) << errors();
    tirvo_free_fingerprint(fp);
    const int total = counter.total;
    ASSERT_GE(total, 20);
    const std::string last =
        "could not load fingerprint file test.fp: 8 (Memory allocation failed)\n";
    for (int n = 1; n <= total; ++n) {
        install_counting_allocators();
        counter.fail_at = n;
        clear_errors();
        EXPECT_EQ(load(bytes, &fp), 8) << n;
        EXPECT_EQ(fp, nullptr);
        const std::string err = errors();
        ASSERT_GE(err.size(), last.size());
        EXPECT_EQ(err.substr(err.size() - last.size()), last) << n;
        EXPECT_TRUE(counter.live.empty()) << n;
        EXPECT_EQ(counter.wrong_kind, 0);
    }
}

TEST_F(loader_alloc_test, APairWithANullFunctionIsTheDefaultPair) {
    install_counting_allocators();
    tirvo_set_allocators(
        nullptr, counting_release<0>, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    fp_holder fp;
    ASSERT_EQ(load(gz(fp_test_sample_file()), &fp.p), 0) << errors();
    fp.reset();
    EXPECT_EQ(counter.releases[0], 0);
}

// ---------------------------------------------------------------------------
// Debug dump and graph dump, worked out by hand.

// One variable, one program storing 5 into it, and a DFA of three states:
// 0 goes to 1 on 'a' and 3 on \z; 1 goes to 2 on '"'; 2 is a count state
// (digits) with program 0 and stays where it is.
fp_test_file dump_file() {
    fp_test_file f;
    f.variables = {{"x", 0, true, 32}};
    fp_test_program p;
    p.location = {1, 2, 1, 9};
    p.code = {OP_PUSH32_LIT, 5, 0, 0, 0, OP_COPY32_TO32, 0, 0, 0};
    p.required_stack_size = 4;
    p.relocs = {{3, 6, 0}};
    f.programs = {p};
    fp_test_dfa d;
    d.plain = 2;
    fp_test_state count_state;
    count_state.id = 2;
    count_state.type = 3;
    count_state.ids = {0};
    count_state.count = 3;
    count_state.runs = {{48, 10}};
    d.states = {fp_test_plain_state(0, 0, {{97, 1}}), fp_test_plain_state(1, 0, {{34, 2}}),
                count_state};
    f.dfas = {d};
    return f;
}

TEST_F(loader_fixture, DebugDumpAndGraph) {
    tirvo_eng_debug_on(0);
    const size_t start = debug_output().size();
    fp_holder fp;
    ASSERT_EQ(load(gz(dump_file()), &fp.p), 0) << errors();
    const std::string expect = "loading fingerprint file test.fp\n"
                               "file header:\n"
                               "  num_dfas: 1\n"
                               "  num_variables: 1\n"
                               "  num_byc_progs: 1\n"
                               "  mmap file: tmp_file\n"
                               "variable:\n"
                               "  id: 0\n"
                               "  name: x\n"
                               "  is_shared: 1\n"
                               "  size: 32\n"
                               "byc program:\n"
                               "  id: 0\n"
                               "  len: 9\n"
                               "  required_stack_size: 4\n"
                               "  code:\n"
                               "    0000: PUSH32_LIT      5\n"
                               "    0005: COPY32_TO32     0\n"
                               "    0009:\n"
                               "  reloc entry 0:\n"
                               "    type: 3\n"
                               "    pos: 6\n"
                               "    variable_id: 0\n"
                               "DFA 0 header:\n"
                               "  num_states: 3\n"
                               "fingerprint file test.fp loaded!\n"
                               "digraph DFA {\n"
                               "  rankdir=LR;\n"
                               "  0[shape=doublecircle];\n"
                               "  1[shape=circle];\n"
                               "  2[shape=box];/* bycp_id_or_sid_cnt: 1 id(s): 0 */\n"
                               "  2 -> 2 [ label = \"count 3:[0-9]\" ];\n"
                               "  0 -> 0 [ label = \"[\\\\x00-`b-\\\\@]\" ];\n"
                               "  0 -> 1 [ label = \"a\" ];\n"
                               "  1 -> 0 [ label = \"[\\\\x00-!#-\\\\@]\" ];\n"
                               "  1 -> 2 [ label = \"\\\\\\\"\" ];\n"
                               "  2 -> 2 [ label = \"[\\\\x00-\\\\@]\" ];\n"
                               "}\n";
    EXPECT_EQ(debug_output().substr(start), expect);
}

TEST_F(loader_fixture, LowLevelGraphUsesTheBytesOnly) {
    fp_test_file f;
    f.low_level = true;
    fp_test_dfa d = fp_test_self_loop_dfa(2, true);
    d.plain = 1;
    d.states[0].next.assign(256, 0);
    d.states[0].next[97] = 1;
    d.states[1].ids = {5, 6};
    d.states[1].cannot_match = true;
    f.dfas = {d};
    fp_holder fp;
    ASSERT_EQ(load(gz(f), &fp.p), 0) << errors();
    FILE *out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    tirvo_fp_dfa_print_graph(out, fp.p, &fp.p->dfas[0]);
    EXPECT_EQ(read_all(out), "digraph DFA {\n"
                             "  rankdir=LR;\n"
                             "  0[shape=doublecircle];\n"
                             "  1[shape=box, style=dotted];/* bycp_id_or_sid_cnt: 2 id(s): 5 6 */\n"
                             "  0 -> 0 [ label = \"[^a]\" ];\n"
                             "  0 -> 1 [ label = \"a\" ];\n"
                             "  1 -> 1 [ label = \"[^]\" ];\n"
                             "}\n");
    std::fclose(out);
}

TEST_F(loader_fixture, NothingIsDumpedWhileDebugIsOff) {
    fp_holder fp;
    ASSERT_EQ(load(gz(dump_file()), &fp.p), 0) << errors();
    EXPECT_EQ(debug_output(), "");
}

} // namespace
