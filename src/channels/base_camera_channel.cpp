#include "channels/base_camera_channel.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "foundation/base_thread.h"
#include "platform/system.h"

namespace norvane {

namespace {
constexpr const char* SET_CAMERA_STATE = "norvane::CBaseCameraChannel::SetCameraState";
constexpr const char* STOP_THREAD = "norvane::CBaseCameraChannel::StopThread";

// Twice a time-out in ms, computed without wrapping.
unsigned TwiceClamped(uint32_t ms) {
    return static_cast<unsigned>(std::min<uint64_t>(uint64_t{ms} * 2, 0xFFFFFFFEu));
}
}  // namespace

CBaseCameraChannel::CBaseCameraChannel(unsigned number, IDriver* driver, ICaptureSink* sink)
    : driver(driver), sink(sink), number(number) {}

CBaseCameraChannel::~CBaseCameraChannel() {
    Stop();
}

unsigned CBaseCameraChannel::ThreadProcedure(void* argument) {
    auto* self = static_cast<CBaseCameraChannel*>(argument);
    if (!self)
        return NO_OBJECT_EXIT_CODE;
    self->captureThreadId = platform::CurrentThreadId();
    const unsigned result =
        RunThreadBody(self->driver, "capture thread", [self] { return self->Run(); });
    self->captureThreadId = 0;
    return result;
}

bool CBaseCameraChannel::StartThread() {
    if (retired || thread.Exists())
        return false;
    stopEvent.Reset();
    return thread.Start(&CBaseCameraChannel::ThreadProcedure, this);
}

bool CBaseCameraChannel::Start(const CAPTURE_PARAMS* newParams) {
    CLockGuard control(controlLock);
    Stop();
    if (!newParams)
        return false;
    params = *newParams;
    if (socketLibrary.Acquire() && StartThread())
        return true;
    socketLibrary.Release();
    return false;
}

void CBaseCameraChannel::Stop() {
    // One of the channel's own threads (a host calling from its frame callback runs on the capture
    // or the packet-queue thread) must neither wait for the capture thread, whose teardown waits
    // for it, nor for a host thread that holds the control lock while it waits.
    if (IsOwnThread())
        return SignalStopFromThread();
    CLockGuard control(controlLock);
    // The stop event goes first, so that no frame and no online notice follows the stop.
    stopEvent.Set();
    SetState(Stopped);
    SetCameraState(false);
    StopThread();
    socketLibrary.Release();
}

bool CBaseCameraChannel::Restart(const CAPTURE_PARAMS* newParams) {
    if (IsOwnThread()) {  // as Stop: not waited for; the restart fails
        SignalStopFromThread();
        return false;
    }
    CLockGuard control(controlLock);
    SetState(Stopped);
    StopThread();
    if (!newParams)
        return false;
    const uint32_t quality = params.quality;
    params = *newParams;
    params.quality = quality;
    return StartThread();
}

bool CBaseCameraChannel::Pause() {
    paused = true;
    return true;
}

bool CBaseCameraChannel::Resume() {
    if (GetState() == Running)
        ResetFrameTimer();
    paused = false;
    return true;
}

ChannelState CBaseCameraChannel::GetState() {
    CLockGuard guard(stateLock);
    return state;
}

void CBaseCameraChannel::SetState(ChannelState newState) {
    CLockGuard guard(stateLock);
    state = newState;
}

void CBaseCameraChannel::Retire() {
    retired = true;
    stopEvent.Set();
    OnStopThread();
}

bool CBaseCameraChannel::IsOwnThread() {
    return IsCaptureThread();
}

bool CBaseCameraChannel::IsCaptureThread() const {
    return captureThreadId != 0 && captureThreadId == platform::CurrentThreadId();
}

void CBaseCameraChannel::SignalStopFromThread() {
    stopEvent.Set();
    SetState(Stopped);
    SetCameraState(false);
    // From another of the channel's threads (the packet queue's) the capture thread may be
    // blocked in a wait the stop event does not end: it is aborted as for a host's stop.
    if (!IsCaptureThread())
        OnStopThread();
}

bool CBaseCameraChannel::IsCameraOnline() {
    CLockGuard guard(stateLock);
    return cameraOnline;
}

void CBaseCameraChannel::ResetFrameTimer() {
    lastFrameMs = platform::SteadyMs();
}

uint32_t CBaseCameraChannel::GetFrameAge() {
    // The frame time before the clock: a frame accepted between the two reads would otherwise be
    // later than the clock read, and the difference would wrap to about 2^32 ms.
    const uint32_t last = lastFrameMs;
    return platform::SteadyMs() - last;
}

uint32_t CBaseCameraChannel::FrameTimeout() {
    return driver->GetDeviceInfo()->timeout2;
}

std::string CBaseCameraChannel::DisplayName() {
    const std::string& address = driver->GetDeviceInfo()->address;
    char name[320];
    if (driver->GetChannelCount() <= 1)
        std::snprintf(name, sizeof(name), "Camera %s", address.c_str());
    else
        std::snprintf(name, sizeof(name), "Video-server %s (channel %u)", address.c_str(), number);
    return name;
}

void CBaseCameraChannel::SetCameraState(bool online) {
    // Changes are logged in the order they are made, by whichever thread makes them: the
    // comparison and store happen under the state lock, the line after it but still in order.
    CLockGuard order(onlineLock);
    ChannelState current;
    {
        // A stopping channel never comes back online.
        CLockGuard guard(stateLock);
        if (online == cameraOnline || (online && IsStopping()))
            return;
        cameraOnline = online;
        current = state;
    }
    std::string name = DisplayName();
    if (online) {
        driver->Log(LOG_INFO, "%s: %s is online", SET_CAMERA_STATE, name.c_str());
    } else if (current == Stopped) {
        driver->Log(LOG_INFO, "%s: %s is offline. Channel was stopped", SET_CAMERA_STATE,
                    name.c_str());
    } else if (current == SignalLost) {
        name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
        driver->Log(LOG_ERROR, "%s: Signal was lost for %s", SET_CAMERA_STATE, name.c_str());
    } else {
        driver->Log(LOG_ERROR, "%s: %s is offline or failed", SET_CAMERA_STATE, name.c_str());
    }
}

void CBaseCameraChannel::StopThread() {
    stopEvent.Set();
    if (!thread.Exists())
        return;
    OnStopThread();
    if (thread.IsCurrent())
        return;
    const unsigned limit = TwiceClamped(driver->GetDeviceInfo()->timeout);
    if (!thread.WaitEnded(limit)) {
        std::string name = DisplayName();
        name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
        driver->Log(LOG_WARNING,
                    "%s: Video capture thread for %s cannot be stopped and will be terminated now",
                    STOP_THREAD, name.c_str());
        // No thread is killed: every blocking call of the thread is bounded and aborted by
        // OnStopThread, so waiting for it is safe and ends.
    }
    thread.Close();
}

bool CBaseCameraChannel::DeliverFrame(IMediaFrame* frame) {
    if (!sink || paused || IsStopping() || !sink->DeliverFrame(frame))
        return false;
    ResetFrameTimer();
    SetCameraState(true);
    return true;
}

void CBaseCameraChannel::NotifySignalLost() {
    if (sink)
        sink->OnSignalLost();
}

}  // namespace norvane
