// CViewerWnd: the waveform viewer, a window of its own beside the main window. It shows one
// capture whole or at any zoom, with names, time axis, cursors and measurements, and opens
// and saves capture files. The picture and every measure come from toolkit-free code; this
// class turns mouse and keys into a new viewport and shows the picture, drawn at most once per
// frame however many events arrive.
#pragma once

#include "capture/capture.h"
#include "capture/capture_data.h"
#include "display/viewer_picture.h"
#include "measure/range_stats.h"
#include "measure/view_math.h"
#include "search/matcher.h"
#include "ui/viewer_state.h"

#include <QImage>
#include <QMainWindow>
#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QDockWidget;
class QLabel;
class QLineEdit;
class QTableView;
class QTableWidget;
class QMenu;
class QProgressBar;
class QScrollBar;
class QTimer;
class QToolBar;
class QToolButton;

namespace quillon {

class CAnnotationModel;
class CDecoderSet;
class CFileLoader;
class CViewerCanvas;
struct FileReadError;

/// The channel names the user gave in the viewer (D0 ... D15 where none). GUI thread.
ChannelNames UserChannelNames();

/// Lives on the GUI thread.
class CViewerWnd : public QMainWindow {
    Q_OBJECT
public:
    /// bUnattended: a picture taken without a user, the same on every machine: none of the
    /// user's hidden rows or decoders, messages to standard error instead of boxes.
    explicit CViewerWnd(QWidget* parent = nullptr, bool bUnattended = false);
    ~CViewerWnd() override;

    /// A capture from the main window's last Run; replaces the shown capture only while the
    /// viewer follows the live capture (not after a file was opened). Zoom and position stay.
    void SetLiveCapture(CapturePtr capture);
    /// Shows a capture read from fileName (or made anywhere), the whole of it in view, with
    /// the view kept for that file; the viewer stops following the live capture.
    void ShowCapture(CapturePtr capture, const QString& fileName);
    /// Starts reading a capture file (any format ReadCaptureFile knows) in the background;
    /// the window shows the progress and, when it is in, the capture. A file that cannot be
    /// read is named in a box (file, line, reason) and what was shown stays. A file without
    /// a sample rate makes the viewer ask for one.
    void OpenFile(const QString& path);
    /// Lets the event loop run until the file being read is in (or failed, or was
    /// cancelled). True when the file is shown.
    bool WaitForFile();
    /// OpenFile and WaitForFile.
    bool LoadFile(const QString& path);
    [[nodiscard]] bool IsLoading() const;
    /// Stops reading a file (as Esc does).
    void CancelLoad();
    /// Writes the shown capture (.vcd, .csv, .sr) or the visible picture (.png). True when
    /// written.
    bool SaveFile(const QString& path);
    /// Renders the window at width x height with the whole capture in view into a PNG file.
    /// False with error set (the system's reason) when it cannot be written.
    bool SaveScreenshot(const QString& path, std::string& error, int width = 1280,
                        int height = 720);

    /// Extra rows under the channels (protocol annotations); replaces the previous ones.
    void SetExtraRows(std::vector<ExtraRow> rows);
    /// The capture shown (null before the first).
    [[nodiscard]] const CapturePtr& Capture() const { return m_capture; }
    /// The file shown (empty for the live capture).
    [[nodiscard]] const QString& FileName() const { return m_strFile; }
    [[nodiscard]] bool IsLive() const { return m_bLive; }
    [[nodiscard]] const Viewport& View() const { return m_view; }
    [[nodiscard]] std::optional<std::int64_t> CursorA() const { return m_cursorA; }
    [[nodiscard]] std::optional<std::int64_t> CursorB() const { return m_cursorB; }
    /// The status bar's cursor and hover texts.
    [[nodiscard]] QString CursorText() const;
    [[nodiscard]] QString HoverText() const;
    /// The canvas showing the picture (for tests and screenshots).
    [[nodiscard]] QWidget* Canvas() const;
    [[nodiscard]] QMenu* ViewMenu() const { return m_menuView; }
    /// The protocol decoders whose annotation rows show under the channels.
    [[nodiscard]] CDecoderSet* Decoders() const { return m_pDecoders; }
    /// Where the picture puts things at the canvas's size.
    [[nodiscard]] ViewerLayout Layout() const;

    // The rows: one per channel of the capture, named, coloured, shown or hidden.
    [[nodiscard]] int ChannelCount() const;
    [[nodiscard]] QString ChannelName(int channel) const;
    [[nodiscard]] QRgb ChannelColourOf(int channel) const;
    [[nodiscard]] bool IsChannelVisible(int channel) const;
    /// The view kept for the capture shown (names, hidden rows, colours, decoders).
    [[nodiscard]] const ViewState& State() const { return m_state; }
    /// Where the file's view was last kept (empty: nowhere yet, or the live capture).
    [[nodiscard]] const QString& ViewFile() const { return m_strViewFile; }

    // Navigation, also reachable from menus and keys.
    void OnZoomIn();
    void OnZoomOut();
    void OnFitAll();
    void OnOpen();
    void OnSaveAs();
    void OnChooseRows();
    /// Zoom by factor about the column x of the traces' area.
    void ZoomAt(double factor, double x);
    void ScrollTo(double firstSample);
    /// Scrolls the rows so that y pixels of them lie above the rows' area.
    void ScrollRowsTo(int y);
    /// Sets cursor A (or B) at the picture's x, y as a click there would, snapped to an edge
    /// of the row at y.
    void PlaceCursor(bool bCursorB, int x, int y);
    /// Puts cursor A (or B) at a sample boundary, or takes it away.
    void SetCursor(bool bCursorB, std::optional<std::int64_t> boundary);
    /// Asks for a channel's new name.
    void OnRenameChannel(int channel);
    /// Renames a channel (empty: its own name again) and keeps the name with the view.
    void RenameChannel(int channel, const QString& name);
    void SetChannelVisible(int channel, bool bVisible);
    /// Shows exactly the channels whose entry is true (one per channel).
    void SetChannelsVisible(const std::vector<bool>& visible);
    /// Hides every channel without an edge in the capture.
    void HideRowsWithoutEdges();
    /// A channel's colour (nullopt: its own again).
    void SetChannelColour(int channel, std::optional<QRgb> colour);
    void OnChooseColour(int channel);
    /// Times on the axis and of the cursors from the trigger (T = 0) rather than from the
    /// capture's start; only for captures with a trigger.
    void SetRelativeTime(bool bRelative);
    [[nodiscard]] bool IsRelativeTime() const { return m_bRelativeTime; }

    // Hunting (ui/viewer_hunt.cpp): find, markers, zoom to a range, the annotation table
    // and the statistics.
    /// The find bar's condition (also for captures repeated until it matches).
    [[nodiscard]] QString FindCondition() const;
    void SetFindCondition(const QString& condition);
    /// Shows the find bar and puts the keyboard in it (Ctrl+F).
    void OnFind();
    /// Goes to the next (or previous) match, wrapping around, searching first when the
    /// condition changed. False when nothing matches or the condition is refused.
    bool FindNext(bool bForward = true);
    /// The match shown (0-based) and how many there are; -1 and 0 when none.
    [[nodiscard]] int FindIndex() const { return m_nFindIndex; }
    [[nodiscard]] int FindCount() const { return static_cast<int>(m_matches.size()); }
    /// "k / n 件", or why the condition was refused (with its column).
    [[nodiscard]] QString FindStatus() const;
    /// The samples picked out in the picture (a match, an annotation), if any.
    [[nodiscard]] const std::optional<SampleRange>& Highlight() const { return m_scene.highlight; }
    /// Picks out samples [first, end) and scrolls them into view (zooming out when they
    /// do not fit).
    void ShowRange(std::int64_t first, std::int64_t end);

    struct Marker {
        std::int64_t sample = 0;
        QString name;
    };
    [[nodiscard]] const std::vector<Marker>& Markers() const { return m_markers; }
    /// Adds a marker at a sample boundary (named M1, M2, ... when name is empty).
    void AddMarker(std::int64_t sample, const QString& name = {});
    /// A marker at the pointer over the traces, else at cursor A, else mid-view (M).
    void OnAddMarker();
    void RenameMarker(int index, const QString& name);
    void RemoveMarker(int index);
    /// Fits samples [first, end) into the view.
    void ZoomToRange(std::int64_t first, std::int64_t end);
    /// "A-B を拡大": fits the cursors.
    void OnZoomToCursors();
    /// Docks (shown on demand): the markers, the annotation table, the statistics.
    [[nodiscard]] QTableWidget* MarkerTable() const { return m_tableMarkers; }
    [[nodiscard]] QTableView* AnnotationTable() const { return m_tableAnnotations; }
    [[nodiscard]] CAnnotationModel* Annotations() const { return m_pAnnotations; }
    [[nodiscard]] QLineEdit* AnnotationFilter() const { return m_editAnnotationFilter; }
    [[nodiscard]] QTableWidget* StatsTable() const { return m_tableStats; }
    void ShowMarkers();
    void ShowAnnotationTable();
    void ShowStatistics();
    /// Writes the annotations shown (filtered) as CSV: those starting in view, or between
    /// the cursors. False with error set when it cannot be written.
    bool ExportAnnotations(const QString& path, bool bBetweenCursors, QString& error);
    /// True while the statistics are being measured (off the GUI thread).
    [[nodiscard]] bool IsMeasuring() const;
    /// The statistics table as tab-separated text.
    [[nodiscard]] QString StatisticsText() const;

signals:
    /// The shown capture changed (a Run, a file); annotations may have to follow.
    void CaptureChanged();
    /// A file read started by OpenFile has ended (shown or not).
    void FileLoaded(bool bShown);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateActions();
    void FillRowsMenu();
    void SetCapture(CapturePtr capture);
    /// The picture is out of date: drawn again at the next paint (at most once per frame).
    void Redraw();
    void Render(QImage& image);
    void UpdateScene();
    void FitNames();
    void UpdateScrollBars();
    void UpdateStatus();
    void UpdateTitle();
    void UpdateHover(int x, int y);
    QString TimeAt(std::int64_t boundary) const;
    std::int64_t SnapBoundary(int x, int y) const;
    void Warn(const QString& text);
    /// The view changed by the user: kept (per user or with the file) and shown.
    void KeepState();
    /// The live capture's view and decoders (the user's), unless already in use.
    void UseLiveView();
    void OnLoadProgress(std::uint64_t done, std::uint64_t total);
    void OnLoadFinished(const CapturePtr& capture, const FileReadError& error);
    /// Asks for the sample rate of a file that has none; nullopt when the user declines.
    std::optional<SamplePeriod> AskSampleRate(const QString& path);
    // The decoders' menu, tool button and rows (ui/viewer_decoders.cpp).
    void AttachDecoders();
    void ShowDecoderRows();
    void UpdateDecoderCapture();
    // Hunting (ui/viewer_hunt.cpp).
    void CreateHuntTools(QMenu* viewMenu);
    void CreateDocks();
    void RunFind();
    void ShowMatch();
    void UpdateFindLabel();
    void KeepMarkers();
    void LoadMarkers();
    void FillMarkerTable();
    void UpdateStatistics();
    void MeasureStatistics();
    void DetachStatistics();
    void ShowStatisticsOf(const quillon::Capture& capture, const std::vector<int>& rows,
                          const std::vector<RangeStats>& results);
    void UpdateAnnotationModel();
    void OnCursorsMoved();

    CViewerCanvas* m_canvas = nullptr;
    QScrollBar* m_scrollBar = nullptr;
    QScrollBar* m_scrollRows = nullptr;
    QLabel* m_labelCursor = nullptr;
    QLabel* m_labelHover = nullptr;
    QLabel* m_labelInfo = nullptr;
    QLabel* m_labelLoad = nullptr;
    QProgressBar* m_progressLoad = nullptr;
    QToolButton* m_buttonCancelLoad = nullptr;
    QMenu* m_menuView = nullptr;
    QMenu* m_menuRows = nullptr;
    QAction* m_actionRelative = nullptr;
    CFileLoader* m_pLoader = nullptr;

    CapturePtr m_capture;
    bool m_bLive = true;
    bool m_bLiveView = false; ///< the user's view and decoders are in use
    QString m_strFile;
    QString m_strViewFile;
    ViewState m_state;
    std::vector<int> m_order; ///< all channels, top to bottom
    ViewerScene m_scene;      ///< what the picture shows, kept between frames
    Viewport m_view;
    int m_nScrollRows = 0;
    std::optional<std::int64_t> m_cursorA;
    std::optional<std::int64_t> m_cursorB;
    CDecoderSet* m_pDecoders = nullptr;
    QString m_strHover;
    bool m_bUnattended = false;
    bool m_bUpdatingScroll = false;
    bool m_bRelativeTime = false;
    bool m_bLoadShown = false; ///< the last read that ended was shown

    // Mouse: a press either drags a cursor, pans, or (released in place) places a cursor.
    enum class Drag { None, Pending, Pan, CursorA, CursorB, ZoomRange };
    Drag m_drag = Drag::None;

    // Hunting.
    QToolBar* m_barFind = nullptr;
    QLineEdit* m_editFind = nullptr;
    QLabel* m_labelFind = nullptr;
    QString m_strSearched; ///< the condition m_matches belong to
    std::vector<Match> m_matches;
    bool m_bMatchesCut = false; ///< more matches than kept
    int m_nFindIndex = -1;
    QString m_strFindError;
    std::vector<Marker> m_markers;
    QDockWidget* m_dockMarkers = nullptr;
    QTableWidget* m_tableMarkers = nullptr;
    QDockWidget* m_dockAnnotations = nullptr;
    QTableView* m_tableAnnotations = nullptr;
    CAnnotationModel* m_pAnnotations = nullptr;
    QLineEdit* m_editAnnotationFilter = nullptr;
    QDockWidget* m_dockStats = nullptr;
    QTableWidget* m_tableStats = nullptr;
    bool m_bFillingMarkers = false;
    QTimer* m_timerStats = nullptr; ///< the statistics once the cursors rest
    struct StatsLink;               ///< the measuring thread's way back (ui/viewer_hunt.cpp)
    std::shared_ptr<StatsLink> m_pStatsLink;
    QPoint m_pressPos;
    double m_pressFirstSample = 0.0;
    bool m_bPressShift = false;
};

} // namespace quillon
