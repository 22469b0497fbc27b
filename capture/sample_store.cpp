// Unpacking one sample packet into the two byte planes.
#include "capture/sample_store.h"

namespace quillon {

void SampleStore::StorePacket(const std::uint8_t* bytes, int count) {
    if (count > 256) {
        count = 256; // a packet never holds more; the planes cannot take more either
    }
    for (int p = 0; p < count; ++p) {
        // The byte position, not the sample position, is tested against the plane's end:
        // packet 31 keeps its first 128 bytes only.
        if (m_fillLow + p >= kCapacity || m_fillLow < 0 || m_fillHigh < 0) {
            continue;
        }
        if (p % 2 == 0) {
            m_sampleLow[static_cast<std::size_t>(m_fillLow + p / 2)] = bytes[p];
        } else if (m_fillHigh + (p - 1) / 2 < kCapacity) {
            m_sampleHigh[static_cast<std::size_t>(m_fillHigh + (p - 1) / 2)] = bytes[p];
        }
    }
}

} // namespace quillon
