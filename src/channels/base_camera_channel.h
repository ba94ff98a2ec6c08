// What every camera channel shares: the capture thread with a bounded stop, the channel state,
// the last-frame timer, pause, and the camera's online state with its log lines.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "channels/camera_channel.h"
#include "foundation/event.h"
#include "foundation/idriver.h"
#include "foundation/lock.h"
#include "platform/socket.h"
#include "platform/thread.h"

namespace norvane {

class CBaseCameraChannel : public ICameraChannel {
public:
    CBaseCameraChannel(unsigned number, IDriver* driver, ICaptureSink* sink);
    // The most-derived class stops the channel in its own destructor, before its members go.
    ~CBaseCameraChannel() override;
    CBaseCameraChannel(const CBaseCameraChannel&) = delete;
    CBaseCameraChannel& operator=(const CBaseCameraChannel&) = delete;

    bool Start(const CAPTURE_PARAMS* params) override;
    void Stop() override;
    bool Restart(const CAPTURE_PARAMS* params) override;
    bool Pause() override;
    bool Resume() override;
    ChannelState GetState() override;
    void Retire() override;
    bool IsOwnThread() override;

    bool IsCameraOnline();

protected:
    // The capture thread's body.
    virtual int Run() = 0;
    // Called by the stop path after the stop event is set and before the thread is waited for:
    // aborts whatever the thread may be blocked on.
    virtual void OnStopThread() {}
    virtual void SetState(ChannelState newState);

    void ResetFrameTimer();
    // Milliseconds since the last accepted frame, on the steady clock.
    uint32_t GetFrameAge();
    void SetCameraState(bool online);
    void StopThread();
    bool IsStopping() { return stopEvent.Wait(0); }
    bool IsPaused() const { return paused; }
    // Hands a frame to the host unless there is no sink, the channel is paused or stopping; an
    // accepted frame restarts the frame timer and marks the camera online.
    bool DeliverFrame(IMediaFrame* frame);
    void NotifySignalLost();
    // "Camera <address>" or "Video-server <address> (channel N)".
    std::string DisplayName();
    uint32_t FrameTimeout();

    IDriver* const driver;
    ICaptureSink* const sink;
    const unsigned number;
    // Written only while no capture thread runs; read by the channel's threads.
    CAPTURE_PARAMS params;
    CManualEvent stopEvent;

private:
    static unsigned ThreadProcedure(void* argument);
    bool StartThread();
    bool IsCaptureThread() const;
    // Stop or Restart on the capture thread itself: the thread ends when Run returns.
    void SignalStopFromThread();

    CLock controlLock;  // serialises Start, Stop and Restart from host threads
    platform::SocketLibraryUse socketLibrary;
    std::atomic<bool> paused{false};
    std::atomic<bool> retired{false};
    CLock onlineLock;  // orders the online changes and their lines; taken before stateLock
    CLock stateLock;   // guards the state and the online flag
    ChannelState state = Stopped;
    bool cameraOnline = false;
    std::atomic<uint32_t> lastFrameMs{0};
    platform::Thread thread;
    std::atomic<unsigned> captureThreadId{0};
};

}  // namespace norvane
