// The condition language and its matcher: what each condition finds on small captures drawn
// as text, the capture's ends and samples not received, faults and their positions, units,
// and the word-wise matcher against a sample-by-sample reading of the same definitions.
#include "search/condition.h"
#include "search/matcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>

namespace {

using namespace quillon;

constexpr std::int64_t k20ns = 20'000;

/// One row per channel, D0 first: '0', '1', or '?' for a sample not received.
CapturePtr Draw(const std::vector<std::string>& rows, std::vector<std::string> names = {},
                SamplePeriod period = SamplePeriod::FromPicoseconds(k20ns)) {
    CaptureBuilder builder(static_cast<int>(rows.size()), period);
    builder.Resize(static_cast<std::int64_t>(rows.front().size()));
    for (std::size_t c = 0; c < rows.size(); ++c) {
        const int channel = static_cast<int>(c);
        if (c < names.size()) {
            builder.SetChannelName(channel, names[c]);
        }
        for (std::size_t i = 0; i < rows[c].size(); ++i) {
            const auto at = static_cast<std::int64_t>(i);
            builder.SetLevel(channel, at, rows[c][i] == '1');
            if (rows[c][i] == '?') {
                builder.MarkMissing(channel, at, at + 1);
            }
        }
    }
    return builder.Finish();
}

using Spans = std::vector<std::pair<std::int64_t, std::int64_t>>;

Spans SpansOf(const std::vector<Match>& matches) {
    Spans spans;
    for (const auto& m : matches) {
        spans.emplace_back(m.sample, m.end);
    }
    return spans;
}

std::shared_ptr<const SearchAnnotations> UartAnnotations() {
    auto set = std::make_shared<SearchAnnotations>();
    set->decoders = {"uart", "uart-1"};
    set->items = {
        {"uart", "uart-1", 1, 4, {"ERR", "E"}, {0}},
        {"uart", "uart-1", 5, 8, {"OK"}, {0}},
        {"uart", "uart-1", 8, 11, {"ERR"}, {1}},  // D1 lost a sample under it
        {"uart", "uart-1", 9, 9, {"ERROR"}, {0}}, // a point
    };
    return set;
}

struct FindCase {
    const char* condition;
    std::vector<std::string> rows;
    Spans expected;
};

class FindTest : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindTest, FindsExactlyTheseSpans) {
    const FindCase& c = GetParam();
    const auto found = FindMatches(c.condition, Draw(c.rows, {"clk", "cs"}), UartAnnotations());
    ASSERT_TRUE(std::holds_alternative<std::vector<Match>>(found))
        << std::get<ConditionError>(found).message;
    EXPECT_EQ(SpansOf(std::get<std::vector<Match>>(found)), c.expected);
}

// Channel 0 is named clk, channel 1 cs; 20 ns a sample.
INSTANTIATE_TEST_SUITE_P(
    Conditions, FindTest,
    ::testing::Values(
        // Edges: none at sample 0, none beside a sample not received.
        FindCase{"D0 rise", {"0011001110"}, {{2, 3}, {6, 7}}},
        FindCase{"D0 fall", {"0011001110"}, {{4, 5}, {9, 10}}},
        FindCase{"D0 edge", {"1100"}, {{2, 3}}}, FindCase{"D0 edge", {"00?1100"}, {{5, 6}}},
        // Pulses are whole stretches; widths compare exactly with times between samples.
        FindCase{"D0 high<50ns", {"0100110001110"}, {{1, 2}, {4, 6}}},
        FindCase{"D0 high<40ns", {"0100110001110"}, {{1, 2}}},
        FindCase{"D0 high<=40ns", {"0100110001110"}, {{1, 2}, {4, 6}}},
        FindCase{"D0 high>40ns", {"0100110001110"}, {{9, 12}}},
        FindCase{"D0 high >= 40 ns", {"0100110001110"}, {{4, 6}, {9, 12}}},
        FindCase{"D0 high=40ns..60ns", {"0100110001110"}, {{4, 6}, {9, 12}}},
        FindCase{"D0 high=30..50ns", {"0100110001110"}, {{4, 6}}},
        FindCase{"D0 high=40ns", {"0100110001110"}, {{4, 6}}},
        FindCase{"D0 low>30ns", {"0100110001110"}, {{2, 4}, {6, 9}}},
        FindCase{"D0 high>0ns", {"1100110"}, {{4, 6}}},
        FindCase{"D0 low>0ns", {"1100110"}, {{2, 4}}},
        FindCase{"D0 high>0ns", {"0110?0110"}, {{1, 3}, {6, 8}}},
        FindCase{"D0 high>0ns", {"011?0"}, {}},
        // Levels and patterns: stretches, from the capture's start and after a gap.
        FindCase{"D0 high", {"1100111"}, {{0, 2}, {4, 7}}},
        FindCase{"D0 high", {"11?11"}, {{0, 2}, {3, 5}}},
        // D1 first; a sample not received on a channel marked x does not matter.
        FindCase{"pattern=1x", {"0111", "1?01"}, {{0, 1}, {3, 4}}},
        FindCase{"pattern=11", {"0111", "1?01"}, {{3, 4}}},
        FindCase{"pattern=x1", {"0111", "1?01"}, {{1, 4}}},
        FindCase{"pattern=xx", {"0111", "1?01"}, {{0, 1}, {2, 4}}},
        FindCase{"pattern=X0", {"0111", "1?01"}, {{0, 1}}},
        // Channels by name, by Dn, in another case, in quotes.
        FindCase{"clk rise", {"0101"}, {{1, 2}, {3, 4}}},
        FindCase{"CLK rise", {"0101"}, {{1, 2}, {3, 4}}},
        FindCase{"\"cs\" fall", {"0000", "1100"}, {{2, 3}}},
        FindCase{"d1 fall", {"0000", "1100"}, {{2, 3}}},
        // and: A's matches that share a sample with a match of B; or: both, once each.
        FindCase{"D0 rise and D1 high", {"010101", "000111"}, {{3, 4}, {5, 6}}},
        FindCase{"D1 high<100ns and D0 rise", {"0101010", "0001110"}, {{3, 6}}},
        FindCase{"D0 rise and D1 rise", {"010101", "000111"}, {{3, 4}}},
        FindCase{"D0 rise or D1 fall", {"0101010", "0001110"}, {{1, 2}, {3, 4}, {5, 6}, {6, 7}}},
        FindCase{"D0 rise or D0 edge", {"0101"}, {{1, 2}, {2, 3}, {3, 4}}},
        FindCase{"D0 rise or D1 rise and D0 fall", {"010101", "000111"}, {{1, 2}, {3, 4}, {5, 6}}},
        FindCase{"(D0 fall or D1 rise) and D1 high", {"010101", "000111"}, {{3, 4}, {4, 5}}},
        // Annotations: by decoder or instance, text contained, not over samples not received.
        FindCase{"ann=uart:ERR", {"000000000000", "00000000?000"}, {{1, 4}, {9, 9}}},
        FindCase{"ann=UART-1:O", {"000000000000", "000000000000"}, {{5, 8}, {9, 9}}},
        FindCase{"ann=uart", {"000000000000", "000000000000"}, {{1, 4}, {5, 8}, {8, 11}, {9, 9}}},
        FindCase{"ann=uart:\"ERROR\" and D0 high", {"000000000100", "000000000000"}, {{9, 9}}}));

struct FaultCase {
    const char* condition;
    std::size_t offset;
    const char* says;
};

class FaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultTest, RefusedAtTheFault) {
    const FaultCase& c = GetParam();
    const auto found =
        FindMatches(c.condition, Draw({"0101", "0011", "1111"}, {"clk"}), UartAnnotations());
    ASSERT_TRUE(std::holds_alternative<ConditionError>(found)) << c.condition;
    const auto& error = std::get<ConditionError>(found);
    EXPECT_EQ(error.offset, c.offset) << c.condition << ": " << error.message;
    EXPECT_NE(error.message.find(c.says), std::string::npos) << error.message;
}

INSTANTIATE_TEST_SUITE_P(
    Conditions, FaultTest,
    ::testing::Values(FaultCase{"", 0, "empty"}, FaultCase{"   ", 3, "empty"},
                      FaultCase{"D0", 2, "expected rise"}, FaultCase{"D0 rse", 3, "'rse'"},
                      FaultCase{"D0 high<50", 10, "unit"}, FaultCase{"D0 high<50xs", 10, "'xs'"},
                      FaultCase{"D0 high<ns", 8, "time"},
                      FaultCase{"D0 high=2us..1us", 13, "range"}, FaultCase{"D0 high=2", 9, "unit"},
                      FaultCase{"D0 rise and", 11, "condition"},
                      FaultCase{"D0 rise D1 fall", 8, "'D1'"}, FaultCase{"(D0 rise", 0, "closed"},
                      FaultCase{"D0 rise)", 7, "')'"}, FaultCase{"()", 1, "before ')'"},
                      FaultCase{"pattern=01y", 10, "'y'"}, FaultCase{"pattern=", 8, "pattern"},
                      FaultCase{"ann=", 4, "decoder"}, FaultCase{"\"clk rise", 0, "quote"},
                      FaultCase{"D0 high<99999999999999999999999999ns", 8, "digits"},
                      FaultCase{"D0 high<99999999s", 8, "too long"},
                      // Found when bound to the capture.
                      FaultCase{"D99 rise", 0, "no channel 'D99'"},
                      FaultCase{"D0 rise or X fall", 11, "(clk, D1, D2)"},
                      FaultCase{"D0 rise and pattern=0101", 20, "3 channels"},
                      FaultCase{"ann=spi:x", 4, "'spi'"},
                      // Offsets count bytes: µ takes two.
                      FaultCase{"D0 high<5\u00b5s or Q rise", 16, "'Q'"}));

TEST(ConditionTest, ColumnsCountCharacters) {
    const std::string text = "D0 high<5\u00b5s or Q rise";
    const auto found = FindMatches(text, Draw({"01"}));
    ASSERT_TRUE(std::holds_alternative<ConditionError>(found));
    EXPECT_EQ(std::get<ConditionError>(found).Column(text), 16);
}

TEST(ConditionTest, AnnotationsNeedDecoders) {
    const auto found = FindMatches("D0 rise or ann=uart:x", Draw({"01"}));
    ASSERT_TRUE(std::holds_alternative<ConditionError>(found));
    EXPECT_EQ(std::get<ConditionError>(found).offset, 15U);
    const auto parsed = ParseCondition("D0 rise or (D1 fall and ann=uart:x)");
    ASSERT_TRUE(std::holds_alternative<Condition>(parsed));
    EXPECT_TRUE(UsesAnnotations(std::get<Condition>(parsed).root));
    EXPECT_FALSE(UsesAnnotations(std::get<Condition>(ParseCondition("D0 rise")).root));
}

TEST(ConditionTest, NestingAndLengthAreBounded) {
    const std::string deep = std::string(5000, '(') + "D0 rise" + std::string(5000, ')');
    EXPECT_TRUE(std::holds_alternative<ConditionError>(ParseCondition(deep)));
    std::string longChain = "D0 rise";
    for (int i = 0; i < 5000; ++i) {
        longChain += " or D0 fall";
    }
    EXPECT_TRUE(std::holds_alternative<ConditionError>(ParseCondition(longChain)));
}

TEST(ConditionTest, TimesInEveryUnit) {
    const std::pair<const char*, std::int64_t> cases[] = {
        {"1ps", 1},
        {"1ns", 1'000},
        {"1us", 1'000'000},
        {"1\u00b5s", 1'000'000},
        {"1\u03bcs", 1'000'000},
        {"1ms", 1'000'000'000},
        {"1s", 1'000'000'000'000},
        {"1.5us", 1'500'000},
        {"0.25 ns", 250},
        {"41.6667ns", 41'667}, // to the nearest picosecond
    };
    for (const auto& [time, ps] : cases) {
        const auto parsed = ParseCondition(std::string("D0 low<") + time);
        ASSERT_TRUE(std::holds_alternative<Condition>(parsed)) << time;
        const auto& root = std::get<Condition>(parsed).root;
        ASSERT_TRUE(root.longest) << time;
        EXPECT_EQ(root.longest->time.count(), ps) << time;
        EXPECT_FALSE(root.longest->inclusive);
    }
    const auto range = std::get<Condition>(ParseCondition("D0 high=1..2us")).root;
    EXPECT_EQ(range.shortest->time.count(), 1'000'000);
    EXPECT_EQ(range.longest->time.count(), 2'000'000);
    EXPECT_TRUE(range.shortest->inclusive && range.longest->inclusive);
}

TEST(MatcherTest, WidthsOfAPeriodThatIsNoWholePicosecond) {
    // 3 MHz: 333.33... ns a sample.
    const auto capture = Draw({"010"}, {}, *SamplePeriod::Fraction(1, 3'000'000));
    EXPECT_EQ(std::get<std::vector<Match>>(FindMatches("D0 high<334ns", capture)).size(), 1U);
    EXPECT_EQ(std::get<std::vector<Match>>(FindMatches("D0 high<333ns", capture)).size(), 0U);
    EXPECT_EQ(std::get<std::vector<Match>>(FindMatches("D0 high>333ns", capture)).size(), 1U);
}

TEST(MatcherTest, NextPreviousAndWindows) {
    const auto capture = Draw({"0101010101"});
    const auto bound = Matcher::Bind(std::get<Condition>(ParseCondition("D0 rise")), capture);
    const auto& matcher = std::get<Matcher>(bound);
    EXPECT_EQ(matcher.Next(0)->sample, 1);
    EXPECT_EQ(matcher.Next(4)->sample, 5);
    EXPECT_EQ(matcher.Next(5)->sample, 5);
    EXPECT_FALSE(matcher.Next(10));
    EXPECT_EQ(matcher.Previous(5)->sample, 3);
    EXPECT_EQ(matcher.Previous()->sample, 9);
    EXPECT_FALSE(matcher.Previous(1));
    EXPECT_EQ(SpansOf(matcher.All(2, 8)), (Spans{{3, 4}, {5, 6}, {7, 8}}));
    EXPECT_EQ(matcher.All(0, -1, 2).size(), 2U);
    EXPECT_EQ(matcher.Next()->kind, Match::Kind::Rise);
    EXPECT_EQ(matcher.Next()->channel, 0);
}

// ---- The matcher against a sample-by-sample reading of the same definitions -------------

struct Reference {
    const Capture& capture;

    [[nodiscard]] bool Got(int c, std::int64_t i) const { return capture.IsReceived(c, i); }
    [[nodiscard]] bool At(int c, std::int64_t i) const { return capture.Level(c, i); }

    [[nodiscard]] std::vector<Match> Edges(int c, EdgeKind kind) const {
        std::vector<Match> out;
        for (std::int64_t j = 1; j < capture.SampleCount(); ++j) {
            if (Got(c, j - 1) && Got(c, j) && At(c, j) != At(c, j - 1) &&
                (kind == EdgeKind::Any || At(c, j) == (kind == EdgeKind::Rise))) {
                out.push_back(
                    {At(c, j) ? Match::Kind::Rise : Match::Kind::Fall, j, j + 1, c, false, -1});
            }
        }
        return out;
    }
    [[nodiscard]] std::vector<Match> Pulses(int c, bool high, std::int64_t lo,
                                            std::int64_t hi) const {
        const auto edges = Edges(c, EdgeKind::Any);
        std::vector<Match> out;
        for (std::size_t k = 0; k + 1 < edges.size(); ++k) {
            const std::int64_t a = edges[k].sample;
            const std::int64_t b = edges[k + 1].sample;
            bool whole = true;
            for (std::int64_t i = a; i <= b; ++i) {
                whole = whole && Got(c, i);
            }
            if (whole && At(c, a) == high && b - a >= lo && b - a <= hi) {
                out.push_back({Match::Kind::Pulse, a, b, c, high, -1});
            }
        }
        return out;
    }
    /// care: (channel, level); empty: every channel received.
    [[nodiscard]] std::vector<Match> Runs(const std::vector<std::pair<int, bool>>& care,
                                          Match::Kind kind) const {
        const auto holds = [&](std::int64_t i) {
            for (int c = 0; c < capture.ChannelCount(); ++c) {
                if (care.empty() && !Got(c, i)) {
                    return false;
                }
            }
            return std::all_of(care.begin(), care.end(), [&](const auto& p) {
                return Got(p.first, i) && At(p.first, i) == p.second;
            });
        };
        std::vector<Match> out;
        for (std::int64_t i = 0; i < capture.SampleCount();) {
            if (!holds(i)) {
                ++i;
                continue;
            }
            std::int64_t j = i;
            while (j < capture.SampleCount() && holds(j)) {
                ++j;
            }
            const bool single = kind == Match::Kind::Level;
            out.push_back({kind, i, j, single ? care[0].first : -1, single && care[0].second, -1});
            i = j;
        }
        return out;
    }
    static std::vector<Match> And(const std::vector<Match>& a, const std::vector<Match>& b) {
        std::vector<Match> out;
        for (const auto& m : a) {
            const bool overlaps = std::any_of(b.begin(), b.end(), [&](const Match& n) {
                return n.sample < std::max(m.end, m.sample + 1) &&
                       std::max(n.end, n.sample + 1) > m.sample;
            });
            if (overlaps) {
                out.push_back(m);
            }
        }
        return out;
    }
    static std::vector<Match> Or(std::vector<Match> a, const std::vector<Match>& b) {
        a.insert(a.end(), b.begin(), b.end());
        std::sort(a.begin(), a.end(), [](const Match& x, const Match& y) {
            return std::tie(x.sample, x.end, x.kind, x.channel, x.high) <
                   std::tie(y.sample, y.end, y.kind, y.channel, y.high);
        });
        a.erase(std::unique(a.begin(), a.end()), a.end());
        return a;
    }
};

/// Three channels of runs from 1 to 700 samples (quiet stretches of many words, and busy
/// ones), a few samples not received on channels 1 and 2.
CapturePtr RandomCapture(std::mt19937& random, std::int64_t count) {
    CaptureBuilder builder(3, SamplePeriod::FromPicoseconds(k20ns));
    builder.Resize(count);
    for (int c = 0; c < 3; ++c) {
        bool level = (random() & 1U) != 0;
        for (std::int64_t i = 0; i < count;) {
            const bool busy = random() % 3 == 0;
            const auto run =
                static_cast<std::int64_t>(busy ? 1 + random() % 5 : 1 + random() % 700);
            builder.Fill(c, i, std::min(count, i + run), level);
            level = !level;
            i += run;
        }
    }
    for (int g = 0; g < 4; ++g) {
        const auto at = static_cast<std::int64_t>(random() % static_cast<std::uint32_t>(count));
        builder.MarkMissing(1 + g % 2, at, at + 1 + static_cast<std::int64_t>(random() % 90));
    }
    return builder.Finish();
}

TEST(MatcherTest, AgreesWithASampleBySampleReading) {
    std::mt19937 random(21);
    for (int round = 0; round < 4; ++round) {
        const auto capture = RandomCapture(random, 12'000 + round * 1'000);
        const Reference ref{*capture};
        const std::pair<const char*, std::vector<Match>> cases[] = {
            {"D0 rise", ref.Edges(0, EdgeKind::Rise)},
            {"D1 fall", ref.Edges(1, EdgeKind::Fall)},
            {"D2 edge", ref.Edges(2, EdgeKind::Any)},
            {"D0 high<70ns", ref.Pulses(0, true, 1, 3)},
            {"D1 low>=2us", ref.Pulses(1, false, 100, INT64_MAX)},
            {"D2 high=1us..5us", ref.Pulses(2, true, 50, 250)},
            {"D1 high", ref.Runs({{1, true}}, Match::Kind::Level)},
            {"pattern=1x0", ref.Runs({{2, true}, {0, false}}, Match::Kind::Pattern)},
            {"pattern=011", ref.Runs({{2, false}, {1, true}, {0, true}}, Match::Kind::Pattern)},
            {"pattern=xxx", ref.Runs({}, Match::Kind::Pattern)},
            {"D0 rise and D1 high", Reference::And(ref.Edges(0, EdgeKind::Rise),
                                                   ref.Runs({{1, true}}, Match::Kind::Level))},
            {"D1 low>1us and D2 edge",
             Reference::And(ref.Pulses(1, false, 51, INT64_MAX), ref.Edges(2, EdgeKind::Any))},
            {"D0 high<100ns or D2 fall",
             Reference::Or(ref.Pulses(0, true, 1, 4), ref.Edges(2, EdgeKind::Fall))},
            {"(D0 edge or D1 edge) and pattern=x1x",
             Reference::And(Reference::Or(ref.Edges(0, EdgeKind::Any), ref.Edges(1, EdgeKind::Any)),
                            ref.Runs({{1, true}}, Match::Kind::Pattern))},
            {"D2 low and (D0 high>1us and D1 rise)",
             Reference::And(
                 ref.Runs({{2, false}}, Match::Kind::Level),
                 Reference::And(ref.Pulses(0, true, 51, INT64_MAX), ref.Edges(1, EdgeKind::Rise)))},
        };
        for (const auto& [text, expected] : cases) {
            const auto bound = Matcher::Bind(std::get<Condition>(ParseCondition(text)), capture);
            const auto& matcher = std::get<Matcher>(bound);
            const auto all = matcher.All();
            ASSERT_EQ(all, expected) << text << " round " << round;
            // Next and Previous from points all over the capture.
            for (int k = 0; k < 20; ++k) {
                const auto at = static_cast<std::int64_t>(
                    random() % static_cast<std::uint32_t>(capture->SampleCount()));
                const auto next = std::find_if(all.begin(), all.end(),
                                               [&](const Match& m) { return m.sample >= at; });
                const auto prev = std::find_if(all.rbegin(), all.rend(),
                                               [&](const Match& m) { return m.sample < at; });
                EXPECT_EQ(matcher.Next(at),
                          next == all.end() ? std::nullopt : std::optional<Match>(*next))
                    << text << " from " << at;
                EXPECT_EQ(matcher.Previous(at),
                          prev == all.rend() ? std::nullopt : std::optional<Match>(*prev))
                    << text << " before " << at;
            }
        }
    }
}

} // namespace
