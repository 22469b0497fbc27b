// CViewerCaptureBar: the viewer's capture tool bar. Run, Stop, repeated capture and fast
// download act through the main window's own buttons and settings, so a capture started here
// is the same capture as one started there.
#pragma once

#include <QToolBar>

class QAction;
class QLabel;
class QPushButton;

namespace quillon {

class CAnalyzerDlg;

/// GUI thread. The main window must outlive the bar (it owns the viewer the bar is in).
class CViewerCaptureBar : public QToolBar {
    Q_OBJECT
public:
    CViewerCaptureBar(CAnalyzerDlg& dlg, QWidget* parent);

    [[nodiscard]] QAction* RunAction() const { return m_actionRun; }
    [[nodiscard]] QAction* StopAction() const { return m_actionStop; }
    [[nodiscard]] QAction* RepeatAction() const { return m_actionRepeat; }
    [[nodiscard]] QAction* FastAction() const { return m_actionFast; }
    /// The viewer's status bar field that shows a repetition's packet warnings (hidden while
    /// there are none).
    [[nodiscard]] QLabel* WarningLabel() const { return m_labelWarnings; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPushButton* m_buttonRun = nullptr;
    QAction* m_actionRun = nullptr;
    QAction* m_actionStop = nullptr;
    QAction* m_actionRepeat = nullptr;
    QAction* m_actionFast = nullptr;
    QLabel* m_labelWarnings = nullptr;
};

} // namespace quillon
