// The analyzer's command protocol as pure data and decisions: bytes in, verdicts out.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillon {

using namespace std::chrono_literals;

inline constexpr std::string_view kCmdIdentify = "REQPN\r";
inline constexpr std::string_view kCmdReset = "RST\r";
inline constexpr std::string_view kCmdArm = "CAP\r";
inline constexpr std::string_view kCmdPollTrigger = "REQTR\r";
inline constexpr std::string_view kCmdDownload = "DLD\r";
inline constexpr std::string_view kCmdRequestPacket = "REQPK\r";
inline constexpr std::string_view kSettingsPrefix = "SD";

inline constexpr std::string_view kIdentReply = "KPNQUILLNV01\r";
inline constexpr std::string_view kTriggerReply = "KTRY\r";

inline constexpr int kSettingsWordLength = 24;
inline constexpr int kSettingsCommandLength = 27; // "SD" + word + "\r"
inline constexpr int kReplyBufferSize = 30;
inline constexpr int kPacketSize = 256;
inline constexpr int kPacketsPerDownload = 64;

inline constexpr std::chrono::milliseconds kArmPause = 30ms;
inline constexpr std::chrono::milliseconds kSettingsPause = 200ms;
inline constexpr std::chrono::milliseconds kPollPause = 30ms;
inline constexpr std::chrono::milliseconds kDownloadPause = 30ms;
inline constexpr std::chrono::milliseconds kPacketPause = 30ms;
inline constexpr std::chrono::milliseconds kDefaultReplyDelay = 30ms;

/// Position of the reply's K: the first of bytes 0..2 that is 'K', else 3 (not examined).
int LocateK(const unsigned char* reply);
/// reply holds kReplyBufferSize bytes, zero where nothing arrived.
bool IsIdentificationReply(const unsigned char* reply);
bool IsTriggerReply(const unsigned char* reply);
/// The reply's text: its bytes up to the first zero, at most kReplyBufferSize.
std::string ReplyText(const unsigned char* reply);

/// C atoi: leading blanks, optional sign, digits up to the first other character; else 0.
/// Saturates instead of overflowing.
int AtoiLike(std::string_view text);
/// The reply wait read from its field; negative values count as 0 (never a 49-day pause).
std::chrono::milliseconds ReplyDelayFromText(std::string_view text);
/// Port number of a port name: every "COM" removed, then AtoiLike ("COM1COM2" -> 12).
int PortNumberFromName(std::string_view name);

/// "Packet is not 256. it's " + count + " .  \r\n"
std::string PacketWarningText(int count);

} // namespace quillon
