#include "channels/sanyo_rtsp_channel.h"

#include "camera/custom_parameters.h"
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

}  // namespace norvane
