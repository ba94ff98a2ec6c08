#include "driver/video_capture.h"

#include <utility>

#include "channels/camera_channel.h"
#include "foundation/no_throw.h"
#include "io/motion_channel.h"

namespace norvane {

CIPVideoCapture::CIPVideoCapture(unsigned channelCount, ICustomCreator* creator)
    : creator(creator), channels(channelCount) {}

CIPVideoCapture::~CIPVideoCapture() {
    // Every channel is told to stop before the first is waited for, so that their teardowns
    // overlap instead of adding up.
    for (const Entry& entry : channels) {
        if (entry.channel)
            entry.channel->Retire();
    }
    for (unsigned i = 0; i < channels.size(); ++i)
        StopChannel(i);
    ReleaseRetired();
}

CIPVideoCapture::ChannelPtr CIPVideoCapture::Own(ICameraChannel* channel) {
    if (!channel)
        return nullptr;
    return ChannelPtr(channel);
}

CIPVideoCapture::MotionPtr CIPVideoCapture::Own(IMotionChannel* motion) {
    if (!motion)
        return nullptr;
    return MotionPtr(motion, [](IMotionChannel* m) {
        m->StopDetection();
        delete m;
    });
}

unsigned CIPVideoCapture::GetChannelCount() {
    CLockGuard guard(lock);
    return static_cast<unsigned>(channels.size());
}

bool CIPVideoCapture::StartChannel(unsigned index, ICaptureSink* sink, IChannelConfig* config) {
    return NoThrow(false, [&] { return StartChannelOrThrow(index, sink, config); });
}

bool CIPVideoCapture::StartChannelOrThrow(unsigned index, ICaptureSink* sink,
                                          IChannelConfig* config) {
    if (index >= GetChannelCount() || !sink || !config)
        return false;
    StopChannelOrThrow(index);
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

    ChannelPtr channel = Own(creator->CreateChannel(index, sink, params.width > LARGE_FRAME_WIDTH));
    if (!channel)
        return false;
    bool started = channel->Start(&params);
    MotionPtr motion;
    if (started && stream->IsMotionDetectionEnabled() != 0) {
        motion = Own(creator->CreateMotionChannel(index, sink));
        if (motion)
            started = motion->StartDetection();
    }
    Entry replaced;
    {
        CLockGuard guard(lock);
        replaced = std::exchange(channels[index], Entry{channel, motion});
    }
    // A start on another thread may have stored its channel meanwhile: it is stopped, not lost.
    Release(std::move(replaced));
    return started;
}

bool CIPVideoCapture::StopChannel(unsigned index) {
    return NoThrow(false, [&] { return StopChannelOrThrow(index); });
}

bool CIPVideoCapture::StopChannelOrThrow(unsigned index) {
    Entry entry;
    {
        CLockGuard guard(lock);
        if (index >= channels.size())
            return false;
        entry = std::exchange(channels[index], Entry{});
    }
    const bool held = entry.channel || entry.motion;
    Release(std::move(entry));
    return held;
}

void CIPVideoCapture::Release(Entry entry) {
    entry.motion.reset();
    if (entry.channel && entry.channel->IsOwnThread()) {
        entry.channel->Retire();
        CLockGuard guard(lock);
        retired.push_back(std::move(entry.channel));
        return;
    }
    if (entry.channel) {
        entry.channel->Retire();
        entry.channel->Stop();
    }
    ReleaseRetired();
}

void CIPVideoCapture::ReleaseRetired() {
    std::vector<ChannelPtr> ending;
    {
        CLockGuard guard(lock);
        for (auto it = retired.begin(); it != retired.end();) {
            if ((*it)->IsOwnThread()) {
                ++it;
            } else {
                ending.push_back(std::move(*it));
                it = retired.erase(it);
            }
        }
    }
    for (ChannelPtr& channel : ending)
        channel->Stop();
}

CIPVideoCapture::ChannelPtr CIPVideoCapture::FindChannel(unsigned index) {
    CLockGuard guard(lock);
    return index < channels.size() ? channels[index].channel : nullptr;
}

bool CIPVideoCapture::ChangeChannelFormat(unsigned index, IResolution* format, unsigned frameRate) {
    ChannelPtr channel = FindChannel(index);
    if (!channel || !format)
        return false;
    CAPTURE_PARAMS params;
    params.frameRate = frameRate;
    params.quality = 0;  // the channel keeps its quality
    params.width = format->GetWidth();
    params.height = format->GetHeight();
    return NoThrow(false, [&] { return channel->Restart(&params); });
}

bool CIPVideoCapture::GetChannelState(unsigned index, int* state, int* detail, char* text,
                                      unsigned textSize) {
    if (detail)
        *detail = 0;
    if (textSize > 0 && text)
        text[0] = '\0';
    ChannelPtr channel = FindChannel(index);
    if (!channel || !state)
        return false;
    *state = channel->GetState();
    return true;
}

bool CIPVideoCapture::PauseChannel(unsigned index) {
    ChannelPtr channel = FindChannel(index);
    return channel && channel->Pause();
}

bool CIPVideoCapture::ResumeChannel(unsigned index) {
    ChannelPtr channel = FindChannel(index);
    return channel && channel->Resume();
}

}  // namespace norvane
