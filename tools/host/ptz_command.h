// `tavrin-host ptz`: steers one camera's head and presets through the driver library, against
// the bundled simulator unless a camera address is given.
#pragma once

#include <cstdint>
#include <string>

#include "host/camera_options.h"

namespace host {

struct PtzOptions {
    CameraOptions camera;  // the simulator's media lets --center learn the picture size
    std::string mac;       // custom parameter 6, which names the preset file
    int group = 0;         // custom parameter 3; 0: the simulator's
    int channel = 0;
    int move = -1;
    int speed = 8;
    unsigned forMs = 500;
    std::string zoom;
    std::string focus;
    std::string iris;
    std::string center;
    bool unzoom = false;
    std::string presetAdd;
    std::string presetGoto;
    std::string presetRemove;
    bool presetList = false;
};

// 0 when every operation returned 1, 1 when one did not, 2 when the library, the simulator or
// the driver could not be used.
// `media` is the main command's media folder, used when the subcommand names none.
int RunPtzCommand(PtzOptions& options, const std::string& media);

}  // namespace host
