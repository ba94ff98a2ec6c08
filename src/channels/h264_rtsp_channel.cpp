#include "channels/h264_rtsp_channel.h"

#include "camera/custom_parameters.h"
#include "camera/stream_codes.h"

namespace norvane {

CH264ChannelRTSP::CH264ChannelRTSP(unsigned number, IDriver* driver, ICaptureSink* sink)
    : CSanyoRTSPChannel(number, driver, sink, parser, H264_RTSP_PATH.number, NO_RTSP_H264),
      parser(driver, driver->GetDriverName()) {
    parser.SetClient(this);
}

CH264ChannelRTSP::~CH264ChannelRTSP() {
    Stop();
}

StreamParameterList CH264ChannelRTSP::StreamSettings() {
    return H264StreamSettings(params, CameraGroup(), driver->GetCustomFlag(),
                              driver->GetCustomParameterInt(INTERLACE.number) == 1);
}

void CH264ChannelRTSP::OnStreamDescribed() {
    CBaseRTSPClient* session = Client();
    if (!session)
        return;
    const CRTSPResponseParser& described = session->GetParser();
    const bool bothSets = !described.GetSequenceParameterSet().empty() &&
                          !described.GetPictureParameterSet().empty();
    bool taken;
    {
        CLockGuard guard(mediaLock);
        taken = bothSets ? parser.StartSession(described.GetSequenceParameterSet(),
                                               described.GetPictureParameterSet(),
                                               described.GetCodecConfiguration())
                         : parser.StartSession({}, {}, {});
    }
    // Frames still come: the depacketiser then takes the sets the stream carries.
    if ((described.HasUnusableParameterSets() || (bothSets && !taken)) && !reportedUnusableSets) {
        reportedUnusableSets = true;
        driver->Log(
            LOG_WARNING,
            "%s: The parameter sets in the SDP of %s cannot be used; the stream's own are taken",
            "norvane::CH264ChannelRTSP::OnStreamDescribed", DisplayName().c_str());
    }
}

}  // namespace norvane
