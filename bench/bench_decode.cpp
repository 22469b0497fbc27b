// Decoding speed and memory through the decoding process, as the viewer and quillon-cli use
// it: starting a process with one decoder loaded, and a UART, I2C or SPI decoder over a
// whole capture of the emulator's bench (Google Benchmark).
//   bench_decode --soak N       N decodes in one process as the viewer does them, with the
//                               resident memory of this program and of the decoding process
//   bench_decode --vcd FILE N R  writes N samples of the bench at rate multiplier R as VCD
//                               (the files bench/decode_vs_sigrok.sh times)
//   bench_decode --lanes N      the viewer's store of a timing decode of N samples that all
//                               differ from the one before (two annotations per sample), with
//                               the memory of this program and of the decoding process
#include "capture/capture.h"
#include "decode/annotation_layout.h"
#include "decode/decode_job.h"
#include "decode/decoder_args.h"
#include "decode/decoder_catalog.h"
#include "decode/decoder_process.h"
#include "emulator/bench_signals.h"
#include "file/capture_file.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

namespace {

using namespace quillon;

constexpr int kCaptureSamples = 4032;

CapturePtr Bench(int rate, std::int64_t samples = kCaptureSamples) {
    const auto words = SampleSignals(SignalSet::Bench, rate, 0, samples);
    return CaptureFromWords(words, SamplePeriod::FromPicoseconds(20'000LL * rate));
}

struct Counter : AnnotationSink {
    std::size_t n = 0;
    bool Take(const Annotation& /*a*/) override {
        ++n;
        return true;
    }
};

/// A process with the decoders of argument loaded, and the job for it over capture.
struct Prepared {
    CDecoderProcess process;
    DecoderCatalog catalog;
    std::optional<DecodeJob> job;

    Prepared(const std::string& argument, const CapturePtr& capture) {
        std::vector<DecoderInfo> infos;
        process.RequestCatalog(DecoderIdsOf(argument));
        process.ReceiveCatalog(infos);
        catalog = DecoderCatalog(std::move(infos));
        auto parsed =
            ParseDecoderArg(argument, catalog.Lookup(), ChannelChoice{{}, capture->ChannelCount()});
        std::string error;
        if (const auto* stack = std::get_if<DecoderStack>(&parsed)) {
            job = MakeDecodeJob(capture, *stack, error);
        }
    }
};

void BM_ProcessStartWithUart(benchmark::State& state) {
    for (auto _ : state) {
        CDecoderProcess process;
        std::vector<DecoderInfo> infos;
        process.RequestCatalog({"uart"});
        process.ReceiveCatalog(infos);
        benchmark::DoNotOptimize(infos.size());
    }
}
BENCHMARK(BM_ProcessStartWithUart)->Unit(benchmark::kMillisecond)->UseRealTime();

void DecodeWholeCapture(benchmark::State& state, int rate, const std::string& argument) {
    Prepared prepared(argument, Bench(rate));
    if (!prepared.job) {
        state.SkipWithError("the decoder argument does not parse");
        return;
    }
    std::size_t annotations = 0;
    for (auto _ : state) {
        Counter counter;
        prepared.process.Decode(*prepared.job, counter);
        annotations = counter.n;
    }
    state.counters["annotations"] = static_cast<double>(annotations);
}

// 921600 baud: at 20 ns 54 samples a bit (6 characters), at 200 ns three lines.
void BM_DecodeUart20ns(benchmark::State& state) {
    DecodeWholeCapture(state, 1, "uart:rx=D8:baudrate=921600:format=ascii");
}
void BM_DecodeUart200ns(benchmark::State& state) {
    DecodeWholeCapture(state, 10, "uart:rx=D8:baudrate=921600:format=ascii");
}
void BM_DecodeI2c200ns(benchmark::State& state) {
    DecodeWholeCapture(state, 10, "i2c:scl=D13:sda=D14");
}
void BM_DecodeSpi20ns(benchmark::State& state) {
    DecodeWholeCapture(state, 1, "spi:clk=D4:mosi=D5:miso=D6:cs=D7");
}
BENCHMARK(BM_DecodeUart20ns)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeUart200ns)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeI2c200ns)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeSpi20ns)->Unit(benchmark::kMillisecond)->UseRealTime();

long ResidentKiB(const std::string& pid) {
    std::ifstream status("/proc/" + pid + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

void Report(const char* when, const CDecoderProcess& process) {
    std::printf("decode  %-16s this program %6.1f MB  decoding process %6.1f MB\n", when,
                ResidentKiB("self") / 1024.0,
                process.Pid() > 0 ? ResidentKiB(std::to_string(process.Pid())) / 1024.0 : 0.0);
    std::fflush(stdout);
}

// Flat figures from decode 25 on mean nothing grows from decode to decode. The process
// replaces itself when the library's leaks have grown it by 1 MB; the count says how often.
int RunSoak(int runs) {
    Prepared prepared("uart:rx=D8:baudrate=921600:format=ascii", Bench(10));
    if (!prepared.job) {
        std::fputs("the decoder argument does not parse\n", stderr);
        return 1;
    }
    std::set<pid_t> processes;
    for (int i = 1; i <= runs; ++i) {
        Counter counter;
        prepared.process.Decode(*prepared.job, counter);
        if (prepared.process.Pid() > 0) {
            processes.insert(prepared.process.Pid());
        }
        if (counter.n == 0) {
            std::fprintf(stderr, "decode %d found nothing\n", i);
            return 1;
        }
        if (i == 1 || i == 25 || i == runs) {
            Report(("after " + std::to_string(i)).c_str(), prepared.process);
        }
    }
    std::printf("decode  %d decodes in %zu decoding processes\n", runs, processes.size());
    return 0;
}

/// Keeps annotations as the viewer does, and watches the decoding process's size.
struct LaneStore : AnnotationSink {
    explicit LaneStore(std::vector<const DecoderInfo*> infos) : builder(std::move(infos)) {}
    bool Take(const Annotation& a) override {
        if (builder.Count() % 1'000'000 == 0 && pid > 0) {
            processKiB = std::max(processKiB, ResidentKiB(std::to_string(pid)));
        }
        return builder.Add(a);
    }
    CLaneBuilder builder;
    pid_t pid = -1;
    long processKiB = 0;
};

int RunLanes(std::int64_t samples) {
    CaptureBuilder toggling(1, SamplePeriod::FromPicoseconds(20'000));
    toggling.Resize(samples);
    for (std::int64_t i = 1; i < samples; i += 2) {
        toggling.SetLevel(0, i, true);
    }
    const auto started = std::chrono::steady_clock::now();
    Prepared prepared("timing:data=D0", toggling.Finish());
    if (!prepared.job) {
        std::fputs("the decoder argument does not parse\n", stderr);
        return 1;
    }
    LaneStore store({prepared.catalog.Find("timing")});
    store.pid = prepared.process.Pid();
    const DecodeOutcome outcome = prepared.process.Decode(*prepared.job, store);
    const std::size_t kept = store.builder.Count();
    const bool limited = store.builder.LimitReached();
    const auto lanes = store.builder.Finish(outcome.error, samples);
    std::uint64_t bytes = 0;
    for (const auto& lane : lanes) {
        bytes += lane.boxes.capacity() * sizeof(LaneBox);
    }
    bytes += lanes.empty() ? 0 : lanes.front().texts->MemoryBytes();
    std::printf("lanes   %lld samples: %zu annotations kept%s in %.1f s, the store %.1f MB "
                "(%zu distinct texts), this program %.1f MB, decoding process at most %.1f MB\n",
                static_cast<long long>(samples), kept, limited ? " (the limit)" : "",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
                static_cast<double>(bytes) / 1048576.0,
                lanes.empty() ? std::size_t{0} : lanes.front().texts->Count(),
                ResidentKiB("self") / 1024.0, store.processKiB / 1024.0);
    return 0;
}

int WriteBenchVcd(const std::string& path, std::int64_t samples, int rate) {
    std::string error;
    if (!WriteCaptureFile(path, *Bench(rate, samples), FileFormat::Vcd, error)) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // The decoding process of the same build tree, unless told otherwise.
    const std::string self = argv[0];
    const std::string tree = self.substr(0, self.find_last_of('/') + 1) + "../app/quillon-decoder";
    ::setenv("QUILLON_DECODER", tree.c_str(), 0);
    if (argc == 3 && std::string(argv[1]) == "--soak") {
        return RunSoak(std::atoi(argv[2]));
    }
    if (argc == 3 && std::string(argv[1]) == "--lanes") {
        return RunLanes(std::atoll(argv[2]));
    }
    if (argc == 5 && std::string(argv[1]) == "--vcd") {
        return WriteBenchVcd(argv[2], std::atoll(argv[3]), std::atoi(argv[4]));
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
