// SPDX-License-Identifier: MIT
#include "player/ProgramCommandLine.h"

#include <gtest/gtest.h>

namespace zelvor {

void PrintTo(const ProgramCandidate& candidate, std::ostream* out)
{
    *out << "{\"" << candidate.program << "\", \"" << candidate.arguments << "\"}";
}

namespace {

using Candidates = std::vector<ProgramCandidate>;
using Words = std::vector<std::string>;

TEST(ProgramCandidates, UnquotedLineWithBlanksIsTriedPrefixByPrefix)
{
    EXPECT_EQ(programCandidates("C:\\Program Files\\Winamp\\winamp.exe"),
              (Candidates{{"C:\\Program", "Files\\Winamp\\winamp.exe"},
                          {"C:\\Program Files\\Winamp\\winamp.exe", ""}}));
    EXPECT_EQ(programCandidates("/opt/my player/run -x 1"),
              (Candidates{{"/opt/my", "player/run -x 1"},
                          {"/opt/my player/run", "-x 1"},
                          {"/opt/my player/run -x", "1"},
                          {"/opt/my player/run -x 1", ""}}));
}

TEST(ProgramCandidates, RunsOfBlanksSeparateOnceAndEdgesAreIgnored)
{
    EXPECT_EQ(programCandidates("  mpd \t --no-daemon  "),
              (Candidates{{"mpd", "\t --no-daemon"}, {"mpd \t --no-daemon", ""}}));
    EXPECT_EQ(programCandidates("mpd"), (Candidates{{"mpd", ""}}));
}

TEST(ProgramCandidates, QuotedFirstWordIsTheOnlyProgram)
{
    EXPECT_EQ(programCandidates("\"/opt/my player/run\" -a \"b c\""),
              (Candidates{{"/opt/my player/run", " -a \"b c\""}}));
    EXPECT_EQ(programCandidates("\"/opt/my player/run"), (Candidates{{"/opt/my player/run", ""}}));
}

TEST(ProgramCandidates, NoProgramGivesNoCandidate)
{
    EXPECT_TRUE(programCandidates("").empty());
    EXPECT_TRUE(programCandidates(" \t ").empty());
    EXPECT_TRUE(programCandidates("\"\" -x").empty());
}

struct SplitCase
{
    const char* name;
    const char* text;
    Words words;
};

void PrintTo(const SplitCase& row, std::ostream* out)
{
    *out << row.name;
}

class SplitArguments : public ::testing::TestWithParam<SplitCase>
{};

TEST_P(SplitArguments, FollowsWindowsQuotingRules)
{
    EXPECT_EQ(splitArguments(GetParam().text), GetParam().words);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitArguments,
    ::testing::Values(
        SplitCase{"BlanksAndTabsSeparate", " a\tb  c ", {"a", "b", "c"}},
        SplitCase{"QuotesGroupBlanks", "\"a b\" c", {"a b", "c"}},
        SplitCase{"QuotesJoinInsideAWord", "a\"b c\"d e", {"ab cd", "e"}},
        SplitCase{"EmptyQuotesAreAnEmptyWord", "a \"\" b", {"a", "", "b"}},
        SplitCase{"BackslashesWithoutQuoteStay", "a\\\\b c\\", {"a\\\\b", "c\\"}},
        SplitCase{"EvenBackslashesBeforeQuoteHalveAndGroup", "a\\\\\"b c\"", {"a\\b c"}},
        SplitCase{"OddBackslashesBeforeQuoteGiveLiteralQuote", "a\\\"b c", {"a\"b", "c"}},
        SplitCase{"DoubledQuoteInsideQuotesIsLiteral", "\"a\"\"b\" c", {"a\"b", "c"}},
        SplitCase{"UnclosedQuoteRunsToTheEnd", "\"a b", {"a b"}},
        SplitCase{"NothingGivesNoWords", "  ", {}}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace zelvor
