// The marker structure of a JPEG picture (ITU-T T.81 B.1) as a decoder reads it: marker
// segments walked by their lengths up to the scan, then the entropy-coded data searched for the
// marker that ends it. Bytes inside a segment or a scan that look like markers are none.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>

namespace norvane {

constexpr uint8_t JPEG_MARKER = 0xFF;
constexpr uint8_t JPEG_SOI = 0xD8;
constexpr uint8_t JPEG_EOI = 0xD9;
constexpr uint8_t JPEG_SOF0 = 0xC0;
constexpr uint8_t JPEG_DHT = 0xC4;
constexpr uint8_t JPEG_DQT = 0xDB;
constexpr uint8_t JPEG_SOS = 0xDA;

// From `from` in entropy-coded data: the position of the next marker's 0xFF, passing over
// stuffed zero bytes, restart markers and fill bytes. With no marker whole in the data, the
// position to go on from once more bytes follow (a last 0xFF, else `size`): a marker was found
// exactly when the result plus one is below `size`.
size_t FindScanMarker(const uint8_t* data, size_t size, size_t from);

// Walks a picture's marker segments, from just after its SOI, by their lengths until its scan
// starts. The picture may still be arriving: each call goes on where the last one stopped.
class CJpegSegmentWalk {
public:
    enum class Result {
        More,      // the bytes so far end inside the header
        Scan,      // Position(): the first byte of the entropy-coded data
        NewImage,  // Position(): an SOI where a marker segment was due
        Invalid,   // Position(): a byte where a marker was due that is none, or a bad length
    };

    // `data` holds the picture from its SOI, `size` bytes of it so far (earlier bytes unchanged
    // since the last call).
    Result Walk(const uint8_t* data, size_t size);
    size_t Position() const { return pos; }
    // The 0xFF of the last baseline frame header long enough to give the picture size; 0: none.
    size_t FrameHeader() const { return frameHeader; }
    // Whether a segment with this marker code came before the scan.
    bool Saw(uint8_t code) const { return seen.test(code); }

private:
    size_t pos = 2;
    size_t frameHeader = 0;
    bool inScan = false;
    std::bitset<256> seen;
};

}  // namespace norvane
