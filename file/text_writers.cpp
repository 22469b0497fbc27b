// VCD and CSV texts of a capture, streamed into a sink a piece at a time.
#include "file/formats.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>

#ifndef QUILLON_VERSION
#define QUILLON_VERSION ""
#endif

namespace quillon {

namespace {

// Text is gathered into pieces of this size before it goes to the sink.
constexpr std::size_t kPiece = std::size_t{1} << 20;
constexpr int kWordBits = 64;

class TextOut {
public:
    explicit TextOut(ByteSink& sink) : m_sink(sink) {}
    TextOut& operator<<(std::string_view text) {
        m_text.append(text);
        return *this;
    }
    TextOut& operator<<(char c) {
        m_text.push_back(c);
        return *this;
    }
    TextOut& operator<<(std::int64_t value) {
        char digits[24];
        const auto result = std::to_chars(digits, digits + sizeof digits, value);
        m_text.append(digits, result.ptr);
        return *this;
    }
    /// Hands a full piece to the sink; false when the sink refused.
    bool Pass() {
        if (m_text.size() < kPiece) {
            return m_ok;
        }
        return Flush();
    }
    bool Flush() {
        m_ok = m_ok && m_sink.Write(m_text);
        m_text.clear();
        return m_ok;
    }

private:
    ByteSink& m_sink;
    std::string m_text;
    bool m_ok = true;
};

// Identifiers of letters only, so that no simple reader takes one for a keyword ('$') or a
// time stamp ('#'): "a" for D0 ... "p" for D15, then "A" ... "Z", then two letters and more.
std::string VcdId(int channel) {
    constexpr std::string_view kLetters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string id;
    int n = channel;
    do {
        id += kLetters[static_cast<std::size_t>(n % 52)];
        n = n / 52 - 1;
    } while (n >= 0);
    return id;
}

/// Bits [0, valid) of the samples from base on that lie in a gap of gaps; at advances past the
/// gaps that end before base.
std::uint64_t GapBits(const std::vector<SampleRange>& gaps, std::size_t& at, std::int64_t base,
                      int valid) {
    while (at < gaps.size() && gaps[at].end <= base) {
        ++at;
    }
    std::uint64_t bits = 0;
    const std::int64_t end = base + valid;
    for (std::size_t g = at; g < gaps.size() && gaps[g].first < end; ++g) {
        const auto lo = static_cast<int>(std::max<std::int64_t>(gaps[g].first - base, 0));
        const auto hi = static_cast<int>(std::min<std::int64_t>(gaps[g].end - base, valid));
        const std::uint64_t upper =
            hi >= kWordBits ? ~std::uint64_t{0} : (std::uint64_t{1} << hi) - 1;
        bits |= upper & ~((std::uint64_t{1} << lo) - 1);
    }
    return bits;
}

} // namespace

bool WriteVcd(ByteSink& sink, const Capture& capture, std::string_view date) {
    TextOut out(sink);
    const SamplePeriod& period = capture.Period();
    const WrittenUnit unit = UnitFor(period);
    const int channels = capture.ChannelCount();
    const std::int64_t count = capture.SampleCount();
    if (!date.empty()) {
        out << "$date\n\t" << date << "\n$end\n";
    }
    out << "$version\n\tQuillon " << QUILLON_VERSION << "\n$end\n";
    // What VCD has no place for, as keys our reader finds again.
    out << "$comment\n\t";
    if (const auto ps = period.WholePicoseconds()) {
        out << kPeriodPsKey << *ps;
    } else {
        out << kPeriodKey << PeriodText(period);
    }
    if (const auto trigger = capture.TriggerSample()) {
        out << ' ' << kTriggerKey << *trigger;
    }
    out << "\n$end\n$timescale " << unit.vcd << " $end\n$scope module quillon $end\n";
    std::vector<std::string> ids;
    for (int c = 0; c < channels; ++c) {
        ids.push_back(VcdId(c));
        out << "$var wire 1 " << ids.back() << ' ' << NameToken(capture.ChannelName(c), c)
            << " $end\n";
    }
    out << "$upscope $end\n$enddefinitions $end\n";
    if (count == 0) {
        return out.Flush();
    }

    // Word by word: where any channel changes its level or starts or ends a gap.
    std::vector<std::uint64_t> levels(static_cast<std::size_t>(channels));
    std::vector<std::uint64_t> gaps(static_cast<std::size_t>(channels));
    std::vector<std::uint64_t> changes(static_cast<std::size_t>(channels));
    std::vector<std::uint64_t> lastLevel(static_cast<std::size_t>(channels), 0);
    std::vector<std::uint64_t> lastGap(static_cast<std::size_t>(channels), 0);
    std::vector<std::size_t> gapAt(static_cast<std::size_t>(channels), 0);
    const auto state = [&](std::size_t c, int bit) {
        return ((gaps[c] >> bit) & 1U) != 0 ? 'x' : ((levels[c] >> bit) & 1U) != 0 ? '1' : '0';
    };
    const std::int64_t words = (count + kWordBits - 1) / kWordBits;
    for (std::int64_t w = 0; w < words; ++w) {
        const std::int64_t base = w * kWordBits;
        const int valid = static_cast<int>(std::min<std::int64_t>(kWordBits, count - base));
        const std::uint64_t mask =
            valid == kWordBits ? ~std::uint64_t{0} : (std::uint64_t{1} << valid) - 1;
        std::uint64_t any = 0;
        for (std::size_t c = 0; c < static_cast<std::size_t>(channels); ++c) {
            const std::uint64_t level =
                capture.Plane(static_cast<int>(c))[static_cast<std::size_t>(w)] & mask;
            const std::uint64_t gap =
                GapBits(capture.Gaps(static_cast<int>(c)), gapAt[c], base, valid);
            const std::uint64_t levelBefore = (level << 1) | lastLevel[c];
            const std::uint64_t gapBefore = (gap << 1) | lastGap[c];
            std::uint64_t change =
                ((gap ^ gapBefore) | ((level ^ levelBefore) & ~gap & ~gapBefore)) & mask;
            if (w == 0) {
                change &= ~std::uint64_t{1}; // sample 0 is dumped whole
            }
            levels[c] = level;
            gaps[c] = gap;
            changes[c] = change;
            any |= change;
            lastLevel[c] = (level >> (valid - 1)) & 1U;
            lastGap[c] = (gap >> (valid - 1)) & 1U;
        }
        if (w == 0) {
            out << "#0\n$dumpvars\n";
            for (std::size_t c = 0; c < static_cast<std::size_t>(channels); ++c) {
                out << state(c, 0) << ids[c] << '\n';
            }
            out << "$end\n";
        }
        while (any != 0) {
            const int bit = std::countr_zero(any);
            any &= any - 1;
            out << '#' << TimeIn(period, unit.perSecond, base + bit) << '\n';
            for (std::size_t c = 0; c < static_cast<std::size_t>(channels); ++c) {
                if (((changes[c] >> bit) & 1U) != 0) {
                    out << state(c, bit) << ids[c] << '\n';
                }
            }
        }
        if (!out.Pass()) {
            return false;
        }
    }
    // Viewers end the trace at the last time stamp: give the last sample its full length.
    out << '#' << TimeIn(period, unit.perSecond, count) << '\n';
    return out.Flush();
}

bool WriteCsv(ByteSink& sink, const Capture& capture) {
    TextOut out(sink);
    const SamplePeriod& period = capture.Period();
    const WrittenUnit unit = UnitFor(period);
    const int channels = capture.ChannelCount();
    const std::int64_t count = capture.SampleCount();
    if (const auto trigger = capture.TriggerSample()) {
        out << "; " << kTriggerKey << *trigger << '\n';
    }
    if (!period.WholePicoseconds() || count < 2) {
        // The times are rounded, or too few to show the period.
        out << "; " << kPeriodKey << PeriodText(period) << '\n';
    }
    out << unit.csv;
    for (int c = 0; c < channels; ++c) {
        out << ',' << NameToken(capture.ChannelName(c), c);
    }
    out << '\n';
    std::vector<std::size_t> gapAt(static_cast<std::size_t>(channels), 0);
    std::vector<std::array<std::uint64_t, 2>> bits(static_cast<std::size_t>(channels));
    for (std::int64_t base = 0; base < count; base += kWordBits) {
        const int valid = static_cast<int>(std::min<std::int64_t>(kWordBits, count - base));
        // This word's levels and gaps of each channel, then its rows.
        for (int c = 0; c < channels; ++c) {
            bits[static_cast<std::size_t>(c)] = {
                capture.Plane(c)[static_cast<std::size_t>(base / kWordBits)],
                GapBits(capture.Gaps(c), gapAt[static_cast<std::size_t>(c)], base, valid)};
        }
        for (int b = 0; b < valid; ++b) {
            out << TimeIn(period, unit.perSecond, base + b);
            for (int c = 0; c < channels; ++c) {
                const auto& [level, gap] = bits[static_cast<std::size_t>(c)];
                if (((gap >> b) & 1U) != 0) {
                    out << ','; // a sample not received leaves its field empty
                } else {
                    out << (((level >> b) & 1U) != 0 ? std::string_view(",1")
                                                     : std::string_view(",0"));
                }
            }
            out << '\n';
        }
        if (!out.Pass()) {
            return false;
        }
    }
    return out.Flush();
}

} // namespace quillon
