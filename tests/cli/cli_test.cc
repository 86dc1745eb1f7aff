// Command-line behaviour of tirvo_compile: usage, option errors, the -VGR
// rewrite, the -i conversion and files that cannot be opened, checked through
// the built program.
#include "tests/support/run_program.h"
#include "tests/support/temp_file.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

const std::string usage = "usage: tirvo_compile [options]\n"
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

run_result compile(std::vector<std::string> args, const std::string &input = "") {
    args.insert(args.begin(), TIRVO_COMPILE_PATH);
    return run_program(args, input);
}

struct usage_case {
    const char *name;
    std::vector<std::string> args;
    std::string message; // printed before the usage text
};

void PrintTo(const usage_case &c, std::ostream *os) { *os << c.name; }

class UsageExit : public testing::TestWithParam<usage_case> {};

TEST_P(UsageExit, PrintsMessageThenUsageAndExitsWithOne) {
    const usage_case &c = GetParam();
    run_result r = compile(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.message + usage);
}

const usage_case usage_cases[] = {
    {"NoOptions", {}, ""},
    {"InputWithoutOutput", {"-l", "a"}, ""},
    {"OutputWithoutInput", {"-s", "out.fp"}, ""},
    {"OnlySyntaxCheck", {"-S"}, ""},
    {"TwoInputs", {"-S", "-l", "a", "-l", "b"}, "multiple -f or -l flags\n"},
    {"FileThenText", {"-S", "-f", "-", "-l", "b"}, "multiple -f or -l flags\n"},
    {"UnknownShortOption", {"-S", "-Z", "-l", "a"}, "error in command line options\n"},
    {"UnknownLongOption", {"-S", "--nope", "-l", "a"}, "error in command line options\n"},
    {"MissingShortArgument", {"-S", "-l"}, "error in command line options\n"},
    {"MissingLongArgument", {"-S", "--regex"}, "error in command line options\n"},
    {"VgrWithoutRewriteIsLetters", {"-S", "-l", "a", "-V"}, "error in command line options\n"},
    {"ArgumentLeftOver", {"-S", "-l", "a", "extra", "more"}, "unknown argument: extra\n"},
    {"FileIdWithSuffix", {"-S", "-l", "a", "-i", "12x"},
     "could not convert 12x to unsigned 32-bit int\n"},
    {"FileIdWithBlank", {"-S", "-l", "a", "-i", "12 "},
     "could not convert 12  to unsigned 32-bit int\n"},
    {"FileIdEmpty", {"-S", "-l", "a", "-i", ""}, "could not convert  to unsigned 32-bit int\n"},
    {"FileIdNegative", {"-S", "-l", "a", "-i", "-5"},
     "could not convert -5 to unsigned 32-bit int\n"},
    {"FileIdAbove32Bits", {"-S", "-l", "a", "--tirvo-file-id=4294967296"},
     "could not convert 4294967296 to unsigned 32-bit int\n"},
    {"InputFileMissing", {"-S", "-f", "/nonexistent/fp.txt"},
     "Could not open file /nonexistent/fp.txt: No such file or directory\n"},
    {"NfaGraphFileUnwritable", {"-S", "-l", "a", "-x", "/nonexistent/g.dot"},
     "Could not open file /nonexistent/g.dot: No such file or directory\n"},
    {"RawGraphFileUnwritable", {"-S", "-l", "a", "-X", "/nonexistent/g.dot"},
     "Could not open file /nonexistent/g.dot: No such file or directory\n"},
    {"DfaGraphFileUnwritable", {"-S", "-l", "a", "-y", "/nonexistent/g.dot"},
     "Could not open file /nonexistent/g.dot: No such file or directory\n"},
    {"ClosureGraphFileUnwritable",
     {"-S", "-l", "a", "--nfa-closure-graph-file=/nonexistent/g.dot"},
     "Could not open file /nonexistent/g.dot: No such file or directory\n"},
    {"BeforeRenumberingGraphFileUnwritable",
     {"-S", "-l", "a", "--nfa-graph-file-before-renumbering", "/nonexistent/g.dot"},
     "Could not open file /nonexistent/g.dot: No such file or directory\n"},
    // Options take effect in order: the bad file is reported before the
    // unknown option that follows it.
    {"FirstErrorWins", {"-S", "-f", "/nonexistent/a", "-Z"},
     "Could not open file /nonexistent/a: No such file or directory\n"},
};

INSTANTIATE_TEST_SUITE_P(CommandLine, UsageExit, testing::ValuesIn(usage_cases),
                         [](const testing::TestParamInfo<usage_case> &i) { return i.param.name; });

struct accepted_case {
    const char *name;
    std::vector<std::string> args;
};

void PrintTo(const accepted_case &c, std::ostream *os) { *os << c.name; }

class Accepted : public testing::TestWithParam<accepted_case> {};

TEST_P(Accepted, SyntaxCheckSucceedsSilently) {
    run_result r = compile(GetParam().args, "abc");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
}

const accepted_case accepted_cases[] = {
    {"ShortOptions", {"-S", "-l", "abc"}},
    {"LongOptions", {"--syntax-check", "--regex=abc"}},
    {"VgrShortLong", {"-VGR", "-S", "-l", "abc"}},
    {"VgrLong", {"--VGR", "-S", "-l", "abc"}},
    {"VgrLetter", {"-M", "-S", "-l", "abc"}},
    {"VgrRewrittenInsideArgument", {"-S", "-l", "-VGR"}},
    {"DeprecatedOptionsIgnored", {"-d", "-m", "-e", "--compute-cannot-match",
                                  "--match-cannot-match", "--early-cannot-match", "-S", "-l", "a"}},
    {"FileIdPlain", {"-S", "-l", "a", "-i", "12"}},
    {"FileIdLargest", {"-S", "-l", "a", "-i", "4294967295"}},
    {"StandardInput", {"-S", "-f", "-"}},
    // -D would print the parse tree; -C prints nothing.
    {"BundledShortFlags", {"-SqC", "-l", "a"}},
    // A low-level DFA needs a situation at the end of every branch.
    {"EveryFlagOption",
     {"-S", "-C", "-q", "--no-count-extension", "--no-main-count-extension",
      "--no-count-superstates", "--low-level-DFA", "-l", "(?I{1})a"}},
};

INSTANTIATE_TEST_SUITE_P(CommandLine, Accepted, testing::ValuesIn(accepted_cases),
                         [](const testing::TestParamInfo<accepted_case> &i) {
                             return i.param.name;
                         });

TEST(CommandLine, GraphFilesAreCreatedWhenTheOptionIsReadAndSyntaxCheckWritesNoFingerprint) {
    temp_dir dir;
    std::string graph = dir.file("g.dot");
    std::string fp = dir.file("out.fp");
    run_result r = compile({"-S", "-x", graph, "-s", fp, "-l", "a"});
    EXPECT_EQ(r.status, 0) << r.err;
    bool graph_exists = false, fp_exists = true;
    EXPECT_EQ(read_file(graph, &graph_exists), "");
    EXPECT_TRUE(graph_exists);
    read_file(fp, &fp_exists);
    EXPECT_FALSE(fp_exists);
}

TEST(CommandLine, RepeatedGraphOptionCreatesBothFiles) {
    temp_dir dir;
    std::string first = dir.file("first.dot");
    std::string second = dir.file("second.dot");
    run_result r = compile({"-S", "-y", first, "-y", second, "-l", "a"});
    EXPECT_EQ(r.status, 0) << r.err;
    bool a = false, b = false;
    read_file(first, &a);
    read_file(second, &b);
    EXPECT_TRUE(a);
    EXPECT_TRUE(b);
}

TEST(CommandLine, ReadsTheFingerprintFromAFile) {
    temp_dir dir;
    std::string path = dir.file("fp.txt");
    ASSERT_TRUE(write_file(path, "abc"));
    run_result r = compile({"-S", "-f", path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

} // namespace
