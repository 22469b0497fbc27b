// CaptureSettings: everything one capture (or a repetition of them) is asked with, and the one
// check of it that the window, the viewer's capture bar and quillon-cli all use. No toolkit.
#pragma once

#include "capture/settings_word.h"
#include "device/protocol.h"

#include <array>
#include <chrono>
#include <optional>
#include <string>

namespace quillon {

inline constexpr int kMaxReplyDelayMs = 60'000;
inline constexpr int kMaxCaptureCount = 1'000'000;
inline constexpr const char* kDefaultTrigPattern = "0000000000000000";
inline constexpr const char* kDefaultTrigPos = "00";
inline constexpr const char* kDefaultGenType = "0";

struct CaptureSettings {
    /// The sample period in units of 20 ns: 1, 10, 100 or 1000.
    int rate = 1;
    /// Wait for the analyzer's trigger before the download.
    bool triggerMode = false;
    /// The fields' bytes as the analyzer gets them (code page 932), unexamined beyond the check.
    std::string trigPattern = kDefaultTrigPattern; ///< D15 first
    std::string trigPos = kDefaultTrigPos;
    std::string genType = kDefaultGenType;
    /// Packets read as soon as they are complete.
    bool fast = false;
    /// Capture again once a capture has ended, until stopped (or count, or the condition).
    bool repeat = false;
    /// Captures of a repetition; 0: until stopped.
    int count = 0;
    /// The reply wait of identification and reset.
    std::chrono::milliseconds replyDelay = kDefaultReplyDelay;
    /// Not empty: repeat until a capture holds a match of this condition (search/condition.h).
    std::string untilCondition;

    bool operator==(const CaptureSettings&) const = default;
};

/// What is wrong with settings; the front end words it in its own language.
struct SettingsProblem {
    enum class Kind {
        Rate,             ///< not 1, 10, 100 or 1000
        Length,           ///< field: not exactly as many bytes as the word has room for
        ControlCharacter, ///< field: a byte that would end the command early
        ReplyDelay,       ///< not 0 .. kMaxReplyDelayMs
        Count,            ///< not 0 .. kMaxCaptureCount
        Condition,        ///< untilCondition does not parse (offset, message)
    };
    Kind kind = Kind::Rate;
    SettingsField field = SettingsField::TrigPos;
    std::size_t offset = 0; ///< Condition: byte offset into the condition
    std::string message;    ///< Condition: why
};

/// The one check of a settings value. Nothing when it can be sent. Any thread.
std::optional<SettingsProblem> ValidateSettings(const CaptureSettings& settings);

/// The 24 bytes after "SD" for settings that passed ValidateSettings; nothing otherwise.
std::optional<std::array<char, kSettingsWordLength>>
SettingsWordFor(const CaptureSettings& settings);

/// The repetition asks for another capture after capture number done (1-based).
[[nodiscard]] bool WantsAnotherCapture(const CaptureSettings& settings, int done);

} // namespace quillon
