// Fuzz target: the VCD and CSV readers. What they accept must be a sound capture that
// writes and reads back the same.
#include "capture/export.h"
#include "measure/capture_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void CheckCapture(const quillon::CaptureData& data) {
    const auto n = static_cast<std::int64_t>(data.samples.size());
    if (n < 1 || n > quillon::kMaxFileSamples || data.PeriodPs() <= 0 || data.channels < 1 ||
        data.channels > quillon::kExportChannels ||
        (!data.received.empty() && data.received.size() != data.samples.size()) ||
        (data.triggerSample && (*data.triggerSample < 0 || *data.triggerSample >= n))) {
        std::abort();
    }
    if (!data.received.empty()) {
        return; // levels not received are written by other rules
    }
    quillon::CaptureData again;
    quillon::ReadError error;
    if (!quillon::ReadVcd("again.vcd", quillon::ToVcd(data), again, error) ||
        again.samples != data.samples || again.PeriodPs() != data.PeriodPs()) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    quillon::CaptureData capture;
    quillon::ReadError error;
    if (quillon::ReadVcd("fuzz.vcd", text, capture, error)) {
        CheckCapture(capture);
    } else if (error.what.empty()) {
        std::abort();
    }
    if (quillon::ReadCsv("fuzz.csv", text, capture, error)) {
        CheckCapture(capture);
    } else if (error.what.empty()) {
        std::abort();
    }
    return 0;
}
