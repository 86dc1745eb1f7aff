// The compile context: the one record of a compile of one fingerprint.
//
// The entry point initialises a context, applies every command-line option to
// it through one setter per option, validates the combination and runs the
// pipeline once. Every stage receives the context, allocates from its pool
// and reports its first failure as a code in `error`; no later stage runs
// after a failure, and the code becomes the process exit status:
//
//   0 success              5 an output file could not be written
//   1 parse error          6 a variable expression did not compile
//   2 memory exhausted     7 no input name, 8 no input stream, 9 no -s or -S
//
// The context also holds the parser's and scanner's state, the parse results
// (regex entries, variable-expression entries, variables, situations) and the
// counters the progress output prints. The cleanup closes the streams the
// options opened, frees the superstate sets and releases the pool.
#ifndef TIRVO_COMPILER_TIRVO_COMPILE_CTX_H
#define TIRVO_COMPILER_TIRVO_COMPILE_CTX_H

#include "automata/tirvo_bitv.h"
#include "compiler/tirvo_pool.h"
#include "lang/tirvo_location.h"
#include "lib/avl/private/avl.h"
#include "lib/dl_list/dl_list.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct tirvo_modifier;
struct tirvo_regex_entry;

// Compile error codes (the process exit status when not 0).
constexpr int TIRVO_COMPILE_OK = 0;
constexpr int TIRVO_COMPILE_ERR_PARSE = 1;
constexpr int TIRVO_COMPILE_ERR_MEMORY = 2;
constexpr int TIRVO_COMPILE_ERR_OUTPUT = 5;
constexpr int TIRVO_COMPILE_ERR_BYTE_CODE = 6;
constexpr int TIRVO_COMPILE_ERR_NO_INPUT_NAME = 7;
constexpr int TIRVO_COMPILE_ERR_NO_INPUT_FILE = 8;
constexpr int TIRVO_COMPILE_ERR_NO_OUTPUT = 9;

// Number of input symbols: the 256 bytes and the four special symbols.
constexpr int TIRVO_DEFAULT_ALPHABET_SIZE = 260;
// Number of input symbols of a low-level DFA: the bytes only.
constexpr int TIRVO_LOW_LEVEL_ALPHABET_SIZE = 256;

// Bits of `parse_flags`.
constexpr uint8_t TIRVO_PARSE_GLOBAL_CASE_INSENSITIVE = 0x01;
constexpr uint8_t TIRVO_PARSE_QUIET = 0x02;
constexpr uint8_t TIRVO_PARSE_NEW_SITUATION_SYNTAX = 0x04;

// The option bits; declared in bit order from 0x0001 to 0x8000.
struct tirvo_compile_flags {
    uint16_t vgr_output : 1;              // 0x0001 -M: offsets in messages, quiet
    uint16_t syntax_check : 1;            // 0x0002 -S: stop after the byte code
    uint16_t case_insensitive : 1;        // 0x0004 -C
    uint16_t quiet : 1;                   // 0x0008 -q, -M: no warnings
    uint16_t show_parse_tree : 1;         // 0x0010 -D
    uint16_t parser_debug : 1;            // 0x0020 --parser-debug
    uint16_t show_byc : 1;                // 0x0040 -B
    uint16_t show_nfa : 1;                // 0x0080 --show-nfa
    uint16_t show_superstates : 1;        // 0x0100 --show-superstates
    uint16_t no_count_extension : 1;      // 0x0200 --no-count-extension, --low-level-DFA
    uint16_t no_count_superstates : 1;    // 0x0400 --no-count-superstates
    uint16_t show_variables : 1;          // 0x0800 --show-variables
    uint16_t progress : 1;                // 0x1000 --progress
    uint16_t no_main_count_extension : 1; // 0x2000 --no-main-count-extension
    uint16_t low_level_dfa : 1;           // 0x4000 --low-level-DFA
    uint16_t error_reported : 1;          // 0x8000 the parser reported an error
};
static_assert(sizeof(tirvo_compile_flags) == 2);

// One entry of the scanner's regex-argument stack: the group depth at which a
// "regex(" or "record_marking(" argument was opened.
struct tirvo_regex_arg {
    int32_t depth;         // the depth saved when the argument's "(" was read
    tirvo_regex_arg *next; // the entry below, or null
};

// Source position kept by the scanner.
struct tirvo_scan_position {
    int32_t paren_depth;              // groups open in REGEX mode
    int32_t first_column;             // column where the next token starts
    int32_t column;                   // current column
    int32_t first_line;               // line where the next token starts
    int32_t line;                     // current line
    int32_t first_offset;             // offset where the next token starts
    int32_t offset;                   // current offset
    tirvo_regex_arg *regex_arg_stack; // open regex arguments, innermost first
};

struct tirvo_compile_ctx {
    tirvo_pool pool;                    // every record of the compile
    tirvo_modifier *modifiers;          // innermost record of the modifier stack
    tirvo_scan_position scan_position;  // scanner position and group depth
    void *scanner;                      // the scanner instance
    int saved_mode;                     // scanner mode to resume after a comment
    uint8_t parse_flags;                // TIRVO_PARSE_* bits
    uint32_t current_situation;         // latest situation marker; 0 = none yet
    int in_subexp;                      // inside "(?>...)"
    tirvo_regex_entry *main_entry;      // entry of the main regular expression
    int num_regex_entries;              // number of regex entries
    dl_list regex_entries;              // all regex entries, in id order
    int num_varexp_entries;             // number of variable-expression entries; next id
    dl_list varexp_entries;             // all variable-expression entries, in id order
    dl_list new_nfa_states;             // NFA states made for the entry under construction
    int error;                          // the compile error code; 0 = no error
    int num_variables;                  // next variable id
    qle_avl_tree variables;             // the variable registry
    int num_situations;                 // number of distinct situations
    qle_avl_tree situations;            // the situation container
    tirvo_compile_flags flags;          // option bits
    uint32_t file_id;                   // numeric id of the fingerprint file (-i)
    const char *input_name;             // "-f" path or "<cmdline arg>"
    FILE *input_file;                   // the fingerprint text
    const char *dfa_file_name;          // the -s path
    FILE *nfa_closure_graph_file;       // --nfa-closure-graph-file
    FILE *nfa_graph_file;               // -x
    FILE *nfa_raw_graph_file;           // -X
    FILE *nfa_graph_before_renumbering_file; // --nfa-graph-file-before-renumbering
    FILE *dfa_graph_file;               // -y
    int alphabet_size;                  // 260, or 256 for a low-level DFA
    int64_t state_record_bytes;         // uncompressed state record bytes written
    int64_t num_superstates;            // superstates made so far
    int64_t progress_second;            // wall-clock second of the last progress line
    int progress_shown;                 // a progress line has been printed
};

// Size of the record, for callers that place it in their own storage.
std::size_t tirvo_compile_ctx_size();

// Zeroes the record, makes the three lists, the variable registry and the
// situation container empty and sets `alphabet_size` to 260.
void tirvo_compile_ctx_init(tirvo_compile_ctx *ctx);

// Option setters, one per option. Streams are owned by the context from then
// on (the cleanup closes them unless they are standard streams); strings are
// borrowed and must outlive the context.
void tirvo_compile_set_vgr_output(tirvo_compile_ctx *ctx);    // -M: also quiet
void tirvo_compile_set_syntax_check(tirvo_compile_ctx *ctx);  // -S
void tirvo_compile_set_case_insensitive(tirvo_compile_ctx *ctx); // -C
void tirvo_compile_set_quiet(tirvo_compile_ctx *ctx);         // -q
void tirvo_compile_set_show_parse_tree(tirvo_compile_ctx *ctx); // -D
void tirvo_compile_set_parser_debug(tirvo_compile_ctx *ctx);  // --parser-debug
void tirvo_compile_set_show_byc(tirvo_compile_ctx *ctx);      // -B
void tirvo_compile_set_show_nfa(tirvo_compile_ctx *ctx);      // --show-nfa
void tirvo_compile_set_show_superstates(tirvo_compile_ctx *ctx); // --show-superstates
void tirvo_compile_set_no_count_extension(tirvo_compile_ctx *ctx); // --no-count-extension
void tirvo_compile_set_no_main_count_extension(tirvo_compile_ctx *ctx); // --no-main-count-extension
void tirvo_compile_set_no_count_superstates(tirvo_compile_ctx *ctx); // --no-count-superstates
void tirvo_compile_set_show_variables(tirvo_compile_ctx *ctx); // --show-variables
void tirvo_compile_set_progress(tirvo_compile_ctx *ctx);      // --progress
void tirvo_compile_set_low_level_dfa(tirvo_compile_ctx *ctx); // --low-level-DFA: also
                                                              // no_count_extension, 256 symbols
void tirvo_compile_set_file_id(tirvo_compile_ctx *ctx, uint32_t id); // -i
void tirvo_compile_set_dfa_file_name(tirvo_compile_ctx *ctx, const char *path); // -s
// -f or -l: stores the input stream and the name used in messages. Returns 1
// (and stores nothing) when an input stream is already stored, else 0.
int tirvo_compile_set_input(tirvo_compile_ctx *ctx, FILE *input, const char *name);
// Graph streams; a repeated option replaces the stream stored before.
void tirvo_compile_set_nfa_graph_file(tirvo_compile_ctx *ctx, FILE *f);         // -x
void tirvo_compile_set_nfa_raw_graph_file(tirvo_compile_ctx *ctx, FILE *f);     // -X
void tirvo_compile_set_nfa_closure_graph_file(tirvo_compile_ctx *ctx, FILE *f); // --nfa-closure-graph-file
void tirvo_compile_set_nfa_graph_before_renumbering_file(tirvo_compile_ctx *ctx, FILE *f);
void tirvo_compile_set_dfa_graph_file(tirvo_compile_ctx *ctx, FILE *f);        // -y

// 7 without an input name, else 8 without an input stream, else 9 when
// neither a fingerprint file name nor the syntax check is given, else 0.
int tirvo_compile_validate(const tirvo_compile_ctx *ctx);

// A zero-filled block of `n` bytes from the context's pool, or null with
// `error` set to 2 when memory is exhausted.
void *tirvo_compile_zalloc(tirvo_compile_ctx *ctx, std::size_t n);

// Typed form of tirvo_compile_zalloc for plain records.
template <typename T>
T *tirvo_compile_new(tirvo_compile_ctx *ctx) {
    return static_cast<T *>(tirvo_compile_zalloc(ctx, sizeof(T)));
}

// A zero-filled bit vector of `n` bits from the context's pool, or null with
// `error` set to 2 when memory is exhausted.
inline tirvo_bitv *tirvo_bitv_alloc(tirvo_compile_ctx *ctx, uint32_t n) {
    return static_cast<tirvo_bitv *>(tirvo_compile_zalloc(ctx, tirvo_bitv_bytes(n)));
}

// Adds situation `s` to the situation container; a situation already held is
// left alone. Returns 0, or -1 when no node could be allocated or the tree
// refused it (then "could not insert new situation to situation container: %d"
// has been printed with the tree's code).
int tirvo_compile_add_situation(tirvo_compile_ctx *ctx, uint32_t s);

// Calls `fn` with every situation in container order (ascending as signed
// 32-bit values) and `user`; a non-zero result of `fn` stops the walk and is
// returned.
int tirvo_compile_walk_situations(tirvo_compile_ctx *ctx, int (*fn)(uint32_t s, void *user),
                                  void *user);

// In VGR mode prints the number of superstates made so far ("%I64d\n") at most
// once per wall-clock second (and always the first time).
void tirvo_compile_report_progress(tirvo_compile_ctx *ctx);

// Runs the pipeline once and returns the final `error`.
int tirvo_compile_run(tirvo_compile_ctx *ctx);

// Closes the streams the options opened (never the standard streams), frees
// the superstate sets, releases the pool and destroys the scanner.
void tirvo_compile_cleanup(tirvo_compile_ctx *ctx);

#endif
