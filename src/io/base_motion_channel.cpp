#include "io/base_motion_channel.h"

#include "norvane/types.h"

namespace norvane {

CBaseMotionChannel::CBaseMotionChannel(unsigned channel, IDriver* driver, ICaptureSink* sink)
    : CBaseThread(driver), sink(sink), channel(channel) {
    lastDelivery.Now();
}

// The thread reads this object's members: it ends before they go.
CBaseMotionChannel::~CBaseMotionChannel() { StopThread(DESTRUCTOR_STOP_LIMIT_MS); }

bool CBaseMotionChannel::StartDetection() {
    StopDetection();
    const bool ownSockets = sockets.Acquire();
    const bool started = Start(THREAD_NAME);
    if (!started && ownSockets)
        sockets.Release();
    return started;
}

void CBaseMotionChannel::StopDetection() {
    StopEvent().Set();
    CloseConnection();
    JoinThread(2 * GetDriver()->GetDeviceInfo()->timeout);
    sockets.Release();
}

bool CBaseMotionChannel::CaptureMotionFrameCallback(bool motion) {
    IFrameAllocator* allocator = GetDriver()->GetFrameAllocator();
    if (!allocator || !sink)
        return false;
    IMediaFrame* frame = allocator->AllocateFrame(FOURCC_MEMD, RECORD_ALLOCATION, RECORD_SOURCE);
    if (!frame)
        return false;
    uint8_t* data = frame->GetData();
    if (!data) {  // a host frame without a buffer carries nothing
        allocator->ReleaseFrame(frame);
        return false;
    }
    data[0] = 1;
    data[1] = motion ? 1 : 0;
    frame->SetDataSize(RECORD_SIZE);
    frame->SetWidth(RECORD_WIDTH);
    frame->SetHeight(RECORD_HEIGHT);
    frame->SetSizeClass(RECORD_SIZE_CLASS);
    frame->StampTime();
    const bool accepted = sink->DeliverFrame(frame);
    if (accepted) {
        lastDelivery.Now();
    } else {
        GetDriver()->Log(LOG_DEBUG, "%s: Motion detection data callback failed (device %s, channel %u)",
                         "norvane::CBaseMotionChannel::CaptureMotionFrameCallback",
                         GetDriver()->GetDeviceInfo()->address.c_str(), channel);
    }
    allocator->ReleaseFrame(frame);
    return accepted;
}

void CBaseMotionChannel::ReportMotion(bool motion) {
    if (!reported) {
        CaptureMotionFrameCallback(!motion);
        CaptureMotionFrameCallback(motion);
        reported = true;
        lastMotion = motion;
        return;
    }
    if (motion == lastMotion)
        return;
    CaptureMotionFrameCallback(motion);
    lastMotion = motion;
}

}  // namespace norvane
