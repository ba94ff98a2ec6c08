// Reference media of one simulated stream, cut into pictures and turned into RTP packets
// frame by frame; the stream loops with continuous sequence numbers and timestamps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "camsim/annexb.h"
#include "camsim/h264_packetizer.h"
#include "camsim/jpeg_packetizer.h"
#include "camsim/jpeg_picture.h"
#include "camsim/sdp.h"

namespace camsim {

// Pictures of one media file (H.264 Annex B) or folder of JPEG files (sorted by name).
class MediaSource {
public:
    // False when nothing usable could be read (an H.264 stream also needs SPS and PPS).
    bool Load(StreamCodec codec, const std::string& path);
    StreamCodec Codec() const { return codec_; }
    // Number of pictures in one loop.
    size_t FrameCount() const;
    // SDP medium of this source (parameter sets for H.264).
    SdpMedia Medium() const;
    const std::vector<AccessUnit>& AccessUnits() const { return units_; }
    const std::vector<JpegPicture>& Pictures() const { return pictures_; }

private:
    bool LoadH264(const std::string& path);
    bool LoadJpeg(const std::string& folder);

    StreamCodec codec_ = StreamCodec::H264;
    std::vector<AccessUnit> units_;
    std::vector<JpegPicture> pictures_;
    NalUnit sps_;
    NalUnit pps_;
};

// One session's RTP packet source over a MediaSource: frame n of the endless stream is
// picture n modulo the loop length at timestamp base + n * 90000 / fps.
class FramePacketizer {
public:
    static constexpr uint8_t kJpegQ = 255;  // tables travel in-band, so pictures stay exact

    FramePacketizer(const MediaSource& source, uint32_t ssrc, uint16_t firstSequence,
                    uint32_t timestampBase, unsigned fps);

    // Packets of the next frame.
    std::vector<Packet> NextFrame();
    // Sequence number and timestamp the next frame starts with (for RTP-Info).
    uint16_t NextSequence();
    uint32_t NextTimestamp() const;
    uint64_t FrameIndex() const { return index_; }
    // Each H.264 frame ends with a send-stamp NAL unit (see send_stamp.h) from now on.
    void SetSendStamps(bool on) { sendStamps_ = on; }

private:
    const MediaSource& source_;
    H264Packetizer h264_;
    JpegPacketizer jpeg_;
    uint32_t base_;
    unsigned fps_;
    uint64_t index_ = 0;
    bool sendStamps_ = false;
};

}  // namespace camsim
