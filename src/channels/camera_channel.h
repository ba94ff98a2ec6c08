// A video stream of the camera, as the video capture object holds it.
#pragma once

#include "foundation/device_info.h"

namespace norvane {

enum ChannelState : int {
    Running = 0,
    Starting = 1,
    SignalLost = 2,
    Stopped = 3,
};

class ICameraChannel {
public:
    virtual ~ICameraChannel() = default;
    virtual bool Start(const CAPTURE_PARAMS* params) = 0;
    virtual void Stop() = 0;
    virtual bool Restart(const CAPTURE_PARAMS* params) = 0;
    virtual bool Pause() { return false; }
    virtual bool Resume() { return false; }
    virtual ChannelState GetState() = 0;
    // Refuses later starts and asks the channel's threads to end, without waiting for them, so
    // that it may be called from the channel's own callbacks.
    virtual void Retire() {}
    // True on a thread of the channel (its capture thread or the one that delivers its frames).
    virtual bool IsOwnThread() { return false; }
};

}  // namespace norvane
