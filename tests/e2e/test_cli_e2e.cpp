// quillon-cli and the window's export against emulated analyzers, the files read back by
// sigrok-cli as a viewer would read them.
#include "display/timebase.h"
#include "display/waveform.h"
#include "e2e/capture_files.h"
#include "e2e/program_runner.h"
#include "emulator/analyzer_emulator.h"
#include "support/pty_pair.h"
#include "support/small_disk.h"
#include "ui/analyzer_dlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QImage>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

using namespace quillon;
using test::CsvSamples;
using test::KeptSamples;
using test::Lines;
using test::RunProgram;
using test::Slurp;
using test::TempDir;
using test::Which;
namespace fs = std::filesystem;

constexpr const char* kUartText = "Hello from Quillon!\r\n";

std::vector<std::string> Texts(const std::vector<CAnalyzerEmulator::LoggedCommand>& commands) {
    std::vector<std::string> texts;
    for (const auto& c : commands) {
        texts.push_back(c.text);
    }
    return texts;
}

/// sigrok-cli's UART decoder run over a VCD file: the decoded characters.
std::string DecodeUart(const std::string& vcd, const std::string& channel, int baud) {
    const std::string sigrok = Which("sigrok-cli");
    EXPECT_FALSE(sigrok.empty()) << "sigrok-cli is not installed (scripts/install-deps.sh)";
    const auto result =
        RunProgram(sigrok,
                   {"-i", vcd, "-P",
                    "uart:rx=" + channel + ":baudrate=" + std::to_string(baud) + ":format=ascii",
                    "-A", "uart=rx-data"},
                   {});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::string text;
    const std::string prefix = "uart-1: ";
    for (const auto& line : Lines(result.out)) {
        if (line.rfind(prefix, 0) == 0 && line.size() == prefix.size() + 1) {
            text += line.back();
        }
    }
    return text;
}

/// What sigrok-cli reads of a file, one row per analyzer sample, as 16-bit values; its CSV
/// header in header.
std::vector<std::uint16_t> SigrokRows(const std::vector<std::string>& input,
                                      std::string* header = nullptr) {
    std::vector<std::string> args = input;
    args.insert(args.end(), {"-O", "csv"});
    const auto result = RunProgram(Which("sigrok-cli"), args, {});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    if (header != nullptr) {
        *header = result.out.substr(0, result.out.find("\n0") + 1);
    }
    std::vector<std::uint16_t> samples;
    for (const auto& line : Lines(result.out)) {
        if (line.empty() || line[0] == ';' || line[0] < '0' || line[0] > '1') {
            continue; // comments, the sample rate and the column types
        }
        std::uint16_t value = 0;
        int bit = 0;
        for (char c : line) {
            if (c == '0' || c == '1') {
                value = static_cast<std::uint16_t>(value | ((c - '0') << bit));
                ++bit;
            }
        }
        samples.push_back(value);
    }
    return samples;
}

/// sigrok-cli's reading of a VCD file, one row per analyzer sample, as 16-bit values.
std::vector<std::uint16_t> SigrokSamples(const std::string& vcd, int rate) {
    return SigrokRows({"-i", vcd, "-I", "vcd:downsample=" + std::to_string(20 * rate)});
}

class CliE2E : public ::testing::Test {
protected:
    CAnalyzerEmulator m_analyzer;
    TempDir m_dir;

    void SetUp() override { ASSERT_TRUE(m_analyzer.Start()); }

    /// Runs quillon-cli with QUILLON_PORTS set to ports, by default the analyzer as COM3.
    test::ProgramResult Cli(const std::vector<std::string>& args,
                            const std::optional<std::string>& ports = std::nullopt) const {
        return RunProgram(QUILLON_CLI, args,
                          {"QUILLON_PORTS=" + ports.value_or("COM3=" + m_analyzer.SlavePath())});
    }
};

TEST_F(CliE2E, ListShowsTheNamedPorts) {
    const auto result = Cli({"list"}, "COM3=" + m_analyzer.SlavePath() + "; COM12=/dev/pts/999");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "COM3\t" + m_analyzer.SlavePath() + "\nCOM12\t/dev/pts/999\n");
    EXPECT_TRUE(m_analyzer.Commands().empty()); // listing opens nothing

    const auto none = Cli({"list"}, "");
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("no serial ports"), std::string::npos) << none.err;
}

TEST_F(CliE2E, VcdCaptureDecodesToTheUartText) {
    const std::string vcd = m_dir.File("x.vcd");
    const auto result = Cli({"capture", "-o", vcd});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("analyzer found on COM3"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("warning"), std::string::npos) << result.err;

    // The window's commands, in the window's order.
    std::vector<std::string> expected = {"REQPN\r", "RST\r", "CAP\r",
                                         "SD" + std::string(24, '0') + "\r", "DLD\r"};
    expected.insert(expected.end(), 64, "REQPK\r");
    expected.push_back("CAP\r");
    EXPECT_EQ(Texts(m_analyzer.Commands()), expected);

    // The 921600-baud UART on D8 is some 54 samples per bit at 20 ns.
    const std::string text = DecodeUart(vcd, "D8", 921600);
    ASSERT_GE(text.size(), 5u) << text;
    EXPECT_EQ(text, std::string(kUartText).substr(0, text.size()));
    // Every channel of every sample reads back as the analyzer sent it.
    const auto kept = KeptSamples(m_analyzer);
    ASSERT_EQ(kept.size(), 4032u);
    EXPECT_EQ(SigrokSamples(vcd, 1), kept);
}

TEST_F(CliE2E, SlowerRateCsvHoldsTheSamplesWithTheirTimes) {
    const std::string csv = m_dir.File("x.csv");
    const auto result = Cli({"capture", "--rate", "200ns", "-o", csv});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto commands = Texts(m_analyzer.Commands());
    EXPECT_NE(std::find(commands.begin(), commands.end(), "SD00001" + std::string(19, '0') + "\r"),
              commands.end());
    const std::string text = Slurp(csv);
    EXPECT_EQ(Lines(text).front(), "time_ns,D0,D1,D2,D3,D4,D5,D6,D7,D8,D9,D10,D11,D12,D13,D14,D15");
    EXPECT_EQ(CsvSamples(text, 10), KeptSamples(m_analyzer));
}

// A sigrok session file: sigrok-cli reads it at the real rate with our names, no option.
TEST_F(CliE2E, SessionFileIsReadBySigrokAtItsRate) {
    const std::string sr = m_dir.File("x.sr");
    const auto result = Cli({"capture", "--rate", "20us", "-o", sr});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::string header;
    EXPECT_EQ(SigrokRows({"-i", sr}, &header), KeptSamples(m_analyzer));
    EXPECT_NE(header.find("; Samplerate: 50 kHz\n"), std::string::npos) << header;
    EXPECT_NE(header.find("; Channels (16/16): D0, D1, D2,"), std::string::npos) << header;
}

TEST_F(CliE2E, VcdAtTheSlowestRateDecodesItsUart) {
    const std::string vcd = m_dir.File("slow.vcd");
    const auto result = Cli({"capture", "--rate=20us", "-o", vcd});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    // D11 at 1200 baud is the UART this rate resolves; time stamps count 20 us per sample.
    const std::string text = DecodeUart(vcd, "D11", 1200);
    ASSERT_GE(text.size(), 5u) << text;
    EXPECT_EQ(text, std::string(kUartText).substr(0, text.size()));
    EXPECT_NE(Slurp(vcd).find("\n#80640000\n"), std::string::npos);
}

TEST_F(CliE2E, PngIsTheViewOfTheCapture) {
    const std::string png = m_dir.File("x.png");
    const auto result = Cli({"capture", "--rate", "2us", "--zoom", "5us/d", "-o", png});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const QImage image(QString::fromStdString(png));
    ASSERT_FALSE(image.isNull());
    // Drawn from the same samples as the window draws them.
    SampleStore store;
    const auto kept = KeptSamples(m_analyzer);
    for (std::size_t i = 0; i < kept.size(); ++i) {
        store.m_sampleLow[i] = static_cast<std::uint8_t>(kept[i] & 0xFF);
        store.m_sampleHigh[i] = static_cast<std::uint8_t>(kept[i] >> 8);
    }
    QImage expected(kViewWidth, kViewHeight, QImage::Format_RGB32);
    DrawWaveforms(expected, store, "5us/d", 100);
    EXPECT_EQ(image.convertToFormat(QImage::Format_RGB32), expected);
}

TEST_F(CliE2E, TriggerPatternPutsTheEdgeAtTheTriggerPosition) {
    const std::string csv = m_dir.File("t.csv");
    // D7 (the SPI chip select) low; position 01 puts the trigger at sample 1008.
    const auto result =
        Cli({"capture", "--trigger", "xxxxxxxx0XXXXXXX", "--trigpos", "01", "-o", csv});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto commands = Texts(m_analyzer.Commands());
    EXPECT_NE(std::find(commands.begin(), commands.end(),
                        "SD00000"
                        "01"
                        "xxxxxxxx"
                        "0"
                        "0xxxxxxx\r"),
              commands.end());
    EXPECT_NE(std::find(commands.begin(), commands.end(), "REQTR\r"), commands.end());
    const auto samples = CsvSamples(Slurp(csv), 1);
    ASSERT_EQ(samples, KeptSamples(m_analyzer));
    EXPECT_EQ(samples[1008] & 0x80, 0);
    EXPECT_EQ(samples[1007] & 0x80, 0x80);
}

TEST_F(CliE2E, TriggerThatNeverComesTimesOut) {
    const std::string vcd = m_dir.File("never.vcd");
    const auto result =
        Cli({"capture", "--trigger", "1111111111111111", "--timeout", "1", "-o", vcd});
    EXPECT_EQ(result.exitCode, 3) << result.err;
    EXPECT_NE(result.err.find("no trigger within 1 s"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(vcd));
    // The program may end before the emulator's thread has read its last command.
    std::vector<std::string> commands;
    for (int i = 0; i < 300; ++i) {
        commands = Texts(m_analyzer.Commands());
        if (!commands.empty() && commands.back() == "CAP\r") {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "REQPK\r"), 0);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "DLD\r"), 0);
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back(), "CAP\r"); // left armed
}

TEST_F(CliE2E, NoAnalyzer) {
    const std::string vcd = m_dir.File("x.vcd");
    const auto none = Cli({"capture", "-o", vcd}, "");
    EXPECT_EQ(none.exitCode, 1) << none.err;
    EXPECT_NE(none.err.find("no analyzer found"), std::string::npos) << none.err;

    EmulatorOptions foreignOptions;
    foreignOptions.fault = EmulatorFault::Foreign;
    CAnalyzerEmulator foreign(foreignOptions);
    ASSERT_TRUE(foreign.Start());
    const auto wrong = Cli({"capture", "-o", vcd}, "COM1=" + foreign.SlavePath());
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_NE(wrong.err.find("KPNOTHERDV99\\r"), std::string::npos) << wrong.err;

    const auto named = Cli({"capture", "--port", "COM9", "-o", vcd});
    EXPECT_EQ(named.exitCode, 1);
    EXPECT_NE(named.err.find("no port named COM9"), std::string::npos) << named.err;
    const auto path = Cli({"capture", "--port", foreign.SlavePath(), "-o", vcd});
    EXPECT_EQ(path.exitCode, 1);
    EXPECT_FALSE(fs::exists(vcd));
    EXPECT_TRUE(m_analyzer.Commands().empty()); // never listed, never asked
}

TEST_F(CliE2E, NamedPortIsUsedWithoutSearching) {
    CAnalyzerEmulator spare;
    ASSERT_TRUE(spare.Start());
    const std::string csv = m_dir.File("x.csv");
    const auto byName = Cli({"capture", "--port", "COM5", "-o", csv},
                            "COM3=" + m_analyzer.SlavePath() + ";COM5=" + spare.SlavePath());
    ASSERT_EQ(byName.exitCode, 0) << byName.err;
    EXPECT_TRUE(m_analyzer.Commands().empty());
    EXPECT_EQ(CsvSamples(Slurp(csv), 1), KeptSamples(spare));

    const auto byPath = Cli({"capture", "--port", m_analyzer.SlavePath(), "-o", csv}, "");
    ASSERT_EQ(byPath.exitCode, 0) << byPath.err;
    EXPECT_EQ(CsvSamples(Slurp(csv), 1), KeptSamples(m_analyzer));
}

TEST_F(CliE2E, BadArgumentsTouchNothing) {
    const std::string out = m_dir.File("x.vcd");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"list", "extra"},
        {"capture"},
        {"capture", "-o"},
        {"capture", "-o", m_dir.File("x.txt")},
        {"capture", "-o", m_dir.File("noextension")},
        {"capture", "--rate", "5ns", "-o", out},
        {"capture", "--trigger", "101", "-o", out},
        {"capture", "--trigger", "10101010101010102", "-o", out},
        {"capture", "--trigpos", "2", "-o", out},
        {"capture", "--trigpos", "012", "-o", out},
        {"capture", "--timeout", "soon", "-o", out},
        {"capture", "--timeout", "-1", "-o", out},
        {"capture", "--zoom", "3us/d", "-o", out},
        {"capture", "--count", "-1", "-o", out},
        {"capture", "--count", "2x", "-o", out},
        {"capture", "--reply-delay", "soon", "-o", out},
        {"capture", "--fast=yes", "-o", out},
        {"capture", "--bogus", "-o", out},
        {"capture", "stray", "-o", out},
    };
    for (const auto& args : cases) {
        std::string joined;
        for (const auto& a : args) {
            joined += a + " ";
        }
        const auto result = Cli(args);
        EXPECT_EQ(result.exitCode, 2) << joined;
        EXPECT_FALSE(result.err.empty()) << joined;
    }
    EXPECT_TRUE(m_analyzer.Commands().empty());
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(CliE2E, UnwritableOutputFailsBeforeTheCapture) {
    const auto result = Cli({"capture", "-o", m_dir.File("missing/x.vcd")});
    EXPECT_EQ(result.exitCode, 4);
    EXPECT_NE(result.err.find("No such file or directory"), std::string::npos) << result.err;
    fs::create_directories(m_dir.File("taken.csv"));
    const auto taken = Cli({"capture", "-o", m_dir.File("taken.csv")});
    EXPECT_EQ(taken.exitCode, 4);
    EXPECT_TRUE(m_analyzer.Commands().empty());
}

// An incomplete capture is written with what arrived and the rest as unknown, and exit 5 says
// it is not whole.
TEST_F(CliE2E, LinkLostOrShortPacketWritesTheRestAsUnknown) {
    const std::string vcd = m_dir.File("x.vcd");
    EmulatorOptions hangUp;
    hangUp.fault = EmulatorFault::HangUp;
    hangUp.faultPacket = 10;
    CAnalyzerEmulator dying(hangUp);
    ASSERT_TRUE(dying.Start());
    const auto lost = Cli({"capture", "-o", vcd}, "COM2=" + dying.SlavePath());
    EXPECT_EQ(lost.exitCode, 5) << lost.err;
    EXPECT_NE(lost.err.find("11 of 64 packets"), std::string::npos) << lost.err;
    EXPECT_NE(lost.err.find("2624 of 4032 samples are written as unknown"), std::string::npos)
        << lost.err;
    const std::string dump = Slurp(vcd);
    // Packets 0..10 arrived: from sample 1408 (28160 ns) on, every wire is unknown.
    const auto unknown = dump.find("#28160\nxa\n");
    ASSERT_NE(unknown, std::string::npos) << dump.substr(0, 400);
    EXPECT_EQ(dump.find('x', dump.find("$enddefinitions")), unknown + 7); // none before

    const std::string csv = m_dir.File("x.csv");
    EmulatorOptions shortPacket;
    shortPacket.fault = EmulatorFault::ShortPacket;
    shortPacket.faultPacket = 3;
    CAnalyzerEmulator cut(shortPacket);
    ASSERT_TRUE(cut.Start());
    const auto incomplete = Cli({"capture", "-o", csv}, "COM2=" + cut.SlavePath());
    EXPECT_EQ(incomplete.exitCode, 5) << incomplete.err;
    EXPECT_NE(incomplete.err.find("warning: Packet is not 256. it's 255"), std::string::npos)
        << incomplete.err;
    EXPECT_NE(incomplete.err.find("63 of 64"), std::string::npos) << incomplete.err;
    const auto rows = Lines(Slurp(csv));
    ASSERT_EQ(rows.size(), 1u + 4032u);
    EXPECT_EQ(rows[1 + 3 * 128], std::to_string(3 * 128 * 20) + ",,,,,,,,,,,,,,,,");
    EXPECT_EQ(rows[1 + 4 * 128 - 1], std::to_string((4 * 128 - 1) * 20) + ",,,,,,,,,,,,,,,,");
    EXPECT_NE(rows[1 + 4 * 128].find(",0"), std::string::npos);
}

// A full disk: the old file stays as it was and no partial file is left.
TEST_F(CliE2E, AFullDiskLeavesTheOldFileAlone) {
    test::SmallDisk disk(256 * 1024);
    if (!disk.IsMounted()) {
        GTEST_SKIP() << "no right to mount a small tmpfs";
    }
    const std::string csv = disk.File("old.csv");
    const std::string old(1000, 'o');
    std::ofstream(csv, std::ios::binary) << old;
    disk.Fill(16 * 1024); // a capture's CSV is some 160 kB
    const auto result = Cli({"capture", "-o", csv});
    EXPECT_EQ(result.exitCode, 4) << result.err;
    EXPECT_NE(result.err.find("No space left on device"), std::string::npos) << result.err;
    EXPECT_EQ(Slurp(csv), old);
    EXPECT_EQ(disk.Names(), (std::vector<std::string>{"filler", "old.csv"}));
}

TEST_F(CliE2E, SlowerAnalyzerIsFoundWithALongerReplyWaitAndItsLatePacketsAreWaitedFor) {
    EmulatorOptions late;
    late.fault = EmulatorFault::Delay;
    late.delay = std::chrono::milliseconds(45);
    CAnalyzerEmulator slow(late);
    ASSERT_TRUE(slow.Start());
    const std::string ports = "COM3=" + slow.SlavePath();
    EXPECT_EQ(Cli({"capture", "-o", m_dir.File("x.csv")}, ports).exitCode, 1);
    const auto found = Cli({"capture", "--reply-delay", "60", "-o", m_dir.File("x.csv")}, ports);
    EXPECT_NE(found.err.find("analyzer found on COM3"), std::string::npos) << found.err;
    // Each packet comes after its pause; it is waited for before the next request goes out,
    // so it is its own request's packet.
    EXPECT_EQ(found.exitCode, 0) << found.err;
    EXPECT_EQ(found.err.find("warning"), std::string::npos) << found.err;
    EXPECT_NE(found.err.find("64 packet(s) came after the fixed pause"), std::string::npos)
        << found.err;
    EXPECT_EQ(CsvSamples(Slurp(m_dir.File("x.csv")), 1), KeptSamples(slow));

    // The window takes the same setting.
    const std::string notFound = "USBロジアナが見つかりません。";
    const auto window = RunProgram(QUILLON_PROGRAM, {"--screenshot", m_dir.File("w.png")},
                                   {"QUILLON_PORTS=" + ports});
    EXPECT_NE(window.err.find(notFound), std::string::npos) << window.err;
    const auto slower =
        RunProgram(QUILLON_PROGRAM, {"--reply-delay", "60", "--screenshot", m_dir.File("w.png")},
                   {"QUILLON_PORTS=" + ports});
    EXPECT_EQ(slower.err.find(notFound), std::string::npos) << slower.err;
    EXPECT_EQ(slower.exitCode, 0) << slower.err;
    EXPECT_EQ(slower.err.find("Packet is not 256"), std::string::npos) << slower.err;
}

TEST_F(CliE2E, CountZeroRepeatsFastUntilInterruptedAndKeepsTheFilesWritten) {
    const auto result =
        RunProgram(QUILLON_CLI, {"capture", "--fast", "--count", "0", "-o", m_dir.File("r.vcd")},
                   {"QUILLON_PORTS=COM3=" + m_analyzer.SlavePath()}, [&](pid_t pid) {
                       for (int i = 0; i < 1000 && !fs::exists(m_dir.File("r-002.vcd")); ++i) {
                           std::this_thread::sleep_for(std::chrono::milliseconds(10));
                       }
                       ::kill(pid, SIGINT); // during the third capture, or just after the second
                   });
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const auto at = result.err.find("interrupted after ");
    ASSERT_NE(at, std::string::npos) << result.err;
    const int captures = std::atoi(result.err.c_str() + at + 18);
    EXPECT_TRUE(captures == 2 || captures == 3) << result.err;
    const auto commands = Texts(m_analyzer.Commands());
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "DLD\r"), captures);
    for (int n = 1; n <= 4; ++n) {
        // Every file written is whole: a VCD ends with the time stamp after the last sample.
        const std::string vcd = Slurp(m_dir.File("r-00" + std::to_string(n) + ".vcd"));
        EXPECT_EQ(vcd.find("\n#80640\n") != std::string::npos, n <= captures) << n;
    }
}

/// Waits (at most 10 s) until the analyzer has received command n times.
bool AwaitCommand(const CAnalyzerEmulator& analyzer, const std::string& command, int n = 1) {
    for (int i = 0; i < 1000; ++i) {
        const auto commands = Texts(analyzer.Commands());
        if (std::count(commands.begin(), commands.end(), command) >= n) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// A trigger that never comes, waited for without end: the first Ctrl+C ends the wait as Stop
// does, and the capture under way is downloaded and written.
TEST_F(CliE2E, FirstCtrlCEndsAnEndlessTriggerWaitAsStopDoes) {
    const auto result =
        RunProgram(QUILLON_CLI,
                   {"capture", "--trigger", "1111111111111111", "--timeout", "0", "--count", "0",
                    "-o", m_dir.File("t.csv")},
                   {"QUILLON_PORTS=COM3=" + m_analyzer.SlavePath()}, [&](pid_t pid) {
                       EXPECT_TRUE(AwaitCommand(m_analyzer, "REQTR\r", 3));
                       ::kill(pid, SIGINT);
                   });
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("Ctrl+C again abandons it"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("the trigger wait ended on Ctrl+C"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("interrupted after 1 capture(s)"), std::string::npos) << result.err;
    // Stop's commands: the arm after the last poll, then the download.
    const auto commands = Texts(m_analyzer.Commands());
    const auto dld = std::find(commands.begin(), commands.end(), "DLD\r");
    ASSERT_NE(dld, commands.end());
    EXPECT_EQ(*(dld - 1), "CAP\r");
    EXPECT_EQ(CsvSamples(Slurp(m_dir.File("t-001.csv")), 1), KeptSamples(m_analyzer));
    EXPECT_FALSE(fs::exists(m_dir.File("t-002.csv")));
}

// A second Ctrl+C abandons the capture under way; SIGTERM does so at once. Files written
// before stay whole, nothing half-written is left, and the analyzer is armed again.
TEST_F(CliE2E, SecondCtrlCOrSigtermAbandonsTheCaptureUnderWay) {
    struct Case {
        std::vector<int> sent;
        int status;
    };
    for (const Case& c : {Case{{SIGINT, SIGINT}, 130}, Case{{SIGTERM}, 143}}) {
        CAnalyzerEmulator analyzer;
        ASSERT_TRUE(analyzer.Start());
        TempDir dir;
        const auto result =
            RunProgram(QUILLON_CLI, {"capture", "--count", "3", "-o", dir.File("a.vcd")},
                       {"QUILLON_PORTS=COM3=" + analyzer.SlavePath()}, [&](pid_t pid) {
                           // During the second download.
                           EXPECT_TRUE(AwaitCommand(analyzer, "DLD\r", 2));
                           EXPECT_TRUE(AwaitCommand(analyzer, "REQPK\r", 64 + 10));
                           for (const int signal : c.sent) {
                               ::kill(pid, signal);
                               std::this_thread::sleep_for(std::chrono::milliseconds(50));
                           }
                       });
        EXPECT_EQ(result.exitCode, c.status) << result.err;
        EXPECT_NE(result.err.find("the capture under way was not written"), std::string::npos)
            << result.err;
        EXPECT_NE(Slurp(dir.File("a-001.vcd")).find("\n#80640\n"), std::string::npos);
        EXPECT_FALSE(fs::exists(dir.File("a-002.vcd")));
        for (const auto& entry : fs::directory_iterator(dir.File(""))) {
            EXPECT_EQ(entry.path().filename().string().find(".part"), std::string::npos);
        }
        EXPECT_TRUE(AwaitCommand(analyzer, "CAP\r", 3)); // start-up, 1st and cancelled run
        const auto commands = Texts(analyzer.Commands());
        EXPECT_EQ(commands.back(), "CAP\r");
        // The download under way was cut short, not finished first.
        EXPECT_LT(std::count(commands.begin(), commands.end(), "REQPK\r"), 2 * 64);
    }
}

// Ctrl+C ends a single capture too, also with the decoders' interpreter loaded.
TEST_F(CliE2E, CtrlCEndsASingleCaptureWithDecodersLoaded) {
    const auto result =
        RunProgram(QUILLON_CLI,
                   {"capture", "--trigger", "1111111111111111", "--timeout", "0", "-o",
                    m_dir.File("d.vcd"), "-P", "uart:rx=D8:baudrate=921600"},
                   {"QUILLON_PORTS=COM3=" + m_analyzer.SlavePath()}, [&](pid_t pid) {
                       EXPECT_TRUE(AwaitCommand(m_analyzer, "REQTR\r", 3));
                       ::kill(pid, SIGINT);
                       EXPECT_TRUE(AwaitCommand(m_analyzer, "DLD\r"));
                       ::kill(pid, SIGINT);
                   });
    EXPECT_EQ(result.exitCode, 130) << result.err;
    EXPECT_FALSE(fs::exists(m_dir.File("d.vcd")));
}

// Repeated captures go on after an incomplete one; a packet beyond the kept samples leaves
// each capture whole.
TEST_F(CliE2E, CountGoesOnAfterALostPacketAndKnowsWhichOnesMatter) {
    struct Case {
        int packet;
        int status;
        std::size_t unknownRows;
    };
    for (const Case& c : {Case{40, 0, 0}, Case{3, 5, 128}}) {
        EmulatorOptions options;
        options.fault = EmulatorFault::ShortPacket;
        options.faultPacket = c.packet;
        options.shortPacketBytes = 100;
        CAnalyzerEmulator analyzer(options);
        ASSERT_TRUE(analyzer.Start());
        TempDir dir;
        const auto result =
            RunProgram(QUILLON_CLI, {"capture", "--fast", "--count", "2", "-o", dir.File("c.csv")},
                       {"QUILLON_PORTS=COM3=" + analyzer.SlavePath()});
        EXPECT_EQ(result.exitCode, c.status) << result.err;
        EXPECT_NE(result.err.find("2 packet warning(s) in 2 capture(s)"), std::string::npos)
            << result.err;
        for (const char* name : {"c-001.csv", "c-002.csv"}) {
            const auto rows = Lines(Slurp(dir.File(name)));
            ASSERT_EQ(rows.size(), 1u + 4032u) << name;
            EXPECT_EQ(static_cast<std::size_t>(
                          std::count_if(rows.begin(), rows.end(),
                                        [](const std::string& row) { return row.back() == ','; })),
                      c.unknownRows)
                << name;
        }
    }
}

TEST_F(CliE2E, BusyPortIsNamedAsTheCauseWhenNothingIsFound) {
    CSerialPort holder; // another program has the analyzer's port
    ASSERT_EQ(holder.OpenPath(m_analyzer.SlavePath(), CSerialPort::kAnalyzerBaud), 1);
    const auto result = Cli({"capture", "-o", m_dir.File("x.vcd")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(m_analyzer.SlavePath() + ": in use by another program"),
              std::string::npos)
        << result.err;
}

/// The commands the README shows as "quillon-cli COMMAND", in code blocks and code spans.
std::set<std::string> ReadmeCommands() {
    std::ifstream readme(QUILLON_README);
    EXPECT_TRUE(readme) << QUILLON_README;
    std::set<std::string> commands;
    const std::regex command("quillon-cli ([a-z]+)");
    bool inBlock = false;
    for (std::string line; std::getline(readme, line);) {
        if (line.rfind("```", 0) == 0) {
            inBlock = !inBlock;
            continue;
        }
        std::string code;
        if (inBlock) {
            code = line;
        } else {
            for (std::size_t open = line.find('`'); open != std::string::npos;) {
                const std::size_t close = line.find('`', open + 1);
                if (close == std::string::npos) {
                    break;
                }
                code += line.substr(open + 1, close - open - 1) + "\n";
                open = line.find('`', close + 1);
            }
        }
        for (std::sregex_iterator m(code.begin(), code.end(), command), end; m != end; ++m) {
            commands.insert((*m)[1]);
        }
    }
    return commands;
}

/// The lines of a help text's section ("Commands:", "Exit status:") up to the next blank line.
std::vector<std::string> Section(const std::string& help, const std::string& title) {
    std::vector<std::string> lines;
    const auto start = help.find("\n" + title + "\n");
    if (start == std::string::npos) {
        return lines;
    }
    std::istringstream in(help.substr(start + title.size() + 2));
    for (std::string line; std::getline(in, line) && !line.empty();) {
        lines.push_back(line);
    }
    return lines;
}

/// What a command's help says an exit status means; empty when it names no such status.
std::string DocumentedMeaning(const std::string& program, const std::string& command, int status) {
    const auto help = RunProgram(program, {command, "--help"}, {});
    EXPECT_EQ(help.exitCode, 0) << command;
    std::string meaning;
    const std::string head = "  " + std::to_string(status) + "  ";
    bool inEntry = false;
    for (const auto& line : Section(help.out, "Exit status:")) {
        if (line.rfind(head, 0) == 0) {
            meaning = line.substr(head.size());
            inEntry = true;
        } else if (inEntry && line.rfind(std::string(head.size(), ' '), 0) == 0) {
            meaning += " " + line.substr(head.size());
        } else {
            inEntry = false;
        }
    }
    return meaning;
}

// Both programs answer for every command: the quick one that runs decode itself and the one
// with the toolkit that it becomes for the others.
TEST(CliE2EHelp, HelpListsEveryCommandTheReadmeShowsAndEachHasItsOwnHelp) {
    const std::set<std::string> documented = ReadmeCommands();
    ASSERT_TRUE(documented.count("info") == 1 && documented.count("capture") == 1)
        << documented.size();
    for (const char* program : {QUILLON_CLI, QUILLON_CLI_FULL}) {
        const auto help = RunProgram(program, {"--help"}, {});
        ASSERT_EQ(help.exitCode, 0) << program;
        std::set<std::string> listed;
        for (const auto& line : Section(help.out, "Commands:")) {
            if (line.size() > 2 && line[2] != ' ') {
                listed.insert(line.substr(2, line.find(' ', 2) - 2));
            }
        }
        EXPECT_EQ(listed, documented) << program << "\n" << help.out;
        std::set<std::string> synopses; // "Usage: quillon-cli list", "  or:  quillon-cli ..."
        std::istringstream lines(help.out);
        const std::regex usage("(Usage: |  or:  )quillon-cli ([a-z]+).*");
        std::smatch m;
        for (std::string line; std::getline(lines, line) && !line.empty();) {
            if (std::regex_match(line, m, usage)) {
                synopses.insert(m[2]);
            }
        }
        EXPECT_EQ(synopses, documented) << help.out;
        for (const auto& command : listed) {
            const auto own = RunProgram(program, {command, "--help"}, {});
            EXPECT_EQ(own.exitCode, 0) << command;
            EXPECT_TRUE(
                std::regex_search(own.out, std::regex("^Usage: quillon-cli " + command + "[ \n]")))
                << own.out;
            EXPECT_FALSE(Section(own.out, "Exit status:").empty()) << command;
        }
    }
}

// Each case ends with the status the command's help gives for it.
TEST(CliE2EHelp, EachCommandExitsWithTheStatusItsHelpGivesForTheCase) {
    TempDir dir;
    const std::string vcd = dir.File("bench.vcd");
    {
        std::ofstream file(vcd);
        file << "$timescale 1 ns $end\n$var wire 1 ! D0 $end\n$enddefinitions $end\n"
                "#0\n0!\n#20\n1!\n#40\n0!\n#60\n";
    }
    struct Case {
        std::vector<std::string> args;
        const char* meaning; ///< part of what the help says the status means
    };
    const Case cases[] = {
        {{"list", "extra"}, "bad arguments"},
        {{"capture", "--rate", "5ns", "-o", dir.File("x.vcd")}, "bad arguments"},
        {{"capture", "-o", dir.File("x.vcd")}, "no analyzer found"}, // QUILLON_PORTS names none
        {{"capture", "-o", dir.File("missing/x.vcd")}, "could not be written"},
        {{"info", dir.File("missing.vcd")}, "cannot be read"},
        {{"info", vcd, "--rate", "fast"}, "bad arguments"},
        {{"info", vcd}, "success"},
        {{"decode", dir.File("missing.vcd"), "-P", "uart:rx=D0"}, "cannot be read"},
        {{"decode", vcd}, "bad arguments"},
        {{"decoders", "extra"}, "bad arguments"},
        {{"find", vcd, "D0 rise"}, "something matched"},
        {{"find", vcd, "D0 high>1us"}, "nothing did"},
        {{"find", dir.File("missing.vcd"), "D0 rise"}, "cannot be read"},
        {{"find", vcd, "D0 rse"}, "does not parse"},
    };
    for (const auto& c : cases) {
        const auto result = RunProgram(QUILLON_CLI, c.args, {"QUILLON_PORTS="});
        const std::string meaning = DocumentedMeaning(QUILLON_CLI, c.args[0], result.exitCode);
        EXPECT_NE(meaning.find(c.meaning), std::string::npos)
            << c.args[0] << " " << c.args[1] << ": exit " << result.exitCode
            << " is documented as '" << meaning << "'\n"
            << result.err;
    }
}

TEST(CliE2EHelp, HelpNamesTheExitCodesAndVersionIsTheProgramsVersion) {
    const auto help = RunProgram(QUILLON_CLI, {"--help"}, {});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* text : {"list", "capture", "--trigger", "--timeout", "QUILLON_PORTS",
                             "3  the trigger did not come", "4  the output file"}) {
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    }
    const auto version = RunProgram(QUILLON_CLI, {"--version"}, {});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "quillon-cli 1.0.0.1\n");
}

// The window's own export, in this process: a capture with Run, then SaveCapture.
TEST(WindowExportE2E, SavedVcdDecodesToTheUartText) {
    CAnalyzerEmulator analyzer;
    ASSERT_TRUE(analyzer.Start());
    test::ScopedEnv ports("QUILLON_PORTS", "COM3=" + analyzer.SlavePath());
    int argc = 1;
    char name[] = "test_cli_e2e";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    TempDir dir;
    CAnalyzerDlg dlg;
    dlg.SetUnattended(true); // messages to standard error, no boxes
    dlg.OnInitDialog();
    ASSERT_TRUE(dlg.Session().Port().IsOpen());
    QEventLoop loop;
    QObject::connect(&dlg, &CAnalyzerDlg::CaptureFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(30'000, &loop, &QEventLoop::quit);
    dlg.OnRun();
    loop.exec();
    ASSERT_FALSE(dlg.IsCapturing());
    const std::string vcd = dir.File("window.vcd");
    ASSERT_TRUE(dlg.SaveCapture(QString::fromStdString(vcd)));
    const std::string text = DecodeUart(vcd, "D8", 921600);
    ASSERT_GE(text.size(), 5u) << text;
    EXPECT_EQ(text, std::string(kUartText).substr(0, text.size()));
    EXPECT_EQ(SigrokSamples(vcd, 1), KeptSamples(analyzer));
}

} // namespace

// --until hunts for a rare event: captures until one holds a match, writes that one, prints
// its matches; gives up after --count captures with exit 1; refuses a condition that does not
// parse with exit 2 and the place.
TEST_F(CliE2E, UntilCapturesUntilTheConditionMatches) {
    const std::string glitch = "D11 low<100ns";
    {
        EmulatorOptions options;
        options.glitchEvery = 2;
        CAnalyzerEmulator analyzer(options);
        ASSERT_TRUE(analyzer.Start());
        TempDir dir;
        const auto result = RunProgram(
            QUILLON_CLI,
            {"capture", "--fast", "--until", glitch, "--count", "12", "-o", dir.File("g.vcd")},
            {"QUILLON_PORTS=COM3=" + analyzer.SlavePath()});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_NE(result.out.find("D11 low pulse"), std::string::npos) << result.out;
        const auto found = result.err.find("found in capture ");
        ASSERT_NE(found, std::string::npos) << result.err;
        const int k = std::stoi(result.err.substr(found + 17));
        const auto commands = Texts(analyzer.Commands());
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "DLD\r"), k); // none after it
        const auto again = RunProgram(QUILLON_CLI, {"find", dir.File("g.vcd"), glitch}, {});
        EXPECT_EQ(again.exitCode, 0) << again.err;
        EXPECT_EQ(again.out, result.out); // the capture written is the one that matched
    }
    struct Case {
        std::string condition;
        int status;
        std::string told;
    };
    for (const Case& c : {Case{glitch, 1, "no match of 'D11 low<100ns' in 2 capture(s)"},
                          Case{"D3 rise or D12 rse", 2, "(column 16 of the condition)"}}) {
        TempDir dir;
        const auto result = Cli(
            {"capture", "--fast", "--until", c.condition, "--count", "2", "-o", dir.File("n.vcd")});
        EXPECT_EQ(result.exitCode, c.status) << result.err;
        EXPECT_NE(result.err.find(c.told), std::string::npos) << result.err;
        EXPECT_FALSE(std::filesystem::exists(dir.File("n.vcd")));
        EXPECT_TRUE(result.out.empty()) << result.out;
    }
}
