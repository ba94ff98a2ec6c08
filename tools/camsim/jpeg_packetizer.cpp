#include "camsim/jpeg_packetizer.h"

#include <algorithm>

namespace camsim {

namespace {

constexpr size_t kMainHeader = 8;
constexpr size_t kRestartHeader = 4;
constexpr size_t kTableHeader = 4 + 128;
constexpr size_t kMaxHead = kMainHeader + kRestartHeader + kTableHeader;

// MBZ, precision 0 (8-bit tables), the length, then the tables; returns the bytes written.
size_t WriteTables(uint8_t* out, const JpegPicture& picture, const JpegSendOptions& options) {
    const size_t length = !options.sendTables ? 0 : options.oneTable ? 64 : 128;
    out[0] = 0, out[1] = 0, out[2] = 0, out[3] = static_cast<uint8_t>(length);
    if (length)
        std::copy(picture.luma.begin(), picture.luma.end(), out + 4);
    if (length == 128)
        std::copy(picture.chroma.begin(), picture.chroma.end(), out + 68);
    return 4 + length;
}

}  // namespace

JpegPacketizer::JpegPacketizer(uint32_t ssrc, uint16_t firstSequence, size_t maxPayload)
    : stream_(kPayloadType, ssrc, firstSequence), maxPayload_(std::max(maxPayload, kMaxHead + 1)) {}

std::vector<Packet> JpegPacketizer::Packetize(const JpegPicture& picture, uint8_t q,
                                              uint32_t timestamp, const JpegSendOptions& options) {
    std::vector<Packet> out;
    const std::vector<uint8_t>& scan = picture.scan;
    const size_t size = options.endMarker ? scan.size() : scan.size() - 2;
    const uint16_t interval = picture.restartInterval;
    size_t offset = 0;
    do {
        uint8_t head[kMaxHead] = {0,
                                  static_cast<uint8_t>(offset >> 16),
                                  static_cast<uint8_t>(offset >> 8),
                                  static_cast<uint8_t>(offset),
                                  static_cast<uint8_t>(picture.type + (interval ? 64 : 0)),
                                  q,
                                  static_cast<uint8_t>(picture.width / 8),
                                  static_cast<uint8_t>(picture.height / 8)};
        size_t headSize = kMainHeader;
        if (interval) {
            // Fragments are not cut at restart intervals: F and L set, count 0x3FFF.
            const uint8_t restart[] = {static_cast<uint8_t>(interval >> 8),
                                       static_cast<uint8_t>(interval), 0xFF, 0xFF};
            headSize = std::copy(std::begin(restart), std::end(restart), head + headSize) - head;
        }
        if (q >= 128 && offset == 0)
            headSize += WriteTables(head + headSize, picture, options);
        const size_t n = std::min(maxPayload_ - headSize, size - offset);
        stream_.Add(out, offset + n == size, timestamp, head, headSize, scan.data() + offset, n);
        offset += n;
    } while (offset < size);
    return out;
}

}  // namespace camsim
