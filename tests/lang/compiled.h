// A syntax-check compile of a fingerprint text for the grammar tests: the
// text goes through a temporary file into the pipeline exactly as -l puts
// it there, and the context stays alive for inspection until the record is
// destroyed.
#ifndef TIRVO_TESTS_LANG_COMPILED_H
#define TIRVO_TESTS_LANG_COMPILED_H

#include "compiler/tirvo_compile_ctx.h"
#include "tests/support/temp_file.h"

#include <cstdio>
#include <string>

// Runs the front end (set-up and parse) over `text` (named "fp" in messages), after
// `setup` has applied further options, capturing the standard error stream.
struct compiled {
    tirvo_compile_ctx ctx; // the context after the run
    int status;            // what tirvo_compile_run returned
    std::string err;       // everything printed on the standard error stream

    explicit compiled(const std::string &text, void (*setup)(tirvo_compile_ctx *) = nullptr);
    ~compiled();
    compiled(const compiled &) = delete;
    compiled &operator=(const compiled &) = delete;
};

#endif
