// Pixel tests of the waveform view: the surface's line rules, grid, frame, trace levels,
// edges and the samples each zoom and rate puts on screen.
#include "capture/sample_store.h"
#include "display/timebase.h"
#include "display/waveform.h"
#include "support/painter_reference.h"

#include <QPainter>
#include <QPen>
#include <QTest>

#include <array>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace quillon;

namespace {

constexpr QRgb kWhite = 0xffffffffu;
constexpr QRgb kBlack = 0xff000000u;
constexpr QRgb kGrey = 0xff646464u;
constexpr int kRowHeightPx = 20;

// Row k (0 at the top) shows channel 15 - k.
int RowOf(int channel) {
    return 15 - channel;
}
int HighY(int row) {
    return row * kRowHeightPx + 5;
}
int LowY(int row) {
    return row * kRowHeightPx + 15;
}
QRgb RowColour(int row) {
    static constexpr std::array<QRgb, 8> kColours = {
        qRgb(200, 0, 255), qRgb(0, 0, 255), qRgb(0, 230, 0),  qRgb(230, 230, 0),
        qRgb(255, 150, 0), qRgb(255, 0, 0), qRgb(100, 50, 0), qRgb(0, 0, 0)};
    return kColours[static_cast<std::size_t>(row % 8)];
}

const std::array<std::string_view, 9> kAllZoomLabels = {
    "20ns/d", "50ns/d", "100ns/d", "200ns/d", "500ns/d", "1us/d", "2us/d", "5us/d", "10us/d"};

SampleStore StoreOf(const std::function<std::uint16_t(int)>& sampleAt) {
    SampleStore store;
    for (int i = 0; i < SampleStore::kCapacity; ++i) {
        const std::uint16_t value = sampleAt(i);
        store.m_sampleLow[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value & 0xFF);
        store.m_sampleHigh[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> 8);
    }
    return store;
}

SampleStore RandomStore(unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> value(0, 0xFFFF);
    return StoreOf([&](int) { return static_cast<std::uint16_t>(value(generator)); });
}

QImage Render(const SampleStore& store, std::string_view zoomLabel, int rate) {
    QImage image = InitialBitmap();
    DrawWaveforms(image, store, zoomLabel, rate);
    return image;
}

// '#' for the pen colour, '.' for white, '?' for anything else; one string per image row.
QStringList AsText(const QImage& image, QRgb pen) {
    QStringList rows;
    for (int y = 0; y < image.height(); ++y) {
        QString row;
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            row += pixel == pen ? '#' : pixel == kWhite ? '.' : '?';
        }
        rows << row;
    }
    return rows;
}

QImage WhiteImage(int width, int height, QImage::Format format = QImage::Format_RGB32) {
    QImage image(width, height, format);
    image.fill(kWhite);
    return image;
}

// The level each step shows on one channel, read back from the picture. Inside a step wider
// than one pixel only its level line is drawn. One pixel wide, the step's column also holds
// the edge from the step before, which marks both levels: the level then toggled.
// Rows drawn in black are not read (the frame column looks like a level there).
std::vector<bool> ReadLevels(const QImage& image, int channel, int stepWidth) {
    const int row = RowOf(channel);
    const QRgb colour = RowColour(row);
    std::vector<bool> levels;
    bool bPrevious = false;
    for (int x = 0; x < kViewWidth; x += stepWidth) {
        const int probe = stepWidth > 1 ? x + 1 : x;
        bool bHigh = image.pixel(probe, HighY(row)) == colour;
        const bool bLow = image.pixel(probe, LowY(row)) == colour;
        if (bHigh && bLow) {
            bHigh = !bPrevious;
        }
        levels.push_back(bHigh);
        bPrevious = bHigh;
    }
    return levels;
}

QImage PaintReference(const SampleStore& store, std::string_view zoomLabel, int rate) {
    QImage image(kViewWidth, kViewHeight, QImage::Format_RGB32);
    test::PaintWithQPainter(image, store, zoomLabel, rate);
    return image;
}

} // namespace

Q_DECLARE_METATYPE(std::string_view)

class TestWaveform : public QObject {
    Q_OBJECT

private slots:
    // The surface's line rules.
    void lineLeavesOutItsEndPoint_data();
    void lineLeavesOutItsEndPoint();
    void dottedLine_data();
    void dottedLine();
    void lineToContinuesFromTheEndPoint();
    void fillRectIsHalfOpenAndClipped();
    void slantedLineGoesThroughQPainter();
    void otherImageFormatsGetTheSamePicture();

    // The view.
    void initialBitmapHasAOnePixelFrame();
    void frameAfterRedraw_data();
    void frameAfterRedraw();
    void gridIsDottedThreeOnThreeOff();
    void gridRowsCarryNoTrace();
    void rowColoursAndLevels_data();
    void rowColoursAndLevels();
    void constantChannelIsOneUnbrokenLine_data();
    void constantChannelIsOneUnbrokenLine();
    void edgesAtTwentyNanosecondsFallOnStepBoundaries();
    void stepsShowTheirSamples_data();
    void stepsShowTheirSamples();
    void firstTwoSamplesHiddenAtFasterRates_data();
    void firstTwoSamplesHiddenAtFasterRates();
    void pulseBetweenShownSamplesLeavesNoMark();
    void timeStepReadsTheLow16Bits();
    void unknownZoomDrawsLikeOneMicrosecond_data();
    void unknownZoomDrawsLikeOneMicrosecond();
    void wrongImageIsReplaced();
    void matchesStepByStepDrawing_data();
    void matchesStepByStepDrawing();
    void matchesAQPainterDrawing_data();
    void matchesAQPainterDrawing();
};

void TestWaveform::lineLeavesOutItsEndPoint_data() {
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("rightwards") << QPoint(1, 1) << QPoint(5, 1)
                                << QStringList{"........", ".####...", "........", "........"};
    QTest::newRow("leftwards") << QPoint(5, 1) << QPoint(1, 1)
                               << QStringList{"........", "..####..", "........", "........"};
    QTest::newRow("downwards") << QPoint(3, 0) << QPoint(3, 3)
                               << QStringList{"...#....", "...#....", "...#....", "........"};
    QTest::newRow("upwards") << QPoint(3, 3) << QPoint(3, 0)
                             << QStringList{"........", "...#....", "...#....", "...#...."};
    QTest::newRow("zero length") << QPoint(3, 2) << QPoint(3, 2)
                                 << QStringList{"........", "........", "........", "........"};
    QTest::newRow("past the right edge")
        << QPoint(5, 2) << QPoint(8, 2)
        << QStringList{"........", "........", ".....###", "........"};
    QTest::newRow("in from the left")
        << QPoint(-5, 2) << QPoint(2, 2)
        << QStringList{"........", "........", "##......", "........"};
    QTest::newRow("up from below") << QPoint(0, 9) << QPoint(0, 2)
                                   << QStringList{"........", "........", "........", "#......."};
    QTest::newRow("outside the image")
        << QPoint(-3, 4) << QPoint(9, 4)
        << QStringList{"........", "........", "........", "........"};
}

void TestWaveform::lineLeavesOutItsEndPoint() {
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(QStringList, expected);
    QImage image = WhiteImage(8, 4);
    CWaveSurface surface(image);
    surface.SetPen(QColor(255, 0, 0));
    surface.MoveTo(from.x(), from.y());
    surface.LineTo(to.x(), to.y());
    QCOMPARE(AsText(image, qRgb(255, 0, 0)), expected);
}

void TestWaveform::dottedLine_data() {
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<QString>("expected");
    // Horizontal lines on row 0 of a 16 x 2 image; row 1 would show a pixel written past
    // the end of row 0.
    QTest::newRow("rightwards") << QPoint(0, 0) << QPoint(16, 0) << "###...###...###.";
    QTest::newRow("rightwards, offset start")
        << QPoint(2, 0) << QPoint(16, 0) << "..###...###...##";
    // Counted from the start point, not from x = 0.
    QTest::newRow("leftwards") << QPoint(15, 0) << QPoint(-1, 0) << ".###...###...###";
    QTest::newRow("in from the right") << QPoint(18, 0) << QPoint(-1, 0) << "#...###...###...";
    // The pattern keeps its phase where the image clips the line's start.
    QTest::newRow("in from the left") << QPoint(-4, 0) << QPoint(16, 0) << "..###...###...##";
    QTest::newRow("end point left out") << QPoint(0, 0) << QPoint(2, 0) << "##..............";
}

void TestWaveform::dottedLine() {
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(QString, expected);
    QImage image = WhiteImage(16, 2);
    CWaveSurface surface(image);
    surface.SetPen(QColor(0, 0, 255), CWaveSurface::PenStyle::Dot);
    surface.MoveTo(from.x(), from.y());
    surface.LineTo(to.x(), to.y());
    QCOMPARE(AsText(image, qRgb(0, 0, 255)), (QStringList{expected, QString(16, '.')}));

    // The same line turned upright.
    QImage upright = WhiteImage(1, 16);
    CWaveSurface uprightSurface(upright);
    uprightSurface.SetPen(QColor(0, 0, 255), CWaveSurface::PenStyle::Dot);
    uprightSurface.MoveTo(from.y(), from.x());
    uprightSurface.LineTo(to.y(), to.x());
    QCOMPARE(AsText(upright, qRgb(0, 0, 255)).join(QString()), expected);
}

void TestWaveform::lineToContinuesFromTheEndPoint() {
    QImage image = WhiteImage(8, 5);
    CWaveSurface surface(image);
    surface.SetPen(QColor(0, 230, 0));
    surface.MoveTo(1, 1);
    surface.LineTo(5, 1);
    surface.LineTo(5, 4);
    surface.LineTo(2, 4);
    const QStringList expected{"........", ".#####..", ".....#..", ".....#..", "...###.."};
    QCOMPARE(AsText(image, qRgb(0, 230, 0)), expected);
}

void TestWaveform::fillRectIsHalfOpenAndClipped() {
    QImage image = WhiteImage(6, 5);
    CWaveSurface surface(image);
    surface.FillRect(-3, 1, 2, 3, QColor(255, 0, 0));
    surface.FillRect(4, 3, 9, 9, QColor(255, 0, 0));
    surface.FillRect(3, 0, 3, 5, QColor(255, 0, 0)); // empty: right == left
    const QStringList expected{"......", "##....", "##....", "....##", "....##"};
    QCOMPARE(AsText(image, qRgb(255, 0, 0)), expected);
}

void TestWaveform::slantedLineGoesThroughQPainter() {
    QImage image = WhiteImage(6, 6);
    CWaveSurface surface(image);
    surface.SetPen(QColor(255, 0, 0));
    surface.MoveTo(1, 1);
    surface.LineTo(5, 5);
    const QStringList expected{"......", ".#....", "..#...", "...#..", "....#.", "......"};
    QCOMPARE(AsText(image, qRgb(255, 0, 0)), expected);
    // The current point moved to the end all the same.
    surface.LineTo(5, 3);
    QCOMPARE(image.pixel(5, 5), qRgb(255, 0, 0));
    QCOMPARE(image.pixel(5, 4), qRgb(255, 0, 0));
    QCOMPARE(image.pixel(5, 3), kWhite);
}

void TestWaveform::otherImageFormatsGetTheSamePicture() {
    const SampleStore store = RandomStore(7);
    const auto draw = [&store](QImage& image) {
        CWaveSurface surface(image);
        DrawGrid(surface);
        for (int i = 0; i < 60; ++i) {
            DrawTimeStep(surface, i * 10, store.GetSample(i), store.GetSample(i + 1), 10);
        }
    };
    QImage direct = WhiteImage(kViewWidth, kViewHeight);
    draw(direct);
    for (const QImage::Format format : {QImage::Format_RGB888, QImage::Format_ARGB32}) {
        QImage other = WhiteImage(kViewWidth, kViewHeight, format);
        draw(other);
        QCOMPARE(other.format(), format);
        QCOMPARE(other.convertToFormat(QImage::Format_RGB32), direct);
    }
}

void TestWaveform::initialBitmapHasAOnePixelFrame() {
    const QImage image = InitialBitmap();
    QCOMPARE(image.size(), QSize(600, 320));
    QCOMPARE(image.format(), QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const bool bFrame = x == 0 || x == 599 || y == 0 || y == 319;
            if (image.pixel(x, y) != (bFrame ? kBlack : kWhite)) {
                QFAIL(qPrintable(QStringLiteral("wrong pixel at %1,%2").arg(x).arg(y)));
            }
        }
    }
}

void TestWaveform::frameAfterRedraw_data() {
    QTest::addColumn<QImage>("before");
    QTest::newRow("initial bitmap") << InitialBitmap();
    QImage black(kViewWidth, kViewHeight, QImage::Format_RGB32);
    black.fill(kBlack);
    QTest::newRow("all black") << black;
}

void TestWaveform::frameAfterRedraw() {
    QFETCH(QImage, before);
    const SampleStore store; // all channels low
    QImage image = before;
    DrawWaveforms(image, store, "1us/d", 1);

    for (int x = 0; x < kViewWidth; ++x) {
        QVERIFY2(image.pixel(x, 0) == kBlack, qPrintable(QString::number(x)));
    }
    // Left column black but where a low trace starts on it; rows 7 and 15 are black anyway.
    for (int y = 0; y < kViewHeight; ++y) {
        const QRgb expected = y % kRowHeightPx == 15 ? RowColour(y / kRowHeightPx) : kBlack;
        QVERIFY2(image.pixel(0, y) == expected, qPrintable(QString::number(y)));
    }
    // The right and bottom frame lines fall outside the image; only the top frame line and
    // the black traces (rows 7 and 15, low) reach column 599.
    for (int y = 0; y < kViewHeight; ++y) {
        const bool bBlack = y == 0 || y == LowY(7) || y == LowY(15);
        QVERIFY2((image.pixel(599, y) == kBlack) == bBlack, qPrintable(QString::number(y)));
    }
    for (int x = 1; x < kViewWidth; ++x) {
        QVERIFY2(image.pixel(x, 319) != kBlack, qPrintable(QString::number(x)));
    }
}

void TestWaveform::gridIsDottedThreeOnThreeOff() {
    // All channels low: traces only on the low lines of each row.
    const QImage image = Render(SampleStore{}, "1us/d", 1);
    for (int y = 1; y < kViewHeight; ++y) {
        if (y % kRowHeightPx == 15) {
            continue;
        }
        for (int x = 1; x < kViewWidth; ++x) {
            const bool bOnColumn = x % 50 == 0 && y % 6 < 3;
            const bool bOnRow = y % kRowHeightPx == 0 && x % 6 < 3;
            const QRgb expected = bOnColumn || bOnRow ? kGrey : kWhite;
            if (image.pixel(x, y) != expected) {
                QFAIL(qPrintable(QStringLiteral("wrong pixel at %1,%2").arg(x).arg(y)));
            }
        }
    }
}

void TestWaveform::gridRowsCarryNoTrace() {
    // Busy data: edges in every row at every step. None may reach a grid line.
    for (const std::string_view zoomLabel : {"20ns/d", "1us/d", "5us/d"}) {
        const QImage image = Render(RandomStore(11), zoomLabel, 1);
        for (int y = kRowHeightPx; y < kViewHeight; y += kRowHeightPx) {
            for (int x = 1; x < kViewWidth; ++x) {
                const QRgb pixel = image.pixel(x, y);
                QVERIFY2(pixel == kGrey || pixel == kWhite,
                         qPrintable(QStringLiteral("%1 at %2,%3")
                                        .arg(QString::fromUtf8(zoomLabel))
                                        .arg(x)
                                        .arg(y)));
            }
        }
    }
}

void TestWaveform::rowColoursAndLevels_data() {
    QTest::addColumn<int>("channel");
    QTest::addColumn<QRgb>("colour");
    const std::array<QRgb, 16> colourByRow = {
        qRgb(200, 0, 255), qRgb(0, 0, 255), qRgb(0, 230, 0),  qRgb(230, 230, 0),
        qRgb(255, 150, 0), qRgb(255, 0, 0), qRgb(100, 50, 0), qRgb(0, 0, 0),
        qRgb(200, 0, 255), qRgb(0, 0, 255), qRgb(0, 230, 0),  qRgb(230, 230, 0),
        qRgb(255, 150, 0), qRgb(255, 0, 0), qRgb(100, 50, 0), qRgb(0, 0, 0)};
    for (int channel = 0; channel < 16; ++channel) {
        QTest::addRow("channel %d", channel)
            << channel << colourByRow[static_cast<std::size_t>(15 - channel)];
    }
}

void TestWaveform::rowColoursAndLevels() {
    QFETCH(int, channel);
    QFETCH(QRgb, colour);
    const SampleStore store =
        StoreOf([channel](int) { return static_cast<std::uint16_t>(1u << channel); });
    const QImage image = Render(store, "1us/d", 1);
    const int top = RowOf(channel) * kRowHeightPx;
    // High: the whole width at top + 5, nothing at top + 15.
    for (int x = 0; x < kViewWidth; ++x) {
        QCOMPARE(image.pixel(x, top + 5), colour);
        if (x > 0) {
            QVERIFY(image.pixel(x, top + 15) != colour);
        }
    }
    // Every other channel low: at its row top + 15, in its own colour.
    for (int row = 0; row < 16; ++row) {
        if (row != RowOf(channel)) {
            QCOMPARE(image.pixel(300, LowY(row)), RowColour(row));
            QVERIFY(image.pixel(301, HighY(row)) != RowColour(row));
        }
    }
}

void TestWaveform::constantChannelIsOneUnbrokenLine_data() {
    QTest::addColumn<std::string_view>("zoomLabel");
    QTest::addColumn<int>("rate");
    for (const std::string_view label : kAllZoomLabels) {
        for (const int rate : {1, 10}) {
            QTest::addRow("%s rate %d", label.data(), rate) << label << rate;
        }
    }
}

void TestWaveform::constantChannelIsOneUnbrokenLine() {
    QFETCH(std::string_view, zoomLabel);
    QFETCH(int, rate);
    const int channel = 12; // row 3
    const int row = RowOf(channel);
    const SampleStore store = StoreOf([](int) { return std::uint16_t{1u << 12}; });
    const QImage image = Render(store, zoomLabel, rate);
    for (int x = 0; x < kViewWidth; ++x) {
        QCOMPARE(image.pixel(x, HighY(row)), RowColour(row));
        // Nothing between the levels: no edge anywhere.
        for (int y = HighY(row) + 1; y <= LowY(row); ++y) {
            QVERIFY2(image.pixel(x, y) != RowColour(row),
                     qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
        }
    }
}

void TestWaveform::edgesAtTwentyNanosecondsFallOnStepBoundaries() {
    // Channel 1 (row 14) toggles every sample, starting low.
    const int row = RowOf(1);
    const QRgb colour = RowColour(row);
    const SampleStore store =
        StoreOf([](int i) { return static_cast<std::uint16_t>((i % 2) << 1); });
    const QImage image = Render(store, "20ns/d", 1);
    for (int x = 0; x < kViewWidth; ++x) {
        const bool bEdge = x % 50 == 0 && x > 0;
        const bool bHighStep = (x / 50) % 2 == 1;
        for (int y = HighY(row) + 1; y < LowY(row); ++y) {
            QVERIFY2((image.pixel(x, y) == colour) == bEdge,
                     qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
        }
        // At an edge column the edge marks the level it leaves, the next step the other.
        QVERIFY2((image.pixel(x, HighY(row)) == colour) == (bHighStep || bEdge),
                 qPrintable(QString::number(x)));
        QVERIFY2((image.pixel(x, LowY(row)) == colour) == (!bHighStep || bEdge),
                 qPrintable(QString::number(x)));
    }
}

void TestWaveform::stepsShowTheirSamples_data() {
    QTest::addColumn<std::string_view>("zoomLabel");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("stepWidth");
    QTest::addColumn<int>("stride");
    const std::array<std::array<int, 2>, 9> widthAndStride = {
        {{50, 1}, {20, 1}, {10, 1}, {5, 1}, {2, 1}, {1, 1}, {1, 2}, {1, 5}, {1, 1}}};
    for (std::size_t i = 0; i < kAllZoomLabels.size(); ++i) {
        for (const int rate : {1, 100}) {
            QTest::addRow("%s rate %d", kAllZoomLabels[i].data(), rate)
                << kAllZoomLabels[i] << rate << widthAndStride[i][0] << widthAndStride[i][1];
        }
    }
}

void TestWaveform::stepsShowTheirSamples() {
    QFETCH(std::string_view, zoomLabel);
    QFETCH(int, rate);
    QFETCH(int, stepWidth);
    QFETCH(int, stride);
    const SampleStore store = RandomStore(3);
    const QImage image = Render(store, zoomLabel, rate);
    const int offset = rate == 1 ? 0 : 2;
    for (int channel = 0; channel < 16; ++channel) {
        if (RowColour(RowOf(channel)) == kBlack) {
            continue;
        }
        const std::vector<bool> levels = ReadLevels(image, channel, stepWidth);
        for (std::size_t step = 0; step < levels.size(); ++step) {
            const int index = static_cast<int>(step) * stride + offset;
            const bool bExpected = ((store.GetSample(index) >> channel) & 1) != 0;
            QVERIFY2(levels[step] == bExpected,
                     qPrintable(QStringLiteral("channel %1 step %2").arg(channel).arg(step)));
        }
    }
}

void TestWaveform::firstTwoSamplesHiddenAtFasterRates_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<bool>("shown");
    QTest::newRow("rate 1") << 1 << true;
    QTest::newRow("rate 10") << 10 << false;
    QTest::newRow("rate 100") << 100 << false;
    QTest::newRow("rate 1000") << 1000 << false;
}

void TestWaveform::firstTwoSamplesHiddenAtFasterRates() {
    QFETCH(int, rate);
    QFETCH(bool, shown);
    // Channel 4 high in samples 0 and 1 only; channel 5 high in sample 2 only.
    const SampleStore store = StoreOf([](int i) {
        return static_cast<std::uint16_t>(i < 2 ? 1u << 4 : i == 2 ? 1u << 5 : 0u);
    });
    const QImage image = Render(store, "20ns/d", rate);
    const int row4 = RowOf(4);
    const int row5 = RowOf(5);
    QCOMPARE(image.pixel(25, HighY(row4)) == RowColour(row4), shown);
    QCOMPARE(image.pixel(75, HighY(row4)) == RowColour(row4), shown);
    QCOMPARE(image.pixel(25, HighY(row5)) == RowColour(row5), !shown); // step 0 shows sample 2
    QCOMPARE(image.pixel(125, HighY(row5)) == RowColour(row5), shown); // step 2 shows sample 2
    QCOMPARE(image.pixel(75, HighY(row5)) == RowColour(row5), false);
}

void TestWaveform::pulseBetweenShownSamplesLeavesNoMark() {
    // "5us/d" at rate 10 shows samples 2, 7, 12, ... one per column. Channel 3 is high at
    // sample 52 (column 10); channel 6 is high at samples 53..56, between two shown ones.
    const SampleStore store = StoreOf([](int i) {
        return static_cast<std::uint16_t>((i == 52 ? 1u << 3 : 0u) |
                                          (i >= 53 && i <= 56 ? 1u << 6 : 0u));
    });
    const QImage image = Render(store, "5us/d", 10);

    const int shownRow = RowOf(3);
    for (int x = 0; x < kViewWidth; ++x) {
        // Column 10 is high; its falling edge at column 11 starts on the high line.
        const bool bHigh = x == 10 || x == 11;
        QVERIFY2((image.pixel(x, HighY(shownRow)) == RowColour(shownRow)) == bHigh,
                 qPrintable(QString::number(x)));
    }

    const int hiddenRow = RowOf(6);
    for (int x = 0; x < kViewWidth; ++x) {
        QCOMPARE(image.pixel(x, LowY(hiddenRow)), RowColour(hiddenRow));
        for (int y = HighY(hiddenRow); y < LowY(hiddenRow); ++y) {
            QVERIFY(image.pixel(x, y) != RowColour(hiddenRow));
        }
    }
}

void TestWaveform::timeStepReadsTheLow16Bits() {
    const auto draw = [](int from, int to) {
        QImage image = WhiteImage(kViewWidth, kViewHeight);
        CWaveSurface surface(image);
        DrawTimeStep(surface, 10, from, to, 20);
        return image;
    };
    const QImage allHigh = draw(0xFFFF, 0x0000);
    QCOMPARE(draw(-1, 0x10000), allHigh);
    QCOMPARE(draw(-32768, 0), draw(0x8000, 0));
    // And every row really is high and falls at x + width.
    for (int row = 0; row < 16; ++row) {
        QCOMPARE(allHigh.pixel(10, HighY(row)), RowColour(row));
        QCOMPARE(allHigh.pixel(29, HighY(row)), RowColour(row));
        QCOMPARE(allHigh.pixel(30, LowY(row) - 1), RowColour(row));
        QCOMPARE(allHigh.pixel(30, LowY(row)), kWhite);
        QCOMPARE(allHigh.pixel(31, HighY(row)), kWhite);
    }
}

void TestWaveform::unknownZoomDrawsLikeOneMicrosecond_data() {
    QTest::addColumn<std::string_view>("zoomLabel");
    QTest::addColumn<int>("rate");
    QTest::newRow("10us/d rate 1") << std::string_view("10us/d") << 1;
    QTest::newRow("10us/d rate 10") << std::string_view("10us/d") << 10;
    QTest::newRow("unknown rate 1") << std::string_view("3us/d") << 1;
}

void TestWaveform::unknownZoomDrawsLikeOneMicrosecond() {
    QFETCH(std::string_view, zoomLabel);
    QFETCH(int, rate);
    const SampleStore store = RandomStore(5);
    const QImage image = Render(store, zoomLabel, rate);
    QCOMPARE(image, Render(store, "1us/d", rate));
    QVERIFY(image != Render(store, "2us/d", rate)); // the data is busy enough to tell
}

void TestWaveform::wrongImageIsReplaced() {
    const SampleStore store = RandomStore(9);
    const QImage expected = Render(store, "500ns/d", 1);
    for (QImage image : {QImage(), QImage(300, 320, QImage::Format_RGB32),
                         QImage(600, 320, QImage::Format_Grayscale8)}) {
        DrawWaveforms(image, store, "500ns/d", 1);
        QCOMPARE(image, expected);
    }
}

void TestWaveform::matchesStepByStepDrawing_data() {
    QTest::addColumn<std::string_view>("zoomLabel");
    QTest::addColumn<int>("rate");
    for (const std::string_view label : kAllZoomLabels) {
        for (const int rate : {1, 10}) {
            QTest::addRow("%s rate %d", label.data(), rate) << label << rate;
        }
    }
}

// DrawWaveforms takes the traces row by row; the picture must be that of the grid followed
// by one DrawTimeStep per shown step, left to right.
void TestWaveform::matchesStepByStepDrawing() {
    QFETCH(std::string_view, zoomLabel);
    QFETCH(int, rate);
    const SampleStore store = RandomStore(2);
    QImage expected(kViewWidth, kViewHeight, QImage::Format_RGB32);
    CWaveSurface surface(expected);
    DrawGrid(surface);
    const ZoomGeometry geometry = ZoomGeometryFor(zoomLabel);
    const int offset = StartOffset(rate);
    for (int i = 0; i < geometry.samples; i += geometry.step) {
        const int width = geometry.step == 1 ? kViewWidth / geometry.samples : 1;
        DrawTimeStep(surface, i / geometry.step * width, store.GetSample(i + offset),
                     store.GetSample(i + offset + geometry.step), width);
    }
    QCOMPARE(Render(store, zoomLabel, rate), expected);
}

void TestWaveform::matchesAQPainterDrawing_data() {
    QTest::addColumn<std::string_view>("zoomLabel");
    QTest::addColumn<int>("rate");
    for (const std::string_view label : kAllZoomLabels) {
        for (const int rate : {1, 10}) {
            QTest::addRow("%s rate %d", label.data(), rate) << label << rate;
        }
    }
}

void TestWaveform::matchesAQPainterDrawing() {
    QFETCH(std::string_view, zoomLabel);
    QFETCH(int, rate);
    const SampleStore store = RandomStore(1);
    QCOMPARE(Render(store, zoomLabel, rate), PaintReference(store, zoomLabel, rate));
}

QTEST_MAIN(TestWaveform)
#include "test_waveform.moc"
