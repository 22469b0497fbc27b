// The window's capturing choices: repeated capture with Stop and close, fast download, and
// searching the analyzer again after it became free.
#include "emulator_port.h"
#include "message_box_closer.h"
#include "ui/analyzer_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <optional>

using namespace quillon;

namespace {

constexpr int kRunTimeoutMs = 15000;

int CountCommand(const CAnalyzerEmulator& emulator, const std::string& text) {
    const auto log = emulator.Commands();
    return static_cast<int>(
        std::count_if(log.begin(), log.end(), [&](const auto& c) { return c.text == text; }));
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

class TestRepeatGui : public QObject {
    Q_OBJECT

    std::optional<CAnalyzerEmulator> m_emulator;
    std::optional<test::MessageBoxCloser> m_closer;

    static void Open(CAnalyzerDlg& dlg) {
        dlg.OnInitDialog();
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    }

private slots:
    void init() { m_closer.emplace(); }
    void cleanup() {
        m_closer.reset();
        m_emulator.reset();
        ::setenv("QUILLON_PORTS", "", 1);
    }

    void repeatGoesOnUntilStopWithRunDisabled() {
        QVERIFY(test::StartEmulatorOnCom3(m_emulator));
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
        QTest::mouseClick(dlg.m_buttonRun, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() >= 2, kRunTimeoutMs);
        QVERIFY(dlg.IsRepeating());
        QVERIFY(!dlg.m_buttonRun->isEnabled());
        bool rescanEnabled = true;
        ChooseMenuItem(dlg, "ロジアナを再検索(&S)", &rescanEnabled);
        QVERIFY(!rescanEnabled); // not during a run
        QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetDlgItem(1013)), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(dlg.m_buttonRun->isEnabled(), kRunTimeoutMs);
        QVERIFY(!dlg.IsRepeating() && !dlg.IsCapturing());
        QCOMPARE(dlg.m_flags.m_bStopRequest.load(), 0); // the Stop was used up
        const int captures = static_cast<int>(finished.count());
        QCOMPARE(CountCommand(*m_emulator, "DLD\r"), captures);
        QCOMPARE(CountCommand(*m_emulator, "REQPK\r"), 64 * captures);
        QVERIFY(m_closer->m_texts.isEmpty()); // every packet whole, fast as well
        QTest::qWait(300);
        QCOMPARE(finished.count(), captures); // nothing after the Stop
    }

    void stopDuringTriggerWaitEndsTheRepeatAfterThatCapture() {
        QVERIFY(test::StartEmulatorOnCom3(m_emulator));
        CAnalyzerDlg dlg;
        Open(dlg);
        dlg.SetRepeat(true);
        dlg.m_editTrigPattern->setText(QStringLiteral("1111111111111111")); // never met
        QTest::mouseClick(dlg.m_checkTriggerMode, Qt::LeftButton);
        QSignalSpy finished(&dlg, &CAnalyzerDlg::CaptureFinished);
        QTest::mouseClick(dlg.m_buttonRun, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(CountCommand(*m_emulator, "REQTR\r") >= 3, kRunTimeoutMs);
        dlg.OnStop();
        QTRY_VERIFY_WITH_TIMEOUT(dlg.m_buttonRun->isEnabled(), kRunTimeoutMs);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(CountCommand(*m_emulator, "DLD\r"), 1);
    }

    void closingDuringARepeatEndsLikeASingleRun() {
        QVERIFY(test::StartEmulatorOnCom3(m_emulator));
        auto dlg = std::make_unique<CAnalyzerDlg>();
        Open(*dlg);
        dlg->SetRepeat(true);
        QSignalSpy finished(dlg.get(), &CAnalyzerDlg::CaptureFinished);
        QSignalSpy ended(dlg.get(), &QDialog::finished);
        QTest::mouseClick(dlg->m_buttonRun, Qt::LeftButton);
        QVERIFY(finished.wait(kRunTimeoutMs));
        QTest::qWait(100); // well into the next capture
        QVERIFY(dlg->IsCapturing());
        dlg->close();
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 5000);
        QVERIFY(!dlg->IsCapturing());
        QVERIFY(!dlg->m_port.IsOpen());
        const int dld = CountCommand(*m_emulator, "DLD\r");
        QTest::qWait(300);
        QCOMPARE(CountCommand(*m_emulator, "DLD\r"), dld); // no capture after the close
        QVERIFY(m_closer->m_texts.isEmpty());
    }

    void rescanFindsTheAnalyzerOnceAnotherProgramLetsGo() {
        QVERIFY(test::StartEmulatorOnCom3(m_emulator));
        auto holder = std::make_optional<CSerialPort>(); // another program has the port
        QCOMPARE(holder->OpenPath(m_emulator->SlavePath(), CSerialPort::kAnalyzerBaud), 1);
        CAnalyzerDlg dlg;
        Open(dlg);
        QVERIFY(!dlg.m_port.IsOpen());
        QCOMPARE(m_closer->m_texts.size(), 1); // the not-found box, its text unchanged
        QVERIFY(
            m_closer->m_texts[0].startsWith(QString::fromUtf8("USBロジアナが見つかりません。")));
        QCOMPARE(m_closer->m_details[0],
                 QString::fromStdString(m_emulator->SlavePath() + ": in use by another program"));

        holder.reset();
        ChooseMenuItem(dlg, "ロジアナを再検索(&S)");
        QVERIFY(dlg.m_port.IsOpen());
        QCOMPARE(m_closer->m_texts.size(), 1); // found: no second box
        QCOMPARE(CountCommand(*m_emulator, "REQPN\r"), 1);
        QCOMPARE(m_emulator->Commands().back().text, std::string("CAP\r")); // reset and armed
        QSignalSpy finished(&dlg, &CAnalyzerDlg::CaptureFinished);
        QTest::mouseClick(dlg.m_buttonRun, Qt::LeftButton);
        QVERIFY(finished.wait(kRunTimeoutMs));
        QCOMPARE(CountCommand(*m_emulator, "REQPK\r"), 64);
    }
};

QTEST_MAIN(TestRepeatGui)
#include "test_repeat_gui.moc"
