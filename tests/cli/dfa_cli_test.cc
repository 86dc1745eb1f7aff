// The superstate construction through the built tirvo_compile: the NFA
// listing with its transition masks (--show-nfa), the expansion trace and
// the superstate listing (--show-superstates), the DFA graph (-y), the
// progress lines (--progress, -M) and a graph that cannot be written.
//
// Every expectation was worked out by hand from the fingerprint: the NFA's
// states in the order the construction numbers them, the classes cut at the
// boundary sets, the children made last-in-first-out, the merge of arcs, the
// backwards cannot_match pass and the renumbering with the plain superstates
// first. Locations in the NFA listing are those of the parse tree (as -D
// prints them).
#include "tests/support/run_program.h"
#include "tests/support/temp_file.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

// The dump of "(?[v=1])" after "  varexp: ".
const std::string v_dump = "  varexp: oper: =, num_args = 2, result_size = 1\n"
                           "    oper: variable, num_args = 0, result_size = 1\n"
                           "      name: v, shared: 0\n"
                           "    oper: literal, num_args = 0, result_size = 1\n"
                           "      value: 1\n";

// The situation report "(?I{5})" adds at the end of a branch.
const std::string sid5_dump = "  varexp: oper: sid, num_args = 1, result_size = 0\n"
                              "    oper: literal, num_args = 0, result_size = 0\n"
                              "      value: 5\n";

struct dfa_cli_case {
    const char *name;
    std::vector<std::string> args; // after "-s <file>" (and "-y <file>" when `graph` is set)
    std::string out;               // the standard output
    std::string graph;             // the DFA graph; empty when none is requested
    bool out_is_prefix = false;    // `out` is only the start of the standard output
};

void PrintTo(const dfa_cli_case &c, std::ostream *os) {
    *os << c.name;
}

class DfaCli : public testing::TestWithParam<dfa_cli_case> {};

TEST_P(DfaCli, ListsAndDraws) {
    const dfa_cli_case &c = GetParam();
    temp_dir dir;
    std::vector<std::string> args = {TIRVO_COMPILE_PATH, "-s", dir.file("fp.out")};
    if (!c.graph.empty()) {
        args.push_back("-y");
        args.push_back(dir.file("dfa.dot"));
    }
    args.insert(args.end(), c.args.begin(), c.args.end());
    const run_result r = run_program(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    if (c.out_is_prefix)
        EXPECT_EQ(r.out.substr(0, c.out.size()), c.out);
    else
        EXPECT_EQ(r.out, c.out);
    if (!c.graph.empty()) {
        bool ok = false;
        EXPECT_EQ(read_file(dir.file("dfa.dot"), &ok), c.graph);
        EXPECT_TRUE(ok);
    }
}

// clang-format off
const dfa_cli_case cases[] = {
    // No state at all: one superstate with the classes [0,256] and
    // [257,259] back to itself, merged into one arc.
    {"EmptyFingerprintIsTheEmptySuperstate", {"--show-superstates", "-l", ""},
     "initial superstate (0):\n"
     "Making children [0,256] for state 0\n"
     "child 0 already exists\n"
     "Making children [257,259] for state 0\n"
     "child 0 already exists\n"
     "NFA superstates:\n"
     "superstate 0:\n"
     "  cannot_match\n"
     "  !matching_next_state_exists\n"
     "  [0,259]: state 0\n", ""},
    {"EmptyFingerprintLowLevelHasOneClass", {"--low-level-DFA", "--show-superstates", "-l", ""},
     "initial superstate (0):\n"
     "Making children [0,256] for state 0\n"
     "child 0 already exists\n"
     "NFA superstates:\n"
     "superstate 0:\n"
     "  cannot_match\n"
     "  !matching_next_state_exists\n"
     "  [0,256]: state 0\n", ""},
    // NFA: 0 a -> 1, 1 runs v. The assertion symbols keep state 0; the
    // expression's superstate loops to itself on them.
    {"LiteralThenExpression", {"--show-superstates", "-l", "a(?[v=1])"},
     "initial superstate (0):\n"
     "  nfa state 0\n"
     "Making children [0,96] for state 0\n"
     "child 1 created:\n"
     "Making children [97,97] for state 0\n"
     "child 2 created:\n"
     "  nfa state 1\n"
     "Making children [98,256] for state 0\n"
     "child 1 already exists\n"
     "Making children [257,259] for state 0\n"
     "child 0 already exists\n"
     "Making children [0,256] for state 2\n"
     "child 1 already exists\n"
     "Making children [257,259] for state 2\n"
     "child 2 already exists\n"
     "Making children [0,256] for state 1\n"
     "child 1 already exists\n"
     "Making children [257,259] for state 1\n"
     "child 1 already exists\n"
     "NFA superstates:\n"
     "superstate 0:\n"
     "  [0,96]: state 1\n"
     "  [97,97]: state 2\n"
     "  [98,256]: state 1\n"
     "  [257,259]: state 0\n"
     "superstate 1:\n"
     "  cannot_match\n"
     "  !matching_next_state_exists\n"
     "  [0,259]: state 1\n"
     "superstate 2:\n" + v_dump +
     "  [0,256]: state 1\n"
     "  [257,259]: state 2\n",
     R"(digraph DFA {
  rankdir=LR;
  0[shape = doublecircle];
  1[shape = circle, style = dotted];
  2[shape = box];
  0 -> 1 [ label = "[\\x00-`b-\\m]" ];
  0 -> 2 [ label = "a" ];
  0 -> 0 [ label = "[\\z-\\@]" ];
  1 -> 1 [ label = "[\\x00-\\@]" ];
  2 -> 1 [ label = "[\\x00-\\m]" ];
  2 -> 2 [ label = "[\\z-\\@]" ];
}
)"},
    // The initial superstate runs v, so it is not plain, and no superstate
    // is drawn as a double circle. Its classes [0,96], [97,97] and
    // [98,256] all lead to the empty superstate; the merge pass joins the
    // first two and goes on after them, leaving two arcs.
    {"ExpressionFirstMergesThreeArcsIntoTwo", {"--show-superstates", "-l", "(?[v=1])a"},
     "initial superstate (0):\n"
     "  nfa state 0\n"
     "  nfa state 1\n"
     "Making children [0,96] for state 0\n"
     "child 1 created:\n"
     "Making children [97,97] for state 0\n"
     "child 1 already exists\n"
     "Making children [98,256] for state 0\n"
     "child 1 already exists\n"
     "Making children [257,259] for state 0\n"
     "child 0 already exists\n"
     "Making children [0,256] for state 1\n"
     "child 1 already exists\n"
     "Making children [257,259] for state 1\n"
     "child 1 already exists\n"
     "NFA superstates:\n"
     "superstate 0:\n" + v_dump +
     "  [0,97]: state 1\n"
     "  [98,256]: state 1\n"
     "  [257,259]: state 0\n"
     "superstate 1:\n"
     "  cannot_match\n"
     "  !matching_next_state_exists\n"
     "  [0,259]: state 1\n",
     R"(digraph DFA {
  rankdir=LR;
  0[shape = box];
  1[shape = circle, style = dotted];
  0 -> 1 [ label = "[\\x00-\\m]" ];
  0 -> 0 [ label = "[\\z-\\@]" ];
  1 -> 1 [ label = "[\\x00-\\@]" ];
}
)"},
    // NFA: 0 count 3 on x -> 1, 1 count 1 keep_on on x -> 2, 2 runs v.
    // Without count superstates every counter value is a superstate; the
    // completed counter of 0 enters 1, whose keep_on closure brings 2 at
    // once. Renumbered: the plain 0, 2, 3 first, then 1, 4, 5.
    {"CountStateWithKeepOnCountsEverySymbol",
     {"--no-count-superstates", "--show-superstates", "-l", "x{3,4}(?[v=1])"},
     "initial superstate (0):\n"
     "  nfa state 0 counts: 0\n"
     "Making children [0,119] for state 0\n"
     "child 1 created:\n"
     "Making children [120,120] for state 0\n"
     "child 2 created:\n"
     "  nfa state 0 counts: 1\n"
     "Making children [121,256] for state 0\n"
     "child 1 already exists\n"
     "Making children [257,259] for state 0\n"
     "child 0 already exists\n"
     "Making children [0,119] for state 2\n"
     "child 1 already exists\n"
     "Making children [120,120] for state 2\n"
     "child 3 created:\n"
     "  nfa state 0 counts: 2\n"
     "Making children [121,256] for state 2\n"
     "child 1 already exists\n"
     "Making children [257,259] for state 2\n"
     "child 2 already exists\n"
     "Making children [0,119] for state 3\n"
     "child 1 already exists\n"
     "Making children [120,120] for state 3\n"
     "child 4 created:\n"
     "  nfa state 2\n"
     "  nfa state 1 counts: 0\n"
     "Making children [121,256] for state 3\n"
     "child 1 already exists\n"
     "Making children [257,259] for state 3\n"
     "child 3 already exists\n"
     "Making children [0,119] for state 4\n"
     "child 1 already exists\n"
     "Making children [120,120] for state 4\n"
     "child 5 created:\n"
     "  nfa state 2\n"
     "Making children [121,256] for state 4\n"
     "child 1 already exists\n"
     "Making children [257,259] for state 4\n"
     "child 4 already exists\n"
     "Making children [0,256] for state 5\n"
     "child 1 already exists\n"
     "Making children [257,259] for state 5\n"
     "child 5 already exists\n"
     "Making children [0,256] for state 1\n"
     "child 1 already exists\n"
     "Making children [257,259] for state 1\n"
     "child 1 already exists\n"
     "NFA superstates:\n"
     "superstate 0:\n"
     "  !matching_next_state_exists\n"
     "  [0,119]: state 3\n"
     "  [120,120]: state 1\n"
     "  [121,256]: state 3\n"
     "  [257,259]: state 0\n"
     "superstate 1:\n"
     "  !matching_next_state_exists\n"
     "  [0,119]: state 3\n"
     "  [120,120]: state 2\n"
     "  [121,256]: state 3\n"
     "  [257,259]: state 1\n"
     "superstate 2:\n"
     "  [0,119]: state 3\n"
     "  [120,120]: state 4\n"
     "  [121,256]: state 3\n"
     "  [257,259]: state 2\n"
     "superstate 3:\n"
     "  cannot_match\n"
     "  !matching_next_state_exists\n"
     "  [0,259]: state 3\n"
     "superstate 4:\n" + v_dump +
     "  [0,119]: state 3\n"
     "  [120,120]: state 5\n"
     "  [121,256]: state 3\n"
     "  [257,259]: state 4\n"
     "superstate 5:\n" + v_dump +
     "  [0,256]: state 3\n"
     "  [257,259]: state 5\n", ""},
    // The same with count superstates: the initial superstate counts the
    // three x and leaves for the superstate that the completed counter
    // makes. There the keep_on counter has 1 symbol left, which is never a
    // count superstate.
    {"CountSuperstateWithItsCountLabel", {"--show-superstates", "-l", "x{3,4}(?[v=1])"},
     "initial superstate (0):\n"
     "  nfa state 0 counts: 0\n"
     "Making children [0,119] for state 0\n"
     "child 1 created:\n"
     "Making children [120,120] for state 0\n"
     "child 2 created:\n"
     "  nfa state 2\n"
     "  nfa state 1 counts: 0\n"
     "Making children [121,256] for state 0\n"
     "child 1 already exists\n"
     "Making children [257,259] for state 0\n"
     "child 0 already exists\n"
     "Making children [0,119] for state 2\n"
     "child 1 already exists\n"
     "Making children [120,120] for state 2\n"
     "child 3 created:\n"
     "  nfa state 2\n"
     "Making children [121,256] for state 2\n"
     "child 1 already exists\n"
     "Making children [257,259] for state 2\n"
     "child 2 already exists\n"
     "Making children [0,256] for state 3\n"
     "child 1 already exists\n"
     "Making children [257,259] for state 3\n"
     "child 3 already exists\n"
     "Making children [0,256] for state 1\n"
     "child 1 already exists\n"
     "Making children [257,259] for state 1\n"
     "child 1 already exists\n"
     "NFA superstates:\n"
     "superstate 0:\n"
     "  COUNT: 3 x\n"
     "  [0,119]: state 1\n"
     "  [120,120]: state 2\n"
     "  [121,256]: state 1\n"
     "  [257,259]: state 0\n"
     "superstate 1:\n"
     "  cannot_match\n"
     "  !matching_next_state_exists\n"
     "  [0,259]: state 1\n"
     "superstate 2:\n" + v_dump +
     "  [0,119]: state 1\n"
     "  [120,120]: state 3\n"
     "  [121,256]: state 1\n"
     "  [257,259]: state 2\n"
     "superstate 3:\n" + v_dump +
     "  [0,256]: state 1\n"
     "  [257,259]: state 3\n",
     R"(digraph DFA {
  rankdir=LR;
  0[shape = doublecircle];
  1[shape = circle, style = dotted];
  2[shape = box];
  3[shape = box];
  0 -> 0 [ label = "count 3:x" ];
  0 -> 1 [ label = "[\\x00-wy-\\m]" ];
  0 -> 2 [ label = "x" ];
  0 -> 0 [ label = "[\\z-\\@]" ];
  1 -> 1 [ label = "[\\x00-\\@]" ];
  2 -> 1 [ label = "[\\x00-wy-\\m]" ];
  2 -> 3 [ label = "x" ];
  2 -> 2 [ label = "[\\z-\\@]" ];
  3 -> 1 [ label = "[\\x00-\\m]" ];
  3 -> 3 [ label = "[\\z-\\@]" ];
}
)"},
    // One edge per target: a and c lead to one superstate, b to another.
    // Superstates before renumbering: 0 initial, 1 empty, 2 after a or c,
    // 3 after b, 4 after by (w), 5 after ax or cx (v).
    {"EdgesGatherTheRangesOfOneTarget", {"-l", "[ac]x(?[v=1])|by(?[w=1])"}, "",
     R"(digraph DFA {
  rankdir=LR;
  0[shape = doublecircle];
  1[shape = circle];
  2[shape = circle];
  3[shape = circle, style = dotted];
  4[shape = box];
  5[shape = box];
  0 -> 3 [ label = "[\\x00-`d-\\m]" ];
  0 -> 1 [ label = "[ac]" ];
  0 -> 2 [ label = "b" ];
  0 -> 0 [ label = "[\\z-\\@]" ];
  1 -> 3 [ label = "[\\x00-wy-\\m]" ];
  1 -> 5 [ label = "x" ];
  1 -> 1 [ label = "[\\z-\\@]" ];
  2 -> 3 [ label = "[\\x00-xz-\\m]" ];
  2 -> 4 [ label = "y" ];
  2 -> 2 [ label = "[\\z-\\@]" ];
  3 -> 3 [ label = "[\\x00-\\@]" ];
  4 -> 3 [ label = "[\\x00-\\m]" ];
  4 -> 4 [ label = "[\\z-\\@]" ];
  5 -> 3 [ label = "[\\x00-\\m]" ];
  5 -> 5 [ label = "[\\z-\\@]" ];
}
)"},
    // NFA: 0 a -> 1 (its own target and the next id), 1 b -> 2, 2 runs v.
    // The assertion symbols keep every state, as none tests them.
    {"NfaListingWithMasks", {"--show-nfa", "-l", "a*b(?[v=1])"},
     "NFA: 3 states (initial state: 1 0)\n"
     "  id: 0 (1-1,0-3)\n"
     "    arc: a\n"
     "      next_state: 1\n"
     "      next_state: 0\n"
     "    eq_class_trans: [\\x00ab\\z]\n"
     "  id: 1 (1-1,3-7)\n"
     "    arc: b\n"
     "      next_state: 2\n"
     "    eq_class_trans: [\\x00bc\\z]\n"
     "  id: 2 (1-1,4-12)\n"
     "    varexp: oper: =, num_args = 2, result_size = 1\n"
     "      oper: variable, num_args = 0, result_size = 1\n"
     "        name: v, shared: 0\n"
     "      oper: literal, num_args = 0, result_size = 1\n"
     "        value: 1\n"
     "    eq_class_trans: \\z\n"
     "NFA transition masks:\n"
     "  state 0 is kept with char a\n"
     "  state 0 is incremented with char a\n"
     "  state 0 is kept with char \\z\n"
     "  state 0 is kept with char \\M\n"
     "  state 0 is kept with char \\@\n"
     "  state 1 is incremented with char b\n"
     "  state 1 is kept with char \\z\n"
     "  state 1 is kept with char \\M\n"
     "  state 1 is kept with char \\@\n"
     "  state 2 is kept with char \\z\n"
     "  state 2 is kept with char \\M\n"
     "  state 2 is kept with char \\@\n", ""},
    // NFA: 0 count 2 on a (a bound charset state, no masks) -> 1; b+ is
    // written out as two copies of b, 1 and 2, each going on to 3 and to 2:
    // 1 has a target other than itself and the next id, so it is looped
    // through; 2 is kept (itself) and incremented (3). 3 runs v.
    {"NfaListingOfCountAndLoopingStates", {"--show-nfa", "-l", "a{2}b+(?[v=1])"},
     "NFA: 4 states (initial state: 0)\n"
     "  id: 0 (1-1,0-5)\n"
     "    arc: a\n"
     "      next_state: 1\n"
     "    eq_class_trans: [\\x00ab\\z]\n"
     "    COUNT: 2 (keep_on: 0)\n"
     "  id: 1 (1-1,5-7)\n"
     "    arc: b\n"
     "      next_state: 3\n"
     "      next_state: 2\n"
     "    eq_class_trans: [\\x00bc\\z]\n"
     "  id: 2 (1-1,5-7)\n"
     "    arc: b\n"
     "      next_state: 3\n"
     "      next_state: 2\n"
     "    eq_class_trans: [\\x00bc\\z]\n"
     "  id: 3 (1-1,7-15)\n"
     "    varexp: oper: =, num_args = 2, result_size = 1\n"
     "      oper: variable, num_args = 0, result_size = 1\n"
     "        name: v, shared: 0\n"
     "      oper: literal, num_args = 0, result_size = 1\n"
     "        value: 1\n"
     "    eq_class_trans: \\z\n"
     "NFA transition masks:\n"
     "  state 0 is a bound charset state\n"
     "  state 1 is looped through with char b\n"
     "  state 1 is kept with char \\z\n"
     "  state 1 is kept with char \\M\n"
     "  state 1 is kept with char \\@\n"
     "  state 2 is kept with char b\n"
     "  state 2 is incremented with char b\n"
     "  state 2 is kept with char \\z\n"
     "  state 2 is kept with char \\M\n"
     "  state 2 is kept with char \\@\n"
     "  state 3 is kept with char \\z\n"
     "  state 3 is kept with char \\M\n"
     "  state 3 is kept with char \\@\n", ""},
    // A low-level DFA: 256 symbols, no assertion classes, so the
    // superstate of the situation has no arc back to itself and keeps
    // cannot_match although it reports the situation.
    {"LowLevelListingsAndCannotMatchWithSituation",
     {"--low-level-DFA", "--show-nfa", "--show-superstates", "-l", "(?I{5})a"},
     "NFA: 2 states (initial state: 0)\n"
     "  id: 0 (1-1,8-9)\n"
     "    arc: a\n"
     "      next_state: 1\n"
     "    eq_class_trans: [\\x00ab]\n"
     "  id: 1 (1-1,9-9)\n"
     "    varexp: oper: sid, num_args = 1, result_size = 0\n"
     "      oper: literal, num_args = 0, result_size = 0\n"
     "        value: 5\n"
     "    eq_class_trans: \\z\n"
     "NFA transition masks:\n"
     "  state 0 is incremented with char a\n"
     "initial superstate (0):\n"
     "  nfa state 0\n"
     "Making children [0,96] for state 0\n"
     "child 1 created:\n"
     "Making children [97,97] for state 0\n"
     "child 2 created:\n"
     "  nfa state 1\n"
     "Making children [98,256] for state 0\n"
     "child 1 already exists\n"
     "Making children [0,256] for state 2\n"
     "child 1 already exists\n"
     "Making children [0,256] for state 1\n"
     "child 1 already exists\n"
     "NFA superstates:\n"
     "superstate 0:\n"
     "  [0,96]: state 1\n"
     "  [97,97]: state 2\n"
     "  [98,256]: state 1\n"
     "superstate 1:\n"
     "  cannot_match\n"
     "  !matching_next_state_exists\n"
     "  [0,256]: state 1\n"
     "superstate 2:\n"
     "  cannot_match\n"
     "  !matching_next_state_exists\n" + sid5_dump +
     "  [0,256]: state 1\n", ""},
    // x{1000} before an expression: three superstates, or one per counter
    // value and two more without count superstates.
    {"ProgressWithCountSuperstates", {"--progress", "-l", "x{1000}(?[v=1])"},
     "NFA for regex at <cmdline arg>:1-1,0-16: 2 states\n"
     "compiling DFA for regex at <cmdline arg>:1-1,0-16\n"
     "DFA for regex at <cmdline arg>:1-1,0-16 complete! 3 states\n"
     "Total DFA states: 3\n", "", true},
    {"ProgressWithoutCountSuperstates",
     {"--progress", "--no-count-superstates", "-l", "x{1000}(?[v=1])"},
     "NFA for regex at <cmdline arg>:1-1,0-16: 2 states\n"
     "compiling DFA for regex at <cmdline arg>:1-1,0-16\n"
     "DFA for regex at <cmdline arg>:1-1,0-16 complete! 1002 states\n"
     "Total DFA states: 1002\n", "", true},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Superstates, DfaCli, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<dfa_cli_case> &i) {
                             return std::string(i.param.name);
                         });

TEST(DfaCliFailure, UnwritableGraphEndsWithErrorFive) {
    temp_dir dir;
    const run_result r = run_program(
        {TIRVO_COMPILE_PATH, "-s", dir.file("fp.out"), "-y", "/dev/full", "-l", "ab(?[v=1])"});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "could not write file: No space left on device"
                     "error in fingerprint compiling: 5\n");
}

// In VGR mode the running count of superstates is printed, first before the
// construction starts.
TEST(DfaCliProgress, VgrModeStartsWithTheCountBeforeTheConstruction) {
    temp_dir dir;
    const run_result r =
        run_program({TIRVO_COMPILE_PATH, "-M", "-s", dir.file("fp.out"), "-l", "x{3}(?[v=1])"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, 2), "0\n");
}

} // namespace
