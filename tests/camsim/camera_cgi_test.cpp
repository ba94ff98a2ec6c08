#include <gtest/gtest.h>

#include "camsim/camera_cgi.h"

using namespace camsim;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(CameraCgi, StatusPageCarriesModelMacFirmwareAndStandard) {
    Personality p = Personality::ForModel("VCC-HD4000");
    p.family25 = true;
    p.audio = true;
    CameraCgi cgi(p);
    const CgiReply reply = cgi.Handle("/cgi-bin/cam_set.cgi", "status=1");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body,
              "model_name:(VCC-HD4000)\r\nmodel:(1)\r\nmac1:(00)\r\nmac2:(80)\r\nmac3:(F0)\r\n"
              "mac4:(A1)\r\nmac5:(B2)\r\nmac6:(C3)\r\nCAM MAIN Ver:(2.10)\r\n"
              "CAM SUB  Ver:(1.03)\r\nNET MAIN Ver:(3.01)\r\nNET SUB  Ver:(1.00)\r\n"
              "tv_format:(1)\r\nmodel_audio:(1)\r\nmodel_codec:(1)\r\n");
}

TEST(CameraCgi, NetPageReportsPortAndOptionallyStreamPaths) {
    Personality p;
    CameraCgi cgi(p);
    cgi.SetRtspPort(8554);
    EXPECT_EQ(cgi.Handle("/cgi-bin/net.cgi", "status=1").body,
              "rtsp_port:(8554)\r\nh_stream1:(h264)\r\nj_stream1:(mjpeg)\r\n");
    p.streamsInNetPage = false;
    CameraCgi bare(p);
    EXPECT_EQ(bare.Handle("/cgi-bin/net.cgi", "status=1").body, "rtsp_port:(554)\r\n");
    EXPECT_TRUE(Contains(bare.Handle("/cgi-bin/codec_stream.cgi", "status=1&rtsp_rtp=1").body,
                         "rtsp_uri:(h264)\r\nrtsp_port:(554)\r\n"));
}

TEST(CameraCgi, CodecSettingsTakeEffectOnlyAtSubmit) {
    CameraCgi cgi(Personality::ForModel("VCC-HD1100"));  // group 1
    const std::string before = cgi.Handle("/cgi-bin/codec_stream.cgi", "status=1").body;
    EXPECT_TRUE(Contains(before, "resol:(1)\r\n"));
    EXPECT_FALSE(Contains(before, "h264_resol")) << "group 1 pages carry the plain names";
    cgi.Handle("/cgi-bin/codec_stream.cgi", "status=1&stream_set=0&resol=3&frame_rate=2");
    EXPECT_EQ(cgi.Setting("resol"), "1");
    EXPECT_EQ(cgi.PendingSetting("resol"), "3");
    cgi.Handle("/cgi-bin/codec_stream.cgi", "submit=1&1258359654505");
    EXPECT_EQ(cgi.Setting("resol"), "3");
    EXPECT_EQ(cgi.Setting("frame_rate"), "2");
    EXPECT_EQ(cgi.Submits(), 1);
    EXPECT_TRUE(Contains(cgi.Handle("/cgi-bin/codec_stream.cgi", "status=1").body,
                         "frame_rate:(2)\r\n"));
}

TEST(CameraCgi, GroupTwoAndThreeCarryTheirOwnSettingNames) {
    for (const char* model : {"VCC-HD4000", "VCC-HD2300"}) {
        CameraCgi cgi(Personality::ForModel(model));
        const std::string body = cgi.Handle("/cgi-bin/codec_stream.cgi", "status=1").body;
        for (const char* name : {"h264_resol:", "h264_priority_sw:", "jpeg_quality:",
                                 "jframe_rate_admin:", "jframe_rate_operator:", "interlace:"})
            EXPECT_TRUE(Contains(body, name)) << model << " " << name;
        EXPECT_FALSE(Contains(body, "\r\ngop_interval:")) << model;
    }
}

TEST(CameraCgi, StreamNamingAndDefaults) {
    CameraCgi cgi(Personality{});
    cgi.SetStream(1, "()", "(0)");
    cgi.SetStream(3, "(SIDE)", "(0)");
    cgi.Handle("/cgi-bin/codec_stream.cgi", "stream_set=0&name_stream=STREAM1");
    cgi.Handle("/cgi-bin/codec_stream.cgi", "status=1&default=2");
    EXPECT_EQ(cgi.Stream(1), (std::pair<std::string, std::string>{"(STREAM1)", "(1)"}));
    EXPECT_EQ(cgi.Stream(3), (std::pair<std::string, std::string>{"()", "(0)"}));
    const std::string body = cgi.Handle("/cgi-bin/codec_stream.cgi", "status=1").body;
    EXPECT_TRUE(Contains(body, "stream1_name:(STREAM1)\r\nstream1_sw:(1)\r\n"));
    EXPECT_TRUE(Contains(body, "stream4_name:()\r\nstream4_sw:(0)\r\n"));
}

TEST(CameraCgi, AspectRatioReadsAndWrites) {
    CameraCgi cgi(Personality{});
    EXPECT_EQ(cgi.Handle("/cgi-bin/aspect.cgi", "status=1").body, "aspect_ratio:(1)\r\n");
    EXPECT_EQ(cgi.Handle("/cgi-bin/aspect.cgi", "aspect_ratio=0&status=1").body,
              "aspect_ratio:(0)\r\n");
    EXPECT_EQ(cgi.AspectRatio(), 0);
}

TEST(CameraCgi, LanguageNotChosenAnswersHtmlUntilTheLanguagePageIsAsked) {
    CameraCgi cgi(Personality{});
    cgi.SetLanguageChosen(false);
    for (const auto& [path, query] :
         {std::pair<const char*, const char*>{"/cgi-bin/cam_set.cgi", "status=1"},
          std::pair<const char*, const char*>{"/liveimg.cgi", "pol=1"}}) {
        const CgiReply reply = cgi.Handle(path, query);
        EXPECT_EQ(reply.status, 200);
        EXPECT_TRUE(Contains(reply.body, "<HTML>")) << path;
    }
    EXPECT_TRUE(Contains(cgi.Handle("/cgi-bin/lang.cgi", "").body, "<HTML>"));
    EXPECT_TRUE(Contains(cgi.Handle("/cgi-bin/cam_set.cgi", "status=1").body, "model_name:"));
}

TEST(CameraCgi, LiveStatusPutsInputBitsAtTheGroupOffsetAndMotionInItsArea) {
    for (const auto& [model, offset] : {std::pair<const char*, size_t>{"VCC-HD4000", 27},
                                        std::pair<const char*, size_t>{"VCC-HD1100", 33}}) {
        CameraCgi cgi(Personality::ForModel(model));
        cgi.SetInputs(0x05);
        cgi.SetMotion(true);
        const std::string plain = cgi.Handle("/liveimg.cgi", "pol=1").body;
        ASSERT_GE(plain.size(), 80u);
        EXPECT_EQ(plain[offset], '\x05') << model;
        EXPECT_EQ(plain.find_first_not_of('\0', 48), std::string::npos)
            << "no motion area without motion=1";
        const std::string withMotion = cgi.Handle("/liveimg.cgi", "pol=1&motion=1").body;
        EXPECT_NE(withMotion[48], '\0');
        EXPECT_NE(withMotion[79], '\0');
        cgi.SetMotion(false);
        const std::string still = cgi.Handle("/liveimg.cgi", "pol=1&motion=1").body;
        EXPECT_EQ(std::string(still.begin() + 48, still.begin() + 80), std::string(32, '\0'));
    }
}

TEST(CameraCgi, AlarmPagesFollowTheCameraGroup) {
    CameraCgi group1(Personality::ForModel("VCC-HD1100"));
    const std::string page = group1.Handle("/cgi-bin/alarm_set.cgi", "status=1").body;
    EXPECT_TRUE(Contains(page, "alarm_in1:(0)\r\nalarm_in2:(0)\r\n"));
    EXPECT_TRUE(Contains(page, "alarm_out_sw2:(0)"));
    group1.Handle("/cgi-bin/alarm_set.cgi", "alarm_out_polarity2=1&status=1");
    group1.Handle("/cgi-bin/alarm_set.cgi", "status=1&motion_sw=2&motion_duration=11");
    EXPECT_EQ(group1.AlarmValue("alarm_out_polarity2"), "1");
    EXPECT_EQ(group1.AlarmValue("motion_sw"), "2");
    EXPECT_EQ(group1.AlarmValue("motion_duration"), "11");

    CameraCgi group2(Personality::ForModel("VCC-HD4000"));
    EXPECT_EQ(group2.Handle("/cgi-bin/alarm_in.cgi", "status=1").body,
              "alarm_in_polarity1:(0)\r\n");
    EXPECT_EQ(group2.Handle("/cgi-bin/alarm_out.cgi", "alarm_out_sw=1").body,
              "alarm_out_polarity:(0)\r\nalarm_out_sw:(1)\r\n");
    EXPECT_FALSE(Contains(group2.Handle("/cgi-bin/alarm_set.cgi", "status=1").body, "alarm_in"));
}

TEST(CameraCgi, OperationCommandsAreRecordedAndUnknownProgramsAre404) {
    CameraCgi cgi(Personality{});
    cgi.ExpectRejections();  // the unknown program
    cgi.Handle("/cgi-bin/opecmd.cgi", "ope=51&cmd=9&z_speed=2");
    cgi.Handle("/cgi-bin/opecmd.cgi", "ope=8&registration=1");
    EXPECT_EQ(cgi.Commands(),
              (std::vector<std::string>{"ope=51&cmd=9&z_speed=2", "ope=8&registration=1"}));
    EXPECT_EQ(cgi.Handle("/cgi-bin/nothing.cgi", "").status, 404);
    EXPECT_FALSE(cgi.Serves("/index.html"));
}

TEST(CameraCgi, QueryTokensKeepOrderAndBareWords) {
    EXPECT_EQ(ParseQuery("submit=1&1258359654505&&a="),
              (QueryList{{"submit", "1"}, {"1258359654505", ""}, {"a", ""}}));
    EXPECT_TRUE(ParseQuery("").empty());
}
