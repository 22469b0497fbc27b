// The 24-character settings word sent after "SD": rate code, trigger position and pattern.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

inline constexpr int kTrigPosMaxLength = 2;
inline constexpr int kTrigPatternMaxLength = 16;
inline constexpr int kGenTypeLength = 1;

/// The fields the word is made of, for telling the user which one is wrong.
enum class SettingsField { TrigPos, TrigPattern, GenType };

/// The field's bytes as the analyzer gets them: the text (UTF-8) in code page 932, where a
/// half-width katakana is one byte and other Japanese characters two; a character code page
/// 932 has not becomes '?'. Any thread.
std::string ToCodePage932(std::string_view utf8);

/// The first field (in the word's order) whose bytes are not exactly as many as the word has
/// room for (2, 16 and 1), or nothing when all fit.
std::optional<SettingsField> WrongLengthField(std::string_view trigPos, std::string_view pattern,
                                              std::string_view genType);

/// Bytes below 0x20 and 0x7F: on the wire they would end the command or start another.
bool HasControlCharacter(std::string_view text);

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
/// The 24 bytes to send, or nothing when the word is not exactly 24 bytes or holds a control
/// character: a malformed word never reaches the analyzer.
std::optional<std::array<char, 24>> FrameSettingsWord(std::string_view word);

} // namespace quillon
