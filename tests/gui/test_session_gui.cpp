// The capture session through the emulated analyzer: the states a trigger run and a repetition
// go through; and the main window's focus after a run.
#include "dlg_controls.h"
#include "emulator_port.h"
#include "message_box_closer.h"
#include "session/capture_session.h"
#include "ui/analyzer_dlg.h"

#include <QSignalSpy>
#include <QTest>

using namespace quillon;

namespace {
constexpr int kRunTimeoutMs = 20000;
using Phase = SessionState::Phase;
} // namespace

class TestSessionGui : public QObject {
    Q_OBJECT

    std::optional<CAnalyzerEmulator> m_emulator;

private slots:
    void init() { QVERIFY(test::StartEmulatorOnCom3(m_emulator)); }
    void cleanup() {
        m_emulator.reset();
        ::setenv("QUILLON_PORTS", "", 1);
    }

    // Phases in order (repeats folded), the packets counted up to 64, and the capture numbers.
    void statesOfATriggerRunAndOfARepetition_data() {
        QTest::addColumn<bool>("trigger");
        QTest::addColumn<int>("count");
        QTest::newRow("trigger run") << true << 1;
        QTest::newRow("repeat of 3") << false << 3;
    }
    void statesOfATriggerRunAndOfARepetition() {
        QFETCH(bool, trigger);
        QFETCH(int, count);
        CCaptureSession session;
        QVERIFY(session.StartDevice() == 3);
        std::vector<SessionState> states;
        connect(&session, &CCaptureSession::StateChanged, this,
                [&states](const SessionState& s) { states.push_back(s); });
        QSignalSpy busy(&session, &CCaptureSession::BusyChanged);
        QSignalSpy ready(&session, &CCaptureSession::CaptureReady);
        CaptureSettings settings;
        settings.triggerMode = trigger;
        settings.repeat = count > 1;
        settings.count = count > 1 ? count : 0;
        settings.fast = true;
        QCOMPARE(session.Start(settings), CCaptureSession::StartResult::Started);
        QTRY_VERIFY_WITH_TIMEOUT(busy.size() == 2, kRunTimeoutMs);
        QCOMPARE(busy[0][0].toBool(), true);
        QCOMPARE(busy[1][0].toBool(), false);
        QCOMPARE(ready.size(), count);

        std::vector<Phase> phases;
        int capture = count > 1 ? 1 : 0;
        int lastPacket = 0;
        for (const SessionState& s : states) {
            if (phases.empty() || phases.back() != s.phase) {
                phases.push_back(s.phase);
            }
            QCOMPARE(s.captures, count > 1 ? count : 0);
            QVERIFY(s.capture == capture || s.capture == capture + 1);
            if (s.capture != capture) { // the next capture starts from its first packet
                capture = s.capture;
                lastPacket = 0;
            }
            if (s.phase == Phase::Downloading) {
                QVERIFY(s.packet == lastPacket + 1);
                lastPacket = s.packet;
            }
            QCOMPARE(s.warnings, 0);
        }
        QCOMPARE(capture, count > 1 ? count : 0);
        std::vector<Phase> expected;
        for (int k = 0; k < count; ++k) {
            if (trigger) {
                expected.push_back(Phase::WaitingForTrigger);
            }
            expected.push_back(Phase::Downloading);
            expected.push_back(Phase::Idle);
        }
        QCOMPARE(phases, expected);
        QCOMPARE(lastPacket, kPacketsPerDownload);
        QCOMPARE(QString::fromStdString(StateText(states.back(), StateLanguage::English)),
                 QString());
    }

    // The focus goes back to Run after a run only if it is still where the run left it: a
    // field clicked during the run keeps it, and what is typed there is not lost.
    void focusAfterARun_data() {
        QTest::addColumn<bool>("clickField");
        QTest::newRow("untouched") << false;
        QTest::newRow("field clicked during the run") << true;
    }
    void focusAfterARun() {
        QFETCH(bool, clickField);
        test::MessageBoxCloser closer;
        CAnalyzerDlg dlg;
        dlg.OnInitDialog();
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        dlg.activateWindow();
        QTRY_VERIFY(test::RunButton(dlg)->hasFocus());
        QSignalSpy finished(&dlg, &CAnalyzerDlg::CaptureFinished);
        QTest::keyClick(test::RunButton(dlg), Qt::Key_Space);
        QVERIFY(dlg.IsCapturing());
        QLineEdit* field = test::TrigPatternField(dlg);
        if (clickField) {
            QTest::mouseClick(field, Qt::LeftButton);
            field->setCursorPosition(0);
            QVERIFY(field->hasFocus());
        }
        QVERIFY(finished.wait(kRunTimeoutMs));
        QCOMPARE(test::RunButton(dlg)->hasFocus(), !clickField);
        QCOMPARE(field->hasFocus(), clickField);
        if (clickField) {
            field->setText(QStringLiteral("000000000000000"));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_1);
            QCOMPARE(field->text(), QStringLiteral("0000000000000001"));
        }
        QVERIFY(closer.m_texts.isEmpty());
    }
};

QTEST_MAIN(TestSessionGui)
#include "test_session_gui.moc"
