#include "camsim/media_source.h"

#include <algorithm>

#include "camsim/media_files.h"
#include "camsim/send_stamp.h"

namespace camsim {

bool MediaSource::Load(StreamCodec codec, const std::string& path) {
    codec_ = codec;
    units_.clear();
    pictures_.clear();
    return codec == StreamCodec::H264 ? LoadH264(path) : LoadJpeg(path);
}

size_t MediaSource::FrameCount() const {
    return codec_ == StreamCodec::H264 ? units_.size() : pictures_.size();
}

SdpMedia MediaSource::Medium() const {
    SdpMedia medium;
    medium.codec = codec_;
    medium.sps = sps_;
    medium.pps = pps_;
    return medium;
}

bool MediaSource::LoadH264(const std::string& path) {
    const std::vector<NalUnit> nals = SplitNalUnits(ReadFileBytes(path));
    if (!FindParameterSets(nals, sps_, pps_))
        return false;
    units_ = SplitAccessUnits(nals);
    return !units_.empty();
}

bool MediaSource::LoadJpeg(const std::string& folder) {
    for (const Bytes& file : ReadJpegFolder(folder)) {
        JpegPicture picture;
        if (!ParseJpeg(file, picture))
            return false;
        pictures_.push_back(std::move(picture));
    }
    return !pictures_.empty();
}

FramePacketizer::FramePacketizer(const MediaSource& source, uint32_t ssrc, uint16_t firstSequence,
                                 uint32_t timestampBase, unsigned fps)
    : source_(source),
      h264_(ssrc, firstSequence),
      jpeg_(ssrc, firstSequence),
      base_(timestampBase),
      fps_(std::max(fps, 1u)) {}

std::vector<Packet> FramePacketizer::NextFrame() {
    const size_t count = source_.FrameCount();
    if (count == 0)
        return {};
    const uint32_t timestamp = NextTimestamp();
    const size_t picture = static_cast<size_t>(index_++ % count);
    if (source_.Codec() == StreamCodec::H264 && sendStamps_) {
        AccessUnit unit = source_.AccessUnits()[picture];
        unit.push_back(SendStampPlaceholder());
        return h264_.Packetize(unit, timestamp);
    }
    if (source_.Codec() == StreamCodec::H264)
        return h264_.Packetize(source_.AccessUnits()[picture], timestamp);
    return jpeg_.Packetize(source_.Pictures()[picture], kJpegQ, timestamp);
}

uint16_t FramePacketizer::NextSequence() {
    return source_.Codec() == StreamCodec::H264 ? h264_.Stream().NextSequence()
                                                : jpeg_.Stream().NextSequence();
}

uint32_t FramePacketizer::NextTimestamp() const { return VideoTimestamp(base_, index_, fps_); }

}  // namespace camsim
