// Conversions between CaptureData and Capture.
#include "capture/capture_bridge.h"

#include <algorithm>

namespace quillon {

CapturePtr ToCapture(const CaptureData& data) {
    const int channels = std::clamp(data.channels, 1, kAnalyzerChannels);
    CaptureBuilder builder(channels, SamplePeriod::FromPicoseconds(data.PeriodPs()));
    std::vector<std::uint8_t> rows(data.samples.size() * 2);
    for (std::size_t i = 0; i < data.samples.size(); ++i) {
        rows[2 * i] = static_cast<std::uint8_t>(data.samples[i] & 0xFF);
        rows[2 * i + 1] = static_cast<std::uint8_t>(data.samples[i] >> 8);
    }
    builder.AppendRows(rows.data(), static_cast<std::int64_t>(data.samples.size()), 2);
    for (int c = 0; c < channels; ++c) {
        builder.SetChannelName(c, data.names[static_cast<std::size_t>(c)]);
    }
    builder.SetTrigger(data.triggerSample);
    if (!data.received.empty()) {
        const auto count = static_cast<std::int64_t>(data.samples.size());
        std::int64_t i = 0;
        while (i < count) {
            if (data.IsReceived(static_cast<std::size_t>(i))) {
                ++i;
                continue;
            }
            const std::int64_t first = i;
            while (i < count && !data.IsReceived(static_cast<std::size_t>(i))) {
                ++i;
            }
            builder.MarkMissing(-1, first, i);
        }
    }
    return builder.Finish();
}

CaptureData ToCaptureData(const Capture& capture) {
    CaptureData data;
    const int channels = std::min(capture.ChannelCount(), kAnalyzerChannels);
    const auto count = static_cast<std::size_t>(capture.SampleCount());
    data.channels = channels;
    data.samples.assign(count, 0);
    for (int c = 0; c < channels; ++c) {
        data.names[static_cast<std::size_t>(c)] = capture.ChannelName(c);
        const auto plane = capture.Plane(c);
        for (std::size_t i = 0; i < count; ++i) {
            if (((plane[i / 64] >> (i % 64)) & 1U) != 0) {
                data.samples[i] = static_cast<std::uint16_t>(data.samples[i] | (1U << c));
            }
        }
    }
    // A period of no whole picoseconds (24 MHz) to the nearest one: CaptureData holds no more.
    const auto ps = capture.Period().WholePicoseconds();
    data.periodPs = ps.value_or(std::max<std::int64_t>(1, capture.Period().TimeOf(1).count()));
    for (const int rate : {1, 10, 100, 1000}) {
        if (data.periodPs == kSampleUnitPs * rate) {
            data.rate = rate;
            data.periodPs = 0;
        }
    }
    data.triggerSample = capture.TriggerSample();
    if (!capture.IsComplete()) {
        data.received.assign(count, 1);
        for (int c = 0; c < channels; ++c) {
            for (const auto& gap : capture.Gaps(c)) {
                std::fill(data.received.begin() + gap.first, data.received.begin() + gap.end, 0);
            }
        }
    }
    return data;
}

} // namespace quillon
