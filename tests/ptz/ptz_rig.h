// A simulated camera on loopback and a fake driver pointed at it, for the PTZ objects.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camsim/camera.h"
#include "camsim/http_server.h"
#include "support/fake_driver.h"
#include "support/media.h"

namespace test {

class PtzTest : public ::testing::Test {
protected:
    void SetUp() override {
        camsim::CameraConfig config;
        // A group-1 camera with a full head, as custom parameter 3 tells the driver.
        config.personality = camsim::Personality::ForModel("VCC-HD1100");
        camera = std::make_unique<camsim::Camera>(config);
        ASSERT_TRUE(camera->Start());
        driver.info.port = camera->HttpPort();
        driver.custom[3] = "1";
        driver.custom[6] = "0080F0A1B2C3";
    }

    std::vector<std::string> Commands() { return camera->Cgi().Commands(); }
    // True once the camera has received `count` operation commands, within the limit.
    bool WaitForCommands(size_t count, unsigned milliseconds = 5000) {
        return camera->Http().WaitUntil([&] { return camera->Cgi().Commands().size() >= count; },
                                        milliseconds);
    }

    std::unique_ptr<camsim::Camera> camera;
    FakeDriver driver;
};

}  // namespace test
