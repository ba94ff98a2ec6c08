// Codec settings derived from the host's channel parameters.
#include "camera/stream_codes.h"

#include <gtest/gtest.h>

#include "camera/capture_params.h"

using namespace norvane;
using test::Params;

namespace {

// The value of `name` in the list; fails the test when it is missing.
uint32_t ValueOf(const StreamParameterList& list, const std::string& name) {
    for (const StreamParameter& p : list.parameters)
        if (p.name == name)
            return p.value;
    ADD_FAILURE() << name << " missing";
    return UINT32_MAX;
}

}  // namespace

TEST(StreamCodes, FramesPerSecondRoundsHalvesUp) {
    EXPECT_EQ(FramesPerSecond(0), 0u);
    EXPECT_EQ(FramesPerSecond(40), 25u);
    EXPECT_EQ(FramesPerSecond(33), 30u);   // 30.3
    EXPECT_EQ(FramesPerSecond(67), 15u);   // 14.9
    EXPECT_EQ(FramesPerSecond(80), 13u);   // 12.5
    EXPECT_EQ(FramesPerSecond(400), 3u);   // 2.5
    EXPECT_EQ(FramesPerSecond(2000), 1u);  // 0.5
    EXPECT_EQ(FramesPerSecond(2001), 0u);
    EXPECT_EQ(FramesPerSecond(1), 1000u);
    EXPECT_EQ(FramesPerSecond(UINT32_MAX), 0u);
}

// Quality outside 1-100 must not wrap: 0 would give a huge code, 101 a code the camera lacks.
TEST(StreamCodes, QualityCodeStepsOf20ClampedToOneToHundred) {
    EXPECT_EQ(QualityCode(0), 0u);
    EXPECT_EQ(QualityCode(1), 0u);
    EXPECT_EQ(QualityCode(20), 0u);
    EXPECT_EQ(QualityCode(21), 1u);
    EXPECT_EQ(QualityCode(50), 2u);
    EXPECT_EQ(QualityCode(61), 3u);
    EXPECT_EQ(QualityCode(81), 4u);
    EXPECT_EQ(QualityCode(100), 4u);
    EXPECT_EQ(QualityCode(101), 4u);
    EXPECT_EQ(QualityCode(UINT32_MAX), 4u);
    EXPECT_EQ(
        ValueOf(H264StreamSettings(Params(40, 640, 480, 0), 1, false, false), "picture_quality"),
        0u);
    EXPECT_EQ(ValueOf(MjpegStreamSettings(Params(40, 640, 480, 0), 2), "jpeg_quality"), 0u);
}

TEST(StreamCodes, H264ListOfOtherGroupsAt25FpsHd) {
    const StreamParameterList expected{{{"codec", 1},
                                        {"resol", 2},
                                        {"frame_rate", 3},
                                        {"gop_interval", 25},
                                        {"priority", 0},
                                        {"picture_quality", 2}},
                                       true};
    EXPECT_EQ(H264StreamSettings(Params(40, 1280, 720), 1, false, false), expected);
    // The 30-frame family keeps a key frame per 30 pictures.
    EXPECT_EQ(ValueOf(H264StreamSettings(Params(40, 1280, 720), 1, true, false), "gop_interval"),
              30u);
    // An unset camera group counts as "other groups".
    EXPECT_EQ(H264StreamSettings(Params(40, 1280, 720), CUSTOM_PARAMETER_NOT_SET, false, false),
              expected);
}

TEST(StreamCodes, KeyFrameIntervalFollowsTheFrameRateCode) {
    const uint32_t family25[] = {5, 8, 12, 25};
    const uint32_t family30[] = {5, 10, 15, 30};
    for (uint32_t code = 0; code <= 3; ++code) {
        EXPECT_EQ(KeyFrameInterval(code, false), family25[code]) << code;
        EXPECT_EQ(KeyFrameInterval(code, true), family30[code]) << code;
    }
    EXPECT_EQ(KeyFrameInterval(7, false), 25u);
    EXPECT_EQ(KeyFrameInterval(UINT32_MAX, true), 30u);
    // 10 fps in group 1 is code 1: 8 in the 25-frame family.
    EXPECT_EQ(ValueOf(H264StreamSettings(Params(100, 640, 480), 4, false, false), "gop_interval"),
              8u);
}

TEST(StreamCodes, H264ResolutionAndInterlacedFullHd) {
    EXPECT_EQ(H264ResolutionCode(1920, 1080, 1, false), 3u);
    EXPECT_EQ(H264ResolutionCode(1920, 1080, 1, true), 2u);
    EXPECT_EQ(H264ResolutionCode(1920, 1080, 3, true), 2u);
    EXPECT_EQ(H264ResolutionCode(1920, 1080, 2, false), 0u);  // not in the group-2 table
    EXPECT_EQ(H264ResolutionCode(1920, 1080, 2, true), 0u);
    EXPECT_EQ(H264ResolutionCode(1280, 720, 1, true), 2u);  // only full HD is interlaced
    EXPECT_EQ(H264ResolutionCode(1280, 720, 2, false), 3u);
    EXPECT_EQ(H264ResolutionCode(800, 600, 1, false), 2u);
    EXPECT_EQ(H264ResolutionCode(800, 600, 2, false), 1u);
    EXPECT_EQ(H264ResolutionCode(1600, 1200, 1, false), 4u);
    EXPECT_EQ(H264ResolutionCode(1600, 1200, 2, false), 2u);
    EXPECT_EQ(H264ResolutionCode(960, 540, 2, false), 2u);
    EXPECT_EQ(H264ResolutionCode(960, 540, 1, false), 0u);  // group-2 size only
    EXPECT_EQ(H264ResolutionCode(720, 480, 2, false), 1u);
    EXPECT_EQ(H264ResolutionCode(480, 640, 1, false), 0u);  // width and height are a pair
}

TEST(StreamCodes, MjpegResolutionTables) {
    EXPECT_EQ(MjpegResolutionCode(2288, 1712, 1), 6u);
    EXPECT_EQ(MjpegResolutionCode(2288, 1712, 2), 6u);
    EXPECT_EQ(MjpegResolutionCode(1920, 1080, 1), 3u);
    EXPECT_EQ(MjpegResolutionCode(1920, 1080, 2), 0u);
    EXPECT_EQ(MjpegResolutionCode(1080, 720, 2), 3u);
    EXPECT_EQ(MjpegResolutionCode(1080, 720, 3), 0u);
    EXPECT_EQ(MjpegResolutionCode(640, 360, 1), 0u);
    EXPECT_EQ(MjpegResolutionCode(1024, 576, 3), 1u);
}

TEST(StreamCodes, H264FrameRateCodesPerGroup) {
    // 5 fps: group 3 keeps code 2 where other groups go down to 0.
    EXPECT_EQ(H264FrameRateCode(200, 3), 2u);
    EXPECT_EQ(H264FrameRateCode(200, 1), 0u);
    EXPECT_EQ(H264FrameRateCode(200, 2), 1u);
    EXPECT_EQ(H264FrameRateCode(100, 1), 1u);
    EXPECT_EQ(H264FrameRateCode(33, 2), 2u);
    EXPECT_EQ(H264FrameRateCode(50, 2), 2u);  // 20 fps: a group-2 key only
    EXPECT_EQ(H264FrameRateCode(50, 1), 0u);
    EXPECT_EQ(H264FrameRateCode(143, 1), 0u);  // 7 fps is no key
}

TEST(StreamCodes, MjpegFrameRateCappedByWidth) {
    // 30 fps: code 8 before any cap.
    EXPECT_EQ(MjpegFrameRateCode(33, 2288, 1), 4u);
    EXPECT_EQ(MjpegFrameRateCode(33, 640, 1), 8u);
    EXPECT_EQ(MjpegFrameRateCode(33, 641, 1), 7u);
    EXPECT_EQ(MjpegFrameRateCode(33, 1280, 1), 7u);
    EXPECT_EQ(MjpegFrameRateCode(33, 1281, 1), 6u);
    EXPECT_EQ(MjpegFrameRateCode(33, 1600, 1), 6u);
    EXPECT_EQ(MjpegFrameRateCode(33, 1601, 1), 5u);
    EXPECT_EQ(MjpegFrameRateCode(33, 1920, 1), 5u);
    EXPECT_EQ(MjpegFrameRateCode(33, 1921, 1), 4u);
    EXPECT_EQ(MjpegFrameRateCode(33, 1024, 3), 8u);
    EXPECT_EQ(MjpegFrameRateCode(33, 1025, 3), 7u);
    EXPECT_EQ(MjpegFrameRateCode(33, 1600, 3), 5u);
    EXPECT_EQ(MjpegFrameRateCode(33, 2288, 3), 4u);
    // A cap only lowers: 1 fps is code 3, below every cap.
    EXPECT_EQ(MjpegFrameRateCode(1000, 2288, 1), 3u);
    // Group 2 takes its own table unchanged, whatever the width.
    EXPECT_EQ(MjpegFrameRateCode(33, 2288, 2), 12u);
    EXPECT_EQ(MjpegFrameRateCode(40, 2288, 2), 11u);
    EXPECT_EQ(MjpegFrameRateCode(143, 640, 1), 0u);  // 7 fps is no key
}

TEST(StreamCodes, FrameRateZeroGivesCodeZeroEverywhere) {
    for (const int group : {1, 2, 3, 5}) {
        SCOPED_TRACE(group);
        EXPECT_EQ(H264FrameRateCode(0, group), 0u);
        EXPECT_EQ(MjpegFrameRateCode(0, 640, group), 0u);
        EXPECT_EQ(MjpegHttpFrameRateCode(0, 640, group), 0u);
    }
    const StreamParameterList mjpeg = MjpegStreamSettings(Params(0, 640, 480), 1);
    EXPECT_EQ(ValueOf(mjpeg, "frame_rate"), 0u);
    EXPECT_EQ(ValueOf(mjpeg, "gop_interval"), 1u);
    // A period too long for 1 fps rounds to 0 fps, which is what the key-frame interval gets.
    EXPECT_EQ(ValueOf(MjpegStreamSettings(Params(2001, 640, 480), 1), "gop_interval"), 0u);
}

TEST(StreamCodes, ListsOfGroupsTwoAndThreeUseTheirOwnNames) {
    EXPECT_EQ(H264StreamSettings(Params(40, 1280, 720, 90), 2, true, false),
              (StreamParameterList{{{"h264_resol", 3},
                                    {"h264_frame_rate", 2},
                                    {"h264_protocol", 0},
                                    {"h264_quality", 4},
                                    {"h264_priority_sw", 0}},
                                   false}));
    EXPECT_EQ(MjpegStreamSettings(Params(33, 1600, 1200, 30), 3),
              (StreamParameterList{{{"jpeg_resol", 5},
                                    {"jpeg_frame_rate", 5},
                                    {"jpeg_protocol", 0},
                                    {"jpeg_quality", 1},
                                    {"jpeg_priority_sw", 0}},
                                   false}));
    EXPECT_EQ(MjpegStreamSettings(Params(40, 1024, 768, 70), 4),
              (StreamParameterList{{{"codec", 0},
                                    {"resol", 3},
                                    {"frame_rate", 7},
                                    {"gop_interval", 25},
                                    {"priority", 0},
                                    {"picture_quality", 3}},
                                   true}));
}

TEST(StreamCodes, HttpMotionJpegLists) {
    EXPECT_EQ(MjpegHttpStreamSettings(Params(40, 1080, 720, 50), 2),
              (StreamParameterList{{{"jpeg_resol", 3},
                                    {"jframe_rate_admin", 11},
                                    {"jframe_rate_guest", 11},
                                    {"jframe_rate_operator", 11},
                                    {"jpeg_quality", 2},
                                    {"jpeg_priority_sw", 0}},
                                   false}));
    // Group 3 takes the other resolution table and a frame-rate code from the width alone.
    const StreamParameterList group3 = MjpegHttpStreamSettings(Params(143, 1920, 1080, 50), 3);
    EXPECT_EQ(ValueOf(group3, "jpeg_resol"), 3u);
    EXPECT_EQ(ValueOf(group3, "jframe_rate_guest"), 5u);
    EXPECT_EQ(MjpegHttpFrameRateCode(1000, 640, 3), 8u);
    EXPECT_EQ(MjpegHttpFrameRateCode(1000, 1025, 3), 7u);
    EXPECT_EQ(MjpegHttpFrameRateCode(1000, 2288, 3), 4u);
    // Other groups: the table, capped; no key-frame interval.
    EXPECT_EQ(MjpegHttpStreamSettings(Params(33, 2288, 1712, 100), 1),
              (StreamParameterList{{{"codec", 0},
                                    {"resol", 6},
                                    {"frame_rate", 4},
                                    {"priority", 0},
                                    {"picture_quality", 4}},
                                   true}));
}

TEST(StreamCodes, PushRateClasses) {
    EXPECT_EQ(PushRate(40), 5u);   // 25 fps
    EXPECT_EQ(PushRate(200), 1u);  // 5 fps
    EXPECT_EQ(PushRate(0), 1u);
    EXPECT_EQ(PushRate(42), 4u);   // 24 fps
    EXPECT_EQ(PushRate(83), 4u);   // 12 fps
    EXPECT_EQ(PushRate(91), 3u);   // 11 fps
    EXPECT_EQ(PushRate(125), 3u);  // 8 fps
    EXPECT_EQ(PushRate(143), 2u);  // 7 fps
    EXPECT_EQ(PushRate(167), 2u);  // 6 fps
}
