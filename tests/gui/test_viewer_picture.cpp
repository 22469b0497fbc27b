// The viewer's picture pixel by pixel: a one-sample glitch stays visible with the whole
// capture in view (4032 and 10 million samples), an edge lands on its sample boundary at the
// deepest zoom, samples not received carry no trace (per channel), rows scrolled under the
// axis leave it alone; and the trace columns agree with a sample-by-sample count at any zoom.
#include "display/viewer_picture.h"
#include "support/extra_rows.h"

#include <QGuiApplication>
#include <QTest>

#include <random>

using namespace quillon;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr std::int64_t kSamples = 4032;

struct Row {
    int yHigh;
    int yLow;
};

// Where channel's trace levels lie in the picture of scene.
Row RowOf(const ViewerScene& scene, int channel) {
    const ViewerLayout layout = LayoutForScene(kWidth, kHeight, scene);
    const int r = layout.RowOfChannel(channel);
    return {layout.RowTop(r) + kTraceMarginPx, layout.RowTop(r + 1) - 1 - kTraceMarginPx};
}

// A capture of the analyzer's 16 channels, all low, 20 ns per sample.
CaptureBuilder Quiet(std::int64_t samples, int channels = kAnalyzerChannels) {
    CaptureBuilder builder(channels, SamplePeriod::FromPicoseconds(20'000));
    builder.Resize(samples);
    return builder;
}

struct Picture {
    CapturePtr capture;
    ViewerScene scene;
    QImage image{kWidth, kHeight, QImage::Format_RGB32};
    int left = 0;

    explicit Picture(CapturePtr made) : capture(std::move(made)) {
        scene.capture = capture.get();
        // D15 at the top, as the live view shows the analyzer's channels.
        for (int c = capture->ChannelCount() - 1; c >= 0; --c) {
            scene.rows.push_back(c);
        }
        left = LayoutForScene(kWidth, kHeight, scene).TraceLeft();
        scene.view = FitAll(capture->SampleCount(), kWidth - left);
    }
    void Draw() { DrawViewer(image, scene); }
    bool Is(int column, int y, QRgb colour) const {
        return image.pixel(left + column, y) == colour;
    }
};

// What the columns of channel must show, sample by sample: a column holds the samples that
// reach into it, and the boundaries that lie in it.
std::vector<std::uint8_t> ExpectedColumns(const Capture& capture, int channel,
                                          const Viewport& view) {
    std::vector<std::uint8_t> columns(static_cast<std::size_t>(view.widthPx), 0);
    const auto put = [&](std::int64_t c, std::uint8_t state) {
        if (c >= 0 && c < view.widthPx) {
            columns[static_cast<std::size_t>(c)] |= state;
        }
    };
    for (std::int64_t s = 0; s < capture.SampleCount(); ++s) {
        if (!capture.IsReceived(channel, s)) {
            continue;
        }
        const std::uint8_t level = capture.Level(channel, s) ? kColumnHigh : kColumnLow;
        const auto from = ColumnOfBoundary(view, s);
        const auto to = ColumnsBefore(view, s + 1);
        for (auto c = std::max<std::int64_t>(from, 0); c < std::min<std::int64_t>(to, view.widthPx);
             ++c) {
            put(c, level | kColumnData);
        }
        if (s > 0 && capture.IsReceived(channel, s - 1) &&
            capture.Level(channel, s) != capture.Level(channel, s - 1)) {
            put(ColumnOfBoundary(view, s), kColumnEdge);
        }
    }
    return columns;
}

} // namespace

class TestViewerPicture : public QObject {
    Q_OBJECT
private slots:
    void aOneSampleGlitchIsAVerticalLineInTheWholeCaptureView_data() {
        QTest::addColumn<qint64>("samples");
        QTest::newRow("4032") << qint64{kSamples};
        QTest::newRow("10 M") << qint64{10'000'000};
    }
    void aOneSampleGlitchIsAVerticalLineInTheWholeCaptureView() {
        QFETCH(qint64, samples);
        const std::int64_t at = samples / 2 + 1;
        CaptureBuilder builder = Quiet(samples, 1);
        builder.SetLevel(0, at, true); // high for one sample of them all
        Picture picture(builder.Finish());
        picture.Draw();
        const Row row = RowOf(picture.scene, 0);
        const QRgb colour = ChannelColour(0);
        const auto glitch = ColumnOfBoundary(picture.scene.view, at);
        const auto after = ColumnOfBoundary(picture.scene.view, at + 1);
        QVERIFY(after - glitch <= 1);
        for (int c = 0; c < picture.scene.view.widthPx; ++c) {
            if (c == glitch || c == after) {
                for (int y = row.yHigh; y <= row.yLow; ++y) {
                    QVERIFY2(picture.Is(c, y, colour), qPrintable(QStringLiteral("y %1").arg(y)));
                }
                QVERIFY(!picture.Is(c, row.yHigh - 1, colour));
                QVERIFY(!picture.Is(c, row.yLow + 1, colour));
            } else {
                QVERIFY2(picture.Is(c, row.yLow, colour), qPrintable(QString::number(c)));
                QVERIFY2(!picture.Is(c, row.yHigh, colour), qPrintable(QString::number(c)));
            }
        }
    }

    void anEdgeLiesOnItsSampleBoundaryAtTheDeepestZoom() {
        CaptureBuilder builder = Quiet(kSamples);
        builder.Fill(5, 103, kSamples, true); // D5 rises at sample 103
        Picture picture(builder.Finish());
        picture.scene.view.pixelsPerSample = kMaxPixelsPerSample;
        picture.scene.view.firstSample = 100.0;
        picture.Draw();
        const Row row = RowOf(picture.scene, 5);
        const QRgb colour = ChannelColour(5);
        // Samples 100, 101, 102 low over 40 pixels each, the edge at column 120, then high.
        for (int c = 0; c < 120; ++c) {
            QVERIFY(picture.Is(c, row.yLow, colour) && !picture.Is(c, row.yHigh, colour));
        }
        for (int y = row.yHigh; y <= row.yLow; ++y) {
            QVERIFY(picture.Is(120, y, colour));
        }
        QVERIFY(!picture.Is(119, row.yHigh + 1, colour));
        QVERIFY(!picture.Is(121, row.yHigh + 1, colour));
        for (int c = 121; c < picture.scene.view.widthPx; ++c) {
            QVERIFY(picture.Is(c, row.yHigh, colour) && !picture.Is(c, row.yLow, colour));
        }
    }

    void samplesNotReceivedCarryNoTraceOnTheirChannelOnly() {
        CaptureBuilder builder = Quiet(kSamples);
        builder.MarkMissing(0, 1024, 1152); // D0 only
        Picture picture(builder.Finish());
        picture.Draw();
        const Row d0 = RowOf(picture.scene, 0);
        const Row d1 = RowOf(picture.scene, 1);
        const QRgb colour = ChannelColour(0);
        const auto from = ColumnOfBoundary(picture.scene.view, 1024) + 1;
        const auto to = ColumnOfBoundary(picture.scene.view, 1152);
        QVERIFY(to - from > 40);
        int hatched = 0;
        for (auto c = from; c < to; ++c) {
            QVERIFY(!picture.Is(static_cast<int>(c), d0.yLow, colour));
            QVERIFY(picture.Is(static_cast<int>(c), d1.yLow, ChannelColour(1)));
            for (int y = d0.yHigh; y <= d0.yLow; ++y) {
                hatched += picture.image.pixel(picture.left + static_cast<int>(c), y) != 0xffffffffU
                               ? 1
                               : 0;
            }
        }
        QVERIFY(hatched > 0);
        QVERIFY(picture.Is(static_cast<int>(from) - 2, d0.yLow, colour));
        QVERIFY(picture.Is(static_cast<int>(to) + 1, d0.yLow, colour));
    }

    void traceColumnsAgreeWithTheSamplesAtEveryZoom_data() {
        QTest::addColumn<double>("pixelsPerSample");
        QTest::addColumn<double>("firstSample");
        QTest::newRow("whole") << 1824.0 / 20'000 << 0.0;
        QTest::newRow("0.37") << 0.37 << 1234.5;
        QTest::newRow("1") << 1.0 << 7000.25;
        QTest::newRow("3.3") << 3.3 << 15'000.9;
        QTest::newRow("40") << kMaxPixelsPerSample << 19'970.0;
    }
    void traceColumnsAgreeWithTheSamplesAtEveryZoom() {
        QFETCH(double, pixelsPerSample);
        QFETCH(double, firstSample);
        // Random runs of 1 to 300 samples, a fast clock, and gaps on some channels.
        constexpr std::int64_t kN = 20'000;
        CaptureBuilder builder = Quiet(kN, 4);
        std::mt19937 random(11);
        for (int channel = 0; channel < 3; ++channel) {
            bool level = false;
            for (std::int64_t s = 0; s < kN;) {
                const std::int64_t run = 1 + static_cast<std::int64_t>(random() % 300);
                builder.Fill(channel, s, std::min(kN, s + run), level);
                level = !level;
                s += run;
            }
        }
        for (std::int64_t s = 0; s < kN; ++s) {
            builder.SetLevel(3, s, (s / 3) % 2 == 1);
        }
        builder.MarkMissing(1, 3000, 3001);
        builder.MarkMissing(1, 9000, 12'000);
        builder.MarkMissing(2, 0, 50);
        builder.MarkMissing(3, 19'990, kN);
        const CapturePtr capture = builder.Finish();
        Viewport view;
        view.widthPx = 1824;
        view.pixelsPerSample = pixelsPerSample;
        view.firstSample = firstSample;
        std::vector<std::uint8_t> columns;
        for (int channel = 0; channel < 4; ++channel) {
            TraceColumns(*capture, channel, view, columns);
            const auto expected = ExpectedColumns(*capture, channel, view);
            for (int c = 0; c < view.widthPx; ++c) {
                const auto got = columns[static_cast<std::size_t>(c)];
                const auto want = expected[static_cast<std::size_t>(c)];
                const auto what = QStringLiteral("channel %1 column %2: %3, not %4")
                                      .arg(channel)
                                      .arg(c)
                                      .arg(got)
                                      .arg(want);
                QVERIFY2((got & (kColumnEdge | kColumnData)) ==
                             (want & (kColumnEdge | kColumnData)),
                         qPrintable(what));
                if ((want & kColumnEdge) == 0) {
                    QVERIFY2(got == want, qPrintable(what));
                }
            }
        }
    }

    void extraRowsShowTheirOwnNameAndBoxesUnderTheChannels() {
        Picture picture(Quiet(kSamples).Finish());
        picture.scene.extraRows = {test::OneBoxRow("24xx EEPROM: Warnings", 1000, 2000, "H", 1)};
        picture.Draw();
        const ViewerLayout layout = LayoutForScene(kWidth, kHeight, picture.scene);
        QCOMPARE(layout.extraRows, 1);
        const int y = layout.RowTop(16) + layout.rowHeightPx / 4;
        QCOMPARE(layout.ExtraRowAtY(y), 0);
        const auto inside = ColumnOfBoundary(picture.scene.view, 1200);
        const auto outside = ColumnOfBoundary(picture.scene.view, 2500);
        QVERIFY(picture.image.pixel(picture.left + static_cast<int>(inside), y) != 0xffffffff);
        QCOMPARE(picture.image.pixel(picture.left + static_cast<int>(outside), y), 0xffffffffU);
        const Row d0 = RowOf(picture.scene, 0); // the channels keep their rows above
        QVERIFY(picture.Is(10, d0.yLow, ChannelColour(0)));
        QCOMPARE(ExtraRowName("24xx EEPROM: Warnings"), std::string("Warnings"));
        QCOMPARE(ExtraRowName("UART"), std::string("UART"));
    }

    void rowsScrolledUpLeaveTheAxisAlone() {
        // 256 channels, every one of them high: scrolled, no trace reaches into the axis.
        CaptureBuilder builder = Quiet(kSamples, 256);
        for (int c = 0; c < 256; ++c) {
            builder.Fill(c, 0, kSamples, true);
        }
        Picture picture(builder.Finish());
        constexpr QRgb kGreen = 0xff00ff00; // a colour no text or line of the picture has
        picture.scene.colours.assign(256, kGreen);
        picture.scene.scrollPx = ViewerLayout::kMinRowPx * 100 + 7;
        picture.Draw();
        const ViewerLayout layout = LayoutForScene(kWidth, kHeight, picture.scene);
        QCOMPARE(layout.FirstRowShown(), 100);
        for (int y = 0; y < layout.RowsTop(); ++y) {
            for (int x = 0; x < kWidth; ++x) {
                QVERIFY2(picture.image.pixel(x, y) != kGreen,
                         qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
            }
        }
        // The row at the top of the area shows its trace; the footer stays clear.
        const int channel = layout.ChannelAtY(layout.RowsTop() + layout.rowHeightPx);
        const Row row = RowOf(picture.scene, channel);
        QVERIFY(picture.Is(700, row.yHigh, kGreen));
        for (int y = layout.RowsBottom(); y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                QVERIFY(picture.image.pixel(x, y) != kGreen);
            }
        }
    }

    void theTriggerIsALineAtItsSampleAndCursorsAtTheirs() {
        CaptureBuilder builder = Quiet(kSamples);
        builder.SetTrigger(1008);
        Picture picture(builder.Finish());
        picture.scene.cursorA = 3000;
        picture.Draw();
        auto count = [&](std::int64_t boundary) {
            const int column = static_cast<int>(ColumnOfBoundary(picture.scene.view, boundary));
            const QRgb marker = picture.image.pixel(picture.left + column, 0);
            int n = 0;
            for (int y = 0; y < kHeight; ++y) {
                n += picture.image.pixel(picture.left + column, y) == marker ? 1 : 0;
            }
            return std::make_pair(marker, n);
        };
        const auto [trigger, triggerPixels] = count(1008);
        const auto [cursor, cursorPixels] = count(3000);
        QVERIFY(trigger != cursor);
        QVERIFY(trigger != 0xffffffff && cursor != 0xffffffff);
        const ViewerLayout layout = LayoutForScene(kWidth, kHeight, picture.scene);
        const int rows = layout.RowTop(layout.RowCount());
        QVERIFY(triggerPixels > rows / 3);    // dashed
        QVERIFY(cursorPixels > rows * 3 / 4); // solid across the rows
    }
};

QTEST_MAIN(TestViewerPicture)
#include "test_viewer_picture.moc"
