// quillon-cli's command line: every command with its options, its help and its exit statuses,
// defined once. The help text (and the manual page made from it) comes from these
// definitions. No toolkit: the quick quillon-cli and quillon-cli-full parse with the same code.
#pragma once

#include "capture/capture.h"
#include "device/protocol.h"
#include "file/capture_file.h"

#include <chrono>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

/// quillon-cli's exit statuses.
enum CliExit : int {
    kCliOk = 0,
    kCliNoAnalyzer = 1, ///< no port answered as the analyzer (or the named port did not)
    kCliNoMatch = 1,    ///< capture --until: no capture held a match
    kCliBadArguments = 2,
    kCliTimeout = 3,       ///< the trigger did not come within --timeout
    kCliWriteFailed = 4,   ///< the output file could not be written
    kCliLinkLost = 5,      ///< the analyzer stopped answering or sent an incomplete packet
    kCliDecoderFailed = 6, ///< a protocol decoder failed (or the decoding library did not start)
    kCliInterrupted = 130, ///< Ctrl+C (128 + SIGINT)
    kCliTerminated = 143,  ///< SIGTERM (128 + SIGTERM)
};

/// find answers as grep does.
inline constexpr int kFindMatched = 0;
inline constexpr int kFindNothing = 1;
inline constexpr int kFindTrouble = 2;

enum class CliCommand { List, Capture, Info, Decode, Decoders, Find };

/// capture's settings as given on the command line.
struct CaptureOptions {
    std::string port;
    int rate = 1; ///< sample period in units of 20 ns
    std::optional<std::string> trigger;
    std::string trigPos = "00";
    double timeoutSeconds = 10.0;
    std::string zoom; ///< PNG only: the time per division
    std::string output;
    FileFormat format = FileFormat::Vcd;
    std::optional<int> count; ///< set: numbered files; 0 repeats until interrupted
    std::string until;        ///< set: capture again until a capture holds a match
    bool fast = false;
    std::chrono::milliseconds replyDelay = kDefaultReplyDelay;
};

/// -P, -A and --annotation-times.
struct DecodeOptions {
    std::string decoders;    ///< -P argument; empty: no decoding
    std::string annotations; ///< -A argument; empty: every annotation
    bool times = false;      ///< --annotation-times
};

/// The command named and everything given for it, checked.
struct CliArgs {
    CliCommand command = CliCommand::List;
    std::string file; ///< info, decode, find
    CaptureOptions capture;
    DecodeOptions decode;             ///< capture, decode; find takes -P only
    std::optional<SamplePeriod> rate; ///< info --rate
    bool json = false;                ///< info, find
    std::string condition;            ///< find, its words joined by blanks
    std::optional<int> exitStatus;    ///< set: nothing to run, exit with it
};

/// Parses args (without the program name). Help and version go to out, a wrong argument to
/// err with the exit status set; otherwise the command to run.
CliArgs ParseCliArgs(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

/// "20 ns" for rate 1 (the sample period in units of 20 ns).
std::string_view RateText(int rate);

} // namespace quillon
