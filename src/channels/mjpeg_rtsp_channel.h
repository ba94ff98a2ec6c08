// Motion-JPEG over RTSP (RTP/JPEG) from a Sanyo camera.
#pragma once

#include "channels/sanyo_rtsp_channel.h"
#include "rtsp/jpeg_media_parser.h"

namespace norvane {

class CMJPEGChannelRTSP final : public CSanyoRTSPChannel {
public:
    CMJPEGChannelRTSP(unsigned number, IDriver* driver, ICaptureSink* sink);
    ~CMJPEGChannelRTSP() override;

protected:
    StreamParameterList StreamSettings() override;

private:
    CJpegRTPMediaParser parser;
};

}  // namespace norvane
