#include "rtsp/rtp_packet.h"

#include <cstring>

namespace norvane {

namespace {

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

uint32_t ReadU32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

// RFC 3550 5.1, the fixed header:
//  0                   1                   2                   3
//  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |V=2|P|X|  CC   |M|     PT      |       sequence number         |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |                           timestamp                           |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |           synchronization source (SSRC) identifier            |
// +=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+
// |            contributing source (CSRC) identifiers             |
// |                             ....                              |
// then, with X, a header extension (5.3.1: 16-bit profile, 16-bit length in 32-bit words, the
// words), the payload, and with P, padding whose last octet counts the padding octets.
constexpr uint8_t kVersionMask = 0xC0;
constexpr uint8_t kVersion2 = 0x80;
constexpr uint8_t kPaddingBit = 0x20;
constexpr uint8_t kExtensionBit = 0x10;
constexpr uint8_t kCsrcCountMask = 0x0F;
constexpr uint8_t kMarkerBit = 0x80;
constexpr uint8_t kPayloadTypeMask = 0x7F;
constexpr size_t kSequenceAt = 2;
constexpr size_t kTimestampAt = 4;
constexpr size_t kSsrcAt = 8;
constexpr size_t kCsrcSize = 4;
constexpr size_t kExtensionHeader = 4;
constexpr size_t kExtensionWord = 4;

}  // namespace

void CRTPPacket::Clear() {
    // The vectors keep their storage, so a packet parsed again allocates nothing.
    csrcCount = marker = padding = payloadType = 0;
    ssrc = timestamp = 0;
    sequenceNumber = extensionProfile = extensionLength = 0;
    arrivalUs = 0;
    csrcList.clear();
    extensionData.clear();
    payload.clear();
}

bool CRTPPacket::Parse(const uint8_t* data, size_t length) {
    Clear();
    if (!data || length <= FIXED_HEADER_SIZE || (data[0] & kVersionMask) != kVersion2)
        return false;
    size_t header = FIXED_HEADER_SIZE;
    const uint8_t count = data[0] & kCsrcCountMask;
    if (count != 0) {
        const size_t listSize = count * kCsrcSize;
        if (listSize >= length - header)
            return false;
        csrcList.resize(count);
        std::memcpy(csrcList.data(), data + header, listSize);
        header += listSize;
    }
    if ((data[0] & kExtensionBit) != 0 && header < length) {
        if (length - header < kExtensionHeader)
            return false;
        const uint16_t words = ReadU16(data + header + 2);
        const size_t size = kExtensionHeader + words * kExtensionWord;
        if (size > length - header)
            return false;
        extensionProfile = ReadU16(data + header);
        extensionLength = words;
        extensionData.assign(data + header + kExtensionHeader, data + header + size);
        header += size;
    }
    const uint8_t paddingFlag = (data[0] & kPaddingBit) != 0 ? 1 : 0;
    const size_t paddingCount = paddingFlag ? data[length - 1] : 0;
    if (header + paddingCount > length)
        return false;
    payload.assign(data + header, data + (length - paddingCount));
    csrcCount = count;
    marker = (data[1] & kMarkerBit) != 0 ? 1 : 0;
    payloadType = data[1] & kPayloadTypeMask;
    sequenceNumber = ReadU16(data + kSequenceAt);
    timestamp = ReadU32(data + kTimestampAt);
    std::memcpy(&ssrc, data + kSsrcAt, sizeof(ssrc));
    padding = paddingFlag;
    return true;
}

}  // namespace norvane
