#include "host/capture_sink.h"

#include "host/frames.h"

namespace host {

bool CaptureSink::DeliverFrame(norvane::IMediaFrame* media) {
    auto* frame = dynamic_cast<Frame*>(media);
    if (!frame)
        return false;
    DeliveredFrame record{frame->fourcc,   frame->width,   frame->height,
                          frame->sizeClass, frame->stamped, frame->timeSet,
                          frame->time,     frame->source,  frame->Payload()};
    std::function<void(const DeliveredFrame&)> callback;
    monitor_.With([&] {
        callback = callback_;
        return 0;
    });
    if (callback)
        callback(record);
    monitor_.Update([&] {
        ++frameCount_;
        if (keep_)
            frames_.push_back(std::move(record));
    });
    return accept_;
}

void CaptureSink::OnSignalLost() {
    monitor_.Update([&] { ++signalLost_; });
}

void CaptureSink::SetFrameCallback(std::function<void(const DeliveredFrame&)> callback) {
    monitor_.Update([&] { callback_ = std::move(callback); });
}

std::vector<DeliveredFrame> CaptureSink::Frames() {
    return monitor_.With([&] { return frames_; });
}

size_t CaptureSink::FrameCount() {
    return monitor_.With([&] { return frameCount_; });
}

size_t CaptureSink::SignalLostCount() {
    return monitor_.With([&] { return signalLost_; });
}

bool CaptureSink::WaitForFrames(size_t count, std::chrono::milliseconds timeout) {
    return monitor_.WaitFor([&] { return frameCount_ >= count; }, timeout);
}

bool CaptureSink::WaitForSignalLost(size_t count, std::chrono::milliseconds timeout) {
    return monitor_.WaitFor([&] { return signalLost_ >= count; }, timeout);
}

void CaptureSink::Clear() {
    monitor_.Update([&] {
        frames_.clear();
        frameCount_ = 0;
        signalLost_ = 0;
    });
}

}  // namespace host
