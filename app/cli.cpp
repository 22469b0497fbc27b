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

#include <QByteArray>
#include <QImage>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
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

#ifndef QUILLON_VERSION
#define QUILLON_VERSION ""
#endif

namespace quillon {

namespace {

constexpr const char* kProgram = "quillon-cli";
// The window's start-up pauses around the reset.
constexpr std::chrono::milliseconds kBeforeResetPause = 100ms;
constexpr std::chrono::milliseconds kAfterResetPause = 50ms;
constexpr double kDefaultTimeoutSeconds = 10.0;
constexpr double kMaxTimeoutSeconds = 1e6; // some 11 days: beyond that, surely a typing error
constexpr const char* kImmediatePattern = "0000000000000000";
constexpr const char* kDefaultTrigPos = "00";
constexpr const char* kGenType = "0";
constexpr int kMaxReplyDelayMs = 60'000;
constexpr int kMaxCount = 1'000'000;

constexpr const char* kUsage =
    "Usage: quillon-cli list\n"
    "       quillon-cli capture [options] -o FILE [-P DECODERS [-A ANNOTATIONS]]\n"
    "       quillon-cli decode FILE -P DECODERS [-A ANNOTATIONS] [--annotation-times]\n"
    "       quillon-cli decoders\n"
    "       quillon-cli find FILE CONDITION [-P DECODERS] [--json]\n"
    "       quillon-cli --help | --version\n"
    "\n"
    "Command-line front end of the QuillonLa16 16-channel USB logic analyzer.\n"
    "\n"
    "list       print the serial ports searched for the analyzer: name and device\n"
    "capture    find the analyzer (or use --port), reset it, send the settings, wait for\n"
    "           the trigger if a pattern is given, download 4032 samples, write FILE\n"
    "decode     decode a VCD or CSV file with protocol decoders (libsigrokdecode)\n"
    "decoders   list the installed protocol decoders: id and long name\n"
    "find       print where in a VCD or CSV file a condition holds, e.g. 'D3 high<50ns'\n"
    "           (quillon-cli find --help lists the conditions); exit 1 when nowhere\n"
    "\n"
    "Capture options:\n"
    "  -o, --output FILE    file to write; the format follows the extension:\n"
    "                       .vcd (value change dump), .csv (time_ns,D0..D15), .sr (sigrok\n"
    "                       session file, for PulseView and sigrok-cli), .png (the view)\n"
    "  --port COMn|PATH     use this port instead of searching COM0..COM99\n"
    "  --rate R             sample period: 20ns (default), 200ns, 2us or 20us\n"
    "  --trigger PATTERN    16 characters, D15 first: 0 low, 1 high, x any level;\n"
    "                       waits until the analyzer reports the trigger\n"
    "  --trigpos NN         trigger position 00 (default), 01, 10 or 11: the trigger lands\n"
    "                       at sample 0, 1008, 2016 or 3024\n"
    "  --timeout SECONDS    how long to wait for the trigger (default 10; 0 waits on)\n"
    "  --zoom LABEL         PNG only: 20ns/d 50ns/d 100ns/d 200ns/d 500ns/d 1us/d (default)\n"
    "                       2us/d 5us/d\n"
    "  --count N            N captures one after another into FILE numbered NAME-001.EXT,\n"
    "                       NAME-002.EXT, ...; 0 repeats until Ctrl+C\n"
    "  --fast               take each packet as soon as it is complete instead of after the\n"
    "                       fixed pause, and ask for the next one at once\n"
    "  --reply-delay MS     reply wait after the identification and reset commands\n"
    "                       (default 30), for an analyzer that answers more slowly\n"
    "\n"
    "Decoding (decode, and capture):\n"
    "  -P DECODERS          decoder stack: id:channel=Dn:option=value, stacked decoders\n"
    "                       after commas, e.g. uart:rx=D8:baudrate=921600,... or\n"
    "                       i2c:scl=D13:sda=D14\n"
    "  -A ANNOTATIONS       annotations to print: uart=rx-data (classes or rows, by ':')\n"
    "  --annotation-times   print start-end sample and time before each annotation\n"
    "\n"
    "Ctrl+C finishes the capture under way (a trigger wait ends as Stop ends it) and\n"
    "starts no other; a second Ctrl+C abandons it, as SIGTERM does.\n"
    "\n"
    "Environment:\n"
    "  QUILLON_PORTS=\"COM1=/dev/ttyACM0;COM2=/dev/ttyUSB0\" names the ports to search;\n"
    "  without it the machine's USB serial ports are listed as COM1, COM2, ...\n"
    "\n"
    "Exit status:\n"
    "  0  success\n"
    "  1  no analyzer found (or the named port is not the analyzer)\n"
    "  2  bad arguments, or an input file (info, decode) that cannot be read\n"
    "  3  the trigger did not come within the timeout\n"
    "  4  the output file could not be written\n"
    "  5  the analyzer stopped answering, or packets holding kept samples were not\n"
    "     received; what arrived is written, the missing samples as unknown (nothing\n"
    "     if no packet arrived)\n"
    "  6  a protocol decoder failed\n"
    "  130, 143  capture abandoned by a second Ctrl+C or by SIGTERM\n";

struct CaptureOptions {
    std::string port;
    int rate = 1;
    std::optional<std::string> trigger;
    std::string trigPos = kDefaultTrigPos;
    double timeoutSeconds = kDefaultTimeoutSeconds;
    std::string zoom;
    std::string output;
    FileFormat format = FileFormat::Vcd;
    std::optional<int> count; ///< set: numbered files; 0 repeats until interrupted
    bool fast = false;
    std::chrono::milliseconds replyDelay = kDefaultReplyDelay;
};

struct RateName {
    std::string_view option;
    std::string_view text;
    int rate;
};
constexpr RateName kRates[] = {
    {"20ns", "20 ns", 1}, {"200ns", "200 ns", 10}, {"2us", "2 us", 100}, {"20us", "20 us", 1000}};

std::string_view RateText(int rate) {
    for (const auto& r : kRates) {
        if (r.rate == rate) {
            return r.text;
        }
    }
    return "?";
}

bool IsPattern(const std::string& text) {
    return text.size() == static_cast<std::size_t>(kTrigPatternMaxLength) &&
           std::all_of(text.begin(), text.end(),
                       [](char c) { return c == '0' || c == '1' || c == 'x' || c == 'X'; });
}

bool IsTrigPos(const std::string& text) {
    return text.size() == static_cast<std::size_t>(kTrigPosMaxLength) &&
           std::all_of(text.begin(), text.end(), [](char c) { return c == '0' || c == '1'; });
}

std::optional<int> ParseCount(const std::string& text, int max) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < 0 || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> ParseSeconds(const std::string& text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || !(value >= 0) || value > kMaxTimeoutSeconds) {
        return std::nullopt;
    }
    return value;
}

/// Errors in the arguments: the text to print, or nothing when they are fine.
std::optional<std::string> ParseCaptureOptions(const std::vector<std::string>& args,
                                               CaptureOptions& options) {
    bool haveOutput = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        const auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) {
                return inlineValue;
            }
            if (i + 1 < args.size()) {
                return args[++i];
            }
            return std::nullopt;
        };
        if (name == "--fast" && !inlineValue) {
            options.fast = true;
            continue;
        }
        const bool known = name == "-o" || name == "--output" || name == "--port" ||
                           name == "--rate" || name == "--trigger" || name == "--trigpos" ||
                           name == "--timeout" || name == "--zoom" || name == "--count" ||
                           name == "--reply-delay";
        if (!known) {
            return name.rfind('-', 0) == 0 ? "unknown option '" + name + "'"
                                           : "unexpected argument '" + name + "'";
        }
        const auto text = value();
        if (!text) {
            return "option " + name + " needs a value";
        }
        if (name == "-o" || name == "--output") {
            const auto format = FileFormatForPath(*text);
            if (!format) {
                return "cannot tell the format of '" + *text +
                       "': the file name must end in .vcd, .csv, .sr or .png";
            }
            options.output = *text;
            options.format = *format;
            haveOutput = true;
        } else if (name == "--port") {
            if (text->empty()) {
                return std::string("--port needs a port name (COMn) or a device path");
            }
            options.port = *text;
        } else if (name == "--rate") {
            const auto* found = std::find_if(std::begin(kRates), std::end(kRates),
                                             [&](const RateName& r) { return r.option == *text; });
            if (found == std::end(kRates)) {
                return "--rate must be 20ns, 200ns, 2us or 20us, not '" + *text + "'";
            }
            options.rate = found->rate;
        } else if (name == "--trigger") {
            if (!IsPattern(*text)) {
                return "--trigger needs 16 characters of 0, 1 or x (D15 first), not '" + *text +
                       "'";
            }
            std::string pattern = *text;
            std::replace(pattern.begin(), pattern.end(), 'X', 'x');
            options.trigger = pattern;
        } else if (name == "--trigpos") {
            if (!IsTrigPos(*text)) {
                return "--trigpos must be 00, 01, 10 or 11, not '" + *text + "'";
            }
            options.trigPos = *text;
        } else if (name == "--timeout") {
            const auto seconds = ParseSeconds(*text);
            if (!seconds) {
                return "--timeout needs a number of seconds, not '" + *text + "'";
            }
            options.timeoutSeconds = *seconds;
        } else if (name == "--zoom") {
            bool valid = false;
            for (int p = kZoomMin; p <= kZoomMax; ++p) {
                valid = valid || ZoomLabelForPosition(p) == *text;
            }
            if (!valid) {
                return "--zoom must be one of 20ns/d 50ns/d 100ns/d 200ns/d 500ns/d 1us/d "
                       "2us/d 5us/d, not '" +
                       *text + "'";
            }
            options.zoom = *text;
        } else if (name == "--count") {
            options.count = ParseCount(*text, kMaxCount);
            if (!options.count) {
                return "--count needs a number of captures (0 repeats until Ctrl+C), not '" +
                       *text + "'";
            }
        } else if (name == "--reply-delay") {
            const auto ms = ParseCount(*text, kMaxReplyDelayMs);
            if (!ms) {
                return "--reply-delay needs milliseconds from 0 to " +
                       std::to_string(kMaxReplyDelayMs) + ", not '" + *text + "'";
            }
            options.replyDelay = std::chrono::milliseconds(*ms);
        }
    }
    if (!haveOutput) {
        return std::string("capture needs an output file: -o FILE");
    }
    if (options.zoom.empty()) {
        options.zoom = std::string(ZoomLabelForPosition(kZoomStart));
    }
    return std::nullopt;
}

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
class CCliHost : public IAnalyzerHost, public ICaptureHost {
public:
    CCliHost(std::ostream& err, std::chrono::milliseconds replyDelay)
        : m_err(err), m_replyDelay(replyDelay) {}
    std::chrono::milliseconds ReplyDelay() override { return m_replyDelay; }
    void ShowReply(const std::string& text) override { m_strLastReply = text; }
    void ReportPacketIncident(const PacketIncident& incident) override {
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

private:
    std::ostream& m_err;
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

/// Opens the analyzer on the named port or searches for it; the port is left open.
int ConnectAnalyzer(const CaptureOptions& options, CSerialPort& port, CAnalyzerLink& link,
                    CCliHost& host, std::ostream& err) {
    if (options.port.empty()) {
        err << kProgram << ": searching the serial ports for the analyzer\n";
        const PortList ports = ReadPortList();
        COpenFailures failures;
        const int com = DiscoverAnalyzer(
            ports, port, link,
            [&](int n, bool identified) {
                if (!identified) {
                    err << kProgram << ": COM" << n << " is not the analyzer (it answered \""
                        << Printable(host.LastReply()) << "\")\n";
                }
            },
            &failures);
        if (com < 0) {
            for (const auto& line : failures.Lines()) {
                err << kProgram << ": " << line << "\n";
            }
            err << kProgram << ": no analyzer found among " << ports.size()
                << " listed port(s); check the cable, access to the port (group dialout) and "
                   "QUILLON_PORTS\n";
            return kCliNoAnalyzer;
        }
        err << kProgram << ": analyzer found on COM" << com << " (" << port.DevicePath() << ")\n";
        return kCliOk;
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
    return kCliOk;
}

/// What one capture came to.
struct CaptureOutcome {
    int status = kCliOk;
    bool written = false; ///< its file was written (whole, perhaps with unknown samples)
};

/// One capture after the start-up: settings, trigger wait, download, the file. The port stays
/// open and the analyzer armed.
CaptureOutcome CaptureOnce(const CaptureOptions& options, const std::string& path,
                           CAnalyzerLink& link, CaptureFlags& flags, CCliHost& host,
                           CCliSignals& interrupts, const DecodeRequest& decode, std::ostream& out,
                           std::ostream& err) {
    const std::string word = ComposeSettingsWord(
        options.rate, options.trigPos, options.trigger.value_or(kImmediatePattern), kGenType);
    const auto framed = FrameSettingsWord(word);
    if (!framed) { // the options were checked: this would be a fault of the program
        err << kProgram << ": the settings word '" << Printable(word) << "' cannot be sent\n";
        return {kCliBadArguments};
    }
    if (!link.SendSettings(framed->data()) && link.Port().IsWriteStalled()) {
        err << kProgram << ": the analyzer is not taking commands (the settings did not go out)\n";
        link.Port().Close();
        return {kCliLinkLost};
    }
    flags.m_bTriggerMode = options.trigger ? 1 : 0;

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
    SampleStore store;
    std::mutex storeLock;
    const CaptureResult result = RunCapture(link, store, storeLock, flags, host);
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
    const CaptureData data = CaptureFromRun(store, options.rate, result, options.trigPos);
    if (data.MissingCount() > 0) {
        err << kProgram << ": incomplete download: " << result.packetsAccepted << " of "
            << kPacketsPerDownload << " packets received; " << data.MissingCount() << " of "
            << data.samples.size() << " samples are written as unknown\n";
        status = kCliLinkLost;
    } else if (result.packetsAccepted < kPacketsPerDownload) {
        err << kProgram << ": " << kPacketsPerDownload - result.packetsAccepted
            << " packet(s) beyond the kept samples were not received; the capture is whole\n";
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
        const int decoded = DecodeCapture(ToCapture(data), decode, out, err);
        interrupts.SetFinishable(&flags);
        return {status != kCliOk ? status : decoded, true};
    }
    return {status, true};
}

int RunCaptureCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    // Before anything starts a thread (the decoders' library may): Ctrl+C and SIGTERM are
    // the command's own from here on.
    CCliSignals interrupts;
    std::vector<std::string> rest = args;
    DecodeRequest decode;
    if (const auto problem = TakeDecodeOptions(rest, decode)) {
        err << kProgram << ": " << *problem << "\nTry 'quillon-cli --help'.\n";
        return kCliBadArguments;
    }
    if (!decode.decoders.empty()) {
        if (const int status = CheckDecodeRequest(decode, err); status != kCliOk) {
            return status;
        }
    }
    CaptureOptions options;
    if (const auto problem = ParseCaptureOptions(rest, options)) {
        err << kProgram << ": " << *problem << "\nTry 'quillon-cli --help'.\n";
        return kCliBadArguments;
    }
    const auto pathOf = [&options](int n) {
        return options.count ? NumberedPath(options.output, n) : options.output;
    };
    std::string reason;
    if (!ProbeWritable(pathOf(1), reason)) {
        err << kProgram << ": cannot write " << pathOf(1) << ": " << reason << "\n";
        return kCliWriteFailed;
    }

    CSerialPort port;
    CCliHost host(err, options.replyDelay);
    CAnalyzerLink link(port, host);
    link.SetFastReplies(options.fast);
    CaptureFlags flags;
    link.SetCancelFlag(&flags.m_bCancel);
    if (const int status = ConnectAnalyzer(options, port, link, host, err); status != kCliOk) {
        return status;
    }

    // The window's start-up and Run, in the same order and with the same pauses.
    std::this_thread::sleep_for(kBeforeResetPause);
    link.ResetDevice();
    std::this_thread::sleep_for(kAfterResetPause);
    link.ArmCapture();
    // From here a first Ctrl+C finishes the capture under way, and no other starts.
    interrupts.SetFinishable(&flags);
    const int count = options.count.value_or(1);
    int worst = kCliOk;
    int done = 0;
    for (int n = 1; (count == 0 || n <= count) && !interrupts.EndRequested(); ++n) {
        const CaptureOutcome outcome =
            CaptureOnce(options, pathOf(n), link, flags, host, interrupts, decode, out, err);
        // An incomplete capture is written and told; a repetition goes on after it as long
        // as the analyzer answers.
        const bool goesOn =
            outcome.status == kCliLinkLost && outcome.written && port.IsOpen() && !port.IsHungUp();
        if (outcome.status != kCliOk && !goesOn) {
            interrupts.SetFinishable(nullptr);
            return outcome.status;
        }
        worst = std::max(worst, outcome.status);
        done = n;
    }
    interrupts.SetFinishable(nullptr);
    if (options.count && host.Incidents() > 0) {
        err << kProgram << ": " << host.Incidents() << " packet warning(s) in " << done
            << " capture(s)\n";
    }
    if (options.count && interrupts.EndRequested()) {
        err << kProgram << ": interrupted after " << done << " capture(s)\n";
    }
    return worst;
}

} // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << kUsage;
        return kCliBadArguments;
    }
    const std::string& command = args.front();
    if (command == "info") {
        return RunInfoCommand(args, out, err); // capture files: app/cli_info.cpp
    }
    if (command == "find") {
        return RunFindCommand(args, out, err); // app/cli_find.cpp
    }
    const bool wantsHelp = std::any_of(
        args.begin(), args.end(), [](const std::string& a) { return a == "-h" || a == "--help"; });
    if (wantsHelp) {
        out << kUsage;
        return kCliOk;
    }
    if (command == "--version" || command == "-v") {
        out << kProgram << " " << QUILLON_VERSION << "\n";
        return kCliOk;
    }
    if (command == "list") {
        if (args.size() > 1) {
            err << kProgram << ": list takes no arguments\n";
            return kCliBadArguments;
        }
        return RunList(out, err);
    }
    if (command == "capture") {
        return RunCaptureCommand(args, out, err);
    }
    if (command == "decode") {
        return RunDecodeCommand(args, out, err);
    }
    if (command == "decoders") {
        return RunDecodersCommand(args, out, err);
    }
    err << kProgram << ": unknown command '" << command << "'\nTry 'quillon-cli --help'.\n";
    return kCliBadArguments;
}

} // namespace quillon
