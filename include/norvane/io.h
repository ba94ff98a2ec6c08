// Digital inputs and outputs of the camera.
#pragma once

#include "norvane/abi.h"

namespace norvane {

// Host's callback for input changes. Position 0 is the destructor.
class IIOEventSink {
    NORVANE_DESTRUCTOR_POSITION(IIOEventSink)
    virtual void OnInputChanged(unsigned index, int state) = 0;  // 1
    virtual void OnIOFailure() = 0;                              // 2 states were reset
};

class ICaptureIOApi {
    NORVANE_DESTRUCTOR_POSITION(ICaptureIOApi)
    virtual bool SetEventSink(IIOEventSink* sink) = 0;
    virtual bool StartIO() = 0;
    virtual bool StopIO() = 0;
    virtual int GetInputCount() = 0;
    virtual int GetOutputCount() = 0;
    virtual bool SetOutput(int index, int state) = 0;  // queued; written on the output thread
};

}  // namespace norvane
