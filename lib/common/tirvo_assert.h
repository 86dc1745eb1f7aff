// Internal invariants.
//
// Every module checks its own invariants with TIRVO_ASSERT. A failed check is
// a fault of this program, never of its input: it prints the module (the
// source file's base name without its extension) and the failed check to the
// standard error stream and aborts. The checks stay on in release builds.
// Input from outside (command lines, fingerprints, files) must never reach an
// assertion; it gets a message and an error code instead.
#ifndef TIRVO_LIB_COMMON_TIRVO_ASSERT_H
#define TIRVO_LIB_COMMON_TIRVO_ASSERT_H

// Prints "<module>: assertion failed: <check>" to the standard error stream
// and aborts. `file` is a source path (its base name without the extension
// names the module); `check` is the text of the failed condition.
[[noreturn]] void tirvo_assert_fail(const char *file, const char *check);

// Checks `cond`; on failure names the module and the condition as written.
#define TIRVO_ASSERT(cond)                                                                         \
    do {                                                                                           \
        if (!(cond)) [[unlikely]]                                                                  \
            tirvo_assert_fail(__FILE__, #cond);                                                    \
    } while (0)

// Checks `cond`; on failure names the module and the given text, for checks
// whose documented wording differs from the C++ expression.
#define TIRVO_ASSERT_TEXT(cond, text)                                                              \
    do {                                                                                           \
        if (!(cond)) [[unlikely]]                                                                  \
            tirvo_assert_fail(__FILE__, text);                                                     \
    } while (0)

#endif
