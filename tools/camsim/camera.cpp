#include "camsim/camera.h"

#include <chrono>
#include <thread>

#include "camsim/server_push.h"

namespace camsim {

namespace {

const char* const kCgiPaths[] = {
    "/cgi-bin/cam_set.cgi",   "/cgi-bin/net.cgi",      "/cgi-bin/codec_stream.cgi",
    "/cgi-bin/aspect.cgi",    "/cgi-bin/lang.cgi",     "/cgi-bin/alarm_set.cgi",
    "/cgi-bin/alarm_in.cgi",  "/cgi-bin/alarm_out.cgi", "/cgi-bin/opecmd.cgi",
    "/liveimg.cgi",
};

// The simulator's own bound on a configured reply delay.
constexpr unsigned MAX_REPLY_DELAY_MS = 30000;

bool HasParameter(const std::string& query, const std::string& key) {
    for (const auto& [k, v] : ParseQuery(query))
        if (k == key)
            return true;
    return false;
}

unsigned ParameterValue(const std::string& query, const std::string& key) {
    for (const auto& [k, v] : ParseQuery(query))
        if (k == key)
            return static_cast<unsigned>(std::strtoul(v.c_str(), nullptr, 10));
    return 0;
}

}  // namespace

Camera::Camera(CameraConfig config)
    : config_(std::move(config)), cgi_(config_.personality), http_(std::make_unique<HttpServer>()) {
    if (!config_.mediaDir.empty())
        pictures_ = std::make_shared<const std::vector<Bytes>>(
            ReadJpegFolder(config_.mediaDir + "/jpeg420"));
}

Camera::~Camera() { Stop(); }

HttpAuthConfig Camera::AuthConfig() const {
    HttpAuthConfig auth;
    auth.mode = config_.auth;
    auth.user = config_.user;
    auth.password = config_.password;
    auth.denyAll = denyAll_;
    return auth;
}

void Camera::RouteAll() {
    for (const char* path : kCgiPaths)
        http_->Route(path, [this](const HttpRequest& request) { return Answer(request); });
    http_->SetAuth(AuthConfig());
}

bool Camera::Start() {
    RouteAll();
    if (!http_->Start(config_.httpPort))
        return false;
    httpPort_ = http_->Port();
    return true;
}

void Camera::Stop() { http_->Stop(); }

HttpReply Camera::Answer(const HttpRequest& request) {
    const unsigned delay = std::min(replyDelayMs_.load(), MAX_REPLY_DELAY_MS);
    if (delay)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    {
        std::lock_guard<std::mutex> lock(faultMutex_);
        const auto it = faults_.find(request.path);
        if (it != faults_.end())
            return it->second;
    }
    if (request.path == "/liveimg.cgi" && HasParameter(request.query, "serverpush"))
        return PushStream(request);
    const CgiReply answer = cgi_.Handle(request.path, request.query);
    HttpReply reply = HttpReply::Text(answer.status, answer.body);
    reply.headers = {{"Content-Type", answer.contentType}};
    return reply;
}

HttpReply Camera::PushStream(const HttpRequest& request) {
    const unsigned rate = ParameterValue(request.query, "rate");
    return MakeServerPushReply(pictures_, PushRateFps(rate));
}

void Camera::SetPageFault(const std::string& path, HttpReply reply) {
    std::lock_guard<std::mutex> lock(faultMutex_);
    faults_[path] = std::move(reply);
}

void Camera::ClearPageFaults() {
    std::lock_guard<std::mutex> lock(faultMutex_);
    faults_.clear();
}

void Camera::SetDenyAll(bool deny) {
    denyAll_ = deny;
    http_->SetAuth(AuthConfig());
}

bool Camera::SetOffline(bool offline) {
    if (offline) {
        http_->Stop();
        return true;
    }
    // A stopped server cannot be restarted: build a fresh one on the same port.
    http_ = std::make_unique<HttpServer>();
    RouteAll();
    return http_->Start(httpPort_);
}

}  // namespace camsim
