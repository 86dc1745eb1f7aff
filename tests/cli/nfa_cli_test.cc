// The NFA construction through the built tirvo_compile: the dot graphs of
// the four moments (-X raw, --nfa-closure-graph-file, the graph before
// renumbering, -x final) for the repetition forms, variable expressions and
// sub-expression entries, the switches of the count extension, the progress
// line, failed graph writes, and that the graphs are valid dot.
//
// Every expected graph was worked out by hand from the construction rules:
// the regex fragment makes its begin and end state first, then each element
// in order; an expanded piece makes its copies one after the other; a count
// piece makes A, s_m, Z. The closure inserts new targets at the front of a
// list in reverse discovery order, the removal drops the states that neither
// consume nor run an expression, and the renumbering keeps list order.
#include "tests/support/run_program.h"
#include "tests/support/temp_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A whole graph around the node and arc lines `body`.
std::string graph(const std::string &body) {
    return "digraph NFA {\n  rankdir=LR;\n" + body + "}\n";
}

struct graph_case {
    const char *name;
    std::vector<std::string> options; // besides -s and the graph option
    std::string graph_option;         // the option that names the graph file
    std::string fingerprint;          // the -l text
    std::string expected;             // the whole graph file
};

void PrintTo(const graph_case &c, std::ostream *os) {
    *os << c.name;
}

// clang-format off
const graph_case graph_cases[] = {
    // Three one-character pieces and a variable expression: after removal
    // and renumbering a chain 0 -a-> 1 -b-> 2 -c-> 3 with the expression on 3.
    {"SequenceThenVariableExpression", {}, "-x", "abc(?[x=1])", graph(
        "  0[ shape = doublecircle ];\n"
        "  1[ shape = circle ];\n"
        "  2[ shape = circle ];\n"
        "  3[ shape = box ];\n"
        "  0 -> 1 [ label = \"a\" ];\n"
        "  1 -> 2 [ label = \"b\" ];\n"
        "  2 -> 3 [ label = \"c\" ];\n")},
    // A (count 3) -x-> s_m (count 4, keep_on) -x-> Z; Z is removed and s_m
    // leads straight to the expression.
    {"LowerAndUpperBoundMakeTwoCountStates", {}, "-x", "x{3,7}(?[a=1])", graph(
        "  0[ shape = doublecircle ];\n"
        "  1[ shape = circle ];\n"
        "  2[ shape = box ];\n"
        "  0 -> 1 [ label = \"count_trans\" ];\n"
        "  0 -> 0 [ label = \"count 3:x\" ];\n"
        "  1 -> 2 [ label = \"keep_on\" ];\n"
        "  1 -> 1 [ label = \"count 4:x\" ];\n")},
    {"ExactBoundMakesOneCountState", {}, "-x", "x{3}(?[a=1])", graph(
        "  0[ shape = doublecircle ];\n"
        "  1[ shape = box ];\n"
        "  0 -> 1 [ label = \"count_trans\" ];\n"
        "  0 -> 0 [ label = \"count 3:x\" ];\n")},
    // Z keeps its self-loop, so it stays; A's targets are the closure of Z
    // in front of Z.
    {"OpenBoundKeepsTheLoopingEndState", {}, "-x", "x{3,}(?[a=1])", graph(
        "  0[ shape = doublecircle ];\n"
        "  1[ shape = circle ];\n"
        "  2[ shape = box ];\n"
        "  0 -> 2 [ label = \"count_trans\" ];\n"
        "  0 -> 1 [ label = \"count_trans\" ];\n"
        "  0 -> 0 [ label = \"count 3:x\" ];\n"
        "  1 -> 2 [ label = \"x\" ];\n"
        "  1 -> 1 [ label = \"x\" ];\n")},
    {"ZeroLowerBoundStartsWithTheKeepOnState", {}, "-x", "x{0,5}(?[a=1])", graph(
        "  0[ shape = doublecircle ];\n"
        "  1[ shape = box ];\n"
        "  0 -> 1 [ label = \"keep_on\" ];\n"
        "  0 -> 0 [ label = \"count 5:x\" ];\n")},
    {"OneToThreeUsesCountStates", {}, "-x", "x{1,3}(?[a=1])", graph(
        "  0[ shape = doublecircle ];\n"
        "  1[ shape = circle ];\n"
        "  2[ shape = box ];\n"
        "  0 -> 1 [ label = \"count_trans\" ];\n"
        "  0 -> 0 [ label = \"count 1:x\" ];\n"
        "  1 -> 2 [ label = \"keep_on\" ];\n"
        "  1 -> 1 [ label = \"count 2:x\" ];\n")},
    // x? skips its copy by an empty arc: the expression becomes initial too.
    {"OptionalIsExpanded", {}, "-x", "x?(?[a=1])", graph(
        "  0[ shape = doublecircle ];\n"
        "  1[ shape = box3d ];\n"
        "  0 -> 1 [ label = \"x\" ];\n")},
    {"StarIsExpanded", {}, "-x", "x*(?[a=1])", graph(
        "  0[ shape = doublecircle ];\n"
        "  1[ shape = box3d ];\n"
        "  0 -> 1 [ label = \"x\" ];\n"
        "  0 -> 0 [ label = \"x\" ];\n")},
    {"PlusIsExpanded", {}, "-x", "x+(?[a=1])", graph(
        "  0[ shape = doublecircle ];\n"
        "  1[ shape = circle ];\n"
        "  2[ shape = box ];\n"
        "  0 -> 2 [ label = \"x\" ];\n"
        "  0 -> 1 [ label = \"x\" ];\n"
        "  1 -> 2 [ label = \"x\" ];\n"
        "  1 -> 1 [ label = \"x\" ];\n")},
    // The raw graph of a group with {2,3}: two mandatory copies (2-7, 8-13)
    // and one optional copy (14-19) whose begin 14 has an empty arc to its
    // end 15.
    {"GroupWithBoundsRaw", {}, "-X", "(ab){2,3}(?[c=1])", graph(
        "  0[ shape = doublecircle ];\n"
        "  1[ shape = circle ];\n"
        "  2[ shape = circle ];\n"
        "  3[ shape = circle ];\n"
        "  4[ shape = circle ];\n"
        "  5[ shape = circle ];\n"
        "  6[ shape = circle ];\n"
        "  7[ shape = circle ];\n"
        "  8[ shape = circle ];\n"
        "  9[ shape = circle ];\n"
        "  10[ shape = circle ];\n"
        "  11[ shape = circle ];\n"
        "  12[ shape = circle ];\n"
        "  13[ shape = circle ];\n"
        "  14[ shape = circle ];\n"
        "  15[ shape = circle ];\n"
        "  16[ shape = circle ];\n"
        "  17[ shape = circle ];\n"
        "  18[ shape = circle ];\n"
        "  19[ shape = circle ];\n"
        "  20[ shape = circle ];\n"
        "  21[ shape = box ];\n"
        "  0 -> 2;\n"
        "  2 -> 4;\n"
        "  3 -> 8;\n"
        "  4 -> 5 [ label = \"a\" ];\n"
        "  5 -> 6;\n"
        "  6 -> 7 [ label = \"b\" ];\n"
        "  7 -> 3;\n"
        "  8 -> 10;\n"
        "  9 -> 14;\n"
        "  10 -> 11 [ label = \"a\" ];\n"
        "  11 -> 12;\n"
        "  12 -> 13 [ label = \"b\" ];\n"
        "  13 -> 9;\n"
        "  14 -> 16;\n"
        "  14 -> 15;\n"
        "  15 -> 20;\n"
        "  16 -> 17 [ label = \"a\" ];\n"
        "  17 -> 18;\n"
        "  18 -> 19 [ label = \"b\" ];\n"
        "  19 -> 15;\n"
        "  20 -> 21;\n"
        "  21 -> 1;\n")},
    {"GroupWithBoundsFinal", {}, "-x", "(ab){2,3}(?[c=1])", graph(
        "  0[ shape = doublecircle ];\n"
        "  1[ shape = circle ];\n"
        "  2[ shape = circle ];\n"
        "  3[ shape = circle ];\n"
        "  4[ shape = circle ];\n"
        "  5[ shape = circle ];\n"
        "  6[ shape = box ];\n"
        "  0 -> 1 [ label = \"a\" ];\n"
        "  1 -> 2 [ label = \"b\" ];\n"
        "  2 -> 3 [ label = \"a\" ];\n"
        "  3 -> 6 [ label = \"b\" ];\n"
        "  3 -> 4 [ label = \"b\" ];\n"
        "  4 -> 5 [ label = \"a\" ];\n"
        "  5 -> 6 [ label = \"b\" ];\n")},
    // Joined by empty arcs alone, both expressions are initial; before the
    // renumbering they still have their raw ids 3 and 5.
    {"OnlyVariableExpressionsAreAllInitial", {}, "-x", "(?[x=1])(?[y=2])", graph(
        "  0[ shape = box3d ];\n"
        "  1[ shape = box3d ];\n")},
    {"OnlyVariableExpressionsBeforeRenumbering", {}, "--nfa-graph-file-before-renumbering",
     "(?[x=1])(?[y=2])", graph(
        "  3[ shape = box3d ];\n"
        "  5[ shape = box3d ];\n")},
    {"EmptyFingerprintHasNoStates", {}, "-x", "", graph("")},
    {"EmptyFingerprintRaw", {}, "-X", "", graph(
        "  0[ shape = doublecircle ];\n"
        "  1[ shape = circle ];\n")},
    // The four moments of x*: raw (begin 0 initial), closed (targets and
    // initial states grown, empty arcs still there), removed (old ids),
    // final.
    {"StarRaw", {}, "-X", "x*(?[a=1])", graph(
        "  0[ shape = doublecircle ];\n"
        "  1[ shape = circle ];\n"
        "  2[ shape = circle ];\n"
        "  3[ shape = circle ];\n"
        "  4[ shape = circle ];\n"
        "  5[ shape = box ];\n"
        "  0 -> 2;\n"
        "  2 -> 4;\n"
        "  2 -> 3 [ label = \"x\" ];\n"
        "  3 -> 2;\n"
        "  4 -> 5;\n"
        "  5 -> 1;\n")},
    {"StarClosure", {}, "--nfa-closure-graph-file", "x*(?[a=1])", graph(
        "  0[ shape = doublecircle ];\n"
        "  1[ shape = circle ];\n"
        "  2[ shape = doublecircle ];\n"
        "  3[ shape = circle ];\n"
        "  4[ shape = circle ];\n"
        "  5[ shape = box3d ];\n"
        "  0 -> 2;\n"
        "  2 -> 4;\n"
        "  2 -> 5 [ label = \"x\" ];\n"
        "  2 -> 2 [ label = \"x\" ];\n"
        "  2 -> 3 [ label = \"x\" ];\n"
        "  3 -> 2;\n"
        "  4 -> 5;\n"
        "  5 -> 1;\n")},
    {"StarBeforeRenumbering", {}, "--nfa-graph-file-before-renumbering", "x*(?[a=1])", graph(
        "  2[ shape = doublecircle ];\n"
        "  5[ shape = box3d ];\n"
        "  2 -> 5 [ label = \"x\" ];\n"
        "  2 -> 2 [ label = \"x\" ];\n")},
    // Labels in display form, escaped for a double-quoted dot label: the
    // backslash of \x01 doubled, the double quote escaped.
    {"LabelsAreEscapedForDot", {}, "-x", "[a-c]\\x01\"(?[a=1])", graph(
        "  0[ shape = doublecircle ];\n"
        "  1[ shape = circle ];\n"
        "  2[ shape = circle ];\n"
        "  3[ shape = box ];\n"
        "  0 -> 1 [ label = \"[a-c]\" ];\n"
        "  1 -> 2 [ label = \"\\\\x01\" ];\n"
        "  2 -> 3 [ label = \"\\\\\\\"\" ];\n")},
    // A huge bound costs no more states than a small one.
    {"HugeBoundStaysSmall", {}, "-x", "x{100000}(?[a=1])", graph(
        "  0[ shape = doublecircle ];\n"
        "  1[ shape = box ];\n"
        "  0 -> 1 [ label = \"count_trans\" ];\n"
        "  0 -> 0 [ label = \"count 100000:x\" ];\n")},
    // A low-level DFA never uses count states (its branch ends with the
    // situation's sid expression).
    {"LowLevelDfaExpands", {"--low-level-DFA"}, "-x", "(?I{1})x{3}", graph(
        "  0[ shape = doublecircle ];\n"
        "  1[ shape = circle ];\n"
        "  2[ shape = circle ];\n"
        "  3[ shape = box ];\n"
        "  0 -> 1 [ label = \"x\" ];\n"
        "  1 -> 2 [ label = \"x\" ];\n"
        "  2 -> 3 [ label = \"x\" ];\n")},
    // A sub-expression is an entry of its own, written after the main one;
    // its branch ends with the "cancel" expression.
    {"SubExpressionEntriesInOrder", {}, "-x", "a{2}(?>x{3})",
     graph("  0[ shape = doublecircle ];\n"
           "  1[ shape = box ];\n"
           "  0 -> 1 [ label = \"count_trans\" ];\n"
           "  0 -> 0 [ label = \"count 2:a\" ];\n") +
     graph("  0[ shape = doublecircle ];\n"
           "  1[ shape = box ];\n"
           "  0 -> 1 [ label = \"count_trans\" ];\n"
           "  0 -> 0 [ label = \"count 3:x\" ];\n")},
    {"NoCountExtensionExpandsEveryEntry", {"--no-count-extension"}, "-x", "a{2}(?>x{3})",
     graph("  0[ shape = doublecircle ];\n"
           "  1[ shape = circle ];\n"
           "  2[ shape = box ];\n"
           "  0 -> 1 [ label = \"a\" ];\n"
           "  1 -> 2 [ label = \"a\" ];\n") +
     graph("  0[ shape = doublecircle ];\n"
           "  1[ shape = circle ];\n"
           "  2[ shape = circle ];\n"
           "  3[ shape = box ];\n"
           "  0 -> 1 [ label = \"x\" ];\n"
           "  1 -> 2 [ label = \"x\" ];\n"
           "  2 -> 3 [ label = \"x\" ];\n")},
    {"NoMainCountExtensionExpandsTheMainEntryOnly", {"--no-main-count-extension"}, "-x",
     "a{2}(?>x{3})",
     graph("  0[ shape = doublecircle ];\n"
           "  1[ shape = circle ];\n"
           "  2[ shape = box ];\n"
           "  0 -> 1 [ label = \"a\" ];\n"
           "  1 -> 2 [ label = \"a\" ];\n") +
     graph("  0[ shape = doublecircle ];\n"
           "  1[ shape = box ];\n"
           "  0 -> 1 [ label = \"count_trans\" ];\n"
           "  0 -> 0 [ label = \"count 3:x\" ];\n")},
};
// clang-format on

run_result compile(std::vector<std::string> args) {
    args.insert(args.begin(), TIRVO_COMPILE_PATH);
    return run_program(args);
}

class NfaGraph : public testing::TestWithParam<graph_case> {};

TEST_P(NfaGraph, WritesTheGraphWorkedOutByHand) {
    const graph_case &c = GetParam();
    temp_dir dir;
    std::vector<std::string> args = {"-s", dir.file("fp.out"), c.graph_option, dir.file("g.dot")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.insert(args.end(), {"-l", c.fingerprint});
    run_result r = compile(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
    bool ok = false;
    EXPECT_EQ(read_file(dir.file("g.dot"), &ok), c.expected);
    EXPECT_TRUE(ok);
}

INSTANTIATE_TEST_SUITE_P(Cases, NfaGraph, testing::ValuesIn(graph_cases),
                         [](const testing::TestParamInfo<graph_case> &i) { return i.param.name; });

// "-" sends a graph to the standard output, in the order of the moments:
// the raw graph before the final one.
TEST(NfaGraphStream, DashWritesToStandardOutput) {
    temp_dir dir;
    run_result r = compile({"-s", dir.file("fp.out"), "-x", "-", "-X", "-", "-l", "x?"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    // x? alone: B 0, E 1, the copy 2 -x-> 3 with the skip 2 -> 3; after the
    // removal only 2 is left, and its target 3 went with the removal.
    EXPECT_EQ(r.out, graph("  0[ shape = doublecircle ];\n"
                           "  1[ shape = circle ];\n"
                           "  2[ shape = circle ];\n"
                           "  3[ shape = circle ];\n"
                           "  0 -> 2;\n"
                           "  2 -> 3;\n"
                           "  2 -> 3 [ label = \"x\" ];\n"
                           "  3 -> 1;\n") +
                         graph("  0[ shape = doublecircle ];\n"));
}

// The locations of the regexes in a -D dump ("re@<location>: ..."), in the
// order printed: the main regex, then the regexes of its sub-expressions.
std::vector<std::string> regex_locations(const std::string &dump) {
    std::vector<std::string> found;
    for (std::size_t at = dump.find("re@"); at != std::string::npos; at = dump.find("re@", at)) {
        at += 3;
        found.push_back(dump.substr(at, dump.find(": ", at) - at));
    }
    return found;
}

// The lines of `out` that start with `prefix`.
std::vector<std::string> lines_starting(const std::string &out, const std::string &prefix) {
    std::vector<std::string> found;
    std::size_t pos = 0;
    while (pos < out.size()) {
        std::size_t end = out.find('\n', pos);
        if (end == std::string::npos)
            end = out.size();
        if (out.compare(pos, prefix.size(), prefix) == 0)
            found.push_back(out.substr(pos, end - pos));
        pos = end + 1;
    }
    return found;
}

// --progress prints one line per entry, in entry order, with the entry's
// regex location in the form of the messages (offsets with -M) and its final
// number of states.
TEST(NfaProgress, OneLinePerEntryWithItsLocationAndStates) {
    struct progress_case {
        std::vector<std::string> options;
        const char *fingerprint;
        std::vector<int> states; // per entry
    };
    const progress_case cases[] = {
        {{}, "abc(?[x=1])", {4}},
        {{"-M"}, "abc(?[x=1])", {4}},
        {{}, "a{2}(?>x{3})", {2, 2}},
        {{"--no-count-extension"}, "a{2}(?>x{3})", {3, 4}},
        {{}, "", {0}},
    };
    for (const progress_case &c : cases) {
        SCOPED_TRACE(c.fingerprint);
        temp_dir dir;
        std::vector<std::string> args = {"-s", dir.file("fp.out"), "-D"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {"--progress", "-l", c.fingerprint});
        run_result r = compile(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        const std::vector<std::string> where = regex_locations(r.out);
        ASSERT_EQ(where.size(), c.states.size()) << r.out;
        std::vector<std::string> expected;
        for (std::size_t i = 0; i < where.size(); ++i)
            expected.push_back("NFA for regex at <cmdline arg>:" + where[i] + ": " +
                               std::to_string(c.states[i]) + " states");
        EXPECT_EQ(lines_starting(r.out, "NFA for regex at "), expected);
    }
}

// A graph that cannot be written ends the compile with status 5 after the
// system's text for the error (no line feed of its own), and the stage
// stops there: the graphs of later moments are not written.
TEST(NfaGraphFailure, FullDiskEndsTheStageWithStatusFive) {
    const char *options[] = {"-X", "--nfa-closure-graph-file",
                             "--nfa-graph-file-before-renumbering", "-x"};
    for (const char *option : options) {
        SCOPED_TRACE(option);
        temp_dir dir;
        std::vector<std::string> args = {"-s", dir.file("fp.out"), option, "/dev/full"};
        // A second -x would replace the first one.
        if (std::string(option) != "-x")
            args.insert(args.end(), {"-x", dir.file("final.dot")});
        args.insert(args.end(), {"-l", "abc(?[x=1])"});
        run_result r = compile(args);
        EXPECT_EQ(r.status, 5);
        EXPECT_EQ(r.err, "could not write file: No space left on device"
                         "error in fingerprint compiling: 5\n");
        EXPECT_EQ(r.out, "");
        if (std::string(option) != "-x") {
            bool ok = false;
            EXPECT_EQ(read_file(dir.file("final.dot"), &ok), "");
            EXPECT_TRUE(ok);
        }
    }
}

// The standard output is unbuffered, so there the first write fails.
TEST(NfaGraphFailure, FullStandardOutput) {
    temp_dir dir;
    const std::string command = std::string("exec '") + TIRVO_COMPILE_PATH + "' -M -s '" +
                                dir.file("fp.out") + "' -x - -l 'x*' > /dev/full";
    run_result r = run_program({"/bin/sh", "-c", command});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "could not write file: No space left on device");
}

// An expansion that would pass the state limit is refused at once, with a
// message at the piece (whose range ends after the look-ahead at the end).
TEST(NfaLimits, HugeExpansionIsRefused) {
    temp_dir dir;
    run_result r = compile({"-s", dir.file("fp.out"), "-l", "(ab){3000000}"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "<cmdline arg>:1-1,0-14: NFA too large: more than 4194304 states\n"
                     "error in fingerprint compiling: 2\n");
}

// The path of the dot program, or empty when it is not installed.
std::string find_dot() {
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        const std::string candidate = dirs.substr(start, end - start) + "/dot";
        if (end > start && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}

// Graphviz accepts every graph of every moment, with escaped labels, count
// self-loops and several entries in one file.
TEST(NfaGraphDot, GraphvizRendersEveryMoment) {
    const std::string dot = find_dot();
    if (dot.empty())
        GTEST_SKIP() << "Graphviz 'dot' is not installed; install graphviz to run this test";
    temp_dir dir;
    const std::vector<std::string> options = {"-X", "--nfa-closure-graph-file",
                                              "--nfa-graph-file-before-renumbering", "-x"};
    std::vector<std::string> args = {"-s", dir.file("fp.out")};
    std::vector<std::string> files;
    for (std::size_t i = 0; i < options.size(); ++i) {
        files.push_back(dir.file(std::to_string(i).append(".dot")));
        args.insert(args.end(), {options[i], files.back()});
    }
    args.insert(args.end(),
                {"-l", "(?I{7})[0-9]{2,4}\\x01\"[^a]{3,}x?(?[a=1])(b|c\\\\)*|(?[b=1])(?>y{0,3})"});
    run_result r = compile(args);
    ASSERT_EQ(r.status, 0) << r.err;
    for (std::size_t i = 0; i < options.size(); ++i) {
        SCOPED_TRACE(options[i]);
        run_result d = run_program({dot, "-Tsvg", "-o", dir.file("g.svg"), files[i]});
        EXPECT_EQ(d.status, 0) << d.err;
        EXPECT_EQ(d.err, "");
        bool ok = false;
        EXPECT_NE(read_file(dir.file("g.svg"), &ok).find("<svg"), std::string::npos);
    }
}

} // namespace
