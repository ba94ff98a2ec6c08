// Baseline JFIF/JPEG pictures reduced to what RTP/JPEG (RFC 2435) carries.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace camsim {

struct JpegPicture {
    uint8_t type = 0;  // RTP/JPEG type: 0 for 4:2:2 (luma 2x1), 1 for 4:2:0 (luma 2x2)
    uint16_t width = 0;
    uint16_t height = 0;
    uint16_t restartInterval = 0;      // MCUs between restart markers, 0 without them
    std::array<uint8_t, 64> luma{};    // quantisation tables in zig-zag order, as DQT holds them
    std::array<uint8_t, 64> chroma{};
    std::vector<uint8_t> scan;  // entropy-coded data through the EOI marker
};

// Accepts an 8-bit baseline picture with three components, luma 2x1 or 2x2 and chroma 1x1,
// chroma sharing one 8-bit quantisation table, size a multiple of 8 up to 2040. The Huffman tables
// are not checked: the receiver assumes the standard ones.
bool ParseJpeg(const std::vector<uint8_t>& file, JpegPicture& out);

}  // namespace camsim
