// Properties of every picture a depacketiser or the server-push scanner hands on; a violation
// traps, so libFuzzer reports the input.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rtsp/jpeg_markers.h"

namespace fuzz {

inline void Require(bool holds) {
    if (!holds)
        __builtin_trap();
}

// Annex B: a start code first; every NAL unit between start codes has a header byte of a type
// from 1 to 23 (an empty unit reads as type 0); at least one is a slice (types 1 to 5).
inline void CheckAnnexB(const uint8_t* data, size_t size) {
    const auto startCodeAt = [&](size_t i) {
        return i + 3 <= size && data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1;
    };
    Require(startCodeAt(0) || (size > 0 && data[0] == 0 && startCodeAt(1)));
    size_t slices = 0;
    for (size_t i = 0; i + 3 <= size; ++i) {
        if (!startCodeAt(i))
            continue;
        const uint8_t type = startCodeAt(i + 3) || i + 3 == size ? 0 : data[i + 3] & 0x1F;
        Require(type >= 1 && type <= 23);
        slices += type <= 5;
        i += 2;
    }
    Require(slices > 0);
}

// JPEG: SOI; marker segments that lead by their lengths to a scan and include a baseline frame
// header whose size is the one reported (and, with `tables`, quantisation and Huffman tables);
// the scan's first end of image ends the picture.
inline void CheckJpeg(const uint8_t* data, size_t size, uint32_t width, uint32_t height,
                      bool tables) {
    using namespace norvane;
    Require(size >= 4 && data[0] == JPEG_MARKER && data[1] == JPEG_SOI);
    CJpegSegmentWalk walk;
    Require(walk.Walk(data, size) == CJpegSegmentWalk::Result::Scan);
    const size_t header = walk.FrameHeader();
    Require(header != 0 && walk.Saw(JPEG_SOS));
    Require((uint32_t{data[header + 5]} << 8 | data[header + 6]) == height && height != 0);
    Require((uint32_t{data[header + 7]} << 8 | data[header + 8]) == width && width != 0);
    Require(!tables || (walk.Saw(JPEG_DQT) && walk.Saw(JPEG_DHT)));
    size_t p = FindScanMarker(data, size, walk.Position());
    while (p + 1 < size && data[p + 1] != JPEG_EOI)
        p = FindScanMarker(data, size, p + 2);
    Require(p + 2 == size);
}

}  // namespace fuzz
