// How the host's channel parameters become the camera's codec settings: resolution and
// frame-rate codes per camera group and codec, key-frame interval, quality code, and the
// parameter lists of the H.264 and Motion-JPEG channels.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "camera/stream_parameters.h"
#include "foundation/device_info.h"

namespace norvane {

// Frames per second of a frame period in ms, halves rounded up; 0 for a period of 0.
uint32_t FramesPerSecond(uint32_t frameRate);
// Quality 1-100 in steps of 20 as 0-4; a quality outside 1-100 counts as the nearest end.
uint32_t QualityCode(uint32_t quality);

// The picture sizes of the group's resolution table, in its order.
std::vector<std::pair<uint16_t, uint16_t>> PictureSizes(int group);

uint32_t H264ResolutionCode(uint32_t width, uint32_t height, int group, bool interlaced);
uint32_t H264FrameRateCode(uint32_t frameRate, int group);
// Key frames per interval for an H.264 frame-rate code (groups other than 2 and 3).
uint32_t KeyFrameInterval(uint32_t h264FrameRateCode, bool thirtyFrameFamily);

uint32_t MjpegResolutionCode(uint32_t width, uint32_t height, int group);
// Frame-rate code of the RTSP Motion-JPEG stream, capped by the picture width.
uint32_t MjpegFrameRateCode(uint32_t frameRate, uint32_t width, int group);
// Frame-rate code of the HTTP Motion-JPEG stream; in group 3 it follows the width alone.
uint32_t MjpegHttpFrameRateCode(uint32_t frameRate, uint32_t width, int group);
// Pictures-per-second class of the server-push request (groups 2 and 3).
uint32_t PushRate(uint32_t frameRate);

// Parameter lists of the channels; `interlaced` is custom parameter 9 equal to 1.
StreamParameterList H264StreamSettings(const CAPTURE_PARAMS& params, int group,
                                       bool thirtyFrameFamily, bool interlaced);
StreamParameterList MjpegStreamSettings(const CAPTURE_PARAMS& params, int group);
StreamParameterList MjpegHttpStreamSettings(const CAPTURE_PARAMS& params, int group);

}  // namespace norvane
