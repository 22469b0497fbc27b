// The viewer's picture. Traces, hatching, markers and lines are written straight into the
// 32-bit image (thousands of one-pixel lines); only the texts go through QPainter.
// Column rule: the boundary before sample i lies in column ColumnOfBoundary(view, i). A
// column holding a boundary where the level changes is drawn as a vertical line across the
// row, so several samples in one column never hide a transition.
#include "display/viewer_picture.h"

#include "display/channel_colours.h"

#include <QFontMetrics>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

namespace quillon {

namespace {

constexpr QRgb kBackground = 0xffffffff;
constexpr QRgb kNameBackground = 0xfff0f0f0;
constexpr QRgb kRowLine = 0xffe4e4e4;
constexpr QRgb kTickColour = 0xff646464;
constexpr QRgb kHatchColour = 0xffb0b0b0;
constexpr QRgb kTriggerColour = 0xffd00000;
constexpr QRgb kCursorAColour = 0xff0060ff;
constexpr QRgb kMarkerColour = 0xff9020c0;
constexpr QRgb kHighlightColour = 0xffff8c00;
constexpr int kHighlightBarPx = 4;
constexpr QRgb kCursorBColour = 0xff00a040;
constexpr QRgb kTextColour = 0xff000000;
constexpr int kHatchPeriodPx = 6;
constexpr int kTickLengthPx = 5;
constexpr int kTextMarginPx = 4;

constexpr std::array<QRgb, 8> kBoxColours = {
    0xffd8e8ff, 0xffd8f5d8, 0xffffe8c8, 0xfff5d8f5, 0xffffffc8, 0xffd0f0f0, 0xffffd8d8, 0xffe8e8e8,
};

class Pixels {
public:
    explicit Pixels(QImage& image)
        : m_p(reinterpret_cast<QRgb*>(image.bits())),
          m_stride(image.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb))), m_w(image.width()),
          m_h(image.height()) {}
    void Fill(int left, int top, int right, int bottom, QRgb colour) {
        left = std::max(left, 0);
        top = std::max(top, 0);
        right = std::min(right, m_w);
        bottom = std::min(bottom, m_h);
        for (int y = top; y < bottom; ++y) {
            std::fill(m_p + y * m_stride + left, m_p + y * m_stride + right, colour);
        }
    }
    void Put(int x, int y, QRgb colour) {
        if (x >= 0 && x < m_w && y >= 0 && y < m_h) {
            m_p[y * m_stride + x] = colour;
        }
    }
    // A vertical line [top, bottom) at x.
    void VLine(int x, int top, int bottom, QRgb colour, bool dashed = false) {
        if (x < 0 || x >= m_w) {
            return;
        }
        for (int y = std::max(top, 0); y < std::min(bottom, m_h); ++y) {
            if (!dashed || (y / 3) % 2 == 0) {
                m_p[y * m_stride + x] = colour;
            }
        }
    }
    /// The pixels of line y, or null outside the image.
    QRgb* Row(int y) { return y >= 0 && y < m_h ? m_p + y * m_stride : nullptr; }

private:
    QRgb* m_p;
    qsizetype m_stride;
    int m_w;
    int m_h;
};

struct TraceScratch {
    std::vector<std::uint8_t> columns;
    std::vector<QRgb> high; // the line of the high level
    std::vector<QRgb> low;
    std::vector<QRgb> across; // the lines between them: edges only
};

// One channel's trace in the band [top, bottom) of the traces' area starting at x = left,
// lines outside [clipTop, clipBottom) left alone. The columns are worked out first, then the
// band is written line by line: three lines make it, each copied whole. Columns within the
// capture that hold no received sample are hatched.
// blank: a line of the band without the trace (background and the grid's lines).
void DrawTrace(Pixels& px, const Capture& capture, const Viewport& view,
               const std::vector<QRgb>& blank, TraceScratch& scratch, int channel, QRgb colour,
               int left, int top, int bottom, int clipTop, int clipBottom) {
    TraceColumns(capture, channel, view, scratch.columns);
    const std::vector<std::uint8_t>& columns = scratch.columns;
    const int yHigh = top + kTraceMarginPx;
    const int yLow = bottom - 1 - kTraceMarginPx;
    scratch.high.resize(blank.size());
    scratch.low.resize(blank.size());
    scratch.across.resize(blank.size());
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const std::uint8_t state = columns[c];
        const bool edge = (state & kColumnEdge) != 0;
        scratch.high[c] = edge || (state & kColumnHigh) != 0 ? colour : blank[c];
        scratch.low[c] = edge || (state & kColumnLow) != 0 ? colour : blank[c];
        scratch.across[c] = edge ? colour : blank[c];
    }
    const int from = std::max(top + 1, clipTop);
    const int to = std::min(bottom, clipBottom);
    for (int y = from; y < to; ++y) {
        if (QRgb* line = px.Row(y)) {
            const auto& source = y < yHigh || y > yLow ? blank
                                 : y == yHigh          ? scratch.high
                                 : y == yLow           ? scratch.low
                                                       : scratch.across;
            std::copy(source.begin(), source.end(), line + left);
        }
    }
    // Hatching where the capture holds samples but none of them was received.
    const auto first = std::max<std::int64_t>(0, ColumnOfBoundary(view, 0));
    const auto end =
        std::min<std::int64_t>(view.widthPx, ColumnsBefore(view, capture.SampleCount()));
    for (auto c = first; c < end; ++c) {
        if ((columns[static_cast<std::size_t>(c)] & kColumnData) != 0) {
            continue;
        }
        for (int y = from; y < to; ++y) {
            if ((c + left + y) % kHatchPeriodPx == 0) {
                px.Put(left + static_cast<int>(c), y, kHatchColour);
            }
        }
    }
}

// Columns (of the traces' area) that lie wholly inside samples no channel received.
std::vector<std::uint8_t> GapColumns(const Capture& capture, const Viewport& view) {
    std::vector<std::uint8_t> inGap(static_cast<std::size_t>(view.widthPx), 0);
    if (capture.IsComplete()) {
        return inGap;
    }
    // The samples every channel misses: the intersection of the channels' gaps.
    std::vector<SampleRange> common = capture.Gaps(0);
    for (int channel = 1; channel < capture.ChannelCount() && !common.empty(); ++channel) {
        const auto& gaps = capture.Gaps(channel);
        std::vector<SampleRange> both;
        std::size_t j = 0;
        for (const auto& range : common) {
            while (j < gaps.size() && gaps[j].end <= range.first) {
                ++j;
            }
            for (std::size_t k = j; k < gaps.size() && gaps[k].first < range.end; ++k) {
                both.push_back(
                    {std::max(range.first, gaps[k].first), std::min(range.end, gaps[k].end)});
            }
        }
        common = std::move(both);
    }
    for (const auto& [g0, g1] : common) {
        // Column c spans boundaries [first + c/pps, first + (c+1)/pps).
        const auto from = std::max<std::int64_t>(
            0, static_cast<std::int64_t>(std::ceil(view.XOfBoundary(static_cast<double>(g0)))));
        const auto to = std::min<std::int64_t>(
            view.widthPx,
            static_cast<std::int64_t>(std::floor(view.XOfBoundary(static_cast<double>(g1)))));
        for (auto c = from; c < to; ++c) {
            inGap[static_cast<std::size_t>(c)] = 1;
        }
    }
    return inGap;
}

void Hatch(Pixels& px, const std::vector<std::uint8_t>& inGap, int left, int top, int bottom) {
    for (int c = 0; c < static_cast<int>(inGap.size()); ++c) {
        if (inGap[static_cast<std::size_t>(c)] == 0) {
            continue;
        }
        for (int y = top; y < bottom; ++y) {
            if ((c + left + y) % kHatchPeriodPx == 0) {
                px.Put(left + c, y, kHatchColour);
            }
        }
    }
}

int BoundaryX(const Viewport& view, std::int64_t boundary) {
    // Clamped: a boundary far outside the view stays far outside, without overflowing int.
    return static_cast<int>(
        std::clamp<std::int64_t>(ColumnOfBoundary(view, boundary), -(1 << 20), 1 << 20));
}

// text elided in the middle when it is wider than width.
QString Fitted(const QFontMetrics& metrics, const std::string& text, int width) {
    const QString whole = QString::fromStdString(text);
    // Measured first: eliding lays the text out again, and most names fit.
    return metrics.horizontalAdvance(whole) <= width
               ? whole
               : metrics.elidedText(whole, Qt::ElideMiddle, width);
}

} // namespace

QRgb ChannelColour(int channel) {
    return ChannelColours(channel).viewer;
}

std::string ExtraRowName(const std::string& label) {
    const auto colon = label.find(": ");
    return colon == std::string::npos ? label : label.substr(colon + 2);
}

ViewerLayout LayoutForScene(int width, int height, const ViewerScene& scene) {
    return LayoutViewer(width, height, scene.rows, static_cast<int>(scene.extraRows.size()),
                        scene.scrollPx, scene.nameWidthPx);
}

void TraceColumns(const Capture& capture, int channel, const Viewport& view,
                  std::vector<std::uint8_t>& columns) {
    const int width = std::max(view.widthPx, 1);
    columns.assign(static_cast<std::size_t>(width), 0);
    const std::int64_t n = capture.SampleCount();
    // The samples that reach into the view: s0 holds the left edge of column 0 (or lies just
    // before it), and every boundary before s1 lies left of the view's right edge.
    const std::int64_t s0 = std::clamp<std::int64_t>(FirstBoundaryInColumn(view, 0) - 1, 0, n);
    const std::int64_t s1 = std::clamp<std::int64_t>(FirstBoundaryInColumn(view, width), 0, n);
    const auto mark = [&](std::int64_t from, std::int64_t to, std::uint8_t state) {
        for (auto c = std::max<std::int64_t>(from, 0); c < std::min<std::int64_t>(to, width); ++c) {
            columns[static_cast<std::size_t>(c)] |= state;
        }
    };
    const auto plane = capture.Plane(channel);
    const auto levelAt = [&plane](std::int64_t i) {
        return ((plane[static_cast<std::size_t>(i >> 6)] >> (i & 63)) & 1U) != 0;
    };
    const auto& gaps = capture.Gaps(channel);
    auto gap = std::upper_bound(gaps.begin(), gaps.end(), s0,
                                [](std::int64_t v, const SampleRange& g) { return v < g.end; });
    std::int64_t a = s0;
    while (a < s1) {
        if (gap != gaps.end() && gap->first <= a) {
            a = std::max(a, gap->end);
            ++gap;
            continue;
        }
        // Received stretch [a, b): its samples reach up to column ColumnsBefore(b).
        const std::int64_t b = gap != gaps.end() ? gap->first : n;
        const std::int64_t stretchEnd = std::min<std::int64_t>(width, ColumnsBefore(view, b));
        const std::int64_t searchEnd = std::min(b, s1);
        std::int64_t column = std::max<std::int64_t>(0, ColumnOfBoundary(view, a));
        std::int64_t i = a; // the sample that holds the left edge of column (or lies before it)
        bool level = levelAt(i);
        for (;;) {
            const auto edge = capture.NextEdge(channel, i + 1, searchEnd);
            const std::uint8_t state = (level ? kColumnHigh : kColumnLow) | kColumnData;
            if (!edge) {
                mark(column, stretchEnd, state);
                break;
            }
            const std::int64_t at = ColumnOfBoundary(view, *edge);
            mark(column, at, state);
            mark(at, at + 1, kColumnEdge | kColumnData);
            // The rest of that column shows nothing more: go on from the next column's left
            // edge, and from the level of the sample that holds it.
            const std::int64_t next = FirstBoundaryInColumn(view, at + 1);
            if (at + 1 >= width || next - 1 >= b) {
                break;
            }
            column = at + 1;
            i = next - 1;
            level = levelAt(i);
        }
        a = b;
    }
}

void DrawViewer(QImage& image, const ViewerScene& scene) {
    if (image.format() != QImage::Format_RGB32) {
        image = image.convertToFormat(QImage::Format_RGB32);
    }
    const ViewerLayout layout = LayoutForScene(image.width(), image.height(), scene);
    Viewport view = scene.view;
    view.widthPx = layout.TraceWidth();
    const int left = layout.TraceLeft();
    const int rowsTop = layout.RowsTop();
    const int rowsBottom = layout.RowsBottom();
    const int traceRows = static_cast<int>(layout.channels.size());
    const int firstRow = layout.FirstRowShown();
    const int endRow = layout.EndRowShown();
    // Below the last row (or the area's bottom when rows go on below it).
    const int contentBottom = std::min(rowsBottom, layout.RowTop(layout.RowCount()) + 1);
    const int tracesBottom = std::clamp(layout.RowTop(traceRows), rowsTop, rowsBottom);

    const Capture* capture = scene.capture;
    const bool haveCapture = capture != nullptr && capture->SampleCount() > 0;
    const auto colourOf = [&](int channel) {
        return static_cast<std::size_t>(channel) < scene.colours.size()
                   ? scene.colours[static_cast<std::size_t>(channel)]
                   : ChannelColour(channel);
    };

    Pixels px(image);
    px.Fill(0, 0, left, image.height(), kNameBackground);
    // The trace rows' lines are all written by DrawTrace.
    const int traceTop = haveCapture ? std::clamp(layout.RowTop(firstRow), rowsTop, rowsBottom) : 0;
    const int traceBottom = haveCapture ? tracesBottom : 0;
    px.Fill(left, 0, image.width(), traceTop, kBackground);
    px.Fill(left, traceBottom, image.width(), image.height(), kBackground);
    for (int row = firstRow; row <= endRow; ++row) {
        const int y = layout.RowTop(row);
        if (y >= rowsTop && y < rowsBottom && row <= layout.RowCount()) {
            px.Fill(0, y, image.width(), y + 1, kRowLine);
        }
    }
    px.Fill(0, rowsTop - 1, image.width(), rowsTop, kTickColour);
    px.Fill(left - 1, 0, left, contentBottom, kTickColour);

    std::vector<TimeTick> ticks;
    if (haveCapture) {
        // The time grid: ticks on the axis, light lines through the rows.
        ticks = TimeTicks(view, capture->Period(), scene.timeOrigin);
        std::vector<QRgb> blank(static_cast<std::size_t>(view.widthPx), kBackground);
        for (const auto& tick : ticks) {
            px.VLine(left + tick.x, rowsTop - kTickLengthPx, rowsTop - 1, kTickColour);
            px.VLine(left + tick.x, tracesBottom, contentBottom, kRowLine, true);
            if (tick.x >= 0 && tick.x < view.widthPx) {
                blank[static_cast<std::size_t>(tick.x)] = kRowLine;
            }
        }
        TraceScratch scratch;
        for (int row = firstRow; row < std::min(endRow, traceRows); ++row) {
            const int channel = layout.channels[static_cast<std::size_t>(row)];
            DrawTrace(px, *capture, view, blank, scratch, channel, colourOf(channel), left,
                      layout.RowTop(row), layout.RowTop(row + 1), rowsTop, rowsBottom);
        }
        // Annotation boxes: a filled box with a darker frame per span; many boxes in one
        // column are drawn once. Columns in which no channel was received are hatched here too.
        const std::int64_t viewFirst = static_cast<std::int64_t>(std::floor(view.firstSample));
        const std::int64_t viewEnd =
            static_cast<std::int64_t>(std::ceil(view.firstSample + view.VisibleSamples())) + 1;
        const auto inGap =
            endRow > traceRows ? GapColumns(*capture, view) : std::vector<std::uint8_t>();
        for (int row = std::max(firstRow, traceRows); row < endRow; ++row) {
            const int top = std::max(layout.RowTop(row) + 2, rowsTop);
            const int bottom = std::min(layout.RowTop(row + 1) - 1, rowsBottom);
            const auto& lane = scene.extraRows[static_cast<std::size_t>(row - traceRows)].lane;
            if (lane) {
                const auto [from, to] = lane->InView(viewFirst, viewEnd);
                int lastX0 = -2;
                int lastX1 = -2;
                for (std::size_t i = from; i < to; ++i) {
                    const LaneBox& box = lane->boxes[i];
                    const int x0 = std::max(BoundaryX(view, box.first), -1);
                    const int x1 = std::min(BoundaryX(view, box.end), view.widthPx);
                    if (x1 < 0 || x0 >= view.widthPx || (x0 == lastX0 && x1 == lastX1)) {
                        continue;
                    }
                    lastX0 = x0;
                    lastX1 = x1;
                    const QRgb fill = kBoxColours[static_cast<std::size_t>(box.colour) % 8];
                    const QRgb frame = QColor::fromRgb(fill).darker(160).rgb();
                    px.Fill(left + std::max(x0, 0), top, left + std::max(x1, x0 + 1), bottom, fill);
                    px.VLine(left + x0, top, bottom, frame);
                    px.VLine(left + x1, top, bottom, frame);
                }
            }
            Hatch(px, inGap, left, top, bottom);
        }
        if (const auto t = capture->TriggerSample()) {
            const int x = BoundaryX(view, *t);
            if (x >= 0 && x < view.widthPx) {
                px.VLine(left + x, 0, contentBottom, kTriggerColour, true);
            }
        }
    }
    for (const auto& marker : scene.markers) {
        const int x = BoundaryX(view, marker.sample);
        if (haveCapture && x >= 0 && x < view.widthPx) {
            px.VLine(left + x, 0, contentBottom, kMarkerColour, true);
        }
    }
    if (scene.highlight && haveCapture) {
        // At least a few pixels wide, so a one-sample glitch in the whole view still shows.
        int x0 = BoundaryX(view, scene.highlight->first);
        int x1 = BoundaryX(view, scene.highlight->end);
        if (x1 - x0 < 4) {
            const int middle = (x0 + x1) / 2;
            x0 = middle - 2;
            x1 = middle + 2;
        }
        if (x1 >= 0 && x0 < view.widthPx) {
            px.Fill(left + std::max(x0, 0), rowsTop - kHighlightBarPx,
                    left + std::min(x1 + 1, view.widthPx), rowsTop - 1, kHighlightColour);
            for (const int x : {x0, x1}) {
                if (x >= 0 && x < view.widthPx) {
                    px.VLine(left + x, rowsTop, contentBottom, kHighlightColour);
                }
            }
        }
    }
    const std::pair<const std::optional<std::int64_t>*, QRgb> cursors[] = {
        {&scene.cursorA, kCursorAColour}, {&scene.cursorB, kCursorBColour}};
    for (const auto& [cursor, colour] : cursors) {
        if (cursor->has_value() && haveCapture) {
            const int x = BoundaryX(view, **cursor);
            if (x >= 0 && x < view.widthPx) {
                px.VLine(left + x, 0, contentBottom, colour);
            }
        }
    }

    // Texts.
    QPainter painter(&image);
    const QFontMetrics metrics = painter.fontMetrics();
    const int textDy = (metrics.ascent() - metrics.descent()) / 2;
    painter.setPen(QColor::fromRgb(kTextColour));
    const int nameX = kTextMarginPx + 10;
    const int nameWidth = left - nameX - kTextMarginPx;
    painter.setClipRect(0, rowsTop, left - 1, rowsBottom - rowsTop);
    for (int row = firstRow; row < endRow; ++row) {
        const int middle = layout.RowTop(row) + layout.rowHeightPx / 2;
        if (row < traceRows) {
            const int channel = layout.channels[static_cast<std::size_t>(row)];
            px.Fill(kTextMarginPx, std::max(middle - 3, rowsTop), kTextMarginPx + 6,
                    std::min(middle + 3, rowsBottom), colourOf(channel));
            const std::string& name = static_cast<std::size_t>(channel) < scene.names.size()
                                          ? scene.names[static_cast<std::size_t>(channel)]
                                          : DefaultChannelName(channel);
            painter.drawText(nameX, middle + textDy, Fitted(metrics, name, nameWidth));
        } else {
            const auto& extra = scene.extraRows[static_cast<std::size_t>(row - traceRows)];
            painter.drawText(kTextMarginPx, middle + textDy,
                             Fitted(metrics, ExtraRowName(extra.label), left - 2 * kTextMarginPx));
        }
    }
    painter.setClipping(false);
    for (int row = std::max(firstRow, traceRows); row < endRow && haveCapture; ++row) {
        const auto& extraRow = scene.extraRows[static_cast<std::size_t>(row - traceRows)];
        if (!extraRow.lane) {
            continue;
        }
        const AnnotationLane& lane = *extraRow.lane;
        const int top = layout.RowTop(row);
        painter.setClipRect(
            QRect(left, top, view.widthPx, layout.rowHeightPx)
                .intersected(QRect(left, rowsTop, view.widthPx, rowsBottom - rowsTop)));
        const auto [from, to] = lane.InView(
            static_cast<std::int64_t>(std::floor(view.firstSample)),
            static_cast<std::int64_t>(std::ceil(view.firstSample + view.VisibleSamples())) + 1);
        for (std::size_t i = from; i < to; ++i) {
            const LaneBox& box = lane.boxes[i];
            const int x0 = std::max(BoundaryX(view, box.first), 0);
            const int x1 = std::min(BoundaryX(view, box.end), view.widthPx);
            if (x1 - x0 <= 2 * kTextMarginPx) {
                continue; // a thin box shows no text at all
            }
            for (const auto& candidate : lane.TextsOf(box)) {
                const QString text =
                    QString::fromUtf8(candidate.data(), static_cast<qsizetype>(candidate.size()));
                if (metrics.horizontalAdvance(text) <= x1 - x0 - 4) {
                    painter.drawText(QRect(left + x0, top, x1 - x0, layout.rowHeightPx),
                                     Qt::AlignCenter, text);
                    break;
                }
            }
        }
        painter.setClipping(false);
    }
    const int axisBaseline = rowsTop - kTickLengthPx - 3;
    for (const auto& tick : ticks) {
        const QString label = QString::fromStdString(tick.label);
        const int labelWidth = metrics.horizontalAdvance(label);
        const int x = left + tick.x - labelWidth / 2;
        if (x >= left && x + labelWidth < image.width()) {
            painter.drawText(x, axisBaseline, label);
        }
    }
    auto markerLabel = [&](const std::optional<std::int64_t>& at, QRgb colour, const char* text) {
        if (!at || !haveCapture) {
            return;
        }
        const int x = BoundaryX(view, *at);
        if (x >= 0 && x < view.widthPx) {
            painter.fillRect(left + x + 1, 1, metrics.horizontalAdvance(QLatin1String(text)) + 4,
                             metrics.height(), QColor::fromRgb(kBackground));
            painter.setPen(QColor::fromRgb(colour));
            painter.drawText(left + x + 3, 1 + metrics.ascent(), QLatin1String(text));
        }
    };
    markerLabel(haveCapture ? capture->TriggerSample() : std::nullopt, kTriggerColour, "T");
    for (const auto& marker : scene.markers) {
        const int x = BoundaryX(view, marker.sample);
        if (haveCapture && x >= 0 && x < view.widthPx) {
            const QString name = QString::fromStdString(marker.name);
            const int y = 1; // the cursors' letters are drawn over it
            painter.fillRect(left + x + 1, y, metrics.horizontalAdvance(name) + 4, metrics.height(),
                             QColor::fromRgb(kBackground));
            painter.setPen(QColor::fromRgb(kMarkerColour));
            painter.drawText(left + x + 3, y + metrics.ascent(), name);
        }
    }
    markerLabel(scene.cursorA, kCursorAColour, "A");
    markerLabel(scene.cursorB, kCursorBColour, "B");
    painter.setPen(QColor::fromRgb(kTextColour));
    if (!scene.footer.empty()) {
        painter.drawText(kTextMarginPx, rowsBottom + layout.footerHeightPx / 2 + textDy + 1,
                         QString::fromStdString(scene.footer));
    }
}

} // namespace quillon
