// The fingerprint file writer on compiled fingerprints: each fingerprint runs
// through the whole pipeline into a file, the file is gunzipped, and its
// records are compared with the record stream of a description worked out
// by hand from the fingerprint (fp_test_records).
//
// The descriptions follow the superstate construction by hand: the NFA, the
// classes cut at the boundary sets, the children made last-in-first-out, the
// merge of arcs, cannot_match and the renumbering with the plain states
// first. What other stages own and the hand cannot know without redoing
// them (a program's code bytes and stack size, relocation positions, source
// locations) is taken from the compile context; everything the writer
// decides (record order, field order, ids, types, counts, widths, bounds) is
// written down here.
#include "byc/tirvo_byc_insn.h"
#include "lang/tirvo_parse_tree.h"
#include "lang/tirvo_varexp.h"
#include "tests/store/fp_compiled.h"
#include "tests/store/fp_test_file.h"
#include "tests/support/temp_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Reading a written file.

// The records of an uncompressed stream, each with its kind and length
// bytes; `ok` becomes false when a length does not fit the stream.
std::vector<std::string> split_records(const std::string &raw, bool *ok) {
    std::vector<std::string> records;
    *ok = true;
    size_t at = 0;
    while (at < raw.size()) {
        if (raw.size() - at < 5) {
            *ok = false;
            break;
        }
        const auto *p = reinterpret_cast<const unsigned char *>(raw.data() + at);
        const size_t len = size_t{p[1]} << 24 | size_t{p[2]} << 16 | size_t{p[3]} << 8 | p[4];
        if (len < 5 || len > raw.size() - at) {
            *ok = false;
            break;
        }
        records.push_back(raw.substr(at, len));
        at += len;
    }
    return records;
}

std::string hex(const std::string &bytes) {
    std::string out;
    char buf[4];
    for (unsigned char b : bytes) {
        std::snprintf(buf, sizeof buf, "%02x ", b);
        out += buf;
    }
    return out;
}

// Compares two record streams record by record, so that a failure names the
// record and shows both in hex.
void expect_same_records(const std::string &actual, const std::string &expected) {
    bool ok_a = false, ok_e = false;
    const std::vector<std::string> a = split_records(actual, &ok_a);
    const std::vector<std::string> e = split_records(expected, &ok_e);
    EXPECT_TRUE(ok_a) << "the written stream does not split into records";
    ASSERT_TRUE(ok_e);
    EXPECT_EQ(a.size(), e.size()) << "number of records";
    for (size_t i = 0; i < a.size() && i < e.size(); ++i)
        EXPECT_EQ(hex(a[i]), hex(e[i])) << "record " << i << " (kind " << int(e[i][0]) << ")";
}

// A fingerprint compiled into a file of its own folder, and the file's
// uncompressed content split into records.
struct written {
    temp_dir dir;
    fp_compiled c;
    std::string gz;                   // the file as written
    std::string raw;                  // its content
    std::vector<std::string> records; // the content's records
    bool gunzip_ok = false;           // the file is one complete gzip stream
    bool records_ok = false;          // the content splits into records

    written(const std::string &text, fp_compile_setup setup = nullptr,
            const std::string &input_name = "<cmdline arg>")
        : c(text, dir.file("fp.out"), setup, input_name) {
        bool read_ok = false;
        gz = read_file(c.out_path, &read_ok);
        if (read_ok)
            raw = fp_test_gunzip(gz, &gunzip_ok);
        if (gunzip_ok)
            records = split_records(raw, &records_ok);
    }

    // The compile succeeded and wrote a readable file.
    bool good() const { return c.status == 0 && gunzip_ok && records_ok; }

    // The state records, in file order.
    std::vector<std::string> states() const {
        std::vector<std::string> v;
        for (const std::string &r : records)
            if (r[0] == 6)
                v.push_back(r);
        return v;
    }
};

// ---------------------------------------------------------------------------
// Pieces of the expected descriptions.

fp_test_location file_location(const tirvo_location &l) {
    return {l.first_line, l.first_column, l.last_line, l.last_column};
}

// The hand-worked part of a relocation entry.
struct reloc_kind {
    int32_t type;        // 1 sid literal, 2 regex entry, 3 variable
    int32_t variable_id; // for type 3
};

// The program record of variable expression `id`: code, stack size,
// relocation positions and location from the context; the bound and the
// kinds of the relocations (in code order) as worked out by hand.
fp_test_program program(const fp_compiled &c, int id, int32_t bound,
                        const std::vector<reloc_kind> &relocs) {
    fp_test_program p;
    p.id = id;
    const tirvo_varexp_entry *e = c.varexp_entry(id);
    if (!e) {
        ADD_FAILURE() << "no variable expression " << id;
        return p;
    }
    p.location = file_location(e->varexp->location);
    p.code.assign(e->bycp->byc, e->bycp->byc + e->bycp->byc_len);
    p.required_stack_size = e->bycp->max_stack_size;
    p.bound = bound;
    size_t i = 0;
    dl_list_for_each(pos, &e->bycp->relocs) {
        const rle *r = dl_list_entry(pos, rle, list);
        if (i < relocs.size())
            p.relocs.push_back({relocs[i].type, r->pos, relocs[i].variable_id});
        ++i;
    }
    EXPECT_EQ(i, relocs.size()) << "relocation entries of program " << id;
    return p;
}

// A DFA record of regex entry `id` with its location from the context.
fp_test_dfa dfa(const fp_compiled &c, int id, int32_t plain, int32_t initial, int32_t bound) {
    fp_test_dfa d;
    d.id = id;
    const tirvo_regex_entry *e = c.regex_entry(id);
    if (e)
        d.location = file_location(e->regex->location);
    else
        ADD_FAILURE() << "no regex entry " << id;
    d.plain = plain;
    d.initial = initial;
    d.bound = bound;
    return d;
}

// Symbols `first` to `last` go to `target`.
struct span {
    uint32_t first, last, target;
};

// A state whose targets over an alphabet of `n` symbols are given as spans
// (they must cover it).
fp_test_state state(int32_t id, int32_t type, uint32_t n, std::vector<span> spans,
                    std::vector<int32_t> ids = {}, bool cannot_match = false) {
    fp_test_state s;
    s.id = id;
    s.type = type;
    s.cannot_match = cannot_match;
    s.next.assign(n, 0xdeadbeef);
    for (const span &sp : spans)
        for (uint32_t c = sp.first; c <= sp.last && c < n; ++c)
            s.next[c] = sp.target;
    s.ids = std::move(ids);
    return s;
}

fp_test_state dead_state(int32_t id, int32_t type, uint32_t n) {
    return state(id, type, n, {{0, n - 1, static_cast<uint32_t>(id)}}, {}, true);
}

// ---------------------------------------------------------------------------
// Whole files worked out by hand.

// A file whose only situation is `sid`, reported by program 0 (from the
// branch end: bound -1, as it reads no stream data, and one sid literal
// relocation).
fp_test_file one_situation(const fp_compiled &c, int32_t sid) {
    fp_test_file f;
    f.situations = {sid};
    f.programs = {program(c, 0, -1, {{1, 0}})};
    return f;
}

// The DFA of entry `id` for a letter followed by an expression (program
// `program`). NFA: 0 letter -> 1, 1 runs the program. Superstates: S0 {0}
// with the classes [0,letter-1] -> S1 (empty, created), [letter] -> S2 {1},
// [letter+1,256] -> S1, [257,259] -> S0; S2: [0,256] -> S1, [257,259] -> S2;
// S1: [0,259] -> S1. S1 cannot match; S2 reaches itself. Plain: S0 only, so
// the ids stay. 3 states: 1-byte entries.
fp_test_dfa letter_dfa(const fp_compiled &c, int id, uint32_t letter, int32_t bound,
                       int32_t program) {
    fp_test_dfa d = dfa(c, id, 1, 0, bound);
    d.states = {
        state(0, 2, 260,
              {{0, letter - 1, 1}, {letter, letter, 2}, {letter + 1, 256, 1}, {257, 259, 0}}),
        dead_state(1, 2, 260), state(2, 2, 260, {{0, 256, 1}, {257, 259, 2}}, {program})};
    return d;
}

// No branch: an NFA without states gives the empty superstate, whose
// classes [0,256] and [257,259] lead back to it. It runs nothing and reaches
// nothing: cannot_match, not plain. One state: an empty vector.
fp_test_file empty_file(const fp_compiled &c) {
    fp_test_file f;
    fp_test_dfa d = dfa(c, 0, 0, 0, 0);
    fp_test_state s;
    s.cannot_match = true;
    d.states = {s};
    f.dfas = {d};
    return f;
}

// The same over 256 symbols: one class [0,256], state type 1, no
// matching next state.
fp_test_file empty_low_level_file(const fp_compiled &c) {
    fp_test_file f = empty_file(c);
    f.alphabet_size = 256;
    f.low_level = true;
    f.dfas[0].states[0].type = 1;
    return f;
}

// "a" then the situation 5, with the file id 7.
fp_test_file sid5_file(const fp_compiled &c) {
    fp_test_file f = one_situation(c, 5);
    f.file_id = 7;
    f.dfas = {letter_dfa(c, 0, 'a', 0, 0)};
    return f;
}

// The same NFA over 256 symbols: S0's classes are [0,96], [97] and [98,256];
// S2 ({1}, no set) has the one class [0,256] -> S1 and no arc back to
// itself, so it cannot match although it reports 5. S0 has a matching next
// state. Type 1 records with the situation 5 as S2's id.
fp_test_file sid5_low_level_file(const fp_compiled &c) {
    fp_test_file f = one_situation(c, 5);
    f.alphabet_size = 256;
    f.low_level = true;
    fp_test_dfa d = dfa(c, 0, 1, 0, 0);
    fp_test_state s0 = state(0, 1, 256, {{0, 96, 1}, {97, 97, 2}, {98, 255, 1}});
    s0.matching_next_state_exists = true;
    d.states = {s0, dead_state(1, 1, 256), state(2, 1, 256, {{0, 255, 1}}, {5}, true)};
    f.dfas = {d};
    return f;
}

// NFA: 0 is a count state (1000 over [a-cx], no keep_on) -> 1, 1 runs
// sid(1). S0 has no normal state and one counter; its classes are [0,96],
// [97,99], [100,119], [120], [121,256], [257,259]. [0,96] -> S1 (empty).
// [97,99] is taken by the count shortcut (remain 1000): count set {a,b,c},
// exit child S2 {1}. [120] joins the count set and leads where [97,99]
// does. [257,259] carries the counter: S0. S0 is a count state, so nothing
// is plain: S0, S1, S2 keep their ids, plain count 0. The count set is
// written as the runs 97+3 and 120+1.
fp_test_file count_file(const fp_compiled &c) {
    fp_test_file f = one_situation(c, 1);
    fp_test_dfa d = dfa(c, 0, 0, 0, 0);
    fp_test_state s0 = state(
        0, 3, 260,
        {{0, 96, 1}, {97, 99, 2}, {100, 119, 1}, {120, 120, 2}, {121, 256, 1}, {257, 259, 0}});
    s0.count = 1000;
    s0.runs = {{97, 3}, {120, 1}};
    d.states = {s0, dead_state(1, 2, 260), state(2, 2, 260, {{0, 256, 1}, {257, 259, 2}}, {0})};
    f.dfas = {d};
    return f;
}

// Without count superstates a{300} makes one superstate per counter value:
// S0 (value 0), S1 empty, S2 ... S300 (values 1 ... 299), S301 {1} after the
// 300th a. Plain are the 300 counting superstates, renumbered 0 ... 299 by
// their value; the empty one becomes 300 and the matching one 301. 302
// states: 2-byte entries.
fp_test_file wide_file(const fp_compiled &c) {
    fp_test_file f = one_situation(c, 1);
    fp_test_dfa d = dfa(c, 0, 300, 0, 0);
    for (uint32_t v = 0; v < 300; ++v)
        d.states.push_back(
            state(static_cast<int32_t>(v), 2, 260,
                  {{0, 96, 300}, {97, 97, v == 299 ? 301 : v + 1}, {98, 256, 300}, {257, 259, v}}));
    d.states.push_back(dead_state(300, 2, 260));
    d.states.push_back(state(301, 2, 260, {{0, 256, 300}, {257, 259, 301}}, {0}));
    f.dfas = {d};
    return f;
}

// The inner expression "v=1" is complete before the regex(...) around it,
// so it is program 0 (one variable relocation to v, id 0) and the regex
// program 1 (one regex entry relocation); neither reads stream data. The
// branch ends in an expression: no situation. Entry 0 is "a" then program
// 1, entry 1 (bound 3) "b" then program 0.
fp_test_file regex_arg_file(const fp_compiled &c) {
    fp_test_file f;
    f.variables = {{"v", 0, false, 1}};
    f.programs = {program(c, 0, -1, {{3, 0}}), program(c, 1, -1, {{2, 0}})};
    f.dfas = {letter_dfa(c, 0, 'a', 0, 1), letter_dfa(c, 1, 'b', 3, 0)};
    return f;
}

void set_file_id_7(tirvo_compile_ctx *ctx) {
    tirvo_compile_set_file_id(ctx, 7);
}

struct writer_case {
    const char *name;
    const char *text;
    fp_compile_setup setup;
    fp_test_file (*expected)(const fp_compiled &);
};

void PrintTo(const writer_case &c, std::ostream *os) {
    *os << c.name;
}

class WriterFile : public testing::TestWithParam<writer_case> {};

TEST_P(WriterFile, RecordsAreThoseWorkedOutByHand) {
    const writer_case &wc = GetParam();
    written w(wc.text, wc.setup);
    ASSERT_TRUE(w.good());
    expect_same_records(w.raw, fp_test_records(wc.expected(w.c)));
}

const writer_case writer_cases[] = {
    {"Empty", "", nullptr, empty_file},
    {"EmptyLowLevel", "", tirvo_compile_set_low_level_dfa, empty_low_level_file},
    {"SituationWithFileId", "(?I{5})a", set_file_id_7, sid5_file},
    {"SituationLowLevel", "(?I{5})a", tirvo_compile_set_low_level_dfa, sid5_low_level_file},
    {"CountState", "(?I{1})[a-cx]{1000}", nullptr, count_file},
    {"TwoByteEntries", "(?I{1})a{300}", tirvo_compile_set_no_count_superstates, wide_file},
    {"RegexArgument", "a(?[regex{3}(b(?[v=1]))])", nullptr, regex_arg_file},
};

INSTANTIATE_TEST_SUITE_P(Fingerprints, WriterFile, testing::ValuesIn(writer_cases),
                         [](const testing::TestParamInfo<writer_case> &i) {
                             return std::string(i.param.name);
                         });

// ---------------------------------------------------------------------------
// Orders of the registry and the situation container, programs of several
// kinds.

// Variables are made in the order $b@32 (0), a@8 (1), $a (2), a (3); the
// registry lists local before shared, then by name, then by size. The
// situations are stored in signed order: 2147483648 is 0x80000000, the
// smallest. Programs: 0 the assignments (four variable relocations in
// written order); 1 the sid of the first branch; 2 the skip, which reads
// the stream and keeps its bound 5; the second branch ends in an expression
// and gets no sid; 3 the sid of the third branch.
TEST(WriterOrder, VariablesBySortKeySituationsSignedProgramsById) {
    written w("(?I{2147483648})(?[$b@32 = 1, a@8 = 2, $a = 1, a = 1])x"
              "|(?I{7})y(?[{5} skip(2)])"
              "|(?I{3})z",
              nullptr, "fp.txt");
    ASSERT_TRUE(w.good());
    fp_test_file f;
    f.source_name = "fp.txt";
    f.num_dfas = 1;
    f.variables = {{"a", 3, false, 1}, {"a", 1, false, 8}, {"a", 2, true, 1}, {"b", 0, true, 32}};
    f.situations = {INT32_MIN, 3, 7};
    f.programs = {program(w.c, 0, -1, {{3, 0}, {3, 1}, {3, 2}, {3, 3}}),
                  program(w.c, 1, -1, {{1, 0}}), program(w.c, 2, 5, {}),
                  program(w.c, 3, -1, {{1, 0}})};
    const std::string expected = fp_test_records(f);
    ASSERT_GT(w.raw.size(), expected.size());
    expect_same_records(w.raw.substr(0, expected.size()), expected);
    EXPECT_EQ(w.raw[expected.size()], 5) << "the DFA record follows the programs";
}

// ---------------------------------------------------------------------------
// Bytes of the encoding, written down from the field table.

// True when `record` holds `bytes` somewhere.
bool holds(const std::string &record, const std::string &bytes) {
    return record.find(bytes) != std::string::npos;
}

std::string bytes(std::initializer_list<unsigned> list) {
    std::string s;
    for (unsigned b : list)
        s += static_cast<char>(b);
    return s;
}

TEST(WriterBytes, GzipStreamOfRecordsStartingWithTheHeader) {
    written w("(?I{5})a", set_file_id_7, "fp");
    ASSERT_TRUE(w.good());
    EXPECT_EQ(hex(w.gz.substr(0, 2)), "1f 8b ") << "a gzip stream";
    // Kind 1, length 41, then 13000 = 1, 13037 = 7, 13001 = 260, 13002 =
    // "fp", 13003 = 1, 13004 = 0 (empty), 13005 = 1, 13039 = 1, 13041 false.
    const std::string header =
        bytes({0x01, 0x00, 0x00, 0x00, 0x29, 0x1a, 0xc8, 0x06, 0x01, 0x1a, 0xed, 0x06, 0x07, 0x2a,
               0xc9, 0x06, 0x04, 0x01, 0x2a, 0xca, 0x06, 'f',  'p',  0x1a, 0xcb, 0x06, 0x01, 0x0a,
               0xcc, 0x06, 0x1a, 0xcd, 0x06, 0x01, 0x1a, 0xef, 0x06, 0x01, 0x0a, 0xf1, 0x06});
    EXPECT_EQ(hex(w.raw.substr(0, header.size())), hex(header));
}

TEST(WriterBytes, FileIdWithoutOptionIsAnEmptyValue) {
    written w("(?I{5})a");
    ASSERT_TRUE(w.good());
    const std::vector<std::string> &r = w.records;
    ASSERT_FALSE(r.empty());
    // 13000 = 1 is directly followed by 13037 with length code 0.
    EXPECT_TRUE(holds(r[0], bytes({0x1a, 0xc8, 0x06, 0x01, 0x0a, 0xed, 0x06, 0x2a, 0xc9})))
        << hex(r[0]);
}

TEST(WriterBytes, BoundMinusOneIsFourBytesOfOnes) {
    written w("(?I{5})a");
    ASSERT_TRUE(w.good());
    const std::vector<std::string> &r = w.records;
    // header, situation, program, DFA, three states
    ASSERT_EQ(r.size(), 7u);
    ASSERT_EQ(r[2][0], 4);
    EXPECT_TRUE(holds(r[2], bytes({0x4a, 0xde, 0x06, 0xff, 0xff, 0xff, 0xff}))) << hex(r[2]);
}

TEST(WriterBytes, SingleStateHasAnEmptyVector) {
    written w("");
    ASSERT_TRUE(w.good());
    const std::vector<std::string> &r = w.records;
    ASSERT_EQ(r.size(), 3u);
    // Kind 6, length 22: 13024 = 0, 13044 = 2, 13033 true, 13032 = 0, 13038
    // with length code 0.
    EXPECT_EQ(hex(r[2]),
              hex(bytes({0x06, 0x00, 0x00, 0x00, 0x16, 0x0a, 0xe0, 0x06, 0x1a, 0xf4, 0x06,
                         0x02, 0x1a, 0xe9, 0x06, 0x01, 0x0a, 0xe8, 0x06, 0x0a, 0xee, 0x06})));
}

// 302 states: every vector has 260 entries of 2 bytes, 520 bytes in the long
// form with the length code 10 and the length bytes 0x08 0x02.
TEST(WriterBytes, TwoByteVectorUsesTheLongLengthForm) {
    written w("(?I{1})a{300}", tirvo_compile_set_no_count_superstates);
    ASSERT_TRUE(w.good());
    const std::vector<std::string> states = w.states();
    EXPECT_EQ(states.size(), 302u);
    for (const std::string &rec : states) {
        const size_t at = rec.find(bytes({0xaa, 0xee, 0x06, 0x08, 0x02}));
        ASSERT_NE(at, std::string::npos) << hex(rec);
        EXPECT_GE(rec.size(), at + 5 + 520);
    }
}

// With --low-level-DFA every state record has type 1, the matching-next
// flag and the situation count, and a vector of 256 entries.
TEST(WriterBytes, LowLevelStatesHaveTypeOneAndByteVectors) {
    written w("(?I{5})ab|(?I{6})ac", tirvo_compile_set_low_level_dfa);
    ASSERT_TRUE(w.good());
    const std::vector<std::string> states = w.states();
    EXPECT_GT(states.size(), 3u);
    for (const std::string &rec : states) {
        EXPECT_TRUE(holds(rec, bytes({0x1a, 0xf4, 0x06, 0x01}))) << "type 1: " << hex(rec);
        // 13031 (0xe7) and 13042 (0xf2) are there.
        EXPECT_TRUE(holds(rec, bytes({0xe7, 0x06}))) << hex(rec);
        EXPECT_TRUE(holds(rec, bytes({0xf2, 0x06}))) << hex(rec);
        // 256 one-byte entries: the length 256 takes two length bytes, so
        // the length code is 10.
        EXPECT_TRUE(holds(rec, bytes({0xaa, 0xee, 0x06, 0x00, 0x01}))) << hex(rec);
    }
}

// ---------------------------------------------------------------------------
// A record that does not fit the record buffer.

// 14000 expressions before x are all active in the initial superstate; its
// state record needs 14000 fields 13010 of 3 to 5 bytes, more than a record
// may hold. The writer says so, stops before that record, and what it wrote
// up to there stays a complete gzip stream: header, variable, programs and
// the DFA record, no state record.
TEST(WriterFailure, RecordTooLargeStopsTheWriting) {
    std::string text;
    for (int i = 0; i < 14000; ++i)
        text += "(?[a=1])";
    text += "x";
    testing::internal::CaptureStderr();
    written w(text);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(w.c.status, 5);
    EXPECT_EQ(w.c.ctx.error, 5);
    EXPECT_EQ(err.rfind("Encoding failed: -12 (tirvo_store: ", 0), 0u) << err;
    EXPECT_EQ(err.back(), '\n');
    EXPECT_EQ(err.find('\n'), err.size() - 1) << "one message: " << err;
    ASSERT_TRUE(w.gunzip_ok && w.records_ok);
    const std::vector<std::string> &r = w.records;
    ASSERT_EQ(r.size(), 1u + 1u + 14000u + 1u);
    EXPECT_EQ(r[0][0], 1);
    EXPECT_EQ(r[1][0], 2);
    EXPECT_EQ(r[2][0], 4);
    EXPECT_EQ(r[14001][0], 4);
    EXPECT_EQ(r.back()[0], 5);
    EXPECT_EQ(w.c.ctx.state_record_bytes, 0);
}

// ---------------------------------------------------------------------------
// The state record total of the context and the --progress average.

TEST(WriterProgress, StateRecordBytesAreTheEncodedSizes) {
    testing::internal::CaptureStdout();
    written w("a(?[regex{3}(b(?[v=1]))])|(?I{9})c[de]{40}f", tirvo_compile_set_progress);
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(w.good());
    const std::vector<std::string> states = w.states();
    int64_t sum = 0;
    for (const std::string &rec : states)
        sum += static_cast<int64_t>(rec.size());
    EXPECT_EQ(w.c.ctx.state_record_bytes, sum);
    EXPECT_EQ(w.c.ctx.num_superstates, static_cast<int64_t>(states.size()));
    char line[100];
    std::snprintf(line, sizeof line, "Average uncompressed state record size: %.1f\n",
                  static_cast<double>(sum) / static_cast<double>(states.size()));
    ASSERT_GE(out.size(), std::string(line).size());
    EXPECT_EQ(out.substr(out.size() - std::string(line).size()), line);
}

} // namespace
