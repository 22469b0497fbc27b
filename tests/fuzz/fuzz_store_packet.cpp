// Fuzz target: StorePacket with the counts and fill indices a capture run can produce.
#include "capture/sample_store.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using quillon::SampleStore;
    if (size < 2) {
        return 0;
    }
    SampleStore store;
    store.m_sampleLow.fill(0xA5);
    store.m_sampleHigh.fill(0x5A);
    const SampleStore before = store;
    // Fill indices run 0, 128, ..., 8064; the count is 0..256 (what the read delivered).
    const int fill = (data[0] % 64) * SampleStore::kFillStep;
    store.m_fillLow = store.m_fillHigh = fill;
    std::uint8_t packet[256] = {};
    const std::size_t delivered = size - 2 < 256 ? size - 2 : 256;
    for (std::size_t i = 0; i < delivered; ++i) {
        packet[i] = data[2 + i];
    }
    const int count = static_cast<int>(delivered) - (data[1] % 2); // also odd counts
    store.StorePacket(packet, count < 0 ? 0 : count);
    for (int i = 0; i < SampleStore::kCapacity; ++i) {
        const auto idx = static_cast<std::size_t>(i);
        const bool changed = store.m_sampleLow[idx] != before.m_sampleLow[idx] ||
                             store.m_sampleHigh[idx] != before.m_sampleHigh[idx];
        // Only the packet's own 128 samples may change, and never past sample 4031.
        if (changed && (i < fill || i >= fill + 128 || i >= SampleStore::kSamplesPerCapture)) {
            std::abort();
        }
    }
    if (store.m_fillLow != fill || store.m_fillHigh != fill) {
        std::abort();
    }
    return 0;
}
