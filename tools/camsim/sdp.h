// SDP session descriptions of the simulator's streams (one video medium each).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "camsim/annexb.h"

namespace camsim {

enum class StreamCodec { H264, Jpeg };

struct SdpMedia {
    StreamCodec codec = StreamCodec::H264;
    NalUnit sps;  // H.264 only: out-of-band parameter sets
    NalUnit pps;
    std::string
        sprop;  // H.264: sprop-parameter-sets as given (a camera's bad one); empty: sps, pps
    std::string control = "trackID=1";
};

// First SPS and PPS of an Annex B stream; false when either is missing.
bool FindParameterSets(const std::vector<NalUnit>& units, NalUnit& sps, NalUnit& pps);

// The a=fmtp value of an H.264 medium: packetization-mode first, so that every later
// parameter follows a ';'. `sprop` replaces the sets' own sprop-parameter-sets unless empty.
std::string H264Fmtp(const NalUnit& sps, const NalUnit& pps, const std::string& sprop);

// Whole description with CR LF line ends: v=, o=, s=, c=, t=, a=control:*, then m=, a=rtpmap,
// (a=fmtp), a=control of the medium.
std::string BuildSdp(const SdpMedia& media, const std::string& name, uint32_t sessionId);

}  // namespace camsim
