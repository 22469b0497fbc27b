// Writes a capture of realistic content for benchmarks of reading and drawing:
//   make_capture SAMPLES FILE [CHANNELS [RATE]]
// SAMPLES may end in k, M or G; FILE's extension chooses VCD, CSV or sigrok session file;
// RATE as quillon-cli takes it (default 24MHz). Channels: D0 a fast clock, D1 to D3 SPI (clock,
// data, select) in bursts, D4 a UART, D5 to D7 a counter, the rest slow random lines.
#include "file/capture_file.h"
#include "file/sample_rate.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace quillon;

class Random {
public:
    std::uint64_t Next() {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return m_state;
    }

private:
    std::uint64_t m_state = 0x9E3779B97F4A7C15ULL;
};

/// The signals, sample by sample.
class Bench {
public:
    explicit Bench(int channels) : m_channels(channels) {}

    /// Bit c of the result is channel c at sample i (i in order).
    std::uint64_t Sample(std::int64_t i) {
        std::uint64_t v = ((i >> 1) & 1U);                   // D0: a clock of 4 samples
        v |= Spi(i) << 1;                                    // D1..D3
        v |= Uart(i) << 4;                                   // D4
        v |= static_cast<std::uint64_t>((i >> 10) & 7) << 5; // D5..D7
        for (int c = 8; c < m_channels && c < 64; ++c) {
            if (m_random.Next() % 20'000 == 0) {
                m_slow ^= std::uint64_t{1} << c; // a change every 20 000 samples or so
            }
        }
        return v | (m_slow & ~std::uint64_t{0xFF});
    }

private:
    // SPI: bursts of 8 bytes, 8 samples a bit, then a pause of 4000 samples.
    std::uint64_t Spi(std::int64_t i) {
        const std::int64_t cycle = i % 4512;
        if (cycle >= 512) {
            return 0b100; // select high: idle
        }
        if (cycle % 64 == 0 && cycle % 8 == 0) {
            m_spiByte = static_cast<std::uint8_t>(m_random.Next());
        }
        const int bit = static_cast<int>((cycle / 8) % 8);
        const std::uint64_t clock = (cycle % 8) >= 4 ? 1 : 0;
        const std::uint64_t data = (m_spiByte >> (7 - bit)) & 1U;
        return clock | (data << 1);
    }
    // UART: 100 samples a bit, a byte now and then.
    std::uint64_t Uart(std::int64_t i) {
        if (i % 100 != 0) {
            return m_uartLevel;
        }
        if (m_uartBit < 0) {
            if (m_random.Next() % 4 == 0) {
                m_uartByte = static_cast<std::uint8_t>(m_random.Next());
                m_uartBit = 0;
                m_uartLevel = 0; // start bit
            }
            return m_uartLevel;
        }
        ++m_uartBit;
        m_uartLevel = m_uartBit <= 8 ? (m_uartByte >> (m_uartBit - 1)) & 1U : 1U;
        if (m_uartBit > 8) {
            m_uartBit = -1;
        }
        return m_uartLevel;
    }

    int m_channels;
    Random m_random;
    std::uint64_t m_slow = 0;
    std::uint8_t m_spiByte = 0;
    std::uint8_t m_uartByte = 0;
    int m_uartBit = -1;
    std::uint64_t m_uartLevel = 1;
};

std::int64_t ParseCount(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    const std::string suffix = end != nullptr ? end : "";
    const double factor = suffix == "k" ? 1e3 : suffix == "M" ? 1e6 : suffix == "G" ? 1e9 : 1.0;
    return static_cast<std::int64_t>(value * factor);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: make_capture SAMPLES FILE [CHANNELS [RATE]]\n", stderr);
        return 2;
    }
    const std::int64_t count = ParseCount(argv[1]);
    const std::string path = argv[2];
    const int channels = argc > 3 ? std::atoi(argv[3]) : 16;
    const auto period = ParseSampleRate(argc > 4 ? argv[4] : "24MHz");
    const auto format = FileFormatForPath(path);
    if (count < 1 || channels < 1 || channels > 64 || !period || !format) {
        std::fputs("make_capture: bad arguments\n", stderr);
        return 2;
    }
    CaptureBuilder builder(channels, *period);
    builder.Reserve(count);
    Bench bench(channels);
    const int unit = (channels + 7) / 8;
    constexpr std::int64_t kBlock = 1 << 16;
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(kBlock * unit));
    for (std::int64_t first = 0; first < count; first += kBlock) {
        const std::int64_t n = std::min(kBlock, count - first);
        for (std::int64_t r = 0; r < n; ++r) {
            const std::uint64_t v = bench.Sample(first + r);
            for (int b = 0; b < unit; ++b) {
                rows[static_cast<std::size_t>(r * unit + b)] =
                    static_cast<std::uint8_t>(v >> (8 * b));
            }
        }
        builder.AppendRows(rows.data(), n, unit);
    }
    const CapturePtr capture = builder.Finish();
    std::string error;
    if (!WriteCaptureFile(path, *capture, *format, error)) {
        std::fprintf(stderr, "make_capture: %s: %s\n", path.c_str(), error.c_str());
        return 4;
    }
    return 0;
}
