#include "rtsp/rtsp_response_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using norvane::AuthScheme;
using norvane::CRTSPResponseParser;
using norvane::MediaKind;
using norvane::RTSPMethod;

namespace {

using Bytes = std::vector<uint8_t>;

std::string Reply(const std::string& headers, const std::string& body = {}) {
    std::string text = "RTSP/1.0 200 OK\r\nCSeq: 2\r\n" + headers;
    if (!body.empty())
        text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return text + "\r\n" + body;
}

const std::string SDP =
    "v=0\r\n"
    "o=- 1 1 IN IP4 10.0.0.5\r\n"
    "a=control:*\r\n"
    "m=video 0 RTP/AVP 96\r\n"
    "a=rtpmap:96 H264/90000\r\n"
    "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=Z0IAKeKQFAe2AtwEBAaQeJEV,aM48gA==;profile-level-id=420029\r\n"
    "a=control:trackID=1\r\n"
    "m=audio 0 RTP/AVP/TCP 0\r\n"
    "a=control:trackID=2\r\n"
    "m=application 0 RTP/AVP 107\r\n"
    "a=control:trackID=9\r\n"
    "m=data 0 RTP/AVP 108\r\n"
    "a=control:trackID=3\r\n";

}  // namespace

TEST(RtspStatus, NotFoundFailsWithStatusStored) {
    CRTSPResponseParser parser;
    EXPECT_FALSE(parser.Parse("RTSP/1.0 404 Not Found\r\nCSeq: 1\r\n\r\n", RTSPMethod::Options));
    EXPECT_EQ(parser.GetStatusCode(), 404u);
    EXPECT_EQ(parser.GetVersion(), "RTSP/1.0");
}

TEST(RtspStatus, MalformedStatusLinesAndUnfinishedHeadersFail) {
    CRTSPResponseParser parser;
    EXPECT_FALSE(parser.Parse("", RTSPMethod::Options));
    EXPECT_FALSE(parser.Parse("RTSP/1.0 OK\r\n\r\n", RTSPMethod::Options));
    EXPECT_FALSE(parser.Parse("RTSP/1.0 200 OK", RTSPMethod::Options));  // no line end at all
    EXPECT_FALSE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq: 1\r\n", RTSPMethod::Options));
    EXPECT_FALSE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq: 1", RTSPMethod::Options));
    EXPECT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n", RTSPMethod::Options));
    EXPECT_EQ(parser.GetCSeq(), 1u);
}

TEST(RtspHeaders, CSeqTypeLengthAndContentBase) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\ncseq: 7\r\nContent-Type: Application/SDP\r\n"
                             "Content-Base:   rtsp://cam/stream/  \r\nContent-Length: 0\r\n\r\n",
                             RTSPMethod::Describe));
    EXPECT_EQ(parser.GetCSeq(), 7u);
    EXPECT_EQ(parser.GetContentType(), "application/sdp");
    EXPECT_EQ(parser.GetContentBase(), "rtsp://cam/stream/");
    EXPECT_EQ(parser.GetContentLength(), 0u);
    EXPECT_TRUE(parser.GetControl(MediaKind::Video).empty());  // Content-Length 0: no media

    EXPECT_FALSE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq: x\r\n\r\n", RTSPMethod::Options));
    EXPECT_FALSE(parser.Parse("RTSP/1.0 200 OK\r\nContent-Length: many\r\n\r\n", RTSPMethod::Options));
    // Header names in any case, the blank after the colon optional.
    EXPECT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\ncontent-base:rtsp://x/\r\n\r\n", RTSPMethod::Options));
    EXPECT_EQ(parser.GetContentBase(), "rtsp://x/");
}

TEST(RtspHeaders, UnhandledAndUnknownLinesAreAccepted) {
    CRTSPResponseParser parser;
    EXPECT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq: 3\r\nDate: Tue, 8 Dec 2026\r\n"
                             "Transport: RTP/AVP;unicast\r\nRange: npt=0-\r\nRTP-Info: url=x\r\n"
                             "Server: cam\r\nX-Other: 1\r\n\r\n",
                             RTSPMethod::Play));
    // A name counts only at a word start: "XCSeq" is not a CSeq line.
    EXPECT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\nXCSeq: bad\r\n\r\n", RTSPMethod::Play));
}

// Each line is classified by the name before its colon, whatever its value holds.
TEST(RtspHeaders, ClassifiedByTheirOwnName) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse("RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\n"
                             "WWW-Authenticate: Digest realm=\"Surveillance Server\", nonce=\"1\"\r\n\r\n",
                             RTSPMethod::Describe));
    EXPECT_EQ(parser.GetOfferedScheme(), AuthScheme::Digest);
    EXPECT_EQ(parser.GetRealm(), "Surveillance Server");
    EXPECT_EQ(parser.GetNonce(), "1");
    ASSERT_TRUE(parser.Parse("RTSP/1.0 401 Unauthorized\r\nCSeq: 2\r\n"
                             "WWW-Authenticate: Basic realm=\"Date Range Session\"\r\n\r\n",
                             RTSPMethod::Options));
    EXPECT_EQ(parser.GetOfferedScheme(), AuthScheme::Basic);
    EXPECT_EQ(parser.GetRealm(), "Date Range Session");
    // Names and schemes in any case, the blank after the colon optional.
    ASSERT_TRUE(parser.Parse("RTSP/1.0 401 Unauthorized\r\nwww-authenticate:digest realm=\"x\", "
                             "nonce=\"n\"\r\n\r\n",
                             RTSPMethod::Options));
    EXPECT_EQ(parser.GetOfferedScheme(), AuthScheme::Digest);
    EXPECT_EQ(parser.GetNonce(), "n");
    // Values naming other headers are no such headers; an unknown or colon-less line is ignored.
    EXPECT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq: 3\r\nServer: CSeq Session Transport\r\n"
                             "X-Note: Session 5; Content-Length: 99\r\nRTP-Info: url=x;CSeq=7\r\n"
                             "Date: Session\r\nno colon Session here\r\nSession: S9\r\n\r\n",
                             RTSPMethod::Play));
    EXPECT_EQ(parser.GetCSeq(), 3u);
    EXPECT_EQ(parser.GetSessionId(), "S9");
    EXPECT_EQ(parser.GetContentLength(), 0u);
}

TEST(RtspSession, IdentifierAndTimeoutForms) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(Reply("Session: A1B2;timeout=60\r\n"), RTSPMethod::Setup));
    EXPECT_EQ(parser.GetSessionId(), "A1B2");
    EXPECT_EQ(parser.GetSessionTimeout(), 60u);
    ASSERT_TRUE(parser.Parse(Reply("Session: C3D4\r\n"), RTSPMethod::Setup));
    EXPECT_EQ(parser.GetSessionId(), "C3D4");
    EXPECT_EQ(parser.GetSessionTimeout(), 60u);  // kept
    ASSERT_TRUE(parser.Parse(Reply("Session: A1B2;timeout=0\r\n"), RTSPMethod::Setup));
    EXPECT_EQ(parser.GetSessionTimeout(), 30u);
    EXPECT_FALSE(parser.Parse(Reply("Session: A1B2;other=5\r\n"), RTSPMethod::Setup));
    EXPECT_TRUE(parser.GetSessionId().empty());
    ASSERT_TRUE(parser.Parse(Reply("session: A1B2\r\n"), RTSPMethod::Setup));
    EXPECT_EQ(parser.GetSessionId(), "A1B2");
    ASSERT_TRUE(parser.Parse(Reply("Session:12345678;timeout=45\r\n"), RTSPMethod::Setup));
    EXPECT_EQ(parser.GetSessionId(), "12345678");
    EXPECT_EQ(parser.GetSessionTimeout(), 45u);
}

// The channels a SETUP reply gives RTP and RTCP on the connection; what cannot be two distinct
// channels of one byte leaves 0 and 1.
TEST(RtspTransportHeader, InterleavedChannelsTheServerChose) {
    using Channels = std::pair<uint8_t, uint8_t>;
    const std::pair<const char*, Channels> cases[] = {
        {"Transport: RTP/AVP/TCP;unicast;interleaved=4-5;ssrc=1A2B\r\n", {4, 5}},
        {"transport:RTP/AVP/TCP;interleaved=6\r\n", {6, 7}},
        {"Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n", {0, 1}},
        {"Transport: RTP/AVP/TCP;interleaved=9-2\r\n", {9, 2}},
        {"Transport: RTP/AVP/TCP;interleaved=256-257\r\n", {0, 1}},
        {"Transport: RTP/AVP/TCP;interleaved=3-3\r\n", {0, 1}},
        {"Transport: RTP/AVP/TCP;interleaved=-1\r\n", {0, 1}},
        {"Transport: RTP/AVP/TCP;interleaved=x\r\n", {0, 1}},
        {"Transport: RTP/AVP;unicast;client_port=3556-3557;server_port=6970-6971\r\n", {0, 1}},
    };
    for (const auto& [header, channels] : cases) {
        CRTSPResponseParser parser;
        ASSERT_TRUE(parser.Parse(Reply("Transport: RTP/AVP/TCP;interleaved=10-11\r\n"),
                                 RTSPMethod::Setup));
        ASSERT_TRUE(parser.Parse(Reply(std::string(header) + "Session: 1\r\n"), RTSPMethod::Setup))
            << header;
        EXPECT_EQ(parser.GetInterleavedChannels(), channels) << header;
    }
}

// The Public header of an OPTIONS reply tells whether GET_PARAMETER is there for keep-alives;
// each Public header replaces what an earlier one said.
TEST(RtspPublic, OffersGetParameterOnlyWhenListedAsAMethod) {
    CRTSPResponseParser parser;
    EXPECT_FALSE(parser.OffersGetParameter());
    ASSERT_TRUE(parser.Parse(Reply("Public: OPTIONS, DESCRIBE, SETUP, TEARDOWN, PLAY, PAUSE, "
                                   "GET_PARAMETER\r\n"),
                             RTSPMethod::Options));
    EXPECT_TRUE(parser.OffersGetParameter());
    ASSERT_TRUE(
        parser.Parse(Reply("Public: OPTIONS, DESCRIBE, SET_PARAMETER\r\n"), RTSPMethod::Options));
    EXPECT_FALSE(parser.OffersGetParameter());
    ASSERT_TRUE(parser.Parse(Reply("public:get_parameter,OPTIONS\r\n"), RTSPMethod::Options));
    EXPECT_TRUE(parser.OffersGetParameter());
    ASSERT_TRUE(parser.Parse(Reply("Public: OPTIONS, GET_PARAMETERS\r\n"), RTSPMethod::Options));
    EXPECT_FALSE(parser.OffersGetParameter());
    ASSERT_TRUE(parser.Parse(Reply("Server: GET_PARAMETER\r\n"), RTSPMethod::Options));
    EXPECT_FALSE(parser.OffersGetParameter()) << "only the Public header counts";
    EXPECT_EQ(norvane::RTSPMethodName(RTSPMethod::GetParameter), "GET_PARAMETER");
}

// Cameras pad the identifier; the padding is not part of it.
TEST(RtspSession, BlanksAroundIdentifierAreTrimmed) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(Reply("Session:        708345999;timeout=60\r\n"), RTSPMethod::Setup));
    EXPECT_EQ(parser.GetSessionId(), "708345999");
    EXPECT_EQ(parser.GetSessionTimeout(), 60u);
    ASSERT_TRUE(parser.Parse(Reply("Session:\t \tAB12 \t \r\n"), RTSPMethod::Setup));
    EXPECT_EQ(parser.GetSessionId(), "AB12");
    EXPECT_FALSE(parser.Parse(Reply("Session:  \t ;timeout=60\r\n"), RTSPMethod::Setup));
    EXPECT_TRUE(parser.GetSessionId().empty());
}

TEST(RtspAuthenticate, BasicWithQuotedRealm) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse("RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\n"
                             "WWW-Authenticate: Basic realm=\"cam\"\r\n\r\n",
                             RTSPMethod::Describe));
    EXPECT_EQ(parser.GetStatusCode(), 401u);
    EXPECT_EQ(parser.GetOfferedScheme(), AuthScheme::Basic);
    EXPECT_EQ(parser.GetRealm(), "cam");
}

TEST(RtspAuthenticate, DigestNeedsRealmAndNonce) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse("RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\n"
                             "WWW-Authenticate: Digest realm=\"Sanyo cam\", nonce=\"4a1f9b7c\"\r\n\r\n",
                             RTSPMethod::Options));
    EXPECT_EQ(parser.GetOfferedScheme(), AuthScheme::Digest);
    EXPECT_EQ(parser.GetRealm(), "Sanyo cam");
    EXPECT_EQ(parser.GetNonce(), "4a1f9b7c");
    EXPECT_FALSE(parser.Parse("RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\n"
                              "WWW-Authenticate: Digest realm=\"cam\"\r\n\r\n",
                              RTSPMethod::Options));
    // Unknown scheme: accepted, nothing offered. A scheme word with nothing after it fails.
    EXPECT_TRUE(parser.Parse("RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: NTLM x\r\n\r\n",
                             RTSPMethod::Options));
    EXPECT_EQ(parser.GetOfferedScheme(), AuthScheme::None);
    EXPECT_FALSE(parser.Parse("RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic\r\n\r\n",
                              RTSPMethod::Options));
    EXPECT_TRUE(parser.Parse("RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate:Basic x\r\n\r\n",
                             RTSPMethod::Options));
    EXPECT_EQ(parser.GetOfferedScheme(), AuthScheme::Basic);
}

TEST(RtspSdp, MediaControlsProfilesAndParameterSets) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(Reply("Content-Base: rtsp://10.0.0.5/live/\r\n", SDP), RTSPMethod::Describe));
    EXPECT_EQ(parser.GetControl(MediaKind::Video), "trackID=1");
    EXPECT_EQ(parser.GetTransportProfile(MediaKind::Video), "RTP/AVP");
    EXPECT_EQ(parser.GetControl(MediaKind::Audio), "trackID=2");
    EXPECT_EQ(parser.GetTransportProfile(MediaKind::Audio), "RTP/AVP/TCP");
    // "application" is no known kind; "data" is metadata.
    EXPECT_EQ(parser.GetControl(MediaKind::Metadata), "trackID=3");
    // Decoded independently: base64 -d of the two sprop entries.
    EXPECT_EQ(parser.GetSequenceParameterSet(),
              (Bytes{0x67, 0x42, 0x00, 0x29, 0xe2, 0x90, 0x14, 0x07, 0xb6, 0x02, 0xdc, 0x04, 0x04,
                     0x06, 0x90, 0x78, 0x91, 0x15}));
    EXPECT_EQ(parser.GetPictureParameterSet(), (Bytes{0x68, 0xce, 0x3c, 0x80}));
    EXPECT_TRUE(parser.GetControl(MediaKind::None).empty());
}

TEST(RtspSdp, OnlyFirstControlAfterMediaLineCounts) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(Reply("", "m=video 0 RTP/AVP 96\r\na=control:first\r\na=control:second\r\n"),
                             RTSPMethod::Describe));
    EXPECT_EQ(parser.GetControl(MediaKind::Video), "first");
    EXPECT_FALSE(parser.Parse(Reply("", "m=video 0 RTP/AVP 96\r\na=control:\r\n"), RTSPMethod::Describe));
    EXPECT_TRUE(parser.GetControl(MediaKind::Video).empty());
}

TEST(RtspSdp, MediaLineForms) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(Reply("", "m=video 0\r\na=control:v\r\n"), RTSPMethod::Describe));
    EXPECT_TRUE(parser.GetTransportProfile(MediaKind::Video).empty());
    EXPECT_FALSE(parser.Parse(Reply("", "m=\r\n"), RTSPMethod::Describe));
    EXPECT_FALSE(parser.Parse(Reply("", "m= video 0 RTP/AVP 96\r\n"), RTSPMethod::Describe));
    // Upper-case "M=" is classified as a media line, but "m" is searched with exact case.
    EXPECT_FALSE(parser.Parse(Reply("", "M=VIDEO 0 RTP/SAVP 96\r\n"), RTSPMethod::Describe));
}

TEST(RtspSdp, FmtpForms) {
    CRTSPResponseParser parser;
    // sprop-parameter-sets right after the payload number follows a blank, not ';': not found,
    // and without config the line is accepted with no parameter sets.
    ASSERT_TRUE(parser.Parse(Reply("", "m=video 0 RTP/AVP 96\r\na=fmtp:96 sprop-parameter-sets=Z0IA,aM48\r\n"),
                             RTSPMethod::Describe));
    EXPECT_TRUE(parser.GetSequenceParameterSet().empty());
    // Sets that cannot be used (one entry, an empty one) are dropped without failing the reply.
    ASSERT_TRUE(parser.Parse(Reply("", "a=fmtp:96 x=1;sprop-parameter-sets=Z0IA\r\n"),
                             RTSPMethod::Describe));
    EXPECT_TRUE(parser.HasUnusableParameterSets());
    ASSERT_TRUE(parser.Parse(Reply("", "a=fmtp:96 x=1;sprop-parameter-sets=,aM48\r\n"),
                             RTSPMethod::Describe));
    EXPECT_TRUE(parser.HasUnusableParameterSets());
    EXPECT_TRUE(parser.GetPictureParameterSet().empty());
    // config is hexadecimal.
    ASSERT_TRUE(parser.Parse(Reply("", "m=audio 0 RTP/AVP 97\r\na=fmtp:97 streamtype=5;config=1190\r\n"),
                             RTSPMethod::Describe));
    EXPECT_EQ(parser.GetCodecConfiguration(), (Bytes{0x11, 0x90}));
    // Digits that are not hexadecimal read as 0 and do not fail the reply.
    ASSERT_TRUE(parser.Parse(Reply("", "m=video 0 RTP/AVP 96\r\na=fmtp:96 x=1;config=0x1G\r\n"),
                             RTSPMethod::Describe));
    EXPECT_EQ(parser.GetCodecConfiguration(), (Bytes{0x00, 0x10}));
    // An oversized entry drops both sets, and earlier ones too: they would not match the stream.
    const std::string huge(400, 'A');  // 300 bytes decoded
    ASSERT_TRUE(parser.Parse(
        Reply("", "a=fmtp:96 x=1;sprop-parameter-sets=Z0IAKeKQFAe2AtwEBAaQeJEV,aM48gA==\r\n"),
        RTSPMethod::Describe));
    EXPECT_FALSE(parser.HasUnusableParameterSets());
    ASSERT_FALSE(parser.GetSequenceParameterSet().empty());
    ASSERT_TRUE(
        parser.Parse(Reply("", "a=fmtp:96 x=1;sprop-parameter-sets=" + huge + ",aM48gA==\r\n"),
                     RTSPMethod::Describe));
    EXPECT_TRUE(parser.HasUnusableParameterSets());
    EXPECT_TRUE(parser.GetSequenceParameterSet().empty());
    EXPECT_TRUE(parser.GetPictureParameterSet().empty());
    // The next description judges its own sets.
    ASSERT_TRUE(parser.Parse(Reply("", "m=video 0 RTP/AVP 96\r\n"), RTSPMethod::Describe));
    EXPECT_FALSE(parser.HasUnusableParameterSets());
}

// The RTP clock of a section comes from the rtpmap of its first payload format, wherever the
// line stands in the section; malformed or absurd rates are passed over.
TEST(RtspSdp, ClockRateFromTheFirstFormatsRtpmap) {
    struct Case {
        std::string sdp;
        uint32_t video;
        uint32_t audio;
    };
    const Case cases[] = {
        {SDP, 90000, 0},  // a static audio format without rtpmap
        {"m=video 0 RTP/AVP 97 96\r\na=control:v\r\na=rtpmap:96 H264/90000\r\n"
         "a=rtpmap:97 JPEG/45000\r\nm=audio 0 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000/1\r\n",
         45000, 8000},
        {"m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264\r\na=rtpmap:96 H264/0\r\n"
         "a=rtpmap:96 H264/4000000000\r\na=control:v\r\n",
         0, 0},
    };
    for (const Case& c : cases) {
        CRTSPResponseParser parser;
        ASSERT_TRUE(parser.Parse(Reply("", c.sdp), RTSPMethod::Describe)) << c.sdp;
        EXPECT_EQ(parser.GetClockRate(MediaKind::Video), c.video) << c.sdp;
        EXPECT_EQ(parser.GetClockRate(MediaKind::Audio), c.audio) << c.sdp;
        EXPECT_EQ(parser.GetClockRate(MediaKind::None), 0u);
    }
}

TEST(RtspSdp, BodyIsReadOnlyForDescribeAndCutAtContentLength) {
    CRTSPResponseParser parser;
    const std::string badBody = "m=\r\n";
    EXPECT_TRUE(parser.Parse(Reply("", badBody), RTSPMethod::Setup));
    EXPECT_FALSE(parser.Parse(Reply("", badBody), RTSPMethod::Describe));
    // Content-Length larger than the text: the body is cut at the end of the text.
    EXPECT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\nm=video 0 RTP/AVP 96\r\na=control:v",
                             RTSPMethod::Describe));
    EXPECT_EQ(parser.GetControl(MediaKind::Video), "v");
    // Bytes past Content-Length are not SDP.
    EXPECT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nv=0\r\nm=\r\n", RTSPMethod::Describe));
}

TEST(RtspPersistence, FieldsSurviveLaterReplies) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(Reply("Content-Base: rtsp://cam/s/\r\nSession: S1;timeout=20\r\n", SDP),
                             RTSPMethod::Describe));
    // A reply without Content-Length keeps the last one given as a field (its body is empty).
    const uint32_t length = parser.GetContentLength();
    ASSERT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq: 9\r\n\r\n" + SDP, RTSPMethod::Describe));
    EXPECT_EQ(parser.GetContentLength(), length);
    ASSERT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq: 10\r\n\r\n", RTSPMethod::Play));
    EXPECT_EQ(parser.GetContentBase(), "rtsp://cam/s/");
    EXPECT_EQ(parser.GetSessionId(), "S1");
    EXPECT_EQ(parser.GetSessionTimeout(), 20u);
    EXPECT_EQ(parser.GetControl(MediaKind::Video), "trackID=1");
    EXPECT_EQ(parser.GetPictureParameterSet().size(), 4u);
    EXPECT_EQ(parser.GetCSeq(), 10u);
    EXPECT_EQ(parser.NextCSeq(), 11u);
}

// Without its own Content-Length a reply has no body, whatever an earlier reply announced;
// only a 200 reply to DESCRIBE with a Content-Type has one, running to the end of the text.
TEST(RtspBody, MissingContentLengthMeansNoBodyExceptTypedDescribe) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(Reply("Content-Type: application/sdp\r\n", SDP), RTSPMethod::Describe));
    const std::string late = "m=video 0 RTP/AVP 96\r\na=control:late\r\n";
    ASSERT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq: 3\r\n\r\n" + late + "m=\r\n", RTSPMethod::Describe));
    EXPECT_EQ(parser.GetControl(MediaKind::Video), "trackID=1");
    ASSERT_TRUE(parser.Parse("RTSP/1.0 401 Unauthorized\r\nContent-Type: text/plain\r\n\r\nm=\r\n",
                             RTSPMethod::Describe));
    ASSERT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\nContent-Type: application/sdp\r\n\r\n" + late,
                             RTSPMethod::Describe));
    EXPECT_EQ(parser.GetControl(MediaKind::Video), "late");
    EXPECT_FALSE(parser.Parse("RTSP/1.0 200 OK\r\nContent-Type: application/sdp\r\n\r\nm=\r\n",
                              RTSPMethod::Describe));
}

TEST(RtspBody, ReplyHeadAnnouncesItsBody) {
    const auto announced = [](const std::string& head, RTSPMethod method) {
        return CRTSPResponseParser::AnnouncedBodyLength(head, method);
    };
    constexpr size_t TO_END = CRTSPResponseParser::BODY_TO_END;
    EXPECT_EQ(announced("RTSP/1.0 200 OK\r\ncontent-length: 42\r\n\r\n", RTSPMethod::Options), 42u);
    EXPECT_EQ(announced("RTSP/1.0 200 OK\r\nContent-Type: application/sdp\r\nContent-Length: 7\r\n\r\n",
                        RTSPMethod::Describe),
              7u);
    EXPECT_EQ(announced("RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"c\"\r\n\r\n",
                        RTSPMethod::Describe),
              0u);
    EXPECT_EQ(announced("RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n", RTSPMethod::Describe), 0u);
    EXPECT_EQ(announced("RTSP/1.0 200 OK\r\nContent-Type: application/sdp\r\n\r\n", RTSPMethod::Describe),
              TO_END);
    EXPECT_EQ(announced("RTSP/1.0 200 OK\r\nContent-Type: application/sdp\r\n\r\n", RTSPMethod::Setup), 0u);
    EXPECT_EQ(announced("RTSP/1.0 401 Unauthorized\r\nContent-Type: text/html\r\n\r\n", RTSPMethod::Describe),
              0u);
    // A value that only mentions the header announces nothing.
    EXPECT_EQ(announced("RTSP/1.0 200 OK\r\nServer: Content-Length: 9\r\n\r\n", RTSPMethod::Options), 0u);
    EXPECT_EQ(announced("garbage\r\n\r\n", RTSPMethod::Describe), 0u);
}
