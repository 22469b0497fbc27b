// RunCapture: one capture run after the settings were sent, as the worker thread does it.
#pragma once

#include "capture/capture_data.h"
#include "capture/download_ledger.h"
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
    /// The trigger wait asks for the trigger once more (polls: this one included).
    virtual void TriggerPolled(int /*polls*/) {}
    /// Packet index (0 .. 63) of the download is about to be asked for.
    virtual void PacketRequested(int /*index*/) {}
    /// Redraw the view from the store (the run has released the store's lock). Not called
    /// when no packet of the run was received: there is nothing new to show.
    virtual void Redraw() {}
    /// The port went dead during the run; called once, before the run ends.
    virtual void ReportLinkLost() {}
    /// The analyzer stopped taking commands during the run; called once, before it ends.
    virtual void ReportNotTakingCommands() {}
    /// Packets of the download are not received (see CDownloadLedger); called as soon as it
    /// is known, while the download goes on after it returns. A single run of the window
    /// waits here until the user has seen the warning; a repeated one does not. While no
    /// packet of the run has come whole, only the first incident is reported: an analyzer
    /// that answers nothing is told once, not once per packet.
    virtual void ReportPacketIncident(const PacketIncident& /*incident*/) {}
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
    /// Packet warnings and out-of-step reports made to the host.
    int packetIncidents = 0;
    /// Packets whose reply came whole only after the fixed pause (and was waited for).
    int lateReplies = 0;
    /// A reply came later than the link waited: the packets from there on are not received.
    bool outOfStep = false;
    /// Bit k: packet k of this download is received: it holds what the analyzer sent for its
    /// samples. The store's places of the others hold the bytes they held before the run.
    std::bitset<kPacketsPerDownload> received;
};

inline constexpr std::chrono::milliseconds kDrawPause = 50ms;

/// Packets that hold kept samples (0 .. 4031): packet 31 holds the last 64 of them.
inline constexpr int kKeptPackets =
    (SampleStore::kSamplesPerCapture + SampleStore::kFillStep - 1) / SampleStore::kFillStep;

/// The trigger wait (if asked), "DLD\r", 64 packet requests into the store, 50 ms, redraw,
/// "CAP\r", RunFinished. The store is written under storeLock, packet by packet; at the end
/// the places of packets that are not received get their earlier bytes back.
CaptureResult RunCapture(CAnalyzerLink& link, SampleStore& store, std::mutex& storeLock,
                         CaptureFlags& flags, ICaptureHost& host);

/// Every packet that holds kept samples was received: the capture is whole.
[[nodiscard]] bool KeptSamplesReceived(const CaptureResult& result);

/// The capture a finished run left in the store: its samples at rate, which of them the run
/// received (from result.received), and, when the run waited for the trigger and got it, the
/// trigger's sample from the trigger position text ("00".."11"). Pure; any thread.
CaptureData CaptureFromRun(const SampleStore& store, int rate, const CaptureResult& result,
                           std::string_view trigPos);

} // namespace quillon
