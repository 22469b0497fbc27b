// Composing the settings word from the window's fields.
#include "capture/settings_word.h"

#include <algorithm>

namespace quillon {

namespace {
constexpr std::size_t kHalf = 8;
}

std::string_view RateCode(int rate) {
    switch (rate) {
    case 1:
        return "00";
    case 10:
        return "01";
    case 100:
        return "10";
    default:
        return "11";
    }
}

std::optional<int> TrigPosValue(std::string_view trigPos) {
    if (trigPos.size() != static_cast<std::size_t>(kTrigPosMaxLength)) {
        return std::nullopt;
    }
    int value = 0;
    for (const char c : trigPos) {
        if (c != '0' && c != '1') {
            return std::nullopt;
        }
        value = value * 2 + (c - '0');
    }
    return value;
}

std::string_view LeftPart(std::string_view text) {
    return text.substr(0, kHalf);
}

std::string_view RightPart(std::string_view text) {
    return text.size() <= kHalf ? text : text.substr(text.size() - kHalf);
}

std::string ComposeSettingsWord(int rate, std::string_view trigPos, std::string_view pattern,
                                std::string_view genType) {
    std::string word = "000";
    word += RateCode(rate);
    word += trigPos;
    word += LeftPart(pattern);
    word += genType;
    word += RightPart(pattern);
    return word;
}

std::array<char, 24> FrameSettingsWord(std::string_view word) {
    std::array<char, 24> framed{};
    framed.fill('0');
    std::copy_n(word.begin(), std::min(word.size(), framed.size()), framed.begin());
    return framed;
}

} // namespace quillon
