// Program start: the application object and its one modal window.
#include "app/analyzer_app.h"

#include "emulator/analyzer_emulator.h"
#include "ui/analyzer_dlg.h"
#include "ui/strings.h"
#include "ui/viewer_wnd.h"

#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

namespace quillon {

namespace {
constexpr int kCaptureTimeoutMs = 60'000;
}

int CAnalyzerApp::Run(int argc, char** argv) {
    QApplication app(argc, argv);
    // Message boxes are captioned with the program file's name: "quillon".
    QApplication::setApplicationVersion(QString::fromLatin1(kAppVersion));
    m_options = ParseAppOptions(QApplication::arguments());
    if (m_options.exitNow) {
        std::fputs(qPrintable(m_options.output), m_options.exitCode == 0 ? stdout : stderr);
        return m_options.exitCode;
    }
    std::optional<CAnalyzerEmulator> emulator;
    if (m_options.demo) {
        emulator.emplace();
        if (!emulator->Start()) {
            std::fputs("quillon: could not start the emulated analyzer\n", stderr);
            return 1;
        }
        // The emulated analyzer is found like any other port.
        ::setenv("QUILLON_PORTS", ("COM1=" + emulator->SlavePath()).c_str(), 1);
    }
    InitInstance();
    return m_nExitCode;
}

bool CAnalyzerApp::InitInstance() {
    if (!m_options.openFile.isEmpty()) {
        m_nExitCode = RunViewer();
        return false;
    }
    if (!m_options.screenshot.isEmpty()) {
        m_nExitCode = RunUnattended();
        return false;
    }
    CAnalyzerDlg dlg;
    dlg.DoModal();
    return false;
}

int CAnalyzerApp::RunViewer() {
    auto* viewer = new CViewerWnd; // deletes itself when closed
    if (m_options.screenshot.isEmpty()) {
        viewer->OpenFile(m_options.openFile); // a file that does not fit: a box, an empty view
        viewer->show();
        return QApplication::exec();
    }
    viewer->setAttribute(Qt::WA_DeleteOnClose, false);
    viewer->SetUnattended(true);
    const std::unique_ptr<CViewerWnd> owner(viewer);
    if (!viewer->OpenFile(m_options.openFile)) {
        return 1;
    }
    if (!viewer->SaveScreenshot(m_options.screenshot)) {
        std::fprintf(stderr, "quillon: cannot write %s\n", qPrintable(m_options.screenshot));
        return 1;
    }
    std::printf("%s\n", qPrintable(QFileInfo(m_options.screenshot).absoluteFilePath()));
    return 0;
}

int CAnalyzerApp::RunUnattended() {
    CAnalyzerDlg dlg;
    dlg.SetUnattended(true);
    dlg.OnInitDialog();
    dlg.show();
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&dlg, &CAnalyzerDlg::CaptureFinished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer::singleShot(kCaptureTimeoutMs, &loop, &QEventLoop::quit);
    dlg.OnRun();
    if (dlg.IsCapturing()) {
        loop.exec();
    }
    QCoreApplication::processEvents(); // the last picture arrives by a queued call
    const bool saved = dlg.grab().save(m_options.screenshot, "PNG");
    dlg.close();
    if (!finished) {
        std::fputs("quillon: the capture did not finish\n", stderr);
        return 1;
    }
    if (!saved) {
        std::fprintf(stderr, "quillon: cannot write %s\n", qPrintable(m_options.screenshot));
        return 1;
    }
    std::printf("%s\n", qPrintable(QFileInfo(m_options.screenshot).absoluteFilePath()));
    return 0;
}

} // namespace quillon
