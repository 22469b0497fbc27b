// CaptureData: one finished capture as every reader after the run sees it (exports, the
// viewer, measurements, decoders). Made once when a run ends or a file is read.
#pragma once

#include "capture/capture.h"
#include "capture/sample_store.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

/// The analyzer takes one sample every kSampleUnitNs * rate multiplier.
inline constexpr std::int64_t kSampleUnitNs = 20;
inline constexpr std::int64_t kSampleUnitPs = kSampleUnitNs * 1000;

using ChannelNames = std::array<std::string, kAnalyzerChannels>;

/// "D0" ... "D15".
ChannelNames DefaultChannelNames();
/// "Dn".
std::string DefaultChannelName(int channel);

/// One capture as plain samples; bit n of a sample is channel Dn. A plain, copyable value.
struct CaptureData {
    std::vector<std::uint16_t> samples;
    int rate = 1; ///< rate multiplier: 1, 10, 100 or 1000 (20 ns, 200 ns, 2 us, 20 us)
    /// The sample period in picoseconds when it is none of the analyzer's own (a file written
    /// by another program); 0: kSampleUnitPs * rate.
    std::int64_t periodPs = 0;
    /// Empty: every sample was received. Otherwise one entry per sample, 1 where this run
    /// received it and 0 where the store still held an earlier capture's bytes.
    std::vector<std::uint8_t> received;
    /// How many of the channels D0 ... carry data (a file may hold fewer than 16 wires).
    int channels = kAnalyzerChannels;
    ChannelNames names = DefaultChannelNames();
    /// The trigger's sample when the capture was taken with a trigger pattern.
    std::optional<std::int64_t> triggerSample;

    /// Sample period in picoseconds.
    [[nodiscard]] std::int64_t PeriodPs() const {
        return periodPs > 0 ? periodPs : kSampleUnitPs * rate;
    }
    [[nodiscard]] bool IsReceived(std::size_t i) const {
        return received.empty() || (i < received.size() && received[i] != 0);
    }
    /// Samples of this capture that the run did not receive.
    [[nodiscard]] std::size_t MissingCount() const;
};

/// The samples a complete download writes into the store (0..kSamplesPerCapture - 1), with
/// the rate multiplier the capture was taken at. Pure; any thread.
CaptureData CaptureFromStore(const SampleStore& store, int rate);

} // namespace quillon
