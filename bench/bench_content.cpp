// The benchmarks' capture content.
#include "bench/bench_content.h"

#include "emulator/bench_signals.h"

#include <algorithm>
#include <array>
#include <vector>

namespace quillon::bench {

namespace {

constexpr std::int64_t kSampleNs = kBenchPeriodPs / 1000;
constexpr std::int64_t kFastHalfPeriod = 2; // samples: 12.5 MHz at 20 ns
// The emulated bench's channels used as they are: its 1 MHz square wave on D1 (its D0),
// SPI, the UARTs, PWM and I2C.
constexpr std::uint16_t kEmulatedMask = 0x7FF1;
constexpr std::array<int, 3> kRandomChannels = {2, 3, 15};
// Random lines hold each level for 1 us to about 5 ms.
constexpr std::int64_t kRandomMinRun = 50;
constexpr std::int64_t kRandomSpread = 250'000;

std::uint64_t Step(std::uint64_t& seed) {
    // xorshift64*
    seed ^= seed >> 12;
    seed ^= seed << 25;
    seed ^= seed >> 27;
    return seed * 0x2545F4914F6CDD1DULL;
}

} // namespace

BenchContent::BenchContent() {
    for (auto& next : m_randomNext) {
        next = kRandomMinRun + static_cast<std::int64_t>(Step(m_seed) % kRandomSpread);
    }
}

BenchContent::Run BenchContent::Next(std::int64_t limit) {
    if (m_nSample >= m_emulatedUntil) {
        const SignalLevels levels =
            EvaluateSignals(SignalSet::Bench, m_nSample * kSampleNs, kEmulatedMask);
        // Its D0 (1 MHz) on our D1; D0 is ours.
        m_emulated =
            static_cast<std::uint16_t>((levels.value & 0x7FF0) | ((levels.value & 1U) << 1));
        m_emulatedUntil = (levels.stableUntilNs + kSampleNs - 1) / kSampleNs;
    }
    for (std::size_t k = 0; k < kRandomChannels.size(); ++k) {
        if (m_nSample >= m_randomNext[k]) {
            m_random ^= static_cast<std::uint16_t>(1U << kRandomChannels[k]);
            m_randomNext[k] =
                m_nSample + kRandomMinRun + static_cast<std::int64_t>(Step(m_seed) % kRandomSpread);
        }
    }
    const bool fast = (m_nSample / kFastHalfPeriod) % 2 == 1;
    const std::int64_t fastNext = (m_nSample / kFastHalfPeriod + 1) * kFastHalfPeriod;
    std::int64_t end = std::min({fastNext, m_emulatedUntil, m_nSample + limit});
    for (const std::int64_t next : m_randomNext) {
        end = std::min(end, next);
    }
    end = std::max(end, m_nSample + 1);
    Run run;
    run.value = static_cast<std::uint16_t>(m_emulated | m_random | (fast ? 1U : 0U));
    run.length = end - m_nSample;
    m_nSample = end;
    return run;
}

CapturePtr MakeBenchCapture(std::int64_t samples) {
    CaptureBuilder builder(kAnalyzerChannels, SamplePeriod::FromPicoseconds(kBenchPeriodPs));
    builder.Reserve(samples);
    builder.Resize(samples);
    BenchContent content;
    std::int64_t at = 0;
    while (at < samples) {
        const auto run = content.Next(samples - at);
        for (int c = 0; c < kAnalyzerChannels; ++c) {
            if (((run.value >> c) & 1U) != 0) {
                builder.Fill(c, at, at + run.length, true);
            }
        }
        at += run.length;
    }
    return builder.Finish();
}

} // namespace quillon::bench
