// The analyzer's commands: write, pause, then take what has arrived.
#include "device/analyzer_link.h"

#include <algorithm>
#include <array>
#include <thread>

namespace quillon {

namespace {
// Pauses are cut into slices so that a closing window does not wait out a long reply wait.
constexpr std::chrono::milliseconds kPauseSlice = 10ms;
} // namespace

void CAnalyzerLink::Pause(std::chrono::milliseconds pause) const {
    if (m_pCancel == nullptr) {
        std::this_thread::sleep_for(pause);
        return;
    }
    const auto end = std::chrono::steady_clock::now() + pause;
    for (auto now = std::chrono::steady_clock::now(); now < end && !IsCancelled();
         now = std::chrono::steady_clock::now()) {
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(end - now, kPauseSlice));
    }
}

bool CAnalyzerLink::SendCommand(std::string_view text, std::chrono::milliseconds pause) {
    const bool whole =
        m_port.Write(text.data(), static_cast<int>(text.size())) == static_cast<int>(text.size());
    Pause(pause);
    return whole;
}

int CAnalyzerLink::IdentifyDevice() {
    const auto delay = m_host.ReplyDelay();
    m_port.Drain(); // a late reply from before must not be judged as this one
    SendCommand(kCmdIdentify, delay);
    std::array<unsigned char, kReplyBufferSize + 1> reply{}; // one spare zero ends the text
    m_port.Read(reply.data(), kReplyBufferSize);
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

int CAnalyzerLink::PollTrigger() {
    m_port.Drain();
    SendCommand(kCmdPollTrigger, kPollPause);
    std::array<unsigned char, kReplyBufferSize + 1> reply{};
    m_port.Read(reply.data(), kReplyBufferSize);
    return IsTriggerReply(reply.data()) ? 1 : 0;
}

void CAnalyzerLink::StartDownload() {
    SendCommand(kCmdDownload, kDownloadPause);
}

int CAnalyzerLink::RequestPacket(unsigned char* packet) {
    // Bytes that came after an earlier packet's pause would make this one look long.
    m_port.Drain();
    SendCommand(kCmdRequestPacket, kPacketPause);
    const int waiting = m_port.InQueue();
    if (waiting != kPacketSize) {
        // A dead or stalled line is told once by the run, not once per packet.
        if (!m_port.IsHungUp() && !m_port.IsWriteStalled() && !IsCancelled()) {
            m_host.ShowPacketWarning(PacketWarningText(waiting));
        }
        return 0;
    }
    return m_port.Read(packet, kPacketSize);
}

} // namespace quillon
