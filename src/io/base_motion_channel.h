// A channel's motion detection: its polling thread and the delivery of motion records to the
// channel's capture sink.
#pragma once

#include <cstdint>

#include "foundation/base_thread.h"
#include "foundation/idriver.h"
#include "foundation/time.h"
#include "io/motion_channel.h"
#include "platform/socket.h"

namespace norvane {

class CBaseMotionChannel : public IMotionChannel, public CBaseThread {
public:
    static constexpr const char* THREAD_NAME = "Morion Detection Thread";
    static constexpr const char* RECORD_SOURCE = "CBaseMotionChannel";
    static constexpr unsigned RECORD_ALLOCATION = 1024;
    static constexpr unsigned RECORD_SIZE = 2;
    static constexpr unsigned RECORD_WIDTH = 320;
    static constexpr unsigned RECORD_HEIGHT = 240;
    static constexpr unsigned RECORD_SIZE_CLASS = 2;
    static constexpr unsigned DESTRUCTOR_STOP_LIMIT_MS = 2000;

    CBaseMotionChannel(unsigned channel, IDriver* driver, ICaptureSink* sink);
    ~CBaseMotionChannel() override;

    bool StartDetection() override;
    void StopDetection() override;
    // Ends the camera request in progress; any thread (the stop path).
    virtual void CloseConnection() = 0;

    // One record of the motion state to the sink; true when the sink took it.
    bool CaptureMotionFrameCallback(bool motion);
    // Records only changes; the first report gives the opposite state first, then the state.
    void ReportMotion(bool motion);

protected:
    unsigned Channel() const { return channel; }

private:
    ICaptureSink* sink;
    platform::SocketLibraryUse sockets;
    CTime lastDelivery;
    bool lastMotion = false;
    bool reported = false;
    unsigned channel;
};

}  // namespace norvane
