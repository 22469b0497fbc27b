// The emulated bench: signals decode as what they claim to be, and the trigger search's
// skipping never jumps over a change.
#include "emulator/analyzer_model.h"
#include "emulator/bench_signals.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {
namespace {

bool Level(const std::vector<std::uint16_t>& samples, std::size_t i, int channel) {
    return ((samples[i] >> channel) & 1u) != 0;
}

// A UART receiver: a falling edge starts a frame, bits are read in their middles.
std::string DecodeUart(const std::vector<std::uint16_t>& samples, int channel,
                       double samplesPerBit) {
    std::string text;
    std::size_t i = 1;
    while (i < samples.size()) {
        if (!Level(samples, i - 1, channel) || Level(samples, i, channel)) {
            ++i;
            continue;
        }
        const auto at = [&](int bit) {
            return static_cast<std::size_t>(static_cast<double>(i) + (bit + 0.5) * samplesPerBit);
        };
        if (at(9) >= samples.size()) {
            break;
        }
        unsigned ch = 0;
        for (int bit = 0; bit < 8; ++bit) {
            ch |= (Level(samples, at(bit + 1), channel) ? 1u : 0u) << bit;
        }
        const bool bFramed = !Level(samples, at(0), channel) && Level(samples, at(9), channel);
        text += bFramed ? static_cast<char>(ch) : '#';
        i = at(9);
    }
    return text;
}

double SamplesPerBit(std::int64_t baud, int rateMultiplier) {
    return 1e9 / static_cast<double>(baud) /
           static_cast<double>(kBaseSamplePeriodNs * rateMultiplier);
}

struct UartCase {
    int channel;
    int rateMultiplier;
    std::string expectedStart;
};

class EmuUartAtItsRate : public ::testing::TestWithParam<UartCase> {};

// Each sample rate has one UART with 40..55 samples per bit whose text starts in the window.
TEST_P(EmuUartAtItsRate, DecodesTheGreetingFromTheArm) {
    const UartCase& c = GetParam();
    const std::int64_t baud = kUartBaud[static_cast<std::size_t>(c.channel - 8)];
    const double spb = SamplesPerBit(baud, c.rateMultiplier);
    EXPECT_GE(spb, 40.0);
    EXPECT_LE(spb, 55.0);
    const auto samples = SampleSignals(SignalSet::Bench, c.rateMultiplier, 0, kEmuKeptSamples);
    EXPECT_TRUE(Level(samples, 0, c.channel)) << "idle high before the first start bit";
    const std::string text = DecodeUart(samples, c.channel, spb);
    EXPECT_EQ(text.substr(0, c.expectedStart.size()), c.expectedStart) << text;
}

INSTANTIATE_TEST_SUITE_P(Rates, EmuUartAtItsRate,
                         ::testing::Values(UartCase{8, 1, "Hello "}, UartCase{9, 10, "Hello fr"},
                                           UartCase{10, 100, "Hello "},
                                           UartCase{11, 1000, "Hello fr"}));

TEST(EmuBenchSignals, FastUartRepeatsTheWholeLineAtTheNextRate) {
    // At 200 ns the 921600 baud line has 5.4 samples per bit: still decodable, many lines.
    const auto samples = SampleSignals(SignalSet::Bench, 10, 0, kEmuCaptureSamples);
    const std::string text = DecodeUart(samples, 8, SamplesPerBit(921600, 10));
    EXPECT_EQ(text.substr(0, 2 * kUartText.size()),
              std::string(kUartText) + std::string(kUartText));
}

TEST(EmuBenchSignals, UartsAreIdleBeforeTheArm) {
    for (const std::int64_t t : {-1, -1000, -60'000'000}) {
        EXPECT_EQ(SignalValue(SignalSet::Bench, t) & 0x0F00u, 0x0F00u) << t;
    }
}

TEST(EmuBenchSignals, SpiBurstsCarryTheirTexts) {
    // Three whole bursts of four bytes: 150 us at 20 ns.
    const auto samples = SampleSignals(SignalSet::Bench, 1, 0, 7500);
    std::string mosi;
    std::string miso;
    unsigned mosiByte = 0;
    unsigned misoByte = 0;
    int bits = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if (Level(samples, i, 7)) {
            EXPECT_FALSE(Level(samples, i, 4)) << "SCLK idles low while CS is high, sample " << i;
            bits = 0;
            continue;
        }
        if (!Level(samples, i - 1, 4) && Level(samples, i, 4)) { // mode 0: sample on rising
            mosiByte = (mosiByte << 1) | (Level(samples, i, 5) ? 1u : 0u);
            misoByte = (misoByte << 1) | (Level(samples, i, 6) ? 1u : 0u);
            if (++bits == 8) {
                mosi += static_cast<char>(mosiByte & 0xFFu);
                miso += static_cast<char>(misoByte & 0xFFu);
                bits = 0;
            }
        }
    }
    EXPECT_EQ(mosi, std::string(kSpiMosiText.substr(0, 12)));
    EXPECT_EQ(miso, std::string(kSpiMisoText.substr(0, 12)));
}

TEST(EmuBenchSignals, I2cTransactionsAddressTheDeviceAndSendText) {
    const auto samples = SampleSignals(SignalSet::Bench, 10, 0, kEmuCaptureSamples);
    std::vector<std::vector<unsigned>> transactions; // 9-bit groups: byte << 1 | ack
    unsigned group = 0;
    int bits = 0;
    bool bOpen = false;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const bool bScl = Level(samples, i, 13);
        const bool bSclBefore = Level(samples, i - 1, 13);
        const bool bSda = Level(samples, i, 14);
        const bool bSdaBefore = Level(samples, i - 1, 14);
        if (bScl && bSclBefore && bSdaBefore && !bSda) {
            transactions.emplace_back();
            bOpen = true;
            bits = 0;
            group = 0;
        } else if (bScl && bSclBefore && !bSdaBefore && bSda) {
            // Whole bytes; the one clock edge counted is the STOP's own.
            EXPECT_EQ(bits, 1) << "STOP after whole bytes";
            bOpen = false;
        } else if (bOpen && bScl && !bSclBefore) {
            group = (group << 1) | (bSda ? 1u : 0u);
            if (++bits == 9) {
                transactions.back().push_back(group);
                bits = 0;
                group = 0;
            }
        }
    }
    ASSERT_EQ(transactions.size(), 4u); // at 10, 510, 1010, 1510 us of 1638 us
    for (std::size_t n = 0; n < 3; ++n) {
        ASSERT_EQ(transactions[n].size(), 3u);
        EXPECT_EQ(transactions[n][0], kI2cAddressByte << 1u) << "address 0x50 write, ACK";
        for (std::size_t b = 1; b < 3; ++b) {
            EXPECT_EQ(transactions[n][b], static_cast<unsigned>(kI2cText[2 * n + b - 1]) << 1u);
        }
    }
}

TEST(EmuBenchSignals, PwmHighTimeStepsFivePercentPerPeriod) {
    const auto samples = SampleSignals(SignalSet::Bench, 10, 0, kEmuCaptureSamples);
    constexpr int kSamplesPerPeriod = 500; // 100 us at 200 ns
    for (int period = 0; period < 16; ++period) {
        int high = 0;
        for (int i = 0; i < kSamplesPerPeriod; ++i) {
            high += Level(samples, static_cast<std::size_t>(period * kSamplesPerPeriod + i), 12);
        }
        EXPECT_EQ(high, 25 * (period + 1)) << "period " << period;
    }
}

TEST(EmuBenchSignals, CounterAndSlowClock) {
    const auto samples = SampleSignals(SignalSet::Bench, 1, 0, kEmuCaptureSamples);
    for (std::size_t i = 0; i < samples.size(); i += 7) {
        EXPECT_EQ(samples[i] & 0xFu, (i * 20 / 500) & 0xFu) << i;
        EXPECT_TRUE(Level(samples, i, 15)) << "high in the first half millisecond";
    }
    EXPECT_EQ(SignalValue(SignalSet::Bench, 500'000) & 0x8000u, 0u);
    EXPECT_EQ(SignalValue(SignalSet::Bench, 1'000'000) & 0x8000u, 0x8000u);
}

TEST(EmuSignalSets, GenTypeCharacters) {
    EXPECT_EQ(SignalSetFor('0'), SignalSet::Bench);
    EXPECT_EQ(SignalSetFor('x'), SignalSet::Bench);
    EXPECT_EQ(SignalSetFor('1'), SignalSet::Counter);
    EXPECT_EQ(SignalSetFor('2'), SignalSet::AllLow);
    EXPECT_EQ(SignalSetFor('3'), SignalSet::AllHigh);
    EXPECT_EQ(SignalValue(SignalSet::Counter, 0), 0);
    EXPECT_EQ(SignalValue(SignalSet::Counter, 19), 0);
    EXPECT_EQ(SignalValue(SignalSet::Counter, 20), 1);
    EXPECT_EQ(SignalValue(SignalSet::Counter, -1), 0xFFFF);
    EXPECT_EQ(SignalValue(SignalSet::Counter, 65536 * 20 + 40), 2);
    EXPECT_EQ(SignalValue(SignalSet::AllLow, 12345), 0);
    EXPECT_EQ(SignalValue(SignalSet::AllHigh, -12345), 0xFFFF);
}

// Walks every nanosecond of a window: no asked channel may change before stableUntilNs.
void ExpectStableUntilHolds(SignalSet set, std::uint16_t channels, std::int64_t from,
                            std::int64_t length) {
    SignalLevels held = EvaluateSignals(set, from, channels);
    ASSERT_GT(held.stableUntilNs, from);
    for (std::int64_t t = from + 1; t < from + length; ++t) {
        const SignalLevels now = EvaluateSignals(set, t, channels);
        if (t < held.stableUntilNs) {
            ASSERT_EQ(now.value & channels, held.value & channels)
                << "channels " << channels << " changed at " << t << " before "
                << held.stableUntilNs;
        } else {
            held = now;
        }
        ASSERT_GT(now.stableUntilNs, t);
    }
}

TEST(EmuBenchSignals, StableUntilNeverSkipsAChange) {
    // Windows around the arm, inside SPI and I2C traffic, across UART bit edges that fall
    // between nanoseconds, and far from the arm.
    const std::vector<std::int64_t> windows{-3'000,    30'000,  51'000,    511'000,
                                            1'085'000, 833'000, 2'083'000, 997'000'000};
    for (int channel = 0; channel < 16; ++channel) {
        for (const std::int64_t from : windows) {
            ExpectStableUntilHolds(SignalSet::Bench, static_cast<std::uint16_t>(1u << channel),
                                   from, 4'000);
        }
    }
    ExpectStableUntilHolds(SignalSet::Bench, 0xFFFF, 0, 40'000);
    ExpectStableUntilHolds(SignalSet::Bench, 0x0F00, 1'990'000, 20'000);
    ExpectStableUntilHolds(SignalSet::Counter, 0x0004, -1'000, 5'000);
    ExpectStableUntilHolds(SignalSet::Counter, 0xFFFF, 123'456, 5'000);
}

} // namespace
} // namespace quillon
