// Sender side of one RTP stream: fixed header with sequence, timestamp and SSRC state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace camsim {

// One RTP datagram, header included.
using Packet = std::vector<uint8_t>;

class RtpStream {
public:
    RtpStream(uint8_t payloadType, uint32_t ssrc, uint16_t firstSequence);

    // Appends one packet with the next sequence number; the payload is `head` then `body`.
    void Add(std::vector<Packet>& out, bool marker, uint32_t timestamp, const uint8_t* head,
             size_t headSize, const uint8_t* body, size_t bodySize);

    uint16_t NextSequence() const { return sequence_; }
    uint32_t Ssrc() const { return ssrc_; }
    uint8_t PayloadType() const { return payloadType_; }

private:
    uint8_t payloadType_;
    uint32_t ssrc_;
    uint16_t sequence_;
};

// RTP timestamp (90 kHz) of frame `index` at `fps` frames per second from `base`.
uint32_t VideoTimestamp(uint32_t base, uint64_t index, unsigned fps);

}  // namespace camsim
