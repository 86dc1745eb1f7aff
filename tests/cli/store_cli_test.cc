// The fingerprint file writer through the built tirvo_compile: files that
// cannot be created or written end the compile with status 5 and their
// message (never an abort), and --progress reports the average size of the
// state records written.
#include "tests/support/run_program.h"
#include "tests/support/temp_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace {

bool ends_with(const std::string &text, const std::string &end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(StoreCli, MissingDirectoryIsAnOutputError) {
    temp_dir dir;
    const std::string path = dir.file("missing/fp.out");
    const run_result r = run_program({TIRVO_COMPILE_PATH, "-s", path, "-l", "(?I{5})a"});
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "could not open " + path +
                         " for writing: No such file or directory\n"
                         "error in fingerprint compiling: 5\n");
    EXPECT_FALSE(std::filesystem::exists(path));
}

// "-" is the standard output, as for every output file: the gzip stream goes
// there and no file named "-" is made.
TEST(StoreCli, DashWritesTheStandardOutput) {
    temp_dir dir;
    const std::string cwd = std::filesystem::current_path().string();
    std::filesystem::current_path(dir.path);
    const run_result r = run_program({TIRVO_COMPILE_PATH, "-s", "-", "-l", "(?I{5})a"});
    std::filesystem::current_path(cwd);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.substr(0, 2), "\x1f\x8b");
    EXPECT_FALSE(std::filesystem::exists(dir.file("-")));
}

// A small file stays in the compressor's buffer until the close, which then
// fails to write it: zlib reports the failed file operation as Z_ERRNO (-1).
TEST(StoreCli, FullDeviceFailsAtTheClose) {
    const run_result r = run_program({TIRVO_COMPILE_PATH, "-s", "/dev/full", "-l", "(?I{5})a"});
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "error while flushing and closing compressed file: -1\n"
                     "error in fingerprint compiling: 5\n");
}

// Three thousand situations with scattered ids do not compress into the
// compressor's buffer, so a write fails while the records are handed over;
// the writing stops there and the close adds no second message.
TEST(StoreCli, FullDeviceFailsWhileWriting) {
    std::string text;
    uint32_t sid = 12345;
    for (int i = 0; i < 3000; ++i) {
        sid = sid * 1103515245u + 12345u;
        text += (i ? "|(?I{" : "(?I{") + std::to_string(sid) + "})x";
    }
    temp_dir dir;
    ASSERT_TRUE(write_file(dir.file("fp.txt"), text));
    const run_result r =
        run_program({TIRVO_COMPILE_PATH, "-q", "-s", "/dev/full", "-f", dir.file("fp.txt")});
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("File write failed: ", 0), 0u) << r.err;
    EXPECT_TRUE(ends_with(r.err, " (errno: No space left on device)\n"
                                 "error in fingerprint compiling: 5\n"))
        << r.err;
    EXPECT_EQ(r.err.find("closing"), std::string::npos) << r.err;
}

// The sizes of the state records, worked out from the field table:
// - the empty fingerprint: one record of 5 + 3 (13024 = 0) + 4 (13044 = 2)
//   + 4 (13033 true) + 3 (13032 = 0) + 3 (empty 13038) = 22 bytes;
// - "(?I{5})a": three states with 260-byte vectors (3 header bytes, 2
//   length bytes): 5 + 3 + 4 + 3 + 3 + 265 = 283 for state 0, 285 for the
//   cannot-match state 1 (id 1 and true take a byte more each), and 288 for
//   state 2 (id 2, one program id: 13032 = 1 and 13010 = 0); 856 / 3.
struct average_case {
    const char *name;
    const char *fingerprint;
    std::string tail; // the end of the standard output
};

class StoreCliAverage : public testing::TestWithParam<average_case> {};

TEST_P(StoreCliAverage, IsTheStateRecordBytesPerState) {
    temp_dir dir;
    const run_result r = run_program(
        {TIRVO_COMPILE_PATH, "--progress", "-s", dir.file("fp.out"), "-l", GetParam().fingerprint});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(ends_with(r.out, GetParam().tail)) << r.out;
}

const average_case average_cases[] = {
    {"OneEmptyState", "", "Total DFA states: 1\nAverage uncompressed state record size: 22.0\n"},
    {"ThreeStates", "(?I{5})a",
     "Total DFA states: 3\nAverage uncompressed state record size: 285.3\n"},
};

INSTANTIATE_TEST_SUITE_P(Fingerprints, StoreCliAverage, testing::ValuesIn(average_cases),
                         [](const testing::TestParamInfo<average_case> &i) {
                             return std::string(i.param.name);
                         });

} // namespace
