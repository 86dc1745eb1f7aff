#include "store/tirvo_store.h"

#include "automata/tirvo_nfa_to_dfa.h"
#include "byc/tirvo_byc_insn.h"
#include "byc/tirvo_variable.h"
#include "compiler/tirvo_compile_ctx.h"
#include "lang/tirvo_parse_tree.h"
#include "lang/tirvo_varexp.h"
#include "lib/common/tirvo_assert.h"
#include "lib/vabo/public/vabo.h"
#include "store/tirvo_load.h"

#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <unistd.h>

namespace {

// Record kinds of the file.
constexpr uint8_t RECORD_HEADER = 1;
constexpr uint8_t RECORD_VARIABLE = 2;
constexpr uint8_t RECORD_SITUATION = 3;
constexpr uint8_t RECORD_PROGRAM = 4;
constexpr uint8_t RECORD_DFA = 5;
constexpr uint8_t RECORD_STATE = 6;

// State types of a state record.
constexpr int32_t STATE_LOW_LEVEL = 1;
constexpr int32_t STATE_PLAIN = 2;
constexpr int32_t STATE_COUNT = 3;

constexpr int32_t FORMAT_VERSION = 1;
constexpr size_t RECORD_BUFFER_SIZE = TIRVO_FP_MAX_RECORD_BODY + VABO_RECORD_HEADER_SIZE;

// The state of one run of the writer.
struct writer {
    tirvo_compile_ctx *ctx;          // the compile
    gzFile_s *gz;                    // the open file
    vabo_context enc;                // encoder of the record being built
    int failed;                      // a failure has been reported; nothing more is written
    uint8_t buf[RECORD_BUFFER_SIZE]; // the record being built
};

// Reports an encoding failure of the step at `line` once and stops the
// writing.
void encoding_failed(writer *w, int err, int line) {
    if (w->failed)
        return;
    std::fprintf(stderr, "Encoding failed: %d (%s: %d)\n", err, "tirvo_store", line);
    w->failed = 1;
    w->ctx->error = TIRVO_COMPILE_ERR_OUTPUT;
}

// Runs one encoding step; the first failing step reports where it was.
#define ENCODE(w, step)                                                                            \
    do {                                                                                           \
        if (!(w)->failed) {                                                                        \
            int err_ = (step);                                                                     \
            if (err_ != 0)                                                                         \
                encoding_failed((w), err_, __LINE__);                                              \
        }                                                                                          \
    } while (0)

void begin(writer *w, uint8_t kind) {
    vabo_context_init(&w->enc, w->buf, sizeof w->buf);
    ENCODE(w, vabo_begin_record(&w->enc, kind));
}

// Closes the record and hands it to the compressor.
void finish(writer *w) {
    ENCODE(w, vabo_end_record(&w->enc));
    if (w->failed)
        return;
    const unsigned len = static_cast<unsigned>(w->enc.position);
    if (gzwrite(w->gz, w->buf, len) != static_cast<int>(len)) {
        int zerr = Z_OK;
        const char *ztext = gzerror(w->gz, &zerr);
        std::fprintf(stderr, "File write failed: %s (errno: %s)\n", ztext, std::strerror(errno));
        w->failed = 1;
        w->ctx->error = TIRVO_COMPILE_ERR_OUTPUT;
    }
}

void put_int(writer *w, uint32_t id, int32_t value) {
    ENCODE(w, vabo_encode_int32(&w->enc, id, value));
}

void put_bool(writer *w, uint32_t id, bool value) {
    ENCODE(w, vabo_encode_bool(&w->enc, id, value));
}

void put_bytes(writer *w, uint32_t id, const void *bytes, size_t len) {
    ENCODE(w, vabo_encode_bytes(&w->enc, id, bytes, len));
}

void put_location(writer *w, const tirvo_location *loc) {
    ENCODE(w, vabo_begin_nested(&w->enc, LN_TIRVO_LOCATION));
    put_int(w, LN_TIRVO_LOCATION_FIRST_LINE, loc->first_line);
    put_int(w, LN_TIRVO_LOCATION_FIRST_COLUMN, loc->first_column);
    put_int(w, LN_TIRVO_LOCATION_LAST_LINE, loc->last_line);
    put_int(w, LN_TIRVO_LOCATION_LAST_COLUMN, loc->last_column);
    ENCODE(w, vabo_end_nested(&w->enc, LN_TIRVO_LOCATION));
}

void write_header(writer *w) {
    const tirvo_compile_ctx *ctx = w->ctx;
    begin(w, RECORD_HEADER);
    put_int(w, LN_TIRVO_VERSION, FORMAT_VERSION);
    put_int(w, LN_TIRVO_FILE_ID, static_cast<int32_t>(ctx->file_id));
    put_int(w, LN_TIRVO_ALPHABET_SIZE, ctx->alphabet_size);
    put_bytes(w, LN_TIRVO_SOURCE_NAME, ctx->input_name, std::strlen(ctx->input_name));
    put_int(w, LN_TIRVO_NUM_DFAS, ctx->num_regex_entries);
    put_int(w, LN_TIRVO_NUM_VARIABLES, ctx->num_variables);
    put_int(w, LN_TIRVO_NUM_BYC_PROGS, ctx->num_varexp_entries);
    put_int(w, LN_TIRVO_NUM_SITUATIONS, ctx->num_situations);
    put_bool(w, LN_TIRVO_LOW_LEVEL_DFA, ctx->flags.low_level_dfa);
    finish(w);
}

int write_variable(qle_avl_tree *, qle_avl_node *node, void *user) {
    auto *w = static_cast<writer *>(user);
    const auto *v = reinterpret_cast<const tirvo_variable *>(node);
    begin(w, RECORD_VARIABLE);
    put_bytes(w, LN_TIRVO_VARIABLE_NAME, v->name, std::strlen(v->name));
    put_int(w, LN_TIRVO_VARIABLE_ID, v->id);
    put_bool(w, LN_TIRVO_VARIABLE_IS_SHARED, v->is_shared != 0);
    put_int(w, LN_TIRVO_VARIABLE_SIZE, v->size);
    finish(w);
    return w->failed;
}

int write_situation(uint32_t sid, void *user) {
    auto *w = static_cast<writer *>(user);
    begin(w, RECORD_SITUATION);
    put_int(w, LN_TIRVO_SITUATION_SID, static_cast<int32_t>(sid));
    finish(w);
    return w->failed;
}

void write_program(writer *w, const tirvo_varexp_entry *entry) {
    const tirvo_bycp *p = entry->bycp;
    begin(w, RECORD_PROGRAM);
    put_int(w, LN_TIRVO_BYC_ID, entry->id);
    put_location(w, &entry->varexp->location);
    put_bytes(w, LN_TIRVO_BYC, p->byc, static_cast<size_t>(p->byc_len));
    put_int(w, LN_TIRVO_BYC_REQUIRED_STACK_SIZE, p->max_stack_size);
    put_int(w, LN_TIRVO_BOUND, static_cast<int32_t>(entry->bound));
    put_int(w, LN_TIRVO_BYC_NUM_RELOCS, static_cast<int32_t>(dl_list_len(&p->relocs)));
    dl_list_for_each(pos, &p->relocs) {
        const rle *r = dl_list_entry(pos, rle, list);
        ENCODE(w, vabo_begin_nested(&w->enc, LN_TIRVO_BYC_RELOC));
        put_int(w, LN_TIRVO_BYC_RELOC_TYPE, r->type);
        put_int(w, LN_TIRVO_BYC_RELOC_POS, r->pos);
        if (r->type == tirvo_rle_type_variable)
            put_int(w, LN_TIRVO_VARIABLE_ID, r->variable->id);
        ENCODE(w, vabo_end_nested(&w->enc, LN_TIRVO_BYC_RELOC));
    }
    finish(w);
}

void write_dfa(writer *w, const tirvo_regex_entry *entry) {
    const superstates *ss = entry->superstates;
    begin(w, RECORD_DFA);
    put_int(w, LN_TIRVO_DFA_ID, entry->id);
    put_location(w, &entry->regex->location);
    put_int(w, LN_TIRVO_DFA_NUM_STATES, static_cast<int32_t>(ss->ss_cnt));
    put_int(w, LN_TIRVO_DFA_NUM_PLAIN_STATES, static_cast<int32_t>(ss->plain_cnt));
    put_int(w, LN_TIRVO_DFA_INITIAL_STATE, static_cast<int32_t>(ss->initial->id));
    put_int(w, LN_TIRVO_BOUND, static_cast<int32_t>(entry->bound));
    finish(w);
}

// Bytes per next-state entry: the fewest that hold every id below `states`.
int entry_bytes(uint32_t states) {
    int k = 0;
    for (uint32_t largest = states - 1; largest != 0; largest >>= 8)
        ++k;
    return k;
}

// The next-state vector of `s`: for every symbol the id of the arc's target
// that covers it, or `s`'s own id where no arc does.
size_t next_state_vector(const tirvo_compile_ctx *ctx, const superstate *s, int k, uint8_t *out,
                         size_t out_size) {
    const uint32_t n = static_cast<uint32_t>(ctx->alphabet_size);
    TIRVO_ASSERT_TEXT(static_cast<size_t>(k) * n <= out_size,
                      "num_bytes * tirvo_compile_ctx->alphabet_size <= sizeof next_state_vect_buf");
    uint32_t target[TIRVO_MAX_ALPHABET_SIZE];
    for (uint32_t c = 0; c < n; ++c)
        target[c] = s->id;
    dl_list_for_each(pos, &s->arcs) {
        const superstate_arc *a = dl_list_entry(pos, superstate_arc, list);
        for (uint32_t c = a->first; c < a->first + a->len && c < n; ++c)
            target[c] = a->target->id;
    }
    uint8_t *p = out;
    for (uint32_t c = 0; c < n; ++c) {
        uint32_t id = target[c];
        for (int b = 0; b < k; ++b) {
            *p++ = static_cast<uint8_t>(id);
            id >>= 8;
        }
        TIRVO_ASSERT_TEXT(id == 0, "tmp_state_id == 0");
    }
    return static_cast<size_t>(p - out);
}

void write_count_runs(writer *w, const superstate *s) {
    const uint32_t n = static_cast<uint32_t>(w->ctx->alphabet_size);
    const tirvo_charset *set = s->count_charset;
    int32_t runs = 0;
    for (uint32_t c = 0; c < n; ++c)
        if (tirvo_charset_contains(set, c) && (c == 0 || !tirvo_charset_contains(set, c - 1)))
            ++runs;
    TIRVO_ASSERT_TEXT(runs > 0, "found");
    put_int(w, LN_TIRVO_STATE_NUM_COUNT_RANGES, runs);
    for (uint32_t c = 0; c < n;) {
        if (!tirvo_charset_contains(set, c)) {
            ++c;
            continue;
        }
        uint32_t start = c;
        while (c < n && tirvo_charset_contains(set, c))
            ++c;
        ENCODE(w, vabo_begin_nested(&w->enc, LN_TIRVO_COUNT_RANGE));
        put_int(w, LN_TIRVO_COUNT_RANGE_START, static_cast<int32_t>(start));
        put_int(w, LN_TIRVO_COUNT_RANGE_LEN, static_cast<int32_t>(c - start));
        ENCODE(w, vabo_end_nested(&w->enc, LN_TIRVO_COUNT_RANGE));
    }
}

// The situation a variable expression of a low-level DFA reports, or 0.
uint32_t varexp_situation(const superstate_varexp *v) {
    return v->varexp_entry->varexp->situation;
}

void write_state(writer *w, const superstate *s, int k) {
    const tirvo_compile_ctx *ctx = w->ctx;
    const int32_t type = ctx->flags.low_level_dfa ? STATE_LOW_LEVEL
                         : s->count_charset       ? STATE_COUNT
                                                  : STATE_PLAIN;
    begin(w, RECORD_STATE);
    put_int(w, LN_TIRVO_STATE_ID, static_cast<int32_t>(s->id));
    put_int(w, LN_TIRVO_STATE_TYPE, type);
    put_bool(w, LN_TIRVO_STATE_CANNOT_MATCH, s->cannot_match);
    int32_t num_ids = 0;
    dl_list_for_each(pos, &s->varexps) {
        const auto *v = dl_list_entry(pos, superstate_varexp, list);
        if (type != STATE_LOW_LEVEL || varexp_situation(v) != 0)
            ++num_ids;
    }
    if (type == STATE_LOW_LEVEL) {
        put_bool(w, LN_TIRVO_STATE_MATCHING_NEXT_STATE_EXISTS, s->matching_next_state_exists);
        put_int(w, LN_TIRVO_STATE_NUM_SIDS, num_ids);
    } else {
        put_int(w, LN_TIRVO_STATE_NUM_BYC_IDS, num_ids);
        if (type == STATE_COUNT)
            put_int(w, LN_TIRVO_STATE_COUNT, static_cast<int32_t>(s->count));
    }
    uint8_t vector[4 * TIRVO_MAX_ALPHABET_SIZE];
    size_t len = next_state_vector(ctx, s, k, vector, sizeof vector);
    put_bytes(w, LN_TIRVO_STATE_NEXT_STATES, vector, len);
    dl_list_for_each(pos, &s->varexps) {
        const auto *v = dl_list_entry(pos, superstate_varexp, list);
        if (type == STATE_LOW_LEVEL) {
            if (uint32_t sid = varexp_situation(v))
                put_int(w, LN_TIRVO_STATE_SID, static_cast<int32_t>(sid));
        } else {
            put_int(w, LN_TIRVO_BYC_ID, v->varexp_entry->id);
        }
    }
    if (type == STATE_COUNT)
        write_count_runs(w, s);
    finish(w);
    if (!w->failed)
        w->ctx->state_record_bytes += static_cast<int64_t>(w->enc.position);
}

void write_entry(writer *w, const tirvo_regex_entry *entry) {
    write_dfa(w, entry);
    const superstates *ss = entry->superstates;
    const int k = entry_bytes(ss->ss_cnt);
    dl_list_for_each(pos, &ss->superstate_list) {
        if (w->failed)
            return;
        write_state(w, dl_list_entry(pos, superstate, list), k);
    }
}

void write_records(writer *w) {
    tirvo_compile_ctx *ctx = w->ctx;
    write_header(w);
    if (!w->failed)
        qle_avl_tree_walk(&ctx->variables, write_variable, w);
    if (!w->failed)
        tirvo_compile_walk_situations(ctx, write_situation, w);
    dl_list_for_each(pos, &ctx->varexp_entries) {
        if (w->failed)
            return;
        write_program(w, dl_list_entry(pos, tirvo_varexp_entry, list));
    }
    dl_list_for_each(pos, &ctx->regex_entries) {
        if (w->failed)
            return;
        write_entry(w, dl_list_entry(pos, tirvo_regex_entry, list));
    }
}

// Opens the output: "-" is the standard output, as for every output file of
// the compiler, anything else a file of that name. The standard output is
// written through a duplicate of its descriptor, so that closing the
// compressed stream leaves it open.
gzFile_s *open_output(const char *path) {
    if (std::strcmp(path, "-") != 0)
        return gzopen(path, "wb9");
    std::fflush(stdout);
    const int fd = dup(STDOUT_FILENO);
    if (fd < 0)
        return nullptr;
    gzFile_s *gz = gzdopen(fd, "wb9");
    if (!gz) {
        const int err = errno;
        close(fd);
        errno = err;
    }
    return gz;
}

} // namespace

void tirvo_store_fingerprint(tirvo_compile_ctx *ctx) {
    errno = 0;
    gzFile_s *gz = open_output(ctx->dfa_file_name);
    if (!gz) {
        std::fprintf(stderr, "could not open %s for writing: %s\n", ctx->dfa_file_name,
                     std::strerror(errno));
        ctx->error = TIRVO_COMPILE_ERR_OUTPUT;
        return;
    }
    if (gzsetparams(gz, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        std::fprintf(stderr, "could not set compression parameters\n");
        std::abort();
    }
    // The record buffer is too large for the stack; one block serves every
    // record of the run.
    auto w = std::make_unique<writer>();
    w->ctx = ctx;
    w->gz = gz;
    write_records(w.get());
    int rc = gzclose(gz);
    if (!w->failed && rc != Z_OK) {
        std::fprintf(stderr, "error while flushing and closing compressed file: %d\n", rc);
        ctx->error = TIRVO_COMPILE_ERR_OUTPUT;
    }
}
