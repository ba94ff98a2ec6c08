// RTP packetiser for JPEG pictures (RFC 2435, types 0 and 1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "camsim/jpeg_picture.h"
#include "camsim/rtp_stream.h"

namespace camsim {

class JpegPacketizer {
public:
    static constexpr uint8_t kPayloadType = 26;

    // `maxPayload` bounds every packet's payload (headers included).
    JpegPacketizer(uint32_t ssrc, uint16_t firstSequence, size_t maxPayload = 1400);

    // Q 1-99 leaves the tables to the receiver's scaling of the standard ones; Q 128-255 sends
    // the picture's own tables in the first packet. The last packet carries the marker bit.
    std::vector<Packet> Packetize(const JpegPicture& picture, uint8_t q, uint32_t timestamp);

    RtpStream& Stream() { return stream_; }

private:
    RtpStream stream_;
    size_t maxPayload_;
};

}  // namespace camsim
