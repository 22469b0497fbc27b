// The viewer's decoder rows and saved decoder set, kept free of widgets.
#include "decode/annotation_layout.h"

#include <algorithm>
#include <map>

namespace quillon {

std::string SaveDecoderEntry(const DecoderEntry& entry) {
    // Appended rather than "+" + string, which GCC 12 falsely warns about (-Wrestrict).
    std::string text(entry.visible ? "+" : "-");
    return text += FormatDecoderArg(entry.stack);
}

std::optional<DecoderEntry> LoadDecoderEntry(const std::string& text, const DecoderLookup& lookup) {
    if (text.size() < 2 || (text[0] != '+' && text[0] != '-')) {
        return std::nullopt;
    }
    auto parsed = ParseDecoderArg(text.substr(1), lookup, DefaultChannelNames());
    if (!std::holds_alternative<DecoderStack>(parsed)) {
        return std::nullopt;
    }
    return DecoderEntry{std::get<DecoderStack>(std::move(parsed)), text[0] == '+'};
}

std::vector<AnnotationLane> LayOutAnnotations(const DecodeResult& result,
                                              const std::vector<const DecoderInfo*>& infos,
                                              std::int64_t sampleCount) {
    std::vector<AnnotationLane> lanes;
    for (std::size_t d = 0; d < infos.size(); ++d) {
        const DecoderInfo& info = *infos[d];
        // Row index (-1: outside every row) -> its boxes.
        std::map<int, std::vector<LaneBox>> rows;
        for (const auto& a : result.annotations) {
            if (a.decoder == static_cast<int>(d)) {
                rows[a.row].push_back({a.start, a.end, a.texts, a.cls % kLaneColours});
            }
        }
        if (rows.empty()) {
            if (!result.error) {
                lanes.push_back({info.name, {}}); // the error row speaks for it otherwise
            }
            continue;
        }
        for (auto& [row, boxes] : rows) {
            std::stable_sort(boxes.begin(), boxes.end(),
                             [](const LaneBox& a, const LaneBox& b) { return a.first < b.first; });
            const bool named = row >= 0 && static_cast<std::size_t>(row) < info.rows.size();
            lanes.push_back({named
                                 ? info.name + ": " + info.rows[static_cast<std::size_t>(row)].desc
                                 : info.name,
                             std::move(boxes)});
        }
    }
    if (result.error) {
        const std::string name = infos.empty() ? std::string() : infos.front()->name;
        lanes.push_back({name + ": error",
                         {{0,
                           std::max<std::int64_t>(sampleCount, 1),
                           {"error: " + *result.error, "error"},
                           kLaneColours - 1}}});
    }
    return lanes;
}

} // namespace quillon
