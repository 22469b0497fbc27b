// The waveform viewer at work. Two kinds of figures:
//
//   bench_viewer [--benchmark_...]   DrawViewer's whole 1920 x 1080 picture (Google Benchmark)
//                                    for captures of 4032 samples to 10 M of the benchmarks'
//                                    content, at the whole view, a middle zoom and the deepest.
//   bench_viewer --open FILE [--steps N]
//   bench_viewer --made SAMPLES [--steps N]
//                                    the viewer window at 1920 x 1080 reading FILE: time to
//                                    the first frame and to the whole picture, then wheel
//                                    steps, drags and arrow keys from the whole view inwards,
//                                    each timed from the event to the repainted window
//                                    (median, 95th percentile), and the peak resident set.
//                                    One line of key=value pairs. --made: the benchmarks'
//                                    content made in memory instead (the window's share
//                                    alone, no file read).
#include "bench/bench_content.h"
#include "display/viewer_picture.h"
#include "ui/viewer_wnd.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace quillon;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// ---- The picture alone ----------------------------------------------------------------

const CapturePtr& ContentOf(std::int64_t samples) {
    // Made once per size for all the benchmarks that draw it.
    static std::map<std::int64_t, CapturePtr> made; // NOLINT: the benchmark's own cache
    auto& capture = made[samples];
    if (!capture) {
        capture = bench::MakeBenchCapture(samples);
    }
    return capture;
}

void BM_DrawViewer(benchmark::State& state) {
    const CapturePtr& capture = ContentOf(state.range(0));
    ViewerScene scene;
    scene.capture = capture.get();
    for (int c = 0; c < capture->ChannelCount(); ++c) {
        scene.rows.push_back(c);
    }
    scene.footer = "20 ns    10000000 samples    200 ms";
    const int width = LayoutForScene(kWidth, kHeight, scene).TraceWidth();
    scene.view = FitAll(capture->SampleCount(), width);
    const double middle = static_cast<double>(capture->SampleCount()) / 2;
    // 0: the whole capture; then 1/256, 1/16 and 1 pixel a sample, and the deepest zoom,
    // each from the middle on.
    constexpr double kZooms[] = {0.0, 1.0 / 256, 1.0 / 16, 1.0, kMaxPixelsPerSample};
    const double zoom = kZooms[state.range(1)];
    if (zoom > scene.view.pixelsPerSample) {
        scene.view.pixelsPerSample = zoom;
        scene.view.firstSample = middle;
    }
    scene.cursorA = capture->SampleCount() / 3;
    scene.cursorB = capture->SampleCount() / 2;
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        DrawViewer(image, scene);
        benchmark::DoNotOptimize(image.constBits());
    }
}

// ---- The window -----------------------------------------------------------------------

struct Figures {
    std::vector<double> ms;
    void Add(double value) { ms.push_back(value); }
    [[nodiscard]] double Quantile(double q) const {
        if (ms.empty()) {
            return 0.0;
        }
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        const auto at = static_cast<std::size_t>(q * static_cast<double>(sorted.size() - 1) + 0.5);
        return sorted[std::min(at, sorted.size() - 1)];
    }
};

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Times one input event: sent to the canvas, then the window repainted at once, as the next
// frame would paint it.
template <typename Send> double TimeEvent(QWidget* canvas, Send send) {
    const auto start = Clock::now();
    send();
    canvas->repaint();
    return MsSince(start);
}

int RunWindow(const QString& path, std::int64_t made, int steps, Clock::time_point start) {
    const auto viewer = std::make_unique<CViewerWnd>(nullptr, true);
    viewer->setAttribute(Qt::WA_DeleteOnClose, false);
    viewer->resize(kWidth, kHeight);
    if (made == 0) {
        viewer->OpenFile(path);
    }
    viewer->show();
    QWidget* canvas = viewer->Canvas();
    while (viewer->windowHandle() == nullptr || !viewer->windowHandle()->isExposed()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    canvas->repaint();
    const double firstFrame = MsSince(start);
    if (made > 0) {
        viewer->ShowCapture(bench::MakeBenchCapture(made), path);
    } else if (!viewer->WaitForFile()) {
        std::fprintf(stderr, "bench_viewer: %s was not shown\n", qPrintable(path));
        return 1;
    }
    canvas->repaint();
    const double picture = MsSince(start);
    const long rssPicture = PeakRssKiB();

    // From the whole view inwards and out again, a notch at a time about the middle.
    Figures zoom;
    const QPointF middle(canvas->width() / 2.0 + 48, canvas->height() / 2.0);
    const auto wheel = [&](int notches) {
        QWheelEvent event(middle, canvas->mapToGlobal(middle), QPoint(), QPoint(0, 120 * notches),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(canvas, &event);
    };
    int inwards = 0;
    while (inwards < steps && viewer->View().pixelsPerSample < kMaxPixelsPerSample) {
        zoom.Add(TimeEvent(canvas, [&] { wheel(1); }));
        ++inwards;
    }
    for (int k = 0; k < inwards; ++k) {
        zoom.Add(TimeEvent(canvas, [&] { wheel(-1); }));
    }

    // Drags and arrow keys at a few zooms from the whole view inwards.
    Figures drag;
    Figures arrow;
    const int y = canvas->height() / 2;
    for (int level = 0; level < 6; ++level) {
        if (level > 0) {
            wheel(8); // 1.25^8: about six times closer
        }
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(900, y),
                          canvas->mapToGlobal(QPointF(900, y)), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(canvas, &press);
        for (int k = 1; k <= 10; ++k) {
            const QPointF at(900 - 20 * k, y);
            drag.Add(TimeEvent(canvas, [&] {
                QMouseEvent move(QEvent::MouseMove, at, canvas->mapToGlobal(at), Qt::NoButton,
                                 Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(canvas, &move);
            }));
        }
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(700, y),
                            canvas->mapToGlobal(QPointF(700, y)), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(canvas, &release);
        for (int k = 0; k < 10; ++k) {
            arrow.Add(TimeEvent(canvas, [&] {
                QKeyEvent key(QEvent::KeyPress, k % 2 == 0 ? Qt::Key_Right : Qt::Key_Left,
                              Qt::NoModifier);
                QApplication::sendEvent(canvas, &key);
            }));
        }
    }
    std::printf("file=%s first_frame_ms=%.0f picture_ms=%.0f zoom_median_ms=%.1f "
                "zoom_p95_ms=%.1f zoom_steps=%zu drag_median_ms=%.1f drag_p95_ms=%.1f "
                "arrow_median_ms=%.1f arrow_p95_ms=%.1f rss_picture_kib=%ld peak_rss_kib=%ld\n",
                qPrintable(path), firstFrame, picture, zoom.Quantile(0.5), zoom.Quantile(0.95),
                zoom.ms.size(), drag.Quantile(0.5), drag.Quantile(0.95), arrow.Quantile(0.5),
                arrow.Quantile(0.95), rssPicture, PeakRssKiB());
    return 0;
}

} // namespace

// Argument 0: samples; argument 1: 0 the whole capture, 1 256 samples a pixel, 2 16 samples
// a pixel, 3 one pixel a sample, 4 the deepest zoom (40 pixels a sample).
BENCHMARK(BM_DrawViewer)
    ->ArgsProduct({{4032, 1'000'000, 10'000'000}, {0, 1, 2, 3, 4}})
    ->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    const auto start = Clock::now();
    QString open;
    std::int64_t made = 0;
    int steps = 1000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--open") == 0) {
            open = QString::fromLocal8Bit(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--made") == 0) {
            made = std::atoll(argv[i + 1]);
            open = QStringLiteral("/nonexistent/made-%1.vcd").arg(made);
        } else if (std::strcmp(argv[i], "--steps") == 0) {
            steps = std::atoi(argv[i + 1]);
        }
    }
    QApplication app(argc, argv); // the texts need fonts
    if (!open.isEmpty()) {
        return RunWindow(open, made, steps, start);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
