// The Sanyo camera properties reader against the simulated camera: the pages visited per camera
// group, what each page yields, the tables of sizes and frame periods, what is written into the
// host's result object, failures and cancels.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "camera/sanyo_camera_properties.h"
#include "camsim/camera.h"
#include "camsim/http_server.h"
#include "host/capability_results.h"

using namespace norvane;
using camsim::HttpReply;
using Requests = std::vector<std::string>;

namespace {

const std::string MODEL = "/cgi-bin/cam_set.cgi?status=1";
const std::string NET = "/cgi-bin/net.cgi?status=1";
const std::string RTSP = "/cgi-bin/codec_stream.cgi?status=1&rtsp_rtp=1";
const std::string ASPECT = "/cgi-bin/aspect.cgi?status=1";
const std::string CODEC = "/cgi-bin/codec_stream.cgi?status=1";
const std::string ALARM_IN = "/cgi-bin/alarm_in.cgi?status=1";
const std::string ALARM_OUT = "/cgi-bin/alarm_out.cgi?status=1";
const std::string ALARM = "/cgi-bin/alarm_set.cgi?status=1";
const std::string LANGUAGE = "/cgi-bin/lang.cgi";

using Sizes = std::vector<std::pair<uint32_t, uint32_t>>;

}  // namespace

class CameraPropertiesTest : public ::testing::Test {
protected:
    void Start(camsim::Personality personality) {
        camsim::CameraConfig config;
        config.personality = personality;
        camera = std::make_unique<camsim::Camera>(config);
        ASSERT_TRUE(camera->Start());
        device.address = "127.0.0.1";
        device.port = camera->HttpPort();
        device.timeout = 2000;
        reader = std::make_unique<CSanyoCameraProperties>(device, false);
    }
    void Start(const std::string& model) { Start(camsim::Personality::ForModel(model)); }

    // Reads and writes; the record of what was written.
    host::CapabilityRecord ReadAndWrite() {
        int code = -1;
        EXPECT_TRUE(reader->ReadProperties(code));
        EXPECT_EQ(code, -1) << "a successful read leaves the code alone";
        host::CapabilityResults results;
        EXPECT_TRUE(reader->WriteResults(&results));
        return results.Record();
    }
    Requests Answered() {
        Requests out;
        for (const camsim::HttpRequest& r : camera->Http().Requests())
            out.push_back(r.target);
        return out;
    }
    static Sizes SizesOf(const host::CapabilityRecord& r, uint32_t period) {
        Sizes out;
        for (const host::ResolutionRecord& s : r.resolutions) {
            EXPECT_EQ(s.text, std::to_string(s.width) + "x" + std::to_string(s.height));
            if (s.framePeriod == period)
                out.emplace_back(s.width, s.height);
        }
        return out;
    }

    DEVICE_INFO device;
    std::unique_ptr<camsim::Camera> camera;
    std::unique_ptr<CSanyoCameraProperties> reader;
};

TEST(CameraGroup, FollowsTheModelNameTable) {
    EXPECT_EQ(CSanyoCameraProperties::GroupOfModel("VCC-HD4000", 6), 2u);
    EXPECT_EQ(CSanyoCameraProperties::GroupOfModel("xHD2300-P", 6), 3u);
    EXPECT_EQ(CSanyoCameraProperties::GroupOfModel("VCC-HD3100", 6), 3u);
    EXPECT_EQ(CSanyoCameraProperties::GroupOfModel("VCC-HD4600", 6), 4u);
    EXPECT_EQ(CSanyoCameraProperties::GroupOfModel("VCC-HD5400", 6), 5u);
    EXPECT_EQ(CSanyoCameraProperties::GroupOfModel("VCC-HD1100", 6), 1u);
    EXPECT_EQ(CSanyoCameraProperties::GroupOfModel("VCC-6592", 6), 6u) << "no HD keeps the group";
    // The first match wins: a name holding HD4000 and HD5600 is group 2.
    EXPECT_EQ(CSanyoCameraProperties::GroupOfModel("HD5600/HD4000", 6), 2u);
}

// A group-1 camera of the 25-frame family with narrow pictures: every finding, every custom
// parameter with its name and flag, the alarm pages of the other groups.
TEST_F(CameraPropertiesTest, Group1CameraGivesTheFullResultSet) {
    camsim::Personality p = camsim::Personality::ForModel("VCC-HD1100");
    p.family25 = true;
    p.aspectRatio = 1;
    p.audio = true;
    Start(p);
    const host::CapabilityRecord r = ReadAndWrite();
    EXPECT_EQ(
        Answered(),
        (Requests{MODEL, NET, ASPECT, CODEC, ALARM, "/cgi-bin/alarm_set.cgi?alarm_in1=1",
                  "/cgi-bin/alarm_set.cgi?alarm_in2=1", "/cgi-bin/alarm_set.cgi?alarm_out_sw2=1",
                  "/cgi-bin/alarm_set.cgi?alarm_out_sw=1"}));
    EXPECT_EQ(r.model, "Sanyo VCC-HD1100");
    EXPECT_EQ(r.capabilities,
              (std::map<uint32_t, uint32_t>{
                  {0, 1}, {1, 1}, {2, 2}, {3, 2}, {4, 1}, {7, 1}, {8, 1}, {11, 0}, {12, 0}}));
    EXPECT_EQ(SizesOf(r, 40),
              (Sizes{{320, 240}, {640, 480}, {800, 600}, {1024, 768}, {1280, 960}, {1600, 1200}}));
    EXPECT_EQ(SizesOf(r, 200), (Sizes{{2288, 1712}}));
    EXPECT_EQ(r.resolutions.size(), 7u);
    EXPECT_EQ(r.frameRateListKinds, std::vector<int>{1});
    EXPECT_EQ(r.framePeriods, (std::vector<uint32_t>{1000, 500, 200, 125, 83, 40}));
    EXPECT_EQ(r.defaultFramePeriods, std::vector<uint32_t>{500});
    EXPECT_EQ(r.connection,
              (std::map<int, std::string>{
                  {1, "127.0.0.1"}, {2, std::to_string(camera->HttpPort())}, {3, ""}, {4, ""}}));
    const std::vector<std::tuple<int, std::string, std::string, uint32_t>> expected = {
        {1, "Video standard", "0", 0},
        {2, "RTSP port", std::to_string(camera->RtspPort()), 0},
        {3, "Camera group", "1", 0},
        {4, "MJPEG RTSP", "mjpeg", 1},
        {5, "H264 RTSP", "h264", 1},
        {6, "Mac Address", "0080F0A1B2C3", 1},
        {7, "Firmware", "CAM MAIN:2.10 CAM SUB:1.03 NET MAIN:3.01 NET SUB:1.00", 1},
        {8, "Aspect Ratio", "1", 0},
        {9, "Interlace", "0", 0},
    };
    ASSERT_EQ(r.custom.size(), expected.size());
    for (const auto& [number, name, value, flag] : expected) {
        const host::CustomParameterRecord& e = r.custom.at(number);
        EXPECT_EQ(e.name, name) << number;
        EXPECT_EQ(e.value, value) << number;
        EXPECT_EQ(e.flag, flag) << number;
        EXPECT_EQ(e.option, 0) << number;
    }
    // The alarm inputs and outputs were switched on.
    EXPECT_EQ(camera->Cgi().AlarmValue("alarm_in1"), "1");
    EXPECT_EQ(camera->Cgi().AlarmValue("alarm_out_sw2"), "1");
}

// Group 2 reads its own alarm pages, has its own rate and size tables, and knows aspect values
// 2 and 3.
TEST_F(CameraPropertiesTest, Group2CameraUsesItsOwnPagesAndTables) {
    camsim::Personality p = camsim::Personality::ForModel("VCC-HD4000");
    p.family25 = false;
    p.aspectRatio = 3;  // wide in group 2
    p.interlace = true;
    Start(p);
    const host::CapabilityRecord r = ReadAndWrite();
    const Requests answered = Answered();
    ASSERT_GE(answered.size(), 6u);
    EXPECT_EQ(Requests(answered.begin(), answered.begin() + 6),
              (Requests{MODEL, NET, ASPECT, CODEC, ALARM_IN, ALARM_OUT}));
    EXPECT_EQ(r.framePeriods, (std::vector<uint32_t>{1000, 500, 333, 200, 100, 67, 50, 33}));
    // 1000 / 30 = 33 is above 30: the wide sizes of the group-2 table carry period 33.
    EXPECT_EQ(SizesOf(r, 33),
              (Sizes{{320, 180}, {640, 360}, {960, 540}, {1024, 576}, {1280, 720}}));
    EXPECT_EQ(r.resolutions.size(), 5u);
    EXPECT_EQ(r.custom.at(1).value, "1") << "30-frame family";
    EXPECT_EQ(r.custom.at(3).value, "2");
    EXPECT_EQ(r.custom.at(8).value, "0");
    EXPECT_EQ(r.custom.at(9).value, "1");
    EXPECT_EQ(r.capabilities.at(2), 1u);
    EXPECT_EQ(r.capabilities.at(3), 1u);
}

TEST_F(CameraPropertiesTest, Group5DropsTheLargestSize) {
    camsim::Personality p = camsim::Personality::ForModel("VCC-HD5600");
    p.aspectRatio = 1;
    p.family25 = false;
    Start(p);
    const host::CapabilityRecord r = ReadAndWrite();
    EXPECT_EQ(SizesOf(r, 200), Sizes{});
    // 1000 / 30 = 33 is above 30.
    EXPECT_EQ(SizesOf(r, 33).size(), 6u);
    EXPECT_EQ(r.custom.at(3).value, "5");
}

// Without a model_name line the camera is taken for a group-2 HD4000; without stream paths on the
// net page the H.264 path comes from the codec page and Motion-JPEG has none.
TEST_F(CameraPropertiesTest, MissingModelNameAndStreamPaths) {
    camsim::Personality p = camsim::Personality::ForModel("VCC-HD4000");
    p.modelName = "";
    p.streamsInNetPage = false;
    Start(p);
    const host::CapabilityRecord r = ReadAndWrite();
    EXPECT_EQ(r.model, "SanyoVCC-HD4000");
    EXPECT_EQ(r.custom.at(3).value, "2");
    EXPECT_EQ(r.custom.at(4).value, "noRtspMjpeg");
    EXPECT_EQ(r.custom.at(5).value, "h264");
    EXPECT_EQ(r.custom.at(2).value, std::to_string(camera->RtspPort()));
    const Requests answered = Answered();
    ASSERT_GE(answered.size(), 3u);
    EXPECT_EQ(answered[2], RTSP);
}

// A port of 0, or one outside 1-65535, keeps the port known so far.
TEST_F(CameraPropertiesTest, RtspPortOutsideTheRangeKeepsTheDefault) {
    Start("VCC-HD1100");
    for (const std::string port : {"0", "70000", "-5", "x"}) {
        camera->SetPageFault("/cgi-bin/net.cgi",
                             HttpReply::Text(200, "rtsp_port:(" + port + ")\r\nh_stream1:(h)\r\n"));
        reader = std::make_unique<CSanyoCameraProperties>(device, false);
        const host::CapabilityRecord r = ReadAndWrite();
        EXPECT_EQ(r.custom.at(2).value, "554") << port;
        EXPECT_EQ(r.custom.at(4).value, "noRtspMjpeg");
    }
    camera->SetPageFault("/cgi-bin/net.cgi", HttpReply::Text(200, "rtsp_port:(8554)\r\n"));
    reader = std::make_unique<CSanyoCameraProperties>(device, false);
    EXPECT_EQ(ReadAndWrite().custom.at(2).value, std::to_string(camera->RtspPort()))
        << "the codec page's port follows the net page's";
}

TEST_F(CameraPropertiesTest, AspectValuesTwoAndThreeAreForGroup2Only) {
    Start("VCC-HD1100");
    for (const char* value : {"2", "3", "9", "wide", ""}) {
        camera->SetPageFault("/cgi-bin/aspect.cgi",
                             HttpReply::Text(200, std::string("aspect_ratio:(") + value + ")\r\n"));
        reader = std::make_unique<CSanyoCameraProperties>(device, false);
        int code = -1;
        EXPECT_FALSE(reader->ReadProperties(code)) << value;
        EXPECT_EQ(code, 3);
    }
}

TEST_F(CameraPropertiesTest, LanguagePageIsVisitedOnceForAnHtmlAnswer) {
    Start("VCC-HD2300");
    camera->Cgi().SetLanguageChosen(false);
    const host::CapabilityRecord r = ReadAndWrite();
    const Requests answered = Answered();
    ASSERT_GE(answered.size(), 3u);
    EXPECT_EQ(Requests(answered.begin(), answered.begin() + 3), (Requests{MODEL, LANGUAGE, MODEL}));
    EXPECT_EQ(std::count(answered.begin(), answered.end(), LANGUAGE), 1);
    EXPECT_EQ(r.custom.at(3).value, "3");
}

TEST_F(CameraPropertiesTest, FailuresGiveCode3) {
    Start("VCC-HD4000");
    // A group-2 camera without a `model` value.
    camera->SetPageFault("/cgi-bin/cam_set.cgi",
                         HttpReply::Text(200, "model_name:(VCC-HD4000)\r\n"));
    int code = -1;
    EXPECT_FALSE(reader->ReadProperties(code));
    EXPECT_EQ(code, 3);
    EXPECT_EQ(Answered(), Requests{MODEL});
    // A failing page in the middle, and an empty one.
    camera->ClearPageFaults();
    for (const HttpReply& reply : {HttpReply::Text(500, "broken"), HttpReply::Text(200, "")}) {
        camera->SetPageFault("/cgi-bin/codec_stream.cgi", reply);
        reader = std::make_unique<CSanyoCameraProperties>(device, false);
        code = -1;
        EXPECT_FALSE(reader->ReadProperties(code));
        EXPECT_EQ(code, 3);
    }
    EXPECT_FALSE(reader->WriteResults(nullptr));
}

// A page listing more alarm inputs than a camera of the family has fails the read (the host
// would be offered thousands of inputs), in both groups' forms.
TEST_F(CameraPropertiesTest, MoreAlarmInputsThanACameraHasFailTheRead) {
    std::string group2Page, otherPage;
    for (int i = 1; i <= 2000; ++i) {  // within the reply bound
        group2Page += "alarm_in_polarity" + std::to_string(i) + ":(0)\r\n";
        otherPage += "alarm_in" + std::to_string(i) + ":(1)\r\n";
    }
    const struct {
        const char* model;
        const char* page;
        const std::string& body;
    } cases[] = {{"VCC-HD4000", "/cgi-bin/alarm_in.cgi", group2Page},
                 {"VCC-HD1100", "/cgi-bin/alarm_set.cgi", otherPage}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        Start(c.model);
        camera->SetPageFault(c.page, HttpReply::Text(200, c.body));
        int code = -1;
        EXPECT_FALSE(reader->ReadProperties(code));
        EXPECT_EQ(code, 3);
    }
}

// A cancel before the read lets only the first step run, and the read cut short fails: its
// findings are partial (the host would store a wrong transport and aspect 255).
TEST_F(CameraPropertiesTest, CancelledReadFailsAfterTheFirstStep) {
    Start("VCC-HD2300");
    reader->Cancel();
    int code = -1;
    EXPECT_FALSE(reader->ReadProperties(code));
    EXPECT_EQ(code, 3);
    EXPECT_EQ(Answered(), Requests{MODEL});
    host::CapabilityResults results;
    EXPECT_TRUE(reader->WriteResults(&results)) << "a cancelled reader still writes";
    EXPECT_EQ(results.Record().custom.at(8).value, "255");
}

// Abort ends a request the camera never answers at once, from another thread.
TEST_F(CameraPropertiesTest, AbortEndsAHeldRequest) {
    Start("VCC-HD2300");
    HttpReply silent;
    silent.action = HttpReply::Action::Silent;
    camera->SetPageFault("/cgi-bin/cam_set.cgi", silent);
    device.timeout = 60000;
    reader = std::make_unique<CSanyoCameraProperties>(device, false);
    int code = -1;
    bool read = true;
    std::thread query([&] { read = reader->ReadProperties(code); });
    ASSERT_TRUE(camera->Http().WaitUntil([&] { return camera->Http().RequestCount() >= 1; }, 5000));
    const auto start = std::chrono::steady_clock::now();
    reader->Abort();
    query.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(read);
    EXPECT_EQ(code, 3);
}
