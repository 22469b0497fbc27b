// RunCapture: one capture run after the settings were sent, as the worker thread does it.
#pragma once

#include "capture/capture_data.h"
#include "capture/sample_store.h"
#include "device/analyzer_link.h"

#include <atomic>
#include <bitset>
#include <mutex>
#include <string_view>

namespace quillon {

/// What the run hands back to its owner. Called on the worker thread.
class ICaptureHost {
public:
    virtual ~ICaptureHost() = default;
    /// Redraw the view from the store (the run has released the store's lock).
    virtual void Redraw() {}
    /// The port went dead during the run; called once, before the run ends.
    virtual void ReportLinkLost() {}
    /// The analyzer stopped taking commands during the run; called once, before it ends.
    virtual void ReportNotTakingCommands() {}
    /// The last step of a run: Run may be enabled again.
    virtual void RunFinished() {}
};

/// Flags the UI thread shares with the worker.
struct CaptureFlags {
    std::atomic<int> m_bTriggerMode{0};
    std::atomic<int> m_bStopRequest{0};
    std::atomic<bool> m_bCancel{0}; ///< the window is closing: end the run at once
};

/// Counts of what a run did, for tools and tests.
struct CaptureResult {
    int triggerPolls = 0;
    bool triggered = false;
    bool stopped = false;
    int packetsAccepted = 0;
    int packetsRequested = 0;
    bool linkLost = false;
    bool notTakingCommands = false; ///< a command could not be written whole: the run stopped
    bool cancelled = false;
    /// Bit k: packet k of this download was accepted and stored. The store's places of the
    /// others still hold an earlier capture's bytes.
    std::bitset<kPacketsPerDownload> received;
};

inline constexpr std::chrono::milliseconds kDrawPause = 50ms;

/// The trigger wait (if asked), "DLD\r", 64 packet requests into the store, 50 ms, redraw,
/// "CAP\r", RunFinished. The store is written under storeLock, packet by packet.
CaptureResult RunCapture(CAnalyzerLink& link, SampleStore& store, std::mutex& storeLock,
                         CaptureFlags& flags, ICaptureHost& host);

/// The capture a finished run left in the store: its samples at rate, which of them the run
/// received (from result.received), and, when the run waited for the trigger and got it, the
/// trigger's sample from the trigger position text ("00".."11"). Pure; any thread.
CaptureData CaptureFromRun(const SampleStore& store, int rate, const CaptureResult& result,
                           std::string_view trigPos);

} // namespace quillon
