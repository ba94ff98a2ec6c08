// The capability query module against the simulated camera, with short limits: the address
// check, the failure reports, one query per module, the bounded stop of a held query and a
// module deleted from its own callback.
#include "driver/capability_query.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "camsim/camera.h"
#include "camsim/http_server.h"
#include "host/capability_results.h"
#include "host/probe.h"

using namespace norvane;
using namespace std::chrono_literals;
using camsim::HttpReply;
using Outcome = host::QueryCallback::Outcome;

namespace {

constexpr CCapabilityQueryModule::Timing SHORT{2000, 300};

// A callback that deletes its module from inside the success or failure report.
class DeletingCallback : public host::QueryCallback {
public:
    void OnQuerySucceeded() override {
        DeleteObject(module);
        host::QueryCallback::OnQuerySucceeded();
    }
    void OnQueryFailed(int code, const char* message) override {
        DeleteObject(module);
        host::QueryCallback::OnQueryFailed(code, message);
    }
    IIPCapabilityQuery* module = nullptr;
};

HttpReply Silent() {
    HttpReply reply;
    reply.action = HttpReply::Action::Silent;
    return reply;
}

}  // namespace

class CapabilityQueryTest : public ::testing::Test {
protected:
    void SetUp() override {
        camsim::CameraConfig config;
        config.personality = camsim::Personality::ForModel("VCC-HD2300");
        camera = std::make_unique<camsim::Camera>(config);
        ASSERT_TRUE(camera->Start());
        module = std::make_unique<CSanyoCapabilityQueryModule>(&callback, false, SHORT);
    }
    int Start(const char* address, ICapabilityResults* to) {
        return module->Start(address, camera->HttpPort(), "admin", "admin", to);
    }

    std::unique_ptr<camsim::Camera> camera;
    host::QueryCallback callback;
    host::CapabilityResults results;
    std::unique_ptr<CSanyoCapabilityQueryModule> module;
};

TEST(CapabilityAddress, TheTwentySixCharactersAreInvalid) {
    const std::string invalid = "@#$%^&*(){}[]/\\+=|:;,~'\"!?";
    EXPECT_EQ(invalid.size(), 26u);
    for (char c : invalid)
        EXPECT_FALSE(CCapabilityQueryModule::IsValidAddress(std::string("cam") + c + "1")) << c;
    EXPECT_TRUE(CCapabilityQueryModule::IsValidAddress("10.0.0.5"));
    EXPECT_TRUE(CCapabilityQueryModule::IsValidAddress("camera-7.example_net"));
}

TEST_F(CapabilityQueryTest, SucceedsOnceAndASecondStartIsRefused) {
    ASSERT_EQ(Start("127.0.0.1", &results), 1);
    ASSERT_TRUE(callback.Wait(10s));
    EXPECT_EQ(callback.Result(), Outcome::Succeeded);
    EXPECT_EQ(results.Record().custom.at(3).value, "3");
    const size_t requests = camera->Http().RequestCount();
    EXPECT_EQ(Start("127.0.0.1", &results), 0);
    module.reset();
    EXPECT_EQ(callback.Calls(), 1);
    EXPECT_EQ(camera->Http().RequestCount(), requests);
}

TEST_F(CapabilityQueryTest, InvalidAddressFailsOnTheThreadWithoutTraffic) {
    ASSERT_EQ(Start("127.0.0.1:80", &results), 1);
    ASSERT_TRUE(callback.Wait(10s));
    EXPECT_EQ(callback.Result(), Outcome::Failed);
    EXPECT_EQ(callback.Code(), 0);
    EXPECT_EQ(callback.Message(),
              "Failed to start capability fetching thread. Device address is invalid!");
    EXPECT_EQ(camera->Http().RequestCount(), 0u);
    EXPECT_EQ(results.Record().writes, 0u);
}

TEST_F(CapabilityQueryTest, NullResultsAndMissingArguments) {
    EXPECT_EQ(module->Start(nullptr, 80, "u", "p", &results), 0);
    EXPECT_EQ(module->Start("127.0.0.1", 80, "u", nullptr, &results), 0);
    ASSERT_EQ(Start("127.0.0.1", nullptr), 1);
    ASSERT_TRUE(callback.Wait(10s));
    EXPECT_EQ(callback.Code(), 3);
    EXPECT_EQ(callback.Message(),
              "Failed to start capability fetching thread. Internal error occurs");
    EXPECT_EQ(camera->Http().RequestCount(), 0u);
}

TEST_F(CapabilityQueryTest, ReadFailureIsReportedWithCode3) {
    camera->SetPageFault("/cgi-bin/aspect.cgi", HttpReply::Text(200, "aspect_ratio:(7)\r\n"));
    ASSERT_EQ(Start("127.0.0.1", &results), 1);
    ASSERT_TRUE(callback.Wait(10s));
    EXPECT_EQ(callback.Code(), 3);
    EXPECT_EQ(callback.Message(), "Failed to get camera properties");
    EXPECT_EQ(results.Record().writes, 0u) << "nothing is written after a failed read";
}

// Terminate during a request: the read stops before its next step and fails; the partial
// findings never reach the host.
TEST_F(CapabilityQueryTest, TerminatedQueryFailsInsteadOfWritingPartialResults) {
    camera->SetPageFault("/cgi-bin/cam_set.cgi", [] {
        HttpReply slow = HttpReply::Text(200, "model_name:(VCC-HD2300)\r\nmodel:(1)\r\n");
        slow.headDelayMs = 300;
        return slow;
    }());
    ASSERT_EQ(Start("127.0.0.1", &results), 1);
    ASSERT_TRUE(camera->Http().WaitUntil([&] { return camera->Http().RequestCount() >= 1; }, 5000));
    module->Terminate();
    ASSERT_TRUE(callback.Wait(10s));
    EXPECT_EQ(callback.Result(), Outcome::Failed);
    EXPECT_EQ(callback.Code(), 3);
    EXPECT_EQ(results.Record().writes, 0u);
    EXPECT_EQ(camera->Http().RequestCount(), 1u);
}

// Deletion while the camera holds a request: the request is cut at once (the stop limit is not
// waited out), the query fails on its thread and the host hears that once, and only that.
TEST_F(CapabilityQueryTest, DeletionCutsAHeldRequestAndReportsTheFailureOnce) {
    module = std::make_unique<CSanyoCapabilityQueryModule>(
        &callback, false, CCapabilityQueryModule::Timing{60000, 20000});
    camera->SetPageFault("/cgi-bin/cam_set.cgi", Silent());
    ASSERT_EQ(Start("127.0.0.1", &results), 1);
    ASSERT_TRUE(camera->Http().WaitUntil([&] { return camera->Http().RequestCount() >= 1; }, 5000));
    const auto start = std::chrono::steady_clock::now();
    module.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "a 20 s stop limit waited out";
    EXPECT_EQ(callback.Terminations(), 0);
    EXPECT_EQ(callback.Calls(), 1);
    EXPECT_EQ(callback.Result(), Outcome::Failed);
    EXPECT_EQ(results.Record().writes, 0u);
}

TEST_F(CapabilityQueryTest, ModuleDeletedFromItsOwnCallback) {
    for (bool fail : {false, true}) {
        if (fail)
            camera->SetPageFault("/cgi-bin/net.cgi", HttpReply::Text(404, "missing"));
        DeletingCallback self;
        self.module = new CSanyoCapabilityQueryModule(&self, false, SHORT);
        ASSERT_EQ(self.module->Start("127.0.0.1", camera->HttpPort(), "", "", &results), 1);
        ASSERT_TRUE(self.Wait(10s));
        EXPECT_EQ(self.Result(), fail ? Outcome::Failed : Outcome::Succeeded);
        EXPECT_EQ(self.Terminations(), 0);
    }
}
