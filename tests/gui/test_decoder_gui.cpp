// The viewer's decoders without the viewer: the dialog (filter, channel names, checked
// options, stacking) and the decoder set (decoding on a capture, newest capture wins, errors
// in their row, hiding, persistence, the annotation file); and with it: rows under the
// channels, and decoders that never return or crawl, which closing the viewer or a new
// capture end at once without the GUI thread waiting.
#include "capture/capture_bridge.h"
#include "emulator/bench_signals.h"
#include "ui/decoder_dlg.h"
#include "ui/decoder_set.h"
#include "ui/viewer_wnd.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdlib>

using namespace quillon;

namespace {

CaptureData Bench(int rate) {
    CaptureData data;
    data.rate = rate;
    data.samples = SampleSignals(SignalSet::Bench, rate, 0, 4032);
    return data;
}

DecoderStack UartStack(std::int64_t baud) {
    return {{"uart", {{"rx", 8}}, {{"baudrate", baud}, {"format", std::string("ascii")}}}};
}

/// The texts of the lane labelled label, joined.
QString LaneText(const CDecoderSet& set, const std::string& label) {
    QString text;
    for (const auto& lane : set.Lanes()) {
        if (lane->label == label) {
            for (const auto& box : lane->boxes) {
                text += QString::fromUtf8(lane->texts->First(box.texts));
            }
        }
    }
    return text;
}

/// The user's decoders as the viewer keeps them (in the test's own settings location).
void ClearSaved() {
    QSettings("Quillon", "quillon").remove("viewer/decoders");
}

bool IsGone(pid_t pid) {
    return pid > 0 && ::kill(pid, 0) != 0;
}

} // namespace

class TestDecoderGui : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        ::setenv("QUILLON_DECODER", QUILLON_DECODER_PATH, 1);
        ::setenv("SIGROKDECODE_DIR", QUILLON_TEST_DECODERS, 1); // testloop and testsleep too
        QStandardPaths::setTestModeEnabled(true);
        ClearSaved();
        CCatalogLoader loader({}, true);
        QSignalSpy loaded(&loader, &CCatalogLoader::Loaded);
        QVERIFY(loaded.wait(20000));
        QCOMPARE(loaded.front().at(1).toString(), QString());
        m_catalog = DecoderCatalog(
            *loaded.front().at(0).value<std::shared_ptr<const std::vector<DecoderInfo>>>());
        QVERIFY(m_catalog.Find("uart") != nullptr);
    }
    void cleanupTestCase() { ClearSaved(); }

    void dialogFiltersPrefillsAndChecksOptions() {
        std::vector<std::string> names;
        for (int n = 0; n < 16; ++n) {
            names.push_back(DefaultChannelName(n));
        }
        names[13] = "scl";
        names[14] = "SDA";
        CDecoderDlg dialog(names, {}, m_catalog);
        dialog.FilterEdit()->setText("inter-integrated");
        int shown = 0;
        for (int row = 0; row < dialog.DecoderList()->count(); ++row) {
            shown += dialog.DecoderList()->item(row)->isHidden() ? 0 : 1;
        }
        QVERIFY(shown >= 1 && shown < 5); // I2C by its description, not the hundred others

        QVERIFY(dialog.ChooseDecoder("i2c"));
        QCOMPARE(dialog.ChannelBox("scl")->currentData().toInt(), 13);
        QCOMPARE(dialog.ChannelBox("sda")->currentData().toInt(), 14);
        // eeprom24xx reads I2C's output; stacking it shows its own options.
        const int eeprom = dialog.StackChoice()->findData("eeprom24xx");
        QVERIFY(eeprom >= 0);
        QCOMPARE(dialog.StackChoice()->findData("uart"), -1);
        dialog.StackChoice()->setCurrentIndex(eeprom);
        dialog.OnPushStacked();
        QVERIFY(dialog.OptionEditor("addr_counter") != nullptr);
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.Stack().size(), std::size_t{2});
        QCOMPARE(dialog.Stack()[1].id, std::string("eeprom24xx"));

        CDecoderDlg uart(names, UartStack(9600), m_catalog);
        auto* baud = qobject_cast<QLineEdit*>(uart.OptionEditor("baudrate"));
        QVERIFY(baud != nullptr);
        QCOMPARE(baud->text(), QString("9600"));
        QVERIFY(qobject_cast<QComboBox*>(uart.OptionEditor("parity")) != nullptr);
        for (const char* bad : {"fast", "0"}) { // 0 would make the decoder divide by zero
            baud->setText(bad);
            uart.accept();
            QVERIFY(uart.result() != QDialog::Accepted);
            QVERIFY(uart.ErrorLabel()->text().contains(bad));
        }
        baud->setText("921600");
        qobject_cast<QComboBox*>(uart.OptionEditor("parity"))->setCurrentText("odd");
        uart.accept();
        QCOMPARE(uart.result(), int(QDialog::Accepted));
        QCOMPARE(uart.Stack()[0].options.at("baudrate"), OptionValue(std::int64_t{921600}));
        QCOMPARE(uart.Stack()[0].options.at("parity"), OptionValue(std::string("odd")));
        QCOMPARE(uart.Stack()[0].channels.at("rx"), 8);

        // A required channel left unmapped is named.
        CDecoderDlg i2c(names, {}, m_catalog);
        QVERIFY(i2c.ChooseDecoder("i2c"));
        i2c.ChannelBox("scl")->setCurrentIndex(2);
        i2c.ChannelBox("sda")->setCurrentIndex(0);
        i2c.accept();
        QVERIFY(i2c.result() != QDialog::Accepted);
        QVERIFY2(i2c.ErrorLabel()->text().contains("SDA"), qPrintable(i2c.ErrorLabel()->text()));
    }

    void setDecodesEachCaptureAndKeepsItsDecoders() {
        QWidget window;
        {
            CDecoderSet set(&window);
            set.SetEntries({{UartStack(921600), true},
                            {{{"i2c", {{"scl", 13}, {"sda", 14}}, {}}}, true},
                            {{{"testraise", {{"data", 0}}, {}}}, true}});
            // Two captures in a row: only the second one's rows arrive.
            CaptureData quiet = Bench(10);
            std::fill(quiet.samples.begin(), quiet.samples.end(), 0xFFFF);
            set.SetCapture(ToCapture(quiet));
            set.SetCapture(ToCapture(Bench(10)));
            WaitForDecoders(set);
            QVERIFY(!set.IsDecoding());
            // Start bit, data and stop bit of each character share the row.
            QVERIFY2(LaneText(set, "UART: RX").startsWith("Start bitHStop bitStart biteStop bit"),
                     qPrintable(LaneText(set, "UART: RX").left(60)));
            QVERIFY(LaneText(set, "UART: RX").contains("Start bit!Stop bit"));
            QVERIFY(LaneText(set, "I²C: Address/Data").contains("Address write: 50"));
            // The failing third decoder: its error in a row of its own, the others intact.
            QVERIFY(LaneText(set, "Raise: error").contains("ValueError"));

            QTemporaryDir dir;
            QString error;
            const QString path = dir.filePath("a.txt");
            QVERIFY(set.SaveAnnotations(path, error));
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QString text = QString::fromUtf8(file.readAll());
            QVERIFY(text.startsWith("start\tend\t"));
            QVERIFY(text.contains("\tuart\tRX\tH\n"));
            QVERIFY(text.contains("\ti2c\t"));
            QVERIFY(text.contains("\ttestraise\terror\t"));

            // Hidden: its rows go; the set is kept as it is.
            QSignalSpy lanes(&set, &CDecoderSet::LanesChanged);
            set.OnToggle(1);
            QVERIFY(lanes.wait(10000));
            QVERIFY(LaneText(set, "I²C: Address/Data").isEmpty());
            set.OnRemove(2);
            QVERIFY(lanes.wait(10000));
            QVERIFY(LaneText(set, "Raise: error").isEmpty());
        }
        CDecoderSet again(&window);
        WaitForDecoders(again);
        QCOMPARE(again.Entries().size(), std::size_t{2});
        QCOMPARE(again.Entries()[0].stack, UartStack(921600));
        QVERIFY(!again.Entries()[1].visible);
        // A picture without a user uses none of them.
        CDecoderSet unattended(&window, false);
        QVERIFY(unattended.Entries().empty());
        QVERIFY(!unattended.IsDecoding());
        ClearSaved();
    }

    void viewerShowsRowsUnderTheChannelsAndFollowsItsCapture() {
        CViewerWnd viewer;
        viewer.setAttribute(Qt::WA_DeleteOnClose, false);
        viewer.resize(1200, 760);
        viewer.show();
        viewer.SetLiveCapture(ToCapture(Bench(10)));
        viewer.Decoders()->SetEntries({{UartStack(921600), true}});
        WaitForDecoders(*viewer.Decoders());
        QVERIFY(!viewer.Decoders()->IsDecoding());
        const auto lanes = viewer.Decoders()->Lanes();
        QVERIFY(lanes.size() >= 2);

        // Hovering the RX row over the first character names it.
        const ViewerLayout layout = viewer.Layout();
        int rxRow = -1;
        for (std::size_t i = 0; i < lanes.size(); ++i) {
            rxRow = lanes[i]->label == "UART: RX" ? static_cast<int>(i) : rxRow;
        }
        QVERIFY(rxRow >= 0);
        const AnnotationLane& rx = *lanes[static_cast<std::size_t>(rxRow)];
        const LaneBox& h = rx.boxes[1]; // after the start bit
        QCOMPARE(rx.texts->First(h.texts), std::string_view("H"));
        const int x = layout.TraceLeft() +
                      static_cast<int>(viewer.View().XOfBoundary((h.first + h.end) / 2.0));
        const int y = layout.RowTop(static_cast<int>(layout.channels.size()) + rxRow) + 5;
        QTest::mouseMove(viewer.Canvas(), QPoint(x, y));
        QTRY_COMPARE(viewer.HoverText(), QString("UART: RX: H"));

        // A capture with nothing on D8: the rows follow it.
        CaptureData quiet = Bench(10);
        std::fill(quiet.samples.begin(), quiet.samples.end(), 0xFFFF);
        viewer.SetLiveCapture(ToCapture(quiet));
        WaitForDecoders(*viewer.Decoders());
        QCOMPARE(viewer.Decoders()->Lanes().size(), std::size_t{1});
        QVERIFY(viewer.Decoders()->Lanes()[0]->boxes.empty());
        viewer.Decoders()->SetEntries({});
        ClearSaved();
    }

    void decodersThatNeverReturnEndWithTheViewerAtOnce() {
        // One decoder that loops for ever, one that sleeps 20 ms per sample (80 s a capture).
        // They are the file's decoders, kept with its view.
        QTemporaryDir dir;
        const QString file = dir.filePath("bench.vcd");
        QPointer<CViewerWnd> viewer = new CViewerWnd; // deletes itself when closed
        viewer->show();
        viewer->ShowCapture(ToCapture(Bench(10)), file);
        viewer->Decoders()->SetEntries({{{{"testsleep", {{"data", 0}}, {}}}, true},
                                        {{{"testloop", {{"data", 1}}, {}}}, true}});
        QTRY_VERIFY_WITH_TIMEOUT(viewer->Decoders()->DecoderProcessId() > 0, 10000);
        QTest::qWait(300);
        const pid_t slow = viewer->Decoders()->DecoderProcessId();
        QVERIFY(viewer->Decoders()->IsDecoding());

        // A new capture ends the decode under way within a second.
        QElapsedTimer clock;
        clock.start();
        viewer->ShowCapture(ToCapture(Bench(1)), file); // read again: the same decoders
        QVERIFY(clock.elapsed() < 200);                 // the GUI thread does not wait for it
        QTRY_VERIFY_WITH_TIMEOUT(IsGone(slow), 1000);
        QTRY_VERIFY_WITH_TIMEOUT(viewer->Decoders()->DecoderProcessId() > 0, 10000);
        const pid_t next = viewer->Decoders()->DecoderProcessId();

        // Closing the viewer ends it too, the GUI thread never waiting on the decoder.
        clock.restart();
        viewer->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(viewer.isNull());
        QVERIFY2(clock.elapsed() < 200, qPrintable(QString::number(clock.elapsed())));
        QTRY_VERIFY_WITH_TIMEOUT(IsGone(next), 1000);
        ClearSaved();
    }

private:
    DecoderCatalog m_catalog;
};

QTEST_MAIN(TestDecoderGui)
#include "test_decoder_gui.moc"
