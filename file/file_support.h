// What the readers share, inside the file library: the failure they throw, streaming input
// with lines and progress, and the rows that become a capture. No toolkit.
#pragma once

#include "capture/capture.h"
#include "file/capture_file.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

__extension__ typedef __int128 Wide; // NOLINT(modernize-use-using): __extension__ needs typedef

Wide Gcd(Wide a, Wide b);
/// The period num / den seconds, reduced; nullopt when it is not positive or does not fit.
std::optional<SamplePeriod> PeriodFromFraction(Wide num, Wide den);

/// Thrown inside a reader; ReadCaptureFile turns it into a FileReadError.
struct ReadFault {
    FileReadError::Kind kind = FileReadError::Kind::Malformed;
    int line = 0;
    std::string what;
};
[[noreturn]] void Malformed(int line, std::string what);

/// The whole of text as a decimal number; nullopt for anything else.
std::optional<std::int64_t> ParseInt(std::string_view text);

/// A piece of a file shown in a message: at most 40 bytes, escaped, quoted.
std::string Quoted(std::string_view text);

/// Tells the caller about what a reader left out or guessed, each text once.
class ReadNotes {
public:
    explicit ReadNotes(const ReadOptions& options) : m_options(options) {}
    void Add(const std::string& text);

private:
    const ReadOptions& m_options;
    std::vector<std::string> m_told;
};

/// sigrok-cli writes the values of analog channels into its VCD and CSV output as text
/// lines ("A2: 4.0000 V DC"); they belong to no format. True for such a line, or for its first
/// token ("A2:").
[[nodiscard]] bool IsSigrokAnalogText(std::string_view text);
/// Tells how many such lines a read left out (nothing when none).
void NoteAnalogText(ReadNotes& notes, std::int64_t lines);

/// A file or a string read from the start on, in pieces: tokens (VCD) or lines (CSV), with
/// the line number for messages, progress reported to the options' callback (which may
/// cancel), and a position to come back to for a second pass.
class TextInput {
public:
    /// fd stays the caller's; size is the file's, for progress.
    TextInput(int fd, std::uint64_t size, const ReadOptions& options);
    /// Bytes held by the caller for as long as the input lives.
    TextInput(std::string_view bytes, const ReadOptions& options);

    /// Skips a UTF-8 byte order mark at the very start.
    void SkipBom();
    /// The next run of non-blank bytes; false at the end. Valid until the next call.
    bool NextToken(std::string_view& token);
    /// The next line without its end ("\n" or "\r\n"); false at the end. Valid until the next
    /// call.
    bool NextLine(std::string_view& line);
    /// The line of the last token or line (1 for the first).
    [[nodiscard]] int Line() const { return m_tokenLine; }
    /// Bytes of the file, or of the string.
    [[nodiscard]] std::uint64_t Size() const { return m_size; }

    struct Mark {
        std::uint64_t offset = 0;
        int line = 1;
    };
    [[nodiscard]] Mark Position() const;
    void Seek(const Mark& mark);

private:
    /// Keeps bytes from keep on and reads more after them; false at the end of the input.
    bool Refill(std::size_t& keep);
    void Report();

    const ReadOptions& m_options;
    int m_fd = -1;
    std::string_view m_memory;
    std::vector<char> m_buffer;
    const char* m_data = nullptr; ///< the bytes at hand: m_buffer's or m_memory's
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
    std::uint64_t m_base = 0; ///< file offset of m_data[0]
    std::uint64_t m_size = 0;
    bool m_eof = false;
    int m_line = 1;
    int m_tokenLine = 1;
};

/// The bytes a capture may take: ReadOptions::memoryLimit, else what the machine has.
std::uint64_t MemoryBudget(const ReadOptions& options);

/// Throws TooBig when count samples of channels would not fit in budget.
void CheckFits(int channels, std::int64_t count, std::uint64_t budget, bool atLeast = false);

/// Levels row by row (sample by sample) into a CaptureBuilder: a current row of levels and of
/// channels not received, held from one sample to the next; runs of equal rows cost little.
class SampleRows {
public:
    SampleRows(CaptureBuilder& builder, std::uint64_t budget);

    [[nodiscard]] int Channels() const { return m_channels; }
    void SetLevel(int channel, bool level) {
        const auto byte = static_cast<std::size_t>(channel >> 3);
        const auto bit = static_cast<std::uint8_t>(1U << (channel & 7));
        m_row[byte] = level ? static_cast<std::uint8_t>(m_row[byte] | bit)
                            : static_cast<std::uint8_t>(m_row[byte] & ~bit);
    }
    /// From the current sample on, channel is (not) received.
    void SetMissing(int channel, bool missing) {
        auto& since = m_missingSince[static_cast<std::size_t>(channel)];
        if (missing == (since >= 0)) {
            return;
        }
        if (missing) {
            since = m_filled;
        } else {
            m_builder.MarkMissing(channel, since, m_filled);
            since = -1;
        }
    }
    /// Samples up to (not including) sample hold the current row. sample >= Filled().
    void AdvanceTo(std::int64_t sample);
    [[nodiscard]] std::int64_t Filled() const { return m_filled; }
    /// Ends the capture at count samples (>= Filled()).
    void Finish(std::int64_t count);

private:
    void Flush();

    CaptureBuilder& m_builder;
    int m_channels;
    int m_unit;
    std::uint64_t m_budget;
    std::vector<std::uint8_t> m_row;
    std::vector<std::uint8_t> m_stage;
    std::int64_t m_staged = 0;
    std::int64_t m_filled = 0;
    std::vector<std::int64_t> m_missingSince;
};

/// A step of a sample grid in the file's time units: num / den units, kept reduced.
struct GridStep {
    std::int64_t num = 1;
    std::int64_t den = 1;
};

/// The sample each time stamp of a file belongs to: sample k lies at t0 + k * step, and a
/// stamp belongs to the nearest sample when it is within tolerance units of it (rounded time
/// stamps of a rate the time unit does not divide).
class TimeGrid {
public:
    TimeGrid() = default;
    TimeGrid(std::int64_t t0, GridStep step, double tolerance);
    /// nullopt when t lies off the grid.
    [[nodiscard]] std::optional<std::int64_t> SampleOf(std::int64_t t) const;
    [[nodiscard]] const GridStep& Step() const { return m_step; }

private:
    std::int64_t m_t0 = 0;
    GridStep m_step;
    Wide m_twiceTolerance = 1; ///< in units of 1 / (2 den)
};

/// Builds a capture on the grid of a file's time stamps that the file does not state: the grid
/// found from the first stamps, from all of them when a later stamp contradicts it, else one
/// sample per time unit. find(whole, complete) walks the first (or all) stamps and returns the
/// grid they show (FoundGrid), saying whether it saw them all; build(step, tolerance,
/// offGridLine) returns nullptr with the line of a stamp off the grid.
template <typename Find, typename Build>
CapturePtr BuildOnFoundGrid(Find find, Build build, ReadNotes& notes);

/// Finds the sample grid of time stamps that the file does not state: the greatest common
/// divisor of the stamps when it is more than one unit (an exact grid), else the widest step
/// that puts every stamp within half a unit of a sample (one unit when the first stamp is
/// itself rounded), chosen as a whole number of units, else a round rate, else the simplest
/// fraction.
class GridFinder {
public:
    /// Stamps in ascending order, each once. Until PrefixFull() they are kept; then Solve().
    void AddPrefix(std::int64_t t) { m_prefix.push_back(t); }
    [[nodiscard]] bool PrefixFull() const { return m_prefix.size() >= kPrefixStamps; }
    /// Fixes the step's interval from the kept stamps; false when no step fits them.
    bool Solve();
    /// Narrows the interval with a stamp after the prefix; false when no step fits any more.
    bool Refine(std::int64_t t);
    /// A step within the interval; unitSeconds: the time unit as num / den seconds.
    [[nodiscard]] GridStep Choose(std::int64_t unitNum, std::int64_t unitDen) const;
    [[nodiscard]] double Tolerance() const { return m_tolerance; }
    [[nodiscard]] std::int64_t First() const { return m_prefix.empty() ? 0 : m_prefix.front(); }

    static constexpr std::size_t kPrefixStamps = 1 << 16;

private:
    bool SolveWith(double tolerance);
    bool Narrow(std::int64_t t, double& lo, double& hi) const;

    std::vector<std::int64_t> m_prefix;
    double m_lo = 1.0;
    double m_hi = 1.0;
    double m_tolerance = 0.5;
    bool m_single = true;   ///< fewer than two stamps: any step fits
    bool m_fits = false;    ///< the interval holds a step that fits every stamp so far
    std::int64_t m_gcd = 0; ///< of the stamps' distances from the first
};

/// A step a GridFinder chose, with the tolerance it fits with.
struct FoundGrid {
    GridStep step;
    double tolerance = 0.5;
};

template <typename Find, typename Build>
CapturePtr BuildOnFoundGrid(Find find, Build build, ReadNotes& notes) {
    int offGrid = 0;
    bool complete = false;
    FoundGrid grid = find(false, complete);
    if (auto capture = build(grid.step, grid.tolerance, offGrid)) {
        return capture;
    }
    if (!complete) {
        grid = find(true, complete);
        if (auto capture = build(grid.step, grid.tolerance, offGrid)) {
            return capture;
        }
    }
    // Nothing regular: one sample per time unit always fits.
    if (auto capture = build(GridStep{}, 0.5, offGrid)) {
        notes.Add("the time stamps follow no regular grid: one sample per time unit");
        return capture;
    }
    Malformed(offGrid, "a time stamp is not on the time grid");
}

} // namespace quillon
