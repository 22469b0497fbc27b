// The commands against the emulated analyzer's timing: late replies, a line paced at
// 921600 baud, and fast replies, through the capture run as the window and tool use it.
#include "capture/capture_run.h"
#include "emulator/analyzer_emulator.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace quillon;
using namespace std::chrono_literals;

class WarningHost : public IAnalyzerHost, public ICaptureHost {
public:
    std::vector<std::string> m_warnings;
    void ShowPacketWarning(const std::string& text) override { m_warnings.push_back(text); }
};

class LinkTimingTest : public ::testing::Test {
protected:
    std::optional<CAnalyzerEmulator> m_analyzer;
    CSerialPort m_port;
    WarningHost m_host;
    CAnalyzerLink m_link{m_port, m_host};
    SampleStore m_store;
    std::mutex m_storeLock;
    CaptureFlags m_flags;

    void Start(EmulatorOptions options) {
        m_analyzer.emplace(options);
        ASSERT_TRUE(m_analyzer->Start());
        ASSERT_EQ(m_port.OpenPath(m_analyzer->SlavePath(), CSerialPort::kAnalyzerBaud), 1);
    }
    CaptureResult Run() {
        m_link.ArmCapture();
        return RunCapture(m_link, m_store, m_storeLock, m_flags, m_host);
    }
    /// Packets of the store that hold exactly what the analyzer sent for them.
    int PacketsMatching() const {
        const auto capture = m_analyzer->LastCapture();
        int n = 0;
        for (int k = 0; capture && k < SampleStore::kSamplesPerCapture / 128; ++k) {
            bool same = true;
            for (int i = k * 128; i < (k + 1) * 128; ++i) {
                same = same && m_store.GetSample(i) == capture->samples[static_cast<size_t>(i)];
            }
            n += same ? 1 : 0;
        }
        return n;
    }
};

TEST_F(LinkTimingTest, LatePacketIsNeverTakenForTheNextRequest) {
    EmulatorOptions late;
    late.fault = EmulatorFault::Delay;
    late.delay = 45ms; // every packet arrives during the next request's pause
    Start(late);
    const auto result = Run();
    EXPECT_EQ(result.packetsAccepted, 0);
    ASSERT_EQ(m_host.m_warnings.size(), 64u);
    EXPECT_EQ(m_host.m_warnings.back(), PacketWarningText(0));
    EXPECT_EQ(PacketsMatching(), 0);
}

TEST_F(LinkTimingTest, FastRunOnAPacedLineTakesEveryPacketWithTheSameCommands) {
    EmulatorOptions paced;
    paced.lineRateBaud = 921600;
    Start(paced);
    m_link.SetFastReplies(true);
    const auto result = Run();
    EXPECT_EQ(result.packetsAccepted, 64);
    EXPECT_TRUE(m_host.m_warnings.empty());
    EXPECT_EQ(PacketsMatching(), SampleStore::kSamplesPerCapture / 128);
    const auto log = m_analyzer->Commands();
    EXPECT_EQ(
        std::count_if(log.begin(), log.end(), [](const auto& c) { return c.text == "REQPK\r"; }),
        64);
}

TEST_F(LinkTimingTest, FastReaderJudgesSlowAndLongPacketsAsWithout) {
    // Packet 5's last byte comes after the pause: rejected with the count at the pause.
    EmulatorOptions slow;
    slow.lineRateBaud = 921600;
    slow.fault = EmulatorFault::LateByte;
    slow.faultPacket = 5;
    slow.delay = 40ms;
    Start(slow);
    m_link.SetFastReplies(true);
    auto result = Run();
    EXPECT_EQ(result.packetsAccepted, 63);
    EXPECT_EQ(m_host.m_warnings, std::vector<std::string>{PacketWarningText(255)});
    EXPECT_EQ(PacketsMatching(), 30); // of the 31 whole packets kept, all but packet 5

    // A 257th byte right behind the packet is caught.
    m_port.Close();
    m_host.m_warnings.clear();
    EmulatorOptions longer;
    longer.lineRateBaud = 921600;
    longer.fault = EmulatorFault::LongPacket;
    longer.faultPacket = 7;
    Start(longer);
    result = Run();
    EXPECT_EQ(result.packetsAccepted, 63);
    EXPECT_EQ(m_host.m_warnings, std::vector<std::string>{PacketWarningText(257)});
}

} // namespace
