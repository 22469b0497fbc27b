// The viewer's capture tool bar, a remote control of the main window's Run and Stop.
#include "ui/viewer_capture_bar.h"

#include "ui/analyzer_dlg.h"
#include "ui/dialog_template.h"
#include "ui/strings.h"

#include <QAction>
#include <QEvent>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QStatusBar>

namespace quillon {

namespace {
constexpr const char* kCaptureToolBarText = "取り込み";
constexpr const char* kRepeatWarningsText = "パケット警告 %1 件: %2";
} // namespace

CViewerCaptureBar::CViewerCaptureBar(CAnalyzerDlg& dlg, QWidget* parent)
    : QToolBar(QString::fromUtf8(kCaptureToolBarText), parent), m_buttonRun(dlg.m_buttonRun) {
    setObjectName(QStringLiteral("captureToolBar"));
    auto* stop = qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_STOP));
    // Clicking the window's own buttons: a disabled Run stays without effect, as there.
    m_actionRun = addAction(m_buttonRun->text(), m_buttonRun, &QPushButton::click);
    m_actionStop = addAction(stop->text(), stop, &QPushButton::click);
    addSeparator();
    m_actionRepeat = addAction(QString::fromUtf8(kRepeatMenuText));
    m_actionRepeat->setCheckable(true);
    m_actionFast = addAction(QString::fromUtf8(kFastMenuText));
    m_actionFast->setCheckable(true);

    m_actionRun->setEnabled(m_buttonRun->isEnabled());
    m_actionRepeat->setChecked(dlg.IsRepeat());
    m_actionFast->setChecked(dlg.IsFastDownload());
    connect(m_actionRepeat, &QAction::toggled, &dlg, &CAnalyzerDlg::SetRepeat);
    connect(&dlg, &CAnalyzerDlg::RepeatChanged, m_actionRepeat, &QAction::setChecked);
    connect(m_actionFast, &QAction::toggled, &dlg, &CAnalyzerDlg::SetFastDownload);
    connect(&dlg, &CAnalyzerDlg::FastDownloadChanged, m_actionFast, &QAction::setChecked);
    // Run is disabled for as long as a capture (or a repetition) lasts, whoever started it.
    m_buttonRun->installEventFilter(this);

    // A repetition's packet warnings are shown in the status bar, where they halt nothing.
    if (auto* window = qobject_cast<QMainWindow*>(parent)) {
        m_labelWarnings = new QLabel(window);
        m_labelWarnings->setObjectName(QStringLiteral("repeatWarnings"));
        m_labelWarnings->hide();
        window->statusBar()->addWidget(m_labelWarnings);
        connect(&dlg, &CAnalyzerDlg::PacketWarningShown, m_labelWarnings,
                [label = m_labelWarnings](const QString& text, int count) {
                    label->setText(QString::fromUtf8(kRepeatWarningsText).arg(count).arg(text));
                    label->setToolTip(text);
                    label->show();
                });
    }
}

bool CViewerCaptureBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_buttonRun && event->type() == QEvent::EnabledChange) {
        m_actionRun->setEnabled(m_buttonRun->isEnabled());
    }
    return QToolBar::eventFilter(watched, event);
}

} // namespace quillon
