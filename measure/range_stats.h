// Statistics of one channel over a range of samples (between the viewer's cursors, or the
// whole capture): edges, the widths of whole high and low pulses, frequency and duty cycle.
// Widths are counted only between two edges of one received stretch inside the range: a pulse
// cut by the range's ends or by samples not received is never measured. No toolkit; any
// thread. Costs O(edges x log samples), the quiet stretches skipped by the capture's summaries.
#pragma once

#include "capture/capture.h"

#include <cstdint>
#include <optional>

namespace quillon {

/// Whole pulses of one level, in samples.
struct WidthStats {
    std::int64_t count = 0;
    std::int64_t shortest = 0; ///< meaningful when count > 0
    std::int64_t longest = 0;
    std::int64_t total = 0;
    [[nodiscard]] std::optional<double> Mean() const {
        return count > 0
                   ? std::optional<double>(static_cast<double>(total) / static_cast<double>(count))
                   : std::nullopt;
    }
    void Add(std::int64_t width);
};

struct RangeStats {
    /// Edges at boundaries in [first, end): a level change between sample j - 1 and j, both
    /// received.
    std::int64_t rising = 0;
    std::int64_t falling = 0;
    WidthStats high;
    WidthStats low;
    /// Whole periods (a rising edge to the next one, with the falling edge between, all in
    /// one received stretch inside the range).
    std::int64_t periods = 0;
    std::optional<double> periodSamples; ///< their mean
    std::optional<double> dutyCycle;     ///< 0 .. 1: their high time over their length
};

/// channel over samples [first, end), clamped to the capture (end < 0: to its end). A pulse
/// may end with an edge at end itself: the cursors placed on the edges of a pulse measure it.
RangeStats MeasureRange(const Capture& capture, int channel, std::int64_t first = 0,
                        std::int64_t end = -1);

} // namespace quillon
