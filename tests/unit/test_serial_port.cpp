// CSerialPort against pseudo-terminals: open/close, exclusivity, reads that never overreach.
#include "device/serial_port.h"
#include "support/pty_pair.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

using namespace std::chrono_literals;
using quillon::CSerialPort;
using quillon::test::PtyPair;
using quillon::test::ScopedEnv;
using quillon::test::WaitFor;

namespace {

constexpr int kBaud = CSerialPort::kAnalyzerBaud;

class SerialPortTest : public ::testing::Test {
protected:
    PtyPair m_pty;
    ScopedEnv m_env{"QUILLON_PORTS", "COM3=" + m_pty.SlavePath()};
    CSerialPort m_port;

    void SendAndWait(const std::string& bytes) {
        m_pty.Send(bytes);
        ASSERT_TRUE(
            WaitFor([&] { return m_port.InQueue() == static_cast<int>(bytes.size()); }, 1000ms));
    }
};

TEST_F(SerialPortTest, OpensListedPortAndClosesTwice) {
    EXPECT_EQ(m_port.Open(3, kBaud), 1);
    EXPECT_TRUE(m_port.IsOpen());
    EXPECT_EQ(m_port.DevicePath(), m_pty.SlavePath());
    // A second Open keeps what is open, whatever it is asked for.
    EXPECT_EQ(m_port.Open(7, 9600), 1);
    EXPECT_EQ(m_port.DevicePath(), m_pty.SlavePath());
    EXPECT_EQ(m_port.Close(), 1);
    EXPECT_FALSE(m_port.IsOpen());
    EXPECT_EQ(m_port.Close(), 1);
    // Closed cleanly: it can be opened again, by this object or another.
    EXPECT_EQ(m_port.Open(3, kBaud), 1);
    m_port.Close();
    CSerialPort other;
    EXPECT_EQ(other.Open(3, kBaud), 1);
}

TEST_F(SerialPortTest, MissingPortsFailAndLeaveItClosed) {
    EXPECT_EQ(m_port.Open(4, kBaud), 0); // not listed
    EXPECT_FALSE(m_port.IsOpen());
    EXPECT_EQ(m_port.Close(), 1);
    EXPECT_EQ(m_port.OpenPath("/nonexistent/quillon-port", kBaud), 0);
    EXPECT_EQ(m_port.OpenPath("/dev/null", kBaud), 0); // not a terminal
    EXPECT_FALSE(m_port.IsOpen());
    {
        ScopedEnv listed("QUILLON_PORTS", "COM5=/nonexistent/quillon-port");
        EXPECT_EQ(m_port.Open(5, kBaud), 0);
    }
    EXPECT_EQ(m_port.Write("RST\r", 4), 0);
    EXPECT_EQ(m_port.InQueue(), 0);
}

TEST_F(SerialPortTest, PortHeldByAnotherProgramFailsToOpen) {
    const int holder = ::open(m_pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(m_port.Open(3, kBaud), 0);
    EXPECT_FALSE(m_port.IsOpen());
    ::close(holder);
    EXPECT_EQ(m_port.Open(3, kBaud), 1);
    // While we hold it, a second program cannot take it.
    CSerialPort second;
    EXPECT_EQ(second.Open(3, kBaud), 0);
}

TEST_F(SerialPortTest, WritesEveryByteInOrder) {
    ASSERT_EQ(m_port.Open(3, kBaud), 1);
    EXPECT_EQ(m_port.Write("REQPN\r", 6), 6);
    EXPECT_EQ(m_port.Write("x", 0), 0);
    EXPECT_EQ(m_pty.Receive(), "REQPN\r");
}

TEST_F(SerialPortTest, ReadWithNothingWaitingLeavesBufferUntouched) {
    ASSERT_EQ(m_port.Open(3, kBaud), 1);
    std::array<unsigned char, 30> buf{};
    buf.fill(0xAA);
    EXPECT_EQ(m_port.Read(buf.data(), 30), 0);
    for (auto b : buf) {
        EXPECT_EQ(b, 0xAA);
    }
}

TEST_F(SerialPortTest, ReadTakesOnlyWhatIsWaiting) {
    ASSERT_EQ(m_port.Open(3, kBaud), 1);
    SendAndWait("KPNQUILLNV01\r"); // 13 bytes
    std::array<unsigned char, 30> buf{};
    buf.fill(0xAA);
    EXPECT_EQ(m_port.InQueue(), 13); // asking does not consume
    EXPECT_EQ(m_port.Read(buf.data(), 30), 13);
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + 13), "KPNQUILLNV01\r");
    for (std::size_t i = 13; i < buf.size(); ++i) {
        EXPECT_EQ(buf[i], 0xAA) << i;
    }
    EXPECT_EQ(m_port.InQueue(), 0);
}

TEST_F(SerialPortTest, ReadStopsAtMaxAndKeepsTheRestQueued) {
    ASSERT_EQ(m_port.Open(3, kBaud), 1);
    std::string bytes(300, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i);
    }
    SendAndWait(bytes);
    std::array<unsigned char, 300> buf{};
    buf.fill(0xAA);
    EXPECT_EQ(m_port.Read(buf.data(), 256), 256);
    EXPECT_EQ(buf[255], 255);
    EXPECT_EQ(buf[256], 0xAA);
    EXPECT_EQ(m_port.InQueue(), 44);
    EXPECT_EQ(m_port.Read(buf.data(), 256), 44);
    EXPECT_EQ(buf[0], 0); // byte 256 of the stream wraps to 0
    EXPECT_EQ(buf[43], 43);
}

TEST_F(SerialPortTest, DrainDiscardsWhatWaits) {
    ASSERT_EQ(m_port.Open(3, kBaud), 1);
    SendAndWait(std::string(700, 'x'));
    EXPECT_EQ(m_port.Drain(), 700);
    EXPECT_EQ(m_port.InQueue(), 0);
}

TEST_F(SerialPortTest, HangUpGivesZeroWithoutBlocking) {
    ASSERT_EQ(m_port.Open(3, kBaud), 1);
    m_pty.CloseMaster();
    const auto start = std::chrono::steady_clock::now();
    std::array<unsigned char, 30> buf{};
    EXPECT_EQ(m_port.InQueue(), 0);
    EXPECT_EQ(m_port.Read(buf.data(), 30), 0);
    EXPECT_EQ(m_port.Write("REQPK\r", 6), 0); // nothing went out
    EXPECT_TRUE(m_port.IsHungUp());
    EXPECT_FALSE(m_port.IsWriteStalled());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_EQ(m_port.Close(), 1);
    // The hung-up state ends with the port: a closed port is not hung up.
    EXPECT_FALSE(m_port.IsHungUp());
}

TEST_F(SerialPortTest, ALineThatTakesNoBytesIsASingleShortWrite) {
    // A second handle, opened before the port takes its exclusive hold, suspends the line's
    // output: the port's writes find no room, as with an analyzer that stopped reading.
    const int stopper = ::open(m_pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(stopper, 0);
    ASSERT_EQ(m_port.Open(3, kBaud), 1);
    ASSERT_EQ(::tcflow(stopper, TCOOFF), 0);
    // Nothing goes out, and Write says so (it used to count 27 after waiting 27 s).
    const std::string command = "SD000000000000000000000000\r";
    EXPECT_EQ(m_port.Write(command.data(), static_cast<int>(command.size())), 0);
    EXPECT_TRUE(m_port.IsWriteStalled());
    EXPECT_FALSE(m_port.IsHungUp());
    // Once the line takes bytes again, commands go out whole.
    ASSERT_EQ(::tcflow(stopper, TCOON), 0);
    EXPECT_EQ(m_port.Write("CAP\r", 4), 4);
    EXPECT_FALSE(m_port.IsWriteStalled());
    ::close(stopper);
}

TEST_F(SerialPortTest, OnlyCharacterDevicesAreOpened) {
    char dir[] = "/tmp/quillon-port-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string fifo = std::string(dir) + "/fifo";
    const std::string file = std::string(dir) + "/file";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    { std::ofstream(file) << "x"; }
    // Every open of a file in the folder is seen; looking at one (stat) is not.
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, dir, IN_OPEN), 0);
    for (const std::string& path : {fifo, file, std::string(dir)}) {
        ScopedEnv listed("QUILLON_PORTS", "COM1=" + path);
        EXPECT_EQ(m_port.Open(1, kBaud), 0) << path;
        EXPECT_EQ(m_port.OpenPath(path, kBaud), 0) << path;
    }
    alignas(inotify_event) char events[4096];
    EXPECT_LE(::read(watch, events, sizeof events), 0) << "a listed entry was opened";
    ::close(watch);
    std::filesystem::remove_all(dir);
}

TEST_F(SerialPortTest, AFailedSecondOpenLeavesTheFirstHoldAlone) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "without root the exclusive mode stops a second open before the lock";
    }
    ASSERT_EQ(m_port.Open(3, kBaud), 1);
    CSerialPort second; // as root it gets past the exclusive mode, but not past the lock
    EXPECT_EQ(second.Open(3, kBaud), 0);
    EXPECT_EQ(second.Close(), 1);
    // The first program's exclusive mode is still set: the port is still its own.
    const int probe = ::open(m_pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(probe, 0) << "root opens it anyway; the exclusive flag is what counts";
    int exclusive = 0;
    ASSERT_EQ(::ioctl(probe, TIOCGEXCL, &exclusive), 0);
    EXPECT_NE(exclusive, 0);
    ::close(probe);
    m_port.Close();
}

TEST_F(SerialPortTest, OpensTheEntryThePortNumberRuleMatched) {
    for (const char* name : {"COM03", "COM0COM3", "COM 3"}) {
        ScopedEnv listed("QUILLON_PORTS", std::string(name) + "=" + m_pty.SlavePath());
        EXPECT_EQ(m_port.Open(3, kBaud), 1) << name;
        EXPECT_EQ(m_port.DevicePath(), m_pty.SlavePath());
        m_port.Close();
    }
}

} // namespace
