#include "camsim/rtp_stream.h"

#include <algorithm>

namespace camsim {

namespace {

constexpr size_t kHeaderSize = 12;

void PutU32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

}  // namespace

RtpStream::RtpStream(uint8_t payloadType, uint32_t ssrc, uint16_t firstSequence)
    : payloadType_(payloadType & 0x7F), ssrc_(ssrc), sequence_(firstSequence) {}

void RtpStream::Add(std::vector<Packet>& out, bool marker, uint32_t timestamp, const uint8_t* head,
                    size_t headSize, const uint8_t* body, size_t bodySize) {
    Packet& packet = out.emplace_back(kHeaderSize + headSize + bodySize);
    uint8_t* p = packet.data();
    p[0] = 0x80;  // version 2, no padding, extension or CSRC
    p[1] = static_cast<uint8_t>((marker ? 0x80 : 0) | payloadType_);
    p[2] = static_cast<uint8_t>(sequence_ >> 8);
    p[3] = static_cast<uint8_t>(sequence_);
    PutU32(p + 4, timestamp);
    PutU32(p + 8, ssrc_);
    if (headSize)
        std::copy(head, head + headSize, p + kHeaderSize);
    if (bodySize)
        std::copy(body, body + bodySize, p + kHeaderSize + headSize);
    ++sequence_;
}

uint32_t VideoTimestamp(uint32_t base, uint64_t index, unsigned fps) {
    return base + static_cast<uint32_t>(index * 90000 / (fps ? fps : 1));
}

}  // namespace camsim
