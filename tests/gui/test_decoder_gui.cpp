// The viewer's decoders without the viewer: the dialog (filter, channel names, checked
// options, stacking) and the decoder set (decoding on a capture, newest capture wins, errors
// in their row, hiding, persistence, the annotation file).
#include "capture/capture_bridge.h"
#include "decode/decoder_library.h"
#include "emulator/bench_signals.h"
#include "ui/decoder_dlg.h"
#include "ui/decoder_set.h"
#include "ui/viewer_wnd.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#if defined(__SANITIZE_ADDRESS__)
// libsigrokdecode loses a few strings inside GLib, which has no frame pointers: only the slow
// unwinder sees the Python frames that tests/lsan.supp matches on those stacks.
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
#endif

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
        if (lane.label == label) {
            for (const auto& box : lane.boxes) {
                text += QString::fromStdString(box.texts.front());
            }
        }
    }
    return text;
}

/// The user's decoders as the viewer keeps them (in the test's own settings location).
void ClearSaved() {
    QSettings("Quillon", "quillon").remove("viewer/decoders");
}

} // namespace

class TestDecoderGui : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        ClearSaved();
        QVERIFY(CDecoderLibrary::Instance().StartError().empty());
    }
    void cleanupTestCase() { ClearSaved(); }

    void dialogFiltersPrefillsAndChecksOptions() {
        ChannelNames names = DefaultChannelNames();
        names[13] = "scl";
        names[14] = "SDA";
        CDecoderDlg dialog(names, {});
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

        CDecoderDlg uart(DefaultChannelNames(), UartStack(9600));
        auto* baud = qobject_cast<QLineEdit*>(uart.OptionEditor("baudrate"));
        QVERIFY(baud != nullptr);
        QCOMPARE(baud->text(), QString("9600"));
        QVERIFY(qobject_cast<QComboBox*>(uart.OptionEditor("parity")) != nullptr);
        baud->setText("fast");
        uart.accept();
        QVERIFY(uart.result() != QDialog::Accepted);
        QVERIFY(uart.ErrorLabel()->text().contains("fast"));
        baud->setText("921600");
        qobject_cast<QComboBox*>(uart.OptionEditor("parity"))->setCurrentText("odd");
        uart.accept();
        QCOMPARE(uart.result(), int(QDialog::Accepted));
        QCOMPARE(uart.Stack()[0].options.at("baudrate"), OptionValue(std::int64_t{921600}));
        QCOMPARE(uart.Stack()[0].options.at("parity"), OptionValue(std::string("odd")));
        QCOMPARE(uart.Stack()[0].channels.at("rx"), 8);

        // A required channel left unmapped is named.
        CDecoderDlg i2c(DefaultChannelNames(), {});
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
            set.UseUserEntries();
            QSignalSpy lanes(&set, &CDecoderSet::LanesChanged);
            set.SetEntries({{UartStack(921600), true},
                            {{{"i2c", {{"scl", 13}, {"sda", 14}}, {}}}, true},
                            {UartStack(0), true}});
            // Two captures in a row: only the second one's rows arrive.
            CaptureData quiet = Bench(10);
            std::fill(quiet.samples.begin(), quiet.samples.end(), 0xFFFF);
            set.SetCapture(quiet);
            set.SetCapture(Bench(10));
            QVERIFY(lanes.wait(10000));
            // Start bit, data and stop bit of each character share the row.
            QVERIFY2(LaneText(set, "UART: RX").startsWith("Start bitHStop bitStart biteStop bit"),
                     qPrintable(LaneText(set, "UART: RX").left(60)));
            QVERIFY(LaneText(set, "UART: RX").contains("Start bit!Stop bit"));
            QVERIFY(LaneText(set, "I²C: Address/Data").contains("Address write: 50"));
            // The failing third decoder: its error in a row of its own, the others intact.
            QVERIFY(
                LaneText(set, "UART: error").contains("Error: Protocol decoder instance uart-1"));

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

            // Hidden: its rows go; the set is kept as it is.
            lanes.clear();
            set.OnToggle(1);
            QVERIFY(lanes.wait(10000));
            QVERIFY(LaneText(set, "I²C: Address/Data").isEmpty());
            set.OnRemove(2);
            QVERIFY(lanes.wait(10000));
            QVERIFY(LaneText(set, "UART: error").isEmpty());
        }
        CDecoderSet again(&window);
        again.UseUserEntries();
        QCOMPARE(again.Entries().size(), std::size_t{2});
        QCOMPARE(again.Entries()[0].stack, UartStack(921600));
        QVERIFY(!again.Entries()[1].visible);
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
            rxRow = lanes[i].label == "UART: RX" ? static_cast<int>(i) : rxRow;
        }
        QVERIFY(rxRow >= 0);
        const auto& h = lanes[static_cast<std::size_t>(rxRow)].boxes[1]; // after the start bit
        QCOMPARE(h.texts.front(), std::string("H"));
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
        QVERIFY(viewer.Decoders()->Lanes()[0].boxes.empty());
        viewer.Decoders()->SetEntries({});
    }
};

QTEST_MAIN(TestDecoderGui)
#include "test_decoder_gui.moc"
