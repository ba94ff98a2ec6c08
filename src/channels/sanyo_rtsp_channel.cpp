#include "channels/sanyo_rtsp_channel.h"

#include "camera/custom_parameters.h"
#include "camera/stream_codes.h"
#include "http/utils.h"

namespace norvane {

namespace {
// Line breaks in a configured path would end the request line early.
std::string WithoutLineBreaks(std::string text) {
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
    return text;
}
}  // namespace

CSanyoRTSPChannel::CSanyoRTSPChannel(unsigned number, IDriver* driver, ICaptureSink* sink,
                                     CRTPMediaParser& media, int pathParameter,
                                     const char* noRtspWord)
    : CBaseRTSPChannel(number, driver, sink),
      CCommonChannel(driver),
      media(media),
      pathParameter(pathParameter),
      noRtspWord(noRtspWord) {
    // The stop path sets the event, then aborts: no configuration request outlives a stop.
    HttpClient().SetStopEvent(&stopEvent);
}

bool CSanyoRTSPChannel::ConfigureCamera() {
    return ConfigureStream(stopEvent, StreamSettings());
}

void CSanyoRTSPChannel::FillConnectionParams(RTSPConnectionParams& connection) {
    connection.receiveTimeout = RTSP_RECEIVE_TIMEOUT_MS;
    connection.secondTimeout = RTSP_RECEIVE_TIMEOUT_MS;
    const int port = driver->GetCustomParameterInt(RTSP_PORT.number);
    connection.rtspPort =
        port >= 1 && port <= 65535 ? static_cast<uint16_t>(port) : DEFAULT_RTSP_PORT;
    const std::string path = driver->GetCustomParameterString(pathParameter);
    if (path != noRtspWord)
        connection.path = WithoutLineBreaks(path);
}

RTSPTransport CSanyoRTSPChannel::AskedTransport() {
    const std::string asked = Utils::ToLowerCopy(
        driver->GetCustomParameterString(RTSP_TRANSPORT.number));
    if (asked == "tcp")
        return RTSPTransport::Tcp;
    return asked == "udp" ? RTSPTransport::Udp : RTSPTransport::Auto;
}

void CSanyoRTSPChannel::OnMediaPacket(const CRTPPacket& packet) {
    CLockGuard guard(mediaLock);
    media.ProcessPacket(packet);
}

void CSanyoRTSPChannel::ResetMedia() {
    CLockGuard guard(mediaLock);
    media.Reset();
}

void CSanyoRTSPChannel::OnStopThread() {
    CBaseRTSPChannel::OnStopThread();
    AbortRequest();
}

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
