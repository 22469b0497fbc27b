// The viewer's capture tool bar: the session's Run, Stop and choices.
#include "ui/viewer_capture_bar.h"

#include "session/capture_session.h"
#include "ui/session_texts.h"
#include "ui/strings.h"

#include <QAction>
#include <QInputDialog>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>

namespace quillon {

namespace {
constexpr const char* kCaptureToolBarText = "取り込み";
constexpr const char* kRunText = "Run";
constexpr const char* kStopText = "Stop";
constexpr const char* kUntilText = "条件まで取り込み(&U)...";
constexpr const char* kUntilPrompt = "見つかるまで取り込む条件 (例: D11 low<100ns):";
constexpr const char* kRescanText = "ロジアナを再検索(&S)";
constexpr const char* kRepeatWarningsText = "パケット警告 %1 件: %2";
} // namespace

CViewerCaptureBar::CViewerCaptureBar(CCaptureSession& session, QWidget* parent)
    : QToolBar(QString::fromUtf8(kCaptureToolBarText), parent), m_session(session) {
    setObjectName(QStringLiteral("captureToolBar"));
    m_actionRun = addAction(QString::fromLatin1(kRunText), &session, [this] { m_session.Run(); });
    m_actionStop = addAction(QString::fromLatin1(kStopText), &session, &CCaptureSession::Stop);
    m_actionUntil =
        addAction(QString::fromUtf8(kUntilText), this, &CViewerCaptureBar::OnCaptureUntil);
    addSeparator();
    m_actionRepeat = addAction(QString::fromUtf8(kRepeatMenuText));
    m_actionRepeat->setCheckable(true);
    m_actionFast = addAction(QString::fromUtf8(kFastMenuText));
    m_actionFast->setCheckable(true);
    m_actionRescan =
        addAction(QString::fromUtf8(kRescanText), &session, [this] { m_session.Rescan(); });

    const auto showBusy = [this](bool bBusy) {
        m_actionRun->setEnabled(!bBusy);
        m_actionUntil->setEnabled(!bBusy);
        m_actionRescan->setEnabled(!bBusy);
    };
    showBusy(session.IsBusy());
    connect(&session, &CCaptureSession::BusyChanged, this, showBusy);
    m_actionRepeat->setChecked(session.IsRepeat());
    m_actionFast->setChecked(session.IsFastDownload());
    connect(m_actionRepeat, &QAction::toggled, &session, &CCaptureSession::SetRepeat);
    connect(&session, &CCaptureSession::RepeatChanged, m_actionRepeat, &QAction::setChecked);
    connect(m_actionFast, &QAction::toggled, &session, &CCaptureSession::SetFastDownload);
    connect(&session, &CCaptureSession::FastDownloadChanged, m_actionFast, &QAction::setChecked);

    auto* window = qobject_cast<QMainWindow*>(parent);
    if (window == nullptr) {
        return;
    }
    m_labelState = new QLabel(window);
    m_labelState->setObjectName(QStringLiteral("sessionState"));
    window->statusBar()->addWidget(m_labelState);
    connect(&session, &CCaptureSession::StateChanged, this, &CViewerCaptureBar::OnStateChanged);
    connect(&session, &CCaptureSession::Rescanned, m_labelState,
            [label = m_labelState](int nCom) { label->setText(RescanText(nCom)); });
    // A repetition's packet warnings are shown here, where they halt nothing.
    m_labelWarnings = new QLabel(window);
    m_labelWarnings->setObjectName(QStringLiteral("repeatWarnings"));
    m_labelWarnings->hide();
    window->statusBar()->addWidget(m_labelWarnings);
    connect(&session, &CCaptureSession::Warning, m_labelWarnings,
            [label = m_labelWarnings](const SessionWarning& warning) {
                if (warning.kind != SessionWarning::Kind::Packet || warning.waits) {
                    return;
                }
                const QString text = SessionWarningText(warning).simplified();
                label->setText(QString::fromUtf8(kRepeatWarningsText).arg(warning.count).arg(text));
                label->setToolTip(text);
                label->show();
            });
}

void CViewerCaptureBar::OnStateChanged(const SessionState& state) {
    m_labelState->setText(StateLineText(state));
}

void CViewerCaptureBar::OnCaptureUntil() {
    QString condition = m_conditionSource ? m_conditionSource().trimmed() : QString();
    if (condition.isEmpty()) {
        bool ok = false;
        condition = QInputDialog::getText(parentWidget(), QString::fromUtf8(kCaptureToolBarText),
                                          QString::fromUtf8(kUntilPrompt), QLineEdit::Normal,
                                          m_strLastCondition, &ok);
        if (!ok) {
            return;
        }
    }
    condition = condition.trimmed();
    if (condition.isEmpty()) {
        return;
    }
    m_strLastCondition = condition;
    CaptureSettings probe;
    probe.untilCondition = condition.toStdString();
    if (const auto problem = ValidateSettings(probe);
        problem && problem->kind == SettingsProblem::Kind::Condition) {
        if (m_labelState != nullptr) {
            m_labelState->setText(QString::fromStdString(problem->message));
        }
        return;
    }
    m_session.RunUntil(condition.toStdString());
}

} // namespace quillon
