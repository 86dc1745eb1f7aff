// In-process compiles for the superstate tests: a fingerprint text is parsed
// and turned into NFAs and superstates inside the test, so that the built
// records can be inspected and walked. The context lives as long as the
// helper and is cleaned up with it.
#ifndef TIRVO_TESTS_AUTOMATA_DFA_COMPILE_H
#define TIRVO_TESTS_AUTOMATA_DFA_COMPILE_H

#include "automata/tirvo_nfa_to_dfa.h"
#include "compiler/tirvo_compile_ctx.h"
#include "compiler/tirvo_pool.h"

#include <cstdint>
#include <string>
#include <vector>

// A parse, NFA and superstate construction of one text.
struct dfa_compile {
    tirvo_compile_ctx ctx; // the compile; inspect after construction
    int status = 0;        // the context's error after the last stage that ran

    // Compiles `text` after `setup` (option setters, may be null) has run on
    // the fresh context, with `alloc` as the pool's source of chunks.
    // Warnings are suppressed.
    explicit dfa_compile(const std::string &text, void (*setup)(tirvo_compile_ctx *) = nullptr,
                         tirvo_pool_alloc_fn alloc = nullptr);
    ~dfa_compile();
    dfa_compile(const dfa_compile &) = delete;
    dfa_compile &operator=(const dfa_compile &) = delete;

    // The superstates of the main entry (null when the stage did not run).
    const superstates *main_superstates() const;
};

// The superstates of `ss` in list (id) order.
std::vector<const superstate *> superstate_vector(const superstates *ss);

// The target of the arc of `s` that covers symbol `c`, or null.
const superstate *arc_target(const superstate *s, uint32_t c);

// Runs `input` (symbols 0-259) from the initial superstate of `ss` as the
// engine does: a count superstate keeps the symbols of its count set in
// place until the last of its `count`, and an assertion symbol that leads a
// count superstate back to itself keeps its count. Returns the superstate
// entered at every position, the initial one first; it ends early when a
// symbol has no arc.
std::vector<const superstate *> walk_superstates(const superstates *ss,
                                                 const std::vector<uint32_t> &input);

#endif
