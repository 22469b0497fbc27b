// CAnalyzerLink: the analyzer's seven commands over one serial port, paced by fixed pauses
// (or, with fast replies, waiting only until a reply is complete).
#pragma once

#include "device/protocol.h"
#include "device/serial_port.h"

#include <atomic>
#include <chrono>
#include <string>

namespace quillon {

/// Fast replies: a packet counts as whole once nothing followed its 256th byte this long.
inline constexpr std::chrono::milliseconds kFastQuietGap = 2ms;
/// After a rejected packet: the longest wait for the line to go quiet.
inline constexpr std::chrono::milliseconds kQuietLineBound = 1000ms;

/// What the commands need from the window (or tool) that owns them.
class IAnalyzerHost {
public:
    virtual ~IAnalyzerHost() = default;
    /// The reply wait, read afresh at each identification and reset (UI thread).
    virtual std::chrono::milliseconds ReplyDelay() { return kDefaultReplyDelay; }
    /// The identification reply (or a discovery step) as text for the reply field.
    virtual void ShowReply(const std::string& /*text*/) {}
    /// A modal warning; returns once the user has dismissed it (or the run was cancelled).
    virtual void ShowPacketWarning(const std::string& /*text*/) {}
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
    /// after the previous poll's pause counts too (then nothing is sent).
    int PollTrigger();
    /// "DLD\r", 30 ms.
    void StartDownload();
    /// "REQPK\r", 30 ms; reads the packet when exactly 256 bytes wait, else warns and
    /// returns 0. packet has room for 256 bytes. No warning once the port has hung up.
    /// After a rejected packet the line is let go quiet first (AwaitQuietLine), so that a
    /// late packet is never taken as the answer to the next request.
    int RequestPacket(unsigned char* packet);

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

    /// Waits until no byte has arrived for kPacketPause (at most kQuietLineBound), reading
    /// away whatever comes. Returns at once when the port is closed, hung up or cancelled.
    void AwaitQuietLine();

private:
    using Clock = std::chrono::steady_clock;
    /// False when the port did not take the whole command (it still pauses).
    bool SendCommand(std::string_view text, std::chrono::milliseconds pause);
    void Pause(std::chrono::milliseconds pause) const;
    void PauseUntil(Clock::time_point end) const;
    /// Sends text, waits (the whole pause, or in fast mode until a '\r' came) and reads at
    /// most kReplyBufferSize bytes into reply.
    void ExchangeText(std::string_view text, std::chrono::milliseconds pause, unsigned char* reply);
    /// Fast mode: true once exactly one packet waits and the line has stayed quiet for
    /// kFastQuietGap; false at deadline or as soon as more than a packet waits.
    bool AwaitWholePacket(Clock::time_point deadline);
    /// Reads away what is waiting and returns it (bounded).
    std::string ReadAway();

    CSerialPort& m_port;
    IAnalyzerHost& m_host;
    const std::atomic<bool>* m_pCancel = nullptr;
    std::atomic<bool> m_bFast{false};
};

} // namespace quillon
