// A camera channel whose frames arrive as RTP (over UDP, or as a derived class brings them): the
// local port pair, the RTP receiver and RTCP handler, the capture loop with keep-alive, pause and
// resume, signal-loss judgement and reconnection from scratch.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

#include "channels/base_camera_channel.h"
#include "rtsp/media_parser.h"
#include "rtsp/rtcp_handler.h"
#include "rtsp/rtp_receiver.h"

namespace norvane {

class CBaseRTPChannel : public CBaseCameraChannel,
                        public IRTPReceiverUser,
                        public IMediaParserClient {
public:
    static constexpr uint16_t FIRST_RTP_PORT = 3556;
    static constexpr uint16_t RTP_PORT_LIMIT = 4556;  // RTP ports stay below it
    static constexpr uint32_t PORT_PROBE_MS = 500;
    static constexpr uint32_t DEFAULT_KEEP_ALIVE_MS = 30000;
    static constexpr uint32_t PASS_WAIT_MS = 1000;

    CBaseRTPChannel(unsigned number, IDriver* driver, ICaptureSink* sink);
    ~CBaseRTPChannel() override;

    bool IsOwnThread() override;

    // Receiver side, on the receiver's queue thread.
    void OnPacket(CRTPPacket* packet) override;
    void OnPacketFrom(const SocketAddress& source, CRTPPacket* packet) override;
    void OnReceiveTimeout() override {}
    void OnReceiveError() override {}

    // Depacketiser side.
    bool OnFrame(IMediaFrame* frame) override;
    std::pair<uint32_t, uint32_t> GetFrameSize() override;

    uint16_t GetRtpPort() { return receiver.GetPort(); }

protected:
    int Run() override;
    virtual void KeepAlive();
    // The wait between two passes of the capture loop; true when the channel is stopping.
    virtual bool WaitForPass();
    virtual bool CreateSession() { return true; }
    virtual void CloseSession() {}
    // Sets the session up and asks for the stream; calls ExpectStream once the camera has set it up.
    virtual bool OpenSession() = 0;
    virtual bool OpenReceiver();
    // After a failed attempt: true when it changed what the next attempt does, which then
    // follows at once.
    virtual bool RetryAtOnce() { return false; }
    // Waits up to `milliseconds` for the first frame of a new session; true when it came.
    virtual bool AwaitFirstFrame(uint32_t milliseconds);
    virtual bool ConfigureCamera() = 0;
    virtual void SendKeepAlive() = 0;
    virtual bool SendPause() = 0;
    virtual bool SendPlay() = 0;
    virtual void OnMediaPacket(const CRTPPacket& packet) = 0;
    // Drops what the depacketiser holds of the previous session (no packet arrives meanwhile).
    virtual void ResetMedia() {}

    // From now on packets from the camera's address are the stream's (the session is set up).
    void ExpectStream();
    bool Reconnect();
    // True when an RTP packet arrives within `milliseconds` (false also at a stop).
    bool WaitForRtp(uint32_t milliseconds);
    // A frame of the current session was delivered.
    bool FrameArrived() const { return frameArrived; }
    uint32_t GetCameraAddress() const { return cameraAddress; }
    void RestartKeepAliveTimer();
    uint32_t KeepAliveElapsedMs() const;
    // The RTP packets accepted since the last reconnect came from this source (network order).
    bool IsMediaSource(uint32_t ssrc) const { return mediaSource == ssrc; }

    CRTPReceiver receiver;
    CRTCPHandler rtcp;

private:
    // The camera's address, looked up unless known; false when it does not resolve.
    bool ResolveCamera();
    void CloseReceiver();
    void TearDown();
    // One attempt at a new session, from the camera's address to PLAY.
    bool Attempt();
    // Applies a pause or resume the host asked for since the last pass.
    void ApplyPause();
    // One pass's judgement of the frame age; false when the loop is to end.
    bool JudgeFrameAge(bool stopping);

    bool appliedPause = false;
    uint32_t keepAliveStartMs;
    CEvent packetArrived{false};  // an RTP packet was accepted
    CManualEvent frameEvent;
    std::atomic<bool> frameArrived{false};
    std::atomic<uint32_t> cameraAddress{0};
    std::atomic<bool> streamExpected{false};  // the session of the current attempt is set up
    static constexpr uint64_t NO_SOURCE = uint64_t{1} << 32;
    std::atomic<uint64_t> mediaSource{NO_SOURCE};  // SSRC of the last accepted RTP packet
};

}  // namespace norvane
