// What the viewer shows of the decoders, without widgets: the user's decoder set and its saved
// form, and the annotation rows of a decode (one per row of each decoder, labelled, boxes
// coloured by class), stored compactly: a box is 24 bytes, and each distinct list of texts is
// kept once however many boxes show it.
#pragma once

#include "decode/decoder_args.h"
#include "decode/decoder_info.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillon {

/// One decoder (with those stacked on it) of the viewer, as the user set it up.
struct DecoderEntry {
    DecoderStack stack;
    bool visible = true;
    bool operator==(const DecoderEntry&) const = default;
};

/// "+uart:rx=D8:baudrate=921600" ('-' first when hidden): one entry as the settings keep it.
std::string SaveDecoderEntry(const DecoderEntry& entry);
/// The entry back, or nullopt when it no longer fits the installed decoders.
std::optional<DecoderEntry> LoadDecoderEntry(const std::string& text, const DecoderLookup& lookup);

/// Lists of annotation texts, each distinct list stored once. Not thread-safe while growing;
/// shared read-only once laid out.
class AnnotationTexts {
public:
    /// The index of texts, stored when new.
    std::uint32_t Intern(std::span<const std::string_view> texts);
    /// The texts of index, longest first.
    [[nodiscard]] std::vector<std::string_view> Texts(std::uint32_t index) const;
    /// The first (longest) text of index.
    [[nodiscard]] std::string_view First(std::uint32_t index) const;
    [[nodiscard]] std::size_t Count() const { return m_offsets.size(); }
    /// Bytes held for the texts and their index.
    [[nodiscard]] std::uint64_t MemoryBytes() const;

private:
    void Grow();
    std::string m_blob; ///< per list: its count, then each text as length and bytes
    std::vector<std::uint64_t> m_offsets;
    std::vector<std::uint32_t> m_slots; ///< open addressing: list index + 1, 0 when free
    std::string m_scratch;
};

/// A box of an annotation row: samples [first, end), its texts, colour 0..7.
struct LaneBox {
    std::int64_t first = 0;
    std::int64_t end = 0;
    std::uint32_t texts = 0; ///< index into the lane's AnnotationTexts
    std::uint8_t colour = 0;
};

/// One row of annotations under the channels.
struct AnnotationLane {
    std::string label;          ///< "UART: RX"
    int decoder = -1;           ///< stack entry, -1 for a message row (error, limit)
    int row = -1;               ///< the decoder's row, -1 when outside every row
    std::vector<LaneBox> boxes; ///< by first sample
    std::int64_t longest = 0;   ///< samples of the longest box
    std::shared_ptr<const AnnotationTexts> texts;

    /// The boxes that may show in samples [first, end): indices [begin, end).
    [[nodiscard]] std::pair<std::size_t, std::size_t> InView(std::int64_t first,
                                                             std::int64_t end) const;
    /// The last box that holds sample, or nullptr.
    [[nodiscard]] const LaneBox* At(std::int64_t sample) const;
    /// Texts of a box, longest first.
    [[nodiscard]] std::vector<std::string_view> TextsOf(const LaneBox& box) const;
};

inline constexpr int kLaneColours = 8;
/// The viewer keeps at most this many annotations of one decode, and this many bytes of their
/// distinct texts (a few hundred megabytes in all), then says so in a row of its own.
inline constexpr std::size_t kMaxAnnotations = 5'000'000;
inline constexpr std::uint64_t kMaxTextBytes = 256ull << 20;

/// Gathers one stack's annotations as they arrive and lays them out in rows.
class CLaneBuilder {
public:
    /// infos[i]: stack entry i's metadata (not null). maxAnnotations: the most to keep.
    explicit CLaneBuilder(std::vector<const DecoderInfo*> infos,
                          std::size_t maxAnnotations = kMaxAnnotations,
                          std::uint64_t maxTextBytes = kMaxTextBytes);
    /// Keeps the annotation; false once the limit is reached (it is then not kept).
    bool Add(const Annotation& annotation);
    [[nodiscard]] std::size_t Count() const { return m_nCount; }
    [[nodiscard]] bool LimitReached() const { return m_bLimit; }

    /// The rows: for each decoder each of its rows that holds annotations, in the decoder's
    /// own order (classes outside every row first, in one row named after the decoder); a
    /// decoder without results shows one empty row with its name (unless there is an error).
    /// An error ends the list with a row whose one box spans the capture and says
    /// "error: ..."; so does the limit, when reached.
    std::vector<AnnotationLane> Finish(const std::optional<std::string>& error,
                                       std::int64_t sampleCount);

private:
    struct Row {
        int decoder;
        int row;
        std::vector<LaneBox> boxes;
    };
    Row& RowFor(int decoder, int row);

    std::vector<const DecoderInfo*> m_infos;
    std::size_t m_nMax;
    std::uint64_t m_nMaxTextBytes;
    std::size_t m_nCount = 0;
    bool m_bLimit = false;
    std::shared_ptr<AnnotationTexts> m_texts = std::make_shared<AnnotationTexts>();
    std::vector<Row> m_rows;
};

} // namespace quillon
