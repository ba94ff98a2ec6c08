#include "driver/tavrin_driver.h"

#include <new>

#include "camera/custom_parameters.h"
#include "channels/h264_rtsp_channel.h"
#include "channels/mjpeg_http_channel.h"
#include "channels/mjpeg_rtsp_channel.h"
#include "foundation/no_throw.h"
#include "io/sanyo_io.h"
#include "io/sanyo_md_channel.h"
#include "ptz/sanyo_ptz_handler.h"

namespace norvane {

bool CTavrinDriver::Open(IDebugInfoSink* logSink, IFrameAllocator* frameAllocator,
                         IDeviceConfig* config) {
    return NoThrow(false, [&] {
        if (!CIPCaptureDriver::Open(logSink, frameAllocator, config))
            return false;
        // Objects built during the base Open keep the default time-outs.
        deviceInfo.timeout = OPEN_TIMEOUT_MS;
        deviceInfo.timeout2 = OPEN_TIMEOUT_MS;
        const int standard = GetCustomParameterInt(VIDEO_STANDARD.number);
        if (standard != CUSTOM_PARAMETER_NOT_SET)
            customFlag = standard != 0;
        LogDriverOpened(GetCustomParameterString(FIRMWARE.number));
        return true;
    });
}

// A failed allocation leaves the driver without I/O, which is not an error.
bool CTavrinDriver::CreateIO() {
    if (!io)
        io.reset(new (std::nothrow) CSanyoIO(this));
    return true;
}

bool CTavrinDriver::CreatePTZ() {
    if (!ptz)
        ptz.reset(new (std::nothrow) CSanyoPTZHandler(this, GetChannelCount()));
    return ptz != nullptr;
}

ICameraChannel* CTavrinDriver::CreateChannel(unsigned index, ICaptureSink* sink, bool largeFrame) {
    switch (GetCodecType()) {
        case CODEC_MJPEG:
            if (largeFrame || GetCustomParameterString(MJPEG_RTSP_PATH.number) == NO_RTSP_MJPEG)
                return new (std::nothrow) CMjpegHttpChannel(index, this, sink);
            return new (std::nothrow) CMJPEGChannelRTSP(index, this, sink);
        case CODEC_H264:
            return new (std::nothrow) CH264ChannelRTSP(index, this, sink);
        default:
            return nullptr;
    }
}

IMotionChannel* CTavrinDriver::CreateMotionChannel(unsigned index, ICaptureSink* sink) {
    return new (std::nothrow) CSanyoMDChannel(index, sink, this);
}

}  // namespace norvane
