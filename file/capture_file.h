// Capture files: one reader and one writer per format (VCD, CSV, sigrok session files), behind
// one ReadCaptureFile and one WriteCaptureFile. Readers stream the file into a capture and
// refuse what does not fit in memory as early as they can tell. No toolkit; any thread.
#pragma once

#include "capture/capture.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

class ByteSink;

enum class FileFormat { Vcd, Csv, Sigrok, Png };

/// The format a file name asks for by its extension (.vcd, .csv, .sr, .png, any case); nullopt
/// for anything else, for a name without one and for a hidden file's name such as ".vcd".
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
    /// "file:line: what" (or "file: what"); the file's name escaped (SafeText).
    [[nodiscard]] std::string Text() const;
};

struct ReadOptions {
    /// The sample period of a file that names none.
    std::optional<SamplePeriod> period;
    /// Called from the reading thread now and then with the bytes read so far and the file's
    /// size (for a sigrok session file: sample bytes unpacked and their total); returning
    /// false cancels the read.
    std::function<bool(std::uint64_t done, std::uint64_t total)> progress;
    /// Told, from the reading thread, what the reader left out or had to guess (a vector
    /// split into bits, an analog column skipped, ...), each text once.
    std::function<void(const std::string& text)> note;
    /// Bytes the capture may take; by default what the machine has available.
    std::optional<std::uint64_t> memoryLimit;
};

/// Reads a capture file: a sigrok session file by its first bytes, otherwise by its
/// extension, else VCD when it starts with '$' and CSV when not. Devices, pipes and folders
/// are refused at once. nullptr and error set on failure.
CapturePtr ReadCaptureFile(const std::string& path, const ReadOptions& options,
                           FileReadError& error);

/// The same on bytes in memory; name stands for the file in errors and chooses the format
/// like a path.
CapturePtr ReadCaptureBytes(std::string_view bytes, const std::string& name,
                            const ReadOptions& options, FileReadError& error);

/// Writes capture into path in format (Vcd, Csv or Sigrok) through a temporary file beside it
/// that replaces path only when whole (SaveFile). date, when not empty, is the file's date
/// text. False with error set (the system's reason) on failure; the old file is then
/// untouched.
bool WriteCaptureFile(const std::string& path, const Capture& capture, FileFormat format,
                      std::string& error, std::string_view date = {});

/// Writes capture in format into sink (a sigrok session file needs one that can seek). False
/// with error set on failure.
bool WriteCapture(ByteSink& sink, const Capture& capture, FileFormat format, std::string& error,
                  std::string_view date = {});

/// The file's bytes in memory (for tests and small captures); empty for Png.
std::string CaptureFileBytes(const Capture& capture, FileFormat format, std::string_view date = {});

/// Bytes of memory this process may still take: the system's available memory, or less when
/// a control group or resource limit says so.
std::uint64_t AvailableMemoryBytes();

} // namespace quillon
