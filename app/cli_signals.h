// CCliSignals: Ctrl+C and SIGTERM for quillon-cli capture.
//
// While a capture can finish (settings sent, trigger wait, download, file written, and the
// gaps between repeated captures) the first Ctrl+C finishes it: a trigger wait ends as Stop
// does, the capture under way is downloaded and written, and no further capture starts. A
// second Ctrl+C, or SIGTERM at any time, abandons the command: the capture under way is
// cancelled and not written, and the command ends with 130 (143 for SIGTERM). At any other
// stage (searching the analyzer, decoding) the first Ctrl+C abandons at once. Files already
// written stay whole: an abandon waits for a file being written.
//
// The signals are blocked in every thread of the command and taken by a thread of its own, so
// that nothing the command loads (the decoders' interpreter) can swallow them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

namespace quillon {

struct CaptureFlags;

/// Exit statuses of an abandoned command: 128 + the signal.
inline constexpr int kInterruptedStatus = 128 + SIGINT;
inline constexpr int kTerminatedStatus = 128 + SIGTERM;

class CCliSignals {
public:
    /// Blocks SIGINT and SIGTERM in the calling thread (and so in every thread it starts
    /// later) and starts watching them. Construct before any other thread is started.
    CCliSignals();
    /// Stops watching and unblocks the signals again.
    ~CCliSignals();
    CCliSignals(const CCliSignals&) = delete;
    CCliSignals& operator=(const CCliSignals&) = delete;

    /// The flags of the captures that can finish from now on; nullptr: none (a first Ctrl+C
    /// abandons the command). Any thread.
    void SetFinishable(CaptureFlags* flags);
    /// A first Ctrl+C asked to finish: no further capture is to start.
    [[nodiscard]] bool EndRequested() const { return m_bEndRequested; }
    /// A second Ctrl+C or SIGTERM: the capture under way is not to be written.
    [[nodiscard]] bool Abandoned() const { return m_bAbandoned; }
    /// The exit status of an abandoned command: kInterruptedStatus or kTerminatedStatus.
    [[nodiscard]] int AbandonStatus() const { return m_nStatus; }
    /// Held while an output file is written; an abandon that cannot wait for the command to
    /// return ends the process only once it can take this lock.
    [[nodiscard]] std::mutex& FileLock() { return m_fileLock; }

private:
    void Watch();
    void Abandon(int status);
    /// Ends the process at once (after the file being written, if any, is whole).
    [[noreturn]] void Exit(int status);

    sigset_t m_signals{};
    sigset_t m_oldMask{};
    std::mutex m_mutex; ///< m_pFlags, m_bDone
    std::condition_variable m_done;
    CaptureFlags* m_pFlags = nullptr;
    bool m_bDone = false;
    std::atomic<bool> m_bEndRequested{false};
    std::atomic<bool> m_bAbandoned{false};
    std::atomic<int> m_nStatus{0};
    std::mutex m_fileLock;
    std::thread m_thread;
};

} // namespace quillon
