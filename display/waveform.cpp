// Waveform drawing: grid, frame and the 16 traces written straight into a 32-bit QImage.
// Every line this view draws is horizontal or vertical and one pixel wide, so the surface
// writes those pixels itself; QPainter took about ten times as long for the same picture.
#include "display/waveform.h"

#include "capture/capture.h"
#include "display/channel_colours.h"

#include "display/timebase.h"

#include <QBuffer>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <array>
#include <cstdlib>

namespace quillon {
namespace {

constexpr int kRowCount = kAnalyzerChannels; // one row per channel, D15 at the top
constexpr int kRowHeightPx = kViewHeight / kRowCount;
constexpr int kHighLevelPx = 5; // from the top of the row
constexpr int kLowLevelPx = 15;
constexpr int kGridColumns = 12;
constexpr int kDotOnPx = 3;
constexpr int kDotPeriodPx = 6;

constexpr QColor kBackground(255, 255, 255);
constexpr QColor kGridColour(100, 100, 100);
constexpr QColor kFrameColour(0, 0, 0);

QRgb* DirectPixels(QImage& image) {
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        // The pens are opaque, so one QRgb value serves all three formats.
        return reinterpret_cast<QRgb*>(image.bits());
    default:
        return nullptr;
    }
}

bool IsDotOn(int distanceFromStart) {
    return distanceFromStart % kDotPeriodPx < kDotOnPx;
}

// Where the surface's pixels are, looked up once per surface.
struct Raster {
    QImage& image;
    QRgb* pPixels; // null: go through QImage::setPixelColor
    qsizetype stride;
    int width;
    int height;
};

// One horizontal (or vertical) line from start up to but not including end, at the fixed
// row (or column), pixel by pixel: the grid's dotted lines, and every line on an image that
// is not 32-bit. The dot pattern counts from start whichever way the line runs.
void PutStraightLine(const Raster& raster, QRgb pen, bool bDotted, bool bHorizontal, int fixed,
                     int start, int end) {
    const int length = std::abs(end - start);
    const int along = bHorizontal ? raster.width : raster.height;
    const int across = bHorizontal ? raster.height : raster.width;
    if (length == 0 || fixed < 0 || fixed >= across) {
        return;
    }
    // Pixel t of the line sits at start + t * direction; keep only those inside the image.
    const int direction = end > start ? 1 : -1;
    int first = 0;
    int last = length; // exclusive
    if (direction > 0) {
        first = std::max(first, -start);
        last = std::min(last, along - start);
    } else {
        first = std::max(first, start - along + 1);
        last = std::min(last, start + 1);
    }
    const QColor colour = QColor::fromRgb(pen);
    if (raster.pPixels != nullptr) {
        // The grid: dotted lines on a 32-bit image, three pixels of every six.
        const qsizetype step = bHorizontal ? direction : direction * raster.stride;
        const qsizetype base =
            bHorizontal ? fixed * raster.stride + start : start * raster.stride + fixed;
        for (int t = first; t < last; ++t) {
            if (!bDotted || IsDotOn(t)) {
                raster.pPixels[base + t * step] = pen;
            }
        }
        return;
    }
    for (int t = first; t < last; ++t) {
        if (bDotted && !IsDotOn(t)) {
            continue;
        }
        const int p = start + t * direction;
        const int x = bHorizontal ? p : fixed;
        const int y = bHorizontal ? fixed : p;
        if (raster.pPixels != nullptr) {
            raster.pPixels[y * raster.stride + x] = pen;
        } else {
            raster.image.setPixelColor(x, y, colour);
        }
    }
}

} // namespace

CWaveSurface::CWaveSurface(QImage& image)
    : m_image(image), m_pPixels(DirectPixels(image)),
      m_nStride(image.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb))),
      m_nWidth(image.width()), m_nHeight(image.height()) {}

void CWaveSurface::SetPen(QColor colour, PenStyle style) {
    m_pen = colour.rgb();
    m_style = style;
}

void CWaveSurface::FillRect(int left, int top, int right, int bottom, QColor colour) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, m_nWidth);
    bottom = std::min(bottom, m_nHeight);
    if (left >= right || top >= bottom) {
        return;
    }
    if (m_pPixels == nullptr) {
        QPainter painter(&m_image);
        painter.fillRect(left, top, right - left, bottom - top, colour);
        return;
    }
    const QRgb value = colour.rgb();
    for (int y = top; y < bottom; ++y) {
        QRgb* const line = m_pPixels + y * m_nStride;
        std::fill(line + left, line + right, value);
    }
}

void CWaveSurface::MoveTo(int x, int y) {
    m_x = x;
    m_y = y;
}

void CWaveSurface::LineTo(int x, int y) {
    // The traces: thousands of short solid lines per redraw. For a solid pen only the set
    // of pixels matters, not the direction: [from, to) rightwards is (to, from] leftwards.
    if (m_pPixels != nullptr && m_style == PenStyle::Solid && (y == m_y || x == m_x)) {
        const bool bHorizontal = y == m_y;
        const int from = bHorizontal ? m_x : m_y;
        const int to = bHorizontal ? x : y;
        const int fixed = bHorizontal ? y : x;
        const int across = bHorizontal ? m_nHeight : m_nWidth;
        const int low = std::max(to > from ? from : to + 1, 0);
        const int high = std::min(to > from ? to : from + 1, bHorizontal ? m_nWidth : m_nHeight);
        if (fixed >= 0 && fixed < across && low < high) {
            if (bHorizontal) {
                QRgb* const line = m_pPixels + fixed * m_nStride;
                std::fill(line + low, line + high, m_pen);
            } else {
                for (int p = low; p < high; ++p) {
                    m_pPixels[p * m_nStride + fixed] = m_pen;
                }
            }
        }
        m_x = x;
        m_y = y;
        return;
    }

    const bool bDotted = m_style == PenStyle::Dot;
    if (y == m_y || x == m_x) {
        const Raster raster{m_image, m_pPixels, m_nStride, m_nWidth, m_nHeight};
        if (y == m_y) {
            PutStraightLine(raster, m_pen, bDotted, true, y, m_x, x);
        } else {
            PutStraightLine(raster, m_pen, bDotted, false, x, m_y, y);
        }
    } else {
        // Slanted lines never occur in this view; QPainter keeps the surface general.
        // A flat cap leaves the far end out, as the other lines do.
        QPainter painter(&m_image);
        QPen pen{QColor::fromRgb(m_pen)};
        pen.setWidth(1);
        pen.setCapStyle(Qt::FlatCap);
        if (bDotted) {
            pen.setDashPattern({kDotOnPx, kDotPeriodPx - kDotOnPx});
        }
        painter.setPen(pen);
        painter.drawLine(m_x, m_y, x, y);
    }
    m_x = x;
    m_y = y;
}

void DrawGrid(CWaveSurface& surface) {
    surface.FillRect(0, 0, kViewWidth, kViewHeight, kBackground);
    surface.SetPen(kGridColour, CWaveSurface::PenStyle::Dot);
    for (int i = 1; i < kRowCount; ++i) {
        surface.MoveTo(0, i * kViewHeight / kRowCount);
        surface.LineTo(kViewWidth, i * kViewHeight / kRowCount);
    }
    for (int i = 1; i < kGridColumns; ++i) {
        surface.MoveTo(i * kViewWidth / kGridColumns, 0);
        surface.LineTo(i * kViewWidth / kGridColumns, kViewHeight);
    }
    // The right and bottom frame lines fall just outside the image, as they always have.
    surface.SetPen(kFrameColour);
    surface.MoveTo(0, 0);
    surface.LineTo(kViewWidth, 0);
    surface.MoveTo(0, kViewHeight);
    surface.LineTo(kViewWidth, kViewHeight);
    surface.MoveTo(0, 0);
    surface.LineTo(0, kViewHeight);
    surface.MoveTo(kViewWidth, 0);
    surface.LineTo(kViewWidth, kViewHeight);
}

namespace {

// Row k (0 at the top) shows channel 15 - k.
QColor RowColour(int row) {
    return QColor::fromRgb(ChannelColours(kRowCount - 1 - row).window);
}

// Row k of one time step, with the row's pen already set. Row k follows character k of
// ToBitString(from) and ToBitString(to), i.e. bit 15 - k; the bits are read directly so that
// a redraw builds no strings.
void DrawRowStep(CWaveSurface& surface, int row, int x, unsigned from, unsigned to, int width) {
    const int channel = kRowCount - 1 - row;
    const bool bFromHigh = ((from >> channel) & 1u) != 0;
    const bool bToHigh = ((to >> channel) & 1u) != 0;
    const int yHigh = row * kRowHeightPx + kHighLevelPx;
    const int yLow = row * kRowHeightPx + kLowLevelPx;
    const int yFrom = bFromHigh ? yHigh : yLow;
    surface.MoveTo(x, yFrom);
    surface.LineTo(x + width, yFrom);
    if (bFromHigh != bToHigh) {
        surface.LineTo(x + width, bToHigh ? yHigh : yLow);
    }
}

} // namespace

void DrawTimeStep(CWaveSurface& surface, int x, int from, int to, int width) {
    for (int row = 0; row < kRowCount; ++row) {
        surface.SetPen(RowColour(row));
        DrawRowStep(surface, row, x, static_cast<unsigned>(from), static_cast<unsigned>(to), width);
    }
}

void DrawWaveforms(QImage& image, const SampleStore& store, std::string_view zoomLabel, int rate) {
    if (image.width() != kViewWidth || image.height() != kViewHeight ||
        image.format() != QImage::Format_RGB32) {
        image = QImage(kViewWidth, kViewHeight, QImage::Format_RGB32);
    }
    CWaveSurface surface(image);
    DrawGrid(surface);

    // The same pixels as DrawTimeStep for every step, taken row by row and run by run: the
    // rows' bands do not overlap and each has one colour, so the order cannot change the
    // picture; a level that holds over many steps is one line instead of one per step.
    const ZoomGeometry geometry = ZoomGeometryFor(zoomLabel);
    const int offset = StartOffset(rate);
    const int width = geometry.step == 1 ? kViewWidth / geometry.samples : 1;
    const int steps = (geometry.samples + geometry.step - 1) / geometry.step;
    // The samples shown, read once: step k shows shown[k], its right edge compares shown[k + 1].
    std::array<std::uint16_t, kViewWidth + 1> shown{};
    for (int k = 0; k <= steps; ++k) {
        shown[static_cast<std::size_t>(k)] = store.GetSample(k * geometry.step + offset);
    }
    for (int row = 0; row < kRowCount; ++row) {
        surface.SetPen(RowColour(row));
        const unsigned channel = static_cast<unsigned>(kRowCount - 1 - row);
        const int yHigh = row * kRowHeightPx + kHighLevelPx;
        const int yLow = row * kRowHeightPx + kLowLevelPx;
        int runStart = 0;
        for (int k = 0; k < steps; ++k) {
            const bool bHigh = ((shown[static_cast<std::size_t>(k)] >> channel) & 1u) != 0;
            const bool bNextHigh = ((shown[static_cast<std::size_t>(k) + 1] >> channel) & 1u) != 0;
            if (bHigh == bNextHigh && k + 1 < steps) {
                continue; // the run goes on through the next step
            }
            const int right = (k + 1) * width;
            surface.MoveTo(runStart * width, bHigh ? yHigh : yLow);
            surface.LineTo(right, bHigh ? yHigh : yLow);
            if (bHigh != bNextHigh) {
                surface.LineTo(right, bNextHigh ? yHigh : yLow);
            }
            runStart = k + 1;
        }
    }
}

std::string EncodePng(const QImage& image) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) {
        return {};
    }
    return {png.constData(), static_cast<std::size_t>(png.size())};
}

QImage InitialBitmap() {
    QImage image(kViewWidth, kViewHeight, QImage::Format_RGB32);
    CWaveSurface surface(image);
    surface.FillRect(0, 0, kViewWidth, kViewHeight, kBackground);
    surface.FillRect(0, 0, kViewWidth, 1, kFrameColour);
    surface.FillRect(0, kViewHeight - 1, kViewWidth, kViewHeight, kFrameColour);
    surface.FillRect(0, 0, 1, kViewHeight, kFrameColour);
    surface.FillRect(kViewWidth - 1, 0, kViewWidth, kViewHeight, kFrameColour);
    return image;
}

} // namespace quillon
