// SampleStore: the capture memory, 4096 16-channel samples as a low and a high byte plane.
#pragma once

#include <array>
#include <cstdint>

namespace quillon {

/// Written by the capture worker, read by the drawing; the owner keeps the two apart.
struct SampleStore {
    static constexpr int kCapacity = 4096;
    static constexpr int kFillStep = 128; // samples per packet
    static constexpr int kFillEnd = 8192; // fill index after 64 packets

    std::array<std::uint8_t, kCapacity> m_sampleLow{};  ///< channels 0..7 of sample i
    std::array<std::uint8_t, kCapacity> m_sampleHigh{}; ///< channels 8..15 of sample i
    int m_fillLow = 0;
    int m_fillHigh = 0;

    /// Places count (0..256) packet bytes at the fill indices: even bytes low, odd bytes
    /// high; a byte whose fill index + byte position reaches 4096 is dropped.
    void StorePacket(const std::uint8_t* bytes, int count);
    /// Sample i (0..4095): bit n is channel n.
    [[nodiscard]] std::uint16_t GetSample(int i) const {
        return static_cast<std::uint16_t>(m_sampleLow[static_cast<std::size_t>(i)] +
                                          256 * m_sampleHigh[static_cast<std::size_t>(i)]);
    }
    /// Samples a complete download writes (0..4031).
    static constexpr int kSamplesPerCapture = 4032;
};

} // namespace quillon
