// Writing capture files: every format read back gives the same samples, samples not
// received, rate, trigger and names; the VCD and CSV texts as other programs read them; the
// sigrok session file's metadata as sigrok reads it.
#include "file/capture_file.h"
#include "unit/file_test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <sstream>

using namespace quillon;
using test::Levels;

namespace {

struct Shape {
    const char* name;
    int channels;
    std::int64_t count;
    SamplePeriod period;
    std::optional<std::int64_t> trigger;
};

void PrintTo(const Shape& s, std::ostream* os) {
    *os << s.name;
}

// Runs of random length on every channel, a few names worth escaping, a sample missing on
// every channel and a stretch missing on one.
CapturePtr Make(const Shape& shape) {
    CaptureBuilder builder(shape.channels, shape.period);
    std::mt19937 random(static_cast<unsigned>(shape.channels * 131 + shape.count));
    for (int c = 0; c < shape.channels; ++c) {
        bool level = (random() & 1U) != 0;
        for (std::int64_t i = 0; i < shape.count;) {
            const std::int64_t run = 1 + static_cast<std::int64_t>(random() % (3 + 7 * c % 40));
            builder.Fill(c, i, std::min(shape.count, i + run), level);
            i += run;
            level = !level;
        }
    }
    builder.SetChannelName(0, "SCLK");
    if (shape.channels > 2) {
        builder.SetChannelName(1, "UART TX");
        builder.SetChannelName(2, "\xef\xbd\xb8\xef\xbe\x9b\xef\xbd\xaf\xef\xbd\xb8"); // ｸﾛｯｸ
    }
    if (shape.count > 40) {
        builder.MarkMissing(-1, 30, 31);
        builder.MarkMissing(shape.channels - 1, 10, 20);
    }
    builder.SetTrigger(shape.trigger);
    return builder.Finish();
}

class RoundTrip : public ::testing::TestWithParam<std::tuple<FileFormat, Shape>> {};

TEST_P(RoundTrip, GivesBackWhatWasWritten) {
    const auto& [format, shape] = GetParam();
    const CapturePtr written = Make(shape);
    const std::string bytes = CaptureFileBytes(*written, format, "today");
    ASSERT_FALSE(bytes.empty());
    const char* name = format == FileFormat::Vcd   ? "a.vcd"
                       : format == FileFormat::Csv ? "a.csv"
                                                   : "a.sr";
    FileReadError error;
    const CapturePtr read = ReadCaptureBytes(bytes, name, {}, error);
    ASSERT_TRUE(read) << error.Text();
    ASSERT_EQ(read->ChannelCount(), written->ChannelCount());
    for (int c = 0; c < written->ChannelCount(); ++c) {
        ASSERT_EQ(Levels(*read, c), Levels(*written, c)) << "channel " << c;
    }
    EXPECT_EQ(read->Period(), written->Period());
    EXPECT_EQ(read->TriggerSample(), written->TriggerSample());
    EXPECT_EQ(read->ChannelName(0), "SCLK");
    if (shape.channels > 2) {
        // A blank would split a VCD or CSV name; sigrok's files keep it.
        EXPECT_EQ(read->ChannelName(1), format == FileFormat::Sigrok ? "UART TX" : "UART_TX");
        EXPECT_EQ(read->ChannelName(2), written->ChannelName(2));
        EXPECT_EQ(read->ChannelName(3), "D3");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, RoundTrip,
    ::testing::Combine(
        ::testing::Values(FileFormat::Vcd, FileFormat::Csv, FileFormat::Sigrok),
        ::testing::Values(
            Shape{"analyzer", 16, 4032, SamplePeriod::FromPicoseconds(20'000), 1008},
            Shape{"slowest", 16, 4032, SamplePeriod::FromPicoseconds(20'000'000), std::nullopt},
            Shape{"sigrok24MHz", 34, 5000, SamplePeriod::FromHz(24'000'000), 17},
            Shape{"oneSample", 1, 1, SamplePeriod::FromPicoseconds(1500), std::nullopt},
            // Neither whole picoseconds nor whole hertz, and more than 64 channels.
            Shape{"seventy", 70, 300, *SamplePeriod::Fraction(7, 3'000'000'000), 0})),
    [](const auto& info) {
        const FileFormat f = std::get<0>(info.param);
        return std::string(f == FileFormat::Vcd   ? "Vcd_"
                           : f == FileFormat::Csv ? "Csv_"
                                                  : "Sr_") +
               std::get<1>(info.param).name;
    });

// ---- VCD ------------------------------------------------------------------------------------

CapturePtr Words(std::vector<std::uint16_t> words, std::int64_t periodPs = 20'000) {
    return CaptureFromWords(words, SamplePeriod::FromPicoseconds(periodPs));
}

std::string Body(const std::string& vcd) {
    return vcd.substr(vcd.find("$enddefinitions $end\n") + 21);
}

TEST(Vcd, HeaderDeclaresAWireForEachChannelAtOneNanosecond) {
    const std::string text = CaptureFileBytes(*Words({0}), FileFormat::Vcd);
    EXPECT_NE(text.find("$comment\n\tsample_period_ps=20000\n$end\n"), std::string::npos) << text;
    EXPECT_NE(text.find("$timescale 1 ns $end\n$scope module quillon $end\n"
                        "$var wire 1 a D0 $end\n$var wire 1 b D1 $end\n"),
              std::string::npos);
    EXPECT_NE(text.find("$var wire 1 p D15 $end\n$upscope $end\n$enddefinitions $end\n"),
              std::string::npos);
    EXPECT_EQ(text.find("$date"), std::string::npos);
    EXPECT_EQ(CaptureFileBytes(*Words({0}), FileFormat::Vcd, "2024-05-01")
                  .rfind("$date\n\t2024-05-01\n$end\n", 0),
              0U);
    // Many channels: identifiers of letters only, each once.
    CaptureBuilder wide(120, SamplePeriod::FromPicoseconds(1000));
    wide.Resize(2);
    std::istringstream in(CaptureFileBytes(*wide.Finish(), FileFormat::Vcd));
    std::set<std::string> ids;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("$var wire 1 ", 0) == 0) {
            const std::string id = line.substr(12, line.find(' ', 12) - 12);
            EXPECT_TRUE(std::all_of(id.begin(), id.end(), [](char c) { return std::isalpha(c); }))
                << id;
            ids.insert(id);
        }
    }
    EXPECT_EQ(ids.size(), 120U);
}

TEST(Vcd, DumpsAllAtZeroThenOnlyChangesAndEndsAfterTheLastSample) {
    const std::string body = Body(CaptureFileBytes(
        *Words({0x0001, 0x0001, 0x8001, 0x8000, 0x8000}, 200'000), FileFormat::Vcd));
    // #0 with all 16, #400 (sample 2) D15, #600 (sample 3) D0, #1000 the end; 1 and 4 are quiet.
    EXPECT_EQ(body.substr(0, 18), "#0\n$dumpvars\n1a\n0b");
    EXPECT_NE(body.find("0p\n$end\n#400\n1p\n#600\n0a\n#1000\n"), std::string::npos) << body;
    EXPECT_EQ(std::count(body.begin(), body.end(), '#'), 4);
}

// Samples not received are unknown on the channels that missed them, never old data.
TEST(Vcd, MissingSamplesAreUnknownPerChannel) {
    CaptureBuilder builder(3, SamplePeriod::FromPicoseconds(20'000));
    builder.Fill(0, 0, 5, true);
    builder.MarkMissing(-1, 1, 3); // a lost packet: every channel
    builder.MarkMissing(2, 4, 5);  // one channel
    const std::string body = Body(CaptureFileBytes(*builder.Finish(), FileFormat::Vcd));
    EXPECT_EQ(body, "#0\n$dumpvars\n1a\n0b\n0c\n$end\n#20\nxa\nxb\nxc\n#60\n1a\n0b\n0c\n"
                    "#80\nxc\n#100\n");
}

TEST(Vcd, NamesAreOneTokenEach) {
    CaptureBuilder builder(3, SamplePeriod::FromPicoseconds(20'000));
    builder.Resize(1);
    builder.SetChannelName(0, "chip select");
    builder.SetChannelName(1, "a,\"b\"\n$end");
    builder.SetChannelName(2, "");
    const std::string vcd = CaptureFileBytes(*builder.Finish(), FileFormat::Vcd);
    EXPECT_NE(vcd.find("$var wire 1 a chip_select $end\n$var wire 1 b a_\"b\"__end $end\n"
                       "$var wire 1 c D2 $end\n"),
              std::string::npos)
        << vcd;
}

TEST(Vcd, ARateOfNoWholePicosecondsIsStatedExactly) {
    const CapturePtr capture =
        CaptureFromWords(std::vector<std::uint16_t>{0, 1, 0}, SamplePeriod::FromHz(24'000'000));
    const std::string vcd = CaptureFileBytes(*capture, FileFormat::Vcd);
    EXPECT_NE(vcd.find("sample_period_s=1/24000000"), std::string::npos);
    EXPECT_NE(vcd.find("$timescale 1 ps $end"), std::string::npos);
    EXPECT_NE(vcd.find("#41667\n1a\n#83333\n0a\n#125000\n"), std::string::npos) << vcd;
}

// ---- CSV ------------------------------------------------------------------------------------

TEST(Csv, HeaderThenOneRowPerSampleWithTimeAndLevels) {
    const std::string text =
        CaptureFileBytes(*Words({0x0000, 0x8001, 0x0102}, 2'000'000), FileFormat::Csv);
    EXPECT_EQ(text, "time_ns,D0,D1,D2,D3,D4,D5,D6,D7,D8,D9,D10,D11,D12,D13,D14,D15\n"
                    "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0\n"
                    "2000,1,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1\n"
                    "4000,0,1,0,0,0,0,0,0,1,0,0,0,0,0,0,0\n");
}

TEST(Csv, MissingSamplesLeaveTheirFieldsEmptyAndTheTriggerIsNoted) {
    CaptureBuilder builder(2, SamplePeriod::FromPicoseconds(20'000));
    builder.Fill(0, 0, 4, true);
    builder.MarkMissing(-1, 1, 2);
    builder.MarkMissing(1, 3, 4);
    builder.SetTrigger(2);
    builder.SetChannelName(1, "a,b");
    EXPECT_EQ(CaptureFileBytes(*builder.Finish(), FileFormat::Csv),
              "; trigger_sample=2\ntime_ns,D0,a_b\n0,1,0\n20,,\n40,1,0\n60,1,\n");
}

// ---- sigrok session files -------------------------------------------------------------------

TEST(Sigrok, MetadataAsSigrokReadsIt) {
    std::vector<std::uint16_t> words(4032, 0x0101);
    CaptureBuilder builder(16, SamplePeriod::FromPicoseconds(20'000));
    builder.AppendRows(reinterpret_cast<const std::uint8_t*>(words.data()), 4032, 2);
    builder.SetChannelName(0, " lead\\ing\ttab ");
    builder.SetChannelName(1, "UART TX");
    builder.SetChannelName(2, "bad\xff utf");
    const std::string zip = CaptureFileBytes(*builder.Finish(), FileFormat::Sigrok);
    EXPECT_EQ(test::ZipEntry(zip, "version"), "2");
    const std::string metadata = test::ZipEntry(zip, "metadata");
    EXPECT_NE(metadata.find("[device 1]\ncapturefile=logic-1\ntotal probes=16\n"
                            "samplerate=50 MHz\ntotal analog=0\n"
                            "probe1=\\slead\\\\ing_tab_\nprobe2=UART TX\nprobe3=bad_ utf\n"),
              std::string::npos)
        << metadata;
    EXPECT_NE(metadata.find("probe16=D15\nunitsize=2\n"), std::string::npos);
    EXPECT_EQ(metadata.find("[quillon]"), std::string::npos) << "nothing of ours to keep";
    EXPECT_EQ(test::ZipEntry(zip, "logic-1-1"),
              std::string(reinterpret_cast<const char*>(words.data()), 8064));
}

} // namespace
