// View arithmetic of the waveform viewer: which samples fall into which pixel column, the
// zoom and pan limits, the rows' geometry (any number of rows, scrolled vertically), the time
// axis and engineering-unit texts. Pure functions of (capture size, viewport); no toolkit.
#pragma once

#include "capture/units.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

/// The deepest zoom: one sample is this many pixels wide.
inline constexpr double kMaxPixelsPerSample = 40.0;

/// Which part of a capture the traces' area shows. Sample boundary b (the start of sample b)
/// lies at x = (b - firstSample) * pixelsPerSample from the area's left edge.
struct Viewport {
    double firstSample = 0.0;
    double pixelsPerSample = 1.0;
    int widthPx = 1; ///< width of the traces' area in pixels

    [[nodiscard]] double XOfBoundary(double boundary) const {
        return (boundary - firstSample) * pixelsPerSample;
    }
    [[nodiscard]] double SampleAtX(double x) const { return firstSample + x / pixelsPerSample; }
    [[nodiscard]] double VisibleSamples() const { return widthPx / pixelsPerSample; }
};

/// The whole capture of sampleCount samples across widthPx.
Viewport FitAll(std::int64_t sampleCount, int widthPx);
/// Zoom between the whole capture and kMaxPixelsPerSample, position inside the capture.
Viewport ClampViewport(Viewport view, std::int64_t sampleCount);
/// Zoom by factor (> 1 zooms in) keeping the capture under anchorX where it is.
Viewport ZoomAbout(const Viewport& view, double factor, double anchorX, std::int64_t sampleCount);
/// Moves the view by dx pixels (positive: later samples come into view).
Viewport PanBy(const Viewport& view, double dx, std::int64_t sampleCount);
/// The same zoom and position for a new width (a resized window), clamped.
Viewport Resized(const Viewport& view, int widthPx, std::int64_t sampleCount);

/// The pixel column in which the boundary before sample i lies: floor((i - first) * pps).
/// May lie outside 0 .. widthPx - 1. Every drawing and hit test uses this one rule.
inline std::int64_t ColumnOfBoundary(const Viewport& view, std::int64_t i) {
    // Inline, and floor without a library call: a whole-capture redraw asks this for every
    // edge of every row.
    const double x = (static_cast<double>(i) - view.firstSample) * view.pixelsPerSample;
    const auto truncated = static_cast<std::int64_t>(x);
    return truncated - (x < static_cast<double>(truncated) ? 1 : 0);
}
/// The sample whose span holds the left edge of column: floor(first + column / pps).
std::int64_t SampleAtColumn(const Viewport& view, double column);

/// The first sample boundary that lies in column or to its right:
/// the least i with ColumnOfBoundary(view, i) >= column.
inline std::int64_t FirstBoundaryInColumn(const Viewport& view, std::int64_t column) {
    // The estimate is within one of the answer; the column rule decides. Inline: the picture
    // asks this for every column of every row.
    const double estimate = view.firstSample + static_cast<double>(column) / view.pixelsPerSample;
    auto i = static_cast<std::int64_t>(estimate);
    i += static_cast<double>(i) < estimate ? 1 : 0; // ceil
    while (ColumnOfBoundary(view, i) < column) {
        ++i;
    }
    while (ColumnOfBoundary(view, i - 1) >= column) {
        --i;
    }
    return i;
}
/// The columns [0, result) hold some part of the samples before boundary i: the least column
/// whose left edge lies at or after x(i), that is ceil(x(i)).
std::int64_t ColumnsBefore(const Viewport& view, std::int64_t i);

/// One tick of the time axis: its column, its time and its text ("1.5 µs", "-20 ns").
struct TimeTick {
    int x = 0;
    std::int64_t timePs = 0;
    std::string label;
};
/// Ticks on a 1-2-5 grid at least minSpacingPx apart; time 0 lies at the start of sample
/// originSample (0: the capture's start; the trigger sample for times relative to it).
std::vector<TimeTick> TimeTicks(const Viewport& view, const SamplePeriod& period,
                                double originSample = 0.0, int minSpacingPx = 90);

/// Where the viewer's picture puts things: the names at the left, the time axis at the top,
/// the rows (the shown channels, then extra rows of protocol annotations) scrolled vertically
/// between the axis and the footer line at the bottom.
struct ViewerLayout {
    static constexpr int kDefaultNameWidthPx = 96;
    static constexpr int kMinRowPx = 18; ///< rows get no smaller; more rows scroll
    static constexpr int kMaxRowPx = 80; ///< nor larger: a one-channel file is one row

    int width = 0;
    int height = 0;
    int nameWidthPx = kDefaultNameWidthPx;
    int axisHeightPx = 26;
    int footerHeightPx = 20;
    int rowHeightPx = 20;
    int scrollPx = 0;          ///< how far the rows are scrolled up, 0 .. MaxScrollPx()
    std::vector<int> channels; ///< channel shown by each trace row, top to bottom
    int extraRows = 0;

    [[nodiscard]] int TraceLeft() const { return nameWidthPx; }
    [[nodiscard]] int TraceWidth() const { return width > nameWidthPx ? width - nameWidthPx : 1; }
    [[nodiscard]] int RowCount() const { return static_cast<int>(channels.size()) + extraRows; }
    /// The rows' area: [RowsTop(), RowsBottom()) in y; rows outside it are not drawn.
    [[nodiscard]] int RowsTop() const { return axisHeightPx; }
    [[nodiscard]] int RowsBottom() const;
    /// The top line of row (may lie outside the rows' area when scrolled).
    [[nodiscard]] int RowTop(int row) const { return axisHeightPx + row * rowHeightPx - scrollPx; }
    /// All rows' height, and how far they can be scrolled.
    [[nodiscard]] int ContentHeightPx() const { return RowCount() * rowHeightPx; }
    [[nodiscard]] int MaxScrollPx() const;
    /// The rows [first, end) with a line inside the rows' area.
    [[nodiscard]] int FirstRowShown() const;
    [[nodiscard]] int EndRowShown() const;
    /// The row (0 .. RowCount() - 1) at y inside the rows' area, or -1.
    [[nodiscard]] int RowAtY(int y) const;
    /// The trace row (index into channels) at y, or -1.
    [[nodiscard]] int TraceRowAtY(int y) const;
    /// The channel whose row holds y, or -1.
    [[nodiscard]] int ChannelAtY(int y) const;
    /// The extra row (0 ..) at y, or -1.
    [[nodiscard]] int ExtraRowAtY(int y) const;
    /// The trace row of channel, or -1 when it is not shown.
    [[nodiscard]] int RowOfChannel(int channel) const;
};

/// The layout of a width x height picture with the given channels shown (top to bottom) and
/// extraRows more, scrolled by scrollPx (clamped).
ViewerLayout LayoutViewer(int width, int height, std::vector<int> channels, int extraRows,
                          int scrollPx = 0, int nameWidthPx = ViewerLayout::kDefaultNameWidthPx);

} // namespace quillon
