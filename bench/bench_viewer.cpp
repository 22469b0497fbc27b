// The viewer's picture at 1920 x 1080 with all 16 rows: the whole capture and the deepest
// zoom, drawn by DrawViewer and, for comparison, the same picture through QPainter alone.
// Random samples: every channel changes on about half of them, the most edges there can be.
#include "display/viewer_picture.h"

#include <QGuiApplication>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <random>

using namespace quillon;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

struct Fixture {
    CaptureData capture;
    EdgeIndex edges;
    ViewerScene scene;

    explicit Fixture(bool deep) {
        std::mt19937 random(7);
        for (int i = 0; i < 4032; ++i) {
            capture.samples.push_back(static_cast<std::uint16_t>(random()));
        }
        capture.triggerSample = 1008;
        edges = IndexEdges(capture);
        scene.capture = &capture;
        scene.edges = &edges;
        scene.footer = "20 ns, 4032 samples, 80.64 us";
        const int width = LayoutForScene(kWidth, kHeight, scene).TraceWidth();
        scene.view = FitAll(4032, width);
        if (deep) {
            scene.view.pixelsPerSample = kMaxPixelsPerSample;
            scene.view.firstSample = 2000.0;
        }
        scene.cursorA = 2010;
        scene.cursorB = 2030;
    }
};

// The same picture with QPainter: lines for the traces, texts as DrawViewer draws them.
void PaintWithQPainter(QImage& image, const ViewerScene& scene) {
    const ViewerLayout layout = LayoutForScene(image.width(), image.height(), scene);
    Viewport view = scene.view;
    view.widthPx = layout.TraceWidth();
    QPainter painter(&image);
    painter.fillRect(image.rect(), Qt::white);
    painter.fillRect(0, 0, layout.TraceLeft(), image.height(), QColor(0xf0, 0xf0, 0xf0));
    const CaptureData& capture = *scene.capture;
    const auto n = static_cast<std::int64_t>(capture.samples.size());
    for (std::size_t row = 0; row < layout.channels.size(); ++row) {
        const int channel = layout.channels[row];
        const int top = layout.RowTop(static_cast<int>(row));
        const int yHigh = top + kTraceMarginPx;
        const int yLow = layout.RowTop(static_cast<int>(row) + 1) - 1 - kTraceMarginPx;
        painter.setPen(QColor(0xe4, 0xe4, 0xe4));
        painter.drawLine(0, top, image.width(), top);
        painter.setPen(QColor::fromRgb(ChannelColour(channel)));
        painter.drawText(20, top + layout.rowHeightPx / 2,
                         QString::fromStdString(capture.names[static_cast<std::size_t>(channel)]));
        std::int64_t column = 0;
        bool level =
            LevelAt(capture, channel, std::clamp<std::int64_t>(SampleAtColumn(view, 0), 0, n - 1));
        for (const std::int64_t e : scene.edges->edges[static_cast<std::size_t>(channel)]) {
            const std::int64_t at = ColumnOfBoundary(view, e);
            if (at < 0) {
                level = LevelAt(capture, channel, e);
                continue;
            }
            if (at >= view.widthPx) {
                break;
            }
            const int y = level ? yHigh : yLow;
            if (at > column) {
                painter.drawLine(layout.TraceLeft() + static_cast<int>(column), y,
                                 layout.TraceLeft() + static_cast<int>(at) - 1, y);
            }
            painter.drawLine(layout.TraceLeft() + static_cast<int>(at), yHigh,
                             layout.TraceLeft() + static_cast<int>(at), yLow);
            column = at + 1;
            level = LevelAt(capture, channel, e);
        }
        const int y = level ? yHigh : yLow;
        painter.drawLine(layout.TraceLeft() + static_cast<int>(column), y,
                         layout.TraceLeft() + view.widthPx - 1, y);
    }
    painter.setPen(Qt::black);
    for (const auto& tick : TimeTicks(view, capture.PeriodPs())) {
        painter.drawText(layout.TraceLeft() + tick.x, 14, QString::fromStdString(tick.label));
    }
    painter.drawText(4, image.height() - 6, QString::fromStdString(scene.footer));
}

void BM_DrawViewer(benchmark::State& state) {
    const Fixture fixture(state.range(0) != 0);
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        DrawViewer(image, fixture.scene);
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_ViewerWithQPainter(benchmark::State& state) {
    const Fixture fixture(state.range(0) != 0);
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        PaintWithQPainter(image, fixture.scene);
        benchmark::DoNotOptimize(image.constBits());
    }
}

} // namespace

// Argument 0: the whole capture in view; 1: the deepest zoom (40 pixels per sample).
BENCHMARK(BM_DrawViewer)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ViewerWithQPainter)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv); // the texts need fonts
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
