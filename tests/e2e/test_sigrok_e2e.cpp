// Files shared with sigrok-cli: its demo captures (1 to 24 MHz, 8 to 34 channels) as session
// file, VCD and CSV read with the samples sigrok-cli itself prints; our session file read by
// sigrok-cli with our rate and names; quillon-cli info on session files.
#include "e2e/program_runner.h"
#include "file/capture_file.h"
#include "unit/file_test_support.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

using namespace quillon;
using test::Levels;
using test::RunProgram;
using test::Which;
namespace fs = std::filesystem;

namespace {

class SigrokE2E : public ::testing::Test {
protected:
    fs::path m_dir = fs::temp_directory_path() /
                     ("quillon-sigrok-e2e-" + std::to_string(::getpid()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::string m_sigrok = Which("sigrok-cli");

    void SetUp() override {
        ASSERT_FALSE(m_sigrok.empty()) << "sigrok-cli is not installed (scripts/install-deps.sh)";
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    [[nodiscard]] std::string File(const std::string& name) const {
        return (m_dir / name).string();
    }

    std::string Sigrok(const std::vector<std::string>& args) {
        const auto result = RunProgram(m_sigrok, args, {});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return result.out;
    }
    static CapturePtr Read(const std::string& path) {
        FileReadError error;
        CapturePtr capture = ReadCaptureFile(path, {}, error);
        EXPECT_TRUE(capture) << error.Text();
        return capture;
    }
};

/// The levels of each channel from sigrok-cli's CSV without header, labels or time.
std::vector<std::string> ColumnsOf(const std::string& csv) {
    std::vector<std::string> columns;
    std::istringstream in(csv);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == ';') {
            continue;
        }
        std::size_t column = 0;
        for (std::size_t i = 0; i < line.size(); i += 2, ++column) {
            if (columns.size() <= column) {
                columns.emplace_back();
            }
            columns[column] += line[i];
        }
    }
    return columns;
}

struct Demo {
    const char* rate;
    std::uint64_t hz;
    int channels;
};

class SigrokDemo : public SigrokE2E, public ::testing::WithParamInterface<Demo> {};

TEST_P(SigrokDemo, SessionVcdAndCsvGiveTheSamplesSigrokShows) {
    const Demo& demo = GetParam();
    const std::string sr = File("demo.sr");
    Sigrok({"-d", "demo:logic_channels=" + std::to_string(demo.channels) + ":analog_channels=0",
            "--config", std::string("samplerate=") + demo.rate, "--samples", "3000", "-o", sr});
    const std::vector<std::string> expected =
        ColumnsOf(Sigrok({"-i", sr, "-O", "csv:header=false:label=off"}));
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(demo.channels));
    ASSERT_EQ(expected[0].size(), 3000U);
    // The same capture through each of sigrok-cli's output modules.
    const std::vector<std::pair<std::string, std::string>> outputs = {
        {"demo.vcd", "vcd"},
        {"default.csv", "csv"},
        {"changes.csv", "csv:time=true:dedup=true"},
        {"labels.csv", "csv:time=true:label=channel"}};
    std::vector<std::string> files = {sr};
    for (const auto& [name, module] : outputs) {
        Sigrok({"-i", sr, "-O", module, "-o", File(name)});
        files.push_back(File(name));
    }
    for (const std::string& file : files) {
        const CapturePtr capture = Read(file);
        ASSERT_TRUE(capture);
        EXPECT_EQ(capture->Period(), SamplePeriod::FromHz(demo.hz)) << file;
        ASSERT_EQ(capture->ChannelCount(), demo.channels) << file;
        for (int c = 0; c < demo.channels; ++c) {
            EXPECT_EQ(capture->ChannelName(c), DefaultChannelName(c)) << file;
            ASSERT_EQ(Levels(*capture, c), expected[static_cast<std::size_t>(c)])
                << file << " channel " << c;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, SigrokDemo,
                         ::testing::Values(Demo{"1MHz", 1'000'000, 8},
                                           Demo{"12MHz", 12'000'000, 16},
                                           Demo{"24MHz", 24'000'000, 34}),
                         [](const auto& info) { return std::string(info.param.rate); });

// Ours: sigrok-cli shows our rate, names and samples without any option, and what it writes of
// it reads back the same.
TEST_F(SigrokE2E, OurSessionFileIsSigroksCapture) {
    constexpr int kChannels = 12;
    constexpr std::int64_t kSamples = 5000;
    CaptureBuilder builder(kChannels, SamplePeriod::FromHz(24'000'000));
    std::mt19937 random(3);
    for (int c = 0; c < kChannels; ++c) {
        for (std::int64_t i = 0; i < kSamples; ++i) {
            builder.SetLevel(c, i, (random() % (c + 2)) == 0);
        }
    }
    builder.SetChannelName(0, "UART TX");
    builder.SetChannelName(1, "ｸﾛｯｸ");
    const CapturePtr ours = builder.Finish();
    std::string error;
    ASSERT_TRUE(WriteCaptureFile(File("ours.sr"), *ours, FileFormat::Sigrok, error)) << error;

    const std::string csv = Sigrok({"-i", File("ours.sr"), "-O", "csv:label=channel"});
    EXPECT_NE(csv.find("; Samplerate: 24 MHz\n"), std::string::npos) << csv.substr(0, 300);
    EXPECT_NE(csv.find("\nUART TX,ｸﾛｯｸ,D2,D3,"), std::string::npos) << csv.substr(0, 300);
    const std::vector<std::string> shown =
        ColumnsOf(Sigrok({"-i", File("ours.sr"), "-O", "csv:header=false:label=off"}));
    ASSERT_EQ(shown.size(), static_cast<std::size_t>(kChannels));
    for (int c = 0; c < kChannels; ++c) {
        EXPECT_EQ(shown[static_cast<std::size_t>(c)], Levels(*ours, c)) << "channel " << c;
    }
    Sigrok({"-i", File("ours.sr"), "-O", "vcd", "-o", File("back.vcd")});
    Sigrok({"-i", File("ours.sr"), "-o", File("back.sr")});
    for (const char* name : {"back.vcd", "back.sr"}) {
        const CapturePtr back = Read(File(name));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->Period(), ours->Period()) << name;
        EXPECT_EQ(back->ChannelNames(), ours->ChannelNames()) << name;
        for (int c = 0; c < kChannels; ++c) {
            EXPECT_EQ(Levels(*back, c), Levels(*ours, c)) << name << " channel " << c;
        }
    }
}

// quillon-cli info: a file without a rate asks for --rate; names that would upset a terminal
// are escaped in the table, and the JSON stays valid UTF-8.
TEST_F(SigrokE2E, InfoTakesARateAndShowsNamesSafely) {
    const std::string metadata = "[device 1]\ncapturefile=logic-1\ntotal probes=2\n"
                                 "probe1=\x1b[2Jevil\nprobe2=bad\xff\nunitsize=1\n";
    std::ofstream(File("norate.sr"), std::ios::binary)
        << test::ZipOf({{"metadata", metadata}, {"logic-1-1", std::string("\x01\x00\x01\x02", 4)}});
    const auto refused = RunProgram(QUILLON_CLI, {"info", File("norate.sr")}, {});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("does not say its sample rate (give it with --rate"),
              std::string::npos)
        << refused.err;

    const auto table = RunProgram(QUILLON_CLI, {"info", File("norate.sr"), "--rate", "2MHz"}, {});
    ASSERT_EQ(table.exitCode, 0) << table.err;
    EXPECT_NE(table.out.find("4 samples of 500 ns"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("\\x1b[2Jevil"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("bad\\xff"), std::string::npos) << table.out;
    EXPECT_EQ(table.out.find('\x1b'), std::string::npos);

    const auto json =
        RunProgram(QUILLON_CLI, {"info", File("norate.sr"), "--rate=2MHz", "--json"}, {});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    QJsonParseError parse{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(json.out), &parse);
    ASSERT_EQ(parse.error, QJsonParseError::NoError) << json.out;
    const QJsonObject bad =
        document.object().value(QString::fromUtf8("bad\xef\xbf\xbd")).toObject();
    EXPECT_EQ(bad.value(QStringLiteral("channel")).toInt(), 1) << json.out;
    EXPECT_EQ(bad.value(QStringLiteral("rising_edges")).toInt(), 1);
}

} // namespace
