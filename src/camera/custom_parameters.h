// The camera's numbered custom parameters. The capability query reports them under these names;
// the host stores them with the camera and hands them back to every driver it opens, where they
// select how the driver talks to that camera.
#pragma once

#include <cstdint>

namespace norvane {

struct CustomParameter {
    int number;
    const char* name;
    uint32_t flag;  // 1: the camera's own text, 0: a value the query derived
};

// 0: 25-frame family, non-zero: 30-frame family (the driver's custom flag).
inline constexpr CustomParameter VIDEO_STANDARD{1, "Video standard", 0};
// Missing or 0: 554.
inline constexpr CustomParameter RTSP_PORT{2, "RTSP port", 0};
// Selects parameter sets, PTZ capabilities and I/O behaviour; missing: 1.
inline constexpr CustomParameter CAMERA_GROUP{3, "Camera group", 0};
// Stream paths for RTSP, or the words below for a camera without one.
inline constexpr CustomParameter MJPEG_RTSP_PATH{4, "MJPEG RTSP", 1};
inline constexpr CustomParameter H264_RTSP_PATH{5, "H264 RTSP", 1};
// Also names the PTZ preset file.
inline constexpr CustomParameter MAC_ADDRESS{6, "Mac Address", 1};
// Shown in the line that logs the driver's opening.
inline constexpr CustomParameter FIRMWARE{7, "Firmware", 1};
// Aspect class wanted by the stream configuration.
inline constexpr CustomParameter ASPECT_RATIO{8, "Aspect Ratio", 0};
// 1 selects the lower resolution code for 1920x1080 H.264 streams.
inline constexpr CustomParameter INTERLACE{9, "Interlace", 0};

// Not written by the capability query: a host that wants RTP over UDP or over the RTSP connection
// for a camera sets it, "udp" or "tcp" (any case); anything else or nothing is automatic (UDP
// first, TCP when UDP does not get through). The driver reads parameters up to the first one
// missing, so a host that sets it hands over 1 to 9 too ("(none)" where it stores nothing).
inline constexpr CustomParameter RTSP_TRANSPORT{10, "RTSP transport", 0};

// Stream path values that mean "no RTSP stream of this codec": Motion-JPEG then goes over HTTP.
inline constexpr const char* NO_RTSP_MJPEG = "noRtspMjpeg";
inline constexpr const char* NO_RTSP_H264 = "noRtspH264";

}  // namespace norvane
