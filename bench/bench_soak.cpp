// Soak of the window: 100 captures against the emulated analyzer in one process, each saved
// as VCD, with the resident memory and the open descriptors at the start, after 25 and after
// 100 runs. Flat figures mean nothing grows from run to run.
#include "emulator/analyzer_emulator.h"
#include "ui/analyzer_dlg.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace quillon;

namespace {

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

void Report(const char* when) {
    std::printf("window  %-14s RSS %6.1f MB  fds %ld\n", when, ResidentKiB() / 1024.0,
                OpenDescriptors());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 100;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    CAnalyzerEmulator analyzer;
    if (!analyzer.Start()) {
        std::fputs("cannot start the emulator\n", stderr);
        return 1;
    }
    ::setenv("QUILLON_PORTS", ("COM3=" + analyzer.SlavePath()).c_str(), 1);
    QTemporaryDir dir;
    CAnalyzerDlg dlg;
    dlg.SetUnattended(true);
    dlg.OnInitDialog();
    dlg.show();
    if (!dlg.m_port.IsOpen()) {
        std::fputs("the analyzer was not found\n", stderr);
        return 1;
    }
    Report("at start");
    int incomplete = 0;
    for (int i = 1; i <= runs; ++i) {
        QEventLoop loop;
        QObject::connect(&dlg, &CAnalyzerDlg::CaptureFinished, &loop, &QEventLoop::quit);
        dlg.m_buttonRun->click();
        loop.exec();
        if (!dlg.SaveCapture(dir.filePath(QStringLiteral("soak.vcd")))) {
            std::fprintf(stderr, "run %d: not saved\n", i);
            return 1;
        }
        // A loaded machine may make the analyzer late: counted, not a failure of the soak.
        incomplete += dlg.CurrentCapture().MissingCount() != 0 ? 1 : 0;
        if (i == 25 || i == runs) {
            Report(("after " + std::to_string(i) + " runs").c_str());
        }
    }
    std::printf("window  %d of %d captures incomplete\n", incomplete, runs);
    return 0;
}
