// Program start: the application object and its one modal window.
#include "app/analyzer_app.h"

#include "app/cli.h"
#include "display/waveform.h"
#include "file/save_file.h"

#include "emulator/analyzer_emulator.h"
#include "ui/analyzer_dlg.h"
#include "ui/decoder_set.h"
#include "ui/strings.h"
#include "ui/viewer_wnd.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

namespace quillon {

namespace {
constexpr int kCaptureTimeoutMs = 60'000;

// Whether the toolkit can show anything: a platform chosen, or a display to use.
bool HasDisplay() {
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}
} // namespace

int CAnalyzerApp::Run(int argc, char** argv) {
    {
        // The options first, without a display: --help and --version need none, and an
        // unattended screenshot chooses its own platform.
        QCoreApplication probe(argc, argv);
        QCoreApplication::setApplicationVersion(QString::fromLatin1(kAppVersion));
        const AppOptions early = ParseAppOptions(QCoreApplication::arguments());
        if (early.exitNow && (early.exitCode == 0 || !HasDisplay())) {
            std::fputs(qPrintable(early.output), early.exitCode == 0 ? stdout : stderr);
            return early.exitCode;
        }
        if (!early.screenshot.isEmpty() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        }
    }
    QApplication app(argc, argv);
    // Message boxes are captioned with the program file's name: "quillon".
    QApplication::setApplicationVersion(QString::fromLatin1(kAppVersion));
    // Parsed again: Qt has taken its own options (-platform, -style ...) out by now.
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
    ApplyOptions(dlg);
    dlg.DoModal();
    return false;
}

void CAnalyzerApp::ApplyOptions(CAnalyzerDlg& dlg) const {
    if (!m_options.replyDelay.isEmpty()) {
        dlg.SetStartReplyDelay(m_options.replyDelay);
    }
}

int CAnalyzerApp::RunViewer() {
    if (m_options.screenshot.isEmpty()) {
        // The window first, then the file: a big file comes in while the window shows its
        // progress. A file that does not fit: a box, an empty view.
        auto* viewer = new CViewerWnd; // Qt deletes it when it is closed
        viewer->OpenFile(m_options.openFile);
        viewer->show();
        return QApplication::exec();
    }
    CViewerWnd viewer(nullptr, true);
    viewer.setAttribute(Qt::WA_DeleteOnClose, false);
    if (!m_options.decoders.isEmpty()) {
        std::vector<std::string> args;
        for (const auto& arg : m_options.decoders) {
            args.push_back(arg.toStdString());
        }
        viewer.Decoders()->SetEntryArgs(args);
    }
    if (!viewer.LoadFile(m_options.openFile)) {
        return 1;
    }
    WaitForDecoders(*viewer.Decoders());
    if (const QStringList& errors = viewer.Decoders()->ArgErrors(); !errors.isEmpty()) {
        std::fprintf(stderr, "quillon: %s\n",
                     qPrintable(errors.join(QStringLiteral("\nquillon: "))));
        return 2;
    }
    if (viewer.Decoders()->IsDecoding()) {
        std::fprintf(stderr,
                     "quillon: the decoders did not finish within %lld s; the picture "
                     "shows no annotations\n",
                     static_cast<long long>(kDecodeWait.count() / 1000));
    }
    std::string reason;
    if (!viewer.SaveScreenshot(m_options.screenshot, reason)) {
        std::fprintf(stderr, "quillon: cannot write %s: %s\n", qPrintable(m_options.screenshot),
                     reason.c_str());
        return kCliWriteFailed; // as the main window's screenshot
    }
    std::printf("%s\n", qPrintable(QFileInfo(m_options.screenshot).absoluteFilePath()));
    return 0;
}

int CAnalyzerApp::RunUnattended() {
    CAnalyzerDlg dlg;
    ApplyOptions(dlg);
    dlg.SetUnattended(true);
    dlg.OnInitDialog();
    const bool found = dlg.Session().Port().IsOpen();
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
    // The picture is written whatever the capture was; the exit status tells a script.
    const std::string png = EncodePng(dlg.grab().toImage());
    std::string reason = "cannot encode the picture";
    const bool saved =
        !png.empty() &&
        WriteWholeFile(QFile::encodeName(m_options.screenshot).toStdString(), png, reason);
    const CaptureResult result = dlg.LastRunResult();
    dlg.close();
    if (!saved) {
        std::fprintf(stderr, "quillon: cannot write %s: %s\n", qPrintable(m_options.screenshot),
                     reason.c_str());
        return kCliWriteFailed;
    }
    std::printf("%s\n", qPrintable(QFileInfo(m_options.screenshot).absoluteFilePath()));
    if (!found) {
        std::fputs("quillon: no analyzer found; the picture shows no capture\n", stderr);
        return kCliNoAnalyzer;
    }
    // Packets beyond the kept samples are stored nowhere: their loss leaves the capture whole.
    if (!finished || !KeptSamplesReceived(result)) {
        std::fprintf(stderr, "quillon: incomplete capture: %d of %d packets received\n",
                     finished ? result.packetsAccepted : 0, kPacketsPerDownload);
        return kCliLinkLost;
    }
    return kCliOk;
}

} // namespace quillon
