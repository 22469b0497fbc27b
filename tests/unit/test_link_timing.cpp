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
    std::vector<PacketIncident> m_incidents;
    void ReportPacketIncident(const PacketIncident& incident) override {
        m_incidents.push_back(incident);
    }
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
        m_port.Close();
        m_analyzer.emplace(options);
        EXPECT_TRUE(m_analyzer->Start());
        EXPECT_EQ(m_port.OpenPath(m_analyzer->SlavePath(), CSerialPort::kAnalyzerBaud), 1);
        m_link.SetFastReplies(bFast);
        m_link.ArmCapture();
        m_host.m_incidents.clear();
        return RunCapture(m_link, m_store, m_storeLock, m_flags, m_host);
    }

    /// Every received packet holds what the analyzer sent; the others what the store held.
    void ExpectOnlyTrueSamples(const CaptureResult& result, std::uint16_t before) {
        const auto capture = m_analyzer->LastCapture();
        ASSERT_TRUE(capture.has_value());
        for (int i = 0; i < SampleStore::kSamplesPerCapture; ++i) {
            const bool received = result.received.test(static_cast<std::size_t>(i / 128));
            const std::uint16_t expected =
                received ? capture->samples[static_cast<std::size_t>(i)] : before;
            ASSERT_EQ(m_store.GetSample(i), expected) << "sample " << i;
        }
    }
};

TEST_F(LinkTimingTest, LatePacketsAreWaitedForAndTakenAsTheirOwn) {
    EmulatorOptions late;
    late.fault = EmulatorFault::Delay;
    late.delay = 45ms; // every packet would arrive during the next request's pause
    const auto result = Run(late, false);
    EXPECT_EQ(result.packetsAccepted, 64);
    // A busy machine may wake the link only after a reply is in: that one counts as prompt.
    EXPECT_GE(result.lateReplies, 56);
    EXPECT_TRUE(m_host.m_incidents.empty());
    ExpectOnlyTrueSamples(result, 0);
}

TEST_F(LinkTimingTest, FastRunOnAPacedLineTakesEveryPacket) {
    EmulatorOptions paced;
    paced.lineRateBaud = 921600;
    EXPECT_EQ(Run(paced, true).packetsAccepted, 64);
    EXPECT_TRUE(m_host.m_incidents.empty());
    EXPECT_EQ(m_store.GetSample(4031), m_analyzer->LastCapture()->samples[4031]);
}

TEST_F(LinkTimingTest, ALateLastByteIsWaitedForInBothModes) {
    for (const bool fast : {false, true}) {
        EmulatorOptions slow;
        slow.lineRateBaud = 921600;
        slow.fault = EmulatorFault::LateByte;
        slow.faultPacket = 5;
        slow.delay = 40ms;
        const auto result = Run(slow, fast);
        EXPECT_EQ(result.packetsAccepted, 64) << fast;
        EXPECT_TRUE(m_host.m_incidents.empty()) << fast;
        ExpectOnlyTrueSamples(result, 0);
    }
}

// A noise byte and 255 bytes, the last one 20 ms later: fast download has asked for the next
// packet by then, so both are doubtful; their places keep what the store held before the run.
TEST_F(LinkTimingTest, ShiftedPacketsAreNotStoredAndKeepTheEarlierSamples) {
    m_store.m_sampleLow.fill(0xA5);
    m_store.m_sampleHigh.fill(0x5A);
    EmulatorOptions noisy;
    noisy.fault = EmulatorFault::NoiseFront;
    noisy.faultPacket = 5;
    noisy.garbageBytes = 1;
    noisy.gap = 20ms;
    const auto result = Run(noisy, true);
    // Packet 5 and the one its late byte came ahead of (6; or 4, should a busy machine hold
    // the reader up until the whole 257 bytes were in).
    EXPECT_EQ(result.packetsAccepted, 62);
    EXPECT_FALSE(result.received.test(5));
    ASSERT_EQ(m_host.m_incidents.size(), 1u);
    EXPECT_EQ(m_host.m_incidents[0].count, 257);
    EXPECT_EQ(m_host.m_incidents[0].lastVoided - m_host.m_incidents[0].firstVoided, 1);
    ExpectOnlyTrueSamples(result, 0x5AA5);
}

} // namespace
