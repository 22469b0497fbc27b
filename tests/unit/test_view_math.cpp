// The viewer's view arithmetic: zoom limits, columns of sample boundaries, the time axis and
// its texts, and the rows' layout.
#include "measure/view_math.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace quillon;

namespace {
constexpr std::int64_t kSamples = 4032;
constexpr int kWidth = 1824; // 1920 minus the names
} // namespace

TEST(ViewMath, ZoomStaysBetweenWholeCaptureAndFortyPixelsPerSample) {
    const Viewport all = FitAll(kSamples, kWidth);
    EXPECT_DOUBLE_EQ(all.pixelsPerSample, static_cast<double>(kWidth) / kSamples);
    EXPECT_EQ(all.firstSample, 0.0);

    Viewport v = ZoomAbout(all, 1e6, 100.0, kSamples);
    EXPECT_EQ(v.pixelsPerSample, kMaxPixelsPerSample);
    v = ZoomAbout(v, 1e-6, 100.0, kSamples);
    EXPECT_DOUBLE_EQ(v.pixelsPerSample, all.pixelsPerSample);
    EXPECT_EQ(v.firstSample, 0.0);
}

TEST(ViewMath, ZoomKeepsTheSampleUnderThePointerAndPanStopsAtTheEnds) {
    Viewport v = ZoomAbout(FitAll(kSamples, kWidth), 8.0, 600.0, kSamples);
    const double under = FitAll(kSamples, kWidth).SampleAtX(600.0);
    EXPECT_NEAR(v.SampleAtX(600.0), under, 1e-9);

    v = PanBy(v, -1e9, kSamples);
    EXPECT_EQ(v.firstSample, 0.0);
    v = PanBy(v, 1e9, kSamples);
    EXPECT_NEAR(v.firstSample + v.VisibleSamples(), static_cast<double>(kSamples), 1e-9);
}

TEST(ViewMath, EverySampleBoundaryOfTheWholeCaptureHasAColumnInsideTheWidth) {
    const Viewport v = FitAll(kSamples, kWidth);
    std::int64_t previous = 0;
    for (std::int64_t i = 0; i < kSamples; ++i) {
        const std::int64_t column = ColumnOfBoundary(v, i);
        ASSERT_GE(column, previous) << i;
        ASSERT_LT(column, kWidth) << i;
        previous = column;
    }
    // Deep zoom: a boundary every 40 pixels, from the first sample shown.
    Viewport deep = v;
    deep.pixelsPerSample = kMaxPixelsPerSample;
    deep.firstSample = 100.0;
    EXPECT_EQ(ColumnOfBoundary(deep, 100), 0);
    EXPECT_EQ(ColumnOfBoundary(deep, 103), 120);
    EXPECT_EQ(SampleAtColumn(deep, 119), 102);
    EXPECT_EQ(SampleAtColumn(deep, 120), 103);
}

struct TickCase {
    std::int64_t periodPs;
    double pixelsPerSample;
    const char* firstLabel; // the first tick after 0
    const char* secondLabel;
};

class TimeTicksAt : public ::testing::TestWithParam<TickCase> {};

TEST_P(TimeTicksAt, LabelsInEngineeringUnitsAtRegularPlaces) {
    const TickCase c = GetParam();
    Viewport v;
    v.widthPx = kWidth;
    v.pixelsPerSample = c.pixelsPerSample;
    const auto ticks = TimeTicks(v, SamplePeriod::FromPicoseconds(c.periodPs));
    ASSERT_GE(ticks.size(), 3U);
    EXPECT_EQ(ticks[0].x, 0);
    EXPECT_EQ(ticks[1].label, c.firstLabel);
    EXPECT_EQ(ticks[2].label, c.secondLabel);
    const int spacing = ticks[1].x - ticks[0].x;
    EXPECT_GE(spacing, 90);
    for (std::size_t k = 1; k < ticks.size(); ++k) {
        EXPECT_NEAR(ticks[k].x - ticks[k - 1].x, spacing, 1) << k;
    }
}

// Whole capture (1824 / 4032 px per sample) and deepest zoom at each of the four periods.
INSTANTIATE_TEST_SUITE_P(
    Periods, TimeTicksAt,
    ::testing::Values(TickCase{20'000, 1824.0 / 4032, "5 \u00b5s", "10 \u00b5s"},
                      TickCase{20'000, 40.0, "50 ns", "100 ns"},
                      TickCase{200'000, 1824.0 / 4032, "50 \u00b5s", "100 \u00b5s"},
                      TickCase{2'000'000, 40.0, "5 \u00b5s", "10 \u00b5s"},
                      TickCase{2'000'000, 1824.0 / 4032, "0.5 ms", "1.0 ms"},
                      TickCase{20'000'000, 1824.0 / 4032, "5 ms", "10 ms"},
                      TickCase{20'000'000, 40.0, "50 \u00b5s", "100 \u00b5s"}));

TEST(ViewMath, TicksCountFromTheOriginAndStepThroughIt) {
    // 24 MHz (a period of 41 2/3 ns): a tick lands on the trigger at sample 1200, negative
    // times before it.
    Viewport v;
    v.widthPx = kWidth;
    v.pixelsPerSample = 2.0;
    v.firstSample = 1000.0;
    const auto ticks = TimeTicks(v, SamplePeriod::FromHz(24'000'000), 1200.0);
    ASSERT_GE(ticks.size(), 3U);
    EXPECT_EQ(ticks.front().label, "-8 \u00b5s");
    const auto zero =
        std::find_if(ticks.begin(), ticks.end(), [](const TimeTick& t) { return t.timePs == 0; });
    ASSERT_NE(zero, ticks.end());
    EXPECT_EQ(zero->label, "0 \u00b5s");
    EXPECT_EQ(zero->x, 400); // (1200 - 1000) samples x 2 px
    EXPECT_EQ(std::next(zero)->label, "2 \u00b5s");
}

TEST(ViewMath, TheFirstBoundaryOfAColumnAgreesWithTheColumnRule) {
    for (const double pps : {40.0, 1.0, 0.37, 1824.0 / 10'000'000}) {
        Viewport v;
        v.widthPx = kWidth;
        v.pixelsPerSample = pps;
        v.firstSample = 12345.678;
        for (std::int64_t column = -3; column < kWidth + 3; column += 7) {
            const std::int64_t i = FirstBoundaryInColumn(v, column);
            ASSERT_GE(ColumnOfBoundary(v, i), column) << pps << " " << column;
            ASSERT_LT(ColumnOfBoundary(v, i - 1), column) << pps << " " << column;
        }
    }
}

TEST(ViewMath, LayoutKeepsTheGivenOrderAndAddsExtraRowsBelow) {
    const ViewerLayout layout = LayoutViewer(1920, 1080, {15, 13, 12, 0}, 2);
    ASSERT_EQ(layout.channels.size(), 4U);
    EXPECT_EQ(layout.RowCount(), 6);
    EXPECT_EQ(layout.rowHeightPx, ViewerLayout::kMaxRowPx); // few rows: not stretched
    const int y = layout.RowTop(1) + layout.rowHeightPx / 2;
    EXPECT_EQ(layout.ChannelAtY(y), 13);
    EXPECT_EQ(layout.RowOfChannel(0), 3);
    EXPECT_EQ(layout.RowOfChannel(14), -1);
    EXPECT_EQ(layout.ExtraRowAtY(layout.RowTop(5) + 1), 1);
    EXPECT_EQ(layout.ChannelAtY(layout.RowTop(5) + 1), -1);
    EXPECT_EQ(layout.MaxScrollPx(), 0);
}

TEST(ViewMath, ManyRowsScrollBetweenTheAxisAndTheFooter) {
    std::vector<int> channels;
    for (int c = 0; c < 256; ++c) {
        channels.push_back(c);
    }
    const int height = 1080;
    ViewerLayout layout = LayoutViewer(1920, height, channels, 0, 1'000'000);
    EXPECT_EQ(layout.rowHeightPx, ViewerLayout::kMinRowPx);
    const int area = layout.RowsBottom() - layout.RowsTop();
    EXPECT_EQ(layout.MaxScrollPx(), 256 * layout.rowHeightPx - area);
    EXPECT_EQ(layout.scrollPx, layout.MaxScrollPx()); // clamped
    // Scrolled to the end: the last row ends on the area's bottom line.
    EXPECT_EQ(layout.RowTop(256), layout.RowsBottom());
    EXPECT_EQ(layout.EndRowShown(), 256);
    EXPECT_EQ(layout.ChannelAtY(layout.RowsBottom() - 1), 255);
    EXPECT_EQ(layout.ChannelAtY(layout.RowsBottom()), -1);  // the footer
    EXPECT_EQ(layout.ChannelAtY(layout.RowsTop() - 1), -1); // the axis

    layout = LayoutViewer(1920, height, channels, 0, layout.rowHeightPx * 10 + 5);
    EXPECT_EQ(layout.FirstRowShown(), 10);
    EXPECT_EQ(layout.ChannelAtY(layout.RowsTop()), 10);
    EXPECT_LE(layout.EndRowShown() - layout.FirstRowShown(), area / layout.rowHeightPx + 2);
}
