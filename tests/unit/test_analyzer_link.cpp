// The seven commands on a pseudo-terminal whose far end this test plays.
#include "device/analyzer_link.h"
#include "support/far_end.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

using namespace quillon;
using test::FarEnd;
using test::PtyPair;
using test::ScopedEnv;

class RecordingHost : public IAnalyzerHost {
public:
    std::chrono::milliseconds m_delay{30};
    std::vector<std::string> m_replies;
    std::vector<std::string> m_warnings;
    std::chrono::milliseconds ReplyDelay() override { return m_delay; }
    void ShowReply(const std::string& text) override { m_replies.push_back(text); }
    void ShowPacketWarning(const std::string& text) override { m_warnings.push_back(text); }
};

class LinkTest : public ::testing::Test {
protected:
    PtyPair m_pty;
    ScopedEnv m_env{"QUILLON_PORTS", "COM1=" + m_pty.SlavePath()};
    CSerialPort m_port;
    RecordingHost m_host;
    CAnalyzerLink m_link{m_port, m_host};
    void SetUp() override { ASSERT_EQ(m_port.Open(1, CSerialPort::kAnalyzerBaud), 1); }
};

TEST_F(LinkTest, IdentifiesAndShowsTheReply) {
    FarEnd far(m_pty, [](const std::string& c) { return c == "REQPN\r" ? "KPNQUILLNV01\r" : ""; });
    EXPECT_EQ(m_link.IdentifyDevice(), 1);
    ASSERT_EQ(m_host.m_replies.size(), 1u);
    EXPECT_EQ(m_host.m_replies[0], "KPNQUILLNV01\r");
}

TEST_F(LinkTest, CutShortOrMissingRepliesFail) {
    std::atomic<bool> cutShort{true}; // the far end's thread reads it
    FarEnd far(m_pty, [&](const std::string&) {
        return cutShort ? std::string("KPNQUILLN") : std::string();
    });
    EXPECT_EQ(m_link.IdentifyDevice(), 0);
    cutShort = false;
    EXPECT_EQ(m_link.IdentifyDevice(), 0);
    ASSERT_EQ(m_host.m_replies.size(), 2u);
    EXPECT_EQ(m_host.m_replies[0], "KPNQUILLN");
    EXPECT_EQ(m_host.m_replies[1], "");
}

TEST_F(LinkTest, LateReplyFromBeforeIsNotJudgedAsTheNextOne) {
    // A trigger reply that came too late for its poll is waiting when identification starts.
    m_pty.Send("KTRY\r");
    ASSERT_TRUE(test::WaitFor([&] { return m_port.InQueue() == 5; }, 1000ms));
    FarEnd far(m_pty, [](const std::string& c) { return c == "REQPN\r" ? "KPNQUILLNV01\r" : ""; });
    EXPECT_EQ(m_link.IdentifyDevice(), 1);
}

TEST_F(LinkTest, CommandsGoOutByteExact) {
    FarEnd far(m_pty, [](const std::string& c) { return c == "REQTR\r" ? "KTRY\r" : ""; });
    const std::string word(24, '0');
    m_link.ResetDevice();
    m_link.ArmCapture();
    m_link.SendSettings(word.c_str());
    EXPECT_EQ(m_link.PollTrigger(), 1);
    m_link.StartDownload();
    EXPECT_TRUE(test::WaitFor([&] { return far.Commands().size() == 5; }, 1000ms));
    const std::vector<std::string> expected = {"RST\r", "CAP\r", "SD" + word + "\r", "REQTR\r",
                                               "DLD\r"};
    EXPECT_EQ(far.Commands(), expected);
}

TEST_F(LinkTest, SettingsSendExactlyTwentyFourBytesOfTheWord) {
    FarEnd far(m_pty, [](const std::string&) { return std::string(); });
    const char word[] = "0001101234567890ABCDEFGHIJKLMN"; // longer than 24
    m_link.SendSettings(word);
    EXPECT_TRUE(test::WaitFor([&] { return far.Commands().size() == 1; }, 1000ms));
    EXPECT_EQ(far.Commands().at(0), "SD0001101234567890ABCDEFGH\r");
}

TEST_F(LinkTest, PacketIsTakenOnlyWhenExactly256Wait) {
    std::atomic<std::size_t> size{256};
    FarEnd far(m_pty, [&](const std::string& c) {
        return c == "REQPK\r" ? std::string(size, '\x5a') : std::string();
    });
    std::array<unsigned char, 256> packet{};
    EXPECT_EQ(m_link.RequestPacket(packet.data()), 256);
    EXPECT_EQ(packet[255], 0x5a);
    EXPECT_TRUE(m_host.m_warnings.empty());
    for (std::size_t bad : {255u, 257u, 0u}) {
        size = bad;
        packet.fill(0);
        EXPECT_EQ(m_link.RequestPacket(packet.data()), 0);
        EXPECT_EQ(packet[0], 0); // nothing read
        ASSERT_FALSE(m_host.m_warnings.empty());
        EXPECT_EQ(m_host.m_warnings.back(), PacketWarningText(static_cast<int>(bad)));
    }
    EXPECT_EQ(m_host.m_warnings.size(), 3u);
    // The rejected bytes do not spoil the next packet.
    size = 256;
    EXPECT_EQ(m_link.RequestPacket(packet.data()), 256);
}

TEST_F(LinkTest, ClosedPortSendsNothingAndWarnsWithZero) {
    m_port.Close();
    std::array<unsigned char, 256> packet{};
    EXPECT_EQ(m_link.IdentifyDevice(), 0);
    EXPECT_EQ(m_link.PollTrigger(), 0);
    EXPECT_EQ(m_link.RequestPacket(packet.data()), 0);
    ASSERT_EQ(m_host.m_warnings.size(), 1u);
    EXPECT_EQ(m_host.m_warnings[0], "Packet is not 256. it's 0 .  \r\n");
    EXPECT_EQ(m_pty.Receive(50ms), "");
}

TEST_F(LinkTest, CancelledOrHungUpLinkShowsNoWarning) {
    std::atomic<bool> cancel{true};
    m_link.SetCancelFlag(&cancel);
    std::array<unsigned char, 256> packet{};
    EXPECT_EQ(m_link.RequestPacket(packet.data()), 0);
    cancel = false;
    m_pty.CloseMaster();
    EXPECT_EQ(m_link.RequestPacket(packet.data()), 0);
    EXPECT_TRUE(m_port.IsHungUp());
    EXPECT_TRUE(m_host.m_warnings.empty());
}

TEST_F(LinkTest, ZeroReplyDelayDoesNotPause) {
    m_host.m_delay = 0ms;
    const auto start = std::chrono::steady_clock::now();
    m_link.ResetDevice();
    m_host.m_delay = 50ms;
    const auto mid = std::chrono::steady_clock::now();
    m_link.ResetDevice();
    const auto end = std::chrono::steady_clock::now();
    EXPECT_LT(mid - start, 25ms);
    EXPECT_GE(end - mid, 50ms);
}

} // namespace

namespace {

TEST_F(LinkTest, TriggerReplyThatCameAfterThePreviousPollCounts) {
    // The analyzer answered the previous poll after its pause; this poll's own answer is "no".
    m_pty.Send("KNTR\rKTRY\r");
    ASSERT_TRUE(test::WaitFor([&] { return m_port.InQueue() == 10; }, 1000ms));
    FarEnd far(m_pty, [](const std::string& c) { return c == "REQTR\r" ? "KNTR\r" : ""; });
    EXPECT_EQ(m_link.PollTrigger(), 1);
    // Stale bytes without the trigger reply are thrown away as before.
    m_pty.Send("KTR");
    ASSERT_TRUE(test::WaitFor([&] { return m_port.InQueue() == 3; }, 1000ms));
    EXPECT_EQ(m_link.PollTrigger(), 0);
}

TEST_F(LinkTest, FastRepliesKeepTheAcceptanceRules) {
    m_link.SetFastReplies(true);
    std::atomic<int> extraAfterUs{-1}; // a 257th byte this long after the packet; -1: none
    FarEnd far(m_pty, [&](const std::string& c) -> std::string {
        if (c == "REQPN\r") {
            return "KPNQUILLNV01\r";
        }
        if (c != "REQPK\r") {
            return {};
        }
        m_pty.Send(std::string(256, '\x33'));
        if (extraAfterUs < 0) {
            return {};
        }
        std::this_thread::sleep_for(std::chrono::microseconds(extraAfterUs.load()));
        return "x";
    });
    EXPECT_EQ(m_link.IdentifyDevice(), 1);
    std::array<unsigned char, 256> packet{};
    EXPECT_EQ(m_link.RequestPacket(packet.data()), 256);
    EXPECT_EQ(packet[255], 0x33);
    // Inside the 2 ms quiet gap the extra byte is still seen: the packet is rejected.
    extraAfterUs = 300;
    EXPECT_EQ(m_link.RequestPacket(packet.data()), 0);
    ASSERT_EQ(m_host.m_warnings.size(), 1u);
    EXPECT_EQ(m_host.m_warnings[0], PacketWarningText(257));
    // The line was let go quiet: the next packet is whole again.
    extraAfterUs = -1;
    EXPECT_EQ(m_link.RequestPacket(packet.data()), 256);
}

} // namespace
