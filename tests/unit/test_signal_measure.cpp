// The measurement core against synthetic signals: a clock written and read back at each of
// the analyzer's sample periods, the pulse under a point, gaps, snapping.
#include "capture/capture_bridge.h"
#include "file/capture_file.h"
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
    FileReadError error;
    const CapturePtr model = ReadCaptureBytes(
        CaptureFileBytes(*ToCapture(ClockCapture(rate)), FileFormat::Vcd), "clock.vcd", {}, error);
    ASSERT_TRUE(model) << error.Text();
    const ChannelSummary s = SummarizeChannel(*model, kClock);
    EXPECT_EQ(s.rising, 101); // at 5, 45, ..., 4005
    EXPECT_EQ(s.falling, 101);
    EXPECT_EQ(s.shortestHighSamples, kHigh);
    EXPECT_EQ(s.shortestLowSamples, kPeriod - kHigh);
    ASSERT_TRUE(s.periodSamples.has_value());
    // 40 samples of 20 ns x rate: 800 ns, 8 us, 80 us, 800 us.
    const double periodSeconds = *s.periodSamples * model->Period().Seconds();
    EXPECT_DOUBLE_EQ(periodSeconds, 800e-9 * rate);
    EXPECT_DOUBLE_EQ(*s.dutyCycle, 0.25);

    const ChannelSummary lone = SummarizeChannel(*model, 9);
    EXPECT_EQ(lone.rising, 1);
    EXPECT_EQ(lone.shortestHighSamples, 3);
    EXPECT_FALSE(lone.shortestLowSamples.has_value()); // the lows are not whole pulses
    EXPECT_FALSE(lone.periodSamples.has_value());
}

INSTANTIATE_TEST_SUITE_P(Rates, ClockAtRate, ::testing::Values(1, 10, 100, 1000));

TEST(SignalMeasure, ThePulseUnderThePointer) {
    const CapturePtr capture = ToCapture(ClockCapture(1));
    const auto high = MeasureAt(*capture, kClock, 50); // high from 45 to 55
    ASSERT_TRUE(high.has_value());
    EXPECT_TRUE(high->level);
    EXPECT_EQ(high->widthSamples, kHigh);
    EXPECT_EQ(high->periodSamples, kPeriod);
    EXPECT_EQ(high->highSamples, kHigh);
    const auto low = MeasureAt(*capture, kClock, 60); // low from 55 to 85
    ASSERT_TRUE(low.has_value());
    EXPECT_FALSE(low->level);
    EXPECT_EQ(low->widthSamples, kPeriod - kHigh);
    EXPECT_EQ(low->highSamples, kHigh);
    const auto first = MeasureAt(*capture, kClock, 2); // before the first edge
    ASSERT_TRUE(first.has_value());
    EXPECT_FALSE(first->widthSamples.has_value());
    EXPECT_FALSE(MeasureAt(*capture, kClock, kSamples).has_value());
}

TEST(SignalMeasure, NothingIsMeasuredAcrossSamplesNotReceived) {
    CaptureData data = ClockCapture(1);
    data.received.assign(kSamples, 1);
    for (std::int64_t i = 1000; i < 1128; ++i) { // one lost packet
        data.received[static_cast<std::size_t>(i)] = 0;
    }
    const CapturePtr capture = ToCapture(data);
    for (auto e = capture->NextEdge(kClock, 0); e; e = capture->NextEdge(kClock, *e + 1)) {
        EXPECT_TRUE(*e < 1000 || *e > 1128) << *e;
    }
    EXPECT_FALSE(MeasureAt(*capture, kClock, 1050).has_value());
    // 965..975 high, 975..1005 low runs into the gap: no width there.
    const auto beforeGap = MeasureAt(*capture, kClock, 990);
    ASSERT_TRUE(beforeGap.has_value());
    EXPECT_FALSE(beforeGap->widthSamples.has_value());
    const ChannelSummary s = SummarizeChannel(*capture, kClock);
    EXPECT_FALSE(s.periodSamples.has_value());
    EXPECT_EQ(s.shortestHighSamples, kHigh);
    // Before the gap the clock is whole again.
    const ChannelSummary before = SummarizeChannel(*capture, kClock, 0, 1000);
    EXPECT_EQ(before.rising, 25); // 5, 45, ..., 965
    ASSERT_TRUE(before.periodSamples.has_value());
    EXPECT_DOUBLE_EQ(*before.periodSamples, kPeriod);
}

TEST(SignalMeasure, AGapOfOneChannelLeavesTheOthersWhole) {
    const CaptureData data = ClockCapture(1);
    CaptureBuilder builder(kAnalyzerChannels, SamplePeriod::FromPicoseconds(kSampleUnitPs));
    for (int c = 0; c < kAnalyzerChannels; ++c) {
        for (std::int64_t i = 0; i < kSamples; ++i) {
            builder.SetLevel(c, i, ((data.samples[static_cast<std::size_t>(i)] >> c) & 1U) != 0);
        }
    }
    builder.MarkMissing(9, 500, 600);
    const CapturePtr capture = builder.Finish();
    EXPECT_TRUE(SummarizeChannel(*capture, kClock).periodSamples.has_value());
    EXPECT_FALSE(MeasureAt(*capture, 9, 550).has_value());
    EXPECT_TRUE(MeasureAt(*capture, kClock, 550).has_value());
}

TEST(SignalMeasure, CursorsSnapToTheNearestEdgeWithinReach) {
    const CapturePtr capture = ToCapture(ClockCapture(1));
    EXPECT_EQ(NearestEdge(*capture, kClock, 47.0, 3.0), 45);
    EXPECT_EQ(NearestEdge(*capture, kClock, 52.5, 3.0), 55);
    EXPECT_EQ(NearestEdge(*capture, kClock, 50.0, 5.0), 55); // as near as 45: the later
    EXPECT_FALSE(NearestEdge(*capture, kClock, 50.0, 3.0).has_value());
    EXPECT_FALSE(NearestEdge(*capture, 15, 50.0, 1e9).has_value()); // a channel without edges
    EXPECT_EQ(NearestEdge(*capture, kClock, 0.0, 6.0), 5);          // near the start
}
