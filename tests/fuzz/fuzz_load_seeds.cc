// Writes the seed corpus of fuzz_load into the folder given as the only
// argument: valid files of every kind the loader reads, each as the mode
// byte 1 (compress with zlib) followed by the uncompressed records, plus the
// sample file gzip-compressed as it is (mode 0) and a file in the old DFA
// format.
#include "tests/store/fp_test_file.h"

#include <cstdio>
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
    return 0;
}
