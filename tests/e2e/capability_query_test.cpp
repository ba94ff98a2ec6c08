// A host asks Tavrin.so what a simulated camera offers, through the capability exports: the
// results per camera group, the probed parameters driving a stream, failures, a held request at
// Uninit, a callback calling the exports, and host threads racing on the process-wide module.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "host/bundled_camera.h"
#include "host/probe.h"
#include "support/host_rig.h"

using namespace norvane;
using namespace std::chrono_literals;
using camsim::HttpReply;
using Outcome = host::QueryCallback::Outcome;

namespace {

// A query's requests end within their own time-outs; this only keeps a broken run finite.
constexpr auto ANSWER_LIMIT = 60s;

struct Case {
    std::string model;
    size_t sizes;         // picture sizes offered at aspect class 1
    size_t framePeriods;  // 30-frame family
};

class Exports : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(library.Load(TAVRIN_SO_PATH)) << library.Error(); }
    void StartCamera(camsim::Personality personality,
                     camsim::HttpAuthConfig::Mode auth = camsim::HttpAuthConfig::Mode::None) {
        camsim::CameraConfig config;
        config.personality = personality;
        config.auth = auth;
        camera = std::make_unique<camsim::Camera>(config);
        ASSERT_TRUE(camera->Start());
    }
    host::ProbeResult ProbeCamera(const std::string& password = "admin") {
        return host::Probe(library, {"127.0.0.1", camera->HttpPort(), "admin", password},
                           ANSWER_LIMIT);
    }
    // One query through the process-wide module; the outcome once Uninit returned.
    void QueryProcessWide(const char* address, ICapabilityResults* to) {
        const host::CapabilityApi& api = library.Capability();
        ASSERT_EQ(api.init(&callback, 0), 1);
        EXPECT_EQ(api.init(&callback, 0), 0) << "the first module stays";
        ASSERT_EQ(api.start(address, camera->HttpPort(), "admin", "admin", to), 1);
        EXPECT_TRUE(callback.Wait(ANSWER_LIMIT));
        EXPECT_EQ(api.uninit(), 1);
    }

    host::DriverLibrary library;
    std::unique_ptr<camsim::Camera> camera;
    host::QueryCallback callback;
    host::CapabilityResults results;
};

}  // namespace

// Every camera group, and a camera without stream paths on its net page: the custom parameters
// a host stores are what the camera's own pages say, with the names and flags of the table.
TEST_F(Exports, EachCameraGroupGivesTheFullResultSet) {
    const std::vector<Case> cases = {
        {"VCC-HD1100", 7, 6}, {"VCC-HD4000", 10, 8}, {"VCC-HD2300", 7, 6},
        {"VCC-HD4600", 7, 6}, {"VCC-HD5600", 6, 6},
    };
    for (bool streamPaths : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.model + (streamPaths ? "" : " without stream paths"));
            camsim::Personality p = camsim::Personality::ForModel(c.model);
            p.streamsInNetPage = streamPaths;
            StartCamera(p);
            const host::ProbeResult probe = ProbeCamera();
            ASSERT_TRUE(probe.succeeded) << probe.message;
            std::map<int, std::string> expected = host::CustomParameters(p, camera->RtspPort());
            if (!streamPaths)
                expected[4] = "noRtspMjpeg";
            EXPECT_EQ(probe.record.CustomTexts(), expected);
            const std::vector<std::pair<std::string, uint32_t>> names = {
                {"Video standard", 0}, {"RTSP port", 0},    {"Camera group", 0},
                {"MJPEG RTSP", 1},     {"H264 RTSP", 1},    {"Mac Address", 1},
                {"Firmware", 1},       {"Aspect Ratio", 0}, {"Interlace", 0}};
            for (int n = 1; n <= 9; ++n) {
                EXPECT_EQ(probe.record.custom.at(n).name, names[n - 1].first);
                EXPECT_EQ(probe.record.custom.at(n).flag, names[n - 1].second);
            }
            EXPECT_EQ(probe.record.model, "Sanyo " + c.model);
            EXPECT_EQ(probe.record.capabilities.at(0), 1u);
            EXPECT_EQ(probe.record.capabilities.at(2), static_cast<uint32_t>(p.inputs));
            EXPECT_EQ(probe.record.capabilities.at(3), static_cast<uint32_t>(p.outputs));
            EXPECT_EQ(probe.record.resolutions.size(), c.sizes);
            EXPECT_EQ(probe.record.framePeriods.size(), c.framePeriods);
            EXPECT_EQ(probe.record.defaultFramePeriods, std::vector<uint32_t>{500});
            EXPECT_EQ(probe.record.connection.at(1), "127.0.0.1");
        }
    }
}

TEST_F(Exports, ProcessWideModuleRunsOneQuery) {
    StartCamera(camsim::Personality::ForModel("VCC-HD2300"));
    QueryProcessWide("127.0.0.1", &results);
    EXPECT_EQ(callback.Result(), Outcome::Succeeded);
    EXPECT_EQ(results.Record().custom.at(3).value, "3");
    EXPECT_EQ(library.Capability().start("127.0.0.1", 80, "", "", &results), 0)
        << "no module after Uninit";
}

// The probed parameters, handed to a driver as a host stores them, make it stream.
TEST(ProbeRoundTrip, ProbedParametersDriveAStream) {
    for (int codec : {3, 1}) {
        test::HostRig rig(codec, camsim::HttpAuthConfig::Mode::Digest, 1,
                           camsim::Personality::ForModel("VCC-HD2300"));
        ASSERT_TRUE(rig.started);
        const host::ProbeResult probe = host::Probe(
            rig.library, {"127.0.0.1", rig.simulator->HttpPort(), "admin", "admin"}, ANSWER_LIMIT);
        ASSERT_TRUE(probe.succeeded) << probe.message;
        rig.config.custom = probe.record.CustomTexts();
        ASSERT_TRUE(rig.Open());
        ASSERT_TRUE(rig.video->StartChannel(0, &rig.sink, &rig.channel));
        EXPECT_TRUE(rig.sink.WaitForFrames(10, 15s)) << "codec " << codec;
        EXPECT_EQ(rig.sink.Frames().front().fourcc, codec == 3 ? FOURCC_H264 : FOURCC_JPEG);
        rig.Close();
    }
}

TEST_F(Exports, InvalidAddressAndNullResultsFailWithoutTraffic) {
    StartCamera(camsim::Personality::ForModel("VCC-HD2300"));
    QueryProcessWide("127.0.0.1:80", &results);
    EXPECT_EQ(callback.Code(), 0);
    EXPECT_EQ(callback.Message(),
              "Failed to start capability fetching thread. Device address is invalid!");
    host::QueryCallback second;
    const host::CapabilityApi& api = library.Capability();
    ASSERT_EQ(api.init(&second, 0), 1);
    ASSERT_EQ(api.start("127.0.0.1", camera->HttpPort(), "", "", nullptr), 1);
    ASSERT_TRUE(second.Wait(ANSWER_LIMIT));
    api.uninit();
    EXPECT_EQ(second.Code(), 3);
    EXPECT_EQ(second.Message(),
              "Failed to start capability fetching thread. Internal error occurs");
    EXPECT_EQ(camera->Http().RequestCount(), 0u);
    EXPECT_EQ(results.Record().writes, 0u);
}

TEST_F(Exports, OfflineWrongCredentialsAndGarbageFailWithCode3) {
    StartCamera(camsim::Personality::ForModel("VCC-HD2300"), camsim::HttpAuthConfig::Mode::Digest);
    const auto expectFailure = [](const host::ProbeResult& probe) {
        EXPECT_TRUE(probe.answered);
        EXPECT_FALSE(probe.succeeded);
        EXPECT_EQ(probe.code, 3);
        EXPECT_EQ(probe.message, "Failed to get camera properties");
        EXPECT_EQ(probe.record.writes, 0u);
    };
    expectFailure(ProbeCamera("wrong"));
    for (const std::string& garbage :
         {std::string("\x7f\x80\xff(((:::\r\n"), std::string("\0\0\0\x01model:", 11)}) {
        camera->SetPageFault("/cgi-bin/cam_set.cgi", HttpReply::Text(200, garbage));
        expectFailure(ProbeCamera());
    }
    camera->ClearPageFaults();
    ASSERT_TRUE(camera->SetOffline(true));
    expectFailure(ProbeCamera());
}

// Uninit while the camera never answers: the query's own request time-out (10 s) ends it before
// the 20 s limit, the host hears one failure, and nothing after Uninit returned.
TEST_F(Exports, UninitDuringAHeldRequestReturnsWithinTheLimit) {
    StartCamera(camsim::Personality::ForModel("VCC-HD2300"));
    HttpReply silent;
    silent.action = HttpReply::Action::Silent;
    camera->SetPageFault("/cgi-bin/cam_set.cgi", silent);
    const host::CapabilityApi& api = library.Capability();
    ASSERT_EQ(api.init(&callback, 0), 1);
    ASSERT_EQ(api.start("127.0.0.1", camera->HttpPort(), "admin", "admin", &results), 1);
    ASSERT_TRUE(camera->Http().WaitUntil([&] { return camera->Http().RequestCount() >= 1; }, 5000));
    const long long took = test::MillisecondsOf([&] { api.uninit(); });
    EXPECT_LT(took, 21000);
    EXPECT_EQ(callback.Calls(), 1);
    EXPECT_EQ(callback.Result(), Outcome::Failed);
    EXPECT_EQ(callback.Code(), 3);
    EXPECT_EQ(results.Record().writes, 0u);
}

// A callback that calls the exports while Uninit waits for its query thread.
TEST_F(Exports, CallbackMayCallTheExportsDuringUninit) {
    class Calling : public host::QueryCallback {
    public:
        explicit Calling(const host::CapabilityApi& api) : api_(api) {}
        void OnQueryFailed(int code, const char* message) override {
            api_.terminate();
            EXPECT_EQ(api_.start("127.0.0.1", 1, "", "", nullptr), 0);
            host::QueryCallback::OnQueryFailed(code, message);
        }

    private:
        const host::CapabilityApi& api_;
    };
    StartCamera(camsim::Personality::ForModel("VCC-HD2300"));
    HttpReply slow = HttpReply::Text(200, "model_name:(VCC-HD2300)\r\nmodel:(1)\r\n");
    slow.headDelayMs = 500;
    camera->SetPageFault("/cgi-bin/cam_set.cgi", slow);
    const host::CapabilityApi& api = library.Capability();
    Calling calling(api);
    ASSERT_EQ(api.init(&calling, 0), 1);
    ASSERT_EQ(api.start("127.0.0.1", camera->HttpPort(), "admin", "admin", &results), 1);
    ASSERT_TRUE(camera->Http().WaitUntil([&] { return camera->Http().RequestCount() >= 1; }, 5000));
    EXPECT_LT(test::MillisecondsOf([&] { api.uninit(); }), 5000);
    EXPECT_EQ(calling.Result(), Outcome::Failed) << "Uninit cut the read short";
    EXPECT_EQ(calling.Calls(), 1);
}

// Init, Start, Terminate and Uninit from four host threads for 10 s: every query that started
// reports exactly once (a result or the terminated notice), and nothing crashes or races.
TEST_F(Exports, HostThreadsRaceOnTheProcessWideModule) {
    StartCamera(camsim::Personality::ForModel("VCC-HD2300"));
    const host::CapabilityApi& api = library.Capability();
    const uint16_t port = camera->HttpPort();
    std::atomic<int> started{0};
    std::atomic<int> loops{0};
    const auto until = std::chrono::steady_clock::now() + 10s;
    constexpr int MAX_LOOPS = 2000000;
    std::vector<std::thread> threads;
    for (int role = 0; role < 4; ++role) {
        threads.emplace_back([&, role] {
            for (int i = 0; i < MAX_LOOPS && std::chrono::steady_clock::now() < until; ++i) {
                ++loops;
                switch (role) {
                    case 0:
                        api.init(&callback, 0);
                        break;
                    case 1:
                        started += api.start("127.0.0.1", port, "admin", "admin", &results);
                        break;
                    case 2:
                        api.terminate();
                        break;
                    default:
                        api.uninit();
                        break;
                }
                std::this_thread::yield();
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    api.uninit();
    EXPECT_GT(started.load(), 0);
    EXPECT_EQ(callback.Calls(), started.load());
    std::printf("racing exports: %d calls, %d queries started\n", loops.load(), started.load());
}
