// The viewer as a user reaches it: opened by a double click on the main window's waveform,
// zoomed with the wheel, cursors A and B placed by clicks, the status bar read; it follows
// the next Run keeping its zoom, and a file that does not fit leaves it as it was.
#include "device/protocol.h"
#include "emulator_port.h"
#include "message_box_closer.h"
#include "support/extra_rows.h"
#include "dlg_controls.h"
#include "ui/analyzer_dlg.h"
#include "ui/dialog_template.h"
#include "ui/viewer_capture_bar.h"
#include "ui/viewer_wnd.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <fstream>
#include <optional>

using namespace quillon;

namespace {
constexpr int kRunTimeoutMs = 15000;
constexpr int kNamesWidthPx = 96; // the picture's names column

// An edge well inside the view (not at its ends).
bool IsWellInView(const Viewport& view, std::int64_t edge) {
    const double x = view.XOfBoundary(static_cast<double>(edge));
    return x > 50 && x < view.widthPx - 50;
}

void RunOnce(CAnalyzerDlg& dlg) {
    QSignalSpy finished(&dlg, &CAnalyzerDlg::CaptureFinished);
    QTest::mouseClick(test::RunButton(dlg), Qt::LeftButton);
    QVERIFY(finished.wait(kRunTimeoutMs));
}

QStringList StatusTexts(CViewerWnd& viewer) {
    QStringList texts;
    for (auto* label : viewer.statusBar()->findChildren<QLabel*>()) {
        texts << label->text();
    }
    return texts;
}
} // namespace

class TestViewerGui : public QObject {
    Q_OBJECT
    std::optional<CAnalyzerEmulator> m_emulator;
    QTemporaryDir m_config;

private slots:
    void initTestCase() {
        // The viewer keeps names and geometry per user: not in the real user's settings.
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        QVERIFY(test::StartEmulatorOnCom3(m_emulator));
    }

    void openedFromTheMainWindowZoomedAndMeasured() {
        test::MessageBoxCloser closer;
        CAnalyzerDlg dlg;
        dlg.OnInitDialog();
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        RunOnce(dlg);

        QTest::mouseDClick(dlg.GetDlgItem(IDC_PICTURE), Qt::LeftButton);
        QPointer<CViewerWnd> viewer = dlg.Viewer();
        QVERIFY(viewer != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(viewer));
        QCOMPARE(viewer->Capture()->SampleCount(), std::int64_t{4032});
        QVERIFY(viewer->IsLive());
        dlg.OnOpenViewer(); // one viewer at a time
        QCOMPARE(dlg.Viewer(), viewer.data());

        // One wheel notch zooms in by 1.25 about the pointer.
        QWidget* canvas = viewer->Canvas();
        const Viewport before = viewer->View();
        const QPointF at(kNamesWidthPx + 400, canvas->height() / 2);
        QWheelEvent wheel(at, canvas->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(canvas, &wheel);
        QCOMPARE(viewer->View().pixelsPerSample, before.pixelsPerSample * 1.25);
        QVERIFY(std::abs(viewer->View().SampleAtX(400) - before.SampleAtX(400)) < 1e-6);

        // Clicks on the time axis (no row there, so no snapping): A, then B with Shift.
        QTest::mouseClick(canvas, Qt::LeftButton, Qt::NoModifier, QPoint(kNamesWidthPx + 100, 8));
        QTest::mouseClick(canvas, Qt::LeftButton, Qt::ShiftModifier,
                          QPoint(kNamesWidthPx + 500, 8));
        const Viewport view = viewer->View();
        QCOMPARE(viewer->CursorA(), std::llround(view.SampleAtX(100)));
        QCOMPARE(viewer->CursorB(), std::llround(view.SampleAtX(500)));
        const std::int64_t samples = *viewer->CursorB() - *viewer->CursorA();
        const QString text = viewer->CursorText();
        QVERIFY2(text.startsWith(QStringLiteral("A: ")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("B: ")));
        QVERIFY(text.contains(QStringLiteral("Δt: ")));
        QVERIFY(text.contains(QStringLiteral("1/Δt: ")));
        QVERIFY(text.endsWith(QStringLiteral("サンプル数: %1").arg(samples)));
        QVERIFY(StatusTexts(*viewer).contains(text));

        // Keys move the zoomed view; End and Home reach the ends of the capture.
        QTest::keyClick(canvas, Qt::Key_End);
        QCOMPARE(viewer->View().firstSample + viewer->View().VisibleSamples(), 4032.0);
        QTest::keyClick(canvas, Qt::Key_PageUp);
        QVERIFY(viewer->View().firstSample + viewer->View().VisibleSamples() < 4032.0);
        QTest::keyClick(canvas, Qt::Key_Home);
        QCOMPARE(viewer->View().firstSample, 0.0);
        QTest::keyClick(canvas, Qt::Key_PageDown);
        const Viewport kept = viewer->View();
        QCOMPARE(kept.firstSample, std::min(kept.VisibleSamples(), 4032.0 - kept.VisibleSamples()));

        // The pointer over a row measures there.
        QTest::mouseMove(canvas, QPoint(kNamesWidthPx + 300, canvas->height() - 60));
        QVERIFY(!viewer->HoverText().isEmpty());

        // A click over D0 (the bottom row) 3 pixels beside one of its edges snaps A to it.
        const ViewerLayout layout = viewer->Layout();
        QCOMPARE(layout.RowOfChannel(0), 15); // D15 at the top, as in the main window
        std::optional<std::int64_t> edge = viewer->Capture()->NextEdge(0, 0);
        while (edge && !IsWellInView(kept, *edge)) {
            edge = viewer->Capture()->NextEdge(0, *edge + 1);
        }
        QVERIFY(edge.has_value());
        const int x = static_cast<int>(kept.XOfBoundary(static_cast<double>(*edge))) + 3;
        QTest::mouseClick(canvas, Qt::LeftButton, Qt::NoModifier,
                          QPoint(kNamesWidthPx + x, layout.RowTop(15) + layout.rowHeightPx / 2));
        QCOMPARE(viewer->CursorA(), *edge);

        // A row of annotations under the channels (as a protocol decoder adds them).
        viewer->SetExtraRows({test::OneBoxRow("UART", 0, 4032, "H")});
        QTest::mouseMove(canvas, QPoint(kNamesWidthPx + 300, canvas->height() - 40));
        QCOMPARE(viewer->HoverText(), QStringLiteral("UART: H"));
        viewer->SetExtraRows({});

        // The next Run replaces the capture and keeps the zoom and position.
        RunOnce(dlg);
        QCOMPARE(viewer->View().pixelsPerSample, kept.pixelsPerSample);
        QCOMPARE(viewer->View().firstSample, kept.firstSample);

        // A file that does not fit: a box naming file and line; the capture stays.
        const QString bad = m_config.filePath(QStringLiteral("bad.csv"));
        std::ofstream(bad.toStdString()) << "time_ns,D0\n0,1\n20,7\n";
        const CapturePtr shown = viewer->Capture();
        QVERIFY(!viewer->LoadFile(bad));
        QTRY_VERIFY2(closer.m_texts.size() >= 1, "no box");
        QVERIFY2(closer.m_texts.size() == 1,
                 qPrintable(closer.m_texts.join(QStringLiteral(" / "))));
        QVERIFY2(closer.m_texts[0].contains(QStringLiteral("bad.csv:3: level '7'")),
                 qPrintable(closer.m_texts[0]));
        QVERIFY(viewer->Capture() == shown);
        QVERIFY(viewer->IsLive());
        viewer->close();
        QTRY_VERIFY(viewer.isNull());
        dlg.close();
    }
    void captureToolBarDrivesTheMainWindow() {
        test::MessageBoxCloser closer;
        CAnalyzerDlg dlg;
        dlg.OnInitDialog();
        dlg.show();
        dlg.OnOpenViewer();
        QPointer<CViewerWnd> viewer = dlg.Viewer();
        QVERIFY(viewer != nullptr);
        auto* bar = viewer->findChild<CViewerCaptureBar*>();
        QVERIFY(bar != nullptr);

        // The settings are the window's own, whichever side changes them.
        bar->RepeatAction()->trigger();
        QVERIFY(dlg.IsRepeat());
        dlg.SetFastDownload(true);
        QVERIFY(bar->FastAction()->isChecked());
        bar->FastAction()->trigger();
        QVERIFY(!dlg.IsFastDownload());

        // Run repeats until Stop; Run is disabled here as there while it lasts.
        QSignalSpy finished(&dlg, &CAnalyzerDlg::CaptureFinished);
        bar->RunAction()->trigger();
        QVERIFY(dlg.IsCapturing());
        QVERIFY(!bar->RunAction()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(finished.size() >= 2, 2 * kRunTimeoutMs);
        QVERIFY(!bar->RunAction()->isEnabled());
        bar->StopAction()->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(bar->RunAction()->isEnabled(), kRunTimeoutMs);
        QVERIFY(test::RunButton(dlg)->isEnabled());
        QVERIFY(!dlg.IsRepeating());
        QCOMPARE(viewer->Capture()->SampleCount(), std::int64_t{4032});
        QVERIFY2(closer.m_texts.isEmpty(), qPrintable(closer.m_texts.join(QStringLiteral(" / "))));
        dlg.SetRepeat(false);
        QVERIFY(!bar->RepeatAction()->isChecked());
        viewer->close();
        dlg.close();
    }
    // A packet warning does not halt a repetition: it is counted in the viewer's status bar
    // and the captures go on. A single run keeps its box.
    void repetitionShowsPacketWarningsWithoutHalting() {
        EmulatorOptions faulty;
        faulty.fault = EmulatorFault::LongPacket;
        faulty.faultPacket = 7;
        std::optional<CAnalyzerEmulator> analyzer;
        QVERIFY(test::StartEmulatorOnCom3(analyzer, faulty));
        test::MessageBoxCloser closer;
        CAnalyzerDlg dlg;
        dlg.OnInitDialog();
        dlg.show();
        dlg.SetFastDownload(true);
        dlg.OnOpenViewer();
        QPointer<CViewerWnd> viewer = dlg.Viewer();
        auto* bar = viewer->findChild<CViewerCaptureBar*>();
        QVERIFY(bar != nullptr && bar->WarningLabel() != nullptr);
        QVERIFY(!bar->WarningLabel()->isVisible());

        dlg.SetRepeat(true);
        QSignalSpy finished(&dlg, &CAnalyzerDlg::CaptureFinished);
        QSignalSpy warned(&dlg, &CAnalyzerDlg::PacketWarningShown);
        bar->RunAction()->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(finished.size() >= 3, 3 * kRunTimeoutMs);
        QVERIFY(dlg.IsRepeating());
        bar->StopAction()->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.IsRepeating() && !dlg.IsCapturing(), kRunTimeoutMs);
        QVERIFY(closer.m_texts.isEmpty()); // no box held the captures up
        QVERIFY(warned.size() >= 3);
        const QString text = QString::fromStdString(PacketWarningText(257)).simplified();
        QCOMPARE(warned.last().at(0).toString(), text);
        QCOMPARE(warned.last().at(1).toInt(), static_cast<int>(warned.size()));
        QVERIFY(bar->WarningLabel()->isVisible());
        QVERIFY2(bar->WarningLabel()->text().contains(QStringLiteral("%1 件").arg(warned.size())),
                 qPrintable(bar->WarningLabel()->text()));
        // The bytes beyond packet 7 came with it: packets 6 and 7 are hatched, not wrong.
        QCOMPARE(viewer->Capture()->MissingCount(), std::int64_t{256});

        dlg.SetRepeat(false);
        const auto warnedInRepetition = warned.size();
        RunOnce(dlg);
        QCOMPARE(closer.m_texts, QStringList{QString::fromStdString(PacketWarningText(257))});
        QCOMPARE(warned.size(), warnedInRepetition); // the box instead of the status text
        viewer->close();
        dlg.close();
        QVERIFY(test::StartEmulatorOnCom3(m_emulator));
    }
};

QTEST_MAIN(TestViewerGui)
#include "test_viewer_gui.moc"
