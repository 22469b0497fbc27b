// CCaptureSession: the analyzer as the program's windows drive it. It owns the port, the link,
// the capture memory, the capture worker and the run state (single capture, repetition, count,
// "until" condition), and tells what it does through signals. The window, the viewer's capture
// bar and the program start drive it; the toolkit-free part is CCaptureCore.
#pragma once

#include "session/capture_core.h"

#include <QObject>
#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace quillon {

/// A warning the session has for the user.
struct SessionWarning {
    enum class Kind {
        Packet,            ///< incident: a packet warning
        LinkLost,          ///< the port went dead during the run
        NotTakingCommands, ///< the analyzer takes no bytes
        Condition,         ///< the "until" condition does not fit the capture (text: why)
    };
    Kind kind = Kind::Packet;
    PacketIncident incident;
    /// Packet: the warnings since the run (or repetition) began, this one included.
    int count = 0;
    /// The run waits until the receivers of Warning have returned (a single capture's box);
    /// otherwise it goes on (a repetition's packet warnings).
    bool waits = false;
    std::string text; ///< Condition: the reason
};

/// GUI thread only, except where said.
class CCaptureSession : public QObject, public IAnalyzerHost {
    Q_OBJECT
public:
    explicit CCaptureSession(QObject* parent = nullptr);
    /// Cancels a capture under way, waits for its worker, closes the port.
    ~CCaptureSession() override;

    [[nodiscard]] CSerialPort& Port() { return m_core.Port(); }
    [[nodiscard]] const CSerialPort& Port() const { return m_core.Port(); }
    [[nodiscard]] CaptureFlags& Flags() { return m_core.Flags(); }

    /// Where the reply wait comes from and where the identification reply goes (the window's
    /// hidden fields); nullptr: the settings' reply wait, the reply kept nowhere.
    void SetReplyHost(IAnalyzerHost* host) { m_pReplyHost = host; }
    /// What the start-up does when nothing answers and which defaults it writes.
    void SetStartupHooks(StartupHooks hooks) { m_startup = std::move(hooks); }
    /// The settings of the next Run (and of each capture of a repetition); nullopt: none can
    /// be sent (the source has told the user why).
    void SetSettingsSource(std::function<std::optional<CaptureSettings>()> source) {
        m_settingsSource = std::move(source);
    }

    /// Discovery and the device start-up (the calling thread waits). The COM number found,
    /// or -1. Not during a capture.
    int StartDevice();
    /// Closes the port and starts the device again; emits Rescanned. False during a capture.
    bool Rescan();
    /// The COM number of the analyzer found by the last start-up, or -1.
    [[nodiscard]] int AnalyzerCom() const { return m_nCom; }

    enum class StartResult { Started, Busy, Invalid, NotTakingCommands, NoWorker };
    /// Sends the settings (200 ms, on this thread) and starts the capture worker: one capture,
    /// or with settings.repeat / untilCondition a repetition.
    StartResult Start(const CaptureSettings& settings);
    /// Start with the settings source's settings and the session's repeat and fast choices.
    StartResult Run();
    /// Run, repeated until a capture holds a match of condition (then the repetition ends).
    StartResult RunUntil(const std::string& condition);
    /// Stop: ends a trigger wait, and a repetition after the capture under way. Sets the stop
    /// request also when no capture runs (the next trigger wait then ends after one poll).
    void Stop();
    /// The owner is going away: the capture under way ends at once, no repetition follows.
    void Cancel();

    [[nodiscard]] bool IsCapturing() const { return m_worker.joinable(); }
    /// From Start until the last capture of a repetition (or the single one) has ended.
    [[nodiscard]] bool IsBusy() const { return m_bBusy; }
    [[nodiscard]] bool IsRepeating() const { return m_bRepeating; }

    /// Repeated capture: the next Run repeats; off during a repetition ends it after the
    /// capture under way.
    void SetRepeat(bool bRepeat);
    [[nodiscard]] bool IsRepeat() const { return m_bRepeat; }
    /// Fast download, from the next command on.
    void SetFastDownload(bool bFast);
    [[nodiscard]] bool IsFastDownload() const { return m_core.Link().IsFastReplies(); }
    /// The analyzer's trigger mode for the next capture.
    void SetTriggerMode(bool bOn) { m_core.Flags().m_bTriggerMode = bOn ? 1 : 0; }

    [[nodiscard]] const SessionState& State() const { return m_state; }
    /// A consistent copy of the capture memory. Any thread.
    [[nodiscard]] SampleStore Store() const { return m_core.Store(); }
    /// The last capture a run left that received at least one packet; empty before.
    [[nodiscard]] const CaptureData& LastCapture() const { return m_lastCapture; }
    [[nodiscard]] bool HasCapture() const { return m_bHaveCapture; }
    [[nodiscard]] const CaptureResult& LastResult() const { return m_lastResult; }
    /// The settings the capture under way (or the last one) was started with.
    [[nodiscard]] const CaptureSettings& Settings() const { return m_settings; }

    // IAnalyzerHost (GUI thread: identification and reset run there)
    std::chrono::milliseconds ReplyDelay() override;
    void ShowReply(const std::string& text) override;

signals:
    void StateChanged(const quillon::SessionState& state);
    /// Busy: from Start on; not busy: the single capture or the repetition has ended.
    void BusyChanged(bool bBusy);
    /// The capture memory holds new samples to draw.
    void Redraw();
    /// A capture has ended (each one of a repetition), before the next one starts; capture is
    /// null when no packet came.
    void CaptureReady(const quillon::CapturePtr& capture);
    void Warning(const quillon::SessionWarning& warning);
    void RepeatChanged(bool bRepeat);
    void FastDownloadChanged(bool bFast);
    /// After Rescan: the COM number found, or -1.
    void Rescanned(int nCom);

protected:
    bool event(QEvent* event) override;

private:
    class CWorkerEvents;
    /// The settings of the next run: the source's (the window's fields), else the last ones.
    [[nodiscard]] std::optional<CaptureSettings> NextSettings() const;
    void RunWorker(CaptureSettings settings, SessionState state);
    void OnCaptureDone(const CaptureOutcome& outcome);
    /// Checks the until condition against capture; true when it matched.
    bool MatchesUntil(const CapturePtr& capture);
    [[nodiscard]] bool RepeatGoesOn() const;
    void EndRun();
    /// Worker thread: hands warning to the GUI thread; waits for it when it says so.
    void HandOverWarning(const SessionWarning& warning);
    void AcknowledgeWarning(std::uint64_t ticket);
    void SetState(const SessionState& state);

    IAnalyzerHost* m_pReplyHost = nullptr;
    CCaptureCore m_core;
    StartupHooks m_startup;
    std::function<std::optional<CaptureSettings>()> m_settingsSource;
    std::thread m_worker;
    CaptureSettings m_settings;
    SessionState m_state;
    int m_nCom = -1;
    bool m_bBusy = false;
    bool m_bRepeat = false;
    bool m_bRepeating = false;
    bool m_bRepeatEnding = false;
    bool m_bRepeatNext = false;
    bool m_bHaveCapture = false;
    CaptureData m_lastCapture;
    CaptureResult m_lastResult;

    // A warning that waits: the worker sleeps until the GUI thread has shown it or Cancel.
    std::mutex m_gateMutex;
    std::condition_variable m_gate;
    std::uint64_t m_nWarningsPosted = 0; ///< worker
    std::uint64_t m_nWarningsSeen = 0;   ///< under m_gateMutex
};

} // namespace quillon
