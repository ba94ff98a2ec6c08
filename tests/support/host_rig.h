// The host's side of one simulated camera through Tavrin.so, as end-to-end tests use it.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "camsim/camera.h"
#include "host/capture_sink.h"
#include "host/channel_config.h"
#include "host/device_config.h"
#include "host/driver_library.h"
#include "host/frames.h"
#include "host/log_receiver.h"
#include "norvane/ipcapture.h"
#include "support/media.h"

namespace test {

inline long long MillisecondsOf(const std::function<void()>& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// The host's side of one camera: the loaded library, its objects and the simulated camera.
class HostRig {
public:
    HostRig(int codec, camsim::HttpAuthConfig::Mode auth, int channels = 1) {
        camsim::CameraConfig camera;
        camera.personality = camsim::Personality::ForModel("VCC-HD4000");
        camera.auth = auth;
        camera.mediaDir = test::MediaDir();
        simulator = std::make_unique<camsim::Camera>(camera);
        started = simulator->Start() && library.Load(TAVRIN_SO_PATH);
        config.device.model = camera.personality.modelName;
        config.device.channelCount = channels;
        config.connection.address = "127.0.0.1";
        config.connection.port = simulator->HttpPort();
        config.connection.userName = camera.user;
        config.connection.password = camera.password;
        config.connection.codecType = codec;
        config.SetCustomParameter(1, camera.personality.family25 ? "0" : "1");
        config.SetCustomParameter(2, std::to_string(simulator->RtspPort()));
        config.SetCustomParameter(3, std::to_string(camera.personality.group));
        config.SetCustomParameter(4, camera.personality.mjpegPath);
        config.SetCustomParameter(5, camera.personality.h264Path);
        channel.format.resolution = host::Resolution(320, 240);
    }
    ~HostRig() { Close(); }

    bool Open() {
        driver = library.CreateDriver();
        if (!driver || !driver->Open(&log, &frames, &config))
            return false;
        video = driver->GetVideoCaptureEx();
        return video != nullptr;
    }
    void Close() {
        if (!driver)
            return;
        driver->Close();
        library.DeleteDriver(driver);
        driver = nullptr;
        video = nullptr;
    }
    size_t CountRtsp(const std::string& method) {
        size_t n = 0;
        for (const auto& entry : simulator->Rtsp().Requests())
            n += entry.method == method;
        return n;
    }

    std::unique_ptr<camsim::Camera> simulator;
    host::DriverLibrary library;
    bool started = false;
    host::LogReceiver log;
    host::FrameAllocator frames;
    host::DeviceConfig config;
    host::ChannelConfig channel;
    host::CaptureSink sink;
    norvane::ipcapture::IIPCaptureDriverEx3* driver = nullptr;
    norvane::ipcapture::IIPVideoCaptureEx* video = nullptr;
};

}  // namespace test
