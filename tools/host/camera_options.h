// The options that name the driver library and the camera, shared by tavrin-host's commands,
// and the device configuration they give.
#pragma once

#include <cstdint>
#include <string>

#include "host/device_config.h"

namespace host {

struct CameraOptions {
    std::string library;
    std::string address;  // empty: the bundled camera simulator on loopback
    uint16_t port = 80;
    std::string user;
    std::string password;
    std::string model = "VCC-HD2300";
    std::string media;  // reference media folder of the bundled simulator
};

// The device's model, channel count and connection: the camera's, with `codec`.
void ConfigureCamera(DeviceConfig& config, const CameraOptions& camera, int channels, int codec);

}  // namespace host
