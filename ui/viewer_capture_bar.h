// CViewerCaptureBar: the viewer's capture tool bar over the capture session: Run, Stop,
// "Capture until", repeated capture, fast download and re-scan, and the session's state line in
// the viewer's status bar.
#pragma once

#include <QString>
#include <QToolBar>

#include <functional>

class QAction;
class QLabel;

namespace quillon {

class CCaptureSession;
struct SessionState;

/// GUI thread. The session must outlive the bar (the main window owns both).
class CViewerCaptureBar : public QToolBar {
    Q_OBJECT
public:
    CViewerCaptureBar(CCaptureSession& session, QWidget* parent);

    /// Where "Capture until" takes its condition from (the viewer's find bar). Unset, or an
    /// empty text there: the bar asks for it in a small dialog.
    void SetConditionSource(std::function<QString()> source) {
        m_conditionSource = std::move(source);
    }

    /// The condition of the last "Capture until".
    [[nodiscard]] const QString& LastCondition() const { return m_strLastCondition; }

    [[nodiscard]] QAction* RunAction() const { return m_actionRun; }
    [[nodiscard]] QAction* StopAction() const { return m_actionStop; }
    [[nodiscard]] QAction* UntilAction() const { return m_actionUntil; }
    [[nodiscard]] QAction* RepeatAction() const { return m_actionRepeat; }
    [[nodiscard]] QAction* FastAction() const { return m_actionFast; }
    [[nodiscard]] QAction* RescanAction() const { return m_actionRescan; }
    /// The status bar field with a repetition's packet warnings (hidden while there are none).
    [[nodiscard]] QLabel* WarningLabel() const { return m_labelWarnings; }
    /// The status bar field with the session's state and the last re-scan's result.
    [[nodiscard]] QLabel* StateLabel() const { return m_labelState; }

private:
    void OnCaptureUntil();
    void OnStateChanged(const SessionState& state);

    CCaptureSession& m_session;
    std::function<QString()> m_conditionSource;
    QString m_strLastCondition;
    QAction* m_actionRun = nullptr;
    QAction* m_actionStop = nullptr;
    QAction* m_actionUntil = nullptr;
    QAction* m_actionRepeat = nullptr;
    QAction* m_actionFast = nullptr;
    QAction* m_actionRescan = nullptr;
    QLabel* m_labelWarnings = nullptr;
    QLabel* m_labelState = nullptr;
};

} // namespace quillon
