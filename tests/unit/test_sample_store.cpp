// Packet unpacking into the sample store and what a complete download writes.
#include "capture/sample_store.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

using quillon::SampleStore;

std::array<std::uint8_t, 256> Packet(std::uint8_t seed) {
    std::array<std::uint8_t, 256> p{};
    for (std::size_t i = 0; i < p.size(); ++i) {
        p[i] = static_cast<std::uint8_t>(seed + i);
    }
    return p;
}

// A download as the capture run does it: 64 requests, the fill indices advancing always.
void Download(SampleStore& store, const std::vector<int>& counts, std::uint8_t seed) {
    store.m_fillLow = store.m_fillHigh = 0;
    for (int k = 0; k < 64; ++k) {
        const auto p = Packet(static_cast<std::uint8_t>(seed + k));
        store.StorePacket(p.data(), counts.empty() ? 256 : counts[static_cast<std::size_t>(k)]);
        store.m_fillLow += 128;
        store.m_fillHigh += 128;
    }
}

TEST(SampleStore, StartsAtZeroAndReadsLowPlusHigh) {
    SampleStore store;
    EXPECT_EQ(store.GetSample(0), 0);
    EXPECT_EQ(store.GetSample(4095), 0);
    const std::uint8_t bytes[] = {0x34, 0x12};
    store.StorePacket(bytes, 2);
    EXPECT_EQ(store.GetSample(0), 0x1234);
    // Channels 2, 4, 5, 9 and 12 high.
    EXPECT_EQ(store.GetSample(0), (1 << 2) | (1 << 4) | (1 << 5) | (1 << 9) | (1 << 12));
}

TEST(SampleStore, CompleteDownloadWritesSamples0To4031Only) {
    SampleStore store;
    store.m_sampleLow.fill(0xEE);
    store.m_sampleHigh.fill(0xDD);
    Download(store, {}, 7);
    EXPECT_EQ(store.m_fillLow, 8192);
    EXPECT_EQ(store.m_fillHigh, 8192);
    for (int k = 0; k <= 31; ++k) {
        const auto p = Packet(static_cast<std::uint8_t>(7 + k));
        const int samples = k == 31 ? 64 : 128;
        for (int j = 0; j < samples; ++j) {
            ASSERT_EQ(store.GetSample(128 * k + j), p[2 * j] + 256 * p[2 * j + 1]) << k << " " << j;
        }
    }
    // Packet 31: byte 127 is the high byte of sample 4031; byte 128 on is dropped.
    EXPECT_EQ(store.m_sampleHigh[4031], Packet(7 + 31)[127]);
    for (int i = 4032; i < 4096; ++i) {
        ASSERT_EQ(store.m_sampleLow[static_cast<std::size_t>(i)], 0xEE) << i;
        ASSERT_EQ(store.m_sampleHigh[static_cast<std::size_t>(i)], 0xDD) << i;
    }
    // Another download leaves 4032..4095 as they were too.
    Download(store, {}, 99);
    EXPECT_EQ(store.m_sampleLow[4032], 0xEE);
    EXPECT_EQ(store.m_sampleHigh[4095], 0xDD);
}

TEST(SampleStore, RejectedPacketKeepsOldSamplesAndNextLandsInPlace) {
    SampleStore store;
    Download(store, {}, 1);
    const SampleStore before = store;
    std::vector<int> counts(64, 256);
    counts[5] = 0;
    Download(store, counts, 50);
    for (int j = 0; j < 128; ++j) {
        EXPECT_EQ(store.GetSample(128 * 5 + j), before.GetSample(128 * 5 + j));
    }
    const auto p6 = Packet(50 + 6);
    EXPECT_EQ(store.GetSample(128 * 6), p6[0] + 256 * p6[1]);
}

TEST(SampleStore, ShortReadStoresOnlyItsBytes) {
    SampleStore store;
    const auto p = Packet(3);
    store.StorePacket(p.data(), 100);
    for (int j = 0; j < 50; ++j) {
        EXPECT_EQ(store.GetSample(j), p[2 * j] + 256 * p[2 * j + 1]);
    }
    EXPECT_EQ(store.GetSample(50), 0);
    // An odd count stores the low byte of the last sample only.
    store.m_fillLow = store.m_fillHigh = 128;
    store.StorePacket(p.data(), 3);
    EXPECT_EQ(store.m_sampleLow[129], p[2]);
    EXPECT_EQ(store.m_sampleHigh[129], 0);
}

TEST(SampleStore, PacketsPastTheEndStoreNothing) {
    SampleStore store;
    const auto p = Packet(9);
    for (int fill = 4096; fill < 8192; fill += 128) {
        store.m_fillLow = store.m_fillHigh = fill;
        store.StorePacket(p.data(), 256);
    }
    const SampleStore empty;
    EXPECT_EQ(store.m_sampleLow, empty.m_sampleLow);
    EXPECT_EQ(store.m_sampleHigh, empty.m_sampleHigh);
}

TEST(SampleStore, CountsOutsideAPacketCannotOverrun) {
    SampleStore store;
    std::array<std::uint8_t, 256> p{};
    p.fill(0xFF);
    store.m_fillLow = store.m_fillHigh = 3968;
    store.StorePacket(p.data(), 5000); // more than a packet: taken as a full packet
    EXPECT_EQ(store.GetSample(4031), 0xFFFF);
    EXPECT_EQ(store.GetSample(4032), 0);
    store.StorePacket(p.data(), -4); // nothing
    store.m_fillLow = store.m_fillHigh = -128;
    store.StorePacket(p.data(), 256); // a negative fill index stores nothing
    EXPECT_EQ(store.GetSample(0), 0);
}

} // namespace
