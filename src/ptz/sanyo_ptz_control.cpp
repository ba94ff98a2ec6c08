#include "ptz/sanyo_ptz_control.h"

#include <new>

#include "camera/custom_parameters.h"
#include "foundation/idriver.h"
#include "ptz/sanyo_ptz_comm.h"

namespace norvane {

CBasePTZComm* CSanyoPTZControl::CreateComm() {
    int group = GetDriver()->GetCustomParameterInt(CAMERA_GROUP.number);
    if (group == CUSTOM_PARAMETER_NOT_SET)
        group = 1;
    CPtzCapabilities capabilities;
    capabilities.pan = capabilities.tilt = capabilities.zoom = capabilities.focus = true;
    capabilities.iris = capabilities.center = capabilities.unzoom = true;
    capabilities.maxPrepositions = 255;
    if (group == 2 || group == 4) {
        capabilities.pan = capabilities.tilt = capabilities.center = false;
        capabilities.maxPrepositions = 8;
    }
    return new (std::nothrow)
        CSanyoPTZComm(GetDriver(), capabilities, static_cast<uint16_t>(GetChannel()));
}

}  // namespace norvane
