// Timed runs of the window against the emulated analyzer: start-up and a capture run, each
// against the floor its fixed pauses set, a capture run normal and with fast download against
// an analyzer paced at 921600 baud, and the process's peak memory after capturing.
// With --soak N: N captures in one window, each saved as VCD, with the resident memory and
// the open descriptors at the start, after 25 and after N runs (bench/soak.sh).
#include "device/protocol.h"
#include "emulator/analyzer_emulator.h"
#include "ui/analyzer_dlg.h"
#include "ui/dialog_template.h"

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace quillon;
using Clock = std::chrono::steady_clock;

namespace {

// Start-up: 100 ms after opening, reply wait 30, 100 before the reset, reply wait 30, 50, 30.
constexpr double kStartUpFloorMs = 100 + 30 + 100 + 30 + 50 + 30;
// Run: settings 200, DLD 30, 64 packets x 30, 50 before the redraw, CAP 30.
constexpr double kRunFloorMs = 200 + 30 + 64 * 30 + 50 + 30;
constexpr int kLineBaud = 921600;
// A packet's time on the line: 256 bytes of 10 bits.
constexpr double kPacketLineMs = 256.0 * kBitsPerByte * 1000.0 / kLineBaud;
// Fast run: the packets' line time instead of their pauses.
constexpr double kFastFloorMs = 200 + 30 + 64 * kPacketLineMs + 50 + 30;
// ... and the quiet gap that must follow each packet before it is taken.
constexpr double kFastGapFloorMs =
    kFastFloorMs + 64 * std::chrono::duration<double, std::milli>(kFastQuietGap).count();

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

struct Rounds {
    std::vector<double> startUp;
    std::vector<double> run;
    int warnings = 0; ///< packet warnings (a loaded machine can stall the emulator past a pause)
};

/// rounds windows on the analyzer at path: each started up, then one capture with Run.
bool Measure(const std::string& path, int rounds, bool bFast, Rounds& out) {
    ::setenv("QUILLON_PORTS", ("COM3=" + path).c_str(), 1);
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = Clock::now();
        CAnalyzerDlg dlg;
        dlg.SetUnattended(true); // a warning must not wait for a user
        QObject::connect(&dlg, &CAnalyzerDlg::MessageShown, [&out] { ++out.warnings; });
        dlg.OnInitDialog();
        dlg.show();
        QCoreApplication::processEvents();
        const auto t1 = Clock::now();
        if (!dlg.Session().Port().IsOpen()) {
            std::fputs("the analyzer was not found\n", stderr);
            return false;
        }
        dlg.SetFastDownload(bFast);
        QEventLoop loop;
        Clock::time_point enabled;
        QObject::connect(&dlg, &CAnalyzerDlg::CaptureFinished, &loop, [&] {
            enabled = Clock::now();
            loop.quit();
        });
        const auto t2 = Clock::now();
        qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_RUN))->click();
        loop.exec();
        out.startUp.push_back(Ms(t1 - t0));
        out.run.push_back(Ms(enabled - t2));
        dlg.close();
    }
    return true;
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

long OpenDescriptors() {
    long count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count - 1; // the iterator's own
}

void ReportResources(const char* when) {
    std::printf("window  %-14s RSS %6.1f MB  fds %ld\n", when, ResidentKiB() / 1024.0,
                OpenDescriptors());
    std::fflush(stdout);
}

// Flat figures from run 25 on mean nothing grows from run to run.
int RunSoak(int runs) {
    QTemporaryDir dir;
    CAnalyzerDlg dlg;
    dlg.SetUnattended(true);
    dlg.OnInitDialog();
    dlg.show();
    if (!dlg.Session().Port().IsOpen()) {
        std::fputs("the analyzer was not found\n", stderr);
        return 1;
    }
    ReportResources("at start");
    int incomplete = 0;
    for (int i = 1; i <= runs; ++i) {
        QEventLoop loop;
        QObject::connect(&dlg, &CAnalyzerDlg::CaptureFinished, &loop, &QEventLoop::quit);
        qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_RUN))->click();
        loop.exec();
        if (!dlg.SaveCapture(dir.filePath(QStringLiteral("soak.vcd")))) {
            std::fprintf(stderr, "run %d: not saved\n", i);
            return 1;
        }
        // A loaded machine may make the analyzer late: counted, not a failure of the soak.
        incomplete += dlg.CurrentCapture().MissingCount() != 0 ? 1 : 0;
        if (i == 25 || i == runs) {
            ReportResources(("after " + std::to_string(i) + " runs").c_str());
        }
    }
    std::printf("window  %d of %d captures incomplete\n", incomplete, runs);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const bool soak = argc > 2 && std::string(argv[1]) == "--soak";
    const int rounds = soak ? std::atoi(argv[2]) : argc > 1 ? std::atoi(argv[1]) : 7;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    CAnalyzerEmulator analyzer;
    if (!analyzer.Start()) {
        std::fputs("cannot start the emulator\n", stderr);
        return 1;
    }
    if (soak) {
        ::setenv("QUILLON_PORTS", ("COM3=" + analyzer.SlavePath()).c_str(), 1);
        return RunSoak(rounds);
    }
    EmulatorOptions pacedOptions;
    pacedOptions.lineRateBaud = kLineBaud;
    CAnalyzerEmulator paced(pacedOptions);
    if (!paced.Start()) {
        std::fputs("cannot start the paced emulator\n", stderr);
        return 1;
    }

    Rounds plain;
    Rounds pacedNormal;
    Rounds pacedFast;
    if (!Measure(analyzer.SlavePath(), rounds, false, plain) ||
        !Measure(paced.SlavePath(), rounds, false, pacedNormal) ||
        !Measure(paced.SlavePath(), rounds, true, pacedFast)) {
        return 1;
    }
    std::printf("%d rounds against the emulated analyzer on COM3\n", rounds);
    Report("start-up to window shown", plain.startUp, kStartUpFloorMs);
    Report("Run to Run enabled again", plain.run, kRunFloorMs);
    std::printf("at %d baud, 10 bits a byte (a packet %.2f ms on the line):\n", kLineBaud,
                kPacketLineMs);
    Report("  Run, normal", pacedNormal.run, kRunFloorMs);
    Report("  Run, fast download", pacedFast.run, kFastFloorMs);
    Report("  Run, fast, floor with gap", pacedFast.run, kFastGapFloorMs);
    std::printf("warnings (should be 0): %d, %d, %d\n", plain.warnings, pacedNormal.warnings,
                pacedFast.warnings);
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("%-28s %8.1f MiB (whole process, Qt included)\n", "peak memory after captures",
                static_cast<double>(usage.ru_maxrss) / 1024.0);
    return 0;
}
