#include "camsim/sdp.h"

#include <cstdio>

#include "camsim/auth_crypto.h"

namespace camsim {

namespace {

constexpr int kSpsType = 7;
constexpr int kPpsType = 8;

std::string Base64(const NalUnit& unit) { return Base64Encode(unit.data(), unit.size()); }

}  // namespace

bool FindParameterSets(const std::vector<NalUnit>& units, NalUnit& sps, NalUnit& pps) {
    sps.clear();
    pps.clear();
    for (const NalUnit& unit : units) {
        if (unit.empty())
            continue;
        const int type = unit[0] & 0x1F;
        if (type == kSpsType && sps.empty())
            sps = unit;
        else if (type == kPpsType && pps.empty())
            pps = unit;
    }
    return !sps.empty() && !pps.empty();
}

std::string H264Fmtp(const NalUnit& sps, const NalUnit& pps, const std::string& sprop) {
    char profile[8] = "42001f";
    if (sps.size() >= 4)
        std::snprintf(profile, sizeof(profile), "%02x%02x%02x", sps[1], sps[2], sps[3]);
    return "packetization-mode=1;profile-level-id=" + std::string(profile) +
           ";sprop-parameter-sets=" + (sprop.empty() ? Base64(sps) + "," + Base64(pps) : sprop);
}

std::string BuildSdp(const SdpMedia& media, const std::string& name, uint32_t sessionId) {
    const std::string id = std::to_string(sessionId);
    std::string sdp = "v=0\r\no=- " + id + " 1 IN IP4 127.0.0.1\r\ns=" + name +
                      "\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\na=control:*\r\n";
    if (media.codec == StreamCodec::H264) {
        sdp += "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=fmtp:96 " +
               H264Fmtp(media.sps, media.pps, media.sprop) + "\r\n";
    } else {
        sdp += "m=video 0 RTP/AVP 26\r\na=rtpmap:26 JPEG/90000\r\n";
    }
    return sdp + "a=control:" + media.control + "\r\n";
}

}  // namespace camsim
