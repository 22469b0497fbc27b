// Timebase tables: zoom positions, samples per screen, and the time-per-division labels.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillon {

inline constexpr int kZoomMin = 0;
inline constexpr int kZoomMax = 7;
inline constexpr int kZoomStart = 5;

/// "20ns/d" .. "5us/d" for positions 0..7; "10us/d" for anything else.
std::string_view ZoomLabelForPosition(int position);

struct ZoomGeometry {
    int samples; ///< samples per screen N
    int step;    ///< every step-th sample is shown
};
/// The zoom table row for a label; 600 samples at step 1 for an unknown label.
ZoomGeometry ZoomGeometryFor(std::string_view zoomLabel);

/// The time per division at the given rate multiplier; nullopt when the zoom label is
/// not one of the nine rows (the caller then keeps its previous label).
std::optional<std::string_view> TimebaseLabelFor(std::string_view zoomLabel, int rate);

/// First sample drawn: 0 at rate 1, else 2.
inline int StartOffset(int rate) { return rate == 1 ? 0 : 2; }

/// 16 characters '0'/'1', bit 15 first; the low 16 bits of value in two's complement.
std::string ToBitString(int value);

} // namespace quillon
