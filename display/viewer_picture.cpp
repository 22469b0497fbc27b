// The viewer's picture. Traces, hatching, markers and lines are written straight into the
// 32-bit image (thousands of one-pixel lines); only the texts go through QPainter.
// Column rule: the boundary before sample i lies in column ColumnOfBoundary(view, i). A
// column holding a boundary where the level changes is drawn as a vertical line across the
// row, so several samples in one column never hide a transition.
#include "display/viewer_picture.h"

#include <QFontMetrics>
#include <QPainter>

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
constexpr QRgb kCursorBColour = 0xff00a040;
constexpr QRgb kTextColour = 0xff000000;
constexpr int kHatchPeriodPx = 6;
constexpr int kTickLengthPx = 5;
constexpr int kTextMarginPx = 4;

// Colour code digit n mod 8, as the main window's rows; yellow a little darker on white.
constexpr std::array<QRgb, 8> kChannelColours = {
    0xff000000, 0xff643200, 0xffff0000, 0xffff9600, 0xffc8b400, 0xff00b000, 0xff0000ff, 0xffc800ff,
};
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

// Columns (of the traces' area) that lie wholly inside runs of samples not received.
std::vector<std::uint8_t> GapColumns(const ViewerScene& scene, const Viewport& view) {
    std::vector<std::uint8_t> inGap(static_cast<std::size_t>(view.widthPx), 0);
    for (const auto& [g0, g1] : scene.edges->gaps) {
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

// What one column of a trace holds: the low level, the high level, or an edge (a line
// across the row).
enum ColumnState : std::uint8_t { kLow = 1, kHigh = 2, kEdge = 4 };

// blank: a line of the band without the trace (background and the grid's lines).
// One channel's trace in the band [top, bottom) of the traces' area starting at x = left.
// The columns are worked out first, then the band is written line by line: a whole-capture
// view of a busy channel is mostly edges, and each line is then a few long runs.
struct TraceScratch {
    std::vector<std::uint8_t> columns;
    std::vector<QRgb> high; // the line of the high level
    std::vector<QRgb> low;
    std::vector<QRgb> across; // the lines between them: edges only
};

void DrawTrace(Pixels& px, const ViewerScene& scene, const Viewport& view,
               const std::vector<std::uint8_t>& inGap, const std::vector<QRgb>& blank,
               TraceScratch& scratch, int channel, int left, int top, int bottom) {
    std::vector<std::uint8_t>& columns = scratch.columns;
    const CaptureData& capture = *scene.capture;
    const std::int64_t n = static_cast<std::int64_t>(capture.samples.size());
    const int width = view.widthPx;
    const std::int64_t endColumn = std::min<std::int64_t>(width, ColumnOfBoundary(view, n));
    columns.assign(static_cast<std::size_t>(width), 0);

    auto horizontal = [&](std::int64_t from, std::int64_t to, bool high) {
        for (auto c = std::max<std::int64_t>(from, 0); c < std::min(to, endColumn); ++c) {
            if (inGap[static_cast<std::size_t>(c)] == 0) {
                columns[static_cast<std::size_t>(c)] |= high ? kHigh : kLow;
            }
        }
    };
    const auto& edges = scene.edges->edges[static_cast<std::size_t>(channel)];
    const auto& gaps = scene.edges->gaps;
    std::int64_t sample = std::clamp<std::int64_t>(SampleAtColumn(view, 0), 0, n - 1);
    bool level = LevelAt(capture, channel, sample);
    // The events in view: edges (a line across the row) and the ends of gaps (the level is
    // read again after samples that were not received).
    auto edge = std::upper_bound(edges.begin(), edges.end(), sample);
    auto gap = std::upper_bound(gaps.begin(), gaps.end(), sample,
                                [](std::int64_t s, const auto& g) { return s < g.second; });
    std::int64_t column = 0;
    for (;;) {
        const std::int64_t nextEdge = edge != edges.end() ? *edge : INT64_MAX;
        const std::int64_t nextGapEnd =
            gap != gaps.end() && gap->second < n ? gap->second : INT64_MAX;
        const std::int64_t at = std::min(nextEdge, nextGapEnd);
        if (at == INT64_MAX) {
            break;
        }
        const std::int64_t atColumn = ColumnOfBoundary(view, at);
        if (atColumn >= width) {
            break;
        }
        horizontal(column, atColumn, level);
        level = LevelAt(capture, channel, at);
        if (at == nextEdge) {
            if (atColumn >= 0) {
                columns[static_cast<std::size_t>(atColumn)] |= kEdge;
            }
            column = std::max(column, atColumn + 1);
            ++edge;
        } else {
            column = std::max(column, atColumn);
            ++gap;
        }
    }
    horizontal(column, width, level);

    // Three lines make the band: every line of it is one of them, copied whole.
    const int yHigh = top + kTraceMarginPx;
    const int yLow = bottom - 1 - kTraceMarginPx;
    const QRgb colour = ChannelColour(channel);
    scratch.high.resize(blank.size());
    scratch.low.resize(blank.size());
    scratch.across.resize(blank.size());
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const std::uint8_t state = columns[c];
        scratch.high[c] = (state & (kHigh | kEdge)) != 0 ? colour : blank[c];
        scratch.low[c] = (state & (kLow | kEdge)) != 0 ? colour : blank[c];
        scratch.across[c] = (state & kEdge) != 0 ? colour : blank[c];
    }
    for (int y = top + 1; y < bottom; ++y) {
        if (QRgb* line = px.Row(y)) {
            const auto& source = y < yHigh || y > yLow ? blank
                                 : y == yHigh          ? scratch.high
                                 : y == yLow           ? scratch.low
                                                       : scratch.across;
            std::copy(source.begin(), source.end(), line + left);
        }
    }
}

void Hatch(Pixels& px, const std::vector<std::uint8_t>& inGap, int left, int top, int bottom) {
    for (int c = 0; c < static_cast<int>(inGap.size()); ++c) {
        if (inGap[static_cast<std::size_t>(c)] == 0) {
            continue;
        }
        for (int y = top; y < bottom; ++y) {
            if ((c + left + y) % kHatchPeriodPx == 0) {
                px.Put(left + c, y, kHatchColour); // gap columns carry no trace
            }
        }
    }
}

int BoundaryX(const Viewport& view, std::int64_t boundary) {
    return static_cast<int>(ColumnOfBoundary(view, boundary));
}

} // namespace

QRgb ChannelColour(int channel) {
    return kChannelColours[static_cast<std::size_t>(channel) % kChannelColours.size()];
}

ViewerLayout LayoutForScene(int width, int height, const ViewerScene& scene) {
    return LayoutViewer(width, height, scene.visible, static_cast<int>(scene.extraRows.size()));
}

void DrawViewer(QImage& image, const ViewerScene& scene) {
    if (image.format() != QImage::Format_RGB32) {
        image = image.convertToFormat(QImage::Format_RGB32);
    }
    const ViewerLayout layout = LayoutForScene(image.width(), image.height(), scene);
    Viewport view = scene.view;
    view.widthPx = layout.TraceWidth();
    const int left = layout.TraceLeft();
    const int rowsTop = layout.axisHeightPx;
    const int rowsBottom = layout.RowTop(layout.RowCount());

    const bool haveCapture =
        scene.capture != nullptr && scene.edges != nullptr && !scene.capture->samples.empty();
    const int tracesBottom = layout.RowTop(static_cast<int>(layout.channels.size()));

    Pixels px(image);
    px.Fill(0, 0, left, image.height(), kNameBackground);
    if (haveCapture) {
        // Every line of the trace rows is written whole by DrawTrace.
        px.Fill(left, 0, image.width(), rowsTop, kBackground);
        px.Fill(left, tracesBottom, image.width(), image.height(), kBackground);
    } else {
        px.Fill(left, 0, image.width(), image.height(), kBackground);
    }
    for (int row = 0; row <= layout.RowCount(); ++row) {
        px.Fill(0, layout.RowTop(row) - (row == 0 ? 1 : 0), image.width(),
                layout.RowTop(row) + (row == 0 ? 0 : 1), row == 0 ? kTickColour : kRowLine);
    }
    px.Fill(left - 1, 0, left, rowsBottom, kTickColour);

    std::vector<TimeTick> ticks;
    if (haveCapture) {
        // The time grid: ticks on the axis, light lines through the rows.
        ticks = TimeTicks(view, scene.capture->PeriodPs());
        std::vector<QRgb> blank(static_cast<std::size_t>(view.widthPx), kBackground);
        for (const auto& tick : ticks) {
            px.VLine(left + tick.x, rowsTop - kTickLengthPx, rowsTop, kTickColour);
            px.VLine(left + tick.x, tracesBottom, rowsBottom, kRowLine, true);
            if (tick.x >= 0 && tick.x < view.widthPx) {
                blank[static_cast<std::size_t>(tick.x)] = kRowLine;
            }
        }
        const auto inGap = GapColumns(scene, view);
        TraceScratch scratch;
        for (std::size_t row = 0; row < layout.channels.size(); ++row) {
            const int top = layout.RowTop(static_cast<int>(row));
            const int bottom = layout.RowTop(static_cast<int>(row) + 1);
            DrawTrace(px, scene, view, inGap, blank, scratch, layout.channels[row], left, top,
                      bottom);
            Hatch(px, inGap, left, top + 1, bottom);
        }
        // Annotation boxes: a filled box with a darker frame per span; many boxes in one
        // column are drawn once. Samples not received are hatched here too.
        const std::int64_t viewFirst = static_cast<std::int64_t>(std::floor(view.firstSample));
        const std::int64_t viewEnd =
            static_cast<std::int64_t>(std::ceil(view.firstSample + view.VisibleSamples())) + 1;
        for (int extra = 0; extra < layout.extraRows; ++extra) {
            const int top = layout.RowTop(static_cast<int>(layout.channels.size()) + extra) + 2;
            const int bottom =
                layout.RowTop(static_cast<int>(layout.channels.size()) + extra + 1) - 1;
            const auto& lane = scene.extraRows[static_cast<std::size_t>(extra)].lane;
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
        if (const auto& t = scene.capture->triggerSample) {
            const int x = BoundaryX(view, *t);
            if (x >= 0 && x < view.widthPx) {
                px.VLine(left + x, 0, rowsBottom, kTriggerColour, true);
            }
        }
    }
    const std::pair<const std::optional<std::int64_t>*, QRgb> cursors[] = {
        {&scene.cursorA, kCursorAColour}, {&scene.cursorB, kCursorBColour}};
    for (const auto& [cursor, colour] : cursors) {
        if (cursor->has_value() && haveCapture) {
            const int x = BoundaryX(view, **cursor);
            if (x >= 0 && x < view.widthPx) {
                px.VLine(left + x, 0, rowsBottom, colour);
            }
        }
    }

    // Texts.
    QPainter painter(&image);
    const QFontMetrics metrics = painter.fontMetrics();
    const int textDy = (metrics.ascent() - metrics.descent()) / 2;
    painter.setPen(QColor::fromRgb(kTextColour));
    const ChannelNames names =
        scene.capture != nullptr ? scene.capture->names : DefaultChannelNames();
    // Names longer than the column are cut by a clip, not elided: eliding lays each text
    // out twice, a measurable part of a redraw.
    painter.setClipRect(0, 0, left - kTextMarginPx, image.height());
    for (std::size_t row = 0; row < layout.channels.size(); ++row) {
        const int channel = layout.channels[row];
        const int middle = layout.RowTop(static_cast<int>(row)) + layout.rowHeightPx / 2;
        px.Fill(kTextMarginPx, middle - 3, kTextMarginPx + 6, middle + 3, ChannelColour(channel));
        painter.drawText(kTextMarginPx + 10, middle + textDy,
                         QString::fromStdString(names[static_cast<std::size_t>(channel)]));
    }
    for (int extra = 0; extra < layout.extraRows; ++extra) {
        const int middle = layout.RowTop(static_cast<int>(layout.channels.size()) + extra) +
                           layout.rowHeightPx / 2;
        painter.drawText(
            kTextMarginPx, middle + textDy,
            QString::fromStdString(scene.extraRows[static_cast<std::size_t>(extra)].label));
    }
    painter.setClipping(false);
    for (int extra = 0; extra < layout.extraRows; ++extra) {
        const int row = static_cast<int>(layout.channels.size()) + extra;
        const auto& extraRow = scene.extraRows[static_cast<std::size_t>(extra)];
        if (!haveCapture) {
            continue;
        }
        if (!extraRow.lane) {
            continue;
        }
        const AnnotationLane& lane = *extraRow.lane;
        painter.setClipRect(left, layout.RowTop(row), view.widthPx, layout.rowHeightPx);
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
                    painter.drawText(
                        QRect(left + x0, layout.RowTop(row), x1 - x0, layout.rowHeightPx),
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
    markerLabel(haveCapture ? scene.capture->triggerSample : std::nullopt, kTriggerColour, "T");
    markerLabel(scene.cursorA, kCursorAColour, "A");
    markerLabel(scene.cursorB, kCursorBColour, "B");
    painter.setPen(QColor::fromRgb(kTextColour));
    if (!scene.footer.empty()) {
        painter.drawText(kTextMarginPx, rowsBottom + layout.footerHeightPx / 2 + textDy + 1,
                         QString::fromStdString(scene.footer));
    }
}

} // namespace quillon
