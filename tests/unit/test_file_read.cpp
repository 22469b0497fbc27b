// Reading capture files: one table per format (ours, sigrok-cli's, other programs'), the files
// refused with their line and reason, the sample grid of rounded time stamps, files that are
// no regular files, memory refused before reading, progress and cancelling.
#include "file/capture_file.h"
#include "file/file_support.h"
#include "file/safe_text.h"
#include "file/sample_rate.h"
#include "unit/file_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillon;
using test::Levels;
using test::ZipOf;

namespace {

struct ReadCase {
    const char* name;
    std::string file; ///< its name (the format) and text
    std::string text;
    std::vector<std::string> names;
    std::vector<std::string> levels; ///< per channel
    SamplePeriod period;
    std::optional<std::int64_t> trigger = std::nullopt;
    std::optional<SamplePeriod> given = std::nullopt; ///< ReadOptions::period
    std::string note = {};                            ///< a part of a note the reader gives
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class Reads : public ::testing::TestWithParam<ReadCase> {};

TEST_P(Reads, SamplesNamesRateAndTrigger) {
    const ReadCase& c = GetParam();
    ReadOptions options;
    options.period = c.given;
    std::string notes;
    options.note = [&notes](const std::string& text) { notes += text + "\n"; };
    FileReadError error;
    const CapturePtr capture = ReadCaptureBytes(c.text, c.file, options, error);
    ASSERT_TRUE(capture) << error.Text();
    EXPECT_EQ(capture->ChannelNames(), c.names);
    ASSERT_EQ(capture->ChannelCount(), static_cast<int>(c.levels.size()));
    for (int ch = 0; ch < capture->ChannelCount(); ++ch) {
        EXPECT_EQ(Levels(*capture, ch), c.levels[static_cast<std::size_t>(ch)]) << "channel " << ch;
    }
    EXPECT_EQ(capture->Period(), c.period)
        << capture->Period().Numerator() << "/" << capture->Period().Denominator();
    EXPECT_EQ(capture->TriggerSample(), c.trigger);
    EXPECT_NE(notes.find(c.note), std::string::npos) << notes;
}

SamplePeriod Hz(std::uint64_t hz) {
    return SamplePeriod::FromHz(hz);
}
SamplePeriod Ps(std::int64_t ps) {
    return SamplePeriod::FromPicoseconds(ps);
}

// Twenty wires of another program: wire w is high on the samples i with (i + w) % 3 == 0.
ReadCase TwentyWires() {
    ReadCase c{"twentyWires", "w.vcd", "$timescale 1 ns $end\n", {}, {}, Ps(5000)};
    std::string body = "#0\n";
    for (int w = 0; w < 20; ++w) {
        const char id = static_cast<char>('A' + w);
        c.text += std::string("$var wire 1 ") + id + " w" + std::to_string(w) + " $end\n";
        c.names.push_back(std::string("w").append(std::to_string(w)));
        std::string levels;
        for (int i = 0; i < 6; ++i) {
            levels += (i + w) % 3 == 0 ? '1' : '0';
        }
        c.levels.push_back(levels);
    }
    c.text += "$enddefinitions $end\n";
    for (int i = 0; i <= 6; ++i) {
        c.text.append("#").append(std::to_string(i * 5)).append("\n");
        for (int w = 0; i < 6 && w < 20; ++w) {
            const char level = c.levels[static_cast<std::size_t>(w)][static_cast<std::size_t>(i)];
            if (i == 0 ||
                level != c.levels[static_cast<std::size_t>(w)][static_cast<std::size_t>(i - 1)]) {
                c.text += std::string(1, level) + static_cast<char>('A' + w) + "\n";
            }
        }
    }
    return c;
}

const std::string kSigrokHeader = "$date Tue Dec  8 2026 $end\n$version libsigrok 0.5.2 $end\n";

INSTANTIATE_TEST_SUITE_P(
    Vcd, Reads,
    ::testing::Values(
        ReadCase{"ours",
                 "a.vcd",
                 "$version\n\tQuillon 1.0.0.1\n$end\n$comment\n\tsample_period_ps=20000 "
                 "trigger_sample=2\n$end\n$timescale 1 ns $end\n$scope module quillon $end\n"
                 "$var wire 1 a SCLK $end\n$var wire 1 b D1 $end\n$upscope $end\n"
                 "$enddefinitions $end\n#0\n$dumpvars\n1a\n0b\n$end\n#40\n0a\n#60\nxb\n#80\n1b\n"
                 "#100\n",
                 {"SCLK", "D1"},
                 {"11000", "000x1"},
                 Ps(20000),
                 2},
        // sigrok-cli at 24 MHz: a 100 ps scale, stamps rounded, identifiers '#' and '$'.
        ReadCase{"sigrokStatesItsRate",
                 "s.vcd",
                 kSigrokHeader +
                     "$comment\n  Acquisition with 2/2 channels at 24 MHz\n$end\n"
                     "$timescale 100 ps $end\n$scope module libsigrok $end\n"
                     "$var wire 1 # A B $end\n$var wire 1 $ D1 $end\n$upscope $end\n"
                     "$enddefinitions $end\n#0 1# 0$\n#417 0#\n#833 1$\n#1667 0$\n#2083\n",
                 {"A B", "D1"},
                 {"10000", "00110"},
                 Hz(24'000'000)},
        ReadCase{"roundedStampsWithoutTheRate",
                 "r.vcd",
                 "$timescale 100 ps $end\n$var wire 1 ! A $end\n$enddefinitions $end\n"
                 "#0 1!\n#417 0!\n#833 1!\n#1667 0!\n#2083\n",
                 {"A"},
                 {"10110"},
                 Hz(24'000'000)},
        ReadCase{"bomAndValuesBeforeTheFirstStamp",
                 "b.vcd",
                 "\xEF\xBB\xBF$timescale 1 us $end\n$var wire 1 ! a $end\n$enddefinitions $end\n"
                 "$dumpvars 1! $end\n#0\n#2 0!\n#4 1!\n#6\n",
                 {"a"},
                 {"101"},
                 Ps(2'000'000)},
        ReadCase{"vectorsAreSplitRealsLeftOut",
                 "v.vcd",
                 "$timescale 10 ns $end\n$var wire 1 ! clk $end\n$var wire 4 # bus [3:0] $end\n"
                 "$var real 1 % level $end\n$enddefinitions $end\n"
                 "#0 0! b1010 # r0.5 %\n#1 1! b1 #\n#2 0! bx #\n#3\n",
                 {"clk", "bus[0]", "bus[1]", "bus[2]", "bus[3]"},
                 {"010", "01x", "10x", "00x", "10x"},
                 Ps(10'000),
                 std::nullopt,
                 std::nullopt,
                 "level (real) is not a logic signal"},
        TwentyWires(),
        ReadCase{"hundredSeconds",
                 "h.vcd",
                 "$timescale 100 s $end\n$var wire 1 a A $end\n$enddefinitions $end\n"
                 "#0 1a\n#1 0a\n#2\n",
                 {"A"},
                 {"10"},
                 *SamplePeriod::Fraction(100, 1)},
        // Another program on an exact grid of 3 units; one wire unknown for a while.
        ReadCase{"exactGridOfAnotherProgram",
                 "e.vcd",
                 "META samplerate: 1000000000\n$date Tue Dec  8 2026 $end\n"
                 "$timescale 10 us $end\n$scope module x $end\n$var wire 1 ! clk $end\n"
                 "$var wire 1 \" data [0] $end\n$var wire 1 $ cs $end\n$upscope $end\n"
                 "$enddefinitions $end\n#0 0! 1\" 0$\n#3 1!\n#6 0! 0\"\n#9 1$ x!\n#12\n",
                 {"clk", "data[0]", "cs"},
                 {"010x", "1100", "0001"},
                 Ps(30'000'000)},
        // sigrok-cli's demo device: its analog values as text lines among the changes.
        ReadCase{"sigrokWithAnalogText",
                 "d.vcd",
                 "$timescale 100 ps $end\n$scope module libsigrok $end\n$var wire 1 ! D0 $end\n"
                 "$upscope $end\n$enddefinitions $end\n#0 1!\n#417 0!\n#833 1!\n"
                 "A2: 0.0 mV DC\nA2: -2.0000 V DC\n#1250 0!\n#1667\nA10: 4.0000 V DC\n",
                 {"D0"},
                 {"1010"},
                 Hz(24'000'000),
                 std::nullopt,
                 std::nullopt,
                 "3 lines of analog values"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Csv, Reads,
    ::testing::Values(
        ReadCase{"ours",
                 "a.csv",
                 "; trigger_sample=1\ntime_ns,SCLK,D1\n0,1,0\n20,1,\n40,0,1\n",
                 {"SCLK", "D1"},
                 {"110", "0x1"},
                 Ps(20000),
                 1},
        ReadCase{"oursIncomplete",
                 "a.csv",
                 "time_ns,A,B\n0,0,1\n20,,\n40,1,0\n",
                 {"A", "B"},
                 {"0x1", "1x0"},
                 Ps(20000)},
        ReadCase{"oursAtARoundedPeriod",
                 "p.csv",
                 "; sample_period_s=1/24000000\ntime_ps,A\n0,1\n41667,0\n83333,1\n",
                 {"A"},
                 {"101"},
                 Hz(24'000'000)},
        ReadCase{"sigrokDefault",
                 "s.csv",
                 "; CSV generated by libsigrok 0.5.2\n; from Demo on Tue Dec  8 2026\n"
                 "; Channels (2/2): D0, CLK\n; Samplerate: 24 MHz\nlogic,logic\n1,0\n0,1\n0,1\n",
                 {"D0", "CLK"},
                 {"100", "011"},
                 Hz(24'000'000)},
        ReadCase{"sigrokWithAnalogText",
                 "s.csv",
                 "; CSV generated by libsigrok 0.5.2\n; Channels (2/2): D0, CLK\n"
                 "; Samplerate: 24 MHz\nA2: 0.0 mV DC\nlogic,logic\n1,0\nA2: 2.0000 V DC\n"
                 "0,1\n0,1\nA0: -10.0000 V DC\n",
                 {"D0", "CLK"},
                 {"100", "011"},
                 Hz(24'000'000),
                 std::nullopt,
                 std::nullopt,
                 "3 lines of analog values"},
        // time=true:dedup=true: rows of changes only, their times truncated to whole ns.
        ReadCase{"sigrokChangesWithTimes",
                 "d.csv",
                 "; Channels (2/2): A, B\n; Samplerate: 24 MHz\nnanoseconds,logic,logic\n"
                 "41,1,0\n82,0,1\n205,1,1\n",
                 {"A", "B"},
                 {"10001", "01111"},
                 Hz(24'000'000)},
        ReadCase{"sigrokBare",
                 "b.csv",
                 "1,0\n0,1\n",
                 {"D0", "D1"},
                 {"10", "01"},
                 Hz(1000),
                 std::nullopt,
                 Hz(1000)},
        ReadCase{"sigrokChannelLabels",
                 "c.csv",
                 "; Samplerate: 1 MHz\nTime,D0,D1\n1,1,0\n2,0,1\n",
                 {"D0", "D1"},
                 {"10", "01"},
                 Hz(1'000'000)},
        ReadCase{"sigrokTriggerAndAnalog",
                 "t.csv",
                 "; Channels (3/3): D0, D1, A0\n; Samplerate: 1 MHz\n"
                 "microseconds,logic,logic,V DC,Trigger\n1,1,0,-10,0\n2,0,1,0,1\n3,0,1,4.5e-44,0\n",
                 {"D0", "D1"},
                 {"100", "011"},
                 Hz(1'000'000),
                 1,
                 std::nullopt,
                 "column 4 (A0) holds no logic levels"},
        ReadCase{"semicolons",
                 "x.csv",
                 "time_ns;A;B\n0;1;0\n10;0;1\n",
                 {"A", "B"},
                 {"10", "01"},
                 Ps(10'000)}),
    [](const auto& info) { return std::string(info.param.name); });

std::string Metadata(const std::string& device) {
    return "[global]\nsigrok version=0.5.2\n\n[device 1]\ncapturefile=logic-1\n" + device;
}

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (const int v : values) {
        bytes += static_cast<char>(v);
    }
    return bytes;
}

std::string Probes(int count) {
    std::string text = "total probes=" + std::to_string(count) + "\n";
    for (int p = 1; p <= count; ++p) {
        text += "probe" + std::to_string(p) + "=D" + std::to_string(p - 1) + "\n";
    }
    return text;
}

std::vector<std::string> DNames(int count) {
    std::vector<std::string> names;
    for (int c = 0; c < count; ++c) {
        names.push_back(DefaultChannelName(c));
    }
    return names;
}

// A 34-probe file: row r sets probe (r % 34) + 1 only.
ReadCase ThirtyFourProbes() {
    ReadCase c{"unitFiveThirtyFourProbes", "w.sr", {}, DNames(34), {}, Hz(12'000'000)};
    std::string rows;
    for (int r = 0; r < 40; ++r) {
        std::string row(5, '\0');
        row[static_cast<std::size_t>((r % 34) / 8)] = static_cast<char>(1 << ((r % 34) % 8));
        rows += row;
    }
    for (int ch = 0; ch < 34; ++ch) {
        std::string levels;
        for (int r = 0; r < 40; ++r) {
            levels += r % 34 == ch ? '1' : '0';
        }
        c.levels.push_back(levels);
    }
    c.text = ZipOf({{"version", "2"},
                    {"metadata", Metadata(Probes(34) + "samplerate=12 MHz\nunitsize=5\n")},
                    {"logic-1-1", rows.substr(0, 103)},
                    {"logic-1-2", rows.substr(103)}});
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    Sigrok, Reads,
    ::testing::Values(
        ReadCase{"twoChunks",
                 "a.sr",
                 ZipOf({{"version", "2"},
                        {"metadata", Metadata(Probes(8) + "samplerate=24 MHz\nunitsize=1\n")},
                        {"logic-1-1", Bytes({1, 2, 3})},
                        {"logic-1-2", Bytes({0x80})}}),
                 DNames(8),
                 {"1010", "0110", "0000", "0000", "0000", "0000", "0000", "0001"},
                 Hz(24'000'000)},
        // A row split between two chunks; the chunks listed out of order.
        ReadCase{"unitTwoRowAcrossChunks",
                 "b.sr",
                 ZipOf({{"metadata", Metadata("total probes=16\nprobe1=D0\nprobe9=D8\n"
                                              "probe16=D15\nsamplerate=1 MHz\nunitsize=2\n")},
                        {"logic-1-2", Bytes({0x01, 0x00, 0x80})},
                        {"logic-1-1", Bytes({0x01, 0x80, 0x00})}}),
                 {"D0", "D8", "D15"},
                 {"100", "010", "101"},
                 Hz(1'000'000)},
        ThirtyFourProbes(),
        ReadCase{"disabledProbesKeepTheirBits",
                 "d.sr",
                 ZipOf({{"metadata", Metadata("total probes=8\nsamplerate=1 kHz\nprobe2=CLK\n"
                                              "probe4=DATA\nunitsize=1\n")},
                        {"logic-1-1", Bytes({0x02, 0x08, 0x0a})}}),
                 {"CLK", "DATA"},
                 {"101", "011"},
                 Hz(1000)},
        ReadCase{"firstVersionOneFile",
                 "v.sr",
                 ZipOf({{"metadata", Metadata("total probes=1\nprobe1=A\nsamplerate=1.5 MHz\n"
                                              "unitsize=1\n")},
                        {"logic-1", Bytes({1, 0, 1})}}),
                 {"A"},
                 {"101"},
                 Hz(1'500'000)},
        // Ours: escapes in names, the exact period, the trigger and samples not received.
        ReadCase{"ourGroup",
                 "o.sr",
                 ZipOf({{"metadata",
                         Metadata("total probes=2\nprobe1=\\sA\\\\B\nprobe2=C\nsamplerate=143 MHz\n"
                                  "unitsize=1\n\n[quillon]\nsample_period_s=7/1000000000\n"
                                  "trigger_sample=1\nmissing2=1-2\n")},
                        {"logic-1-1", Bytes({3, 1, 2})}}),
                 {" A\\B", "C"},
                 {"110", "1x1"},
                 *SamplePeriod::Fraction(7, 1'000'000'000),
                 1},
        ReadCase{"noRateButOneGiven",
                 "n.sr",
                 ZipOf({{"metadata", Metadata("total probes=1\nprobe1=A\nunitsize=1\n")},
                        {"logic-1-1", Bytes({1, 0})}}),
                 {"A"},
                 {"10"},
                 Hz(8'000'000),
                 std::nullopt,
                 Hz(8'000'000)}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Refused files --------------------------------------------------------------------------

struct BadFile {
    const char* name;
    const char* file;
    std::string text;
    FileReadError::Kind kind;
    int line;
    const char* what;
};

void PrintTo(const BadFile& c, std::ostream* os) {
    *os << c.name;
}

class Refused : public ::testing::TestWithParam<BadFile> {};

TEST_P(Refused, NamingTheFileTheLineAndWhatIsWrong) {
    const BadFile& c = GetParam();
    ReadOptions options;
    options.memoryLimit = 1 << 20;
    FileReadError error;
    EXPECT_FALSE(ReadCaptureBytes(c.text, c.file, options, error));
    EXPECT_EQ(error.kind, c.kind) << error.Text();
    EXPECT_EQ(error.line, c.line) << error.Text();
    EXPECT_NE(error.Text().find(c.what), std::string::npos) << error.Text();
    EXPECT_EQ(error.Text().rfind(c.file, 0), 0U);
}

constexpr auto kMalformed = FileReadError::Kind::Malformed;

INSTANTIATE_TEST_SUITE_P(
    Files, Refused,
    ::testing::Values(
        BadFile{"timescale", "a.vcd", "$timescale 3 ns $end\n", kMalformed, 1, "time scale"},
        BadFile{"noEnd", "a.vcd", "$timescale 1 ns $end\n$var wire 1 a A\n", kMalformed, 2,
                "no $end"},
        BadFile{"junkInHeader", "a.vcd", "$timescale 1 ns $end\nfoo\n", kMalformed, 2,
                "unexpected 'foo' in the header"},
        BadFile{"back", "a.vcd",
                "$timescale 1 ns $end\n$var wire 1 a A $end\n$enddefinitions $end\n#10 1a\n"
                "#5 0a\n",
                kMalformed, 5, "back in time"},
        BadFile{"unknownId", "a.vcd", "$var wire 1 a A $end\n$enddefinitions $end\n#0 1a\n1z\n",
                kMalformed, 4, "unknown identifier 'z'"},
        BadFile{"ourPeriodOffGrid", "a.vcd",
                "$comment sample_period_ps=20000 $end\n$timescale 1 ns $end\n"
                "$var wire 1 a A $end\n$enddefinitions $end\n#0 1a\n#30 0a\n",
                kMalformed, 6, "not on the sample grid"},
        BadFile{"noWires", "a.vcd", "$enddefinitions $end\n#0\n", kMalformed, 1, "no wires"},
        BadFile{"badVector", "a.vcd", "$var wire 2 a A $end\n$enddefinitions $end\n#0 b1q a\n",
                kMalformed, 3, "bad vector value"},
        BadFile{"noStamps", "a.vcd", "$var wire 1 a A $end\n$enddefinitions $end\n1a\n", kMalformed,
                3, "no time stamps"},
        // 10^11 samples of one channel: refused at the stamp, before anything is allocated.
        BadFile{"tooManySamples", "a.vcd",
                "$timescale 1 ps $end\n$var wire 1 a A $end\n$enddefinitions $end\n"
                "#0 1a\n#1 0a\n#99999999999\n",
                FileReadError::Kind::TooBig, 0,
                "would need at least 12 GiB of memory for 99999999999 samples"},
        BadFile{"csvColumns", "a.csv", "time_ns,D0,D1\n0,1,0\n20,1\n", kMalformed, 3, "columns"},
        BadFile{"csvLevel", "a.csv", "time_ns,D0\n0,1\n20,2\n", kMalformed, 3,
                "level '2' in column 2 is not 0, 1 or empty"},
        BadFile{"csvBack", "a.csv", "time_ns,D0\n20,1\n0,0\n", kMalformed, 3, "back in time"},
        BadFile{"csvOurPeriodOffGrid", "a.csv", "; sample_period_ps=20000\ntime_ns,A\n0,1\n30,0\n",
                kMalformed, 4, "not on the sample grid"},
        BadFile{"csvEmpty", "a.csv", "time_ns,D0\n", kMalformed, 1, "no samples"},
        BadFile{"csvNoRate", "a.csv", "A,B\n0,1\n", FileReadError::Kind::NoSampleRate, 0,
                "does not say its sample rate"},
        BadFile{"srNotZip", "a.sr", "hello", kMalformed, 0, "not a sigrok session file"},
        BadFile{"srNoMetadata", "a.sr", ZipOf({{"logic-1-1", "x"}}), kMalformed, 0,
                "it has no metadata"},
        BadFile{
            "srUnitSize", "a.sr",
            ZipOf({{"metadata", Metadata("unitsize=0\nsamplerate=1 MHz\n")}, {"logic-1-1", "x"}}),
            kMalformed, 0, "unit size 0"},
        BadFile{"srProbeBeyondUnit", "a.sr",
                ZipOf({{"metadata", Metadata("unitsize=1\nprobe9=X\nsamplerate=1 MHz\n")},
                       {"logic-1-1", "x"}}),
                kMalformed, 0, "probe 9 lies outside"},
        BadFile{"srNoData", "a.sr",
                ZipOf({{"metadata", Metadata("unitsize=1\nprobe1=X\nsamplerate=1 MHz\n")}}),
                kMalformed, 0, "no logic data"},
        BadFile{"srNoRate", "a.sr",
                ZipOf({{"metadata", Metadata("unitsize=1\nprobe1=X\n")}, {"logic-1-1", "x"}}),
                FileReadError::Kind::NoSampleRate, 0, "does not say its sample rate"},
        // 4 MiB of zeros pack into a few KiB: refused by their size before unpacking.
        BadFile{"srTooBig", "a.sr",
                ZipOf({{"metadata", Metadata(Probes(32) + "unitsize=4\nsamplerate=1 MHz\n")},
                       {"logic-1-1", std::string(std::size_t{4} << 20, '\0')}}),
                FileReadError::Kind::TooBig, 0, "for 1048576 samples of 32 channels"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The sample grid of rounded time stamps -------------------------------------------------

struct GridCase {
    const char* name;
    std::uint64_t hz;
    std::int64_t unitPerSecond; ///< the time scale: 1 / unitPerSecond s
    double offset;              ///< where sample 0 lies, in samples
};

void PrintTo(const GridCase& c, std::ostream* os) {
    *os << c.name;
}

class Grid : public ::testing::TestWithParam<GridCase> {};

// Stamps as other programs write them, rounded to the time unit, at changes every 1 to 5
// samples: the finder comes back with the exact rate.
TEST_P(Grid, RateFromRoundedStamps) {
    const GridCase& c = GetParam();
    const double step = static_cast<double>(c.unitPerSecond) / static_cast<double>(c.hz);
    std::mt19937 random(7);
    GridFinder finder;
    std::vector<std::int64_t> stamps;
    for (std::int64_t k = 0; k < 3000; k += 1 + static_cast<std::int64_t>(random() % 5)) {
        stamps.push_back(std::llround((static_cast<double>(k) + c.offset) * step));
        finder.AddPrefix(stamps.back());
    }
    ASSERT_TRUE(finder.Solve());
    const GridStep chosen = finder.Choose(1, c.unitPerSecond);
    const auto expected = SamplePeriod::Fraction(c.unitPerSecond, static_cast<std::int64_t>(c.hz));
    EXPECT_EQ(SamplePeriod::Fraction(chosen.num, chosen.den), expected)
        << chosen.num << "/" << chosen.den;
    // Every stamp then finds its sample.
    const TimeGrid grid(stamps.front(), chosen, finder.Tolerance());
    for (const std::int64_t t : stamps) {
        ASSERT_TRUE(grid.SampleOf(t).has_value()) << t;
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, Grid,
                         ::testing::Values(GridCase{"sigrok24MHz", 24'000'000, 10'000'000'000, 0},
                                           GridCase{"sigrok12MHz", 12'000'000, 10'000'000'000, 0},
                                           GridCase{"at3MHzInNs", 3'000'000, 1'000'000'000, 0},
                                           GridCase{"at7MHzInNs", 7'000'000, 1'000'000'000, 0},
                                           GridCase{"odd33333kHz", 33'333'000, 10'000'000'000, 0},
                                           GridCase{"exact500kHzInUs", 500'000, 1'000'000, 0},
                                           GridCase{"exact1MHzInUs", 1'000'000, 1'000'000, 0},
                                           GridCase{"firstStampRounded", 24'000'000, 10'000'000'000,
                                                    0.4}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Files that are no capture files, progress, cancelling ----------------------------------

class FileSystem : public ::testing::Test {
protected:
    std::filesystem::path m_dir =
        std::filesystem::temp_directory_path() / ("quillon-read-" + std::to_string(::getpid()));
    void SetUp() override { std::filesystem::create_directories(m_dir); }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
};

TEST_F(FileSystem, WhatIsNoRegularFileIsRefusedAtOnce) {
    FileReadError error;
    EXPECT_FALSE(ReadCaptureFile("/nonexistent/dir/c.vcd", {}, error));
    EXPECT_EQ(error.Text(), "/nonexistent/dir/c.vcd: No such file or directory");
    EXPECT_EQ(error.kind, FileReadError::Kind::Unreadable);
    EXPECT_FALSE(ReadCaptureFile(m_dir.string(), {}, error));
    EXPECT_NE(error.what.find("Is a directory"), std::string::npos);
    // A FIFO without a writer would block a reader for ever.
    const auto fifo = (m_dir / "pipe.vcd").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ReadCaptureFile(fifo, {}, error));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_NE(error.what.find("not a regular file"), std::string::npos) << error.Text();
    std::ofstream(m_dir / "empty.csv").flush();
    EXPECT_FALSE(ReadCaptureFile((m_dir / "empty.csv").string(), {}, error));
    EXPECT_NE(error.what.find("empty"), std::string::npos);
}

TEST_F(FileSystem, ProgressCountsTheFileAndCanCancel) {
    // Three MiB of VCD: read piece by piece, the format by the first byte whatever its name.
    const auto path = (m_dir / "big.dump").string();
    {
        std::ofstream out(path);
        out << "$timescale 1 ns $end\n$var wire 1 a A $end\n$enddefinitions $end\n";
        for (int i = 0; out.tellp() < (3 << 20); ++i) {
            out << '#' << i * 10 << ' ' << (i % 2) << "a\n";
        }
    }
    const auto size = std::filesystem::file_size(path);
    ReadOptions options;
    std::uint64_t last = 0;
    int calls = 0;
    options.progress = [&](std::uint64_t done, std::uint64_t total) {
        EXPECT_EQ(total, size);
        EXPECT_GE(done, last);
        last = done;
        ++calls;
        return true;
    };
    FileReadError error;
    const CapturePtr capture = ReadCaptureFile(path, options, error);
    ASSERT_TRUE(capture) << error.Text();
    EXPECT_EQ(capture->Period(), SamplePeriod::FromPicoseconds(10'000));
    EXPECT_EQ(last, size);
    EXPECT_GE(calls, 3);

    options.progress = [](std::uint64_t done, std::uint64_t total) { return done < total / 2; };
    EXPECT_FALSE(ReadCaptureFile(path, options, error));
    EXPECT_EQ(error.kind, FileReadError::Kind::Cancelled);
}

// ---- Texts ----------------------------------------------------------------------------------

TEST(Texts, NamesAreShownSafely) {
    EXPECT_EQ(SafeText("clk"), "clk");
    EXPECT_EQ(SafeText("\x1b[31mred"), "\\x1b[31mred");
    EXPECT_EQ(SafeText("a\xff"
                       "b"),
              "a\\xffb");
    EXPECT_EQ(SafeText("\xc2\x9b"
                       "x"),
              "\\xc2\\x9bx"); // a C1 control
    EXPECT_EQ(SafeText("a\xe2\x80\xae"
                       "b"),
              "a\\u202eb");
    EXPECT_EQ(SafeText("ｸﾛｯｸ µs"), "ｸﾛｯｸ µs");
    EXPECT_EQ(DisplayWidth("クロック"), 8);
    EXPECT_EQ(DisplayWidth("ｸﾛｯｸ"), 4);
    EXPECT_EQ(DisplayWidth("a\xff"), 2);
    EXPECT_FALSE(IsValidUtf8("\xc0\x80")); // overlong
    EXPECT_TRUE(IsValidUtf8("D0 ｸﾛｯｸ"));
    EXPECT_EQ(ValidUtf8("a\xff\xc0\x80ｸ"), "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDｸ");
}

TEST(Texts, RatesAndPeriodsAreExact) {
    struct Case {
        const char* text;
        std::optional<SamplePeriod> period;
    };
    const Case cases[] = {
        {"24 MHz", SamplePeriod::FromHz(24'000'000)},
        {"24mhz", SamplePeriod::FromHz(24'000'000)},
        {"1.5 MHz", SamplePeriod::FromHz(1'500'000)},
        {"1000000", SamplePeriod::FromHz(1'000'000)},
        {"500 kHz", SamplePeriod::FromHz(500'000)},
        {"20ns", SamplePeriod::FromPicoseconds(20'000)},
        {"41.6667 ns", SamplePeriod::Fraction(416'667, 10'000'000'000'000)},
        {"2 µs", SamplePeriod::FromPicoseconds(2'000'000)},
        {"1 s", SamplePeriod::Fraction(1, 1)},
        {"0", std::nullopt},
        {"fast", std::nullopt},
        {"24 MHzz", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseSampleRate(c.text), c.period) << c.text;
    }
    EXPECT_EQ(SigrokRateText(24'000'000), "24 MHz");
    EXPECT_EQ(SigrokRateText(1'500'000), "1.5 MHz");
    EXPECT_EQ(SigrokRateText(100), "100 Hz");
    EXPECT_EQ(SigrokRateText(1'000'000'000), "1 GHz");
}

} // namespace
