// Fixture of the loader tests: captures the engine's error and debug streams
// in temporary files, loads files given as bytes, and owns what it loaded.
#ifndef TIRVO_TESTS_STORE_LOADER_FIXTURE_H
#define TIRVO_TESTS_STORE_LOADER_FIXTURE_H

#include "engine/tirvo_eng_settings.h"
#include "store/tirvo_load.h"
#include "tests/support/temp_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

// Everything written to `f` so far.
inline std::string read_all(FILE *f) {
    std::fflush(f);
    const long end = std::ftell(f);
    std::string text(static_cast<size_t>(end), '\0');
    std::rewind(f);
    const size_t got = std::fread(text.data(), 1, text.size(), f);
    text.resize(got);
    std::fseek(f, 0, SEEK_END);
    return text;
}

// A loaded fingerprint, freed at the end of its scope.
struct fp_holder {
    tirvo_fingerprint *p = nullptr;

    fp_holder() = default;
    fp_holder(const fp_holder &) = delete;
    fp_holder &operator=(const fp_holder &) = delete;
    ~fp_holder() { reset(); }
    void reset() {
        tirvo_free_fingerprint(p);
        p = nullptr;
    }
};

struct loader_fixture : ::testing::Test {
    FILE *err = nullptr; // the engine's error stream during the test
    FILE *dbg = nullptr; // its debug stream
    temp_dir dir;        // files written by write_temp
    int temp_count = 0;  // files written so far

    void SetUp() override {
        err = std::tmpfile();
        dbg = std::tmpfile();
        ASSERT_NE(err, nullptr);
        ASSERT_NE(dbg, nullptr);
        tirvo_eng_set_error_stream(err);
        tirvo_eng_set_warning_stream(err);
        tirvo_eng_set_debug_stream(dbg);
    }

    void TearDown() override {
        if (tirvo_eng_debug_enabled())
            tirvo_eng_debug_off();
        tirvo_eng_set_error_stream(nullptr);
        tirvo_eng_set_warning_stream(nullptr);
        tirvo_eng_set_debug_stream(nullptr);
        std::fclose(err);
        std::fclose(dbg);
    }

    // Loads the file `bytes` under the name "test.fp" through a stream.
    int load(const std::string &bytes, tirvo_fingerprint **fp) {
        FILE *f = std::tmpfile();
        EXPECT_NE(f, nullptr);
        if (!f)
            return -1;
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::rewind(f);
        const int result = tirvo_load_fingerprint(f, fp, "test.fp");
        std::fclose(f);
        return result;
    }

    // Writes `bytes` to a new file in the test's folder; returns its path.
    std::string write_temp(const std::string &bytes) {
        const std::string path = dir.file("f" + std::to_string(temp_count++) + ".fp");
        EXPECT_TRUE(write_file(path, bytes));
        return path;
    }

    std::string errors() { return read_all(err); }
    std::string debug_output() { return read_all(dbg); }

    // Forgets what the error stream holds.
    void clear_errors() {
        std::fclose(err);
        err = std::tmpfile();
        ASSERT_NE(err, nullptr);
        tirvo_eng_set_error_stream(err);
    }
};

#endif
