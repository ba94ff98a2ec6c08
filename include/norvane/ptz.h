// Pan/tilt/zoom: the handler the driver hands to the host and the per-channel control.
#pragma once

#include <stdint.h>

#include "norvane/abi.h"

namespace norvane {

// Capability record the host passes to IIPPTZApi::GetCapabilities; 32-bit fields, flags 0 or 1.
struct PTZ_CAPABILITIES {
    int32_t hostField;  // not touched by the driver
    int32_t pan;
    int32_t tilt;
    int32_t zoom;
    int32_t focus;
    int32_t iris;
    int32_t reserved24;
    int32_t maxPrepositions;
    int32_t prepositionCount;
    int32_t reserved36;
    int32_t reserved40;
    int32_t areaZoom;
    int32_t center;
    int32_t unzoom;
};
static_assert(sizeof(PTZ_CAPABILITIES) == 56);

// Result codes of the IIPPTZApi operations.
enum PtzResult : int {
    PTZ_OK = 1,
    PTZ_INVALID_ARGUMENT = -3,
    PTZ_FAILED = -18,         // not initialised, not queued, or failed
    PTZ_NOT_SUPPORTED = -19,  // the camera lacks this kind of command
    PTZ_PRESET_FAILED = -23,  // a preset operation found nothing or failed
    PTZ_PRESETS_FULL = -26,
};

// Two host flags a control stores for the host.
class IIPParams {
    NORVANE_DESTRUCTOR_POSITION(IIPParams)
    virtual int GetChannel() = 0;
    virtual bool GetFlag1() = 0;
    virtual void SetFlag1(bool value) = 0;
    virtual bool GetFlag2() = 0;
    virtual void SetFlag2(bool value) = 0;
};

// Per-channel PTZ control. Directions 0 to 7 pan and tilt, 8 and 9 zoom.
class IIPPTZApi {
    NORVANE_DESTRUCTOR_POSITION(IIPPTZApi)
    virtual int IsPTZSupported() = 0;                                            // 1
    virtual int StartMove(int direction, int speed) = 0;                         // 2
    virtual int Stop() = 0;                                                      // 3
    virtual int Center(int x, int y, int speed) = 0;                             // 4
    virtual int StartZoom8(int speed) = 0;                                       // 5
    virtual int StartZoom9(int speed) = 0;                                       // 6
    virtual int Unzoom(int value) = 0;                                           // 7
    virtual int AreaZoom(int a, int b, int c, int d) = 0;                        // 8
    virtual int StartFocus2(int speed) = 0;                                      // 9
    virtual int StartFocus1(int speed) = 0;                                      // 10
    virtual int StartIris3(int speed) = 0;                                       // 11
    virtual int StartIris4(int speed) = 0;                                       // 12
    virtual int GetCapabilities(PTZ_CAPABILITIES* out) = 0;                      // 13
    virtual int GetPrepositionCount() = 0;                                       // 14
    virtual int GetPrepositionName(int index, char* buffer, unsigned size) = 0;  // 15
    virtual int GotoPreposition(int value, const char* name) = 0;                // 16
    virtual int AddPreposition(const char* name) = 0;                            // 17
    virtual int RemovePreposition(const char* name) = 0;                         // 18
    virtual int GetCurrentPrepositionName(char* buffer, unsigned size) = 0;      // 19
};

class IIPPTZApiEx : public IIPPTZApi {
public:
    virtual bool IsFeatureSupported(int id) = 0;  // 20: true for 1
};

class IIPPTZDriver {
    NORVANE_DESTRUCTOR_POSITION(IIPPTZDriver)
    virtual IIPPTZApiEx* GetPTZApi(int channel) = 0;
};

class IIPPTZDriverEx : public IIPPTZDriver {
public:
    virtual IIPPTZApiEx* GetPTZApiEx(int channel) = 0;
};

}  // namespace norvane
