// The analyzer's commands: write, pause (or, with fast replies, wait until the reply is
// complete), then take what has arrived.
#include "device/analyzer_link.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <thread>
#include <utility>

namespace quillon {

namespace {
// Pauses are cut into slices so that a closing window does not wait out a long reply wait.
constexpr std::chrono::milliseconds kPauseSlice = 10ms;
// How often a fast reply's progress is looked at: small against a packet's 2.8 ms on the line.
constexpr std::chrono::microseconds kFastPollStep = 50us;
// How often the line is looked at while it is let go quiet, during a packet's pause (to tell
// a stray byte after a whole packet from one ahead of it) and while a late reply is awaited.
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
    RememberReplyDelay(delay);
    m_port.Drain(); // a late reply from before must not be judged as this one
    std::array<unsigned char, kReplyBufferSize + 1> reply{}; // one spare zero ends the text
    ExchangeText(kCmdIdentify, delay, reply.data());
    m_host.ShowReply(ReplyText(reply.data()));
    return IsIdentificationReply(reply.data()) ? 1 : 0;
}

void CAnalyzerLink::ResetDevice() {
    const auto delay = m_host.ReplyDelay();
    RememberReplyDelay(delay);
    SendCommand(kCmdReset, delay);
}

void CAnalyzerLink::RememberReplyDelay(std::chrono::milliseconds delay) {
    m_nReplyDelayMs = delay.count();
}

std::chrono::milliseconds CAnalyzerLink::LateReplyWait() const {
    return std::clamp(std::chrono::milliseconds(m_nReplyDelayMs.load()), kLateReplyWait,
                      kLateReplyWaitLimit);
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
        m_bLastPollAnswered = true; // what was read is the last poll's reply
        return 1;
    }
    const auto start = Clock::now();
    std::array<unsigned char, kReplyBufferSize + 1> reply{};
    ExchangeText(kCmdPollTrigger, kPollPause, reply.data());
    m_bLastPollAnswered = std::memchr(reply.data(), '\r', kReplyBufferSize) != nullptr;
    if (IsTriggerReply(reply.data())) {
        return 1;
    }
    // A fast reply ends the exchange early; the next poll still waits for the pause.
    PauseUntil(start + kPollPause);
    return 0;
}

void CAnalyzerLink::StartDownload() {
    SendCommand(kCmdDownload, kDownloadPause);
    m_bDownloadStart = true;
}

bool CAnalyzerLink::IsLineAlive() const {
    return m_port.IsOpen() && !m_port.IsHungUp() && !m_port.IsWriteStalled() && !IsCancelled();
}

/// The bytes of one packet reply as they came in: how many, and when their number changed.
struct CAnalyzerLink::ReplyWatch {
    Clock::time_point sent;
    Clock::time_point pauseEnd;
    int count = 0;
    Clock::time_point lastChange; ///< when count last grew; the request's time before any byte
    bool extraAhead = false;
    bool prompt = false;
    Clock::time_point wholeAt;     ///< when the count became 256
    Clock::time_point wholeSeenAt; ///< the last look that still found exactly 256

    explicit ReplyWatch(Clock::time_point now)
        : sent(now), pauseEnd(now + kPacketPause), lastChange(now) {}
    void Look(int waiting, Clock::time_point now) {
        if (waiting <= count) {
            if (count == kPacketSize) {
                wholeSeenAt = now; // 256 still standing
            }
            return; // nothing new (a dead line reads as 0: what came stays counted)
        }
        if (waiting > kPacketSize && count <= kPacketSize) {
            // Bytes beyond a packet: after 256 that were seen standing quiet they trail the
            // packet, else they came with it or ahead of it.
            extraAhead = !(count == kPacketSize && wholeSeenAt - lastChange >= kFastQuietGap);
        }
        count = waiting;
        lastChange = now;
        if (count == kPacketSize) {
            wholeAt = now;
        }
    }
    [[nodiscard]] bool WholeAndQuiet(Clock::time_point now) const {
        return count == kPacketSize && now - lastChange >= kFastQuietGap;
    }
};

void CAnalyzerLink::WatchReply(ReplyWatch& watch, bool bWaitForLate) {
    const bool fast = m_bFast;
    if (fast) {
        // No packet can be whole before its 256 bytes have crossed the line: no need to look.
        std::this_thread::sleep_until(
            std::min(watch.sent + kPacketSize * kLineByteTime, watch.pauseEnd));
    }
    // The pause: the reply is judged at its end (fast: once a whole packet has stood quiet).
    for (;;) {
        const auto now = Clock::now();
        watch.Look(m_port.InQueue(), now);
        if (fast && watch.WholeAndQuiet(now)) {
            watch.prompt = watch.lastChange <= watch.pauseEnd;
            return;
        }
        if (now >= watch.pauseEnd || IsCancelled()) {
            break; // the pause is kept also on a closed port, as every command keeps it
        }
        const auto step = fast ? Clock::duration(kFastPollStep) : Clock::duration(kQuietPollStep);
        const auto next =
            fast && watch.count == kPacketSize ? watch.lastChange + kFastQuietGap : now + step;
        std::this_thread::sleep_until(std::min(next, watch.pauseEnd));
    }
    if (watch.count == kPacketSize) {
        watch.prompt = true; // whole at the pause, as the analyzer answers
        return;
    }
    if (watch.count > kPacketSize || !bWaitForLate || !IsLineAlive()) {
        return;
    }
    // Late: waited for until whole, more than a packet, or the line has been quiet for the
    // late-reply wait (since the last byte, or since the request when none came).
    const auto wait = LateReplyWait();
    const auto hardEnd = watch.sent + wait + kBabbleBound;
    for (;;) {
        const auto now = Clock::now();
        watch.Look(m_port.InQueue(), now);
        const bool quietGap = now - watch.lastChange >= kFastQuietGap;
        if (watch.count >= kPacketSize && quietGap) {
            return; // whole (late), or more than a packet once the burst is over
        }
        if (now - watch.lastChange >= wait || now >= hardEnd || !IsLineAlive()) {
            return;
        }
        const auto next =
            watch.count >= kPacketSize ? watch.lastChange + kFastQuietGap : now + kQuietPollStep;
        std::this_thread::sleep_until(std::min({next, watch.lastChange + wait, hardEnd}));
    }
}

PacketReply CAnalyzerLink::RequestPacket(unsigned char* packet, bool bWaitForLate) {
    PacketReply reply;
    const bool first = std::exchange(m_bDownloadStart, false);
    // Bytes waiting now came after the previous reply was judged. They are counted, never
    // taken for a packet, and the line is let go quiet so that they cannot be followed by more.
    if (m_port.InQueue() > 0) {
        reply.strayBefore = SettleLine(first ? LateReplyWait() : kPacketPause);
    }
    SendCommand(kCmdRequestPacket, 0ms);
    ReplyWatch watch(Clock::now());
    WatchReply(watch, bWaitForLate);
    reply.count = watch.count;
    reply.extraAhead = watch.extraAhead;
    if (watch.count == kPacketSize) {
        const int got = m_port.Read(packet, kPacketSize);
        if (got == kPacketSize) {
            reply.shape = PacketReply::Shape::Whole;
            reply.prompt = watch.prompt;
            reply.timely = watch.wholeAt - watch.sent <= LateReplyWait() / 2;
            return reply;
        }
        reply.count = got; // the line died under the read
        reply.shape = got == 0 ? PacketReply::Shape::Missing : PacketReply::Shape::Short;
        return reply;
    }
    if (watch.count > kPacketSize) {
        reply.shape = PacketReply::Shape::Long;
        SettleLine(kPacketPause); // whatever else belongs to it goes with it
        return reply;
    }
    reply.shape = watch.count == 0 ? PacketReply::Shape::Missing : PacketReply::Shape::Short;
    reply.mayStillCome = IsLineAlive();
    m_port.Drain(); // what came of it: the next request starts on an empty line
    return reply;
}

int CAnalyzerLink::SettleLine(std::chrono::milliseconds quiet) {
    int read = 0;
    const auto start = Clock::now();
    const auto hardEnd = start + quiet + kBabbleBound;
    auto lastByte = start;
    while (IsLineAlive()) {
        const auto now = Clock::now();
        if (const int n = m_port.Drain(); n > 0) {
            read += n;
            lastByte = now;
        } else if (now - lastByte >= quiet) {
            break;
        }
        if (now >= hardEnd) {
            break;
        }
        std::this_thread::sleep_for(kQuietPollStep);
    }
    return read;
}

} // namespace quillon
