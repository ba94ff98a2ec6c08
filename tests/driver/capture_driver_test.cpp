#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "driver/tavrin_driver.h"

#include <memory>

#include "channels/h264_rtsp_channel.h"
#include "channels/mjpeg_http_channel.h"
#include "channels/mjpeg_rtsp_channel.h"
#include "host/capture_sink.h"
#include "host/channel_config.h"
#include "driver/fake_channels.h"
#include "host/device_config.h"
#include "host/frames.h"
#include "host/log_receiver.h"

using namespace norvane;

namespace {

host::DeviceConfig MakeConfig() {
    host::DeviceConfig config;
    config.device.model = "VCC-HD4000";
    config.device.channelCount = 2;
    config.device.inputCount = 2;
    config.device.outputCount = 1;
    config.connection.address = "10.0.0.5";
    config.connection.port = 80;
    config.connection.userName = "admin";
    config.connection.password = "secret";
    config.connection.codecType = 3;
    return config;
}

struct Host {
    host::LogReceiver log;
    host::FrameAllocator frames;
    host::DeviceConfig config = MakeConfig();
};

}  // namespace

TEST(CaptureDriver, OpenCopiesTheHostConfiguration) {
    Host h;
    h.config.options.optionFlag = 1;
    test::TestDriver driver;
    ASSERT_TRUE(driver.Open(&h.log, &h.frames, &h.config));
    const DEVICE_INFO* info = driver.GetDeviceInfo();
    EXPECT_EQ(info->address, "10.0.0.5");
    EXPECT_EQ(info->port, 80);
    EXPECT_EQ(info->userName, "admin");
    EXPECT_EQ(info->password, "secret");
    EXPECT_EQ(info->model, "VCC-HD4000");
    EXPECT_EQ(info->timeout, 5000u);
    EXPECT_EQ(driver.GetIOCounts(), (std::pair<uint32_t, uint32_t>{2, 1}));
    EXPECT_EQ(driver.GetChannelCount(), 2);
    EXPECT_EQ(driver.GetCodecType(), 3);
    EXPECT_TRUE(driver.GetOptionFlag());
    EXPECT_EQ(driver.GetFrameAllocator(), &h.frames);
    EXPECT_EQ(driver.GetAddressAndPort(), "10.0.0.5:80");
    EXPECT_EQ(driver.GetLastFrameSize(), (std::pair<int, int>{0, 0}));
    driver.SetLastFrameSize(1280, 720);
    EXPECT_EQ(driver.GetLastFrameSize(), (std::pair<int, int>{1280, 720}));
    ASSERT_NE(driver.GetVideoCapture(), nullptr);
    EXPECT_EQ(driver.GetVideoCapture()->GetChannelCount(), 2u);
    EXPECT_EQ(driver.GetOptionalApi1(), nullptr);
    EXPECT_EQ(driver.GetOptionalApi2(), nullptr);
    driver.Close();
    EXPECT_EQ(driver.GetVideoCapture(), nullptr);
    EXPECT_EQ(driver.GetDeviceInfo()->address, "10.0.0.5") << "the record outlives Close";
}

TEST(CaptureDriver, CustomParametersAreAskedForUntilTheFirstGap) {
    Host h;
    h.config.SetCustomParameter(1, "1");
    h.config.SetCustomParameter(2, "554");
    h.config.SetCustomParameter(3, "(none)");
    h.config.SetCustomParameter(5, "never read");
    test::TestDriver driver;
    ASSERT_TRUE(driver.Open(&h.log, &h.frames, &h.config));
    EXPECT_EQ(h.config.Requested(), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(driver.GetCustomParameterInt(2), 554);
    EXPECT_EQ(driver.GetCustomParameterString(3), "");
    EXPECT_EQ(driver.GetCustomParameterInt(3), CUSTOM_PARAMETER_NOT_SET);
    EXPECT_EQ(driver.GetCustomParameterString(5), "");
    EXPECT_EQ(driver.GetCustomParameterInt(5), CUSTOM_PARAMETER_NOT_SET);
}

TEST(CaptureDriver, NoCustomParametersLeavesEveryNumberUnset) {
    Host h;
    test::TestDriver driver;
    ASSERT_TRUE(driver.Open(&h.log, &h.frames, &h.config));
    for (int n = 0; n <= 10; ++n)
        EXPECT_EQ(driver.GetCustomParameterInt(n), CUSTOM_PARAMETER_NOT_SET);
}

TEST(CaptureDriver, CustomParameterIntegerRule) {
    const int notSet = CUSTOM_PARAMETER_NOT_SET;
    EXPECT_EQ(ParseCustomParameterInt("+"), notSet);
    EXPECT_EQ(ParseCustomParameterInt("-"), notSet);
    EXPECT_EQ(ParseCustomParameterInt(""), notSet);
    EXPECT_EQ(ParseCustomParameterInt("12a"), notSet);
    EXPECT_EQ(ParseCustomParameterInt(" 12"), notSet);
    EXPECT_EQ(ParseCustomParameterInt("1-2"), notSet);
    EXPECT_EQ(ParseCustomParameterInt("+-1"), notSet);
    EXPECT_EQ(ParseCustomParameterInt("-7"), -7);
    EXPECT_EQ(ParseCustomParameterInt("+0"), 0);
    EXPECT_EQ(ParseCustomParameterInt("0554"), 554);
    EXPECT_EQ(ParseCustomParameterInt("2147483647"), 2147483647);
    EXPECT_EQ(ParseCustomParameterInt("-2147483648"), notSet) << "equals the not-set value";
    EXPECT_EQ(ParseCustomParameterInt("2147483648"), notSet) << "out of range";
    EXPECT_EQ(ParseCustomParameterInt("99999999999999999999999"), notSet);
}

TEST(CaptureDriver, FailingSubObjectCreationFailsOpen) {
    Host h;
    test::TestDriver noIO;
    noIO.ioResult = false;
    EXPECT_FALSE(noIO.Open(&h.log, &h.frames, &h.config));
    EXPECT_EQ(noIO.ptzCalls, 0);
    test::TestDriver noPTZ;
    noPTZ.ptzResult = false;
    EXPECT_FALSE(noPTZ.Open(&h.log, &h.frames, &h.config));
    EXPECT_EQ(noPTZ.GetVideoCapture(), nullptr);
}

TEST(CaptureDriver, NullHostObjectsAreHandled) {
    test::TestDriver driver;
    EXPECT_FALSE(driver.Open(nullptr, nullptr, nullptr));
    driver.Log(LOG_ERROR, "%s", "dropped before a receiver exists");
    host::DeviceConfig config = MakeConfig();
    EXPECT_TRUE(driver.Open(nullptr, nullptr, &config));
    driver.Log(LOG_ERROR, "%s", "dropped: no receiver");
}

TEST(CaptureDriver, LogsBeforeOpenAreDiscardedAndLevelsFollowTheDefaultVersion) {
    Host h;
    test::TestDriver driver;
    driver.Log(LOG_ERROR, "before open");
    ASSERT_TRUE(driver.Open(&h.log, &h.frames, &h.config));
    EXPECT_EQ(driver.GetHostVersion().major, 5);
    EXPECT_EQ(driver.GetHostVersion().minor, 12);
    driver.Log(LOG_INFO, "%s: info", "x");
    driver.Log(LOG_DEBUG, "%s: debug", "x");
    driver.Log(LOG_OPENED, "%s", "opened");
    driver.Log(LOG_WARNING, "%s", "");
    const auto records = h.log.Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].level, 3);
    EXPECT_EQ(records[1].level, 4);
    EXPECT_EQ(records[2].level, 2);
    EXPECT_FALSE(records[2].hasText);
}

TEST(CaptureDriver, OpenedLineWithAndWithoutFirmware) {
    Host h;
    test::TestDriver driver;
    ASSERT_TRUE(driver.Open(&h.log, &h.frames, &h.config));
    driver.LogDriverOpened("");
    driver.LogDriverOpened("2.10 %s%n%x");
    const auto records = h.log.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].level, 4);
    EXPECT_EQ(records[0].text,
              "DRIVER IS OPENED (name: Tavrin, device model: VCC-HD4000, address: 10.0.0.5:80)");
    EXPECT_EQ(records[1].text,
              "DRIVER IS OPENED (name: Tavrin, device model: VCC-HD4000, FW: 2.10 %s%n%x, "
              "address: 10.0.0.5:80)")
        << "the camera's text reaches the host unchanged, never as a format";
}

TEST(CaptureDriver, OpenedLineNeedsNameAndModel) {
    Host h;
    h.config.device.model = "";
    test::TestDriver driver;
    ASSERT_TRUE(driver.Open(&h.log, &h.frames, &h.config));
    driver.LogDriverOpened("1.0");
    test::TestDriver unnamed;
    unnamed.name = "";
    Host h2;
    ASSERT_TRUE(unnamed.Open(&h2.log, &h2.frames, &h2.config));
    unnamed.LogDriverOpened("1.0");
    EXPECT_EQ(h.log.Count() + h2.log.Count(), 0u);
}

TEST(TavrinDriver, OpenSetsTimeoutsCustomFlagAndLogsTheOpenedLine) {
    struct Case {
        const char* standard;
        bool flag;
    };
    for (const Case c : {Case{nullptr, false}, Case{"0", false}, Case{"2", true},
                         Case{"x", false}}) {
        Host h;
        if (c.standard)
            h.config.SetCustomParameter(1, c.standard);
        CTavrinDriver driver;
        ASSERT_TRUE(driver.Open(&h.log, &h.frames, &h.config));
        EXPECT_EQ(driver.GetCustomFlag(), c.flag) << (c.standard ? c.standard : "missing");
        EXPECT_EQ(driver.GetDeviceInfo()->timeout, 10000u);
        EXPECT_EQ(driver.GetDeviceInfo()->timeout2, 10000u);
        EXPECT_EQ(driver.GetDriverName(), "Tavrin");
        EXPECT_EQ(h.log.CountContaining("DRIVER IS OPENED (name: Tavrin, device model: "
                                        "VCC-HD4000, address: 10.0.0.5:80)"),
                  1u);
    }
}

// The channel kind follows the host's codec type: Motion-JPEG over RTSP, or over HTTP for large
// pictures and the "noRtspMjpeg" path; H.264 over RTSP; no channel for any other type, so the
// host's StartChannel fails.
TEST(TavrinDriver, CreateChannelFollowsTheCodecType) {
    enum Kind { NONE, MJPEG_RTSP, MJPEG_HTTP, H264_RTSP };
    const auto kindOf = [](ICameraChannel* channel) {
        const std::unique_ptr<ICameraChannel> owned(channel);
        if (dynamic_cast<CMJPEGChannelRTSP*>(channel))
            return MJPEG_RTSP;
        if (dynamic_cast<CMjpegHttpChannel*>(channel))
            return MJPEG_HTTP;
        if (dynamic_cast<CH264ChannelRTSP*>(channel))
            return H264_RTSP;
        return NONE;
    };
    host::CaptureSink sink;
    for (const int codec : {-1, 0, 1, 2, 3, 4, 16}) {
        SCOPED_TRACE(codec);
        Host h;
        h.config.connection.codecType = codec;
        CTavrinDriver driver;
        ASSERT_TRUE(driver.Open(&h.log, &h.frames, &h.config));
        const Kind small = kindOf(driver.CreateChannel(0, &sink, false));
        const Kind large = kindOf(driver.CreateChannel(0, &sink, true));
        EXPECT_EQ(small, codec == 1 ? MJPEG_RTSP : codec == 3 ? H264_RTSP : NONE);
        EXPECT_EQ(large, codec == 1 ? MJPEG_HTTP : codec == 3 ? H264_RTSP : NONE);
        if (small == NONE) {
            host::ChannelConfig channel;
            EXPECT_FALSE(driver.GetVideoCapture()->StartChannel(0, &sink, &channel));
        }
    }
    Host h;
    h.config.connection.codecType = 1;
    for (int number = 1; number <= 3; ++number)  // read up to the first gap
        h.config.SetCustomParameter(number, "0");
    h.config.SetCustomParameter(4, "noRtspMjpeg");
    CTavrinDriver driver;
    ASSERT_TRUE(driver.Open(&h.log, &h.frames, &h.config));
    EXPECT_EQ(kindOf(driver.CreateChannel(0, &sink, false)), MJPEG_HTTP);
}

TEST(TavrinDriver, FirmwareParameterAppearsInTheOpenedLine) {
    Host h;
    h.config.SetCustomParameter(1, "1");
    for (int n = 2; n <= 6; ++n)
        h.config.SetCustomParameter(n, "(none)");
    h.config.SetCustomParameter(7, "V2.03");
    CTavrinDriver driver;
    ASSERT_TRUE(driver.Open(&h.log, &h.frames, &h.config));
    EXPECT_EQ(h.log.CountContaining(", FW: V2.03, address: 10.0.0.5:80)"), 1u);
}

// Settings file reader: path beside the executable, lower-cased XPath, "1" comparison.
class MotionSetting : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("tavrin-settings-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
        driver.SetSettingsDirectory(dir.string());
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    void WriteSettings(const std::string& text) {
        std::ofstream(dir / "DriverSettings.xml") << text;
    }
    static std::string Camera(const std::string& address, const std::string& name,
                              const std::string& number, const std::string& value) {
        return "<driver><parameters><ipaddress>" + address + "</ipaddress></parameters>" +
               "<drivername>" + name + "</drivername><cameras><camera number=\"" + number +
               "\"><motiondetection>" + value + "</motiondetection></camera></cameras></driver>";
    }
    static std::string File(const std::string& drivers) {
        return "<?xml version=\"1.0\"?><kora><ipdrivers>" + drivers + "</ipdrivers></kora>";
    }
    bool Read(const std::string& address, unsigned channel) {
        host::DeviceConfig config = MakeConfig();
        config.connection.address = address;
        EXPECT_TRUE(driver.Open(&log, &frames, &config));
        return driver.ReadMotionDetectionSetting(channel);
    }

    std::filesystem::path dir;
    host::LogReceiver log;
    host::FrameAllocator frames;
    test::TestDriver driver;
};

TEST_F(MotionSetting, MatchesAddressDriverNameAndChannelNumber) {
    WriteSettings(File(Camera("10.0.0.5", "tavrin", "1", "1") +
                       Camera("10.0.0.5", "tavrin", "2", "0")));
    EXPECT_TRUE(Read("10.0.0.5", 0));
    EXPECT_FALSE(driver.ReadMotionDetectionSetting(1));
    EXPECT_FALSE(driver.ReadMotionDetectionSetting(2)) << "no camera 3";
}

TEST_F(MotionSetting, OnlyTheTextOneCounts) {
    WriteSettings(File(Camera("10.0.0.5", "tavrin", "1", "true") +
                       Camera("10.0.0.6", "tavrin", "1", "01") +
                       Camera("10.0.0.7", "tavrin", "1", "") +
                       Camera("10.0.0.8", "tavrin", "1", " 1")));
    EXPECT_FALSE(Read("10.0.0.5", 0));
    EXPECT_FALSE(Read("10.0.0.6", 0));
    EXPECT_FALSE(Read("10.0.0.7", 0));
    EXPECT_FALSE(Read("10.0.0.8", 0)) << "whitespace is preserved, so this is not \"1\"";
}

TEST_F(MotionSetting, WholeXPathIsLowerCased) {
    WriteSettings(File(Camera("cam-a.local", "tavrin", "1", "1") +
                       Camera("cam-b.local", "Tavrin", "1", "1")));
    EXPECT_TRUE(Read("CAM-A.Local", 0)) << "the address is lower-cased too";
    EXPECT_FALSE(Read("cam-b.local", 0)) << "a capitalised driver name never matches";
}

TEST_F(MotionSetting, WithoutDriverNameTheNameFilterIsLeftOut) {
    driver.name = "";
    WriteSettings(File(Camera("10.0.0.5", "other", "1", "1")));
    EXPECT_TRUE(Read("10.0.0.5", 0));
}

TEST_F(MotionSetting, BadFilesAndHostileAddressesGiveFalse) {
    EXPECT_FALSE(Read("10.0.0.5", 0)) << "missing file";
    WriteSettings("");
    EXPECT_FALSE(Read("10.0.0.5", 0)) << "empty file";
    WriteSettings("<kora><ipdrivers><driver>");
    EXPECT_FALSE(Read("10.0.0.5", 0)) << "unparsable file";
    WriteSettings(File(Camera("10.0.0.5", "tavrin", "1", "1")));
    EXPECT_FALSE(Read("10.0.0.5\"] | //*[\"", 0)) << "quote in the address";
    EXPECT_FALSE(Read("10.0.0.5\"]/..[\"", 0));
    EXPECT_FALSE(Read("'\"][[[(", 0));
}
