// The viewer's hunting tools on 100 million samples: statistics between two points (a slow
// clock, a glitch on a quiet line, a clock of 10 million edges), and the annotation table
// over 5 million annotations (merged by start, then filtered).
#include "measure/range_stats.h"
#include "ui/annotation_table.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

namespace {

using namespace quillon;

constexpr std::int64_t kSamples = 100'000'000;

/// D0 a clock of 1000 samples, D1 quiet but for one glitch, D2 a clock of 20 samples.
const CapturePtr& Bench() {
    static const CapturePtr capture = [] {
        CaptureBuilder builder(3, SamplePeriod::FromPicoseconds(20'000));
        builder.Resize(kSamples);
        for (std::int64_t i = 0; i < kSamples; i += 1000) {
            builder.Fill(0, i, i + 300, true);
        }
        builder.SetLevel(1, kSamples / 3, true);
        for (std::int64_t i = 0; i < kSamples; i += 20) {
            builder.Fill(2, i, i + 10, true);
        }
        return builder.Finish();
    }();
    return capture;
}

void BM_Stats(benchmark::State& state) {
    const int channel = static_cast<int>(state.range(0));
    std::int64_t edges = 0;
    for (auto _ : state) {
        const RangeStats stats = MeasureRange(*Bench(), channel);
        edges = stats.rising + stats.falling;
        benchmark::DoNotOptimize(stats);
    }
    state.counters["edges"] = static_cast<double>(edges);
}
BENCHMARK(BM_Stats)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

/// Two rows of 2.5 million boxes each, interleaved in time.
std::vector<std::shared_ptr<const AnnotationLane>> Lanes() {
    std::vector<std::shared_ptr<const AnnotationLane>> lanes;
    DecoderInfo decoder;
    decoder.name = "UART";
    for (int row = 0; row < 2; ++row) {
        CLaneBuilder builder({&decoder}, 10'000'000);
        const std::string texts[] = {"Start bit", "Stop bit", "ERR", "0x41"};
        for (std::int64_t i = 0; i < 2'500'000; ++i) {
            const std::int64_t first = i * 40 + row * 20;
            builder.Add({first, first + 20, 0, 0, -1, {texts[i % 4]}});
        }
        for (auto& lane : builder.Finish(std::nullopt, kSamples)) {
            lanes.push_back(std::make_shared<const AnnotationLane>(std::move(lane)));
        }
    }
    return lanes;
}

void BM_AnnotationTable(benchmark::State& state) {
    static const auto lanes = Lanes();
    CAnnotationModel model;
    for (auto _ : state) {
        model.SetLanes(lanes, SamplePeriod::FromPicoseconds(20'000), 0.0);
        if (state.range(0) != 0) {
            model.SetFilter(QStringLiteral("err"));
        }
    }
    state.counters["rows"] = model.rowCount();
}
BENCHMARK(BM_AnnotationTable)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
