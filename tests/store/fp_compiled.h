// In-process compiles for the writer and round-trip tests: a fingerprint
// text runs through the whole pipeline (tirvo_compile_run, as the program
// runs it) with -s naming a file, and the compile context stays alive for
// inspection until the record is destroyed. The tests compare the written
// file with what they work out by hand, and the loaded file with the
// context's structures.
//
// It uses no test framework, so that programs outside the test suite (the
// loader fuzzer's seed writer) can compile with it too.
#ifndef TIRVO_TESTS_STORE_FP_COMPILED_H
#define TIRVO_TESTS_STORE_FP_COMPILED_H

#include "automata/tirvo_nfa_to_dfa.h"
#include "compiler/tirvo_compile_ctx.h"

#include <cstdint>
#include <string>
#include <vector>

// Option setters applied to the fresh context before the run.
using fp_compile_setup = void (*)(tirvo_compile_ctx *);

// One compile of `text` into the file `out_path`.
struct fp_compiled {
    std::string input_name; // the name in messages and in the header (borrowed by ctx)
    std::string out_path;   // the -s file (borrowed by ctx)
    tirvo_compile_ctx ctx;  // the context after the run
    int status = -1;        // what tirvo_compile_run returned; -1: the text could not be staged

    // Compiles `text` (quietly: no warnings) with `setup` (may be null)
    // applied after -s; the text is read from a temporary file named
    // `input_name`.
    fp_compiled(const std::string &text, const std::string &out_path,
                fp_compile_setup setup = nullptr, const std::string &input_name = "<cmdline arg>");
    ~fp_compiled();
    fp_compiled(const fp_compiled &) = delete;
    fp_compiled &operator=(const fp_compiled &) = delete;

    // The regex entry / variable-expression entry with id `id`, or null.
    const tirvo_regex_entry *regex_entry(int id) const;
    const tirvo_varexp_entry *varexp_entry(int id) const;
};

// The superstates of `ss` in list order (ascending id once finished).
std::vector<const superstate *> fp_superstates(const superstates *ss);

// The id of the superstate that `s` goes to on `symbol`: the target of the
// arc covering it, or `s`'s own id when no arc does.
uint32_t fp_superstate_target(const superstate *s, uint32_t symbol);

#endif
