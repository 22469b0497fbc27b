// CViewerWnd: the waveform viewer, a window of its own beside the main window. It shows one
// capture whole or at any zoom, with names, time axis, cursors and measurements, and opens
// and saves capture files. The picture and every measure come from toolkit-free code; this
// class turns mouse and keys into a new viewport and shows the picture.
#pragma once

#include "capture/capture_data.h"
#include "display/viewer_picture.h"
#include "measure/signal_measure.h"
#include "measure/view_math.h"

#include <QImage>
#include <QMainWindow>
#include <QString>

#include <optional>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QScrollBar;

namespace quillon {

class CDecoderSet;
class CViewerCanvas;

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
    void SetLiveCapture(const CaptureData& capture);
    /// Shows a capture read from a file (or anything else), the whole of it in view; the
    /// viewer stops following the live capture.
    void ShowCapture(const CaptureData& capture, const QString& fileName);
    /// Reads a VCD or CSV file and shows it; on failure tells the user in a box (file, line,
    /// reason) and keeps what was shown. True when shown.
    bool OpenFile(const QString& path);
    /// Writes the shown capture (.vcd, .csv) or the visible picture (.png). True when written.
    bool SaveFile(const QString& path);
    /// Renders the window at width x height with the whole capture in view into a PNG file.
    bool SaveScreenshot(const QString& path, int width = 1280, int height = 720);

    /// Extra rows under the channels (protocol annotations); replaces the previous ones.
    void SetExtraRows(std::vector<ExtraRow> rows);
    [[nodiscard]] const CaptureData& Capture() const { return m_capture; }
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

    // Navigation, also reachable from menus and keys.
    void OnZoomIn();
    void OnZoomOut();
    void OnFitAll();
    void OnOpen();
    void OnSaveAs();
    /// Zoom by factor about the column x of the traces' area.
    void ZoomAt(double factor, double x);
    void ScrollTo(double firstSample);
    /// Sets cursor A (or B) at the picture's x, y as a click there would, snapped to an edge
    /// of the row at y.
    void PlaceCursor(bool bCursorB, int x, int y);
    /// Asks for a channel's new name.
    void OnRenameChannel(int channel);
    /// Renames a channel and keeps the name for this user.
    void RenameChannel(int channel, const QString& name);
    void SetChannelVisible(int channel, bool bVisible);

signals:
    /// The shown capture changed (a Run, a file); annotations may have to follow.
    void CaptureChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateActions();
    void SetCapture(const CaptureData& capture);
    void Redraw();
    void UpdateScrollBar();
    void UpdateStatus();
    void UpdateTitle();
    void UpdateHover(int x, int y);
    ViewerScene Scene() const;
    ViewerLayout Layout() const;
    std::int64_t SnapBoundary(int x, int y) const;
    void Warn(const QString& text);
    void LoadNames();
    // The decoders' menu, tool button and rows (ui/viewer_decoders.cpp).
    void AttachDecoders();
    void ShowDecoderRows();

    CViewerCanvas* m_canvas = nullptr;
    QScrollBar* m_scrollBar = nullptr;
    QLabel* m_labelCursor = nullptr;
    QLabel* m_labelHover = nullptr;
    QLabel* m_labelInfo = nullptr;
    QMenu* m_menuView = nullptr;
    QMenu* m_menuRows = nullptr;
    std::vector<QAction*> m_rowActions; ///< index = channel

    CaptureData m_capture;
    EdgeIndex m_edges;
    bool m_bHaveCapture = false;
    bool m_bLive = true;
    QString m_strFile;
    Viewport m_view;
    RowVisibility m_visible{};
    std::optional<std::int64_t> m_cursorA;
    std::optional<std::int64_t> m_cursorB;
    std::vector<ExtraRow> m_extraRows;
    CDecoderSet* m_pDecoders = nullptr;
    QString m_strHover;
    bool m_bUnattended = false;
    bool m_bUpdatingScroll = false;

    // Mouse: a press either drags a cursor, pans, or (released in place) places a cursor.
    enum class Drag { None, Pending, Pan, CursorA, CursorB };
    Drag m_drag = Drag::None;
    QPoint m_pressPos;
    double m_pressFirstSample = 0.0;
    bool m_bPressShift = false;
};

} // namespace quillon
