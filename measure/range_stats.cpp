#include "measure/range_stats.h"

#include <algorithm>
#include <vector>

namespace quillon {

void WidthStats::Add(std::int64_t width) {
    shortest = count == 0 ? width : std::min(shortest, width);
    longest = count == 0 ? width : std::max(longest, width);
    total += width;
    ++count;
}

RangeStats MeasureRange(const Capture& capture, int channel, std::int64_t first, std::int64_t end) {
    RangeStats stats;
    const std::int64_t n = capture.SampleCount();
    if (channel < 0 || channel >= capture.ChannelCount()) {
        return stats;
    }
    first = std::clamp<std::int64_t>(first, 0, n);
    end = end < 0 ? n : std::clamp<std::int64_t>(end, first, n);
    const auto counted = capture.CountEdges(channel, first, end);
    stats.rising = counted.rising;
    stats.falling = counted.falling;

    // The received stretches of the channel inside the range.
    std::vector<SampleRange> stretches;
    std::int64_t from = first;
    for (const auto& gap : capture.Gaps(channel)) {
        if (gap.end <= from) {
            continue;
        }
        if (gap.first >= end) {
            break;
        }
        if (gap.first > from) {
            stretches.push_back({from, gap.first});
        }
        from = gap.end;
    }
    if (from < end) {
        stretches.push_back({from, end});
    }

    std::int64_t periodTotal = 0;
    std::int64_t periodHigh = 0;
    for (const auto& stretch : stretches) {
        // Edges at j in [stretch.first, stretch.end]: one at the range's start begins a whole
        // pulse, one at its end (sample end received) ends one.
        std::int64_t limit = stretch.end + 1;
        if (stretch.end >= n || !capture.IsReceived(channel, stretch.end)) {
            limit = stretch.end;
        }
        std::optional<std::int64_t> previous;     // the edge before
        std::optional<std::int64_t> lastRising;   // for whole periods
        std::optional<std::int64_t> fallingSince; // the falling edge after lastRising
        for (auto edge = capture.NextEdge(channel, stretch.first, limit); edge;
             edge = capture.NextEdge(channel, *edge + 1, limit)) {
            const bool rising = capture.Level(channel, *edge);
            if (previous) {
                // The pulse [previous, edge) holds the level before this edge.
                (rising ? stats.low : stats.high).Add(*edge - *previous);
            }
            if (rising) {
                if (lastRising && fallingSince) {
                    ++stats.periods;
                    periodTotal += *edge - *lastRising;
                    periodHigh += *fallingSince - *lastRising;
                }
                lastRising = edge;
                fallingSince.reset();
            } else {
                fallingSince = edge;
            }
            previous = edge;
        }
    }
    if (stats.periods > 0) {
        stats.periodSamples = static_cast<double>(periodTotal) / static_cast<double>(stats.periods);
        stats.dutyCycle = static_cast<double>(periodHigh) / static_cast<double>(periodTotal);
    }
    return stats;
}

} // namespace quillon
