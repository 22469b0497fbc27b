// Reading a capture file with progress on the terminal.
#include "app/cli_read.h"

#include "file/capture_file.h"
#include "file/safe_text.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace quillon {

namespace {

constexpr const char* kProgram = "quillon-cli";
// Progress shows once a read has taken this long and looks like taking a second or more.
constexpr std::chrono::milliseconds kQuietTime{300};
constexpr std::chrono::milliseconds kLongRead{1000};
constexpr std::chrono::milliseconds kRedraw{100};

/// "quillon-cli: reading FILE: 42 %" rewritten in place on a terminal.
class ReadProgress {
public:
    ReadProgress(std::ostream& err, std::string name) : m_err(err), m_name(std::move(name)) {}
    ~ReadProgress() { Clear(); }
    ReadProgress(const ReadProgress&) = delete;
    ReadProgress& operator=(const ReadProgress&) = delete;

    bool Update(std::uint64_t done, std::uint64_t total) {
        const auto now = std::chrono::steady_clock::now();
        const auto elapsed = now - m_start;
        if (total == 0 || elapsed < kQuietTime || now - m_drawn < kRedraw) {
            return true;
        }
        const double fraction = static_cast<double>(done) / static_cast<double>(total);
        const bool longRead =
            elapsed >= kLongRead || (fraction > 0 && elapsed / fraction >= kLongRead);
        if (!longRead && !m_shown) {
            return true;
        }
        const int percent = static_cast<int>(fraction * 100.0);
        if (m_shown && percent == m_percent) {
            return true;
        }
        m_percent = percent;
        m_err << "\r" << kProgram << ": reading " << m_name << ": " << percent << " %\033[K"
              << std::flush;
        m_shown = true;
        m_drawn = now;
        return true;
    }

    void Clear() {
        if (m_shown) {
            m_err << "\r\033[K" << std::flush;
            m_shown = false;
        }
    }

private:
    std::ostream& m_err;
    std::string m_name;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point m_drawn{};
    bool m_shown = false;
    int m_percent = -1;
};

} // namespace

CapturePtr ReadCaptureForCli(const std::string& path, std::optional<SamplePeriod> rate,
                             std::ostream& err) {
    const std::string shown = SafeText(path);
    ReadProgress progress(err, shown);
    ReadOptions options;
    options.period = rate;
    if (&err == &std::cerr && ::isatty(STDERR_FILENO) != 0) {
        options.progress = [&progress](std::uint64_t done, std::uint64_t total) {
            return progress.Update(done, total);
        };
    }
    options.note = [&](const std::string& text) {
        progress.Clear();
        err << kProgram << ": " << shown << ": " << text << "\n";
    };
    FileReadError error;
    CapturePtr capture = ReadCaptureFile(path, options, error);
    progress.Clear();
    if (!capture) {
        err << kProgram << ": " << error.Text();
        if (error.kind == FileReadError::Kind::NoSampleRate) {
            err << " (give it with --rate, e.g. --rate 24MHz)";
        }
        err << "\n";
    }
    return capture;
}

} // namespace quillon
