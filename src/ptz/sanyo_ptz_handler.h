// The Sanyo cameras' PTZ driver object: presets kept in a file named after the camera's MAC
// address.
#pragma once

#include <string>

#include "ptz/base_ptz_handler.h"

namespace norvane {

class CSanyoPTZHandler : public CBasePTZHandler {
public:
    CSanyoPTZHandler(IDriver* driver, int channelCount);

    // "Sanyo_<custom parameter 6>.preset"; empty when the parameter is missing or is no plain
    // file name.
    std::string GetXMLStorageFileName() override;
    CBasePTZControl* CreateControl(int channel) override;
};

}  // namespace norvane
