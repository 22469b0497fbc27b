// The window's capture run against the emulated analyzer: Run, trigger, Stop, zoom and
// rate, the packet warning, closing in the middle of a run, and the context menu's capturing
// choices (repeated capture, fast download, searching the analyzer again).
#include "display/timebase.h"
#include "emulator_port.h"
#include "message_box_closer.h"
#include "support/far_end.h"
#include "dlg_controls.h"
#include "ui/analyzer_dlg.h"
#include "ui/dialog_template.h"
#include "ui/spin_button_ctrl.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <optional>

using namespace quillon;
using namespace std::chrono_literals;

namespace {

constexpr int kRunTimeoutMs = 15000;

int CountCommand(const std::vector<CAnalyzerEmulator::LoggedCommand>& log, const std::string& c) {
    return static_cast<int>(
        std::count_if(log.begin(), log.end(), [&](const auto& l) { return l.text == c; }));
}

int CountColour(const QImage& image, QRgb colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            n += image.pixel(x, y) == colour ? 1 : 0;
        }
    }
    return n;
}

QString TimebaseText(CAnalyzerDlg& dlg) {
    return qobject_cast<QLineEdit*>(dlg.GetDlgItem(IDC_TIMEBASE))->text();
}

// A scripted analyzer that never triggers and answers every packet request.
std::string NeverTriggers(const std::string& c) {
    if (c == "REQPN\r") {
        return "KPNQUILLNV01\r";
    }
    if (c == "REQTR\r") {
        return "KNTR\r";
    }
    if (c == "REQPK\r") {
        return std::string(256, '\x0f');
    }
    return {};
}

/// Picks the context menu's item with this text, as the user does.
void ChooseMenuItem(CAnalyzerDlg& dlg, const char* text, bool* pEnabled = nullptr) {
    QTimer::singleShot(50, [&dlg, text, pEnabled] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu != nullptr);
        for (QAction* a : menu->actions()) {
            if (a->text() == QString::fromUtf8(text)) {
                if (pEnabled != nullptr) {
                    *pEnabled = a->isEnabled();
                }
                menu->close();
                if (a->isEnabled()) {
                    a->trigger();
                }
                return;
            }
        }
        menu->close();
        QFAIL(text);
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(100, 100),
                            dlg.mapToGlobal(QPoint(100, 100)));
    QApplication::sendEvent(&dlg, &event);
}

} // namespace

class TestCaptureGui : public QObject {
    Q_OBJECT

    std::optional<CAnalyzerEmulator> m_emulator;
    std::optional<test::MessageBoxCloser> m_closer;

    void StartEmulator() { QVERIFY(test::StartEmulatorOnCom3(m_emulator)); }
    static void Open(CAnalyzerDlg& dlg) {
        dlg.OnInitDialog();
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    }
    static bool RunOnce(CAnalyzerDlg& dlg) {
        QSignalSpy finished(&dlg, &CAnalyzerDlg::CaptureFinished);
        QTest::mouseClick(test::RunButton(dlg), Qt::LeftButton);
        return finished.wait(kRunTimeoutMs);
    }

private slots:
    void init() { m_closer.emplace(); }
    void cleanup() {
        m_closer.reset();
        m_emulator.reset();
        ::setenv("QUILLON_PORTS", "", 1);
    }

    void plainRunStoresAndDrawsTheCapture() {
        StartEmulator();
        CAnalyzerDlg dlg;
        Open(dlg);
        QVERIFY(dlg.Session().Port().IsOpen());
        QCOMPARE(dlg.Session().Port().DevicePath(), m_emulator->SlavePath());
        QSignalSpy finished(&dlg, &CAnalyzerDlg::CaptureFinished);
        QTest::mouseClick(test::RunButton(dlg), Qt::LeftButton);
        QVERIFY(!test::RunButton(dlg)->isEnabled());
        QTest::mouseClick(test::RunButton(dlg), Qt::LeftButton); // disabled: no second run
        QVERIFY(finished.wait(kRunTimeoutMs));
        QVERIFY(test::RunButton(dlg)->isEnabled());
        QVERIFY(test::RunButton(dlg)->hasFocus()); // clicked, so it had the focus, and has it again
        QVERIFY(m_closer->m_texts.isEmpty());

        const auto log = m_emulator->Commands();
        QCOMPARE(CountCommand(log, "SD" + std::string(24, '0') + "\r"), 1);
        QCOMPARE(CountCommand(log, "REQPK\r"), 64);
        QCOMPARE(log.back().text, std::string("CAP\r"));
        const auto capture = m_emulator->LastCapture();
        QVERIFY(capture.has_value());
        const SampleStore store = dlg.SnapshotStore();
        for (int i = 0; i < SampleStore::kSamplesPerCapture; ++i) {
            QCOMPARE(store.GetSample(i), capture->samples[static_cast<std::size_t>(i)]);
        }
        QCOMPARE(store.m_fillLow, 8192);
        // The view shows traces in their colours over the grid.
        const QImage view = dlg.ViewImage();
        QVERIFY(CountColour(view, qRgb(200, 0, 255)) > 300);
        QVERIFY(CountColour(view, qRgb(0, 0, 255)) > 300);
        // Covered and uncovered: the picture stays.
        dlg.hide();
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QCOMPARE(dlg.ViewImage(), view);
        QCOMPARE(dlg.grab().toImage().copy(23, 23, 600, 320).convertToFormat(QImage::Format_RGB32),
                 view.convertToFormat(QImage::Format_RGB32));
    }

    void zoomAndRateFollowTheTables() {
        StartEmulator();
        CAnalyzerDlg dlg;
        Open(dlg);
        QVERIFY(RunOnce(dlg));
        const QImage afterRun = dlg.ViewImage();
        const std::pair<QRadioButton*, int> rates[] = {{test::Rate20ns(dlg), 1},
                                                       {test::Rate200ns(dlg), 10},
                                                       {test::Rate2us(dlg), 100},
                                                       {test::Rate20us(dlg), 1000}};
        // Walk the spin from 5 down to 0 and up to 7, each at every rate.
        for (int position : {4, 3, 2, 1, 0, 0, 1, 2, 3, 4, 5, 6, 7, 7}) {
            const int before = test::ZoomSpin(dlg)->GetPos();
            QTest::mouseClick(position < before || (position == 0 && before == 0)
                                  ? test::ZoomSpin(dlg)->LeftArrow()
                                  : test::ZoomSpin(dlg)->RightArrow(),
                              Qt::LeftButton);
            QCOMPARE(test::ZoomSpin(dlg)->GetPos(), position);
            const std::string zoom(ZoomLabelForPosition(position));
            QCOMPARE(dlg.ZoomLabel().toStdString(), zoom);
            for (const auto& [radio, rate] : rates) {
                const QImage beforeRate = dlg.ViewImage();
                QTest::mouseClick(radio, Qt::LeftButton);
                QCOMPARE(dlg.Rate(), rate);
                QCOMPARE(TimebaseText(dlg).toStdString(),
                         std::string(*TimebaseLabelFor(zoom, rate)));
                QCOMPARE(dlg.ViewImage(), beforeRate); // a rate change alone does not redraw
            }
            QTest::mouseClick(test::Rate20ns(dlg), Qt::LeftButton);
        }
        QVERIFY(dlg.ViewImage() != afterRun); // zoom changes redrew the view
        // Back at 1us/d and rate 1 the picture is the run's picture again.
        for (int i = 0; i < 2; ++i) {
            QTest::mouseClick(test::ZoomSpin(dlg)->LeftArrow(), Qt::LeftButton);
        }
        QCOMPARE(dlg.ZoomLabel(), QStringLiteral("1us/d"));
        QCOMPARE(dlg.ViewImage(), afterRun);
        // "20us" at "1us/d": 1ms/d, as the table says.
        QTest::mouseClick(test::Rate20us(dlg), Qt::LeftButton);
        QCOMPARE(TimebaseText(dlg), QStringLiteral("1ms/d"));
    }

    void triggerRunPollsUntilTriggered() {
        StartEmulator();
        CAnalyzerDlg dlg;
        Open(dlg);
        QTest::mouseClick(test::TriggerModeBox(dlg), Qt::LeftButton);
        QCOMPARE(dlg.Session().Flags().m_bTriggerMode.load(), 1);
        QVERIFY(test::TriggerModeBox(dlg)->isChecked());
        // Channel 0 high, the rest don't care: the analyzer triggers soon after arming.
        test::TrigPatternField(dlg)->setText(QStringLiteral("xxxxxxxxxxxxxxx1"));
        QVERIFY(RunOnce(dlg));
        const auto log = m_emulator->Commands();
        const auto dld =
            std::find_if(log.begin(), log.end(), [](const auto& l) { return l.text == "DLD\r"; });
        QVERIFY(dld != log.end());
        QVERIFY(std::count_if(log.begin(), dld,
                              [](const auto& l) { return l.text == "REQTR\r"; }) >= 1);
        QCOMPARE((dld - 1)->text, std::string("REQTR\r"));
        // Trigger mode toggles back off on the next click, mark and flag together.
        QTest::mouseClick(test::TriggerModeBox(dlg), Qt::LeftButton);
        QCOMPARE(dlg.Session().Flags().m_bTriggerMode.load(), 0);
        QVERIFY(!test::TriggerModeBox(dlg)->isChecked());
    }

    void stopDuringTriggerWaitArmsAndStillDownloads() {
        test::PtyPair pty;
        test::FarEnd analyzer(pty, NeverTriggers);
        ::setenv("QUILLON_PORTS", ("COM3=" + pty.SlavePath()).c_str(), 1);
        CAnalyzerDlg dlg;
        Open(dlg);
        QTest::mouseClick(test::TriggerModeBox(dlg), Qt::LeftButton);
        QSignalSpy finished(&dlg, &CAnalyzerDlg::CaptureFinished);
        QTest::mouseClick(test::RunButton(dlg), Qt::LeftButton);
        const auto polls = [&analyzer] {
            const auto log = analyzer.Commands();
            return std::count(log.begin(), log.end(), "REQTR\r");
        };
        QTRY_VERIFY_WITH_TIMEOUT(polls() >= 3, 5000);
        QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_STOP)), Qt::LeftButton);
        QVERIFY(finished.wait(kRunTimeoutMs));
        QCOMPARE(dlg.Session().Flags().m_bStopRequest.load(), 0);
        const auto log = analyzer.Commands();
        const auto dld = std::find(log.begin(), log.end(), "DLD\r");
        QVERIFY(dld != log.end());
        QCOMPARE(*(dld - 1), std::string("CAP\r"));
        QCOMPARE(std::count(dld, log.end(), "REQPK\r"), 64);
        QCOMPARE(log.back(), std::string("CAP\r"));
    }

    // No analyzer: one packet warning, not one per packet, and no picture of samples that
    // never came.
    void noAnalyzerWarnsOnceDrawsNothingAndStaysUsable() {
        CAnalyzerDlg dlg;
        Open(dlg);
        QCOMPARE(m_closer->m_texts.size(), 1); // not found
        const QImage before = dlg.ViewImage();
        QVERIFY(RunOnce(dlg));
        QCOMPARE(dlg.ViewImage(), before);
        QVERIFY(!dlg.HasCapture());
        QCOMPARE(m_closer->m_texts.size(), 2);
        QCOMPARE(m_closer->m_texts.last(), QStringLiteral("Packet is not 256. it's 0 .  \r\n"));
        QCOMPARE(m_closer->m_captions.last(), QCoreApplication::applicationName());
        QVERIFY(test::RunButton(dlg)->isEnabled());
        QTest::mouseClick(test::ZoomSpin(dlg)->RightArrow(), Qt::LeftButton);
        QCOMPARE(TimebaseText(dlg), QStringLiteral("2us/d"));
    }

    void closingDuringARunNeitherHangsNorCrashes_data() {
        QTest::addColumn<QString>("phase");
        QTest::addColumn<bool>("useEsc");
        for (const char* phase : {"trigger-wait", "download", "warning-box"}) {
            QTest::newRow((QByteArray(phase) + "-close").constData()) << phase << false;
            QTest::newRow((QByteArray(phase) + "-esc").constData()) << phase << true;
        }
    }
    void closingDuringARunNeitherHangsNorCrashes() {
        QFETCH(QString, phase);
        QFETCH(bool, useEsc);
        test::PtyPair pty;
        const bool warn = phase == QLatin1String("warning-box");
        test::FarEnd analyzer(pty, [warn](const std::string& c) {
            return warn && c == "REQPK\r" ? std::string(100, 'x') : NeverTriggers(c);
        });
        ::setenv("QUILLON_PORTS", ("COM3=" + pty.SlavePath()).c_str(), 1);
        auto dlg = std::make_unique<CAnalyzerDlg>();
        Open(*dlg);
        QSignalSpy ended(dlg.get(), &QDialog::finished);
        if (phase == QLatin1String("trigger-wait")) {
            QTest::mouseClick(test::TriggerModeBox(*dlg), Qt::LeftButton);
        }
        m_closer->m_bEnabled = !warn; // leave the packet warning open
        // The warning box runs a modal loop of its own: act from a timer, as a user would.
        bool acted = false;
        bool wasCapturing = false;
        QTimer actor;
        connect(&actor, &QTimer::timeout, this, [&] {
            if (acted || (warn && QApplication::activeModalWidget() == nullptr)) {
                return;
            }
            acted = true;
            wasCapturing = dlg->IsCapturing();
            if (useEsc) {
                QTest::keyClick(dlg.get(), Qt::Key_Escape);
            } else {
                dlg->close();
            }
        });
        QTest::mouseClick(test::RunButton(*dlg), Qt::LeftButton);
        actor.start(warn ? 10 : 300);
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 5000);
        QVERIFY(acted && wasCapturing);
        QVERIFY(!dlg->IsCapturing());
        QVERIFY(!dlg->isVisible());
        if (!useEsc) {
            QVERIFY(!dlg->Session().Port().IsOpen());
        }
        QTest::qWait(50);
        QVERIFY(QApplication::activeModalWidget() == nullptr); // no further warning boxes
        dlg.reset();
        m_closer->m_bEnabled = true;
    }

    // Repeated capture, fast download and searching the analyzer again.
    void repeatGoesOnUntilStopWithRunDisabled() {
        StartEmulator();
        CAnalyzerDlg dlg;
        Open(dlg);
        QVERIFY(!dlg.IsRepeat() && !dlg.IsFastDownload()); // off until chosen
        QSignalSpy repeatChanged(&dlg, &CAnalyzerDlg::RepeatChanged);
        QSignalSpy fastChanged(&dlg, &CAnalyzerDlg::FastDownloadChanged);
        ChooseMenuItem(dlg, "連続取り込み(&R)");
        ChooseMenuItem(dlg, "高速ダウンロード(&F)");
        QVERIFY(dlg.IsRepeat() && dlg.IsFastDownload());
        QCOMPARE(repeatChanged.count(), 1);
        QCOMPARE(fastChanged.count(), 1);

        QSignalSpy finished(&dlg, &CAnalyzerDlg::CaptureFinished);
        QTest::mouseClick(test::RunButton(dlg), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() >= 2, kRunTimeoutMs);
        QVERIFY(dlg.IsRepeating());
        QVERIFY(!test::RunButton(dlg)->isEnabled());
        bool rescanEnabled = true;
        ChooseMenuItem(dlg, "ロジアナを再検索(&S)", &rescanEnabled);
        QVERIFY(!rescanEnabled); // not during a run
        QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_STOP)), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(test::RunButton(dlg)->isEnabled(), kRunTimeoutMs);
        QVERIFY(!dlg.IsRepeating() && !dlg.IsCapturing());
        QCOMPARE(dlg.Session().Flags().m_bStopRequest.load(), 0); // the Stop was used up
        const int captures = static_cast<int>(finished.count());
        QCOMPARE(CountCommand(m_emulator->Commands(), "DLD\r"), captures);
        QCOMPARE(CountCommand(m_emulator->Commands(), "REQPK\r"), 64 * captures);
        QVERIFY(m_closer->m_texts.isEmpty()); // every packet whole, fast as well
        QTest::qWait(300);
        QCOMPARE(finished.count(), captures); // nothing after the Stop
    }

    void stopDuringTriggerWaitEndsTheRepeatAfterThatCapture() {
        StartEmulator();
        CAnalyzerDlg dlg;
        Open(dlg);
        dlg.SetRepeat(true);
        test::TrigPatternField(dlg)->setText(QStringLiteral("1111111111111111")); // never met
        QTest::mouseClick(test::TriggerModeBox(dlg), Qt::LeftButton);
        QSignalSpy finished(&dlg, &CAnalyzerDlg::CaptureFinished);
        QTest::mouseClick(test::RunButton(dlg), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(CountCommand(m_emulator->Commands(), "REQTR\r") >= 3,
                                 kRunTimeoutMs);
        dlg.OnStop();
        QTRY_VERIFY_WITH_TIMEOUT(test::RunButton(dlg)->isEnabled(), kRunTimeoutMs);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(CountCommand(m_emulator->Commands(), "DLD\r"), 1);
    }

    void closingDuringARepeatEndsLikeASingleRun() {
        StartEmulator();
        auto dlg = std::make_unique<CAnalyzerDlg>();
        Open(*dlg);
        dlg->SetRepeat(true);
        QSignalSpy finished(dlg.get(), &CAnalyzerDlg::CaptureFinished);
        QSignalSpy ended(dlg.get(), &QDialog::finished);
        QTest::mouseClick(test::RunButton(*dlg), Qt::LeftButton);
        QVERIFY(finished.wait(kRunTimeoutMs));
        QTest::qWait(100); // well into the next capture
        QVERIFY(dlg->IsCapturing());
        dlg->close();
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 5000);
        QVERIFY(!dlg->IsCapturing());
        QVERIFY(!dlg->Session().Port().IsOpen());
        const int dld = CountCommand(m_emulator->Commands(), "DLD\r");
        QTest::qWait(300);
        QCOMPARE(CountCommand(m_emulator->Commands(), "DLD\r"), dld); // no capture after the close
        QVERIFY(m_closer->m_texts.isEmpty());
    }

    void rescanFindsTheAnalyzerOnceAnotherProgramLetsGo() {
        StartEmulator();
        auto holder = std::make_optional<CSerialPort>(); // another program has the port
        QCOMPARE(holder->OpenPath(m_emulator->SlavePath(), CSerialPort::kAnalyzerBaud), 1);
        CAnalyzerDlg dlg;
        Open(dlg);
        QVERIFY(!dlg.Session().Port().IsOpen());
        QCOMPARE(m_closer->m_texts.size(), 1); // the not-found box, its text unchanged
        QVERIFY(
            m_closer->m_texts[0].startsWith(QString::fromUtf8("USBロジアナが見つかりません。")));
        QCOMPARE(m_closer->m_details[0],
                 QString::fromStdString(m_emulator->SlavePath() + ": in use by another program"));

        holder.reset();
        ChooseMenuItem(dlg, "ロジアナを再検索(&S)");
        QVERIFY(dlg.Session().Port().IsOpen());
        QCOMPARE(m_closer->m_texts.size(), 1); // found: no second box
        QCOMPARE(CountCommand(m_emulator->Commands(), "REQPN\r"), 1);
        QCOMPARE(m_emulator->Commands().back().text, std::string("CAP\r")); // reset and armed
    }
};

QTEST_MAIN(TestCaptureGui)
#include "test_capture_gui.moc"
