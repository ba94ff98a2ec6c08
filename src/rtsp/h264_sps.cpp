#include "rtsp/h264_sps.h"

namespace norvane {

CBitReader::CBitReader(const uint8_t* begin, const uint8_t* end_) : position(begin), end(end_) {}

uint32_t CBitReader::ReadBits(unsigned count) {
    uint32_t value = 0;
    for (unsigned i = 0; i < count; ++i) {
        unsigned bit = 1;
        if (position < end) {
            bit = (*position >> (7 - bitIndex)) & 1;
            if (++bitIndex == 8) {
                bitIndex = 0;
                ++position;
            }
        } else {
            failed = true;
        }
        value = (value << 1) | bit;
    }
    return value;
}

uint32_t CBitReader::ReadUe() {
    unsigned zeros = 0;
    while (!ReadFlag()) {
        if (++zeros > 31) {
            failed = true;
            return 0;
        }
    }
    const uint64_t value = (uint64_t{1} << zeros) - 1 + ReadBits(zeros);
    return static_cast<uint32_t>(value);
}

int32_t CBitReader::ReadSe() {
    const uint32_t k = ReadUe();
    const int64_t magnitude = (static_cast<int64_t>(k) + 1) / 2;
    return static_cast<int32_t>(k & 1 ? magnitude : -magnitude);
}

namespace {

void SkipScalingList(CBitReader& reader, unsigned size) {
    int32_t lastScale = 8;
    for (unsigned j = 0; j < size && !reader.Failed(); ++j) {
        const int32_t delta = reader.ReadSe();
        if (delta < -128 || delta > 127) {  // delta_scale's range; beyond it the SPS is corrupt
            reader.Fail();
            return;
        }
        const int32_t nextScale = (lastScale + delta + 256) % 256;
        if (nextScale == 0)
            return;
        lastScale = nextScale;
    }
}

void SkipChromaAndScaling(CBitReader& reader) {
    if (reader.ReadUe() == 3)  // chroma_format_idc
        reader.ReadFlag();     // separate_colour_plane_flag
    reader.ReadUe();           // bit_depth_luma_minus8
    reader.ReadUe();           // bit_depth_chroma_minus8
    reader.ReadFlag();         // qpprime_y_zero_transform_bypass_flag
    if (!reader.ReadFlag())    // seq_scaling_matrix_present_flag
        return;
    for (unsigned i = 0; i < 8; ++i) {
        if (reader.ReadFlag())
            SkipScalingList(reader, i < 6 ? 16 : 64);
    }
}

void SkipPictureOrderCount(CBitReader& reader) {
    const uint32_t type = reader.ReadUe();
    if (type == 0) {
        reader.ReadUe();  // log2_max_pic_order_cnt_lsb_minus4
    } else if (type == 1) {
        reader.ReadFlag();
        reader.ReadSe();
        reader.ReadSe();
        const uint32_t cycle = reader.ReadUe();
        for (uint32_t i = 0; i < cycle && !reader.Failed(); ++i)
            reader.ReadSe();
    }
}

}  // namespace

bool ParseSequenceParameterSet(const uint8_t* begin, const uint8_t* end, uint32_t& width,
                               uint32_t& height) {
    CBitReader reader(begin, end);
    const uint32_t profile = reader.ReadBits(8);
    reader.ReadBits(8);  // constraint flags and reserved bits
    reader.ReadBits(8);  // level_idc
    reader.ReadUe();     // seq_parameter_set_id
    if (profile > 99)
        SkipChromaAndScaling(reader);
    reader.ReadUe();  // log2_max_frame_num_minus4
    SkipPictureOrderCount(reader);
    reader.ReadUe();    // max_num_ref_frames
    reader.ReadFlag();  // gaps_in_frame_num_value_allowed_flag
    const uint64_t widthMbs = uint64_t{reader.ReadUe()} + 1;
    const uint64_t heightMaps = uint64_t{reader.ReadUe()} + 1;
    const bool frameMbsOnly = reader.ReadFlag();
    if (!frameMbsOnly)
        reader.ReadFlag();  // mb_adaptive_frame_field_flag
    reader.ReadFlag();      // direct_8x8_inference_flag
    int64_t w = static_cast<int64_t>(widthMbs * 16);
    int64_t h = static_cast<int64_t>((frameMbsOnly ? 1 : 2) * heightMaps * 16);
    if (reader.ReadFlag()) {  // frame_cropping_flag
        const int64_t left = reader.ReadUe(), right = reader.ReadUe();
        const int64_t top = reader.ReadUe(), bottom = reader.ReadUe();
        w -= 2 * (left + right);
        h -= 2 * (top + bottom);
    }
    if (reader.Failed() || w <= 0 || h <= 0 || w > UINT32_MAX || h > UINT32_MAX)
        return false;
    width = static_cast<uint32_t>(w);
    height = static_cast<uint32_t>(h);
    return true;
}

}  // namespace norvane
