#include "camsim/server_push.h"

#include <string>
#include <string_view>

namespace camsim {

namespace {

constexpr unsigned DEFAULT_PUSH_FPS = 10;

std::string PartHead(size_t size) {
    return std::string("--") + PUSH_BOUNDARY + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
           std::to_string(size) + "\r\n\r\n";
}

}  // namespace

unsigned PushRateFps(unsigned rateCode) {
    static const unsigned fps[] = {DEFAULT_PUSH_FPS, 5, 6, 8, 12, 25};
    return rateCode < std::size(fps) ? fps[rateCode] : DEFAULT_PUSH_FPS;
}

HttpReply MakeServerPushReply(std::shared_ptr<const std::vector<Bytes>> pictures, unsigned fps) {
    if (!pictures || pictures->empty())
        return HttpReply::Text(503, "no pictures\r\n");
    HttpReply reply;
    reply.headers.emplace_back("Content-Type", std::string("multipart/x-mixed-replace;boundary=") +
                                                   PUSH_BOUNDARY);
    const unsigned periodMs = 1000 / (fps == 0 ? DEFAULT_PUSH_FPS : fps);
    reply.stream = [pictures, periodMs](HttpBodyWriter& out) {
        for (size_t i = 0;; i = (i + 1) % pictures->size()) {
            const Bytes& picture = (*pictures)[i];
            const std::string head = PartHead(picture.size());
            if (!out.Send(head) ||
                !out.Send(std::string_view(reinterpret_cast<const char*>(picture.data()),
                                           picture.size())) ||
                !out.Send("\r\n") || !out.Pause(periodMs))
                return false;
        }
    };
    return reply;
}

}  // namespace camsim
