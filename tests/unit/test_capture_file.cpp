// Reading captures back: Quillon's VCD and CSV round trips (samples, names, period, trigger,
// samples not received), another program's VCD, and the errors with their lines.
#include "capture/export.h"
#include "measure/capture_file.h"

#include <gtest/gtest.h>

#include <random>

using namespace quillon;

namespace {

CaptureData RandomCapture(int rate, std::uint32_t seed) {
    CaptureData capture;
    capture.rate = rate;
    std::mt19937 random(seed);
    for (int i = 0; i < 4032; ++i) {
        capture.samples.push_back(static_cast<std::uint16_t>(random() & (random() | 0x00ff)));
    }
    capture.names[0] = "SCLK";
    capture.names[8] = "UART TX"; // a blank becomes '_' in the files
    capture.triggerSample = 1008;
    return capture;
}

void ExpectSameCapture(const CaptureData& read, const CaptureData& written) {
    EXPECT_EQ(read.samples, written.samples);
    EXPECT_EQ(read.PeriodPs(), written.PeriodPs());
    EXPECT_EQ(read.rate, written.rate);
    EXPECT_EQ(read.names[0], "SCLK");
    EXPECT_EQ(read.names[8], "UART_TX");
    EXPECT_EQ(read.names[15], "D15");
    EXPECT_EQ(read.triggerSample, written.triggerSample);
    EXPECT_EQ(read.channels, 16);
}

} // namespace

class RoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(RoundTrip, VcdAndCsvGiveBackSamplesNamesPeriodAndTrigger) {
    const CaptureData written = RandomCapture(GetParam(), static_cast<std::uint32_t>(GetParam()));
    CaptureData vcd;
    CaptureData csv;
    ReadError error;
    ASSERT_TRUE(ReadVcd("a.vcd", ToVcd(written, "today"), vcd, error)) << error.Text();
    ExpectSameCapture(vcd, written);
    ASSERT_TRUE(ReadCsv("a.csv", ToCsv(written), csv, error)) << error.Text();
    ExpectSameCapture(csv, written);
}

INSTANTIATE_TEST_SUITE_P(Rates, RoundTrip, ::testing::Values(1, 10, 100, 1000));

TEST(CaptureFile, AForeignPeriodAndUnknownLevelsComeBack) {
    CaptureData written;
    written.periodPs = 1'500; // 1.5 ns: written with a 1 ps time scale
    written.samples = {0, 1, 1, 0, 3};
    written.channels = 2;
    CaptureData read;
    ReadError error;
    ASSERT_TRUE(ReadVcd("f.vcd", ToVcd(written), read, error)) << error.Text();
    EXPECT_EQ(read.samples, written.samples);
    EXPECT_EQ(read.PeriodPs(), 1'500);
    EXPECT_EQ(read.channels, 2);

    ASSERT_TRUE(ReadCsv("x.csv", "time_ns,A,B\n0,0,1\n20,x,1\n40,1,0\n", read, error));
    EXPECT_EQ(read.samples, (std::vector<std::uint16_t>{2, 2, 1}));
    EXPECT_EQ(read.received, (std::vector<std::uint8_t>{1, 0, 1}));
    EXPECT_EQ(read.names[1], "B");
}

TEST(CaptureFile, AnotherProgramsVcdOnItsTimeGrid) {
    // As sigrok-cli writes one of ours (a line of its own first, identifiers '!' '"' '#'),
    // with a vector wire it does not matter that we leave out.
    const std::string text = "META samplerate: 1000000000\n"
                             "$date Tue Dec  8 2026 $end\n$timescale 10 us $end\n"
                             "$scope module libsigrok $end\n"
                             "$var wire 1 ! clk $end\n$var wire 1 \" data [0] $end\n"
                             "$var wire 8 # bus $end\n$var wire 1 $ cs $end\n"
                             "$upscope $end\n$enddefinitions $end\n"
                             "#0 0! 1\" b0000 # 0$\n#3 1!\n#6 0! 0\"\n#9 1$ x!\n#12\n";
    CaptureData read;
    ReadError error;
    ASSERT_TRUE(ReadVcd("s.vcd", text, read, error)) << error.Text();
    EXPECT_EQ(read.PeriodPs(), 30'000'000); // the grid: every 3 units of 10 us
    EXPECT_EQ(read.channels, 3);
    EXPECT_EQ(read.names[0], "clk");
    EXPECT_EQ(read.names[1], "data[0]");
    EXPECT_EQ(read.names[2], "cs");
    EXPECT_EQ(read.samples, (std::vector<std::uint16_t>{2, 3, 0, 4})); // x reads as 0
    EXPECT_EQ(read.received, (std::vector<std::uint8_t>{1, 1, 1, 0}));
}

struct BadFile {
    const char* name;
    bool vcd;
    const char* text;
    int line;
    const char* what;
};

class Refused : public ::testing::TestWithParam<BadFile> {};

TEST_P(Refused, NamingTheFileTheLineAndWhatIsWrong) {
    const BadFile c = GetParam();
    CaptureData read;
    read.samples = {7};
    ReadError error;
    const bool ok =
        c.vcd ? ReadVcd("bad.x", c.text, read, error) : ReadCsv("bad.x", c.text, read, error);
    ASSERT_FALSE(ok);
    EXPECT_EQ(error.line, c.line) << error.Text();
    EXPECT_NE(error.Text().find(c.what), std::string::npos) << error.Text();
    EXPECT_EQ(error.Text().rfind("bad.x", 0), 0U);
    EXPECT_EQ(read.samples, std::vector<std::uint16_t>{7}); // untouched
}

constexpr const char* kHeader =
    "$timescale 1 ns $end\n$var wire 1 a A $end\n$enddefinitions $end\n";

INSTANTIATE_TEST_SUITE_P(
    Files, Refused,
    ::testing::Values(
        BadFile{"timescale", true, "$timescale 3 ns $end\n", 1, "time scale"},
        BadFile{"noEnd", true, "$timescale 1 ns $end\n$var wire 1 a A\n", 2, "no $end"},
        BadFile{"seventeen", true,
                "$var wire 1 a a $end $var wire 1 b b $end $var wire 1 c c $end\n"
                "$var wire 1 d d $end $var wire 1 e e $end $var wire 1 f f $end\n"
                "$var wire 1 g g $end $var wire 1 h h $end $var wire 1 i i $end\n"
                "$var wire 1 j j $end $var wire 1 k k $end $var wire 1 l l $end\n"
                "$var wire 1 m m $end $var wire 1 n n $end $var wire 1 o o $end\n"
                "$var wire 1 p p $end\n$var wire 1 q q $end\n",
                7, "more than 16"},
        BadFile{"back", true,
                "$timescale 1 ns $end\n$var wire 1 a A $end\n$enddefinitions $end\n#10 1a\n#5 0a\n",
                5, "back in time"},
        BadFile{"unknownId", true, "$var wire 1 a A $end\n$enddefinitions $end\n#0 1a\n1z\n", 4,
                "unknown identifier"},
        BadFile{"offGrid", true,
                "$comment sample_period_ps=20000 $end\n$timescale 1 ns $end\n"
                "$var wire 1 a A $end\n$enddefinitions $end\n#0 1a\n#30 0a\n",
                6, "not on the sample grid"},
        BadFile{"noWires", true, "$enddefinitions $end\n#0\n", 1, "no 1-bit wires"},
        BadFile{"tooLong", true,
                "$timescale 1 ps $end\n$var wire 1 a A $end\n$enddefinitions $end\n"
                "#0 1a\n#1 0a\n#99999999999\n",
                6, "too many samples"},
        BadFile{"csvTime", false, "; x\nvalue,D0\n0,1\n", 2, "first column must be the time"},
        BadFile{"csvColumns", false, "time_ns,D0,D1\n0,1,0\n20,1\n", 3, "columns"},
        BadFile{"csvLevel", false, "time_ns,D0\n0,1\n20,2\n", 3, "is not 0, 1 or x"},
        BadFile{"csvGrid", false, "time_ns,D0\n0,1\n20,1\n50,0\n", 4, "not on the sample grid"},
        BadFile{"csvEmpty", false, "time_ns,D0\n", 1, "no samples"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CaptureFile, AMissingFileIsNamed) {
    CaptureData read;
    ReadError error;
    EXPECT_FALSE(ReadCaptureFile("/nonexistent/dir/c.vcd", read, error));
    EXPECT_EQ(error.Text(), "/nonexistent/dir/c.vcd: No such file or directory");
}
