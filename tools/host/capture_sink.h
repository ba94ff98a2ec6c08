// Host per-channel callback that records delivered frames and signal-loss notices.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "host/monitor.h"
#include "norvane/host.h"

namespace host {

struct DeliveredFrame {
    unsigned fourcc;
    unsigned width;
    unsigned height;
    unsigned sizeClass;
    bool stamped;
    bool timeSet;
    SYSTEMTIME time;
    std::string source;
    std::vector<uint8_t> data;
};

class CaptureSink : public norvane::TBoundaryObject<norvane::ICaptureSink> {
public:
    bool DeliverFrame(norvane::IMediaFrame* frame) override;
    void OnSignalLost() override;

    // What DeliverFrame answers (true: the host took the frame).
    void SetAccept(bool accept) { accept_ = accept; }
    // Called for each frame outside the recording (a writer, for instance).
    void SetFrameCallback(std::function<void(const DeliveredFrame&)> callback);
    // Frames are kept unless this is off (long runs keep only counts).
    void SetKeepFrames(bool keep) { keep_ = keep; }

    std::vector<DeliveredFrame> Frames();
    size_t FrameCount();
    size_t SignalLostCount();
    bool WaitForFrames(size_t count, std::chrono::milliseconds timeout);
    bool WaitForSignalLost(size_t count, std::chrono::milliseconds timeout);
    void Clear();

private:
    Monitor monitor_;
    std::vector<DeliveredFrame> frames_;
    size_t frameCount_ = 0;
    size_t signalLost_ = 0;
    std::atomic<bool> accept_{true};
    std::atomic<bool> keep_{true};
    std::function<void(const DeliveredFrame&)> callback_;
};

}  // namespace host
