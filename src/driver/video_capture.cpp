#include "driver/video_capture.h"

#include "channels/camera_channel.h"
#include "io/motion_channel.h"

namespace norvane {

CIPVideoCapture::CIPVideoCapture(unsigned channelCount, ICustomCreator* creator)
    : creator(creator), channels(channelCount) {}

CIPVideoCapture::~CIPVideoCapture() {
    for (unsigned i = 0; i < channels.size(); ++i)
        StopChannel(i);
}

unsigned CIPVideoCapture::GetChannelCount() {
    CLockGuard guard(lock);
    return static_cast<unsigned>(channels.size());
}

bool CIPVideoCapture::StartChannel(unsigned index, ICaptureSink* sink, IChannelConfig* config) {
    if (index >= GetChannelCount() || !config)
        return false;
    StopChannel(index);
    IStreamSettings* stream = config->GetStreamSettings();
    IVideoFormat* format = config->GetVideoFormat();
    IResolution* resolution = format ? format->GetResolution() : nullptr;
    if (!stream || !resolution)
        return false;
    CAPTURE_PARAMS params;
    params.frameRate = stream->GetFrameRate();
    params.quality = stream->GetQuality();
    params.width = resolution->GetWidth();
    params.height = resolution->GetHeight();

    ICameraChannel* channel =
        creator->CreateChannel(index, sink, params.width > LARGE_FRAME_WIDTH);
    if (!channel)
        return false;
    bool started = channel->Start(&params);
    IMotionChannel* motion = nullptr;
    if (started && stream->IsMotionDetectionEnabled() != 0) {
        motion = creator->CreateMotionChannel(index, sink);
        if (motion)
            started = motion->StartDetection();
    }
    CLockGuard guard(lock);
    channels[index] = Entry{channel, motion};
    return started;
}

bool CIPVideoCapture::StopChannel(unsigned index) {
    Entry entry;
    {
        CLockGuard guard(lock);
        if (index >= channels.size())
            return false;
        entry = channels[index];
        channels[index] = Entry{};
    }
    if (entry.motion) {
        entry.motion->StopDetection();
        delete entry.motion;
    }
    if (entry.channel) {
        entry.channel->Stop();
        delete entry.channel;
    }
    return entry.channel || entry.motion;
}

ICameraChannel* CIPVideoCapture::FindChannel(unsigned index) {
    CLockGuard guard(lock);
    return index < channels.size() ? channels[index].channel : nullptr;
}

bool CIPVideoCapture::ChangeChannelFormat(unsigned index, IResolution* format,
                                          unsigned frameRate) {
    ICameraChannel* channel = FindChannel(index);
    if (!channel || !format)
        return false;
    CAPTURE_PARAMS params;
    params.frameRate = frameRate;
    params.quality = 0;  // the channel keeps its quality
    params.width = format->GetWidth();
    params.height = format->GetHeight();
    return channel->Restart(&params);
}

bool CIPVideoCapture::GetChannelState(unsigned index, int* state, int* detail, char* text,
                                      unsigned textSize) {
    if (detail)
        *detail = 0;
    if (textSize > 0 && text)
        text[0] = '\0';
    ICameraChannel* channel = FindChannel(index);
    if (!channel)
        return false;
    const int current = channel->GetState();
    if (state)
        *state = current;
    return true;
}

bool CIPVideoCapture::PauseChannel(unsigned index) {
    ICameraChannel* channel = FindChannel(index);
    return channel && channel->Pause();
}

bool CIPVideoCapture::ResumeChannel(unsigned index) {
    ICameraChannel* channel = FindChannel(index);
    return channel && channel->Resume();
}

}  // namespace norvane
