// Composing the settings word from the window's fields.
#include "capture/settings_word.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <memory>

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

std::string ToCodePage932(std::string_view utf8) {
    struct Closer {
        void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
    };
    const iconv_t opened = iconv_open("CP932", "UTF-8");
    if (opened == reinterpret_cast<iconv_t>(-1)) {
        // No converter: ASCII passes, everything else is unknown to the analyzer anyway.
        std::string out(utf8);
        std::replace_if(
            out.begin(), out.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; },
            '?');
        return out;
    }
    const std::unique_ptr<void, Closer> cd(opened);
    std::string in(utf8);
    std::string out;
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char buffer[64];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t r =
            iconv(static_cast<iconv_t>(cd.get()), &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (r != static_cast<std::size_t>(-1) || errno == E2BIG) {
            continue;
        }
        // Not in code page 932 (or not UTF-8): one '?' for the character, as Windows does.
        out += '?';
        do {
            ++inPtr;
            --inLeft;
        } while (inLeft > 0 && (static_cast<unsigned char>(*inPtr) & 0xC0) == 0x80);
    }
    return out;
}

std::optional<SettingsField> WrongLengthField(std::string_view trigPos, std::string_view pattern,
                                              std::string_view genType) {
    if (trigPos.size() != static_cast<std::size_t>(kTrigPosMaxLength)) {
        return SettingsField::TrigPos;
    }
    if (pattern.size() != static_cast<std::size_t>(kTrigPatternMaxLength)) {
        return SettingsField::TrigPattern;
    }
    if (genType.size() != static_cast<std::size_t>(kGenTypeLength)) {
        return SettingsField::GenType;
    }
    return std::nullopt;
}

bool HasControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
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

std::optional<std::array<char, 24>> FrameSettingsWord(std::string_view word) {
    std::array<char, 24> framed{};
    if (word.size() != framed.size() || HasControlCharacter(word)) {
        return std::nullopt;
    }
    std::copy_n(word.begin(), framed.size(), framed.begin());
    return framed;
}

} // namespace quillon
