#include "camsim/server_push.h"

#include <algorithm>
#include <random>
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

Bytes PushPart(const Bytes& picture, uint64_t index, const PushShape& shape) {
    Bytes body = picture;
    const bool broken = shape.brokenEvery && (index + 1) % shape.brokenEvery == 0;
    if (broken && (index / shape.brokenEvery) % 2 == 0 && body.size() >= 2) {
        body.resize(body.size() - 2);  // no end of image
    } else if (broken) {
        for (size_t i = 0; i + 1 < body.size(); ++i)
            if (body[i] == 0xFF && body[i + 1] == 0xC0)
                body[i + 1] = 0xFE;  // the frame header becomes a comment
    }
    const std::string head = PartHead(body.size());
    Bytes part(head.begin(), head.end());
    part.insert(part.end(), body.begin(), body.end());
    static const uint8_t kJunk[] = {0xFF, 0x00, 'j', 'u', 'n', 'k', 0xFF, 0xC0, 0x01, 0xFF};
    if (shape.junk)
        part.insert(part.end(), std::begin(kJunk), std::end(kJunk));
    part.push_back('\r');
    part.push_back('\n');
    return part;
}

HttpReply MakeServerPushReply(std::shared_ptr<const std::vector<Bytes>> pictures, unsigned fps,
                              PushShape shape) {
    if (!pictures || pictures->empty())
        return HttpReply::Text(503, "no pictures\r\n");
    HttpReply reply;
    reply.headers.emplace_back("Content-Type", std::string("multipart/x-mixed-replace;boundary=") +
                                                   PUSH_BOUNDARY);
    const unsigned periodMs = 1000 / (fps == 0 ? DEFAULT_PUSH_FPS : fps);
    reply.stream = [pictures, periodMs, shape](HttpBodyWriter& out) {
        std::mt19937 random(shape.pieceSeed);
        for (uint64_t n = 0;; ++n) {
            const Bytes part = PushPart((*pictures)[n % pictures->size()], n, shape);
            const std::string_view bytes(reinterpret_cast<const char*>(part.data()), part.size());
            for (size_t at = 0; at < bytes.size();) {
                size_t piece = bytes.size() - at;
                if (shape.pieceSize)
                    piece = std::min(piece, shape.pieceSeed ? 1 + random() % shape.pieceSize
                                                            : shape.pieceSize);
                if (!out.Send(bytes.substr(at, piece)))
                    return false;
                at += piece;
            }
            if (!out.Pause(periodMs))
                return false;
        }
    };
    return reply;
}

}  // namespace camsim
