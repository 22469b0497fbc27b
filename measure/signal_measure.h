// The measurement core: edges of each channel, the pulse under a point, a channel's summary
// (edge counts, shortest pulses, period, frequency, duty cycle) and snapping to edges.
// Nothing is measured across samples the run did not receive. No toolkit; any thread.
#pragma once

#include "capture/capture.h"

#include <cstdint>
#include <optional>

namespace quillon {

/// What the pointer over one channel at one sample tells: the level and, where the edges
/// exist without a gap between them, the pulse, the period and the time high in it. In
/// samples; multiply by the period for time.
struct PulseInfo {
    bool level = false;
    std::optional<std::int64_t> widthSamples;  ///< previous edge to next edge
    std::optional<std::int64_t> periodSamples; ///< between successive edges of one direction
    std::optional<std::int64_t> highSamples;   ///< time high within that period
};

/// One channel over the whole capture.
struct ChannelSummary {
    std::int64_t rising = 0;
    std::int64_t falling = 0;
    std::optional<std::int64_t> shortestHighSamples; ///< whole pulses only (edge to edge)
    std::optional<std::int64_t> shortestLowSamples;
    /// Set when the channel is periodic: at least two whole periods (rising edge to rising
    /// edge), none differing from another by more than one sample or 1 %.
    std::optional<double> periodSamples;
    std::optional<double> dutyCycle; ///< 0 .. 1, high time over period
};

/// The edge of channel nearest to boundary (in samples), if one lies within maxDistance; the
/// later one when two are as near.
std::optional<std::int64_t> NearestEdge(const Capture& capture, int channel, double boundary,
                                        double maxDistance);
/// nullopt when the sample lies outside the capture or was not received on that channel.
std::optional<PulseInfo> MeasureAt(const Capture& capture, int channel, std::int64_t sample);
/// The channel over samples [first, end) (end < 0: to the end of the capture).
ChannelSummary SummarizeChannel(const Capture& capture, int channel, std::int64_t first = 0,
                                std::int64_t end = -1);

} // namespace quillon
