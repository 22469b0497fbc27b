// The viewer's decoder rows and saved decoder set, kept free of widgets.
#include "decode/annotation_layout.h"

#include <algorithm>
#include <cstring>

namespace quillon {

namespace {

constexpr std::size_t kFirstSlots = 1024;
constexpr const char* kLimitLabel = "上限";

std::uint64_t HashOf(std::string_view bytes) {
    std::uint64_t h = 14695981039346656037ull; // FNV-1a
    for (const char c : bytes) {
        h = (h ^ static_cast<std::uint8_t>(c)) * 1099511628211ull;
    }
    return h;
}

void PutU32(std::string& out, std::uint32_t v) {
    char bytes[4];
    std::memcpy(bytes, &v, 4);
    out.append(bytes, 4);
}

std::uint32_t GetU32(const char* at) {
    std::uint32_t v = 0;
    std::memcpy(&v, at, 4);
    return v;
}

/// The bytes of one stored list starting at offset.
std::string_view Entry(const std::string& blob, std::uint64_t offset) {
    const char* at = blob.data() + offset;
    const std::uint32_t count = GetU32(at);
    std::size_t size = 4;
    for (std::uint32_t i = 0; i < count; ++i) {
        size += 4 + GetU32(at + size);
    }
    return {at, size};
}

} // namespace

std::string SaveDecoderEntry(const DecoderEntry& entry) {
    // Appended rather than "+" + string, which GCC 12 falsely warns about (-Wrestrict).
    std::string text(entry.visible ? "+" : "-");
    return text += FormatDecoderArg(entry.stack);
}

std::optional<DecoderEntry> LoadDecoderEntry(const std::string& text, const DecoderLookup& lookup) {
    if (text.size() < 2 || (text[0] != '+' && text[0] != '-')) {
        return std::nullopt;
    }
    auto parsed = ParseDecoderArg(text.substr(1), lookup, ChannelChoice{});
    if (!std::holds_alternative<DecoderStack>(parsed)) {
        return std::nullopt;
    }
    return DecoderEntry{std::get<DecoderStack>(std::move(parsed)), text[0] == '+'};
}

std::uint32_t AnnotationTexts::Intern(std::span<const std::string_view> texts) {
    m_scratch.clear();
    PutU32(m_scratch, static_cast<std::uint32_t>(texts.size()));
    for (const auto& t : texts) {
        PutU32(m_scratch, static_cast<std::uint32_t>(t.size()));
        m_scratch.append(t);
    }
    if (m_slots.size() < 2 * (m_offsets.size() + 1)) {
        Grow();
    }
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t at = HashOf(m_scratch) & mask;; at = (at + 1) & mask) {
        if (m_slots[at] == 0) {
            m_slots[at] = static_cast<std::uint32_t>(m_offsets.size() + 1);
            m_offsets.push_back(m_blob.size());
            m_blob += m_scratch;
            return static_cast<std::uint32_t>(m_offsets.size() - 1);
        }
        if (Entry(m_blob, m_offsets[m_slots[at] - 1]) == m_scratch) {
            return m_slots[at] - 1;
        }
    }
}

void AnnotationTexts::Grow() {
    std::vector<std::uint32_t> slots(std::max(kFirstSlots, m_slots.size() * 2), 0);
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = 0; i < m_offsets.size(); ++i) {
        std::size_t at = HashOf(Entry(m_blob, m_offsets[i])) & mask;
        while (slots[at] != 0) {
            at = (at + 1) & mask;
        }
        slots[at] = static_cast<std::uint32_t>(i + 1);
    }
    m_slots = std::move(slots);
}

std::vector<std::string_view> AnnotationTexts::Texts(std::uint32_t index) const {
    std::vector<std::string_view> texts;
    if (index >= m_offsets.size()) {
        return texts;
    }
    const char* at = m_blob.data() + m_offsets[index];
    const std::uint32_t count = GetU32(at);
    std::size_t pos = 4;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t size = GetU32(at + pos);
        texts.emplace_back(at + pos + 4, size);
        pos += 4 + size;
    }
    return texts;
}

std::string_view AnnotationTexts::First(std::uint32_t index) const {
    if (index >= m_offsets.size()) {
        return {};
    }
    const char* at = m_blob.data() + m_offsets[index];
    return GetU32(at) == 0 ? std::string_view() : std::string_view(at + 8, GetU32(at + 4));
}

std::uint64_t AnnotationTexts::MemoryBytes() const {
    return m_blob.capacity() + m_offsets.capacity() * sizeof(std::uint64_t) +
           m_slots.capacity() * sizeof(std::uint32_t);
}

std::pair<std::size_t, std::size_t> AnnotationLane::InView(std::int64_t first,
                                                           std::int64_t end) const {
    // A box that starts up to `longest` samples before the view may still reach into it.
    const auto byFirst = [](const LaneBox& b, std::int64_t s) { return b.first < s; };
    const auto from = std::lower_bound(boxes.begin(), boxes.end(), first - longest, byFirst);
    const auto to = std::lower_bound(from, boxes.end(), end, byFirst);
    return {static_cast<std::size_t>(from - boxes.begin()),
            static_cast<std::size_t>(to - boxes.begin())};
}

const LaneBox* AnnotationLane::At(std::int64_t sample) const {
    const auto [from, to] = InView(sample, sample + 1);
    for (std::size_t i = to; i > from; --i) {
        const LaneBox& box = boxes[i - 1];
        if (sample >= box.first && sample < std::max(box.end, box.first + 1)) {
            return &box;
        }
    }
    return nullptr;
}

std::vector<std::string_view> AnnotationLane::TextsOf(const LaneBox& box) const {
    return texts ? texts->Texts(box.texts) : std::vector<std::string_view>();
}

CLaneBuilder::CLaneBuilder(std::vector<const DecoderInfo*> infos, std::size_t maxAnnotations,
                           std::uint64_t maxTextBytes)
    : m_infos(std::move(infos)), m_nMax(maxAnnotations), m_nMaxTextBytes(maxTextBytes) {}

CLaneBuilder::Row& CLaneBuilder::RowFor(int decoder, int row) {
    // Few rows, looked up from the back: a decoder's annotations come in runs of one row.
    for (auto it = m_rows.rbegin(); it != m_rows.rend(); ++it) {
        if (it->decoder == decoder && it->row == row) {
            return *it;
        }
    }
    m_rows.push_back({decoder, row, {}});
    return m_rows.back();
}

bool CLaneBuilder::Add(const Annotation& a) {
    if (m_bLimit || a.decoder < 0 || static_cast<std::size_t>(a.decoder) >= m_infos.size()) {
        return !m_bLimit;
    }
    if (m_nCount >= m_nMax || m_texts->MemoryBytes() >= m_nMaxTextBytes) {
        m_bLimit = true;
        return false;
    }
    const std::uint32_t texts = m_texts->Intern(a.texts);
    RowFor(a.decoder, a.row)
        .boxes.push_back({a.start, std::max(a.start, a.end), texts,
                          static_cast<std::uint8_t>(std::max(a.cls, 0) % kLaneColours)});
    ++m_nCount;
    return true;
}

std::vector<AnnotationLane> CLaneBuilder::Finish(const std::optional<std::string>& error,
                                                 std::int64_t sampleCount) {
    std::vector<AnnotationLane> lanes;
    const std::shared_ptr<const AnnotationTexts> texts = m_texts;
    // A decoder's rows in its own order; classes outside every row (-1) first.
    std::stable_sort(m_rows.begin(), m_rows.end(), [](const Row& a, const Row& b) {
        return a.decoder != b.decoder ? a.decoder < b.decoder : a.row < b.row;
    });
    for (std::size_t d = 0; d < m_infos.size(); ++d) {
        const DecoderInfo& info = *m_infos[d];
        bool any = false;
        for (auto& row : m_rows) {
            if (row.decoder != static_cast<int>(d)) {
                continue;
            }
            any = true;
            std::stable_sort(row.boxes.begin(), row.boxes.end(),
                             [](const LaneBox& a, const LaneBox& b) { return a.first < b.first; });
            AnnotationLane lane;
            const bool named = row.row >= 0 && static_cast<std::size_t>(row.row) < info.rows.size();
            lane.label = named
                             ? info.name + ": " + info.rows[static_cast<std::size_t>(row.row)].desc
                             : info.name;
            lane.decoder = row.decoder;
            lane.row = row.row;
            for (const auto& box : row.boxes) {
                lane.longest = std::max(lane.longest, box.end - box.first);
            }
            lane.boxes = std::move(row.boxes);
            lane.boxes.shrink_to_fit(); // kept as long as the rows are shown
            lane.texts = texts;
            lanes.push_back(std::move(lane));
        }
        if (!any && !error) {
            lanes.push_back({info.name, static_cast<int>(d), -1, {}, 0, texts}); // nothing found
        }
    }
    m_rows.clear();
    const std::string name = m_infos.empty() ? std::string() : m_infos.front()->name;
    const auto message = [&](const std::string& label, const std::string& text,
                             const std::string& shortText) {
        const std::string_view both[] = {text, shortText};
        const std::uint32_t index = m_texts->Intern(both);
        lanes.push_back({name + ": " + label,
                         -1,
                         -1,
                         {{0, std::max<std::int64_t>(sampleCount, 1), index,
                           static_cast<std::uint8_t>(kLaneColours - 1)}},
                         std::max<std::int64_t>(sampleCount, 1),
                         texts});
    };
    if (error) {
        message("error", "error: " + *error, "error");
    }
    if (m_bLimit) {
        message(kLimitLabel,
                "アノテーションが多すぎるため、最初の " + std::to_string(m_nCount) +
                    " 個で打ち切りました",
                kLimitLabel);
    }
    return lanes;
}

} // namespace quillon
