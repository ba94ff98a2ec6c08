// JPEG headers that RTP/JPEG (RFC 2435) leaves out, rebuilt from the ITU-T T.81 Annex K tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace norvane {

using QuantTable = std::array<uint8_t, 64>;

constexpr size_t JPEG_HEADER_SIZE = 605;

// T.81 zig-zag sequence: entry k is the natural (row-major) position of coefficient k.
extern const std::array<uint8_t, 64> JPEG_ZIGZAG;
// T.81 Tables K.1 (luminance) and K.2 (chrominance), natural order.
extern const QuantTable JPEG_LUMA_QUANT;
extern const QuantTable JPEG_CHROMA_QUANT;

// The tables of RTP/JPEG Q 1-127 (Q clamped to 1-99), in zig-zag order.
void MakeQuantTables(unsigned q, QuantTable& luma, QuantTable& chroma);

// SOI, two DQT, SOF0, the four standard DHT, a DRI when `restartInterval` is not 0, and SOS
// (605 bytes without DRI, 611 with it) appended to `out`. Type 0 is 4:2:2 (luma sampling 2x1),
// any other type 4:2:0 (2x2). Tables in zig-zag order.
void AppendJpegHeader(std::vector<uint8_t>& out, uint8_t type, uint16_t width, uint16_t height,
                      const uint8_t* luma, const uint8_t* chroma, uint16_t restartInterval = 0);

}  // namespace norvane
