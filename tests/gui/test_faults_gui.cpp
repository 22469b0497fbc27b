// The window against a misbehaving analyzer: every fault ends with Run enabled again, no
// hang, at most one warning per failed packet, and the good packets stored.
#include "emulator_port.h"
#include "message_box_closer.h"
#include "support/far_end.h"
#include "dlg_controls.h"
#include "ui/analyzer_dlg.h"
#include "ui/dialog_template.h"
#include "ui/spin_button_ctrl.h"
#include "ui/strings.h"

#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <fcntl.h>
#include <optional>
#include <termios.h>

using namespace quillon;

namespace {

constexpr int kRunTimeoutMs = 20000;
const QString kZeroPacketWarning = QStringLiteral("Packet is not 256. it's 0 .  \r\n");

QString PacketWarning(int count) {
    return QString::fromStdString(PacketWarningText(count));
}

// The settings commands the analyzer received, in order.
std::vector<std::string> SettingsCommands(const CAnalyzerEmulator& emulator) {
    std::vector<std::string> sd;
    for (const auto& command : emulator.Commands()) {
        if (command.text.rfind("SD", 0) == 0) {
            sd.push_back(command.text);
        }
    }
    return sd;
}

void Paste(QLineEdit* field, const QString& text) {
    QApplication::clipboard()->setText(text);
    field->setFocus();
    field->selectAll();
    QTest::keySequence(field, QKeySequence::Paste);
}

} // namespace

class TestFaultsGui : public QObject {
    Q_OBJECT

    std::optional<CAnalyzerEmulator> m_emulator;
    std::optional<test::MessageBoxCloser> m_closer;
    std::unique_ptr<CAnalyzerDlg> m_dlg;

    void Open(EmulatorFault fault, int faultPacket = 5) {
        EmulatorOptions options;
        options.fault = fault;
        options.faultPacket = faultPacket;
        QVERIFY(test::StartEmulatorOnCom3(m_emulator, options));
        m_dlg = std::make_unique<CAnalyzerDlg>();
        m_dlg->OnInitDialog();
        m_dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    }
    bool Run() {
        QSignalSpy finished(m_dlg.get(), &CAnalyzerDlg::CaptureFinished);
        QTest::mouseClick(test::RunButton(*m_dlg), Qt::LeftButton);
        // The window answers while the run goes on.
        QTest::mouseClick(test::ZoomSpin(*m_dlg)->RightArrow(), Qt::LeftButton);
        const bool responsive = qobject_cast<QLineEdit*>(m_dlg->GetDlgItem(IDC_TIMEBASE))->text() ==
                                QStringLiteral("2us/d");
        QTest::mouseClick(test::ZoomSpin(*m_dlg)->LeftArrow(), Qt::LeftButton);
        return finished.wait(kRunTimeoutMs) && responsive && test::RunButton(*m_dlg)->isEnabled();
    }
    // Every packet but those from firstBad to lastBad holds what the analyzer sent; those
    // kept the store's old zeros.
    void CheckStoreExcept(int firstBad, int lastBad) {
        const auto capture = m_emulator->LastCapture();
        QVERIFY(capture.has_value());
        const SampleStore store = m_dlg->SnapshotStore();
        for (int i = 0; i < SampleStore::kSamplesPerCapture; ++i) {
            const bool inBad = i / 128 >= firstBad && i / 128 <= lastBad;
            const int expected = inBad ? 0 : capture->samples[static_cast<std::size_t>(i)];
            if (store.GetSample(i) != expected) {
                QFAIL(qPrintable(QStringLiteral("sample %1").arg(i)));
            }
        }
    }

private slots:
    void init() { m_closer.emplace(); }
    void cleanup() {
        m_dlg.reset();
        m_closer.reset();
        m_emulator.reset();
        ::setenv("QUILLON_PORTS", "", 1);
    }

    void notFoundFaultsLeaveAUsableWindow_data() {
        QTest::addColumn<int>("fault");
        QTest::newRow("silent") << static_cast<int>(EmulatorFault::Silent);
        QTest::newRow("foreign") << static_cast<int>(EmulatorFault::Foreign);
        QTest::newRow("reply-delay") << static_cast<int>(EmulatorFault::Delay);
    }
    void notFoundFaultsLeaveAUsableWindow() {
        QFETCH(int, fault);
        Open(static_cast<EmulatorFault>(fault));
        QCOMPARE(m_closer->m_texts, QStringList{QString::fromUtf8(kNotFoundText)});
        QVERIFY(!m_dlg->Session().Port().IsOpen());
        QVERIFY(Run());
        QCOMPARE(m_closer->m_texts.size(), 1 + 1); // told once, not once per packet
        QCOMPARE(m_closer->m_texts.last(), kZeroPacketWarning);
    }

    // A late last byte is waited for; a short packet costs itself; bytes beyond a packet
    // that came with it may be the end of the packet before, which is not kept either.
    void aPacketFaultCostsOnlyTheDoubtfulPackets_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("seen"); // the warning's count; 0: no warning
        QTest::addColumn<int>("firstLost");
        QTest::addColumn<int>("lastLost");
        QTest::newRow("late-byte") << static_cast<int>(EmulatorFault::LateByte) << 0 << 1 << 0;
        QTest::newRow("short-packet")
            << static_cast<int>(EmulatorFault::ShortPacket) << 255 << 5 << 5;
        QTest::newRow("long-packet")
            << static_cast<int>(EmulatorFault::LongPacket) << 257 << 4 << 5;
        QTest::newRow("garbage") << static_cast<int>(EmulatorFault::Garbage) << 258 << 4 << 5;
    }
    void aPacketFaultCostsOnlyTheDoubtfulPackets() {
        QFETCH(int, fault);
        QFETCH(int, seen);
        QFETCH(int, firstLost);
        QFETCH(int, lastLost);
        // Dismissed as a person would: after the late byte has come (60 ms after its packet).
        m_closer.emplace(10, 150);
        Open(static_cast<EmulatorFault>(fault), 5);
        QVERIFY(m_closer->m_texts.isEmpty()); // garbage before a reply is absorbed
        QVERIFY(m_dlg->Session().Port().IsOpen());
        QVERIFY(Run());
        QCOMPARE(m_closer->m_texts, seen == 0 ? QStringList{} : QStringList{PacketWarning(seen)});
        CheckStoreExcept(firstLost, lastLost);
        const CaptureData capture = m_dlg->CurrentCapture();
        QCOMPARE(capture.MissingCount(),
                 static_cast<std::size_t>(128 * std::max(0, lastLost - firstLost + 1)));
    }

    void pulledCableIsToldOnceAndKeepsTheGoodPackets() {
        Open(EmulatorFault::HangUp, 9);
        QVERIFY(Run());
        QCOMPARE(m_closer->m_texts, QStringList{QString::fromUtf8(kLinkLostText)});
        QVERIFY(m_dlg->Session().Port().IsHungUp());
        const auto capture = m_emulator->LastCapture();
        QVERIFY(capture.has_value());
        const SampleStore store = m_dlg->SnapshotStore();
        for (int i = 0; i < 10 * 128; ++i) {
            QCOMPARE(store.GetSample(i), capture->samples[static_cast<std::size_t>(i)]);
        }
        for (int i = 10 * 128; i < SampleStore::kSamplesPerCapture; ++i) {
            QCOMPARE(store.GetSample(i), std::uint16_t{0});
        }
        // A second Run asks nothing of the dead line and says so once more.
        QVERIFY(Run());
        QCOMPARE(m_closer->m_texts.size(), 2);
        QCOMPARE(m_closer->m_texts.last(), QString::fromUtf8(kLinkLostText));
        // In trigger mode too: no endless polling of a dead port.
        QTest::mouseClick(test::TriggerModeBox(*m_dlg), Qt::LeftButton);
        test::TrigPatternField(*m_dlg)->setText(QStringLiteral("1111111111111111"));
        QVERIFY(Run());
        QCOMPARE(m_closer->m_texts.size(), 3);
    }

    // A pasted carriage return would end the settings command and start another one.
    void pastedControlCharactersNeverReachTheWire() {
        Open(EmulatorFault::None);
        Paste(test::TrigPatternField(*m_dlg), QStringLiteral("01\rCAP\r0101010101"));
        QCOMPARE(test::TrigPatternField(*m_dlg)->text(), QStringLiteral("01CAP0101010101"));
        QTest::mouseClick(test::RunButton(*m_dlg), Qt::LeftButton);
        QCOMPARE(m_closer->m_texts.size(), 1); // 15 characters: not sent, and said so
        QVERIFY(SettingsCommands(*m_emulator).empty());

        // A copied line with its line break: the break is dropped, the pattern fits.
        Paste(test::TrigPatternField(*m_dlg), QStringLiteral("0101010101010101\r\n"));
        QCOMPARE(test::TrigPatternField(*m_dlg)->text(), QStringLiteral("0101010101010101"));
        QVERIFY(Run());
        QCOMPARE(SettingsCommands(*m_emulator),
                 std::vector<std::string>{"SD000000001010101001010101\r"});
    }

    void aFieldOfTheWrongLengthSendsNothing_data() {
        QTest::addColumn<QString>("trigPos");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("named");
        QTest::newRow("empty position") << QString() << QStringLiteral("1111111111111111")
                                        << QStringLiteral("trigpos(1:0) は半角 2 文字");
        QTest::newRow("short pattern") << QStringLiteral("00") << QStringLiteral("0101")
                                       << QStringLiteral("ﾄﾘｶﾞﾊﾟﾀｰﾝ(15:0) は半角 16 文字");
        // Sixteen characters, but the last takes two bytes in code page 932.
        QTest::newRow("wide character")
            << QStringLiteral("00") << QStringLiteral("000000000000000あ")
            << QStringLiteral("ﾄﾘｶﾞﾊﾟﾀｰﾝ(15:0) は半角 16 文字");
    }
    void aFieldOfTheWrongLengthSendsNothing() {
        QFETCH(QString, trigPos);
        QFETCH(QString, pattern);
        QFETCH(QString, named);
        Open(EmulatorFault::None);
        test::TrigPosField(*m_dlg)->setText(trigPos);
        test::TrigPatternField(*m_dlg)->setText(pattern);
        QTest::mouseClick(test::RunButton(*m_dlg), Qt::LeftButton);
        QCOMPARE(m_closer->m_texts.size(), 1);
        QVERIFY2(m_closer->m_texts[0].startsWith(named), qPrintable(m_closer->m_texts[0]));
        QVERIFY(SettingsCommands(*m_emulator).empty());
        QVERIFY(!m_dlg->IsCapturing());
        QVERIFY(test::RunButton(*m_dlg)->isEnabled());
        QCOMPARE(test::TrigPatternField(*m_dlg)->text(), pattern); // kept as typed
    }

    // The analyzer gets the fields' code page 932 bytes: a half-width katakana is one byte.
    void halfWidthKatakanaIsOneByteOfTheWord() {
        Open(EmulatorFault::None);
        test::TrigPatternField(*m_dlg)->setText(QStringLiteral("000000000000000ｱ"));
        QVERIFY(Run());
        QCOMPARE(SettingsCommands(*m_emulator),
                 std::vector<std::string>{"SD00000000000000000000000\xB1\r"});
    }

    // An analyzer that stops reading: the settings cannot go out, so no run starts on the old
    // ones; told once, and Run can be pressed again.
    void aLineThatTakesNoBytesIsToldOnceAndStartsNoRun() {
        test::PtyPair pty;
        // Opened before the window takes its exclusive hold: suspends the line later.
        const int stopper = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(stopper >= 0);
        ::setenv("QUILLON_PORTS", ("COM3=" + pty.SlavePath()).c_str(), 1);
        {
            test::FarEnd far(pty, [](const std::string& command) {
                return command == "REQPN\r" ? std::string(kIdentReply) : std::string();
            });
            m_dlg = std::make_unique<CAnalyzerDlg>();
            m_dlg->OnInitDialog();
        }
        QVERIFY(m_dlg->Session().Port().IsOpen());
        m_dlg->show();
        QCOMPARE(::tcflow(stopper, TCOOFF), 0); // the line takes no more bytes
        QTest::mouseClick(test::RunButton(*m_dlg), Qt::LeftButton);
        QCOMPARE(m_closer->m_texts, QStringList{QString::fromUtf8(kNotTakingCommandsText)});
        QVERIFY(!m_dlg->IsCapturing());
        QVERIFY(test::RunButton(*m_dlg)->isEnabled());
        ::close(stopper);
    }

    // What a hang-up cost is not exported as data: the window's save writes it as unknown
    // and says how much is missing.
    void incompleteCaptureIsSavedWithUnknownSamples() {
        Open(EmulatorFault::HangUp, 9);
        QVERIFY(Run());
        const CaptureData capture = m_dlg->CurrentCapture();
        QCOMPARE(capture.MissingCount(), std::size_t{4032 - 10 * 128});
        QVERIFY(capture.IsReceived(10 * 128 - 1));
        QVERIFY(!capture.IsReceived(10 * 128));
        QTemporaryDir dir;
        const QString csv = dir.filePath(QStringLiteral("cut.csv"));
        m_closer->m_texts.clear();
        QVERIFY(m_dlg->SaveCapture(csv));
        QCOMPARE(m_closer->m_texts.size(), 1);
        QVERIFY(m_closer->m_texts[0].contains(QStringLiteral("4032 サンプルのうち 2752 サンプル")));
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = file.readAll().split('\n');
        QCOMPARE(rows.size(), 1 + 4032 + 1); // header, samples, nothing after the last break
        QVERIFY(!rows[1 + 1279].endsWith(','));
        QCOMPARE(rows[1 + 1280], QByteArray("25600,,,,,,,,,,,,,,,,"));
        QCOMPARE(rows[1 + 4031], QByteArray("80620,,,,,,,,,,,,,,,,"));
    }
};

QTEST_MAIN(TestFaultsGui)
#include "test_faults_gui.moc"
