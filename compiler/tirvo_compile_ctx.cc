#include "compiler/tirvo_compile_ctx.h"

#include "automata/tirvo_nfa_to_dfa.h"
#include "automata/tirvo_regex_to_nfa.h"
#include "byc/tirvo_byc.h"
#include "byc/tirvo_variable.h"
#include "lang/tirvo_dump.h"
#include "lang/tirvo_parse.h"
#include "lang/tirvo_parse_tree.h"
#include "lang/tirvo_scanner.h"
#include "store/tirvo_store.h"

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// A node of the situation container: the tree header and one situation.
struct situation_node {
    qle_avl_node node; // tree links
    uint32_t value;    // the situation id
};

// Situations are ordered as signed 32-bit values, so ids from 0x80000000 up
// come before the small ones.
int situation_cmp(const void *a, const void *b) {
    int32_t x = static_cast<int32_t>(*static_cast<const uint32_t *>(a));
    int32_t y = static_cast<int32_t>(*static_cast<const uint32_t *>(b));
    return x < y ? -1 : x > y ? 1 : 0;
}

bool is_standard_stream(FILE *f) { return f == stdin || f == stdout || f == stderr; }

void close_stream(FILE **f) {
    if (*f && !is_standard_stream(*f))
        std::fclose(*f);
    *f = nullptr;
}

// A repeated graph option replaces the earlier stream; the earlier file was
// already created and is closed here so that it is not leaked.
void replace_stream(FILE **slot, FILE *f) {
    if (*slot != f)
        close_stream(slot);
    *slot = f;
}

} // namespace

std::size_t tirvo_compile_ctx_size() { return sizeof(tirvo_compile_ctx); }

void tirvo_compile_ctx_init(tirvo_compile_ctx *ctx) {
    std::memset(static_cast<void *>(ctx), 0, sizeof *ctx);
    dl_list_init(&ctx->regex_entries);
    dl_list_init(&ctx->varexp_entries);
    dl_list_init(&ctx->new_nfa_states);
    qle_avl_tree_init(&ctx->variables, tirvo_variable_compare);
    qle_avl_tree_init(&ctx->situations, situation_cmp);
    ctx->alphabet_size = TIRVO_DEFAULT_ALPHABET_SIZE;
}

void tirvo_compile_set_vgr_output(tirvo_compile_ctx *ctx) {
    ctx->flags.vgr_output = 1;
    ctx->flags.quiet = 1;
}
void tirvo_compile_set_syntax_check(tirvo_compile_ctx *ctx) { ctx->flags.syntax_check = 1; }
void tirvo_compile_set_case_insensitive(tirvo_compile_ctx *ctx) {
    ctx->flags.case_insensitive = 1;
}
void tirvo_compile_set_quiet(tirvo_compile_ctx *ctx) { ctx->flags.quiet = 1; }
void tirvo_compile_set_show_parse_tree(tirvo_compile_ctx *ctx) { ctx->flags.show_parse_tree = 1; }
void tirvo_compile_set_parser_debug(tirvo_compile_ctx *ctx) { ctx->flags.parser_debug = 1; }
void tirvo_compile_set_show_byc(tirvo_compile_ctx *ctx) { ctx->flags.show_byc = 1; }
void tirvo_compile_set_show_nfa(tirvo_compile_ctx *ctx) { ctx->flags.show_nfa = 1; }
void tirvo_compile_set_show_superstates(tirvo_compile_ctx *ctx) {
    ctx->flags.show_superstates = 1;
}
void tirvo_compile_set_no_count_extension(tirvo_compile_ctx *ctx) {
    ctx->flags.no_count_extension = 1;
}
void tirvo_compile_set_no_main_count_extension(tirvo_compile_ctx *ctx) {
    ctx->flags.no_main_count_extension = 1;
}
void tirvo_compile_set_no_count_superstates(tirvo_compile_ctx *ctx) {
    ctx->flags.no_count_superstates = 1;
}
void tirvo_compile_set_show_variables(tirvo_compile_ctx *ctx) { ctx->flags.show_variables = 1; }
void tirvo_compile_set_progress(tirvo_compile_ctx *ctx) { ctx->flags.progress = 1; }
void tirvo_compile_set_low_level_dfa(tirvo_compile_ctx *ctx) {
    ctx->flags.low_level_dfa = 1;
    ctx->flags.no_count_extension = 1;
    ctx->alphabet_size = TIRVO_LOW_LEVEL_ALPHABET_SIZE;
}
void tirvo_compile_set_file_id(tirvo_compile_ctx *ctx, uint32_t id) { ctx->file_id = id; }
void tirvo_compile_set_dfa_file_name(tirvo_compile_ctx *ctx, const char *path) {
    ctx->dfa_file_name = path;
}

int tirvo_compile_set_input(tirvo_compile_ctx *ctx, FILE *input, const char *name) {
    if (ctx->input_file)
        return 1;
    ctx->input_file = input;
    ctx->input_name = name;
    return 0;
}

void tirvo_compile_set_nfa_graph_file(tirvo_compile_ctx *ctx, FILE *f) {
    replace_stream(&ctx->nfa_graph_file, f);
}
void tirvo_compile_set_nfa_raw_graph_file(tirvo_compile_ctx *ctx, FILE *f) {
    replace_stream(&ctx->nfa_raw_graph_file, f);
}
void tirvo_compile_set_nfa_closure_graph_file(tirvo_compile_ctx *ctx, FILE *f) {
    replace_stream(&ctx->nfa_closure_graph_file, f);
}
void tirvo_compile_set_nfa_graph_before_renumbering_file(tirvo_compile_ctx *ctx, FILE *f) {
    replace_stream(&ctx->nfa_graph_before_renumbering_file, f);
}
void tirvo_compile_set_dfa_graph_file(tirvo_compile_ctx *ctx, FILE *f) {
    replace_stream(&ctx->dfa_graph_file, f);
}

int tirvo_compile_validate(const tirvo_compile_ctx *ctx) {
    if (!ctx->input_name)
        return TIRVO_COMPILE_ERR_NO_INPUT_NAME;
    if (!ctx->input_file)
        return TIRVO_COMPILE_ERR_NO_INPUT_FILE;
    if (!ctx->dfa_file_name && !ctx->flags.syntax_check)
        return TIRVO_COMPILE_ERR_NO_OUTPUT;
    return TIRVO_COMPILE_OK;
}

void *tirvo_compile_zalloc(tirvo_compile_ctx *ctx, std::size_t n) {
    void *p = tirvo_pool_alloc(&ctx->pool, n);
    if (!p) {
        ctx->error = TIRVO_COMPILE_ERR_MEMORY;
        return nullptr;
    }
    std::memset(p, 0, n);
    return p;
}

int tirvo_compile_add_situation(tirvo_compile_ctx *ctx, uint32_t s) {
    if (qle_avl_tree_find(&ctx->situations, &s))
        return 0;
    auto *n = tirvo_compile_new<situation_node>(ctx);
    if (!n)
        return -1;
    n->value = s;
    qle_avl_node_init(&n->node);
    int rc = qle_avl_tree_insert(&ctx->situations, &n->node);
    if (rc != 0) {
        std::fprintf(stderr, "could not insert new situation to situation container: %d\n", rc);
        return -1;
    }
    ++ctx->num_situations;
    return 0;
}

namespace {

struct situation_walk {
    int (*fn)(uint32_t s, void *user);
    void *user;
};

int situation_visit(qle_avl_tree *, qle_avl_node *node, void *user) {
    auto *w = static_cast<situation_walk *>(user);
    return w->fn(reinterpret_cast<situation_node *>(node)->value, w->user);
}

} // namespace

int tirvo_compile_walk_situations(tirvo_compile_ctx *ctx, int (*fn)(uint32_t s, void *user),
                                  void *user) {
    situation_walk w{fn, user};
    return qle_avl_tree_walk(&ctx->situations, situation_visit, &w);
}

void tirvo_compile_report_progress(tirvo_compile_ctx *ctx) {
    if (!ctx->flags.vgr_output)
        return;
    std::time_t now = std::time(nullptr);
    int64_t second = now == static_cast<std::time_t>(-1) ? ctx->progress_second : now;
    if (!ctx->progress_shown || second != ctx->progress_second)
        std::printf("%" PRId64 "\n", ctx->num_superstates);
    ctx->progress_shown = 1;
    ctx->progress_second = second;
}

namespace {

void print_average_state_record_size(const tirvo_compile_ctx *ctx) {
    // With no superstate there is nothing to average; print 0 rather than a
    // quotient of zeros.
    double avg = ctx->num_superstates
                     ? static_cast<double>(ctx->state_record_bytes) /
                           static_cast<double>(ctx->num_superstates)
                     : 0.0;
    std::printf("Average uncompressed state record size: %.1f\n", avg);
}

// The listings of the parse: -D and --show-variables.
void show_parse_results(tirvo_compile_ctx *ctx) {
    if (ctx->flags.show_parse_tree)
        tirvo_dump_regex(stdout, ctx->main_entry->regex, 0, ctx);
    if (ctx->flags.show_variables)
        tirvo_variables_print(stdout, &ctx->variables);
}

} // namespace

int tirvo_compile_run(tirvo_compile_ctx *ctx) {
    ctx->error = tirvo_compile_validate(ctx);
    if (ctx->error)
        return ctx->error;
    tirvo_pool_setup(&ctx->pool, std::malloc, std::free);
    if (tirvo_parse_setup(ctx) != 0)
        return ctx->error;
    if (tirvo_parse_run(ctx) != 0)
        return ctx->error;
    show_parse_results(ctx);
    tirvo_byc_compile(ctx);
    if (ctx->error)
        return ctx->error;
    if (ctx->flags.syntax_check)
        return ctx->error;
    if (tirvo_nfa_build(ctx) != 0)
        return ctx->error;
    tirvo_compile_report_progress(ctx);
    if (tirvo_dfa_build(ctx) != 0)
        return ctx->error;
    tirvo_store_fingerprint(ctx);
    if (ctx->error)
        return ctx->error;
    if (ctx->flags.progress)
        print_average_state_record_size(ctx);
    return ctx->error;
}

void tirvo_compile_cleanup(tirvo_compile_ctx *ctx) {
    close_stream(&ctx->input_file);
    close_stream(&ctx->nfa_closure_graph_file);
    close_stream(&ctx->nfa_graph_file);
    close_stream(&ctx->nfa_raw_graph_file);
    close_stream(&ctx->nfa_graph_before_renumbering_file);
    close_stream(&ctx->dfa_graph_file);
    if (ctx->pool.state == 1) {
        // The superstate sets' heap parts hang off the entries, which live in
        // the pool.
        dl_list_for_each(pos, &ctx->regex_entries)
            tirvo_superstates_release(dl_list_entry(pos, tirvo_regex_entry, list)->superstates);
        tirvo_pool_release_all(&ctx->pool);
    }
    tirvo_scanner_destroy(ctx);
}
