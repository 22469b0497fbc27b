// Sample rates and periods as people and files write them: "24 MHz", "1.5MHz", "1000000",
// "20ns", "41.667 ns". No toolkit; any thread.
#pragma once

#include "capture/units.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

/// The sample period a text names, exactly: a rate ("24 MHz", "24mhz", "1.5 kHz", a plain
/// number of hertz as in sigrok's files) or a period ("20 ns", "2us", "2 µs", "1 s").
/// nullopt for anything else, zero or too large to hold.
std::optional<SamplePeriod> ParseSampleRate(std::string_view text);

/// A whole rate as sigrok writes it: "24 MHz", "1.5 MHz", "500 kHz", "100 Hz".
std::string SigrokRateText(std::uint64_t hz);

/// "512 bytes", "12.5 KiB", "3.2 GiB".
std::string FormatBytes(std::uint64_t bytes);

} // namespace quillon
