// The simulated camera takes the requests a camera of its model and group takes, and refuses
// every other one as such a camera would: an error status, its settings unchanged, the refusal
// counted and logged.
#include <gtest/gtest.h>

#include "camsim/camera.h"
#include "camsim/camera_cgi.h"
#include "support/media.h"

using namespace camsim;

namespace {

constexpr const char* GROUP1 = "VCC-HD1100";  // no listed model number: group 1
constexpr const char* GROUP2 = "VCC-HD4000";
constexpr const char* GROUP3 = "VCC-HD2300";
constexpr const char* GROUP4 = "VCC-HD4600";
constexpr const char* CODEC = "/cgi-bin/codec_stream.cgi";
constexpr const char* OPERATION = "/cgi-bin/opecmd.cgi";

struct Request {
    const char* model;
    const char* path;
    const char* query;
};

struct WrongRequest {
    Request request;
    int status;
    const char* reason;  // part of the logged line
};

// A codec setting written and not yet submitted, so that a refused request could spoil either.
constexpr const char* PENDING_WRITE = "status=1&stream_set=0&frame_rate=2";

// What a request could change, as the camera's pages and test observations show it.
std::string State(CameraCgi& cgi, const std::string& query) {
    std::string state = cgi.Handle(CODEC, "status=1").body +
                        cgi.Handle("/cgi-bin/aspect.cgi", "status=1").body +
                        cgi.Handle("/cgi-bin/alarm_set.cgi", "status=1").body;
    for (const auto& [name, value] : ParseQuery(query + "&" + PENDING_WRITE))
        state +=
            name + " pending " + cgi.PendingSetting(name) + " alarm " + cgi.AlarmValue(name) + "\n";
    for (const std::string& command : cgi.Commands())
        state += command + "\n";
    return state + "submits " + std::to_string(cgi.Submits());
}

}  // namespace

TEST(CgiRules, EveryWrongRequestIsRefusedAndChangesNothing) {
    const WrongRequest wrong[] = {
        {{GROUP1, CODEC, "status=1&stream_set=0&resol=9"}, 400, "resol=9 is out of range 0 to 4"},
        {{GROUP1, "/cgi-bin/aspect.cgi", "aspect_ratio=7&status=1"}, 400, "out of range 0 to 1"},
        {{GROUP1, OPERATION, "ope=99"}, 400, "ope=99 is out of range"},
        {{GROUP1, OPERATION, "ope=51&cmd=99&p_speed=1"}, 400, "cmd=99 is out of range"},
        // a pan command carrying a zoom speed
        {{GROUP1, OPERATION, "ope=51&cmd=4&z_speed=2"}, 400, "no request of this program"},
        {{GROUP1, CODEC, "status=1&stream_set=0&h264_resol=1"},
         400,
         "h264_resol is not a parameter of a group 1 camera"},
        {{GROUP1, CODEC, "submit=1"}, 400, "no request of this program"},
        {{GROUP1, CODEC, "submit=1&1258359654506"}, 400, "unknown parameter \"1258359654506\""},
        {{GROUP1, CODEC, "status=1&stream_set=0&bogus=1"}, 400, "unknown parameter \"bogus\""},
        {{GROUP1, "/cgi-bin/bogus.cgi", "status=1"}, 404, "no such program"},
        {{GROUP1, "/cgi-bin/alarm_in.cgi", "status=1"}, 404, "no such program on a group 1"},
        {{GROUP1, CODEC, "status=1&stream_set=0&picture_quality=5"}, 400, "out of range 0 to 4"},
        {{GROUP1, CODEC, "status=1&stream_set=0&codec=1&resol=5"}, 400, "resol=5 is out of range"},
        {{GROUP1, CODEC, "status=1&stream_set=0&codec=2"}, 400, "codec=2 is out of range"},
        {{GROUP1, CODEC, "status=1&resol=2"}, 400, "no request of this program"},  // no stream_set
        {{GROUP1, CODEC, "status=1&stream_set=0&resol=2&codec=1"}, 400, "in this order"},
        {{GROUP1, CODEC, "status=1&stream_set=0&resol=1&resol=2"}, 400, "resol given twice"},
        {{GROUP1, CODEC, "name_stream=STREAM1"}, 400, "no request of this program"},
        {{GROUP1, CODEC, "status=1&default=4"}, 400, "default=4 is out of range 1 to 3"},
        {{GROUP1, "/cgi-bin/lang.cgi", "status=1"}, 400, "unknown parameter \"status\""},
        {{GROUP1, "/cgi-bin/alarm_set.cgi", "alarm_out_polarity3=1&status=1"},
         400,
         "the camera has 2 alarm output(s)"},
        {{GROUP1, "/cgi-bin/alarm_set.cgi", "alarm_in1=2"}, 400, "alarm_in1=2 is out of range"},
        {{GROUP1, "/liveimg.cgi", "serverpush=1&rate=3"},
         400,
         "rate is not a parameter of a group 1"},
        {{GROUP1, OPERATION, "ope=51&cmd=1&p_speed=7&t_speed=1"},
         400,
         "p_speed=7 is out of range 1 to 6"},
        {{GROUP2, CODEC, "status=1&h264_resol=4"}, 400, "h264_resol=4 is out of range 0 to 3"},
        {{GROUP2, OPERATION, "ope=8&registration=9"}, 400, "registration=9 is out of range 1 to 8"},
        {{GROUP2, "/cgi-bin/alarm_set.cgi", "alarm_in1=1"}, 400, "not a parameter of a group 2"},
        {{GROUP3, CODEC, "status=1&stream_set=0&h264_resol=1"}, 400, "no request of this program"},
        {{GROUP4, OPERATION, "ope=51&cmd=4&p_speed=1"}, 400, "no request of this program"},
    };
    for (const WrongRequest& w : wrong) {
        const Request& r = w.request;
        SCOPED_TRACE(std::string(r.model) + " " + r.path + "?" + r.query);
        CameraCgi cgi(Personality::ForModel(r.model));
        cgi.ExpectRejections();
        if (Personality::ForModel(r.model).group == 1) {
            ASSERT_EQ(cgi.Handle(CODEC, PENDING_WRITE).status, 200);
        }
        const std::string before = State(cgi, r.query);
        EXPECT_EQ(cgi.Handle(r.path, r.query).status, w.status);
        EXPECT_EQ(State(cgi, r.query), before);
        ASSERT_EQ(cgi.RejectionCount(), 1u);
        EXPECT_NE(cgi.Rejections()[0].find(std::string(r.path) + "?" + r.query + ": "),
                  std::string::npos)
            << cgi.Rejections()[0];
        EXPECT_NE(cgi.Rejections()[0].find(w.reason), std::string::npos) << cgi.Rejections()[0];
    }
}

TEST(CgiRules, EveryRequestFormOfTheFamilyIsTaken) {
    const Request right[] = {
        {GROUP1, "/cgi-bin/cam_set.cgi", "status=1"},
        {GROUP1, "/cgi-bin/net.cgi", "status=1"},
        {GROUP1, "/cgi-bin/lang.cgi", ""},
        {GROUP1, CODEC, "status=1"},
        {GROUP1, CODEC, "status=1&rtsp_rtp=1"},
        {GROUP1, CODEC, "stream_set=0&name_stream=STREAM1"},
        {GROUP1, CODEC, "status=1&default=3"},
        {GROUP1, CODEC,
         "status=1&stream_set=0&codec=1&resol=4&frame_rate=3&gop_interval=30&priority=0&"
         "picture_quality=4"},
        {GROUP1, CODEC, "status=1&stream_set=0&codec=0&resol=6&frame_rate=8&gop_interval=1"},
        {GROUP1, CODEC, "status=1&stream_set=0&resol=2&picture_quality=0"},
        {GROUP1, CODEC, "submit=1&1258359654505"},
        {GROUP1, "/cgi-bin/aspect.cgi", "aspect_ratio=0&status=1"},
        {GROUP1, "/cgi-bin/alarm_set.cgi", "status=1"},
        {GROUP1, "/cgi-bin/alarm_set.cgi", "alarm_in2=1"},
        {GROUP1, "/cgi-bin/alarm_set.cgi", "alarm_out_sw2=1"},
        {GROUP1, "/cgi-bin/alarm_set.cgi", "alarm_out_sw=1"},
        {GROUP1, "/cgi-bin/alarm_set.cgi", "alarm_out_polarity=1&status=1"},
        {GROUP1, "/cgi-bin/alarm_set.cgi", "alarm_out_polarity2=0&status=1"},
        {GROUP1, "/cgi-bin/alarm_set.cgi",
         "status=1&motion_sw=2&motion_duration=11&motion_action=0"},
        {GROUP1, "/cgi-bin/alarm_set.cgi", "status=1&motion_duration=11"},
        {GROUP1, "/liveimg.cgi", "pol=1"},
        {GROUP1, "/liveimg.cgi", "pol=1&motion=1"},
        {GROUP1, "/liveimg.cgi", "serverpush=1"},
        {GROUP1, OPERATION, "ope=8&registration=255"},
        {GROUP1, OPERATION, "ope=11&execution=1"},
        {GROUP1, OPERATION, "ope=20&pan_dir=1&pan_percent=50&tilt_dir=2&tilt_percent=100"},
        {GROUP1, OPERATION, "ope=49&action=1"},
        {GROUP1, OPERATION, "ope=50&action=0"},
        {GROUP1, OPERATION, "ope=51"},
        {GROUP1, OPERATION, "ope=51&cmd=4&p_speed=6"},
        {GROUP1, OPERATION, "ope=51&cmd=7&t_speed=1"},
        {GROUP1, OPERATION, "ope=51&cmd=8&p_speed=2&t_speed=6"},
        {GROUP1, OPERATION, "ope=51&cmd=10&z_speed=4"},
        {GROUP1, OPERATION, "ope=51&cmd=12"},
        {GROUP1, OPERATION, "ope=52&num=1"},
        {GROUP2, "/cgi-bin/alarm_in.cgi", "status=1"},
        {GROUP2, "/cgi-bin/alarm_out.cgi", "status=1"},
        {GROUP2, "/cgi-bin/alarm_out.cgi", "alarm_out_sw=1"},
        {GROUP2, "/cgi-bin/alarm_out.cgi", "alarm_out_polarity=1&status=1"},
        {GROUP2, "/cgi-bin/alarm_set.cgi", "status=1&motion_sw=2"},
        {GROUP2, "/cgi-bin/aspect.cgi", "aspect_ratio=3&status=1"},
        {GROUP2, CODEC,
         "status=1&h264_resol=3&h264_frame_rate=2&h264_protocol=0&h264_quality=4&"
         "h264_priority_sw=0"},
        {GROUP2, CODEC,
         "status=1&jpeg_resol=6&jpeg_frame_rate=12&jpeg_protocol=0&jpeg_quality=0&"
         "jpeg_priority_sw=1"},
        {GROUP2, CODEC,
         "status=1&jpeg_resol=1&jframe_rate_admin=12&jframe_rate_guest=12&jframe_rate_operator=12&"
         "jpeg_quality=2&jpeg_priority_sw=0"},
        {GROUP2, CODEC, "stream_set=0&name_stream=STREAM1"},
        {GROUP2, "/liveimg.cgi", "serverpush=1&rate=5"},
        {GROUP2, OPERATION, "ope=8&registration=8"},
        {GROUP2, OPERATION, "ope=51&cmd=9&z_speed=1"},
        {GROUP2, OPERATION, "ope=51&cmd=12"},
        {GROUP3, CODEC, "status=1&h264_resol=4&h264_frame_rate=3"},
        {GROUP3, CODEC, "status=1&jpeg_resol=2&jframe_rate_admin=8&jframe_rate_guest=8"},
        {GROUP4, OPERATION, "ope=51&cmd=11"},
    };
    for (const Request& r : right) {
        CameraCgi cgi(Personality::ForModel(r.model));
        EXPECT_FALSE(cgi.Refuse(r.path, r.query)) << r.model << " " << r.path << "?" << r.query;
    }
}

TEST(CgiRules, ResolutionCodesFollowTheCodecBeingWritten) {
    CameraCgi cgi(Personality::ForModel(GROUP1));  // stores H.264
    cgi.ExpectRejections();
    EXPECT_EQ(cgi.Handle(CODEC, "status=1&stream_set=0&resol=6").status, 400);
    EXPECT_EQ(cgi.Handle(CODEC, "status=1&stream_set=0&codec=0&resol=6").status, 200);
    // The written codec counts before it is submitted.
    EXPECT_EQ(cgi.Handle(CODEC, "status=1&stream_set=0&frame_rate=8").status, 200);
    EXPECT_EQ(cgi.RejectionCount(), 1u);
}

// Through HTTP: the picture stream, a page under a fault and a program the camera lacks are
// judged like every other request.
TEST(CgiRules, TheCameraRefusesOverHttpWhateverAnswersThePath) {
    CameraConfig config;
    config.personality = Personality::ForModel(GROUP1);
    Camera camera(config);
    ASSERT_TRUE(camera.Start());
    camera.Cgi().ExpectRejections();
    camera.SetPageFault("/cgi-bin/aspect.cgi", HttpReply::Text(500, "fault\r\n"));
    const auto status = [&](const std::string& target) {
        const std::string file = test::OutputDir() + "/status.txt";
        const bool ran = test::RunCommand(
            "curl -s -o /dev/null -w '%{http_code}' --max-time 5 'http://127.0.0.1:" +
            std::to_string(camera.HttpPort()) + target + "' > '" + file + "'");
        return ran ? test::ReadText(file) : std::string();
    };
    EXPECT_EQ(status("/liveimg.cgi?serverpush=1&rate=3"), "400");
    EXPECT_EQ(status("/cgi-bin/aspect.cgi?aspect_ratio=7&status=1"), "400");
    EXPECT_EQ(status("/cgi-bin/aspect.cgi?status=1"), "500");
    EXPECT_EQ(status("/index.html"), "404");
    EXPECT_EQ(camera.Cgi().RejectionCount(), 3u);
}
