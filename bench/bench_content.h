// What the viewer's benchmarks draw from memory (files are make_capture's): 16 channels at
// 20 ns per sample, as a bench at work looks: D0 a fast clock (12.5 MHz), D1 a 1 MHz clock, D2 and
// D3 slow random lines, D4..D7 SPI, D8..D11 four UARTs, D12 PWM, D13/D14 I2C, D15 a slow random
// line. Deterministic.
#pragma once

#include "capture/capture.h"

#include <cstdint>

namespace quillon::bench {

inline constexpr std::int64_t kBenchPeriodPs = 20'000;

/// The content as runs of equal samples, from sample 0 on.
class BenchContent {
public:
    BenchContent();
    struct Run {
        std::uint16_t value = 0; ///< bit n: channel Dn
        std::int64_t length = 0; ///< samples
    };
    /// The next run, at most limit samples long.
    Run Next(std::int64_t limit);

private:
    std::int64_t m_nSample = 0;
    std::uint16_t m_emulated = 0;      ///< the emulated bench's channels
    std::int64_t m_emulatedUntil = 0;  ///< sample at which they may change
    std::uint16_t m_random = 0;        ///< the random lines
    std::int64_t m_randomNext[3] = {}; ///< sample of each random line's next change
    std::uint64_t m_seed = 0x9E3779B97F4A7C15ULL;
};

/// samples of the content as a capture.
CapturePtr MakeBenchCapture(std::int64_t samples);

} // namespace quillon::bench
