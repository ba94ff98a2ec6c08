#include "camera/stream_codes.h"

#include <algorithm>
#include <optional>
#include <span>
#include <utility>

namespace norvane {

namespace {

struct ResolutionCodes {
    uint32_t width;
    uint32_t height;
    uint32_t mjpeg;
    uint32_t h264;
};

struct FrameRateCodes {
    uint32_t fps;
    uint32_t mjpeg;
    uint32_t h264Group3;
    uint32_t h264;  // group 2: its only H.264 column
};

constexpr ResolutionCodes RESOLUTIONS[] = {
    {320, 240, 0, 0},  {640, 480, 1, 1},   {800, 600, 2, 2},   {1024, 768, 3, 2},
    {1280, 960, 4, 3}, {1600, 1200, 5, 4}, {2288, 1712, 6, 4}, {320, 180, 0, 0},
    {640, 360, 0, 1},  {1024, 576, 1, 2},  {1280, 720, 2, 2},  {1920, 1080, 3, 3},
};

constexpr ResolutionCodes GROUP2_RESOLUTIONS[] = {
    {320, 240, 0, 0},  {360, 240, 0, 0},  {640, 480, 1, 1},  {720, 480, 1, 1},   {800, 600, 2, 1},
    {1024, 768, 3, 2}, {1080, 720, 3, 2}, {1280, 960, 4, 2}, {1600, 1200, 5, 2}, {2288, 1712, 6, 2},
    {320, 180, 0, 0},  {640, 360, 0, 1},  {960, 540, 1, 2},  {1024, 576, 1, 2},  {1280, 720, 2, 3},
};

constexpr FrameRateCodes FRAME_RATES[] = {
    {30, 8, 3, 3}, {25, 8, 3, 3}, {15, 7, 2, 2}, {12, 7, 2, 2}, {10, 6, 2, 1},
    {8, 6, 2, 1},  {5, 5, 2, 0},  {3, 4, 2, 0},  {2, 4, 2, 0},  {1, 3, 2, 0},
};

constexpr FrameRateCodes GROUP2_FRAME_RATES[] = {
    {30, 12, 0, 2}, {25, 11, 0, 2}, {20, 10, 0, 2}, {15, 9, 0, 1}, {12, 9, 0, 1},
    {10, 8, 0, 1},  {5, 7, 0, 1},   {3, 6, 0, 1},   {2, 5, 0, 1},  {1, 4, 0, 1},
};

// Key-frame interval by 3 minus the H.264 frame-rate code.
constexpr uint32_t KEY_FRAMES_25[] = {25, 12, 8, 5};
constexpr uint32_t KEY_FRAMES_30[] = {30, 15, 10, 5};

constexpr uint32_t FULL_HD_WIDTH = 1920;
constexpr uint32_t FULL_HD_HEIGHT = 1080;
constexpr uint32_t INTERLACED_FULL_HD_CODE = 2;

// Highest Motion-JPEG frame-rate code for pictures wider than `width`.
struct WidthCap {
    uint32_t width;
    uint32_t code;
};
constexpr WidthCap GROUP3_CAPS[] = {{1920, 4}, {1280, 5}, {1024, 7}};
constexpr WidthCap OTHER_CAPS[] = {{1920, 4}, {1600, 5}, {1280, 6}, {640, 7}};
constexpr uint32_t HIGHEST_MJPEG_CODE = 8;  // the Motion-JPEG column's top outside group 2

bool IsGroup23(int group) {
    return group == 2 || group == 3;
}

std::span<const ResolutionCodes> ResolutionTable(int group) {
    return group == 2 ? std::span<const ResolutionCodes>(GROUP2_RESOLUTIONS) : RESOLUTIONS;
}

const ResolutionCodes* FindResolution(uint32_t width, uint32_t height, int group) {
    const std::span<const ResolutionCodes> table = ResolutionTable(group);
    const auto it = std::find_if(table.begin(), table.end(), [&](const ResolutionCodes& r) {
        return r.width == width && r.height == height;
    });
    return it == table.end() ? nullptr : &*it;
}

// The frame-rate row of the group's table; none for a period of 0 or an fps not in the table.
const FrameRateCodes* FindFrameRate(uint32_t frameRate, int group) {
    const uint32_t fps = FramesPerSecond(frameRate);
    const std::span<const FrameRateCodes> table =
        group == 2 ? std::span<const FrameRateCodes>(GROUP2_FRAME_RATES) : FRAME_RATES;
    const auto it = std::find_if(table.begin(), table.end(),
                                 [&](const FrameRateCodes& r) { return r.fps == fps; });
    return frameRate == 0 || it == table.end() ? nullptr : &*it;
}

uint32_t CapByWidth(uint32_t code, uint32_t width, int group) {
    const std::span<const WidthCap> caps =
        group == 3 ? std::span<const WidthCap>(GROUP3_CAPS) : OTHER_CAPS;
    for (const WidthCap& cap : caps)
        if (width > cap.width)
            return std::min(code, cap.code);
    return code;
}

// Groups 2 and 3 name their settings by codec (`prefix` "h264" or "jpeg"): resolution, the
// frame-rate entries, quality and priority.
StreamParameterList Group23List(const std::string& prefix, uint32_t resolution,
                                std::vector<StreamParameter> frameRateEntries, uint32_t quality) {
    StreamParameterList list{{{prefix + "_resol", resolution}}, false};
    for (StreamParameter& entry : frameRateEntries)
        list.parameters.push_back(std::move(entry));
    list.parameters.push_back({prefix + "_quality", QualityCode(quality)});
    list.parameters.push_back({prefix + "_priority_sw", 0});
    return list;
}

// Other groups take codec, resolution and frame rate, a key-frame interval where the stream has
// one, priority and quality, with "&stream_set=0".
StreamParameterList OtherGroupsList(uint32_t codec, uint32_t resolution, uint32_t frameRateCode,
                                    std::optional<uint32_t> keyFrameInterval, uint32_t quality) {
    StreamParameterList list{
        {{"codec", codec}, {"resol", resolution}, {"frame_rate", frameRateCode}}, true};
    if (keyFrameInterval)
        list.parameters.push_back({"gop_interval", *keyFrameInterval});
    list.parameters.push_back({"priority", 0});
    list.parameters.push_back({"picture_quality", QualityCode(quality)});
    return list;
}

}  // namespace

uint32_t FramesPerSecond(uint32_t frameRate) {
    if (frameRate == 0)
        return 0;
    return static_cast<uint32_t>((2000ull + frameRate) / (2ull * frameRate));
}

uint32_t QualityCode(uint32_t quality) {
    return (std::clamp(quality, 1u, 100u) - 1) / 20;
}

std::vector<std::pair<uint16_t, uint16_t>> PictureSizes(int group) {
    std::vector<std::pair<uint16_t, uint16_t>> sizes;
    for (const ResolutionCodes& r : ResolutionTable(group))
        sizes.emplace_back(static_cast<uint16_t>(r.width), static_cast<uint16_t>(r.height));
    return sizes;
}

uint32_t H264ResolutionCode(uint32_t width, uint32_t height, int group, bool interlaced) {
    const ResolutionCodes* r = FindResolution(width, height, group);
    if (!r)
        return 0;
    if (group != 2 && interlaced && width == FULL_HD_WIDTH && height == FULL_HD_HEIGHT)
        return INTERLACED_FULL_HD_CODE;
    return r->h264;
}

uint32_t H264FrameRateCode(uint32_t frameRate, int group) {
    const FrameRateCodes* r = FindFrameRate(frameRate, group);
    if (!r)
        return 0;
    return group == 3 ? r->h264Group3 : r->h264;
}

uint32_t KeyFrameInterval(uint32_t h264FrameRateCode, bool thirtyFrameFamily) {
    const size_t index = h264FrameRateCode > 3 ? 0 : 3 - h264FrameRateCode;
    return thirtyFrameFamily ? KEY_FRAMES_30[index] : KEY_FRAMES_25[index];
}

uint32_t MjpegResolutionCode(uint32_t width, uint32_t height, int group) {
    const ResolutionCodes* r = FindResolution(width, height, group);
    return r ? r->mjpeg : 0;
}

uint32_t MjpegFrameRateCode(uint32_t frameRate, uint32_t width, int group) {
    const FrameRateCodes* r = FindFrameRate(frameRate, group);
    if (!r)
        return 0;
    return group == 2 ? r->mjpeg : CapByWidth(r->mjpeg, width, group);
}

uint32_t MjpegHttpFrameRateCode(uint32_t frameRate, uint32_t width, int group) {
    if (group == 3)
        return frameRate == 0 ? 0 : CapByWidth(HIGHEST_MJPEG_CODE, width, group);
    return MjpegFrameRateCode(frameRate, width, group);
}

uint32_t PushRate(uint32_t frameRate) {
    const uint32_t fps = frameRate == 0 ? 1 : FramesPerSecond(frameRate);
    if (fps > 24)
        return 5;
    if (fps > 11)
        return 4;
    if (fps > 7)
        return 3;
    if (fps > 5)
        return 2;
    return 1;
}

StreamParameterList H264StreamSettings(const CAPTURE_PARAMS& params, int group,
                                       bool thirtyFrameFamily, bool interlaced) {
    const uint32_t resolution = H264ResolutionCode(params.width, params.height, group, interlaced);
    const uint32_t frameRateCode = H264FrameRateCode(params.frameRate, group);
    if (IsGroup23(group))
        return Group23List("h264", resolution,
                           {{"h264_frame_rate", frameRateCode}, {"h264_protocol", 0}},
                           params.quality);
    return OtherGroupsList(1, resolution, frameRateCode,
                           KeyFrameInterval(frameRateCode, thirtyFrameFamily), params.quality);
}

StreamParameterList MjpegStreamSettings(const CAPTURE_PARAMS& params, int group) {
    const uint32_t resolution = MjpegResolutionCode(params.width, params.height, group);
    const uint32_t frameRateCode = MjpegFrameRateCode(params.frameRate, params.width, group);
    if (IsGroup23(group))
        return Group23List("jpeg", resolution,
                           {{"jpeg_frame_rate", frameRateCode}, {"jpeg_protocol", 0}},
                           params.quality);
    const uint32_t keyFrameInterval = params.frameRate == 0 ? 1 : FramesPerSecond(params.frameRate);
    return OtherGroupsList(0, resolution, frameRateCode, keyFrameInterval, params.quality);
}

StreamParameterList MjpegHttpStreamSettings(const CAPTURE_PARAMS& params, int group) {
    const uint32_t resolution = MjpegResolutionCode(params.width, params.height, group);
    const uint32_t frameRateCode = MjpegHttpFrameRateCode(params.frameRate, params.width, group);
    if (IsGroup23(group))
        return Group23List("jpeg", resolution,
                           {{"jframe_rate_admin", frameRateCode},
                            {"jframe_rate_guest", frameRateCode},
                            {"jframe_rate_operator", frameRateCode}},
                           params.quality);
    return OtherGroupsList(0, resolution, frameRateCode, std::nullopt, params.quality);
}

}  // namespace norvane
