// Fuzz target: the readers of every format. The input is read as a VCD file, as a CSV file,
// as a zip archive, and as a sigrok session file built around it (its first line the
// metadata's probe line and rate, the rest the samples of two chunks). What a reader accepts
// must be a sound capture that writes and reads back the same.
#include "file/capture_file.h"
#include "unit/file_test_support.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace quillon;

// The fuzzer runs with little memory: no capture may ask for more than this.
constexpr std::uint64_t kMemoryLimit = std::uint64_t{1} << 20;

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void CheckCapture(const CapturePtr& capture) {
    const std::int64_t n = capture->SampleCount();
    Check(n >= 1 && capture->ChannelCount() >= 1 && capture->ChannelCount() <= kMaxCaptureChannels);
    Check(capture->Period().Numerator() > 0 && capture->Period().Denominator() > 0);
    Check(!capture->TriggerSample() ||
          (*capture->TriggerSample() >= 0 && *capture->TriggerSample() < n));
    for (int c = 0; c < capture->ChannelCount(); ++c) {
        for (const auto& gap : capture->Gaps(c)) {
            Check(gap.first >= 0 && gap.first < gap.end && gap.end <= n);
        }
    }
    if (n > 20'000) {
        return; // sound; the round trip of the big ones costs too much time
    }
    // Our own files give back what was read: levels, gaps and the period.
    for (const FileFormat format : {FileFormat::Vcd, FileFormat::Csv, FileFormat::Sigrok}) {
        const std::string bytes = CaptureFileBytes(*capture, format);
        FileReadError error;
        ReadOptions options;
        options.memoryLimit = kMemoryLimit;
        const char* name = format == FileFormat::Vcd   ? "again.vcd"
                           : format == FileFormat::Csv ? "again.csv"
                                                       : "again.sr";
        const CapturePtr again = ReadCaptureBytes(bytes, name, options, error);
        Check(again != nullptr && again->SampleCount() == n &&
              again->ChannelCount() == capture->ChannelCount() &&
              again->Period() == capture->Period());
        for (int c = 0; c < capture->ChannelCount(); ++c) {
            Check(again->Gaps(c) == capture->Gaps(c));
            const auto a = capture->Plane(c);
            const auto b = again->Plane(c);
            Check(std::equal(a.begin(), a.end(), b.begin(), b.end()));
        }
    }
}

void Read(std::string_view bytes, const char* name) {
    ReadOptions options;
    options.memoryLimit = kMemoryLimit;
    options.period = SamplePeriod::FromHz(1'000'000);
    FileReadError error;
    if (const CapturePtr capture = ReadCaptureBytes(bytes, name, options, error)) {
        CheckCapture(capture);
    } else {
        Check(!error.what.empty());
    }
}

// A session file whose metadata and samples come from the input.
std::string SessionAround(std::string_view input) {
    const auto newline = input.find('\n');
    const std::string_view line = input.substr(0, newline);
    const std::string_view samples =
        newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);
    const std::string metadata = "[device 1]\ncapturefile=logic-1\n" + std::string(line) +
                                 "\ntotal probes=12\nunitsize=2\nprobe1=a\nprobe3=c\n"
                                 "[quillon]\ntrigger_sample=5\nmissing3=2-9\n";
    return test::ZipOf({{"metadata", metadata},
                        {"logic-1-1", std::string(samples.substr(0, samples.size() / 2))},
                        {"logic-1-2", std::string(samples.substr(samples.size() / 2))}});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    Read(input, "fuzz.vcd");
    Read(input, "fuzz.csv");
    Read(input, "fuzz.sr");
    if (const std::string session = SessionAround(input); !session.empty()) {
        Read(session, "session.sr");
    }
    return 0;
}
