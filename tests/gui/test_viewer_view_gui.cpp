// The viewer's view of a file as a user keeps it: names, hidden rows, colours and decoders
// chosen for one file come back with that file and with no other (nor with the live
// capture); a folder that cannot be written keeps them in the user's data folder. Many
// channels scroll and are shown or hidden at once; a file comes in behind the window and Esc
// stops it; every menu's letters are its own.
#include "capture/capture_bridge.h"
#include "ui/decoder_set.h"
#include "ui/rows_dlg.h"
#include "ui/viewer_state.h"
#include "ui/viewer_wnd.h"

#include <QDir>
#include <QFile>
#include <QInputDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWheelEvent>

#include <fstream>
#include <memory>

using namespace quillon;

namespace {

// channels channels of samples, channel c a square wave of period 2 (c + 1) samples, but
// every third channel (c % 3 == 2) quiet; names "CH0", "CH1", ...
CapturePtr Squares(int channels, std::int64_t samples = 4000, const char* prefix = "CH") {
    CaptureBuilder builder(channels, SamplePeriod::FromHz(24'000'000));
    builder.Resize(samples);
    for (int c = 0; c < channels; ++c) {
        builder.SetChannelName(c, prefix + std::to_string(c));
        if (c % 3 == 2) {
            continue;
        }
        for (std::int64_t i = 0; i < samples; ++i) {
            builder.SetLevel(c, i, (i / (c + 1)) % 2 == 1);
        }
    }
    builder.SetTrigger(1000);
    return builder.Finish();
}

std::unique_ptr<CViewerWnd> MakeViewer() {
    auto viewer = std::make_unique<CViewerWnd>();
    viewer->setAttribute(Qt::WA_DeleteOnClose, false);
    viewer->resize(1200, 760);
    return viewer;
}

DecoderStack Uart(int rx) {
    return {{"uart", {{"rx", rx}}, {{"baudrate", std::int64_t{115200}}}}};
}

// The letter a menu text marks with '&' ("開く(&O)..." -> 'O'), or a null character.
QChar LetterOf(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == QLatin1Char('&')) {
            if (text[i + 1] != QLatin1Char('&')) {
                return text[i + 1].toUpper();
            }
            ++i;
        }
    }
    return {};
}

// Fails when two items of menu share a letter; the same for its submenus.
void CheckLetters(const QMenu* menu) {
    QSet<QChar> seen;
    for (const QAction* action : menu->actions()) {
        const QChar letter = LetterOf(action->text());
        if (!letter.isNull()) {
            QVERIFY2(!seen.contains(letter),
                     qPrintable(menu->title() + QStringLiteral(": ") + action->text()));
            seen.insert(letter);
        }
        if (action->menu() != nullptr) {
            CheckLetters(action->menu());
        }
    }
}

} // namespace

class TestViewerViewGui : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;

private slots:
    void initTestCase() {
        // Settings and the user's data folder: not the real user's.
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")).toUtf8());
        qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toUtf8());
        qputenv("QUILLON_DECODER", QUILLON_DECODER_PATH); // the one just built
    }

    void aFileKeepsItsOwnViewAndNoOtherFileGetsIt() {
        QTemporaryDir dir;
        const QString a = dir.filePath(QStringLiteral("a.vcd"));
        const QString b = dir.filePath(QStringLiteral("b.vcd"));
        const CapturePtr capture = Squares(34);
        {
            auto viewer = MakeViewer();
            viewer->show();
            viewer->ShowCapture(capture, a);
            // The file's own rows: 34, its first channel at the top, as named in it.
            QCOMPARE(viewer->Layout().channels.size(), std::size_t{34});
            QCOMPARE(viewer->Layout().channels.front(), 0);
            QCOMPARE(viewer->ChannelName(3), QStringLiteral("CH3"));
            QVERIFY(viewer->Decoders()->Entries().empty());
            QVERIFY(!QFile::exists(ViewFileBeside(a))); // nothing chosen, nothing written

            viewer->RenameChannel(3, QStringLiteral("TX"));
            viewer->SetChannelVisible(5, false);
            viewer->SetChannelColour(7, 0xff123456);
            viewer->Decoders()->SetEntries({{Uart(3), true}});
            QCOMPARE(viewer->ViewFile(), ViewFileBeside(a));
            QVERIFY(QFile::exists(ViewFileBeside(a)));
            QCOMPARE(viewer->Layout().channels.size(), std::size_t{33});
            // The channel menu calls rows what the rows say.
            QStringList items;
            for (const QAction* action : viewer->ViewMenu()->actions()) {
                if (action->menu() != nullptr) {
                    for (const QAction* item : action->menu()->actions()) {
                        items << item->text();
                    }
                }
            }
            QVERIFY2(items.contains(QStringLiteral("TX")), qPrintable(items.join(',')));
            QVERIFY(!items.contains(QStringLiteral("CH3")));

            // Another file opened for the first time starts clean.
            viewer->ShowCapture(Squares(16), b);
            QCOMPARE(viewer->ChannelName(3), QStringLiteral("CH3"));
            QVERIFY(viewer->IsChannelVisible(5));
            QCOMPARE(viewer->ChannelColourOf(7), ChannelColour(7));
            QVERIFY(viewer->Decoders()->Entries().empty());
            QVERIFY(!QFile::exists(ViewFileBeside(b)));
        }
        // The user's own view (the live capture) never saw any of it.
        QCOMPARE(UserChannelNames()[3], std::string("D3"));
        QVERIFY(ReadUserView(16).channels[5].IsDefault());

        // Opened again, in another window: as it was left.
        auto viewer = MakeViewer();
        viewer->show();
        viewer->ShowCapture(capture, a);
        QCOMPARE(viewer->ChannelName(3), QStringLiteral("TX"));
        QVERIFY(!viewer->IsChannelVisible(5));
        QCOMPARE(viewer->ChannelColourOf(7), QRgb{0xff123456});
        // The decoders once their metadata has come from the decoding process; kept as they
        // were meanwhile.
        QCOMPARE(viewer->Decoders()->SavedEntries().size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(viewer->Decoders()->Entries().size(), std::size_t{1}, 10000);
        QCOMPARE(viewer->Decoders()->Entries()[0].stack, Uart(3));

        // The file replaced by another capture: its channel 3 now has another name, so the
        // name chosen for the old one stays away; the others still fit.
        CaptureBuilder other(34, SamplePeriod::FromHz(1'000'000));
        other.Resize(100);
        other.SetChannelName(3, "MOSI");
        for (int c = 0; c < 34; ++c) {
            if (c != 3) {
                other.SetChannelName(c, "CH" + std::to_string(c));
            }
        }
        viewer->ShowCapture(other.Finish(), a);
        QCOMPARE(viewer->ChannelName(3), QStringLiteral("MOSI"));
        QVERIFY(!viewer->IsChannelVisible(5));

        // Everything undone: no view file is left beside the capture.
        viewer->ShowCapture(capture, a);
        viewer->RenameChannel(3, QString());
        viewer->SetChannelVisible(5, true);
        viewer->SetChannelColour(7, std::nullopt);
        viewer->Decoders()->SetEntries({});
        QVERIFY(!QFile::exists(ViewFileBeside(a)));
    }

    void aFolderThatCannotBeWrittenKeepsTheViewForTheUser() {
        // No one may write into /proc, not even root.
        const QString path = QStringLiteral("/proc/quillon-test-capture.vcd");
        {
            auto viewer = MakeViewer();
            viewer->ShowCapture(Squares(4), path);
            viewer->RenameChannel(1, QStringLiteral("CLK"));
            QCOMPARE(viewer->ViewFile(), ViewFileForUser(path));
            QVERIFY(viewer->ViewFile().startsWith(m_home.path()));
            QVERIFY(QFile::exists(ViewFileForUser(path)));
        }
        auto viewer = MakeViewer();
        viewer->ShowCapture(Squares(4), path);
        QCOMPARE(viewer->ChannelName(1), QStringLiteral("CLK"));
        viewer->RenameChannel(1, QString());
        QVERIFY(!QFile::exists(ViewFileForUser(path)));
    }

    void aBrokenViewFileIsIgnored() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("c.vcd"));
        for (const QByteArray& text :
             {QByteArray("{ not json"), QByteArray("[1, 2]"),
              QByteArray(R"({"format": "quillon-view", "channels": [{"channel": -1},
                  {"channel": 99, "file_name": "CH99", "name": "X"}, {"channel": "1"},
                  {"channel": 2, "file_name": "CH2", "colour": "not a colour", "name": 7}],
                  "decoders": [5, "+nosuchdecoder:x=D0"]})")}) {
            QFile file(ViewFileBeside(path));
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(text);
            file.close();
            auto viewer = MakeViewer();
            viewer->ShowCapture(Squares(4), path);
            for (int c = 0; c < 4; ++c) {
                QCOMPARE(viewer->ChannelName(c), QStringLiteral("CH%1").arg(c));
                QCOMPARE(viewer->ChannelColourOf(c), ChannelColour(c));
            }
            QVERIFY(viewer->Decoders()->Entries().empty());
        }
    }

    void manyChannelsScrollAndAreShownOrHiddenAtOnce() {
        auto viewer = MakeViewer();
        viewer->show();
        QVERIFY(QTest::qWaitForWindowExposed(viewer.get()));
        viewer->ShowCapture(Squares(256), m_home.filePath(QStringLiteral("many.vcd")));
        QWidget* canvas = viewer->Canvas();
        ViewerLayout layout = viewer->Layout();
        QCOMPARE(layout.channels.size(), std::size_t{256});
        QVERIFY(layout.MaxScrollPx() > 0);
        // The picture's own bars (the docks' tables have theirs).
        const auto bars =
            viewer->centralWidget()->findChildren<QScrollBar*>(Qt::FindDirectChildrenOnly);
        QCOMPARE(bars.size(), 2);
        auto* rows = bars.constLast();
        // The vertical bar is the one whose range is the rows'.
        for (auto* bar : bars) {
            if (bar->orientation() == Qt::Vertical) {
                rows = bar;
            }
        }
        QVERIFY(rows->isVisible());
        QCOMPARE(rows->maximum(), layout.MaxScrollPx());

        // The wheel over the names scrolls the rows; over the traces it zooms.
        const double zoom = viewer->View().pixelsPerSample;
        const QPointF names(20, canvas->height() / 2.0);
        QWheelEvent down(names, canvas->mapToGlobal(names), QPoint(), QPoint(0, -120), Qt::NoButton,
                         Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(canvas, &down);
        QCOMPARE(viewer->Layout().scrollPx, 3 * layout.rowHeightPx);
        QCOMPARE(viewer->View().pixelsPerSample, zoom);
        QCOMPARE(viewer->Layout().ChannelAtY(layout.RowsTop()), 3);
        QTest::keyClick(canvas, Qt::Key_Down);
        QCOMPARE(viewer->Layout().ChannelAtY(layout.RowsTop()), 4);
        rows->setValue(rows->maximum());
        QCOMPARE(viewer->Layout().ChannelAtY(layout.RowsBottom() - 1), 255);

        // A channel menu of 256 channels would be a wall: it points to the list instead.
        QMenu* menu = nullptr;
        for (const QAction* action : viewer->ViewMenu()->actions()) {
            menu = action->menu() != nullptr ? action->menu() : menu;
        }
        QVERIFY(menu != nullptr && menu->actions().size() < 10);

        // Rows without edges (every third here) go at once.
        viewer->HideRowsWithoutEdges();
        layout = viewer->Layout();
        QCOMPARE(layout.channels.size(), std::size_t{256 - 85});
        QCOMPARE(layout.RowOfChannel(2), -1);
        QCOMPARE(layout.RowOfChannel(3), 2);
        std::vector<bool> visible(256, false);
        visible[10] = true;
        viewer->SetChannelsVisible(visible);
        QCOMPARE(viewer->Layout().channels, std::vector<int>{10});
        QVERIFY(!rows->isVisible());
    }

    void theRowsDialogShowsHidesAndColoursMany() {
        std::vector<RowChoice> rows;
        for (int c = 0; c < 40; ++c) {
            RowChoice row;
            row.name = c < 20 ? QStringLiteral("TX%1").arg(c) : QStringLiteral("RX%1").arg(c);
            row.hasEdges = c % 2 == 0;
            row.colour = row.ownColour = ChannelColour(c);
            rows.push_back(row);
        }
        CRowsDlg dialog(rows);
        dialog.OnHideWithoutEdges();
        auto chosen = dialog.Rows();
        QVERIFY(chosen[0].visible && !chosen[1].visible && chosen[2].visible);
        // With a filter, "hide all" hides only the rows it leaves in the list.
        auto* filter = dialog.findChild<QLineEdit*>();
        QVERIFY(filter != nullptr);
        filter->setText(QStringLiteral("rx"));
        dialog.OnHideAll();
        chosen = dialog.Rows();
        QVERIFY(chosen[0].visible && !chosen[20].visible && !chosen[22].visible);
        dialog.OnShowAll();
        QVERIFY(dialog.Rows()[22].visible && dialog.Rows()[21].visible);
        QVERIFY(!dialog.Rows()[1].visible); // left out by the filter: as it was
    }

    void timesCanCountFromTheTrigger() {
        auto viewer = MakeViewer();
        viewer->show();
        viewer->ShowCapture(Squares(4), m_home.filePath(QStringLiteral("t.vcd")));
        viewer->SetRelativeTime(false);
        viewer->ZoomAt(1000.0, 0.0); // the deepest zoom: a sample is 40 pixels
        viewer->ScrollTo(990.0);
        const ViewerLayout layout = viewer->Layout();
        // A at the trigger (sample 1000 at 24 MHz), B 24 samples later.
        const auto xOf = [&](double sample) {
            return layout.TraceLeft() +
                   static_cast<int>(std::lround(viewer->View().XOfBoundary(sample)));
        };
        viewer->PlaceCursor(false, xOf(1000), 5);
        viewer->PlaceCursor(true, xOf(1024), 5);
        QCOMPARE(*viewer->CursorA(), std::int64_t{1000});
        QVERIFY2(viewer->CursorText().startsWith(QStringLiteral("A: 41.67 µs   B: 42.67 µs")),
                 qPrintable(viewer->CursorText()));
        viewer->SetRelativeTime(true);
        QVERIFY2(viewer->CursorText().startsWith(QStringLiteral("A: 0 s   B: 1 µs   Δt: 1 µs")),
                 qPrintable(viewer->CursorText()));
        // A capture without a trigger cannot count from it.
        CaptureBuilder builder(1, SamplePeriod::FromHz(1'000'000));
        builder.Resize(10);
        viewer->ShowCapture(builder.Finish(), m_home.filePath(QStringLiteral("u.vcd")));
        QVERIFY(!viewer->IsRelativeTime());
        viewer->SetRelativeTime(false);
    }

    void aFileComesInBehindTheWindowAndEscStopsIt() {
        // A VCD of a few megabytes: long enough to still be read when Esc comes.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("big.vcd"));
        {
            std::ofstream out(path.toStdString());
            out << "$timescale 1 ns $end\n$var wire 1 a D0 $end\n$enddefinitions $end\n";
            for (int i = 0; i < 400'000; ++i) {
                out << '#' << i * 20 << '\n' << (i % 2) << "a\n";
            }
        }
        auto viewer = MakeViewer();
        viewer->show();
        viewer->SetLiveCapture(Squares(16));
        const CapturePtr shown = viewer->Capture();
        viewer->OpenFile(path);
        QVERIFY(viewer->IsLoading()); // the read is under way, the window free
        QVERIFY(viewer->windowTitle().contains(QStringLiteral("big.vcd")));
        QTest::keyClick(viewer->Canvas(), Qt::Key_Escape);
        QVERIFY(!viewer->WaitForFile());
        QVERIFY(!viewer->IsLoading());
        QVERIFY(viewer->Capture() == shown);
        QVERIFY(viewer->IsLive());
        QVERIFY(viewer->statusBar()->currentMessage().contains(QStringLiteral("big.vcd")));

        // Read to the end: shown, the whole of it in view.
        QVERIFY(viewer->LoadFile(path));
        QCOMPARE(viewer->Capture()->SampleCount(), std::int64_t{400'000});
        QVERIFY(!viewer->IsLive());
        QCOMPARE(viewer->View().firstSample, 0.0);
        QCOMPARE(viewer->Layout().channels.size(), std::size_t{1}); // one wire, one row
    }

    void decoderRowsShowTheirOwnNamesAndTheWholeOnHover() {
        auto viewer = MakeViewer();
        viewer->show();
        QSignalSpy decoded(viewer->Decoders(), &CDecoderSet::LanesChanged);
        viewer->ShowCapture(Squares(2), m_home.filePath(QStringLiteral("e.vcd")));
        decoded.wait(1000); // the decoders' (empty) rows of the new capture are in
        const std::string longName = "24xx EEPROM: Fields of a rather long description";
        viewer->SetExtraRows({ExtraRow{"24xx EEPROM: Warnings", {}}, ExtraRow{longName, {}}});
        const ViewerLayout layout = viewer->Layout();
        // The names column grows for long names, up to a limit; beyond it they are elided.
        QVERIFY(layout.nameWidthPx > ViewerLayout::kDefaultNameWidthPx);
        QVERIFY(layout.nameWidthPx <= 240);
        QTest::mouseMove(viewer->Canvas(), QPoint(10, layout.RowTop(3) + 4));
        QCOMPARE(viewer->HoverText(), QString::fromStdString(longName));
        QTest::mouseMove(viewer->Canvas(), QPoint(10, layout.RowTop(2) + 4));
        QCOMPARE(viewer->HoverText(), QStringLiteral("24xx EEPROM: Warnings"));
        QTest::mouseMove(viewer->Canvas(), QPoint(10, layout.RowTop(0) + 4));
        QCOMPARE(viewer->HoverText(), QStringLiteral("CH0"));
        viewer->RenameChannel(0, QStringLiteral("TX"));
        QTest::mouseMove(viewer->Canvas(), QPoint(10, layout.RowTop(0) + 5));
        QCOMPARE(viewer->HoverText(), QStringLiteral("TX (CH0)"));
    }

    void aFileWithoutASampleRateAsksForOne() {
        // CSV of levels only: no times, no rate.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("norate.csv"));
        {
            std::ofstream out(path.toStdString());
            out << "A,B\n";
            for (int i = 0; i < 100; ++i) {
                out << (i / 10) % 2 << ',' << (i / 25) % 2 << '\n';
            }
        }
        auto viewer = MakeViewer();
        viewer->show();
        // The answers, one per question: declined, then a rate that is none, then 24 MHz.
        QStringList answers = {QString(), QStringLiteral("fast"), QStringLiteral("24 MHz")};
        QStringList asked;
        QTimer answer;
        connect(&answer, &QTimer::timeout, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                    asked << box->text();
                    box->accept();
                }
                auto* dialog = qobject_cast<QInputDialog*>(widget);
                if (dialog == nullptr || !dialog->isVisible() || answers.isEmpty()) {
                    continue;
                }
                asked << dialog->labelText();
                const QString text = answers.takeFirst();
                if (text.isEmpty()) {
                    dialog->reject();
                } else {
                    dialog->setTextValue(text);
                    dialog->accept();
                }
            }
        });
        answer.start(10);
        QVERIFY(!viewer->LoadFile(path)); // declined: nothing shown, nothing said
        QCOMPARE(asked.size(), 1);
        QVERIFY(asked[0].contains(QStringLiteral("norate.csv")));
        QVERIFY(!viewer->Capture());

        QVERIFY(viewer->LoadFile(path));
        QCOMPARE(asked.size(), 4); // the question, the box about "fast", the question again
        QVERIFY2(asked[2].contains(QStringLiteral("fast")), qPrintable(asked.join('|')));
        QCOMPARE(viewer->Capture()->Period(), SamplePeriod::FromHz(24'000'000));
        QCOMPARE(viewer->Capture()->ChannelCount(), 2);
        QCOMPARE(viewer->ChannelName(1), QStringLiteral("B"));
    }

    void everyMenuHasItsOwnLettersAndToolBarsNone() {
        auto viewer = MakeViewer();
        auto* extra = new QToolBar(viewer.get()); // as the main window adds its capture bar
        extra->addAction(QStringLiteral("高速ダウンロード(&F)"));
        viewer->addToolBar(extra);
        viewer->show();
        viewer->ShowCapture(Squares(4), m_home.filePath(QStringLiteral("m.vcd")));
        QSet<QChar> bar;
        // The hunting tools' menu and items are among them.
        QStringList menus;
        for (const QAction* action : viewer->menuBar()->actions()) {
            menus << action->text();
        }
        QVERIFY2(menus.contains(QStringLiteral("検索(&S)")), qPrintable(menus.join(',')));
        QVERIFY(viewer->findChild<QAction*>(QStringLiteral("zoomCursors")) != nullptr);
        viewer->OnFind(); // the find bar's buttons count among the tool buttons
        for (const QAction* action : viewer->menuBar()->actions()) {
            const QChar letter = LetterOf(action->text());
            QVERIFY2(!letter.isNull() && !bar.contains(letter), qPrintable(action->text()));
            bar.insert(letter);
            CheckLetters(action->menu());
        }
        // Tool buttons take no letters, so they show none.
        static const QRegularExpression kLetter(QStringLiteral("\\([A-Z]\\)|&"));
        int buttons = 0;
        for (const QToolButton* button : viewer->findChildren<QToolButton*>()) {
            if (qobject_cast<QToolBar*>(button->parentWidget()) != nullptr &&
                !button->text().isEmpty()) {
                ++buttons;
                QVERIFY2(!button->text().contains(kLetter), qPrintable(button->text()));
            }
        }
        QVERIFY(buttons >= 8);
    }
};

QTEST_MAIN(TestViewerViewGui)
#include "test_viewer_view_gui.moc"
