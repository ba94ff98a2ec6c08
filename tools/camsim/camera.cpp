#include "camsim/camera.h"

#include <algorithm>

#include "camsim/http_server.h"
#include "camsim/rtsp_server.h"
#include "camsim/server_push.h"

namespace camsim {

namespace {

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

HttpReply CgiAnswer(const CgiReply& answer) {
    HttpReply reply = HttpReply::Text(answer.status, answer.body);
    reply.headers = {{"Content-Type", answer.contentType}};
    return reply;
}

}  // namespace

Camera::Camera(CameraConfig config)
    : config_(std::move(config)),
      cgi_(config_.personality),
      http_(std::make_unique<HttpServer>()),
      rtsp_(std::make_unique<RtspServer>()) {
    if (!config_.mediaDir.empty())
        pictures_ = std::make_shared<const std::vector<Bytes>>(
            ReadJpegFolder(config_.mediaDir + "/" + config_.jpegMedia));
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
    // Every path: a program the camera lacks is a refused request too.
    http_->SetDefaultHandler([this](const HttpRequest& request) { return Answer(request); });
    http_->SetAuth(AuthConfig());
}

bool Camera::AddStreams() {
    const Personality& p = config_.personality;
    if (config_.mediaDir.empty())
        return true;  // RTSP answers, but every path is unknown
    return rtsp_->AddStream(p.h264Path, StreamCodec::H264,
                            config_.mediaDir + "/" + config_.h264Media, 25) &&
           rtsp_->AddStream(p.mjpegPath, StreamCodec::Jpeg,
                            config_.mediaDir + "/" + config_.jpegMedia, 25);
}

bool Camera::Start() {
    RouteAll();
    rtsp_->SetAuth(config_.auth, config_.user, config_.password);
    if (!AddStreams() || !http_->Start(config_.httpPort) || !rtsp_->Start(config_.rtspPort)) {
        Stop();
        return false;
    }
    httpPort_ = http_->Port();
    cgi_.SetRtspPort(rtsp_->Port());
    return true;
}

void Camera::Stop() {
    ReleaseHeld();
    rtsp_->Stop();
    http_->Stop();
}

uint16_t Camera::RtspPort() const {
    return rtsp_->Port();
}

std::vector<HttpRequest> Camera::HttpRequests() {
    return http_->Requests();
}

void Camera::SetReplyDelay(unsigned milliseconds) {
    replyDelayMs_ = milliseconds;
    rtsp_->SetReplyDelay(milliseconds);
}

void Camera::SetTrickle(unsigned milliseconds) { tricklePauseMs_ = milliseconds; }

void Camera::SetPushShape(const PushShape& shape) {
    std::lock_guard<std::mutex> lock(faultMutex_);
    pushShape_ = shape;
}

void Camera::SetPushPictures(std::vector<Bytes> pictures) {
    auto shared = std::make_shared<const std::vector<Bytes>>(std::move(pictures));
    std::lock_guard<std::mutex> lock(faultMutex_);
    pictures_ = std::move(shared);
}

size_t Camera::PushPictureCount() {
    std::lock_guard<std::mutex> lock(faultMutex_);
    return pictures_ ? pictures_->size() : 0;
}

void Camera::HoldRequests(const std::string& path) {
    std::lock_guard<std::mutex> lock(holdMutex_);
    heldPath_ = path;
}

void Camera::ReleaseHeld() {
    std::lock_guard<std::mutex> lock(holdMutex_);
    heldPath_.clear();
    holdChanged_.notify_all();
}

bool Camera::WaitForHeld(unsigned count, unsigned milliseconds) {
    std::unique_lock<std::mutex> lock(holdMutex_);
    return holdChanged_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                 [&] { return held_ >= count; });
}

void Camera::WaitWhileHeld(const std::string& path) {
    std::unique_lock<std::mutex> lock(holdMutex_);
    if (heldPath_.empty() || heldPath_ != path)
        return;
    ++held_;
    holdChanged_.notify_all();
    holdChanged_.wait_for(lock, std::chrono::milliseconds(MAX_REPLY_DELAY_MS),
                          [&] { return heldPath_ != path; });
    --held_;
}

HttpReply Camera::Answer(const HttpRequest& request) {
    WaitWhileHeld(request.path);
    HttpReply reply = Page(request);
    reply.headDelayMs = std::max(reply.headDelayMs, std::min(replyDelayMs_.load(), MAX_REPLY_DELAY_MS));
    if (const unsigned pause = tricklePauseMs_.load()) {
        reply.pieceSize = 1;
        reply.piecePauseMs = pause;
        reply.trickleHead = true;
    }
    return reply;
}

std::optional<HttpReply> Camera::PageFault(const std::string& path) {
    std::lock_guard<std::mutex> lock(faultMutex_);
    const auto it = faults_.find(path);
    return it == faults_.end() ? std::nullopt : std::optional<HttpReply>(it->second);
}

// Every request is judged by the camera's CGI rules first, also one answered by a fault or by
// the picture stream.
HttpReply Camera::Page(const HttpRequest& request) {
    std::optional<HttpReply> fault = PageFault(request.path);
    const bool push = request.path == "/liveimg.cgi" && HasParameter(request.query, "serverpush");
    if (!fault && !push)
        return CgiAnswer(cgi_.Handle(request.path, request.query));
    if (const auto refusal = cgi_.Refuse(request.path, request.query))
        return CgiAnswer(*refusal);
    return fault ? *fault : PushStream(request);
}

HttpReply Camera::PushStream(const HttpRequest& request) {
    const unsigned rate = ParameterValue(request.query, "rate");
    std::lock_guard<std::mutex> lock(faultMutex_);
    return MakeServerPushReply(pictures_, PushRateFps(rate), pushShape_);
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
    rtsp_->SetDenyAll(deny);
}

bool Camera::SetOffline(bool offline) {
    if (offline) {
        Stop();
        return true;
    }
    // A stopped HTTP server cannot be restarted: build a fresh one on the same port.
    const uint16_t rtspPort = rtsp_->Port();
    http_ = std::make_unique<HttpServer>();
    RouteAll();
    return http_->Start(httpPort_) && rtsp_->Start(rtspPort);
}

}  // namespace camsim
