// Reading captures from files: VCD and CSV as Quillon writes them (channel names, sample
// period, trigger), and VCD files of other programs whose 1-bit wires change on a regular
// time grid. Errors name the file, the line and what is wrong. No toolkit; any thread.
#pragma once

#include "capture/capture_data.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon {

/// Files longer than this many samples are refused (32 MiB of samples).
inline constexpr std::int64_t kMaxFileSamples = std::int64_t{1} << 24;

/// Why a file could not be read; line 0 when no line is to blame.
struct ReadError {
    std::string file;
    int line = 0;
    std::string what;
    /// "file:line: what" (or "file: what").
    [[nodiscard]] std::string Text() const;
};

/// Parses a value change dump. True and out set on success; false and error set otherwise
/// (out untouched).
bool ReadVcd(std::string_view fileName, std::string_view text, CaptureData& out, ReadError& error);
/// Parses Quillon's CSV: a header "time_ns,<names...>", then one row per sample.
bool ReadCsv(std::string_view fileName, std::string_view text, CaptureData& out, ReadError& error);
/// Reads a file, VCD or CSV by its extension (or, for others, by its first characters).
bool ReadCaptureFile(const std::string& path, CaptureData& out, ReadError& error);

} // namespace quillon
