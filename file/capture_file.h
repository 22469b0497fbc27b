// Capture files: one reader and one writer per format (VCD, CSV, sigrok session files), behind
// one ReadCaptureFile and one WriteCaptureFile. No toolkit; any thread.
#pragma once

#include "capture/capture.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

enum class FileFormat { Vcd, Csv, Sigrok, Png };

/// The format a file name asks for by its extension (.vcd, .csv, .sr, .png, any case).
std::optional<FileFormat> FileFormatForPath(std::string_view path);

/// Why a file could not be read; line 0 when no line is to blame.
struct FileReadError {
    enum class Kind {
        Unreadable,   ///< not there, no access, not a regular file
        Malformed,    ///< not a capture file of a known format, or broken
        NoSampleRate, ///< a capture without a sample rate: read again with ReadOptions::period
        TooBig,       ///< it would need more memory than there is (what says how much)
        Cancelled,    ///< the progress callback asked to stop
    };
    Kind kind = Kind::Malformed;
    std::string file;
    int line = 0;
    std::string what;
    /// "file:line: what" (or "file: what").
    [[nodiscard]] std::string Text() const;
};

struct ReadOptions {
    /// The sample period of a file that names none.
    std::optional<SamplePeriod> period;
    /// Called from the reading thread now and then with the bytes read so far and the file's
    /// size; returning false cancels the read.
    std::function<bool(std::uint64_t done, std::uint64_t total)> progress;
};

/// Reads a capture file, its format by extension or else by its first bytes. nullptr and
/// error set on failure.
CapturePtr ReadCaptureFile(const std::string& path, const ReadOptions& options,
                           FileReadError& error);

/// Writes capture into path in format (Vcd, Csv or Sigrok) through a temporary file beside it
/// that replaces path only when whole. date, when not empty, is the file's date text. False
/// with error set (the system's reason) on failure; the old file is then untouched.
bool WriteCaptureFile(const std::string& path, const Capture& capture, FileFormat format,
                      std::string& error, std::string_view date = {});

} // namespace quillon
