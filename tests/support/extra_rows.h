// A row of annotation boxes for the viewer's picture, as a decoder's results would give it.
#pragma once

#include "decode/annotation_layout.h"
#include "display/viewer_picture.h"

#include <memory>
#include <string>

namespace quillon::test {

/// A row labelled label with one box over samples [first, end) showing text.
inline ExtraRow OneBoxRow(const std::string& label, std::int64_t first, std::int64_t end,
                          const std::string& text, int cls = 0) {
    DecoderInfo decoder;
    decoder.name = label;
    CLaneBuilder builder({&decoder});
    builder.Add({first, end, 0, cls, -1, {text}});
    auto lanes = builder.Finish(std::nullopt, end);
    return {label, std::make_shared<const AnnotationLane>(std::move(lanes.front()))};
}

} // namespace quillon::test
