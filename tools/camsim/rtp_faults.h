// RTP-level faults of a simulated stream: loss, reordering, duplication and a freeze, each
// bounded by a budget and counted.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "camsim/rtp_stream.h"

namespace camsim {

struct RtpFaults {
    unsigned lossPercent = 0;          // share of packets left out (0-100)
    std::set<uint16_t> lossSequences;  // sequence numbers left out, each once
    unsigned reorderEvery = 0;         // every Nth packet goes out after the one behind it
    unsigned duplicateEvery = 0;       // every Nth packet goes out twice
    unsigned budget = 10000;           // packets each of the three faults may touch at most
    uint32_t seed = 1;                 // of the loss draw, so that runs repeat
    unsigned freezeAtFrame = 0;        // with freezeMs: the frame of a session that freezes...
    unsigned freezeMs = 0;             // ...for this long, once (0: no freeze)
    bool otherSource = false;          // RTP of sessions set up from now leaves from 127.0.0.2
    bool udpBlocked = false;           // RTP and RTCP over UDP are silently not sent
};

struct RtpFaultCounts {
    uint64_t lost = 0;
    uint64_t reordered = 0;
    uint64_t duplicated = 0;
    uint64_t freezes = 0;

    RtpFaultCounts& operator+=(const RtpFaultCounts& other);
};

// Applies RtpFaults to the packet flow of one session, frame by frame.
class RtpFaultFilter {
public:
    static constexpr unsigned MAX_FREEZE_MS = 60000;

    // New faults; counts and the held packet stay, the budgets start again.
    void Set(const RtpFaults& faults);
    // Turns one frame's packets into the datagrams to send now, in order. A packet held back
    // for reordering goes out after the next packet, which may belong to the next frame.
    void Apply(std::vector<Packet>& packets);
    // Milliseconds the session should stay silent from the frame with this index (0: none);
    // each freeze happens once.
    unsigned FreezeAt(uint64_t frameIndex);
    const RtpFaultCounts& Counts() const { return counts_; }
    bool BlocksUdp() const { return faults_.udpBlocked; }

private:
    bool Due(unsigned every, uint64_t spent) const;
    bool Lose(const Packet& packet);

    RtpFaults faults_;
    RtpFaultCounts counts_;
    RtpFaultCounts spent_;  // since the last Set
    uint64_t packetIndex_ = 0;
    uint32_t random_ = 1;
    bool frozen_ = false;
    std::vector<Packet> held_;  // at most one packet
};

}  // namespace camsim
