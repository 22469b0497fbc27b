// Waveform redraw cost for every zoom, at rate 1 and 1000, against a QPainter drawing of the
// same picture. Medians: bench_waveform --benchmark_repetitions=10
//                                        --benchmark_report_aggregates_only=true
#include "capture/sample_store.h"
#include "display/timebase.h"
#include "display/waveform.h"
#include "support/painter_reference.h"

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
    quillon::test::PaintWithQPainter(image, store, zoomLabel, rate);
    if (image != fast) {
        state.SkipWithError("the QPainter picture differs from DrawWaveforms");
        return;
    }
    for (auto _ : state) {
        quillon::test::PaintWithQPainter(image, store, zoomLabel, rate);
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
