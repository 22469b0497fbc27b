// Timed runs of the window against the emulated analyzer: start-up and a capture run, each
// against the floor its fixed pauses set, and the process's peak memory after capturing.
#include "device/protocol.h"
#include "emulator/analyzer_emulator.h"
#include "ui/analyzer_dlg.h"

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <vector>

using namespace quillon;
using Clock = std::chrono::steady_clock;

namespace {

// Start-up: 100 ms after opening, reply wait 30, 100 before the reset, reply wait 30, 50, 30.
constexpr double kStartUpFloorMs = 100 + 30 + 100 + 30 + 50 + 30;
// Run: settings 200, DLD 30, 64 packets x 30, 50 before the redraw, CAP 30.
constexpr double kRunFloorMs = 200 + 30 + 64 * 30 + 50 + 30;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void Report(const char* what, const std::vector<double>& samples, double floor) {
    const double median = Median(samples);
    std::printf("%-28s median %8.1f ms  min %8.1f  max %8.1f  floor %6.0f ms  over floor %+.2f%%\n",
                what, median, *std::min_element(samples.begin(), samples.end()),
                *std::max_element(samples.begin(), samples.end()), floor,
                100.0 * (median - floor) / floor);
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    CAnalyzerEmulator analyzer;
    if (!analyzer.Start()) {
        std::fputs("cannot start the emulator\n", stderr);
        return 1;
    }
    ::setenv("QUILLON_PORTS", ("COM3=" + analyzer.SlavePath()).c_str(), 1);

    std::vector<double> startUp;
    std::vector<double> run;
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = Clock::now();
        CAnalyzerDlg dlg;
        dlg.OnInitDialog();
        dlg.show();
        QCoreApplication::processEvents();
        const auto t1 = Clock::now();
        if (!dlg.m_port.IsOpen()) {
            std::fputs("the analyzer was not found\n", stderr);
            return 1;
        }
        QEventLoop loop;
        Clock::time_point enabled;
        QObject::connect(&dlg, &CAnalyzerDlg::CaptureFinished, &loop, [&] {
            enabled = Clock::now();
            loop.quit();
        });
        const auto t2 = Clock::now();
        dlg.m_buttonRun->click();
        loop.exec();
        startUp.push_back(Ms(t1 - t0));
        run.push_back(Ms(enabled - t2));
        dlg.close();
    }
    std::printf("%d rounds against the emulated analyzer on COM3\n", rounds);
    Report("start-up to window shown", startUp, kStartUpFloorMs);
    Report("Run to Run enabled again", run, kRunFloorMs);
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("%-28s %8.1f MiB (whole process, Qt included)\n", "peak memory after captures",
                static_cast<double>(usage.ru_maxrss) / 1024.0);
    return 0;
}
