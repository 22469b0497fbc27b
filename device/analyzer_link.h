// CAnalyzerLink: the analyzer's seven commands over one serial port, paced by fixed pauses
// (or, with fast replies, waiting only until a reply is complete).
#pragma once

#include "device/protocol.h"
#include "device/serial_port.h"

#include <atomic>
#include <chrono>
#include <string>

namespace quillon {

/// Fast replies: a packet counts as whole once nothing followed its 256th byte this long. A
/// packet that came late is taken after the same gap in both modes.
inline constexpr std::chrono::milliseconds kFastQuietGap = 2ms;
/// The least time a packet reply is waited for once the pause has passed without it: a reply
/// later than this (or than the reply wait, if longer) is taken as lost. The analyzer answers
/// in about 3 ms; a reply that took longer than this is out of any order we can vouch for.
inline constexpr std::chrono::milliseconds kLateReplyWait = 500ms;
/// The longest a missing reply is waited for, however long the reply wait: a packet later
/// than this is not received (a download of 64 packets must end in reasonable time).
inline constexpr std::chrono::milliseconds kLateReplyWaitLimit = 10'000ms;
/// A line that never goes quiet (an analyzer that babbles) is given up this long after the
/// wait for quiet would have ended on a quiet line.
inline constexpr std::chrono::milliseconds kBabbleBound = 2000ms;

/// What the commands need from the window (or tool) that owns them.
class IAnalyzerHost {
public:
    virtual ~IAnalyzerHost() = default;
    /// The reply wait, read afresh at each identification and reset (UI thread).
    virtual std::chrono::milliseconds ReplyDelay() { return kDefaultReplyDelay; }
    /// The identification reply (or a discovery step) as text for the reply field.
    virtual void ShowReply(const std::string& /*text*/) {}
};

/// How the reply to one "REQPK\r" came. Replies carry no sequence number: all the link can
/// say is how many bytes came when, and the download (capture/download_ledger.h) decides from
/// that which packets it can vouch for.
struct PacketReply {
    enum class Shape {
        Whole,   ///< exactly 256 bytes, read into the caller's packet
        Missing, ///< no byte came
        Short,   ///< fewer than 256 bytes came
        Long,    ///< more than 256 bytes came
    };
    Shape shape = Shape::Missing;
    /// Bytes the reply held when it was judged: the number in the packet warning.
    int count = 0;
    /// Whole within the fixed pause after the request, as a healthy analyzer answers.
    bool prompt = false;
    /// Whole within half the late-reply wait after the request: late perhaps, but far from
    /// the wait, so not a reply that was given up before (one of those comes in the next
    /// request's time only shortly after it, and the one after it then nearly a wait late).
    bool timely = false;
    /// Long: the bytes beyond a packet came with or ahead of its 256 (not after 256 that had
    /// stood quiet for kFastQuietGap), so they may be the late end of the previous packet.
    bool extraAhead = false;
    /// Bytes that were waiting before the request went out: they came after the previous
    /// reply had been judged (read away, never taken for a packet).
    int strayBefore = 0;
    /// Missing or Short while the line is alive: the rest may still come, later than waited.
    bool mayStillCome = false;
};

class CAnalyzerLink {
public:
    CAnalyzerLink(CSerialPort& port, IAnalyzerHost& host) : m_port(port), m_host(host) {}

    /// "REQPN\r", reply wait, read up to 30 bytes; 1 when the analyzer identifies itself.
    int IdentifyDevice();
    /// "RST\r", reply wait.
    void ResetDevice();
    /// "CAP\r", 30 ms.
    void ArmCapture();
    /// "SD" + the first 24 bytes of word + "\r", 200 ms. word holds at least 24 bytes.
    /// False when the command could not be written whole (the analyzer takes no bytes).
    bool SendSettings(const char* word);
    /// "REQTR\r", 30 ms; 1 when the analyzer reports its trigger. A trigger reply that came
    /// after the previous poll's pause counts too (then nothing is sent). With fast replies a
    /// trigger reply is taken as soon as it is complete, but a poll that finds no trigger still
    /// takes its whole 30 ms: the analyzer is polled at the same pace in both modes.
    int PollTrigger();
    /// The last trigger poll's reply came whole within its pause (or a late one was read):
    /// no reply of the trigger wait is still on its way.
    [[nodiscard]] bool IsLastPollAnswered() const { return m_bLastPollAnswered; }
    /// "DLD\r", 30 ms. Bytes found waiting before the first packet request after it are left
    /// over from before (late trigger replies): the line is then let go quiet for
    /// LateReplyWait(), not only for the pause.
    void StartDownload();
    /// "REQPK\r" and the judgement of its reply; the packet is read into packet (room for 256
    /// bytes) when its reply is Whole. Nothing that comes is ever read away unseen: bytes
    /// waiting before the request are counted (strayBefore) and the line is let go quiet
    /// first. The reply is judged at the fixed pause (with fast replies: as soon as exactly
    /// 256 bytes have stood quiet for kFastQuietGap). A reply not whole by then is waited for
    /// while bWaitForLate and the line is alive, until it is whole, or more than a packet, or
    /// the line has been quiet for LateReplyWait(); a reply with more than a packet is
    /// followed by a wait for a quiet line of the pause's length.
    PacketReply RequestPacket(unsigned char* packet, bool bWaitForLate = true);

    /// How long a missing reply is waited for: kLateReplyWait, or the reply wait of the last
    /// identification or reset if that is longer, at most kLateReplyWaitLimit.
    [[nodiscard]] std::chrono::milliseconds LateReplyWait() const;

    /// Fast replies: a text reply is read once its '\r' has arrived, a packet once 256
    /// bytes wait and no further byte came for kFastQuietGap; the fixed pause stays the
    /// upper bound and what has not arrived by then is judged as without. Any thread; takes
    /// effect at the next command.
    void SetFastReplies(bool bFast) { m_bFast = bFast; }
    [[nodiscard]] bool IsFastReplies() const { return m_bFast.load(); }

    /// Set when the owner is going away: pauses end early and no warning is shown.
    void SetCancelFlag(const std::atomic<bool>* cancel) { m_pCancel = cancel; }
    [[nodiscard]] bool IsCancelled() const { return m_pCancel != nullptr && m_pCancel->load(); }

    CSerialPort& Port() { return m_port; }

    /// Reads away whatever comes until no byte has arrived for quiet (at most quiet +
    /// kBabbleBound in all); returns how many bytes it read. Returns at once when the port is
    /// closed, hung up or the link cancelled.
    int SettleLine(std::chrono::milliseconds quiet);

private:
    using Clock = std::chrono::steady_clock;
    struct ReplyWatch;
    /// False when the port did not take the whole command (it still pauses).
    bool SendCommand(std::string_view text, std::chrono::milliseconds pause);
    void Pause(std::chrono::milliseconds pause) const;
    void PauseUntil(Clock::time_point end) const;
    /// Sends text, waits (the whole pause, or in fast mode until a '\r' came) and reads at
    /// most kReplyBufferSize bytes into reply.
    void ExchangeText(std::string_view text, std::chrono::milliseconds pause, unsigned char* reply);
    /// Watches a packet reply until it can be judged (see RequestPacket).
    void WatchReply(ReplyWatch& watch, bool bWaitForLate);
    /// Reads away what is waiting and returns it (bounded).
    std::string ReadAway();
    /// The port is open and neither hung up nor refusing bytes, and the link not cancelled.
    [[nodiscard]] bool IsLineAlive() const;
    void RememberReplyDelay(std::chrono::milliseconds delay);

    CSerialPort& m_port;
    IAnalyzerHost& m_host;
    const std::atomic<bool>* m_pCancel = nullptr;
    std::atomic<bool> m_bFast{false};
    /// The reply wait last read by an identification or reset (UI thread), for the worker.
    std::atomic<long long> m_nReplyDelayMs{kDefaultReplyDelay.count()};
    bool m_bDownloadStart = false;   ///< no packet requested since "DLD\r"
    bool m_bLastPollAnswered = true; ///< see IsLastPollAnswered
};

} // namespace quillon
