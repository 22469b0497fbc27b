// Ctrl+C and SIGTERM taken by a thread of their own.
#include "app/cli_signals.h"

#include "capture/capture_run.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

namespace quillon {

namespace {

using namespace std::chrono_literals;

// How often the watch looks whether the command has ended.
constexpr std::chrono::milliseconds kSignalPoll = 100ms;
// A cancelled capture ends within a pause slice; a command that has not returned by then is in
// something that cannot be cancelled (a decoder) and is ended.
constexpr std::chrono::milliseconds kAbandonGrace = 1000ms;

/// One line to standard error in one write, from any thread.
void Say(const char* text) {
    [[maybe_unused]] const auto n = ::write(STDERR_FILENO, text, std::strlen(text));
}

} // namespace

CCliSignals::CCliSignals() {
    sigemptyset(&m_signals);
    sigaddset(&m_signals, SIGINT);
    sigaddset(&m_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &m_signals, &m_oldMask);
    m_thread = std::thread([this] { Watch(); });
}

CCliSignals::~CCliSignals() {
    {
        std::lock_guard lock(m_mutex);
        m_bDone = true;
    }
    m_done.notify_all();
    m_thread.join();
    pthread_sigmask(SIG_SETMASK, &m_oldMask, nullptr);
}

void CCliSignals::SetFinishable(CaptureFlags* flags) {
    std::lock_guard lock(m_mutex);
    m_pFlags = flags;
    if (flags != nullptr && m_bAbandoned) {
        flags->m_bCancel = true; // abandoned before this capture began: it does not begin
    }
}

void CCliSignals::Watch() {
    const timespec poll{0, std::chrono::nanoseconds(kSignalPoll).count()};
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_bDone) {
                return;
            }
        }
        const int signal = sigtimedwait(&m_signals, nullptr, &poll);
        if (signal < 0) {
            continue;
        }
        if (signal == SIGINT && !m_bEndRequested && !m_bAbandoned) {
            std::lock_guard lock(m_mutex);
            if (m_pFlags != nullptr) {
                m_bEndRequested = true;
                m_pFlags->m_bStopRequest = 1; // a trigger wait ends as Stop ends it
                Say("quillon-cli: interrupted: the capture under way finishes (a trigger wait "
                    "ends as Stop does); Ctrl+C again abandons it\n");
                continue;
            }
        }
        Abandon(signal == SIGTERM ? kTerminatedStatus : kInterruptedStatus);
    }
}

void CCliSignals::Abandon(int status) {
    if (m_bAbandoned) {
        Exit(m_nStatus); // asked again while the capture winds down: no more waiting
    }
    m_nStatus = status; // before the flag: whoever sees the flag sees the status
    m_bAbandoned = true;
    std::unique_lock lock(m_mutex);
    if (m_pFlags == nullptr) {
        lock.unlock();
        Exit(status);
    }
    // The capture run sees the cancel within a pause slice and the command returns by itself.
    m_pFlags->m_bCancel = true;
    if (!m_done.wait_for(lock, kAbandonGrace, [this] { return m_bDone; })) {
        lock.unlock();
        Exit(status);
    }
}

void CCliSignals::Exit(int status) {
    std::lock_guard file(m_fileLock); // a file being written is finished first
    Say(status == kTerminatedStatus ? "quillon-cli: terminated\n" : "quillon-cli: interrupted\n");
    std::_Exit(status);
}

} // namespace quillon
