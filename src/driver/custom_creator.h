// The driver's channel factory, used by the video capture object.
#pragma once

#include "norvane/host.h"

namespace norvane {

class ICameraChannel;
class IMotionChannel;

class ICustomCreator {
public:
    virtual ~ICustomCreator() = default;
    virtual ICameraChannel* CreateChannel(unsigned index, ICaptureSink* sink, bool largeFrame) = 0;
    virtual IMotionChannel* CreateMotionChannel(unsigned index, ICaptureSink* sink) = 0;
};

}  // namespace norvane
