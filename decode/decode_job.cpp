// Decoding jobs from captures.
#include "decode/decode_job.h"

#include "decode/decoder_args.h"

namespace quillon {

std::uint64_t DecoderSampleRate(const SamplePeriod& period) {
    if (const auto hz = period.WholeHz(); hz && *hz > 0) {
        return *hz;
    }
    // den / num rounded, in 128 bits as den can be near the 64-bit limit.
    __extension__ using Wide = unsigned __int128;
    const auto num = static_cast<Wide>(period.Numerator());
    const auto den = static_cast<Wide>(period.Denominator());
    const Wide rounded = (2 * den + num) / (2 * num);
    return rounded < 1 ? 1 : static_cast<std::uint64_t>(rounded);
}

std::optional<DecodeJob> MakeDecodeJob(const CapturePtr& capture, const DecoderStack& stack,
                                       std::string& error) {
    if (!capture || stack.empty()) {
        error = "nothing to decode";
        return std::nullopt;
    }
    const std::vector<int> channels = ChannelsOf(stack);
    for (const int channel : channels) {
        if (channel < 0 || channel >= capture->ChannelCount()) {
            error = "the capture has no channel D" + std::to_string(channel) + " (it has " +
                    std::to_string(capture->ChannelCount()) + ")";
            return std::nullopt;
        }
    }
    DecodeJob job;
    job.stack = stack;
    // The decoders see only the stack's channels, as bits 0, 1, ... of each row.
    for (auto& [id, channel] : job.stack.front().channels) {
        channel = static_cast<int>(std::lower_bound(channels.begin(), channels.end(), channel) -
                                   channels.begin());
    }
    job.rate = DecoderSampleRate(capture->Period());
    job.unitSize = std::max<int>(1, static_cast<int>((channels.size() + 7) / 8));
    job.stretches = channels.empty() ? std::vector<SampleRange>{{0, capture->SampleCount()}}
                                     : capture->ReceivedStretches(channels);
    job.pack = [capture, channels, unit = job.unitSize](std::int64_t first, std::int64_t count,
                                                        std::uint8_t* out) {
        if (channels.empty()) {
            std::fill(out, out + count * unit, std::uint8_t{0});
            return;
        }
        capture->PackRows(channels, first, count, out);
    };
    return job;
}

} // namespace quillon
