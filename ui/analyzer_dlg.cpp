// The main window: start-up, the capture run's GUI side, zoom and rate, export, closing.
#include "ui/analyzer_dlg.h"

#include "capture/capture_bridge.h"
#include "capture/settings_word.h"
#include "device/discovery.h"
#include "device/port_list.h"
#include "device/protocol.h"
#include "display/timebase.h"
#include "display/waveform.h"
#include "file/save_file.h"
#include "ui/about_dlg.h"
#include "ui/app_icon.h"
#include "ui/dialog_template.h"
#include "ui/picture_ctrl.h"
#include "ui/spin_button_ctrl.h"
#include "ui/strings.h"
#include "ui/thread_handoff.h"
#include "ui/viewer_capture_bar.h"
#include "ui/viewer_wnd.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QShortcut>
#include <QThread>
#include <QValidator>

#include <cstdio>
#include <future>
#include <system_error>

namespace quillon {

namespace {
constexpr std::chrono::milliseconds kBeforeResetPause = 100ms;
constexpr std::chrono::milliseconds kAfterResetPause = 50ms;
constexpr std::chrono::milliseconds kWorkerPoll = 20ms;
constexpr const char* kDefaultGenPeriod = "00000000";
constexpr const char* kDefaultGenType = "0";
constexpr const char* kDefaultTrigPattern = "0000000000000000";
constexpr const char* kDefaultTrigPos = "00";

// Export: menu items, the file dialog and its messages.
constexpr const char* kViewerMenuText = "波形ビューア(&W)...";
constexpr const char* kSaveVcdMenuText = "VCDファイルに保存(&V)...";
constexpr const char* kSaveCsvMenuText = "CSVファイルに保存(&C)...";
constexpr const char* kSaveSigrokMenuText = "sigrokファイル(.sr)に保存(&G)...";
constexpr const char* kSavePngMenuText = "画像(PNG)に保存(&P)...";
constexpr const char* kSaveCaption = "名前を付けて保存";
constexpr const char* kVcdFilter = "VCDファイル (*.vcd)";
constexpr const char* kCsvFilter = "CSVファイル (*.csv)";
constexpr const char* kSigrokFilter = "sigrokセッションファイル (*.sr)";
constexpr const char* kPngFilter = "PNG画像 (*.png)";
constexpr const char* kNoCaptureText = "保存するデータがありません。 \r\n"
                                       "先にRunでデータを取り込んでください。 \r\n";
constexpr const char* kCapturingText = "データを取り込み中です。 \r\n"
                                       "取り込みが終わってから保存してください。 \r\n";
constexpr const char* kUnknownTypeText = "保存できるのは .vcd .csv .sr .png のファイルです。 \r\n";
constexpr const char* kWriteFailedText = "ファイルに保存できませんでした。 \r\n";
constexpr const char* kIncompleteSavedText =
    "取り込みが不完全です。 \r\n"
    "%2 サンプルのうち %1 サンプルが届きませんでした。 \r\n";
constexpr const char* kIncompleteDataText =
    "届かなかったサンプルは不明(VCDは x、CSVは空欄)として保存しました。 \r\n";
constexpr const char* kIncompletePictureText =
    "画像のその部分には前の取り込みのデータが表示されています。 \r\n";

// Run's checks of the fields, and a line that takes no commands.
constexpr const char* kFieldLengthText = "%1 は半角 %2 文字で入力してください。 \r\n"
                                         "設定は送っていません。 \r\n";
constexpr const char* kControlCharacterText = "設定に送れない文字(制御文字)が含まれています。 \r\n"
                                              "設定は送っていません。 \r\n";

QString FieldLengthText(SettingsField field) {
    switch (field) {
    case SettingsField::TrigPos:
        return QString::fromUtf8(kFieldLengthText)
            .arg(QStringLiteral("trigpos(1:0)"))
            .arg(kTrigPosMaxLength);
    case SettingsField::TrigPattern:
        return QString::fromUtf8(kFieldLengthText)
            .arg(QString::fromUtf8("ﾄﾘｶﾞﾊﾟﾀｰﾝ(15:0)"))
            .arg(kTrigPatternMaxLength);
    case SettingsField::GenType:
        break;
    }
    return QString::fromUtf8(kFieldLengthText).arg(QStringLiteral("gentype")).arg(kGenTypeLength);
}

// Drops control characters from whatever reaches a field, typed or pasted, so that no
// carriage return can end the settings command early and start another; then refuses what
// is longer than the field's place in the word. (A length limit of the field itself would
// cut a paste before its control characters are gone.)
class CNoControlValidator : public QValidator {
public:
    CNoControlValidator(int maxLength, QObject* parent)
        : QValidator(parent), m_nMaxLength(maxLength) {}
    State validate(QString& input, int& pos) const override {
        for (qsizetype i = input.size() - 1; i >= 0; --i) {
            if (input.at(i).category() == QChar::Other_Control) {
                input.remove(i, 1);
                if (i < pos) {
                    --pos;
                }
            }
        }
        return input.size() > m_nMaxLength ? Invalid : Acceptable;
    }

private:
    int m_nMaxLength;
};

// Capturing choices of the context menu.
constexpr const char* kRescanMenuText = "ロジアナを再検索(&S)";

struct SaveChoice {
    FileFormat format;
    const char* filter;
    const char* suffix;
};
constexpr SaveChoice kSaveChoices[] = {{FileFormat::Vcd, kVcdFilter, "vcd"},
                                       {FileFormat::Csv, kCsvFilter, "csv"},
                                       {FileFormat::Sigrok, kSigrokFilter, "sr"},
                                       {FileFormat::Png, kPngFilter, "png"}};
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
    m_link.SetCancelFlag(&m_flags.m_bCancel);
}

CAnalyzerDlg::~CAnalyzerDlg() {
    // Normally the run has ended before the window goes; this is the last safety net.
    m_flags.m_bCancel = true;
    if (m_pActiveBox) {
        m_pActiveBox->reject();
    }
    if (m_worker.joinable()) {
        m_worker.join();
    }
    m_port.Close();
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
    m_port.Close();
}

void CAnalyzerDlg::EndAfterRun(PendingEnd end) {
    // The run ends first; the window ends when the run's last step has arrived here.
    m_flags.m_bCancel = true;
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

int CAnalyzerDlg::FindPort(int n) {
    const int found = ListedPortNumber(ReadPortList(), n);
    m_editReply->setText(QString());
    int result = 0;
    if (found != -1 && m_port.Open(found, CSerialPort::kAnalyzerBaud) != 0) {
        m_editReply->setText(QString::fromLatin1(kFoundPortText));
        result = 1;
        UpdateData(false);
        UpdateWindow();
    } else if (found != -1) {
        m_openFailures.Note(m_port);
    }
    if (result == 0) {
        m_editReply->setText(QString::fromLatin1(kNoPortText));
        UpdateData(false);
        UpdateWindow();
    }
    return result;
}

void CAnalyzerDlg::StartDevice() {
    m_openFailures.Clear();
    int found = 0;
    for (int i = 0; i <= kDiscoveryLastCom; ++i) {
        if (FindPort(i) == 1) {
            std::this_thread::sleep_for(kDiscoveryOpenPause);
            if (IdentifyDevice() == 1) {
                found = 1;
                break;
            }
            m_port.Close();
        }
    }
    if (found == 0) {
        // A port that could not be opened for a reason the user can mend is named as well.
        for (const auto& line : m_openFailures.Lines()) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                         line.c_str());
        }
        MessageBoxWarning(QString::fromUtf8(kNotFoundText),
                          QString::fromStdString(m_openFailures.Text()));
    }
    std::this_thread::sleep_for(kBeforeResetPause);
    ResetDevice();
    std::this_thread::sleep_for(kAfterResetPause);
    m_editGenPeriod->setText(QString::fromLatin1(kDefaultGenPeriod));
    m_editGenType->setText(QString::fromLatin1(kDefaultGenType));
    m_editTrigPattern->setText(QString::fromLatin1(kDefaultTrigPattern));
    m_editTrigPos->setText(QString::fromLatin1(kDefaultTrigPos));
    ArmCapture();
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

void CAnalyzerDlg::WarnFromWorker(const QString& text) {
    if (QThread::currentThread() == thread()) {
        MessageBoxWarning(text);
        return;
    }
    if (m_flags.m_bCancel) {
        return;
    }
    // The box is the GUI thread's; the worker waits for it, or for the window to close.
    auto dismissed = std::make_shared<std::promise<void>>();
    auto future = dismissed->get_future();
    PostToGui([this, text, dismissed] {
        if (!m_flags.m_bCancel) {
            MessageBoxWarning(text);
        }
        dismissed->set_value();
    });
    while (future.wait_for(kWorkerPoll) != std::future_status::ready) {
        if (m_flags.m_bCancel) {
            return;
        }
    }
}

void CAnalyzerDlg::PostToGui(std::function<void()> work) {
    CWorkerEvent::Post(this, std::move(work));
}

bool CAnalyzerDlg::event(QEvent* event) {
    return CWorkerEvent::Run(event) || QDialog::event(event);
}

void CAnalyzerDlg::ReportPacketIncident(const PacketIncident& incident) {
    QString text;
    if (incident.kind == PacketIncident::Kind::OutOfStep) {
        text = QString::fromUtf8(kOutOfStepText).arg(incident.firstVoided);
    } else {
        const std::string warning = PacketWarningText(incident.count);
        text = QString::fromLatin1(warning.data(), static_cast<qsizetype>(warning.size()));
    }
    if (!m_bRunRepeats) {
        WarnFromWorker(text); // a single run: the box, and the run waits for it
        return;
    }
    // A repetition goes on: the warning is shown where it does not wait for anyone.
    const QString line = text.simplified();
    std::fprintf(stderr, "%s: warning: %s (packet %d)\n",
                 qPrintable(QCoreApplication::applicationName()), line.toUtf8().constData(),
                 incident.packet);
    PostToGui([this, line] {
        ++m_nRepeatWarnings;
        emit PacketWarningShown(line, m_nRepeatWarnings);
    });
}

void CAnalyzerDlg::ReportLinkLost() {
    WarnFromWorker(QString::fromUtf8(kLinkLostText));
}

void CAnalyzerDlg::ReportNotTakingCommands() {
    WarnFromWorker(QString::fromUtf8(kNotTakingCommandsText));
}

// ---- Capture run ------------------------------------------------------------------------

void CAnalyzerDlg::OnRun() {
    if (IsCapturing()) {
        return;
    }
    // The analyzer gets the fields' code page 932 bytes; a field of the wrong length would
    // shift every later character of the word into another setting's place.
    const std::string trigPos = ToCodePage932(m_editTrigPos->text().toStdString());
    const std::string pattern = ToCodePage932(m_editTrigPattern->text().toStdString());
    const std::string genType = ToCodePage932(m_editGenType->text().toStdString());
    if (const auto wrong = WrongLengthField(trigPos, pattern, genType)) {
        MessageBoxWarning(FieldLengthText(*wrong));
        return;
    }
    const auto framed = FrameSettingsWord(ComposeSettingsWord(m_rate, trigPos, pattern, genType));
    if (!framed) {
        MessageBoxWarning(QString::fromUtf8(kControlCharacterText));
        return;
    }
    if (!m_bRepeatNext) { // the user's Run, not the next capture of a repetition
        // Disabling the focused button would hand the focus to the time field; it comes back.
        m_bRunHadFocus = m_buttonRun->hasFocus();
        m_bRepeating = m_bRepeat;
        m_bRepeatEnding = false;
        m_nRepeatWarnings = 0;
    }
    m_bRunRepeats = m_bRepeating;
    m_buttonRun->setEnabled(false);
    m_nCaptureRate = m_rate;
    m_strCaptureTrigPos = trigPos;
    // A closed or hung-up port sends nothing and the run tells; a stalled one starts no run.
    if (!SendSettings(framed->data()) && m_port.IsWriteStalled()) {
        // The settings did not go out: a run now would capture with the old ones.
        MessageBoxWarning(QString::fromUtf8(kNotTakingCommandsText));
        m_buttonRun->setEnabled(true);
        if (m_bRunHadFocus) {
            m_buttonRun->setFocus();
        }
        return;
    }
    m_flags.m_bCancel = false;
    try {
        m_worker = std::thread(&CAnalyzerDlg::CaptureThreadProc, this);
    } catch (const std::system_error&) {
        m_buttonRun->setEnabled(true); // no worker: nothing else would enable Run again
    }
}

void CAnalyzerDlg::CaptureThreadProc(CAnalyzerDlg* dlg) {
    dlg->RunCapture();
}

void CAnalyzerDlg::RunCapture() {
    // The store changes within the run; what the run leaves is a capture once a packet came.
    const CaptureResult result = quillon::RunCapture(m_link, m_store, m_storeLock, m_flags, *this);
    m_lastResult = result;
    if (result.packetsAccepted > 0) {
        {
            std::lock_guard lock(m_storeLock);
            m_lastCapture = CaptureFromRun(m_store, m_nCaptureRate, result, m_strCaptureTrigPos);
        }
        m_bHaveCapture = true;
    }
}

void CAnalyzerDlg::RunFinished() {
    PostToGui([this] { OnCaptureThreadDone(); });
}

void CAnalyzerDlg::OnCaptureThreadDone() {
    if (m_worker.joinable()) {
        m_worker.join(); // its last step was to post this: it is ending now
    }
    const PendingEnd pending = m_pendingEnd;
    m_pendingEnd = PendingEnd::None;
    const bool bRepeatOn = pending == PendingEnd::None && RepeatGoesOn();
    if (!bRepeatOn) {
        EndRun();
    }
    // Whoever follows the captures sees each one before the next overwrites the store.
    emit CaptureFinished();
    if (bRepeatOn && !StartRepeatCapture()) {
        EndRun();
    }
    if (pending == PendingEnd::Close) {
        close();
    } else if (pending == PendingEnd::Cancel) {
        reject();
    }
}

bool CAnalyzerDlg::RepeatGoesOn() const {
    // A repetition without a working analyzer would only repeat its warnings.
    return m_bRepeating && m_bRepeat && !m_bRepeatEnding && m_port.IsOpen() && !m_port.IsHungUp();
}

bool CAnalyzerDlg::StartRepeatCapture() {
    if (!RepeatGoesOn()) { // ended by a receiver of CaptureFinished
        return false;
    }
    m_bRepeatNext = true;
    OnRun();
    m_bRepeatNext = false;
    return IsCapturing();
}

void CAnalyzerDlg::EndRun() {
    if (m_bRepeatEnding) {
        m_flags.m_bStopRequest = 0; // that Stop has ended the repetition
    }
    m_bRepeating = false;
    m_bRepeatEnding = false;
    m_buttonRun->setEnabled(true);
    if (m_bRunHadFocus) {
        m_buttonRun->setFocus();
    }
}

void CAnalyzerDlg::OnStop() {
    m_flags.m_bStopRequest = 1;
    if (m_bRepeating) {
        m_bRepeatEnding = true;
    }
}

void CAnalyzerDlg::SetRepeat(bool bRepeat) {
    if (bRepeat == m_bRepeat) {
        return;
    }
    m_bRepeat = bRepeat;
    emit RepeatChanged(bRepeat);
}

void CAnalyzerDlg::SetFastDownload(bool bFast) {
    if (bFast == IsFastDownload()) {
        return;
    }
    m_link.SetFastReplies(bFast);
    emit FastDownloadChanged(bFast);
}

void CAnalyzerDlg::OnRescan() {
    if (IsCapturing()) {
        return;
    }
    m_port.Close();
    StartDevice();
}

void CAnalyzerDlg::OnTriggerMode() {
    m_flags.m_bTriggerMode = m_flags.m_bTriggerMode == 0 ? 1 : 0;
    m_checkTriggerMode->setChecked(m_flags.m_bTriggerMode != 0);
}

// ---- Display ------------------------------------------------------------------------------

void CAnalyzerDlg::DrawWaveforms() {
    QImage image;
    quint64 serial = 0;
    {
        std::lock_guard lock(m_storeLock);
        quillon::DrawWaveforms(m_backImage, m_store, m_strZoom.toStdString(), m_rate);
        image = m_backImage.copy();
        serial = ++m_nDrawSerial;
    }
    if (QThread::currentThread() == thread()) {
        m_picture->SetImage(image, serial);
    } else {
        PostToGui([this, image, serial] { m_picture->SetImage(image, serial); });
    }
}

void CAnalyzerDlg::OnZoomChange() {
    if (m_bReady == 0) {
        return;
    }
    const int position = m_spinZoom->GetPos();
    {
        std::lock_guard lock(m_storeLock);
        m_strZoom =
            QString::fromLatin1(ZoomLabelForPosition(position).data(),
                                static_cast<qsizetype>(ZoomLabelForPosition(position).size()));
    }
    UpdateRateLabel();
    m_strTimebase = m_strRateLabel;
    UpdateData(false);
    DrawWaveforms();
}

void CAnalyzerDlg::SetRate(int rate) {
    {
        std::lock_guard lock(m_storeLock);
        m_rate = rate;
    }
    UpdateRateLabel();
    m_strTimebase = m_strRateLabel;
    UpdateData(false);
}

void CAnalyzerDlg::UpdateRateLabel() {
    if (const auto label = TimebaseLabelFor(m_strZoom.toStdString(), m_rate)) {
        m_strRateLabel = QString::fromLatin1(label->data(), static_cast<qsizetype>(label->size()));
    }
}

SampleStore CAnalyzerDlg::SnapshotStore() const {
    std::lock_guard lock(m_storeLock);
    return m_store;
}

CaptureData CAnalyzerDlg::CurrentCapture() const {
    std::lock_guard lock(m_storeLock);
    return m_lastCapture;
}

CViewerWnd* CAnalyzerDlg::Viewer() const {
    return m_pViewer;
}

void CAnalyzerDlg::OnOpenViewer() {
    if (!m_pViewer) {
        m_pViewer = new CViewerWnd(this); // deletes itself when closed
        m_pViewer->addToolBar(new CViewerCaptureBar(*this, m_pViewer));
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

QImage CAnalyzerDlg::ViewImage() const {
    return m_picture->Image();
}

// ---- Export -------------------------------------------------------------------------------

void CAnalyzerDlg::OnSaveAs(FileFormat preferred) {
    if (IsCapturing()) {
        MessageBoxWarning(QString::fromUtf8(kCapturingText));
        return;
    }
    if (!HasCapture()) {
        MessageBoxWarning(QString::fromUtf8(kNoCaptureText));
        return;
    }
    QStringList filters;
    const SaveChoice* chosen = &kSaveChoices[0];
    for (const auto& choice : kSaveChoices) {
        filters << QString::fromUtf8(choice.filter);
        if (choice.format == preferred) {
            chosen = &choice;
        }
    }
    const QString dir = m_strSaveDir.isEmpty() ? QDir::homePath() : m_strSaveDir;
    const QString name =
        QStringLiteral("quillon-%1.%2")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")),
                 QString::fromLatin1(chosen->suffix));
    QFileDialog dialog(this, QString::fromUtf8(kSaveCaption), QDir(dir).filePath(name));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(QString::fromUtf8(chosen->filter));
    dialog.setDefaultSuffix(QString::fromLatin1(chosen->suffix));
    // A name typed without an extension takes the one of the filter shown.
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        for (const auto& choice : kSaveChoices) {
            if (filter == QString::fromUtf8(choice.filter)) {
                dialog.setDefaultSuffix(QString::fromLatin1(choice.suffix));
            }
        }
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    QString path = dialog.selectedFiles().constFirst();
    if (!FileFormatForPath(path.toStdString())) {
        path += QLatin1Char('.') + dialog.defaultSuffix();
    }
    SaveCapture(path);
}

bool CAnalyzerDlg::SaveCapture(const QString& path) {
    if (IsCapturing()) {
        MessageBoxWarning(QString::fromUtf8(kCapturingText));
        return false;
    }
    if (!HasCapture()) {
        MessageBoxWarning(QString::fromUtf8(kNoCaptureText));
        return false;
    }
    const auto format = FileFormatForPath(path.toStdString());
    if (!format) {
        MessageBoxWarning(QString::fromUtf8(kUnknownTypeText));
        return false;
    }
    CaptureData data = CurrentCapture();
    data.names = UserChannelNames();
    const std::string file = QFile::encodeName(path).toStdString();
    std::string reason = "cannot encode the picture";
    bool written = false;
    if (*format == FileFormat::Png) {
        const std::string bytes = EncodePng(ViewImage());
        written = !bytes.empty() && WriteWholeFile(file, bytes, reason);
    } else {
        written = WriteCaptureFile(file, *ToCapture(data), *format, reason,
                                   QDateTime::currentDateTime()
                                       .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                       .toStdString());
    }
    if (!written) {
        MessageBoxWarning(QString::fromUtf8(kWriteFailedText) + QDir::toNativeSeparators(path) +
                          QStringLiteral(" \r\n(") + QString::fromLocal8Bit(reason.c_str()) +
                          QStringLiteral(")"));
        return false;
    }
    m_strSaveDir = QFileInfo(path).absolutePath();
    if (const std::size_t missing = data.MissingCount(); missing > 0) {
        // Saved all the same: what did arrive is worth keeping, and the file marks the rest.
        MessageBoxWarning(
            QString::fromUtf8(kIncompleteSavedText).arg(missing).arg(data.samples.size()) +
            QString::fromUtf8(*format == FileFormat::Png ? kIncompletePictureText
                                                         : kIncompleteDataText));
    }
    return true;
}

} // namespace quillon
