// The options that name the driver library and the camera, shared by tavrin-host's commands.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

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

// --library, --address, --port, --user, --password, --model and --media.
void AddCameraOptions(CLI::App& command, CameraOptions& o);

}  // namespace host
