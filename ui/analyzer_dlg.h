// CAnalyzerDlg: the main window, a view of the capture session: its controls, the picture of
// the capture memory, the boxes that tell the user, and the menu.
#pragma once

#include "file/capture_file.h"
#include "session/capture_session.h"

#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QPointer>
#include <QString>

class QCheckBox;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QRadioButton;

namespace quillon {

class CPictureCtrl;
class CSpinButtonCtrl;
class CViewerWnd;

/// GUI thread only. The session's worker reaches the window only through the session's
/// signals, which arrive on the GUI thread.
class CAnalyzerDlg : public QDialog, private IAnalyzerHost {
    Q_OBJECT
public:
    explicit CAnalyzerDlg(QWidget* parent = nullptr);
    ~CAnalyzerDlg() override;

    /// Initialises (device start-up included) before the window is shown, then runs it.
    int DoModal();
    bool OnInitDialog();
    void DoDataExchange(bool bSaveAndValidate);
    void UpdateData(bool bSaveAndValidate);
    QWidget* GetDlgItem(int id) const;

    void OnSysCommand(unsigned nID, qintptr lParam);
    void OnClose();
    /// Discovery, the pauses, the reset, the default settings and the arm command.
    void StartDevice();
    /// Closes the port and starts the device again; not during a run.
    void OnRescan();

    /// Run: one capture, or with repetition on, captures one after another until Stop.
    void OnRun();
    /// Stop: ends a trigger wait, and a repetition after the capture under way.
    void OnStop();
    void OnTriggerMode();
    void OnZoomChange();
    void OnRate20ns() { SetRate(1); }
    void OnRate200ns() { SetRate(10); }
    void OnRate2us() { SetRate(100); }
    void OnRate20us() { SetRate(1000); }
    void UpdateRateLabel();
    void DrawWaveforms();
    /// Opens the waveform viewer on the current capture, or raises the one already open.
    void OnOpenViewer();
    /// Asks for a file (preferred: the filter offered first) and saves the last capture.
    void OnSaveAs(FileFormat preferred = FileFormat::Vcd);
    /// Saves the last capture (or the view, .png) to path; tells the user in a box what went
    /// wrong or is missing; true when written.
    bool SaveCapture(const QString& path);

    // The choices of the context menu (the session's; the viewer drives them too).
    void SetRepeat(bool bRepeat) { m_session.SetRepeat(bRepeat); }
    [[nodiscard]] bool IsRepeat() const { return m_session.IsRepeat(); }
    [[nodiscard]] bool IsRepeating() const { return m_session.IsRepeating(); }
    void SetFastDownload(bool bFast) { m_session.SetFastDownload(bFast); }
    [[nodiscard]] bool IsFastDownload() const { return m_session.IsFastDownload(); }
    /// The reply wait written into its hidden field at start-up (normally "30").
    void SetStartReplyDelay(const QString& text) { m_strStartReplyDelay = text; }
    /// Messages go to standard error and are not shown (unattended runs).
    void SetUnattended(bool bUnattended) { m_bUnattended = bUnattended; }
    /// Shows a warning box captioned with the application's name; details: its detailed text.
    void MessageBoxWarning(const QString& text, const QString& details = QString());

    // What the window shows and holds, for the program start, the viewer and tests.
    [[nodiscard]] CCaptureSession& Session() { return m_session; }
    [[nodiscard]] const CCaptureSession& Session() const { return m_session; }
    [[nodiscard]] bool IsCapturing() const { return m_session.IsCapturing(); }
    [[nodiscard]] bool HasCapture() const { return m_session.HasCapture(); }
    [[nodiscard]] CaptureData CurrentCapture() const { return m_session.LastCapture(); }
    [[nodiscard]] const CaptureResult& LastRunResult() const { return m_session.LastResult(); }
    [[nodiscard]] int CaptureRate() const { return m_session.Settings().rate; }
    [[nodiscard]] SampleStore SnapshotStore() const { return m_session.Store(); }
    [[nodiscard]] QImage ViewImage() const;
    [[nodiscard]] CViewerWnd* Viewer() const;
    [[nodiscard]] const QIcon& Icon() const { return m_hIcon; }
    [[nodiscard]] const QString& ZoomLabel() const { return m_strZoom; }
    [[nodiscard]] const QString& TimebaseText() const { return m_strTimebase; }
    [[nodiscard]] const QString& RateLabel() const { return m_strRateLabel; }
    [[nodiscard]] int Rate() const { return m_rate; }
    [[nodiscard]] bool IsReady() const { return m_bReady != 0; }
    [[nodiscard]] bool IsTriggerMode() const { return m_bTriggerMode != 0; }
    /// String 101, the About item of the menu; empty: no item.
    void SetAboutMenuText(const QString& text) { m_strAboutMenu = text; }

signals:
    /// A capture has ended and been drawn (each one of a repetition).
    void CaptureFinished();
    void MessageShown(const QString& text);
    void RepeatChanged(bool bRepeat);
    /// During a repetition a packet warning is shown here (and on standard error) instead of
    /// in a box that would halt it; count: the warnings since the repetition began.
    void PacketWarningShown(const QString& text, int count);
    void FastDownloadChanged(bool bFast);

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // IAnalyzerHost: the hidden fields of the reply wait and the identification reply.
    std::chrono::milliseconds ReplyDelay() override;
    void ShowReply(const std::string& text) override;

    void BindControls();
    void ConnectSession();
    /// The start-up's steps that touch the window: the not-found box, the default fields.
    StartupHooks MakeStartupHooks();
    void SetRate(int rate);
    void UpdateWindow();
    /// The fields as settings, or nothing after telling the user which one is wrong.
    std::optional<CaptureSettings> ReadSettings();
    void OnBusyChanged(bool bBusy);
    void OnSessionWarning(const SessionWarning& warning);
    void OnCaptureReady();
    enum class PendingEnd { None, Close, Cancel };
    /// Cancels the run and remembers how the window is to end once it has stopped.
    void EndAfterRun(PendingEnd end);

    // The window's members in the order it has always kept them.
    QIcon m_hIcon;
    CSpinButtonCtrl* m_spinZoom = nullptr;
    QLineEdit* m_editZoomBuddy = nullptr;
    QString m_strTimebase = QStringLiteral("1us/d");
    QString m_strZoom;
    int m_bReady = 0;
    int m_bTriggerMode = 0;
    QCheckBox* m_checkTriggerMode = nullptr;
    QLineEdit* m_editGenPeriod = nullptr;
    QLineEdit* m_editGenType = nullptr;
    QLineEdit* m_editTrigPattern = nullptr;
    QLineEdit* m_editTrigPos = nullptr;
    QPushButton* m_buttonRun = nullptr;
    CCaptureSession m_session; ///< the port, the capture memory, the worker
    QLineEdit* m_editReply = nullptr;
    QLineEdit* m_editDelay = nullptr;
    QRadioButton* m_radio20ns = nullptr;
    QRadioButton* m_radio200ns = nullptr;
    QRadioButton* m_radio2us = nullptr;
    QRadioButton* m_radio20us = nullptr;
    int m_rate = 1;
    QString m_strRateLabel;
    QString m_strAboutMenu; ///< string 101; empty: no About item

    CPictureCtrl* m_picture = nullptr;
    QImage m_backImage;
    quint64 m_nDrawSerial = 0;
    int m_nLastAsked = -1; ///< the last COM number discovery asked
    QPointer<QMessageBox> m_pActiveBox;
    PendingEnd m_pendingEnd = PendingEnd::None;
    bool m_bUnattended = false;
    bool m_bRunHadFocus = false;
    QPointer<QWidget> m_pFocusLeftAt; ///< where the focus went when Run was disabled
    QString m_strSaveDir;             ///< where the last file was saved
    QPointer<CViewerWnd> m_pViewer;   ///< the one waveform viewer, while it is open
    QString m_strStartReplyDelay = QStringLiteral("30");
};

} // namespace quillon
