#include "channels/mjpeg_rtsp_channel.h"

#include "camera/custom_parameters.h"
#include "camera/stream_codes.h"

namespace norvane {

CMJPEGChannelRTSP::CMJPEGChannelRTSP(unsigned number, IDriver* driver, ICaptureSink* sink)
    : CSanyoRTSPChannel(number, driver, sink, parser, MJPEG_RTSP_PATH.number, NO_RTSP_MJPEG),
      parser(driver, driver->GetDriverName()) {
    parser.SetClient(this);
}

CMJPEGChannelRTSP::~CMJPEGChannelRTSP() {
    Stop();
}

StreamParameterList CMJPEGChannelRTSP::StreamSettings() {
    return MjpegStreamSettings(params, CameraGroup());
}

}  // namespace norvane
