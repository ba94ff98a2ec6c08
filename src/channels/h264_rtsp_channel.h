// H.264 over RTSP from a Sanyo camera: the stream's codec settings and the parameter sets its
// SDP describes.
#pragma once

#include "channels/sanyo_rtsp_channel.h"
#include "rtsp/h264_media_parser.h"

namespace norvane {

// Not final: tests derive from it to shorten its session defaults.
class CH264ChannelRTSP : public CSanyoRTSPChannel {
public:
    CH264ChannelRTSP(unsigned number, IDriver* driver, ICaptureSink* sink);
    ~CH264ChannelRTSP() override;

protected:
    StreamParameterList StreamSettings() override;
    void OnStreamDescribed() override;

private:
    CH264RTPMediaParser parser;
    bool reportedUnusableSets = false;  // once per channel, however often the camera describes
};

}  // namespace norvane
