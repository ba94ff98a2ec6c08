// Interfaces the host implements and the driver calls. Operation positions are counted from 0,
// the destructor included; positions marked "not called" keep the shared layout and are never
// used by the driver.
#pragma once

#include <stdint.h>

#include "norvane/debug.h"
#include "norvane/types.h"

namespace norvane {

// The host's frame buffer.
class IMediaFrame {
    NORVANE_DESTRUCTOR_POSITION(IMediaFrame)            // 0
    virtual void Reserved1() {}                         // 1 not called
    virtual uint8_t* GetData() = 0;                     // 2 at least the allocated size
    virtual void Reserved3() {}                         // 3 not called
    virtual void SetDataSize(unsigned size) = 0;        // 4
    virtual void StampTime() = 0;                       // 5 host stamps its own time
    virtual void SetTime(const SYSTEMTIME* time) = 0;   // 6
    virtual void Reserved7() {}                         // 7 not called
    virtual void Reserved8() {}                         // 8 not called
    virtual void Reserved9() {}                         // 9 not called
    virtual void SetFourCC(unsigned fourcc) = 0;        // 10
    virtual void Reserved11() {}                        // 11 not called
    virtual void SetHeight(unsigned height) = 0;        // 12
    virtual void Reserved13() {}                        // 13 not called
    virtual void SetWidth(unsigned width) = 0;          // 14
    virtual void Reserved15() {}                        // 15 not called
    virtual void SetSizeClass(unsigned sizeClass) = 0;  // 16
};

class IFrameAllocator {
    NORVANE_DESTRUCTOR_POSITION(IFrameAllocator)  // 0
    virtual void Reserved1() {}            // 1 not called
    virtual IMediaFrame* AllocateFrame(unsigned fourcc, unsigned size,
                                       const char* source) = 0;  // 2 null when none is free
    virtual void Reserved3() {}                                  // 3 not called
    virtual void Reserved4() {}                                  // 4 not called
    virtual void Reserved5() {}                                  // 5 not called
    virtual void ReleaseFrame(IMediaFrame* frame) = 0;           // 6 always after delivery
};

class IDeviceSettings {
    NORVANE_DESTRUCTOR_POSITION(IDeviceSettings)  // 0
    virtual void Reserved1() {}                // 1 not called
    virtual const char* GetModelName() = 0;    // 2
    virtual int GetChannelCount() = 0;         // 3
    virtual void Reserved4() {}                // 4 not called
    virtual int GetInputCount() = 0;           // 5
    virtual int GetOutputCount() = 0;          // 6
};

class IConnectionSettings {
    NORVANE_DESTRUCTOR_POSITION(IConnectionSettings)  // 0
    virtual const char* GetAddress() = 0;      // 1
    virtual uint16_t GetPort() = 0;            // 2
    virtual void Reserved3() {}                // 3 not called
    virtual int GetCodecType() = 0;            // 4 1 = Motion-JPEG, 3 = H.264
    virtual const char* GetUserName() = 0;     // 5
    virtual const char* GetPassword() = 0;     // 6
};

class IDeviceOptions {
    NORVANE_DESTRUCTOR_POSITION(IDeviceOptions)  // 0
    virtual void Reserved1() {}           // 1 not called
    virtual void Reserved2() {}           // 2 not called
    virtual void Reserved3() {}           // 3 not called
    virtual int GetOptionFlag() = 0;      // 4 non-zero = set
};

class IDeviceConfig {
    NORVANE_DESTRUCTOR_POSITION(IDeviceConfig)                   // 0
    virtual IDeviceSettings* GetDeviceSettings() = 0;            // 1
    virtual IConnectionSettings* GetConnectionSettings() = 0;    // 2
    virtual IDeviceOptions* GetOptions() = 0;                    // 3
    virtual const char* GetCustomParameter(int number) = 0;      // 4 from 1; null past the last
};

class IResolution {
    NORVANE_DESTRUCTOR_POSITION(IResolution)  // 0
    virtual uint16_t GetWidth() = 0;   // 1
    virtual uint16_t GetHeight() = 0;  // 2
};

class IVideoFormat {
    NORVANE_DESTRUCTOR_POSITION(IVideoFormat)  // 0
    virtual void Reserved1() {}                // 1 not called
    virtual void Reserved2() {}                // 2 not called
    virtual IResolution* GetResolution() = 0;  // 3
};

class IStreamSettings {
    NORVANE_DESTRUCTOR_POSITION(IStreamSettings)  // 0
    virtual uint16_t GetFrameRate() = 0;         // 1 frame period in ms
    virtual void Reserved2() {}                  // 2 not called
    virtual uint16_t GetQuality() = 0;           // 3
    virtual int IsMotionDetectionEnabled() = 0;  // 4 non-zero = on
};

class IChannelConfig {
    NORVANE_DESTRUCTOR_POSITION(IChannelConfig)       // 0
    virtual IVideoFormat* GetVideoFormat() = 0;       // 1
    virtual IStreamSettings* GetStreamSettings() = 0;  // 2
};

// Per-channel callback, shared by a channel and the motion channel of its index.
class ICaptureSink {
    NORVANE_DESTRUCTOR_POSITION(ICaptureSink)           // 0
    virtual bool DeliverFrame(IMediaFrame* frame) = 0;  // 1 true when the host took it
    virtual void Reserved2() {}                       // 2 not called
    virtual void OnSignalLost() = 0;                  // 3
};

class ICapabilityQueryCallback {
    NORVANE_DESTRUCTOR_POSITION(ICapabilityQueryCallback)        // 0
    virtual void Reserved1() {}                                  // 1 not called
    virtual void OnQuerySucceeded() = 0;                         // 2
    virtual void OnQueryFailed(int code, const char* message) = 0;  // 3
    virtual void OnQueryThreadTerminated() = 0;                  // 4
};

// One text field of the host's connection record.
class ICapabilityText {
    NORVANE_DESTRUCTOR_POSITION(ICapabilityText)  // 0
    virtual void SetText(const char* text) = 0;  // 1
};

// One numbered custom parameter of the host's camera record.
class ICustomParameterEntry {
    NORVANE_DESTRUCTOR_POSITION(ICustomParameterEntry)  // 0
    virtual void SetValue(const char* text) = 0;  // 1
    virtual void Reserved2() {}                   // 2 not called
    virtual void Reserved3() {}                   // 3 not called
    virtual void SetFlag(uint32_t flag) = 0;      // 4 1: the text is the camera's own
    virtual void SetName(const char* name) = 0;   // 5
    virtual void SetOption(int option) = 0;       // 6 called with 0
};

class IResolutionList {
    NORVANE_DESTRUCTOR_POSITION(IResolutionList)  // 0
    virtual void Add(const char* text, uint32_t width, uint32_t height,
                     uint32_t framePeriod) = 0;  // 1 framePeriod in ms, 0 for none
};

class IFrameRateList {
    NORVANE_DESTRUCTOR_POSITION(IFrameRateList)              // 0
    virtual void SetDefaultPeriod(uint32_t periodMs) = 0;    // 1
    virtual void AddPeriod(uint32_t periodMs) = 0;           // 2
};

// The host's collector of capability query results.
class ICapabilityResults {
    NORVANE_DESTRUCTOR_POSITION(ICapabilityResults)                     // 0
    virtual void SetCapability(uint32_t id, uint32_t value) = 0;        // 1
    virtual void SetModel(const char* model) = 0;                       // 2
    virtual ICapabilityText* GetConnectionField(int number) = 0;        // 3 1 address, 2 port,
                                                                        //   3 user, 4 password
    virtual void Reserved4() {}                                         // 4 not called
    virtual ICustomParameterEntry* GetCustomParameterEntry(int number) = 0;  // 5 from 1
    virtual IResolutionList* GetResolutionList() = 0;                   // 6
    virtual void Reserved7() {}                                         // 7 not called
    virtual IFrameRateList* GetFrameRateList(int kind) = 0;             // 8 called with 1
};

}  // namespace norvane
