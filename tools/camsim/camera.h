// The simulated camera: its HTTP side (CGI programs, server push, authentication) with fault
// knobs for the tests and for tavrin-camsim.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "camsim/camera_cgi.h"
#include "camsim/http_server.h"
#include "camsim/media_files.h"

namespace camsim {

struct CameraConfig {
    Personality personality;
    HttpAuthConfig::Mode auth = HttpAuthConfig::Mode::None;
    std::string user = "admin";
    std::string password = "admin";
    uint16_t httpPort = 0;  // 0: any free loopback port
    std::string mediaDir;   // reference media; server push reads its "jpeg420" pictures
};

class Camera {
public:
    explicit Camera(CameraConfig config);
    ~Camera();

    bool Start();
    void Stop();
    uint16_t HttpPort() const { return httpPort_; }

    CameraCgi& Cgi() { return cgi_; }
    HttpServer& Http() { return *http_; }

    // The next requests of `path` get `reply` instead of the camera's answer.
    void SetPageFault(const std::string& path, HttpReply reply);
    void ClearPageFaults();
    // Every reply waits this long first (0: none).
    void SetReplyDelay(unsigned milliseconds) { replyDelayMs_ = milliseconds; }
    // Refuse every request with a challenge, whatever the credentials.
    void SetDenyAll(bool deny);
    // Offline: the HTTP port refuses connections; back online it listens on the same port.
    bool SetOffline(bool offline);
    // Pictures served by the push stream.
    size_t PushPictureCount() const { return pictures_ ? pictures_->size() : 0; }

private:
    HttpReply Answer(const HttpRequest& request);
    HttpReply PushStream(const HttpRequest& request);
    HttpAuthConfig AuthConfig() const;
    void RouteAll();

    CameraConfig config_;
    CameraCgi cgi_;
    std::unique_ptr<HttpServer> http_;
    uint16_t httpPort_ = 0;
    std::shared_ptr<const std::vector<Bytes>> pictures_;
    std::mutex faultMutex_;
    std::map<std::string, HttpReply> faults_;
    std::atomic<unsigned> replyDelayMs_{0};
    std::atomic<bool> denyAll_{false};
};

}  // namespace camsim
