#include "camsim/sdp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/base64.h"

namespace {

const camsim::NalUnit kSps = {0x67, 0x42, 0xC0, 0x1E, 0xDA, 0x02};
const camsim::NalUnit kPps = {0x68, 0xCE, 0x3C, 0x80};

TEST(Sdp, FindsFirstParameterSetsOnly) {
    camsim::NalUnit sps, pps;
    const camsim::NalUnit idr = {0x65, 0x88};
    EXPECT_FALSE(camsim::FindParameterSets({idr, kSps}, sps, pps));
    ASSERT_TRUE(camsim::FindParameterSets({idr, kSps, {}, kPps, {0x67, 0x64}}, sps, pps));
    EXPECT_EQ(sps, kSps);
    EXPECT_EQ(pps, kPps);
}

TEST(Sdp, H264DescriptionCarriesParameterSetsAfterSemicolon) {
    camsim::SdpMedia media;
    media.sps = kSps;
    media.pps = kPps;
    const std::string sdp = camsim::BuildSdp(media, "h264", 42);
    EXPECT_EQ(sdp.rfind("v=0\r\no=- 42 1 IN IP4 127.0.0.1\r\ns=h264\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\n", 0), 0u);
    const std::string fmtp = "a=fmtp:96 packetization-mode=1;profile-level-id=42c01e;sprop-parameter-sets=" +
                             norvane::Utils::Base64Encode(kSps.data(), kSps.size()) + "," +
                             norvane::Utils::Base64Encode(kPps.data(), kPps.size()) + "\r\n";
    EXPECT_NE(sdp.find("m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n" + fmtp +
                       "a=control:trackID=1\r\n"),
              std::string::npos)
        << sdp;
}

TEST(Sdp, JpegUsesStaticPayloadTypeWithoutFmtp) {
    camsim::SdpMedia media;
    media.codec = camsim::StreamCodec::Jpeg;
    const std::string sdp = camsim::BuildSdp(media, "mjpeg", 1);
    EXPECT_NE(sdp.find("m=video 0 RTP/AVP 26\r\na=rtpmap:26 JPEG/90000\r\na=control:trackID=1\r\n"),
              std::string::npos);
    EXPECT_EQ(sdp.find("a=fmtp"), std::string::npos);
}

}  // namespace
