// Interfaces the driver implements and the host calls. Operations are listed in the shared
// layout order after the virtual destructor.
#pragma once

#include "norvane/host.h"
#include "norvane/io.h"
#include "norvane/ptz.h"

namespace norvane {

namespace ipcapture {

class IIPVideoCapture {
    NORVANE_DESTRUCTOR_POSITION(IIPVideoCapture)
    virtual unsigned GetChannelCount() = 0;
    virtual bool StartChannel(unsigned index, ICaptureSink* sink, IChannelConfig* config) = 0;
    virtual bool StopChannel(unsigned index) = 0;
    virtual bool ChangeChannelFormat(unsigned index, IResolution* format, unsigned frameRate) = 0;
    virtual int Reserved5() = 0;  // always 0
    virtual bool GetChannelState(unsigned index, int* state, int* detail, char* text,
                                 unsigned textSize) = 0;
    virtual bool Reserved7(unsigned a, unsigned b, void* c) = 0;  // always false
    virtual bool Reserved8(unsigned a, unsigned b, void* c) = 0;  // always false
};

class IIPVideoCaptureEx : public IIPVideoCapture {
public:
    virtual bool ResumeChannel(unsigned index) = 0;
    virtual bool PauseChannel(unsigned index) = 0;
};

class IIPCaptureDriver {
    NORVANE_DESTRUCTOR_POSITION(IIPCaptureDriver)
    virtual bool Open(IDebugInfoSink* log, IFrameAllocator* frames, IDeviceConfig* config) = 0;
    virtual void Close() = 0;
    virtual IIPVideoCapture* GetVideoCapture() = 0;
    virtual ICaptureIOApi* GetCaptureIOApi() = 0;
};

class IIPCaptureDriverEx : public IIPCaptureDriver {
public:
    virtual void* GetOptionalApi1() = 0;  // always null
    virtual IIPPTZDriver* GetPTZDriver() = 0;
};

class IIPCaptureDriverEx2 : public IIPCaptureDriverEx {
public:
    virtual void* GetOptionalApi2() = 0;  // always null
    virtual IIPVideoCaptureEx* GetVideoCaptureEx() = 0;
};

class IIPCaptureDriverEx3 : public IIPCaptureDriverEx2 {
public:
    virtual IIPPTZDriverEx* GetPTZDriverEx() = 0;
};

}  // namespace ipcapture

class IIPCapabilityQuery {
    NORVANE_DESTRUCTOR_POSITION(IIPCapabilityQuery)
    virtual int Start(const char* address, int port, const char* user, const char* password,
                      ICapabilityResults* results) = 0;
    virtual void Terminate() = 0;
};

}  // namespace norvane
