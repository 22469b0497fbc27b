// CAnalyzerEmulator on POSIX: a raw pty master, a wake-up pipe and one poll loop.
#include "emulator/analyzer_emulator.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace quillon {

namespace {

// After the hang-up fault's packet the line dies at the program's next command, or after
// this long if it sends none: closing at once would discard the packet in the kernel.
constexpr std::chrono::milliseconds kHangUpGrace{1000};
// Paced output is handed to the pty this many bytes at a time (the last ones when due), as a
// full-speed USB serial adapter hands on what it has received in 64-byte packets.
constexpr std::size_t kPacedBatch = 64;
// Should the master ever report a hang-up without data, wait this long before polling it again.
constexpr std::chrono::milliseconds kHangUpBackoff{20};

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

bool MakeRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&tio, B921600);
    ::cfsetospeed(&tio, B921600);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

timespec TimeUntil(CAnalyzerEmulator::Clock::time_point at,
                   CAnalyzerEmulator::Clock::time_point now) {
    const auto ns = std::max<std::int64_t>(
        0, std::chrono::duration_cast<std::chrono::nanoseconds>(at - now).count());
    constexpr std::int64_t kNsPerSecond = 1'000'000'000;
    return {static_cast<time_t>(ns / kNsPerSecond), static_cast<long>(ns % kNsPerSecond)};
}

std::string Escape(const std::string& text) {
    std::string out;
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (ch == '\r') {
            out += "\\r";
        } else if (ch == '\n') {
            out += "\\n";
        } else if (ch == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte >= 0x7F) {
            constexpr char kHex[] = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xFu];
        } else {
            out += ch;
        }
    }
    return out;
}

} // namespace

CAnalyzerEmulator::CAnalyzerEmulator(EmulatorOptions options) : m_options(std::move(options)) {}

CAnalyzerEmulator::~CAnalyzerEmulator() {
    Stop();
}

bool CAnalyzerEmulator::Start() {
    if (m_thread.joinable()) {
        if (!m_bHungUp) {
            return true;
        }
        Stop(); // the line was pulled: plug in a new one
    }
    CloseAll();
    m_bHungUp = false;
    m_output.clear();
    m_nextWrite.reset();
    m_lineFreeAt = {};
    m_hangUpDeadline.reset();
    m_splitter = CCommandSplitter{};
    m_nCopiedCaptureSerial = 0;
    {
        const std::lock_guard lock(m_mutex);
        m_commands.clear();
        m_lastCapture.reset();
        m_settings = AnalyzerSettings{};
    }

    m_nMasterFd = ::posix_openpt(O_RDWR | O_NOCTTY);
    char name[128] = {};
    bool bGood = m_nMasterFd >= 0 && ::fcntl(m_nMasterFd, F_SETFD, FD_CLOEXEC) == 0 &&
                 ::fcntl(m_nMasterFd, F_SETFL, O_NONBLOCK) == 0 && ::grantpt(m_nMasterFd) == 0 &&
                 ::unlockpt(m_nMasterFd) == 0 && ::ptsname_r(m_nMasterFd, name, sizeof name) == 0;
    if (bGood) {
        m_strSlavePath = name;
        m_nSlaveFd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        bGood = m_nSlaveFd >= 0 && MakeRaw(m_nSlaveFd);
    }
    int wake[2] = {-1, -1};
    bGood = bGood && ::pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0;
    m_nWakeReadFd = wake[0];
    m_nWakeWriteFd = wake[1];
    if (bGood && !m_options.logPath.empty()) {
        m_pLog.reset(std::fopen(m_options.logPath.c_str(), "w"));
        bGood = m_pLog != nullptr;
    }
    if (bGood && !m_options.linkPath.empty()) {
        struct stat info {};
        if (::lstat(m_options.linkPath.c_str(), &info) == 0) {
            // A stale link from an earlier run is replaced; anything else is not ours.
            bGood = S_ISLNK(info.st_mode) && ::unlink(m_options.linkPath.c_str()) == 0;
        }
        bGood = bGood && ::symlink(m_strSlavePath.c_str(), m_options.linkPath.c_str()) == 0;
        m_bLinkMade = bGood;
    }
    if (!bGood) {
        CloseAll();
        return false;
    }
    m_startTime = Clock::now();
    m_pModel = std::make_unique<CAnalyzerModel>(m_options, m_startTime);
    m_thread = std::thread([this] { Serve(); });
    return true;
}

void CAnalyzerEmulator::Stop() {
    if (m_thread.joinable()) {
        const char wake = 'x';
        [[maybe_unused]] const auto n = ::write(m_nWakeWriteFd, &wake, 1);
        m_thread.join();
    }
    CloseAll();
}

void CAnalyzerEmulator::CloseAll() {
    CloseFd(m_nMasterFd);
    CloseFd(m_nSlaveFd);
    CloseFd(m_nWakeReadFd);
    CloseFd(m_nWakeWriteFd);
    m_pLog.reset();
    if (m_bLinkMade) {
        char target[256] = {};
        const ssize_t n = ::readlink(m_options.linkPath.c_str(), target, sizeof target - 1);
        if (n > 0 && m_strSlavePath == std::string(target, static_cast<std::size_t>(n))) {
            ::unlink(m_options.linkPath.c_str());
        }
        m_bLinkMade = false;
    }
}

std::vector<CAnalyzerEmulator::LoggedCommand> CAnalyzerEmulator::Commands() const {
    const std::lock_guard lock(m_mutex);
    return {m_commands.begin(), m_commands.end()};
}

std::optional<CaptureRecord> CAnalyzerEmulator::LastCapture() const {
    const std::lock_guard lock(m_mutex);
    return m_lastCapture;
}

AnalyzerSettings CAnalyzerEmulator::CurrentSettings() const {
    const std::lock_guard lock(m_mutex);
    return m_settings;
}

void CAnalyzerEmulator::Serve() {
    // Until then the master is not polled (after a hang-up without data); min(): polled.
    Clock::time_point masterQuietUntil = Clock::time_point::min();
    for (;;) {
        Clock::time_point now = Clock::now();
        const bool bBlocked = !WriteDue(now);
        if (m_hangUpDeadline && now >= *m_hangUpDeadline) {
            HangUp();
        }
        if (m_bHungUp) {
            return;
        }
        // Clock::time_point::max(): nothing to wake for but the descriptors.
        Clock::time_point wake = Clock::time_point::max();
        const auto wakeAt = [&wake](Clock::time_point at) { wake = std::min(wake, at); };
        if (m_nextWrite && !bBlocked) {
            wakeAt(*m_nextWrite);
        }
        if (m_hangUpDeadline) {
            wakeAt(*m_hangUpDeadline);
        }
        const bool bMasterQuiet = now < masterQuietUntil;
        if (bMasterQuiet) {
            wakeAt(masterQuietUntil);
        }
        pollfd fds[2] = {{m_nWakeReadFd, POLLIN, 0},
                         {m_nMasterFd, static_cast<short>(POLLIN | (bBlocked ? POLLOUT : 0)), 0}};
        const nfds_t count = bMasterQuiet ? 1 : 2;
        // Sub-millisecond waits: paced output goes out a few bytes at a time.
        const bool bTimed = wake != Clock::time_point::max();
        const timespec timeout = bTimed ? TimeUntil(wake, now) : timespec{};
        if (::ppoll(fds, count, bTimed ? &timeout : nullptr, nullptr) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[0].revents != 0) {
            return; // Stop()
        }
        now = Clock::now();
        if (count == 2 && (fds[1].revents & POLLIN) != 0) {
            ReadCommands(now);
        } else if (count == 2 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            masterQuietUntil = now + kHangUpBackoff;
        }
    }
}

void CAnalyzerEmulator::ReadCommands(Clock::time_point now) {
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(m_nMasterFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (m_splitter.Feed(buffer[i])) {
                HandleLine(m_splitter.Line(), now);
                if (m_bHungUp) {
                    return;
                }
            }
        }
    }
}

void CAnalyzerEmulator::HandleLine(const std::string& line, Clock::time_point now) {
    LogLine(line + '\r', now);
    if (m_hangUpDeadline) {
        HangUp();
        return;
    }
    for (OutputChunk& chunk : m_pModel->Handle(line, now)) {
        m_output.push_back({std::move(chunk), 0, std::nullopt});
    }
    const std::lock_guard lock(m_mutex);
    m_settings = m_pModel->Settings();
    if (m_pModel->CaptureSerial() != m_nCopiedCaptureSerial) {
        m_nCopiedCaptureSerial = m_pModel->CaptureSerial();
        m_lastCapture = m_pModel->Capture();
    }
}

std::size_t CAnalyzerEmulator::BytesSentBy(Clock::time_point lineStart,
                                           Clock::time_point now) const {
    const double seconds = std::chrono::duration<double>(now - lineStart).count();
    return seconds <= 0 ? 0
                        : static_cast<std::size_t>(seconds * m_options.lineRateBaud / kBitsPerByte);
}

CAnalyzerEmulator::Clock::time_point CAnalyzerEmulator::LineTimeOf(Clock::time_point lineStart,
                                                                   std::size_t n) const {
    const double seconds =
        static_cast<double>(n) * kBitsPerByte / static_cast<double>(m_options.lineRateBaud);
    return lineStart + std::chrono::ceil<Clock::duration>(std::chrono::duration<double>(seconds));
}

bool CAnalyzerEmulator::WriteDue(Clock::time_point now) {
    m_nextWrite.reset();
    while (!m_output.empty()) {
        PendingOutput& pending = m_output.front();
        if (pending.chunk.due > now) {
            m_nextWrite = pending.chunk.due;
            return true;
        }
        const std::string& bytes = pending.chunk.bytes;
        std::size_t allowed = bytes.size();
        if (m_options.lineRateBaud > 0) {
            // A byte is handed over once its last bit would have crossed the line.
            if (!pending.lineStart) {
                pending.lineStart = std::max(pending.chunk.due, m_lineFreeAt);
            }
            allowed = std::min(allowed, BytesSentBy(*pending.lineStart, now));
        }
        while (pending.sent < allowed) {
            const ssize_t n =
                ::write(m_nMasterFd, bytes.data() + pending.sent, allowed - pending.sent);
            if (n > 0) {
                pending.sent += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return false;
            } else {
                pending.sent = bytes.size(); // the line refused it: drop it
            }
        }
        if (pending.sent < bytes.size()) {
            // A few bytes at a time, as a serial adapter hands them on; the last on time.
            m_nextWrite =
                LineTimeOf(*pending.lineStart, std::min(pending.sent + kPacedBatch, bytes.size()));
            return true;
        }
        if (pending.lineStart) {
            m_lineFreeAt = LineTimeOf(*pending.lineStart, bytes.size());
        }
        if (pending.chunk.hangUpAfter) {
            m_hangUpDeadline = now + kHangUpGrace;
        }
        m_output.pop_front();
    }
    return true;
}

void CAnalyzerEmulator::HangUp() {
    m_bHungUp = true; // before the close, so whoever sees the line die sees the flag
    CloseFd(m_nMasterFd);
    CloseFd(m_nSlaveFd);
    m_output.clear();
    m_hangUpDeadline.reset();
}

void CAnalyzerEmulator::LogLine(const std::string& text, Clock::time_point now) {
    {
        const std::lock_guard lock(m_mutex);
        m_commands.push_back({text, now});
        if (m_commands.size() > kMaxLoggedCommands) {
            m_commands.pop_front();
        }
    }
    if (m_pLog) {
        const double ms = std::chrono::duration<double, std::milli>(now - m_startTime).count();
        std::fprintf(m_pLog.get(), "%.3f %s\n", ms, Escape(text).c_str());
        std::fflush(m_pLog.get());
    }
}

} // namespace quillon
