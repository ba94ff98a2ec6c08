// The simulated camera as the driver's own HTTP client sees it.
#include <gtest/gtest.h>

#include <regex>
#include <tuple>

#include "camsim/camera.h"
#include "camsim/rtsp_server.h"
#include "http/camera_request.h"
#include "http/http_client.h"
#include "http/utils.h"
#include "rtsp/base_rtsp_client.h"
#include "camsim/udp_sender.h"
#include "support/media.h"

using namespace camsim;
using namespace norvane;

namespace {

struct Client {
    explicit Client(uint16_t port, const std::string& user = "admin",
                    const std::string& password = "admin") {
        device.address = "127.0.0.1";
        device.port = port;
        device.userName = user;
        device.password = password;
        device.timeout = 2000;
        client = std::make_unique<Web::CHttpClient>(device, Web::HTTP_CLIENT_AGENT);
    }
    // Result code of GET `path`; the body lands in `text`.
    uint32_t Get(const std::string& path) {
        Web::ByteBuffer reply;
        const CResultDef result = Utils::SendRequestRD(reply, *client, path);
        text.assign(reply.begin(), reply.end());
        if (!text.empty() && text.back() == '\0')
            text.pop_back();
        return result.Code();
    }
    DEVICE_INFO device;
    std::unique_ptr<Web::CHttpClient> client;
    std::string text;
};

CameraConfig Config(HttpAuthConfig::Mode auth, const std::string& model = "VCC-HD4000") {
    CameraConfig config;
    config.personality = Personality::ForModel(model);
    config.auth = auth;
    return config;
}

// curl's whole answer (status line, headers, body) to GET `path`; `login` is curl's auth options.
std::string Curl(uint16_t port, const std::string& path, const std::string& login,
                 const std::string& scratch) {
    const std::string file = scratch + "/curl.txt";
    const bool ran = test::RunCommand("curl -s -i --max-time 5 " + login + " 'http://127.0.0.1:" +
                                      std::to_string(port) + path + "' > '" + file + "'");
    return ran ? test::ReadText(file) : std::string();
}

}  // namespace

TEST(Camera, EveryPageAnswersThroughDigestAuthenticationInTheCameraFormat) {
    Camera camera(Config(HttpAuthConfig::Mode::Digest));
    ASSERT_TRUE(camera.Start());
    camera.Cgi().ExpectRejections();  // the unknown program at the end
    Client c(camera.HttpPort());
    ASSERT_EQ(c.Get("/cgi-bin/cam_set.cgi?status=1"), 0u);
    EXPECT_EQ(Utils::GetBracketedReplyValue("model_name", c.text), "VCC-HD4000");
    EXPECT_EQ(Utils::GetPlainReplyValue("mac6", c.text), "C3");
    ASSERT_EQ(c.Get("/cgi-bin/net.cgi?status=1"), 0u);
    EXPECT_EQ(Utils::GetPlainReplyValue("h_stream1", c.text), "h264");
    ASSERT_EQ(c.Get("/cgi-bin/codec_stream.cgi?status=1"), 0u);
    EXPECT_EQ(Utils::GetBracketedReplyValue("stream1_name", c.text), "FRONT");
    EXPECT_EQ(Utils::GetBracketedReplyValue("h264_resol", c.text), "1");
    ASSERT_EQ(c.Get("/cgi-bin/aspect.cgi?status=1"), 0u);
    EXPECT_EQ(Utils::GetBracketedReplyValue("aspect_ratio", c.text), "1");
    ASSERT_EQ(c.Get("/cgi-bin/alarm_in.cgi?status=1"), 0u);
    EXPECT_EQ(Utils::GetBracketedReplyValue("alarm_in_polarity1", c.text), "0");
    ASSERT_EQ(c.Get("/cgi-bin/opecmd.cgi?ope=52&num=1"), 0u);
    EXPECT_EQ(camera.Cgi().Commands(), (std::vector<std::string>{"ope=52&num=1"}));
    camera.Cgi().SetInputs(0x01);
    ASSERT_EQ(c.Get("/liveimg.cgi?pol=1"), 0u);
    ASSERT_GE(c.text.size(), 80u);
    EXPECT_EQ(c.text[27], '\x01');
    EXPECT_EQ(c.Get("/cgi-bin/unknown.cgi"), CResultDef::CODE_BAD_STATUS);
}

// An independent client: every text page challenges a request without login in the chosen scheme,
// and with the login answers 200 with lines of name:(value) CR LF only.
TEST(Camera, CurlSeesTheChallengeAndTheReplyFormatOnEveryPage) {
    const std::vector<std::string> commonPages{
        "/cgi-bin/cam_set.cgi?status=1", "/cgi-bin/net.cgi?status=1",
        "/cgi-bin/codec_stream.cgi?status=1", "/cgi-bin/aspect.cgi?status=1",
        "/cgi-bin/alarm_set.cgi?status=1"};
    const std::vector<std::string> groupTwoPages{"/cgi-bin/alarm_in.cgi?status=1",
                                                 "/cgi-bin/alarm_out.cgi?status=1"};
    const std::regex cameraLines(R"(([A-Za-z0-9_ ]+:\([^()\r\n]*\)\r\n)+)");
    const std::string scratch = test::OutputDir();
    for (const auto& [mode, scheme, login] :
         {std::tuple{HttpAuthConfig::Mode::Basic, "Basic", "--basic -u admin:admin"},
          std::tuple{HttpAuthConfig::Mode::Digest, "Digest", "--digest -u admin:admin"}}) {
        for (const char* model : {"VCC-HD4000", "VCC-HD1100"}) {
            Camera camera(Config(mode, model));
            ASSERT_TRUE(camera.Start());
            std::vector<std::string> pages = commonPages;
            if (camera.Cgi().GetPersonality().group == 2)
                pages.insert(pages.end(), groupTwoPages.begin(), groupTwoPages.end());
            for (const std::string& page : pages) {
                SCOPED_TRACE(std::string(scheme) + " " + model + " " + page);
                const std::string refused = Curl(camera.HttpPort(), page, "", scratch);
                EXPECT_EQ(refused.rfind("HTTP/1.1 401", 0), 0u) << refused;
                EXPECT_NE(refused.find("WWW-Authenticate: " + std::string(scheme) + " realm="),
                          std::string::npos);
                // Digest shows the challenge before the answer.
                const std::string answer = Curl(camera.HttpPort(), page, login, scratch);
                const size_t ok = answer.find("HTTP/1.1 200");
                ASSERT_NE(ok, std::string::npos) << answer;
                const size_t body = answer.find("\r\n\r\n", ok);
                ASSERT_NE(body, std::string::npos);
                EXPECT_TRUE(std::regex_match(answer.substr(body + 4), cameraLines)) << answer;
            }
        }
    }
}

TEST(Camera, WrongCredentialsAndDenyAllEndInUnauthorised) {
    Camera camera(Config(HttpAuthConfig::Mode::Basic));
    ASSERT_TRUE(camera.Start());
    Client wrong(camera.HttpPort(), "admin", "guess");
    EXPECT_EQ(wrong.Get("/cgi-bin/aspect.cgi?status=1"), CResultDef::CODE_BAD_STATUS);
    EXPECT_EQ(wrong.client->StatusCode(), 401u);
    Client right(camera.HttpPort());
    EXPECT_EQ(right.Get("/cgi-bin/aspect.cgi?status=1"), 0u);
    camera.SetDenyAll(true);
    Client again(camera.HttpPort());
    EXPECT_EQ(again.Get("/cgi-bin/aspect.cgi?status=1"), CResultDef::CODE_BAD_STATUS);
    EXPECT_EQ(again.client->StatusCode(), 401u);
}

TEST(Camera, PageFaultsOfflineAndBackOnline) {
    Camera camera(Config(HttpAuthConfig::Mode::None, "VCC-HD1100"));
    ASSERT_TRUE(camera.Start());
    camera.SetPageFault("/cgi-bin/codec_stream.cgi", HttpReply::Text(500, "broken"));
    camera.SetPageFault("/cgi-bin/aspect.cgi", HttpReply::Text(200, "\x01\xfe garbage"));
    Client c(camera.HttpPort());
    EXPECT_EQ(c.Get("/cgi-bin/codec_stream.cgi?status=1"), CResultDef::CODE_BAD_STATUS);
    EXPECT_EQ(c.client->StatusCode(), 500u);
    ASSERT_EQ(c.Get("/cgi-bin/aspect.cgi?status=1"), 0u);
    EXPECT_EQ(Utils::GetBracketedReplyValue("aspect_ratio", c.text), "");
    camera.ClearPageFaults();
    EXPECT_EQ(c.Get("/cgi-bin/codec_stream.cgi?status=1"), 0u);

    ASSERT_TRUE(camera.SetOffline(true));
    Client offline(camera.HttpPort());
    EXPECT_EQ(offline.Get("/cgi-bin/cam_set.cgi?status=1"), CResultDef::CODE_NOT_SENT);
    ASSERT_TRUE(camera.SetOffline(false));
    Client back(camera.HttpPort());
    EXPECT_EQ(back.Get("/cgi-bin/cam_set.cgi?status=1"), 0u);
}

TEST(Camera, ServerPushStreamDecodesToTheSourcePictures) {
    ASSERT_FALSE(test::MediaDir().empty());
    CameraConfig config = Config(HttpAuthConfig::Mode::None);
    config.mediaDir = test::MediaDir();
    Camera camera(config);
    ASSERT_TRUE(camera.Start());
    ASSERT_GE(camera.PushPictureCount(), 3u);
    const std::string scratch = test::OutputDir();

    test::Bytes firstThree;
    const std::vector<Bytes> pictures = ReadJpegFolder(test::MediaDir() + "/jpeg420");
    for (size_t i = 0; i < 3; ++i)
        firstThree.insert(firstThree.end(), pictures[i].begin(), pictures[i].end());
    ASSERT_TRUE(test::WriteBytes(scratch + "/source.mjpeg", firstThree));
    const auto expected = test::FrameMd5("mjpeg", scratch + "/source.mjpeg", scratch);
    ASSERT_EQ(expected.size(), 3u);

    const std::string url = "http://127.0.0.1:" + std::to_string(camera.HttpPort()) +
                            "/liveimg.cgi?serverpush=1&rate=5";
    const std::string out = scratch + "/push.framemd5";
    ASSERT_TRUE(test::RunCommand("timeout 30 ffmpeg -nostdin -hide_banner -loglevel error -y "
                                 "-f mpjpeg -i '" + url + "' -frames:v 3 -f framemd5 '" + out +
                                 "' 2>'" + scratch + "/push.log'"))
        << test::ReadText(scratch + "/push.log");
    EXPECT_EQ(test::ReadFrameMd5(out), expected);
}

TEST(Camera, SlowRepliesOutlastAShortClientTimeout) {
    Camera camera(Config(HttpAuthConfig::Mode::None));
    ASSERT_TRUE(camera.Start());
    camera.SetReplyDelay(600);
    Client impatient(camera.HttpPort());
    impatient.device.timeout = 100;
    impatient.client = std::make_unique<Web::CHttpClient>(impatient.device, Web::HTTP_CLIENT_AGENT);
    EXPECT_EQ(impatient.Get("/cgi-bin/aspect.cgi?status=1"), CResultDef::CODE_NOT_SENT);
    camera.SetReplyDelay(0);
    Client patient(camera.HttpPort());
    EXPECT_EQ(patient.Get("/cgi-bin/aspect.cgi?status=1"), 0u);
}

// The RTSP side answers at the port and path the net page gives, with the camera's login, and
// goes offline and back with the camera.
TEST(Camera, RtspStreamsFollowTheNetPageAndTheOnlineState) {
    ASSERT_FALSE(test::MediaDir().empty());
    CameraConfig config = Config(HttpAuthConfig::Mode::Digest);
    config.mediaDir = test::MediaDir();
    Camera camera(config);
    ASSERT_TRUE(camera.Start());
    Client c(camera.HttpPort());
    ASSERT_EQ(c.Get("/cgi-bin/net.cgi?status=1"), 0u);
    uint32_t port = 0;
    ASSERT_TRUE(Utils::ParseInteger(Utils::GetPlainReplyValue("rtsp_port", c.text), port));
    EXPECT_EQ(port, camera.RtspPort());

    UdpSender rtp, rtcp;
    ASSERT_TRUE(rtp.Open());
    ASSERT_TRUE(rtcp.Open());
    RTSPConnectionParams params;
    params.host = "127.0.0.1";
    params.rtspPort = static_cast<uint16_t>(port);
    params.rtpClientPort = rtp.Port();
    params.rtcpClientPort = rtcp.Port();
    params.userName = params.password = "admin";
    params.receiveTimeout = 3000;
    params.path = Utils::GetPlainReplyValue("h_stream1", c.text);
    const auto play = [&](CBaseRTSPClient& client) {
        return client.Connect(params) && client.Execute(RTSPMethod::Describe) &&
               client.Execute(RTSPMethod::Setup) && client.Execute(RTSPMethod::Play);
    };
    CBaseRTSPClient first;
    ASSERT_TRUE(play(first));
    Bytes datagram;
    EXPECT_TRUE(rtp.Receive(datagram, 3000));

    ASSERT_TRUE(camera.SetOffline(true));
    EXPECT_EQ(camera.Rtsp().Totals().playing, 0u);
    CBaseRTSPClient refused;
    EXPECT_FALSE(refused.Connect(params));
    ASSERT_TRUE(camera.SetOffline(false));
    EXPECT_EQ(camera.RtspPort(), port);
    CBaseRTSPClient second;
    ASSERT_TRUE(play(second));
    EXPECT_EQ(camera.Rtsp().Totals().sessions, 2u);
}
