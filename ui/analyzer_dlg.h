// CAnalyzerDlg: the main window; owns the port, the capture memory and every control.
#pragma once

#include "capture/capture_run.h"
#include "capture/sample_store.h"
#include "device/analyzer_link.h"
#include "device/discovery.h"
#include "device/serial_port.h"
#include "file/capture_file.h"

#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QPointer>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

class QCheckBox;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QRadioButton;

namespace quillon {

class CPictureCtrl;
class CSpinButtonCtrl;
class CViewerWnd;

/// Everything here runs on the GUI thread except RunCapture and the ICaptureHost and
/// IAnalyzerHost calls made from it, which hand their work to the GUI thread.
class CAnalyzerDlg : public QDialog, public IAnalyzerHost, public ICaptureHost {
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

    // Device start-up and commands.
    int FindPort(int n);
    void StartDevice();
    int IdentifyDevice() { return m_link.IdentifyDevice(); }
    void ResetDevice() { m_link.ResetDevice(); }
    void ArmCapture() { m_link.ArmCapture(); }
    bool SendSettings(const char* word) { return m_link.SendSettings(word); }
    int PollTrigger() { return m_link.PollTrigger(); }
    void StartDownload() { m_link.StartDownload(); }
    /// One packet request on its own: 256 when its reply was one whole packet, else 0.
    int RequestPacket(unsigned char* packet) {
        return m_link.RequestPacket(packet).shape == PacketReply::Shape::Whole ? kPacketSize : 0;
    }

    // Capture run.
    /// Run: one capture, or with repetition on, captures one after another until Stop.
    void OnRun();
    /// Stop: ends a trigger wait, and a repetition after the capture under way.
    void OnStop();
    void OnTriggerMode();

    // Choices of the context menu, also driven by other windows. GUI thread.
    /// Repeated capture: Run starts the next capture once the last one is drawn and the
    /// analyzer re-armed. Turning it off ends a repetition after the capture under way.
    void SetRepeat(bool bRepeat);
    [[nodiscard]] bool IsRepeat() const { return m_bRepeat; }
    /// True from the Run that started a repetition until its last capture has ended.
    [[nodiscard]] bool IsRepeating() const { return m_bRepeating; }
    /// Fast download: replies are read as soon as they are complete.
    void SetFastDownload(bool bFast);
    [[nodiscard]] bool IsFastDownload() const { return m_link.IsFastReplies(); }
    /// Closes the port and runs the port discovery and device start-up again; not during a
    /// run.
    void OnRescan();
    /// The reply wait written into its hidden field at start-up (normally "30").
    void SetStartReplyDelay(const QString& text) { m_strStartReplyDelay = text; }
    /// Worker thread.
    void RunCapture();
    [[nodiscard]] bool IsCapturing() const { return m_worker.joinable(); }

    // Display.
    /// Either thread; one redraw at a time.
    void DrawWaveforms();
    void OnZoomChange();
    void OnRate20ns() { SetRate(1); }
    void OnRate200ns() { SetRate(10); }
    void OnRate2us() { SetRate(100); }
    void OnRate20us() { SetRate(1000); }
    void UpdateRateLabel();

    /// Opens the waveform viewer on the current capture, or raises the one already open.
    void OnOpenViewer();
    [[nodiscard]] CViewerWnd* Viewer() const;
    /// A consistent copy of the capture memory and the rate it was taken at.
    SampleStore SnapshotStore() const;
    /// The last capture a run left (the last run that received at least one packet): its
    /// samples, rate, which samples that run received and its trigger sample. Empty before
    /// the first capture. Any thread.
    CaptureData CurrentCapture() const;
    /// What the last run did (packets accepted, link lost ...). GUI thread, after
    /// CaptureFinished.
    [[nodiscard]] const CaptureResult& LastRunResult() const { return m_lastResult; }
    [[nodiscard]] int CaptureRate() const { return m_nCaptureRate; }
    /// The picture the waveform area shows.
    QImage ViewImage() const;
    // Export.
    /// Asks for a file (VCD, CSV or PNG; preferred is the filter offered first) and saves
    /// the last capture there. GUI thread; Ctrl+S and the context menu call it.
    void OnSaveAs(FileFormat preferred = FileFormat::Vcd);
    /// Saves the last capture (VCD, CSV) or the view (PNG) to path, the format following
    /// its extension. Tells the user in a box when there is nothing to save yet or the file
    /// cannot be written; true when written. GUI thread.
    bool SaveCapture(const QString& path);
    /// True once a run has downloaded at least one whole packet. Any thread.
    [[nodiscard]] bool HasCapture() const { return m_bHaveCapture.load(); }

    /// Messages go to standard error and are not shown (unattended runs).
    void SetUnattended(bool bUnattended) { m_bUnattended = bUnattended; }

    /// Shows a warning box captioned with the application's name; GUI thread. details, when
    /// given, is the box's detailed text.
    void MessageBoxWarning(const QString& text, const QString& details = QString());

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
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

    // IAnalyzerHost
    std::chrono::milliseconds ReplyDelay() override;
    void ShowReply(const std::string& text) override;
    // ICaptureHost
    void ReportPacketIncident(const PacketIncident& incident) override;
    void Redraw() override { DrawWaveforms(); }
    void ReportLinkLost() override;
    void ReportNotTakingCommands() override;
    void RunFinished() override;

private:
    void BindControls();
    void SetRate(int rate);
    void WarnFromWorker(const QString& text);
    /// Any thread: runs work on the GUI thread, or never if the window goes first.
    void PostToGui(std::function<void()> work);
    void OnCaptureThreadDone();
    /// Whether a repetition goes on with another capture after the one that just ended.
    [[nodiscard]] bool RepeatGoesOn() const;
    /// Starts the next capture of a repetition; false when none started.
    bool StartRepeatCapture();
    /// The run (or repetition) is over: Run enabled again.
    void EndRun();
    void UpdateWindow();
    static void CaptureThreadProc(CAnalyzerDlg* dlg);

public:
    // Members in the order the window has always kept them.
    QIcon m_hIcon;
    SampleStore m_store; ///< m_sampleLow, m_sampleHigh, m_fillLow, m_fillHigh
    CSpinButtonCtrl* m_spinZoom = nullptr;
    QLineEdit* m_editZoomBuddy = nullptr;
    QString m_strTimebase = QStringLiteral("1us/d");
    QString m_strZoom;
    int m_bReady = 0;
    CaptureFlags m_flags; ///< m_bTriggerMode, m_bStopRequest, shared with the worker
    QCheckBox* m_checkTriggerMode = nullptr;
    QLineEdit* m_editGenPeriod = nullptr;
    QLineEdit* m_editGenType = nullptr;
    QLineEdit* m_editTrigPattern = nullptr;
    QLineEdit* m_editTrigPos = nullptr;
    QPushButton* m_buttonRun = nullptr;
    CSerialPort m_port;
    QLineEdit* m_editReply = nullptr;
    QLineEdit* m_editDelay = nullptr;
    QRadioButton* m_radio20ns = nullptr;
    QRadioButton* m_radio200ns = nullptr;
    QRadioButton* m_radio2us = nullptr;
    QRadioButton* m_radio20us = nullptr;
    int m_rate = 1;
    QString m_strRateLabel;
    QString m_strAboutMenu; ///< string 101; empty: no About item

private:
    CAnalyzerLink m_link{m_port, *this};
    CPictureCtrl* m_picture = nullptr;
    mutable std::mutex m_storeLock; ///< the store, m_strZoom, m_rate and the drawing
    QImage m_backImage;
    quint64 m_nDrawSerial = 0;
    int m_nCaptureRate = 1;
    std::string m_strCaptureTrigPos; ///< the trigger position text the run was started with
    CaptureData m_lastCapture;       ///< under m_storeLock
    CaptureResult m_lastResult;      ///< written by the worker, read after it has been joined
    std::thread m_worker;
    QPointer<QMessageBox> m_pActiveBox;
    enum class PendingEnd { None, Close, Cancel };
    /// Cancels the run and remembers how the window is to end once it has stopped.
    void EndAfterRun(PendingEnd end);
    PendingEnd m_pendingEnd = PendingEnd::None;
    bool m_bUnattended = false;
    bool m_bRunHadFocus = false;
    std::atomic<bool> m_bHaveCapture{false};
    QString m_strSaveDir;           ///< where the last file was saved; the next dialog opens there
    QPointer<CViewerWnd> m_pViewer; ///< the one waveform viewer, while it is open
    QString m_strStartReplyDelay = QStringLiteral("30");
    bool m_bRepeat = false;       ///< the menu's check "連続取り込み"
    bool m_bRepeating = false;    ///< a repetition is under way
    bool m_bRepeatEnding = false; ///< Stop pressed during it: end after this capture
    bool m_bRepeatNext = false;   ///< OnRun is starting the next capture of a repetition
    /// The run under way belongs to a repetition: its packet warnings do not wait for the user.
    std::atomic<bool> m_bRunRepeats{false};
    int m_nRepeatWarnings = 0;    ///< packet warnings since the repetition began
    COpenFailures m_openFailures; ///< why listed ports could not be opened at the last search
};

} // namespace quillon
