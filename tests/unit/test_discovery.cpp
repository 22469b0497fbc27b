// Discovery: which COM numbers are listed, and the walk that finds the analyzer among them.
#include "device/discovery.h"
#include "support/far_end.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using namespace quillon;
using test::FarEnd;
using test::PtyPair;
using test::ScopedEnv;

TEST(ListedPortNumber, MatchesByTheNumberInTheName) {
    const PortList ports = {{"/dev/a", "COM3"}, {"/dev/b", "COM1COM2"}, {"/dev/c", "serial"}};
    struct Case {
        int n;
        int expected;
    };
    for (const Case& c :
         {Case{3, 3}, Case{12, 12}, Case{0, 0}, Case{1, -1}, Case{2, -1}, Case{99, -1}}) {
        EXPECT_EQ(ListedPortNumber(ports, c.n), c.expected) << c.n;
    }
    EXPECT_EQ(ListedPortNumber({}, 0), -1);
}

std::string Analyzer(const std::string& command) {
    return command == "REQPN\r" ? "KPNQUILLNV01\r" : "";
}
std::string Foreign(const std::string& command) {
    return command == "REQPN\r" ? "KPNOTHERDV99\r" : "";
}

class Discovery : public ::testing::Test {
protected:
    CSerialPort m_port;
    IAnalyzerHost m_host;
    CAnalyzerLink m_link{m_port, m_host};
    std::vector<std::pair<int, bool>> m_seen;

    int Discover() {
        return DiscoverAnalyzer(ReadPortList(), m_port, m_link, [this](int n, bool identified) {
            m_seen.emplace_back(n, identified);
        });
    }
};

TEST_F(Discovery, SkipsAForeignDeviceAndStopsAtTheAnalyzer) {
    PtyPair foreignPty, analyzerPty, sparePty;
    FarEnd foreign(foreignPty, Foreign);
    FarEnd analyzer(analyzerPty, Analyzer);
    FarEnd spare(sparePty, Analyzer);
    // Listed out of order: the walk goes by number, not by list position.
    ScopedEnv env("QUILLON_PORTS", "COM7=" + sparePty.SlavePath() + ";COM4=" +
                                       analyzerPty.SlavePath() + ";COM2=" + foreignPty.SlavePath());
    EXPECT_EQ(Discover(), 4);
    EXPECT_TRUE(m_port.IsOpen());
    EXPECT_EQ(m_port.DevicePath(), analyzerPty.SlavePath());
    EXPECT_EQ(m_seen, (std::vector<std::pair<int, bool>>{{2, false}, {4, true}}));
    EXPECT_EQ(foreign.Commands(), std::vector<std::string>{"REQPN\r"});
    EXPECT_EQ(analyzer.Commands(), std::vector<std::string>{"REQPN\r"});
    EXPECT_TRUE(spare.Commands().empty());
    // The foreign device's port was let go.
    CSerialPort other;
    EXPECT_EQ(other.OpenPath(foreignPty.SlavePath(), CSerialPort::kAnalyzerBaud), 1);
}

TEST_F(Discovery, NothingAnswersOrNothingOpens) {
    PtyPair silentPty;
    FarEnd silent(silentPty, [](const std::string&) { return std::string(); });
    ScopedEnv env("QUILLON_PORTS", "COM1=/nonexistent/tty;COM5=" + silentPty.SlavePath() +
                                       ";COM100=/nonexistent/tty2");
    EXPECT_EQ(Discover(), -1);
    EXPECT_FALSE(m_port.IsOpen());
    EXPECT_EQ(m_seen, (std::vector<std::pair<int, bool>>{{5, false}}));
}

TEST_F(Discovery, NumbersAboveNinetyNineAreNotSearched) {
    PtyPair analyzerPty;
    FarEnd analyzer(analyzerPty, Analyzer);
    ScopedEnv env("QUILLON_PORTS", "COM100=" + analyzerPty.SlavePath());
    EXPECT_EQ(Discover(), -1);
    EXPECT_TRUE(analyzer.Commands().empty());
}

TEST_F(Discovery, AHeldPortIsPassedOver) {
    PtyPair heldPty, analyzerPty;
    FarEnd held(heldPty, Analyzer);
    FarEnd analyzer(analyzerPty, Analyzer);
    CSerialPort holder;
    ASSERT_EQ(holder.OpenPath(heldPty.SlavePath(), CSerialPort::kAnalyzerBaud), 1);
    ScopedEnv env("QUILLON_PORTS",
                  "COM1=" + heldPty.SlavePath() + ";COM2=" + analyzerPty.SlavePath());
    EXPECT_EQ(Discover(), 2);
    EXPECT_TRUE(held.Commands().empty());
}

TEST_F(Discovery, ACancelledOwnerSearchesNothing) {
    PtyPair analyzerPty;
    FarEnd analyzer(analyzerPty, Analyzer);
    ScopedEnv env("QUILLON_PORTS", "COM1=" + analyzerPty.SlavePath());
    std::atomic<bool> cancel{true};
    m_link.SetCancelFlag(&cancel);
    EXPECT_EQ(Discover(), -1);
    EXPECT_FALSE(m_port.IsOpen());
    EXPECT_TRUE(analyzer.Commands().empty());
}

} // namespace
