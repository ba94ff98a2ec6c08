#include "ptz/sanyo_ptz_handler.h"

#include <new>

#include "camera/custom_parameters.h"
#include "foundation/idriver.h"
#include "ptz/sanyo_ptz_control.h"

namespace norvane {

namespace {

// A name that stays in its directory: no separator, no control character, not "." or "..".
bool IsPlainFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    for (const unsigned char c : name)
        if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F)
            return false;
    return true;
}

}  // namespace

CSanyoPTZHandler::CSanyoPTZHandler(IDriver* driver, int channelCount)
    : CBasePTZHandler(driver, channelCount, "Sanyo") {}

std::string CSanyoPTZHandler::GetXMLStorageFileName() {
    const std::string mac = GetDriver()->GetCustomParameterString(MAC_ADDRESS.number);
    if (!mac.empty() && mac != "(none)" && IsPlainFileName(mac))
        return "Sanyo_" + mac + ".preset";
    GetDriver()->Log(
        LOG_ERROR,
        "%s: PTZ handler for %s device cannot be initialized. Required custom parameter "
        "was not defined!",
        "norvane::CSanyoPTZHandler::GetXMLStorageFileName",
        GetDriver()->GetDeviceInfo()->address.c_str());
    return {};
}

CBasePTZControl* CSanyoPTZHandler::CreateControl(int channel) {
    return new (std::nothrow) CSanyoPTZControl(GetDriver(), channel);
}

}  // namespace norvane
