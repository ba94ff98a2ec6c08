// An RTP channel whose stream is an RTSP session: DESCRIBE, SETUP and PLAY to open it, OPTIONS
// at half the session time-out to keep it, PAUSE and PLAY, TEARDOWN to end it.
#pragma once

#include <memory>

#include "channels/rtp_channel.h"
#include "rtsp/rtsp_client.h"

namespace norvane {

class CBaseRTSPChannel : public CBaseRTPChannel {
public:
    CBaseRTSPChannel(unsigned number, IDriver* driver, ICaptureSink* sink);
    ~CBaseRTSPChannel() override;

protected:
    void KeepAlive() override;
    bool CreateSession() override;
    void CloseSession() override;
    bool OpenSession() override;
    void SendKeepAlive() override;
    bool SendPause() override;
    bool SendPlay() override;
    void OnStopThread() override;

    virtual std::unique_ptr<CBaseRTSPClient> CreateRTSPClient();
    virtual void FillConnectionParams(RTSPConnectionParams&) {}
    virtual void OnStreamDescribed() {}

    // Keep-alive interval of the current session in ms.
    uint32_t KeepAliveInterval();
    // The session's client, used on the capture thread only.
    CBaseRTSPClient* Client() { return client.get(); }

private:
    // One request, sent only while the channel is not stopping; abortable by the stop path.
    bool Request(RTSPMethod method);
    bool Connect(const RTSPConnectionParams& connection);
    // Marks the client busy for the stop path; false when stopping (nothing is sent then).
    bool BeginExchange();
    void EndExchange();

    CLock sessionLock;  // guards the client pointer and the busy flag against the stop path
    bool exchanging = false;
    uint32_t failedExchanges = 0;  // thins the failure lines (capture thread only)
    std::unique_ptr<CBaseRTSPClient> client;
};

}  // namespace norvane
