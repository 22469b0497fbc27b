// Edges, pulses and periods of the capture's channels.
#include "measure/signal_measure.h"

#include <algorithm>
#include <cmath>

namespace quillon {

namespace {
/// Whether channel received every sample in [first, end).
bool Whole(const Capture& capture, int channel, std::int64_t first, std::int64_t end) {
    return !capture.LevelsIn(channel, first, end).missing;
}
} // namespace

std::optional<std::int64_t> NearestEdge(const Capture& capture, int channel, double boundary,
                                        double maxDistance) {
    if (channel < 0 || channel >= capture.ChannelCount() || !(maxDistance >= 0.0)) {
        return std::nullopt;
    }
    const auto lo = static_cast<std::int64_t>(std::ceil(boundary - maxDistance));
    const auto hi = static_cast<std::int64_t>(std::floor(boundary + maxDistance));
    const auto at = static_cast<std::int64_t>(std::floor(boundary));
    const auto before = capture.PrevEdge(channel, at + 1, std::max<std::int64_t>(lo, 0));
    const auto after = capture.NextEdge(channel, at + 1, hi + 1);
    if (before && after) {
        return boundary - static_cast<double>(*before) < static_cast<double>(*after) - boundary
                   ? before
                   : after;
    }
    return before ? before : after;
}

std::optional<PulseInfo> MeasureAt(const Capture& capture, int channel, std::int64_t sample) {
    if (channel < 0 || channel >= capture.ChannelCount() || sample < 0 ||
        sample >= capture.SampleCount() || !capture.IsReceived(channel, sample)) {
        return std::nullopt;
    }
    PulseInfo info;
    info.level = capture.Level(channel, sample);
    // The pulse under the sample: the last edge at or before it, the first after it.
    const auto prev = capture.PrevEdge(channel, sample + 1);
    const auto next = capture.NextEdge(channel, sample + 1);
    if (!prev || !next || !Whole(capture, channel, *prev - 1, *next)) {
        return info;
    }
    info.widthSamples = *next - *prev;
    // The period: this pulse and the one after it, or else the one before it.
    std::optional<std::int64_t> otherWidth;
    if (const auto next2 = capture.NextEdge(channel, *next + 1);
        next2 && Whole(capture, channel, *next, *next2)) {
        otherWidth = *next2 - *next;
    } else if (const auto prev2 = capture.PrevEdge(channel, *prev);
               prev2 && Whole(capture, channel, *prev2 - 1, *prev)) {
        otherWidth = *prev - *prev2;
    }
    if (otherWidth) {
        info.periodSamples = *info.widthSamples + *otherWidth;
        info.highSamples = info.level ? *info.widthSamples : *otherWidth;
    }
    return info;
}

ChannelSummary SummarizeChannel(const Capture& capture, int channel, std::int64_t first,
                                std::int64_t end) {
    ChannelSummary summary;
    if (channel < 0 || channel >= capture.ChannelCount()) {
        return summary;
    }
    const std::int64_t stop =
        end < 0 ? capture.SampleCount() : std::min(end, capture.SampleCount());
    const auto keepShortest = [](std::optional<std::int64_t>& shortest, std::int64_t width) {
        if (!shortest || width < *shortest) {
            shortest = width;
        }
    };
    // One pass over the edges: pulses between neighbouring edges, whole periods from one
    // rising edge to the next with the falling edge between them.
    // -1: none yet (plain integers: GCC 12 warns falsely on optionals in this loop at -O2).
    std::int64_t previous = -1;
    std::int64_t lastRising = -1;
    std::int64_t fallAfterRising = -1;
    std::int64_t total = 0;
    std::int64_t high = 0;
    std::int64_t shortest = INT64_MAX;
    std::int64_t longest = 0;
    int periods = 0;
    bool periodic = true;
    for (auto e = capture.NextEdge(channel, first, stop); e;
         e = capture.NextEdge(channel, *e + 1, stop)) {
        const bool rising = capture.Level(channel, *e);
        ++(rising ? summary.rising : summary.falling);
        const bool joined = previous >= 0 && Whole(capture, channel, previous, *e);
        if (joined) {
            keepShortest(rising ? summary.shortestLowSamples : summary.shortestHighSamples,
                         *e - previous);
        }
        if (!rising) {
            if (lastRising >= 0 && fallAfterRising < 0) {
                fallAfterRising = *e;
            }
        } else {
            if (lastRising >= 0 && periodic) {
                if (!Whole(capture, channel, lastRising, *e) || fallAfterRising < 0) {
                    periodic = false; // not measured across a gap: no period
                } else {
                    const std::int64_t period = *e - lastRising;
                    total += period;
                    high += fallAfterRising - lastRising;
                    shortest = std::min(shortest, period);
                    longest = std::max(longest, period);
                    ++periods;
                }
            }
            lastRising = *e;
            fallAfterRising = -1;
        }
        previous = *e;
    }
    if (!periodic || periods < 2) {
        return summary;
    }
    const double mean = static_cast<double>(total) / periods;
    if (static_cast<double>(longest - shortest) > std::max(1.0, 0.01 * mean)) {
        return summary;
    }
    summary.periodSamples = mean;
    summary.dutyCycle = static_cast<double>(high) / static_cast<double>(total);
    return summary;
}

} // namespace quillon
