// Icon 128: the program's own picture, drawn at 16, 32 and 48 pixels.
#pragma once

#include <QIcon>
#include <QImage>

namespace quillon {

/// A square picture of the icon at the given size (16, 32 or 48).
QImage AppIconImage(int size);
/// The icon with all three sizes.
QIcon AppIcon();

} // namespace quillon
