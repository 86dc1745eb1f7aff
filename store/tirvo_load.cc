#include "store/tirvo_load.h"

#include "byc/tirvo_byc_insn.h"
#include "engine/tirvo_eng_settings.h"
#include "lib/common/tirvo_assert.h"
#include "lib/libk4m4util/k4mstr.h"
#include "lib/vabo/public/vabo.h"
#include "store/tirvo_alloc.h"
#include "store/tirvo_load_dump.h"
#include "store/tirvo_load_stream.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Record kinds of the fingerprint file.
enum record_kind : uint8_t {
    record_kind_header = 1,
    record_kind_variable = 2,
    record_kind_situation = 3,
    record_kind_bycp = 4,
    record_kind_dfa = 5,
    record_kind_state = 6,
};

// State types of a state record.
enum state_type : int32_t {
    state_type_low_level = 1,
    state_type_plain = 2,
    state_type_count = 3,
};

// Symbols of the alphabet: bytes and the four special symbols.
constexpr int NUM_BYTES = 256;
constexpr int NUM_SYMBOLS = 260;
// Bytes of a state record.
constexpr size_t STATE_RECORD_SIZE = sizeof(tirvo_fp_state);
// The name the temporary file goes by in messages and in the record.
constexpr char TMP_FILE_NAME[] = "tmp_file";
// The version of the file format this loader reads.
constexpr int32_t FORMAT_VERSION = 1;

constexpr const char *error_texts[] = {
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

// Gives every fingerprint record its own number, also when loads run in
// several threads.
std::atomic<uint64_t> load_counter{0};

struct fingerprint_deleter {
    void operator()(tirvo_fingerprint *fp) const { tirvo_free_fingerprint(fp); }
};

// A fingerprint being built; released with everything in it unless the load
// succeeds and hands it out.
using fingerprint_ptr = std::unique_ptr<tirvo_fingerprint, fingerprint_deleter>;

// What one load works with. Closing it ends the decompressor and releases
// the read buffers, and the partly built fingerprint unless handed out.
struct load_ctx {
    tirvo_load_stream stream{}; // the input
    fingerprint_ptr fp;         // the record being filled, or null before the header
    const char *file_name;      // the name for messages
    FILE *dbg;                  // the debug stream while debug is on, else null
    size_t tmp_bytes = 0;       // bytes written to the temporary file so far

    load_ctx(const char *name, FILE *debug) : file_name(name), dbg(debug) {}
    load_ctx(const load_ctx &) = delete;
    load_ctx &operator=(const load_ctx &) = delete;
    ~load_ctx() { tirvo_load_stream_close(&stream); }
};

// A segmented string of the loader's kind, cleared when it goes out of
// scope.
struct loader_string {
    k4mstr s;

    explicit loader_string(const k4mstr_ops *ops) { k4mstr_init(&s, ops, nullptr); }
    loader_string(const loader_string &) = delete;
    loader_string &operator=(const loader_string &) = delete;
    ~loader_string() { k4mstr_clear(&s); }
};

// ---------------------------------------------------------------------------
// Field lookup. Every lookup moves the cursor forward; a missing field, a
// header that does not fit or a value that does not decode is error 6.

int find_value(vabo_iter *it, uint32_t id, vabo_value *v) {
    return vabo_find_field(it, &id, 1, v) == 0 ? 0 : tirvo_load_error_decode;
}

int read_i32(vabo_iter *it, uint32_t id, int32_t *out) {
    vabo_value v;
    if (int err = find_value(it, id, &v))
        return err;
    *out = v.i32;
    return 0;
}

int read_bool(vabo_iter *it, uint32_t id, bool *out) {
    vabo_value v;
    if (int err = find_value(it, id, &v))
        return err;
    *out = v.boolean;
    return 0;
}

// A byte-string field (also a nested one): its bytes inside the window.
int read_bytes(vabo_iter *it, uint32_t id, const uint8_t **data, size_t *len) {
    vabo_value v;
    if (int err = find_value(it, id, &v))
        return err;
    *data = v.data;
    *len = v.len;
    return 0;
}

// A nested field: a cursor over its inner fields.
int read_nested(vabo_iter *it, uint32_t id, vabo_iter *inner) {
    const uint8_t *data;
    size_t len;
    if (int err = read_bytes(it, id, &data, &len))
        return err;
    vabo_iter_init(inner, data, len);
    return 0;
}

// A source location: lines and columns, both offsets 0.
int read_location(const vabo_value &nested, tirvo_location *loc) {
    vabo_iter inner;
    vabo_iter_init(&inner, nested.data, nested.len);
    *loc = tirvo_location{};
    int err = read_i32(&inner, LN_TIRVO_LOCATION_FIRST_LINE, &loc->first_line);
    if (!err)
        err = read_i32(&inner, LN_TIRVO_LOCATION_FIRST_COLUMN, &loc->first_column);
    if (!err)
        err = read_i32(&inner, LN_TIRVO_LOCATION_LAST_LINE, &loc->last_line);
    if (!err)
        err = read_i32(&inner, LN_TIRVO_LOCATION_LAST_COLUMN, &loc->last_column);
    return err;
}

// The optional location in front of the field `id` (an int32 or a byte
// string): looks up the first of the two; after a location, `id` itself.
int read_location_then(vabo_iter *it, uint32_t id, tirvo_location *loc, vabo_value *v) {
    const uint32_t ids[2] = {LN_TIRVO_LOCATION, id};
    if (vabo_find_field(it, ids, 2, v) != 0)
        return tirvo_load_error_decode;
    *loc = tirvo_location{};
    if (v->id != LN_TIRVO_LOCATION)
        return 0;
    if (int err = read_location(*v, loc))
        return err;
    return find_value(it, id, v);
}

// ---------------------------------------------------------------------------
// Allocation helpers.

// A zero-filled table of `count` elements of `size` bytes; null for none.
// The counts are bounded before, so the product cannot overflow.
int obtain_table(tirvo_alloc_kind kind, int32_t count, size_t size, void **out) {
    *out = nullptr;
    if (count == 0)
        return 0;
    *out = tirvo_obtain_zeroed(kind, static_cast<size_t>(count) * size);
    return *out ? 0 : tirvo_load_error_memory;
}

// A zero-terminated copy of `len` bytes.
char *copy_text(tirvo_alloc_kind kind, const void *text, size_t len) {
    char *copy = static_cast<char *>(tirvo_obtain(kind, len + 1));
    if (copy) {
        if (len)
            std::memcpy(copy, text, len);
        copy[len] = '\0';
    }
    return copy;
}

// ---------------------------------------------------------------------------
// Header, variables and situations.

int load_header(load_ctx *c) {
    vabo_iter it;
    if (int err = tirvo_load_find_record(&c->stream, record_kind_header, &it))
        return err;
    c->fp.reset(static_cast<tirvo_fingerprint *>(
        tirvo_obtain_zeroed(tirvo_alloc_kind_fingerprint, sizeof(tirvo_fingerprint))));
    tirvo_fingerprint *fp = c->fp.get();
    if (!fp)
        return tirvo_load_error_memory;
    fp->load_serial = load_counter.fetch_add(1, std::memory_order_relaxed);
    fp->file_name = copy_text(tirvo_alloc_kind_file_name, c->file_name, std::strlen(c->file_name));
    if (!fp->file_name)
        return tirvo_load_error_memory;

    int32_t version = 0;
    bool low_level = false;
    int err = read_i32(&it, LN_TIRVO_VERSION, &version);
    if (!err)
        err = read_i32(&it, LN_TIRVO_FILE_ID, &fp->file_id);
    if (!err)
        err = read_i32(&it, LN_TIRVO_NUM_DFAS, &fp->num_dfas);
    if (!err)
        err = read_i32(&it, LN_TIRVO_NUM_VARIABLES, &fp->num_variables);
    if (!err)
        err = read_i32(&it, LN_TIRVO_NUM_BYC_PROGS, &fp->num_byc_progs);
    if (!err)
        err = read_i32(&it, LN_TIRVO_NUM_SITUATIONS, &fp->num_situations);
    if (!err)
        err = read_bool(&it, LN_TIRVO_LOW_LEVEL_DFA, &low_level);
    if (err)
        return err;
    fp->low_level_dfa = low_level;
    // The counts size the tables: a count outside the limits is refused
    // before anything is allocated for it.
    if (version != FORMAT_VERSION || fp->num_dfas < 0 || fp->num_dfas > TIRVO_FP_MAX_DFAS ||
        fp->num_variables < 0 || fp->num_variables > TIRVO_FP_MAX_VARIABLES ||
        fp->num_byc_progs < 0 || fp->num_byc_progs > TIRVO_FP_MAX_BYC_PROGS ||
        fp->num_situations < 0 || fp->num_situations > TIRVO_FP_MAX_SITUATIONS)
        return tirvo_load_error_decode;
    return 0;
}

int allocate_tables(tirvo_fingerprint *fp) {
    void *table;
    int err = obtain_table(tirvo_alloc_kind_variables, fp->num_variables, sizeof(tirvo_fp_variable),
                           &table);
    fp->variables = static_cast<tirvo_fp_variable *>(table);
    if (!err) {
        err =
            obtain_table(tirvo_alloc_kind_bycps, fp->num_byc_progs, sizeof(tirvo_fp_bycp), &table);
        fp->bycps = static_cast<tirvo_fp_bycp *>(table);
    }
    if (!err) {
        err =
            obtain_table(tirvo_alloc_kind_situations, fp->num_situations, sizeof(int32_t), &table);
        fp->situations = static_cast<int32_t *>(table);
    }
    if (!err) {
        err = obtain_table(tirvo_alloc_kind_dfas, fp->num_dfas, sizeof(tirvo_fp_dfa), &table);
        fp->dfas = static_cast<tirvo_fp_dfa *>(table);
    }
    return err;
}

int open_tmp_file(tirvo_fingerprint *fp) {
    // tmpfile creates the file readable and writable by its owner only and
    // removes it when it is closed.
    fp->tmp_file = std::tmpfile();
    if (!fp->tmp_file)
        return tirvo_load_error_memory;
    fp->mmap_file =
        copy_text(tirvo_alloc_kind_tmp_file_name, TMP_FILE_NAME, sizeof TMP_FILE_NAME - 1);
    return fp->mmap_file ? 0 : tirvo_load_error_memory;
}

bool valid_variable_size(int32_t size) {
    return size == 1 || size == 8 || size == 16 || size == 32 || size == 64;
}

int load_variable(load_ctx *c) {
    tirvo_fingerprint *fp = c->fp.get();
    vabo_iter it;
    if (int err = tirvo_load_find_record(&c->stream, record_kind_variable, &it))
        return err;
    const uint8_t *name;
    size_t name_len;
    int32_t id, size;
    bool is_shared;
    int err = read_bytes(&it, LN_TIRVO_VARIABLE_NAME, &name, &name_len);
    if (!err)
        err = read_i32(&it, LN_TIRVO_VARIABLE_ID, &id);
    if (!err && (id < 0 || id >= fp->num_variables || fp->variables[id].name))
        err = tirvo_load_error_decode;
    if (!err)
        err = read_bool(&it, LN_TIRVO_VARIABLE_IS_SHARED, &is_shared);
    if (!err)
        err = read_i32(&it, LN_TIRVO_VARIABLE_SIZE, &size);
    // Frames are laid out by size; only the five sizes keep every variable
    // aligned to its own size.
    if (!err && !valid_variable_size(size))
        err = tirvo_load_error_decode;
    if (err)
        return err;
    tirvo_fp_variable *var = &fp->variables[id];
    var->name = copy_text(tirvo_alloc_kind_variable_name, name, name_len);
    if (!var->name)
        return tirvo_load_error_memory;
    var->is_shared = is_shared;
    var->size = size;
    if (c->dbg)
        std::fprintf(c->dbg, "variable:\n  id: %d\n  name: %s\n  is_shared: %d\n  size: %d\n", id,
                     var->name, var->is_shared, var->size);
    return 0;
}

int load_situations(load_ctx *c) {
    tirvo_fingerprint *fp = c->fp.get();
    for (int32_t i = 0; i < fp->num_situations; ++i) {
        vabo_iter it;
        if (int err = tirvo_load_find_record(&c->stream, record_kind_situation, &it))
            return err;
        if (int err = read_i32(&it, LN_TIRVO_SITUATION_SID, &fp->situations[i]))
            return err;
    }
    if (fp->num_situations > 0)
        std::sort(fp->situations, fp->situations + fp->num_situations);
    return 0;
}

// ---------------------------------------------------------------------------
// Programs.

// The size in bits of the variable that the shared-variable instruction
// `opcode` (26 to 37) works on.
int32_t variable_size_of(int opcode) {
    switch (opcode) {
    case TIRVO_BYC_COPY32_TO1:
    case TIRVO_BYC_PUSH1_TO32:
    case TIRVO_BYC_SKIP_VARBIT_Z:
    case TIRVO_BYC_SKIP_VARBIT_NZ:
        return 1;
    case TIRVO_BYC_COPY32_TO8:
    case TIRVO_BYC_PUSH8_TO32:
        return 8;
    case TIRVO_BYC_COPY32_TO16:
    case TIRVO_BYC_PUSH16_TO32:
        return 16;
    case TIRVO_BYC_COPY32_TO32:
    case TIRVO_BYC_PUSH32_TO32:
        return 32;
    default:
        return 64;
    }
}

bool is_shared_variable_insn(int opcode) {
    return opcode >= TIRVO_BYC_COPY32_TO1 && opcode <= TIRVO_BYC_SKIP_VARBIT_NZ;
}

bool is_local_variable_insn(int opcode) {
    return opcode >= TIRVO_BYC_LCOPY32_TO1 && opcode <= TIRVO_BYC_SKIP_LVARBIT_NZ;
}

// Checks one relocation entry (after the code passed tirvo_byc_code_valid
// with `starts`): it fits its instruction, and a variable entry names a
// variable of the file, of the instruction's size, that may be relocated.
bool reloc_ok(const tirvo_fingerprint *fp, const tirvo_fp_bycp *p, const tirvo_fp_reloc *r,
              const uint8_t *starts) {
    if (!tirvo_byc_reloc_valid(p->code, p->len, starts, r->pos, r->type))
        return false;
    if (r->type != tirvo_fp_reloc_type_variable)
        return true;
    if (r->variable_id < 0 || r->variable_id >= fp->num_variables)
        return false;
    const tirvo_fp_variable *var = &fp->variables[r->variable_id];
    // The local "offset" is the stream offset, which no instruction but
    // OFFSET may touch.
    if (!var->is_shared && std::strcmp(var->name, "offset") == 0)
        return false;
    return var->size == variable_size_of(p->code[r->pos - 1]);
}

// Checks a program against its file: whole, defined instructions whose skips
// land on instructions; relocation entries in ascending order that fit their
// instructions; a variable relocation for every variable operand (an operand
// without one would address the frame with a raw number) and no local forms
// (which only relocation produces); sub-expression operands that name a DFA
// of the file.
bool program_ok(const tirvo_fingerprint *fp, const tirvo_fp_bycp *p, uint8_t *starts) {
    if (!tirvo_byc_code_valid(p->code, p->len, starts))
        return false;
    for (int32_t i = 0; i < p->num_relocs; ++i) {
        if (i > 0 && p->relocs[i].pos <= p->relocs[i - 1].pos)
            return false;
        if (!reloc_ok(fp, p, &p->relocs[i], starts))
            return false;
    }
    int32_t r = 0;
    for (int32_t pos = 0; pos < p->len; pos += __tirvo_byc_instruction_size[p->code[pos]]) {
        const int opcode = p->code[pos];
        if (is_local_variable_insn(opcode))
            return false;
        if ((opcode == TIRVO_BYC_SUBDFA || opcode == TIRVO_BYC_RMDFA) &&
            tirvo_byc_read_u24(p->code + pos + 1) >= static_cast<uint32_t>(fp->num_dfas))
            return false;
        if (!is_shared_variable_insn(opcode))
            continue;
        while (r < p->num_relocs && p->relocs[r].pos < pos + 1)
            ++r;
        if (r == p->num_relocs || p->relocs[r].pos != pos + 1 ||
            p->relocs[r].type != tirvo_fp_reloc_type_variable)
            return false;
    }
    return true;
}

int read_reloc(vabo_iter *it, tirvo_fp_reloc *r) {
    vabo_iter inner;
    int err = read_nested(it, LN_TIRVO_BYC_RELOC, &inner);
    if (!err)
        err = read_i32(&inner, LN_TIRVO_BYC_RELOC_TYPE, &r->type);
    if (!err)
        err = read_i32(&inner, LN_TIRVO_BYC_RELOC_POS, &r->pos);
    if (!err && r->type == tirvo_fp_reloc_type_variable)
        err = read_i32(&inner, LN_TIRVO_VARIABLE_ID, &r->variable_id);
    return err;
}

void print_program(FILE *f, int32_t id, const tirvo_fp_bycp *p) {
    std::fprintf(f, "byc program:\n  id: %d\n  len: %d\n  required_stack_size: %d\n  code:\n", id,
                 p->len, p->required_stack_size);
    tirvo_byc_print_code(f, p->code, p->len, "    ");
    for (int32_t i = 0; i < p->num_relocs; ++i) {
        const tirvo_fp_reloc *r = &p->relocs[i];
        std::fprintf(f, "  reloc entry %d:\n    type: %d\n    pos: %d\n", i, r->type, r->pos);
        if (r->type == tirvo_fp_reloc_type_variable)
            std::fprintf(f, "    variable_id: %d\n", r->variable_id);
    }
}

int load_program(load_ctx *c, int32_t id) {
    tirvo_fingerprint *fp = c->fp.get();
    tirvo_fp_bycp *p = &fp->bycps[id];
    vabo_iter it;
    if (int err = tirvo_load_find_record(&c->stream, record_kind_bycp, &it))
        return err;
    int32_t found_id;
    vabo_value code;
    int err = read_i32(&it, LN_TIRVO_BYC_ID, &found_id);
    if (!err && found_id != id)
        err = tirvo_load_error_decode;
    if (!err)
        err = read_location_then(&it, LN_TIRVO_BYC, &p->location, &code);
    if (err)
        return err;
    p->len = static_cast<int32_t>(code.len); // a record holds at most 64 KB
    if (code.len > 0) {
        p->code = static_cast<uint8_t *>(tirvo_obtain(tirvo_alloc_kind_code, code.len));
        if (!p->code)
            return tirvo_load_error_memory;
        std::memcpy(p->code, code.data, code.len);
    }
    err = read_i32(&it, LN_TIRVO_BYC_REQUIRED_STACK_SIZE, &p->required_stack_size);
    if (!err)
        err = read_i32(&it, LN_TIRVO_BOUND, &p->bound);
    if (!err)
        err = read_i32(&it, LN_TIRVO_BYC_NUM_RELOCS, &p->num_relocs);
    // Each entry names its own operand inside the code, so there are at most
    // as many entries as code bytes.
    if (!err && (p->required_stack_size < 0 || p->required_stack_size > TIRVO_FP_MAX_STACK_SIZE ||
                 p->num_relocs < 0 || p->num_relocs > p->len))
        err = tirvo_load_error_decode;
    if (err)
        return err;
    void *table;
    err = obtain_table(tirvo_alloc_kind_relocs, p->num_relocs, sizeof(tirvo_fp_reloc), &table);
    p->relocs = static_cast<tirvo_fp_reloc *>(table);
    for (int32_t i = 0; !err && i < p->num_relocs; ++i)
        err = read_reloc(&it, &p->relocs[i]);
    if (err)
        return err;
    if (!program_ok(fp, p, c->stream.scratch))
        return tirvo_load_error_decode;
    if (c->dbg)
        print_program(c->dbg, id, p);
    return 0;
}

// ---------------------------------------------------------------------------
// DFAs and their states.

// How the states of one DFA are stored.
struct dfa_layout {
    tirvo_fp_dfa *dfa; // the DFA being read
    int entry_bytes;   // bytes per entry of the next-state vectors in the file
    bool wide;         // 32-bit table entries
    size_t used;       // bytes of a state record before the room for ids
    k4mstr *records;   // the state records so far
    k4mstr *overflow;  // the overflow area so far
};

// One state as read from its record.
struct state_data {
    uint32_t targets[NUM_SYMBOLS]; // the target of every symbol
    tirvo_fp_state record;         // its 32-byte record
    tirvo_fp_count count;          // its count information
    bool has_count;                // count information exists
};

void *segment_alloc(size_t bytes, void *) {
    return tirvo_obtain(tirvo_alloc_kind_state_data, bytes);
}

void segment_release(k4mstr_seg *seg, void *) {
    tirvo_release(tirvo_alloc_kind_state_data, seg);
}

// Bytes needed for the value `v`, at least 1.
int bytes_for(uint32_t v) {
    int n = 1;
    while (v > 0xFF) {
        v >>= 8;
        ++n;
    }
    return n;
}

// Appends `n` bytes to a segmented string; a short append means no storage.
int append(k4mstr *s, const void *bytes, size_t n) {
    return k4mstr_append(s, bytes, n) == n ? 0 : tirvo_load_error_memory;
}

// The offset from `states` of the next byte of the overflow area. The state
// count and the overflow area's length are bounded so that it fits 32 bits.
uint32_t overflow_offset(const dfa_layout *l) {
    return static_cast<uint32_t>(STATE_RECORD_SIZE * static_cast<size_t>(l->dfa->num_states) +
                                 l->overflow->len);
}

// The next-state vector: entries of `entry_bytes` bytes, least significant
// first, for the symbols from 0; every target must be a state of the DFA.
int decode_targets(const dfa_layout *l, const uint8_t *vec, size_t len, uint32_t *targets) {
    const size_t k = static_cast<size_t>(l->entry_bytes);
    if (len % k != 0 || len / k > NUM_SYMBOLS)
        return tirvo_load_error_decode;
    const uint32_t limit = static_cast<uint32_t>(l->dfa->num_states);
    for (size_t s = 0; s < len / k; ++s) {
        uint32_t v = 0;
        for (size_t b = k; b-- > 0;)
            v = v << 8 | vec[s * k + b];
        if (v >= limit)
            return tirvo_load_error_decode;
        targets[s] = v;
    }
    return 0;
}

// The ids of a state: inside its record when they fit behind the used part,
// else in the overflow area.
int read_ids(load_ctx *c, dfa_layout *l, vabo_iter *it, int32_t state, state_data *d) {
    const bool low = c->fp->low_level_dfa;
    const size_t num = d->record.num_ids;
    const bool inside = l->used + 4 * num < STATE_RECORD_SIZE;
    d->record.ids_offset =
        inside ? static_cast<uint32_t>(STATE_RECORD_SIZE * state + l->used) : overflow_offset(l);
    uint8_t *room = reinterpret_cast<uint8_t *>(&d->record) + l->used;
    for (size_t i = 0; i < num; ++i) {
        int32_t id;
        if (int err = read_i32(it, low ? LN_TIRVO_STATE_SID : LN_TIRVO_BYC_ID, &id))
            return err;
        if (low ? id == 0 : id < 0 || id >= c->fp->num_byc_progs)
            return tirvo_load_error_decode;
        const uint32_t v = static_cast<uint32_t>(id);
        if (inside)
            std::memcpy(room + 4 * i, &v, 4);
        else if (int err = append(l->overflow, &v, 4))
            return err;
    }
    return 0;
}

// The runs of the counted set, each a start symbol and a length; symbols
// beyond the alphabet are dropped.
int read_count_runs(vabo_iter *it, tirvo_fp_count *count) {
    int32_t num_runs;
    if (int err = read_i32(it, LN_TIRVO_STATE_NUM_COUNT_RANGES, &num_runs))
        return err;
    for (int32_t i = 0; i < num_runs; ++i) {
        vabo_iter run;
        int32_t start, len;
        int err = read_nested(it, LN_TIRVO_COUNT_RANGE, &run);
        if (!err)
            err = read_i32(&run, LN_TIRVO_COUNT_RANGE_START, &start);
        if (!err)
            err = read_i32(&run, LN_TIRVO_COUNT_RANGE_LEN, &len);
        if (!err && (start < 0 || len < 0))
            err = tirvo_load_error_decode;
        if (err)
            return err;
        const int64_t end = std::min<int64_t>(int64_t{start} + len, NUM_SYMBOLS);
        for (int64_t s = start; s < end; ++s)
            count->charset[s >> 3] |= static_cast<uint8_t>(1u << (s & 7));
    }
    return 0;
}

// The fields of a state of type 1, 2 or 3 after its type.
int read_state_fields(load_ctx *c, dfa_layout *l, vabo_iter *it, int32_t state, int32_t type,
                      state_data *d) {
    const bool low = c->fp->low_level_dfa;
    bool flag;
    int32_t num_ids, count = 0;
    int err = read_bool(it, LN_TIRVO_STATE_CANNOT_MATCH, &flag);
    if (!err && flag)
        d->record.flags |= tirvo_fp_state_flag_cannot_match;
    if (!err && type == state_type_low_level) {
        err = read_bool(it, LN_TIRVO_STATE_MATCHING_NEXT_STATE_EXISTS, &flag);
        if (!err && flag)
            d->record.flags |= tirvo_fp_state_flag_matching_next_state_exists;
    }
    if (!err)
        err = read_i32(it, low ? LN_TIRVO_STATE_NUM_SIDS : LN_TIRVO_STATE_NUM_BYC_IDS, &num_ids);
    // The record keeps the count in 16 bits.
    if (!err && (num_ids < 0 || num_ids > UINT16_MAX))
        err = tirvo_load_error_decode;
    if (!err && type == state_type_count)
        err = read_i32(it, LN_TIRVO_STATE_COUNT, &count);
    const uint8_t *vec;
    size_t vec_len;
    if (!err)
        err = read_bytes(it, LN_TIRVO_STATE_NEXT_STATES, &vec, &vec_len);
    if (!err)
        err = decode_targets(l, vec, vec_len, d->targets);
    if (err)
        return err;
    d->record.num_ids = static_cast<uint16_t>(num_ids);
    if (int e = read_ids(c, l, it, state, d))
        return e;
    if (count == 0)
        return 0;
    d->has_count = true;
    d->count.count = static_cast<uint32_t>(count);
    return read_count_runs(it, &d->count);
}

// Writes the targets of the bytes of one state to the temporary file.
int write_row(load_ctx *c, const dfa_layout *l, const uint32_t *targets) {
    uint16_t narrow[NUM_BYTES];
    const void *row = targets;
    size_t size = NUM_BYTES * sizeof(uint32_t);
    if (!l->wide) {
        for (int s = 0; s < NUM_BYTES; ++s)
            narrow[s] = static_cast<uint16_t>(targets[s]);
        row = narrow;
        size = sizeof narrow;
    }
    if (std::fwrite(row, 1, size, c->fp->tmp_file) != size) {
        tirvo_load_message("Could not write %s: %s\n", c->fp->mmap_file, std::strerror(errno));
        return tirvo_load_error_tmp_write;
    }
    c->tmp_bytes += size;
    return 0;
}

int load_state(load_ctx *c, dfa_layout *l, int32_t state) {
    vabo_iter it;
    if (int err = tirvo_load_find_record(&c->stream, record_kind_state, &it))
        return err;
    const bool low = c->fp->low_level_dfa;
    int32_t found, type;
    int err = read_i32(&it, LN_TIRVO_STATE_ID, &found);
    if (!err && found != state)
        err = tirvo_load_error_decode;
    if (!err)
        err = read_i32(&it, LN_TIRVO_STATE_TYPE, &type);
    if (!err && (low ? type != state_type_low_level : type == state_type_low_level))
        err = tirvo_load_error_decode;
    if (err)
        return err;

    state_data d;
    std::fill(std::begin(d.targets), std::end(d.targets), static_cast<uint32_t>(state));
    std::memset(&d.record, 0, sizeof d.record);
    std::memset(&d.count, 0, sizeof d.count);
    d.has_count = false;
    if (type < state_type_low_level || type > state_type_count) {
        // An unknown type: a cannot-match state that stays where it is.
        d.record.flags = tirvo_fp_state_flag_cannot_match;
        d.record.ids_offset = static_cast<uint32_t>(STATE_RECORD_SIZE * state + l->used);
    } else if (int e = read_state_fields(c, l, &it, state, type, &d)) {
        return e;
    }

    if (int e = write_row(c, l, d.targets))
        return e;
    if (!low)
        for (int s = 0; s < 4; ++s) {
            if (l->wide)
                d.record.u.special32[s] = d.targets[NUM_BYTES + s];
            else
                d.record.u.special16[s] = static_cast<uint16_t>(d.targets[NUM_BYTES + s]);
        }
    if (d.has_count) {
        d.record.count_offset = overflow_offset(l);
        if (int e = append(l->overflow, &d.count, sizeof d.count))
            return e;
    }
    return append(l->records, &d.record, sizeof d.record);
}

// Writes the segments of `s` to the temporary file.
int write_string(load_ctx *c, const k4mstr *s) {
    for (const k4mstr_seg *seg = s->first_seg; seg; seg = seg->next_seg) {
        if (std::fwrite(seg->data, 1, seg->used, c->fp->tmp_file) != seg->used) {
            tirvo_load_message("could not write to file %s: %s\n", c->fp->mmap_file,
                               std::strerror(errno));
            return tirvo_load_error_tmp_write;
        }
        c->tmp_bytes += seg->used;
    }
    return 0;
}

int read_dfa_header(load_ctx *c, int32_t id, tirvo_fp_dfa *dfa) {
    vabo_iter it;
    if (int err = tirvo_load_find_record(&c->stream, record_kind_dfa, &it))
        return err;
    int32_t found;
    vabo_value v;
    int err = read_i32(&it, LN_TIRVO_DFA_ID, &found);
    if (!err && found != id)
        err = tirvo_load_error_decode;
    if (!err)
        err = read_location_then(&it, LN_TIRVO_DFA_NUM_STATES, &dfa->location, &v);
    if (!err)
        dfa->num_states = v.i32;
    if (!err)
        err = read_i32(&it, LN_TIRVO_DFA_NUM_PLAIN_STATES, &dfa->first_active_state);
    if (!err)
        err = read_i32(&it, LN_TIRVO_DFA_INITIAL_STATE, &dfa->initial_state);
    if (!err)
        err = read_i32(&it, LN_TIRVO_BOUND, &dfa->bound);
    if (err)
        return err;
    dfa->index = id;
    if (dfa->num_states < 1 || dfa->num_states > TIRVO_FP_MAX_STATES ||
        dfa->first_active_state < 0 || dfa->first_active_state > dfa->num_states ||
        dfa->initial_state < 0 || dfa->initial_state >= dfa->num_states)
        return tirvo_load_error_decode;
    return 0;
}

// Reads the states of a DFA whose header is read and writes its table, state
// records and overflow area to the temporary file.
int load_dfa_states(load_ctx *c, dfa_layout *l) {
    tirvo_fp_dfa *dfa = l->dfa;
    const size_t start = c->tmp_bytes;
    l->wide = tirvo_fp_dfa_wide(dfa);
    l->entry_bytes = bytes_for(static_cast<uint32_t>(dfa->num_states - 1));
    l->used = c->fp->low_level_dfa ? 12 : l->wide ? 28 : 20;
    for (int32_t j = 0; j < dfa->num_states; ++j)
        if (int err = load_state(c, l, j))
            return err;
    int err = write_string(c, l->records);
    if (!err)
        err = write_string(c, l->overflow);
    dfa->data_size = c->tmp_bytes - start;
    return err;
}

int load_dfa(load_ctx *c, int32_t id) {
    tirvo_fp_dfa *dfa = &c->fp->dfas[id];
    k4mstr_ops ops;
    k4mstr_ops_init_loader(&ops, segment_alloc, segment_release, nullptr);
    loader_string records(&ops), overflow(&ops);
    dfa_layout l;
    l.dfa = dfa;
    l.records = &records.s;
    l.overflow = &overflow.s;
    if (int err = read_dfa_header(c, id, dfa))
        return err;
    if (c->dbg)
        std::fprintf(c->dbg, "DFA %d header:\n  num_states: %d\n", id, dfa->num_states);
    return load_dfa_states(c, &l);
}

// Brings the temporary file back as `data` and points every DFA at its part.
int read_back(load_ctx *c) {
    tirvo_fingerprint *fp = c->fp.get();
    if (std::fflush(fp->tmp_file) != 0) {
        tirvo_load_message("could not write to file %s: %s\n", fp->mmap_file, std::strerror(errno));
        return tirvo_load_error_tmp_write;
    }
    fp->data_size = c->tmp_bytes;
    std::rewind(fp->tmp_file);
    if (fp->data_size > 0) {
        fp->data = static_cast<uint8_t *>(tirvo_obtain(tirvo_alloc_kind_state_data, fp->data_size));
        if (!fp->data)
            return tirvo_load_error_memory;
        if (std::fread(fp->data, 1, fp->data_size, fp->tmp_file) != fp->data_size)
            return tirvo_load_error_tmp_read;
    }
    std::fclose(fp->tmp_file);
    fp->tmp_file = nullptr;
    tirvo_release(tirvo_alloc_kind_tmp_file_name, fp->mmap_file);
    fp->mmap_file = nullptr;

    uint8_t *cursor = fp->data;
    for (int32_t i = 0; i < fp->num_dfas; ++i) {
        tirvo_fp_dfa *dfa = &fp->dfas[i];
        const size_t row = NUM_BYTES * (tirvo_fp_dfa_wide(dfa) ? 4 : 2);
        dfa->table = cursor;
        dfa->states = cursor + row * static_cast<size_t>(dfa->num_states);
        cursor += dfa->data_size;
    }
    return 0;
}

void print_header(FILE *f, const tirvo_fingerprint *fp) {
    std::fprintf(f,
                 "file header:\n  num_dfas: %d\n  num_variables: %d\n  num_byc_progs: %d\n  "
                 "mmap file: %s\n",
                 fp->num_dfas, fp->num_variables, fp->num_byc_progs, fp->mmap_file);
}

// Loading steps 3 to 13; on failure the caller cleans up.
int load(load_ctx *c) {
    int err = load_header(c);
    if (!err)
        err = allocate_tables(c->fp.get());
    if (!err)
        err = open_tmp_file(c->fp.get());
    if (err)
        return err;
    tirvo_fingerprint *fp = c->fp.get();
    if (c->dbg)
        print_header(c->dbg, fp);
    for (int32_t i = 0; !err && i < fp->num_variables; ++i)
        err = load_variable(c);
    if (!err)
        err = load_situations(c);
    for (int32_t i = 0; !err && i < fp->num_byc_progs; ++i)
        err = load_program(c, i);
    for (int32_t i = 0; !err && i < fp->num_dfas; ++i)
        err = load_dfa(c, i);
    if (err)
        return err;
    tirvo_load_stream_close(&c->stream);
    if (c->dbg)
        std::fprintf(c->dbg, "fingerprint file %s loaded!\n", c->file_name);
    return read_back(c);
}

} // namespace

extern "C" {

const char *tirvo_load_error_text(int code) {
    if (code < 0 || code >= static_cast<int>(std::size(error_texts)))
        return "<unknown error code>";
    return error_texts[code];
}

int tirvo_load_fingerprint_file(const char *file_name, tirvo_fingerprint **fingerprint) {
    TIRVO_ASSERT(fingerprint != nullptr);
    *fingerprint = nullptr;
    FILE *f = std::fopen(file_name, "rb");
    if (!f)
        return tirvo_load_error_read;
    const int result = tirvo_load_fingerprint(f, fingerprint, file_name);
    std::fclose(f);
    return result;
}

int tirvo_load_fingerprint(FILE *stream, tirvo_fingerprint **fingerprint, const char *file_name) {
    TIRVO_ASSERT(stream != nullptr && fingerprint != nullptr);
    *fingerprint = nullptr;
    load_ctx c(file_name ? file_name : "",
               tirvo_eng_settings.debug ? tirvo_eng_settings.debug_stream : nullptr);
    if (c.dbg)
        std::fprintf(c.dbg, "loading fingerprint file %s\n", c.file_name);

    int err = tirvo_load_stream_open(&c.stream, stream, c.file_name);
    if (!err)
        err = load(&c);
    if (err) {
        c.fp.reset();
        tirvo_load_message("could not load fingerprint file %s: %d (%s)\n", c.file_name, err,
                           tirvo_load_error_text(err));
        return err;
    }
    if (c.dbg)
        for (int32_t i = 0; i < c.fp->num_dfas; ++i)
            tirvo_fp_dfa_print_graph(c.dbg, c.fp.get(), &c.fp->dfas[i]);
    *fingerprint = c.fp.release();
    return 0;
}

void tirvo_free_fingerprint(tirvo_fingerprint *fp) {
    if (!fp)
        return;
    for (int32_t i = 0; fp->variables && i < fp->num_variables; ++i)
        tirvo_release(tirvo_alloc_kind_variable_name, fp->variables[i].name);
    tirvo_release(tirvo_alloc_kind_variables, fp->variables);
    for (int32_t i = 0; fp->bycps && i < fp->num_byc_progs; ++i) {
        tirvo_release(tirvo_alloc_kind_code, fp->bycps[i].code);
        tirvo_release(tirvo_alloc_kind_relocs, fp->bycps[i].relocs);
    }
    tirvo_release(tirvo_alloc_kind_bycps, fp->bycps);
    tirvo_release(tirvo_alloc_kind_situations, fp->situations);
    tirvo_release(tirvo_alloc_kind_dfas, fp->dfas);
    tirvo_release(tirvo_alloc_kind_file_name, fp->file_name);
    if (fp->tmp_file)
        std::fclose(fp->tmp_file);
    tirvo_release(tirvo_alloc_kind_tmp_file_name, fp->mmap_file);
    tirvo_release(tirvo_alloc_kind_state_data, fp->data);
    tirvo_release(tirvo_alloc_kind_fingerprint, fp);
}

int tirvo_fingerprint_has_situation(const tirvo_fingerprint *fp, int32_t sid) {
    if (fp->num_situations <= 0)
        return 0;
    return std::binary_search(fp->situations, fp->situations + fp->num_situations, sid) ? 1 : 0;
}

} // extern "C"
