// The main window: its controls, the picture, the boxes and the menu over the capture session.
#include "ui/analyzer_dlg.h"

#include "capture/capture_bridge.h"

#include "display/timebase.h"
#include "display/waveform.h"
#include "ui/about_dlg.h"
#include "ui/app_icon.h"
#include "ui/capture_export.h"
#include "ui/dialog_template.h"
#include "ui/picture_ctrl.h"
#include "ui/session_texts.h"
#include "ui/spin_button_ctrl.h"
#include "ui/strings.h"
#include "ui/viewer_capture_bar.h"
#include "ui/viewer_wnd.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTimer>
#include <QValidator>

#include <cstdio>

namespace quillon {

namespace {
constexpr const char* kDefaultGenPeriod = "00000000";

constexpr const char* kViewerMenuText = "波形ビューア(&W)...";
constexpr const char* kSaveVcdMenuText = "VCDファイルに保存(&V)...";
constexpr const char* kSaveCsvMenuText = "CSVファイルに保存(&C)...";
constexpr const char* kSaveSigrokMenuText = "sigrokファイル(.sr)に保存(&G)...";
constexpr const char* kSavePngMenuText = "画像(PNG)に保存(&P)...";
constexpr const char* kNoCaptureText = "保存するデータがありません。 \r\n"
                                       "先にRunでデータを取り込んでください。 \r\n";
constexpr const char* kCapturingText = "データを取り込み中です。 \r\n"
                                       "取り込みが終わってから保存してください。 \r\n";

constexpr const char* kRescanMenuText = "ロジアナを再検索(&S)";
} // namespace

CAnalyzerDlg::CAnalyzerDlg(QWidget* parent) : QDialog(parent), m_hIcon(AppIcon()) {
    setWindowTitle(QString::fromUtf8(kMainCaption));
    setFont(DialogFont());
    // A caption with the window menu and a close box; no minimise, maximise or sizing.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    CreateControls(this, kMainTemplate.data(), kMainTemplate.data() + kMainTemplate.size());
    // The window's own scroll bars: shown, and nothing handles them.
    const int clientW = DluToPixelsX(kMainWidthDlu);
    const int clientH = DluToPixelsY(kMainHeightDlu);
    auto* vbar = new QScrollBar(Qt::Vertical, this);
    auto* hbar = new QScrollBar(Qt::Horizontal, this);
    const int bar = vbar->sizeHint().width();
    vbar->setGeometry(clientW, 0, bar, clientH);
    hbar->setGeometry(0, clientH, clientW, bar);
    for (auto* sb : {vbar, hbar}) {
        sb->setRange(0, 0);
        sb->setFocusPolicy(Qt::NoFocus);
    }
    setFixedSize(clientW + bar, clientH + bar);
    BindControls();
    m_strZoom = QStringLiteral("1us/d");
    m_strAboutMenu = QString::fromUtf8(kAboutMenuText);
    m_backImage = QImage(kViewWidth, kViewHeight, QImage::Format_RGB32);
    m_session.SetReplyHost(this);
    m_session.SetSettingsSource([this] { return ReadSettings(); });
    m_session.SetStartupHooks(MakeStartupHooks());
    ConnectSession();
}

CAnalyzerDlg::~CAnalyzerDlg() {
    // Normally the run has ended before the window goes; the session waits for it.
    m_session.Cancel();
    if (m_pActiveBox) {
        m_pActiveBox->reject();
    }
}

void CAnalyzerDlg::BindControls() {
    m_editReply = qobject_cast<QLineEdit*>(GetDlgItem(IDC_REPLY));
    m_editDelay = qobject_cast<QLineEdit*>(GetDlgItem(IDC_DELAY));
    m_spinZoom = qobject_cast<CSpinButtonCtrl*>(GetDlgItem(IDC_SPIN_ZOOM));
    m_editZoomBuddy = qobject_cast<QLineEdit*>(GetDlgItem(IDC_ZOOM_BUDDY));
    m_checkTriggerMode = qobject_cast<QCheckBox*>(GetDlgItem(IDC_TRIGGER_MODE));
    m_editGenPeriod = qobject_cast<QLineEdit*>(GetDlgItem(IDC_GEN_PERIOD));
    m_editGenType = qobject_cast<QLineEdit*>(GetDlgItem(IDC_GEN_TYPE));
    m_editTrigPattern = qobject_cast<QLineEdit*>(GetDlgItem(IDC_TRIG_PATTERN));
    m_editTrigPos = qobject_cast<QLineEdit*>(GetDlgItem(IDC_TRIG_POS));
    m_buttonRun = qobject_cast<QPushButton*>(GetDlgItem(IDC_RUN));
    m_radio20ns = qobject_cast<QRadioButton*>(GetDlgItem(IDC_RATE_20NS));
    m_radio200ns = qobject_cast<QRadioButton*>(GetDlgItem(IDC_RATE_200NS));
    m_radio2us = qobject_cast<QRadioButton*>(GetDlgItem(IDC_RATE_2US));
    m_radio20us = qobject_cast<QRadioButton*>(GetDlgItem(IDC_RATE_20US));
    m_picture = qobject_cast<CPictureCtrl*>(GetDlgItem(IDC_PICTURE));

    // The fields take any characters but control characters, typed or pasted, and no more
    // than the settings word has room for.
    m_editTrigPos->setValidator(new CNoControlValidator(kTrigPosMaxLength, m_editTrigPos));
    m_editTrigPattern->setValidator(
        new CNoControlValidator(kTrigPatternMaxLength, m_editTrigPattern));
    m_editGenType->setValidator(new CNoControlValidator(kGenTypeLength, m_editGenType));

    auto* rates = new QButtonGroup(this);
    for (auto* radio : {m_radio20ns, m_radio200ns, m_radio2us, m_radio20us}) {
        rates->addButton(radio);
    }

    connect(m_editZoomBuddy, &QLineEdit::textChanged, this, &CAnalyzerDlg::OnZoomChange);
    connect(m_buttonRun, &QPushButton::clicked, this, &CAnalyzerDlg::OnRun);
    connect(m_checkTriggerMode, &QCheckBox::clicked, this, &CAnalyzerDlg::OnTriggerMode);
    connect(qobject_cast<QPushButton*>(GetDlgItem(IDC_STOP)), &QPushButton::clicked, this,
            &CAnalyzerDlg::OnStop);
    connect(m_radio20ns, &QRadioButton::clicked, this, &CAnalyzerDlg::OnRate20ns);
    connect(m_radio200ns, &QRadioButton::clicked, this, &CAnalyzerDlg::OnRate200ns);
    connect(m_radio2us, &QRadioButton::clicked, this, &CAnalyzerDlg::OnRate2us);
    connect(m_radio20us, &QRadioButton::clicked, this, &CAnalyzerDlg::OnRate20us);

    connect(m_picture, &CPictureCtrl::DoubleClicked, this, &CAnalyzerDlg::OnOpenViewer);

    auto* save = new QShortcut(QKeySequence::Save, this);
    connect(save, &QShortcut::activated, this, [this] { OnSaveAs(); });
}

QWidget* CAnalyzerDlg::GetDlgItem(int id) const {
    return FindControl(this, id);
}

int CAnalyzerDlg::DoModal() {
    OnInitDialog();
    return exec();
}

bool CAnalyzerDlg::OnInitDialog() {
    UpdateData(false); // 1006 shows "1us/d"
    setWindowIcon(m_hIcon);
    m_editDelay->setText(m_strStartReplyDelay);
    m_spinZoom->SetRange(kZoomMin, kZoomMax);
    m_spinZoom->SetPos(kZoomStart); // its change notification finds m_bReady 0
    m_bReady = 1;
    m_radio20ns->setChecked(true);
    m_radio200ns->setChecked(false);
    m_radio2us->setChecked(false);
    m_radio20us->setChecked(false);
    StartDevice();
    m_buttonRun->setFocus();
    return true;
}

void CAnalyzerDlg::DoDataExchange(bool bSaveAndValidate) {
    auto* timebase = qobject_cast<QLineEdit*>(GetDlgItem(IDC_TIMEBASE));
    if (bSaveAndValidate) {
        m_strTimebase = timebase->text();
    } else {
        timebase->setText(m_strTimebase);
    }
}

void CAnalyzerDlg::UpdateData(bool bSaveAndValidate) {
    DoDataExchange(bSaveAndValidate);
}

void CAnalyzerDlg::UpdateWindow() {
    if (isVisible()) {
        repaint();
    }
}

void CAnalyzerDlg::OnSysCommand(unsigned nID, qintptr /*lParam*/) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout(this);
        dlgAbout.exec();
    }
}

void CAnalyzerDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    if (!m_strAboutMenu.isEmpty()) {
        menu.addSeparator();
        menu.addAction(m_strAboutMenu, this, [this] { OnSysCommand(IDM_ABOUTBOX, 0); });
    }
    menu.addSeparator();
    menu.addAction(QString::fromUtf8(kViewerMenuText), this, &CAnalyzerDlg::OnOpenViewer);
    menu.addAction(QString::fromUtf8(kSaveVcdMenuText), this,
                   [this] { OnSaveAs(FileFormat::Vcd); });
    menu.addAction(QString::fromUtf8(kSaveCsvMenuText), this,
                   [this] { OnSaveAs(FileFormat::Csv); });
    menu.addAction(QString::fromUtf8(kSaveSigrokMenuText), this,
                   [this] { OnSaveAs(FileFormat::Sigrok); });
    menu.addAction(QString::fromUtf8(kSavePngMenuText), this,
                   [this] { OnSaveAs(FileFormat::Png); });
    menu.addSeparator();
    QAction* repeat =
        menu.addAction(QString::fromUtf8(kRepeatMenuText), this, [this](bool b) { SetRepeat(b); });
    repeat->setCheckable(true);
    repeat->setChecked(IsRepeat());
    QAction* fast = menu.addAction(QString::fromUtf8(kFastMenuText), this,
                                   [this](bool b) { SetFastDownload(b); });
    fast->setCheckable(true);
    fast->setChecked(IsFastDownload());
    menu.addSeparator();
    menu.addAction(QString::fromUtf8(kRescanMenuText), this, &CAnalyzerDlg::OnRescan)
        ->setEnabled(!IsCapturing());
    menu.exec(event->globalPos());
}

void CAnalyzerDlg::keyPressEvent(QKeyEvent* event) {
    // Enter on a focused Run, Stop or rate button presses it, as Space does. No button is a
    // default button, so Enter in a field still does nothing.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    auto* button = qobject_cast<QAbstractButton*>(focusWidget());
    const bool pressable =
        button != nullptr && button->isEnabled() &&
        (button == m_buttonRun || button == GetDlgItem(IDC_STOP) || button == m_radio20ns ||
         button == m_radio200ns || button == m_radio2us || button == m_radio20us);
    if (enter && pressable) {
        if (!event->isAutoRepeat()) {
            button->click();
        }
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- Closing -------------------------------------------------------------------------

void CAnalyzerDlg::OnClose() {
    m_session.Port().Close();
}

void CAnalyzerDlg::EndAfterRun(PendingEnd end) {
    // The run ends first; the window ends when the run's last step has arrived here.
    m_session.Cancel();
    if (m_pendingEnd != PendingEnd::Close) {
        m_pendingEnd = end;
    }
    if (m_pActiveBox) {
        m_pActiveBox->reject();
    }
}

void CAnalyzerDlg::closeEvent(QCloseEvent* event) {
    if (IsCapturing()) {
        EndAfterRun(PendingEnd::Close);
        event->ignore();
        return;
    }
    OnClose();
    QDialog::closeEvent(event);
}

void CAnalyzerDlg::reject() {
    if (IsCapturing()) {
        EndAfterRun(PendingEnd::Cancel);
        return;
    }
    QDialog::reject();
}

// ---- Device start-up -------------------------------------------------------------------

StartupHooks CAnalyzerDlg::MakeStartupHooks() {
    StartupHooks hooks;
    hooks.identified = [this](int nCom, bool) { m_nLastAsked = nCom; };
    hooks.notFound = [this](const COpenFailures& failures) {
        // The reply field keeps the reply of the last number searched (COM99) when it was
        // asked, else it says "no port".
        if (m_nLastAsked != kDiscoveryLastCom) {
            ShowReply(kNoPortText);
        }
        m_nLastAsked = -1;
        // A port that could not be opened for a reason the user can mend is named as well.
        for (const auto& line : failures.Lines()) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                         line.c_str());
        }
        MessageBoxWarning(QString::fromUtf8(kNotFoundText),
                          QString::fromStdString(failures.Text()));
        return true; // the window runs on without the analyzer
    };
    hooks.defaults = [this] {
        m_nLastAsked = -1;
        m_editGenPeriod->setText(QString::fromLatin1(kDefaultGenPeriod));
        m_editGenType->setText(QString::fromLatin1(kDefaultGenType));
        m_editTrigPattern->setText(QString::fromLatin1(kDefaultTrigPattern));
        m_editTrigPos->setText(QString::fromLatin1(kDefaultTrigPos));
    };
    return hooks;
}

void CAnalyzerDlg::StartDevice() {
    m_session.StartDevice();
}

void CAnalyzerDlg::OnRescan() {
    m_session.Rescan();
}

std::chrono::milliseconds CAnalyzerDlg::ReplyDelay() {
    return ReplyDelayFromText(m_editDelay->text().toStdString());
}

void CAnalyzerDlg::ShowReply(const std::string& text) {
    m_editReply->setText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    UpdateData(false);
    UpdateWindow();
}

// ---- Messages ----------------------------------------------------------------------------

void CAnalyzerDlg::MessageBoxWarning(const QString& text, const QString& details) {
    emit MessageShown(text);
    if (m_bUnattended) {
        // The text exactly as the box would show it, for whoever reads the log.
        std::fprintf(stderr, "%s: warning:\n%s\n", qPrintable(QCoreApplication::applicationName()),
                     text.toUtf8().constData());
        return;
    }
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text,
                    QMessageBox::Ok, isVisible() ? this : nullptr);
    box.setFont(font());
    if (!details.isEmpty()) {
        box.setDetailedText(details);
    }
    m_pActiveBox = &box;
    box.exec();
    m_pActiveBox = nullptr;
}

void CAnalyzerDlg::OnSessionWarning(const SessionWarning& warning) {
    const QString text = SessionWarningText(warning);
    if (warning.waits || warning.kind != SessionWarning::Kind::Packet) {
        MessageBoxWarning(text); // a single run waits for it
        return;
    }
    // A repetition goes on: the warning is shown where it does not wait for anyone.
    const QString line = text.simplified();
    std::fprintf(stderr, "%s: warning: %s (packet %d)\n",
                 qPrintable(QCoreApplication::applicationName()), line.toUtf8().constData(),
                 warning.incident.packet);
    emit PacketWarningShown(line, warning.count);
}

// ---- Capture run ------------------------------------------------------------------------

void CAnalyzerDlg::ConnectSession() {
    connect(&m_session, &CCaptureSession::BusyChanged, this, &CAnalyzerDlg::OnBusyChanged);
    connect(&m_session, &CCaptureSession::Warning, this, &CAnalyzerDlg::OnSessionWarning);
    connect(&m_session, &CCaptureSession::Redraw, this, &CAnalyzerDlg::DrawWaveforms);
    connect(&m_session, &CCaptureSession::CaptureReady, this, &CAnalyzerDlg::OnCaptureReady);
    connect(&m_session, &CCaptureSession::RepeatChanged, this, &CAnalyzerDlg::RepeatChanged);
    connect(&m_session, &CCaptureSession::FastDownloadChanged, this,
            &CAnalyzerDlg::FastDownloadChanged);
}

std::optional<CaptureSettings> CAnalyzerDlg::ReadSettings() {
    // The analyzer gets the fields' code page 932 bytes; a field of the wrong length would
    // shift every later character of the word into another setting's place.
    CaptureSettings settings;
    settings.rate = m_rate;
    settings.triggerMode = m_bTriggerMode != 0;
    settings.trigPos = ToCodePage932(m_editTrigPos->text().toStdString());
    settings.trigPattern = ToCodePage932(m_editTrigPattern->text().toStdString());
    settings.genType = ToCodePage932(m_editGenType->text().toStdString());
    settings.replyDelay = std::min(ReplyDelay(), std::chrono::milliseconds(kMaxReplyDelayMs));
    if (const auto problem = ValidateSettings(settings)) {
        MessageBoxWarning(problem->kind == SettingsProblem::Kind::Length
                              ? FieldLengthText(problem->field)
                              : ControlCharacterText());
        return std::nullopt;
    }
    return settings;
}

void CAnalyzerDlg::OnRun() {
    m_session.Run();
}

void CAnalyzerDlg::OnBusyChanged(bool bBusy) {
    if (bBusy) {
        // Disabling the focused button hands the focus on; it comes back only if it is still
        // there when the run ends (a field clicked meanwhile keeps it).
        m_bRunHadFocus = m_buttonRun->hasFocus();
        m_buttonRun->setEnabled(false);
        m_pFocusLeftAt = m_bRunHadFocus ? QApplication::focusWidget() : nullptr;
        return;
    }
    m_buttonRun->setEnabled(true);
    if (m_bRunHadFocus && QApplication::focusWidget() == m_pFocusLeftAt) {
        m_buttonRun->setFocus();
    }
    m_bRunHadFocus = false;
}

void CAnalyzerDlg::OnCaptureReady() {
    const PendingEnd pending = IsCapturing() ? PendingEnd::None : m_pendingEnd;
    m_pendingEnd = PendingEnd::None;
    emit CaptureFinished();
    if (pending == PendingEnd::Close) {
        close();
    } else if (pending == PendingEnd::Cancel) {
        reject();
    }
}

void CAnalyzerDlg::OnStop() {
    m_session.Stop();
}

void CAnalyzerDlg::OnTriggerMode() {
    m_bTriggerMode = m_bTriggerMode == 0 ? 1 : 0;
    m_session.SetTriggerMode(m_bTriggerMode != 0);
    m_checkTriggerMode->setChecked(m_bTriggerMode != 0);
}

// ---- Display ------------------------------------------------------------------------------

void CAnalyzerDlg::DrawWaveforms() {
    quillon::DrawWaveforms(m_backImage, m_session.Store(), m_strZoom.toStdString(), m_rate);
    m_picture->SetImage(m_backImage.copy(), ++m_nDrawSerial);
}

void CAnalyzerDlg::OnZoomChange() {
    if (m_bReady == 0) {
        return;
    }
    const std::string_view label = ZoomLabelForPosition(m_spinZoom->GetPos());
    m_strZoom = QString::fromLatin1(label.data(), static_cast<qsizetype>(label.size()));
    UpdateRateLabel();
    m_strTimebase = m_strRateLabel;
    UpdateData(false);
    DrawWaveforms();
}

void CAnalyzerDlg::SetRate(int rate) {
    m_rate = rate;
    UpdateRateLabel();
    m_strTimebase = m_strRateLabel;
    UpdateData(false);
}

void CAnalyzerDlg::UpdateRateLabel() {
    if (const auto label = TimebaseLabelFor(m_strZoom.toStdString(), m_rate)) {
        m_strRateLabel = QString::fromLatin1(label->data(), static_cast<qsizetype>(label->size()));
    }
}

void CAnalyzerDlg::OnOpenViewer() {
    if (!m_pViewer) {
        m_pViewer = new CViewerWnd(this); // deletes itself when closed
        auto* bar = new CViewerCaptureBar(m_session, m_pViewer);
        m_pViewer->addToolBar(bar);
        CViewerWnd* viewer = m_pViewer;
        bar->SetConditionSource([viewer] { return viewer->FindCondition(); });
        // A hunt that found its capture shows the match once that capture is in the viewer.
        connect(&m_session, &CCaptureSession::StateChanged, viewer,
                [viewer, bar](const auto& state) {
                    if (state.foundIn > 0 && state.phase == SessionState::Phase::Idle) {
                        QTimer::singleShot(0, viewer, [viewer, bar] {
                            viewer->SetFindCondition(bar->LastCondition());
                            viewer->FindNext(true);
                        });
                    }
                });
        connect(this, &CAnalyzerDlg::CaptureFinished, m_pViewer, [this] {
            if (m_pViewer && HasCapture()) {
                m_pViewer->SetLiveCapture(ToCapture(CurrentCapture()));
            }
        });
        if (HasCapture()) {
            m_pViewer->SetLiveCapture(ToCapture(CurrentCapture()));
        }
    }
    m_pViewer->show();
    m_pViewer->raise();
    m_pViewer->activateWindow();
}

CViewerWnd* CAnalyzerDlg::Viewer() const {
    return m_pViewer;
}

QImage CAnalyzerDlg::ViewImage() const {
    return m_picture->Image();
}

// ---- Export -------------------------------------------------------------------------------

void CAnalyzerDlg::OnSaveAs(FileFormat preferred) {
    if (IsCapturing() || !HasCapture()) {
        MessageBoxWarning(QString::fromUtf8(IsCapturing() ? kCapturingText : kNoCaptureText));
        return;
    }
    if (const auto path = AskSavePath(this, preferred, m_strSaveDir)) {
        SaveCapture(*path);
    }
}

bool CAnalyzerDlg::SaveCapture(const QString& path) {
    if (IsCapturing() || !HasCapture()) {
        MessageBoxWarning(QString::fromUtf8(IsCapturing() ? kCapturingText : kNoCaptureText));
        return false;
    }
    const SaveOutcome outcome = SaveCaptureFile(path, CurrentCapture(), ViewImage());
    if (outcome.written) {
        m_strSaveDir = QFileInfo(path).absolutePath();
    }
    if (!outcome.message.isEmpty()) {
        MessageBoxWarning(outcome.message);
    }
    return outcome.written;
}

} // namespace quillon
