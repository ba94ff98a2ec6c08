// An RTP channel whose stream is an RTSP session: DESCRIBE, SETUP and PLAY to open it, a
// keep-alive at half the session time-out (GET_PARAMETER where the server offers it, OPTIONS
// otherwise), PAUSE and PLAY, TEARDOWN to end it. A session the server ends (the connection
// closed, a BYE from the stream's source, or a keep-alive answered 454) is replaced at once.
// RTP and RTCP come over UDP or interleaved on the RTSP connection; asked for Auto, the channel
// starts with UDP and moves to TCP for good (until it is deleted with the driver's close) when
// the camera refuses UDP, sends no RTP over UDP soon after PLAY, or no port pair is free; a
// camera that then refuses TCP is served over UDP for good.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "channels/base_rtp_channel.h"
#include "rtsp/base_rtsp_client.h"

namespace norvane {

class CBaseRTSPChannel : public CBaseRTPChannel,
                         public IRTCPByeUser,
                         public IInterleavedUser,
                         public IRTCPSender {
public:
    CBaseRTSPChannel(unsigned number, IDriver* driver, ICaptureSink* sink);
    ~CBaseRTSPChannel() override;

    // RTCP reader thread: a BYE naming the stream's source ends the session.
    void OnBye(const std::vector<uint32_t>& sources) override;
    // Capture thread: RTP and RTCP read from the RTSP connection.
    void OnInterleaved(uint8_t channel, const uint8_t* data, uint32_t length) override;
    // RTCP thread: reports go back on the RTSP connection.
    bool SendRtcp(const uint8_t* data, size_t length) override;
    // RTP comes interleaved on the RTSP connection.
    bool UsesTcp();

protected:
    void KeepAlive() override;
    // While the session plays, the wait also watches the RTSP connection and the camera's BYE.
    bool WaitForPass() override;
    bool CreateSession() override;
    void CloseSession() override;
    bool OpenReceiver() override;
    bool OpenSession() override;
    bool RetryAtOnce() override;
    bool AwaitFirstFrame(uint32_t milliseconds) override;
    void SendKeepAlive() override;
    bool SendPause() override;
    bool SendPlay() override;
    void OnStopThread() override;

    virtual std::unique_ptr<CBaseRTSPClient> CreateRTSPClient();
    virtual void FillConnectionParams(RTSPConnectionParams&) {}
    virtual void OnStreamDescribed() {}
    // The transport the host asked for this camera.
    virtual RTSPTransport AskedTransport() { return RTSPTransport::Auto; }

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
    bool OffersGetParameter() const;
    // Marks a session the server ended for a reconnect, with a (thinned) line.
    void EndedByServer(const char* how);
    // Auto: RTP over TCP (or, `back`, over UDP for good) from the next attempt on, with one line.
    void MoveTransport(const std::string& why, bool back = false);
    // Auto: a SETUP refused for a reason other than the login moves to the other transport.
    void OnSetupRefused();
    // Reads the RTSP connection until the first frame; true when it came.
    bool ReadUntilFirstFrame(uint32_t milliseconds);

    CLock sessionLock;  // guards the client pointer and the busy flag against the stop path
    bool exchanging = false;
    uint32_t failedExchanges = 0;  // thins the failure lines (capture thread only)
    uint32_t endedSessions = 0;    // thins the session-end lines (capture thread only)
    std::atomic<bool> byeReceived{false};  // set under sessionLock; cleared with a new client
    std::atomic<bool> movedToTcp{false};
    bool tcpRefused = false;        // the camera refused TCP after a move (capture thread only)
    bool transportChanged = false;  // by the current attempt (capture thread only)
    bool reconnectAtOnce = false;   // the next pass does not wait (capture thread only)
    std::unique_ptr<CBaseRTSPClient> client;
};

}  // namespace norvane
