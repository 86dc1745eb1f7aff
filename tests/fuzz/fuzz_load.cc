// libFuzzer target of the fingerprint file loader.
//
// The first byte of an input chooses how the rest becomes a file: bits 0-1
// 0 = the bytes are the file as they are, 1 = they are the uncompressed
// records and get zlib-compressed, 2 = the same gzip-compressed, 3 = raw
// again; bit 2 turns the loader's debug dump and graph dump on. Compressing
// here lets the fuzzer mutate records and fields instead of deflate bits,
// while mode 0 keeps the decompressor and the old-format check in reach.
//
// After a successful load the target checks what the engine will rely on
// without further checks: every table entry, special target, id table and
// count record lies inside the DFA's part of `data`, every target is a state
// of its DFA, every program id of a state names a program, every program and
// relocation entry passes the instruction set's checks. A violation traps.
#include "engine/tirvo_eng_settings.h"
#include "store/tirvo_load.h"
#include "store/tirvo_load_dump.h"

#include "byc/tirvo_byc_insn.h"

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "fuzz_load: check failed: %s\n", #cond);                          \
            __builtin_trap();                                                                      \
        }                                                                                          \
    } while (0)

ssize_t discard(void *, const char *, size_t size) {
    return static_cast<ssize_t>(size);
}

// A stream that takes everything and keeps nothing, without system calls.
FILE *null_stream() {
    cookie_io_functions_t io{};
    io.write = discard;
    return fopencookie(nullptr, "w", io);
}

std::string deflate_bytes(const uint8_t *data, size_t size, int window_bits) {
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    std::string out(deflateBound(&z, size), '\0');
    z.next_in = const_cast<Bytef *>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

void check_program(const tirvo_fingerprint *fp, const tirvo_fp_bycp *p) {
    FUZZ_CHECK(p->len >= 0 && (p->len == 0 || p->code));
    std::vector<uint8_t> starts(static_cast<size_t>(p->len) + 1);
    FUZZ_CHECK(tirvo_byc_code_valid(p->code, p->len, starts.data()));
    FUZZ_CHECK(p->required_stack_size >= 0 && p->required_stack_size <= TIRVO_FP_MAX_STACK_SIZE);
    for (int32_t i = 0; i < p->num_relocs; ++i) {
        const tirvo_fp_reloc *r = &p->relocs[i];
        FUZZ_CHECK(tirvo_byc_reloc_valid(p->code, p->len, starts.data(), r->pos, r->type));
        if (r->type == tirvo_fp_reloc_type_variable)
            FUZZ_CHECK(r->variable_id >= 0 && r->variable_id < fp->num_variables);
    }
}

void check_dfa(const tirvo_fingerprint *fp, const tirvo_fp_dfa *d) {
    const uint8_t *begin = static_cast<const uint8_t *>(d->table);
    const uint8_t *end = begin + d->data_size;
    FUZZ_CHECK(begin >= fp->data && end <= fp->data + fp->data_size);
    FUZZ_CHECK(d->num_states >= 1 && d->initial_state >= 0 && d->initial_state < d->num_states);
    const size_t row = tirvo_fp_dfa_wide(d) ? 1024 : 512;
    FUZZ_CHECK(d->states == begin + row * static_cast<size_t>(d->num_states));
    const uint32_t n = static_cast<uint32_t>(d->num_states);
    const size_t states_size = static_cast<size_t>(end - d->states);
    FUZZ_CHECK(states_size >= 32 * static_cast<size_t>(n));
    for (int32_t s = 0; s < d->num_states; ++s) {
        for (int c = 0; c < 256; ++c)
            FUZZ_CHECK(tirvo_fp_dfa_target(d, s, c) < n);
        if (!fp->low_level_dfa)
            for (int c = 256; c < 260; ++c)
                FUZZ_CHECK(tirvo_fp_dfa_special_target(d, s, c) < n);
        const tirvo_fp_state *r = tirvo_fp_dfa_state(d, s);
        FUZZ_CHECK(r->ids_offset % 4 == 0);
        FUZZ_CHECK(size_t{r->ids_offset} + 4 * size_t{r->num_ids} <= states_size);
        const uint32_t *ids = tirvo_fp_dfa_state_ids(d, s);
        for (uint16_t i = 0; i < r->num_ids; ++i)
            FUZZ_CHECK(fp->low_level_dfa ? ids[i] != 0
                                         : ids[i] < static_cast<uint32_t>(fp->num_byc_progs));
        if (r->count_offset)
            FUZZ_CHECK(size_t{r->count_offset} + sizeof(tirvo_fp_count) <= states_size);
    }
}

void check(const tirvo_fingerprint *fp) {
    for (int32_t i = 0; i < fp->num_variables; ++i)
        FUZZ_CHECK(fp->variables[i].name != nullptr);
    for (int32_t i = 1; i < fp->num_situations; ++i)
        FUZZ_CHECK(fp->situations[i - 1] <= fp->situations[i]);
    for (int32_t i = 0; i < fp->num_byc_progs; ++i)
        check_program(fp, &fp->bycps[i]);
    for (int32_t i = 0; i < fp->num_dfas; ++i)
        check_dfa(fp, &fp->dfas[i]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static FILE *sink = [] {
        FILE *f = null_stream();
        tirvo_eng_set_error_stream(f);
        tirvo_eng_set_warning_stream(f);
        tirvo_eng_set_debug_stream(f);
        return f;
    }();
    (void)sink;
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    std::string file;
    switch (mode & 3) {
    case 1:
        file = deflate_bytes(data, size, 15);
        break;
    case 2:
        file = deflate_bytes(data, size, 15 + 16);
        break;
    default:
        file.assign(reinterpret_cast<const char *>(data), size);
        break;
    }
    if (mode & 4)
        tirvo_eng_debug_on(0);

    FILE *f = std::tmpfile();
    if (!f)
        return 0;
    std::fwrite(file.data(), 1, file.size(), f);
    std::rewind(f);
    tirvo_fingerprint *fp = nullptr;
    if (tirvo_load_fingerprint(f, &fp, "fuzz") == 0) {
        check(fp);
        tirvo_free_fingerprint(fp);
    } else {
        FUZZ_CHECK(fp == nullptr);
    }
    std::fclose(f);
    if (mode & 4)
        tirvo_eng_debug_off();
    return 0;
}
