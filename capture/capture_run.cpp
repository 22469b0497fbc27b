// The worker's side of a capture run.
#include "capture/capture_run.h"

#include "capture/settings_word.h"

#include <array>
#include <thread>

namespace quillon {

CaptureResult RunCapture(CAnalyzerLink& link, SampleStore& store, std::mutex& storeLock,
                         CaptureFlags& flags, ICaptureHost& host) {
    CaptureResult result;
    const auto cancelled = [&flags] { return flags.m_bCancel.load(); };
    // A dead line or one that takes no commands is not asked again and again.
    const auto lineFailed = [&link] {
        return link.Port().IsHungUp() || link.Port().IsWriteStalled();
    };

    if (flags.m_bTriggerMode.load() != 0) {
        for (;;) {
            ++result.triggerPolls;
            if (link.PollTrigger() == 1) {
                result.triggered = true;
                break;
            }
            if (flags.m_bStopRequest.load() != 0 || cancelled() || lineFailed()) {
                break;
            }
        }
        if (flags.m_bStopRequest.load() != 0) {
            result.stopped = true;
            link.ArmCapture();
            flags.m_bStopRequest.store(0);
        }
    }

    if (!cancelled() && !lineFailed()) {
        link.StartDownload();
    }
    {
        std::lock_guard lock(storeLock);
        store.m_fillLow = 0;
        store.m_fillHigh = 0;
    }
    std::array<std::uint8_t, kPacketSize> packet{};
    while (store.m_fillLow < SampleStore::kFillEnd) {
        if (cancelled()) {
            result.cancelled = true;
            break;
        }
        if (link.Port().IsHungUp()) {
            result.linkLost = true;
            break;
        }
        if (link.Port().IsWriteStalled()) {
            result.notTakingCommands = true;
            break;
        }
        ++result.packetsRequested;
        const int count = link.RequestPacket(packet.data());
        if (count == kPacketSize) {
            ++result.packetsAccepted;
            result.received.set(static_cast<std::size_t>(store.m_fillLow / SampleStore::kFillStep));
        }
        std::lock_guard lock(storeLock);
        store.StorePacket(packet.data(), count);
        store.m_fillLow += SampleStore::kFillStep;
        store.m_fillHigh += SampleStore::kFillStep;
    }
    result.linkLost = result.linkLost || link.Port().IsHungUp();
    result.notTakingCommands =
        !result.linkLost && (result.notTakingCommands || link.Port().IsWriteStalled());
    result.cancelled = result.cancelled || cancelled();

    if (!result.cancelled) {
        std::this_thread::sleep_for(kDrawPause);
        host.Redraw();
    }
    if (result.linkLost && !result.cancelled) {
        host.ReportLinkLost();
    } else if (result.notTakingCommands && !result.cancelled) {
        host.ReportNotTakingCommands();
    }
    link.ArmCapture();
    host.RunFinished();
    return result;
}

CaptureData CaptureFromRun(const SampleStore& store, int rate, const CaptureResult& result,
                           std::string_view trigPos) {
    CaptureData data = CaptureFromStore(store, rate);
    if (!result.received.all()) {
        data.received.resize(data.samples.size());
        for (std::size_t i = 0; i < data.received.size(); ++i) {
            data.received[i] = result.received.test(i / SampleStore::kFillStep) ? 1 : 0;
        }
        if (data.MissingCount() == 0) {
            data.received.clear(); // only packets beyond the kept samples failed
        }
    }
    if (const auto position = TrigPosValue(trigPos); result.triggered && position) {
        data.triggerSample = static_cast<std::int64_t>(*position) * kTriggerStepSamples;
    }
    return data;
}

} // namespace quillon
