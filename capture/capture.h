// Capture: one finished capture as every reader sees it (exports, the viewer, measurements,
// search, decoders): N logic channels with their names, the exact sample period, the sample
// count, an optional trigger sample, and which samples of which channel were not received.
// Made once by a CaptureBuilder when a run ends or a file is read, then shared immutably as
// std::shared_ptr<const Capture>, never copied per reader. No toolkit; any thread.
//
// Samples are stored densely, one bit plane per channel (bit k of word w is sample 64w + k),
// with per-channel summaries over power-of-two blocks so that "does channel c change within
// [a, b)" and "where is the next edge" cost O(log n), not O(b - a).
#pragma once

#include "capture/units.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quillon {

/// The analyzer's own channel count (D0 ... D15).
inline constexpr int kAnalyzerChannels = 16;
/// The most channels a capture may have.
inline constexpr int kMaxCaptureChannels = 1024;

/// Samples [first, end).
struct SampleRange {
    std::int64_t first = 0;
    std::int64_t end = 0;
    [[nodiscard]] std::int64_t Size() const { return end - first; }
    [[nodiscard]] bool Contains(std::int64_t i) const { return i >= first && i < end; }
    bool operator==(const SampleRange&) const = default;
};

/// What one channel does over a range of samples, counting received samples only.
struct SpanLevels {
    bool low = false;     ///< some received sample is low
    bool high = false;    ///< some received sample is high
    bool missing = false; ///< some sample was not received
};

/// "Dn".
std::string DefaultChannelName(int channel);

class Capture {
public:
    /// Captures are made only by CaptureBuilder.
    class Key {
        friend class Capture;
        friend class CaptureBuilder;
        Key() = default;
    };
    explicit Capture(Key /*key*/) {}

    [[nodiscard]] int ChannelCount() const;
    [[nodiscard]] std::int64_t SampleCount() const;
    [[nodiscard]] const SamplePeriod& Period() const;
    [[nodiscard]] const std::string& ChannelName(int channel) const;
    [[nodiscard]] const std::vector<std::string>& ChannelNames() const;
    /// The sample at which the analyzer (or the file) put the trigger.
    [[nodiscard]] std::optional<std::int64_t> TriggerSample() const;

    /// Level of channel at sample i (0 <= i < SampleCount()). The level of a sample that was
    /// not received is meaningless (low).
    [[nodiscard]] bool Level(int channel, std::int64_t i) const;
    /// The channel's bit plane: bit k of word w is sample 64w + k; bits past the end are 0.
    [[nodiscard]] std::span<const std::uint64_t> Plane(int channel) const;

    /// The samples of channel that were not received: sorted, disjoint, non-empty ranges.
    [[nodiscard]] const std::vector<SampleRange>& Gaps(int channel) const;
    [[nodiscard]] bool IsReceived(int channel, std::int64_t i) const;
    /// Every sample of every channel was received.
    [[nodiscard]] bool IsComplete() const;
    /// Samples at which at least one channel was not received.
    [[nodiscard]] std::int64_t MissingCount() const;
    /// The stretches in which every channel of channels was received, in order.
    [[nodiscard]] std::vector<SampleRange> ReceivedStretches(std::span<const int> channels) const;

    /// Levels of channel over [first, end) (clamped to the capture). O(log n) per call.
    [[nodiscard]] SpanLevels LevelsIn(int channel, std::int64_t first, std::int64_t end) const;
    /// The first edge of channel at a sample j with from <= j < to (to < 0: the end): a
    /// sample whose level differs from sample j - 1, both received. nullopt when none.
    [[nodiscard]] std::optional<std::int64_t> NextEdge(int channel, std::int64_t from,
                                                       std::int64_t to = -1) const;
    /// The last edge j with from <= j < before (from 0 by default).
    [[nodiscard]] std::optional<std::int64_t> PrevEdge(int channel, std::int64_t before,
                                                       std::int64_t from = 0) const;
    /// Rising and falling edges of channel in [first, end).
    struct EdgeCount {
        std::int64_t rising = 0;
        std::int64_t falling = 0;
    };
    [[nodiscard]] EdgeCount CountEdges(int channel, std::int64_t first, std::int64_t end) const;

    /// Packs count samples from first into out as rows of (channels.size() + 7) / 8 bytes:
    /// bit k of a row (bit k % 8 of byte k / 8) is channels[k]. The layout of sigrok's logic
    /// data, for the decoders and the session-file writer.
    void PackRows(std::span<const int> channels, std::int64_t first, std::int64_t count,
                  std::uint8_t* out) const;

    /// Bytes held for the samples and their summaries.
    [[nodiscard]] std::uint64_t MemoryBytes() const;

    /// The same capture under other channel names (one per channel; missing ones keep
    /// theirs), sharing the samples: what a viewer writes after the user renamed channels.
    [[nodiscard]] std::shared_ptr<const Capture> WithNames(std::vector<std::string> names) const;

private:
    friend class CaptureBuilder;
    struct Data;
    std::shared_ptr<const Data> m_data;
    /// Names given by WithNames, else null (the names are the data's).
    std::shared_ptr<const std::vector<std::string>> m_names;
};

using CapturePtr = std::shared_ptr<const Capture>;

/// Builds one Capture. Samples start low and received; readers fill them channel by channel
/// (Fill, SetLevel) or row by row (AppendRows). One thread at a time.
class CaptureBuilder {
public:
    /// channels: 1 .. kMaxCaptureChannels; names default to "D0", "D1", ...
    CaptureBuilder(int channels, SamplePeriod period);
    ~CaptureBuilder();
    CaptureBuilder(CaptureBuilder&&) noexcept;
    CaptureBuilder& operator=(CaptureBuilder&&) noexcept;

    /// What count samples of channels would take in memory (samples and summaries), so that
    /// a reader can refuse a file before reading it.
    static std::uint64_t BytesFor(int channels, std::int64_t count);

    [[nodiscard]] int ChannelCount() const;
    [[nodiscard]] std::int64_t SampleCount() const;
    /// Room for count samples without reallocating. May throw std::bad_alloc.
    void Reserve(std::int64_t count);
    /// Grows (new samples low, received) or shrinks to count samples. May throw
    /// std::bad_alloc.
    void Resize(std::int64_t count);
    void SetPeriod(SamplePeriod period);
    void SetChannelName(int channel, std::string name);
    void SetTrigger(std::optional<std::int64_t> sample);

    /// Sets channel's samples [first, end) to level, growing the capture to end if needed.
    void Fill(int channel, std::int64_t first, std::int64_t end, bool level);
    void SetLevel(int channel, std::int64_t i, bool level);
    /// Appends count samples given as rows of unitSize bytes, bit k of a row being channel k
    /// (sigrok's logic layout; a 16-bit sample word little-endian is one such row). Bits of
    /// channels the capture does not have are ignored.
    void AppendRows(const std::uint8_t* rows, std::int64_t count, int unitSize);
    /// Marks channel's samples [first, end) as not received; channel -1: every channel.
    void MarkMissing(int channel, std::int64_t first, std::int64_t end);

    /// The capture, summaries computed; the builder is empty afterwards.
    CapturePtr Finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

/// The analyzer's 16-channel samples (bit n of a word is Dn) as a capture, every sample
/// received, for tests and for the capture run.
CapturePtr CaptureFromWords(std::span<const std::uint16_t> words, SamplePeriod period);

} // namespace quillon
