// CAnalyzerEmulator: the analyzer on a pseudo-terminal, served by a thread of its own.
#pragma once

#include "emulator/analyzer_model.h"
#include "emulator/emulator_options.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quillon {

/// Start() creates a raw pseudo-terminal whose slave (SlavePath) the program opens like the
/// analyzer's serial port; a thread answers commands until Stop(). The program may close and
/// reopen the slave as often as it likes. Public methods may be called from any thread, but
/// Start and Stop not concurrently with each other.
class CAnalyzerEmulator {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kMaxLoggedCommands = 100'000;

    explicit CAnalyzerEmulator(EmulatorOptions options = {});
    ~CAnalyzerEmulator();
    CAnalyzerEmulator(const CAnalyzerEmulator&) = delete;
    CAnalyzerEmulator& operator=(const CAnalyzerEmulator&) = delete;

    /// Opens the pty (and the log file and link, if asked) and starts serving. False when
    /// any of that fails (nothing is left open). True at once when already running; after
    /// the hang-up fault it starts over on a new pty.
    bool Start();
    /// Ends the thread (within a poll round, even with replies still pending), closes the pty
    /// and the log, removes the link. Idempotent.
    void Stop();

    /// The slave device, e.g. /dev/pts/5; empty before Start.
    [[nodiscard]] const std::string& SlavePath() const { return m_strSlavePath; }
    /// When Start() ran; log times count from here.
    [[nodiscard]] Clock::time_point StartTime() const { return m_startTime; }

    struct LoggedCommand {
        std::string text; ///< the bytes of one command line including its '\r'
        Clock::time_point time;
    };
    /// The command lines received so far, in order (copy); the oldest are dropped past
    /// kMaxLoggedCommands so a long demo session does not grow without end.
    [[nodiscard]] std::vector<LoggedCommand> Commands() const;
    /// The capture of the last DLD (or first REQPK after an arm); nullopt before any.
    [[nodiscard]] std::optional<CaptureRecord> LastCapture() const;
    /// The settings last received (defaults before any).
    [[nodiscard]] AnalyzerSettings CurrentSettings() const;
    /// True once the hang-up fault has closed the line.
    [[nodiscard]] bool IsHungUp() const { return m_bHungUp.load(); }

private:
    struct PendingOutput {
        OutputChunk chunk;
        std::size_t sent = 0;
        std::optional<Clock::time_point> lineStart; // paced: when its first byte went out
    };

    void Serve();
    void ReadCommands(Clock::time_point now);
    void HandleLine(const std::string& line, Clock::time_point now);
    bool WriteDue(Clock::time_point now); // false: blocked, wait for POLLOUT
    /// Paced output: how many bytes of a chunk whose first byte started at lineStart have
    /// left the line by now, and when byte count n will have.
    [[nodiscard]] std::size_t BytesSentBy(Clock::time_point lineStart, Clock::time_point now) const;
    [[nodiscard]] Clock::time_point LineTimeOf(Clock::time_point lineStart, std::size_t n) const;
    void HangUp();
    void CloseAll();
    void LogLine(const std::string& text, Clock::time_point now);

    EmulatorOptions m_options;
    std::string m_strSlavePath;
    Clock::time_point m_startTime;
    int m_nMasterFd = -1;
    int m_nSlaveFd = -1; // held so the master never sees the program's close as a hang-up
    int m_nWakeReadFd = -1;
    int m_nWakeWriteFd = -1;
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, FileCloser> m_pLog;
    bool m_bLinkMade = false;
    std::thread m_thread;
    std::atomic<bool> m_bHungUp{false};

    // Serving thread only.
    std::unique_ptr<CAnalyzerModel> m_pModel;
    CCommandSplitter m_splitter;
    std::deque<PendingOutput> m_output;
    std::optional<Clock::time_point> m_nextWrite;      // when WriteDue has more to write
    Clock::time_point m_lineFreeAt;                    // paced: when the line has sent all so far
    std::optional<Clock::time_point> m_hangUpDeadline; // set once the fatal packet is out
    std::uint64_t m_nCopiedCaptureSerial = 0;

    mutable std::mutex m_mutex; // guards the copies below
    std::deque<LoggedCommand> m_commands;
    std::optional<CaptureRecord> m_lastCapture;
    AnalyzerSettings m_settings;
};

} // namespace quillon
