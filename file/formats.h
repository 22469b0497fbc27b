// The readers and writers of each format, inside the file library; capture_file.cpp chooses
// among them. No toolkit.
#pragma once

#include "capture/capture.h"
#include "file/file_support.h"
#include "file/save_file.h"

#include <string>
#include <string_view>

namespace quillon {

/// Keys in the comments of our VCD and CSV files (and in our group of a sigrok session file)
/// for what the formats have no place for.
inline constexpr std::string_view kPeriodPsKey = "sample_period_ps=";
inline constexpr std::string_view kPeriodKey = "sample_period_s="; ///< "num/den", exactly
inline constexpr std::string_view kTriggerKey = "trigger_sample=";

CapturePtr ReadVcd(TextInput& in, const ReadOptions& options, ReadNotes& notes);
CapturePtr ReadCsv(TextInput& in, const ReadOptions& options, ReadNotes& notes);
/// A sigrok session file (a zip archive): an open file descriptor (kept by the caller) or bytes.
CapturePtr ReadSigrok(int fd, std::string_view bytes, const ReadOptions& options, ReadNotes& notes);

bool WriteVcd(ByteSink& sink, const Capture& capture, std::string_view date);
bool WriteCsv(ByteSink& sink, const Capture& capture);
bool WriteSigrok(ByteSink& sink, const Capture& capture, std::string& error);

/// A channel's name as one token (VCD) or one cell (CSV): no blanks, commas, '$' or control
/// bytes; "Dn" when it is empty.
std::string NameToken(const std::string& name, int channel);

/// The time unit our VCD and CSV files use for a period: 1 ns when the period is a whole
/// number of them, else 1 ps. Stamps are then rounded when it is not a whole number of ps.
struct WrittenUnit {
    std::int64_t perSecond; ///< 10^9 or 10^12
    const char* vcd;        ///< "1 ns"
    const char* csv;        ///< "time_ns"
};
WrittenUnit UnitFor(const SamplePeriod& period);
/// The time of sample i in units of 1 / perSecond s, rounded to the nearest.
std::int64_t TimeIn(const SamplePeriod& period, std::int64_t perSecond, std::int64_t i);

/// "num/den" of a period, as the comments carry it; and back.
std::string PeriodText(const SamplePeriod& period);
std::optional<SamplePeriod> ParsePeriodText(std::string_view text);

} // namespace quillon
