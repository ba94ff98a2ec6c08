// Checks of what a host received: NAL unit types, capture times, and delivered streams decoded by
// ffmpeg against the reference media.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "host/capture_sink.h"
#include "norvane/types.h"
#include "support/media.h"

namespace test {

inline bool HasNalType(const std::vector<uint8_t>& data, uint8_t type) {
    for (size_t i = 0; i + 4 < data.size(); ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && (data[i + 3] & 0x1F) == type)
            return true;
    }
    return false;
}

// A capture time as milliseconds on a scale that only needs to order them.
inline uint64_t Milliseconds(const SYSTEMTIME& t) {
    return ((((uint64_t{t.wYear} * 13 + t.wMonth) * 32 + t.wDay) * 24 + t.wHour) * 60 + t.wMinute) *
               60000 +
           uint64_t{t.wSecond} * 1000 + t.wMilliseconds;
}

// The delivered payloads as one stream. H.264 frames end with an access unit delimiter, which the
// decoder reports when no picture follows it: the last one is left out.
inline std::string WriteFrames(const std::vector<host::DeliveredFrame>& frames,
                               const std::string& path) {
    std::vector<uint8_t> all;
    for (const auto& frame : frames)
        all.insert(all.end(), frame.data.begin(), frame.data.end());
    if (!frames.empty() && frames.back().fourcc != norvane::FOURCC_JPEG && all.size() >= 5)
        all.resize(all.size() - 5);
    EXPECT_TRUE(test::WriteBytes(path, all));
    return path;
}

// The reference pictures of a folder as one Motion-JPEG stream in `scratch`.
inline std::string ReferenceMjpeg(const std::string& folder, const std::string& scratch) {
    const std::string path = scratch + "/source.mjpeg";
    EXPECT_TRUE(RunCommand("cat '" + MediaPath(folder) + "'/*.jpg > '" + path + "'"));
    return path;
}

// The decoded pictures are the reference's, in order, looping, from wherever they begin.
inline void ExpectLoopOf(const std::vector<std::string>& got,
                         const std::vector<std::string>& reference) {
    ASSERT_FALSE(got.empty());
    ASSERT_FALSE(reference.empty());
    const auto first = std::find(reference.begin(), reference.end(), got[0]);
    ASSERT_NE(first, reference.end()) << "the first picture is not a reference picture";
    size_t at = static_cast<size_t>(first - reference.begin());
    for (size_t i = 0; i < got.size(); ++i, at = (at + 1) % reference.size())
        ASSERT_EQ(got[i], reference[at]) << "picture " << i;
}

}  // namespace test
