// The host's side of one camera for end-to-end tests: Tavrin.so loaded as a recording server
// loads it, its objects, and the simulated camera it opens.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "camsim/camera.h"
#include "host/capture_sink.h"
#include "host/channel_config.h"
#include "host/device_config.h"
#include "host/driver_library.h"
#include "host/frames.h"
#include "host/log_receiver.h"
#include "norvane/ipcapture.h"
#include "support/camera_checks.h"
#include "support/media.h"

namespace test {

// The host's side of one camera: the loaded library, its objects and the simulated camera.
class HostRig {
public:
    HostRig(int codec, camsim::HttpAuthConfig::Mode auth, int channels = 1,
            camsim::Personality personality = camsim::Personality::ForModel("VCC-HD4000"),
            const std::string& h264Media = {}) {
        camsim::CameraConfig camera;
        if (!h264Media.empty())
            camera.h264Media = h264Media;
        camera.personality = std::move(personality);
        camera.auth = auth;
        camera.mediaDir = test::MediaDir();
        simulator = std::make_unique<camsim::Camera>(camera);
        started = simulator->Start() && library.Load(TAVRIN_SO_PATH);
        config.device.model = camera.personality.modelName;
        config.device.channelCount = channels;
        config.device.inputCount = camera.personality.inputs;
        config.device.outputCount = camera.personality.outputs;
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
        // As a host does: the driver reads custom parameters up to the first one missing.
        for (int n = 6; n <= 9; ++n)
            config.SetCustomParameter(n, "(none)");
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
    size_t CountRtsp(const std::string& method) { return CountRtspRequests(*simulator, method); }

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
