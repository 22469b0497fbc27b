// The viewer's hunting tools with mouse and keys: the find bar (k of n, wrapping, a refused
// condition), markers (added, renamed, deleted, kept with the file, time from cursor A), zoom
// to a range, the annotation table (filter, jump, export) and the statistics of a known
// capture.
#include "capture/capture.h"
#include "capture/capture_bridge.h"
#include "display/viewer_picture.h"
#include "emulator/bench_signals.h"
#include "ui/annotation_table.h"
#include "ui/decoder_set.h"
#include "ui/viewer_wnd.h"

#include <QDockWidget>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace quillon;

namespace {

constexpr std::int64_t kN = 1000; // 1 us a sample

// CLK: 10 us a period, high 3 us, rising at 5, 15, ..., 995. GL: quiet but for one-sample
// glitches at 200 and 700. DATA: high from 400 to 460, samples 600..619 not received.
CapturePtr HuntCapture() {
    CaptureBuilder builder(3, SamplePeriod::FromHz(1'000'000));
    builder.Resize(kN);
    builder.SetChannelName(0, "CLK");
    builder.SetChannelName(1, "GL");
    builder.SetChannelName(2, "DATA");
    for (std::int64_t s = 5; s < kN; s += 10) {
        builder.Fill(0, s, s + 3, true);
    }
    builder.SetLevel(1, 200, true);
    builder.SetLevel(1, 700, true);
    builder.Fill(2, 400, 460, true);
    builder.MarkMissing(2, 600, 620);
    return builder.Finish();
}

std::shared_ptr<const AnnotationLane> Lane(const std::string& label,
                                           std::vector<std::pair<std::int64_t, std::string>> at) {
    DecoderInfo decoder;
    decoder.name = label;
    CLaneBuilder builder({&decoder});
    for (const auto& [first, text] : at) {
        builder.Add({first, first + 20, 0, 0, -1, {text}});
    }
    auto lanes = builder.Finish(std::nullopt, kN);
    return std::make_shared<const AnnotationLane>(std::move(lanes.front()));
}

QString Time(double seconds) {
    return QString::fromStdString(FormatDuration(seconds));
}

} // namespace

class TestViewerHuntGui : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;
    QTemporaryDir m_dir;
    std::unique_ptr<CViewerWnd> m_viewer;

    QString File() const { return m_dir.filePath(QStringLiteral("hunt.vcd")); }

    void Shoot(const QString& name) {
        // Pictures to look at while developing: QUILLON_SHOTS=folder.
        const QByteArray folder = qgetenv("QUILLON_SHOTS");
        if (!folder.isEmpty()) {
            m_viewer->grab().save(QString::fromUtf8(folder) + QLatin1Char('/') + name);
        }
    }

private slots:
    void initTestCase() {
        qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")).toUtf8());
        qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toUtf8());
        qputenv("QUILLON_DECODER", QUILLON_DECODER_PATH); // the one just built
    }

    void init() {
        m_viewer = std::make_unique<CViewerWnd>();
        m_viewer->setAttribute(Qt::WA_DeleteOnClose, false);
        m_viewer->resize(1200, 700);
        m_viewer->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_viewer.get()));
        m_viewer->ShowCapture(HuntCapture(), File());
    }

    void cleanup() {
        m_viewer.reset();
        QFile::remove(ViewFileBeside(File()));
    }

    void findCountsWrapsAndRefuses_data() {
        QTest::addColumn<QString>("condition");
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<qint64>>("walk"); // first samples: F3, F3, F3, Shift+F3
        QTest::addColumn<QString>("status");     // after the walk ("" : k / n)
        QTest::newRow("glitches") << "GL high<2us" << 2 << QList<qint64>{200, 700, 200, 700}
                                  << "2 / 2 件";
        QTest::newRow("clock") << "CLK rise" << 100 << QList<qint64>{5, 15, 25, 15} << "2 / 100 件";
        QTest::newRow("and") << "CLK high and GL high" << 0 << QList<qint64>{} << "見つかりません";
        // The pulse across samples not received is no pulse.
        QTest::newRow("gap") << "DATA low<200us" << 0 << QList<qint64>{} << "見つかりません";
        QTest::newRow("whole") << "DATA high=60us" << 1 << QList<qint64>{400, 400, 400, 400}
                               << "1 / 1 件";
        QTest::newRow("bad") << "CLK hgh" << 0 << QList<qint64>{} << "5 文字目";
        QTest::newRow("unknown") << "NOPE rise" << 0 << QList<qint64>{} << "1 文字目";
    }
    void findCountsWrapsAndRefuses() {
        QFETCH(QString, condition);
        QFETCH(int, count);
        QFETCH(QList<qint64>, walk);
        QFETCH(QString, status);
        // Ctrl+F puts the keyboard in the bar; Enter searches.
        QTest::keyClick(m_viewer.get(), Qt::Key_F, Qt::ControlModifier);
        auto* edit = m_viewer->findChild<QLineEdit*>(QStringLiteral("findCondition"));
        QVERIFY(edit != nullptr && edit->isVisible());
        QTRY_VERIFY(edit->hasFocus());
        QTest::keyClicks(edit, condition);
        QCOMPARE(m_viewer->FindCondition(), condition);
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(m_viewer->FindCount(), count);
        for (int step = 0; step < walk.size(); ++step) {
            if (step > 0) {
                QTest::keyClick(m_viewer.get(), Qt::Key_F3,
                                step == 3 ? Qt::ShiftModifier : Qt::NoModifier);
            }
            QVERIFY(m_viewer->Highlight().has_value());
            QCOMPARE(m_viewer->Highlight()->first, walk[step]);
            // Scrolled into view.
            const Viewport& view = m_viewer->View();
            QVERIFY(view.XOfBoundary(static_cast<double>(walk[step])) >= 0);
            QVERIFY(view.XOfBoundary(static_cast<double>(walk[step])) < view.widthPx);
        }
        QVERIFY2(m_viewer->FindStatus().contains(status), qPrintable(m_viewer->FindStatus()));
        if (QTest::currentDataTag() == QLatin1String("glitches")) {
            Shoot(QStringLiteral("find.png"));
        }
    }

    void markersAreListedRenamedDeletedAndKept() {
        m_viewer->SetCursor(false, 100);
        m_viewer->AddMarker(300);
        m_viewer->AddMarker(50, QStringLiteral("start"));
        // Double-click on the time axis: a marker there.
        const ViewerLayout layout = m_viewer->Layout();
        const int x = layout.TraceLeft() + static_cast<int>(m_viewer->View().XOfBoundary(500));
        QTest::mouseDClick(m_viewer->Canvas(), Qt::LeftButton, {}, QPoint(x, 5));
        m_viewer->ShowMarkers();
        QTableWidget* table = m_viewer->MarkerTable();
        QCOMPARE(table->rowCount(), 3);
        QCOMPARE(table->item(0, 0)->text(), QStringLiteral("start"));
        QCOMPARE(table->item(1, 0)->text(), QStringLiteral("M1"));
        QCOMPARE(table->item(2, 0)->text(), QStringLiteral("M2"));
        QVERIFY(std::abs(m_viewer->Markers()[2].sample - 500) <= 2);
        // Times from cursor A, which follow it.
        QCOMPARE(table->item(0, 2)->text(), Time(-50e-6));
        QCOMPARE(table->item(1, 2)->text(), Time(200e-6));
        m_viewer->SetCursor(false, 0);
        QCOMPARE(table->item(1, 2)->text(), Time(300e-6));
        Shoot(QStringLiteral("markers.png"));

        table->item(1, 0)->setText(QStringLiteral("ack")); // as the user edits the cell
        QCOMPARE(m_viewer->Markers()[1].name, QStringLiteral("ack"));
        table->item(1, 0)->setText(QString()); // an empty name is not taken
        QCOMPARE(m_viewer->Markers()[1].name, QStringLiteral("ack"));
        QCOMPARE(table->item(1, 0)->text(), QStringLiteral("ack"));
        table->setCurrentCell(0, 0);
        table->setFocus();
        QTest::keyClick(table, Qt::Key_Delete);
        QCOMPARE(m_viewer->Markers().size(), std::size_t{2});
        QCOMPARE(m_viewer->Markers()[0].name, QStringLiteral("ack"));

        // M typed into the find bar is a letter of the condition, not a marker.
        m_viewer->OnFind();
        QTest::keyClicks(m_viewer->findChild<QLineEdit*>(QStringLiteral("findCondition")),
                         QStringLiteral("M"));
        QCOMPARE(m_viewer->Markers().size(), std::size_t{2});
        QCOMPARE(m_viewer->FindCondition(), QStringLiteral("M"));

        // Kept with the file's view.
        m_viewer = std::make_unique<CViewerWnd>();
        m_viewer->setAttribute(Qt::WA_DeleteOnClose, false);
        m_viewer->ShowCapture(HuntCapture(), File());
        QCOMPARE(m_viewer->Markers().size(), std::size_t{2});
        QCOMPARE(m_viewer->Markers()[0].sample, std::int64_t{300});
        QCOMPARE(m_viewer->Markers()[0].name, QStringLiteral("ack"));
    }

    void zoomToARange() {
        // A drag along the time axis fits what it covered.
        const ViewerLayout layout = m_viewer->Layout();
        const auto xOf = [&](double sample) {
            return layout.TraceLeft() + static_cast<int>(m_viewer->View().XOfBoundary(sample));
        };
        const int x0 = xOf(200);
        const int x1 = xOf(400);
        QTest::mousePress(m_viewer->Canvas(), Qt::LeftButton, {}, QPoint(x0, 5));
        QTest::mouseMove(m_viewer->Canvas(), QPoint((x0 + x1) / 2, 5));
        QTest::mouseMove(m_viewer->Canvas(), QPoint(x1, 5));
        QTest::mouseRelease(m_viewer->Canvas(), Qt::LeftButton, {}, QPoint(x1, 5));
        QVERIFY(std::abs(m_viewer->View().firstSample - 200) < 3);
        QVERIFY(std::abs(m_viewer->View().VisibleSamples() - 200) < 5);
        QVERIFY(!m_viewer->Highlight().has_value());

        // "A-B を拡大" fits the cursors exactly.
        m_viewer->SetCursor(false, 700);
        m_viewer->SetCursor(true, 600);
        QAction* fit = m_viewer->findChild<QAction*>(QStringLiteral("zoomCursors"));
        QVERIFY(fit != nullptr);
        fit->trigger();
        QCOMPARE(m_viewer->View().firstSample, 600.0);
        QCOMPARE(m_viewer->View().VisibleSamples(), 100.0);
    }

    void annotationTableFiltersJumpsAndExports() {
        // The rows as a decode would give them, once the decoders' empty answer for the new
        // capture is in.
        QSignalSpy decoded(m_viewer->Decoders(), &CDecoderSet::LanesChanged);
        decoded.wait(1000);
        CAnnotationModel* model = m_viewer->Annotations();
        model->SetLanes({Lane("UART: RX", {{100, "H"}, {300, "ERR"}, {800, "i"}}),
                         Lane("UART: TX", {{200, "OK"}, {900, "ERR 2"}})},
                        SamplePeriod::FromHz(1'000'000), 0.0);
        m_viewer->ShowAnnotationTable();
        QTableView* table = m_viewer->AnnotationTable();
        QCOMPARE(model->rowCount(), 5);
        // By start, whatever the row.
        QCOMPARE(model->index(1, CAnnotationModel::kText).data().toString(), QStringLiteral("OK"));
        QCOMPARE(model->index(1, CAnnotationModel::kDecoder).data().toString(),
                 QStringLiteral("UART"));
        QCOMPARE(model->index(1, CAnnotationModel::kRow).data().toString(), QStringLiteral("TX"));
        QCOMPARE(model->index(1, CAnnotationModel::kStart).data().toString(), Time(200e-6));
        Shoot(QStringLiteral("annotations.png"));

        QTest::keyClicks(m_viewer->AnnotationFilter(), QStringLiteral("err"));
        QTRY_COMPARE(model->rowCount(), 2);
        // A click jumps to the annotation.
        table->resizeRowsToContents();
        const QRect cell = table->visualRect(model->index(1, CAnnotationModel::kText));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        QVERIFY(m_viewer->Highlight().has_value());
        QCOMPARE(m_viewer->Highlight()->first, std::int64_t{900});

        QTemporaryDir dir;
        QString error;
        m_viewer->OnFitAll();
        const QString all = dir.filePath(QStringLiteral("all.csv"));
        QVERIFY2(m_viewer->ExportAnnotations(all, false, error), qPrintable(error));
        QFile file(all);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()),
                 QStringLiteral("sample,start_s,decoder,row,text\n"
                                "300,0.0003,UART,RX,ERR\n"
                                "900,0.0009,UART,TX,ERR 2\n"));
        const QString between = dir.filePath(QStringLiteral("between.csv"));
        QVERIFY(!m_viewer->ExportAnnotations(between, true, error)); // no cursors yet
        m_viewer->SetCursor(false, 850);
        m_viewer->SetCursor(true, 950);
        QVERIFY2(m_viewer->ExportAnnotations(between, true, error), qPrintable(error));
        QFile part(between);
        QVERIFY(part.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(part.readAll()),
                 QStringLiteral("sample,start_s,decoder,row,text\n900,0.0009,UART,TX,ERR 2\n"));
    }

    void annotationsOfTheViewersDecodersAreFoundAndListed() {
        // The emulated bench's UART ("Hello from Quillon!") on D8, decoded by the viewer.
        CaptureData bench;
        bench.rate = 10;
        bench.samples = SampleSignals(SignalSet::Bench, 10, 0, 4032);
        m_viewer->ShowCapture(ToCapture(bench), m_dir.filePath(QStringLiteral("bench.vcd")));
        m_viewer->Decoders()->SetEntries(
            {{{{"uart",
                {{"rx", 8}},
                {{"baudrate", std::int64_t{921600}}, {"format", std::string("ascii")}}}},
              true}});
        WaitForDecoders(*m_viewer->Decoders());
        QVERIFY(!m_viewer->Decoders()->Lanes().empty());
        QVERIFY(m_viewer->Annotations()->rowCount() > 20);

        m_viewer->SetFindCondition(QStringLiteral("ann=uart:Q"));
        QVERIFY(m_viewer->FindNext());
        QVERIFY(m_viewer->FindCount() >= 1);
        const SampleRange found = *m_viewer->Highlight();
        // The table, filtered to the same text, starts with the annotation found.
        m_viewer->ShowAnnotationTable();
        m_viewer->AnnotationFilter()->setText(QStringLiteral("Q"));
        CAnnotationModel* model = m_viewer->Annotations();
        QTRY_VERIFY(model->rowCount() >= 1 && model->rowCount() < 10);
        QCOMPARE(model->RangeOf(0).first, found.first);
        // A decoder not in the set is refused where it is named.
        m_viewer->SetFindCondition(QStringLiteral("ann=spi:x"));
        QVERIFY(!m_viewer->FindNext());
        QVERIFY2(m_viewer->FindStatus().startsWith(QStringLiteral("5 文字目")),
                 qPrintable(m_viewer->FindStatus()));
        m_viewer->Decoders()->SetEntries({});
        QFile::remove(ViewFileBeside(m_dir.filePath(QStringLiteral("bench.vcd"))));
    }

    void statisticsOfTheClockBetweenTheCursors() {
        m_viewer->ShowStatistics();
        QTableWidget* table = m_viewer->StatsTable();
        QTRY_VERIFY(!m_viewer->IsMeasuring()); // measured off the GUI thread
        QCOMPARE(table->rowCount(), 3);
        // Whole capture: 100 rising and falling edges, highs of 3 us, 99 whole lows of 7 us.
        const QStringList clock = {QStringLiteral("CLK"),
                                   QStringLiteral("100"),
                                   QStringLiteral("100"),
                                   Time(3e-6),
                                   Time(3e-6),
                                   Time(3e-6),
                                   Time(7e-6),
                                   Time(7e-6),
                                   Time(7e-6),
                                   QStringLiteral("100 kHz / 30.0 %")};
        for (int column = 0; column < clock.size(); ++column) {
            QCOMPARE(table->item(0, column)->text(), clock[column]);
        }
        // DATA: its one whole high of 60 us; the low across the gap is not measured.
        QCOMPARE(table->item(2, 3)->text(), Time(60e-6));
        QCOMPARE(table->item(2, 6)->text(), QStringLiteral("-"));
        // Between the cursors, cut inside pulses: only the whole ones.
        m_viewer->SetCursor(false, 16);
        m_viewer->SetCursor(true, 44);
        QVERIFY(m_viewer->IsMeasuring());
        QTRY_VERIFY(!m_viewer->IsMeasuring());
        QCOMPARE(table->item(0, 1)->text(), QStringLiteral("2"));
        QCOMPARE(table->item(0, 2)->text(), QStringLiteral("3"));
        QCOMPARE(table->item(1, 1)->text(), QStringLiteral("0"));
        QCOMPARE(table->item(1, 3)->text(), QStringLiteral("-"));
        const QString text = m_viewer->StatisticsText();
        QVERIFY(text.startsWith(QStringLiteral("チャンネル\t立ち上がり")));
        QCOMPARE(text.count(QLatin1Char('\n')), 4);
        Shoot(QStringLiteral("stats.png"));
    }
};

QTEST_MAIN(TestViewerHuntGui)
#include "test_viewer_hunt_gui.moc"
