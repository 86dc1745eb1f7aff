// The fingerprint grammar through the built tirvo_compile: parse-tree dumps
// (-D), variable listings (--show-variables), messages and exit statuses of a
// syntax check (-S, which at this stage stops after the parse and its
// listings).
//
// Locations in the expectations follow the scanner's rule: a token's range
// runs from the end of the previous rule's range to the position after the
// byte it had to read to find its own end, and an empty construct (such as
// the empty bound of a piece) sits at the scanner's position when it is
// reduced, that is after the look-ahead token. On one line the columns equal
// the offsets, so "1-1,0-3" is offsets 0 to 3.
#include "tests/support/run_program.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

run_result compile(std::vector<std::string> args) {
    args.insert(args.begin(), TIRVO_COMPILE_PATH);
    return run_program(args);
}

const std::string failed = "error in fingerprint compiling: 1\n";

struct cli_case {
    const char *name;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
};

void PrintTo(const cli_case &c, std::ostream *os) {
    *os << c.name;
}

class GrammarCli : public testing::TestWithParam<cli_case> {};

TEST_P(GrammarCli, PrintsTreeMessagesAndStatus) {
    const cli_case &c = GetParam();
    run_result r = compile(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
}

// The sid element that the end of a branch adds for situation `s`, located
// at `where`, at indentation 2.
std::string sid_elem(const std::string &where, int s) {
    return "  varexp@" + where + " (bound 1):\n" +
           "  oper: sid, num_args = 1, result_size = 0\n"
           "    oper: literal, num_args = 0, result_size = 0\n"
           "      value: " +
           std::to_string(s) + "\n";
}

// clang-format off
const cli_case trees[] = {
    {"EmptyInputHasNoBranches", {"-S", "-D", "--show-variables", "-l", ""},
     "re@1-1,1-1: 0 branches\nVariables:\n", "", 0},
    // "-VGR" is rewritten also as an option argument, so the text is "--VGR".
    {"VgrRewriteReachesTheRegexArgument", {"-S", "-D", "-l", "-VGR"},
     "re@1-1,0-6: 1 branches\n"
     "branch@1-1,0-6:\n"
     "  piece@1-1,0-3: -\n"
     "  piece@1-1,2-4: -\n"
     "  piece@1-1,3-5: V\n"
     "  piece@1-1,4-6: G\n"
     "  piece@1-1,5-6: R\n", "", 0},
    {"BoundsArePrintedUnlessOneAndOne", {"-S", "-D", "-l", "a*b{2,5}"},
     "re@1-1,0-9: 1 branches\n"
     "branch@1-1,0-9:\n"
     "  piece@1-1,0-3: min: 0, max: Inf a\n"
     "  piece@1-1,3-9: min: 2, max: 5 b\n", "", 0},
    {"GroupPrintsItsRegexFurtherIn", {"-S", "-D", "-l", "(ab)+c"},
     "re@1-1,0-7: 1 branches\n"
     "branch@1-1,0-7:\n"
     "  piece@1-1,0-6: min: 1, max: Inf \n"
     "    re@1-1,2-5: 1 branches\n"
     "    branch@1-1,2-5:\n"
     "      piece@1-1,2-4: a\n"
     "      piece@1-1,3-5: b\n"
     "  piece@1-1,6-7: c\n", "", 0},
    {"AssertionMayRepeatZeroOneOrInfTimes", {"-S", "-D", "-l", "\\z*"},
     "re@1-1,0-4: 1 branches\n"
     "branch@1-1,0-4:\n"
     "  piece@1-1,0-4: min: 0, max: Inf \\z\n", "", 0},
    {"CaseInsensitiveRangeAddsTheOtherCase", {"-S", "-D", "-l", "(?i)[a-f]"},
     "re@1-1,0-10: 1 branches\n"
     "branch@1-1,0-10:\n"
     "  piece@1-1,5-10: [A-Fa-f]\n", "", 0},
    {"RangeOverAllLettersIsNotFolded", {"-S", "-D", "-l", "(?i)[0-z]"},
     "re@1-1,0-10: 1 branches\n"
     "branch@1-1,0-10:\n"
     "  piece@1-1,5-10: [0-z]\n", "", 0},
    {"CaseInsensitiveLetters", {"-S", "-D", "-l", "(?i)ab"},
     "re@1-1,0-7: 1 branches\n"
     "branch@1-1,0-7:\n"
     "  piece@1-1,5-7: [Aa]\n"
     "  piece@1-1,6-7: [Bb]\n", "", 0},
    {"DeprecatedCaseInsensitiveUntilEnd", {"-S", "-D", "-l", "\\Cab\\Ec"},
     "re@1-1,0-8: 1 branches\n"
     "branch@1-1,0-8:\n"
     "  piece@1-1,3-5: [Aa]\n"
     "  piece@1-1,4-7: [Bb]\n"
     "  piece@1-1,7-8: c\n",
     "<cmdline arg>:1-1,0-3: warning: using deprecated syntax \\C\n", 0},
    {"EndOfCaseInsensitiveAlsoEndsOptionC", {"-S", "-D", "-C", "-l", "a\\Eb"},
     "re@1-1,0-5: 1 branches\n"
     "branch@1-1,0-5:\n"
     "  piece@1-1,0-4: [Aa]\n"
     "  piece@1-1,4-5: b\n", "", 0},
    {"EmptyBracketIsTheEmptySet", {"-S", "-D", "-l", "[]"},
     "re@1-1,0-3: 1 branches\n"
     "branch@1-1,0-3:\n"
     "  piece@1-1,0-3: []\n", "", 0},
    {"NegatedEmptyBracketIsEveryByte", {"-S", "-D", "-l", "[^]"},
     "re@1-1,0-4: 1 branches\n"
     "branch@1-1,0-4:\n"
     "  piece@1-1,0-4: [^]\n", "", 0},
    {"BitmaskSelectsTheBytesWithTheMaskedValue", {"-S", "-D", "-l", "\\xF0\\&\\x40"},
     "re@1-1,0-11: 1 branches\n"
     "branch@1-1,0-11:\n"
     "  piece@1-1,0-11: [@-O]\n", "", 0},
    {"DotHoldsMissingDataByDefault", {"-S", "-D", "-l", "."},
     "re@1-1,0-2: 1 branches\n"
     "branch@1-1,0-2:\n"
     "  piece@1-1,0-2: [\\x00-\\m]\n", "", 0},
    {"DotWithoutSLacksLineFeedAndMissingData", {"-S", "-D", "-l", "(?-s)."},
     "re@1-1,0-7: 1 branches\n"
     "branch@1-1,0-7:\n"
     "  piece@1-1,6-7: [^\\n]\n", "", 0},
    {"SituationEndsEveryLaterBranch", {"-S", "-D", "-l", "(?I{5})abc|def"},
     "re@1-1,0-15: 2 branches\n"
     "branch@1-1,0-12:\n"
     "  piece@1-1,8-10: a\n"
     "  piece@1-1,9-11: b\n"
     "  piece@1-1,10-12: c\n" + sid_elem("1-1,12-12", 5) +
     "branch@1-1,12-15:\n"
     "  piece@1-1,12-14: d\n"
     "  piece@1-1,13-15: e\n"
     "  piece@1-1,14-15: f\n" + sid_elem("1-1,15-15", 5), "", 0},
    {"FirstBranchOfOnlyASituationIsDropped", {"-S", "-D", "-l", "(?I{5})|abc"},
     "re@1-1,0-12: 1 branches\n"
     "branch@1-1,9-12:\n"
     "  piece@1-1,9-11: a\n"
     "  piece@1-1,10-12: b\n"
     "  piece@1-1,11-12: c\n" + sid_elem("1-1,12-12", 5), "", 0},
    {"VariableExpressionWithUnlimitedBound", {"-S", "-D", "--show-variables", "-l", "(?[* x++])"},
     "re@1-1,0-11: 1 branches\n"
     "branch@1-1,0-11:\n"
     "  varexp@1-1,0-11 (bound *):\n"
     "  oper: post++, num_args = 1, result_size = 1\n"
     "    oper: variable, num_args = 0, result_size = 1\n"
     "      name: x, shared: 0\n"
     "Variables:\n"
     "  x@1 (id 0)\n", "", 0},
    {"SharedVariableOfThirtyTwoBits", {"-S", "-D", "--show-variables", "-l", "(?[$x@32 += 5])"},
     "re@1-1,0-16: 1 branches\n"
     "branch@1-1,0-16:\n"
     "  varexp@1-1,0-16 (bound 1):\n"
     "  oper: +=, num_args = 2, result_size = 32\n"
     "    oper: variable, num_args = 0, result_size = 32\n"
     "      name: x, shared: 1\n"
     "    oper: literal, num_args = 0, result_size = 8\n"
     "      value: 5\n"
     "Variables:\n"
     "  $x@32 (id 0)\n", "", 0},
    {"AssignmentBindsTighterThanConditional", {"-S", "-D", "-l", "(?[a = b ? c : d])"},
     "re@1-1,0-19: 1 branches\n"
     "branch@1-1,0-19:\n"
     "  varexp@1-1,0-19 (bound 1):\n"
     "  oper: ?:, num_args = 3, result_size = 1\n"
     "    oper: =, num_args = 2, result_size = 1\n"
     "      oper: variable, num_args = 0, result_size = 1\n"
     "        name: a, shared: 0\n"
     "      oper: variable, num_args = 0, result_size = 1\n"
     "        name: b, shared: 0\n"
     "    oper: variable, num_args = 0, result_size = 1\n"
     "      name: c, shared: 0\n"
     "    oper: variable, num_args = 0, result_size = 1\n"
     "      name: d, shared: 0\n", "", 0},
    {"ImplicationBindsLooserThanSequence", {"-S", "-D", "-l", "(?[a -> b , c])"},
     "re@1-1,0-16: 1 branches\n"
     "branch@1-1,0-16:\n"
     "  varexp@1-1,0-16 (bound 1):\n"
     "  oper: ->, num_args = 2, result_size = 0\n"
     "    oper: variable, num_args = 0, result_size = 1\n"
     "      name: a, shared: 0\n"
     "    oper: ,, num_args = 2, result_size = 1\n"
     "      oper: variable, num_args = 0, result_size = 1\n"
     "        name: b, shared: 0\n"
     "      oper: variable, num_args = 0, result_size = 1\n"
     "        name: c, shared: 0\n", "", 0},
    {"RegexArgumentIsPrintedUnderItsNode", {"-S", "-D", "-l", "(?[regex{3}(ab)])"},
     "re@1-1,0-18: 1 branches\n"
     "branch@1-1,0-18:\n"
     "  varexp@1-1,0-18 (bound 1):\n"
     "  oper: subexp, num_args = 0, result_size = 0\n"
     "    subexp (bound 3):\n"
     "    re@1-1,13-16: 1 branches\n"
     "    branch@1-1,13-16:\n"
     "      piece@1-1,13-15: a\n"
     "      piece@1-1,14-16: b\n", "", 0},
    {"SubexpressionAfterVariableExpression", {"-S", "-D", "--show-variables", "-l", "a(?[x=1])(?>b)"},
     "re@1-1,0-15: 1 branches\n"
     "branch@1-1,0-10:\n"
     "  piece@1-1,0-5: a\n"
     "  varexp@1-1,2-10 (bound 1):\n"
     "  oper: =, num_args = 2, result_size = 1\n"
     "    oper: variable, num_args = 0, result_size = 1\n"
     "      name: x, shared: 0\n"
     "    oper: literal, num_args = 0, result_size = 1\n"
     "      value: 1\n"
     "  varexp@1-1,10-15 (bound 1):\n"
     "  oper: subexp, num_args = 0, result_size = 0\n"
     "    subexp (bound 1):\n"
     "    re@1-1,13-15: 1 branches\n"
     "    branch@1-1,13-15:\n"
     "      piece@1-1,13-15: b\n"
     "      varexp@1-1,15-15 (bound 1):\n"
     "      oper: cancel, num_args = 0, result_size = 0\n"
     "Variables:\n"
     "  x@1 (id 0)\n", "", 0},
    {"VgrPrintsOffsets", {"-M", "-S", "-D", "-l", "ab(?[x++])"},
     "re@0-11: 1 branches\n"
     "branch@0-11:\n"
     "  piece@0-3: a\n"
     "  piece@2-6: b\n"
     "  varexp@3-11 (bound 1):\n"
     "  oper: post++, num_args = 1, result_size = 1\n"
     "    oper: variable, num_args = 0, result_size = 1\n"
     "      name: x, shared: 0\n", "", 0},
    {"LowLevelDotIsEveryByte", {"--low-level-DFA", "-S", "-D", "-l", "(?I{1})."},
     "re@1-1,0-9: 1 branches\n"
     "branch@1-1,0-9:\n"
     "  piece@1-1,8-9: [^]\n" + sid_elem("1-1,9-9", 1), "", 0},
};
INSTANTIATE_TEST_SUITE_P(Dumps, GrammarCli, testing::ValuesIn(trees),
                         [](const testing::TestParamInfo<cli_case> &i) { return i.param.name; });

const cli_case errors[] = {
    {"ZeroBound", {"-S", "-D", "-l", "a{0}"}, "",
     "<cmdline arg>:1-1,0-5: invalid bounds\n" + failed, 1},
    {"ZeroUpperBound", {"-S", "-l", "a{,0}"}, "",
     "<cmdline arg>:1-1,0-6: invalid bounds\n" + failed, 1},
    {"ReversedBounds", {"-S", "-l", "a{3,2}"}, "",
     "<cmdline arg>:1-1,0-7: invalid bounds\n" + failed, 1},
    {"ReversedBoundsOfAModifierGroup", {"-S", "-l", "(?i:a){3,2}"}, "",
     "<cmdline arg>:1-1,0-12: invalid bounds\n" + failed, 1},
    {"BoundOfAllOnesIsTooLarge", {"-S", "-l", "a{4294967295}"}, "",
     "<cmdline arg>:1-1,2-14: too large bound\n" + failed, 1},
    {"LargestBound", {"-S", "-l", "a{4294967294}"}, "", "", 0},
    {"AssertionWithBoundTwo", {"-S", "-l", "\\z{2}"}, "",
     "<cmdline arg>:1-1,0-6: you can't give other bounds than 0, 1, andInf for an assertion\n" +
         failed, 1},
    {"AssertionOptional", {"-S", "-l", "\\z?"}, "", "", 0},
    {"RangeEndBeforeBegin", {"-S", "-l", "(?i)[a-Z]"}, "",
     "<cmdline arg>:1-1,6-9: range end is before range begin\n" + failed, 1},
    {"CaseInsensitiveRangeMixingLetters", {"-S", "-l", "(?i)[0-Z]"}, "",
     "<cmdline arg>:1-1,6-9: In case insensitive mode, any range that contains alphabets must "
     "either contain only uppercase alphabets or only lowercase alphabets, or all uppercase and "
     "lowercase alphabets\n" + failed, 1},
    {"BitmaskWarnsWhenCaseInsensitive", {"-S", "-l", "(?i)a\\&a"}, "",
     "<cmdline arg>:1-1,5-9: warning: warning: case insensitive mode is ignored with bitmask "
     "operator \\&\n", 0},
    {"BitmaskOfSpecialSymbol", {"-S", "-l", "\\m\\&a"}, "",
     "<cmdline arg>:1-1,0-6: Bitmask operator \\& is only allowed between ordinary characters\n" +
         failed, 1},
    {"RangeMissingItsEnd", {"-S", "-l", "[a-]"}, "",
     "<cmdline arg>:1-1,4-5: syntax error, unexpected ']', expecting TOK_CHAR or TOK_HEX_CHAR\n" +
         failed, 1},
    {"HyphenFirstInBracket", {"-S", "-l", "[-a]"}, "",
     "<cmdline arg>:1-1,2-3: syntax error, unexpected '-'\n" + failed, 1},
    {"LeadingBar", {"-S", "-l", "|a"}, "",
     "<cmdline arg>:1-1,0-2: syntax error, unexpected '|'\n" + failed, 1},
    {"TwoBars", {"-S", "-l", "a||b"}, "",
     "<cmdline arg>:1-1,3-4: syntax error, unexpected '|'\n" + failed, 1},
    {"TwoBounds", {"-S", "-l", "a{2}{3}"}, "",
     "<cmdline arg>:1-1,5-6: syntax error, unexpected '{', expecting $end\n" + failed, 1},
    {"BoundAfterSimpleModifier", {"-S", "-l", "(?i)*"}, "",
     "<cmdline arg>:1-1,5-6: syntax error, unexpected '*', expecting $end\n" + failed, 1},
    {"BoundAfterSituation", {"-S", "-l", "(?I{5})*"}, "",
     "<cmdline arg>:1-1,8-9: syntax error, unexpected '*', expecting $end\n" + failed, 1},
    {"UnclosedVariableExpression", {"-S", "-l", "(?[x"}, "",
     "<cmdline arg>:1-1,4-5: syntax error, unexpected $end\n" + failed, 1},
    {"ConditionTestsOnlyBits", {"-S", "-l", "a(?{x == 2})"}, "",
     "<cmdline arg>:1-1,10-11: syntax error, unexpected TOK_UINT8, expecting TOK_UINT1\n" +
         failed, 1},
    {"ScannerErrorBecomesTokError", {"-S", "-l", "a{09}"}, "",
     "<cmdline arg>:1-1,3-5: expected integer, got 09\n"
     "<cmdline arg>:1-1,3-5: syntax error, unexpected TOK_ERROR\n" + failed, 1},
    {"EmptyLaterBranch", {"-S", "-l", "abc|(?I{5})"}, "",
     "<cmdline arg>:1-1,0-12: empty branch not allowed\n" + failed, 1},
    {"EmptyBranchInGroup", {"-S", "-l", "(a|(?i))"}, "",
     "<cmdline arg>:1-1,2-8: empty branch not allowed\n" + failed, 1},
    {"SubexpressionNeedsAnElementBefore", {"-S", "-l", "(?>def)"}, "",
     "<cmdline arg>:1-1,0-4: syntax error, unexpected TOK_SUBEXP_START\n" + failed, 1},
    {"VariableExpressionInSubexpression", {"-S", "-l", "abc(?>de(?[x=1])f)"}, "",
     "<cmdline arg>:1-1,9-17: you can't use (?[...]) within (?>...)\n" + failed, 1},
    {"SubexpressionBoundAbove31", {"-S", "-l", "a(?>{32}b)"}, "",
     "<cmdline arg>:1-1,6-8: Too large subexpression count bound: 32 (max 31)\n" + failed, 1},
    {"VariableExpressionBoundAbove31", {"-S", "-l", "(?[{32} x++])"}, "",
     "<cmdline arg>:1-1,5-7: Too large subexpression count bound: 32 (max 31)\n" + failed, 1},
    {"VariableExpressionBound31", {"-S", "-l", "(?[{31} x++])"}, "", "", 0},
    {"UnknownVariableSize", {"-S", "-l", "(?[x@12])"}, "",
     "<cmdline arg>:1-1,5-8: unknown variable size: 12\n" + failed, 1},
    {"VoidCondition", {"-S", "-l", "(?[void -> x = 1])"}, "",
     "<cmdline arg>:1-1,4-17: void type condition\n" + failed, 1},
    {"SidWithoutSituation", {"-S", "-l", "(?[sid()])"}, "",
     "<cmdline arg>:1-1,4-9: sid() has no effect here because the current situation has not "
     "been set by (?I{...})\n" + failed, 1},
    {"ParseBeLength", {"-S", "-l", "(?[parse_be(12)])"}, "",
     "<cmdline arg>:1-1,4-16: Length for parse_be() must be 8, 16, 24, 32, 40, 48, 56, or 64 "
     "(was 12)\n" + failed, 1},
    {"ParseLeLength", {"-S", "-l", "(?[parse_le(0)])"}, "",
     "<cmdline arg>:1-1,4-15: Length for parse_le() must be 8, 16, 24, 32, 40, 48, 56, or 64 "
     "(was 0)\n" + failed, 1},
    {"ConditionWithoutEffect", {"-S", "-l", "abc(?{x == 1})"}, "",
     "<cmdline arg>:1-1,7-13: warning: statement with no effect\n", 0},
    {"QuietSuppressesWarnings", {"-q", "-S", "-l", "abc(?{x == 1})"}, "", "", 0},
    {"VgrMessagesHaveOffsetsAndNoFinalLine", {"-M", "-S", "-D", "-l", "a{0}"}, "",
     "0-5: invalid bounds\n", 1},
    {"VgrIsQuiet", {"-VGR", "-S", "-l", "\\Ca"}, "", "", 0},
};
INSTANTIATE_TEST_SUITE_P(Messages, GrammarCli, testing::ValuesIn(errors),
                         [](const testing::TestParamInfo<cli_case> &i) { return i.param.name; });

const cli_case low_level[] = {
    {"SpecialSymbolAtom", {"--low-level-DFA", "-S", "-l", "(?I{1})a\\m"}, "",
     "<cmdline arg>:1-1,9-11: special symbols are not allowed in low-level DFAs\n" + failed, 1},
    {"SpecialSymbolInBracket", {"--low-level-DFA", "-S", "-l", "(?I{1})[a\\z]"}, "",
     "<cmdline arg>:1-1,10-12: special symbols are not allowed in low-level DFAs\n" + failed, 1},
    {"SpecialSymbolInBitmask", {"--low-level-DFA", "-S", "-l", "(?I{1})a\\&\\M"}, "",
     "<cmdline arg>:1-1,11-13: special symbols are not allowed in low-level DFAs\n" + failed, 1},
    {"SpecialSymbolInRange", {"--low-level-DFA", "-S", "-l", "(?I{1})[a-\\@]"}, "",
     "<cmdline arg>:1-1,11-13: special symbols are not allowed in low-level DFAs\n" + failed, 1},
    {"BranchWithoutSituation", {"--low-level-DFA", "-S", "-l", "abc"}, "",
     "<cmdline arg>:1-1,0-4: low-level DFA branch end without defined situation\n" + failed, 1},
    {"Condition", {"--low-level-DFA", "-S", "-l", "(?I{1})abc(?{x==1})"}, "",
     "<cmdline arg>:1-1,0-20: You can't use conditions with low-level DFAs\n" + failed, 1},
    {"Subexpression", {"--low-level-DFA", "-S", "-l", "(?I{1})abc(?>d)"}, "",
     "<cmdline arg>:1-1,11-16: You can't use subexpressions with low-level DFAs\n" + failed, 1},
    {"VariableExpression", {"--low-level-DFA", "-S", "-l", "(?I{1})a(?[x++])"}, "",
     "<cmdline arg>:1-1,9-17: You can't use variable expressions when compiling a low-level "
     "DFA\n" + failed, 1},
};
INSTANTIATE_TEST_SUITE_P(LowLevel, GrammarCli, testing::ValuesIn(low_level),
                         [](const testing::TestParamInfo<cli_case> &i) { return i.param.name; });

const std::string warn_x = "warning: variable name \"x\" used with different size and/or scope\n";

const cli_case registry[] = {
    {"SameNameOtherSize", {"-S", "--show-variables", "-l", "(?[x = 1, x@8 = 2])"},
     "Variables:\n  x@1 (id 0)\n  x@8 (id 1)\n",
     warn_x + "<cmdline arg>:1-1,5-7: first occurence\n"
              "<cmdline arg>:1-1,12-14: the other occurence\n", 0},
    {"OneBlockPerEarlierVariable", {"-S", "--show-variables", "-l", "(?[x++, $x++, x@16++])"},
     "Variables:\n  x@1 (id 0)\n  x@16 (id 2)\n  $x@1 (id 1)\n",
     warn_x + "<cmdline arg>:1-1,5-7: first occurence\n"
              "<cmdline arg>:1-1,9-13: the other occurence\n" +
     warn_x + "<cmdline arg>:1-1,5-7: first occurence\n"
              "<cmdline arg>:1-1,16-19: the other occurence\n" +
     warn_x + "<cmdline arg>:1-1,9-13: first occurence\n"
              "<cmdline arg>:1-1,16-19: the other occurence\n", 0},
    {"QuietRegistry", {"-q", "-S", "--show-variables", "-l", "(?[x++, $x++, x@16++])"},
     "Variables:\n  x@1 (id 0)\n  x@16 (id 2)\n  $x@1 (id 1)\n", "", 0},
    {"LocalFirstThenByNameThenSize",
     {"-S", "--show-variables", "-l", "(?[$b@32 = 1, a@8 = 2, $a = 1, $offset])"},
     "Variables:\n  a@8 (id 1)\n  offset@32 (id 3)\n  $a@1 (id 2)\n  $b@32 (id 0)\n",
     "warning: variable name \"a\" used with different size and/or scope\n"
     "<cmdline arg>:1-1,16-18: first occurence\n"
     "<cmdline arg>:1-1,24-28: the other occurence\n", 0},
    {"SyntaxErrorPrintsNoListing", {"-S", "-D", "--show-variables", "-l", "(?[x++"}, "",
     "<cmdline arg>:1-1,5-7: syntax error, unexpected $end\n" + failed, 1},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Registry, GrammarCli, testing::ValuesIn(registry),
                         [](const testing::TestParamInfo<cli_case> &i) { return i.param.name; });

} // namespace
