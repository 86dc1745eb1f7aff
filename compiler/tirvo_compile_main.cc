// Entry point of tirvo_compile: reads the options into a compile context,
// validates them, runs the pipeline once and turns its result into the exit
// status.
#include "automata/tirvo_charset.h"
#include "compiler/tirvo_compile_ctx.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>

namespace {

// Long options that have no short letter; getopt_long returns 0 for them and
// they are told apart by their index in the table.
enum long_only : int {
    opt_parser_debug = 0,
    opt_nfa_closure_graph_file = 1,
    opt_nfa_graph_file_before_renumbering = 2,
    opt_show_nfa = 3,
    opt_show_superstates = 4,
    opt_no_count_extension = 5,
    opt_no_count_superstates = 6,
    opt_show_variables = 7,
    opt_progress = 8,
    opt_no_main_count_extension = 9,
    opt_low_level_dfa = 10,
};

const option long_options[] = {
    {"parser-debug", no_argument, nullptr, 0},
    {"nfa-closure-graph-file", required_argument, nullptr, 0},
    {"nfa-graph-file-before-renumbering", required_argument, nullptr, 0},
    {"show-nfa", no_argument, nullptr, 0},
    {"show-superstates", no_argument, nullptr, 0},
    {"no-count-extension", no_argument, nullptr, 0},
    {"no-count-superstates", no_argument, nullptr, 0},
    {"show-variables", no_argument, nullptr, 0},
    {"progress", no_argument, nullptr, 0},
    {"no-main-count-extension", no_argument, nullptr, 0},
    {"low-level-DFA", no_argument, nullptr, 0},
    {"VGR", no_argument, nullptr, 'M'},
    {"syntax-check", no_argument, nullptr, 'S'},
    {"regex", required_argument, nullptr, 'l'},
    {"case-insensitive", no_argument, nullptr, 'C'},
    {"regex-file", required_argument, nullptr, 'f'},
    {"dfa-file", required_argument, nullptr, 's'},
    {"nfa-graph-file", required_argument, nullptr, 'x'},
    {"nfa-raw-graph-file", required_argument, nullptr, 'X'},
    {"dfa-graph-file", required_argument, nullptr, 'y'},
    {"compute-cannot-match", no_argument, nullptr, 'd'},
    {"match-cannot-match", no_argument, nullptr, 'm'},
    {"early-cannot-match", no_argument, nullptr, 'e'},
    {"quiet", no_argument, nullptr, 'q'},
    {"show-parse-tree", no_argument, nullptr, 'D'},
    {"show-byc", no_argument, nullptr, 'B'},
    {"tirvo-file-id", required_argument, nullptr, 'i'},
    {nullptr, 0, nullptr, 0},
};

const char short_options[] = "MSl:Cf:s:x:X:y:dmeqDBi:";

const char usage_text[] = "usage: tirvo_compile [options]\n"
                          "  -M, --VGR, -VGR\n"
                          "        VGR friendly output\n"
                          "  -S, --syntax-check\n"
                          "        Syntax check\n"
                          "  -l, --regex=string\n"
                          "        use given regular expression string\n"
                          "  -C, --case-insensitive\n"
                          "        regex is case-insensitive\n"
                          "  -f, --regex-file=file\n"
                          "        Read regular expression from file\n"
                          "  -s, --dfa-file=file\n"
                          "        Store DFA to file\n"
                          "  -x, --nfa-graph-file=file\n"
                          "        Store NFA graph in dot format to file\n"
                          "  --nfa-graph-file-before-renumbering=file\n"
                          "        Store NFA graph before renumbering dot format\n"
                          "  --nfa-closure-graph-file=file\n"
                          "        Store NFA graph with empty arc closure to file\n"
                          "  -X, --nfa-raw-graph-file\n"
                          "        Store unoptimized NFA graph in dot format to file\n"
                          "  -y, --dfa-graph-file=file\n"
                          "        Store final DFA graph in dot format to file\n"
                          "  -d, --compute-cannot-match\n"
                          "        Deprecated option (always on).\n"
                          "  -m, --match-cannot-match\n"
                          "        Deprecated option (not relevant in fp compilation).\n"
                          "  -e, --early-cannot-match\n"
                          "        Deprecated option (always on).\n"
                          "  -q, --quiet\n"
                          "        Quieter - do not give warnings\n"
                          "  -D, --show-parse-tree\n"
                          "        Show parsed regular expression structure\n"
                          "  --show-nfa\n"
                          "        Show final NFA states\n"
                          "  --show-superstates\n"
                          "        Show NFA superstates\n"
                          "  --parser-debug\n"
                          "        Show regex parser debug output\n"
                          "  -B, --show-byc\n"
                          "        Show compiled byte code\n"
                          "  --no-count-extension\n"
                          "        Expand all piece bounds into separate NFA states\n"
                          "  --no-main-count-extension\n"
                          "        Expand all piece bounds in the main regex\n"
                          "  --no-count-superstates\n"
                          "        Disable count states in superstate generation\n"
                          "  --show-variables\n"
                          "        List all variables used in this regular expression\n"
                          "  --progress\n"
                          "        Show some progress information during compilation\n"
                          "  -i, --tirvo-file-id=<id>\n"
                          "        Give numerical id to saved tirvo file (default 0)\n"
                          "  --low-level-DFA\n"
                          "        Make DFA file for low-level matching in parsers\n"
                          "\n"
                          "You have to specify -f or -l. You also have to specify -S or -s.\n";

[[noreturn]] void usage_exit() {
    std::fputs(usage_text, stderr);
    std::exit(1);
}

// Opens a file named on the command line; "-" is the standard stream given.
// A failure prints its message and takes the usage exit.
FILE *open_or_exit(const char *name, const char *mode, FILE *standard) {
    if (std::strcmp(name, "-") == 0)
        return standard;
    FILE *f = std::fopen(name, mode);
    if (!f) {
        std::fprintf(stderr, "Could not open file %s: %s\n", name, std::strerror(errno));
        usage_exit();
    }
    return f;
}

// The text of -l goes through a temporary file so that the scanner reads it
// exactly like a file given with -f.
FILE *text_as_file(const char *text) {
    FILE *f = std::tmpfile();
    if (!f) {
        std::fprintf(stderr, "error reading -l argument: %s\n", std::strerror(errno));
        usage_exit();
    }
    std::fwrite(text, 1, std::strlen(text), f);
    std::rewind(f);
    return f;
}

void set_input_or_exit(tirvo_compile_ctx *ctx, FILE *f, const char *name) {
    if (tirvo_compile_set_input(ctx, f, name) != 0) {
        std::fprintf(stderr, "multiple -f or -l flags\n");
        usage_exit();
    }
}

// The -i argument must be one unsigned decimal number with nothing after it
// (leading blanks and a "+" are allowed, as the C library's unsigned
// conversion allows them). A minus sign or a value above 4294967295 is refused
// instead of being wrapped into some other 32-bit id.
uint32_t file_id_or_exit(const char *arg) {
    const char *p = arg;
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    if (*p == '+')
        ++p;
    uint64_t id = 0;
    bool ok = std::isdigit(static_cast<unsigned char>(*p)) != 0;
    for (; ok && std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        id = id * 10 + static_cast<uint64_t>(*p - '0');
        ok = id <= UINT32_MAX;
    }
    if (!ok || *p != '\0') {
        std::fprintf(stderr, "could not convert %s to unsigned 32-bit int\n", arg);
        usage_exit();
    }
    return static_cast<uint32_t>(id);
}

void apply_long_only(tirvo_compile_ctx *ctx, int index, const char *arg) {
    switch (index) {
    case opt_parser_debug:
        tirvo_compile_set_parser_debug(ctx);
        break;
    case opt_nfa_closure_graph_file:
        tirvo_compile_set_nfa_closure_graph_file(ctx, open_or_exit(arg, "wb", stdout));
        break;
    case opt_nfa_graph_file_before_renumbering:
        tirvo_compile_set_nfa_graph_before_renumbering_file(ctx, open_or_exit(arg, "wb", stdout));
        break;
    case opt_show_nfa:
        tirvo_compile_set_show_nfa(ctx);
        break;
    case opt_show_superstates:
        tirvo_compile_set_show_superstates(ctx);
        break;
    case opt_no_count_extension:
        tirvo_compile_set_no_count_extension(ctx);
        break;
    case opt_no_count_superstates:
        tirvo_compile_set_no_count_superstates(ctx);
        break;
    case opt_show_variables:
        tirvo_compile_set_show_variables(ctx);
        break;
    case opt_progress:
        tirvo_compile_set_progress(ctx);
        break;
    case opt_no_main_count_extension:
        tirvo_compile_set_no_main_count_extension(ctx);
        break;
    case opt_low_level_dfa:
        tirvo_compile_set_low_level_dfa(ctx);
        break;
    default:
        std::fprintf(stderr, "error in command line options\n");
        usage_exit();
    }
}

void apply_option(tirvo_compile_ctx *ctx, int c, int index, const char *arg) {
    switch (c) {
    case 0:
        apply_long_only(ctx, index, arg);
        break;
    case 'M':
        tirvo_compile_set_vgr_output(ctx);
        break;
    case 'S':
        tirvo_compile_set_syntax_check(ctx);
        break;
    case 'l':
        set_input_or_exit(ctx, text_as_file(arg), "<cmdline arg>");
        break;
    case 'C':
        tirvo_compile_set_case_insensitive(ctx);
        break;
    case 'f':
        set_input_or_exit(ctx, open_or_exit(arg, "rb", stdin), arg);
        break;
    case 's':
        tirvo_compile_set_dfa_file_name(ctx, arg);
        break;
    case 'x':
        tirvo_compile_set_nfa_graph_file(ctx, open_or_exit(arg, "wb", stdout));
        break;
    case 'X':
        tirvo_compile_set_nfa_raw_graph_file(ctx, open_or_exit(arg, "wb", stdout));
        break;
    case 'y':
        tirvo_compile_set_dfa_graph_file(ctx, open_or_exit(arg, "wb", stdout));
        break;
    case 'd':
    case 'm':
    case 'e':
        break;
    case 'q':
        tirvo_compile_set_quiet(ctx);
        break;
    case 'D':
        tirvo_compile_set_show_parse_tree(ctx);
        break;
    case 'B':
        tirvo_compile_set_show_byc(ctx);
        break;
    case 'i':
        tirvo_compile_set_file_id(ctx, file_id_or_exit(arg));
        break;
    default:
        std::fprintf(stderr, "error in command line options\n");
        usage_exit();
    }
}

} // namespace

int main(int argc, char **argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    tirvo_charset_init_predefined();

    // "-VGR" would be read as -V -G -R; every argument that is exactly that
    // word, option arguments included, becomes "--VGR".
    static char vgr_long[] = "--VGR";
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-VGR") == 0)
            argv[i] = vgr_long;

    tirvo_compile_ctx ctx;
    tirvo_compile_ctx_init(&ctx);

    opterr = 0;
    for (;;) {
        int index = -1;
        int c = getopt_long(argc, argv, short_options, long_options, &index);
        if (c == -1)
            break;
        apply_option(&ctx, c, index, optarg);
    }
    if (optind < argc) {
        std::fprintf(stderr, "unknown argument: %s\n", argv[optind]);
        usage_exit();
    }
    if (tirvo_compile_validate(&ctx) != 0)
        usage_exit();

    int code = tirvo_compile_run(&ctx);
    if (code != 0 && !ctx.flags.vgr_output)
        std::fprintf(stderr, "error in fingerprint compiling: %d\n", code);
    tirvo_compile_cleanup(&ctx);
    return code;
}
