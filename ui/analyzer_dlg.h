// CAnalyzerDlg: the main window; owns the port, the capture memory and every control.
#pragma once

#include "capture/capture_run.h"
#include "capture/export.h"
#include "capture/sample_store.h"
#include "device/analyzer_link.h"
#include "device/serial_port.h"

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
    void SendSettings(const char* word) { m_link.SendSettings(word); }
    int PollTrigger() { return m_link.PollTrigger(); }
    void StartDownload() { m_link.StartDownload(); }
    int RequestPacket(unsigned char* packet) { return m_link.RequestPacket(packet); }

    // Capture run.
    void OnRun();
    void OnStop();
    void OnTriggerMode();
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

    /// The last capture as a value (all 4032 samples at the rate it was taken at).
    CaptureData CurrentCapture() const;
    /// Opens the waveform viewer on the current capture, or raises the one already open.
    void OnOpenViewer();
    [[nodiscard]] CViewerWnd* Viewer() const;
    /// A consistent copy of the capture memory and the rate it was taken at.
    SampleStore SnapshotStore() const;
    [[nodiscard]] int CaptureRate() const { return m_nCaptureRate; }
    /// The picture the waveform area shows.
    QImage ViewImage() const;
    // Export.
    /// Asks for a file (VCD, CSV or PNG; preferred is the filter offered first) and saves
    /// the last capture there. GUI thread; Ctrl+S and the context menu call it.
    void OnSaveAs(ExportFormat preferred = ExportFormat::Vcd);
    /// Saves the last capture (VCD, CSV) or the view (PNG) to path, the format following
    /// its extension. Tells the user in a box when there is nothing to save yet or the file
    /// cannot be written; true when written. GUI thread.
    bool SaveCapture(const QString& path);
    /// True once a run has downloaded at least one whole packet. Any thread.
    [[nodiscard]] bool HasCapture() const { return m_bHaveCapture.load(); }

    /// Messages go to standard error and are not shown (unattended runs).
    void SetUnattended(bool bUnattended) { m_bUnattended = bUnattended; }

    /// Shows a warning box captioned with the application's name; GUI thread.
    void MessageBoxWarning(const QString& text);

signals:
    void CaptureFinished();
    void MessageShown(const QString& text);

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void contextMenuEvent(QContextMenuEvent* event) override;

    // IAnalyzerHost
    std::chrono::milliseconds ReplyDelay() override;
    void ShowReply(const std::string& text) override;
    void ShowPacketWarning(const std::string& text) override;
    // ICaptureHost
    void Redraw() override { DrawWaveforms(); }
    void ReportLinkLost() override;
    void RunFinished() override;

private:
    void BindControls();
    void SetRate(int rate);
    void WarnFromWorker(const QString& text);
    /// Any thread: runs work on the GUI thread, or never if the window goes first.
    void PostToGui(std::function<void()> work);
    void OnCaptureThreadDone();
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
};

} // namespace quillon
