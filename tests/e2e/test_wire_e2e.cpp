// Nothing wrong from the wire: quillon-cli, the window and `quillon --screenshot` against
// analyzers that answer late, drop a packet, put noise in front of one or send a stray byte
// after one, in normal and fast download. Whatever they lose, no sample they mark received
// differs from what the analyzer sent for it, and their warnings and exit statuses say what
// was lost. Each case runs the three at once, each against an emulator of its own.
#include "e2e/capture_files.h"
#include "e2e/program_runner.h"
#include "emulator/analyzer_emulator.h"
#include "support/pty_pair.h"
#include "ui/analyzer_dlg.h"
#include "ui/strings.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <ostream>
#include <regex>
#include <set>
#include <thread>

namespace {

using namespace quillon;
using test::RunProgram;

constexpr int kWindowTimeoutMs = 60'000;
constexpr int kKeptPacketCount = 32;
constexpr const char* kReplyDelay = "150";

struct WireCase {
    const char* name;
    EmulatorFault fault;
    int packet;  ///< the packet hit (late-packets: the first one)
    int delayMs; ///< late-packets
    int gapMs;   ///< noise-front: its last byte this much later; stray-byte: the stray's delay
    bool fast;
    int exitStatus;            ///< quillon-cli's and quillon --screenshot's
    std::set<int> lost;        ///< kept packets marked not received (at least these)
    std::vector<int> warnings; ///< the N of each "Packet is not 256. it's N", in order
    bool outOfStep = false;    ///< a reply came later than waited for: told once more
    /// Packets that timing may cost as well, each way right: out of step, whether the packet
    /// before the lost one goes too depends on which reply showed it; a byte close to a
    /// packet's pause, or a reader held up on a busy machine, may make one more doubtful.
    std::set<int> mayAlsoLose = {};
};

/// The lost packets are those expected, give or take c.mayAlsoLose.
bool LostAsExpected(const std::set<int>& lost, const WireCase& c) {
    std::set<int> allowed = c.lost;
    allowed.insert(c.mayAlsoLose.begin(), c.mayAlsoLose.end());
    return std::includes(lost.begin(), lost.end(), c.lost.begin(), c.lost.end()) &&
           std::includes(allowed.begin(), allowed.end(), lost.begin(), lost.end());
}

void PrintTo(const WireCase& c, std::ostream* os) {
    *os << c.name;
}

std::set<int> Packets(int first, int last) {
    std::set<int> packets;
    for (int p = first; p <= last; ++p) {
        packets.insert(p);
    }
    return packets;
}

/// The counts of the packet warnings in a program's messages, in order.
std::vector<int> WarningCounts(const std::string& text) {
    static const std::regex warning("Packet is not 256\\. it's (-?[0-9]+) \\.");
    std::vector<int> counts;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), warning);
         it != std::sregex_iterator(); ++it) {
        counts.push_back(std::stoi((*it)[1]));
    }
    return counts;
}

/// Every sample the CSV holds as received equals the analyzer's; returns the kept packets
/// that hold unknown samples.
std::set<int> CheckedLostPackets(const std::string& csvPath, const CAnalyzerEmulator& analyzer) {
    const auto truth = test::KeptSamples(analyzer);
    std::vector<std::uint8_t> unknown;
    const auto samples = test::CsvSamples(test::Slurp(csvPath), 1, &unknown);
    EXPECT_EQ(samples.size(), truth.size()) << csvPath;
    std::set<int> lost;
    int wrong = 0;
    for (std::size_t i = 0; i < samples.size() && i < truth.size(); ++i) {
        if (unknown[i] != 0) {
            lost.insert(static_cast<int>(i / 128));
        } else if (samples[i] != truth[i]) {
            ++wrong;
            ADD_FAILURE() << csvPath << ": sample " << i << " is marked received as 0x" << std::hex
                          << samples[i] << ", the analyzer sent 0x" << truth[i] << std::dec;
        }
        if (wrong > 5) {
            break;
        }
    }
    return lost;
}

class WireE2E : public ::testing::TestWithParam<WireCase> {
protected:
    EmulatorOptions Options() const {
        const WireCase& c = GetParam();
        EmulatorOptions options;
        options.fault = c.fault;
        options.faultPacket = c.packet;
        options.delay = std::chrono::milliseconds(c.delayMs);
        options.gap = std::chrono::milliseconds(c.gapMs);
        options.garbageBytes = 1;
        return options;
    }
};

TEST_P(WireE2E, NoSampleMarkedReceivedIsWrong) {
    const WireCase& c = GetParam();
    CAnalyzerEmulator forCli(Options());
    CAnalyzerEmulator forShot(Options());
    CAnalyzerEmulator forWindow(Options());
    ASSERT_TRUE(forCli.Start() && forShot.Start() && forWindow.Start());
    test::TempDir dir("quillon-wire-e2e-");
    const std::string csv = dir.File("cli.csv");
    test::ScopedEnv ports("QUILLON_PORTS", "COM3=" + forWindow.SlavePath());

    // The command and the unattended window in processes of their own, meanwhile the window.
    // Three programs start at once (under the sanitizers too): identification gets more
    // than 30 ms. The late-reply wait stays as it is (it is never below 500 ms).
    std::vector<std::string> cliArgs = {"capture", "--reply-delay", kReplyDelay, "-o", csv};
    std::vector<std::string> shotArgs = {"--reply-delay", kReplyDelay, "--screenshot",
                                         dir.File("shot.png")};
    if (c.fast) {
        cliArgs.emplace_back("--fast");
    }
    test::ProgramResult cli;
    test::ProgramResult shot;
    std::thread cliThread([&] {
        cli = RunProgram(QUILLON_CLI, cliArgs, {"QUILLON_PORTS=COM3=" + forCli.SlavePath()});
    });
    std::thread shotThread([&] {
        // The screenshot has no fast download: it stands for normal mode only.
        if (!c.fast) {
            shot = RunProgram(QUILLON_PROGRAM, shotArgs,
                              {"QUILLON_PORTS=COM3=" + forShot.SlavePath()});
        }
    });

    int argc = 1;
    char name[] = "test_wire_e2e";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QStringList messages;
    {
        CAnalyzerDlg dlg;
        dlg.SetUnattended(true); // messages to standard error, no boxes
        dlg.SetStartReplyDelay(QString::fromLatin1(kReplyDelay));
        QObject::connect(&dlg, &CAnalyzerDlg::MessageShown,
                         [&messages](const QString& text) { messages << text; });
        dlg.OnInitDialog();
        ASSERT_TRUE(dlg.Session().Port().IsOpen());
        dlg.SetFastDownload(c.fast);
        QEventLoop loop;
        QObject::connect(&dlg, &CAnalyzerDlg::CaptureFinished, &loop, &QEventLoop::quit);
        QTimer::singleShot(kWindowTimeoutMs, &loop, &QEventLoop::quit);
        dlg.OnRun();
        loop.exec();
        ASSERT_FALSE(dlg.IsCapturing());
        const std::string window = dir.File("window.csv");
        const QString told = messages.join(QString());
        ASSERT_TRUE(dlg.SaveCapture(QString::fromStdString(window)));
        const auto lost = CheckedLostPackets(window, forWindow);
        EXPECT_TRUE(LostAsExpected(lost, c))
            << "the window lost " << ::testing::PrintToString(lost);
        EXPECT_EQ(WarningCounts(told.toStdString()), c.warnings) << told.toStdString();
        EXPECT_EQ(told.contains(QString::fromUtf8(kOutOfStepText).section(' ', 0, 0)), c.outOfStep)
            << told.toStdString();
    }
    cliThread.join();
    shotThread.join();

    EXPECT_EQ(cli.exitCode, c.exitStatus) << cli.err;
    const auto lost = CheckedLostPackets(csv, forCli);
    EXPECT_TRUE(LostAsExpected(lost, c)) << "quillon-cli lost " << ::testing::PrintToString(lost);
    EXPECT_EQ(WarningCounts(cli.err), c.warnings) << cli.err;
    EXPECT_EQ(cli.err.find("came later than it was waited for") != std::string::npos, c.outOfStep)
        << cli.err;
    if (!c.fast) {
        EXPECT_EQ(shot.exitCode, c.exitStatus) << shot.err;
        EXPECT_EQ(WarningCounts(shot.err), c.warnings) << shot.err;
    }
}

const std::set<int> kNone;

INSTANTIATE_TEST_SUITE_P(
    Faults, WireE2E,
    ::testing::Values(
        // Every reply from packet 5 on late: waited for, and every packet its own.
        WireCase{"late_62ms", EmulatorFault::LatePackets, 5, 62, 0, false, 0, kNone, {}},
        WireCase{"late_62ms_fast", EmulatorFault::LatePackets, 5, 62, 0, true, 0, kNone, {}},
        WireCase{"late_100ms", EmulatorFault::LatePackets, 5, 100, 0, false, 0, kNone, {}},
        WireCase{"late_100ms_fast", EmulatorFault::LatePackets, 5, 100, 0, true, 0, kNone, {}},
        WireCase{"late_250ms", EmulatorFault::LatePackets, 5, 250, 0, false, 0, kNone, {}},
        WireCase{"late_250ms_fast", EmulatorFault::LatePackets, 5, 250, 0, true, 0, kNone, {}},
        // Later than any wait: from packet 5 on no reply can be matched with its request.
        WireCase{"late_600ms",
                 EmulatorFault::LatePackets,
                 5,
                 600,
                 0,
                 false,
                 5,
                 Packets(5, kKeptPacketCount - 1),
                 {0},
                 true,
                 {4}},
        // A noise byte and 255 bytes, the last one 20 ms later: too many at the pause; fast
        // download has asked for packet 6 by then, which the late byte came ahead of.
        WireCase{"noise_front_split",
                 EmulatorFault::NoiseFront,
                 5,
                 0,
                 20,
                 false,
                 5,
                 {5},
                 {257},
                 false,
                 {4, 6}},
        WireCase{"noise_front_split_fast",
                 EmulatorFault::NoiseFront,
                 5,
                 0,
                 20,
                 true,
                 5,
                 {5},
                 {257},
                 false,
                 {4, 6}},
        // Noise in front of a whole packet: it may be the end of the packet before.
        WireCase{"noise_front", EmulatorFault::NoiseFront, 5, 0, 0, false, 5, {4, 5}, {257}},
        WireCase{"noise_front_fast", EmulatorFault::NoiseFront, 5, 0, 0, true, 5, {4, 5}, {257}},
        // A stray byte 10 ms after a whole packet.
        WireCase{
            "stray_byte", EmulatorFault::StrayByte, 5, 0, 10, false, 5, {5}, {257}, false, {4, 6}},
        WireCase{"stray_byte_fast",
                 EmulatorFault::StrayByte,
                 5,
                 0,
                 10,
                 true,
                 5,
                 {5},
                 {257},
                 false,
                 {4, 6}},
        // Nothing ever comes: one packet lost, the rest kept.
        WireCase{"dropped", EmulatorFault::DropPacket, 5, 0, 0, false, 5, {5}, {0}},
        WireCase{"dropped_fast", EmulatorFault::DropPacket, 5, 0, 0, true, 5, {5}, {0}},
        // Beyond the kept samples: told, but the capture is whole.
        WireCase{"dropped_beyond_the_kept_samples",
                 EmulatorFault::DropPacket,
                 40,
                 0,
                 0,
                 false,
                 0,
                 kNone,
                 {0}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
