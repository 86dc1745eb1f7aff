// tirvo_fpinfo: loads fingerprint files the way a host does and prints what
// the loader built: the header values, the variables, the situations, the
// byte-code programs and, per DFA, its states and tables. With -d the
// loader's debug dump and DFA graphs go to the standard output as well.
//
// It links only the run-time library, like a host.
#include "engine/tirvo_eng_settings.h"
#include "store/tirvo_load.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace {

const char usage_text[] = "usage: tirvo_fpinfo [-d] file...\n"
                          "  -d    also print the loader's debug dump and DFA graphs\n";

void print_location(const tirvo_location &loc) {
    std::printf("%d-%d,%d-%d", loc.first_line, loc.last_line, loc.first_column, loc.last_column);
}

void print_bound(int32_t bound) {
    if (bound == -1)
        std::printf("-1 (reads no stream data)");
    else if (static_cast<uint32_t>(bound) >= 0xfffffffeu)
        std::printf("*");
    else
        std::printf("%" PRId32, bound);
}

void print_variables(const tirvo_fingerprint *fp) {
    std::printf("variables: %" PRId32 "\n", fp->num_variables);
    for (int32_t i = 0; i < fp->num_variables; ++i) {
        const tirvo_fp_variable &v = fp->variables[i];
        std::printf("  %" PRId32 ": %s%s@%" PRId32 "\n", i, v.is_shared ? "$" : "", v.name, v.size);
    }
}

void print_situations(const tirvo_fingerprint *fp) {
    std::printf("situations: %" PRId32, fp->num_situations);
    for (int32_t i = 0; i < fp->num_situations; ++i)
        std::printf(" %" PRId32, fp->situations[i]);
    std::printf("\n");
}

void print_programs(const tirvo_fingerprint *fp) {
    std::printf("byte-code programs: %" PRId32 "\n", fp->num_byc_progs);
    for (int32_t i = 0; i < fp->num_byc_progs; ++i) {
        const tirvo_fp_bycp &p = fp->bycps[i];
        std::printf("  %" PRId32 " at ", i);
        print_location(p.location);
        std::printf(": %" PRId32 " code bytes, %" PRId32 " relocations, stack %" PRId32
                    " bytes, bound ",
                    p.len, p.num_relocs, p.required_stack_size);
        print_bound(p.bound);
        std::printf("\n");
    }
}

void print_dfas(const tirvo_fingerprint *fp) {
    std::printf("DFAs: %" PRId32 "\n", fp->num_dfas);
    for (int32_t i = 0; i < fp->num_dfas; ++i) {
        const tirvo_fp_dfa &d = fp->dfas[i];
        int32_t count_states = 0, cannot_match = 0, with_ids = 0;
        for (int32_t s = 0; s < d.num_states; ++s) {
            const tirvo_fp_state *st = tirvo_fp_dfa_state(&d, s);
            count_states += tirvo_fp_dfa_state_count(&d, s) != nullptr;
            cannot_match += (st->flags & tirvo_fp_state_flag_cannot_match) != 0;
            with_ids += st->num_ids != 0;
        }
        std::printf("  %" PRId32 " at ", d.index);
        print_location(d.location);
        std::printf(": %" PRId32 " states (%" PRId32 " plain, %" PRId32 " with %s, %" PRId32
                    " count, %" PRId32 " cannot match), initial %" PRId32 ", bound ",
                    d.num_states, d.first_active_state, with_ids,
                    fp->low_level_dfa ? "situations" : "programs", count_states, cannot_match,
                    d.initial_state);
        print_bound(d.bound);
        std::printf(", %s table, %zu bytes\n", tirvo_fp_dfa_wide(&d) ? "32-bit" : "16-bit",
                    d.data_size);
    }
}

void print_summary(const char *name, const tirvo_fingerprint *fp) {
    std::printf("fingerprint file %s\n", name);
    std::printf("file id: %" PRId32 "\n", fp->file_id);
    std::printf("low-level DFA: %s\n", fp->low_level_dfa ? "yes" : "no");
    print_variables(fp);
    print_situations(fp);
    print_programs(fp);
    print_dfas(fp);
}

} // namespace

int main(int argc, char **argv) {
    tirvo_eng_set_error_stream(stderr);
    tirvo_eng_set_warning_stream(stderr);
    tirvo_eng_set_debug_stream(stdout);
    int first = 1;
    if (first < argc && std::strcmp(argv[first], "-d") == 0) {
        tirvo_eng_debug_on(0);
        ++first;
    }
    if (first >= argc || argv[first][0] == '-') {
        std::fputs(usage_text, stderr);
        return 1;
    }
    int status = 0;
    for (int i = first; i < argc; ++i) {
        FILE *in = std::fopen(argv[i], "rb");
        if (!in) {
            std::fprintf(stderr, "tirvo_fpinfo: cannot open %s: %s\n", argv[i],
                         std::strerror(errno));
            status = 1;
            continue;
        }
        tirvo_fingerprint *fp = nullptr;
        int rc = tirvo_load_fingerprint(in, &fp, argv[i]);
        std::fclose(in);
        if (rc != 0) {
            status = 1; // the loader has printed why
            continue;
        }
        print_summary(argv[i], fp);
        tirvo_free_fingerprint(fp);
    }
    return status;
}
