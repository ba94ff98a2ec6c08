// Host channel configuration: video format, resolution and stream settings.
#pragma once

#include <cstdint>

#include "norvane/host.h"

namespace host {

class Resolution : public norvane::TBoundaryObject<norvane::IResolution> {
public:
    Resolution(uint16_t width = 0, uint16_t height = 0) : width(width), height(height) {}
    uint16_t GetWidth() override { return width; }
    uint16_t GetHeight() override { return height; }

    uint16_t width;
    uint16_t height;
};

class VideoFormat : public norvane::TBoundaryObject<norvane::IVideoFormat> {
public:
    norvane::IResolution* GetResolution() override { return &resolution; }
    Resolution resolution;
};

class StreamSettings : public norvane::TBoundaryObject<norvane::IStreamSettings> {
public:
    uint16_t GetFrameRate() override { return framePeriodMs; }
    uint16_t GetQuality() override { return quality; }
    int IsMotionDetectionEnabled() override { return motionDetection; }

    uint16_t framePeriodMs = 40;
    uint16_t quality = 50;
    int motionDetection = 0;
};

class ChannelConfig : public norvane::TBoundaryObject<norvane::IChannelConfig> {
public:
    ChannelConfig(uint16_t width = 640, uint16_t height = 480) {
        format.resolution = Resolution(width, height);
    }
    norvane::IVideoFormat* GetVideoFormat() override { return &format; }
    norvane::IStreamSettings* GetStreamSettings() override { return &stream; }

    VideoFormat format;
    StreamSettings stream;
};

}  // namespace host
