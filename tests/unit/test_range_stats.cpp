// Statistics between two points of a capture: pulses cut by the range's ends, samples not
// received, no edges at all, a one-sample glitch.
#include "measure/range_stats.h"

#include <gtest/gtest.h>

using namespace quillon;

namespace {

constexpr std::int64_t kN = 100;

// D0: a clock of 10 samples rising at 5, 15, ..., 95, high for 3. D1: always high. D2: D0
// with samples 50..52 not received. D3: one sample high, at 50. D4: D0 with every sample from
// 30 on not received.
CapturePtr TestCapture() {
    CaptureBuilder builder(5, SamplePeriod::FromHz(1'000'000));
    builder.Resize(kN);
    for (std::int64_t s = 5; s < kN; s += 10) {
        for (int channel : {0, 2, 4}) {
            builder.Fill(channel, s, s + 3, true);
        }
    }
    builder.Fill(1, 0, kN, true);
    builder.SetLevel(3, 50, true);
    builder.MarkMissing(2, 50, 53);
    builder.MarkMissing(4, 30, kN);
    return builder.Finish();
}

struct StatsCase {
    const char* name;
    int channel;
    std::int64_t first;
    std::int64_t end;
    std::int64_t rising, falling;
    std::int64_t highs, highMin, highMax;
    std::int64_t lows, lowMin, lowMax;
    std::int64_t periods;
};

class RangeStatsTest : public ::testing::TestWithParam<StatsCase> {};

TEST_P(RangeStatsTest, CountsOnlyWholePulsesOfReceivedSamples) {
    static const CapturePtr capture = TestCapture();
    const StatsCase& c = GetParam();
    const RangeStats s = MeasureRange(*capture, c.channel, c.first, c.end);
    EXPECT_EQ(s.rising, c.rising);
    EXPECT_EQ(s.falling, c.falling);
    EXPECT_EQ(s.high.count, c.highs);
    EXPECT_EQ(s.low.count, c.lows);
    if (c.highs > 0) {
        EXPECT_EQ(s.high.shortest, c.highMin);
        EXPECT_EQ(s.high.longest, c.highMax);
    } else {
        EXPECT_FALSE(s.high.Mean().has_value());
    }
    if (c.lows > 0) {
        EXPECT_EQ(s.low.shortest, c.lowMin);
        EXPECT_EQ(s.low.longest, c.lowMax);
    }
    EXPECT_EQ(s.periods, c.periods);
    if (c.periods > 0) {
        ASSERT_TRUE(s.periodSamples && s.dutyCycle);
        EXPECT_DOUBLE_EQ(*s.periodSamples, 10.0);
        EXPECT_DOUBLE_EQ(*s.dutyCycle, 0.3);
    } else {
        EXPECT_FALSE(s.periodSamples.has_value());
        EXPECT_FALSE(s.dutyCycle.has_value());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, RangeStatsTest,
    ::testing::Values(
        // The low before the first edge and after the last are cut by the capture's ends.
        StatsCase{"whole", 0, 0, -1, 10, 10, 10, 3, 3, 9, 7, 7, 9},
        // Cursors on two rising edges: the low ending on the second one is whole.
        StatsCase{"onEdges", 0, 15, 45, 3, 3, 3, 3, 3, 3, 7, 7, 3},
        // Cut inside a high and inside a low: those two are not measured.
        StatsCase{"cut", 0, 16, 44, 2, 3, 2, 3, 3, 2, 7, 7, 1},
        StatsCase{"noEdges", 1, 0, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        StatsCase{"empty", 0, 40, 40, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        StatsCase{"beyondTheEnd", 0, 90, 500, 1, 1, 1, 3, 3, 0, 0, 0, 0},
        // The low across samples not received is no pulse, nor the period around it.
        StatsCase{"gap", 2, 0, -1, 10, 10, 10, 3, 3, 8, 7, 7, 8},
        StatsCase{"glitch", 3, 0, -1, 1, 1, 1, 1, 1, 0, 0, 0, 0},
        StatsCase{"allMissingAfter", 4, 0, -1, 3, 3, 3, 3, 3, 2, 7, 7, 2},
        StatsCase{"insideTheGap", 4, 40, 90, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RangeStats, AnUnknownChannelMeasuresNothing) {
    const RangeStats s = MeasureRange(*TestCapture(), 7);
    EXPECT_EQ(s.rising + s.falling + s.high.count + s.low.count, 0);
}

} // namespace
