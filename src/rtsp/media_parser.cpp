#include "rtsp/media_parser.h"

#include <cstring>

namespace norvane {

unsigned FrameSizeClass(uint32_t width, uint32_t height) {
    if (width < 200)
        return 1;
    if (width < 400)
        return 2;
    if (width < 1024 && uint64_t{height} * 2 < width)
        return 3;
    return 4;
}

CRTPMediaParser::CRTPMediaParser(IDriver* driver_, std::string sourceName_)
    : driver(driver_), sourceName(std::move(sourceName_)) {}

void CRTPMediaParser::SetParameterSets(const std::vector<uint8_t>& sps,
                                       const std::vector<uint8_t>& pps,
                                       const std::vector<uint8_t>& config) {
    sequenceParameterSet = sps;
    pictureParameterSet = pps;
    codecConfiguration = config;
}

bool CRTPMediaParser::CheckBufferSize() {
    if (buffer.size() <= FRAME_BUFFER_LIMIT)
        return true;
    const DEVICE_INFO* info = driver->GetDeviceInfo();
    driver->Log(1, "%s: Frame buffer overflow detected, device %s:%u",
                "norvane::CRTPMediaParser::CheckBufferSize", info ? info->address.c_str() : "",
                info ? unsigned{info->port} : 0u);
    return false;
}

bool CRTPMediaParser::ContinuesSequence(uint16_t sequence) {
    const bool continues = firstPacket || sequence == static_cast<uint16_t>(lastSequence + 1);
    firstPacket = false;
    lastSequence = sequence;
    return continues;
}

unsigned CRTPMediaParser::FrameCapacity(size_t size) {
    for (unsigned step : {4096u, 16384u, 32768u, 131072u}) {
        if (size <= step)
            return step;
    }
    return static_cast<unsigned>(size);
}

bool CRTPMediaParser::CopyPicture(IMediaFrame* frame, const uint8_t* data, size_t size) {
    uint8_t* target = frame->GetData();
    if (!target)
        return false;
    std::memcpy(target, data, size);
    return true;
}

}  // namespace norvane
