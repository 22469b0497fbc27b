// The worker's side of a capture run.
#include "capture/capture_run.h"

#include "capture/settings_word.h"

#include <algorithm>
#include <array>
#include <thread>

namespace quillon {

namespace {

/// Puts back the samples packet k would have written, as they were in before.
void RestorePacketPlaces(SampleStore& store, const SampleStore& before, int k) {
    const auto first = static_cast<std::size_t>(k * SampleStore::kFillStep);
    const auto end = std::min<std::size_t>(first + SampleStore::kFillStep, SampleStore::kCapacity);
    for (std::size_t i = first; i < end; ++i) {
        store.m_sampleLow[i] = before.m_sampleLow[i];
        store.m_sampleHigh[i] = before.m_sampleHigh[i];
    }
}

} // namespace

CaptureResult RunCapture(CAnalyzerLink& link, SampleStore& store, std::mutex& storeLock,
                         CaptureFlags& flags, ICaptureHost& host) {
    CaptureResult result;
    const auto cancelled = [&flags] { return flags.m_bCancel.load(); };
    // A dead line or one that takes no commands is not asked again and again.
    const auto lineFailed = [&link] {
        return link.Port().IsHungUp() || link.Port().IsWriteStalled();
    };

    const bool triggerMode = flags.m_bTriggerMode.load() != 0; // read once per run
    if (triggerMode) {
        for (;;) {
            ++result.triggerPolls;
            host.TriggerPolled(result.triggerPolls);
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
        // The last poll's reply may still be on its way: it must not land among the packets.
        if (triggerMode && !link.IsLastPollAnswered()) {
            link.SettleLine(link.LateReplyWait());
        }
        link.StartDownload();
    }
    SampleStore before; // what the places of packets not received go back to
    {
        std::lock_guard lock(storeLock);
        before = store;
        store.m_fillLow = 0;
        store.m_fillHigh = 0;
    }
    CDownloadLedger ledger;
    ledger.Begin(kKeptPackets);
    bool anyWhole = false;
    const auto report = [&](const std::vector<PacketIncident>& incidents) {
        for (const auto& incident : incidents) {
            // A dead or stalled line is told once by the run, not once per packet; so is an
            // analyzer that has sent nothing whole yet.
            const bool silentAgain = !anyWhole && result.packetIncidents > 0;
            if (!cancelled() && !lineFailed() && !silentAgain) {
                ++result.packetIncidents;
                host.ReportPacketIncident(incident);
            }
        }
    };
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
        const int index = store.m_fillLow / SampleStore::kFillStep;
        host.PacketRequested(index);
        const PacketReply reply = link.RequestPacket(packet.data(), ledger.WaitsForLateReplies());
        const auto incidents = ledger.Record(index, reply);
        anyWhole = anyWhole || reply.shape == PacketReply::Shape::Whole;
        if (reply.shape == PacketReply::Shape::Whole && !reply.prompt && !ledger.IsOutOfStep()) {
            ++result.lateReplies;
        }
        {
            std::lock_guard lock(storeLock);
            if (reply.shape == PacketReply::Shape::Whole) {
                store.StorePacket(packet.data(), kPacketSize);
            }
            store.m_fillLow += SampleStore::kFillStep;
            store.m_fillHigh += SampleStore::kFillStep;
        }
        report(incidents);
    }
    // Held on trust, or out of step: the line is let go quiet. Anything that still comes shows
    // a reply came later than waited, and must not reach the next capture either.
    int bytesAfter = 0;
    if ((ledger.NeedsFinalSettle() || ledger.IsOutOfStep()) && !cancelled()) {
        bytesAfter = link.SettleLine(link.LateReplyWait());
    }
    report(ledger.Finish(bytesAfter));
    result.received = ledger.Received();
    result.packetsAccepted = static_cast<int>(result.received.count());
    result.outOfStep = ledger.IsOutOfStep();
    {
        std::lock_guard lock(storeLock);
        for (int k = 0; k < kKeptPackets; ++k) {
            if (!result.received.test(static_cast<std::size_t>(k))) {
                RestorePacketPlaces(store, before, k);
            }
        }
    }
    result.linkLost = result.linkLost || link.Port().IsHungUp();
    result.notTakingCommands =
        !result.linkLost && (result.notTakingCommands || link.Port().IsWriteStalled());
    result.cancelled = result.cancelled || cancelled();

    if (!result.cancelled) {
        std::this_thread::sleep_for(kDrawPause);
        if (result.packetsAccepted > 0) { // no picture of samples that never came
            host.Redraw();
        }
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

bool KeptSamplesReceived(const CaptureResult& result) {
    for (int k = 0; k < kKeptPackets; ++k) {
        if (!result.received.test(static_cast<std::size_t>(k))) {
            return false;
        }
    }
    return true;
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
