// The window's export: the context menu items, Ctrl+S and its file dialog, the four formats,
// and the boxes for nothing to save and for a file that cannot be written.
#include "capture/capture_bridge.h"
#include "emulator_port.h"
#include "file/capture_file.h"
#include "message_box_closer.h"
#include "support/small_disk.h"
#include "dlg_controls.h"
#include "ui/analyzer_dlg.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <optional>

using namespace quillon;

namespace {

constexpr int kRunTimeoutMs = 15000;

std::string Slurp(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The VCD without its $date section, which names the moment of saving.
std::string WithoutDate(const std::string& vcd) {
    const auto begin = vcd.find("$date");
    if (begin == std::string::npos) {
        return vcd;
    }
    const auto end = vcd.find("$end\n", begin);
    return vcd.substr(0, begin) + vcd.substr(end + 5);
}

// The window's context menu as the user sees it: item texts, "-" for a separator.
QStringList ContextMenuTexts(CAnalyzerDlg& dlg) {
    QStringList texts;
    QTimer::singleShot(50, [&texts] {
        // The menu runs a modal loop of its own: read it from a timer, then close it.
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* a : menu->actions()) {
                texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
            }
            menu->close();
        }
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(100, 100),
                            dlg.mapToGlobal(QPoint(100, 100)));
    QApplication::sendEvent(&dlg, &event);
    return texts;
}

} // namespace

class TestExportGui : public QObject {
    Q_OBJECT

    std::optional<CAnalyzerEmulator> m_emulator;
    std::optional<test::MessageBoxCloser> m_closer;
    QString m_strDir;

    void StartEmulator() { QVERIFY(test::StartEmulatorOnCom3(m_emulator)); }
    static void Open(CAnalyzerDlg& dlg) {
        dlg.OnInitDialog();
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
    }
    static void RunOnce(CAnalyzerDlg& dlg) {
        QSignalSpy finished(&dlg, &CAnalyzerDlg::CaptureFinished);
        QTest::mouseClick(test::RunButton(dlg), Qt::LeftButton);
        QVERIFY(finished.wait(kRunTimeoutMs));
        QVERIFY(dlg.HasCapture());
    }
    QString File(const QString& name) const { return m_strDir + QLatin1Char('/') + name; }

    // Answers the next file dialog from a timer: checks its filters, types name, accepts.
    struct DialogSeen {
        QStringList filters;
        QString selectedFilter;
        bool seen = false;
    };
    static void AnswerFileDialog(DialogSeen& seen, const QString& name) {
        QTimer::singleShot(100, [&seen, name] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog != nullptr);
            seen.seen = true;
            seen.filters = dialog->nameFilters();
            seen.selectedFilter = dialog->selectedNameFilter();
            // Typed as a user types it, into the dialog's name field.
            dialog->setDirectory(QFileInfo(name).absolutePath());
            auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(edit != nullptr);
            edit->setText(QFileInfo(name).fileName());
            static_cast<QDialog*>(dialog)->accept(); // QFileDialog::accept checks the name
        });
    }

private slots:
    void init() {
        m_closer.emplace();
        m_strDir = QString::fromStdString((std::filesystem::temp_directory_path() /
                                           ("quillon-export-gui-" + std::to_string(::getpid())))
                                              .string());
        std::filesystem::create_directories(m_strDir.toStdString());
    }
    void cleanup() {
        m_closer.reset();
        m_emulator.reset();
        std::filesystem::remove_all(m_strDir.toStdString());
        ::setenv("QUILLON_PORTS", "", 1);
    }

    void contextMenuKeepsAboutAndAddsTheFourFormats() {
        ::setenv("QUILLON_PORTS", "", 1);
        CAnalyzerDlg dlg;
        Open(dlg);
        const QStringList texts = ContextMenuTexts(dlg);
        QCOMPARE(texts, (QStringList{QStringLiteral("-"),
                                     QString::fromUtf8("バージョン情報 Quillon(&A)..."),
                                     QStringLiteral("-"), QString::fromUtf8("波形ビューア(&W)..."),
                                     QString::fromUtf8("VCDファイルに保存(&V)..."),
                                     QString::fromUtf8("CSVファイルに保存(&C)..."),
                                     QString::fromUtf8("sigrokファイル(.sr)に保存(&G)..."),
                                     QString::fromUtf8("画像(PNG)に保存(&P)..."),
                                     QStringLiteral("-"), QString::fromUtf8("連続取り込み(&R)"),
                                     QString::fromUtf8("高速ダウンロード(&F)"), QStringLiteral("-"),
                                     QString::fromUtf8("ロジアナを再検索(&S)")}));
    }

    void withoutTheAboutTextTheMenuStillOffersExport() {
        ::setenv("QUILLON_PORTS", "", 1);
        CAnalyzerDlg dlg;
        Open(dlg);
        dlg.SetAboutMenuText(QString());
        const QStringList texts = ContextMenuTexts(dlg);
        QCOMPARE(texts, (QStringList{QStringLiteral("-"), QString::fromUtf8("波形ビューア(&W)..."),
                                     QString::fromUtf8("VCDファイルに保存(&V)..."),
                                     QString::fromUtf8("CSVファイルに保存(&C)..."),
                                     QString::fromUtf8("sigrokファイル(.sr)に保存(&G)..."),
                                     QString::fromUtf8("画像(PNG)に保存(&P)..."),
                                     QStringLiteral("-"), QString::fromUtf8("連続取り込み(&R)"),
                                     QString::fromUtf8("高速ダウンロード(&F)"), QStringLiteral("-"),
                                     QString::fromUtf8("ロジアナを再検索(&S)")}));
    }

    void nothingIsSavedBeforeTheFirstCapture() {
        ::setenv("QUILLON_PORTS", "", 1);
        CAnalyzerDlg dlg;
        Open(dlg);
        m_closer->m_texts.clear(); // the start-up's "not found"
        QVERIFY(!dlg.HasCapture());
        QVERIFY(!dlg.SaveCapture(File(QStringLiteral("early.vcd"))));
        QVERIFY(!QFile::exists(File(QStringLiteral("early.vcd"))));
        // Ctrl+S says the same and opens no file dialog.
        bool dialogOpened = false;
        QTimer::singleShot(100, [&] {
            if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                dialogOpened = true;
                d->reject();
            }
        });
        dlg.activateWindow(); // the boxes took the focus away
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QTest::keyClick(test::RunButton(dlg), Qt::Key_S, Qt::ControlModifier);
        QTest::qWait(200);
        QVERIFY(!dialogOpened);
        QCOMPARE(m_closer->m_texts.size(), 2);
        for (const QString& text : m_closer->m_texts) {
            QVERIFY2(text.startsWith(QString::fromUtf8("保存するデータがありません。")),
                     qPrintable(text));
        }
    }

    void eachFormatHoldsTheCaptureAtItsOwnRate() {
        StartEmulator();
        CAnalyzerDlg dlg;
        Open(dlg);
        RunOnce(dlg);
        // A rate chosen after the run does not change what was captured.
        QTest::mouseClick(test::Rate2us(dlg), Qt::LeftButton);
        QCOMPARE(dlg.CaptureRate(), 1);
        const CaptureData expected = CaptureFromStore(dlg.SnapshotStore(), 1);
        const auto capture = m_emulator->LastCapture();
        QVERIFY(capture.has_value());
        QVERIFY(
            std::equal(expected.samples.begin(), expected.samples.end(), capture->samples.begin()));

        QVERIFY(dlg.SaveCapture(File(QStringLiteral("a.vcd"))));
        const std::string vcd = Slurp(File(QStringLiteral("a.vcd")));
        QVERIFY(vcd.find("$date") != std::string::npos);
        QCOMPARE(WithoutDate(vcd), CaptureFileBytes(*ToCapture(expected), FileFormat::Vcd));

        QVERIFY(dlg.SaveCapture(File(QStringLiteral("a.CSV"))));
        QCOMPARE(Slurp(File(QStringLiteral("a.CSV"))),
                 CaptureFileBytes(*ToCapture(expected), FileFormat::Csv));

        // The sigrok session file: the same samples, the rate and the names.
        QVERIFY(dlg.SaveCapture(File(QStringLiteral("a.sr"))));
        FileReadError error;
        const CapturePtr session =
            ReadCaptureFile(File(QStringLiteral("a.sr")).toStdString(), {}, error);
        QVERIFY2(session != nullptr, error.Text().c_str());
        QCOMPARE(session->ChannelNames(), ToCapture(expected)->ChannelNames());
        QCOMPARE(session->Period(), SamplePeriod::FromHz(50'000'000));
        QCOMPARE(CaptureFileBytes(*session, FileFormat::Csv),
                 CaptureFileBytes(*ToCapture(expected), FileFormat::Csv));

        QVERIFY(dlg.SaveCapture(File(QStringLiteral("a.png"))));
        const QImage png(File(QStringLiteral("a.png")));
        QVERIFY(!png.isNull());
        QCOMPARE(png.convertToFormat(QImage::Format_RGB32),
                 dlg.ViewImage().convertToFormat(QImage::Format_RGB32));
        QVERIFY(m_closer->m_texts.isEmpty());
    }

    void failuresAreToldWithTheReason() {
        StartEmulator();
        CAnalyzerDlg dlg;
        Open(dlg);
        RunOnce(dlg);
        QVERIFY(!dlg.SaveCapture(File(QStringLiteral("missing/a.vcd"))));
        QCOMPARE(m_closer->m_texts.size(), 1);
        QVERIFY(
            m_closer->m_texts[0].startsWith(QString::fromUtf8("ファイルに保存できませんでした。")));
        QVERIFY2(m_closer->m_texts[0].contains(QStringLiteral("No such file or directory")),
                 qPrintable(m_closer->m_texts[0]));
        QCOMPARE(m_closer->m_captions[0], QCoreApplication::applicationName());

        QVERIFY(!dlg.SaveCapture(File(QStringLiteral("a.txt"))));
        QCOMPARE(m_closer->m_texts.size(), 2);
        QVERIFY(m_closer->m_texts[1].contains(QStringLiteral(".vcd .csv .sr .png")));
        QVERIFY(!QFile::exists(File(QStringLiteral("a.txt"))));
    }

    // Saving onto a full disk: told, and the file that was there is still whole.
    void aFullDiskLeavesTheOldFileAlone() {
        test::SmallDisk disk(256 * 1024);
        if (!disk.IsMounted()) {
            QSKIP("no right to mount a small tmpfs");
        }
        StartEmulator();
        CAnalyzerDlg dlg;
        Open(dlg);
        RunOnce(dlg);
        const QString csv = QString::fromStdString(disk.File("old.csv"));
        const std::string old(1000, 'o');
        std::ofstream(disk.File("old.csv"), std::ios::binary) << old;
        disk.Fill(16 * 1024);
        QVERIFY(!dlg.SaveCapture(csv));
        QCOMPARE(m_closer->m_texts.size(), 1);
        QVERIFY2(m_closer->m_texts[0].contains(QStringLiteral("No space left on device")),
                 qPrintable(m_closer->m_texts[0]));
        QCOMPARE(Slurp(csv), old);
        QCOMPARE(disk.Names(), (std::vector<std::string>{"filler", "old.csv"}));
    }

    void ctrlSAndTheMenuOpenTheFileDialog() {
        StartEmulator();
        CAnalyzerDlg dlg;
        Open(dlg);
        RunOnce(dlg);
        const CaptureData expected = CaptureFromStore(dlg.SnapshotStore(), dlg.CaptureRate());

        // Ctrl+S: all four filters, VCD first; a name without extension becomes .vcd.
        DialogSeen seen;
        AnswerFileDialog(seen, File(QStringLiteral("keyed")));
        QTest::keyClick(test::RunButton(dlg), Qt::Key_S, Qt::ControlModifier);
        QTRY_VERIFY(seen.seen);
        QCOMPARE(seen.filters, (QStringList{QString::fromUtf8("VCDファイル (*.vcd)"),
                                            QString::fromUtf8("CSVファイル (*.csv)"),
                                            QString::fromUtf8("sigrokセッションファイル (*.sr)"),
                                            QString::fromUtf8("PNG画像 (*.png)")}));
        QCOMPARE(seen.selectedFilter, seen.filters[0]);
        QTRY_VERIFY(QFile::exists(File(QStringLiteral("keyed.vcd"))));
        QCOMPARE(WithoutDate(Slurp(File(QStringLiteral("keyed.vcd")))),
                 CaptureFileBytes(*ToCapture(expected), FileFormat::Vcd));

        // The CSV item offers the CSV filter.
        DialogSeen fromMenu;
        AnswerFileDialog(fromMenu, File(QStringLiteral("menu")));
        QTimer::singleShot(50, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(menu != nullptr);
            for (QAction* a : menu->actions()) {
                if (a->text() == QString::fromUtf8("CSVファイルに保存(&C)...")) {
                    menu->close();
                    a->trigger();
                    return;
                }
            }
            QFAIL("no CSV item");
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(100, 100),
                                dlg.mapToGlobal(QPoint(100, 100)));
        QApplication::sendEvent(&dlg, &event);
        QTRY_VERIFY(fromMenu.seen);
        QCOMPARE(fromMenu.selectedFilter, QString::fromUtf8("CSVファイル (*.csv)"));
        QTRY_VERIFY(QFile::exists(File(QStringLiteral("menu.csv"))));
        QCOMPARE(Slurp(File(QStringLiteral("menu.csv"))),
                 CaptureFileBytes(*ToCapture(expected), FileFormat::Csv));
        QVERIFY(m_closer->m_texts.isEmpty());
    }
};

QTEST_MAIN(TestExportGui)
#include "test_export_gui.moc"
