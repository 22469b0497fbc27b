// quillon-cli find: reads a capture file, parses and binds the condition, decodes when the
// condition asks for annotations, and prints every match as a line or as JSON.
#include "app/cli_find.h"

#include "app/cli_json.h"
#include "decode/decode_job.h"
#include "decode/decoder_args.h"
#include "decode/decoder_catalog.h"
#include "decode/decoder_process.h"
#include "file/capture_file.h"

#include <cstdio>
#include <ostream>

namespace quillon {

namespace {

constexpr std::int64_t kPsPerSecond = 1'000'000'000'000;

std::string JsonSeconds(Picoseconds time) {
    char text[32];
    std::snprintf(text, sizeof text, "%.12g",
                  static_cast<double>(time.count()) / static_cast<double>(kPsPerSecond));
    return text;
}

/// A time exactly, in the unit that suits it: "24.69134 ms", "20 ns", "0 s".
std::string ExactTime(Picoseconds time) {
    const std::int64_t ps = time.count();
    struct Scale {
        std::int64_t ps;
        int digits;
        const char* name;
    };
    static constexpr Scale kScales[] = {{1'000'000'000'000, 12, "s"},
                                        {1'000'000'000, 9, "ms"},
                                        {1'000'000, 6, "\u00b5s"},
                                        {1'000, 3, "ns"},
                                        {1, 0, "ps"}};
    if (ps == 0) {
        return "0 s";
    }
    for (const Scale& scale : kScales) {
        if (ps >= scale.ps || scale.ps == 1) {
            std::string text = std::to_string(ps / scale.ps);
            if (const std::int64_t rest = ps % scale.ps; rest != 0) {
                char fraction[16];
                std::snprintf(fraction, sizeof fraction, "%0*lld", scale.digits,
                              static_cast<long long>(rest));
                std::string digits = fraction;
                digits.erase(digits.find_last_not_of('0') + 1);
                text += "." + digits;
            }
            return text + " " + scale.name;
        }
    }
    return std::to_string(ps) + " ps";
}

} // namespace

void PrintConditionError(const std::string& command, const std::string& condition,
                         const ConditionError& error, std::ostream& err) {
    const int column = error.Column(condition);
    err << "quillon-cli: " << command << ": " << error.message << " (column " << column
        << " of the condition)\n  " << condition << "\n  " << std::string(column - 1, ' ') << "^\n";
}

namespace {

const char* KindName(Match::Kind kind) {
    switch (kind) {
    case Match::Kind::Rise:
        return "rise";
    case Match::Kind::Fall:
        return "fall";
    case Match::Kind::Pulse:
        return "pulse";
    case Match::Kind::Level:
        return "level";
    case Match::Kind::Pattern:
        return "pattern";
    case Match::Kind::Annotation:
        return "annotation";
    }
    return "";
}

const SearchAnnotation* AnnotationOf(const Match& m, const SearchAnnotations* annotations) {
    if (annotations == nullptr || m.annotation < 0 ||
        static_cast<std::size_t>(m.annotation) >= annotations->items.size()) {
        return nullptr;
    }
    return &annotations->items[static_cast<std::size_t>(m.annotation)];
}

std::string DecoderName(const SearchAnnotation& a) {
    return a.instance.empty() ? a.decoder : a.instance;
}

std::string LongestText(const SearchAnnotation& a) {
    return a.texts.empty() ? std::string() : a.texts.front();
}

} // namespace

void PrintMatchLine(const Match& m, const Capture& capture, const SearchAnnotations* annotations,
                    std::ostream& out) {
    const SamplePeriod& period = capture.Period();
    out << m.sample << '\t' << ExactTime(period.TimeOf(m.sample)) << '\t';
    const std::string level = m.high ? "high" : "low";
    switch (m.kind) {
    case Match::Kind::Rise:
    case Match::Kind::Fall:
        out << capture.ChannelName(m.channel) << ' ' << KindName(m.kind);
        break;
    case Match::Kind::Pulse:
        out << capture.ChannelName(m.channel) << ' ' << level << " pulse\t"
            << ExactTime(period.TimeOf(m.Samples()));
        break;
    case Match::Kind::Level:
        out << capture.ChannelName(m.channel) << ' ' << level << '\t'
            << ExactTime(period.TimeOf(m.Samples()));
        break;
    case Match::Kind::Pattern:
        out << "pattern\t" << ExactTime(period.TimeOf(m.Samples()));
        break;
    case Match::Kind::Annotation:
        if (const SearchAnnotation* a = AnnotationOf(m, annotations)) {
            out << DecoderName(*a) << ": " << LongestText(*a);
        }
        break;
    }
    out << '\n';
}

namespace {

/// One match as a JSON object.
std::string JsonMatch(const Match& m, const Capture& capture,
                      const SearchAnnotations* annotations) {
    const SamplePeriod& period = capture.Period();
    std::string text = "{\"sample\": " + std::to_string(m.sample) +
                       ", \"time_s\": " + JsonSeconds(period.TimeOf(m.sample)) + ", \"kind\": \"" +
                       KindName(m.kind) + '"';
    if (m.channel >= 0) {
        text += ", \"channel\": " + JsonString(capture.ChannelName(m.channel));
    }
    if (m.kind == Match::Kind::Pulse || m.kind == Match::Kind::Level) {
        text += std::string(", \"level\": \"") + (m.high ? "high" : "low") + '"';
    }
    if (const SearchAnnotation* a = AnnotationOf(m, annotations)) {
        text += ", \"decoder\": " + JsonString(DecoderName(*a)) +
                ", \"text\": " + JsonString(LongestText(*a));
    }
    if (m.kind != Match::Kind::Rise && m.kind != Match::Kind::Fall) {
        text += ", \"end_sample\": " + std::to_string(m.end) + ", \"" +
                (m.kind == Match::Kind::Pulse ? "width_s" : "duration_s") +
                "\": " + JsonSeconds(period.TimeOf(m.Samples()));
    }
    return text + "}";
}

} // namespace

std::variant<SearchAnnotations, std::string> DecodeForSearch(const CapturePtr& capture,
                                                             const std::string& decoders) {
    // The decoders run in the decoding process; only those named are loaded.
    CDecoderProcess process;
    std::vector<DecoderInfo> infos;
    DecodeOutcome outcome = process.RequestCatalog(DecoderIdsOf(decoders));
    if (outcome.status == DecodeStatus::Done) {
        outcome = process.ReceiveCatalog(infos);
    }
    if (outcome.status != DecodeStatus::Done) {
        return "cannot run the protocol decoders: " + outcome.error.value_or("stopped");
    }
    const DecoderCatalog catalog(std::move(infos));
    const auto parsed =
        ParseDecoderArg(decoders, catalog.Lookup(),
                        ChannelChoice{capture->ChannelNames(), capture->ChannelCount()});
    if (const auto* error = std::get_if<ArgError>(&parsed)) {
        return error->message;
    }
    const auto& stack = std::get<DecoderStack>(parsed);
    std::string error;
    const auto job = MakeDecodeJob(capture, stack, error);
    if (!job) {
        return error;
    }
    struct Gather : AnnotationSink {
        const DecoderStack& stack;
        std::vector<int> channels; // what the bottom decoder reads, for every decoder above it
        SearchAnnotations found;
        std::vector<std::string> ids;
        explicit Gather(const DecoderStack& s) : stack(s), channels(ChannelsOf(s)) {}
        [[nodiscard]] std::string Instance(std::size_t k) const {
            return k < ids.size() ? ids[k] : std::string();
        }
        void Started(const std::vector<std::string>& instanceIds) override { ids = instanceIds; }
        bool Take(const Annotation& a) override {
            const auto k = static_cast<std::size_t>(a.decoder);
            found.items.push_back(
                {k < stack.size() ? stack[k].id : std::string(), Instance(k), a.start, a.end,
                 std::vector<std::string>(a.texts.begin(), a.texts.end()), channels});
            return true;
        }
    } gather(stack);
    outcome = process.Decode(*job, gather);
    if (outcome.error) {
        return "decoder error: " + *outcome.error;
    }
    if (outcome.status != DecodeStatus::Done) {
        return std::string("decoding stopped");
    }
    for (std::size_t k = 0; k < stack.size(); ++k) {
        gather.found.decoders.push_back(stack[k].id);
        gather.found.decoders.push_back(gather.Instance(k));
    }
    return std::move(gather.found);
}

int RunFindCommand(const CliArgs& request, std::ostream& out, std::ostream& err) {
    // The condition first: a typing error is found without reading a big file.
    auto parsed = ParseCondition(request.condition);
    if (const auto* error = std::get_if<ConditionError>(&parsed)) {
        PrintConditionError("find", request.condition, *error, err);
        return kFindTrouble;
    }
    const Condition& condition = std::get<Condition>(parsed);

    FileReadError readError;
    const CapturePtr capture = ReadCaptureFile(request.file, ReadOptions{}, readError);
    if (!capture) {
        err << "quillon-cli: find: cannot read " << readError.Text() << "\n";
        return kFindTrouble;
    }

    std::shared_ptr<const SearchAnnotations> annotations;
    if (UsesAnnotations(condition.root) && !request.decode.decoders.empty()) {
        auto decoded = DecodeForSearch(capture, request.decode.decoders);
        if (const auto* problem = std::get_if<std::string>(&decoded)) {
            err << "quillon-cli: find: " << *problem << "\n";
            return kFindTrouble;
        }
        annotations =
            std::make_shared<SearchAnnotations>(std::get<SearchAnnotations>(std::move(decoded)));
    } else if (!request.decode.decoders.empty()) {
        err << "quillon-cli: find: -P is not used: the condition has no ann=\n";
    }

    auto bound = Matcher::Bind(condition, capture, annotations);
    if (const auto* error = std::get_if<ConditionError>(&bound)) {
        PrintConditionError("find", request.condition, *error, err);
        if (UsesAnnotations(condition.root) && request.decode.decoders.empty()) {
            err << "quillon-cli: find: name the decoders for ann= with -P, as for decode\n";
        }
        return kFindTrouble;
    }
    // Each match is printed as it is found: the first lines of a long search come at once.
    std::size_t found = 0;
    if (request.json) {
        out << "{\n  \"file\": " << JsonString(request.file)
            << ",\n  \"condition\": " << JsonString(request.condition)
            << ",\n  \"samples\": " << capture->SampleCount()
            << ",\n  \"sample_period_s\": " << JsonSeconds(capture->Period().TimeOf(1))
            << ",\n  \"matches\": [";
    }
    std::get<Matcher>(bound).Each(0, -1, [&](const Match& m) {
        if (request.json) {
            out << (found > 0 ? ",\n    " : "\n    ") << JsonMatch(m, *capture, annotations.get());
        } else {
            PrintMatchLine(m, *capture, annotations.get(), out);
        }
        ++found;
        return true;
    });
    if (request.json) {
        out << (found > 0 ? "\n  ]\n}\n" : "]\n}\n");
    }
    out.flush();
    return found > 0 ? kFindMatched : kFindNothing;
}

} // namespace quillon
