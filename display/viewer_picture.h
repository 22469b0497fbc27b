// The waveform viewer's picture: names, time axis, the visible channels of a whole capture at
// any zoom, samples not received hatched, trigger marker, cursors A and B, and extra rows of
// annotation boxes (protocol decoders) under the channels. One function into a QImage.
#pragma once

#include "capture/capture_data.h"
#include "decode/annotation_layout.h"
#include "measure/signal_measure.h"
#include "measure/view_math.h"

#include <QImage>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

/// A row drawn under the channels: a label at the left and its boxes (each in one of eight
/// colours, showing the longest of its texts that fits), shared with whoever made them.
struct ExtraRow {
    std::string label;
    std::shared_ptr<const AnnotationLane> lane; ///< may be null: an empty row
};

/// Everything the picture shows. The pointers must stay valid during DrawViewer.
struct ViewerScene {
    const CaptureData* capture = nullptr; ///< null: an empty view (no capture yet)
    const EdgeIndex* edges = nullptr;     ///< IndexEdges(*capture)
    Viewport view;                        ///< widthPx is taken from the layout
    RowVisibility visible{true, true, true, true, true, true, true, true,
                          true, true, true, true, true, true, true, true};
    std::optional<std::int64_t> cursorA; ///< sample boundaries
    std::optional<std::int64_t> cursorB;
    std::vector<ExtraRow> extraRows;
    std::string footer; ///< a line of text under the rows (period, samples, length)
};

/// A trace's high level lies this far below its row's top line, its low level this far above
/// the next row's top line (less one pixel).
inline constexpr int kTraceMarginPx = 4;

/// The layout DrawViewer uses for an image of this size.
ViewerLayout LayoutForScene(int width, int height, const ViewerScene& scene);

/// Draws the scene into image (any size, Format_RGB32; other formats are converted first).
/// Any thread that owns the image; a QGuiApplication must exist for the texts.
void DrawViewer(QImage& image, const ViewerScene& scene);

/// The colour of channel n in the main window and the viewer (electronic colour code).
QRgb ChannelColour(int channel);

} // namespace quillon
