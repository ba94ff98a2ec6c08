// A simulated camera on loopback and a fake driver pointing at it, for the I/O and motion tests.
#pragma once

#include <algorithm>
#include <memory>
#include <string>

#include "camsim/camera.h"
#include "camsim/http_server.h"
#include "support/fake_driver.h"

namespace test {

class IORig {
public:
    explicit IORig(int group, int inputs = 4, int outputs = 1) {
        camsim::CameraConfig config;
        config.personality = camsim::Personality::ForModel("VCC-HD4000");
        config.personality.group = group;
        config.personality.inputs = inputs;
        config.personality.outputs = outputs;
        camera = std::make_unique<camsim::Camera>(config);
        started = camera->Start();
        driver.info.port = camera->HttpPort();
        driver.inputs = static_cast<uint32_t>(inputs);
        driver.outputs = static_cast<uint32_t>(outputs);
        driver.custom[3] = std::to_string(group);
    }

    // Requests whose target starts with `prefix`, in arrival order.
    std::vector<std::string> Targets(const std::string& prefix) {
        std::vector<std::string> out;
        for (const auto& r : camera->Http().Requests())
            if (r.target.rfind(prefix, 0) == 0)
                out.push_back(r.target);
        return out;
    }
    size_t Count(const std::string& prefix) { return Targets(prefix).size(); }
    // True once `count` requests starting with `prefix` arrived within `ms`.
    bool WaitForRequests(const std::string& prefix, size_t count, unsigned ms) {
        return camera->Http().WaitUntil([&] { return Count(prefix) >= count; }, ms);
    }

    std::unique_ptr<camsim::Camera> camera;
    FakeDriver driver;
    bool started = false;
};

}  // namespace test
