// Decoding speed: starting the decoding library (once per process, so timed once), and one
// UART decoder over a whole capture of the emulator's bench.
#include "decode/decoder_args.h"
#include "decode/decoder_library.h"
#include "emulator/bench_signals.h"

#include <benchmark/benchmark.h>

namespace {

using namespace quillon;

constexpr int kCaptureSamples = 4032;

// Registered first so that it is the call that starts the library.
void BM_LibraryStart(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(CDecoderLibrary::Instance().Decoders().size());
    }
    state.counters["decoders"] = static_cast<double>(CDecoderLibrary::Instance().Decoders().size());
}
BENCHMARK(BM_LibraryStart)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void DecodeWholeCapture(benchmark::State& state, int rate, const std::string& argument) {
    CDecoderLibrary& library = CDecoderLibrary::Instance();
    CaptureData capture;
    capture.rate = rate;
    capture.samples = SampleSignals(SignalSet::Bench, rate, 0, kCaptureSamples);
    const auto parsed = ParseDecoderArg(argument, CDecoderLibrary::Lookup(), DefaultChannelNames());
    const auto& stack = std::get<DecoderStack>(parsed);
    std::size_t annotations = 0;
    for (auto _ : state) {
        const DecodeResult result = library.Decode(capture, stack);
        annotations = result.annotations.size();
        benchmark::DoNotOptimize(annotations);
    }
    state.counters["annotations"] = static_cast<double>(annotations);
}

// 921600 baud: at 20 ns 54 samples a bit (7 characters), at 200 ns the whole line and more.
void BM_DecodeUart20ns(benchmark::State& state) {
    DecodeWholeCapture(state, 1, "uart:rx=D8:baudrate=921600:format=ascii");
}
void BM_DecodeUart200ns(benchmark::State& state) {
    DecodeWholeCapture(state, 10, "uart:rx=D8:baudrate=921600:format=ascii");
}
void BM_DecodeI2c200ns(benchmark::State& state) {
    DecodeWholeCapture(state, 10, "i2c:scl=D13:sda=D14");
}
BENCHMARK(BM_DecodeUart20ns)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeUart200ns)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeI2c200ns)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
