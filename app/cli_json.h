// JSON texts for quillon-cli's --json output.
#pragma once

#include "file/safe_text.h"

#include <cstdio>
#include <string>

namespace quillon {

/// text as a JSON string: quoted, with quotes, backslashes and control characters escaped;
/// bytes that are no UTF-8 become U+FFFD, so the output is always valid UTF-8.
inline std::string JsonString(const std::string& text) {
    std::string out = "\"";
    const std::string valid = ValidUtf8(text);
    for (const char c : valid) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

} // namespace quillon
