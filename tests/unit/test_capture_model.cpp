// The capture model against a plain per-sample reference: levels, spans, edges, gaps, packing,
// at word and summary-block boundaries; exact periods and their texts.
#include "capture/capture.h"
#include "capture/capture_bridge.h"

#include <gtest/gtest.h>

#include <random>

namespace quillon {
namespace {

/// The same capture, one bool per sample, for checking the model's answers.
struct Reference {
    std::vector<std::vector<bool>> levels;   // [channel][sample]
    std::vector<std::vector<bool>> received; // [channel][sample]

    [[nodiscard]] std::int64_t Count() const {
        return static_cast<std::int64_t>(levels.front().size());
    }
    [[nodiscard]] bool Edge(int c, std::int64_t j) const {
        const auto& l = levels[static_cast<std::size_t>(c)];
        const auto& r = received[static_cast<std::size_t>(c)];
        const auto u = static_cast<std::size_t>(j);
        return j >= 1 && r[u] && r[u - 1] && l[u] != l[u - 1];
    }
};

/// Random channels: long quiet stretches with bursts of edges, so that both whole uniform
/// summary blocks and mixed ones occur; some channels have gaps.
std::pair<CapturePtr, Reference> RandomCapture(int channels, std::int64_t count, unsigned seed,
                                               bool withGaps) {
    std::mt19937_64 rng(seed);
    Reference ref;
    CaptureBuilder builder(channels, SamplePeriod::FromPicoseconds(20'000));
    for (int c = 0; c < channels; ++c) {
        std::vector<bool> levels(static_cast<std::size_t>(count));
        bool level = (rng() & 1U) != 0;
        std::int64_t i = 0;
        while (i < count) {
            // Runs of 1 .. 64 samples or of thousands, so that words and blocks both stay uniform.
            const std::int64_t run = (rng() % 4 == 0) ? 1 + static_cast<std::int64_t>(rng() % 9000)
                                                      : 1 + static_cast<std::int64_t>(rng() % 64);
            const std::int64_t end = std::min(count, i + run);
            builder.Fill(c, i, end, level);
            for (std::int64_t k = i; k < end; ++k) {
                levels[static_cast<std::size_t>(k)] = level;
            }
            i = end;
            level = !level;
        }
        ref.levels.push_back(std::move(levels));
        ref.received.emplace_back(static_cast<std::size_t>(count), true);
    }
    if (withGaps && count > 10) {
        for (int g = 0; g < 4; ++g) {
            const int c = static_cast<int>(rng() % static_cast<unsigned>(channels + 1)) - 1;
            const auto first = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(count));
            const std::int64_t end =
                std::min(count, first + 1 + static_cast<std::int64_t>(rng() % 500));
            builder.MarkMissing(c, first, end);
            for (int ch = 0; ch < channels; ++ch) {
                if (c < 0 || c == ch) {
                    for (std::int64_t k = first; k < end; ++k) {
                        ref.received[static_cast<std::size_t>(ch)][static_cast<std::size_t>(k)] =
                            false;
                        ref.levels[static_cast<std::size_t>(ch)][static_cast<std::size_t>(k)] =
                            false; // not received reads low
                    }
                }
            }
        }
    }
    return {builder.Finish(), std::move(ref)};
}

struct ModelCase {
    int channels;
    std::int64_t count;
    bool gaps;
};

class CaptureModel : public ::testing::TestWithParam<ModelCase> {};

TEST_P(CaptureModel, AgreesWithPerSampleReference) {
    const ModelCase& param = GetParam();
    for (unsigned seed = 1; seed <= 3; ++seed) {
        const auto [capture, ref] = RandomCapture(param.channels, param.count, seed, param.gaps);
        ASSERT_EQ(capture->SampleCount(), param.count);
        ASSERT_EQ(capture->ChannelCount(), param.channels);
        std::mt19937_64 rng(seed * 77);
        const std::int64_t n = param.count;
        for (int c = 0; c < param.channels; ++c) {
            const auto& lv = ref.levels[static_cast<std::size_t>(c)];
            const auto& rx = ref.received[static_cast<std::size_t>(c)];
            for (std::int64_t i = 0; i < n; ++i) {
                ASSERT_EQ(capture->Level(c, i), lv[static_cast<std::size_t>(i)]) << c << " " << i;
                ASSERT_EQ(capture->IsReceived(c, i), rx[static_cast<std::size_t>(i)]);
            }
            // Every edge, walked forwards and backwards.
            std::vector<std::int64_t> edges;
            for (std::int64_t j = 0; j < n; ++j) {
                if (ref.Edge(c, j)) {
                    edges.push_back(j);
                }
            }
            std::vector<std::int64_t> forwards;
            for (auto e = capture->NextEdge(c, 0); e; e = capture->NextEdge(c, *e + 1)) {
                forwards.push_back(*e);
            }
            EXPECT_EQ(forwards, edges) << "channel " << c;
            std::vector<std::int64_t> backwards;
            for (auto e = capture->PrevEdge(c, n); e; e = capture->PrevEdge(c, *e)) {
                backwards.insert(backwards.begin(), *e);
            }
            EXPECT_EQ(backwards, edges) << "channel " << c;

            // Random spans against the reference.
            // Spans up to a few summary blocks long, and now and then to the end.
            for (int q = 0; q < 60; ++q) {
                const auto a = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(n + 1));
                const std::int64_t longest = std::min<std::int64_t>(n - a, 20'000);
                const std::int64_t b =
                    q % 10 == 0 ? n
                                : a + static_cast<std::int64_t>(
                                          rng() % static_cast<std::uint64_t>(longest + 1));
                SpanLevels want;
                Capture::EdgeCount count;
                for (std::int64_t i = a; i < b; ++i) {
                    const auto u = static_cast<std::size_t>(i);
                    if (!rx[u]) {
                        want.missing = true;
                        continue;
                    }
                    (lv[u] ? want.high : want.low) = true;
                    if (ref.Edge(c, i)) {
                        ++(lv[u] ? count.rising : count.falling);
                    }
                }
                const SpanLevels got = capture->LevelsIn(c, a, b);
                EXPECT_EQ(got.low, want.low) << a << ".." << b;
                EXPECT_EQ(got.high, want.high) << a << ".." << b;
                EXPECT_EQ(got.missing, want.missing) << a << ".." << b;
                const auto counted = capture->CountEdges(c, a, b);
                EXPECT_EQ(counted.rising, count.rising) << a << ".." << b;
                EXPECT_EQ(counted.falling, count.falling) << a << ".." << b;
                const auto firstEdge = std::lower_bound(edges.begin(), edges.end(), a);
                const auto next = capture->NextEdge(c, a, b);
                EXPECT_EQ(next.has_value(), firstEdge != edges.end() && *firstEdge < b);
                if (next && firstEdge != edges.end()) {
                    EXPECT_EQ(*next, *firstEdge);
                }
                const auto lastEdge = std::lower_bound(edges.begin(), edges.end(), b);
                const auto prev = capture->PrevEdge(c, b, a);
                const bool hasPrev = lastEdge != edges.begin() && *std::prev(lastEdge) >= a;
                EXPECT_EQ(prev.has_value(), hasPrev) << a << ".." << b;
                if (prev && hasPrev) {
                    EXPECT_EQ(*prev, *std::prev(lastEdge));
                }
            }
        }
        // Packing any channel order, from an unaligned start.
        std::vector<int> order;
        for (int c = param.channels - 1; c >= 0; c -= 2) {
            order.push_back(c);
        }
        const std::int64_t first = n / 3;
        const std::int64_t count = n - first;
        const std::size_t unit = (order.size() + 7) / 8;
        std::vector<std::uint8_t> rows(static_cast<std::size_t>(count) * unit + 1, 0xAA);
        capture->PackRows(order, first, count, rows.data());
        for (std::int64_t i = 0; i < count; ++i) {
            for (std::size_t k = 0; k < order.size(); ++k) {
                const bool bit =
                    ((rows[static_cast<std::size_t>(i) * unit + k / 8] >> (k % 8)) & 1U) != 0;
                ASSERT_EQ(bit, ref.levels[static_cast<std::size_t>(order[k])]
                                         [static_cast<std::size_t>(first + i)]);
            }
        }
        EXPECT_EQ(rows.back(), 0xAA) << "wrote past the rows";
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, CaptureModel,
                         ::testing::Values(ModelCase{1, 1, false}, ModelCase{1, 63, false},
                                           ModelCase{2, 64, false}, ModelCase{3, 65, true},
                                           ModelCase{16, 4032, true}, ModelCase{5, 4096, false},
                                           ModelCase{5, 4097, true},
                                           ModelCase{2, 262'144 + 7, true},
                                           ModelCase{34, 3000, true}));

TEST(CaptureModel, FindsAFewEdgesInMillionsOfQuietSamples) {
    // Uniform blocks on every summary level: the search climbs and comes down again.
    constexpr std::int64_t kCount = (std::int64_t{1} << 24) + 12'345;
    std::mt19937_64 rng(5);
    for (const bool high : {false, true}) {
        std::vector<std::int64_t> edges;
        for (int k = 0; k < 12; ++k) {
            edges.push_back(1 + static_cast<std::int64_t>(rng() % (kCount - 1)));
        }
        edges.push_back(kCount - 1);
        edges.push_back(262'144);
        std::sort(edges.begin(), edges.end());
        edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
        CaptureBuilder builder(1, SamplePeriod::FromPicoseconds(1000));
        builder.Resize(kCount);
        bool level = high;
        std::int64_t from = 0;
        for (const std::int64_t e : edges) {
            builder.Fill(0, from, e, level);
            level = !level;
            from = e;
        }
        builder.Fill(0, from, kCount, level);
        const CapturePtr capture = builder.Finish();
        std::vector<std::int64_t> found;
        for (auto e = capture->NextEdge(0, 0); e; e = capture->NextEdge(0, *e + 1)) {
            found.push_back(*e);
        }
        EXPECT_EQ(found, edges);
        for (int q = 0; q < 200; ++q) {
            const auto a = static_cast<std::int64_t>(rng() % kCount);
            const auto b = a + static_cast<std::int64_t>(rng() % (kCount - a + 1));
            const auto next = std::lower_bound(edges.begin(), edges.end(), a + 1);
            const auto want =
                next != edges.end() && *next < b ? std::optional(*next) : std::nullopt;
            ASSERT_EQ(capture->NextEdge(0, a + 1, b), want) << a << " " << b;
            const SpanLevels levels = capture->LevelsIn(0, a, b);
            const bool change = next != edges.end() && *next < b;
            EXPECT_EQ(levels.low && levels.high, change && a < b) << a << " " << b;
        }
    }
}

TEST(CaptureModel, RowsLandOnTheirChannelsWhateverTheAlignment) {
    // Rows of 3 bytes (20 channels used), appended in pieces that leave the planes unaligned.
    std::mt19937 rng(5);
    CaptureBuilder builder(20, SamplePeriod::FromHz(24'000'000));
    std::vector<std::uint32_t> want;
    for (const int piece : {5, 64, 3, 130, 1, 77}) {
        std::vector<std::uint8_t> rows(static_cast<std::size_t>(piece) * 3);
        for (int i = 0; i < piece; ++i) {
            const std::uint32_t v = rng() & 0xFFFFFF;
            want.push_back(v & 0xFFFFF);
            for (int b = 0; b < 3; ++b) {
                rows[static_cast<std::size_t>(i * 3 + b)] = static_cast<std::uint8_t>(v >> (8 * b));
            }
        }
        builder.AppendRows(rows.data(), piece, 3);
    }
    const auto capture = builder.Finish();
    ASSERT_EQ(capture->SampleCount(), static_cast<std::int64_t>(want.size()));
    for (std::size_t i = 0; i < want.size(); ++i) {
        for (int c = 0; c < 20; ++c) {
            ASSERT_EQ(capture->Level(c, static_cast<std::int64_t>(i)), ((want[i] >> c) & 1U) != 0)
                << i << " " << c;
        }
    }
}

TEST(CaptureModel, GapsAreMergedPerChannelAndCounted) {
    CaptureBuilder builder(3, SamplePeriod::FromPicoseconds(20'000));
    builder.Resize(1000);
    builder.Fill(1, 0, 1000, true);
    builder.MarkMissing(-1, 100, 200);
    builder.MarkMissing(1, 150, 300);
    builder.MarkMissing(2, 900, 5000); // past the end: clipped
    builder.MarkMissing(0, 50, 50);    // empty: ignored
    const auto capture = builder.Finish();
    EXPECT_EQ(capture->Gaps(0), (std::vector<SampleRange>{{100, 200}}));
    EXPECT_EQ(capture->Gaps(1), (std::vector<SampleRange>{{100, 300}}));
    EXPECT_EQ(capture->Gaps(2), (std::vector<SampleRange>{{100, 200}, {900, 1000}}));
    EXPECT_EQ(capture->MissingCount(), 300);
    EXPECT_FALSE(capture->IsComplete());
    EXPECT_FALSE(capture->Level(1, 150)) << "a sample not received reads low";
    const std::vector<int> zero{0};
    EXPECT_EQ(capture->ReceivedStretches(zero), (std::vector<SampleRange>{{0, 100}, {200, 1000}}));
    EXPECT_EQ(capture->ReceivedStretches({}), (std::vector<SampleRange>{{0, 100}, {300, 900}}));
    // No edge at a gap's border: the sample before it was not received.
    EXPECT_FALSE(capture->NextEdge(1, 0).has_value());
}

TEST(CaptureModel, BridgeKeepsSamplesNamesTriggerAndGaps) {
    CaptureData data;
    data.rate = 10;
    for (int i = 0; i < 300; ++i) {
        data.samples.push_back(static_cast<std::uint16_t>(i * 2654435761U >> 7));
    }
    data.received.assign(300, 1);
    std::fill(data.received.begin() + 128, data.received.begin() + 256, 0);
    data.names[3] = "CS#";
    data.triggerSample = 42;
    const auto capture = ToCapture(data);
    EXPECT_EQ(capture->Period().WholePicoseconds(), 200'000);
    EXPECT_EQ(capture->ChannelName(3), "CS#");
    EXPECT_EQ(capture->MissingCount(), 128);
    const CaptureData back = ToCaptureData(*capture);
    EXPECT_EQ(back.rate, 10);
    EXPECT_EQ(back.received, data.received);
    EXPECT_EQ(back.triggerSample, 42);
    EXPECT_EQ(back.names, data.names);
    for (std::size_t i = 0; i < 300; ++i) {
        if (data.IsReceived(i)) {
            EXPECT_EQ(back.samples[i], data.samples[i]) << i;
        }
    }
    // A rate of no whole picoseconds keeps its nearest period, never a made-up one.
    const auto at24MHz = CaptureFromWords(data.samples, SamplePeriod::FromHz(24'000'000));
    EXPECT_EQ(ToCaptureData(*at24MHz).PeriodPs(), 41'667);
}

struct PeriodCase {
    std::int64_t num;
    std::int64_t den;
    std::optional<std::uint64_t> hz;
    std::optional<std::int64_t> ps;
    std::int64_t timeOf1000Ps;
};

class SamplePeriods : public ::testing::TestWithParam<PeriodCase> {};

TEST_P(SamplePeriods, AreExact) {
    const PeriodCase& p = GetParam();
    const auto period = SamplePeriod::Fraction(p.num, p.den);
    ASSERT_TRUE(period);
    EXPECT_EQ(period->WholeHz(), p.hz);
    EXPECT_EQ(period->WholePicoseconds(), p.ps);
    EXPECT_EQ(period->TimeOf(1000).count(), p.timeOf1000Ps);
}

INSTANTIATE_TEST_SUITE_P(
    Periods, SamplePeriods,
    ::testing::Values(PeriodCase{1, 50'000'000, 50'000'000, 20'000, 20'000'000},
                      PeriodCase{1, 24'000'000, 24'000'000, std::nullopt, 41'666'667},
                      PeriodCase{7, 10'000'000'000, std::nullopt, 700, 700'000},
                      PeriodCase{2, 1, std::nullopt, 2'000'000'000'000, 2'000'000'000'000'000},
                      PeriodCase{1, 1, 1, 1'000'000'000'000, 1'000'000'000'000'000}));

TEST(SamplePeriods, RefuseWhatIsNoPeriod) {
    EXPECT_FALSE(SamplePeriod::Fraction(0, 5));
    EXPECT_FALSE(SamplePeriod::Fraction(5, -1));
    EXPECT_EQ(SamplePeriod::FromHz(12'000'000), *SamplePeriod::Fraction(2, 24'000'000));
}

TEST(Formatting, DurationsAndFrequencies) {
    EXPECT_EQ(FormatDuration(20e-9), "20 ns");
    EXPECT_EQ(FormatDuration(1.5e-6), "1.5 \u00b5s");
    EXPECT_EQ(FormatDuration(1.5e-6, true), "1.5 us");
    EXPECT_EQ(FormatDuration(Picoseconds(80'640'000'000)), "80.64 ms");
    EXPECT_EQ(FormatDuration(-2e-6), "-2 \u00b5s");
    EXPECT_EQ(FormatDuration(0.0), "0 s");
    EXPECT_EQ(FormatDuration(Picoseconds(700)), "700 ps");
    EXPECT_EQ(FormatFrequency(460800.0), "460.8 kHz");
    EXPECT_EQ(FormatFrequency(24e6), "24 MHz");
}

} // namespace
} // namespace quillon
