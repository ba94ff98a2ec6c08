// Channel parameters for the camera tests.
#pragma once

#include "foundation/device_info.h"

namespace test {

inline norvane::CAPTURE_PARAMS Params(uint32_t frameRate, uint32_t width, uint32_t height,
                                      uint32_t quality = 50) {
    norvane::CAPTURE_PARAMS p;
    p.frameRate = frameRate;
    p.width = width;
    p.height = height;
    p.quality = quality;
    return p;
}

}  // namespace test
