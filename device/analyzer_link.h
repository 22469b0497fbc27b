// CAnalyzerLink: the analyzer's seven commands over one serial port, paced by fixed pauses.
#pragma once

#include "device/protocol.h"
#include "device/serial_port.h"

#include <atomic>
#include <chrono>
#include <string>

namespace quillon {

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
    /// "REQTR\r", 30 ms; 1 when the analyzer reports its trigger.
    int PollTrigger();
    /// "DLD\r", 30 ms.
    void StartDownload();
    /// "REQPK\r", 30 ms; reads the packet when exactly 256 bytes wait, else warns and
    /// returns 0. packet has room for 256 bytes. No warning once the port has hung up.
    int RequestPacket(unsigned char* packet);

    /// Set when the owner is going away: pauses end early and no warning is shown.
    void SetCancelFlag(const std::atomic<bool>* cancel) { m_pCancel = cancel; }
    [[nodiscard]] bool IsCancelled() const { return m_pCancel != nullptr && m_pCancel->load(); }

    CSerialPort& Port() { return m_port; }

private:
    /// False when the port did not take the whole command (it still pauses).
    bool SendCommand(std::string_view text, std::chrono::milliseconds pause);
    void Pause(std::chrono::milliseconds pause) const;

    CSerialPort& m_port;
    IAnalyzerHost& m_host;
    const std::atomic<bool>* m_pCancel = nullptr;
};

} // namespace quillon
