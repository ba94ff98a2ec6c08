// Stream configuration against the simulated camera over loopback: the exact CGI sequence, what
// is written, authentication, failing pages, the stop event and an abort from another thread.
#include "camera/common_channel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "camera/capture_params.h"
#include "camera/stream_codes.h"
#include "camsim/camera.h"
#include "camsim/http_server.h"
#include "http/camera_request.h"
#include "support/fake_driver.h"

using namespace norvane;
using camsim::HttpAuthConfig;
using camsim::HttpReply;
using camsim::HttpRequest;
using Requests = std::vector<std::string>;
using test::Params;

namespace {

const std::string STATUS = "/cgi-bin/codec_stream.cgi?status=1";
const std::string ASPECT = "/cgi-bin/aspect.cgi?status=1";
const std::string LANGUAGE = "/cgi-bin/lang.cgi";
const std::string SUBMIT = "/cgi-bin/codec_stream.cgi?submit=1&1258359654505";
const std::string CODEC_PAGE = "/cgi-bin/codec_stream.cgi";

// 25 fps 1280x720 quality 50 on a group-1 camera whose defaults are codec 1, resol 1,
// frame_rate 3, gop_interval 30, priority 1, picture_quality 2.
const StreamParameterList GROUP1_HD =
    H264StreamSettings(Params(40, 1280, 720, 50), 1, false, false);
const std::string GROUP1_HD_WRITE = STATUS + "&stream_set=0&resol=2&gop_interval=25&priority=0";
// What that camera already has: nothing to write.
const StreamParameterList GROUP1_UNCHANGED{{{"codec", 1}, {"resol", 1}, {"frame_rate", 3}}, true};

}  // namespace

class CommonChannelTest : public ::testing::Test {
protected:
    // Starts a camera and a channel for it; custom parameters set before are kept.
    void Start(camsim::Personality personality,
               HttpAuthConfig::Mode auth = HttpAuthConfig::Mode::None) {
        camsim::CameraConfig config;
        config.personality = personality;
        config.auth = auth;
        camera = std::make_unique<camsim::Camera>(config);
        ASSERT_TRUE(camera->Start());
        driver.info.port = camera->HttpPort();
        driver.info.userName = "admin";
        driver.info.password = "admin";
        driver.info.timeout = timeoutMs;
        driver.custom.emplace(3, std::to_string(personality.group));
        channel = std::make_unique<CCommonChannel>(&driver);
    }
    void Start(const std::string& model, HttpAuthConfig::Mode auth = HttpAuthConfig::Mode::None) {
        Start(camsim::Personality::ForModel(model), auth);
    }

    // Targets of the requests the camera answered, authentication challenges left out.
    Requests Answered() {
        Requests out;
        for (const HttpRequest& r : camera->Http().Requests())
            if (r.status != 401)
                out.push_back(r.target);
        return out;
    }
    Requests AnsweredSince(size_t first) {
        const Requests all = Answered();
        return Requests(all.begin() + static_cast<std::ptrdiff_t>(std::min(first, all.size())),
                        all.end());
    }

    // Runs `hook` on every request of `path` before the camera answers; a reply it returns
    // replaces the camera's.
    void Intercept(const std::string& path,
                   std::function<std::optional<HttpReply>(const HttpRequest&)> hook) {
        camera->Http().Route(path, [this, hook](const HttpRequest& request) {
            if (std::optional<HttpReply> reply = hook(request))
                return *reply;
            const camsim::CgiReply answer = camera->Cgi().Handle(request.path, request.query);
            return HttpReply::Text(answer.status, answer.body);
        });
    }
    // Sets the stop event when the camera receives `target`.
    void StopOn(const std::string& target) {
        for (const std::string& path : {CODEC_PAGE, std::string("/cgi-bin/aspect.cgi"), LANGUAGE})
            Intercept(path, [this, target](const HttpRequest& request) -> std::optional<HttpReply> {
                if (request.target == target)
                    stop.Set();
                return std::nullopt;
            });
    }

    size_t ErrorLines() {
        size_t n = 0;
        for (const host::LogRecord& r : driver.log.Records())
            n += r.level == 1;
        return n;
    }

    unsigned timeoutMs = 3000;
    test::FakeDriver driver;
    std::unique_ptr<camsim::Camera> camera;
    std::unique_ptr<CCommonChannel> channel;
    CManualEvent stop;
};

TEST_F(CommonChannelTest, ReadsCustomParametersAtConstruction) {
    driver.custom[8] = "1";
    Start("VCC-HD2300");
    EXPECT_EQ(channel->CameraGroup(), 3);
    EXPECT_EQ(channel->WantedAspectRatio(), 1);
    EXPECT_EQ(channel->HttpClient().Port(), camera->HttpPort());
    // Read once: later changes of the driver's parameters do not reach the channel.
    driver.custom[3] = "2";
    EXPECT_EQ(channel->CameraGroup(), 3);
}

// The first configuration writes only what differs, then submits; the second finds everything
// in place and writes nothing.
TEST_F(CommonChannelTest, WritesOnlyDifferingValuesAndOnceOnly) {
    driver.custom[8] = "0";
    Start("VCC-HD1100");
    ASSERT_TRUE(channel->ConfigureStream(stop, GROUP1_HD));
    EXPECT_EQ(Answered(), (Requests{STATUS, ASPECT, "/cgi-bin/aspect.cgi?aspect_ratio=0&status=1",
                                    LANGUAGE, GROUP1_HD_WRITE, SUBMIT}));
    EXPECT_EQ(camera->Cgi().Setting("resol"), "2");
    EXPECT_EQ(camera->Cgi().Setting("gop_interval"), "25");
    EXPECT_EQ(camera->Cgi().Setting("priority"), "0");
    EXPECT_EQ(camera->Cgi().Setting("codec"), "1");
    EXPECT_EQ(camera->Cgi().AspectRatio(), 0);
    EXPECT_EQ(camera->Cgi().Submits(), 1);

    const size_t before = Answered().size();
    ASSERT_TRUE(channel->ConfigureStream(stop, GROUP1_HD));
    EXPECT_EQ(AnsweredSince(before), (Requests{STATUS, ASPECT}));
    EXPECT_EQ(camera->Cgi().Submits(), 1);
    EXPECT_EQ(driver.log.Count(), 0u);
}

TEST_F(CommonChannelTest, SettingsTheCameraDoesNotReportAreLeftOut) {
    Start("VCC-HD1100");
    const StreamParameterList unknown{{{"h264_resol", 3}, {"sharpness", 9}}, true};
    ASSERT_TRUE(channel->ConfigureStream(stop, unknown));
    EXPECT_EQ(Answered(), (Requests{STATUS, ASPECT}));
    const StreamParameterList mixed{{{"sharpness", 9}, {"resol", 4}}, true};
    const size_t before = Answered().size();
    ASSERT_TRUE(channel->ConfigureStream(stop, mixed));
    EXPECT_EQ(AnsweredSince(before),
              (Requests{STATUS, ASPECT, LANGUAGE, STATUS + "&stream_set=0&resol=4", SUBMIT}));
}

class CommonChannelAuthTest : public CommonChannelTest,
                              public ::testing::WithParamInterface<HttpAuthConfig::Mode> {};

// A group-2 camera behind Basic or Digest authentication: every page is reached with the login.
TEST_P(CommonChannelAuthTest, Group2CameraIsConfiguredThroughAuthentication) {
    Start("VCC-HD4000", GetParam());
    const StreamParameterList h264 = H264StreamSettings(Params(40, 1280, 720, 50), 2, false, false);
    ASSERT_TRUE(channel->ConfigureStream(stop, h264));
    EXPECT_EQ(
        Answered(),
        (Requests{STATUS, ASPECT, LANGUAGE,
                  STATUS + "&h264_resol=3&h264_frame_rate=2&h264_protocol=0&h264_priority_sw=0",
                  SUBMIT}));
    EXPECT_EQ(camera->Cgi().Setting("h264_resol"), "3");
    for (const HttpRequest& r : camera->Http().Requests()) {
        if (r.status != 401) {
            EXPECT_EQ(r.user, "admin") << r.target;
        }
    }
    // No credentials go before the camera's one challenge, which either scheme is learnt from.
    const size_t challenges = camera->Http().Requests().size() - Answered().size();
    EXPECT_EQ(challenges, 1u);
    EXPECT_EQ(camera->Http().Requests().front().Header("authorization"), "");

    const size_t before = Answered().size();
    const StreamParameterList mjpeg = MjpegStreamSettings(Params(40, 640, 480, 90), 2);
    ASSERT_TRUE(channel->ConfigureStream(stop, mjpeg));
    EXPECT_EQ(
        AnsweredSince(before),
        (Requests{STATUS, ASPECT, LANGUAGE,
                  STATUS + "&jpeg_frame_rate=11&jpeg_protocol=0&jpeg_quality=4&jpeg_priority_sw=0",
                  SUBMIT}));
}

INSTANTIATE_TEST_SUITE_P(Schemes, CommonChannelAuthTest,
                         ::testing::Values(HttpAuthConfig::Mode::Basic,
                                           HttpAuthConfig::Mode::Digest));

TEST_F(CommonChannelTest, WrongPasswordFailsAtTheFirstPage) {
    Start("VCC-HD4000", HttpAuthConfig::Mode::Digest);
    channel.reset();
    driver.info.password = "guess";
    channel = std::make_unique<CCommonChannel>(&driver);
    EXPECT_FALSE(channel->ConfigureStream(stop, GROUP1_HD));
    EXPECT_TRUE(Answered().empty());
    EXPECT_EQ(driver.log.CountContaining("status code = 401"), 1u);
}

// Stream 1 unnamed and off is named; every other stream that is named or on is reset; the status
// is then read again. A second run finds nothing to do.
TEST_F(CommonChannelTest, NamesTheFirstStreamAndResetsTheOthers) {
    Start("VCC-HD4000");
    camera->Cgi().SetStream(1, "()", "(0)");
    camera->Cgi().SetStream(2, "()", "(0)");
    camera->Cgi().SetStream(3, "(REAR)", "(0)");
    camera->Cgi().SetStream(4, "()", "(1)");
    const StreamParameterList unchanged{{{"h264_resol", 1}}, false};
    ASSERT_TRUE(channel->ConfigureStream(stop, unchanged));
    EXPECT_EQ(Answered(),
              (Requests{STATUS, "/cgi-bin/codec_stream.cgi?stream_set=0&name_stream=STREAM1",
                        STATUS + "&default=2", STATUS + "&default=3", STATUS, ASPECT}));
    EXPECT_EQ(camera->Cgi().Stream(1),
              std::make_pair(std::string("(STREAM1)"), std::string("(1)")));
    EXPECT_EQ(camera->Cgi().Stream(3), std::make_pair(std::string("()"), std::string("(0)")));
    EXPECT_EQ(camera->Cgi().Stream(4), std::make_pair(std::string("()"), std::string("(0)")));

    const size_t before = Answered().size();
    ASSERT_TRUE(channel->ConfigureStream(stop, unchanged));
    EXPECT_EQ(AnsweredSince(before), (Requests{STATUS, ASPECT}));
}

TEST_F(CommonChannelTest, PrepareStreamsWithoutStreamLinesSendsNothing) {
    Start("VCC-HD4000");
    bool changed = true;
    EXPECT_TRUE(channel->PrepareStreams("", changed));
    EXPECT_FALSE(changed);
    EXPECT_TRUE(channel->PrepareStreams("stream1_name:()\r\nresol:(1)\r\n", changed));
    EXPECT_FALSE(changed);
    // A named first stream and a second without its switch line: the search ends there.
    EXPECT_TRUE(
        channel->PrepareStreams("stream1_name:(A)\r\nstream1_sw:(1)\r\nstream2_name:(B)\r\nstream3_"
                                "name:(C)\r\nstream3_sw:(1)\r\n",
                                changed));
    EXPECT_FALSE(changed);
    EXPECT_TRUE(Answered().empty());
}

// A status page listing more streams than a camera of the family has fails, with no request per
// listed stream.
TEST_F(CommonChannelTest, MoreStreamsThanACameraHasFailWithNothingSent) {
    Start("VCC-HD4000");
    std::string status;
    for (unsigned m = 1; m <= 20000; ++m)
        status += "stream" + std::to_string(m) + "_name:(S)\r\nstream" + std::to_string(m) +
                  "_sw:(1)\r\n";
    bool changed = true;
    EXPECT_FALSE(channel->PrepareStreams(status, changed));
    EXPECT_FALSE(changed);
    EXPECT_TRUE(Answered().empty());
    EXPECT_EQ(driver.log.CountContaining("lists more than 16 streams"), 1u);
}

TEST_F(CommonChannelTest, FailedStreamResetEndsTheSequence) {
    Start("VCC-HD4000");
    camera->Cgi().SetStream(2, "(B)", "(1)");
    camera->Cgi().SetStream(3, "(C)", "(1)");
    Intercept(CODEC_PAGE, [](const HttpRequest& r) -> std::optional<HttpReply> {
        if (r.query.find("default=") != std::string::npos)
            return HttpReply::Text(500, "busy");
        return std::nullopt;
    });
    EXPECT_FALSE(channel->ConfigureStream(stop, GROUP1_UNCHANGED));
    EXPECT_EQ(Answered(), (Requests{STATUS, STATUS + "&default=1"}));
    EXPECT_EQ(driver.log.CountContaining("status code = 500"), 1u);
}

// Only 0 and 1 are written; an unset or other wanted value leaves the camera's aspect as it is.
TEST_F(CommonChannelTest, AspectRatioIsWrittenOnlyWhenSetAndDifferent) {
    struct Case {
        const char* wanted;  // custom parameter 8; null: absent
        int camera;
        int expected;
        bool written;
    };
    for (const Case& c : {Case{nullptr, 1, 1, false}, Case{"1", 1, 1, false}, Case{"0", 1, 0, true},
                          Case{"1", 2, 1, true}, Case{"2", 1, 1, false}, Case{"-1", 0, 0, false},
                          Case{"7", 0, 0, false}, Case{"x", 1, 1, false}}) {
        SCOPED_TRACE(c.wanted ? c.wanted : "absent");
        driver.custom.clear();
        if (c.wanted)
            driver.custom[8] = c.wanted;
        camsim::Personality p = camsim::Personality::ForModel("VCC-HD4000");
        p.aspectRatio = c.camera;
        Start(p);
        EXPECT_TRUE(channel->ApplyAspectRatio());
        EXPECT_EQ(camera->Cgi().AspectRatio(), c.expected);
        const Requests expected =
            c.written ? Requests{ASPECT, "/cgi-bin/aspect.cgi?aspect_ratio=" +
                                             std::to_string(c.expected) + "&status=1"}
                      : Requests{ASPECT};
        EXPECT_EQ(Answered(), expected);
    }
}

TEST_F(CommonChannelTest, UnreadableAspectFailsWithoutLogging) {
    Start("VCC-HD1100");
    camera->SetPageFault("/cgi-bin/aspect.cgi", HttpReply::Text(200, "aspect_ratio:(wide)\r\n"));
    EXPECT_FALSE(channel->ConfigureStream(stop, GROUP1_HD));
    camera->SetPageFault("/cgi-bin/aspect.cgi", HttpReply::Text(404, "missing"));
    EXPECT_FALSE(channel->ConfigureStream(stop, GROUP1_HD));
    EXPECT_EQ(Answered(), (Requests{STATUS, ASPECT, STATUS, ASPECT}));
    EXPECT_EQ(driver.log.Count(), 0u);
    EXPECT_EQ(camera->Cgi().Submits(), 0);
}

TEST_F(CommonChannelTest, FailingStatusPageFailsAndIsLogged) {
    Start("VCC-HD1100");
    camera->SetPageFault(CODEC_PAGE, HttpReply::Text(500, "broken"));
    EXPECT_FALSE(channel->ConfigureStream(stop, GROUP1_HD));
    EXPECT_EQ(Answered(), (Requests{STATUS}));
    const std::vector<host::LogRecord> log = driver.log.Records();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].level, 1);
    EXPECT_EQ(
        log[0].text,
        "norvane::Utils::SendRequestRD: host 127.0.0.1:" + std::to_string(camera->HttpPort()) +
            " sent does not process request \"" + STATUS + "\", status code = 500");
    // An empty status page fails as well.
    camera->SetPageFault(CODEC_PAGE, HttpReply::Text(200, ""));
    Web::ByteBuffer reply{'s', 't', 'a', 'l', 'e'};
    EXPECT_FALSE(channel->ReadStreamStatus(reply));
    EXPECT_TRUE(Utils::ReplyText(reply).empty());
    EXPECT_EQ(driver.log.CountContaining("incorrect response"), 1u);
}

// The failure counter is never reset, so a camera that keeps failing is logged ever more rarely.
TEST_F(CommonChannelTest, RepeatedFailuresAreThinnedOut) {
    Start("VCC-HD1100");
    camera->SetPageFault(CODEC_PAGE, HttpReply::Text(503, "busy"));
    for (int i = 0; i < 20; ++i)
        EXPECT_FALSE(channel->ConfigureStream(stop, GROUP1_HD));
    EXPECT_EQ(ErrorLines(), 15u);  // calls 1 to 14 and 16
}

TEST_F(CommonChannelTest, LanguagePageAnswerIsNotExaminedButItsSendMustSucceed) {
    Start("VCC-HD1100");
    camera->SetPageFault(LANGUAGE, HttpReply::Text(500, "no language"));
    EXPECT_TRUE(channel->ConfigureStream(stop, GROUP1_HD));
    EXPECT_EQ(camera->Cgi().Submits(), 1);

    camera->Cgi().SetSetting("resol", "1");
    HttpReply drop;
    drop.action = HttpReply::Action::Drop;
    camera->SetPageFault(LANGUAGE, drop);
    const size_t before = camera->Http().Requests().size();
    EXPECT_FALSE(channel->ConfigureStream(stop, GROUP1_HD));
    // The HTTP library may send the dropped request once more; nothing follows it.
    const std::vector<HttpRequest> all = camera->Http().Requests();
    ASSERT_GT(all.size(), before + 2);
    EXPECT_EQ(all[before + 2].target, LANGUAGE);
    EXPECT_EQ(all.back().target, LANGUAGE);
    EXPECT_EQ(camera->Cgi().Submits(), 1);
    EXPECT_EQ(driver.log.Count(), 0u);
}

// A camera whose menu language is not chosen answers the status and aspect pages with its
// language page: the page is visited, the read repeated, and the settings written. A camera
// that stays on the language page fails without a write.
TEST_F(CommonChannelTest, LanguagePageBeforeTheStatusPagesIsVisitedOnce) {
    Start("VCC-HD1100");
    camera->Cgi().SetLanguageChosen(false);
    ASSERT_TRUE(channel->ConfigureStream(stop, GROUP1_HD));
    EXPECT_EQ(Answered(), (Requests{STATUS, LANGUAGE, STATUS, ASPECT, LANGUAGE, GROUP1_HD_WRITE,
                                    SUBMIT}));
    EXPECT_EQ(camera->Cgi().Setting("resol"), "2");

    camera->Cgi().SetLanguageStuck(true);
    camera->Cgi().SetSetting("resol", "1");
    const size_t before = Answered().size();
    EXPECT_FALSE(channel->ConfigureStream(stop, GROUP1_HD));
    EXPECT_EQ(AnsweredSince(before), (Requests{STATUS, LANGUAGE, STATUS}));
    EXPECT_EQ(camera->Cgi().Submits(), 1);
    EXPECT_EQ(driver.log.Count(), 0u);
}

TEST_F(CommonChannelTest, FailingCodecWriteOrSubmitFails) {
    Start("VCC-HD1100");
    bool failSubmit = false;
    Intercept(CODEC_PAGE, [&failSubmit](const HttpRequest& r) -> std::optional<HttpReply> {
        const bool write = r.query.find("resol=") != std::string::npos;
        const bool submit = r.query.find("submit=") != std::string::npos;
        if ((write && !failSubmit) || (submit && failSubmit))
            return HttpReply::Text(400, "refused");
        return std::nullopt;
    });
    EXPECT_FALSE(channel->ConfigureStream(stop, GROUP1_HD));
    EXPECT_EQ(Answered(), (Requests{STATUS, ASPECT, LANGUAGE, GROUP1_HD_WRITE}));
    failSubmit = true;
    const size_t before = Answered().size();
    EXPECT_FALSE(channel->ConfigureStream(stop, GROUP1_HD));
    EXPECT_EQ(AnsweredSince(before), (Requests{STATUS, ASPECT, LANGUAGE, GROUP1_HD_WRITE, SUBMIT}));
    EXPECT_EQ(camera->Cgi().Setting("resol"), "1");  // written, never submitted
    EXPECT_EQ(driver.log.CountContaining("status code = 400"), 2u);
}

struct StopCase {
    const char* name;
    std::string trigger;  // the request during which the stop event is set; empty: before
    size_t requests;      // requests answered in all
};

void PrintTo(const StopCase& c, std::ostream* os) {
    *os << c.name;
}

class CommonChannelStopTest : public CommonChannelTest,
                              public ::testing::WithParamInterface<StopCase> {};

// Whenever the stop event is found set the configuration fails; nothing more is sent.
TEST_P(CommonChannelStopTest, StopEventEndsTheSequenceWithFailure) {
    const StopCase& c = GetParam();
    driver.custom[8] = "0";
    Start("VCC-HD1100");
    const Requests full{STATUS,   ASPECT,          "/cgi-bin/aspect.cgi?aspect_ratio=0&status=1",
                        LANGUAGE, GROUP1_HD_WRITE, SUBMIT};
    if (c.trigger.empty())
        stop.Set();
    else
        StopOn(c.trigger);
    EXPECT_FALSE(channel->ConfigureStream(stop, GROUP1_HD));
    EXPECT_EQ(Answered(),
              Requests(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(c.requests)));
    EXPECT_EQ(camera->Cgi().Submits(), 0);
    EXPECT_EQ(camera->Cgi().Setting("resol"), "1");
    EXPECT_EQ(driver.log.Count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, CommonChannelStopTest,
    ::testing::Values(StopCase{"Before", "", 0}, StopCase{"OnStatus", STATUS, 1},
                      StopCase{"OnAspectRead", ASPECT, 3},  // the aspect step ends first
                      StopCase{"OnAspectWrite", "/cgi-bin/aspect.cgi?aspect_ratio=0&status=1", 3},
                      StopCase{"OnLanguage", LANGUAGE, 4},
                      StopCase{"OnCodecWrite", GROUP1_HD_WRITE, 5}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

// With nothing to change the stop event still makes the configuration fail, whether it was set
// before (status never read) or during it.
TEST_F(CommonChannelTest, StopWithNothingToChangeFails) {
    Start("VCC-HD1100");
    stop.Set();
    EXPECT_FALSE(channel->ConfigureStream(stop, GROUP1_UNCHANGED));
    EXPECT_TRUE(Answered().empty());
    stop.Reset();
    StopOn(ASPECT);
    EXPECT_FALSE(channel->ConfigureStream(stop, GROUP1_UNCHANGED));
    EXPECT_EQ(Answered(), (Requests{STATUS, ASPECT}));
    stop.Reset();
    StopOn("");
    EXPECT_TRUE(channel->ConfigureStream(stop, GROUP1_UNCHANGED));
}

// The camera has sent the reply head and then stalls in the body: the channel's stop path ends
// the configuration long before the client's time-out would.
TEST_F(CommonChannelTest, AbortFromAnotherThreadEndsAStalledBody) {
    timeoutMs = 10000;
    Start("VCC-HD1100");
    HttpReply stalled = HttpReply::Text(200, "stream1_name:(FRONT)\r\nstream1_sw:(1)\r\n");
    stalled.pieceSize = 1;
    stalled.piecePauseMs = 20000;
    camera->SetPageFault(CODEC_PAGE, stalled);

    bool result = true;
    CManualEvent done;
    const auto begin = std::chrono::steady_clock::now();
    std::thread configure([&] {
        result = channel->ConfigureStream(stop, GROUP1_HD);
        done.Set();
    });
    ASSERT_TRUE(camera->Http().WaitUntil([&] { return camera->Http().RequestCount() >= 1; }, 5000));
    // The client may not have the head yet when the camera logs the request: abort until done.
    for (int i = 0; i < 200 && !done.Wait(20); ++i)
        channel->AbortRequest();
    configure.join();
    EXPECT_FALSE(result);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(3000));
}

TEST(BuildChangedParameter, OnlyReportedValuesThatDiffer) {
    const std::string status =
        "resol:(2)\r\nframe_rate:(3)\r\ncodec:( 1)\r\ngop:(25x)\r\nname:(abc)\r\n";
    EXPECT_EQ(CCommonChannel::BuildChangedParameter(2, status, "resol"), "");
    EXPECT_EQ(CCommonChannel::BuildChangedParameter(3, "resol:(3)\r\n", "resol"), "");
    EXPECT_EQ(CCommonChannel::BuildChangedParameter(2, "resol:(3)\r\n", "resol"), "&resol=2");
    EXPECT_EQ(CCommonChannel::BuildChangedParameter(7, status, "missing"), "");
    EXPECT_EQ(CCommonChannel::BuildChangedParameter(1, status, "codec"), "");  // blanks skipped
    EXPECT_EQ(CCommonChannel::BuildChangedParameter(25, status, "gop"), "");   // digits only
    EXPECT_EQ(CCommonChannel::BuildChangedParameter(0, status, "name"), "");   // no digits: 0
    EXPECT_EQ(CCommonChannel::BuildChangedParameter(1, status, "name"), "&name=1");
    EXPECT_EQ(CCommonChannel::BuildChangedParameter(4294967295u, "q:(1)\r\n", "q"),
              "&q=4294967295");
    // A line with nothing after the colon is not a reported value.
    EXPECT_EQ(CCommonChannel::BuildChangedParameter(1, "resol:\r\n", "resol"), "");
}

// A value beyond 32 bits compares as the largest one instead of wrapping to a small number.
TEST(BuildChangedParameter, HugeCameraValuesSaturate) {
    EXPECT_EQ(CCommonChannel::BuildChangedParameter(0, "resol:(4294967296)\r\n", "resol"),
              "&resol=0");
    EXPECT_EQ(CCommonChannel::BuildChangedParameter(1, "resol:(18446744073709551617)\r\n", "resol"),
              "&resol=1");
    EXPECT_EQ(CCommonChannel::BuildChangedParameter(4294967295u,
                                                    "resol:(99999999999999999999999)\r\n", "resol"),
              "");
    EXPECT_EQ(CCommonChannel::BuildChangedParameter(4294967295u, "resol:(4294967295)\r\n", "resol"),
              "");
}
