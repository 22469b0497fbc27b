// The channels' colours, one table for every picture: channel n takes entry n mod 8, the
// resistor colour code (black, brown, red, orange, yellow, green, blue, violet), so D0 is black
// and D7 violet in the main window, the viewer and the screenshots alike.
#pragma once

#include <QRgb>

#include <array>
#include <cstddef>

namespace quillon {

struct ChannelColourEntry {
    QRgb window; ///< the main window's pen
    QRgb viewer; ///< the viewer's thinner lines: yellow and green a little darker on white
};

inline constexpr std::array<ChannelColourEntry, 8> kChannelColours = {{
    {0xff000000, 0xff000000}, // black
    {0xff643200, 0xff643200}, // brown
    {0xffff0000, 0xffff0000}, // red
    {0xffff9600, 0xffff9600}, // orange
    {0xffe6e600, 0xffc8b400}, // yellow
    {0xff00e600, 0xff00b000}, // green
    {0xff0000ff, 0xff0000ff}, // blue
    {0xffc800ff, 0xffc800ff}, // violet
}};

[[nodiscard]] constexpr const ChannelColourEntry& ChannelColours(int channel) {
    return kChannelColours[static_cast<std::size_t>(channel) % kChannelColours.size()];
}

} // namespace quillon
