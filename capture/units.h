// Time and rate: one duration type (picoseconds), the sample period as an exact fraction of a
// second, and the one formatter of durations and frequencies. No toolkit; any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace quillon {

/// Every time the program handles: a whole number of picoseconds.
using Picoseconds = std::chrono::duration<std::int64_t, std::pico>;

/// The time between two samples, exactly: Numerator() / Denominator() seconds, kept reduced.
/// 20 ns is 1/50000000; 24 MHz is 1/24000000; a VCD grid of 7 units of 100 ps is 7/10000000000.
/// Never rounded to a whole picosecond.
class SamplePeriod {
public:
    /// 1 s (a default that is never used for a real capture).
    SamplePeriod() = default;
    /// num / den seconds; both > 0 (anything else gives nullopt).
    static std::optional<SamplePeriod> Fraction(std::int64_t num, std::int64_t den);
    /// A whole number of picoseconds (> 0).
    static SamplePeriod FromPicoseconds(std::int64_t ps);
    /// One sample every 1/hz seconds (hz > 0).
    static SamplePeriod FromHz(std::uint64_t hz);

    [[nodiscard]] std::int64_t Numerator() const { return m_num; }
    [[nodiscard]] std::int64_t Denominator() const { return m_den; }
    [[nodiscard]] double Seconds() const;
    [[nodiscard]] double Hz() const;
    /// The rate when it is a whole number of hertz (what sigrok files and decoders take).
    [[nodiscard]] std::optional<std::uint64_t> WholeHz() const;
    /// The period when it is a whole number of picoseconds.
    [[nodiscard]] std::optional<std::int64_t> WholePicoseconds() const;
    /// The start of sample i from the start of sample 0, rounded to the nearest picosecond.
    [[nodiscard]] Picoseconds TimeOf(std::int64_t i) const;
    /// The same in seconds, for display arithmetic.
    [[nodiscard]] double SecondsOf(double samples) const;

    bool operator==(const SamplePeriod&) const = default;

private:
    std::int64_t m_num = 1;
    std::int64_t m_den = 1;
};

/// "20 ns", "1.5 µs", "80.64 ms", "2 s": up to 4 significant digits. ascii: "us" for µs (the
/// spelling of sigrok-cli's output, which quillon-cli matches).
std::string FormatDuration(double seconds, bool ascii = false);
std::string FormatDuration(Picoseconds time, bool ascii = false);
/// "1 kHz", "460.8 kHz", "50 MHz".
std::string FormatFrequency(double hertz);

} // namespace quillon
