// Timebase tables: slider labels, zoom geometry, time-per-division labels, bit strings.
#include "display/timebase.h"

#include <gtest/gtest.h>

#include <climits>
#include <ostream>
#include <string>
#include <string_view>

namespace quillon {
namespace {

// --- Slider position -> zoom label -------------------------------------------------------

struct PositionCase {
    int position;
    std::string_view label;
};
std::ostream& operator<<(std::ostream& out, const PositionCase& c) {
    return out << c.position << " -> " << c.label;
}

class ZoomLabelForPositionTest : public testing::TestWithParam<PositionCase> {};

TEST_P(ZoomLabelForPositionTest, GivesLabel) {
    EXPECT_EQ(ZoomLabelForPosition(GetParam().position), GetParam().label);
}

INSTANTIATE_TEST_SUITE_P(SliderPositions, ZoomLabelForPositionTest,
                         testing::Values(PositionCase{0, "20ns/d"}, PositionCase{1, "50ns/d"},
                                         PositionCase{2, "100ns/d"}, PositionCase{3, "200ns/d"},
                                         PositionCase{4, "500ns/d"}, PositionCase{5, "1us/d"},
                                         PositionCase{6, "2us/d"}, PositionCase{7, "5us/d"}));
INSTANTIATE_TEST_SUITE_P(OutsideTheSlider, ZoomLabelForPositionTest,
                         testing::Values(PositionCase{8, "10us/d"}, PositionCase{-1, "10us/d"},
                                         PositionCase{100, "10us/d"},
                                         PositionCase{INT_MIN, "10us/d"},
                                         PositionCase{INT_MAX, "10us/d"}));

TEST(ZoomSlider, RangeCoversTheEightLabelsAndStartsAtOneMicrosecond) {
    EXPECT_EQ(ZoomLabelForPosition(kZoomMin), "20ns/d");
    EXPECT_EQ(ZoomLabelForPosition(kZoomMax), "5us/d");
    EXPECT_EQ(ZoomLabelForPosition(kZoomStart), "1us/d");
}

// --- Zoom label -> samples per screen and step --------------------------------------------

struct GeometryCase {
    std::string_view label;
    int samples;
    int step;
};
std::ostream& operator<<(std::ostream& out, const GeometryCase& c) {
    return out << '"' << c.label << "\" -> " << c.samples << '/' << c.step;
}

class ZoomGeometryTest : public testing::TestWithParam<GeometryCase> {};

TEST_P(ZoomGeometryTest, GivesRow) {
    const ZoomGeometry geometry = ZoomGeometryFor(GetParam().label);
    EXPECT_EQ(geometry.samples, GetParam().samples);
    EXPECT_EQ(geometry.step, GetParam().step);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ZoomGeometryTest,
    testing::Values(GeometryCase{"20ns/d", 12, 1}, GeometryCase{"50ns/d", 30, 1},
                    GeometryCase{"100ns/d", 60, 1}, GeometryCase{"200ns/d", 120, 1},
                    GeometryCase{"500ns/d", 300, 1}, GeometryCase{"1us/d", 600, 1},
                    GeometryCase{"2us/d", 1200, 2}, GeometryCase{"5us/d", 3000, 5}));
// Whole-text, case-sensitive match: near misses fall to the full 600-sample screen.
INSTANTIATE_TEST_SUITE_P(OtherLabels, ZoomGeometryTest,
                         testing::Values(GeometryCase{"10us/d", 600, 1}, GeometryCase{"", 600, 1},
                                         GeometryCase{"5US/D", 600, 1},
                                         GeometryCase{"2us/d ", 600, 1},
                                         GeometryCase{"20ns", 600, 1},
                                         GeometryCase{"20ns/dd", 600, 1}));

TEST(ZoomGeometry, EveryStepDividesItsScreenIntoSixHundredColumns) {
    for (int position = kZoomMin; position <= kZoomMax + 1; ++position) {
        const std::string_view label = ZoomLabelForPosition(position);
        const ZoomGeometry geometry = ZoomGeometryFor(label);
        if (geometry.step == 1) {
            EXPECT_EQ(600 % geometry.samples, 0) << label;
        } else {
            EXPECT_EQ(geometry.samples / geometry.step, 600) << label;
        }
    }
}

// --- Zoom label and rate -> time per division ---------------------------------------------

struct TimebaseCase {
    std::string_view zoomLabel;
    int rate;
    std::string_view expected;
};
std::ostream& operator<<(std::ostream& out, const TimebaseCase& c) {
    return out << '"' << c.zoomLabel << "\" x" << c.rate << " -> " << c.expected;
}

class TimebaseLabelTest : public testing::TestWithParam<TimebaseCase> {};

TEST_P(TimebaseLabelTest, GivesLabel) {
    const std::optional<std::string_view> label =
        TimebaseLabelFor(GetParam().zoomLabel, GetParam().rate);
    ASSERT_TRUE(label.has_value());
    EXPECT_EQ(*label, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    AllRowsAndColumns, TimebaseLabelTest,
    testing::Values(TimebaseCase{"20ns/d", 1, "20ns/d"}, TimebaseCase{"20ns/d", 10, "200ns/d"},
                    TimebaseCase{"20ns/d", 100, "2us/d"}, TimebaseCase{"20ns/d", 1000, "20us/d"},
                    TimebaseCase{"50ns/d", 1, "50ns/d"}, TimebaseCase{"50ns/d", 10, "500ns/d"},
                    TimebaseCase{"50ns/d", 100, "5us/d"}, TimebaseCase{"50ns/d", 1000, "50us/d"},
                    TimebaseCase{"100ns/d", 1, "100ns/d"}, TimebaseCase{"100ns/d", 10, "1us/d"},
                    TimebaseCase{"100ns/d", 100, "10us/d"},
                    TimebaseCase{"100ns/d", 1000, "100us/d"}, TimebaseCase{"200ns/d", 1, "200ns/d"},
                    TimebaseCase{"200ns/d", 10, "2us/d"}, TimebaseCase{"200ns/d", 100, "20us/d"},
                    TimebaseCase{"200ns/d", 1000, "200us/d"}, TimebaseCase{"500ns/d", 1, "500ns/d"},
                    TimebaseCase{"500ns/d", 10, "5us/d"}, TimebaseCase{"500ns/d", 100, "50us/d"},
                    TimebaseCase{"500ns/d", 1000, "500us/d"}, TimebaseCase{"1us/d", 1, "1us/d"},
                    TimebaseCase{"1us/d", 10, "10us/d"}, TimebaseCase{"1us/d", 100, "100us/d"},
                    TimebaseCase{"1us/d", 1000, "1ms/d"}, TimebaseCase{"2us/d", 1, "2us/d"},
                    TimebaseCase{"2us/d", 10, "20us/d"}, TimebaseCase{"2us/d", 100, "200us/d"},
                    TimebaseCase{"2us/d", 1000, "2ms/d"}, TimebaseCase{"5us/d", 1, "5us/d"},
                    TimebaseCase{"5us/d", 10, "50us/d"}, TimebaseCase{"5us/d", 100, "500us/d"},
                    TimebaseCase{"5us/d", 1000, "5ms/d"}, TimebaseCase{"10us/d", 1, "10us/d"},
                    TimebaseCase{"10us/d", 10, "100us/d"}, TimebaseCase{"10us/d", 100, "1ms/d"},
                    TimebaseCase{"10us/d", 1000, "10ms/d"}));
// The fourth column takes every rate that is not 1, 10 or 100.
INSTANTIATE_TEST_SUITE_P(FourthColumnRates, TimebaseLabelTest,
                         testing::Values(TimebaseCase{"1us/d", 0, "1ms/d"},
                                         TimebaseCase{"1us/d", -1, "1ms/d"},
                                         TimebaseCase{"1us/d", 2, "1ms/d"},
                                         TimebaseCase{"1us/d", 11, "1ms/d"},
                                         TimebaseCase{"1us/d", 10000, "1ms/d"},
                                         TimebaseCase{"20ns/d", INT_MAX, "20us/d"}));

class UnknownZoomLabelTest : public testing::TestWithParam<std::string_view> {};

TEST_P(UnknownZoomLabelTest, GivesNothing) {
    for (const int rate : {1, 10, 100, 1000}) {
        EXPECT_FALSE(TimebaseLabelFor(GetParam(), rate).has_value()) << "rate " << rate;
    }
}

INSTANTIATE_TEST_SUITE_P(NearMisses, UnknownZoomLabelTest,
                         testing::Values("", "1ms/d", "20US/d", "1us/d ", " 1us/d", "1us",
                                         "10us/d\n"));

TEST(TimebaseLabel, EverySliderLabelHasARow) {
    for (int position = kZoomMin; position <= kZoomMax + 1; ++position) {
        const std::string_view label = ZoomLabelForPosition(position);
        const std::optional<std::string_view> timebase = TimebaseLabelFor(label, 1);
        ASSERT_TRUE(timebase.has_value()) << label;
        EXPECT_EQ(*timebase, label) << "at rate 1 the time per division is the zoom itself";
    }
}

// --- First sample drawn -------------------------------------------------------------------

TEST(StartOffset, ZeroOnlyAtRateOne) {
    EXPECT_EQ(StartOffset(1), 0);
    for (const int rate : {10, 100, 1000, 0, -1}) {
        EXPECT_EQ(StartOffset(rate), 2) << "rate " << rate;
    }
}

// --- Sample -> bit string -----------------------------------------------------------------

struct BitStringCase {
    int value;
    std::string_view bits;
};
std::ostream& operator<<(std::ostream& out, const BitStringCase& c) {
    return out << c.value << " -> " << c.bits;
}

class ToBitStringTest : public testing::TestWithParam<BitStringCase> {};

TEST_P(ToBitStringTest, GivesSixteenBitsHighestFirst) {
    const std::string text = ToBitString(GetParam().value);
    EXPECT_EQ(text.size(), 16u);
    EXPECT_EQ(text, GetParam().bits);
}

INSTANTIATE_TEST_SUITE_P(Values, ToBitStringTest,
                         testing::Values(BitStringCase{0, "0000000000000000"},
                                         BitStringCase{1, "0000000000000001"},
                                         BitStringCase{0x1234, "0001001000110100"},
                                         BitStringCase{0x8000, "1000000000000000"},
                                         BitStringCase{65535, "1111111111111111"},
                                         BitStringCase{-1, "1111111111111111"},
                                         BitStringCase{-32768, "1000000000000000"},
                                         BitStringCase{-2, "1111111111111110"},
                                         // Only the low 16 bits count.
                                         BitStringCase{0x10001, "0000000000000001"}));

} // namespace
} // namespace quillon
