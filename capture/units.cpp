// Exact sample periods and the texts of durations and frequencies.
#include "capture/units.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>

namespace quillon {

namespace {
constexpr std::int64_t kPsPerSecond = 1'000'000'000'000;
// Products of a sample index, a numerator and 10^12 need more than 64 bits.
__extension__ typedef __int128 Wide; // NOLINT(modernize-use-using): __extension__ needs typedef

std::string Compact(double value, int significant) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*g", significant, value);
    return text;
}
} // namespace

std::optional<SamplePeriod> SamplePeriod::Fraction(std::int64_t num, std::int64_t den) {
    if (num <= 0 || den <= 0) {
        return std::nullopt;
    }
    const std::int64_t g = std::gcd(num, den);
    SamplePeriod period;
    period.m_num = num / g;
    period.m_den = den / g;
    return period;
}

SamplePeriod SamplePeriod::FromPicoseconds(std::int64_t ps) {
    return Fraction(ps > 0 ? ps : 1, kPsPerSecond).value_or(SamplePeriod());
}

SamplePeriod SamplePeriod::FromHz(std::uint64_t hz) {
    const auto den = static_cast<std::int64_t>(std::min<std::uint64_t>(
        hz > 0 ? hz : 1, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())));
    return Fraction(1, den).value_or(SamplePeriod());
}

double SamplePeriod::Seconds() const {
    return static_cast<double>(m_num) / static_cast<double>(m_den);
}

double SamplePeriod::Hz() const {
    return static_cast<double>(m_den) / static_cast<double>(m_num);
}

std::optional<std::uint64_t> SamplePeriod::WholeHz() const {
    if (m_den % m_num != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(m_den / m_num);
}

std::optional<std::int64_t> SamplePeriod::WholePicoseconds() const {
    // ps = num * 1e12 / den; den divides num * 1e12 exactly when den / gcd(den, 1e12) divides num.
    const std::int64_t g = std::gcd(m_den, kPsPerSecond);
    if (m_num % (m_den / g) != 0) {
        return std::nullopt;
    }
    const Wide ps = static_cast<Wide>(m_num / (m_den / g)) * (kPsPerSecond / g);
    if (ps > std::numeric_limits<std::int64_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(ps);
}

Picoseconds SamplePeriod::TimeOf(std::int64_t i) const {
    // i * num * 1e12 / den, rounded to nearest, in 128 bits so that no capture overflows it.
    const Wide scaled = static_cast<Wide>(i) * m_num * kPsPerSecond;
    const Wide half = m_den / 2;
    const Wide rounded = scaled >= 0 ? (scaled + half) / m_den : (scaled - half) / m_den;
    constexpr auto kMax = static_cast<Wide>(std::numeric_limits<std::int64_t>::max());
    return Picoseconds(static_cast<std::int64_t>(std::clamp(rounded, -kMax, kMax)));
}

double SamplePeriod::SecondsOf(double samples) const {
    return samples * static_cast<double>(m_num) / static_cast<double>(m_den);
}

std::string FormatDuration(double seconds, bool ascii) {
    const double magnitude = std::fabs(seconds);
    if (magnitude == 0.0) {
        return "0 s";
    }
    if (magnitude < 1e-9) {
        return Compact(seconds * 1e12, 4) + " ps";
    }
    if (magnitude < 1e-6) {
        return Compact(seconds * 1e9, 4) + " ns";
    }
    if (magnitude < 1e-3) {
        return Compact(seconds * 1e6, 4) + (ascii ? " us" : " \u00b5s");
    }
    if (magnitude < 1.0) {
        return Compact(seconds * 1e3, 4) + " ms";
    }
    return Compact(seconds, 4) + " s";
}

std::string FormatDuration(Picoseconds time, bool ascii) {
    return FormatDuration(static_cast<double>(time.count()) / static_cast<double>(kPsPerSecond),
                          ascii);
}

std::string FormatFrequency(double hertz) {
    const double magnitude = std::fabs(hertz);
    if (magnitude >= 1e9) {
        return Compact(hertz / 1e9, 4) + " GHz";
    }
    if (magnitude >= 1e6) {
        return Compact(hertz / 1e6, 4) + " MHz";
    }
    if (magnitude >= 1e3) {
        return Compact(hertz / 1e3, 4) + " kHz";
    }
    return Compact(hertz, 4) + " Hz";
}

} // namespace quillon
