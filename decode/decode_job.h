// What the decoding process is given for a stack over a capture: the channels the stack reads
// packed into rows (so a capture may have any number of channels), the sample rate, and the
// stretches in which all those channels were received. Samples that were not received are
// never decoded: each stretch runs on a session of its own, so no decoder reads a gap as data
// and the times of what follows stay right.
#pragma once

#include "capture/capture.h"
#include "capture/units.h"
#include "decode/decoder_process.h"

#include <cstdint>
#include <optional>
#include <string>

namespace quillon {

/// The sample rate the decoders are given, in hertz: exact when the period is a whole
/// fraction of a second (1/50000000 s: 50 MHz), else rounded to the nearest hertz and never
/// below 1 Hz (a period of 2 s gives 1 Hz, 41667 ps gives 23999808 Hz). The decoders take
/// only whole hertz; the times printed and shown come from the exact period, not from this.
std::uint64_t DecoderSampleRate(const SamplePeriod& period);

/// The job for stack (channels as capture channels) over capture, which it keeps alive.
/// nullopt, with error set, when the stack reads a channel the capture does not have.
std::optional<DecodeJob> MakeDecodeJob(const CapturePtr& capture, const DecoderStack& stack,
                                       std::string& error);

} // namespace quillon
