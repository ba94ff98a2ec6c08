// Feeds arbitrary datagrams to the RTP header parse; an accepted packet must describe bytes that
// lie inside the datagram.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "rtsp/rtp_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    norvane::CRTPPacket packet;
    if (!packet.Parse(data, size))
        return 0;
    const size_t used = norvane::CRTPPacket::FIXED_HEADER_SIZE + packet.GetCsrcList().size() * 4 +
                        (packet.GetExtensionData().empty() && packet.GetExtensionLength() == 0 &&
                                 packet.GetExtensionProfile() == 0
                             ? 0
                             : 4 + packet.GetExtensionData().size()) +
                        packet.GetPayloadLength();
    if (used > size)
        std::abort();
    return 0;
}
