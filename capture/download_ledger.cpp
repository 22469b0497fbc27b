// The download's bookkeeping: in step, on trust, out of step.
#include "capture/download_ledger.h"

namespace quillon {

void CDownloadLedger::Begin(int keptPackets) {
    m_state = State::InStep;
    m_status.fill(Status::NotReceived);
    m_nKeptPackets = keptPackets;
    m_nLost = -1;
    m_nAnchor = -1;
}

bool CDownloadLedger::IsTaken(int packet) const {
    return packet >= 0 && packet < kPackets &&
           m_status[static_cast<std::size_t>(packet)] != Status::NotReceived;
}

std::vector<PacketIncident> CDownloadLedger::Record(int packet, const PacketReply& reply) {
    std::vector<PacketIncident> incidents;
    if (packet < 0 || packet >= kPackets || m_state == State::OutOfStep) {
        return incidents;
    }
    auto& status = m_status[static_cast<std::size_t>(packet)];
    status = Status::NotReceived;
    if (m_state == State::OnTrust) {
        const bool healthy =
            reply.strayBefore == 0 && reply.shape == PacketReply::Shape::Whole && reply.timely;
        const bool lineDead = (reply.shape == PacketReply::Shape::Missing ||
                               reply.shape == PacketReply::Shape::Short) &&
                              !reply.mayStillCome;
        if (healthy) {
            status = Status::OnTrust;
        } else if (lineDead) {
            // Nothing can come any more to show the trust wrong: this packet is simply lost.
            incidents.push_back(
                {PacketIncident::Kind::Rejected, packet, reply.count, packet, packet});
        } else {
            // Only bytes beyond one packet, or a reply still missing, can hold the late end of
            // the packet before the lost reply.
            const bool exactlyOnePacket =
                reply.shape == PacketReply::Shape::Whole && reply.strayBefore == 0;
            incidents.push_back(GoOutOfStep(!exactlyOnePacket));
        }
        return incidents;
    }

    // In step. Bytes after the previous packet was taken may be its late end.
    if (reply.strayBefore > 0 && IsTaken(packet - 1)) {
        m_status[static_cast<std::size_t>(packet - 1)] = Status::NotReceived;
        incidents.push_back({PacketIncident::Kind::BytesAfter, packet - 1,
                             kPacketSize + reply.strayBefore, packet - 1, packet - 1});
    }
    switch (reply.shape) {
    case PacketReply::Shape::Whole:
        status = Status::Received;
        break;
    case PacketReply::Shape::Long: {
        int first = packet;
        if (reply.extraAhead && IsTaken(packet - 1)) {
            m_status[static_cast<std::size_t>(packet - 1)] = Status::NotReceived;
            first = packet - 1;
        }
        incidents.push_back({PacketIncident::Kind::Rejected, packet, reply.count, first, packet});
        break;
    }
    case PacketReply::Shape::Missing:
    case PacketReply::Shape::Short:
        incidents.push_back({PacketIncident::Kind::Rejected, packet, reply.count, packet, packet});
        if (reply.mayStillCome) {
            m_state = State::OnTrust;
            m_nLost = packet;
            m_nAnchor = IsTaken(packet - 1) ? packet - 1 : -1;
        }
        break;
    }
    return incidents;
}

PacketIncident CDownloadLedger::GoOutOfStep(bool bAnchorDoubtful) {
    m_state = State::OutOfStep;
    const int first = bAnchorDoubtful && m_nAnchor >= 0 ? m_nAnchor : m_nLost;
    for (int p = first; p < kPackets; ++p) {
        m_status[static_cast<std::size_t>(p)] = Status::NotReceived;
    }
    return {PacketIncident::Kind::OutOfStep, m_nLost, 0, first, kPackets - 1};
}

bool CDownloadLedger::NeedsFinalSettle() const {
    if (m_state != State::OnTrust) {
        return false;
    }
    // Packets beyond the kept ones are stored nowhere: their trust does not matter.
    return (m_nAnchor >= 0 && m_nAnchor < m_nKeptPackets) || m_nLost + 1 < m_nKeptPackets;
}

std::vector<PacketIncident> CDownloadLedger::Finish(int bytesAfter) {
    std::vector<PacketIncident> incidents;
    if (m_state != State::OnTrust) {
        return incidents;
    }
    if (bytesAfter > 0) {
        incidents.push_back(GoOutOfStep(true));
        return incidents;
    }
    for (auto& status : m_status) {
        if (status == Status::OnTrust) {
            status = Status::Received;
        }
    }
    m_state = State::InStep;
    return incidents;
}

std::bitset<CDownloadLedger::kPackets> CDownloadLedger::Received() const {
    std::bitset<kPackets> received;
    for (int p = 0; p < kPackets; ++p) {
        received.set(static_cast<std::size_t>(p),
                     m_status[static_cast<std::size_t>(p)] == Status::Received);
    }
    return received;
}

} // namespace quillon
