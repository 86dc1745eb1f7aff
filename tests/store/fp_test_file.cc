#include "tests/store/fp_test_file.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Larger than any record: the loader refuses records above 64 KB, and tests
// of that need a little more.
constexpr size_t RECORD_BUF_SIZE = 70000;

// Opcodes of the sample programs.
constexpr uint8_t OP_SUBDFA = 20, OP_PUSH32_LIT = 24, OP_COPY32_TO32 = 29, OP_SKIP_VARBIT_Z = 36,
                  OP_SID_LIT = 55;

void check(int result, const char *what) {
    if (result != 0) {
        std::fprintf(stderr, "fp_test_file: %s failed: %d\n", what, result);
        std::abort();
    }
}

int32_t or_size(int32_t value, size_t size) {
    return value != fp_test_auto ? value : static_cast<int32_t>(size);
}

void put_location(fp_test_record *r, const fp_test_location &loc) {
    fp_test_record_nested_begin(r, LN_TIRVO_LOCATION);
    fp_test_record_i32(r, LN_TIRVO_LOCATION_FIRST_LINE, loc.first_line);
    fp_test_record_i32(r, LN_TIRVO_LOCATION_FIRST_COLUMN, loc.first_column);
    fp_test_record_i32(r, LN_TIRVO_LOCATION_LAST_LINE, loc.last_line);
    fp_test_record_i32(r, LN_TIRVO_LOCATION_LAST_COLUMN, loc.last_column);
    fp_test_record_nested_end(r, LN_TIRVO_LOCATION);
}

std::string variable_record(const fp_test_variable &v) {
    fp_test_record r;
    fp_test_record_begin(&r, 2);
    fp_test_record_bytes(&r, LN_TIRVO_VARIABLE_NAME, v.name.data(), v.name.size());
    fp_test_record_i32(&r, LN_TIRVO_VARIABLE_ID, v.id);
    fp_test_record_bool(&r, LN_TIRVO_VARIABLE_IS_SHARED, v.is_shared);
    fp_test_record_i32(&r, LN_TIRVO_VARIABLE_SIZE, v.size);
    return fp_test_record_end(&r);
}

std::string situation_record(int32_t sid) {
    fp_test_record r;
    fp_test_record_begin(&r, 3);
    fp_test_record_i32(&r, LN_TIRVO_SITUATION_SID, sid);
    return fp_test_record_end(&r);
}

std::string compress(const std::string &raw, int window_bits) {
    z_stream z{};
    check(deflateInit2(&z, 9, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY), "deflateInit2");
    std::string out(deflateBound(&z, raw.size()), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(raw.data()));
    z.avail_in = static_cast<uInt>(raw.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END)
        check(-1, "deflate");
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

} // namespace

void fp_test_record_begin(fp_test_record *r, uint8_t kind) {
    r->buf.assign(RECORD_BUF_SIZE, 0);
    vabo_context_init(&r->ctx, r->buf.data(), r->buf.size());
    check(vabo_begin_record(&r->ctx, kind), "vabo_begin_record");
}

void fp_test_record_i32(fp_test_record *r, uint32_t id, int32_t value) {
    check(vabo_encode_int32(&r->ctx, id, value), "vabo_encode_int32");
}

void fp_test_record_bool(fp_test_record *r, uint32_t id, bool value) {
    check(vabo_encode_bool(&r->ctx, id, value), "vabo_encode_bool");
}

void fp_test_record_bytes(fp_test_record *r, uint32_t id, const void *bytes, size_t len) {
    check(vabo_encode_bytes(&r->ctx, id, bytes, len), "vabo_encode_bytes");
}

void fp_test_record_nested_begin(fp_test_record *r, uint32_t id) {
    check(vabo_begin_nested(&r->ctx, id), "vabo_begin_nested");
}

void fp_test_record_nested_end(fp_test_record *r, uint32_t id) {
    check(vabo_end_nested(&r->ctx, id), "vabo_end_nested");
}

std::string fp_test_record_end(fp_test_record *r) {
    check(vabo_end_record(&r->ctx), "vabo_end_record");
    return std::string(reinterpret_cast<const char *>(r->buf.data()), r->ctx.position);
}

int fp_test_entry_bytes(int32_t num_states) {
    int n = 0;
    for (uint32_t v = static_cast<uint32_t>(num_states - 1); v != 0; v >>= 8)
        ++n;
    return n;
}

std::string fp_test_header_record(const fp_test_file &f) {
    fp_test_record r;
    fp_test_record_begin(&r, 1);
    fp_test_record_i32(&r, LN_TIRVO_VERSION, f.version);
    fp_test_record_i32(&r, LN_TIRVO_FILE_ID, f.file_id);
    fp_test_record_i32(&r, LN_TIRVO_ALPHABET_SIZE, f.alphabet_size);
    fp_test_record_bytes(&r, LN_TIRVO_SOURCE_NAME, f.source_name.data(), f.source_name.size());
    fp_test_record_i32(&r, LN_TIRVO_NUM_DFAS, or_size(f.num_dfas, f.dfas.size()));
    fp_test_record_i32(&r, LN_TIRVO_NUM_VARIABLES, or_size(f.num_variables, f.variables.size()));
    fp_test_record_i32(&r, LN_TIRVO_NUM_BYC_PROGS, or_size(f.num_byc_progs, f.programs.size()));
    fp_test_record_i32(&r, LN_TIRVO_NUM_SITUATIONS, or_size(f.num_situations, f.situations.size()));
    fp_test_record_bool(&r, LN_TIRVO_LOW_LEVEL_DFA, f.low_level);
    return fp_test_record_end(&r);
}

std::string fp_test_program_record(const fp_test_program &p) {
    fp_test_record r;
    fp_test_record_begin(&r, 4);
    fp_test_record_i32(&r, LN_TIRVO_BYC_ID, p.id);
    if (p.has_location)
        put_location(&r, p.location);
    fp_test_record_bytes(&r, LN_TIRVO_BYC, p.code.data(), p.code.size());
    fp_test_record_i32(&r, LN_TIRVO_BYC_REQUIRED_STACK_SIZE, p.required_stack_size);
    fp_test_record_i32(&r, LN_TIRVO_BOUND, p.bound);
    fp_test_record_i32(&r, LN_TIRVO_BYC_NUM_RELOCS, or_size(p.num_relocs, p.relocs.size()));
    for (const fp_test_reloc &rel : p.relocs) {
        fp_test_record_nested_begin(&r, LN_TIRVO_BYC_RELOC);
        fp_test_record_i32(&r, LN_TIRVO_BYC_RELOC_TYPE, rel.type);
        fp_test_record_i32(&r, LN_TIRVO_BYC_RELOC_POS, rel.pos);
        if (rel.type == 3)
            fp_test_record_i32(&r, LN_TIRVO_VARIABLE_ID, rel.variable_id);
        fp_test_record_nested_end(&r, LN_TIRVO_BYC_RELOC);
    }
    return fp_test_record_end(&r);
}

std::string fp_test_dfa_record(const fp_test_dfa &d) {
    fp_test_record r;
    fp_test_record_begin(&r, 5);
    fp_test_record_i32(&r, LN_TIRVO_DFA_ID, d.id);
    if (d.has_location)
        put_location(&r, d.location);
    fp_test_record_i32(&r, LN_TIRVO_DFA_NUM_STATES, or_size(d.num_states, d.states.size()));
    fp_test_record_i32(&r, LN_TIRVO_DFA_NUM_PLAIN_STATES, d.plain);
    fp_test_record_i32(&r, LN_TIRVO_DFA_INITIAL_STATE, d.initial);
    fp_test_record_i32(&r, LN_TIRVO_BOUND, d.bound);
    return fp_test_record_end(&r);
}

std::string fp_test_state_record(const fp_test_dfa &d, const fp_test_state &s, bool low_level) {
    fp_test_record r;
    fp_test_record_begin(&r, 6);
    fp_test_record_i32(&r, LN_TIRVO_STATE_ID, s.id);
    fp_test_record_i32(&r, LN_TIRVO_STATE_TYPE, s.type);
    if (s.type < 1 || s.type > 3)
        return fp_test_record_end(&r);
    fp_test_record_bool(&r, LN_TIRVO_STATE_CANNOT_MATCH, s.cannot_match);
    const int32_t num_ids = or_size(s.num_ids, s.ids.size());
    if (s.type == 1) {
        fp_test_record_bool(&r, LN_TIRVO_STATE_MATCHING_NEXT_STATE_EXISTS,
                            s.matching_next_state_exists);
        fp_test_record_i32(&r, LN_TIRVO_STATE_NUM_SIDS, num_ids);
    } else {
        fp_test_record_i32(&r, LN_TIRVO_STATE_NUM_BYC_IDS, num_ids);
    }
    if (s.type == 3)
        fp_test_record_i32(&r, LN_TIRVO_STATE_COUNT, s.count);
    const int k = s.entry_bytes >= 0 ? s.entry_bytes
                                     : fp_test_entry_bytes(or_size(d.num_states, d.states.size()));
    std::vector<uint8_t> vec;
    for (uint32_t target : s.next)
        for (int b = 0; b < k; ++b)
            vec.push_back(static_cast<uint8_t>(target >> (8 * b)));
    fp_test_record_bytes(&r, LN_TIRVO_STATE_NEXT_STATES, vec.data(), vec.size());
    for (int32_t id : s.ids)
        fp_test_record_i32(&r, low_level ? LN_TIRVO_STATE_SID : LN_TIRVO_BYC_ID, id);
    if (s.type == 3) {
        fp_test_record_i32(&r, LN_TIRVO_STATE_NUM_COUNT_RANGES,
                           static_cast<int32_t>(s.runs.size()));
        for (const fp_test_run &run : s.runs) {
            fp_test_record_nested_begin(&r, LN_TIRVO_COUNT_RANGE);
            fp_test_record_i32(&r, LN_TIRVO_COUNT_RANGE_START, run.start);
            fp_test_record_i32(&r, LN_TIRVO_COUNT_RANGE_LEN, run.len);
            fp_test_record_nested_end(&r, LN_TIRVO_COUNT_RANGE);
        }
    }
    return fp_test_record_end(&r);
}

std::string fp_test_records(const fp_test_file &f) {
    std::string out = fp_test_header_record(f);
    for (const fp_test_variable &v : f.variables)
        out += variable_record(v);
    for (int32_t sid : f.situations)
        out += situation_record(sid);
    for (const fp_test_program &p : f.programs)
        out += fp_test_program_record(p);
    for (const fp_test_dfa &d : f.dfas) {
        out += fp_test_dfa_record(d);
        for (const fp_test_state &s : d.states)
            out += fp_test_state_record(d, s, f.low_level);
    }
    return out;
}

std::string fp_test_gzip(const std::string &raw) {
    return compress(raw, 15 + 16);
}

std::string fp_test_zlib(const std::string &raw) {
    return compress(raw, 15);
}

std::string fp_test_gunzip(const std::string &gz, bool *ok) {
    *ok = false;
    z_stream z{};
    // 15 + 16: a gzip header and trailer, nothing else.
    if (inflateInit2(&z, 15 + 16) != Z_OK)
        return {};
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(gz.data()));
    z.avail_in = static_cast<uInt>(gz.size());
    std::string out;
    char chunk[65536];
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = reinterpret_cast<Bytef *>(chunk);
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(chunk, sizeof chunk - z.avail_out);
    }
    // Z_BUF_ERROR: the input ended before the stream did.
    *ok = rc == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return out;
}

fp_test_dfa fp_test_self_loop_dfa(int32_t num_states, bool low_level) {
    fp_test_dfa d;
    d.plain = num_states;
    d.states.resize(static_cast<size_t>(num_states));
    for (int32_t i = 0; i < num_states; ++i) {
        d.states[static_cast<size_t>(i)].id = i;
        d.states[static_cast<size_t>(i)].type = low_level ? 1 : 2;
    }
    return d;
}

fp_test_state fp_test_plain_state(int32_t id, uint32_t dflt,
                                  std::vector<std::pair<uint32_t, uint32_t>> moves,
                                  std::vector<int32_t> ids) {
    fp_test_state s;
    s.id = id;
    s.type = 2;
    s.next.assign(260, dflt);
    for (auto [symbol, target] : moves)
        s.next[symbol] = target;
    s.ids = std::move(ids);
    return s;
}

fp_test_file fp_test_sample_file() {
    fp_test_file f;
    f.file_id = 7;
    f.variables = {{"count", 2, false, 8}, {"x", 0, true, 32}, {"flag", 1, false, 1}};
    f.situations = {30, -5, 7};

    fp_test_program p0;
    p0.id = 0;
    p0.location = {3, 4, 3, 17};
    p0.code = {OP_PUSH32_LIT, 5, 0, 0, 0, OP_COPY32_TO32, 0, 0, 0, OP_SID_LIT, 30, 0, 0, 0};
    p0.required_stack_size = 4;
    p0.bound = -1;
    p0.relocs = {{3, 6, 0}, {1, 10, 0}};

    fp_test_program p1;
    p1.id = 1;
    p1.has_location = false;
    // SKIP_VARBIT_Z flag FW 4 (to the end); SUBDFA 1.
    p1.code = {OP_SKIP_VARBIT_Z, 0, 0, 0, 4, 0, 0, OP_SUBDFA, 1, 0, 0};
    p1.required_stack_size = 0;
    p1.bound = 2;
    p1.relocs = {{3, 1, 1}, {2, 8, 0}};

    fp_test_program p2;
    p2.id = 2;
    p2.location = {5, 1, 6, 2};

    f.programs = {p0, p1, p2};

    fp_test_dfa d0;
    d0.id = 0;
    d0.location = {1, 1, 1, 20};
    d0.plain = 2;
    d0.initial = 0;
    d0.bound = 3;
    fp_test_state count_state;
    count_state.id = 2;
    count_state.type = 3;
    count_state.ids = {0, 1, 2};
    count_state.count = 5;
    count_state.runs = {{48, 10}, {250, 20}};
    fp_test_state unknown;
    unknown.id = 3;
    unknown.type = 7;
    d0.states = {fp_test_plain_state(0, 0, {{97, 1}, {257, 3}}),
                 fp_test_plain_state(1, 2, {}, {0, 1}), count_state, unknown};

    fp_test_dfa d1;
    d1.id = 1;
    d1.has_location = false;
    d1.plain = 1;
    d1.bound = -1;
    fp_test_state single;
    single.id = 0;
    d1.states = {single};

    f.dfas = {d0, d1};
    return f;
}
