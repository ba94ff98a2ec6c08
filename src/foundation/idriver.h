// The driver's view given to every object of the system: logging, the device record, the frame
// allocator and the custom parameters.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "foundation/device_info.h"
#include "norvane/debug.h"
#include "norvane/host.h"

namespace norvane {

class IDriver : public IDebugMessage {
public:
    virtual std::string GetDriverName() = 0;
    virtual const DEVICE_INFO* GetDeviceInfo() = 0;
    virtual std::pair<uint32_t, uint32_t> GetIOCounts() = 0;  // (inputs, outputs)
    virtual IFrameAllocator* GetFrameAllocator() = 0;
    virtual bool GetCustomFlag() = 0;  // video standard: true for the 30-frame family
    virtual int GetCodecType() = 0;
    virtual bool GetOptionFlag() = 0;
    virtual int GetChannelCount() = 0;
    virtual std::string GetAddressAndPort() = 0;
    virtual std::string GetCustomParameterString(int number) = 0;
    virtual int GetCustomParameterInt(int number) = 0;
    virtual std::pair<int, int> GetLastFrameSize() = 0;
    virtual void SetLastFrameSize(int width, int height) = 0;
    // Whether a channel in automatic transport found that this camera's RTP must come over the
    // RTSP connection; channels started later begin there instead of waiting out UDP again.
    virtual bool GetRtpOverTcp() = 0;
    virtual void SetRtpOverTcp(bool overTcp) = 0;
};

}  // namespace norvane
