// Waveform redraw cost for every zoom, at rate 1 and 1000, against a QPainter drawing of the
// same picture. Medians: bench_waveform --benchmark_repetitions=10
//                                        --benchmark_report_aggregates_only=true
#include "capture/sample_store.h"
#include "display/timebase.h"
#include "display/waveform.h"

#include <benchmark/benchmark.h>

#include <QPainter>
#include <QPen>

#include <array>
#include <cstdint>
#include <random>
#include <string>

namespace {

using quillon::kViewHeight;
using quillon::kViewWidth;

// Slider positions 0..7 and one outside them for "10us/d".
constexpr int kPositionCount = 9;

quillon::SampleStore MakeBusyStore() {
    quillon::SampleStore store;
    std::mt19937 generator(20240601u);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int i = 0; i < quillon::SampleStore::kCapacity; ++i) {
        store.m_sampleLow[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(byte(generator));
        store.m_sampleHigh[static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(byte(generator));
    }
    return store;
}

// The same picture drawn line by line through QPainter: flat caps leave each line's far end
// out, and a 3-on 3-off dash pattern starts at each line's first pixel.
void PaintWithQPainter(QImage& image, const quillon::SampleStore& store, std::string_view zoomLabel,
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
    const quillon::ZoomGeometry geometry = quillon::ZoomGeometryFor(zoomLabel);
    const int offset = quillon::StartOffset(rate);
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

void SetLabel(benchmark::State& state, std::string_view zoomLabel, int rate) {
    state.SetLabel(std::string(zoomLabel) + " rate " + std::to_string(rate));
}

void BM_DrawWaveforms(benchmark::State& state) {
    const std::string_view zoomLabel =
        quillon::ZoomLabelForPosition(static_cast<int>(state.range(0)));
    const int rate = static_cast<int>(state.range(1));
    const quillon::SampleStore store = MakeBusyStore();
    QImage image(kViewWidth, kViewHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        quillon::DrawWaveforms(image, store, zoomLabel, rate);
        benchmark::DoNotOptimize(image.constBits());
        benchmark::ClobberMemory();
    }
    SetLabel(state, zoomLabel, rate);
}

void BM_PaintWithQPainter(benchmark::State& state) {
    const std::string_view zoomLabel =
        quillon::ZoomLabelForPosition(static_cast<int>(state.range(0)));
    const int rate = static_cast<int>(state.range(1));
    const quillon::SampleStore store = MakeBusyStore();
    QImage image(kViewWidth, kViewHeight, QImage::Format_RGB32);

    // Timing a different picture would compare nothing.
    QImage fast(kViewWidth, kViewHeight, QImage::Format_RGB32);
    quillon::DrawWaveforms(fast, store, zoomLabel, rate);
    PaintWithQPainter(image, store, zoomLabel, rate);
    if (image != fast) {
        state.SkipWithError("the QPainter picture differs from DrawWaveforms");
        return;
    }
    for (auto _ : state) {
        PaintWithQPainter(image, store, zoomLabel, rate);
        benchmark::DoNotOptimize(image.constBits());
        benchmark::ClobberMemory();
    }
    SetLabel(state, zoomLabel, rate);
}

BENCHMARK(BM_DrawWaveforms)
    ->ArgsProduct({benchmark::CreateDenseRange(0, kPositionCount - 1, 1), {1, 1000}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PaintWithQPainter)
    ->ArgsProduct({benchmark::CreateDenseRange(0, kPositionCount - 1, 1), {1, 1000}})
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
