// quillon-cli's decoding commands on the decoding library: the decoder list, decoding a VCD or
// CSV file, and decoding a fresh capture.
#include "app/cli_decode.h"

#include "app/cli.h"
#include "app/cli_read.h"
#include "capture/capture_bridge.h"
#include "decode/annotation_text.h"
#include "decode/decoder_args.h"
#include "decode/decoder_library.h"

#include <algorithm>
#include <ostream>

namespace quillon {

namespace {

constexpr const char* kProgram = "quillon-cli";

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
        return std::string("-A and --annotation-times need a decoder: -P DECODERS");
    }
    return std::nullopt;
}

int CheckDecodeRequest(const DecodeRequest& request, std::ostream& err) {
    CDecoderLibrary& library = CDecoderLibrary::Instance();
    if (!library.StartError().empty()) {
        err << kProgram << ": " << library.StartError() << "\n";
        return kCliDecoderFailed;
    }
    const auto stack =
        ParseDecoderArg(request.decoders, CDecoderLibrary::Lookup(), DefaultChannelNames());
    if (const auto* e = std::get_if<ArgError>(&stack)) {
        err << kProgram << ": " << e->message << "\n";
        return kCliBadArguments;
    }
    if (!request.annotations.empty()) {
        const auto filter = ParseAnnotationArg(request.annotations, std::get<DecoderStack>(stack),
                                               CDecoderLibrary::Lookup());
        if (const auto* e = std::get_if<ArgError>(&filter)) {
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
    const auto parsed = ParseDecoderArg(request.decoders, CDecoderLibrary::Lookup(), capture.names);
    if (const auto* e = std::get_if<ArgError>(&parsed)) {
        err << kProgram << ": " << e->message << "\n";
        return kCliBadArguments;
    }
    const auto& stack = std::get<DecoderStack>(parsed);
    AnnotationFilter filter = AnnotationFilter::All(stack.size());
    if (!request.annotations.empty()) {
        auto chosen = ParseAnnotationArg(request.annotations, stack, CDecoderLibrary::Lookup());
        if (const auto* e = std::get_if<ArgError>(&chosen)) {
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
            << ": usage: quillon-cli decode FILE -P DECODERS [-A ANNOTATIONS] "
               "[--annotation-times]\n";
        return kCliBadArguments;
    }
    // Through the 16-channel capture the decoding takes until it moves to the capture model.
    const CapturePtr read = ReadCaptureForCli(rest[1], std::nullopt, err);
    if (!read) {
        return kCliBadArguments; // the FILE argument names no capture
    }
    return DecodeCapture(ToCaptureData(*read), request, out, err);
}

} // namespace quillon
