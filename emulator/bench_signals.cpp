// The bench signals, each with the time up to which it stays put so trigger searches can skip.
#include "emulator/bench_signals.h"

#include <algorithm>
#include <bit>
#include <limits>

namespace quillon {

namespace {

constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kNsPerSecond = 1'000'000'000;

constexpr std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if (a % b != 0 && ((a < 0) != (b < 0))) {
        --q;
    }
    return q;
}

constexpr std::int64_t FloorMod(std::int64_t a, std::int64_t b) {
    return a - FloorDiv(a, b) * b;
}

constexpr std::int64_t CeilDiv(std::int64_t a, std::int64_t b) {
    return -FloorDiv(-a, b);
}

char TextAt(std::string_view text, std::int64_t index) {
    return text[static_cast<std::size_t>(FloorMod(index, static_cast<std::int64_t>(text.size())))];
}

// Accumulates the levels of the groups asked for and the earliest of their changes.
struct Accumulator {
    std::uint16_t value = 0;
    std::int64_t until = kNever;
    void Add(std::uint16_t bits, std::int64_t groupUntil) {
        value = static_cast<std::uint16_t>(value | bits);
        until = std::min(until, groupUntil);
    }
};

// A binary counter of `step` ticks: the lowest asked bit decides when anything asked changes.
void AddCounter(Accumulator& acc, std::int64_t tNs, std::int64_t stepNs, unsigned asked,
                unsigned shift, unsigned width) {
    const std::int64_t count = FloorDiv(tNs, stepNs);
    const auto mask = static_cast<std::uint16_t>((1u << width) - 1u);
    const auto bits =
        static_cast<std::uint16_t>((static_cast<std::uint64_t>(count) & mask) << shift);
    const std::int64_t lowStep = stepNs << std::countr_zero(asked);
    acc.Add(bits, (FloorDiv(tNs, lowStep) + 1) * lowStep);
}

void AddSpi(Accumulator& acc, std::int64_t tNs) {
    const std::int64_t burst = FloorDiv(tNs, kSpiBurstPeriodNs);
    const std::int64_t begin = burst * kSpiBurstPeriodNs;
    const std::int64_t phase = tNs - begin;
    constexpr std::int64_t kHalfBitNs = kSpiBitNs / 2;
    constexpr std::int64_t kLastBitEndNs = kSpiFirstBitNs + 8 * kSpiBytesPerBurst * kSpiBitNs;
    if (phase < kSpiCsFallNs) {
        acc.Add(1u << 7, begin + kSpiCsFallNs);
        return;
    }
    if (phase >= kSpiCsRiseNs) {
        acc.Add(1u << 7, begin + kSpiBurstPeriodNs);
        return;
    }
    unsigned bits = 0; // CS low
    if (phase >= kSpiFirstBitNs && phase < kLastBitEndNs) {
        const std::int64_t cycle = (phase - kSpiFirstBitNs) / kSpiBitNs;
        const bool bSclk = (phase - kSpiFirstBitNs) % kSpiBitNs >= kHalfBitNs;
        const std::int64_t byte = burst * kSpiBytesPerBurst + cycle / 8;
        const int shift = 7 - static_cast<int>(cycle % 8);
        const unsigned mosi =
            (static_cast<unsigned char>(TextAt(kSpiMosiText, byte)) >> shift) & 1u;
        const unsigned miso =
            (static_cast<unsigned char>(TextAt(kSpiMisoText, byte)) >> shift) & 1u;
        bits = (bSclk ? 1u << 4 : 0u) | mosi << 5 | miso << 6;
    }
    acc.Add(static_cast<std::uint16_t>(bits), begin + (phase / kHalfBitNs + 1) * kHalfBitNs);
}

bool UartBit(std::int64_t bit) {
    if (bit < kUartLeadBits) {
        return true;
    }
    const auto textLength = static_cast<std::int64_t>(kUartText.size());
    const std::int64_t position = (bit - kUartLeadBits) % ((textLength + 1) * kUartCellBits);
    const std::int64_t cell = position / kUartCellBits;
    const std::int64_t inCell = position % kUartCellBits;
    if (cell == textLength || inCell >= 9) {
        return true; // the idle cell after the text, stop bit, idle bit
    }
    if (inCell == 0) {
        return false; // start bit
    }
    const auto ch = static_cast<unsigned char>(kUartText[static_cast<std::size_t>(cell)]);
    return ((ch >> (inCell - 1)) & 1u) != 0;
}

void AddUart(Accumulator& acc, std::int64_t tNs, int index) {
    const std::int64_t baud = kUartBaud[static_cast<std::size_t>(index)];
    const std::int64_t bit = FloorDiv(tNs * baud, kNsPerSecond);
    const bool bHigh = UartBit(bit);
    // Before the lead-in ends nothing moves, however far back tNs is.
    const std::int64_t next = bit < kUartLeadBits ? kUartLeadBits : bit + 1;
    acc.Add(static_cast<std::uint16_t>(bHigh ? 1u << (8 + index) : 0u),
            CeilDiv(next * kNsPerSecond, baud));
}

void AddPwm(Accumulator& acc, std::int64_t tNs) {
    const std::int64_t period = FloorDiv(tNs, kPwmPeriodNs);
    const std::int64_t begin = period * kPwmPeriodNs;
    const std::int64_t step = FloorMod(period, 2 * kPwmSteps);
    const std::int64_t highNs =
        kPwmStepNs * (1 + (step <= kPwmSteps ? step : 2 * kPwmSteps - step));
    if (tNs - begin < highNs) {
        acc.Add(1u << 12, begin + highNs);
    } else {
        acc.Add(0, begin + kPwmPeriodNs);
    }
}

// Bit i of transaction n: address, ACK, data, ACK, data, ACK (ACKs low).
bool I2cBit(std::int64_t transaction, std::int64_t i) {
    const std::int64_t byteIndex = i / 9;
    const std::int64_t position = i % 9;
    if (position == 8) {
        return false;
    }
    const unsigned byte =
        byteIndex == 0
            ? kI2cAddressByte
            : static_cast<unsigned char>(TextAt(kI2cText, 2 * transaction + byteIndex - 1));
    return ((byte >> (7 - position)) & 1u) != 0;
}

void AddI2c(Accumulator& acc, std::int64_t tNs) {
    constexpr std::int64_t kBits = 27;
    constexpr std::int64_t kQuarters = 2 + 4 * (kBits + 1); // START, bits, STOP
    const std::int64_t transaction = FloorDiv(tNs, kI2cPeriodNs);
    const std::int64_t begin = transaction * kI2cPeriodNs;
    const std::int64_t phase = tNs - begin;
    constexpr std::uint16_t kIdle = (1u << 13) | (1u << 14);
    if (phase < kI2cStartNs) {
        acc.Add(kIdle, begin + kI2cStartNs);
        return;
    }
    const std::int64_t quarter = (phase - kI2cStartNs) / kI2cQuarterNs;
    if (quarter >= kQuarters) {
        acc.Add(kIdle, begin + kI2cPeriodNs);
        return;
    }
    bool bScl = true;
    bool bSda = false; // START: SDA falls while SCL is high
    if (quarter >= 2) {
        const std::int64_t slot = (quarter - 2) / 4;
        const std::int64_t j = (quarter - 2) % 4;
        bScl = j >= 2;
        // SDA changes only in the second quarter, while SCL is low.
        const bool bPrevious = slot == 0 ? false : I2cBit(transaction, slot - 1);
        if (slot < kBits) {
            bSda = j == 0 ? bPrevious : I2cBit(transaction, slot);
        } else {
            bSda = j == 0 ? bPrevious : j == 3; // STOP: SDA rises while SCL is high
        }
    }
    acc.Add(static_cast<std::uint16_t>((bScl ? 1u << 13 : 0u) | (bSda ? 1u << 14 : 0u)),
            begin + kI2cStartNs + (quarter + 1) * kI2cQuarterNs);
}

void AddSlowClock(Accumulator& acc, std::int64_t tNs) {
    const std::int64_t half = FloorDiv(tNs, kSlowClockHalfNs);
    acc.Add(static_cast<std::uint16_t>(FloorMod(half, 2) == 0 ? 1u << 15 : 0u),
            (half + 1) * kSlowClockHalfNs);
}

} // namespace

SignalSet SignalSetFor(char genType) {
    switch (genType) {
    case '1':
        return SignalSet::Counter;
    case '2':
        return SignalSet::AllLow;
    case '3':
        return SignalSet::AllHigh;
    default:
        return SignalSet::Bench;
    }
}

SignalLevels EvaluateSignals(SignalSet set, std::int64_t tNs, std::uint16_t channels) {
    Accumulator acc;
    switch (set) {
    case SignalSet::AllLow:
        break;
    case SignalSet::AllHigh:
        acc.value = 0xFFFF;
        break;
    case SignalSet::Counter:
        if (channels != 0) {
            AddCounter(acc, tNs, kBaseSamplePeriodNs, channels, 0, 16);
        }
        break;
    case SignalSet::Bench:
        if ((channels & 0x000Fu) != 0) {
            AddCounter(acc, tNs, kCounterStepNs, channels & 0x000Fu, 0, 4);
        }
        if ((channels & 0x00F0u) != 0) {
            AddSpi(acc, tNs);
        }
        for (int i = 0; i < 4; ++i) {
            if ((channels & (1u << (8 + i))) != 0) {
                AddUart(acc, tNs, i);
            }
        }
        if ((channels & (1u << 12)) != 0) {
            AddPwm(acc, tNs);
        }
        if ((channels & 0x6000u) != 0) {
            AddI2c(acc, tNs);
        }
        if ((channels & 0x8000u) != 0) {
            AddSlowClock(acc, tNs);
        }
        break;
    }
    return {acc.value, acc.until};
}

std::uint16_t SignalValue(SignalSet set, std::int64_t tNs) {
    return EvaluateSignals(set, tNs, 0xFFFF).value;
}

std::vector<std::uint16_t> SampleSignals(SignalSet set, int rateMultiplier, std::int64_t startNs,
                                         int count) {
    std::vector<std::uint16_t> samples(static_cast<std::size_t>(std::max(count, 0)));
    const std::int64_t periodNs = kBaseSamplePeriodNs * rateMultiplier;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = SignalValue(set, startNs + static_cast<std::int64_t>(i) * periodNs);
    }
    return samples;
}

std::optional<std::int64_t> AddGlitch(std::vector<std::uint16_t>& samples, std::uint64_t seed,
                                      std::int64_t within) {
    const std::int64_t count = std::min(within, static_cast<std::int64_t>(samples.size()));
    if (count < 3) {
        return std::nullopt;
    }
    // splitmix64: neighbouring seeds land far apart.
    std::uint64_t z = seed + 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    const std::int64_t places = count - 2;
    const auto level = [&](std::int64_t i) {
        return (samples[static_cast<std::size_t>(i)] >> kGlitchChannel) & 1U;
    };
    const auto start = static_cast<std::int64_t>(z % static_cast<std::uint64_t>(places));
    for (std::int64_t n = 0; n < places; ++n) {
        const std::int64_t k = 1 + (start + n) % places;
        if (level(k - 1) == level(k) && level(k + 1) == level(k)) {
            samples[static_cast<std::size_t>(k)] ^=
                static_cast<std::uint16_t>(1U << kGlitchChannel);
            return k;
        }
    }
    return std::nullopt;
}

} // namespace quillon
