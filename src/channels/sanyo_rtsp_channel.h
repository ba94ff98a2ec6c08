// What the Sanyo cameras' RTSP channels share: the stream is configured over the camera's CGI
// before every connection, the RTSP port and stream path come from the custom parameters, and
// the derived class's depacketiser turns the packets into frames.
#pragma once

#include <string>

#include "camera/common_channel.h"
#include "channels/base_rtsp_channel.h"
#include "rtsp/media_parser.h"

namespace norvane {

class CSanyoRTSPChannel : public CBaseRTSPChannel, public CCommonChannel {
public:
    static constexpr uint16_t DEFAULT_RTSP_PORT = 554;
    static constexpr uint32_t RTSP_RECEIVE_TIMEOUT_MS = 1000;

protected:
    // `media` is the derived class's depacketiser; `pathParameter` the custom parameter that
    // holds the stream path, unless it equals `noRtspWord`.
    CSanyoRTSPChannel(unsigned number, IDriver* driver, ICaptureSink* sink, CRTPMediaParser& media,
                      int pathParameter, const char* noRtspWord);

    bool ConfigureCamera() override;
    void FillConnectionParams(RTSPConnectionParams& connection) override;
    RTSPTransport AskedTransport() override;
    void OnMediaPacket(const CRTPPacket& packet) override;
    void ResetMedia() override;
    void OnStopThread() override;
    // The camera's codec settings for the current parameters.
    virtual StreamParameterList StreamSettings() = 0;

    CLock
        mediaLock;  // the depacketiser is fed on the receiver thread, set up on the capture thread
    CRTPMediaParser& media;

private:
    const int pathParameter;
    const std::string noRtspWord;
};

}  // namespace norvane
