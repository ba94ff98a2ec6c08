// RTP packetiser for JPEG pictures (RFC 2435, types 0 and 1, and 64 and 65 with restart markers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "camsim/jpeg_picture.h"
#include "camsim/rtp_stream.h"

namespace camsim {

// How the in-band tables and the end of the scan are sent.
struct JpegSendOptions {
    bool sendTables = true;  // false: Q 128-254 with table Length 0 (the receiver holds them)
    bool oneTable = false;   // one 64-byte table (the luminance one) for both components
    bool endMarker = true;   // false: the scan goes without its EOI, the marker bit ends it
};

class JpegPacketizer {
public:
    static constexpr uint8_t kPayloadType = 26;

    // `maxPayload` bounds every packet's payload (headers included).
    JpegPacketizer(uint32_t ssrc, uint16_t firstSequence, size_t maxPayload = 1400);

    // Q 1-99 leaves the tables to the receiver's scaling of the standard ones; Q 128-255 sends
    // the picture's own tables in the first packet. A picture with a restart interval goes as
    // type 64 or 65 with a restart header in every packet. The last packet carries the marker.
    std::vector<Packet> Packetize(const JpegPicture& picture, uint8_t q, uint32_t timestamp,
                                  const JpegSendOptions& options = {});

    RtpStream& Stream() { return stream_; }

private:
    RtpStream stream_;
    size_t maxPayload_;
};

}  // namespace camsim
