// libFuzzer target of the compiler: the input is a fingerprint text. The
// first byte picks options; with bit 4 clear the compile stops after the
// byte code (-S: scanner, grammar, parse-tree checks, byte code), with it set
// the whole pipeline runs (NFA, superstates, the file written to /dev/null).
// Any input must end in a status and messages: never a crash, an assertion,
// a hang or a sanitizer report. Run it with -close_fd_mask=3 to keep the
// compiler's messages out of the way, and keep -max_len small for the whole
// pipeline: a few dozen characters can ask for millions of superstates.
#include "automata/tirvo_charset.h"
#include "compiler/tirvo_compile_ctx.h"

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    tirvo_charset_init_predefined();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The first byte picks options, so that the modes that change the
    // compiler's behaviour are reached too.
    uint8_t options = size ? data[0] : 0;
    if (size) {
        ++data;
        --size;
    }
    FILE *in = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (!in && size == 0)
        in = std::tmpfile();
    if (!in)
        return 0;
    tirvo_compile_ctx ctx;
    tirvo_compile_ctx_init(&ctx);
    tirvo_compile_set_input(&ctx, in, "fuzz");
    if (options & 16)
        tirvo_compile_set_dfa_file_name(&ctx, "/dev/null");
    else
        tirvo_compile_set_syntax_check(&ctx);
    if (options & 32)
        tirvo_compile_set_no_count_superstates(&ctx);
    if (options & 64)
        tirvo_compile_set_no_count_extension(&ctx);
    if (options & 1)
        tirvo_compile_set_case_insensitive(&ctx);
    if (options & 2)
        tirvo_compile_set_low_level_dfa(&ctx);
    if (options & 4)
        tirvo_compile_set_vgr_output(&ctx);
    if (options & 8)
        tirvo_compile_set_quiet(&ctx);
    tirvo_compile_run(&ctx);
    tirvo_compile_cleanup(&ctx);
    return 0;
}
