#include "camsim/credentials.h"
#include "camsim/rtsp_auth.h"
#include "camsim/rtsp_request.h"

#include <gtest/gtest.h>

#include <string>

#include "http/base64.h"
#include "http/utils.h"

namespace {

using camsim::RtspRequest;
using camsim::RtspRequestReader;
using Result = RtspRequestReader::Result;

TEST(RtspRequestReader, JoinsSegmentsAndSplitsPipelinedRequests) {
    const std::string first =
        "ANNOUNCE rtsp://127.0.0.1:554/h264 RTSP/1.0\r\nCSeq: 7\r\nContent-Length: 5\r\n\r\nv=0\r\n";
    const std::string second = "OPTIONS * RTSP/1.0\ncseq: 8\n\n";
    RtspRequestReader reader;
    RtspRequest request;
    const std::string all = first + second;
    for (size_t i = 0; i + 1 < first.size(); ++i) {
        reader.Append(&all[i], 1);
        ASSERT_EQ(reader.Next(request), Result::NeedMore) << "after byte " << i;
    }
    reader.Append(all.data() + first.size() - 1, all.size() - first.size() + 1);
    ASSERT_EQ(reader.Next(request), Result::Complete);
    EXPECT_EQ(request.method, "ANNOUNCE");
    EXPECT_EQ(request.url, "rtsp://127.0.0.1:554/h264");
    EXPECT_EQ(request.Header("cseq"), "7");
    EXPECT_EQ(request.body, "v=0\r\n");
    ASSERT_EQ(reader.Next(request), Result::Complete);
    EXPECT_EQ(request.method, "OPTIONS");
    EXPECT_EQ(request.Header("CSeq"), "8");
    EXPECT_TRUE(request.body.empty());
    EXPECT_EQ(reader.Next(request), Result::NeedMore);
}

TEST(RtspRequestReader, RejectsOversizedAndMalformedInput) {
    RtspRequest request;
    RtspRequestReader endless;
    const std::string filler(RtspRequestReader::kMaxHead + 1, 'x');
    endless.Append(filler.data(), filler.size());
    EXPECT_EQ(endless.Next(request), Result::Malformed);

    for (const std::string text :
         {"OPTIONS * RTSP/1.0\r\nContent-Length: 999999\r\n\r\n", "OPTIONS * HTTP/1.1\r\n\r\n",
          "OPTIONS\r\n\r\n", "OPTIONS * RTSP/1.0\r\nno colon here\r\n\r\n",
          "OPTIONS * RTSP/1.0\r\nContent-Length: -1\r\n\r\n"}) {
        RtspRequestReader reader;
        reader.Append(text.data(), text.size());
        EXPECT_EQ(reader.Next(request), Result::Malformed) << text;
    }
}

TEST(RtspUrlPath, StripsSchemeHostAndSlashes) {
    EXPECT_EQ(camsim::UrlPath("rtsp://127.0.0.1:8554//live/h264/"), "live/h264");
    EXPECT_EQ(camsim::UrlPath("rtsp://127.0.0.1:8554/h264/trackID=1"), "h264/trackID=1");
    EXPECT_EQ(camsim::UrlPath("rtsp://127.0.0.1:8554"), "");
    EXPECT_EQ(camsim::UrlPath("*"), "*");
}

RtspRequest WithAuthorization(const std::string& method, const std::string& value) {
    RtspRequest request;
    request.method = method;
    request.url = "rtsp://127.0.0.1/h264/trackID=1";
    request.headers.emplace_back("Authorization", value);
    return request;
}

// Digest response as the project's client computes it (RFC 2617 without qop).
std::string DigestLine(const std::string& method, const std::string& password,
                       const std::string& nonce) {
    using norvane::Utils::Md5Hex;
    const std::string uri = "rtsp://127.0.0.1:554/h264";
    const std::string response = Md5Hex(Md5Hex("admin:camsim:" + password) + ":" + nonce + ":" +
                                        Md5Hex(method + ":" + uri));
    return "Digest username=\"admin\", realm=\"camsim\", nonce=\"" + nonce + "\", uri=\"" + uri +
           "\", response=\"" + response + "\"";
}

TEST(RtspAuth, DigestChecksResponseRealmAndNonce) {
    const camsim::RtspAuth auth(camsim::AuthMode::Digest, "admin", "secret", "camsim", "n0nce");
    EXPECT_EQ(auth.Challenge(), "Digest realm=\"camsim\", nonce=\"n0nce\"");
    // The uri is the presentation URL even though the request is a SETUP of a track.
    EXPECT_TRUE(auth.Accepts(WithAuthorization("SETUP", DigestLine("SETUP", "secret", "n0nce"))));
    EXPECT_FALSE(auth.Accepts(WithAuthorization("SETUP", DigestLine("SETUP", "wrong", "n0nce"))));
    EXPECT_FALSE(auth.Accepts(WithAuthorization("SETUP", DigestLine("SETUP", "secret", "stale"))));
    EXPECT_FALSE(auth.Accepts(WithAuthorization("PLAY", DigestLine("SETUP", "secret", "n0nce"))));
    EXPECT_FALSE(auth.Accepts(WithAuthorization("SETUP", "Basic YWRtaW46c2VjcmV0")));
    EXPECT_FALSE(auth.Accepts(RtspRequest{}));
}

TEST(RtspAuth, DigestWithQopAuth) {
    using norvane::Utils::Md5Hex;
    const camsim::RtspAuth auth(camsim::AuthMode::Digest, "admin", "secret", "camsim", "n0nce");
    const std::string ha1 = Md5Hex("admin:camsim:secret"), ha2 = Md5Hex("DESCRIBE:rtsp://x/h264");
    const std::string response = Md5Hex(ha1 + ":n0nce:00000001:c1:auth:" + ha2);
    EXPECT_TRUE(auth.Accepts(WithAuthorization(
        "DESCRIBE", "Digest username=\"admin\", realm=\"camsim\", nonce=\"n0nce\", "
                    "uri=\"rtsp://x/h264\", qop=auth, nc=00000001, cnonce=\"c1\", response=\"" +
                        response + "\"")));
}

TEST(RtspAuth, BasicAndNone) {
    const camsim::RtspAuth basic(camsim::AuthMode::Basic, "admin", "secret", "camsim", "");
    EXPECT_EQ(basic.Challenge(), "Basic realm=\"camsim\"");
    EXPECT_TRUE(basic.Accepts(
        WithAuthorization("DESCRIBE", "Basic " + norvane::Utils::Base64Encode("admin:secret"))));
    EXPECT_FALSE(basic.Accepts(
        WithAuthorization("DESCRIBE", "Basic " + norvane::Utils::Base64Encode("admin:secreT"))));
    EXPECT_FALSE(basic.Accepts(RtspRequest{}));
    const camsim::RtspAuth none(camsim::AuthMode::None, "", "", "camsim", "");
    EXPECT_TRUE(none.Accepts(RtspRequest{}));
    EXPECT_TRUE(none.Challenge().empty());
}

TEST(AuthParameters, QuotedAndPlainValues) {
    camsim::AuthParameters p = camsim::ParseAuthParameters("username=\"a, b\", nc=00000001 ,realm=\"r\"");
    EXPECT_EQ(p["username"], "a, b");
    EXPECT_EQ(p["nc"], "00000001");
    EXPECT_EQ(p["realm"], "r");
    EXPECT_EQ(p["nonce"], "");
    EXPECT_EQ(camsim::ParseAuthParameters("uri=\"unterminated")["uri"], "");
}

}  // namespace
