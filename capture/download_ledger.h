// CDownloadLedger: which packets of one download can be vouched for.
//
// The analyzer's replies carry no sequence number: a reply that comes after the next request
// has gone out looks exactly like the answer to that request. The link (PacketReply) says how
// each reply came; the ledger decides from that alone, by this rule:
//
// - In step (every earlier reply accounted for): a whole reply is this request's packet, also
//   when it came late, since the link waits for it before it sends anything else and the line
//   keeps the order of the bytes.
// - More than a packet: the packet is rejected. Extra bytes that came with or ahead of it may
//   be the late end of the previous packet (a noise byte in front made that one look whole):
//   the previous packet is taken back too. So are bytes found after a packet was taken and
//   before the next request went out: they take that packet back.
// - A reply that has not come whole when the link gives up waiting may still come, later than
//   any wait. The download goes on "on trust": the packets after it are held back until the
//   end. They count only if each came whole within half the late-reply wait, and nothing more
//   came after the last one while the line was let go quiet. Had the lost reply come after
//   the next request went out, it would stand in that request's time, and the reply after it
//   would come nearly a whole wait after its own request. Anything else (a reply that late,
//   a short, long or missing reply, a stray byte) shows a reply came later than the link
//   waited: which reply is which can no longer be told, and every packet from the lost
//   reply on is not received ("out of step"). So is the packet before the lost reply, unless
//   what came late was exactly one packet: had that packet's own end been late, it would
//   have come ahead of the late reply, one byte more.
//
// Pure bookkeeping, no I/O and no clock; one download at a time.
#pragma once

#include "device/analyzer_link.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <vector>

namespace quillon {

/// What the user is told about the packets of a download.
struct PacketIncident {
    enum class Kind {
        Rejected,   ///< a reply was not one packet: the analyzer's packet warning
        BytesAfter, ///< bytes came after a packet was taken: the same warning, for that packet
        OutOfStep,  ///< a reply came later than waited: the packets from here on are not received
    };
    Kind kind = Kind::Rejected;
    /// Rejected: the packet whose reply held `count` bytes (when firstVoided is the packet
    /// before, the extra bytes may be that one's late end). BytesAfter: the packet taken back.
    /// OutOfStep: the packet whose reply was given up and evidently came later.
    int packet = 0;
    /// The bytes counted for the packet, the N of "Packet is not 256. it's N" (0 OutOfStep).
    int count = 0;
    /// The packets [firstVoided, lastVoided] this incident marks not received.
    int firstVoided = 0;
    int lastVoided = 0;
    bool operator==(const PacketIncident&) const = default;
};

class CDownloadLedger {
public:
    static constexpr int kPackets = kPacketsPerDownload;

    /// A new download, in step, nothing received. keptPackets: how many packets from 0 hold
    /// samples that are kept (the rest are requested but stored nowhere).
    void Begin(int keptPackets = kPackets);
    /// Whether the link is to wait for a reply that has not come within the pause: not once
    /// out of step (nothing counts any more). On trust a late reply ends the trust, but what
    /// it holds tells whether the packet before the lost reply can stay.
    [[nodiscard]] bool WaitsForLateReplies() const { return m_state != State::OutOfStep; }
    /// The reply to request `packet` (0, 1, ... in the order they were sent). Returns what
    /// the user is to be told, oldest first.
    std::vector<PacketIncident> Record(int packet, const PacketReply& reply);
    /// Whether the end of the download needs the line let go quiet (LateReplyWait) before
    /// Finish: on trust, with kept packets that depend on it.
    [[nodiscard]] bool NeedsFinalSettle() const;
    /// The end of the download: bytesAfter came after the last reply while the line was let
    /// go quiet (0 when it was not). Settles what was held on trust.
    std::vector<PacketIncident> Finish(int bytesAfter);

    [[nodiscard]] bool IsOnTrust() const { return m_state == State::OnTrust; }
    [[nodiscard]] bool IsOutOfStep() const { return m_state == State::OutOfStep; }
    /// Bit k: packet k is received (held on trust counts only after Finish confirmed it).
    [[nodiscard]] std::bitset<kPackets> Received() const;

private:
    enum class State { InStep, OnTrust, OutOfStep };
    enum class Status : std::uint8_t { NotReceived, Received, OnTrust };
    [[nodiscard]] bool IsTaken(int packet) const;
    /// Marks everything from the lost reply on not received, and the packet before it too
    /// when bAnchorDoubtful.
    PacketIncident GoOutOfStep(bool bAnchorDoubtful);

    State m_state = State::InStep;
    std::array<Status, kPackets> m_status{};
    int m_nKeptPackets = kPackets;
    int m_nLost = -1;   ///< the first reply given up while it could still come
    int m_nAnchor = -1; ///< the packet taken just before it (its end may have held it up)
};

} // namespace quillon
