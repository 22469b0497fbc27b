// Searching a capture of 10 million samples on 16 channels: a glitch on a quiet line, every
// pulse of a clock, edges, a pattern, "and", a dense noisy line, and the first match only (what
// a capture-until asks). Beside them, reading every sample of one channel one by one.
#include "search/matcher.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

using namespace quillon;

constexpr std::int64_t kSamples = 10'000'000;
constexpr std::int64_t kGlitchAt = 9'876'543;

/// D0 a clock of 50 samples, D1 UART-like bits of 40 samples, D2 quiet but for one glitch near
/// the end, D3 noise changing every 1 to 8 samples, D4..D15 a counter of 20-sample ticks.
CapturePtr MakeCapture() {
    CaptureBuilder builder(kAnalyzerChannels, SamplePeriod::FromPicoseconds(20'000));
    builder.Resize(kSamples);
    std::mt19937 random(7);
    for (std::int64_t i = 0; i < kSamples; i += 50) {
        builder.Fill(0, i, i + 25, true);
    }
    for (std::int64_t i = 0; i < kSamples; i += 40) {
        builder.Fill(1, i, i + 40, (random() & 1U) != 0);
    }
    builder.Fill(2, 0, kSamples, true);
    builder.SetLevel(2, kGlitchAt, false);
    bool level = false;
    for (std::int64_t i = 0; i < kSamples;) {
        const auto run = static_cast<std::int64_t>(1 + random() % 8);
        builder.Fill(3, i, i + run, level);
        level = !level;
        i += run;
    }
    for (int c = 4; c < kAnalyzerChannels; ++c) {
        const std::int64_t half = std::int64_t{20} << (c - 4);
        for (std::int64_t i = half; i < kSamples; i += 2 * half) {
            builder.Fill(c, i, i + half, true);
        }
    }
    builder.Resize(kSamples);
    return builder.Finish();
}

const CapturePtr& Bench() {
    static const CapturePtr capture = MakeCapture();
    return capture;
}

Matcher Bound(const char* text) {
    return std::get<Matcher>(Matcher::Bind(std::get<Condition>(ParseCondition(text)), Bench()));
}

/// Every match visited (Each), none kept: the matcher's own time.
void BM_Each(benchmark::State& state, const char* text) {
    const Matcher matcher = Bound(text);
    std::size_t found = 0;
    for (auto _ : state) {
        found = 0;
        matcher.Each(0, -1, [&found](const Match& /*m*/) {
            ++found;
            return true;
        });
        benchmark::DoNotOptimize(found);
    }
    state.counters["matches"] = static_cast<double>(found);
}

/// Every match in a vector (All): adds the memory for 200 000 matches.
void BM_All(benchmark::State& state, const char* text) {
    const Matcher matcher = Bound(text);
    for (auto _ : state) {
        benchmark::DoNotOptimize(matcher.All().size());
    }
}

void BM_FirstOnly(benchmark::State& state, const char* text) {
    const Matcher matcher = Bound(text);
    for (auto _ : state) {
        benchmark::DoNotOptimize(matcher.Next(0));
    }
}

/// The pulses of D0 found by reading every sample: what the matcher must beat.
void BM_SampleBySample(benchmark::State& state) {
    const Capture& capture = *Bench();
    for (auto _ : state) {
        std::int64_t pulses = 0;
        std::int64_t start = -1;
        for (std::int64_t i = 1; i < capture.SampleCount(); ++i) {
            const bool now = capture.Level(0, i);
            if (now != capture.Level(0, i - 1)) {
                pulses += (!now && start >= 0 && i - start < 30) ? 1 : 0;
                start = now ? i : -1;
            }
        }
        benchmark::DoNotOptimize(pulses);
    }
}

BENCHMARK_CAPTURE(BM_Each, glitch_on_quiet_line, "D2 low<100ns")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Each, clock_pulses, "D0 high<600ns")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Each, clock_rises, "D0 rise")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Each, clock_high, "D0 high")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Each, pattern_16_channels, "pattern=1010101010100xx1")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Each, rise_and_level, "D0 rise and D1 high")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Each, noise_pulses, "D3 high<50ns")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Each, glitch_or_pattern, "D2 low<100ns or pattern=1010101010100xx1")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_All, clock_pulses, "D0 high<600ns")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FirstOnly, first_glitch, "D2 low<100ns")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SampleBySample)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
