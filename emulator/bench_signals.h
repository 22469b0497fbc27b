// The emulated test bench: 16 logic signals as pure functions of time since the arm.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace quillon {

/// Sample period of rate multiplier 1; the analyzer samples every kBaseSamplePeriodNs * rate.
inline constexpr std::int64_t kBaseSamplePeriodNs = 20;

// D0..D3: a 4-bit binary counter that counts every kCounterStepNs (D0 is a 1 MHz square wave).
inline constexpr std::int64_t kCounterStepNs = 500;
// D4..D7: SPI mode 0, SCLK D4, MOSI D5, MISO D6, CS D7 (active low), MSB first. Every
// kSpiBurstPeriodNs a burst of 4 bytes at 1 MHz: CS falls kSpiCsFallNs into the period, the
// first clock cycle begins at kSpiFirstBitNs, CS rises at kSpiCsRiseNs.
inline constexpr std::int64_t kSpiBurstPeriodNs = 50'000;
inline constexpr std::int64_t kSpiCsFallNs = 2'000;
inline constexpr std::int64_t kSpiFirstBitNs = 3'000;
inline constexpr std::int64_t kSpiBitNs = 1'000;
inline constexpr int kSpiBytesPerBurst = 4;
inline constexpr std::int64_t kSpiCsRiseNs = 36'000;
inline constexpr std::string_view kSpiMosiText = "Quillon SPI\n";
inline constexpr std::string_view kSpiMisoText = "OK, got it. ";
// D8..D11: UARTs 8N1, idle high, LSB first. Each is idle until kUartLeadBits bit times after
// the arm, then repeats kUartText; every character takes kUartCellBits bit times (start,
// 8 data, stop, one idle bit) and one idle cell follows each repetition of the text.
inline constexpr std::array<std::int64_t, 4> kUartBaud{921600, 115200, 9600, 1200};
inline constexpr std::int64_t kUartLeadBits = 2;
inline constexpr std::int64_t kUartCellBits = 11;
inline constexpr std::string_view kUartText = "Hello from Quillon!\r\n";
// D12: 10 kHz PWM whose high time walks 5, 10, ... 95, 90, ... 10 us, one step per period.
inline constexpr std::int64_t kPwmPeriodNs = 100'000;
inline constexpr std::int64_t kPwmStepNs = 5'000;
inline constexpr std::int64_t kPwmSteps = 18;
// D13 SCL, D14 SDA: I2C at 100 kHz. Every kI2cPeriodNs, kI2cStartNs into the period: START,
// address 0x50 write, two data bytes from kI2cText, each byte acknowledged, STOP.
inline constexpr std::int64_t kI2cPeriodNs = 500'000;
inline constexpr std::int64_t kI2cStartNs = 10'000;
inline constexpr std::int64_t kI2cQuarterNs = 2'500;
inline constexpr std::uint8_t kI2cAddressByte = 0xA0;
inline constexpr std::string_view kI2cText = "Quillon I2C ";
// D15: 1 kHz clock, high in the first half of each millisecond.
inline constexpr std::int64_t kSlowClockHalfNs = 500'000;

/// What the analyzer's inputs are connected to, chosen by the settings' gentype character.
enum class SignalSet {
    Bench,   ///< the mix above (gentype '0' and any character not listed below)
    Counter, ///< '1': a 16-bit counter of 20 ns ticks since the arm on D0..D15
    AllLow,  ///< '2'
    AllHigh, ///< '3'
};

SignalSet SignalSetFor(char genType);

/// The inputs at one instant.
struct SignalLevels {
    std::uint16_t value = 0;        ///< bit n is channel n; only the asked channels are exact
    std::int64_t stableUntilNs = 0; ///< none of the asked channels changes before this (> tNs)
};

/// Levels at tNs nanoseconds after the arm (negative: before it). Pure; any thread.
/// Channels outside `channels` may read 0. Valid for |tNs| up to about 10^12.
SignalLevels EvaluateSignals(SignalSet set, std::int64_t tNs, std::uint16_t channels = 0xFFFF);

/// All 16 channels at tNs.
std::uint16_t SignalValue(SignalSet set, std::int64_t tNs);

/// count samples taken every kBaseSamplePeriodNs * rateMultiplier from startNs on.
std::vector<std::uint16_t> SampleSignals(SignalSet set, int rateMultiplier, std::int64_t startNs,
                                         int count);

// The rare glitch (quillon-emu --glitch N): in one capture of N, one sample of D11 inverted, a
// one-sample pulse somewhere else each time. D11, the 1200-baud UART, idles high through the
// whole of most captures, so the pulse is low there, like a dropout on a quiet line.
inline constexpr int kGlitchChannel = 11;

/// Inverts kGlitchChannel at one sample k in [1, within - 1) whose neighbours k - 1 and
/// k + 1 have its level, so that it stands alone; the search starts at a place drawn from
/// seed. Returns k; nullopt when no sample lies between two of its own level. Pure.
std::optional<std::int64_t> AddGlitch(std::vector<std::uint16_t>& samples, std::uint64_t seed,
                                      std::int64_t within);

} // namespace quillon
