// The download's bookkeeping against scripted replies: which packets it vouches for, and what
// it tells, for late, missing, long and stray replies.
#include "capture/download_ledger.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>

namespace {

using namespace quillon;
using Shape = PacketReply::Shape;
using Kind = PacketIncident::Kind;

PacketReply Whole(bool prompt = true, bool timely = true) {
    PacketReply r;
    r.shape = Shape::Whole;
    r.count = kPacketSize;
    r.prompt = prompt;
    r.timely = timely;
    return r;
}
/// Whole only after the pause, but well within the late-reply wait.
PacketReply Slow() {
    return Whole(false, true);
}
/// Whole only near the end of the late-reply wait.
PacketReply Late() {
    return Whole(false, false);
}
PacketReply Missing(bool mayStillCome = true) {
    PacketReply r;
    r.shape = Shape::Missing;
    r.mayStillCome = mayStillCome;
    return r;
}
PacketReply Short(int count) {
    PacketReply r = Missing();
    r.shape = Shape::Short;
    r.count = count;
    return r;
}
PacketReply Long(int count, bool extraAhead) {
    PacketReply r;
    r.shape = Shape::Long;
    r.count = count;
    r.extraAhead = extraAhead;
    return r;
}
PacketReply StrayThenWhole(int stray) {
    PacketReply r = Whole();
    r.strayBefore = stray;
    return r;
}

struct LedgerCase {
    const char* name;
    std::map<int, PacketReply> replies; ///< every other request gets a prompt whole packet
    bool needsSettle;                   ///< before Finish
    int bytesAfter;                     ///< came while the line was let go quiet at the end
    std::vector<int> notReceived;
    std::vector<PacketIncident> incidents;
};

std::ostream& operator<<(std::ostream& os, const LedgerCase& c) {
    return os << c.name;
}

std::vector<int> Range(int first, int last) {
    std::vector<int> packets;
    for (int p = first; p <= last; ++p) {
        packets.push_back(p);
    }
    return packets;
}

class LedgerTest : public ::testing::TestWithParam<LedgerCase> {};

TEST_P(LedgerTest, VouchesOnlyForWhatCannotBeShifted) {
    const LedgerCase& c = GetParam();
    CDownloadLedger ledger;
    ledger.Begin(32);
    std::vector<PacketIncident> incidents;
    for (int k = 0; k < kPacketsPerDownload; ++k) {
        const auto it = c.replies.find(k);
        const PacketReply reply = it != c.replies.end() ? it->second : Whole();
        for (const auto& incident : ledger.Record(k, reply)) {
            incidents.push_back(incident);
        }
    }
    EXPECT_EQ(ledger.NeedsFinalSettle(), c.needsSettle);
    for (const auto& incident : ledger.Finish(c.bytesAfter)) {
        incidents.push_back(incident);
    }
    std::vector<int> notReceived;
    const auto received = ledger.Received();
    for (int k = 0; k < kPacketsPerDownload; ++k) {
        if (!received.test(static_cast<std::size_t>(k))) {
            notReceived.push_back(k);
        }
    }
    EXPECT_EQ(notReceived, c.notReceived);
    ASSERT_EQ(incidents.size(), c.incidents.size());
    for (std::size_t i = 0; i < incidents.size(); ++i) {
        const auto& got = incidents[i];
        const auto& want = c.incidents[i];
        EXPECT_EQ(got.kind, want.kind) << i;
        EXPECT_EQ(got.packet, want.packet) << i;
        EXPECT_EQ(got.count, want.count) << i;
        EXPECT_EQ(got.firstVoided, want.firstVoided) << i;
        EXPECT_EQ(got.lastVoided, want.lastVoided) << i;
    }
}

std::map<int, PacketReply> LateFrom(int first) {
    std::map<int, PacketReply> replies;
    for (int k = first; k < kPacketsPerDownload; ++k) {
        replies[k] = Late();
    }
    return replies;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, LedgerTest,
    ::testing::Values(
        LedgerCase{"healthy", {}, false, 0, {}, {}},
        // Waited for while in step: a late whole reply is its request's packet.
        LedgerCase{"late_from_5_within_the_wait", LateFrom(5), false, 0, {}, {}},
        // Nothing ever came: one packet lost, the rest kept once nothing came at the end.
        LedgerCase{
            "dropped_packet", {{5, Missing()}}, true, 0, {5}, {{Kind::Rejected, 5, 0, 5, 5}}},
        // Slow on trust (a busy machine) but far from the wait: still kept.
        LedgerCase{"dropped_packet_then_slow_replies",
                   {{5, Missing()}, {6, Slow()}, {20, Slow()}},
                   true,
                   0,
                   {5},
                   {{Kind::Rejected, 5, 0, 5, 5}}},
        // ... but what came at the end shows the "dropped" reply was only late.
        LedgerCase{"dropped_packet_then_bytes_at_the_end",
                   {{5, Missing()}},
                   true,
                   256,
                   Range(4, 63),
                   {{Kind::Rejected, 5, 0, 5, 5}, {Kind::OutOfStep, 5, 0, 4, 63}}},
        // Later than any wait: the next reply is late too. Exactly one packet came, so the
        // packet before the lost one was not held up by an end of its own.
        LedgerCase{"late_beyond_the_wait",
                   {{5, Missing()}, {6, Late()}, {7, Late()}},
                   false,
                   0,
                   Range(5, 63),
                   {{Kind::Rejected, 5, 0, 5, 5}, {Kind::OutOfStep, 5, 0, 5, 63}}},
        LedgerCase{"late_beyond_twice_the_wait",
                   {{5, Missing()}, {6, Missing()}},
                   false,
                   0,
                   Range(4, 63),
                   {{Kind::Rejected, 5, 0, 5, 5}, {Kind::OutOfStep, 5, 0, 4, 63}}},
        LedgerCase{"on_trust_a_long_reply",
                   {{5, Missing()}, {9, Long(512, true)}},
                   false,
                   0,
                   Range(4, 63),
                   {{Kind::Rejected, 5, 0, 5, 5}, {Kind::OutOfStep, 5, 0, 4, 63}}},
        LedgerCase{"on_trust_a_stray_byte",
                   {{5, Missing()}, {6, StrayThenWhole(256)}},
                   false,
                   0,
                   Range(4, 63),
                   {{Kind::Rejected, 5, 0, 5, 5}, {Kind::OutOfStep, 5, 0, 4, 63}}},
        LedgerCase{"cut_short_then_healthy",
                   {{5, Short(255)}},
                   true,
                   0,
                   {5},
                   {{Kind::Rejected, 5, 255, 5, 5}}},
        // The extra byte came with the packet: it may be the previous packet's late end.
        LedgerCase{"long_with_the_extra_ahead",
                   {{6, Long(257, true)}},
                   false,
                   0,
                   {5, 6},
                   {{Kind::Rejected, 6, 257, 5, 6}}},
        // It came after 256 bytes that had stood quiet: it trails this packet only.
        LedgerCase{"long_with_the_extra_trailing",
                   {{5, Long(257, false)}},
                   false,
                   0,
                   {5},
                   {{Kind::Rejected, 5, 257, 5, 5}}},
        LedgerCase{"bytes_after_a_taken_packet",
                   {{6, StrayThenWhole(1)}},
                   false,
                   0,
                   {5},
                   {{Kind::BytesAfter, 5, 257, 5, 5}}},
        LedgerCase{"extra_ahead_after_a_rejected_packet",
                   {{5, Long(257, false)}, {6, Long(257, true)}},
                   false,
                   0,
                   {5, 6},
                   {{Kind::Rejected, 5, 257, 5, 5}, {Kind::Rejected, 6, 257, 6, 6}}},
        // Beyond the kept samples trust costs no wait at the end.
        LedgerCase{"dropped_beyond_the_kept_packets",
                   {{40, Missing()}},
                   false,
                   0,
                   {40},
                   {{Kind::Rejected, 40, 0, 40, 40}}},
        LedgerCase{"dropped_right_after_the_kept_packets",
                   {{32, Missing()}},
                   true,
                   0,
                   {32},
                   {{Kind::Rejected, 32, 0, 32, 32}}}),
    [](const auto& info) { return std::string(info.param.name); });

// No analyzer (the port closed): every request is told, nothing is held on trust.
TEST(LedgerClosedPort, EveryPacketIsToldAndNoneHeldOnTrust) {
    CDownloadLedger ledger;
    ledger.Begin(32);
    int told = 0;
    for (int k = 0; k < kPacketsPerDownload; ++k) {
        EXPECT_TRUE(ledger.WaitsForLateReplies());
        told += static_cast<int>(ledger.Record(k, Missing(false)).size());
    }
    EXPECT_EQ(told, 64);
    EXPECT_FALSE(ledger.IsOnTrust());
    EXPECT_TRUE(ledger.Finish(0).empty());
    EXPECT_TRUE(ledger.Received().none());
}

// Out of step nothing more is told, and nothing waited for.
TEST(LedgerOutOfStep, TellsOnceAndWaitsNoMore) {
    CDownloadLedger ledger;
    ledger.Begin(32);
    EXPECT_EQ(ledger.Record(0, Missing()).size(), 1u);
    EXPECT_EQ(ledger.Record(1, Missing()).size(), 1u);
    EXPECT_TRUE(ledger.IsOutOfStep());
    EXPECT_FALSE(ledger.WaitsForLateReplies());
    for (int k = 2; k < kPacketsPerDownload; ++k) {
        EXPECT_TRUE(ledger.Record(k, k % 2 == 0 ? Whole() : Long(300, true)).empty());
    }
    EXPECT_TRUE(ledger.Finish(1000).empty());
    EXPECT_TRUE(ledger.Received().none());
    // A new download starts in step again.
    ledger.Begin(32);
    EXPECT_TRUE(ledger.Record(0, Whole()).empty());
    EXPECT_TRUE(ledger.Received().test(0));
}

} // namespace
