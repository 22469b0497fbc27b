// The 24-character settings word sent after "SD": rate code, trigger position and pattern.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

inline constexpr int kTrigPosMaxLength = 2;
inline constexpr int kTrigPatternMaxLength = 16;

/// Samples between the four trigger positions: position p puts the trigger at p * 1008.
inline constexpr int kTriggerStepSamples = 1008;

/// The trigger position a text of two binary digits names (0..3), else nothing.
std::optional<int> TrigPosValue(std::string_view trigPos);

/// "00" for rate 1, "01" for 10, "10" for 100, "11" for anything else.
std::string_view RateCode(int rate);
/// First 8 characters of the pattern, or all of it when shorter.
std::string_view LeftPart(std::string_view text);
/// Last 8 characters of the pattern, or all of it when shorter.
std::string_view RightPart(std::string_view text);
/// "000" + rate code + trigger position + left part + gentype + right part, unexamined.
std::string ComposeSettingsWord(int rate, std::string_view trigPos, std::string_view pattern,
                                std::string_view genType);
/// Exactly 24 bytes to send: a longer word is cut, a shorter one completed with '0'.
std::array<char, 24> FrameSettingsWord(std::string_view word);

} // namespace quillon
