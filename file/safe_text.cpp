// Escaping names for terminals and messages, and their width there.
#include "file/safe_text.h"

#include <cstdint>
#include <cstdio>

namespace quillon {

namespace {

/// The code point at text[i] and its length in bytes; length 0 when the bytes there are no
/// valid UTF-8 (overlong forms and surrogates included).
struct CodePoint {
    char32_t value = 0;
    std::size_t length = 0;
};

CodePoint DecodeAt(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char b0 = byte(0);
    if (b0 < 0x80) {
        return {b0, 1};
    }
    std::size_t length = 0;
    char32_t value = 0;
    char32_t least = 0;
    if ((b0 & 0xE0) == 0xC0) {
        length = 2;
        value = b0 & 0x1F;
        least = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3;
        value = b0 & 0x0F;
        least = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4;
        value = b0 & 0x07;
        least = 0x10000;
    } else {
        return {};
    }
    if (i + length > text.size()) {
        return {};
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(k) & 0xC0) != 0x80) {
            return {};
        }
        value = (value << 6) | (byte(k) & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return {};
    }
    return {value, length};
}

bool IsControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// Marks that reorder the text around them when it is shown ("Trojan source").
bool IsReordering(char32_t c) {
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool IsWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
           (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
           (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
}

} // namespace

std::string SafeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    char escaped[12];
    for (std::size_t i = 0; i < text.size();) {
        const CodePoint cp = DecodeAt(text, i);
        if (cp.length == 0) {
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(text[i]));
            out += escaped;
            ++i;
            continue;
        }
        if (IsControl(cp.value)) {
            // C1 controls come as two bytes; each is shown.
            for (std::size_t k = 0; k < cp.length; ++k) {
                std::snprintf(escaped, sizeof escaped, "\\x%02x",
                              static_cast<unsigned char>(text[i + k]));
                out += escaped;
            }
        } else if (IsReordering(cp.value)) {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(cp.value));
            out += escaped;
        } else {
            out.append(text.substr(i, cp.length));
        }
        i += cp.length;
    }
    return out;
}

int DisplayWidth(std::string_view text) {
    int width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const CodePoint cp = DecodeAt(text, i);
        if (cp.length == 0) {
            ++width;
            ++i;
            continue;
        }
        // Combining marks take no column of their own.
        const bool combining = (cp.value >= 0x0300 && cp.value <= 0x036F) ||
                               (cp.value >= 0x3099 && cp.value <= 0x309A);
        width += combining ? 0 : IsWide(cp.value) ? 2 : 1;
        i += cp.length;
    }
    return width;
}

std::string ValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const CodePoint cp = DecodeAt(text, i);
        if (cp.length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text.substr(i, cp.length));
            i += cp.length;
        }
    }
    return out;
}

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const CodePoint cp = DecodeAt(text, i);
        if (cp.length == 0) {
            return false;
        }
        i += cp.length;
    }
    return true;
}

} // namespace quillon
