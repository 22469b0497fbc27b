// The waveform viewer's picture: names, time axis, the shown channels of a capture at any
// zoom, samples not received hatched, trigger marker, cursors A and B, and extra rows of
// annotation boxes (protocol decoders) under the channels, all scrolled vertically when they
// do not fit. One function into a QImage; its cost follows the pixels, not the samples.
#pragma once

#include "capture/capture.h"
#include "decode/annotation_layout.h"
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
    std::string label; ///< "decoder: row"; the row's own name is drawn, the whole on hover
    std::shared_ptr<const AnnotationLane> lane; ///< may be null: an empty row
};

/// The name an extra row shows at the left: its own, after the decoder's ("RX data" of
/// "UART: RX data").
std::string ExtraRowName(const std::string& label);

/// A marker the user placed: a dashed line at a sample boundary, its name on the axis.
struct SceneMarker {
    std::int64_t sample = 0;
    std::string name;
};

/// Everything the picture shows. The pointers must stay valid during DrawViewer.
struct ViewerScene {
    const Capture* capture = nullptr; ///< null: no samples yet (the rows show their names)
    /// Per channel of the capture (or of the rows before a capture): its name and colour.
    std::vector<std::string> names;
    std::vector<QRgb> colours;
    std::vector<int> rows; ///< the channels shown, top to bottom
    Viewport view;         ///< widthPx is taken from the layout
    int scrollPx = 0;      ///< the rows scrolled up by this much
    int nameWidthPx = ViewerLayout::kDefaultNameWidthPx;
    /// Time 0 of the axis lies at the start of this sample (the trigger, when times are
    /// relative to it).
    double timeOrigin = 0.0;
    std::optional<std::int64_t> cursorA; ///< sample boundaries
    std::optional<std::int64_t> cursorB;
    std::vector<ExtraRow> extraRows;
    std::string footer; ///< a line of text under the rows (period, samples, length)
    std::vector<SceneMarker> markers;
    /// Samples [first, end) picked out (a match found, an annotation chosen in the table):
    /// framed through the rows and barred under the axis.
    std::optional<SampleRange> highlight;
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

/// What one column of a trace shows (bits of TraceColumns' result).
enum TraceColumn : std::uint8_t {
    kColumnLow = 1,  ///< a received sample in it is low
    kColumnHigh = 2, ///< a received sample in it is high
    kColumnEdge = 4, ///< a level changes at a boundary in it: a line across the row
    kColumnData = 8, ///< some received sample lies in it
};
/// The columns [0, view.widthPx) of channel's trace. Column rule: the boundary before sample
/// i lies in column ColumnOfBoundary(view, i), so several samples in one column never hide a
/// transition. Costs O(columns x log samples), whatever the zoom.
void TraceColumns(const Capture& capture, int channel, const Viewport& view,
                  std::vector<std::uint8_t>& columns);

} // namespace quillon
