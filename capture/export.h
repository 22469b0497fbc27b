// Exporting a capture: the samples with their rate, as a VCD or CSV text, and writing files.
#pragma once

#include "capture/capture_data.h"
#include "capture/sample_store.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

/// The samples a complete download writes into the store (0..kSamplesPerCapture - 1), with
/// the rate multiplier the capture was taken at. Pure; any thread.
CaptureData CaptureFromStore(const SampleStore& store, int rate);

/// Time of sample index in nanoseconds: index * the sample period (20 ns * rate).
std::int64_t SampleTimeNs(const CaptureData& data, std::int64_t index);

/// Keys in the comments of the VCD and CSV texts for what the formats have no place for:
/// the sample period (VCD) and the trigger's sample (both, when there is one).
inline constexpr std::string_view kPeriodCommentKey = "sample_period_ps=";
inline constexpr std::string_view kTriggerCommentKey = "trigger_sample=";

/// Value change dump, 1 ns time scale (1 ps for a period of no whole ns), one wire per
/// channel (data.channels of them) with the channel's name (blanks as '_'), the period and
/// trigger in a $comment: all values at #0, then only changes, then a last time stamp at the
/// end of the last sample. Samples the run did not receive are 'x' on every wire. date, when
/// not empty, goes into a $date section. Pure; any thread.
std::string ToVcd(const CaptureData& data, std::string_view date = {});

/// Comma-separated values: a header row "time_ns,<names>" (D0..D15 by default), then one
/// row per sample with its time in nanoseconds and the levels as 0/1; a sample the run did
/// not receive has empty level fields; a first line "; trigger_sample=N" when the capture
/// has a trigger. Lines end in "\n". Pure; any thread.
std::string ToCsv(const CaptureData& data);

enum class ExportFormat { Vcd, Csv, Png };

/// The format a file name asks for by its extension (.vcd, .csv, .png, any case); nullopt
/// for anything else.
std::optional<ExportFormat> FormatForPath(std::string_view path);

/// Writes bytes to path, replacing what was there, atomically: into a new file in the same
/// folder, flushed to the disk, then renamed over path (a device such as /dev/stdout is
/// written directly). On failure the old file is as it was, nothing partial is left, and
/// error holds the system's reason (e.g. "No space left on device"). Any thread.
bool WriteWholeFile(const std::string& path, std::string_view bytes, std::string& error);

} // namespace quillon
