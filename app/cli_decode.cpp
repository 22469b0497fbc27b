// quillon-cli's decoding commands on the decoding process: the decoder list, decoding a VCD or
// CSV file, and decoding a fresh capture, the annotations printed as they arrive.
#include "app/cli_decode.h"

#include "app/cli.h"
#include "app/cli_read.h"
#include "decode/annotation_text.h"
#include "decode/decode_job.h"
#include "decode/decoder_args.h"
#include "decode/decoder_catalog.h"
#include "decode/decoder_process.h"

#include <algorithm>
#include <csignal>
#include <ostream>
#include <pthread.h>
#include <unistd.h>

namespace quillon {

/// The decoding process and what it has told about the decoders named.
struct DecodeContext {
    // The program ends soon after: the process is let go, not waited for.
    ~DecodeContext() { process.Release(); }
    CDecoderProcess process;
    DecoderCatalog catalog;
    bool requested = false; ///< the decoders named are being loaded
    bool loaded = false;
};

namespace {

constexpr const char* kProgram = "quillon-cli";

/// Ends the program at once: a decoder may never return, so there is nothing to wait for.
/// The decoding process goes with it (it dies with its parent). Async-signal-safe.
extern "C" void EndOnSignal(int sig) {
    ::_exit(128 + sig);
}

/// While it lives, SIGINT and SIGTERM end the program with 130 and 143, also when the caller
/// had them blocked for a thread of its own (repeated captures): this thread takes them.
class CEndOnSignals {
public:
    CEndOnSignals() {
        struct sigaction action {};
        action.sa_handler = EndOnSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &m_oldInt);
        sigaction(SIGTERM, &action, &m_oldTerm);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        pthread_sigmask(SIG_UNBLOCK, &set, &m_oldMask);
    }
    ~CEndOnSignals() {
        pthread_sigmask(SIG_SETMASK, &m_oldMask, nullptr);
        sigaction(SIGINT, &m_oldInt, nullptr);
        sigaction(SIGTERM, &m_oldTerm, nullptr);
    }
    CEndOnSignals(const CEndOnSignals&) = delete;
    CEndOnSignals& operator=(const CEndOnSignals&) = delete;

private:
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
    sigset_t m_oldMask{};
};

/// Prints the annotations the filter shows, a batch at a time.
class CLinePrinter : public AnnotationSink {
public:
    CLinePrinter(const AnnotationFilter& filter, bool times, const SamplePeriod& period,
                 std::ostream& out)
        : m_filter(filter), m_bTimes(times), m_period(period), m_out(out) {}
    void Started(const std::vector<std::string>& ids) override { m_ids = ids; }
    bool Take(const Annotation& a) override {
        if (m_filter.Shows(a) && static_cast<std::size_t>(a.decoder) < m_ids.size()) {
            AppendAnnotationLine(m_lines, a, m_ids[static_cast<std::size_t>(a.decoder)], m_bTimes,
                                 m_period);
        }
        return true;
    }
    void BatchEnd() override {
        m_out.write(m_lines.data(), static_cast<std::streamsize>(m_lines.size()));
        m_out.flush();
        m_lines.clear();
    }

private:
    const AnnotationFilter& m_filter;
    bool m_bTimes;
    SamplePeriod m_period;
    std::ostream& m_out;
    std::vector<std::string> m_ids;
    std::string m_lines;
};

/// The decoding process with the decoders of request loaded (started on first use), or the
/// exit status of why not (the error printed).
int LoadDecoders(const DecodeRequest& request, DecodeContext& context, std::ostream& err) {
    if (context.loaded) {
        return kCliOk;
    }
    std::vector<DecoderInfo> infos;
    DecodeOutcome outcome;
    if (!context.requested) {
        outcome = context.process.RequestCatalog(DecoderIdsOf(request.decoders));
        context.requested = true;
    }
    if (outcome.status == DecodeStatus::Done) {
        outcome = context.process.ReceiveCatalog(infos);
    }
    if (outcome.status != DecodeStatus::Done) {
        err << kProgram
            << ": cannot run the protocol decoders: " << outcome.error.value_or("stopped") << "\n";
        return kCliDecoderFailed;
    }
    context.catalog.Merge(infos);
    context.loaded = true;
    return kCliOk;
}

/// The stack and annotation filter of request for a capture with these channels, or the
/// exit status (the error printed).
int ParseRequest(const DecodeRequest& request, const DecoderCatalog& catalog,
                 const ChannelChoice& channels, DecoderStack& stack, AnnotationFilter& filter,
                 std::ostream& err) {
    auto parsed = ParseDecoderArg(request.decoders, catalog.Lookup(), channels);
    if (const auto* e = std::get_if<ArgError>(&parsed)) {
        err << kProgram << ": " << e->message << "\n";
        return kCliBadArguments;
    }
    stack = std::get<DecoderStack>(std::move(parsed));
    filter = AnnotationFilter::All(stack.size());
    if (!request.annotations.empty()) {
        auto chosen = ParseAnnotationArg(request.annotations, stack, catalog.Lookup());
        if (const auto* e = std::get_if<ArgError>(&chosen)) {
            err << kProgram << ": " << e->message << "\n";
            return kCliBadArguments;
        }
        filter = std::get<AnnotationFilter>(std::move(chosen));
    }
    return kCliOk;
}

} // namespace

int CheckDecodeRequest(DecodeRequest& request, std::ostream& err) {
    if (!request.context) {
        request.context = std::make_shared<DecodeContext>();
    }
    const auto& context = request.context;
    if (const int status = LoadDecoders(request, *context, err); status != kCliOk) {
        return status;
    }
    DecoderStack stack;
    AnnotationFilter filter;
    return ParseRequest(request, context->catalog, ChannelChoice{{}, kAnalyzerChannels}, stack,
                        filter, err);
}

int DecodeCapture(const CapturePtr& capture, const DecodeRequest& request, std::ostream& out,
                  std::ostream& err) {
    const CEndOnSignals endOnSignals;
    const auto context = request.context ? request.context : std::make_shared<DecodeContext>();
    if (const int status = LoadDecoders(request, *context, err); status != kCliOk) {
        return status;
    }
    DecoderStack stack;
    AnnotationFilter filter;
    if (const int status = ParseRequest(
            request, context->catalog,
            ChannelChoice{capture->ChannelNames(), capture->ChannelCount()}, stack, filter, err);
        status != kCliOk) {
        return status;
    }
    std::string error;
    const auto job = MakeDecodeJob(capture, stack, error);
    if (!job) {
        err << kProgram << ": " << error << "\n";
        return kCliBadArguments;
    }
    std::int64_t received = 0;
    for (const auto& stretch : job->stretches) {
        received += stretch.Size();
    }
    if (received < capture->SampleCount()) {
        err << kProgram << ": " << capture->SampleCount() - received
            << " samples of the decoded channels were not received; each of the "
            << job->stretches.size() << " received stretches is decoded on its own\n";
    }
    CLinePrinter printer(filter, request.times, capture->Period(), out);
    const DecodeOutcome outcome = context->process.Decode(*job, printer);
    printer.BatchEnd();
    if (outcome.error) {
        err << kProgram << ": decoder error: " << *outcome.error << "\n";
        return kCliDecoderFailed;
    }
    return outcome.status == DecodeStatus::Done ? kCliOk : kCliDecoderFailed;
}

int RunDecodersCommand(std::ostream& out, std::ostream& err) {
    const CEndOnSignals endOnSignals;
    CDecoderProcess process;
    std::vector<DecoderInfo> infos;
    DecodeOutcome outcome = process.RequestCatalog({}, true);
    if (outcome.status == DecodeStatus::Done) {
        outcome = process.ReceiveCatalog(infos);
    }
    if (outcome.status != DecodeStatus::Done || infos.empty()) {
        err << kProgram << ": "
            << outcome.error.value_or("libsigrokdecode found no protocol decoders") << "\n";
        return kCliDecoderFailed;
    }
    std::size_t width = 0;
    for (const auto& d : infos) {
        width = std::max(width, d.id.size());
    }
    for (const auto& d : infos) {
        out << d.id << std::string(width + 2 - d.id.size(), ' ') << d.longname << "\n";
    }
    return kCliOk;
}

int RunDecodeCommand(const CliArgs& args, std::ostream& out, std::ostream& err) {
    const CEndOnSignals endOnSignals;
    DecodeRequest request{args.decode, std::make_shared<DecodeContext>()};
    // The decoding process starts loading the decoders while the file is read.
    request.context->requested =
        request.context->process.RequestCatalog(DecoderIdsOf(request.decoders)).status ==
        DecodeStatus::Done;
    const CapturePtr capture = ReadCaptureForCli(args.file, std::nullopt, err);
    if (!capture) {
        return kCliBadArguments; // the FILE argument names no capture
    }
    return DecodeCapture(capture, request, out, err);
}

} // namespace quillon
