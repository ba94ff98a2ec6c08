// What a camera's PTZ head can do, as the driver learned it from the camera.
#pragma once

#include <cstdint>

namespace norvane {

class CPtzCapabilities {
public:
    virtual ~CPtzCapabilities() = default;

    bool pan = false;
    bool tilt = false;
    bool zoom = false;
    bool focus = false;
    bool iris = false;
    bool areaZoom = false;
    bool center = false;
    bool unzoom = false;
    uint32_t maxPrepositions = 0;
};

}  // namespace norvane
