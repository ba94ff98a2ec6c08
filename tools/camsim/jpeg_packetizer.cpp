#include "camsim/jpeg_packetizer.h"

#include <algorithm>

namespace camsim {

namespace {

constexpr size_t kMainHeader = 8;
constexpr size_t kTableHeader = 4 + 128;

}  // namespace

JpegPacketizer::JpegPacketizer(uint32_t ssrc, uint16_t firstSequence, size_t maxPayload)
    : stream_(kPayloadType, ssrc, firstSequence),
      maxPayload_(std::max(maxPayload, kMainHeader + kTableHeader + 1)) {}

std::vector<Packet> JpegPacketizer::Packetize(const JpegPicture& picture, uint8_t q,
                                              uint32_t timestamp) {
    std::vector<Packet> out;
    const std::vector<uint8_t>& data = picture.scan;
    size_t offset = 0;
    do {
        uint8_t head[kMainHeader + kTableHeader] = {
            0,
            static_cast<uint8_t>(offset >> 16),
            static_cast<uint8_t>(offset >> 8),
            static_cast<uint8_t>(offset),
            picture.type,
            q,
            static_cast<uint8_t>(picture.width / 8),
            static_cast<uint8_t>(picture.height / 8)};
        size_t headSize = kMainHeader;
        if (q >= 128 && offset == 0) {
            // MBZ, precision 0 (8-bit tables), length 128, then the two tables.
            head[8] = 0, head[9] = 0, head[10] = 0, head[11] = 128;
            std::copy(picture.luma.begin(), picture.luma.end(), head + 12);
            std::copy(picture.chroma.begin(), picture.chroma.end(), head + 76);
            headSize += kTableHeader;
        }
        const size_t n = std::min(maxPayload_ - headSize, data.size() - offset);
        const bool last = offset + n == data.size();
        stream_.Add(out, last, timestamp, head, headSize, data.data() + offset, n);
        offset += n;
    } while (offset < data.size());
    return out;
}

}  // namespace camsim
