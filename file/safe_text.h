// Text from files (channel names, file names) made safe to show: on a terminal, in a message,
// in JSON. No toolkit; any thread.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

/// text with everything that could upset a terminal or a reader escaped: control characters
/// (C0, DEL, C1) and bytes that are not UTF-8 as \xNN, and the invisible reordering marks of
/// Unicode (U+202A..U+202E, U+2066..U+2069) as \uNNNN. Valid printable UTF-8 stays as it is.
std::string SafeText(std::string_view text);

/// The columns text takes on a terminal when it is valid UTF-8 (East Asian wide characters
/// take two); one a byte for anything else.
int DisplayWidth(std::string_view text);

/// Whether text is valid UTF-8.
bool IsValidUtf8(std::string_view text);

/// text with every byte that is no UTF-8 replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);

} // namespace quillon
