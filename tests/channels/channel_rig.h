// A simulated camera on loopback and a fake driver pointing at it, with small time-outs, for
// running the real channel classes in a test.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "camsim/camera.h"
#include "host/capture_sink.h"
#include "support/camera_checks.h"
#include "support/fake_driver.h"
#include "support/media.h"

namespace test {

struct ChannelRig {
    explicit ChannelRig(camsim::HttpAuthConfig::Mode auth = camsim::HttpAuthConfig::Mode::None,
                        const std::string& model = "VCC-HD4000") {
        camsim::CameraConfig config;
        config.personality = camsim::Personality::ForModel(model);
        config.auth = auth;
        config.mediaDir = MediaDir();
        camera = std::make_unique<camsim::Camera>(config);
        started = camera->Start();
        driver.info.address = "127.0.0.1";
        driver.info.port = camera->HttpPort();
        driver.info.userName = config.user;
        driver.info.password = config.password;
        driver.info.timeout = 1000;
        driver.info.timeout2 = 600;
        driver.custom[2] = std::to_string(camera->RtspPort());
        driver.custom[3] = std::to_string(config.personality.group);
        driver.custom[4] = config.personality.mjpegPath;
        driver.custom[5] = config.personality.h264Path;
    }

    // Parameters of a 25 fps stream of the reference media's size.
    static norvane::CAPTURE_PARAMS Params(uint32_t width = 320, uint32_t height = 240) {
        norvane::CAPTURE_PARAMS params;
        params.frameRate = 40;
        params.quality = 50;
        params.width = width;
        params.height = height;
        return params;
    }

    // Requests the camera's HTTP side received, as "path?query".
    std::vector<std::string> CgiRequests() {
        std::vector<std::string> targets;
        for (const auto& request : camera->Http().Requests())
            targets.push_back(request.target);
        return targets;
    }
    size_t CountRtsp(const std::string& method) { return CountRtspRequests(*camera, method); }

    std::unique_ptr<camsim::Camera> camera;
    bool started = false;
    FakeDriver driver;
    host::CaptureSink sink;
};

}  // namespace test
