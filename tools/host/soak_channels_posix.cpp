#include "host/soak_channels.h"

#include <algorithm>
#include <cstdint>

#include "host/frames.h"

namespace host {

bool VideoSink::DeliverFrame(norvane::IMediaFrame* media) {
    const auto* frame = dynamic_cast<Frame*>(media);
    if (frame && frame->fourcc == norvane::FOURCC_MEMD) {
        ++motion_;
        return true;
    }
    return CaptureSink::DeliverFrame(media);
}

SoakChannels::SoakChannels(norvane::ipcapture::IIPVideoCapture& video, unsigned count)
    : video_(video), marks_(count, 0) {
    config_.stream.motionDetection = 1;
    for (unsigned i = 0; i < count; ++i) {
        sinks_.push_back(std::make_unique<VideoSink>());
        sinks_.back()->SetKeepFrames(false);
    }
}

SoakChannels::~SoakChannels() {
    for (unsigned i = 0; i < sinks_.size(); ++i)
        video_.StopChannel(i);
}

unsigned SoakChannels::Start() {
    unsigned started = 0;
    for (unsigned i = 0; i < sinks_.size(); ++i)
        started += video_.StartChannel(i, sinks_[i].get(), &config_);
    return started;
}

size_t SoakChannels::SignalLost() const {
    size_t n = 0;
    for (const auto& sink : sinks_)
        n += sink->SignalLostCount();
    return n;
}

size_t SoakChannels::MotionRecords() const {
    size_t n = 0;
    for (const auto& sink : sinks_)
        n += sink->MotionRecords();
    return n;
}

std::vector<unsigned> SoakChannels::Silent() const {
    std::vector<unsigned> silent;
    for (unsigned i = 0; i < sinks_.size(); ++i)
        if (Frames(i) <= marks_[i])
            silent.push_back(i);
    return silent;
}

std::vector<unsigned> SoakChannels::WaitAllDelivered(
    std::chrono::steady_clock::time_point deadline) const {
    using std::chrono::milliseconds;
    for (unsigned i = 0; i < sinks_.size(); ++i) {
        const auto left =
            std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
        sinks_[i]->WaitForFrames(marks_[i] + 1, std::max(left, milliseconds(0)));
    }
    return Silent();
}

std::pair<size_t, size_t> SoakChannels::Spread() const {
    if (sinks_.empty())
        return {0, 0};
    size_t low = SIZE_MAX, high = 0;
    for (unsigned i = 0; i < sinks_.size(); ++i) {
        low = std::min(low, Frames(i) - marks_[i]);
        high = std::max(high, Frames(i) - marks_[i]);
    }
    return {low, high};
}

void SoakChannels::Mark() {
    for (unsigned i = 0; i < sinks_.size(); ++i)
        marks_[i] = Frames(i);
}

}  // namespace host
