// The viewer's hunting tools: the find bar (a condition, its matches one by one), markers,
// zoom to a range, the annotation table and the statistics between the cursors. The searching
// and measuring are toolkit-free (search/, measure/); this file turns them into widgets.
#include "file/save_file.h"
#include "measure/range_stats.h"
#include "session/thread_handoff.h"
#include "ui/annotation_table.h"
#include "ui/decoder_set.h"
#include "ui/viewer_common.h"
#include "ui/viewer_wnd.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>

namespace quillon {

using namespace viewer;

namespace {

constexpr const char* kHuntMenu = "検索(&S)";
constexpr const char* kFindText = "検索(&F)...";
constexpr const char* kFindNextText = "次を検索(&N)";
constexpr const char* kFindPreviousText = "前を検索(&P)";
constexpr const char* kAddMarkerText = "マーカーを追加(&M)";
constexpr const char* kMarkersText = "マーカー一覧(&L)";
constexpr const char* kAnnotationsText = "アノテーション一覧(&A)";
constexpr const char* kStatsText = "統計(&T)";
constexpr const char* kZoomCursorsText = "A-B を拡大(&Z)";
constexpr const char* kFindPrompt = "条件 (例: D3 high<50ns, D0 rise and D1 high, ann=uart:ERR)";
constexpr const char* kPreviousButton = "前へ";
constexpr const char* kNextButton = "次へ";
constexpr const char* kNoMatchText = "見つかりません";
constexpr const char* kMatchText = "%1 / %2 件";
constexpr const char* kFaultText = "%1 文字目: %2";
constexpr const char* kMarkersTitle = "マーカー";
constexpr const char* kAnnotationsTitle = "アノテーション";
constexpr const char* kStatsTitle = "統計";
constexpr const char* kDeleteText = "削除";
constexpr const char* kCopyText = "コピー";
constexpr const char* kExportViewText = "表示範囲を CSV に...";
constexpr const char* kExportCursorsText = "カーソル間を CSV に...";
constexpr const char* kFilterPrompt = "絞り込み";
constexpr const char* kCsvFilter = "CSV (*.csv)";
constexpr const char* kNoCursorsText = "カーソル A と B を置いてください。";
constexpr const char* kWholeText = "全体";
constexpr const char* kBetweenText = "A-B 間";
// Matches kept for "k / n"; beyond, the count says "n+".
constexpr std::size_t kMaxMatches = 1'000'000;

QTableWidgetItem* ReadOnly(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
}

QDockWidget* MakeDock(QMainWindow* window, const char* title, const QString& name, QWidget* content,
                      Qt::DockWidgetArea area) {
    auto* dock = new QDockWidget(Utf8(title), window);
    dock->setObjectName(name);
    dock->setWidget(content);
    window->addDockWidget(area, dock);
    dock->hide();
    return dock;
}

} // namespace

// ---- Menus and docks ------------------------------------------------------------------

void CViewerWnd::CreateHuntTools(QMenu* viewMenu) {
    QAction* zoomCursors =
        viewMenu->addAction(Utf8(kZoomCursorsText), this, &CViewerWnd::OnZoomToCursors);
    zoomCursors->setObjectName(QStringLiteral("zoomCursors"));

    QMenu* menu = menuBar()->addMenu(Utf8(kHuntMenu));
    QAction* find = menu->addAction(Utf8(kFindText), this, &CViewerWnd::OnFind);
    find->setShortcut(QKeySequence::Find);
    QAction* next = menu->addAction(Utf8(kFindNextText), this, [this] { FindNext(true); });
    next->setShortcut(QKeySequence(Qt::Key_F3));
    QAction* previous = menu->addAction(Utf8(kFindPreviousText), this, [this] { FindNext(false); });
    previous->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3));
    menu->addSeparator();
    QAction* marker = menu->addAction(Utf8(kAddMarkerText), this, &CViewerWnd::OnAddMarker);
    marker->setShortcut(QKeySequence(Qt::Key_M));
    menu->addAction(Utf8(kMarkersText), this, &CViewerWnd::ShowMarkers);
    menu->addSeparator();
    menu->addAction(Utf8(kAnnotationsText), this, &CViewerWnd::ShowAnnotationTable);
    menu->addAction(Utf8(kStatsText), this, &CViewerWnd::ShowStatistics);

    // The find bar, under the picture until closed.
    m_barFind = new QToolBar(WithoutAccelerator(Utf8(kFindText)), this);
    m_barFind->setObjectName(QStringLiteral("findBar"));
    m_barFind->setMovable(false);
    m_editFind = new QLineEdit(m_barFind);
    m_editFind->setObjectName(QStringLiteral("findCondition"));
    m_editFind->setPlaceholderText(Utf8(kFindPrompt));
    m_editFind->setClearButtonEnabled(true);
    m_editFind->setMinimumWidth(320);
    m_editFind->setMaximumWidth(560); // room beside it for the buttons and "k / n"

    m_barFind->addWidget(m_editFind);
    m_barFind->addAction(Utf8(kPreviousButton), this, [this] { FindNext(false); });
    m_barFind->addAction(Utf8(kNextButton), this, [this] { FindNext(true); });
    m_labelFind = new QLabel(m_barFind);
    m_labelFind->setObjectName(QStringLiteral("findStatus"));
    m_labelFind->setContentsMargins(8, 0, 8, 0);
    m_labelFind->setMinimumWidth(160);
    m_barFind->addWidget(m_labelFind);
    connect(m_editFind, &QLineEdit::returnPressed, this,
            [this] { FindNext((QApplication::keyboardModifiers() & Qt::ShiftModifier) == 0); });
    connect(m_editFind, &QLineEdit::textChanged, this, [this] {
        m_labelFind->clear(); // searched again at the next Enter or F3
    });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), m_editFind);
    escape->setContext(Qt::WidgetShortcut);
    connect(escape, &QShortcut::activated, this, [this] {
        m_barFind->hide();
        Canvas()->setFocus();
    });
    addToolBar(Qt::BottomToolBarArea, m_barFind);
    m_barFind->hide();
    CreateDocks();
}

void CViewerWnd::CreateDocks() {
    // Markers: name (editable), time, and the time from cursor A.
    auto* markers = new QWidget(this);
    auto* markerLayout = new QVBoxLayout(markers);
    markerLayout->setContentsMargins(2, 2, 2, 2);
    m_tableMarkers = new QTableWidget(0, 3, markers);
    m_tableMarkers->setHorizontalHeaderLabels(
        {QStringLiteral("名前"), QStringLiteral("時刻"), QStringLiteral("A からの時間")});
    m_tableMarkers->horizontalHeader()->setStretchLastSection(true);
    m_tableMarkers->verticalHeader()->hide();
    m_tableMarkers->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tableMarkers->setEditTriggers(QAbstractItemView::DoubleClicked |
                                    QAbstractItemView::EditKeyPressed);
    markerLayout->addWidget(m_tableMarkers);
    auto* remove = new QPushButton(Utf8(kDeleteText), markers);
    markerLayout->addWidget(remove);
    const auto removeSelected = [this] {
        const int row = m_tableMarkers->currentRow();
        if (row >= 0) {
            RemoveMarker(row);
        }
    };
    connect(remove, &QPushButton::clicked, this, removeSelected);
    auto* del = new QShortcut(QKeySequence::Delete, m_tableMarkers);
    del->setContext(Qt::WidgetShortcut);
    connect(del, &QShortcut::activated, this, removeSelected);
    connect(m_tableMarkers, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (!m_bFillingMarkers && item->column() == 0) {
            RenameMarker(item->row(), item->text());
        }
    });
    connect(m_tableMarkers, &QTableWidget::cellClicked, this, [this](int row, int) {
        if (row >= 0 && row < static_cast<int>(m_markers.size())) {
            const std::int64_t at = m_markers[static_cast<std::size_t>(row)].sample;
            ScrollTo(static_cast<double>(at) - m_view.VisibleSamples() / 2);
        }
    });
    m_dockMarkers = MakeDock(this, kMarkersTitle, QStringLiteral("markerDock"), markers,
                             Qt::RightDockWidgetArea);

    // Annotations: a filter, the table, copying and exporting.
    auto* annotations = new QWidget(this);
    auto* annotationLayout = new QVBoxLayout(annotations);
    annotationLayout->setContentsMargins(2, 2, 2, 2);
    m_editAnnotationFilter = new QLineEdit(annotations);
    m_editAnnotationFilter->setPlaceholderText(Utf8(kFilterPrompt));
    m_editAnnotationFilter->setClearButtonEnabled(true);
    annotationLayout->addWidget(m_editAnnotationFilter);
    m_pAnnotations = new CAnnotationModel(this);
    m_tableAnnotations = new QTableView(annotations);
    m_tableAnnotations->setModel(m_pAnnotations);
    m_tableAnnotations->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tableAnnotations->verticalHeader()->hide();
    m_tableAnnotations->verticalHeader()->setDefaultSectionSize(
        m_tableAnnotations->fontMetrics().height() + 4);
    m_tableAnnotations->horizontalHeader()->setStretchLastSection(true);
    // Widths set, not measured: measuring would read every one of millions of rows.
    const int em = m_tableAnnotations->fontMetrics().horizontalAdvance(QLatin1Char('M'));
    m_tableAnnotations->horizontalHeader()->resizeSection(CAnnotationModel::kStart, 8 * em);
    m_tableAnnotations->horizontalHeader()->resizeSection(CAnnotationModel::kDecoder, 6 * em);
    m_tableAnnotations->horizontalHeader()->resizeSection(CAnnotationModel::kRow, 6 * em);
    annotationLayout->addWidget(m_tableAnnotations);
    auto* buttons = new QHBoxLayout;
    auto* copy = new QPushButton(Utf8(kCopyText), annotations);
    auto* exportView = new QPushButton(Utf8(kExportViewText), annotations);
    auto* exportCursors = new QPushButton(Utf8(kExportCursorsText), annotations);
    buttons->addWidget(copy);
    buttons->addWidget(exportView);
    buttons->addWidget(exportCursors);
    annotationLayout->addLayout(buttons);
    // Typing filters once the user pauses, so millions of rows are not filtered per key.
    auto* filterTimer = new QTimer(this);
    filterTimer->setSingleShot(true);
    filterTimer->setInterval(200);
    connect(m_editAnnotationFilter, &QLineEdit::textChanged, filterTimer,
            qOverload<>(&QTimer::start));
    connect(filterTimer, &QTimer::timeout, this,
            [this] { m_pAnnotations->SetFilter(m_editAnnotationFilter->text()); });
    connect(m_tableAnnotations, &QTableView::clicked, this, [this](const QModelIndex& index) {
        const SampleRange range = m_pAnnotations->RangeOf(index.row());
        ShowRange(range.first, range.end);
    });
    const auto copyRows = [this] {
        std::vector<int> rows;
        for (const auto& index : m_tableAnnotations->selectionModel()->selectedRows()) {
            rows.push_back(index.row());
        }
        std::sort(rows.begin(), rows.end());
        QApplication::clipboard()->setText(
            QString::fromStdString(m_pAnnotations->Text(rows, false)));
    };
    connect(copy, &QPushButton::clicked, this, copyRows);
    auto* copyKey = new QShortcut(QKeySequence::Copy, m_tableAnnotations);
    copyKey->setContext(Qt::WidgetShortcut);
    connect(copyKey, &QShortcut::activated, this, copyRows);
    const auto exportRows = [this](bool bBetweenCursors) {
        if (bBetweenCursors && !(m_cursorA && m_cursorB)) {
            Warn(Utf8(kNoCursorsText));
            return;
        }
        const QString dir =
            UserSettings().value(QString::fromLatin1(kDirKey), QDir::homePath()).toString();
        const QString path = QFileDialog::getSaveFileName(
            this, WithoutAccelerator(Utf8(kAnnotationsText)),
            QDir(dir).filePath(QStringLiteral("annotations.csv")), Utf8(kCsvFilter));
        QString error;
        if (!path.isEmpty() && !ExportAnnotations(path, bBetweenCursors, error)) {
            Warn(QDir::toNativeSeparators(path) + QStringLiteral(": ") + error);
        }
    };
    connect(exportView, &QPushButton::clicked, this, [exportRows] { exportRows(false); });
    connect(exportCursors, &QPushButton::clicked, this, [exportRows] { exportRows(true); });
    m_dockAnnotations = MakeDock(this, kAnnotationsTitle, QStringLiteral("annotationDock"),
                                 annotations, Qt::RightDockWidgetArea);
    connect(m_pDecoders, &CDecoderSet::LanesChanged, this, [this] {
        UpdateAnnotationModel();
        if (m_strSearched.contains(QStringLiteral("ann="), Qt::CaseInsensitive)) {
            m_strSearched.clear(); // searched again, in the new annotations, at the next F3
        }
    });

    // Statistics: one line per row shown.
    auto* stats = new QWidget(this);
    auto* statsLayout = new QVBoxLayout(stats);
    statsLayout->setContentsMargins(2, 2, 2, 2);
    m_tableStats = new QTableWidget(0, 10, stats);
    m_tableStats->setHorizontalHeaderLabels(
        {QStringLiteral("チャンネル"), QStringLiteral("立ち上がり"), QStringLiteral("立ち下がり"),
         QStringLiteral("High 最小"), QStringLiteral("High 最大"), QStringLiteral("High 平均"),
         QStringLiteral("Low 最小"), QStringLiteral("Low 最大"), QStringLiteral("Low 平均"),
         QStringLiteral("周波数 / デューティ比")});
    m_tableStats->verticalHeader()->hide();
    m_tableStats->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tableStats->horizontalHeader()->setStretchLastSection(true);
    statsLayout->addWidget(m_tableStats);
    auto* copyStats = new QPushButton(Utf8(kCopyText), stats);
    statsLayout->addWidget(copyStats);
    const auto copyAll = [this] { QApplication::clipboard()->setText(StatisticsText()); };
    connect(copyStats, &QPushButton::clicked, this, copyAll);
    auto* copyStatsKey = new QShortcut(QKeySequence::Copy, m_tableStats);
    copyStatsKey->setContext(Qt::WidgetShortcut);
    connect(copyStatsKey, &QShortcut::activated, this, copyAll);
    m_dockStats =
        MakeDock(this, kStatsTitle, QStringLiteral("statsDock"), stats, Qt::BottomDockWidgetArea);
    connect(m_dockStats, &QDockWidget::visibilityChanged, this, [this](bool bVisible) {
        if (bVisible) {
            UpdateStatistics();
        }
    });
    connect(this, &CViewerWnd::CaptureChanged, this, [this] {
        m_strSearched.clear(); // the matches were of the capture before
        m_matches.clear();
        m_nFindIndex = -1;
        m_scene.highlight.reset();
        UpdateFindLabel();
        UpdateStatistics();
        FillMarkerTable();
    });
}

// ---- Find -----------------------------------------------------------------------------

QString CViewerWnd::FindCondition() const {
    return m_editFind->text();
}

void CViewerWnd::SetFindCondition(const QString& condition) {
    m_editFind->setText(condition);
}

void CViewerWnd::OnFind() {
    m_barFind->show();
    m_editFind->setFocus();
    m_editFind->selectAll();
}

void CViewerWnd::RunFind() {
    m_strSearched = m_editFind->text();
    m_matches.clear();
    m_bMatchesCut = false;
    m_nFindIndex = -1;
    m_strFindError.clear();
    if (!m_capture || m_strSearched.trimmed().isEmpty()) {
        return;
    }
    const std::string text = m_strSearched.toStdString();
    auto parsed = ParseCondition(text);
    if (const auto* error = std::get_if<ConditionError>(&parsed)) {
        m_strFindError =
            Utf8(kFaultText).arg(error->Column(text)).arg(QString::fromStdString(error->message));
        return;
    }
    const Condition& condition = std::get<Condition>(parsed);
    // Conditions see the names the rows show, and ann= the viewer's own decoder rows.
    std::vector<std::string> names;
    for (int channel = 0; channel < ChannelCount(); ++channel) {
        names.push_back(ChannelName(channel).toStdString());
    }
    auto bound =
        Matcher::Bind(condition, m_capture->WithNames(std::move(names)),
                      UsesAnnotations(condition.root) ? m_pDecoders->ForSearch() : nullptr);
    if (const auto* error = std::get_if<ConditionError>(&bound)) {
        m_strFindError =
            Utf8(kFaultText).arg(error->Column(text)).arg(QString::fromStdString(error->message));
        return;
    }
    m_matches = std::get<Matcher>(bound).All(0, -1, kMaxMatches + 1);
    if (m_matches.size() > kMaxMatches) {
        m_matches.resize(kMaxMatches);
        m_bMatchesCut = true;
    }
}

bool CViewerWnd::FindNext(bool bForward) {
    m_barFind->show();
    if (m_editFind->text() != m_strSearched) {
        RunFind();
        if (!m_matches.empty()) {
            // The first match from the view's start on (or before it, backwards).
            const auto from = static_cast<std::int64_t>(std::floor(m_view.firstSample));
            const auto it =
                std::lower_bound(m_matches.begin(), m_matches.end(), from,
                                 [](const Match& m, std::int64_t at) { return m.sample < at; });
            int index = static_cast<int>(it - m_matches.begin());
            if (!bForward) {
                --index;
            }
            const int n = FindCount();
            m_nFindIndex = ((index % n) + n) % n;
            ShowMatch();
        }
        UpdateFindLabel();
        return m_nFindIndex >= 0;
    }
    const int n = FindCount();
    if (n == 0) {
        UpdateFindLabel();
        return false;
    }
    m_nFindIndex = m_nFindIndex < 0 ? 0 : (m_nFindIndex + (bForward ? 1 : n - 1)) % n;
    ShowMatch();
    UpdateFindLabel();
    return true;
}

void CViewerWnd::ShowMatch() {
    if (m_nFindIndex < 0 || m_nFindIndex >= FindCount()) {
        return;
    }
    const Match& match = m_matches[static_cast<std::size_t>(m_nFindIndex)];
    ShowRange(match.sample, std::max(match.end, match.sample + 1));
    // The channel's row into view too.
    if (match.channel >= 0) {
        const ViewerLayout layout = Layout();
        const auto row = std::find(layout.channels.begin(), layout.channels.end(), match.channel);
        if (row != layout.channels.end()) {
            const int top = layout.RowTop(static_cast<int>(row - layout.channels.begin()));
            if (top < layout.RowsTop() || top + layout.rowHeightPx > layout.RowsBottom()) {
                ScrollRowsTo(layout.scrollPx + top - layout.RowsTop());
            }
        }
    }
}

QString CViewerWnd::FindStatus() const {
    if (!m_strFindError.isEmpty()) {
        return m_strFindError;
    }
    if (m_strSearched.trimmed().isEmpty() || m_strSearched != m_editFind->text()) {
        return {};
    }
    if (m_matches.empty()) {
        return Utf8(kNoMatchText);
    }
    return Utf8(kMatchText)
        .arg(m_nFindIndex + 1)
        .arg(QString::number(FindCount()) + (m_bMatchesCut ? QStringLiteral("+") : QString()));
}

void CViewerWnd::UpdateFindLabel() {
    m_labelFind->setText(FindStatus());
    m_labelFind->setStyleSheet(m_strFindError.isEmpty() ? QString()
                                                        : QStringLiteral("color: #c00000"));
}

void CViewerWnd::ShowRange(std::int64_t first, std::int64_t end) {
    if (!m_capture) {
        return;
    }
    m_scene.highlight = SampleRange{first, end};
    const double visible = m_view.VisibleSamples();
    const auto span = static_cast<double>(end - first);
    if (span > visible * 0.9) {
        // Wider than the view: fit it, with a little room around.
        const auto margin = static_cast<std::int64_t>(std::ceil(span * 0.05));
        ZoomToRange(first - margin, end + margin);
        return;
    }
    const double x0 = m_view.XOfBoundary(static_cast<double>(first));
    const double x1 = m_view.XOfBoundary(static_cast<double>(end));
    if (x0 < 0 || x1 > m_view.widthPx) {
        ScrollTo((static_cast<double>(first) + static_cast<double>(end)) / 2 - visible / 2);
        return;
    }
    Redraw();
}

// ---- Zoom to a range ------------------------------------------------------------------

void CViewerWnd::ZoomToRange(std::int64_t first, std::int64_t end) {
    const std::int64_t n = m_capture ? m_capture->SampleCount() : 0;
    first = std::clamp<std::int64_t>(first, 0, n);
    end = std::clamp<std::int64_t>(end, 0, n);
    if (end <= first) {
        return;
    }
    Viewport next = m_view;
    next.widthPx = Layout().TraceWidth();
    next.pixelsPerSample = next.widthPx / static_cast<double>(end - first);
    next.firstSample = static_cast<double>(first);
    m_view = ClampViewport(next, n);
    Redraw();
}

void CViewerWnd::OnZoomToCursors() {
    if (!m_cursorA || !m_cursorB || *m_cursorA == *m_cursorB) {
        Warn(Utf8(kNoCursorsText));
        return;
    }
    ZoomToRange(std::min(*m_cursorA, *m_cursorB), std::max(*m_cursorA, *m_cursorB));
}

// ---- Markers --------------------------------------------------------------------------

void CViewerWnd::AddMarker(std::int64_t sample, const QString& name) {
    if (!m_capture) {
        return;
    }
    QString given = name.trimmed();
    for (int k = 1; given.isEmpty(); ++k) {
        const QString candidate = QStringLiteral("M%1").arg(k);
        if (std::none_of(m_markers.begin(), m_markers.end(),
                         [&](const Marker& m) { return m.name == candidate; })) {
            given = candidate;
        }
    }
    const Marker marker{std::clamp<std::int64_t>(sample, 0, m_capture->SampleCount()), given};
    m_markers.insert(
        std::upper_bound(m_markers.begin(), m_markers.end(), marker,
                         [](const Marker& a, const Marker& b) { return a.sample < b.sample; }),
        marker);
    KeepMarkers();
}

void CViewerWnd::OnAddMarker() {
    if (!m_capture) {
        return;
    }
    const ViewerLayout layout = Layout();
    const QPoint pos = Canvas()->mapFromGlobal(QCursor::pos());
    if (Canvas()->rect().contains(pos) && pos.x() >= layout.TraceLeft()) {
        AddMarker(std::llround(m_view.SampleAtX(pos.x() - layout.TraceLeft())));
    } else if (m_cursorA) {
        AddMarker(*m_cursorA);
    } else {
        AddMarker(std::llround(m_view.firstSample + m_view.VisibleSamples() / 2));
    }
}

void CViewerWnd::RenameMarker(int index, const QString& name) {
    if (index < 0 || index >= static_cast<int>(m_markers.size()) || name.trimmed().isEmpty()) {
        FillMarkerTable(); // an empty name is not taken: the old one comes back
        return;
    }
    m_markers[static_cast<std::size_t>(index)].name = name.trimmed();
    KeepMarkers();
}

void CViewerWnd::RemoveMarker(int index) {
    if (index < 0 || index >= static_cast<int>(m_markers.size())) {
        return;
    }
    m_markers.erase(m_markers.begin() + index);
    KeepMarkers();
}

void CViewerWnd::KeepMarkers() {
    QJsonArray saved;
    m_scene.markers.clear();
    for (const auto& marker : m_markers) {
        saved.append(QJsonObject{{QStringLiteral("sample"), static_cast<qint64>(marker.sample)},
                                 {QStringLiteral("name"), marker.name}});
        m_scene.markers.push_back({marker.sample, marker.name.toStdString()});
    }
    m_state.markers = saved;
    FillMarkerTable();
    KeepState(); // with the file's view (or the user's, for the live capture)
}

void CViewerWnd::LoadMarkers() {
    m_markers.clear();
    m_scene.markers.clear();
    for (const auto& value : m_state.markers) {
        const QJsonObject object = value.toObject();
        const auto sample =
            static_cast<std::int64_t>(object.value(QStringLiteral("sample")).toDouble(-1));
        const QString name = object.value(QStringLiteral("name")).toString().trimmed();
        if (sample >= 0 && !name.isEmpty()) {
            m_markers.push_back({sample, name});
        }
    }
    std::stable_sort(m_markers.begin(), m_markers.end(),
                     [](const Marker& a, const Marker& b) { return a.sample < b.sample; });
    for (const auto& marker : m_markers) {
        m_scene.markers.push_back({marker.sample, marker.name.toStdString()});
    }
    FillMarkerTable();
}

void CViewerWnd::FillMarkerTable() {
    if (m_tableMarkers == nullptr) {
        return;
    }
    m_bFillingMarkers = true;
    m_tableMarkers->setRowCount(static_cast<int>(m_markers.size()));
    for (int row = 0; row < static_cast<int>(m_markers.size()); ++row) {
        const Marker& marker = m_markers[static_cast<std::size_t>(row)];
        m_tableMarkers->setItem(row, 0, new QTableWidgetItem(marker.name));
        m_tableMarkers->setItem(row, 1, ReadOnly(m_capture ? TimeAt(marker.sample) : QString()));
        QString delta;
        if (m_cursorA && m_capture) {
            delta = TimeText(
                m_capture->Period().SecondsOf(static_cast<double>(marker.sample - *m_cursorA)));
        }
        m_tableMarkers->setItem(row, 2, ReadOnly(delta));
    }
    m_tableMarkers->resizeColumnsToContents();
    m_bFillingMarkers = false;
}

void CViewerWnd::ShowMarkers() {
    FillMarkerTable();
    m_dockMarkers->show();
    m_dockMarkers->raise();
    m_tableMarkers->setFocus();
}

// ---- Annotation table -----------------------------------------------------------------

void CViewerWnd::UpdateAnnotationModel() {
    const auto trigger = m_capture ? m_capture->TriggerSample() : std::nullopt;
    m_pAnnotations->SetLanes(m_pDecoders->Lanes(), m_capture ? m_capture->Period() : SamplePeriod(),
                             m_bRelativeTime && trigger ? static_cast<double>(*trigger) : 0.0);
}

void CViewerWnd::ShowAnnotationTable() {
    m_dockAnnotations->show();
    m_dockAnnotations->raise();
    m_tableAnnotations->setFocus();
}

bool CViewerWnd::ExportAnnotations(const QString& path, bool bBetweenCursors, QString& error) {
    std::int64_t first = static_cast<std::int64_t>(std::floor(m_view.firstSample));
    std::int64_t end =
        static_cast<std::int64_t>(std::ceil(m_view.firstSample + m_view.VisibleSamples()));
    if (bBetweenCursors) {
        if (!m_cursorA || !m_cursorB) {
            error = Utf8(kNoCursorsText);
            return false;
        }
        first = std::min(*m_cursorA, *m_cursorB);
        end = std::max(*m_cursorA, *m_cursorB);
    }
    const std::string text = m_pAnnotations->Text(m_pAnnotations->RowsStartingIn(first, end), true);
    std::string reason;
    if (!WriteWholeFile(QFile::encodeName(path).toStdString(), text, reason)) {
        error = QString::fromLocal8Bit(reason.c_str());
        return false;
    }
    return true;
}

// ---- Statistics -----------------------------------------------------------------------

void CViewerWnd::ShowStatistics() {
    m_dockStats->show();
    m_dockStats->raise();
    UpdateStatistics();
    m_tableStats->setFocus();
}

/// The measuring thread's way back: it posts its results only while the window exists and
/// only for the latest request; a newer request stops an older one between channels.
struct CViewerWnd::StatsLink {
    std::mutex lock;
    QObject* owner = nullptr; ///< guarded by lock
    std::atomic<std::uint64_t> latest{0};
    std::atomic<int> running{0};
};

bool CViewerWnd::event(QEvent* event) {
    return CWorkerEvent::Run(event) || QMainWindow::event(event);
}

void CViewerWnd::DetachStatistics() {
    if (m_pStatsLink) {
        std::lock_guard lock(m_pStatsLink->lock);
        m_pStatsLink->owner = nullptr;
        ++m_pStatsLink->latest;
    }
}

bool CViewerWnd::IsMeasuring() const {
    return (m_timerStats != nullptr && m_timerStats->isActive()) ||
           (m_pStatsLink && m_pStatsLink->running > 0);
}

void CViewerWnd::UpdateStatistics() {
    if (m_dockStats == nullptr || !m_dockStats->isVisible()) {
        return; // measured when shown
    }
    if (m_timerStats == nullptr) {
        // Measured once the cursors rest, not at every step of a drag.
        m_timerStats = new QTimer(this);
        m_timerStats->setSingleShot(true);
        m_timerStats->setInterval(80);
        connect(m_timerStats, &QTimer::timeout, this, &CViewerWnd::MeasureStatistics);
        m_pStatsLink = std::make_shared<StatsLink>();
        m_pStatsLink->owner = this;
    }
    ++m_pStatsLink->latest; // what is being measured is out of date
    m_timerStats->start();
}

void CViewerWnd::MeasureStatistics() {
    const bool bBetween = m_cursorA && m_cursorB && *m_cursorA != *m_cursorB;
    m_dockStats->setWindowTitle(Utf8(kStatsTitle) + QStringLiteral(" (") +
                                Utf8(bBetween ? kBetweenText : kWholeText) + QStringLiteral(")"));
    if (!m_capture) {
        m_tableStats->setRowCount(0);
        return;
    }
    const std::int64_t first = bBetween ? std::min(*m_cursorA, *m_cursorB) : 0;
    const std::int64_t end = bBetween ? std::max(*m_cursorA, *m_cursorB) : -1;
    const std::vector<int> rows = m_scene.rows;
    const std::uint64_t request = ++m_pStatsLink->latest;
    ++m_pStatsLink->running;
    // Off the GUI thread: a dense line of 100 million samples takes a tenth of a second.
    std::thread([link = m_pStatsLink, capture = m_capture, rows, first, end, request] {
        auto results = std::make_shared<std::vector<RangeStats>>();
        for (const int channel : rows) {
            if (link->latest != request) {
                break; // a newer request: these are not wanted
            }
            results->push_back(MeasureRange(*capture, channel, first, end));
        }
        std::lock_guard lock(link->lock);
        if (link->owner == nullptr || link->latest != request) {
            --link->running;
            return;
        }
        auto* viewer = static_cast<CViewerWnd*>(link->owner);
        CWorkerEvent::Post(viewer, [viewer, link, results, rows, capture, request] {
            if (link->latest == request) { // else a newer measurement follows
                viewer->ShowStatisticsOf(*capture, rows, *results);
            }
            --link->running; // shown: measuring is over
        });
    }).detach();
}

void CViewerWnd::ShowStatisticsOf(const quillon::Capture& capture, const std::vector<int>& rows,
                                  const std::vector<RangeStats>& results) {
    m_tableStats->setRowCount(0);
    const double period = capture.Period().Seconds();
    const auto time = [&](std::optional<double> samples) {
        return samples ? TimeText(*samples * period) : QStringLiteral("-");
    };
    for (std::size_t k = 0; k < results.size() && k < rows.size(); ++k) {
        const RangeStats& stats = results[k];
        const int row = m_tableStats->rowCount();
        m_tableStats->insertRow(row);
        QStringList cells = {ChannelName(rows[k]), QString::number(stats.rising),
                             QString::number(stats.falling)};
        for (const WidthStats* widths : {&stats.high, &stats.low}) {
            const bool any = widths->count > 0;
            cells << time(any ? std::optional<double>(static_cast<double>(widths->shortest))
                              : std::nullopt)
                  << time(any ? std::optional<double>(static_cast<double>(widths->longest))
                              : std::nullopt)
                  << time(widths->Mean());
        }
        cells << (stats.periodSamples ? QStringLiteral("%1 / %2 %")
                                            .arg(QString::fromStdString(FormatFrequency(
                                                1.0 / (*stats.periodSamples * period))))
                                            .arg(*stats.dutyCycle * 100.0, 0, 'f', 1)
                                      : QStringLiteral("-"));
        for (int column = 0; column < cells.size(); ++column) {
            m_tableStats->setItem(row, column, new QTableWidgetItem(cells[column]));
        }
    }
    m_tableStats->resizeColumnsToContents();
}

QString CViewerWnd::StatisticsText() const {
    QStringList lines;
    QStringList header;
    for (int column = 0; column < m_tableStats->columnCount(); ++column) {
        header << m_tableStats->horizontalHeaderItem(column)->text();
    }
    lines << header.join(QLatin1Char('\t'));
    for (int row = 0; row < m_tableStats->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < m_tableStats->columnCount(); ++column) {
            const QTableWidgetItem* item = m_tableStats->item(row, column);
            cells << (item != nullptr ? item->text() : QString());
        }
        lines << cells.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void CViewerWnd::SetCursor(bool bCursorB, std::optional<std::int64_t> boundary) {
    if (boundary && m_capture) {
        boundary = std::clamp<std::int64_t>(*boundary, 0, m_capture->SampleCount());
    }
    (bCursorB ? m_cursorB : m_cursorA) = m_capture ? boundary : std::nullopt;
    Redraw();
    OnCursorsMoved();
}

void CViewerWnd::OnCursorsMoved() {
    UpdateStatistics();
    FillMarkerTable();
}

} // namespace quillon
