// The capture value's small helpers.
#include "capture/capture_data.h"

#include <algorithm>

namespace quillon {

ChannelNames DefaultChannelNames() {
    ChannelNames names;
    for (int n = 0; n < kAnalyzerChannels; ++n) {
        names[static_cast<std::size_t>(n)] = DefaultChannelName(n);
    }
    return names;
}

std::size_t CaptureData::MissingCount() const {
    if (received.empty()) {
        return 0;
    }
    const auto got = static_cast<std::size_t>(std::count(received.begin(), received.end(), 0));
    // Samples beyond the mask count as missing too.
    return got + (samples.size() > received.size() ? samples.size() - received.size() : 0);
}

CaptureData CaptureFromStore(const SampleStore& store, int rate) {
    CaptureData data;
    data.rate = rate;
    data.samples.reserve(SampleStore::kSamplesPerCapture);
    for (int i = 0; i < SampleStore::kSamplesPerCapture; ++i) {
        data.samples.push_back(store.GetSample(i));
    }
    return data;
}

} // namespace quillon
