// Channel factory and channels that record what the driver and video capture object do.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <string>
#include <vector>

#include "channels/camera_channel.h"
#include "driver/ip_capture_driver.h"
#include "io/motion_channel.h"

namespace test {

struct ChannelEvents {
    std::vector<std::string> events;  // "create 0", "start 0 640x480 q50", "stop 0", ...
    void Add(const std::string& e) {
        std::lock_guard<std::mutex> guard(mutex);
        events.push_back(e);
    }
    std::mutex mutex;
};

class FakeChannel : public norvane::ICameraChannel {
public:
    FakeChannel(unsigned index, ChannelEvents* log, bool startResult)
        : index(index), log(log), startResult(startResult) {}
    ~FakeChannel() override { log->Add("delete " + std::to_string(index)); }

    bool Start(const norvane::CAPTURE_PARAMS* p) override {
        log->Add("start " + std::to_string(index) + " " + Describe(p));
        return startResult;
    }
    void Stop() override { log->Add("stop " + std::to_string(index)); }
    bool Restart(const norvane::CAPTURE_PARAMS* p) override {
        log->Add("restart " + std::to_string(index) + " " + Describe(p));
        return true;
    }
    bool Pause() override {
        log->Add("pause " + std::to_string(index));
        return true;
    }
    bool Resume() override {
        log->Add("resume " + std::to_string(index));
        return true;
    }
    norvane::ChannelState GetState() override { return norvane::SignalLost; }
    void Retire() override { log->Add("retire " + std::to_string(index)); }
    bool IsOwnThread() override { return ownThread && *ownThread; }

    const bool* ownThread = nullptr;  // while it points to true, callers are "on" this channel

private:
    static std::string Describe(const norvane::CAPTURE_PARAMS* p) {
        return std::to_string(p->width) + "x" + std::to_string(p->height) + " r" +
               std::to_string(p->frameRate) + " q" + std::to_string(p->quality);
    }
    unsigned index;
    ChannelEvents* log;
    bool startResult;
};

class FakeMotion : public norvane::IMotionChannel {
public:
    FakeMotion(unsigned index, ChannelEvents* log, bool startResult)
        : index(index), log(log), startResult(startResult) {}
    ~FakeMotion() override { log->Add("delete motion " + std::to_string(index)); }
    bool StartDetection() override {
        log->Add("start motion " + std::to_string(index));
        return startResult;
    }
    void StopDetection() override { log->Add("stop motion " + std::to_string(index)); }

private:
    unsigned index;
    ChannelEvents* log;
    bool startResult;
};

// Driver with configurable sub-object creation and recording channel factory.
class TestDriver : public norvane::CIPCaptureDriver {
public:
    // Channels record into this object's members, so they go before the members do.
    ~TestDriver() override { Close(); }
    bool CreateIO() override {
        ++ioCalls;
        return ioResult;
    }
    bool CreatePTZ() override {
        ++ptzCalls;
        return ptzResult;
    }
    std::string GetDriverName() override { return name; }
    norvane::ICameraChannel* CreateChannel(unsigned index, norvane::ICaptureSink*,
                                           bool largeFrame) override {
        channels.Add("create " + std::to_string(index) + (largeFrame ? " large" : ""));
        if (!createChannels)
            return nullptr;
        auto* channel = new FakeChannel(index, &channels, channelStarts);
        channel->ownThread = &onChannelThread;
        if (onCreate)
            std::exchange(onCreate, nullptr)();
        return channel;
    }
    norvane::IMotionChannel* CreateMotionChannel(unsigned index, norvane::ICaptureSink*) override {
        channels.Add("create motion " + std::to_string(index));
        return new FakeMotion(index, &channels, motionStarts);
    }
    norvane::ipcapture::IIPVideoCaptureEx* Video() { return GetVideoCaptureEx(); }

    std::string name = "Tavrin";
    bool ioResult = true;
    bool ptzResult = true;
    bool createChannels = true;
    bool channelStarts = true;
    bool motionStarts = true;
    bool onChannelThread = false;
    std::function<void()> onCreate;  // runs once, inside the next CreateChannel
    int ioCalls = 0;
    int ptzCalls = 0;
    ChannelEvents channels;
};

}  // namespace test
