// The Sanyo cameras' PTZ control: what the head can do follows the camera group.
#pragma once

#include "ptz/base_ptz_control.h"

namespace norvane {

class CSanyoPTZControl : public CBasePTZControl {
public:
    using CBasePTZControl::CBasePTZControl;
    // Full capabilities, except groups 2 and 4: no pan, tilt or centre, at most 8 presets.
    CBasePTZComm* CreateComm() override;
};

}  // namespace norvane
