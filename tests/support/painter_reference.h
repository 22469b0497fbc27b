// The view drawn line by line through QPainter: the reference the fast drawing is checked
// against in the tests and timed against in the benchmark.
#pragma once

#include "display/timebase.h"
#include "display/waveform.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPen>

#include <array>
#include <string_view>

namespace quillon::test {

// The same picture drawn line by line through QPainter: flat caps leave each line's far end
// out, and a 3-on 3-off dash pattern starts at each line's first pixel.
inline void PaintWithQPainter(QImage& image, const SampleStore& store, std::string_view zoomLabel,
                              int rate) {
    constexpr int kRows = 16;
    constexpr int kRowHeightPx = kViewHeight / kRows;
    const std::array<QColor, 8> rowColours = {
        QColor(200, 0, 255), QColor(0, 0, 255), QColor(0, 230, 0),  QColor(230, 230, 0),
        QColor(255, 150, 0), QColor(255, 0, 0), QColor(100, 50, 0), QColor(0, 0, 0)};
    const auto makePen = [](QColor colour) {
        QPen pen(colour);
        pen.setWidth(1);
        pen.setCapStyle(Qt::FlatCap);
        return pen;
    };

    QPainter painter(&image);
    painter.fillRect(0, 0, kViewWidth, kViewHeight, QColor(255, 255, 255));
    QPen dotted = makePen(QColor(100, 100, 100));
    dotted.setDashPattern({3, 3});
    painter.setPen(dotted);
    for (int i = 1; i < kRows; ++i) {
        painter.drawLine(0, i * kRowHeightPx, kViewWidth, i * kRowHeightPx);
    }
    for (int i = 1; i < 12; ++i) {
        painter.drawLine(i * kViewWidth / 12, 0, i * kViewWidth / 12, kViewHeight);
    }
    painter.setPen(makePen(QColor(0, 0, 0)));
    painter.drawLine(0, 0, kViewWidth, 0);
    painter.drawLine(0, 0, 0, kViewHeight);

    std::array<QPen, 8> pens;
    for (std::size_t i = 0; i < pens.size(); ++i) {
        pens[i] = makePen(rowColours[i]);
    }
    const auto step = [&](int x, int from, int to, int width) {
        for (int k = 0; k < kRows; ++k) {
            const bool bFromHigh = ((from >> (kRows - 1 - k)) & 1) != 0;
            const bool bToHigh = ((to >> (kRows - 1 - k)) & 1) != 0;
            const int yHigh = k * kRowHeightPx + 5;
            const int yLow = k * kRowHeightPx + 15;
            painter.setPen(pens[static_cast<std::size_t>(k % 8)]);
            const int yFrom = bFromHigh ? yHigh : yLow;
            painter.drawLine(x, yFrom, x + width, yFrom);
            if (bFromHigh && !bToHigh) {
                painter.drawLine(x + width, yHigh, x + width, yLow);
            } else if (!bFromHigh && bToHigh) {
                painter.drawLine(x + width, yHigh + 1, x + width, yLow + 1);
            }
        }
    };
    const ZoomGeometry geometry = ZoomGeometryFor(zoomLabel);
    const int offset = StartOffset(rate);
    const auto sample = [&store](int i) { return static_cast<int>(store.GetSample(i)); };
    if (geometry.step == 1) {
        const int width = kViewWidth / geometry.samples;
        for (int i = 0; i < geometry.samples; ++i) {
            step(i * width, sample(i + offset), sample(i + offset + 1), width);
        }
    } else {
        for (int i = 0; i < geometry.samples; i += geometry.step) {
            step(i / geometry.step, sample(i + offset), sample(i + geometry.step + offset), 1);
        }
    }
}

} // namespace quillon::test
