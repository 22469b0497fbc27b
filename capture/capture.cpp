// The capture model: bit planes, gaps and the summaries that make span and edge queries cheap.
#include "capture/capture.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

namespace quillon {

namespace {

constexpr int kWordBits = 64;
// A summary block of level l + 1 holds 64 blocks of level l: the children's bits of one
// parent are exactly one word of the level below.
constexpr int kFanShift = 6;

std::int64_t WordsFor(std::int64_t samples) {
    return (samples + kWordBits - 1) / kWordBits;
}

/// Bits [lo, hi) of a word, 0 <= lo <= hi <= 64.
std::uint64_t Mask(int lo, int hi) {
    if (hi <= lo) {
        return 0;
    }
    const std::uint64_t upper = hi >= kWordBits ? ~std::uint64_t{0} : (std::uint64_t{1} << hi) - 1;
    return upper & ~((std::uint64_t{1} << lo) - 1);
}

bool TestBit(const std::vector<std::uint64_t>& bits, std::int64_t i) {
    return ((bits[static_cast<std::size_t>(i >> kFanShift)] >> (i & (kWordBits - 1))) & 1U) != 0;
}

void SetBit(std::vector<std::uint64_t>& bits, std::int64_t i) {
    bits[static_cast<std::size_t>(i >> kFanShift)] |= std::uint64_t{1} << (i & (kWordBits - 1));
}

/// Words of one summary level: bit b of mixed is set when block b holds both levels; bit b of
/// first is the level of block b's first sample (the block's level when it is not mixed).
struct SummaryLevel {
    std::vector<std::uint64_t> mixed;
    std::vector<std::uint64_t> first;
};

std::int64_t WordsPerBlock(int level) {
    return std::int64_t{1} << (kFanShift * level);
}

/// Sorts, merges and clips ranges to [0, count).
std::vector<SampleRange> Normalized(std::vector<SampleRange> ranges, std::int64_t count) {
    for (auto& r : ranges) {
        r.first = std::clamp<std::int64_t>(r.first, 0, count);
        r.end = std::clamp<std::int64_t>(r.end, 0, count);
    }
    std::erase_if(ranges, [](const SampleRange& r) { return r.end <= r.first; });
    std::sort(ranges.begin(), ranges.end(),
              [](const SampleRange& a, const SampleRange& b) { return a.first < b.first; });
    std::vector<SampleRange> merged;
    for (const auto& r : ranges) {
        if (!merged.empty() && r.first <= merged.back().end) {
            merged.back().end = std::max(merged.back().end, r.end);
        } else {
            merged.push_back(r);
        }
    }
    return merged;
}

/// Calls fn(first, end) for each received stretch of [a, b) outside gaps, ascending; fn
/// returns false to stop.
template <typename Fn>
void ForEachReceived(const std::vector<SampleRange>& gaps, std::int64_t a, std::int64_t b, Fn fn) {
    auto it = std::upper_bound(gaps.begin(), gaps.end(), a,
                               [](std::int64_t v, const SampleRange& g) { return v < g.end; });
    std::int64_t at = a;
    for (; at < b; ++it) {
        const std::int64_t stop = it == gaps.end() ? b : std::min(b, it->first);
        if (stop > at && !fn(at, stop)) {
            return;
        }
        if (it == gaps.end()) {
            return;
        }
        at = std::max(at, it->end);
    }
}

/// The same, descending.
template <typename Fn>
void ForEachReceivedBackwards(const std::vector<SampleRange>& gaps, std::int64_t a, std::int64_t b,
                              Fn fn) {
    // The first gap that starts at or after b, then walk down.
    auto it = std::lower_bound(gaps.begin(), gaps.end(), b,
                               [](const SampleRange& g, std::int64_t v) { return g.first < v; });
    std::int64_t at = b;
    while (at > a) {
        const bool atStart = it == gaps.begin();
        const std::int64_t stop = atStart ? a : std::max(a, std::prev(it)->end);
        if (at > stop && !fn(stop, at)) {
            return;
        }
        if (atStart) {
            return;
        }
        --it;
        at = std::min(at, it->first);
    }
}

std::uint64_t Transpose8x8(std::uint64_t x) {
    // Byte j bit k -> byte k bit j.
    std::uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAULL;
    x = x ^ t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCULL;
    x = x ^ t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ULL;
    x = x ^ t ^ (t << 28);
    return x;
}

/// 64 bits of a plane from sample pos on (bits past the plane read as 0).
std::uint64_t Bits64(const std::vector<std::uint64_t>& plane, std::int64_t pos) {
    const auto w = static_cast<std::size_t>(pos >> kFanShift);
    const int offset = static_cast<int>(pos & (kWordBits - 1));
    std::uint64_t bits = w < plane.size() ? plane[w] >> offset : 0;
    if (offset != 0 && w + 1 < plane.size()) {
        bits |= plane[w + 1] << (kWordBits - offset);
    }
    return bits;
}

void FillPlane(std::vector<std::uint64_t>& plane, std::int64_t a, std::int64_t b, bool level) {
    while (a < b) {
        const auto w = static_cast<std::size_t>(a >> kFanShift);
        const int lo = static_cast<int>(a & (kWordBits - 1));
        const int hi = static_cast<int>(std::min<std::int64_t>(kWordBits, b - (a - lo)));
        const std::uint64_t mask = Mask(lo, hi);
        plane[w] = level ? plane[w] | mask : plane[w] & ~mask;
        a += hi - lo;
    }
}

} // namespace

std::string DefaultChannelName(int channel) {
    // Appended, not "D" + to_string(n): GCC 12 warns falsely (-Wrestrict) on that at -O3.
    std::string name = "D";
    name += std::to_string(channel);
    return name;
}

struct Capture::Data {
    int channels = 0;
    std::int64_t count = 0;
    SamplePeriod period;
    std::vector<std::string> names;
    std::optional<std::int64_t> trigger;
    std::vector<std::vector<std::uint64_t>> planes;
    std::vector<std::vector<SampleRange>> gaps;
    std::vector<std::vector<SummaryLevel>> levels; ///< per channel; level 0: one bit a word
    std::int64_t missing = 0;

    [[nodiscard]] bool Bit(int channel, std::int64_t i) const {
        return TestBit(planes[static_cast<std::size_t>(channel)], i);
    }

    /// The first sample in [pos, end) whose level is not c; end when there is none.
    [[nodiscard]] std::int64_t FindDiffering(int channel, std::int64_t pos, std::int64_t end,
                                             bool c) const;
    /// The last sample in [lo, hi) whose level is not c; lo - 1 when there is none.
    [[nodiscard]] std::int64_t FindLastDiffering(int channel, std::int64_t lo, std::int64_t hi,
                                                 bool c) const;
};

std::int64_t Capture::Data::FindDiffering(int channel, std::int64_t pos, std::int64_t end,
                                          bool c) const {
    if (pos >= end) {
        return end;
    }
    const auto& plane = planes[static_cast<std::size_t>(channel)];
    const auto& summary = levels[static_cast<std::size_t>(channel)];
    const auto wordOf = [&](std::int64_t w) {
        return c ? ~plane[static_cast<std::size_t>(w)] : plane[static_cast<std::size_t>(w)];
    };
    // The word of pos, from pos on.
    const std::int64_t w = pos >> kFanShift;
    if (const std::uint64_t diff = wordOf(w) & ~Mask(0, static_cast<int>(pos & (kWordBits - 1)));
        diff != 0) {
        return std::min(end, (w << kFanShift) + std::countr_zero(diff));
    }
    // Blocks not wholly c: mixed, or of the other level. 64 of them a summary word.
    const auto candidates = [&](int level, std::int64_t word) -> std::uint64_t {
        const SummaryLevel& lv = summary[static_cast<std::size_t>(level)];
        if (word >= static_cast<std::int64_t>(lv.mixed.size())) {
            return 0;
        }
        const std::uint64_t first = lv.first[static_cast<std::size_t>(word)];
        return lv.mixed[static_cast<std::size_t>(word)] | (c ? ~first : first);
    };
    // Up: the first such block after w's, among the siblings on each level, then among the
    // parents' later siblings. O(levels), each a word of summary bits.
    std::int64_t block = w + 1;
    int level = 0;
    const int top = static_cast<int>(summary.size()) - 1;
    for (;;) {
        if ((block * WordsPerBlock(level)) << kFanShift >= end) {
            return end;
        }
        const std::int64_t word = block >> kFanShift;
        if (const std::uint64_t found =
                candidates(level, word) & ~Mask(0, static_cast<int>(block & (kWordBits - 1)));
            found != 0) {
            block = (word << kFanShift) + std::countr_zero(found);
            break;
        }
        if (level >= top) {
            return end;
        }
        block = word + 1;
        ++level;
    }
    // Down: the first child not wholly c, to a word of samples.
    for (; level > 0; --level) {
        block = (block << kFanShift) + std::countr_zero(candidates(level - 1, block));
    }
    if ((block << kFanShift) >= end) {
        return end;
    }
    return std::min(end, (block << kFanShift) + std::countr_zero(wordOf(block)));
}

std::int64_t Capture::Data::FindLastDiffering(int channel, std::int64_t lo, std::int64_t hi,
                                              bool c) const {
    const auto& plane = planes[static_cast<std::size_t>(channel)];
    const auto& summary = levels[static_cast<std::size_t>(channel)];
    const int top = static_cast<int>(summary.size()) - 1;
    std::int64_t i = hi; // exclusive
    while (i > lo) {
        const std::int64_t w = (i - 1) >> kFanShift;
        if ((i & (kWordBits - 1)) != 0 || i - lo < kWordBits) {
            const int from = static_cast<int>(std::max<std::int64_t>(0, lo - (w << kFanShift)));
            const int to = static_cast<int>(i - (w << kFanShift));
            const std::uint64_t word =
                c ? ~plane[static_cast<std::size_t>(w)] : plane[static_cast<std::size_t>(w)];
            if (const std::uint64_t diff = word & Mask(from, to); diff != 0) {
                return (w << kFanShift) + (kWordBits - 1 - std::countl_zero(diff));
            }
            i = (w << kFanShift) + from;
            continue;
        }
        const std::int64_t endWord = i >> kFanShift;
        int level = 0;
        while (level < top) {
            const std::int64_t span = WordsPerBlock(level + 1);
            if (endWord % span != 0 || (endWord - span) * kWordBits < lo) {
                break;
            }
            ++level;
        }
        for (;;) {
            const std::int64_t block = (endWord >> (kFanShift * level)) - 1;
            const auto& lv = summary[static_cast<std::size_t>(level)];
            if (!TestBit(lv.mixed, block)) {
                if (TestBit(lv.first, block) != c) {
                    return i - 1;
                }
                i -= WordsPerBlock(level) * kWordBits;
                break;
            }
            if (level == 0) {
                const std::uint64_t word = c ? ~plane[static_cast<std::size_t>(endWord - 1)]
                                             : plane[static_cast<std::size_t>(endWord - 1)];
                return ((endWord - 1) << kFanShift) + (kWordBits - 1 - std::countl_zero(word));
            }
            --level; // its last child ends here too
        }
    }
    return lo - 1;
}

// ---- Capture ----------------------------------------------------------------------------

int Capture::ChannelCount() const {
    return m_data->channels;
}

std::int64_t Capture::SampleCount() const {
    return m_data->count;
}

const SamplePeriod& Capture::Period() const {
    return m_data->period;
}

const std::string& Capture::ChannelName(int channel) const {
    return ChannelNames()[static_cast<std::size_t>(channel)];
}

const std::vector<std::string>& Capture::ChannelNames() const {
    return m_names ? *m_names : m_data->names;
}

std::shared_ptr<const Capture> Capture::WithNames(std::vector<std::string> names) const {
    names.resize(m_data->names.size());
    for (std::size_t c = 0; c < names.size(); ++c) {
        if (names[c].empty()) {
            names[c] = ChannelNames()[c];
        }
    }
    auto renamed = std::make_shared<Capture>(Key());
    renamed->m_data = m_data;
    renamed->m_names = std::make_shared<const std::vector<std::string>>(std::move(names));
    return renamed;
}

std::optional<std::int64_t> Capture::TriggerSample() const {
    return m_data->trigger;
}

bool Capture::Level(int channel, std::int64_t i) const {
    return m_data->Bit(channel, i);
}

std::span<const std::uint64_t> Capture::Plane(int channel) const {
    return m_data->planes[static_cast<std::size_t>(channel)];
}

const std::vector<SampleRange>& Capture::Gaps(int channel) const {
    return m_data->gaps[static_cast<std::size_t>(channel)];
}

bool Capture::IsReceived(int channel, std::int64_t i) const {
    const auto& gaps = Gaps(channel);
    const auto it =
        std::upper_bound(gaps.begin(), gaps.end(), i,
                         [](std::int64_t v, const SampleRange& g) { return v < g.end; });
    return it == gaps.end() || !it->Contains(i);
}

bool Capture::IsComplete() const {
    return m_data->missing == 0;
}

std::int64_t Capture::MissingCount() const {
    return m_data->missing;
}

std::vector<SampleRange> Capture::ReceivedStretches(std::span<const int> channels) const {
    std::vector<SampleRange> all;
    const auto add = [&](int channel) {
        const auto& gaps = Gaps(channel);
        all.insert(all.end(), gaps.begin(), gaps.end());
    };
    if (channels.empty()) {
        for (int c = 0; c < ChannelCount(); ++c) {
            add(c);
        }
    } else {
        for (const int c : channels) {
            add(c);
        }
    }
    const auto gaps = Normalized(std::move(all), SampleCount());
    std::vector<SampleRange> stretches;
    ForEachReceived(gaps, 0, SampleCount(), [&](std::int64_t a, std::int64_t b) {
        stretches.push_back({a, b});
        return true;
    });
    return stretches;
}

SpanLevels Capture::LevelsIn(int channel, std::int64_t first, std::int64_t end) const {
    SpanLevels levels;
    first = std::clamp<std::int64_t>(first, 0, SampleCount());
    end = std::clamp<std::int64_t>(end, 0, SampleCount());
    if (first >= end) {
        return levels;
    }
    const auto& gaps = Gaps(channel);
    const auto gap =
        std::upper_bound(gaps.begin(), gaps.end(), first,
                         [](std::int64_t v, const SampleRange& g) { return v < g.end; });
    levels.missing = gap != gaps.end() && gap->first < end;
    ForEachReceived(gaps, first, end, [&](std::int64_t a, std::int64_t b) {
        levels.low = levels.low || m_data->FindDiffering(channel, a, b, true) < b;
        levels.high = levels.high || m_data->FindDiffering(channel, a, b, false) < b;
        return !(levels.low && levels.high);
    });
    return levels;
}

std::optional<std::int64_t> Capture::NextEdge(int channel, std::int64_t from,
                                              std::int64_t to) const {
    const std::int64_t end = to < 0 ? SampleCount() : std::min(to, SampleCount());
    std::optional<std::int64_t> found;
    ForEachReceived(
        Gaps(channel), std::max<std::int64_t>(from, 0), end, [&](std::int64_t a, std::int64_t b) {
            // An edge needs the sample before it received too: not the stretch's first.
            const bool previousReceived = a > 0 && IsReceived(channel, a - 1);
            const std::int64_t start = previousReceived ? a : a + 1;
            if (start >= b) {
                return true;
            }
            const std::int64_t j =
                m_data->FindDiffering(channel, start, b, m_data->Bit(channel, start - 1));
            if (j < b) {
                found = j;
                return false;
            }
            return true;
        });
    return found;
}

std::optional<std::int64_t> Capture::PrevEdge(int channel, std::int64_t before,
                                              std::int64_t from) const {
    const std::int64_t end = std::min(before, SampleCount());
    std::optional<std::int64_t> found;
    ForEachReceivedBackwards(
        Gaps(channel), std::max<std::int64_t>(from, 0), end, [&](std::int64_t a, std::int64_t b) {
            const bool previousReceived = a > 0 && IsReceived(channel, a - 1);
            const std::int64_t lo = previousReceived ? a : a + 1;
            if (lo >= b) {
                return true;
            }
            const std::int64_t k =
                m_data->FindLastDiffering(channel, lo - 1, b, m_data->Bit(channel, b - 1));
            if (k >= lo - 1) {
                found = k + 1;
                return false;
            }
            return true;
        });
    return found;
}

Capture::EdgeCount Capture::CountEdges(int channel, std::int64_t first, std::int64_t end) const {
    EdgeCount count;
    const auto& plane = m_data->planes[static_cast<std::size_t>(channel)];
    end = std::min(end, SampleCount());
    ForEachReceived(
        Gaps(channel), std::max<std::int64_t>(first, 0), end, [&](std::int64_t a, std::int64_t b) {
            const bool previousReceived = a > 0 && IsReceived(channel, a - 1);
            std::int64_t i = previousReceived ? a : a + 1;
            while (i < b) {
                const std::int64_t n = std::min<std::int64_t>(kWordBits, b - i);
                const std::uint64_t now = Bits64(plane, i);
                const std::uint64_t before = (Bits64(plane, i - 1) & Mask(0, static_cast<int>(n)));
                const std::uint64_t mask = Mask(0, static_cast<int>(n));
                const std::uint64_t change = (now ^ before) & mask;
                count.rising += std::popcount(change & now);
                count.falling += std::popcount(change & ~now);
                i += n;
            }
            return true;
        });
    return count;
}

void Capture::PackRows(std::span<const int> channels, std::int64_t first, std::int64_t count,
                       std::uint8_t* out) const {
    const std::size_t unit = (channels.size() + 7) / 8;
    std::memset(out, 0, static_cast<std::size_t>(count) * unit);
    for (std::size_t k = 0; k < channels.size(); ++k) {
        const auto& plane = m_data->planes[static_cast<std::size_t>(channels[k])];
        const std::size_t byte = k / 8;
        const auto bit = static_cast<std::uint8_t>(1U << (k % 8));
        for (std::int64_t i = 0; i < count; i += kWordBits) {
            std::uint64_t bits = Bits64(plane, first + i);
            if (count - i < kWordBits) {
                bits &= Mask(0, static_cast<int>(count - i));
            }
            while (bits != 0) {
                const int t = std::countr_zero(bits);
                out[static_cast<std::size_t>(i + t) * unit + byte] |= bit;
                bits &= bits - 1;
            }
        }
    }
}

std::uint64_t Capture::MemoryBytes() const {
    std::uint64_t bytes = sizeof(Data);
    for (int c = 0; c < ChannelCount(); ++c) {
        bytes += m_data->planes[static_cast<std::size_t>(c)].capacity() * sizeof(std::uint64_t);
        for (const auto& level : m_data->levels[static_cast<std::size_t>(c)]) {
            bytes += (level.mixed.capacity() + level.first.capacity()) * sizeof(std::uint64_t);
        }
        bytes += m_data->gaps[static_cast<std::size_t>(c)].capacity() * sizeof(SampleRange);
    }
    return bytes;
}

// ---- CaptureBuilder -----------------------------------------------------------------------

struct CaptureBuilder::State {
    int channels = 0;
    std::int64_t count = 0;
    SamplePeriod period;
    std::vector<std::string> names;
    std::optional<std::int64_t> trigger;
    std::vector<std::vector<std::uint64_t>> planes;
    std::vector<std::vector<SampleRange>> missing; ///< per channel
    std::vector<SampleRange> missingAll;

    void Grow(std::int64_t to) {
        if (to > count) {
            for (auto& plane : planes) {
                plane.resize(static_cast<std::size_t>(WordsFor(to)), 0);
            }
            count = to;
        }
    }
};

CaptureBuilder::CaptureBuilder(int channels, SamplePeriod period)
    : m_state(std::make_unique<State>()) {
    if (channels < 1 || channels > kMaxCaptureChannels) {
        throw std::invalid_argument("a capture has 1 to " + std::to_string(kMaxCaptureChannels) +
                                    " channels");
    }
    m_state->channels = channels;
    m_state->period = period;
    m_state->planes.resize(static_cast<std::size_t>(channels));
    m_state->missing.resize(static_cast<std::size_t>(channels));
    for (int c = 0; c < channels; ++c) {
        m_state->names.push_back(DefaultChannelName(c));
    }
}

CaptureBuilder::~CaptureBuilder() = default;
CaptureBuilder::CaptureBuilder(CaptureBuilder&&) noexcept = default;
CaptureBuilder& CaptureBuilder::operator=(CaptureBuilder&&) noexcept = default;

std::uint64_t CaptureBuilder::BytesFor(int channels, std::int64_t count) {
    const auto words = static_cast<std::uint64_t>(WordsFor(std::max<std::int64_t>(count, 0)));
    // The plane, and two summary bits a word on the first level (the others are 1/64 of it).
    return static_cast<std::uint64_t>(std::max(channels, 0)) *
           (words * sizeof(std::uint64_t) + words / 4 + 64);
}

int CaptureBuilder::ChannelCount() const {
    return m_state->channels;
}

std::int64_t CaptureBuilder::SampleCount() const {
    return m_state->count;
}

void CaptureBuilder::Reserve(std::int64_t count) {
    for (auto& plane : m_state->planes) {
        plane.reserve(static_cast<std::size_t>(WordsFor(count)));
    }
}

void CaptureBuilder::Resize(std::int64_t count) {
    count = std::max<std::int64_t>(count, 0);
    if (count >= m_state->count) {
        m_state->Grow(count);
        return;
    }
    for (auto& plane : m_state->planes) {
        plane.resize(static_cast<std::size_t>(WordsFor(count)));
        if (count % kWordBits != 0) {
            plane.back() &= Mask(0, static_cast<int>(count % kWordBits));
        }
    }
    m_state->count = count;
}

void CaptureBuilder::SetPeriod(SamplePeriod period) {
    m_state->period = period;
}

void CaptureBuilder::SetChannelName(int channel, std::string name) {
    m_state->names.at(static_cast<std::size_t>(channel)) = std::move(name);
}

void CaptureBuilder::SetTrigger(std::optional<std::int64_t> sample) {
    m_state->trigger = sample;
}

void CaptureBuilder::Fill(int channel, std::int64_t first, std::int64_t end, bool level) {
    first = std::max<std::int64_t>(first, 0);
    if (end <= first) {
        return;
    }
    m_state->Grow(end);
    FillPlane(m_state->planes.at(static_cast<std::size_t>(channel)), first, end, level);
}

void CaptureBuilder::SetLevel(int channel, std::int64_t i, bool level) {
    Fill(channel, i, i + 1, level);
}

void CaptureBuilder::AppendRows(const std::uint8_t* rows, std::int64_t count, int unitSize) {
    if (count <= 0 || unitSize <= 0) {
        return;
    }
    const std::int64_t start = m_state->count;
    m_state->Grow(start + count);
    const int bytes = std::min(unitSize, (m_state->channels + 7) / 8);
    const auto row = [&](std::int64_t i, int byte) {
        return rows[static_cast<std::size_t>(i) * static_cast<std::size_t>(unitSize) +
                    static_cast<std::size_t>(byte)];
    };
    for (int byte = 0; byte < bytes; ++byte) {
        const int channels = std::min(8, m_state->channels - byte * 8);
        std::int64_t i = 0;
        // One sample at a time until the destination is byte-aligned, then eight at a time.
        const auto single = [&](std::int64_t at) {
            const std::uint8_t v = row(at, byte);
            for (int k = 0; k < channels; ++k) {
                if (((v >> k) & 1U) != 0) {
                    SetBit(m_state->planes[static_cast<std::size_t>(byte * 8 + k)], start + at);
                }
            }
        };
        for (; i < count && (start + i) % 8 != 0; ++i) {
            single(i);
        }
        for (; i + 8 <= count; i += 8) {
            std::uint64_t block = 0;
            for (int j = 0; j < 8; ++j) {
                block |= static_cast<std::uint64_t>(row(i + j, byte)) << (8 * j);
            }
            if (block == 0) {
                continue;
            }
            const std::uint64_t t = Transpose8x8(block);
            const std::int64_t pos = start + i;
            for (int k = 0; k < channels; ++k) {
                const std::uint64_t bits = (t >> (8 * k)) & 0xFF;
                m_state->planes[static_cast<std::size_t>(byte * 8 + k)]
                               [static_cast<std::size_t>(pos >> kFanShift)] |= bits << (pos & 63);
            }
        }
        for (; i < count; ++i) {
            single(i);
        }
    }
}

void CaptureBuilder::MarkMissing(int channel, std::int64_t first, std::int64_t end) {
    if (end <= first) {
        return;
    }
    if (channel < 0) {
        m_state->missingAll.push_back({first, end});
    } else {
        m_state->missing.at(static_cast<std::size_t>(channel)).push_back({first, end});
    }
}

CapturePtr CaptureBuilder::Finish() {
    auto data = std::make_shared<Capture::Data>();
    State& s = *m_state;
    data->channels = s.channels;
    data->count = s.count;
    data->period = s.period;
    data->names = std::move(s.names);
    data->trigger = s.trigger;
    data->planes = std::move(s.planes);
    data->gaps.resize(static_cast<std::size_t>(s.channels));
    data->levels.resize(static_cast<std::size_t>(s.channels));
    std::vector<SampleRange> allGaps;
    for (int c = 0; c < s.channels; ++c) {
        auto ranges = std::move(s.missing[static_cast<std::size_t>(c)]);
        ranges.insert(ranges.end(), s.missingAll.begin(), s.missingAll.end());
        auto gaps = Normalized(std::move(ranges), s.count);
        auto& plane = data->planes[static_cast<std::size_t>(c)];
        for (const auto& g : gaps) {
            FillPlane(plane, g.first, g.end, false); // whatever the reader left there
        }
        allGaps.insert(allGaps.end(), gaps.begin(), gaps.end());
        data->gaps[static_cast<std::size_t>(c)] = std::move(gaps);

        // Summaries, bottom up: a word is mixed when its valid bits differ.
        auto& levels = data->levels[static_cast<std::size_t>(c)];
        std::int64_t blocks = WordsFor(s.count);
        SummaryLevel level0;
        level0.mixed.assign(static_cast<std::size_t>(WordsFor(blocks)), 0);
        level0.first.assign(static_cast<std::size_t>(WordsFor(blocks)), 0);
        for (std::int64_t w = 0; w < blocks; ++w) {
            const int valid =
                static_cast<int>(std::min<std::int64_t>(kWordBits, s.count - w * kWordBits));
            const std::uint64_t mask = Mask(0, valid);
            const std::uint64_t bits = plane[static_cast<std::size_t>(w)] & mask;
            if (bits != 0 && bits != mask) {
                SetBit(level0.mixed, w);
            }
            if ((bits & 1U) != 0) {
                SetBit(level0.first, w);
            }
        }
        levels.push_back(std::move(level0));
        while (blocks > 1) {
            const SummaryLevel& below = levels.back();
            const std::int64_t parents = WordsFor(blocks);
            SummaryLevel up;
            up.mixed.assign(static_cast<std::size_t>(WordsFor(parents)), 0);
            up.first.assign(static_cast<std::size_t>(WordsFor(parents)), 0);
            for (std::int64_t p = 0; p < parents; ++p) {
                const int children =
                    static_cast<int>(std::min<std::int64_t>(kWordBits, blocks - p * kWordBits));
                const std::uint64_t mask = Mask(0, children);
                const std::uint64_t mixed = below.mixed[static_cast<std::size_t>(p)] & mask;
                const std::uint64_t first = below.first[static_cast<std::size_t>(p)] & mask;
                if (mixed != 0 || (first != 0 && first != mask)) {
                    SetBit(up.mixed, p);
                }
                if ((first & 1U) != 0) {
                    SetBit(up.first, p);
                }
            }
            levels.push_back(std::move(up));
            blocks = parents;
        }
    }
    data->missing = 0;
    for (const auto& g : Normalized(std::move(allGaps), s.count)) {
        data->missing += g.Size();
    }
    m_state = std::make_unique<State>();
    auto capture = std::make_shared<Capture>(Capture::Key());
    capture->m_data = std::move(data);
    return capture;
}

CapturePtr CaptureFromWords(std::span<const std::uint16_t> words, SamplePeriod period) {
    CaptureBuilder builder(kAnalyzerChannels, period);
    std::vector<std::uint8_t> rows(words.size() * 2);
    for (std::size_t i = 0; i < words.size(); ++i) {
        rows[2 * i] = static_cast<std::uint8_t>(words[i] & 0xFF);
        rows[2 * i + 1] = static_cast<std::uint8_t>(words[i] >> 8);
    }
    builder.AppendRows(rows.data(), static_cast<std::int64_t>(words.size()), 2);
    return builder.Finish();
}

} // namespace quillon
