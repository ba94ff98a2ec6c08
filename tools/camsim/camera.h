// The simulated camera: its HTTP side (CGI programs, server push, authentication) and its RTSP
// side (streams of the reference media), with fault knobs for the tests and for tavrin-camsim.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "camsim/camera_cgi.h"
#include "camsim/http_message.h"
#include "camsim/media_files.h"
#include "camsim/server_push.h"

namespace camsim {

// Held by pointer so that a host program including this header needs no socket layer.
class HttpServer;
class RtspServer;

struct CameraConfig {
    Personality personality;
    HttpAuthConfig::Mode auth = HttpAuthConfig::Mode::None;
    std::string user = "admin";
    std::string password = "admin";
    uint16_t httpPort = 0;  // 0: any free loopback port
    uint16_t rtspPort = 0;  // 0: any free loopback port
    // Reference media folder: RTSP serves `h264Media` at the H.264 path and `jpegMedia` (a folder
    // of pictures) at the Motion-JPEG path; server push sends the `jpegMedia` pictures too.
    std::string mediaDir;
    std::string h264Media = "h264_1slice.264";
    std::string jpegMedia = "jpeg420";
};

class Camera {
public:
    explicit Camera(CameraConfig config);
    ~Camera();

    bool Start();
    void Stop();
    uint16_t HttpPort() const { return httpPort_; }
    uint16_t RtspPort() const;

    CameraCgi& Cgi() { return cgi_; }
    HttpServer& Http() { return *http_; }
    RtspServer& Rtsp() { return *rtsp_; }
    // The HTTP requests received so far.
    std::vector<HttpRequest> HttpRequests();

    // The next requests of `path` get `reply` instead of the camera's answer.
    void SetPageFault(const std::string& path, HttpReply reply);
    void ClearPageFaults();
    // Every HTTP and RTSP reply waits this long first (0: none).
    void SetReplyDelay(unsigned milliseconds);
    // Every HTTP reply, head and body, goes one byte at a time with this pause before each
    // byte (0: off).
    void SetTrickle(unsigned milliseconds);
    // How push streams opened from now are cut and spoilt.
    void SetPushShape(const PushShape& shape);
    // Push streams opened from now send these pictures instead of the reference media.
    void SetPushPictures(std::vector<Bytes> pictures);
    // Requests of `path` wait before they are answered until ReleaseHeld, Stop or 30 s.
    void HoldRequests(const std::string& path);
    void ReleaseHeld();
    // True once `count` requests wait at the same time, within the limit.
    bool WaitForHeld(unsigned count, unsigned milliseconds);
    // Refuse every HTTP and RTSP request with a challenge, whatever the credentials.
    void SetDenyAll(bool deny);
    // Offline: both ports refuse connections and every RTSP session ends; back online the
    // camera listens on the same ports.
    bool SetOffline(bool offline);
    // Pictures served by the push stream.
    size_t PushPictureCount();

private:
    HttpReply Answer(const HttpRequest& request);
    void WaitWhileHeld(const std::string& path);
    HttpReply Page(const HttpRequest& request);
    std::optional<HttpReply> PageFault(const std::string& path);
    HttpReply PushStream(const HttpRequest& request);
    HttpAuthConfig AuthConfig() const;
    void RouteAll();
    bool AddStreams();

    CameraConfig config_;
    CameraCgi cgi_;
    std::unique_ptr<HttpServer> http_;
    std::unique_ptr<RtspServer> rtsp_;
    uint16_t httpPort_ = 0;
    std::shared_ptr<const std::vector<Bytes>> pictures_;  // guarded by faultMutex_ once started
    PushShape pushShape_;  // guarded by faultMutex_
    std::mutex faultMutex_;
    std::map<std::string, HttpReply> faults_;
    std::atomic<unsigned> replyDelayMs_{0};
    std::atomic<unsigned> tricklePauseMs_{0};
    std::atomic<bool> denyAll_{false};
    std::mutex holdMutex_;
    std::condition_variable holdChanged_;
    std::string heldPath_;
    unsigned held_ = 0;
};

}  // namespace camsim
