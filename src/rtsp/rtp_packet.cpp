#include "rtsp/rtp_packet.h"

#include <cstring>

#include "foundation/time.h"

namespace norvane {

namespace {

constexpr uint64_t ONE_MS = 10000;  // file-time units

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

uint32_t ReadU32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

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
    if (!data || length <= FIXED_HEADER_SIZE || (data[0] & 0xC0) != 0x80)
        return false;
    size_t header = FIXED_HEADER_SIZE;
    const uint8_t count = data[0] & 0x0F;
    if (count != 0) {
        const size_t listSize = count * 4u;
        if (listSize >= length - header)
            return false;
        csrcList.resize(count);
        std::memcpy(csrcList.data(), data + header, listSize);
        header += listSize;
    }
    if ((data[0] & 0x10) != 0 && header < length) {
        if (length - header < 4)
            return false;
        const uint16_t words = ReadU16(data + header + 2);
        const size_t size = 4u + words * 4u;
        if (size > length - header)
            return false;
        extensionProfile = ReadU16(data + header);
        extensionLength = words;
        extensionData.assign(data + header + 4, data + header + size);
        header += size;
    }
    const uint8_t paddingFlag = (data[0] & 0x20) != 0 ? 1 : 0;
    const size_t paddingCount = paddingFlag ? data[length - 1] : 0;
    if (header + paddingCount > length)
        return false;
    payload.assign(data + header, data + (length - paddingCount));
    csrcCount = count;
    marker = (data[1] & 0x80) != 0 ? 1 : 0;
    payloadType = data[1] & 0x7F;
    sequenceNumber = ReadU16(data + 2);
    timestamp = ReadU32(data + 4);
    std::memcpy(&ssrc, data + 8, sizeof(ssrc));
    padding = paddingFlag;
    return true;
}

void CTimeStampConverter::Update(uint32_t rtpTimestamp) {
    UpdateAt(rtpTimestamp, GetCurrentFileTime());
}

void CTimeStampConverter::UpdateAt(uint32_t rtpTimestamp, uint64_t now) {
    if (now == 0 || rtpTimestamp == 0)
        return;
    if (lastFrameTime == 0 || lastTimestamp == 0) {
        lastFrameTime = now;
        lastTimestamp = rtpTimestamp;
        return;
    }
    const int64_t step =
        (static_cast<int64_t>(rtpTimestamp) - static_cast<int64_t>(lastTimestamp)) * 100;
    uint64_t frameTime;
    if (step > 10000 && now > lastFrameTime + ONE_MS) {
        if (advanceCount > 0) {
            frameTime = now - ONE_MS;
            --advanceCount;
        } else {
            frameTime = now;
        }
    } else {
        frameTime = lastFrameTime + ONE_MS;
        ++advanceCount;
    }
    lastFrameTime = frameTime;
    lastTimestamp = rtpTimestamp;
}

SYSTEMTIME CTimeStampConverter::GetTime() const {
    SYSTEMTIME time{};
    if (lastFrameTime != 0 && lastTimestamp != 0 && FileTimeToSystemTime(lastFrameTime, &time))
        return time;
    FileTimeToSystemTime(GetCurrentFileTime(), &time);
    return time;
}

}  // namespace norvane
