// A channel's motion-detection poller, as the video capture object holds it.
#pragma once

namespace norvane {

class IMotionChannel {
public:
    virtual ~IMotionChannel() = default;
    virtual bool StartDetection() = 0;
    virtual void StopDetection() = 0;
};

}  // namespace norvane
