// Pictures whose marker segments hold bytes that read as markers, as cameras send them: an Exif
// thumbnail (a whole 320x240 JPEG) in APP1 of a 1920x1080 picture, an end of image in a comment,
// a start of image in APP0. Each is a reference picture with one segment put after its SOI.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "camsim/media_files.h"
#include "support/media.h"

namespace test {

struct SegmentPicture {
    std::string name;
    Bytes data;
    uint32_t width, height;
};

inline Bytes WithSegment(const Bytes& picture, uint8_t code, const Bytes& body) {
    const size_t length = body.size() + 2;
    Bytes out(picture.size() + length + 2);
    const uint8_t head[] = {picture[0],
                            picture[1],
                            0xFF,
                            code,
                            static_cast<uint8_t>(length >> 8),
                            static_cast<uint8_t>(length)};
    auto at = std::copy(std::begin(head), std::end(head), out.begin());
    at = std::copy(body.begin(), body.end(), at);
    std::copy(picture.begin() + 2, picture.end(), at);
    return out;
}

inline std::vector<SegmentPicture> SegmentPictures() {
    const auto big = camsim::ReadJpegFolder(MediaPath("jpeg1080p"));
    const auto small = camsim::ReadJpegFolder(MediaPath("jpeg420"));
    EXPECT_FALSE(big.empty());
    EXPECT_FALSE(small.empty());
    if (big.empty() || small.empty())
        return {};
    Bytes exif = {'E', 'x', 'i', 'f', 0, 0};
    exif.insert(exif.end(), small[0].begin(), small[0].end());
    const Bytes comment = {'a', 0xFF, 0xD9, 'b'};
    const Bytes jfif = {'J', 'F', 'I', 'F', 0, 0xFF, 0xD8, 0xFF, 0xE0, 0, 2};
    return {{"ExifThumbnail", WithSegment(big[0], 0xE1, exif), 1920, 1080},
            {"EndOfImageInAComment", WithSegment(small[1], 0xFE, comment), 320, 240},
            {"StartOfImageInApp0", WithSegment(small[2], 0xE0, jfif), 320, 240}};
}

}  // namespace test
