// Parsing and writing sample rates exactly.
#include "file/sample_rate.h"

#include "file/file_support.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <limits>

namespace quillon {

namespace {

constexpr int kMaxFractionDigits = 18;

Wide Pow10(int n) {
    Wide p = 1;
    for (int i = 0; i < n; ++i) {
        p *= 10;
    }
    return p;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())) != 0) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())) != 0) {
        text.remove_suffix(1);
    }
    return text;
}

} // namespace

std::optional<SamplePeriod> ParseSampleRate(std::string_view text) {
    text = Trimmed(text);
    // The number: digits with an optional fraction, kept exactly as mantissa / 10^digits.
    Wide mantissa = 0;
    int fraction = 0;
    bool digits = false;
    bool point = false;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            if (mantissa > Pow10(30)) {
                return std::nullopt;
            }
            mantissa = mantissa * 10 + (c - '0');
            digits = true;
            if (point) {
                if (++fraction > kMaxFractionDigits) {
                    return std::nullopt;
                }
            }
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!digits) {
        return std::nullopt;
    }
    const std::string_view unit = Trimmed(text.substr(i));
    const Wide scale = Pow10(fraction);
    // Rates: hertz with an SI prefix, as sigrok writes them (its "m" means mega there).
    struct Prefix {
        std::string_view text;
        Wide factor;
    };
    static constexpr std::array<Prefix, 5> kRatePrefixes = {
        {{"", 1}, {"k", 1'000}, {"m", 1'000'000}, {"g", 1'000'000'000}, {"t", 1'000'000'000'000}}};
    if (unit.empty()) {
        return PeriodFromFraction(scale, mantissa); // a plain number of hertz
    }
    if (unit.size() >= 2 && EqualsNoCase(unit.substr(unit.size() - 2), "hz")) {
        const std::string_view prefix = unit.substr(0, unit.size() - 2);
        for (const auto& p : kRatePrefixes) {
            if (EqualsNoCase(prefix, p.text)) {
                return PeriodFromFraction(scale, mantissa * p.factor);
            }
        }
        return std::nullopt;
    }
    // Periods: seconds with an SI prefix.
    struct Unit {
        std::string_view text;
        Wide perSecond;
    };
    static constexpr std::array<Unit, 7> kPeriodUnits = {{{"s", 1},
                                                          {"ms", 1'000},
                                                          {"us", 1'000'000},
                                                          {"\u00b5s", 1'000'000},
                                                          {"ns", 1'000'000'000},
                                                          {"ps", 1'000'000'000'000},
                                                          {"fs", 1'000'000'000'000'000}}};
    for (const auto& u : kPeriodUnits) {
        if (unit == u.text) {
            return PeriodFromFraction(mantissa, scale * u.perSecond);
        }
    }
    return std::nullopt;
}

std::string SigrokRateText(std::uint64_t hz) {
    struct Unit {
        std::uint64_t factor;
        const char* name;
    };
    constexpr Unit kUnits[] = {{1'000'000'000, "GHz"}, {1'000'000, "MHz"}, {1'000, "kHz"}};
    for (const auto& u : kUnits) {
        if (hz >= u.factor) {
            std::string text = std::to_string(hz / u.factor);
            if (std::uint64_t rest = hz % u.factor; rest != 0) {
                std::string digits = std::to_string(rest + u.factor).substr(1);
                while (digits.back() == '0') {
                    digits.pop_back();
                }
                text += '.';
                text += digits;
            }
            return text + " " + u.name;
        }
    }
    return std::to_string(hz) + " Hz";
}

std::string FormatBytes(std::uint64_t bytes) {
    constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024) {
        return std::to_string(bytes) + " bytes";
    }
    double value = static_cast<double>(bytes);
    int unit = -1;
    while (value >= 1024.0 && unit < 5) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, value < 10.0 ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
    return text;
}

} // namespace quillon
