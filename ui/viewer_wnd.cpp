// The waveform viewer's window: menus, tool bar, status bar, mouse and keys. The picture is
// DrawViewer's; measurements come from the measurement core.
#include "ui/viewer_wnd.h"

#include "capture/capture_bridge.h"
#include "display/waveform.h"
#include "file/capture_file.h"
#include "file/save_file.h"
#include "ui/decoder_set.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <cmath>
#include <cstdio>

namespace quillon {

namespace {

constexpr const char* kViewerCaption = "波形ビューア";
constexpr const char* kLiveTitle = "ライブ";
constexpr const char* kFileMenu = "ファイル(&F)";
constexpr const char* kViewMenu = "表示(&V)";
constexpr const char* kRowsMenu = "チャンネル(&C)";
constexpr const char* kOpenText = "開く(&O)...";
constexpr const char* kSaveAsText = "名前を付けて保存(&A)...";
constexpr const char* kCloseText = "閉じる(&C)";
constexpr const char* kZoomInText = "拡大(&I)";
constexpr const char* kZoomOutText = "縮小(&O)";
constexpr const char* kFitAllText = "全体表示(&F)";
constexpr const char* kShowAllRowsText = "すべて表示(&A)";
constexpr const char* kRenameText = "名前の変更(&R)...";
constexpr const char* kHideText = "非表示(&H)";
constexpr const char* kRenameCaption = "チャンネル名";
constexpr const char* kRenamePrompt = "D%1 の名前:";
constexpr const char* kOpenFilter = "波形ファイル (*.vcd *.csv);;すべてのファイル (*)";
constexpr const char* kVcdFilter = "VCDファイル (*.vcd)";
constexpr const char* kCsvFilter = "CSVファイル (*.csv)";
constexpr const char* kPngFilter = "PNG画像 (*.png)";
constexpr const char* kOpenFailedText = "ファイルを開けませんでした。 \r\n";
constexpr const char* kWriteFailedText = "ファイルに保存できませんでした。 \r\n";
constexpr const char* kNothingText = "表示するデータがありません。 \r\n";
constexpr const char* kUnknownTypeText = "保存できるのは .vcd .csv .png のファイルです。 \r\n";

// Settings kept per user.
constexpr const char* kSettingsOrg = "Quillon";
constexpr const char* kSettingsApp = "quillon";
constexpr const char* kNamesKey = "viewer/names";
constexpr const char* kHiddenKey = "viewer/hidden";
constexpr const char* kGeometryKey = "viewer/geometry";
constexpr const char* kDirKey = "viewer/dir";

constexpr QSize kDefaultSize(1200, 760);
constexpr double kZoomStep = 1.25;  // per wheel notch and per key
constexpr int kWheelNotch = 120;    // QWheelEvent angle units of one notch
constexpr int kDragThresholdPx = 4; // a press that moves less is a click
constexpr int kCursorGrabPx = 4;    // a press this near a cursor drags it
constexpr double kSnapPx = 6.0;     // a cursor this near an edge snaps to it
constexpr double kArrowStep = 0.1;  // of the visible width per arrow key
constexpr int kScrollSteps = 1000;  // scroll bar positions per visible width, at most

QSettings UserSettings() {
    return QSettings(QString::fromLatin1(kSettingsOrg), QString::fromLatin1(kSettingsApp));
}

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

std::int64_t SampleCountOf(const CaptureData& capture) {
    return static_cast<std::int64_t>(capture.samples.size());
}

QString TimeText(double seconds) {
    return QString::fromStdString(FormatDuration(seconds));
}

} // namespace

/// Shows the picture; the window draws it again when the size changes.
class CViewerCanvas : public QWidget {
public:
    explicit CViewerCanvas(QWidget* parent) : QWidget(parent) {
        setMouseTracking(true);
        setFocusPolicy(Qt::StrongFocus);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMinimumSize(320, 200);
    }
    QImage m_image;

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter painter(this);
        painter.drawImage(0, 0, m_image);
    }
};

CViewerWnd::CViewerWnd(QWidget* parent) : QMainWindow(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlag(Qt::Window);
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_canvas = new CViewerCanvas(central);
    m_canvas->installEventFilter(this);
    m_scrollBar = new QScrollBar(Qt::Horizontal, central);
    layout->addWidget(m_canvas, 1);
    layout->addWidget(m_scrollBar);
    setCentralWidget(central);
    connect(m_scrollBar, &QScrollBar::valueChanged, this, [this](int value) {
        if (!m_bUpdatingScroll) {
            const double perStep = std::max(1.0, m_view.VisibleSamples() / kScrollSteps);
            ScrollTo(value * perStep);
        }
    });

    m_labelCursor = new QLabel(this);
    m_labelHover = new QLabel(this);
    m_labelInfo = new QLabel(this);
    statusBar()->addWidget(m_labelCursor, 1);
    statusBar()->addWidget(m_labelHover, 1);
    statusBar()->addPermanentWidget(m_labelInfo);

    m_visible.fill(true);
    m_capture.samples.clear();
    LoadNames();
    CreateActions();
    AttachDecoders();

    QSettings settings = UserSettings();
    const int hidden = settings.value(QString::fromLatin1(kHiddenKey), 0).toInt();
    for (int channel = 0; channel < kViewerChannels; ++channel) {
        SetChannelVisible(channel, ((hidden >> channel) & 1) == 0);
    }
    if (!restoreGeometry(settings.value(QString::fromLatin1(kGeometryKey)).toByteArray())) {
        resize(kDefaultSize);
    }
    m_view = FitAll(0, 1);
    UpdateTitle();
    UpdateStatus();
}

CViewerWnd::~CViewerWnd() {
    // Also when the main window goes first and takes the viewer with it; not for the
    // unattended screenshot, whose size is not the user's.
    if (!m_bUnattended) {
        UserSettings().setValue(QString::fromLatin1(kGeometryKey), saveGeometry());
    }
}

void CViewerWnd::CreateActions() {
    auto action = [this](const char* text, const QKeySequence& keys, auto slot) {
        auto* made = new QAction(Utf8(text), this);
        made->setShortcut(keys);
        connect(made, &QAction::triggered, this, slot);
        return made;
    };
    QAction* open = action(kOpenText, QKeySequence::Open, &CViewerWnd::OnOpen);
    QAction* saveAs = action(kSaveAsText, QKeySequence::SaveAs, &CViewerWnd::OnSaveAs);
    QAction* closeAction = action(kCloseText, QKeySequence::Close, &QWidget::close);
    QAction* zoomIn = action(kZoomInText, QKeySequence::ZoomIn, &CViewerWnd::OnZoomIn);
    QAction* zoomOut = action(kZoomOutText, QKeySequence::ZoomOut, &CViewerWnd::OnZoomOut);
    QAction* fitAll =
        action(kFitAllText, QKeySequence(Qt::CTRL | Qt::Key_0), &CViewerWnd::OnFitAll);

    QMenu* file = menuBar()->addMenu(Utf8(kFileMenu));
    file->addAction(open);
    file->addAction(saveAs);
    file->addSeparator();
    file->addAction(closeAction);
    m_menuView = menuBar()->addMenu(Utf8(kViewMenu));
    m_menuView->addAction(zoomIn);
    m_menuView->addAction(zoomOut);
    m_menuView->addAction(fitAll);
    m_menuView->addSeparator();
    m_menuRows = m_menuView->addMenu(Utf8(kRowsMenu));
    m_menuRows->addAction(Utf8(kShowAllRowsText), this, [this] {
        for (int channel = 0; channel < kViewerChannels; ++channel) {
            SetChannelVisible(channel, true);
        }
    });
    m_menuRows->addSeparator();
    m_rowActions.resize(kViewerChannels);
    for (int channel = kViewerChannels - 1; channel >= 0; --channel) {
        auto* action = m_menuRows->addAction(QStringLiteral("D%1").arg(channel));
        action->setCheckable(true);
        action->setChecked(true);
        connect(action, &QAction::toggled, this,
                [this, channel](bool bOn) { SetChannelVisible(channel, bOn); });
        m_rowActions[static_cast<std::size_t>(channel)] = action;
    }

    QToolBar* tools = addToolBar(Utf8(kViewMenu));
    tools->setObjectName(QStringLiteral("viewerTools"));
    tools->addAction(open);
    tools->addAction(saveAs);
    tools->addSeparator();
    tools->addAction(zoomIn);
    tools->addAction(zoomOut);
    tools->addAction(fitAll);
}

void CViewerWnd::LoadNames() {
    m_capture.names = UserChannelNames();
}

// ---- The capture shown ----------------------------------------------------------------

void CViewerWnd::SetCapture(const CaptureData& capture) {
    m_capture = capture;
    m_edges = IndexEdges(m_capture);
    m_bHaveCapture = !m_capture.samples.empty();
    const auto n = static_cast<std::int64_t>(m_capture.samples.size());
    for (auto* cursor : {&m_cursorA, &m_cursorB}) {
        if (*cursor && **cursor > n) {
            cursor->reset();
        }
    }
    m_view = ClampViewport(m_view, n);
    UpdateTitle();
    Redraw();
    emit CaptureChanged();
}

void CViewerWnd::SetLiveCapture(const CaptureData& capture) {
    if (!m_bLive) {
        return;
    }
    const bool bFirst = !m_bHaveCapture;
    CaptureData named = capture;
    named.names = m_capture.names; // the user's names
    if (bFirst) {
        m_view = FitAll(static_cast<std::int64_t>(capture.samples.size()), Layout().TraceWidth());
    }
    SetCapture(named);
}

void CViewerWnd::ShowCapture(const CaptureData& capture, const QString& fileName) {
    m_bLive = false;
    m_strFile = fileName;
    m_cursorA.reset();
    m_cursorB.reset();
    m_view = FitAll(static_cast<std::int64_t>(capture.samples.size()), Layout().TraceWidth());
    SetCapture(capture);
}

ChannelNames UserChannelNames() {
    ChannelNames names = DefaultChannelNames();
    const QStringList saved = UserSettings().value(QString::fromLatin1(kNamesKey)).toStringList();
    for (int channel = 0; channel < kViewerChannels && channel < saved.size(); ++channel) {
        if (!saved[channel].isEmpty()) {
            names[static_cast<std::size_t>(channel)] = saved[channel].toStdString();
        }
    }
    return names;
}

bool CViewerWnd::OpenFile(const QString& path) {
    FileReadError error;
    const CapturePtr read = ReadCaptureFile(QFile::encodeName(path).toStdString(), {}, error);
    if (!read) {
        error.file = QDir::toNativeSeparators(path).toStdString();
        Warn(Utf8(kOpenFailedText) + QString::fromStdString(error.Text()));
        return false;
    }
    const CaptureData capture = ToCaptureData(*read);
    ShowCapture(capture, path);
    UserSettings().setValue(QString::fromLatin1(kDirKey), QFileInfo(path).absolutePath());
    return true;
}

bool CViewerWnd::SaveFile(const QString& path) {
    const auto format = FileFormatForPath(QFile::encodeName(path).toStdString());
    if (!format) {
        Warn(Utf8(kUnknownTypeText));
        return false;
    }
    if (!m_bHaveCapture) {
        Warn(Utf8(kNothingText));
        return false;
    }
    const std::string file = QFile::encodeName(path).toStdString();
    std::string reason = "cannot encode the picture";
    bool written = false;
    if (*format == FileFormat::Png) {
        const std::string bytes = EncodePng(m_canvas->m_image);
        written = !bytes.empty() && WriteWholeFile(file, bytes, reason);
    } else {
        written = WriteCaptureFile(file, *ToCapture(m_capture), *format, reason,
                                   QDateTime::currentDateTime()
                                       .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                       .toStdString());
    }
    if (!written) {
        Warn(Utf8(kWriteFailedText) + QDir::toNativeSeparators(path) + QStringLiteral(" \r\n(") +
             QString::fromLocal8Bit(reason.c_str()) + QStringLiteral(")"));
        return false;
    }
    UserSettings().setValue(QString::fromLatin1(kDirKey), QFileInfo(path).absolutePath());
    return true;
}

bool CViewerWnd::SaveScreenshot(const QString& path, int width, int height) {
    resize(width, height);
    show();
    QCoreApplication::processEvents(); // the layout settles at the new size
    WaitForDecoders(*m_pDecoders);     // the annotation rows belong in the picture
    OnFitAll();
    const QPixmap shot = grab();
    return shot.save(path, "PNG");
}

void CViewerWnd::SetExtraRows(std::vector<ExtraRow> rows) {
    m_extraRows = std::move(rows);
    Redraw();
}

QWidget* CViewerWnd::Canvas() const {
    return m_canvas;
}

// ---- Menus ----------------------------------------------------------------------------

void CViewerWnd::OnOpen() {
    const QString dir =
        UserSettings().value(QString::fromLatin1(kDirKey), QDir::homePath()).toString();
    const QString path = QFileDialog::getOpenFileName(
        this, Utf8(kOpenText).remove(QStringLiteral("(&O)...")), dir, Utf8(kOpenFilter));
    if (!path.isEmpty()) {
        OpenFile(path);
    }
}

void CViewerWnd::OnSaveAs() {
    if (!m_bHaveCapture) {
        Warn(Utf8(kNothingText));
        return;
    }
    const QString dir =
        UserSettings().value(QString::fromLatin1(kDirKey), QDir::homePath()).toString();
    const QString name =
        m_strFile.isEmpty()
            ? QStringLiteral("quillon-%1.vcd")
                  .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")))
            : QFileInfo(m_strFile).fileName();
    QFileDialog dialog(this, Utf8(kSaveAsText).remove(QStringLiteral("(&A)...")),
                       QDir(dir).filePath(name));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({Utf8(kVcdFilter), Utf8(kCsvFilter), Utf8(kPngFilter)});
    dialog.setDefaultSuffix(QStringLiteral("vcd"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(filter.section(QLatin1Char('.'), -1).remove(QLatin1Char(')')));
    });
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        SaveFile(dialog.selectedFiles().constFirst());
    }
}

void CViewerWnd::Warn(const QString& text) {
    if (m_bUnattended) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                     text.simplified().toUtf8().constData());
        return;
    }
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text,
                    QMessageBox::Ok, this);
    box.exec();
}

// ---- Navigation -----------------------------------------------------------------------

void CViewerWnd::OnZoomIn() {
    ZoomAt(kZoomStep, m_view.widthPx / 2.0);
}

void CViewerWnd::OnZoomOut() {
    ZoomAt(1.0 / kZoomStep, m_view.widthPx / 2.0);
}

void CViewerWnd::OnFitAll() {
    m_view = FitAll(SampleCountOf(m_capture), Layout().TraceWidth());
    Redraw();
}

void CViewerWnd::ZoomAt(double factor, double x) {
    m_view = ZoomAbout(m_view, factor, x, SampleCountOf(m_capture));
    Redraw();
}

void CViewerWnd::ScrollTo(double firstSample) {
    Viewport next = m_view;
    next.firstSample = firstSample;
    m_view = ClampViewport(next, SampleCountOf(m_capture));
    Redraw();
}

void CViewerWnd::keyPressEvent(QKeyEvent* event) {
    const double width = m_view.widthPx;
    const auto n = SampleCountOf(m_capture);
    switch (event->key()) {
    case Qt::Key_Plus:
        OnZoomIn();
        return;
    case Qt::Key_Minus:
        OnZoomOut();
        return;
    case Qt::Key_Left:
        m_view = PanBy(m_view, -width * kArrowStep, n);
        break;
    case Qt::Key_Right:
        m_view = PanBy(m_view, width * kArrowStep, n);
        break;
    case Qt::Key_PageUp:
        m_view = PanBy(m_view, -width, n);
        break;
    case Qt::Key_PageDown:
        m_view = PanBy(m_view, width, n);
        break;
    case Qt::Key_Home:
        ScrollTo(0.0);
        return;
    case Qt::Key_End:
        ScrollTo(static_cast<double>(n));
        return;
    default:
        QMainWindow::keyPressEvent(event);
        return;
    }
    Redraw();
}

// ---- Drawing --------------------------------------------------------------------------

ViewerScene CViewerWnd::Scene() const {
    ViewerScene scene;
    scene.capture = &m_capture; // before a capture: no samples, the user's names
    scene.edges = &m_edges;
    if (m_bHaveCapture) {
        const double seconds = static_cast<double>(m_capture.PeriodPs()) * 1e-12;
        QString footer =
            QStringLiteral("周期 %1    %2 サンプル    全長 %3")
                .arg(TimeText(seconds))
                .arg(m_capture.samples.size())
                .arg(TimeText(seconds * static_cast<double>(m_capture.samples.size())));
        if (m_capture.triggerSample) {
            footer += QStringLiteral("    トリガ T: %1").arg(*m_capture.triggerSample);
        }
        scene.footer = footer.toStdString();
    } else {
        scene.footer = QString::fromUtf8(kNothingText).trimmed().toStdString();
    }
    scene.view = m_view;
    scene.visible = m_visible;
    scene.cursorA = m_cursorA;
    scene.cursorB = m_cursorB;
    scene.extraRows = m_extraRows;
    return scene;
}

ViewerLayout CViewerWnd::Layout() const {
    return LayoutViewer(m_canvas->width(), m_canvas->height(), m_visible,
                        static_cast<int>(m_extraRows.size()));
}

void CViewerWnd::Redraw() {
    const ViewerLayout layout = Layout();
    m_view = Resized(m_view, layout.TraceWidth(), SampleCountOf(m_capture));
    ViewerScene scene = Scene();
    QImage& image = m_canvas->m_image;
    if (image.size() != m_canvas->size()) {
        image = QImage(m_canvas->size(), QImage::Format_RGB32);
    }
    DrawViewer(image, scene);
    m_canvas->update();
    UpdateScrollBar();
    UpdateStatus();
}

void CViewerWnd::UpdateScrollBar() {
    m_bUpdatingScroll = true;
    const double visible = m_view.VisibleSamples();
    const double perStep = std::max(1.0, visible / kScrollSteps);
    const double hidden = std::max(0.0, static_cast<double>(SampleCountOf(m_capture)) - visible);
    m_scrollBar->setRange(0, static_cast<int>(std::ceil(hidden / perStep)));
    m_scrollBar->setPageStep(static_cast<int>(visible / perStep));
    m_scrollBar->setSingleStep(std::max(1, static_cast<int>(visible * kArrowStep / perStep)));
    m_scrollBar->setValue(static_cast<int>(std::lround(m_view.firstSample / perStep)));
    m_bUpdatingScroll = false;
}

void CViewerWnd::UpdateTitle() {
    const QString what = m_bLive ? Utf8(kLiveTitle) : QFileInfo(m_strFile).fileName();
    setWindowTitle(Utf8(kViewerCaption) + QStringLiteral(" - ") + what);
}

QString CViewerWnd::CursorText() const {
    if (!m_bHaveCapture || (!m_cursorA && !m_cursorB)) {
        return {};
    }
    const double period = static_cast<double>(m_capture.PeriodPs()) * 1e-12;
    QStringList parts;
    if (m_cursorA) {
        parts << QStringLiteral("A: %1").arg(TimeText(static_cast<double>(*m_cursorA) * period));
    }
    if (m_cursorB) {
        parts << QStringLiteral("B: %1").arg(TimeText(static_cast<double>(*m_cursorB) * period));
    }
    if (m_cursorA && m_cursorB) {
        const std::int64_t samples = *m_cursorB - *m_cursorA;
        const double dt = static_cast<double>(samples) * period;
        parts << QStringLiteral("Δt: %1").arg(TimeText(dt));
        if (samples != 0) {
            parts << QStringLiteral("1/Δt: %1")
                         .arg(QString::fromStdString(FormatFrequency(1.0 / std::fabs(dt))));
        }
        parts << QStringLiteral("サンプル数: %1").arg(std::llabs(samples));
    }
    return parts.join(QStringLiteral("   "));
}

QString CViewerWnd::HoverText() const {
    return m_strHover;
}

void CViewerWnd::UpdateStatus() {
    m_labelCursor->setText(CursorText());
    m_labelHover->setText(m_strHover);
    if (m_bHaveCapture) {
        const double period = static_cast<double>(m_capture.PeriodPs()) * 1e-12;
        m_labelInfo->setText(
            QStringLiteral("周期 %1  %2 サンプル  全長 %3")
                .arg(TimeText(period))
                .arg(m_capture.samples.size())
                .arg(TimeText(period * static_cast<double>(m_capture.samples.size()))));
    } else {
        m_labelInfo->clear();
    }
}

void CViewerWnd::UpdateHover(int x, int y) {
    m_strHover.clear();
    const ViewerLayout layout = Layout();
    const int channel = layout.ChannelAtY(y);
    // Over an annotation row: the text of the box under the pointer.
    if (const int extra = layout.ExtraRowAtY(y); extra >= 0 && x >= layout.TraceLeft()) {
        const auto sample =
            static_cast<std::int64_t>(std::floor(m_view.SampleAtX(x - layout.TraceLeft())));
        const ExtraRow& row = m_extraRows[static_cast<std::size_t>(extra)];
        for (const auto& box : row.boxes) {
            if (sample >= box.first && sample < box.end) {
                m_strHover = QString::fromStdString(
                    row.label + ": " + (box.texts.empty() ? std::string() : box.texts.front()));
                break;
            }
        }
    }
    if (m_bHaveCapture && channel >= 0 && x >= layout.TraceLeft()) {
        const auto sample =
            static_cast<std::int64_t>(std::floor(m_view.SampleAtX(x - layout.TraceLeft())));
        const QString name =
            QString::fromStdString(m_capture.names[static_cast<std::size_t>(channel)]);
        if (const auto info = MeasureAt(m_capture, m_edges, channel, sample)) {
            const double period = static_cast<double>(m_capture.PeriodPs()) * 1e-12;
            QStringList parts;
            parts << QStringLiteral("%1: %2").arg(name, info->level ? QStringLiteral("H")
                                                                    : QStringLiteral("L"));
            if (info->widthSamples) {
                parts << QStringLiteral("パルス幅: %1")
                             .arg(TimeText(static_cast<double>(*info->widthSamples) * period));
            }
            if (info->periodSamples) {
                const double seconds = static_cast<double>(*info->periodSamples) * period;
                parts << QStringLiteral("周期: %1").arg(TimeText(seconds))
                      << QStringLiteral("周波数: %1")
                             .arg(QString::fromStdString(FormatFrequency(1.0 / seconds)))
                      << QStringLiteral("デューティ比: %1 %")
                             .arg(100.0 * static_cast<double>(*info->highSamples) /
                                      static_cast<double>(*info->periodSamples),
                                  0, 'f', 1);
            }
            m_strHover = parts.join(QStringLiteral("   "));
        } else if (sample >= 0 && sample < SampleCountOf(m_capture)) {
            m_strHover = QStringLiteral("%1: 未受信").arg(name);
        }
    }
    m_labelHover->setText(m_strHover);
}

// ---- Cursors, names and rows ----------------------------------------------------------

std::int64_t CViewerWnd::SnapBoundary(int x, int y) const {
    const ViewerLayout layout = Layout();
    const double boundary = m_view.SampleAtX(x - layout.TraceLeft());
    const int channel = layout.ChannelAtY(y);
    if (channel >= 0) {
        if (const auto edge =
                NearestEdge(m_edges, channel, boundary, kSnapPx / m_view.pixelsPerSample)) {
            return *edge;
        }
    }
    return std::clamp<std::int64_t>(std::llround(boundary), 0, SampleCountOf(m_capture));
}

void CViewerWnd::PlaceCursor(bool bCursorB, int x, int y) {
    if (!m_bHaveCapture) {
        return;
    }
    (bCursorB ? m_cursorB : m_cursorA) = SnapBoundary(x, y);
    Redraw();
}

void CViewerWnd::OnRenameChannel(int channel) {
    bool bOk = false;
    const QString name = QInputDialog::getText(
        this, Utf8(kRenameCaption), Utf8(kRenamePrompt).arg(channel), QLineEdit::Normal,
        QString::fromStdString(m_capture.names[static_cast<std::size_t>(channel)]), &bOk);
    if (bOk) {
        RenameChannel(channel, name);
    }
}

void CViewerWnd::RenameChannel(int channel, const QString& name) {
    if (channel < 0 || channel >= kViewerChannels) {
        return;
    }
    const QString trimmed = name.trimmed();
    const std::string value = trimmed.isEmpty()
                                  ? DefaultChannelNames()[static_cast<std::size_t>(channel)]
                                  : trimmed.toStdString();
    m_capture.names[static_cast<std::size_t>(channel)] = value;
    QSettings settings = UserSettings();
    QStringList names = settings.value(QString::fromLatin1(kNamesKey)).toStringList();
    while (names.size() < kViewerChannels) {
        names << QString();
    }
    names[channel] = QString::fromStdString(value);
    settings.setValue(QString::fromLatin1(kNamesKey), names);
    Redraw();
    emit CaptureChanged();
}

void CViewerWnd::SetChannelVisible(int channel, bool bVisible) {
    if (channel < 0 || channel >= kViewerChannels) {
        return;
    }
    m_visible[static_cast<std::size_t>(channel)] = bVisible;
    if (auto* action =
            m_rowActions.empty() ? nullptr : m_rowActions[static_cast<std::size_t>(channel)]) {
        const QSignalBlocker blocker(action);
        action->setChecked(bVisible);
    }
    int hidden = 0;
    for (int c = 0; c < kViewerChannels; ++c) {
        hidden |= m_visible[static_cast<std::size_t>(c)] ? 0 : 1 << c;
    }
    UserSettings().setValue(QString::fromLatin1(kHiddenKey), hidden);
    Redraw();
}

// ---- Mouse ----------------------------------------------------------------------------

bool CViewerWnd::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_canvas) {
        return QMainWindow::eventFilter(watched, event);
    }
    const ViewerLayout layout = Layout();
    switch (event->type()) {
    case QEvent::Resize:
        Redraw();
        return false;
    case QEvent::Wheel: {
        auto* wheel = static_cast<QWheelEvent*>(event);
        const double notches = wheel->angleDelta().y() / static_cast<double>(kWheelNotch);
        if (notches != 0.0) {
            ZoomAt(std::pow(kZoomStep, notches), wheel->position().x() - layout.TraceLeft());
        }
        return true;
    }
    case QEvent::MouseButtonDblClick: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const int channel = layout.ChannelAtY(mouse->position().toPoint().y());
        if (mouse->position().x() < layout.TraceLeft() && channel >= 0) {
            OnRenameChannel(channel);
        }
        return true;
    }
    case QEvent::ContextMenu: {
        auto* menuEvent = static_cast<QContextMenuEvent*>(event);
        const int channel = layout.ChannelAtY(menuEvent->pos().y());
        if (channel < 0) {
            return false;
        }
        QMenu menu(this);
        menu.addAction(Utf8(kRenameText), this, [this, channel] { OnRenameChannel(channel); });
        menu.addAction(Utf8(kHideText), this,
                       [this, channel] { SetChannelVisible(channel, false); });
        menu.addSeparator();
        menu.addMenu(m_menuRows);
        menu.exec(menuEvent->globalPos());
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton || mouse->position().x() < layout.TraceLeft()) {
            return false;
        }
        m_pressPos = mouse->position().toPoint();
        m_pressFirstSample = m_view.firstSample;
        m_bPressShift = (mouse->modifiers() & Qt::ShiftModifier) != 0;
        m_drag = Drag::Pending;
        const double x = m_pressPos.x() - layout.TraceLeft();
        for (const auto& [cursor, drag] :
             {std::pair{m_cursorB, Drag::CursorB}, std::pair{m_cursorA, Drag::CursorA}}) {
            if (cursor &&
                std::fabs(m_view.XOfBoundary(static_cast<double>(*cursor)) - x) <= kCursorGrabPx) {
                m_drag = drag;
            }
        }
        return true;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint pos = mouse->position().toPoint();
        if (m_drag == Drag::Pending && (pos - m_pressPos).manhattanLength() > kDragThresholdPx) {
            m_drag = Drag::Pan;
        }
        if (m_drag == Drag::Pan) {
            ScrollTo(m_pressFirstSample - (pos.x() - m_pressPos.x()) / m_view.pixelsPerSample);
        } else if (m_drag == Drag::CursorA || m_drag == Drag::CursorB) {
            PlaceCursor(m_drag == Drag::CursorB, pos.x(), pos.y());
        }
        UpdateHover(pos.x(), pos.y());
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && m_drag == Drag::Pending) {
            PlaceCursor(m_bPressShift, m_pressPos.x(), m_pressPos.y());
        }
        m_drag = Drag::None;
        return true;
    }
    case QEvent::Leave:
        m_strHover.clear();
        m_labelHover->clear();
        return false;
    default:
        return QMainWindow::eventFilter(watched, event);
    }
}

} // namespace quillon
