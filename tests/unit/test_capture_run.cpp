// A capture run against a scripted analyzer: command order, stop, trigger, hang-up, cancel.
#include "capture/capture_run.h"
#include "support/far_end.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <termios.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

using namespace quillon;
using test::FarEnd;
using test::PtyPair;
using test::ScopedEnv;

class CountingHost : public IAnalyzerHost, public ICaptureHost {
public:
    std::atomic<int> m_nWarnings{0};
    std::atomic<int> m_nRedraws{0};
    std::atomic<int> m_nLinkLost{0};
    std::atomic<int> m_nFinished{0};
    std::atomic<int> m_nNotTaking{0};
    void ReportPacketIncident(const PacketIncident&) override { ++m_nWarnings; }
    void ReportNotTakingCommands() override { ++m_nNotTaking; }
    void Redraw() override { ++m_nRedraws; }
    void ReportLinkLost() override { ++m_nLinkLost; }
    void RunFinished() override { ++m_nFinished; }
};

std::string PacketFor(int k) {
    std::string p(256, '\0');
    for (int i = 0; i < 256; ++i) {
        p[static_cast<std::size_t>(i)] = static_cast<char>(k * 3 + i);
    }
    return p;
}

// An analyzer that triggers on the given poll and numbers its packets from DLD.
class ScriptedAnalyzer {
public:
    int m_triggerOnPoll = 1; // 0: never
    int m_hangUpAfterPacket = -1;
    std::atomic<int> m_nPolls{0};
    int m_nextPacket = 0;
    PtyPair* m_pty = nullptr;

    std::string Answer(const std::string& c) {
        if (c == "REQTR\r") {
            const int n = ++m_nPolls;
            return m_triggerOnPoll != 0 && n >= m_triggerOnPoll ? "KTRY\r" : "KNTR\r";
        }
        if (c == "DLD\r") {
            m_nextPacket = 0;
        }
        if (c == "REQPK\r") {
            const int k = m_nextPacket++;
            if (k == m_hangUpAfterPacket + 1 && m_hangUpAfterPacket >= 0) {
                m_pty->CloseMaster();
                return {};
            }
            return PacketFor(k);
        }
        return {};
    }
};

class CaptureRunTest : public ::testing::Test {
protected:
    PtyPair m_pty;
    ScopedEnv m_env{"QUILLON_PORTS", "COM1=" + m_pty.SlavePath()};
    CSerialPort m_port;
    CountingHost m_host;
    CAnalyzerLink m_link{m_port, m_host};
    SampleStore m_store;
    std::mutex m_storeLock;
    CaptureFlags m_flags;
    ScriptedAnalyzer m_analyzer;

    void SetUp() override {
        ASSERT_EQ(m_port.Open(1, CSerialPort::kAnalyzerBaud), 1);
        m_analyzer.m_pty = &m_pty;
        m_link.SetCancelFlag(&m_flags.m_bCancel);
    }
    CaptureResult Run() { return RunCapture(m_link, m_store, m_storeLock, m_flags, m_host); }
    static std::vector<std::string> Expected(std::vector<std::string> head) {
        head.push_back("DLD\r");
        for (int k = 0; k < 64; ++k) {
            head.push_back("REQPK\r");
        }
        head.push_back("CAP\r");
        return head;
    }
};

TEST_F(CaptureRunTest, PlainRunDownloadsRedrawsAndRearms) {
    FarEnd far(m_pty, [this](const std::string& c) { return m_analyzer.Answer(c); });
    m_flags.m_bStopRequest = 1; // a Stop while idle is neither read nor cleared here
    const auto result = Run();
    EXPECT_EQ(result.packetsAccepted, 64);
    EXPECT_TRUE(result.received.all());
    EXPECT_EQ(m_host.m_nWarnings, 0);
    EXPECT_EQ(m_host.m_nRedraws, 1);
    EXPECT_EQ(m_host.m_nFinished, 1);
    EXPECT_EQ(m_flags.m_bStopRequest, 1);
    EXPECT_TRUE(test::WaitFor([&] { return far.Commands().size() == 66; }, 1000ms));
    EXPECT_EQ(far.Commands(), Expected({}));
    EXPECT_EQ(m_store.m_fillLow, 8192);
    const std::string p30 = PacketFor(30);
    EXPECT_EQ(m_store.GetSample(128 * 30 + 1),
              static_cast<std::uint8_t>(p30[2]) + 256 * static_cast<std::uint8_t>(p30[3]));
}

TEST_F(CaptureRunTest, TriggerRunPollsUntilTheAnalyzerTriggers) {
    m_analyzer.m_triggerOnPoll = 3;
    FarEnd far(m_pty, [this](const std::string& c) { return m_analyzer.Answer(c); });
    m_flags.m_bTriggerMode = 1;
    const auto result = Run();
    EXPECT_TRUE(result.triggered);
    EXPECT_EQ(result.triggerPolls, 3);
    EXPECT_TRUE(test::WaitFor([&] { return far.Commands().size() == 69; }, 1000ms));
    EXPECT_EQ(far.Commands(), Expected({"REQTR\r", "REQTR\r", "REQTR\r"}));
}

TEST_F(CaptureRunTest, StopDuringTriggerWaitArmsAgainAndStillDownloads) {
    m_analyzer.m_triggerOnPoll = 0;
    FarEnd far(m_pty, [this](const std::string& c) { return m_analyzer.Answer(c); });
    m_flags.m_bTriggerMode = 1;
    std::thread user([this] {
        test::WaitFor([this] { return m_analyzer.m_nPolls >= 4; }, 5000ms);
        m_flags.m_bStopRequest = 1;
    });
    const auto result = Run();
    user.join();
    EXPECT_TRUE(result.stopped);
    EXPECT_FALSE(result.triggered);
    EXPECT_EQ(m_flags.m_bStopRequest, 0);
    EXPECT_EQ(result.packetsAccepted, 64);
    EXPECT_TRUE(test::WaitFor([&] { return far.Commands().size() >= 66 + 4; }, 1000ms));
    auto commands = far.Commands();
    const auto firstDld = std::find(commands.begin(), commands.end(), "DLD\r");
    ASSERT_NE(firstDld, commands.end());
    EXPECT_EQ(*(firstDld - 1), "CAP\r");
    EXPECT_EQ(commands.back(), "CAP\r");
}

TEST_F(CaptureRunTest, PendingStopCostsExactlyOnePoll) {
    m_analyzer.m_triggerOnPoll = 1; // the poll triggers, yet the extra arm is still sent
    FarEnd far(m_pty, [this](const std::string& c) { return m_analyzer.Answer(c); });
    m_flags.m_bTriggerMode = 1;
    m_flags.m_bStopRequest = 1;
    const auto result = Run();
    EXPECT_EQ(result.triggerPolls, 1);
    EXPECT_TRUE(result.stopped);
    EXPECT_TRUE(test::WaitFor([&] { return far.Commands().size() == 68; }, 1000ms));
    EXPECT_EQ(far.Commands(), Expected({"REQTR\r", "CAP\r"}));
}

// The poll during which Stop is pressed is answered only after the arm and the download
// command have gone out: its reply must not land among the packets.
TEST_F(CaptureRunTest, ALatePollReplyIsLetGoBeforeTheDownload) {
    m_analyzer.m_triggerOnPoll = 0;
    FarEnd far(m_pty, [this](const std::string& c) {
        if (c == "REQTR\r" && m_analyzer.m_nPolls == 2) {
            m_flags.m_bStopRequest = 1;
            std::this_thread::sleep_for(100ms); // the analyzer answers only now
        }
        return m_analyzer.Answer(c);
    });
    m_flags.m_bTriggerMode = 1;
    const auto result = Run();
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.packetsAccepted, 64);
    EXPECT_EQ(m_host.m_nWarnings, 0);
}

TEST_F(CaptureRunTest, HangUpStopsRequestsAndIsReportedOnce) {
    m_analyzer.m_hangUpAfterPacket = 9;
    FarEnd far(m_pty, [this](const std::string& c) { return m_analyzer.Answer(c); });
    const auto result = Run();
    EXPECT_TRUE(result.linkLost);
    EXPECT_EQ(result.packetsAccepted, 10);
    EXPECT_EQ(result.received.to_ullong(), 0x3FFULL); // packets 0..9, no more
    EXPECT_LE(result.packetsRequested, 12);
    EXPECT_EQ(m_host.m_nWarnings, 0);
    EXPECT_EQ(m_host.m_nLinkLost, 1);
    EXPECT_EQ(m_host.m_nFinished, 1);
    // Packets before the pull are stored.
    const std::string p9 = PacketFor(9);
    EXPECT_EQ(m_store.m_sampleLow[128 * 9], static_cast<std::uint8_t>(p9[0]));
}

// An analyzer that stops taking bytes mid-download: the run stops and says so once, instead
// of a packet warning (and a second's wait) for each remaining request.
TEST_F(CaptureRunTest, ALineThatStopsTakingCommandsEndsTheRunWithOneReport) {
    m_port.Close();
    const int stopper = ::open(m_pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(stopper, 0);
    ASSERT_EQ(m_port.Open(1, CSerialPort::kAnalyzerBaud), 1);
    FarEnd far(m_pty, [this, stopper](const std::string& c) {
        std::string answer = m_analyzer.Answer(c);
        if (c == "REQPK\r" && m_analyzer.m_nextPacket == 5) {
            ::tcflow(stopper, TCOOFF); // after packet 4 the line takes no more
        }
        return answer;
    });
    const auto result = Run();
    EXPECT_TRUE(result.notTakingCommands);
    EXPECT_FALSE(result.linkLost);
    EXPECT_EQ(result.packetsAccepted, 5);
    EXPECT_LE(result.packetsRequested, 6);
    EXPECT_EQ(m_host.m_nWarnings, 0);
    EXPECT_EQ(m_host.m_nNotTaking, 1);
    EXPECT_EQ(m_host.m_nFinished, 1);
    ::tcflow(stopper, TCOON);
    ::close(stopper);
}

// An analyzer that answers nothing is told once, not once per packet, and no picture is drawn
// of samples that never came.
TEST_F(CaptureRunTest, NoAnalyzerWarnsOnceDrawsNothingAndStillFinishes) {
    m_port.Close();
    const auto result = Run();
    EXPECT_EQ(result.packetsRequested, 64);
    EXPECT_EQ(result.packetsAccepted, 0);
    EXPECT_EQ(m_host.m_nWarnings, 1);
    EXPECT_EQ(m_host.m_nRedraws, 0);
    EXPECT_EQ(m_host.m_nFinished, 1);
    EXPECT_FALSE(result.linkLost);
}

TEST_F(CaptureRunTest, CancelEndsTheTriggerWaitAndTheDownload) {
    m_analyzer.m_triggerOnPoll = 0;
    FarEnd far(m_pty, [this](const std::string& c) { return m_analyzer.Answer(c); });
    m_flags.m_bTriggerMode = 1;
    std::thread closer([this] {
        test::WaitFor([this] { return m_analyzer.m_nPolls >= 2; }, 5000ms);
        m_flags.m_bCancel = true;
    });
    const auto result = Run();
    closer.join();
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.packetsRequested, 0);
    EXPECT_EQ(m_host.m_nRedraws, 0);
    EXPECT_EQ(m_host.m_nWarnings, 0);
    EXPECT_EQ(m_host.m_nFinished, 1);
}

} // namespace
