#include "rtsp/rtcp_bye.h"

#include <cstring>

namespace norvane {

namespace {
constexpr uint8_t RTCP_BYE = 203;
constexpr size_t HEADER_SIZE = 4;
constexpr size_t SSRC_SIZE = 4;
}  // namespace

std::vector<uint32_t> RtcpByeSources(const uint8_t* data, size_t length) {
    std::vector<uint32_t> sources;
    for (size_t at = 0; data && at + HEADER_SIZE <= length;) {
        const size_t size = 4 * ((size_t{data[at + 2]} << 8 | data[at + 3]) + 1);
        if (size > length - at)
            break;
        const size_t count = data[at] & 0x1F;
        for (size_t i = 0;
             data[at + 1] == RTCP_BYE && i < count && HEADER_SIZE + (i + 1) * SSRC_SIZE <= size;
             ++i) {
            uint32_t ssrc;
            std::memcpy(&ssrc, data + at + HEADER_SIZE + i * SSRC_SIZE, SSRC_SIZE);
            sources.push_back(ssrc);
        }
        at += size;
    }
    return sources;
}

}  // namespace norvane
