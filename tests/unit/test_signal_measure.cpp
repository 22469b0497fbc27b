// The measurement core against synthetic signals: a clock written and read back at each of
// the analyzer's sample periods, the pulse under a point, gaps, snapping.
#include "capture/export.h"
#include "measure/capture_file.h"
#include "measure/signal_measure.h"

#include <gtest/gtest.h>

using namespace quillon;

namespace {

constexpr std::int64_t kSamples = 4032;
constexpr int kClock = 3;
constexpr int kPeriod = 40; // samples
constexpr int kHigh = 10;
constexpr int kPhase = 5; // the first rising edge

// D3: a clock of 40 samples, 10 high, rising first at sample 5; D9: a lone pulse 100..102.
CaptureData ClockCapture(int rate) {
    CaptureData capture;
    capture.rate = rate;
    for (std::int64_t i = 0; i < kSamples; ++i) {
        const bool high = i >= kPhase && (i - kPhase) % kPeriod < kHigh;
        const bool pulse = i >= 100 && i < 103;
        capture.samples.push_back(
            static_cast<std::uint16_t>((high ? 1U << kClock : 0U) | (pulse ? 1U << 9 : 0U)));
    }
    return capture;
}

} // namespace

class ClockAtRate : public ::testing::TestWithParam<int> {};

TEST_P(ClockAtRate, EdgesPulsesPeriodAndDutyCycleSurviveTheFile) {
    const int rate = GetParam();
    CaptureData read;
    ReadError error;
    ASSERT_TRUE(ReadVcd("clock.vcd", ToVcd(ClockCapture(rate)), read, error)) << error.Text();
    const EdgeIndex edges = IndexEdges(read);
    const ChannelSummary s = SummarizeChannel(read, edges, kClock);
    EXPECT_EQ(s.rising, 101); // at 5, 45, ..., 4005
    EXPECT_EQ(s.falling, 101);
    EXPECT_EQ(s.shortestHighSamples, kHigh);
    EXPECT_EQ(s.shortestLowSamples, kPeriod - kHigh);
    ASSERT_TRUE(s.periodSamples.has_value());
    // 40 samples of 20 ns x rate: 800 ns, 8 us, 80 us, 800 us.
    const double periodSeconds = *s.periodSamples * static_cast<double>(read.PeriodPs()) * 1e-12;
    EXPECT_DOUBLE_EQ(periodSeconds, 800e-9 * rate);
    EXPECT_DOUBLE_EQ(*s.dutyCycle, 0.25);

    const ChannelSummary lone = SummarizeChannel(read, edges, 9);
    EXPECT_EQ(lone.rising, 1);
    EXPECT_EQ(lone.shortestHighSamples, 3);
    EXPECT_FALSE(lone.shortestLowSamples.has_value()); // the lows are not whole pulses
    EXPECT_FALSE(lone.periodSamples.has_value());
}

INSTANTIATE_TEST_SUITE_P(Rates, ClockAtRate, ::testing::Values(1, 10, 100, 1000));

TEST(SignalMeasure, ThePulseUnderThePointer) {
    const CaptureData capture = ClockCapture(1);
    const EdgeIndex edges = IndexEdges(capture);
    const auto high = MeasureAt(capture, edges, kClock, 50); // high from 45 to 55
    ASSERT_TRUE(high.has_value());
    EXPECT_TRUE(high->level);
    EXPECT_EQ(high->widthSamples, kHigh);
    EXPECT_EQ(high->periodSamples, kPeriod);
    EXPECT_EQ(high->highSamples, kHigh);
    const auto low = MeasureAt(capture, edges, kClock, 60); // low from 55 to 85
    ASSERT_TRUE(low.has_value());
    EXPECT_FALSE(low->level);
    EXPECT_EQ(low->widthSamples, kPeriod - kHigh);
    EXPECT_EQ(low->highSamples, kHigh);
    const auto first = MeasureAt(capture, edges, kClock, 2); // before the first edge
    ASSERT_TRUE(first.has_value());
    EXPECT_FALSE(first->widthSamples.has_value());
    EXPECT_FALSE(MeasureAt(capture, edges, kClock, kSamples).has_value());
}

TEST(SignalMeasure, NothingIsMeasuredAcrossSamplesNotReceived) {
    CaptureData capture = ClockCapture(1);
    capture.received.assign(kSamples, 1);
    for (std::int64_t i = 1000; i < 1128; ++i) { // one lost packet
        capture.received[static_cast<std::size_t>(i)] = 0;
    }
    const EdgeIndex edges = IndexEdges(capture);
    ASSERT_EQ(edges.gaps.size(), 1U);
    EXPECT_EQ(edges.gaps[0], std::make_pair(std::int64_t{1000}, std::int64_t{1128}));
    for (const std::int64_t e : edges.edges[kClock]) {
        EXPECT_TRUE(e <= 1000 || e > 1128) << e;
    }
    EXPECT_FALSE(MeasureAt(capture, edges, kClock, 1050).has_value());
    // 965..975 high, 975..1005 low runs into the gap: no width there.
    const auto beforeGap = MeasureAt(capture, edges, kClock, 990);
    ASSERT_TRUE(beforeGap.has_value());
    EXPECT_FALSE(beforeGap->widthSamples.has_value());
    const ChannelSummary s = SummarizeChannel(capture, edges, kClock);
    EXPECT_FALSE(s.periodSamples.has_value());
    EXPECT_EQ(s.shortestHighSamples, kHigh);
}

TEST(SignalMeasure, CursorsSnapToTheNearestEdgeWithinReach) {
    const CaptureData capture = ClockCapture(1);
    const EdgeIndex edges = IndexEdges(capture);
    EXPECT_EQ(NearestEdge(edges, kClock, 47.0, 3.0), 45);
    EXPECT_EQ(NearestEdge(edges, kClock, 52.5, 3.0), 55);
    EXPECT_FALSE(NearestEdge(edges, kClock, 50.0, 3.0).has_value());
    EXPECT_FALSE(NearestEdge(edges, 15, 50.0, 1e9).has_value()); // a channel without edges
}
