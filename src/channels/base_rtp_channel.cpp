#include "channels/base_rtp_channel.h"

#include <algorithm>

#include "http/utils.h"
#include "platform/system.h"

namespace norvane {

CBaseRTPChannel::CBaseRTPChannel(unsigned number, IDriver* driver, ICaptureSink* sink)
    : CBaseCameraChannel(number, driver, sink),
      receiver(driver),
      rtcp(driver),
      keepAliveStartMs(platform::SteadyMs()) {}

CBaseRTPChannel::~CBaseRTPChannel() {
    Stop();
}

bool CBaseRTPChannel::IsOwnThread() {
    return CBaseCameraChannel::IsOwnThread() ||
           receiver.GetThreadId() == platform::CurrentThreadId();
}

void CBaseRTPChannel::OnPacket(CRTPPacket* packet) {
    packetArrived.Set();
    // Until the camera has set the session up, nothing on the port belongs to the stream: the
    // port search takes such a packet for another sender's, later ones come from a stale sender.
    if (!streamExpected)
        return;
    mediaSource = packet->GetSsrc();
    rtcp.OnRtpPacket(packet->GetSequenceNumber(), packet->GetTimestamp(), packet->GetArrivalUs());
    OnMediaPacket(*packet);
}

void CBaseRTPChannel::OnPacketFrom(const SocketAddress& source, CRTPPacket* packet) {
    if (source.address == cameraAddress)
        OnPacket(packet);
}

bool CBaseRTPChannel::OnFrame(IMediaFrame* frame) {
    frameArrived = true;
    frameEvent.Set();
    return DeliverFrame(frame);
}

std::pair<uint32_t, uint32_t> CBaseRTPChannel::GetFrameSize() {
    return {params.width, params.height};
}

int CBaseRTPChannel::Run() {
    ResetFrameTimer();
    for (;;) {
        ApplyPause();
        if (GetState() == Running) {
            KeepAlive();
        } else if (!IsPaused() && Reconnect() && AwaitFirstFrame(FrameTimeout())) {
            // A paused channel does not reconnect: it waits for the resume, then connects anew.
            SetState(Running);
        }
        const bool stopping = WaitForPass();
        if (!JudgeFrameAge(stopping) || stopping)
            break;
    }
    SetState(Stopped);
    TearDown();
    SetCameraState(false);
    return 0;
}

bool CBaseRTPChannel::AwaitFirstFrame(uint32_t milliseconds) {
    const EventPair events{&stopEvent, &frameEvent};
    return WaitForStopOrItem(&events, milliseconds) == 1;
}

void CBaseRTPChannel::ExpectStream() {
    packetArrived.Reset();  // a stray's signal is not the stream's first packet
    streamExpected = true;
}

bool CBaseRTPChannel::WaitForRtp(uint32_t milliseconds) {
    const EventPair events{&stopEvent, &packetArrived};
    return WaitForStopOrItem(&events, milliseconds) == 1;
}

bool CBaseRTPChannel::WaitForPass() {
    return stopEvent.Wait(PASS_WAIT_MS);
}

void CBaseRTPChannel::ApplyPause() {
    const bool pausedNow = IsPaused();
    if (pausedNow == appliedPause)
        return;
    appliedPause = pausedNow;
    if (GetState() == Running && !(pausedNow ? SendPause() : SendPlay()))
        SetState(SignalLost);
}

bool CBaseRTPChannel::JudgeFrameAge(bool stopping) {
    const uint32_t timeout = FrameTimeout();
    if (IsPaused() || GetFrameAge() <= timeout)
        return true;
    if (stopping)
        return false;
    SetState(SignalLost);
    if (GetFrameAge() > uint64_t{timeout} * 2) {
        NotifySignalLost();
        SetCameraState(false);
    }
    return true;
}

void CBaseRTPChannel::RestartKeepAliveTimer() {
    keepAliveStartMs = platform::SteadyMs();
}

uint32_t CBaseRTPChannel::KeepAliveElapsedMs() const {
    return platform::SteadyMs() - keepAliveStartMs;
}

void CBaseRTPChannel::KeepAlive() {
    if (KeepAliveElapsedMs() > DEFAULT_KEEP_ALIVE_MS) {
        SendKeepAlive();
        RestartKeepAliveTimer();
    }
}

void CBaseRTPChannel::CloseReceiver() {
    receiver.SetUser(nullptr);
    receiver.Close();
    rtcp.Stop();
}

void CBaseRTPChannel::TearDown() {
    CloseReceiver();
    CloseSession();
}

bool CBaseRTPChannel::Reconnect() {
    return Attempt() || (RetryAtOnce() && Attempt());
}

bool CBaseRTPChannel::Attempt() {
    SetState(Stopped);
    streamExpected = false;
    TearDown();
    ResetMedia();
    mediaSource = NO_SOURCE;
    frameArrived = false;
    frameEvent.Reset();
    if (ResolveCamera() && ConfigureCamera() && CreateSession() && OpenReceiver() && OpenSession())
        return true;
    SetState(Stopped);
    TearDown();
    return false;
}

bool CBaseRTPChannel::ResolveCamera() {
    // Looked up on the capture thread, where a stop abandons a slow look-up; a name that did not
    // resolve is looked up again at every attempt.
    if (cameraAddress == 0)
        cameraAddress = Utils::ResolveHostAddress(driver->GetDeviceInfo()->address,
                                                  [this] { return IsStopping(); });
    return cameraAddress != 0;
}

bool CBaseRTPChannel::OpenReceiver() {
    receiver.SetUser(this);
    const EventPair events{&stopEvent, &packetArrived};
    for (uint32_t port = FIRST_RTP_PORT; port < RTP_PORT_LIMIT; port += 2) {
        if (IsStopping())
            return false;
        packetArrived.Reset();
        if (!receiver.Open(static_cast<uint16_t>(port)))
            continue;
        // A packet before any stream was asked for means another sender uses the port.
        if (WaitForStopOrItem(&events, PORT_PROBE_MS) == -1 &&
            rtcp.Start(static_cast<uint16_t>(port + 1), cameraAddress))
            return true;
        receiver.Close();
        rtcp.Stop();
    }
    return false;
}

}  // namespace norvane
