#include "channels/mjpeg_http_channel.h"

#include <algorithm>
#include <cstring>

#include "camera/stream_codes.h"
#include "platform/system.h"
#include "rtsp/media_parser.h"

namespace norvane {

CMjpegHttpChannel::CMjpegHttpChannel(unsigned number, IDriver* driver, ICaptureSink* sink)
    : CBaseCameraChannel(number, driver, sink),
      CCommonChannel(driver),
      scanner(this, CRTPMediaParser::FRAME_BUFFER_LIMIT),
      readBuffer(READ_BUFFER_SIZE) {
    // The stop path sets the event, then aborts: no request outlives a stop.
    HttpClient().SetStopEvent(&stopEvent);
}

CMjpegHttpChannel::~CMjpegHttpChannel() {
    Stop();
}

void CMjpegHttpChannel::OnStopThread() {
    AbortRequest();
}

bool CMjpegHttpChannel::ConfigureCamera() {
    return ConfigureStream(stopEvent, MjpegHttpStreamSettings(params, CameraGroup()));
}

bool CMjpegHttpChannel::Connect() {
    if (!ConfigureCamera())
        return false;
    std::string path = "/liveimg.cgi?serverpush=1";
    if (CameraGroup() == 2 || CameraGroup() == 3)
        path += "&rate=" + std::to_string(PushRate(params.frameRate));
    return HttpClient().SendRequest("GET", path) && HttpClient().StatusCode() == 200;
}

uint32_t CMjpegHttpChannel::SilenceMs() {
    return std::min(GetFrameAge(), platform::SteadyMs() - connectedAtMs);
}

void CMjpegHttpChannel::ReadStream() {
    scanner.Reset();
    connectedAtMs = platform::SteadyMs();
    // A stream that yields no picture the host takes within the frame time-out is given up,
    // and so is one that is paused (it is opened again on resume).
    while (!IsStopping() && !deliveryFailed && !IsPaused() && SilenceMs() <= FrameTimeout()) {
        const uint32_t read =
            HttpClient().ReadData(readBuffer.data(), static_cast<uint32_t>(readBuffer.size()));
        if (read == 0)
            break;
        scanner.Scan(readBuffer.data(), read);
    }
}

int CMjpegHttpChannel::Run() {
    ResetFrameTimer();
    SetState(Starting);
    unsigned attempts = 0;
    uint32_t wait = 0;
    while (!stopEvent.Wait(wait)) {
        if (IsPaused()) {
            wait = PAUSED_POLL_MS;  // a paused channel keeps no stream open
            continue;
        }
        if (Connect()) {
            deliveryFailed = false;
            SetState(Running);
            ReadStream();
            attempts = 0;
        }
        HttpClient().CloseRequest();
        if (IsPaused()) {
            wait = 0;
            continue;
        }
        JudgeAttempt(IsStopping());
        wait = attempts < QUICK_RETRIES ? RETRY_MS : SLOW_RETRY_MS;
        attempts += attempts < QUICK_RETRIES;
    }
    JudgeAttempt(true);
    return 0;
}

void CMjpegHttpChannel::JudgeAttempt(bool stopping) {
    if (stopping) {
        SetState(Stopped);
        SetCameraState(false);
        return;
    }
    SetState(SignalLost);
    if (GetFrameAge() > FrameTimeout()) {
        SetCameraState(false);
        NotifySignalLost();
    }
}

void CMjpegHttpChannel::OnJpegPicture(const uint8_t* picture, size_t size, uint32_t width,
                                      uint32_t height) {
    IFrameAllocator* allocator = driver->GetFrameAllocator();
    if (!allocator || !width || !height)
        return;
    IMediaFrame* frame =
        allocator->AllocateFrame(FOURCC_JPEG, static_cast<unsigned>(size),
                                 driver->GetDriverName().c_str());
    if (!frame)
        return;
    driver->SetLastFrameSize(static_cast<int>(width), static_cast<int>(height));
    frame->SetWidth(width);
    frame->SetHeight(height);
    frame->SetSizeClass(FrameSizeClass(width, height));
    frame->SetDataSize(static_cast<unsigned>(size));
    frame->SetFourCC(FOURCC_JPEG);
    frame->StampTime();
    if (uint8_t* data = frame->GetData()) {
        std::memcpy(data, picture, size);
        if (DeliverFrame(frame))
            SetState(Running);
        else if (!IsPaused())
            deliveryFailed = true;
    }
    allocator->ReleaseFrame(frame);
}

}  // namespace norvane
