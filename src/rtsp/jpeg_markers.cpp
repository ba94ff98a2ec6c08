#include "rtsp/jpeg_markers.h"

#include <cstring>

namespace norvane {

namespace {

constexpr uint8_t TEM = 0x01;
constexpr uint8_t RST0 = 0xD0, RST7 = 0xD7;
constexpr size_t FRAME_HEADER_LENGTH = 8;  // length field, precision, height, width, components

bool IsRestart(uint8_t code) {
    return code >= RST0 && code <= RST7;
}

}  // namespace

size_t FindScanMarker(const uint8_t* data, size_t size, size_t from) {
    size_t p = from;
    while (p < size) {
        const void* found = std::memchr(data + p, JPEG_MARKER, size - p);
        if (!found)
            return size;
        p = static_cast<size_t>(static_cast<const uint8_t*>(found) - data);
        if (p + 1 == size)
            return p;
        const uint8_t code = data[p + 1];
        if (code == JPEG_MARKER)
            p += 1;  // fill byte: the next 0xFF may begin the marker
        else if (code == 0x00 || IsRestart(code))
            p += 2;
        else
            return p;
    }
    return size;
}

CJpegSegmentWalk::Result CJpegSegmentWalk::Walk(const uint8_t* data, size_t size) {
    while (!inScan) {
        if (pos >= size)
            return Result::More;
        if (data[pos] != JPEG_MARKER)
            return Result::Invalid;
        if (pos + 2 > size)
            return Result::More;
        const uint8_t code = data[pos + 1];
        if (code == JPEG_MARKER) {
            ++pos;  // fill byte
            continue;
        }
        if (code == JPEG_SOI)
            return Result::NewImage;
        if (code == TEM || IsRestart(code)) {
            pos += 2;
            continue;
        }
        // A stuffed zero is no marker, and an EOI before any scan ends no picture.
        if (code == 0x00 || code == JPEG_EOI)
            return Result::Invalid;
        if (pos + 4 > size)
            return Result::More;
        const size_t length = size_t{data[pos + 2]} << 8 | data[pos + 3];
        if (length < 2)
            return Result::Invalid;
        seen.set(code);
        if (code == JPEG_SOF0 && length >= FRAME_HEADER_LENGTH)
            frameHeader = pos;
        inScan = code == JPEG_SOS;
        pos += 2 + length;
    }
    return pos <= size ? Result::Scan : Result::More;
}

}  // namespace norvane
