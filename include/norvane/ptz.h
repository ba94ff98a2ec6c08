// Pan/tilt/zoom handler the driver hands to the host.
#pragma once

namespace norvane {

class IIPPTZApiEx;  // per-channel PTZ control

class IIPPTZDriver {
public:
    virtual ~IIPPTZDriver() = default;
    virtual IIPPTZApiEx* GetPTZApi(int channel) = 0;
};

class IIPPTZDriverEx : public IIPPTZDriver {
public:
    virtual IIPPTZApiEx* GetPTZApiEx(int channel) = 0;
};

}  // namespace norvane
