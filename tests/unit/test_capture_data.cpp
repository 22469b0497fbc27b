// The capture value made from the store after a run: the downloaded samples with their rate,
// the samples of rejected packets and the trigger.
#include "capture/capture_data.h"
#include "capture/capture_run.h"

#include <gtest/gtest.h>

namespace {

using namespace quillon;

TEST(CaptureFromStore, TakesTheDownloadedSamplesWithTheirRate) {
    SampleStore store;
    for (int i = 0; i < SampleStore::kCapacity; ++i) {
        store.m_sampleLow[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
        store.m_sampleHigh[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i >> 8 | 0x80);
    }
    const CaptureData data = CaptureFromStore(store, 100);
    EXPECT_EQ(data.rate, 100);
    ASSERT_EQ(data.samples.size(), 4032u);
    for (int i : {0, 1, 255, 256, 4031}) {
        EXPECT_EQ(data.samples[static_cast<std::size_t>(i)], store.GetSample(i)) << i;
    }
    EXPECT_EQ(data.samples[257], 0x8101);
}

TEST(CaptureFromRun, MarksTheSamplesOfRejectedPacketsAndPlacesTheTrigger) {
    SampleStore store;
    CaptureResult result;
    result.received.set();
    result.triggered = true;
    const CaptureData whole = CaptureFromRun(store, 10, result, "10");
    EXPECT_TRUE(whole.received.empty());
    EXPECT_EQ(whole.rate, 10);
    EXPECT_EQ(whole.triggerSample, 2016);

    result.received.reset(2);  // samples 256..383
    result.received.reset(40); // beyond the kept samples: costs nothing
    result.triggered = false;  // stopped, not triggered: no trigger sample
    const CaptureData partial = CaptureFromRun(store, 1, result, "10");
    ASSERT_EQ(partial.received.size(), 4032u);
    EXPECT_EQ(partial.MissingCount(), 128u);
    EXPECT_TRUE(partial.IsReceived(255));
    EXPECT_FALSE(partial.IsReceived(256));
    EXPECT_FALSE(partial.IsReceived(383));
    EXPECT_TRUE(partial.IsReceived(384));
    EXPECT_FALSE(partial.triggerSample.has_value());

    result.triggered = true;
    EXPECT_FALSE(CaptureFromRun(store, 1, result, "1").triggerSample.has_value());
    EXPECT_FALSE(CaptureFromRun(store, 1, result, "x1").triggerSample.has_value());
    EXPECT_EQ(CaptureFromRun(store, 1, result, "11").triggerSample, 3024);
}

} // namespace
