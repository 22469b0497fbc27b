// The analyzer's state machine with made-up clocks: settings, trigger timing, captures, faults.
#include "emulator/analyzer_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <random>
#include <string>
#include <vector>

namespace quillon {
namespace {

using Clock = CAnalyzerModel::Clock;
using std::chrono::milliseconds;

// "000" + rate + position + pattern[0..7] + gentype + pattern[8..15]
std::string Word(std::string_view rate, std::string_view position, std::string_view pattern,
                 char genType) {
    std::string word = "000";
    word += rate;
    word += position;
    word += pattern.substr(0, 8);
    word += genType;
    word += pattern.substr(8, 8);
    return word;
}

std::string PatternFor(std::uint16_t value) {
    return std::bitset<16>(value).to_string();
}

struct SettingsCase {
    std::string word;
    int rate;
    int position;
    std::uint16_t care;
    std::uint16_t match;
    bool bAtOnce;
};

class EmuSettingsWord : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(EmuSettingsWord, Decodes) {
    const SettingsCase& c = GetParam();
    const auto settings = ParseSettingsWord(c.word);
    ASSERT_TRUE(settings.has_value());
    EXPECT_EQ(settings->rateMultiplier, c.rate);
    EXPECT_EQ(settings->triggerPosition, c.position);
    EXPECT_EQ(settings->careMask, c.care);
    EXPECT_EQ(settings->matchBits, c.match);
    EXPECT_EQ(settings->triggerAtOnce, c.bAtOnce);
    EXPECT_EQ(settings->genType, c.word[15]);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EmuSettingsWord,
    ::testing::Values(
        SettingsCase{Word("00", "00", "0000000000000000", '0'), 1, 0, 0xFFFF, 0, true},
        SettingsCase{Word("01", "01", "0000000000000000", '0'), 10, 1, 0xFFFF, 0, true},
        SettingsCase{Word("10", "10", "0000000000000000", '1'), 100, 2, 0xFFFF, 0, true},
        SettingsCase{Word("11", "11", "0000000000000000", '3'), 1000, 3, 0xFFFF, 0, true},
        // Character i of the pattern is channel 15 - i.
        SettingsCase{Word("00", "00", "1xxxxxxxxxxxxxx0", '0'), 1, 0, 0x8001, 0x8000, false},
        SettingsCase{Word("00", "00", "xxxxxxx1xxxxxxxx", '0'), 1, 0, 0x0100, 0x0100, false},
        SettingsCase{Word("00", "00", "xxxxxxxx1xxxxxxx", '0'), 1, 0, 0x0080, 0x0080, false},
        SettingsCase{Word("00", "00", "0000000000000001", '0'), 1, 0, 0xFFFF, 0x0001, false},
        SettingsCase{Word("00", "00", "X-?x  ..zzzzzzzz", '0'), 1, 0, 0, 0, false},
        SettingsCase{Word("00", "00", "xxxx0000xxxx0000", '0'), 1, 0, 0x0F0F, 0, false},
        // Only '1' counts as a one in the rate and position fields.
        SettingsCase{Word("2a", "3 ", "0000000000000000", '0'), 1, 0, 0xFFFF, 0, true}));

TEST(EmuSettingsWordLength, OnlyTwentyFourCharactersAreSettings) {
    const std::string word = Word("00", "00", "0000000000000000", '0');
    EXPECT_TRUE(ParseSettingsWord(word).has_value());
    EXPECT_FALSE(ParseSettingsWord(word.substr(0, 23)).has_value());
    EXPECT_FALSE(ParseSettingsWord(word + "0").has_value());
    EXPECT_FALSE(ParseSettingsWord("").has_value());
}

AnalyzerSettings Settings(std::string_view rate, std::string_view position,
                          std::string_view pattern, char genType = '0') {
    return *ParseSettingsWord(Word(rate, position, pattern, genType));
}

TEST(EmuTriggerSearch, CounterValuesAppearWhenTheirTicksCome) {
    // 16-bit count of 20 ns ticks: at rate 1 value v is sample v.
    EXPECT_EQ(
        FindTriggerSample(Settings("00", "00", PatternFor(5000)), SignalSet::Counter, 0, 100'000),
        5000);
    // At 20 us sample k reads 1000 k mod 65536; 4608 first comes at k = 8000 (160 ms).
    EXPECT_EQ(
        FindTriggerSample(Settings("11", "00", PatternFor(4608)), SignalSet::Counter, 0, 50'000),
        8000);
    // Odd values never come at a multiple of 1000 ticks.
    EXPECT_EQ(
        FindTriggerSample(Settings("11", "00", PatternFor(4609)), SignalSet::Counter, 0, 50'000),
        std::nullopt);
    // The search starts where it is told.
    EXPECT_EQ(FindTriggerSample(Settings("00", "00", PatternFor(5000)), SignalSet::Counter, 5001,
                                100'000),
              65536 + 5000);
}

TEST(EmuTriggerSearch, AtOnceAndDontCare) {
    EXPECT_EQ(
        FindTriggerSample(Settings("00", "00", "0000000000000000"), SignalSet::AllHigh, 0, 10), 0);
    EXPECT_EQ(
        FindTriggerSample(Settings("00", "00", "0000000000000000"), SignalSet::AllHigh, 1, 10),
        std::nullopt);
    EXPECT_EQ(FindTriggerSample(Settings("00", "00", "xxxxxxxxxxxxxxxx"), SignalSet::Bench, 7, 10),
              7);
    // Sixteen '0' with one 'x' is a real condition, which all-high never meets.
    EXPECT_EQ(FindTriggerSample(Settings("00", "00", "x000000000000000"), SignalSet::AllHigh, 0,
                                1'000'000),
              std::nullopt);
}

TEST(EmuTriggerSearch, ImpossibleBenchPatternNeverTriggersWithinASecond) {
    // SCLK (D4) only runs while CS (D7) is low.
    const AnalyzerSettings settings = Settings("00", "00", "xxxxxxxx1xx1xxxx");
    ASSERT_EQ(settings.careMask, 0x0090);
    EXPECT_EQ(FindTriggerSample(settings, SignalSet::Bench, 0, kTriggerSearchNs / 20),
              std::nullopt);
}

// The skipping search finds exactly what testing every sample finds.
TEST(EmuTriggerSearch, SkippingMatchesSampleBySampleSearch) {
    std::mt19937 random(20240607);
    for (const int rate : {1, 10}) {
        const std::int64_t samples = 60'000;
        const auto values = SampleSignals(SignalSet::Bench, rate, 0, static_cast<int>(samples));
        for (int round = 0; round < 30; ++round) {
            std::string pattern(16, 'x');
            const int cared = 1 + static_cast<int>(random() % 4);
            for (int i = 0; i < cared; ++i) {
                pattern[random() % 16] = (random() % 2) != 0 ? '1' : '0';
            }
            const AnalyzerSettings settings = Settings(rate == 1 ? "00" : "01", "00", pattern);
            std::optional<std::int64_t> expected;
            for (std::int64_t k = 0; k < samples && !expected; ++k) {
                if ((values[static_cast<std::size_t>(k)] & settings.careMask) ==
                    settings.matchBits) {
                    expected = k;
                }
            }
            EXPECT_EQ(FindTriggerSample(settings, SignalSet::Bench, 0, samples - 1), expected)
                << "pattern " << pattern << " rate " << rate;
        }
    }
}

TEST(EmuPackets, LowByteThenHighByte) {
    std::vector<std::uint16_t> samples(kEmuCaptureSamples);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::uint16_t>(i * 0x0101u + 0x1200u);
    }
    const std::string packet = PacketBytes(samples, 3);
    ASSERT_EQ(packet.size(), 256u);
    EXPECT_EQ(static_cast<unsigned char>(packet[0]), samples[384] & 0xFFu);
    EXPECT_EQ(static_cast<unsigned char>(packet[1]), samples[384] >> 8);
    EXPECT_EQ(static_cast<unsigned char>(packet[254]), samples[511] & 0xFFu);
    EXPECT_EQ(static_cast<unsigned char>(packet[255]), samples[511] >> 8);
}

TEST(EmuCommandSplitter, SplitsAtCarriageReturnAndBoundsLines) {
    CCommandSplitter splitter;
    std::vector<std::string> lines;
    const std::string input = "REQ" + std::string("PN\r\rCAP\n\r") + std::string(200, 'A') + "\r";
    for (const char ch : input) {
        if (splitter.Feed(ch)) {
            lines.push_back(splitter.Line());
        }
    }
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "REQPN");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], "CAP\n");
    EXPECT_EQ(lines[3], std::string(kMaxCommandLength, 'A'));
}

class EmuModelTest : public ::testing::Test {
protected:
    explicit EmuModelTest(EmulatorOptions options = {}) : m_model(options, m_t0) {}

    std::vector<OutputChunk> At(milliseconds when, std::string_view line) {
        return m_model.Handle(line, m_t0 + when);
    }
    static std::string Text(const std::vector<OutputChunk>& chunks) {
        std::string text;
        for (const auto& chunk : chunks) {
            text += chunk.bytes;
        }
        return text;
    }

    Clock::time_point m_t0 = Clock::now();
    CAnalyzerModel m_model;
};

TEST_F(EmuModelTest, AnswersOnlyIdentificationPollsAndPackets) {
    const auto ident = At(milliseconds(1), "REQPN");
    ASSERT_EQ(ident.size(), 1u);
    EXPECT_EQ(ident[0].bytes, "KPNQUILLNV01\r");
    EXPECT_EQ(ident[0].due, m_t0 + milliseconds(1));
    for (const std::string_view line :
         {"RST", "CAP", "DLD", "REQPN ", "reqpn", "SD", "XREQPN", "REQTRX"}) {
        EXPECT_TRUE(At(milliseconds(2), line).empty()) << line;
    }
    EXPECT_TRUE(
        At(milliseconds(2), Word("00", "00", "0000000000000000", '0').insert(0, "SD")).empty());
}

TEST_F(EmuModelTest, TriggerIsReportedOnceItsTimeHasCome) {
    At(milliseconds(0), "CAP");
    At(milliseconds(5), "SD" + Word("11", "00", PatternFor(4608), '1')); // sample 8000: 160 ms
    EXPECT_EQ(Text(At(milliseconds(100), "REQTR")), "KNTR\r");
    EXPECT_EQ(Text(At(milliseconds(159), "REQTR")), "KNTR\r");
    EXPECT_EQ(Text(At(milliseconds(160), "REQTR")), "KTRY\r");
    EXPECT_EQ(Text(At(milliseconds(900), "REQTR")), "KTRY\r");
    At(milliseconds(901), "DLD");
    const auto& capture = m_model.Capture();
    ASSERT_TRUE(capture.has_value());
    EXPECT_EQ(capture->triggerSample, 8000);
    EXPECT_EQ(capture->startNs, 8000 * 20'000);
    EXPECT_EQ(capture->samples[0], 4608);
}

TEST_F(EmuModelTest, ArmingAgainRestartsTheSearchFromTheNewArm) {
    At(milliseconds(0), "SD" + Word("11", "00", PatternFor(4608), '1'));
    At(milliseconds(0), "CAP");
    EXPECT_EQ(Text(At(milliseconds(200), "REQTR")), "KTRY\r");
    At(milliseconds(300), "CAP");
    EXPECT_EQ(Text(At(milliseconds(400), "REQTR")), "KNTR\r");
    EXPECT_EQ(Text(At(milliseconds(460), "REQTR")), "KTRY\r");
}

TEST_F(EmuModelTest, PatternsNotMetWithinASecondNeverTrigger) {
    At(milliseconds(0), "CAP");
    At(milliseconds(1), "SD" + Word("11", "00", "xxxxxxxxxxxxxxx1", '2'));
    EXPECT_EQ(Text(At(milliseconds(500), "REQTR")), "KNTR\r");
    EXPECT_EQ(Text(At(milliseconds(5000), "REQTR")), "KNTR\r");
}

TEST_F(EmuModelTest, DownloadWithoutReportedTriggerStartsAtTheArm) {
    At(milliseconds(0), "CAP");
    At(milliseconds(1), "SD" + Word("01", "11", PatternFor(5000), '1'));
    At(milliseconds(300), "DLD");
    ASSERT_TRUE(m_model.Capture().has_value());
    EXPECT_FALSE(m_model.Capture()->triggerSample.has_value());
    EXPECT_EQ(m_model.Capture()->startNs, 0);
    EXPECT_EQ(m_model.Capture()->samples[3], 30);
}

TEST_F(EmuModelTest, NewSettingsForgetAReportedTrigger) {
    At(milliseconds(0), "CAP");
    At(milliseconds(1), "SD" + Word("00", "01", PatternFor(5000), '1'));
    EXPECT_EQ(Text(At(milliseconds(10), "REQTR")), "KTRY\r");
    At(milliseconds(20), "SD" + Word("00", "01", PatternFor(6000), '1'));
    At(milliseconds(40), "DLD");
    EXPECT_EQ(m_model.Capture()->startNs, 0);
}

TEST_F(EmuModelTest, ResetRestoresDefaultSettings) {
    At(milliseconds(0), "SD" + Word("11", "10", "xxxxxxxxxxxxxxx1", '1'));
    EXPECT_EQ(m_model.Settings().rateMultiplier, 1000);
    At(milliseconds(1), "RST");
    EXPECT_EQ(m_model.Settings(), AnalyzerSettings{});
}

TEST_F(EmuModelTest, PacketsWalkTheCaptureThenReadZeros) {
    At(milliseconds(0), "SD" + Word("01", "00", "0000000000000000", '0'));
    At(milliseconds(0), "CAP");
    At(milliseconds(0), "DLD");
    const auto expected = SampleSignals(SignalSet::Bench, 10, 0, kEmuCaptureSamples);
    for (int i = 0; i < 64; ++i) {
        const auto chunks = At(milliseconds(1), "REQPK");
        ASSERT_EQ(chunks.size(), 1u);
        EXPECT_EQ(chunks[0].bytes, PacketBytes(expected, i)) << "packet " << i;
        EXPECT_FALSE(chunks[0].hangUpAfter);
    }
    EXPECT_EQ(Text(At(milliseconds(2), "REQPK")), std::string(256, '\0'));
    EXPECT_EQ(Text(At(milliseconds(2), "REQPK")), std::string(256, '\0'));
    // A new download starts over at packet 0.
    At(milliseconds(3), "DLD");
    EXPECT_EQ(Text(At(milliseconds(3), "REQPK")), PacketBytes(expected, 0));
}

TEST_F(EmuModelTest, PacketRequestWithoutDownloadFreezesACapture) {
    EXPECT_FALSE(m_model.Capture().has_value());
    EXPECT_EQ(Text(At(milliseconds(0), "REQPK")),
              PacketBytes(SampleSignals(SignalSet::Bench, 1, 0, 128), 0));
    EXPECT_EQ(Text(At(milliseconds(0), "REQPK")),
              PacketBytes(SampleSignals(SignalSet::Bench, 1, 0, 256), 1));
}

TEST(EmuModelOptions, ForcedGenTypeWinsOverTheSettings) {
    EmulatorOptions options;
    options.genType = '3';
    CAnalyzerModel model(options, Clock::now());
    model.Handle("SD" + Word("00", "00", "0000000000000000", '1'), Clock::now());
    EXPECT_EQ(model.CurrentSignalSet(), SignalSet::AllHigh);
    model.Handle("DLD", Clock::now());
    EXPECT_EQ(model.Capture()->samples[100], 0xFFFF);
}

TEST(EmuModelOptions, GlitchInOneCaptureOfNAtAnotherPlaceEachTime) {
    EmulatorOptions options;
    options.glitchEvery = 3;
    const auto now = Clock::now();
    CAnalyzerModel model(options, now);
    constexpr std::uint16_t kGlitchBit = 1U << kGlitchChannel;
    std::vector<std::int64_t> places;
    for (int n = 1; n <= 12; ++n) {
        static constexpr const char* kRates[] = {"00", "01", "10", "11"}; // D11 busy at 20 us
        model.Handle("SD" + Word(kRates[n % 4], "00", "0000000000000000", '0'), now);
        model.Handle("CAP", now);
        model.Handle("DLD", now);
        const CaptureRecord& capture = *model.Capture();
        const auto plain =
            SampleSignals(SignalSet::Bench, capture.settings.rateMultiplier, 0, kEmuCaptureSamples);
        std::vector<std::size_t> changed;
        for (std::size_t i = 0; i < plain.size(); ++i) {
            if (capture.samples[i] != plain[i]) {
                changed.push_back(i);
            }
        }
        if (n % 3 != 0) {
            EXPECT_TRUE(changed.empty()) << "capture " << n;
            EXPECT_FALSE(capture.glitchSample.has_value());
            continue;
        }
        ASSERT_EQ(changed.size(), 1U) << "capture " << n;
        const std::size_t k = changed[0];
        EXPECT_EQ(capture.glitchSample, static_cast<std::int64_t>(k));
        EXPECT_LT(k, static_cast<std::size_t>(kEmuKeptSamples));
        EXPECT_EQ(capture.samples[k] ^ plain[k], kGlitchBit);
        // A pulse of one sample: both neighbours keep the level the glitch inverted.
        EXPECT_EQ(capture.samples[k - 1] & kGlitchBit, plain[k] & kGlitchBit);
        EXPECT_EQ(capture.samples[k + 1] & kGlitchBit, plain[k] & kGlitchBit);
        places.push_back(static_cast<std::int64_t>(k));
    }
    ASSERT_EQ(places.size(), 4U);
    std::sort(places.begin(), places.end());
    EXPECT_EQ(std::unique(places.begin(), places.end()), places.end());

    // No sample between two of its own level: nothing to invert.
    std::vector<std::uint16_t> busy = {0, kGlitchBit, 0, kGlitchBit, 0};
    EXPECT_FALSE(AddGlitch(busy, 7, 5).has_value());
}

struct FaultCase {
    EmulatorFault fault;
    int shortBytes;
};

class EmuModelFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(EmuModelFaults, ShapeOfTheReplies) {
    const auto t0 = Clock::now();
    EmulatorOptions options;
    options.fault = GetParam().fault;
    options.faultPacket = 1;
    options.delay = milliseconds(75);
    options.gap = milliseconds(20);
    options.shortPacketBytes = GetParam().shortBytes;
    CAnalyzerModel model(options, t0);
    const auto ident = model.Handle("REQPN", t0);
    const auto poll = model.Handle("REQTR", t0);
    model.Handle("DLD", t0);
    const auto packet0 = model.Handle("REQPK", t0);
    const auto packet1 = model.Handle("REQPK", t0);
    const auto packet2 = model.Handle("REQPK", t0);
    const auto& samples = model.Capture()->samples;
    const std::string p1 = PacketBytes(samples, 1);

    const bool bMute =
        options.fault == EmulatorFault::Silent || options.fault == EmulatorFault::Foreign;
    if (bMute) {
        EXPECT_TRUE(poll.empty());
        EXPECT_TRUE(packet0.empty());
        EXPECT_TRUE(packet1.empty());
    } else {
        ASSERT_EQ(packet0.size(), 1u);
        EXPECT_EQ(packet0[0].bytes, PacketBytes(samples, 0)) << "only packet 1 is hit";
        ASSERT_EQ(packet2.size(), 1u);
        EXPECT_EQ(packet2[0].bytes, PacketBytes(samples, 2));
    }
    switch (options.fault) {
    case EmulatorFault::Silent:
        EXPECT_TRUE(ident.empty());
        break;
    case EmulatorFault::Foreign:
        ASSERT_EQ(ident.size(), 1u);
        EXPECT_EQ(ident[0].bytes, "KPNOTHERDV99\r");
        break;
    case EmulatorFault::Delay:
        ASSERT_EQ(ident.size(), 1u);
        EXPECT_EQ(ident[0].due, t0 + milliseconds(75));
        EXPECT_EQ(poll[0].due, t0 + milliseconds(75));
        EXPECT_EQ(packet1[0].due, t0 + milliseconds(75));
        break;
    case EmulatorFault::LateByte:
        ASSERT_EQ(packet1.size(), 2u);
        EXPECT_EQ(packet1[0].bytes, p1.substr(0, 255));
        EXPECT_EQ(packet1[0].due, t0);
        EXPECT_EQ(packet1[1].bytes, p1.substr(255));
        EXPECT_EQ(packet1[1].due, t0 + milliseconds(75));
        break;
    case EmulatorFault::ShortPacket:
        ASSERT_EQ(packet1.size(), 1u);
        EXPECT_EQ(packet1[0].bytes,
                  p1.substr(0, static_cast<std::size_t>(options.shortPacketBytes)));
        break;
    case EmulatorFault::LongPacket:
        ASSERT_EQ(packet1.size(), 1u);
        EXPECT_EQ(packet1[0].bytes, p1 + p1.back());
        break;
    case EmulatorFault::Garbage: {
        ASSERT_EQ(ident.size(), 1u);
        const std::string noise = ident[0].bytes.substr(0, 2);
        EXPECT_EQ(ident[0].bytes, noise + "KPNQUILLNV01\r");
        EXPECT_EQ(poll[0].bytes, noise + "KTRY\r");
        for (const char ch : noise) {
            EXPECT_NE(ch, 'K');
            EXPECT_NE(ch, '\0');
        }
        EXPECT_EQ(packet1[0].bytes, noise + p1);
        break;
    }
    case EmulatorFault::HangUp:
        EXPECT_FALSE(packet0[0].hangUpAfter);
        EXPECT_TRUE(packet1[0].hangUpAfter);
        EXPECT_EQ(packet1[0].bytes, p1);
        break;
    case EmulatorFault::LatePackets:
        // From packet 1 on, text replies as ever.
        EXPECT_EQ(ident[0].due, t0);
        EXPECT_EQ(packet0[0].due, t0);
        EXPECT_EQ(packet1[0].due, t0 + milliseconds(75));
        EXPECT_EQ(packet2[0].due, t0 + milliseconds(75));
        EXPECT_EQ(packet1[0].bytes, p1);
        break;
    case EmulatorFault::StrayByte:
        ASSERT_EQ(packet1.size(), 2u);
        EXPECT_EQ(packet1[0].bytes, p1);
        EXPECT_EQ(packet1[1].bytes.size(), 1u);
        EXPECT_NE(packet1[1].bytes[0], 'K');
        EXPECT_EQ(packet1[1].due, t0 + milliseconds(20));
        break;
    case EmulatorFault::NoiseFront: {
        // Two noise bytes and the packet but its last byte, which comes 20 ms later.
        ASSERT_EQ(packet1.size(), 2u);
        EXPECT_EQ(packet1[0].bytes.size(), 2u + 255u);
        EXPECT_EQ(packet1[0].bytes.substr(2), p1.substr(0, 255));
        EXPECT_EQ(packet1[1].bytes, p1.substr(255));
        EXPECT_EQ(packet1[1].due, t0 + milliseconds(20));
        EXPECT_EQ(ident[0].bytes, "KPNQUILLNV01\r"); // text replies clean
        break;
    }
    case EmulatorFault::DropPacket:
        EXPECT_TRUE(packet1.empty());
        break;
    case EmulatorFault::None:
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, EmuModelFaults,
    ::testing::Values(
        FaultCase{EmulatorFault::Silent, 255}, FaultCase{EmulatorFault::Foreign, 255},
        FaultCase{EmulatorFault::Delay, 255}, FaultCase{EmulatorFault::LateByte, 255},
        FaultCase{EmulatorFault::ShortPacket, 255}, FaultCase{EmulatorFault::ShortPacket, 100},
        FaultCase{EmulatorFault::ShortPacket, 0}, FaultCase{EmulatorFault::LongPacket, 255},
        FaultCase{EmulatorFault::Garbage, 255}, FaultCase{EmulatorFault::HangUp, 255},
        FaultCase{EmulatorFault::LatePackets, 255}, FaultCase{EmulatorFault::StrayByte, 255},
        FaultCase{EmulatorFault::NoiseFront, 255}, FaultCase{EmulatorFault::DropPacket, 255}),
    [](const auto& info) {
        std::string name(FaultName(info.param.fault));
        std::erase(name, '-');
        return name + std::to_string(info.param.shortBytes);
    });

} // namespace
} // namespace quillon
