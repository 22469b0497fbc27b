// The viewer's picture pixel by pixel: a one-sample glitch stays visible with the whole
// capture in view, an edge lands on its sample boundary at the deepest zoom, and samples not
// received carry no trace.
#include "display/viewer_picture.h"
#include "support/extra_rows.h"

#include <QGuiApplication>
#include <QTest>

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
    for (std::size_t row = 0; row < layout.channels.size(); ++row) {
        if (layout.channels[row] == channel) {
            const int r = static_cast<int>(row);
            return {layout.RowTop(r) + kTraceMarginPx, layout.RowTop(r + 1) - 1 - kTraceMarginPx};
        }
    }
    return {-1, -1};
}

struct Picture {
    CaptureData capture;
    EdgeIndex edges;
    ViewerScene scene;
    QImage image{kWidth, kHeight, QImage::Format_RGB32};
    int left = 0;

    explicit Picture(CaptureData data) : capture(std::move(data)), edges(IndexEdges(capture)) {
        scene.capture = &capture;
        scene.edges = &edges;
        left = LayoutForScene(kWidth, kHeight, scene).TraceLeft();
        scene.view = FitAll(kSamples, kWidth - left);
    }
    void Draw() { DrawViewer(image, scene); }
    bool Is(int column, int y, QRgb colour) const {
        return image.pixel(left + column, y) == colour;
    }
};

} // namespace

class TestViewerPicture : public QObject {
    Q_OBJECT
private slots:
    void aOneSampleGlitchIsAVerticalLineInTheWholeCaptureView() {
        CaptureData capture;
        capture.samples.assign(kSamples, 0);
        capture.samples[2001] = 1; // D0 high for one sample of 4032
        Picture picture(capture);
        picture.Draw();
        const Row row = RowOf(picture.scene, 0);
        const QRgb colour = ChannelColour(0);
        const auto glitch = ColumnOfBoundary(picture.scene.view, 2001);
        const auto after = ColumnOfBoundary(picture.scene.view, 2002);
        QVERIFY(after - glitch <= 1); // 1824 columns for 4032 samples
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
        CaptureData capture;
        for (std::int64_t i = 0; i < kSamples; ++i) {
            capture.samples.push_back(i >= 103 ? 1U << 5 : 0U); // D5 rises at sample 103
        }
        Picture picture(capture);
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

    void samplesNotReceivedCarryNoTrace() {
        CaptureData capture;
        capture.samples.assign(kSamples, 0);
        capture.received.assign(kSamples, 1);
        std::fill(capture.received.begin() + 1024, capture.received.begin() + 1152, 0);
        Picture picture(capture);
        picture.Draw();
        const Row row = RowOf(picture.scene, 0);
        const QRgb colour = ChannelColour(0);
        const auto from = ColumnOfBoundary(picture.scene.view, 1024) + 1;
        const auto to = ColumnOfBoundary(picture.scene.view, 1152);
        QVERIFY(to - from > 40);
        for (auto c = from; c < to; ++c) {
            QVERIFY(!picture.Is(static_cast<int>(c), row.yLow, colour));
        }
        QVERIFY(picture.Is(static_cast<int>(from) - 2, row.yLow, colour));
        QVERIFY(picture.Is(static_cast<int>(to) + 1, row.yLow, colour));
    }

    void extraRowsShowTheirBoxesUnderTheChannels() {
        CaptureData capture;
        capture.samples.assign(kSamples, 0);
        Picture picture(capture);
        picture.scene.extraRows = {test::OneBoxRow("UART", 1000, 2000, "H", 1)};
        picture.left = LayoutForScene(kWidth, kHeight, picture.scene).TraceLeft();
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
    }

    void theTriggerIsALineAtItsSampleAndCursorsAtTheirs() {
        CaptureData capture;
        capture.samples.assign(kSamples, 0);
        capture.triggerSample = 1008;
        Picture picture(capture);
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
        QVERIFY(triggerPixels > kHeight / 3);    // dashed
        QVERIFY(cursorPixels > kHeight * 3 / 4); // solid across the rows
    }
};

QTEST_MAIN(TestViewerPicture)
#include "test_viewer_picture.moc"
