// Writes the seed corpus of fuzz_load into the folder given as the only
// argument: valid files of every kind the loader reads, each as the mode
// byte 1 (compress with zlib) followed by the uncompressed records, plus the
// sample file gzip-compressed as it is (mode 0) and a file in the old DFA
// format.
//
// Besides these hand-built files it compiles a handful of varied
// fingerprints with the compiler's pipeline, so that the corpus starts from
// what the writer really produces: each compiled file as it is (mode 0), and
// the small ones also as their uncompressed records (mode 1), which the
// fuzzer can mutate field by field.
#include "tests/store/fp_compiled.h"
#include "tests/store/fp_test_file.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool write(const std::string &dir, const std::string &name, const std::string &bytes) {
    const std::string path = dir + "/" + name;
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// A low-level DFA of three states with situation ids inside and outside the
// records.
fp_test_file low_level_file() {
    fp_test_file f;
    f.low_level = true;
    fp_test_dfa d = fp_test_self_loop_dfa(3, true);
    d.plain = 1;
    d.states[0].next.assign(256, 1);
    d.states[0].next['x'] = 2;
    d.states[1].ids = {5, 6};
    d.states[1].matching_next_state_exists = true;
    d.states[2].ids = {1, 2, 3, 4, 5};
    d.states[2].cannot_match = true;
    f.dfas = {d};
    return f;
}

// 300 states: two-byte vector entries.
fp_test_file wide_vector_file() {
    fp_test_file f;
    fp_test_program empty;
    f.programs = {empty};
    fp_test_dfa d = fp_test_self_loop_dfa(300, false);
    d.plain = 299;
    d.states[0] = fp_test_plain_state(0, 299, {{'a', 1}, {257, 298}});
    d.states[299].ids = {0, 0, 0};
    f.dfas = {d};
    return f;
}

std::string read_whole(const std::string &path, bool *ok) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream text;
    text << f.rdbuf();
    *ok = static_cast<bool>(f);
    return text.str();
}

void low_level(tirvo_compile_ctx *ctx) {
    tirvo_compile_set_low_level_dfa(ctx);
}

void file_id_and_no_count_superstates(tirvo_compile_ctx *ctx) {
    tirvo_compile_set_file_id(ctx, 7);
    tirvo_compile_set_no_count_superstates(ctx);
}

// A fingerprint to compile into a seed.
struct compiled_seed {
    const char *name;
    std::string text;
    fp_compile_setup setup;
};

// Raw record seeds above this size would make the fuzzer's inputs long.
constexpr size_t MAX_RAW_SEED = 16384;

// Compiles every seed fingerprint into `dir`; false after a failure.
bool write_compiled_seeds(const std::string &dir) {
    bool ok = false;
    const std::string example =
        read_whole(std::string(TIRVO_SOURCE_DIR) + "/examples/http_admin.fp", &ok);
    if (!ok) {
        std::fprintf(stderr, "cannot read the example fingerprint\n");
        return false;
    }
    const compiled_seed seeds[] = {
        {"compiled_example", example, nullptr},
        {"compiled_situation", "(?I{5})a", nullptr},
        {"compiled_subexp", "(?I{3})abc(?>{2}de+f)|(?I{4})ab(?>*g|h)", nullptr},
        {"compiled_regex_args", "a(?[regex{3}(b(?[v=1]))])|c(?[record_marking(d+(?[w@16=2]))])",
         nullptr},
        {"compiled_counts", "(?I{1})[a-cx]{1000}|(?I{2})x{3,4}(?[v=1])y|(?I{3})q{200,}", nullptr},
        {"compiled_many_ids",
         "(?I{9})(?[a=1])(?[b=1])(?[c=1])(?[d=1])x(?[$e@64 += parse_be(16)])y(?[{4} skip(2)])z",
         nullptr},
        {"compiled_low_level", "(?I{5})ab|(?I{6})a[bc]|(?I{7})a.c|(?I{1})ab|(?I{2})ab|(?I{3})ab",
         low_level},
        {"compiled_wide_vectors", "(?I{1})a{300}", file_id_and_no_count_superstates},
    };
    const std::string tmp = dir + "/compiling.tmp";
    for (const compiled_seed &seed : seeds) {
        int status;
        {
            fp_compiled c(seed.text, tmp, seed.setup);
            status = c.status;
        }
        const std::string gz = read_whole(tmp, &ok);
        std::remove(tmp.c_str());
        if (status != 0 || !ok) {
            std::fprintf(stderr, "%s: compile failed with %d\n", seed.name, status);
            return false;
        }
        const std::string raw = fp_test_gunzip(gz, &ok);
        if (!ok) {
            std::fprintf(stderr, "%s: not a gzip stream\n", seed.name);
            return false;
        }
        if (!write(dir, seed.name, std::string(1, '\0') + gz))
            return false;
        if (raw.size() <= MAX_RAW_SEED &&
            !write(dir, std::string(seed.name) + "_records", std::string(1, '\1') + raw))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const std::string zlib_mode(1, '\1');
    fp_test_file header_only;
    header_only.file_id = 3;
    const std::vector<std::pair<std::string, std::string>> seeds = {
        {"header_only", zlib_mode + fp_test_records(header_only)},
        {"sample", zlib_mode + fp_test_records(fp_test_sample_file())},
        {"sample_debug", std::string(1, '\5') + fp_test_records(fp_test_sample_file())},
        {"low_level", zlib_mode + fp_test_records(low_level_file())},
        {"wide_vector", zlib_mode + fp_test_records(wide_vector_file())},
        {"sample_gzip",
         std::string(1, '\0') + fp_test_gzip(fp_test_records(fp_test_sample_file()))},
        {"old_format", std::string(1, '\0') + std::string("ZkvM\0\0\0\2\1\3HEAD", 13)},
    };
    for (const auto &[name, bytes] : seeds)
        if (!write(dir, name, bytes))
            return 1;
    return write_compiled_seeds(dir) ? 0 : 1;
}
