// The capture run against the emulated analyzer's timing: late packets, and fast replies on
// a line paced at 921600 baud.
#include "capture/capture_run.h"
#include "emulator/analyzer_emulator.h"

#include <gtest/gtest.h>

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

    /// Runs one capture (trigger mode off) against an analyzer with these options.
    CaptureResult Run(EmulatorOptions options, bool bFast) {
        m_analyzer.emplace(options);
        EXPECT_TRUE(m_analyzer->Start());
        EXPECT_EQ(m_port.OpenPath(m_analyzer->SlavePath(), CSerialPort::kAnalyzerBaud), 1);
        m_link.SetFastReplies(bFast);
        m_link.ArmCapture();
        return RunCapture(m_link, m_store, m_storeLock, m_flags, m_host);
    }
};

TEST_F(LinkTimingTest, LatePacketIsNeverTakenForTheNextRequest) {
    EmulatorOptions late;
    late.fault = EmulatorFault::Delay;
    late.delay = 45ms; // every packet arrives during the next request's pause
    EXPECT_EQ(Run(late, false).packetsAccepted, 0);
    ASSERT_EQ(m_host.m_warnings.size(), 64u);
    EXPECT_EQ(m_host.m_warnings.back(), PacketWarningText(0));
    EXPECT_EQ(m_store.GetSample(200), 0); // nothing of another packet was stored
}

TEST_F(LinkTimingTest, FastRunOnAPacedLineTakesEveryPacket) {
    EmulatorOptions paced;
    paced.lineRateBaud = 921600;
    EXPECT_EQ(Run(paced, true).packetsAccepted, 64);
    EXPECT_TRUE(m_host.m_warnings.empty());
    EXPECT_EQ(m_store.GetSample(4031), m_analyzer->LastCapture()->samples[4031]);
}

TEST_F(LinkTimingTest, FastReaderJudgesASlowPacketAtThePauseAsWithout) {
    // Packet 5's last byte comes after the pause: rejected with the count at the pause.
    EmulatorOptions slow;
    slow.lineRateBaud = 921600;
    slow.fault = EmulatorFault::LateByte;
    slow.faultPacket = 5;
    slow.delay = 40ms;
    EXPECT_EQ(Run(slow, true).packetsAccepted, 63);
    EXPECT_EQ(m_host.m_warnings, std::vector<std::string>{PacketWarningText(255)});
}

} // namespace
