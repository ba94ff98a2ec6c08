// The driver object the exports hand to the host.
#pragma once

#include "driver/ip_capture_driver.h"

namespace norvane {

class CTavrinDriver : public CIPCaptureDriver {
public:
    // Closes first: the channels' and other sub-objects' threads call this object's operations,
    // so they end while it is still whole (deleting without Close is the same clean-up).
    ~CTavrinDriver() override { Close(); }

    static constexpr const char* DRIVER_NAME = "Tavrin";
    static constexpr uint32_t OPEN_TIMEOUT_MS = 10000;
    static constexpr int CODEC_MJPEG = 1;
    static constexpr int CODEC_H264 = 3;

    bool Open(IDebugInfoSink* log, IFrameAllocator* frames, IDeviceConfig* config) override;
    bool CreateIO() override;
    bool CreatePTZ() override;
    std::string GetDriverName() override { return DRIVER_NAME; }
    ICameraChannel* CreateChannel(unsigned index, ICaptureSink* sink, bool largeFrame) override;
    IMotionChannel* CreateMotionChannel(unsigned index, ICaptureSink* sink) override;
};

}  // namespace norvane
