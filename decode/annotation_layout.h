// What the viewer shows of the decoders, without widgets: the user's decoder set and its saved
// form, and the annotation rows of a decode (one per row of each decoder, labelled, boxes
// coloured by class).
#pragma once

#include "decode/decoder_args.h"
#include "decode/decoder_info.h"

#include <cstdint>
#include <optional>
#include <string>
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

/// A box of an annotation row: samples [first, end), texts longest first, colour 0..7.
struct LaneBox {
    std::int64_t first = 0;
    std::int64_t end = 0;
    std::vector<std::string> texts;
    int colour = 0;
};

/// One row of annotations under the channels.
struct AnnotationLane {
    std::string label;          ///< "UART: RX"
    std::vector<LaneBox> boxes; ///< by start sample
};

inline constexpr int kLaneColours = 8;

/// The rows of one stack's result: for each decoder of the stack (infos[i] for stack entry i)
/// each of its rows that holds annotations, in the decoder's own order; a decoder without
/// results shows one empty row with its name (unless there is an error), and an error ends the list
/// with a row whose one box spans the capture and says "error: ...". Classes outside every row
/// share one row named after the decoder.
std::vector<AnnotationLane> LayOutAnnotations(const DecodeResult& result,
                                              const std::vector<const DecoderInfo*>& infos,
                                              std::int64_t sampleCount);

} // namespace quillon
