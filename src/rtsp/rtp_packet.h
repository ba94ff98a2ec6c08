// One parsed RTP packet (RFC 3550 fixed header, CSRC list, header extension, payload).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace norvane {

class CRTPPacket {
public:
    static constexpr size_t FIXED_HEADER_SIZE = 12;

    CRTPPacket() = default;
    virtual ~CRTPPacket() = default;

    // Parses one datagram; false (packet left empty) when it is malformed. Never reads past
    // `data + length`. Reuses the storage of an earlier parse.
    bool Parse(const uint8_t* data, size_t length);

    uint8_t GetCsrcCount() const { return csrcCount; }
    const std::vector<uint32_t>& GetCsrcList() const { return csrcList; }  // as received
    uint32_t GetSsrc() const { return ssrc; }                              // network order
    uint8_t GetMarker() const { return marker; }
    uint8_t GetPadding() const { return padding; }
    uint8_t GetPayloadType() const { return payloadType; }
    uint16_t GetSequenceNumber() const { return sequenceNumber; }
    uint32_t GetTimestamp() const { return timestamp; }
    uint16_t GetExtensionProfile() const { return extensionProfile; }
    uint16_t GetExtensionLength() const { return extensionLength; }  // in 32-bit words
    const std::vector<uint8_t>& GetExtensionData() const { return extensionData; }
    uint32_t GetPayloadLength() const { return static_cast<uint32_t>(payload.size()); }
    // Null when the payload is empty.
    const uint8_t* GetPayload() const { return payload.empty() ? nullptr : payload.data(); }
    // Steady microseconds (platform::SteadyUs) when the datagram was read; 0 when not stamped.
    uint64_t GetArrivalUs() const { return arrivalUs; }
    void SetArrivalUs(uint64_t us) { arrivalUs = us; }

private:
    void Clear();

    uint8_t csrcCount = 0;
    std::vector<uint32_t> csrcList;
    uint32_t ssrc = 0;
    uint8_t marker = 0;
    uint8_t padding = 0;
    uint8_t payloadType = 0;
    uint16_t sequenceNumber = 0;
    uint32_t timestamp = 0;
    uint16_t extensionProfile = 0;
    uint16_t extensionLength = 0;
    std::vector<uint8_t> extensionData;
    std::vector<uint8_t> payload;
    uint64_t arrivalUs = 0;
};

}  // namespace norvane
