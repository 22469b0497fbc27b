// The decoding process (quillon-decoder) through CDecoderProcess over the emulator's bench:
// metadata, UART/I2C/SPI results, stacking, a failing decoder, stretches around samples not
// received, wide captures, a stop that kills it, the sample rate it is given, and the rows
// the viewer keeps.
#include "decode/annotation_layout.h"
#include "decode/decode_job.h"
#include "decode/decoder_args.h"
#include "decode/decoder_catalog.h"
#include "decode/decoder_process.h"
#include "emulator/bench_signals.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace quillon;
using namespace std::chrono_literals;

constexpr int kCaptureSamples = 4032;
constexpr const char* kUart = "uart:rx=D8:baudrate=921600:format=ascii";

CapturePtr Bench(int rate) {
    const auto words = SampleSignals(SignalSet::Bench, rate, 0, kCaptureSamples);
    return CaptureFromWords(words, SamplePeriod::FromPicoseconds(20'000LL * rate));
}

/// The decoding process of this build, wherever the test runs.
const auto kFindDecoder = [] { return ::setenv("QUILLON_DECODER", QUILLON_DECODER_PATH, 1); }();

/// One process for the tests that only decode, with every decoder's metadata.
class DecoderProcess : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_process = new CDecoderProcess;
        std::vector<DecoderInfo> infos;
        ASSERT_EQ(s_process->RequestCatalog({}, true).status, DecodeStatus::Done);
        const auto outcome = s_process->ReceiveCatalog(infos);
        ASSERT_EQ(outcome.status, DecodeStatus::Done) << outcome.error.value_or("");
        s_catalog = new DecoderCatalog(std::move(infos));
    }
    static void TearDownTestSuite() {
        delete s_process;
        delete s_catalog;
    }

    static DecoderStack Stack(const std::string& argument, int channels = kAnalyzerChannels) {
        auto parsed = ParseDecoderArg(argument, s_catalog->Lookup(), ChannelChoice{{}, channels});
        if (const auto* e = std::get_if<ArgError>(&parsed)) {
            ADD_FAILURE() << e->message;
            return {};
        }
        return std::get<DecoderStack>(parsed);
    }

    /// Everything a decode gave: its annotations (texts joined by class) and outcome.
    struct Result : AnnotationSink {
        std::vector<std::string> ids;
        std::vector<Annotation> annotations; // texts cleared: they die with the call
        std::vector<std::string> first;      // each one's longest text
        DecodeOutcome outcome;
        void Started(const std::vector<std::string>& instanceIds) override { ids = instanceIds; }
        bool Take(const Annotation& a) override {
            annotations.push_back({a.start, a.end, a.decoder, a.cls, a.row, {}});
            first.emplace_back(a.texts.empty() ? std::string_view() : a.texts.front());
            return true;
        }
        [[nodiscard]] std::string Joined(const DecoderInfo& info, const std::string& cls,
                                         int decoder = 0) const {
            std::string text;
            for (std::size_t i = 0; i < annotations.size(); ++i) {
                const auto& a = annotations[i];
                if (a.decoder == decoder &&
                    info.classes[static_cast<std::size_t>(a.cls)].id == cls) {
                    text += first[i];
                }
            }
            return text;
        }
    };

    static Result Decode(const CapturePtr& capture, const DecoderStack& stack) {
        Result result;
        std::string error;
        const auto job = MakeDecodeJob(capture, stack, error);
        EXPECT_TRUE(job) << error;
        if (job) {
            result.outcome = s_process->Decode(*job, result);
        }
        return result;
    }

    static const DecoderInfo& Info(const std::string& id) { return *s_catalog->Find(id); }

    static inline CDecoderProcess* s_process = nullptr;
    static inline DecoderCatalog* s_catalog = nullptr;
};

TEST(DecoderSampleRate, WholeHertzOrRoundedNeverZero) {
    const std::pair<SamplePeriod, std::uint64_t> cases[] = {
        {SamplePeriod::FromPicoseconds(20'000), 50'000'000},
        {SamplePeriod::FromPicoseconds(20'000'000), 50'000},
        {*SamplePeriod::Fraction(1, 3'000'000), 3'000'000},
        {SamplePeriod::FromPicoseconds(41'667), 23'999'808}, // a 24 MHz grid in whole ps
        {*SamplePeriod::Fraction(1, 1), 1},                  // 1 s: was 0 Hz
        {*SamplePeriod::Fraction(5, 2), 1},                  // 2.5 s
        {*SamplePeriod::Fraction(2, 3), 2},                  // 1.5 Hz rounds up
    };
    for (const auto& [period, hz] : cases) {
        EXPECT_EQ(DecoderSampleRate(period), hz)
            << period.Numerator() << "/" << period.Denominator();
    }
}

TEST_F(DecoderProcess, ListsDecodersWithTheirMetadata) {
    EXPECT_GT(s_catalog->Decoders().size(), 100u);
    const DecoderInfo& uart = Info("uart");
    EXPECT_EQ(uart.longname, "Universal Asynchronous Receiver/Transmitter");
    ASSERT_NE(uart.FindChannel("rx"), nullptr);
    EXPECT_EQ(uart.FindChannel("rx")->name, "RX");
    EXPECT_EQ(uart.FindOption("baudrate")->def, OptionValue(std::int64_t{115200}));
    EXPECT_EQ(uart.FindOption("parity")->values.front(), OptionValue(std::string("none")));
    EXPECT_EQ(std::get<double>(uart.FindOption("stop_bits")->def), 1.0);
    EXPECT_EQ(uart.rows[static_cast<std::size_t>(uart.RowOfClass(0))].id, "rx-data");
    EXPECT_EQ(Info("i2c").channels.size(), 2u);

    // Only what is named, from a process of its own: unknown names are left out.
    CDecoderProcess other;
    std::vector<DecoderInfo> some;
    ASSERT_EQ(other.RequestCatalog({"i2c", "no-such-decoder", "eeprom24xx"}).status,
              DecodeStatus::Done);
    ASSERT_EQ(other.ReceiveCatalog(some).status, DecodeStatus::Done);
    ASSERT_EQ(some.size(), 2u);
    EXPECT_EQ(some[1].id, "eeprom24xx");
    EXPECT_EQ(some[1].inputs, Info("eeprom24xx").inputs);
}

TEST_F(DecoderProcess, DecodesTheBenchAtEachRate) {
    const auto uart = Decode(Bench(10), Stack(kUart));
    ASSERT_EQ(uart.outcome.status, DecodeStatus::Done);
    ASSERT_FALSE(uart.outcome.error) << *uart.outcome.error;
    EXPECT_EQ(uart.ids, std::vector<std::string>{"uart-1"});
    EXPECT_EQ(uart.Joined(Info("uart"), "rx-data").substr(0, 32),
              "Hello from Quillon![0D][0A]Hello");
    for (const auto& a : uart.annotations) {
        EXPECT_LE(a.start, a.end);
        EXPECT_LE(a.end, kCaptureSamples);
        EXPECT_EQ(a.row, Info("uart").RowOfClass(a.cls));
    }
    EXPECT_EQ(Decode(Bench(1000), Stack("uart:rx=D11:baudrate=1200:format=ascii"))
                  .Joined(Info("uart"), "rx-data")
                  .substr(0, 8),
              "Hello fr");

    const auto bus = Decode(Bench(10), Stack("i2c:scl=D13:sda=D14"));
    EXPECT_NE(bus.Joined(Info("i2c"), "address-write").find("Address write: 50"),
              std::string::npos);
    EXPECT_EQ(bus.Joined(Info("i2c"), "data-write").substr(0, 28), "Data write: 51Data write: 75");

    const auto spi = Decode(Bench(1), Stack("spi:clk=D4:mosi=D5:miso=D6:cs=D7"));
    EXPECT_EQ(spi.Joined(Info("spi"), "mosi-data").substr(0, 8), "5175696C");
    EXPECT_EQ(spi.Joined(Info("spi"), "miso-data").substr(0, 4), "4F4B");

    const auto stacked = Decode(Bench(10), Stack("i2c:scl=D13:sda=D14,eeprom24xx"));
    ASSERT_EQ(stacked.ids.size(), 2u);
    EXPECT_TRUE(std::any_of(stacked.annotations.begin(), stacked.annotations.end(),
                            [](const Annotation& a) { return a.decoder == 1; }));
}

TEST_F(DecoderProcess, NeverDecodesSamplesNotReceived) {
    const CapturePtr whole = Bench(10);
    const auto reference = Decode(whole, Stack(kUart));
    // D8 lost samples [1000, 1100); D0 lost others, which do not matter to a decoder on D8.
    CaptureBuilder builder(kAnalyzerChannels, whole->Period());
    const auto words = SampleSignals(SignalSet::Bench, 10, 0, kCaptureSamples);
    std::vector<std::uint8_t> rows;
    for (const auto w : words) {
        rows.push_back(static_cast<std::uint8_t>(w & 0xff));
        rows.push_back(static_cast<std::uint8_t>(w >> 8));
    }
    builder.AppendRows(rows.data(), kCaptureSamples, 2);
    builder.MarkMissing(8, 1000, 1100);
    builder.MarkMissing(0, 2000, 3000);
    const auto gapped = Decode(builder.Finish(), Stack(kUart));
    ASSERT_EQ(gapped.outcome.status, DecodeStatus::Done);
    std::size_t before = 0;
    bool after = false;
    for (std::size_t i = 0; i < gapped.annotations.size(); ++i) {
        const auto& a = gapped.annotations[i];
        EXPECT_TRUE(a.end <= 1000 || a.start >= 1100) << a.start << "-" << a.end;
        if (a.end <= 1000) {
            // Up to the gap, what a whole capture gives.
            ASSERT_LT(before, reference.annotations.size());
            EXPECT_EQ(a.start, reference.annotations[before].start);
            EXPECT_EQ(gapped.first[i], reference.first[before]);
            ++before;
        }
        after = after || a.start >= 1100;
    }
    EXPECT_GT(before, 10u);
    EXPECT_TRUE(after);
    // The characters found after the gap lie where the whole capture has them.
    const std::string tail = gapped.Joined(Info("uart"), "rx-data");
    EXPECT_NE(tail.find("Hello"), std::string::npos) << tail;
}

TEST_F(DecoderProcess, WideCapturesDecodeOnlyTheChannelsUsed) {
    // 40 channels, the bench's UART line copied to D33.
    const auto words = SampleSignals(SignalSet::Bench, 10, 0, kCaptureSamples);
    CaptureBuilder builder(40, SamplePeriod::FromPicoseconds(200'000));
    builder.Resize(kCaptureSamples);
    for (int i = 0; i < kCaptureSamples; ++i) {
        builder.SetLevel(33, i, ((words[static_cast<std::size_t>(i)] >> 8) & 1) != 0);
    }
    const auto wide =
        Decode(builder.Finish(), Stack("uart:rx=D33:baudrate=921600:format=ascii", 40));
    EXPECT_EQ(wide.Joined(Info("uart"), "rx-data").substr(0, 19), "Hello from Quillon!");
    std::string error;
    EXPECT_FALSE(MakeDecodeJob(Bench(10), Stack("uart:rx=D33", 40), error));
    EXPECT_NE(error.find("D33"), std::string::npos);
}

TEST_F(DecoderProcess, FailingDecoderGivesItsErrorAndTheNextDecodeWorks) {
    // Past the argument check, as a saved set could be: the decoder's own exception.
    DecoderStack stack = Stack(kUart);
    stack[0].options["baudrate"] = std::int64_t{0};
    const auto failed = Decode(Bench(10), stack);
    EXPECT_EQ(failed.outcome.status, DecodeStatus::Done);
    ASSERT_TRUE(failed.outcome.error);
    EXPECT_NE(failed.outcome.error->find("ZeroDivisionError"), std::string::npos)
        << *failed.outcome.error;
    EXPECT_EQ(failed.outcome.error->find('\n'), std::string::npos); // no traceback
    EXPECT_EQ(Decode(Bench(10), Stack(kUart)).Joined(Info("uart"), "rx-data").substr(0, 5),
              "Hello");
}

TEST(DecoderProcessStop, AStopKillsADecoderThatNeverReturnsAtOnce) {
    ::setenv("SIGROKDECODE_DIR", QUILLON_TEST_DECODERS, 1);
    CDecoderProcess process;
    const int stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    process.SetStopFd(stop);
    DecodeJob job;
    job.stack = {{"testloop", {{"data", 0}}, {}}};
    job.rate = 1'000'000;
    job.stretches = {{0, kCaptureSamples}};
    job.pack = [](std::int64_t, std::int64_t count, std::uint8_t* out) {
        std::fill(out, out + count, std::uint8_t{1});
    };
    struct : AnnotationSink {
        std::atomic<int> n{0};
        bool Take(const Annotation& /*a*/) override {
            ++n;
            return true;
        }
    } sink;
    pid_t pid = -1;
    std::thread stopper([&] {
        // Once the decoder has said it is looping, stop it.
        for (int waited = 0; sink.n == 0 && waited < 1000; ++waited) {
            std::this_thread::sleep_for(10ms);
        }
        pid = process.Pid();
        const std::uint64_t one = 1;
        EXPECT_EQ(::write(stop, &one, sizeof one), 8);
    });
    const auto started = std::chrono::steady_clock::now();
    const DecodeOutcome outcome = process.Decode(job, sink);
    const auto stopped = std::chrono::steady_clock::now();
    stopper.join();
    EXPECT_EQ(outcome.status, DecodeStatus::Stopped);
    EXPECT_EQ(process.Pid(), -1);
    EXPECT_NE(::kill(pid, 0), 0); // killed and reaped
    EXPECT_LT(stopped - started, 5s);
    ::close(stop);
    ::unsetenv("SIGROKDECODE_DIR");
}

TEST(LaneBuilder, KeepsEachTextOnceAndStopsAtItsLimit) {
    DecoderInfo uart;
    uart.name = "UART";
    uart.classes = {{"rx-data", ""}, {"rx-start", ""}};
    uart.rows = {{"rx-data", "RX", {0, 1}}};
    CLaneBuilder builder({&uart}, 1000);
    for (int i = 0; i < 1000; ++i) {
        const std::string text = std::string(1, static_cast<char>('A' + i % 4));
        ASSERT_TRUE(builder.Add({i * 10, i * 10 + 8, 0, i % 2, 0, {text, "x"}}));
    }
    EXPECT_FALSE(builder.Add({10000, 10008, 0, 0, 0, {"late"}}));
    EXPECT_TRUE(builder.LimitReached());
    const auto lanes = builder.Finish(std::nullopt, 10010);
    ASSERT_EQ(lanes.size(), 2u);
    EXPECT_EQ(lanes[0].label, "UART: RX");
    EXPECT_EQ(lanes[0].boxes.size(), 1000u);
    EXPECT_LE(lanes[0].texts->Count(), 6u); // 4 lists of texts, plus the limit row's
    EXPECT_EQ(lanes[0].TextsOf(lanes[0].boxes[5]), (std::vector<std::string_view>{"B", "x"}));
    // Boxes in view and under a sample, found by search.
    const auto [from, to] = lanes[0].InView(95, 125);
    EXPECT_EQ(from, 9u);
    EXPECT_EQ(to, 13u);
    ASSERT_NE(lanes[0].At(123), nullptr);
    EXPECT_EQ(lanes[0].At(123)->first, 120);
    EXPECT_EQ(lanes[0].At(129), nullptr); // between boxes
    EXPECT_EQ(lanes[1].label, "UART: 上限");
    EXPECT_NE(lanes[1].texts->First(lanes[1].boxes[0].texts).find("1000"), std::string::npos);
}

} // namespace
