// quillon-cli's commands and options on CLI11, and the help made from them. A value is read
// and checked where its option is defined; a problem is kept and told after the parse, so
// that --help anywhere on the line still shows the help.
#include "app/cli_commands.h"

#include "capture/settings_word.h"
#include "display/timebase.h"
#include "file/safe_text.h"
#include "file/sample_rate.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <deque>
#include <functional>
#include <ostream>
#include <sstream>
#include <utility>

#ifndef QUILLON_VERSION
#define QUILLON_VERSION ""
#endif

namespace quillon {

namespace {

constexpr const char* kProgram = "quillon-cli";
constexpr double kMaxTimeoutSeconds = 1e6; // some 11 days: beyond that, surely a typing error
constexpr int kMaxReplyDelayMs = 60'000;
constexpr int kMaxCount = 1'000'000;
constexpr std::size_t kHelpWidth = 92;
constexpr std::size_t kOptionColumn = 24;

struct RateName {
    std::string_view option;
    std::string_view text;
    int rate;
};
constexpr RateName kRates[] = {
    {"20ns", "20 ns", 1}, {"200ns", "200 ns", 10}, {"2us", "2 us", 100}, {"20us", "20 us", 1000}};

/// What an exit status means, as the help says it.
struct ExitDoc {
    int status;
    std::string_view meaning;
};

// Wherever a command does not say otherwise.
constexpr ExitDoc kExitMeanings[] = {
    {kCliOk, "success"},
    {kCliNoAnalyzer, "no analyzer found (or the named port is not the analyzer)"},
    {kCliBadArguments, "bad arguments, or an input file (info, decode) that cannot be read"},
    {kCliTimeout, "the trigger did not come within the timeout"},
    {kCliWriteFailed, "the output file could not be written"},
    {kCliLinkLost, "the analyzer stopped answering, or packets holding kept samples were not "
                   "received; what arrived is written, the missing samples as unknown (nothing "
                   "if no packet arrived)"},
    {kCliDecoderFailed, "a protocol decoder failed"},
    {kCliInterrupted, "ended by Ctrl+C (capture: by a second one; the capture under way is not "
                      "written)"},
    {kCliTerminated, "ended by SIGTERM (capture: the capture under way is not written)"},
};

// The decoding commands end at once, whatever a decoder is doing.
constexpr std::string_view kEndedByCtrlC = "ended by Ctrl+C";
constexpr std::string_view kEndedBySigterm = "ended by SIGTERM";

std::string_view MeaningOf(int status) {
    for (const auto& e : kExitMeanings) {
        if (e.status == status) {
            return e.meaning;
        }
    }
    return {};
}

/// A command's exit statuses: the usual meaning of each, or its own.
std::vector<ExitDoc> Exits(std::initializer_list<int> statuses,
                           std::initializer_list<ExitDoc> own = {}) {
    std::vector<ExitDoc> docs;
    for (const int status : statuses) {
        const auto* mine = std::find_if(own.begin(), own.end(),
                                        [status](const ExitDoc& e) { return e.status == status; });
        docs.push_back(mine != own.end() ? *mine : ExitDoc{status, MeaningOf(status)});
    }
    return docs;
}

/// One command: its parser and what its help says beyond the options.
struct CommandDoc {
    CliCommand command;
    CLI::App* app;
    std::string synopsis; ///< after "quillon-cli "
    std::string notes;    ///< the command's own help, after its summary
    std::vector<ExitDoc> exits;
    /// Checks across options, after the parse: a problem, or nothing.
    std::function<std::optional<std::string>()> rule;
};

/// Reads an option's text into its field: the problem when it does not fit.
template <typename T>
using ReadText = std::function<std::optional<std::string>(const std::string&, T&)>;

/// A text that may be given once and not empty (-P, -A).
ReadText<std::string> TextOnce(const std::string& name) {
    return [name](const std::string& text, std::string& value) -> std::optional<std::string> {
        if (!value.empty()) {
            return name + " given twice; stack decoders with commas in one -P";
        }
        if (text.empty()) {
            return "option " + name + " needs a value";
        }
        value = text;
        return std::nullopt;
    };
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
    if (text.empty() || ec != std::errc() || ptr != end || !(value >= 0) ||
        value > kMaxTimeoutSeconds) {
        return std::nullopt;
    }
    return value;
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

std::string ZoomLabels() {
    std::string labels;
    for (int p = kZoomMin; p <= kZoomMax; ++p) {
        labels += (p > kZoomMin ? " " : "") + std::string(ZoomLabelForPosition(p));
    }
    return labels;
}

/// text in lines of at most width columns (longer words stay whole); '\n' breaks a line, and a
/// line that starts with a blank is kept as it is (a table).
std::vector<std::string> Wrap(std::string_view text, std::size_t width) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view source = text.substr(start, end - start);
        start = end + 1;
        if (!source.empty() && source.front() == ' ') {
            lines.emplace_back(source);
            continue;
        }
        std::string line;
        for (std::size_t from = 0; from <= source.size();) {
            const std::size_t to = std::min(source.find(' ', from), source.size());
            const std::string_view word = source.substr(from, to - from);
            from = to + 1;
            if (!line.empty() && line.size() + 1 + word.size() > width) {
                lines.push_back(line);
                line.clear();
            }
            line += (line.empty() ? "" : " ") + std::string(word);
        }
        lines.push_back(line);
    }
    return lines;
}

/// "  -o, --output FILE    text ..." with the text wrapped in the second column.
void PutEntry(std::ostream& out, const std::string& name, std::string_view text,
              std::size_t column) {
    std::string head = "  " + name;
    const auto lines = Wrap(text, kHelpWidth - column);
    if (head.size() + 2 > column) {
        out << head << "\n";
        head.clear();
    }
    for (const auto& line : lines) {
        head.resize(column, ' ');
        out << head << line << "\n";
        head.clear();
    }
}

/// "-o, --output FILE" as the help shows an option.
std::string OptionTitle(const CLI::Option& option) {
    std::string title;
    for (const auto& s : option.get_snames()) {
        title += (title.empty() ? "-" : ", -") + s;
    }
    for (const auto& l : option.get_lnames()) {
        title += (title.empty() ? "--" : ", --") + l;
    }
    if (option.get_type_size_max() > 0 && !option.get_type_name().empty()) {
        title += " " + option.get_type_name();
    }
    return title;
}

/// "  5  the analyzer ..." with the meaning wrapped under itself.
void PutExits(std::ostream& out, const std::vector<ExitDoc>& exits) {
    out << "\nExit status:\n";
    for (const auto& e : exits) {
        std::string head = "  " + std::to_string(e.status) + "  ";
        const std::size_t indent = head.size();
        for (const auto& line : Wrap(e.meaning, kHelpWidth - indent)) {
            out << head << line << "\n";
            head.assign(indent, ' ');
        }
    }
}

class CCliParser {
public:
    explicit CCliParser(CliArgs& args);
    CCliParser(const CCliParser&) = delete;
    CCliParser& operator=(const CCliParser&) = delete;

    void Parse(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

private:
    CommandDoc& AddCommand(CliCommand command, const std::string& name, const std::string& synopsis,
                           const std::string& summary);
    template <typename T>
    CLI::Option* Value(CLI::App& cmd, const std::string& names, const std::string& valueName,
                       T& field, const std::string& help, ReadText<T> read);
    CLI::Option* Flag(CLI::App& cmd, const std::string& names, bool& field,
                      const std::string& help);
    /// A positional argument; problem is told when it is missing.
    CLI::Option* Argument(CLI::App& cmd, const std::string& name, std::string& field,
                          const std::string& help, const std::string& problem);
    void AddDecodeOptions(CLI::App& cmd, DecodeOptions& decode);
    void DefineCommands();

    std::string Help(const CommandDoc* command) const;
    std::optional<std::string> ProblemAfterParse(const CommandDoc* command) const;
    void Fail(const CommandDoc* command, const std::string& problem, std::ostream& err);

    CliArgs& m_args;
    CLI::App m_app;
    std::deque<CommandDoc> m_commands; ///< stays in place as commands are added
    std::vector<std::pair<CLI::Option*, std::string>> m_needed;
    std::optional<std::string> m_strProblem; ///< the first value that did not fit
    std::vector<std::string> m_conditionWords;
};

CCliParser::CCliParser(CliArgs& args)
    : m_args(args),
      m_app("Command-line front end of the QuillonLa16 16-channel USB logic analyzer.", kProgram) {
    m_app.set_help_flag("-h,--help", "show this help and exit");
    m_app.set_version_flag("-v,--version", std::string(kProgram) + " " + QUILLON_VERSION,
                           "show the version and exit");
    // Arguments nobody takes are told in this program's words, after the parse.
    m_app.allow_extras();
    m_app.require_subcommand(0, 1);
    DefineCommands();
}

CommandDoc& CCliParser::AddCommand(CliCommand command, const std::string& name,
                                   const std::string& synopsis, const std::string& summary) {
    CLI::App* app = m_app.add_subcommand(name, summary);
    app->allow_extras();
    m_commands.push_back({command, app, synopsis, {}, {}, {}});
    return m_commands.back();
}

template <typename T>
CLI::Option* CCliParser::Value(CLI::App& cmd, const std::string& names,
                               const std::string& valueName, T& field, const std::string& help,
                               ReadText<T> read) {
    auto* option = cmd.add_option_function<std::string>(
        names,
        [this, &field, read](const std::string& text) {
            if (auto problem = read(text, field); problem && !m_strProblem) {
                m_strProblem = std::move(problem);
            }
        },
        help);
    // Read as met, so that the first wrong value on the line is the one told.
    option->type_name(valueName)->trigger_on_parse();
    return option;
}

CLI::Option* CCliParser::Flag(CLI::App& cmd, const std::string& names, bool& field,
                              const std::string& help) {
    return cmd.add_flag(names, field, help)->disable_flag_override();
}

CLI::Option* CCliParser::Argument(CLI::App& cmd, const std::string& name, std::string& field,
                                  const std::string& help, const std::string& problem) {
    auto* option = cmd.add_option(name, field, help);
    m_needed.emplace_back(option, problem);
    return option;
}

void CCliParser::AddDecodeOptions(CLI::App& cmd, DecodeOptions& decode) {
    const std::string group = "Decoding options (capture, decode)";
    Value<std::string>(cmd, "-P,--protocol-decoders", "DECODERS", decode.decoders,
                       "decoder stack: id:channel=Dn:option=value, stacked decoders after commas, "
                       "e.g. uart:rx=D8:baudrate=921600,... or i2c:scl=D13:sda=D14",
                       TextOnce("-P"))
        ->group(group);
    Value<std::string>(cmd, "-A,--protocol-decoder-annotations", "ANNOTATIONS", decode.annotations,
                       "annotations to print: uart=rx-data (classes or rows, by ':')",
                       TextOnce("-A"))
        ->group(group);
    Flag(cmd, "--annotation-times", decode.times,
         "print start-end sample and time before each annotation")
        ->group(group);
}

void CCliParser::DefineCommands() {
    CliArgs& a = m_args;
    CaptureOptions& c = a.capture;

    AddCommand(CliCommand::List, "list", "list",
               "print the serial ports searched for the analyzer: name and device")
        .exits = Exits({kCliOk, kCliBadArguments}, {{kCliBadArguments, "bad arguments"}});

    CommandDoc& capture = AddCommand(
        CliCommand::Capture, "capture", "capture [options] -o FILE [-P DECODERS [-A ANNOTATIONS]]",
        "find the analyzer (or use --port), reset it, send the settings, wait for the "
        "trigger if a pattern is given, download 4032 samples, write FILE");
    CLI::App& cap = *capture.app;
    const std::string group = "Capture options";
    c.zoom = std::string(ZoomLabelForPosition(kZoomStart));
    Value<CaptureOptions>(
        cap, "-o,--output", "FILE", c,
        "file to write; the format follows the extension: .vcd (value change "
        "dump), .csv (time_ns,D0..D15), .sr (sigrok session file, for "
        "PulseView and sigrok-cli), .png (the view)",
        [](const std::string& text, CaptureOptions& o) -> std::optional<std::string> {
            const auto format = FileFormatForPath(text);
            if (!format) {
                return "cannot tell the format of '" + SafeText(text) +
                       "': the file name must end in .vcd, .csv, .sr or .png";
            }
            o.output = text;
            o.format = *format;
            return std::nullopt;
        })
        ->group(group);
    m_needed.emplace_back(cap.get_option("--output"), "capture needs an output file: -o FILE");
    Value<std::string>(
        cap, "--port", "COMn|PATH", c.port, "use this port instead of searching COM0..COM99",
        [](const std::string& text, std::string& port) -> std::optional<std::string> {
            if (text.empty()) {
                return "--port needs a port name (COMn) or a device path";
            }
            port = text;
            return std::nullopt;
        })
        ->group(group);
    Value<int>(
        cap, "--rate", "R", c.rate, "sample period: 20ns (default), 200ns, 2us or 20us",
        [](const std::string& text, int& rate) -> std::optional<std::string> {
            const auto* found = std::find_if(std::begin(kRates), std::end(kRates),
                                             [&](const RateName& r) { return r.option == text; });
            if (found == std::end(kRates)) {
                return "--rate must be 20ns, 200ns, 2us or 20us, not '" + SafeText(text) + "'";
            }
            rate = found->rate;
            return std::nullopt;
        })
        ->group(group);
    Value<std::optional<std::string>>(
        cap, "--trigger", "PATTERN", c.trigger,
        "16 characters, D15 first: 0 low, 1 high, x any level; waits until the analyzer reports "
        "the trigger",
        [](const std::string& text,
           std::optional<std::string>& trigger) -> std::optional<std::string> {
            if (!IsPattern(text)) {
                return "--trigger needs 16 characters of 0, 1 or x (D15 first), not '" +
                       SafeText(text) + "'";
            }
            std::string pattern = text;
            std::replace(pattern.begin(), pattern.end(), 'X', 'x');
            trigger = pattern;
            return std::nullopt;
        })
        ->group(group);
    Value<std::string>(cap, "--trigpos", "NN", c.trigPos,
                       "trigger position 00 (default), 01, 10 or 11: the emulator puts the "
                       "trigger at sample 0, 1008, 2016 or 3024",
                       [](const std::string& text, std::string& pos) -> std::optional<std::string> {
                           if (!IsTrigPos(text)) {
                               return "--trigpos must be 00, 01, 10 or 11, not '" + SafeText(text) +
                                      "'";
                           }
                           pos = text;
                           return std::nullopt;
                       })
        ->group(group);
    Value<double>(cap, "--timeout", "SECONDS", c.timeoutSeconds,
                  "how long to wait for the trigger (default 10; 0 waits on)",
                  [](const std::string& text, double& seconds) -> std::optional<std::string> {
                      const auto value = ParseSeconds(text);
                      if (!value) {
                          return "--timeout needs a number of seconds, not '" + SafeText(text) +
                                 "'";
                      }
                      seconds = *value;
                      return std::nullopt;
                  })
        ->group(group);
    Value<std::string>(
        cap, "--zoom", "LABEL", c.zoom, "PNG only: " + ZoomLabels() + " (default " + c.zoom + ")",
        [](const std::string& text, std::string& zoom) -> std::optional<std::string> {
            for (int p = kZoomMin; p <= kZoomMax; ++p) {
                if (ZoomLabelForPosition(p) == text) {
                    zoom = text;
                    return std::nullopt;
                }
            }
            return "--zoom must be one of " + ZoomLabels() + ", not '" + SafeText(text) + "'";
        })
        ->group(group);
    Value<std::optional<int>>(
        cap, "--count", "N", c.count,
        "N captures one after another into FILE numbered NAME-001.EXT, NAME-002.EXT, ...; 0 "
        "repeats until Ctrl+C",
        [](const std::string& text, std::optional<int>& count) -> std::optional<std::string> {
            count = ParseCount(text, kMaxCount);
            if (!count) {
                return "--count needs a number of captures (0 repeats until Ctrl+C), not '" +
                       SafeText(text) + "'";
            }
            return std::nullopt;
        })
        ->group(group);
    Value<std::string>(
        cap, "--until", "CONDITION", c.until,
        "capture again and again until a capture holds a match of the condition (as for find); "
        "write that one to FILE and print the matches; with --count N give up after N captures "
        "(exit 1)",
        [](const std::string& text, std::string& until) -> std::optional<std::string> {
            until = text; // parsed with the settings, which say where it fails
            return std::nullopt;
        })
        ->group(group);
    Flag(cap, "--fast", c.fast,
         "take each packet as soon as it is complete instead of after the fixed pause, and ask "
         "for the next one at once")
        ->group(group);
    Value<std::chrono::milliseconds>(
        cap, "--reply-delay", "MS", c.replyDelay,
        "reply wait after the identification and reset commands (default 30), for an analyzer "
        "that answers more slowly",
        [](const std::string& text,
           std::chrono::milliseconds& delay) -> std::optional<std::string> {
            const auto ms = ParseCount(text, kMaxReplyDelayMs);
            if (!ms) {
                return "--reply-delay needs milliseconds from 0 to " +
                       std::to_string(kMaxReplyDelayMs) + ", not '" + SafeText(text) + "'";
            }
            delay = std::chrono::milliseconds(*ms);
            return std::nullopt;
        })
        ->group(group);
    AddDecodeOptions(cap, a.decode);
    capture.notes = "Ctrl+C finishes the capture under way (a trigger wait ends as Stop ends "
                    "it) and starts no other; a second Ctrl+C abandons it, as SIGTERM does.";
    capture.exits = Exits({kCliOk, kCliNoAnalyzer, kCliBadArguments, kCliTimeout, kCliWriteFailed,
                           kCliLinkLost, kCliDecoderFailed, kCliInterrupted, kCliTerminated},
                          {{kCliNoAnalyzer, "no analyzer found (or the named port is not the "
                                            "analyzer); --until with --count N: no capture held "
                                            "a match"},
                           {kCliBadArguments, "bad arguments"},
                           {kCliDecoderFailed, "-P: a protocol decoder failed"},
                           {kCliInterrupted, "abandoned by a second Ctrl+C, or Ctrl+C while the "
                                             "decoders run; the capture under way is not written"},
                           {kCliTerminated, "ended by SIGTERM; the capture under way is not "
                                            "written"}});

    CommandDoc& info = AddCommand(
        CliCommand::Info, "info", "info FILE [--json] [--rate RATE]",
        "print the edges, shortest pulses, period, frequency and duty cycle of each channel of a "
        "capture file");
    Argument(*info.app, "FILE", a.file, "a capture file: VCD, CSV or sigrok session file (.sr)",
             "info needs a file");
    Flag(*info.app, "--json", a.json,
         "an object keyed by channel name; times in seconds (_s), frequencies in hertz (_hz), "
         "the duty cycle from 0 to 1, null for what the channel does not have")
        ->group("Info options");
    Value<std::optional<SamplePeriod>>(
        *info.app, "--rate", "RATE", a.rate,
        "the sample rate (24MHz, 1000000) or period (20ns) of a file that names none",
        [](const std::string& text,
           std::optional<SamplePeriod>& rate) -> std::optional<std::string> {
            rate = ParseSampleRate(text);
            if (!rate) {
                return "info: '" + SafeText(text) + "' is no sample rate (24MHz) or period (20ns)";
            }
            return std::nullopt;
        })
        ->group("Info options");
    info.notes = "For each channel of a capture file (ours or another program's): the number of "
                 "rising and falling edges, the shortest high and low pulse and, where the "
                 "channel is periodic, its period, frequency and duty cycle.";
    info.exits = Exits({kCliOk, kCliBadArguments},
                       {{kCliBadArguments, "bad arguments, or a file that cannot be read"}});

    CommandDoc& decode = AddCommand(CliCommand::Decode, "decode",
                                    "decode FILE -P DECODERS [-A ANNOTATIONS] [--annotation-times]",
                                    "decode a capture file with protocol decoders "
                                    "(libsigrokdecode)");
    Argument(*decode.app, "FILE", a.file, "a capture file: VCD, CSV or sigrok session file (.sr)",
             "decode needs a file");
    AddDecodeOptions(*decode.app, a.decode);
    m_needed.emplace_back(decode.app->get_option("-P"), "decode needs decoders: -P DECODERS");
    decode.notes = "Annotations print as sigrok-cli prints them (uart-1: H), as the decoders find "
                   "them.";
    decode.exits =
        Exits({kCliOk, kCliBadArguments, kCliDecoderFailed, kCliInterrupted, kCliTerminated},
              {{kCliBadArguments, "bad arguments (an unknown decoder, channel, option "
                                  "or value among them), or a file that cannot be "
                                  "read"},
               {kCliDecoderFailed, "a protocol decoder failed, or the decoders cannot "
                                   "run"},
               {kCliInterrupted, kEndedByCtrlC},
               {kCliTerminated, kEndedBySigterm}});

    AddCommand(CliCommand::Decoders, "decoders", "decoders",
               "list the installed protocol decoders: id and long name")
        .exits =
        Exits({kCliOk, kCliBadArguments, kCliDecoderFailed, kCliInterrupted, kCliTerminated},
              {{kCliBadArguments, "bad arguments"},
               {kCliDecoderFailed, "the decoders cannot run, or none is installed"},
               {kCliInterrupted, kEndedByCtrlC},
               {kCliTerminated, kEndedBySigterm}});

    CommandDoc& find =
        AddCommand(CliCommand::Find, "find", "find FILE CONDITION [-P DECODERS] [--json]",
                   "print where in a capture file a condition holds, e.g. 'D3 "
                   "high<50ns'; exit 1 when nowhere");
    Argument(*find.app, "FILE", a.file, "a capture file: VCD, CSV or sigrok session file (.sr)",
             "find needs a file and a condition");
    // The condition may come as several words when the shell split it.
    m_needed.emplace_back(find.app->add_option("CONDITION", m_conditionWords,
                                               "where the search matches, e.g. 'D3 high<50ns' "
                                               "(the conditions above)"),
                          "find needs a condition after the file");
    Value<std::string>(*find.app, "-P,--protocol-decoders", "DECODERS", a.decode.decoders,
                       "decoders for ann=, as for decode: uart:rx=D8:baudrate=115200",
                       TextOnce("-P"))
        ->group("Find options");
    Flag(*find.app, "--json", a.json, "an object with the file, the condition and the matches")
        ->group("Find options");
    find.notes =
        "One line per place where CONDITION holds: its first "
        "sample, its time from the capture's first sample, what matched and, for pulses, the "
        "width (for levels and patterns how long they hold).\n"
        "\n"
        "Conditions (quote them for the shell):\n"
        "  CH rise, CH fall, CH edge        an edge of channel CH: its name in the file, or Dn\n"
        "  CH high, CH low                  each stretch at that level\n"
        "  CH high<T, CH low>T, CH high<=T, CH low>=T, CH high=T1..T2, CH low=T\n"
        "                                   whole pulses (edge to edge) of that width;\n"
        "                                   T is a number with ps, ns, us (or \u00b5s), ms or s\n"
        "  pattern=P                        0, 1 or x per channel, highest first (as --trigger)\n"
        "  ann=DECODER:TEXT                 an annotation of a -P decoder containing TEXT\n"
        "                                   (\"TEXT\" in double quotes for spaces)\n"
        "  A and B                          the matches of A that share a sample with one of B\n"
        "  A or B, ( ... )                  the matches of either; and binds tighter than or\n"
        "A pulse cut by the capture's ends or by samples not received is no pulse; samples not "
        "received never match.";
    find.exits = Exits({kFindMatched, kFindNothing, kFindTrouble},
                       {{kFindMatched, "something matched"},
                        {kFindNothing, "nothing did"},
                        {kFindTrouble, "bad arguments, a file that cannot be read, a condition "
                                       "that does not parse or names an unknown channel, a "
                                       "decoder that fails"}});
    find.rule = [this, &a]() -> std::optional<std::string> {
        for (const auto& word : m_conditionWords) {
            a.condition += (a.condition.empty() ? "" : " ") + word;
        }
        return std::nullopt;
    };
    // -A and --annotation-times only follow a decoder stack.
    for (CommandDoc* command : {&capture, &decode}) {
        command->rule = [&a]() -> std::optional<std::string> {
            if (a.decode.decoders.empty() && (!a.decode.annotations.empty() || a.decode.times)) {
                return std::string("-A and --annotation-times need a decoder: -P DECODERS");
            }
            return std::nullopt;
        };
    }
}

std::string CCliParser::Help(const CommandDoc* command) const {
    std::ostringstream out;
    if (command == nullptr) {
        for (std::size_t i = 0; i < m_commands.size(); ++i) {
            out << (i == 0 ? "Usage: " : "  or:  ") << kProgram << " " << m_commands[i].synopsis
                << "\n";
        }
        out << "  or:  " << kProgram << " --help | --version\n"
            << "  or:  " << kProgram << " COMMAND --help\n\n"
            << m_app.get_description() << "\n\nCommands:\n";
        for (const auto& c : m_commands) {
            PutEntry(out, c.app->get_name(), c.app->get_description(), 13);
        }
        // Each option once, in its group: a group shared by commands is shown once.
        std::vector<std::string> groups;
        for (const auto& c : m_commands) {
            for (const std::string& group : c.app->get_groups()) {
                if (group == "Options" || group == "Positionals" ||
                    std::find(groups.begin(), groups.end(), group) != groups.end()) {
                    continue;
                }
                groups.push_back(group);
                out << "\n" << group << ":\n";
                for (const CLI::Option* option : std::as_const(*c.app).get_options()) {
                    if (option->get_group() == group) {
                        PutEntry(out, OptionTitle(*option), option->get_description(),
                                 kOptionColumn);
                    }
                }
            }
        }
        out << "\nEnvironment:\n"
               "  QUILLON_PORTS=\"COM1=/dev/ttyACM0;COM2=/dev/ttyUSB0\" names the ports to "
               "search;\n  without it the machine's USB serial ports are listed as COM1, COM2, "
               "...\n";
        PutExits(out, {std::begin(kExitMeanings), std::end(kExitMeanings)});
        out << "find answers as grep does: 0 something matched, 1 nothing did, 2 any error.\n";
        return out.str();
    }
    std::string summary = command->app->get_description();
    if (!summary.empty()) {
        summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
    }
    out << "Usage: " << kProgram << " " << command->synopsis << "\n\n";
    for (const auto& line : Wrap(summary + ".", kHelpWidth)) {
        out << line << "\n";
    }
    if (!command->notes.empty()) {
        out << "\n";
        for (const auto& line : Wrap(command->notes, kHelpWidth)) {
            out << line << "\n";
        }
    }
    std::vector<const CLI::Option*> options = std::as_const(*command->app).get_options();
    // The help flag last.
    const CLI::Option* help = command->app->get_help_ptr();
    std::stable_partition(options.begin(), options.end(),
                          [help](const CLI::Option* o) { return o != help; });
    bool positionals = false;
    for (const CLI::Option* option : options) {
        if (option->get_positional()) {
            out << (positionals ? "" : "\nArguments:\n");
            positionals = true;
            PutEntry(out, option->get_name(true), option->get_description(), kOptionColumn);
        }
    }
    out << "\nOptions:\n";
    for (const CLI::Option* option : options) {
        if (!option->get_positional()) {
            PutEntry(out, OptionTitle(*option), option->get_description(), kOptionColumn);
        }
    }
    PutExits(out, command->exits);
    return out.str();
}

std::optional<std::string> CCliParser::ProblemAfterParse(const CommandDoc* command) const {
    if (m_strProblem) {
        return m_strProblem;
    }
    if (command == nullptr) {
        return std::nullopt;
    }
    std::vector<std::string> extra = command->app->remaining();
    // "--" ends the options; it is no argument of its own.
    extra.erase(std::remove(extra.begin(), extra.end(), "--"), extra.end());
    const std::vector<const CLI::Option*> options = std::as_const(*command->app).get_options();
    if (!extra.empty()) {
        const std::string& first = extra.front();
        if (options.size() == 1) { // only --help
            return command->app->get_name() + " takes no arguments";
        }
        return first.size() > 1 && first[0] == '-'
                   ? "unknown option '" + SafeText(first) + "'"
                   : "unexpected argument '" + SafeText(first) + "'";
    }
    for (const auto& [option, problem] : m_needed) {
        if (option->count() == 0 &&
            std::find(options.begin(), options.end(), option) != options.end()) {
            return problem;
        }
    }
    return command->rule ? command->rule() : std::nullopt;
}

void CCliParser::Fail(const CommandDoc* command, const std::string& problem, std::ostream& err) {
    err << kProgram << ": " << problem << "\n";
    if (command != nullptr) {
        err << "usage: " << kProgram << " " << command->synopsis << "\nTry '" << kProgram << " "
            << command->app->get_name() << " --help'.\n";
    } else {
        err << "Try '" << kProgram << " --help'.\n";
    }
    m_args.exitStatus = kCliBadArguments;
}

void CCliParser::Parse(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const auto selected = [this]() -> const CommandDoc* {
        for (const auto& c : m_commands) {
            if (c.app->parsed()) {
                return &c;
            }
        }
        return nullptr;
    };
    // "--port=" gives the option an empty value, which its reader judges; CLI11 would take
    // the next argument instead.
    std::vector<std::string> reversed;
    bool optionsEnded = false;
    for (const std::string& arg : args) {
        optionsEnded = optionsEnded || arg == "--";
        if (!optionsEnded && arg.size() > 3 && arg.rfind("--", 0) == 0 && arg.back() == '=' &&
            arg.find('=') == arg.size() - 1) {
            reversed.push_back(arg.substr(0, arg.size() - 1));
            reversed.emplace_back();
        } else {
            reversed.push_back(arg);
        }
    }
    std::reverse(reversed.begin(), reversed.end());
    try {
        m_app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        out << Help(selected());
        m_args.exitStatus = kCliOk;
        return;
    } catch (const CLI::CallForVersion& version) {
        out << version.what() << "\n";
        m_args.exitStatus = kCliOk;
        return;
    } catch (const CLI::ArgumentMismatch& mismatch) {
        // A flag given a value, or an option at the end of the line without its value.
        const std::string text = mismatch.what();
        if (text.find("flag override") != std::string::npos) {
            const std::string name = text.substr(0, text.find(' '));
            const auto given = std::find_if(args.begin(), args.end(), [&](const std::string& a) {
                return a.rfind("-", 0) == 0 && a.find('=') != std::string::npos &&
                       a.substr(0, a.find('=')).find(name) != std::string::npos;
            });
            Fail(selected(),
                 "option " + (given != args.end() ? given->substr(0, given->find('=')) : name) +
                     " takes no value",
                 err);
        } else {
            const std::string& last = args.back();
            Fail(selected(),
                 "option " + SafeText(last.substr(0, last.find('='))) + " needs a value", err);
        }
        return;
    } catch (const CLI::ParseError& error) {
        Fail(selected(), error.what(), err);
        return;
    }
    const CommandDoc* command = selected();
    if (command == nullptr) {
        if (const auto extra = m_app.remaining(); !extra.empty()) {
            Fail(nullptr, "unknown command '" + SafeText(extra.front()) + "'", err);
        } else {
            err << Help(nullptr);
            m_args.exitStatus = kCliBadArguments;
        }
        return;
    }
    if (const auto problem = ProblemAfterParse(command)) {
        Fail(command, *problem, err);
        return;
    }
    m_args.command = command->command;
}

} // namespace

CliArgs ParseCliArgs(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CliArgs parsed;
    CCliParser parser(parsed);
    parser.Parse(args, out, err);
    return parsed;
}

std::string_view RateText(int rate) {
    for (const auto& r : kRates) {
        if (r.rate == rate) {
            return r.text;
        }
    }
    return "?";
}

} // namespace quillon
