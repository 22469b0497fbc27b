// quillon-cli's decoding commands on the decoding library: the decoder list, decoding a VCD or
// CSV file, and decoding a fresh capture.
#include "app/cli_decode.h"

#include "app/cli.h"
#include "decode/annotation_text.h"
#include "decode/decoder_library.h"
#include "decode/decoder_spec.h"

#include <algorithm>
#include <fstream>
#include <numeric>
#include <ostream>
#include <sstream>

namespace quillon {

namespace {

constexpr const char* kProgram = "quillon-cli";
// A VCD's time stamps decide its sample count; beyond this it is not a capture we can hold.
constexpr std::int64_t kMaxFileSamples = 1 << 24;

DecoderLookup LibraryLookup() {
    return [](const std::string& id) { return CDecoderLibrary::Instance().FindDecoder(id); };
}

/// Value change dump: 1-bit wires, in declaration order as D0, D1, ...; the sample period is
/// the largest that divides every time stamp.
std::optional<CaptureData> ReadVcd(std::istream& in, std::string& error) {
    CaptureData data;
    data.channels = 0;
    std::vector<std::string> ids;
    std::int64_t unitPs = 1000;
    std::vector<std::pair<std::int64_t, std::pair<int, int>>> changes; // time, (channel, level)
    std::int64_t now = 0;
    std::int64_t step = 0;
    std::string token;
    bool definitions = true;
    while (in >> token) {
        if (definitions && token == "$timescale") {
            std::string scale;
            std::string part;
            while (in >> part && part != "$end") {
                scale += part;
            }
            const std::size_t digits = scale.find_first_not_of("0123456789");
            const std::string unit = digits == std::string::npos ? "" : scale.substr(digits);
            const std::int64_t factor = digits == 0 ? 1 : std::stoll(scale.substr(0, digits));
            const std::pair<const char*, std::int64_t> units[] = {{"s", 1'000'000'000'000},
                                                                  {"ms", 1'000'000'000},
                                                                  {"us", 1'000'000},
                                                                  {"ns", 1000},
                                                                  {"ps", 1}};
            const auto* found = std::find_if(std::begin(units), std::end(units),
                                             [&](const auto& u) { return unit == u.first; });
            if (found == std::end(units)) {
                error = "unsupported $timescale '" + scale + "'";
                return std::nullopt;
            }
            unitPs = factor * found->second;
        } else if (definitions && token == "$var") {
            std::string type, width, id, name, end;
            in >> type >> width >> id >> name;
            while (in >> end && end != "$end") {
            }
            if (width == "1" && ids.size() < static_cast<std::size_t>(kExportChannels)) {
                data.names[ids.size()] = name;
                ids.push_back(id);
            }
        } else if (token == "$enddefinitions") {
            definitions = false;
        } else if (!definitions && token[0] == '#') {
            now = std::stoll(token.substr(1));
            step = std::gcd(step, now);
        } else if (!definitions &&
                   (token[0] == '0' || token[0] == '1' || token[0] == 'x' || token[0] == 'z')) {
            const auto at = std::find(ids.begin(), ids.end(), token.substr(1));
            if (at != ids.end()) {
                changes.push_back({now, {static_cast<int>(at - ids.begin()), token[0] == '1'}});
            }
        } else if (!definitions && (token[0] == 'b' || token[0] == 'r')) {
            in >> token; // a vector's or real's identifier
        }
    }
    if (ids.empty()) {
        error = "no 1-bit wires in the file";
        return std::nullopt;
    }
    data.channels = static_cast<int>(ids.size());
    step = std::max<std::int64_t>(step, 1);
    data.periodPs = step * unitPs;
    const std::int64_t count = std::max<std::int64_t>(now / step, 1);
    if (count > kMaxFileSamples) {
        error = "too many samples (" + std::to_string(count) + ")";
        return std::nullopt;
    }
    data.samples.assign(static_cast<std::size_t>(count), 0);
    std::uint16_t levels = 0;
    std::size_t next = 0;
    for (std::int64_t i = 0; i < count; ++i) {
        while (next < changes.size() && changes[next].first <= i * step) {
            const auto [channel, level] = changes[next].second;
            levels = static_cast<std::uint16_t>(level ? levels | (1u << channel)
                                                      : levels & ~(1u << channel));
            ++next;
        }
        data.samples[static_cast<std::size_t>(i)] = levels;
    }
    return data;
}

/// time_ns,NAME...: one row per sample, levels 0/1.
std::optional<CaptureData> ReadCsv(std::istream& in, std::string& error) {
    CaptureData data;
    std::string line;
    std::getline(in, line);
    std::stringstream header(line);
    std::string cell;
    std::getline(header, cell, ',');
    int channels = 0;
    while (std::getline(header, cell, ',') && channels < kExportChannels) {
        data.names[static_cast<std::size_t>(channels++)] = cell;
    }
    data.channels = channels;
    std::vector<std::int64_t> times;
    while (std::getline(in, line) &&
           static_cast<std::int64_t>(data.samples.size()) < kMaxFileSamples) {
        std::stringstream row(line);
        if (!std::getline(row, cell, ',') || cell.empty()) {
            continue;
        }
        times.push_back(std::stoll(cell));
        std::uint16_t levels = 0;
        for (int c = 0; c < channels && std::getline(row, cell, ','); ++c) {
            levels = static_cast<std::uint16_t>(levels | ((cell == "1" ? 1u : 0u) << c));
        }
        data.samples.push_back(levels);
    }
    if (channels == 0 || data.samples.empty()) {
        error = "no samples in the file";
        return std::nullopt;
    }
    data.periodPs =
        times.size() > 1 ? std::max<std::int64_t>(times[1] - times[0], 1) * 1000 : kSampleUnitPs;
    return data;
}

std::optional<CaptureData> ReadCaptureFile(const std::string& path, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot open the file";
        return std::nullopt;
    }
    try {
        const bool csv = path.size() > 4 && (path.substr(path.size() - 4) == ".csv" ||
                                             path.substr(path.size() - 4) == ".CSV");
        return csv ? ReadCsv(in, error) : ReadVcd(in, error);
    } catch (const std::exception&) {
        error = "not a readable VCD or CSV file";
        return std::nullopt;
    }
}

bool TakeValue(std::vector<std::string>& args, std::size_t i, std::string& value) {
    if (i + 1 >= args.size()) {
        return false;
    }
    value = args[i + 1];
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
               args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    return true;
}

} // namespace

std::optional<std::string> TakeDecodeOptions(std::vector<std::string>& args,
                                             DecodeRequest& request) {
    for (std::size_t i = 1; i < args.size();) {
        const std::string& name = args[i];
        if (name == "-P" || name == "--protocol-decoders" || name == "-A" ||
            name == "--protocol-decoder-annotations") {
            std::string& target = name.size() == 2 && name[1] == 'P' ? request.decoders
                                  : name == "--protocol-decoders"    ? request.decoders
                                                                     : request.annotations;
            if (!target.empty()) {
                return name + " given twice; stack decoders with commas in one -P";
            }
            if (!TakeValue(args, i, target) || target.empty()) {
                return "option " + name + " needs a value";
            }
        } else if (name == "--annotation-times") {
            request.times = true;
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    if (request.decoders.empty() && (!request.annotations.empty() || request.times)) {
        return std::string("-A and --annotation-times need a decoder: -P SPEC");
    }
    return std::nullopt;
}

int CheckDecodeRequest(const DecodeRequest& request, std::ostream& err) {
    CDecoderLibrary& library = CDecoderLibrary::Instance();
    if (!library.StartError().empty()) {
        err << kProgram << ": " << library.StartError() << "\n";
        return kCliDecoderFailed;
    }
    const auto stack = ParseDecoderSpec(request.decoders, LibraryLookup(), DefaultChannelNames());
    if (const auto* e = std::get_if<SpecError>(&stack)) {
        err << kProgram << ": " << e->message << "\n";
        return kCliBadArguments;
    }
    if (!request.annotations.empty()) {
        const auto filter = ParseAnnotationSpec(request.annotations, std::get<DecoderStack>(stack),
                                                LibraryLookup());
        if (const auto* e = std::get_if<SpecError>(&filter)) {
            err << kProgram << ": " << e->message << "\n";
            return kCliBadArguments;
        }
    }
    return kCliOk;
}

int DecodeCapture(const CaptureData& capture, const DecodeRequest& request, std::ostream& out,
                  std::ostream& err) {
    CDecoderLibrary& library = CDecoderLibrary::Instance();
    if (!library.StartError().empty()) {
        err << kProgram << ": " << library.StartError() << "\n";
        return kCliDecoderFailed;
    }
    const auto parsed = ParseDecoderSpec(request.decoders, LibraryLookup(), capture.names);
    if (const auto* e = std::get_if<SpecError>(&parsed)) {
        err << kProgram << ": " << e->message << "\n";
        return kCliBadArguments;
    }
    const auto& stack = std::get<DecoderStack>(parsed);
    AnnotationFilter filter = AnnotationFilter::All(stack.size());
    if (!request.annotations.empty()) {
        auto chosen = ParseAnnotationSpec(request.annotations, stack, LibraryLookup());
        if (const auto* e = std::get_if<SpecError>(&chosen)) {
            err << kProgram << ": " << e->message << "\n";
            return kCliBadArguments;
        }
        filter = std::get<AnnotationFilter>(std::move(chosen));
    }
    const DecodeResult result = library.Decode(capture, stack);
    for (const auto& annotation : result.annotations) {
        if (filter.Shows(annotation)) {
            out << FormatAnnotationLine(
                       annotation, result.instanceIds[static_cast<std::size_t>(annotation.decoder)],
                       request.times, capture.PeriodPs())
                << "\n";
        }
    }
    out.flush();
    if (result.error) {
        err << kProgram << ": decoder error: " << *result.error << "\n";
        return kCliDecoderFailed;
    }
    return kCliOk;
}

int RunDecodersCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() > 1) {
        err << kProgram << ": decoders takes no arguments\n";
        return kCliBadArguments;
    }
    const CDecoderLibrary& library = CDecoderLibrary::Instance();
    if (!library.StartError().empty()) {
        err << kProgram << ": " << library.StartError() << "\n";
        return kCliDecoderFailed;
    }
    std::size_t width = 0;
    for (const auto& d : library.Decoders()) {
        width = std::max(width, d.id.size());
    }
    for (const auto& d : library.Decoders()) {
        out << d.id << std::string(width + 2 - d.id.size(), ' ') << d.longname << "\n";
    }
    return kCliOk;
}

int RunDecodeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> rest = args;
    DecodeRequest request;
    if (const auto problem = TakeDecodeOptions(rest, request)) {
        err << kProgram << ": " << *problem << "\n";
        return kCliBadArguments;
    }
    if (rest.size() != 2 || rest[1].empty() || rest[1][0] == '-' || request.decoders.empty()) {
        err << kProgram
            << ": usage: quillon-cli decode FILE -P SPEC [-A SPEC] "
               "[--annotation-times]\n";
        return kCliBadArguments;
    }
    std::string error;
    const auto capture = ReadCaptureFile(rest[1], error);
    if (!capture) {
        err << kProgram << ": cannot read " << rest[1] << ": " << error << "\n";
        return kCliBadArguments; // the FILE argument names no capture
    }
    return DecodeCapture(*capture, request, out, err);
}

} // namespace quillon
