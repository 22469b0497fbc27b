// CCaptureCore: the analyzer's port, link, capture memory and run flags, and one capture at a
// time on the calling thread. The window's session runs it on its worker; quillon-cli runs it
// on its main thread. No toolkit.
#pragma once

#include "capture/capture.h"
#include "capture/capture_data.h"
#include "capture/capture_run.h"
#include "capture/sample_store.h"
#include "session/analyzer_start.h"
#include "session/capture_settings.h"
#include "session/session_state.h"

#include <mutex>

namespace quillon {

/// What a capture tells while it runs; called on the thread that runs it.
class ICaptureEvents {
public:
    virtual ~ICaptureEvents() = default;
    /// The phase changed, a packet was asked for, a second of the trigger wait passed, or a
    /// warning was counted.
    virtual void StateChanged(const SessionState& /*state*/) {}
    /// A packet warning (state.warnings already counts it).
    virtual void PacketIncident(const PacketIncident& /*incident*/) {}
    /// Packets were received: the capture memory holds something new to draw.
    virtual void Redraw() {}
    virtual void LinkLost() {}
    virtual void NotTakingCommands() {}
};

/// One capture as it ended.
struct CaptureOutcome {
    CaptureResult result;
    /// The samples it left, which of them it received, its rate and trigger; empty (and
    /// capture null) when no packet came whole.
    CaptureData data;
    CapturePtr capture;
    SessionState state; ///< the last state it reported (warnings counted)
};

class CCaptureCore {
public:
    /// host: the reply wait and the identification reply's text (the window's fields).
    explicit CCaptureCore(IAnalyzerHost& host);
    CCaptureCore(const CCaptureCore&) = delete;
    CCaptureCore& operator=(const CCaptureCore&) = delete;

    [[nodiscard]] CSerialPort& Port() { return m_port; }
    [[nodiscard]] const CSerialPort& Port() const { return m_port; }
    [[nodiscard]] CAnalyzerLink& Link() { return m_link; }
    [[nodiscard]] const CAnalyzerLink& Link() const { return m_link; }
    [[nodiscard]] CaptureFlags& Flags() { return m_flags; }

    /// Closes the port and runs the start-up (StartAnalyzer). The COM number found, or -1.
    int Start(const PortList& ports, const StartupHooks& hooks);

    /// "SD" with the settings' word (200 ms). False when it did not go out because the line
    /// takes no bytes: a capture now would use the old settings. A closed or hung-up port
    /// sends nothing and gives true (the capture then tells). settings passed ValidateSettings.
    bool SendSettings(const CaptureSettings& settings);

    /// One capture after SendSettings: trigger wait (when settings.triggerMode), download, 50 ms,
    /// redraw, "CAP\r". state: what to count on from (capture number, warnings so far).
    CaptureOutcome Capture(const CaptureSettings& settings, SessionState state,
                           ICaptureEvents& events);

    /// A consistent copy of the capture memory. Any thread.
    [[nodiscard]] SampleStore Store() const;
    /// Zeros the capture memory (a fresh one for each capture of quillon-cli).
    void ClearStore();

private:
    CSerialPort m_port;
    CAnalyzerLink m_link;
    CaptureFlags m_flags;
    mutable std::mutex m_storeLock; ///< m_store only
    SampleStore m_store;
};

} // namespace quillon
