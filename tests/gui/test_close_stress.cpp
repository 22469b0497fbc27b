// Closing the window in every phase of a run, again and again: never a hang or a crash, the
// worker always finished and the port closed.
#include "message_box_closer.h"
#include "support/far_end.h"
#include "dlg_controls.h"
#include "ui/analyzer_dlg.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace quillon;

namespace {

constexpr int kRounds = 100;

std::string Analyzer(const std::string& c, bool shortPackets) {
    if (c == "REQTR\r") {
        return "KNTR\r"; // never triggers
    }
    if (c == "REQPK\r") {
        return std::string(shortPackets ? 100 : 256, '\x33');
    }
    return {};
}

} // namespace

class TestCloseStress : public QObject {
    Q_OBJECT
private slots:
    void closeInEveryPhase_data() {
        QTest::addColumn<QString>("phase");
        QTest::newRow("trigger-wait") << QStringLiteral("trigger-wait");
        QTest::newRow("download") << QStringLiteral("download");
        QTest::newRow("warning-box") << QStringLiteral("warning-box");
    }
    void closeInEveryPhase() {
        QFETCH(QString, phase);
        const bool warn = phase == QLatin1String("warning-box");
        test::PtyPair pty;
        test::FarEnd analyzer(pty, [warn](const std::string& c) { return Analyzer(c, warn); });
        for (int round = 0; round < kRounds; ++round) {
            CAnalyzerDlg dlg;
            QVERIFY(dlg.Session().Port().OpenPath(pty.SlavePath(), CSerialPort::kAnalyzerBaud) == 1);
            dlg.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dlg));
            // The fields as the device start-up leaves them: Run refuses fields of other lengths.
            test::TrigPosField(dlg)->setText(QStringLiteral("00"));
            test::TrigPatternField(dlg)->setText(QStringLiteral("0000000000000000"));
            test::GenTypeField(dlg)->setText(QStringLiteral("0"));
            if (phase == QLatin1String("trigger-wait")) {
                dlg.OnTriggerMode();
            }
            QSignalSpy ended(&dlg, &QDialog::finished);
            bool closed = false;
            QTimer closer;
            // Download: close at a different point of the 64 packets each round.
            const int delayMs = phase == QLatin1String("download") ? (round * 37) % 1900 : 20;
            connect(&closer, &QTimer::timeout, this, [&] {
                if (closed || (warn && QApplication::activeModalWidget() == nullptr)) {
                    return;
                }
                closed = true;
                dlg.close();
            });
            QTimer::singleShot(delayMs, &closer, [&closer] { closer.start(5); });
            dlg.OnRun();
            QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 10000);
            QVERIFY(!dlg.IsCapturing());
            QVERIFY(!dlg.Session().Port().IsOpen());
            QVERIFY(QApplication::activeModalWidget() == nullptr);
        }
    }
};

QTEST_MAIN(TestCloseStress)
#include "test_close_stress.moc"
