// Waveform drawing: grid, frame and the 16 traces written straight into a 32-bit QImage.
// Every line this view draws is horizontal or vertical and one pixel wide, so the surface
// writes those pixels itself; QPainter was ten times slower for the same picture.
#include "display/waveform.h"

#include "display/timebase.h"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <array>
#include <cstdlib>

namespace quillon {
namespace {

constexpr int kRowCount = 16;
constexpr int kRowHeightPx = kViewHeight / kRowCount;
constexpr int kHighLevelPx = 5; // from the top of the row
constexpr int kLowLevelPx = 15;
constexpr int kGridColumns = 12;
constexpr int kDotOnPx = 3;
constexpr int kDotPeriodPx = 6;

constexpr QColor kBackground(255, 255, 255);
constexpr QColor kGridColour(100, 100, 100);
constexpr QColor kFrameColour(0, 0, 0);
// Row k (0 at the top) shows channel 15 - k; the colours repeat every eight rows.
constexpr std::array<QColor, 8> kRowColours = {
    QColor(200, 0, 255), QColor(0, 0, 255),   QColor(0, 230, 0),  QColor(230, 230, 0),
    QColor(255, 150, 0), QColor(255, 0, 0),   QColor(100, 50, 0), QColor(0, 0, 0),
};

bool HasDirectPixels(const QImage& image) {
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return true; // the pens are opaque, so one QRgb value fits all three
    default:
        return false;
    }
}

bool IsDotOn(int distanceFromStart) { return distanceFromStart % kDotPeriodPx < kDotOnPx; }

// One horizontal (or vertical) line from start up to but not including end, at the fixed
// row (or column); the dot pattern counts from start whichever way the line runs.
void PutStraightLine(QImage& image, QRgb pen, bool bDotted, bool bHorizontal, int fixed,
                     int start, int end) {
    const int length = std::abs(end - start);
    const int along = bHorizontal ? image.width() : image.height();
    const int across = bHorizontal ? image.height() : image.width();
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
    if (first >= last) {
        return;
    }

    if (!HasDirectPixels(image)) {
        const QColor colour = QColor::fromRgb(pen);
        for (int t = first; t < last; ++t) {
            if (!bDotted || IsDotOn(t)) {
                const int p = start + t * direction;
                image.setPixelColor(bHorizontal ? p : fixed, bHorizontal ? fixed : p, colour);
            }
        }
        return;
    }

    auto* const pixels = reinterpret_cast<QRgb*>(image.bits());
    const qsizetype stride = image.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
    const qsizetype step = bHorizontal ? direction : direction * stride;
    const qsizetype origin =
        bHorizontal ? fixed * stride + start : static_cast<qsizetype>(start) * stride + fixed;
    if (!bDotted) {
        if (bHorizontal) {
            const qsizetype low = direction > 0 ? origin + first : origin - (last - 1);
            std::fill_n(pixels + low, last - first, pen);
        } else {
            for (int t = first; t < last; ++t) {
                pixels[origin + t * step] = pen;
            }
        }
        return;
    }
    for (int t = first; t < last; ++t) {
        if (IsDotOn(t)) {
            pixels[origin + t * step] = pen;
        }
    }
}

} // namespace

void CWaveSurface::SetPen(QColor colour, PenStyle style) {
    m_pen = colour.rgb();
    m_style = style;
}

void CWaveSurface::FillRect(int left, int top, int right, int bottom, QColor colour) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, m_image.width());
    bottom = std::min(bottom, m_image.height());
    if (left >= right || top >= bottom) {
        return;
    }
    if (!HasDirectPixels(m_image)) {
        QPainter painter(&m_image);
        painter.fillRect(left, top, right - left, bottom - top, colour);
        return;
    }
    const QRgb value = colour.rgb();
    for (int y = top; y < bottom; ++y) {
        auto* const line = reinterpret_cast<QRgb*>(m_image.scanLine(y));
        std::fill(line + left, line + right, value);
    }
}

void CWaveSurface::MoveTo(int x, int y) {
    m_x = x;
    m_y = y;
}

void CWaveSurface::LineTo(int x, int y) {
    const bool bDotted = m_style == PenStyle::Dot;
    if (y == m_y) {
        PutStraightLine(m_image, m_pen, bDotted, true, y, m_x, x);
    } else if (x == m_x) {
        PutStraightLine(m_image, m_pen, bDotted, false, x, m_y, y);
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

void DrawTimeStep(CWaveSurface& surface, int x, int from, int to, int width) {
    // Row k follows character k of ToBitString(from) and ToBitString(to), i.e. bit 15 - k;
    // the bits are read directly so that a redraw builds no strings.
    const auto fromBits = static_cast<unsigned>(from);
    const auto toBits = static_cast<unsigned>(to);
    for (int k = 0; k < kRowCount; ++k) {
        const int channel = kRowCount - 1 - k;
        const bool bFromHigh = ((fromBits >> channel) & 1u) != 0;
        const bool bToHigh = ((toBits >> channel) & 1u) != 0;
        const int yHigh = k * kRowHeightPx + kHighLevelPx;
        const int yLow = k * kRowHeightPx + kLowLevelPx;
        surface.SetPen(kRowColours[static_cast<std::size_t>(k) % kRowColours.size()]);
        const int yFrom = bFromHigh ? yHigh : yLow;
        surface.MoveTo(x, yFrom);
        surface.LineTo(x + width, yFrom);
        if (bFromHigh != bToHigh) {
            surface.LineTo(x + width, bToHigh ? yHigh : yLow);
        }
    }
}

void DrawWaveforms(QImage& image, const SampleStore& store, std::string_view zoomLabel,
                   int rate) {
    if (image.width() != kViewWidth || image.height() != kViewHeight ||
        image.format() != QImage::Format_RGB32) {
        image = QImage(kViewWidth, kViewHeight, QImage::Format_RGB32);
    }
    CWaveSurface surface(image);
    DrawGrid(surface);

    const ZoomGeometry geometry = ZoomGeometryFor(zoomLabel);
    const int offset = StartOffset(rate);
    const auto sample = [&store](int i) { return static_cast<int>(store.GetSample(i)); };
    if (geometry.step == 1) {
        const int width = kViewWidth / geometry.samples;
        for (int i = 0; i < geometry.samples; ++i) {
            DrawTimeStep(surface, i * width, sample(i + offset), sample(i + offset + 1), width);
        }
    } else {
        for (int i = 0; i < geometry.samples; i += geometry.step) {
            DrawTimeStep(surface, i / geometry.step, sample(i + offset),
                         sample(i + geometry.step + offset), 1);
        }
    }
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
