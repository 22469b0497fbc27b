// The analyzer's commands: write, pause (or, with fast replies, wait until the reply is
// complete), then take what has arrived.
#include "device/analyzer_link.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <thread>

namespace quillon {

namespace {
// Pauses are cut into slices so that a closing window does not wait out a long reply wait.
constexpr std::chrono::milliseconds kPauseSlice = 10ms;
// How often a fast reply's progress is looked at: small against a packet's 2.8 ms on the line.
constexpr std::chrono::microseconds kFastPollStep = 50us;
// How often the line is looked at while it is let go quiet.
constexpr std::chrono::milliseconds kQuietPollStep = 1ms;
// One byte's time on the analyzer's line: 10 bits at 921600 baud.
constexpr auto kLineByteTime =
    std::chrono::nanoseconds(10'000'000'000LL / CSerialPort::kAnalyzerBaud);
// ReadAway keeps at most this much of an analyzer that does not stop sending.
constexpr std::size_t kReadAwayLimit = 64 * 1024;
} // namespace

void CAnalyzerLink::Pause(std::chrono::milliseconds pause) const {
    PauseUntil(Clock::now() + pause);
}

void CAnalyzerLink::PauseUntil(Clock::time_point end) const {
    if (m_pCancel == nullptr) {
        std::this_thread::sleep_until(end);
        return;
    }
    for (auto now = Clock::now(); now < end && !IsCancelled(); now = Clock::now()) {
        std::this_thread::sleep_for(std::min<Clock::duration>(end - now, kPauseSlice));
    }
}

bool CAnalyzerLink::SendCommand(std::string_view text, std::chrono::milliseconds pause) {
    const bool whole =
        m_port.Write(text.data(), static_cast<int>(text.size())) == static_cast<int>(text.size());
    Pause(pause);
    return whole;
}

void CAnalyzerLink::ExchangeText(std::string_view text, std::chrono::milliseconds pause,
                                 unsigned char* reply) {
    if (!m_bFast) {
        SendCommand(text, pause);
        m_port.Read(reply, kReplyBufferSize);
        return;
    }
    SendCommand(text, 0ms);
    const auto deadline = Clock::now() + pause;
    int got = 0;
    for (;;) {
        got += m_port.Read(reply + got, kReplyBufferSize - got);
        if (got == kReplyBufferSize || std::memchr(reply, '\r', static_cast<std::size_t>(got))) {
            return;
        }
        const auto now = Clock::now();
        if (now >= deadline || IsCancelled()) {
            return;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(kFastPollStep, deadline - now));
    }
}

int CAnalyzerLink::IdentifyDevice() {
    const auto delay = m_host.ReplyDelay();
    m_port.Drain(); // a late reply from before must not be judged as this one
    std::array<unsigned char, kReplyBufferSize + 1> reply{}; // one spare zero ends the text
    ExchangeText(kCmdIdentify, delay, reply.data());
    m_host.ShowReply(ReplyText(reply.data()));
    return IsIdentificationReply(reply.data()) ? 1 : 0;
}

void CAnalyzerLink::ResetDevice() {
    SendCommand(kCmdReset, m_host.ReplyDelay());
}

void CAnalyzerLink::ArmCapture() {
    SendCommand(kCmdArm, kArmPause);
}

bool CAnalyzerLink::SendSettings(const char* word) {
    std::array<char, kSettingsCommandLength> command{};
    std::copy_n(kSettingsPrefix.data(), kSettingsPrefix.size(), command.begin());
    std::copy_n(word, kSettingsWordLength, command.begin() + 2);
    command.back() = '\r';
    return SendCommand(std::string_view(command.data(), command.size()), kSettingsPause);
}

std::string CAnalyzerLink::ReadAway() {
    std::string bytes;
    std::array<char, kPacketSize> chunk{};
    for (int n = m_port.Read(chunk.data(), kPacketSize); n > 0 && bytes.size() < kReadAwayLimit;
         n = m_port.Read(chunk.data(), kPacketSize)) {
        bytes.append(chunk.data(), static_cast<std::size_t>(n));
    }
    return bytes;
}

int CAnalyzerLink::PollTrigger() {
    // Stale bytes are read away before asking; a trigger reply among them came after the
    // previous poll's pause, from an analyzer that answers late: the trigger has come.
    if (ReadAway().find(kTriggerReply) != std::string::npos) {
        return 1;
    }
    std::array<unsigned char, kReplyBufferSize + 1> reply{};
    ExchangeText(kCmdPollTrigger, kPollPause, reply.data());
    return IsTriggerReply(reply.data()) ? 1 : 0;
}

void CAnalyzerLink::StartDownload() {
    SendCommand(kCmdDownload, kDownloadPause);
}

bool CAnalyzerLink::AwaitWholePacket(Clock::time_point deadline) {
    // No packet can be whole before its 256 bytes have crossed the line: no need to look.
    std::this_thread::sleep_until(std::min(Clock::now() + kPacketSize * kLineByteTime, deadline));
    int last = -1;
    auto lastChange = Clock::now();
    for (;;) {
        const auto now = Clock::now();
        const int waiting = m_port.InQueue();
        if (waiting != last) {
            last = waiting;
            lastChange = now;
        }
        if (waiting > kPacketSize) {
            return false;
        }
        if (waiting == kPacketSize && now - lastChange >= kFastQuietGap) {
            return true;
        }
        if (now >= deadline || IsCancelled()) {
            return false;
        }
        const auto next = waiting == kPacketSize ? lastChange + kFastQuietGap : now + kFastPollStep;
        std::this_thread::sleep_until(std::min(next, deadline));
    }
}

int CAnalyzerLink::RequestPacket(unsigned char* packet) {
    // Bytes that came after an earlier packet's pause would make this one look long.
    m_port.Drain();
    if (m_bFast) {
        SendCommand(kCmdRequestPacket, 0ms);
        const auto deadline = Clock::now() + kPacketPause;
        if (!AwaitWholePacket(deadline)) {
            PauseUntil(deadline); // judged at the pause, as without fast replies
        }
    } else {
        SendCommand(kCmdRequestPacket, kPacketPause);
    }
    const int waiting = m_port.InQueue();
    if (waiting != kPacketSize) {
        // A dead or stalled line is told once by the run, not once per packet.
        if (!m_port.IsHungUp() && !m_port.IsWriteStalled() && !IsCancelled()) {
            m_host.ShowPacketWarning(PacketWarningText(waiting));
        }
        AwaitQuietLine();
        return 0;
    }
    return m_port.Read(packet, kPacketSize);
}

void CAnalyzerLink::AwaitQuietLine() {
    const auto start = Clock::now();
    auto lastByte = start;
    while (m_port.IsOpen() && !m_port.IsHungUp() && !IsCancelled()) {
        const auto now = Clock::now();
        if (m_port.Drain() > 0) {
            lastByte = now;
        } else if (now - lastByte >= kPacketPause) {
            return;
        }
        if (now - start >= kQuietLineBound) {
            return;
        }
        std::this_thread::sleep_for(kQuietPollStep);
    }
}

} // namespace quillon
