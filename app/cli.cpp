// quillon-cli's commands: the same discovery, settings and capture run as the window.
#include "app/cli.h"

#include "app/cli_decode.h"
#include "app/cli_find.h"
#include "app/cli_info.h"
#include "app/cli_signals.h"

#include "capture/capture_bridge.h"
#include "capture/capture_run.h"
#include "capture/settings_word.h"
#include "device/discovery.h"
#include "display/timebase.h"
#include "display/waveform.h"
#include "file/capture_file.h"
#include "file/save_file.h"
#include "search/condition.h"
#include "search/matcher.h"
#include "session/analyzer_start.h"
#include "session/capture_core.h"

#include <QByteArray>
#include <QImage>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <ostream>
#include <sys/stat.h>
#include <thread>

namespace quillon {

namespace {

constexpr const char* kProgram = "quillon-cli";
/// While the trigger is waited for, the state line is repeated this often.
constexpr std::chrono::seconds kWaitTellEvery{5};

/// "packets 5-6, samples 640-895" (the kept ones only).
std::string PacketsText(int first, int last) {
    std::string text = first == last
                           ? "packet " + std::to_string(first)
                           : "packets " + std::to_string(first) + "-" + std::to_string(last);
    const int firstSample = first * SampleStore::kFillStep;
    if (firstSample >= SampleStore::kSamplesPerCapture) {
        return text + (first == last ? ", which holds" : ", which hold") + " no kept sample";
    }
    const int lastSample =
        std::min((last + 1) * SampleStore::kFillStep, SampleStore::kSamplesPerCapture) - 1;
    return text + ", samples " + std::to_string(firstSample) + "-" + std::to_string(lastSample);
}

/// Messages of the link and the run, written to the error stream on the calling thread.
class CCliHost : public IAnalyzerHost, public ICaptureEvents {
public:
    CCliHost(std::ostream& err, std::chrono::milliseconds replyDelay)
        : m_err(err), m_replyDelay(replyDelay) {}
    std::chrono::milliseconds ReplyDelay() override { return m_replyDelay; }
    void ShowReply(const std::string& text) override { m_strLastReply = text; }
    /// The session's state line, when its phase changes (and every few seconds of a wait).
    void StateChanged(const SessionState& state) override {
        const bool tell = state.phase != m_lastTold.phase ||
                          (state.phase == SessionState::Phase::WaitingForTrigger &&
                           state.waited >= m_lastTold.waited + kWaitTellEvery);
        if (tell && state.phase != SessionState::Phase::Idle) {
            SessionState shown = state;
            shown.warnings = m_nIncidents; // the warnings of the whole command
            m_err << kProgram << ": " << StateText(shown, StateLanguage::English) << "\n";
            m_lastTold = state;
        }
    }
    void PacketIncident(const quillon::PacketIncident& incident) override {
        ++m_nIncidents;
        const std::string voided = PacketsText(incident.firstVoided, incident.lastVoided);
        if (incident.kind == PacketIncident::Kind::OutOfStep) {
            m_err << kProgram << ": warning: the reply to packet " << incident.packet
                  << " came later than it was waited for: no later reply can be matched with "
                     "its request; not received: "
                  << voided << "\n";
            return;
        }
        std::string line = PacketWarningText(incident.count);
        while (!line.empty() &&
               (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
            line.pop_back();
        }
        m_err << kProgram << ": warning: " << line << " (";
        if (incident.kind == PacketIncident::Kind::BytesAfter) {
            m_err << "bytes came after packet " << incident.packet << " was taken";
        } else if (incident.firstVoided < incident.packet) {
            m_err << "packet " << incident.packet << ", or the end of packet "
                  << incident.firstVoided << " ahead of it";
        } else {
            m_err << "packet " << incident.packet;
        }
        m_err << "; not received: " << voided << ")\n";
    }
    [[nodiscard]] const std::string& LastReply() const { return m_strLastReply; }
    [[nodiscard]] int Incidents() const { return m_nIncidents; }
    /// A new capture begins: its phases are told again.
    void NextCapture() { m_lastTold = SessionState{}; }

private:
    std::ostream& m_err;
    SessionState m_lastTold;
    std::chrono::milliseconds m_replyDelay;
    std::string m_strLastReply;
    int m_nIncidents = 0;
};

/// NAME.EXT -> NAME-007.EXT
std::string NumberedPath(const std::string& path, int n) {
    char number[16];
    std::snprintf(number, sizeof number, "-%03d", n);
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const auto at = hasExt ? dot : path.size();
    return path.substr(0, at) + number + path.substr(at);
}

/// Sets a flag once the time is up, unless disarmed first. Its own thread waits.
class CDeadline {
public:
    CDeadline(std::chrono::duration<double> wait, std::atomic<bool>& flag) {
        m_thread = std::thread([this, wait, &flag] {
            std::unique_lock lock(m_mutex);
            if (!m_cv.wait_for(lock, wait, [this] { return m_bDisarmed; })) {
                m_bExpired = true;
                flag = true;
            }
        });
    }
    ~CDeadline() { Disarm(); }
    CDeadline(const CDeadline&) = delete;
    CDeadline& operator=(const CDeadline&) = delete;

    /// Stops the clock; true when the time had run out before.
    bool Disarm() {
        {
            std::lock_guard lock(m_mutex);
            m_bDisarmed = true;
        }
        m_cv.notify_all();
        if (m_thread.joinable()) {
            m_thread.join();
        }
        return m_bExpired;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bDisarmed = false;
    bool m_bExpired = false;
    std::thread m_thread;
};

std::string Printable(const std::string& reply) {
    std::string out;
    for (const char c : reply) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

std::string LocalTimeText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[64] = {};
    if (::localtime_r(&now, &local) != nullptr) {
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    }
    return text;
}

/// Fails early when the output cannot be created, leaving nothing behind.
bool ProbeWritable(const std::string& path, std::string& error) {
    struct stat info {};
    const bool existed = ::stat(path.c_str(), &info) == 0;
    if (existed && S_ISDIR(info.st_mode)) {
        error = std::strerror(EISDIR);
        return false;
    }
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) {
        error = std::strerror(errno != 0 ? errno : EIO);
        return false;
    }
    std::fclose(file);
    if (!existed) {
        std::remove(path.c_str());
    }
    return true;
}

std::string PngBytes(const CaptureData& data, const SampleStore& store, const std::string& zoom) {
    QImage image(kViewWidth, kViewHeight, QImage::Format_RGB32);
    DrawWaveforms(image, store, zoom, data.rate);
    return EncodePng(image);
}

int RunList(std::ostream& out, std::ostream& err) {
    const PortList ports = ReadPortList();
    if (ports.empty()) {
        err << kProgram << ": no serial ports"
            << (std::getenv(kPortsVariable) != nullptr ? " (QUILLON_PORTS names none)" : "")
            << "\n";
    }
    for (const auto& port : ports) {
        out << port.name << "\t" << port.device << "\n";
    }
    return kCliOk;
}

/// The start-up: discovery (or the named port, asked who it is), then the reset and the arm
/// command with the window's pauses. The port is left open.
int StartAnalyzerFor(const CaptureOptions& options, CCaptureCore& core, CCliHost& host,
                     std::ostream& err) {
    CSerialPort& port = core.Port();
    CAnalyzerLink& link = core.Link();
    if (options.port.empty()) {
        err << kProgram << ": searching the serial ports for the analyzer\n";
        const PortList ports = ReadPortList();
        StartupHooks hooks;
        hooks.identified = [&](int n, bool identified) {
            if (!identified) {
                err << kProgram << ": COM" << n << " is not the analyzer (it answered \""
                    << Printable(host.LastReply()) << "\")\n";
            }
        };
        hooks.notFound = [&](const COpenFailures& failures) {
            for (const auto& line : failures.Lines()) {
                err << kProgram << ": " << line << "\n";
            }
            err << kProgram << ": no analyzer found among " << ports.size()
                << " listed port(s); check the cable, access to the port (group dialout) and "
                   "QUILLON_PORTS\n";
            return false;
        };
        bool found = false;
        hooks.identified = [&, told = hooks.identified](int n, bool identified) {
            told(n, identified);
            if (identified) {
                found = true;
                err << kProgram << ": analyzer found on COM" << n << " (" << port.DevicePath()
                    << ")\n";
            }
        };
        core.Start(ports, hooks);
        return found ? kCliOk : kCliNoAnalyzer;
    }
    std::string device = options.port;
    if (device.find('/') == std::string::npos) {
        device = DeviceForName(ReadPortList(), options.port);
        if (device.empty()) {
            err << kProgram << ": no port named " << options.port << " (see quillon-cli list)\n";
            return kCliNoAnalyzer;
        }
    }
    errno = 0;
    if (port.OpenPath(device, CSerialPort::kAnalyzerBaud) == 0) {
        const int error = errno;
        err << kProgram << ": cannot open " << device << ": "
            << (error == EWOULDBLOCK            ? "in use by another program"
                : error != 0 && error != ENOTTY ? std::strerror(error)
                                                : "not a serial port")
            << "\n";
        return kCliNoAnalyzer;
    }
    std::this_thread::sleep_for(kDiscoveryOpenPause);
    if (link.IdentifyDevice() != 1) {
        err << kProgram << ": " << device << " is not the analyzer (it answered \""
            << Printable(host.LastReply()) << "\")\n";
        port.Close();
        return kCliNoAnalyzer;
    }
    err << kProgram << ": analyzer on " << device << "\n";
    ResetAndArm(link);
    return kCliOk;
}

/// What one capture came to.
struct CliCaptureOutcome {
    int status = kCliOk;
    bool written = false; ///< its file was written (whole, perhaps with unknown samples)
    bool matched = false; ///< --until: it held a match (and was written)
};

/// One capture after the start-up: settings, trigger wait, download, the file. The port stays
/// open and the analyzer armed.
CliCaptureOutcome CaptureOnce(const CaptureOptions& options, const CaptureSettings& settings,
                              const std::string& path, CCaptureCore& core, SessionState state,
                              CCliHost& host, CCliSignals& interrupts, const DecodeRequest& decode,
                              std::ostream& out, std::ostream& err) {
    CaptureFlags& flags = core.Flags();
    if (!core.SendSettings(settings)) {
        err << kProgram << ": the analyzer is not taking commands (the settings did not go out)\n";
        core.Port().Close();
        return {kCliLinkLost};
    }

    err << kProgram << ": capturing at " << RateText(options.rate) << " per sample\n";
    std::optional<CDeadline> deadline;
    if (options.trigger) {
        err << kProgram << ": waiting for the trigger " << *options.trigger;
        if (options.timeoutSeconds > 0) {
            err << " (at most " << options.timeoutSeconds << " s)";
            deadline.emplace(std::chrono::duration<double>(options.timeoutSeconds),
                             flags.m_bCancel);
        }
        err << "\n";
    }
    core.ClearStore(); // each capture starts from an empty memory
    host.NextCapture();
    const CaptureOutcome captured = core.Capture(settings, state, host);
    const CaptureResult& result = captured.result;
    const SampleStore store = core.Store();
    const bool timedOut = deadline && deadline->Disarm();

    if (interrupts.Abandoned()) {
        err << kProgram << ": interrupted; the capture under way was not written\n";
        return {interrupts.AbandonStatus()};
    }
    // A first Ctrl+C ends the trigger wait as Stop does: the memory is downloaded as it is.
    const bool stoppedByUser = result.stopped && interrupts.EndRequested();
    if (options.trigger && !result.triggered && !result.linkLost && !stoppedByUser) {
        if (timedOut) {
            err << kProgram << ": no trigger within " << options.timeoutSeconds << " s\n";
            return {kCliTimeout};
        }
        err << kProgram << ": the analyzer stopped answering while waiting for the trigger\n";
        return {kCliLinkLost};
    }
    if (stoppedByUser) {
        err << kProgram
            << ": the trigger wait ended on Ctrl+C; the analyzer's memory was "
               "downloaded as it was\n";
    }
    int status = kCliOk;
    if (result.linkLost) {
        err << kProgram << ": the analyzer stopped answering during the capture\n";
        status = kCliLinkLost;
    }
    if (result.packetsAccepted == 0) {
        err << kProgram << ": no packet arrived whole; nothing written\n";
        return {kCliLinkLost};
    }
    if (result.lateReplies > 0) {
        err << kProgram << ": " << result.lateReplies
            << " packet(s) came after the fixed pause and were waited for\n";
    }
    // An incomplete capture is still written, its missing samples marked as unknown; the
    // exit status tells a script that it is not whole. Packets beyond the kept samples are
    // stored nowhere: their loss leaves the capture whole.
    const CaptureData& data = captured.data;
    if (data.MissingCount() > 0) {
        err << kProgram << ": incomplete download: " << result.packetsAccepted << " of "
            << kPacketsPerDownload << " packets received; " << data.MissingCount() << " of "
            << data.samples.size() << " samples are written as unknown\n";
        status = kCliLinkLost;
    } else if (result.packetsAccepted < kPacketsPerDownload) {
        err << kProgram << ": " << kPacketsPerDownload - result.packetsAccepted
            << " packet(s) beyond the kept samples were not received; the capture is whole\n";
    }
    bool matched = false;
    if (!options.until.empty()) {
        // Only a capture that holds a match is written; its matches go to standard output.
        const auto found = FindMatches(options.until, captured.capture);
        if (const auto* error = std::get_if<ConditionError>(&found)) {
            PrintConditionError("capture", options.until, *error, err);
            return {kCliBadArguments};
        }
        const auto& matches = std::get<std::vector<Match>>(found);
        if (matches.empty()) {
            return {status, false, false};
        }
        matched = true;
        for (const Match& m : matches) {
            PrintMatchLine(m, *captured.capture, nullptr, out);
        }
        SessionState foundState = state;
        foundState.foundIn = std::max(1, state.capture);
        err << kProgram << ": " << StateText(foundState, StateLanguage::English) << "\n";
    }
    std::string png;
    if (options.format == FileFormat::Png) {
        png = PngBytes(data, store, options.zoom);
        if (png.empty()) {
            err << kProgram << ": cannot encode the picture as PNG\n";
            return {kCliWriteFailed};
        }
    }
    {
        // An abandon waits for the file: it is either written whole or not at all.
        std::lock_guard fileLock(interrupts.FileLock());
        if (interrupts.Abandoned()) {
            err << kProgram << ": interrupted; the capture under way was not written\n";
            return {interrupts.AbandonStatus()};
        }
        std::string reason;
        const bool written =
            options.format == FileFormat::Png
                ? WriteWholeFile(path, png, reason)
                : WriteCaptureFile(path, *ToCapture(data), options.format, reason, LocalTimeText());
        if (!written) {
            err << kProgram << ": cannot write " << path << ": " << reason << "\n";
            return {kCliWriteFailed};
        }
    }
    err << kProgram << ": wrote " << path << " (" << data.samples.size() << " samples, "
        << RateText(options.rate) << " per sample)\n";
    if (!decode.decoders.empty()) {
        // Decoding cannot be cut short from here: Ctrl+C during it ends the command.
        interrupts.SetFinishable(nullptr);
        const int decoded = DecodeCapture(captured.capture, decode, out, err);
        interrupts.SetFinishable(&flags);
        return {status != kCliOk ? status : decoded, true, matched};
    }
    return {status, true, matched};
}

int RunCaptureCommand(const CliArgs& args, std::ostream& out, std::ostream& err) {
    // Before anything starts a thread (the decoders' library may): Ctrl+C and SIGTERM are
    // the command's own from here on.
    CCliSignals interrupts;
    const CaptureOptions& options = args.capture;
    DecodeRequest decode{args.decode, nullptr};
    if (!decode.decoders.empty()) {
        if (const int status = CheckDecodeRequest(decode, err); status != kCliOk) {
            return status;
        }
    }
    CaptureSettings settings;
    settings.rate = options.rate;
    settings.triggerMode = options.trigger.has_value();
    settings.trigPattern = options.trigger.value_or(kDefaultTrigPattern);
    settings.trigPos = options.trigPos;
    settings.fast = options.fast;
    settings.replyDelay = options.replyDelay;
    settings.untilCondition = options.until;
    settings.repeat = options.count.has_value() || !options.until.empty();
    settings.count = options.count.value_or(options.until.empty() ? 1 : 0);
    if (const auto problem = ValidateSettings(settings)) {
        if (problem->kind == SettingsProblem::Kind::Condition) {
            PrintConditionError("capture", options.until,
                                ConditionError{problem->offset, problem->message}, err);
        } else { // the options were checked: this would be a fault of the program
            err << kProgram << ": the settings cannot be sent to the analyzer\n";
        }
        return kCliBadArguments;
    }
    const bool hunting = !options.until.empty();
    const auto pathOf = [&options, hunting](int n) {
        return options.count && !hunting ? NumberedPath(options.output, n) : options.output;
    };
    std::string reason;
    if (!ProbeWritable(pathOf(1), reason)) {
        err << kProgram << ": cannot write " << pathOf(1) << ": " << reason << "\n";
        return kCliWriteFailed;
    }

    CCliHost host(err, options.replyDelay);
    CCaptureCore core(host);
    core.Link().SetFastReplies(options.fast);
    CaptureFlags& flags = core.Flags();
    if (const int status = StartAnalyzerFor(options, core, host, err); status != kCliOk) {
        return status;
    }
    // From here a first Ctrl+C finishes the capture under way, and no other starts.
    interrupts.SetFinishable(&flags);
    const int count = settings.count;
    int worst = kCliOk;
    int done = 0;
    bool matched = false;
    for (int n = 1; (count == 0 || n <= count) && !interrupts.EndRequested() && !matched; ++n) {
        SessionState state;
        if (settings.repeat && (count != 1 || hunting)) {
            state.capture = n;
            state.captures = count;
        }
        const CliCaptureOutcome outcome = CaptureOnce(options, settings, pathOf(n), core, state,
                                                      host, interrupts, decode, out, err);
        // An incomplete capture is written and told; a repetition goes on after it as long
        // as the analyzer answers.
        const bool goesOn = outcome.status == kCliLinkLost && (outcome.written || hunting) &&
                            core.Port().IsOpen() && !core.Port().IsHungUp();
        if (outcome.status != kCliOk && !goesOn) {
            interrupts.SetFinishable(nullptr);
            return outcome.status;
        }
        matched = outcome.matched;
        worst = std::max(worst, hunting && !matched ? kCliOk : outcome.status);
        done = n;
    }
    interrupts.SetFinishable(nullptr);
    if ((options.count || hunting) && host.Incidents() > 0) {
        err << kProgram << ": " << host.Incidents() << " packet warning(s) in " << done
            << " capture(s)\n";
    }
    if ((options.count || hunting) && interrupts.EndRequested()) {
        err << kProgram << ": interrupted after " << done << " capture(s)\n";
    }
    if (hunting && !matched) {
        err << kProgram << ": no match of '" << options.until << "' in " << done
            << " capture(s); nothing written\n";
        return kCliNoMatch;
    }
    return worst;
}

} // namespace

int RunCliCommand(const CliArgs& args, std::ostream& out, std::ostream& err) {
    switch (args.command) {
    case CliCommand::List:
        return RunList(out, err);
    case CliCommand::Capture:
        return RunCaptureCommand(args, out, err);
    case CliCommand::Info:
        return RunInfoCommand(args, out, err); // capture files: app/cli_info.cpp
    case CliCommand::Decode:
        return RunDecodeCommand(args, out, err);
    case CliCommand::Decoders:
        return RunDecodersCommand(out, err);
    case CliCommand::Find:
        return RunFindCommand(args, out, err); // app/cli_find.cpp
    }
    return kCliBadArguments;
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const CliArgs parsed = ParseCliArgs(args, out, err);
    if (parsed.exitStatus) {
        return *parsed.exitStatus;
    }
    return RunCliCommand(parsed, out, err);
}

} // namespace quillon
