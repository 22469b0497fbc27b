// The emulator on a real pseudo-terminal, driven from the slave side the way the program
// drives the analyzer: replies, downloads, trigger placement, faults, reopening, logs.
#include "emulator/analyzer_emulator.h"

#include <gtest/gtest.h>

#include <array>
#include <bitset>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace quillon {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::string_view kIdent = "KPNQUILLNV01\r";

// The program's end of the line: the pty slave, raw and non-blocking.
class SlaveEnd {
public:
    explicit SlaveEnd(const std::string& path) {
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd >= 0) {
            termios tio{};
            ::tcgetattr(m_fd, &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~SlaveEnd() { Close(); }
    SlaveEnd(const SlaveEnd&) = delete;
    SlaveEnd& operator=(const SlaveEnd&) = delete;

    [[nodiscard]] bool IsOpen() const { return m_fd >= 0; }
    [[nodiscard]] int Fd() const { return m_fd; }
    void Close() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    bool Send(std::string_view bytes) const {
        return ::write(m_fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    /// Reads until `want` bytes came or `limit` passed; whatever arrived.
    [[nodiscard]] std::string Receive(std::size_t want, milliseconds limit) const {
        std::string got;
        const auto end = Clock::now() + limit;
        while (got.size() < want) {
            const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now());
            if (left.count() < 0) {
                break;
            }
            pollfd pfd{m_fd, POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            char buffer[512];
            const auto room = std::min(sizeof buffer, want - got.size());
            const ssize_t n = ::read(m_fd, buffer, room);
            if (n <= 0) {
                break;
            }
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }
    /// Everything that arrives within `window`.
    [[nodiscard]] std::string Collect(milliseconds window) const {
        return Receive(static_cast<std::size_t>(-1), window);
    }
    /// Sends a command and reads a reply of the expected length.
    std::string Ask(std::string_view command, std::size_t replyLength,
                    milliseconds limit = milliseconds(2000)) const {
        Send(command);
        return Receive(replyLength, limit);
    }

private:
    int m_fd = -1;
};

std::string SettingsCommand(std::string_view rate, std::string_view position,
                            std::string_view pattern, char genType) {
    std::string command = "SD000";
    command += rate;
    command += position;
    command += pattern.substr(0, 8);
    command += genType;
    command += pattern.substr(8, 8);
    return command + "\r";
}

std::string PatternFor(std::uint16_t value) {
    return std::bitset<16>(value).to_string();
}

std::vector<std::uint16_t> Download(const SlaveEnd& slave) {
    std::vector<std::uint16_t> samples;
    slave.Send("DLD\r");
    for (int packet = 0; packet < 64; ++packet) {
        const std::string bytes = slave.Ask("REQPK\r", 256);
        EXPECT_EQ(bytes.size(), 256u) << "packet " << packet;
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
            samples.push_back(
                static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[i]) |
                                           static_cast<unsigned char>(bytes[i + 1]) << 8));
        }
    }
    return samples;
}

std::string TempPath(const std::string& name) {
    return ::testing::TempDir() + "quillon_emu_" + std::to_string(::getpid()) + "_" + name;
}

class EmulatorLine : public ::testing::Test {
protected:
    void StartWith(EmulatorOptions options) {
        m_emulator = std::make_unique<CAnalyzerEmulator>(std::move(options));
        ASSERT_TRUE(m_emulator->Start());
        m_slave = std::make_unique<SlaveEnd>(m_emulator->SlavePath());
        ASSERT_TRUE(m_slave->IsOpen());
    }
    void SetUp() override {
        if (!::testing::Test::HasFatalFailure()) {
            StartWith(Options());
        }
    }
    virtual EmulatorOptions Options() { return {}; }

    std::unique_ptr<CAnalyzerEmulator> m_emulator;
    std::unique_ptr<SlaveEnd> m_slave;
};

TEST_F(EmulatorLine, IdentifiesItself) {
    EXPECT_EQ(m_slave->Ask("REQPN\r", 64, milliseconds(300)), kIdent);
}

TEST_F(EmulatorLine, QuietCommandsAndUnknownLinesGetNoReply) {
    m_slave->Send("RST\rCAP\r" + SettingsCommand("00", "00", "0000000000000000", '0') +
                  "DLD\rHELLO\rREQPNX\r\x01\x02junk\r" + std::string(200, 'A') + "\r");
    EXPECT_EQ(m_slave->Collect(milliseconds(150)), "");
    // A command may arrive in pieces.
    m_slave->Send("RE");
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_EQ(m_slave->Ask("QPN\r", 13), kIdent);
    const auto commands = m_emulator->Commands();
    ASSERT_EQ(commands.size(), 9u);
    EXPECT_EQ(commands[0].text, "RST\r");
    EXPECT_EQ(commands[5].text, "REQPNX\r");
    EXPECT_EQ(commands[7].text, std::string(64, 'A') + "\r");
    EXPECT_EQ(commands[8].text, "REQPN\r");
}

TEST_F(EmulatorLine, TriggerPollBeforeAndAfterTheTrigger) {
    // Counter at 20 us: the pattern 4608 comes at sample 8000, 160 ms after the arm.
    const auto before = Clock::now();
    m_slave->Send("CAP\r" + SettingsCommand("11", "00", PatternFor(4608), '1'));
    EXPECT_EQ(m_slave->Ask("REQTR\r", 5), "KNTR\r");
    std::string reply;
    while (Clock::now() - before < milliseconds(3000)) {
        std::this_thread::sleep_for(milliseconds(10));
        reply = m_slave->Ask("REQTR\r", 5);
        if (reply != "KNTR\r") {
            break;
        }
    }
    ASSERT_EQ(reply, "KTRY\r");
    EXPECT_GE(Clock::now() - before, milliseconds(160)) << "not before the pattern's time";
    EXPECT_EQ(m_slave->Ask("REQTR\r", 5), "KTRY\r") << "and from then on";
}

TEST_F(EmulatorLine, DefaultPatternTriggersAtOnceAndImpossibleOneNever) {
    m_slave->Send("CAP\r" + SettingsCommand("00", "00", "0000000000000000", '0'));
    EXPECT_EQ(m_slave->Ask("REQTR\r", 5), "KTRY\r");
    m_slave->Send("CAP\r" + SettingsCommand("00", "00", "xxxxxxxxxxxxxxx1", '2'));
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(m_slave->Ask("REQTR\r", 5), "KNTR\r");
}

class EmulatorRates : public EmulatorLine, public ::testing::WithParamInterface<int> {};

TEST_P(EmulatorRates, DownloadIs64PacketsOfTheBenchSignals) {
    const int code = GetParam();
    const std::string rate = std::bitset<2>(static_cast<unsigned>(code)).to_string();
    const int multiplier = std::array{1, 10, 100, 1000}[static_cast<std::size_t>(code)];
    m_slave->Send(SettingsCommand(rate, "00", "0000000000000000", '0') + "CAP\r");
    const auto samples = Download(*m_slave);
    EXPECT_EQ(samples, SampleSignals(SignalSet::Bench, multiplier, 0, 8192));
    const auto capture = m_emulator->LastCapture();
    ASSERT_TRUE(capture.has_value());
    EXPECT_EQ(capture->samples, samples);
    // Past packet 63 the memory reads as zeros; nothing else is sent.
    EXPECT_EQ(m_slave->Ask("REQPK\r", 300, milliseconds(200)), std::string(256, '\0'));
}

INSTANTIATE_TEST_SUITE_P(RateCodes, EmulatorRates, ::testing::Values(0, 1, 2, 3));

class EmulatorTriggerPosition : public EmulatorLine, public ::testing::WithParamInterface<int> {};

TEST_P(EmulatorTriggerPosition, PutsTheTriggerAtAQuarterStep) {
    const int position = GetParam();
    const std::string code = std::bitset<2>(static_cast<unsigned>(position)).to_string();
    // Counter at 20 ns: 5000 is sample 5000 after the arm (100 us).
    m_slave->Send("CAP\r" + SettingsCommand("00", code, PatternFor(5000), '1'));
    // The pattern is met 100 us after the arm; a busy machine may serve the poll before the
    // emulator has got that far, so it is asked again, as the program does.
    std::string reply;
    for (int poll = 0; poll < 100 && reply != "KTRY\r"; ++poll) {
        std::this_thread::sleep_for(milliseconds(2));
        reply = m_slave->Ask("REQTR\r", 5);
    }
    ASSERT_EQ(reply, "KTRY\r");
    const auto samples = Download(*m_slave);
    ASSERT_EQ(samples.size(), 8192u);
    const int at = position * 1008;
    EXPECT_EQ(samples[static_cast<std::size_t>(at)], 5000);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        ASSERT_EQ(samples[i], static_cast<std::uint16_t>(5000 - at + static_cast<int>(i))) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Positions, EmulatorTriggerPosition, ::testing::Values(0, 1, 2, 3));

TEST_F(EmulatorLine, WithoutPollsTheCaptureStartsAtTheArm) {
    m_slave->Send("CAP\r" + SettingsCommand("01", "11", PatternFor(5000), '1'));
    const auto samples = Download(*m_slave);
    ASSERT_EQ(samples.size(), 8192u);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        ASSERT_EQ(samples[i], static_cast<std::uint16_t>(10 * i)) << i;
    }
}

TEST_F(EmulatorLine, AtOnceTriggerKeepsTheHistoryBeforeTheArm) {
    m_slave->Send("CAP\r" + SettingsCommand("00", "10", "0000000000000000", '1'));
    ASSERT_EQ(m_slave->Ask("REQTR\r", 5), "KTRY\r");
    const auto samples = Download(*m_slave);
    ASSERT_EQ(samples.size(), 8192u);
    EXPECT_EQ(samples[2016], 0);
    EXPECT_EQ(samples[0], 65536 - 2016);
}

TEST_F(EmulatorLine, ClosedAndReopenedPortIsServedAgain) {
    ASSERT_EQ(m_slave->Ask("REQPN\r", 13), kIdent);
    m_slave->Close();
    // Opened the program's way: exclusive, and released so the next opener gets in.
    SlaveEnd second(m_emulator->SlavePath());
    ASSERT_TRUE(second.IsOpen());
    ASSERT_EQ(::flock(second.Fd(), LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(::ioctl(second.Fd(), TIOCEXCL), 0);
    EXPECT_EQ(second.Ask("REQPN\r", 13), kIdent);
    ::ioctl(second.Fd(), TIOCNXCL);
    second.Close();
    SlaveEnd third(m_emulator->SlavePath());
    ASSERT_TRUE(third.IsOpen());
    EXPECT_EQ(third.Ask("REQPN\r", 13), kIdent);
}

TEST_F(EmulatorLine, CommandsAreLoggedInOrderWithTheirTimes) {
    std::vector<Clock::time_point> sent;
    for (const std::string_view command : {"REQPN\r", "CAP\r", "REQTR\r"}) {
        sent.push_back(Clock::now());
        m_slave->Send(command);
        std::this_thread::sleep_for(milliseconds(15));
    }
    EXPECT_EQ(m_slave->Receive(13 + 5, milliseconds(1000)), std::string(kIdent) + "KTRY\r");
    const auto done = Clock::now();
    const auto commands = m_emulator->Commands();
    ASSERT_EQ(commands.size(), 3u);
    const std::array<std::string, 3> texts{"REQPN\r", "CAP\r", "REQTR\r"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(commands[i].text, texts[i]);
        EXPECT_GE(commands[i].time, sent[i]);
        EXPECT_LE(commands[i].time, i + 1 < 3 ? sent[i + 1] : done);
    }
}

class EmulatorLogFile : public EmulatorLine {
protected:
    EmulatorOptions Options() override {
        EmulatorOptions options;
        options.logPath = TempPath("log.txt");
        return options;
    }
    void TearDown() override { ::unlink(TempPath("log.txt").c_str()); }
};

TEST_F(EmulatorLogFile, OneLinePerCommandWithMillisecondsAndEscapedReturn) {
    std::this_thread::sleep_for(milliseconds(20));
    m_slave->Ask("REQPN\r", 13);
    m_slave->Send(SettingsCommand("00", "01", "xxxxxxxx0000000x", '0'));
    std::this_thread::sleep_for(milliseconds(50));
    const double elapsedMs =
        std::chrono::duration<double, std::milli>(Clock::now() - m_emulator->StartTime()).count();
    // Readable while the emulator runs.
    std::ifstream log(TempPath("log.txt"));
    std::vector<std::pair<double, std::string>> lines;
    double ms = 0;
    std::string text;
    while (log >> ms >> text) {
        lines.emplace_back(ms, text);
    }
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].second, "REQPN\\r");
    EXPECT_EQ(lines[1].second, "SD0000001xxxxxxxx00000000x\\r");
    EXPECT_GE(lines[0].first, 20.0);
    EXPECT_LE(lines[0].first, lines[1].first);
    EXPECT_LE(lines[1].first, elapsedMs);
}

// ---- Faults -------------------------------------------------------------------------------

EmulatorOptions Fault(EmulatorFault fault, int packet = 0, int delayMs = 60) {
    EmulatorOptions options;
    options.fault = fault;
    options.faultPacket = packet;
    options.delay = milliseconds(delayMs);
    return options;
}

TEST_F(EmulatorLine, SilentAnalyzerSendsNothingButHearsEverything) {
    m_emulator->Stop();
    StartWith(Fault(EmulatorFault::Silent));
    m_slave->Send("REQPN\rCAP\rREQTR\rDLD\rREQPK\r");
    EXPECT_EQ(m_slave->Collect(milliseconds(150)), "");
    EXPECT_EQ(m_emulator->Commands().size(), 5u);
}

TEST_F(EmulatorLine, ForeignDeviceIdentifiesAsSomethingElse) {
    m_emulator->Stop();
    StartWith(Fault(EmulatorFault::Foreign));
    EXPECT_EQ(m_slave->Ask("REQPN\r", 64, milliseconds(150)), "KPNOTHERDV99\r");
    m_slave->Send("CAP\rREQTR\rDLD\rREQPK\r");
    EXPECT_EQ(m_slave->Collect(milliseconds(150)), "");
}

TEST_F(EmulatorLine, DelayedRepliesComeLate) {
    m_emulator->Stop();
    StartWith(Fault(EmulatorFault::Delay, 0, 200));
    const auto sent = Clock::now();
    m_slave->Send("REQPN\r");
    EXPECT_EQ(m_slave->Collect(milliseconds(100)), "");
    EXPECT_EQ(m_slave->Receive(13, milliseconds(2000)), kIdent);
    EXPECT_GE(Clock::now() - sent, milliseconds(200));
    m_slave->Send("DLD\rREQPK\r");
    EXPECT_EQ(m_slave->Collect(milliseconds(100)), "");
    EXPECT_EQ(m_slave->Receive(256, milliseconds(2000)).size(), 256u);
}

TEST_F(EmulatorLine, LateByteMissesThePacketPause) {
    m_emulator->Stop();
    StartWith(Fault(EmulatorFault::LateByte, 2, 300));
    m_slave->Send("DLD\r");
    EXPECT_EQ(m_slave->Ask("REQPK\r", 256).size(), 256u);
    EXPECT_EQ(m_slave->Ask("REQPK\r", 256).size(), 256u);
    const std::string head = m_slave->Ask("REQPK\r", 256, milliseconds(60));
    EXPECT_EQ(head.size(), 255u);
    const std::string tail = m_slave->Receive(1, milliseconds(2000));
    ASSERT_TRUE(m_emulator->LastCapture().has_value());
    EXPECT_EQ(head + tail, PacketBytes(m_emulator->LastCapture()->samples, 2));
}

class EmulatorShortPacket : public EmulatorLine, public ::testing::WithParamInterface<int> {};

TEST_P(EmulatorShortPacket, PacketLacksBytesAndTheNextIsWhole) {
    m_emulator->Stop();
    EmulatorOptions options = Fault(EmulatorFault::ShortPacket, 1);
    options.shortPacketBytes = GetParam();
    StartWith(options);
    m_slave->Send("DLD\r");
    EXPECT_EQ(m_slave->Ask("REQPK\r", 256).size(), 256u);
    const std::string shortOne = m_slave->Ask("REQPK\r", 256, milliseconds(150));
    const std::string next = m_slave->Ask("REQPK\r", 256);
    const std::vector<std::uint16_t> samples = m_emulator->LastCapture()->samples;
    EXPECT_EQ(shortOne, PacketBytes(samples, 1).substr(0, static_cast<std::size_t>(GetParam())));
    EXPECT_EQ(next, PacketBytes(samples, 2));
}

INSTANTIATE_TEST_SUITE_P(Lengths, EmulatorShortPacket, ::testing::Values(255, 100, 0));

TEST_F(EmulatorLine, LongPacketHasOneByteMore) {
    m_emulator->Stop();
    StartWith(Fault(EmulatorFault::LongPacket, 0));
    m_slave->Send("DLD\r");
    const std::string packet = m_slave->Ask("REQPK\r", 300, milliseconds(150));
    ASSERT_EQ(packet.size(), 257u);
    EXPECT_EQ(packet.substr(0, 256), PacketBytes(m_emulator->LastCapture()->samples, 0));
}

TEST_F(EmulatorLine, GarbagePrecedesTextRepliesAndThePacket) {
    m_emulator->Stop();
    StartWith(Fault(EmulatorFault::Garbage, 1));
    const std::string ident = m_slave->Ask("REQPN\r", 64, milliseconds(150));
    ASSERT_EQ(ident.size(), 15u);
    EXPECT_EQ(ident.substr(2), kIdent);
    for (const char ch : ident.substr(0, 2)) {
        EXPECT_NE(ch, 'K');
        EXPECT_NE(ch, '\0');
    }
    EXPECT_EQ(m_slave->Ask("CAP\rREQTR\r", 64, milliseconds(150)), ident.substr(0, 2) + "KTRY\r");
    m_slave->Send("DLD\r");
    EXPECT_EQ(m_slave->Ask("REQPK\r", 300, milliseconds(150)).size(), 256u);
    const std::string packet = m_slave->Ask("REQPK\r", 300, milliseconds(150));
    EXPECT_EQ(packet, ident.substr(0, 2) + PacketBytes(m_emulator->LastCapture()->samples, 1));
}

TEST_F(EmulatorLine, HangUpAfterPacketKillsTheLine) {
    m_emulator->Stop();
    StartWith(Fault(EmulatorFault::HangUp, 1));
    m_slave->Send("DLD\r");
    EXPECT_EQ(m_slave->Ask("REQPK\r", 256).size(), 256u);
    EXPECT_EQ(m_slave->Ask("REQPK\r", 256).size(), 256u) << "packet 1 still arrives";
    m_slave->Send("REQPK\r");
    pollfd pfd{m_slave->Fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 2000), 1);
    EXPECT_NE(pfd.revents & POLLHUP, 0);
    char byte = 0;
    const ssize_t n = ::read(m_slave->Fd(), &byte, 1);
    EXPECT_TRUE(n == 0 || (n < 0 && errno == EIO)) << n << " " << errno;
    EXPECT_TRUE(m_emulator->IsHungUp());
    // The kernel hangs the line up in a work item of its own: writes fail soon, not at once.
    ssize_t written = 0;
    for (int tries = 0; tries < 100 && written >= 0; ++tries) {
        written = ::write(m_slave->Fd(), "REQPN\r", 6);
        if (written >= 0) {
            std::this_thread::sleep_for(milliseconds(10));
        }
    }
    EXPECT_LT(written, 0);
    // The device node has gone with the cable.
    SlaveEnd again(m_emulator->SlavePath());
    EXPECT_FALSE(again.IsOpen());
    // Plugged in again: a new line that works.
    ASSERT_TRUE(m_emulator->Start());
    EXPECT_FALSE(m_emulator->IsHungUp());
    SlaveEnd replugged(m_emulator->SlavePath());
    EXPECT_EQ(replugged.Ask("REQPN\r", 13), kIdent);
}

// ---- Lifetime and the program ---------------------------------------------------------------

TEST(EmulatorLifetime, StopDoesNotWaitForPendingReplies) {
    CAnalyzerEmulator emulator(Fault(EmulatorFault::Delay, 0, 60'000));
    ASSERT_TRUE(emulator.Start());
    SlaveEnd slave(emulator.SlavePath());
    slave.Send("REQPN\r");
    for (int i = 0; i < 200 && emulator.Commands().empty(); ++i) {
        std::this_thread::sleep_for(milliseconds(5));
    }
    ASSERT_EQ(emulator.Commands().size(), 1u);
    const auto before = Clock::now();
    emulator.Stop();
    EXPECT_LT(Clock::now() - before, milliseconds(5000)) << "not the minute of the delay";
    emulator.Stop();
    EXPECT_EQ(slave.Collect(milliseconds(20)), "");
    // It can be started again, on a fresh pseudo-terminal.
    ASSERT_TRUE(emulator.Start());
    EXPECT_TRUE(emulator.Commands().empty());
    SlaveEnd fresh(emulator.SlavePath());
    ASSERT_TRUE(fresh.IsOpen());
}

TEST(EmulatorLifetime, LinkPointsToTheSlaveWhileRunning) {
    const std::string link = TempPath("link");
    ::unlink(link.c_str());
    EmulatorOptions options;
    options.linkPath = link;
    {
        CAnalyzerEmulator emulator(options);
        ASSERT_TRUE(emulator.Start());
        char target[256] = {};
        ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), emulator.SlavePath());
        SlaveEnd slave(link);
        EXPECT_EQ(slave.Ask("REQPN\r", 13), kIdent);
    }
    struct stat info {};
    EXPECT_NE(::lstat(link.c_str(), &info), 0) << "removed by the destructor";

    // A file that is not a link is never replaced.
    std::ofstream(link) << "mine";
    CAnalyzerEmulator refused(options);
    EXPECT_FALSE(refused.Start());
    std::ifstream kept(link);
    std::string content;
    kept >> content;
    EXPECT_EQ(content, "mine");
    ::unlink(link.c_str());
}

#ifdef QUILLON_EMU_PROGRAM
int RunProgram(const std::vector<std::string>& args, std::string* firstLine, pid_t* running) {
    std::vector<char*> argv;
    std::string program = QUILLON_EMU_PROGRAM;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (auto& arg : copies) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    int out[2];
    if (::pipe(out) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (failed != 0) {
        ::close(out[0]);
        return -1;
    }
    std::string line;
    char ch = 0;
    while (::read(out[0], &ch, 1) == 1 && ch != '\n') {
        line += ch;
    }
    ::close(out[0]);
    *firstLine = line;
    if (running != nullptr) {
        *running = pid;
        return 0;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(EmulatorProgram, ServesUntilSigtermAndCleansUp) {
    const std::string link = TempPath("prog_link");
    const std::string logPath = TempPath("prog_log");
    ::unlink(link.c_str());
    std::string path;
    pid_t pid = 0;
    ASSERT_EQ(RunProgram({"--link", link, "--log", logPath, "--gentype", "1"}, &path, &pid), 0);
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    {
        SlaveEnd slave(link);
        ASSERT_TRUE(slave.IsOpen());
        EXPECT_EQ(slave.Ask("REQPN\r", 13), kIdent);
        slave.Send("DLD\r");
        const std::string packet = slave.Ask("REQPK\r", 256);
        ASSERT_EQ(packet.size(), 256u);
        EXPECT_EQ(static_cast<unsigned char>(packet[2]), 1u) << "--gentype 1: the counter";
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    struct stat info {};
    EXPECT_NE(::lstat(link.c_str(), &info), 0);
    std::ifstream log(logPath);
    double ms = 0;
    std::string text;
    ASSERT_TRUE(log >> ms >> text);
    EXPECT_EQ(text, "REQPN\\r");
    ::unlink(logPath.c_str());
}

TEST(EmulatorProgram, HelpAndBadArguments) {
    std::string line;
    EXPECT_EQ(RunProgram({"--help"}, &line, nullptr), 0);
    EXPECT_EQ(line.rfind("Usage: quillon-emu", 0), 0u) << line;
    EXPECT_EQ(RunProgram({"--fault", "sometimes"}, &line, nullptr), 2);
    EXPECT_EQ(line, "") << "nothing on stdout";
}
#endif

} // namespace
} // namespace quillon
