// The waveform viewer's window: menus, tool bar, status bar, mouse and keys, files read in the
// background. The picture is DrawViewer's; measurements come from the measurement core.
#include "ui/viewer_wnd.h"

#include "measure/signal_measure.h"
#include "ui/decoder_set.h"
#include "ui/file_loader.h"
#include "ui/viewer_common.h"

#include <QAction>
#include <QApplication>
#include <QBackingStore>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QWheelEvent>

#include <cmath>
#include <cstdio>
#include <functional>

namespace quillon {

using namespace viewer;

namespace {

constexpr const char* kViewerCaption = "波形ビューア";
constexpr const char* kLiveTitle = "ライブ";
// Menus: each letter once per menu, and the menu bar's letters once in the window. The tool
// bars show the commands without letters: a tool button takes none.
constexpr const char* kFileMenu = "ファイル(&F)";
constexpr const char* kViewMenu = "表示(&V)";
constexpr const char* kRowsMenu = "チャンネル(&C)";
constexpr const char* kCloseText = "閉じる(&C)";
constexpr const char* kZoomInText = "拡大(&I)";
constexpr const char* kZoomOutText = "縮小(&U)";
constexpr const char* kFitAllText = "全体表示(&W)";
constexpr const char* kRelativeText = "トリガを基準に時刻を表示(&T)";
constexpr const char* kChooseRowsText = "行の表示(&R)...";
constexpr const char* kHideQuietText = "エッジのない行を隠す(&E)";
constexpr const char* kRenameText = "名前の変更(&N)...";
constexpr const char* kHideText = "非表示(&H)";
constexpr const char* kCancelLoadText = "中止";

// Settings kept per user.
constexpr const char* kGeometryKey = "viewer/geometry";
constexpr const char* kRelativeKey = "viewer/relativeTime";

constexpr QSize kDefaultSize(1200, 760);
constexpr double kZoomStep = 1.25;  // per wheel notch and per key
constexpr int kWheelNotch = 120;    // QWheelEvent angle units of one notch
constexpr int kDragThresholdPx = 4; // a press that moves less is a click
constexpr int kCursorGrabPx = 4;    // a press this near a cursor drags it
constexpr double kSnapPx = 6.0;     // a cursor this near an edge snaps to it
constexpr double kArrowStep = 0.1;  // of the visible width per arrow key
constexpr int kScrollSteps = 1000;  // scroll bar positions per visible width, at most
constexpr int kRowsPerNotch = 3;    // rows scrolled per wheel notch over the names

} // namespace

/// Shows the picture, drawn again only when it is out of date: however many wheel steps or
/// mouse moves arrive between two frames, one picture is drawn. It is drawn straight into the
/// window's backing store where that is a plain image (no copy of 8 MB per frame), else into
/// an image of its own.
class CViewerCanvas : public QWidget {
public:
    CViewerCanvas(QWidget* parent, std::function<void(QImage&)> render)
        : QWidget(parent), m_render(std::move(render)) {
        setMouseTracking(true);
        setFocusPolicy(Qt::StrongFocus);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMinimumSize(320, 200);
    }
    void Invalidate() {
        m_bDirty = true;
        update();
    }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        // Widgets are painted through a redirection to the window's backing store: where that
        // is a plain 32-bit image, the picture goes straight into it. Painting into anything
        // else (grab, render) goes into the canvas's own image, then is copied.
        QPoint offset; // from the device's origin to the canvas's, negated
        QPaintDevice* device = redirected(&offset);
        const QPoint at = -offset;
        QImage* store = StoreImage(device, at);
        if (store != nullptr) {
            if (m_bDirty || store->constBits() != m_pDrawnInto || store->size() != m_drawnSize ||
                at != m_drawnAt) {
                QImage part(store->bits() + at.y() * store->bytesPerLine() +
                                at.x() * static_cast<qsizetype>(sizeof(QRgb)),
                            width(), height(), store->bytesPerLine(), QImage::Format_RGB32);
                m_render(part);
                m_bDirty = false;
                m_pDrawnInto = store->constBits();
                m_drawnSize = store->size();
                m_drawnAt = at;
            }
            return; // the store keeps what was drawn into it
        }
        if (m_image.size() != size()) {
            m_image = QImage(size(), QImage::Format_RGB32);
            m_bDirty = true;
        }
        if (m_bDirty) {
            m_bDirty = false;
            m_render(m_image);
            m_pDrawnInto = nullptr; // the store, if ever drawn into, is out of date now
        }
        QPainter painter(this);
        painter.drawImage(0, 0, m_image);
    }
    void showEvent(QShowEvent* event) override {
        m_bDirty = true; // whatever the store held while hidden is not to be trusted
        QWidget::showEvent(event);
    }

private:
    /// device, when it is the window's backing store and a 32-bit image the canvas lies
    /// wholly inside at offset at.
    QImage* StoreImage(QPaintDevice* device, QPoint at) {
        QBackingStore* backing = backingStore();
        if (device == nullptr || backing == nullptr || device != backing->paintDevice() ||
            device->devType() != QInternal::Image) {
            return nullptr;
        }
        auto* store = static_cast<QImage*>(device);
        if (store->devicePixelRatio() != 1.0 ||
            (store->format() != QImage::Format_RGB32 &&
             store->format() != QImage::Format_ARGB32_Premultiplied)) {
            return nullptr;
        }
        return QRect(QPoint(0, 0), store->size()).contains(QRect(at, size())) ? store : nullptr;
    }

    std::function<void(QImage&)> m_render;
    QImage m_image;
    bool m_bDirty = true;
    const uchar* m_pDrawnInto = nullptr;
    QSize m_drawnSize;
    QPoint m_drawnAt;
};

CViewerWnd::CViewerWnd(QWidget* parent, bool bUnattended)
    : QMainWindow(parent), m_bUnattended(bUnattended) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlag(Qt::Window);
    auto* central = new QWidget(this);
    auto* layout = new QGridLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_canvas = new CViewerCanvas(central, [this](QImage& image) { Render(image); });
    m_canvas->installEventFilter(this);
    m_scrollBar = new QScrollBar(Qt::Horizontal, central);
    m_scrollRows = new QScrollBar(Qt::Vertical, central);
    m_scrollRows->hide();
    layout->addWidget(m_canvas, 0, 0);
    layout->addWidget(m_scrollRows, 0, 1);
    layout->addWidget(m_scrollBar, 1, 0);
    layout->setRowStretch(0, 1);
    layout->setColumnStretch(0, 1);
    setCentralWidget(central);
    connect(m_scrollBar, &QScrollBar::valueChanged, this, [this](int value) {
        if (!m_bUpdatingScroll) {
            const double perStep = std::max(1.0, m_view.VisibleSamples() / kScrollSteps);
            ScrollTo(value * perStep);
        }
    });
    connect(m_scrollRows, &QScrollBar::valueChanged, this, [this](int value) {
        if (!m_bUpdatingScroll) {
            ScrollRowsTo(value);
        }
    });

    m_labelCursor = new QLabel(this);
    m_labelHover = new QLabel(this);
    m_labelInfo = new QLabel(this);
    m_labelLoad = new QLabel(this);
    m_progressLoad = new QProgressBar(this);
    m_progressLoad->setRange(0, 1000);
    m_progressLoad->setMaximumWidth(200);
    m_buttonCancelLoad = new QToolButton(this);
    m_buttonCancelLoad->setText(Utf8(kCancelLoadText));
    connect(m_buttonCancelLoad, &QToolButton::clicked, this, &CViewerWnd::CancelLoad);
    statusBar()->addWidget(m_labelCursor, 1);
    statusBar()->addWidget(m_labelHover, 1);
    statusBar()->addWidget(m_labelLoad);
    statusBar()->addWidget(m_progressLoad);
    statusBar()->addWidget(m_buttonCancelLoad);
    statusBar()->addPermanentWidget(m_labelInfo);
    for (QWidget* widget :
         {static_cast<QWidget*>(m_labelLoad), static_cast<QWidget*>(m_progressLoad),
          static_cast<QWidget*>(m_buttonCancelLoad)}) {
        widget->hide();
    }

    m_pLoader = new CFileLoader(this);
    connect(m_pLoader, &CFileLoader::Progress, this, &CViewerWnd::OnLoadProgress);
    connect(m_pLoader, &CFileLoader::Finished, this, &CViewerWnd::OnLoadFinished);

    QSettings settings = UserSettings();
    m_bRelativeTime =
        !m_bUnattended && settings.value(QString::fromLatin1(kRelativeKey), false).toBool();
    CreateActions();
    AttachDecoders();
    CreateHuntTools(m_menuView);

    // Before the first capture: the analyzer's rows, as the user named them (a picture
    // taken without a user shows them as they are).
    m_state = m_bUnattended ? ViewState{} : ReadUserView(kAnalyzerChannels);
    m_state.channels.resize(kAnalyzerChannels);
    for (int channel = kAnalyzerChannels - 1; channel >= 0; --channel) {
        m_order.push_back(channel);
    }
    if (!restoreGeometry(settings.value(QString::fromLatin1(kGeometryKey)).toByteArray())) {
        resize(kDefaultSize);
    }
    m_view = FitAll(0, 1);
    UpdateScene();
    UpdateTitle();
    UpdateStatus();
}

CViewerWnd::~CViewerWnd() {
    DetachStatistics();
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
    m_actionRelative = new QAction(Utf8(kRelativeText), this);
    m_actionRelative->setCheckable(true);
    m_actionRelative->setChecked(m_bRelativeTime);
    connect(m_actionRelative, &QAction::toggled, this, &CViewerWnd::SetRelativeTime);

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
    m_menuView->addAction(m_actionRelative);
    m_menuView->addSeparator();
    m_menuView->addAction(Utf8(kChooseRowsText), this, &CViewerWnd::OnChooseRows);
    m_menuView->addAction(Utf8(kHideQuietText), this, &CViewerWnd::HideRowsWithoutEdges);
    m_menuRows = m_menuView->addMenu(Utf8(kRowsMenu));

    QToolBar* tools = addToolBar(Utf8(kViewMenu));
    tools->setObjectName(QStringLiteral("viewerTools"));
    tools->addAction(open);
    tools->addAction(saveAs);
    tools->addSeparator();
    tools->addAction(zoomIn);
    tools->addAction(zoomOut);
    tools->addAction(fitAll);
}

// ---- The capture shown ----------------------------------------------------------------

void CViewerWnd::SetCapture(CapturePtr capture) {
    m_capture = std::move(capture);
    const std::int64_t n = m_capture ? m_capture->SampleCount() : 0;
    m_state.channels.resize(static_cast<std::size_t>(ChannelCount()));
    if (static_cast<int>(m_order.size()) != ChannelCount()) {
        m_order.clear();
        for (int channel = 0; channel < ChannelCount(); ++channel) {
            m_order.push_back(channel);
        }
    }
    for (auto* cursor : {&m_cursorA, &m_cursorB}) {
        if (*cursor && **cursor > n) {
            cursor->reset();
        }
    }
    m_view = ClampViewport(m_view, n);
    if (m_bRelativeTime && !(m_capture && m_capture->TriggerSample())) {
        m_actionRelative->setChecked(false);
    }
    m_actionRelative->setEnabled(m_capture && m_capture->TriggerSample());
    UpdateScene();
    UpdateTitle();
    Redraw();
    emit CaptureChanged();
}

void CViewerWnd::UseLiveView() {
    if (m_bLiveView) {
        return;
    }
    m_bLiveView = true;
    if (m_bUnattended) {
        // A picture without a user: the rows as they are, only the decoders it was given.
        m_state = ViewState{};
        m_state.channels.resize(kAnalyzerChannels);
        UpdateDecoderCapture();
        return;
    }
    m_state = ReadUserView(kAnalyzerChannels);
    m_pDecoders->UseUserEntries();
    LoadMarkers();
    UpdateDecoderCapture();
}

void CViewerWnd::SetLiveCapture(CapturePtr capture) {
    if (!m_bLive || !capture) {
        return;
    }
    UseLiveView();
    if (!m_capture) {
        // The main window's order: D15 at the top.
        m_order.clear();
        for (int channel = capture->ChannelCount() - 1; channel >= 0; --channel) {
            m_order.push_back(channel);
        }
        m_view = FitAll(capture->SampleCount(), Layout().TraceWidth());
    }
    SetCapture(std::move(capture));
}

void CViewerWnd::ShowCapture(CapturePtr capture, const QString& fileName) {
    if (!capture) {
        return;
    }
    m_bLive = false;
    m_bLiveView = false;
    m_strFile = fileName;
    m_strViewFile.clear();
    if (m_bUnattended) {
        // The same picture on every machine: no view kept for the file, only the decoders
        // the picture was given.
        m_state = ViewState{};
        m_state.channels.resize(static_cast<std::size_t>(capture->ChannelCount()));
    } else {
        m_state = ReadViewFor(fileName, *capture, &m_strViewFile);
    }
    m_order.clear();
    for (int channel = 0; channel < capture->ChannelCount(); ++channel) {
        m_order.push_back(channel); // the file's order, the first channel at the top
    }
    m_pDecoders->SetCapture(nullptr); // the file's decoders start on the file's capture
    if (!m_bUnattended) {
        m_pDecoders->UseEntries(m_state.decoders);
    }
    m_cursorA.reset();
    m_cursorB.reset();
    m_nScrollRows = 0;
    m_view = FitAll(capture->SampleCount(), Layout().TraceWidth());
    SetCapture(std::move(capture));
    LoadMarkers();
}

void CViewerWnd::SetExtraRows(std::vector<ExtraRow> rows) {
    m_scene.extraRows = std::move(rows);
    FitNames();
    Redraw();
}

QWidget* CViewerWnd::Canvas() const {
    return m_canvas;
}

// ---- Menus ----------------------------------------------------------------------------

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

void CViewerWnd::showEvent(QShowEvent* event) {
    // Tool buttons take no letters: only menus do, so the tool bars show none.
    for (auto* bar : findChildren<QToolBar*>()) {
        for (auto* action : bar->actions()) {
            if (!action->text().isEmpty()) {
                action->setIconText(WithoutAccelerator(action->text()));
            }
        }
    }
    if (m_bLive && !IsLoading()) {
        UseLiveView();
        UpdateScene();
        Redraw();
    }
    QMainWindow::showEvent(event);
}

void CViewerWnd::closeEvent(QCloseEvent* event) {
    m_pLoader->Cancel(); // a file still coming in is not wanted any more
    QMainWindow::closeEvent(event);
}

// ---- Navigation -----------------------------------------------------------------------

void CViewerWnd::OnZoomIn() {
    ZoomAt(kZoomStep, m_view.widthPx / 2.0);
}

void CViewerWnd::OnZoomOut() {
    ZoomAt(1.0 / kZoomStep, m_view.widthPx / 2.0);
}

void CViewerWnd::OnFitAll() {
    m_view = FitAll(m_capture ? m_capture->SampleCount() : 0, Layout().TraceWidth());
    Redraw();
}

void CViewerWnd::ZoomAt(double factor, double x) {
    m_view = ZoomAbout(m_view, factor, x, m_capture ? m_capture->SampleCount() : 0);
    Redraw();
}

void CViewerWnd::ScrollTo(double firstSample) {
    Viewport next = m_view;
    next.firstSample = firstSample;
    m_view = ClampViewport(next, m_capture ? m_capture->SampleCount() : 0);
    Redraw();
}

void CViewerWnd::ScrollRowsTo(int y) {
    m_nScrollRows = std::max(0, y);
    Redraw();
}

void CViewerWnd::keyPressEvent(QKeyEvent* event) {
    const double width = m_view.widthPx;
    const auto n = m_capture ? m_capture->SampleCount() : 0;
    switch (event->key()) {
    case Qt::Key_Escape:
        if (IsLoading()) {
            CancelLoad();
            return;
        }
        QMainWindow::keyPressEvent(event);
        return;
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
    case Qt::Key_Up:
        ScrollRowsTo(Layout().scrollPx - Layout().rowHeightPx);
        return;
    case Qt::Key_Down:
        ScrollRowsTo(Layout().scrollPx + Layout().rowHeightPx);
        return;
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

void CViewerWnd::UpdateScene() {
    const int channels = ChannelCount();
    m_scene.capture = m_capture.get();
    m_scene.names.resize(static_cast<std::size_t>(channels));
    m_scene.colours.resize(static_cast<std::size_t>(channels));
    m_scene.rows.clear();
    for (int channel = 0; channel < channels; ++channel) {
        m_scene.names[static_cast<std::size_t>(channel)] = ChannelName(channel).toStdString();
        m_scene.colours[static_cast<std::size_t>(channel)] = ChannelColourOf(channel);
    }
    // While the first file comes in there are no rows yet: not the live capture's either.
    const bool bFirstFile = IsLoading() && !m_capture;
    for (const int channel : m_order) {
        if (channel < channels && IsChannelVisible(channel) && !bFirstFile) {
            m_scene.rows.push_back(channel);
        }
    }
    if (bFirstFile) {
        m_scene.footer = (Utf8(kLoadingTitle) + QStringLiteral("...")).toStdString();
    } else if (m_capture && m_capture->SampleCount() > 0) {
        const double seconds = m_capture->Period().Seconds();
        const auto n = m_capture->SampleCount();
        QString footer = QStringLiteral("周期 %1    %2 サンプル    全長 %3")
                             .arg(TimeText(seconds))
                             .arg(n)
                             .arg(TimeText(m_capture->Period().SecondsOf(static_cast<double>(n))));
        if (const auto trigger = m_capture->TriggerSample()) {
            footer += QStringLiteral("    トリガ T: %1").arg(*trigger);
        }
        m_scene.footer = footer.toStdString();
    } else {
        m_scene.footer = Utf8(kNothingText).trimmed().toStdString();
    }
    FitNames();
    FillRowsMenu();
}

ViewerLayout CViewerWnd::Layout() const {
    return LayoutViewer(m_canvas->width(), m_canvas->height(), m_scene.rows,
                        static_cast<int>(m_scene.extraRows.size()), m_nScrollRows,
                        m_scene.nameWidthPx);
}

void CViewerWnd::Render(QImage& image) {
    m_scene.capture = m_capture.get();
    m_scene.view = m_view;
    m_scene.scrollPx = m_nScrollRows;
    m_scene.cursorA = m_cursorA;
    m_scene.cursorB = m_cursorB;
    const auto trigger = m_capture ? m_capture->TriggerSample() : std::nullopt;
    m_scene.timeOrigin = m_bRelativeTime && trigger ? static_cast<double>(*trigger) : 0.0;
    DrawViewer(image, m_scene);
}

void CViewerWnd::Redraw() {
    const ViewerLayout layout = Layout();
    m_view = Resized(m_view, layout.TraceWidth(), m_capture ? m_capture->SampleCount() : 0);
    m_nScrollRows = layout.scrollPx;
    m_canvas->Invalidate();
    UpdateScrollBars();
    UpdateStatus();
}

void CViewerWnd::UpdateScrollBars() {
    m_bUpdatingScroll = true;
    const double visible = m_view.VisibleSamples();
    const double perStep = std::max(1.0, visible / kScrollSteps);
    const double samples = m_capture ? static_cast<double>(m_capture->SampleCount()) : 0.0;
    const double hidden = std::max(0.0, samples - visible);
    m_scrollBar->setRange(0, static_cast<int>(std::ceil(hidden / perStep)));
    m_scrollBar->setPageStep(static_cast<int>(visible / perStep));
    m_scrollBar->setSingleStep(std::max(1, static_cast<int>(visible * kArrowStep / perStep)));
    m_scrollBar->setValue(static_cast<int>(std::lround(m_view.firstSample / perStep)));

    const ViewerLayout layout = Layout();
    m_scrollRows->setVisible(layout.MaxScrollPx() > 0);
    m_scrollRows->setRange(0, layout.MaxScrollPx());
    m_scrollRows->setPageStep(layout.RowsBottom() - layout.RowsTop());
    m_scrollRows->setSingleStep(layout.rowHeightPx);
    m_scrollRows->setValue(layout.scrollPx);
    m_bUpdatingScroll = false;
}

void CViewerWnd::UpdateTitle() {
    QString what = m_bLive ? Utf8(kLiveTitle) : QFileInfo(m_strFile).fileName();
    if (IsLoading()) {
        what = QFileInfo(m_pLoader->Path()).fileName() + QStringLiteral(" (") +
               Utf8(kLoadingTitle) + QStringLiteral(")");
    }
    setWindowTitle(Utf8(kViewerCaption) + QStringLiteral(" - ") + what);
}

QString CViewerWnd::TimeAt(std::int64_t boundary) const {
    const auto trigger = m_capture->TriggerSample();
    const double origin = m_bRelativeTime && trigger ? static_cast<double>(*trigger) : 0.0;
    return TimeText(m_capture->Period().SecondsOf(static_cast<double>(boundary) - origin));
}

QString CViewerWnd::CursorText() const {
    if (!m_capture || (!m_cursorA && !m_cursorB)) {
        return {};
    }
    QStringList parts;
    if (m_cursorA) {
        parts << QStringLiteral("A: %1").arg(TimeAt(*m_cursorA));
    }
    if (m_cursorB) {
        parts << QStringLiteral("B: %1").arg(TimeAt(*m_cursorB));
    }
    if (m_cursorA && m_cursorB) {
        const std::int64_t samples = *m_cursorB - *m_cursorA;
        const double dt = m_capture->Period().SecondsOf(static_cast<double>(samples));
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
    if (m_capture && m_capture->SampleCount() > 0) {
        const auto n = m_capture->SampleCount();
        m_labelInfo->setText(
            QStringLiteral("%1 チャンネル  周期 %2  %3 サンプル  全長 %4")
                .arg(m_capture->ChannelCount())
                .arg(TimeText(m_capture->Period().Seconds()))
                .arg(n)
                .arg(TimeText(m_capture->Period().SecondsOf(static_cast<double>(n)))));
    } else {
        m_labelInfo->clear();
    }
}

void CViewerWnd::UpdateHover(int x, int y) {
    m_strHover.clear();
    const ViewerLayout layout = Layout();
    const int channel = layout.ChannelAtY(y);
    const int extra = layout.ExtraRowAtY(y);
    if (x < layout.TraceLeft()) {
        // Over the names: the whole name.
        if (extra >= 0) {
            m_strHover =
                QString::fromStdString(m_scene.extraRows[static_cast<std::size_t>(extra)].label);
        } else if (channel >= 0) {
            m_strHover = ChannelName(channel);
            if (m_capture && m_strHover.toStdString() != m_capture->ChannelName(channel)) {
                m_strHover += QStringLiteral(" (%1)").arg(
                    QString::fromStdString(m_capture->ChannelName(channel)));
            }
        }
        m_labelHover->setText(m_strHover);
        return;
    }
    const auto sample =
        static_cast<std::int64_t>(std::floor(m_view.SampleAtX(x - layout.TraceLeft())));
    // Over an annotation row: the text of the box under the pointer.
    if (extra >= 0) {
        const ExtraRow& row = m_scene.extraRows[static_cast<std::size_t>(extra)];
        if (const LaneBox* box = row.lane ? row.lane->At(sample) : nullptr) {
            m_strHover = QString::fromStdString(row.label + ": " +
                                                std::string(row.lane->texts->First(box->texts)));
        }
    }
    if (m_capture && channel >= 0) {
        const QString name = ChannelName(channel);
        if (const auto info = MeasureAt(*m_capture, channel, sample)) {
            const double period = m_capture->Period().Seconds();
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
        } else if (sample >= 0 && sample < m_capture->SampleCount()) {
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
                NearestEdge(*m_capture, channel, boundary, kSnapPx / m_view.pixelsPerSample)) {
            return *edge;
        }
    }
    return std::clamp<std::int64_t>(std::llround(boundary), 0, m_capture->SampleCount());
}

void CViewerWnd::PlaceCursor(bool bCursorB, int x, int y) {
    if (!m_capture || m_capture->SampleCount() == 0) {
        return;
    }
    (bCursorB ? m_cursorB : m_cursorA) = SnapBoundary(x, y);
    Redraw();
    OnCursorsMoved();
}

void CViewerWnd::SetRelativeTime(bool bRelative) {
    m_bRelativeTime = bRelative && m_capture && m_capture->TriggerSample();
    if (m_actionRelative->isChecked() != m_bRelativeTime) {
        const QSignalBlocker blocker(m_actionRelative);
        m_actionRelative->setChecked(m_bRelativeTime);
    }
    if (!m_bUnattended) {
        UserSettings().setValue(QString::fromLatin1(kRelativeKey), bRelative);
    }
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
        const QPoint delta = wheel->angleDelta();
        const bool bOverNames = wheel->position().x() < layout.TraceLeft();
        if (bOverNames || (wheel->modifiers() & Qt::ShiftModifier) != 0) {
            // Over the names (or with Shift): the rows scroll.
            const int steps = delta.y() != 0 ? delta.y() : delta.x();
            ScrollRowsTo(layout.scrollPx -
                         steps * kRowsPerNotch * layout.rowHeightPx / kWheelNotch);
        } else if (delta.y() != 0) {
            ZoomAt(std::pow(kZoomStep, delta.y() / static_cast<double>(kWheelNotch)),
                   wheel->position().x() - layout.TraceLeft());
        } else if (delta.x() != 0) {
            ScrollTo(m_view.firstSample -
                     delta.x() * kArrowStep * m_view.VisibleSamples() / kWheelNotch);
        }
        return true;
    }
    case QEvent::ToolTip: {
        auto* help = static_cast<QHelpEvent*>(event);
        UpdateHover(help->pos().x(), help->pos().y());
        if (help->pos().x() < layout.TraceLeft() && !m_strHover.isEmpty()) {
            QToolTip::showText(help->globalPos(), m_strHover, m_canvas);
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    case QEvent::MouseButtonDblClick: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->position().y() < layout.RowsTop() &&
            mouse->position().x() >= layout.TraceLeft()) {
            // On the time axis: a marker there.
            AddMarker(std::llround(m_view.SampleAtX(mouse->position().x() - layout.TraceLeft())));
            return true;
        }
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
        menu.addAction(Utf8(kColourText), this, [this, channel] { OnChooseColour(channel); });
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
        if (m_pressPos.y() < layout.RowsTop()) {
            // A drag along the time axis picks the range to fit; a click places a cursor.
            m_drag = Drag::ZoomRange; // unless a cursor's line is grabbed there
        }
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
        } else if (m_drag == Drag::ZoomRange) {
            // std::minmax of temporaries would hand back references to them: values here.
            const long long a = std::llround(m_view.SampleAtX(m_pressPos.x() - layout.TraceLeft()));
            const long long b = std::llround(m_view.SampleAtX(pos.x() - layout.TraceLeft()));
            m_scene.highlight = SampleRange{std::min(a, b), std::max(a, b)};
            Redraw();
        }
        UpdateHover(pos.x(), pos.y());
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && m_drag == Drag::Pending) {
            PlaceCursor(m_bPressShift, m_pressPos.x(), m_pressPos.y());
        } else if (m_drag == Drag::ZoomRange) {
            const int x = mouse->position().toPoint().x();
            m_scene.highlight.reset();
            if (std::abs(x - m_pressPos.x()) > kDragThresholdPx) {
                const long long a =
                    std::llround(m_view.SampleAtX(m_pressPos.x() - layout.TraceLeft()));
                const long long b = std::llround(m_view.SampleAtX(x - layout.TraceLeft()));
                const long long first = std::min(a, b);
                ZoomToRange(first, std::max(std::max(a, b), first + 1));
            } else {
                PlaceCursor(m_bPressShift, m_pressPos.x(), m_pressPos.y()); // a click, as anywhere
            }
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
