#include "camsim/oversized_pages.h"

#include <algorithm>
#include <memory>
#include <string>

namespace camsim {

namespace {

constexpr size_t PIECE_BYTES = 64 * 1024;

// Reply lines filling one piece ("fill:(xxx...)" lines of 64 bytes).
std::shared_ptr<const std::string> FillerPiece() {
    std::string line = "fill:(" + std::string(56, 'x') + ")\r\n";
    std::string piece;
    while (piece.size() < PIECE_BYTES)
        piece += line;
    return std::make_shared<const std::string>(piece.substr(0, PIECE_BYTES));
}

// A close-delimited body of `bytes` filler bytes.
HttpReply StreamedPage(uint64_t bytes) {
    HttpReply reply;
    reply.stream = [piece = FillerPiece(), left = bytes](HttpBodyWriter& out) mutable {
        const size_t size = static_cast<size_t>(std::min<uint64_t>(left, piece->size()));
        left -= size;
        return size > 0 && out.Send(std::string_view(*piece).substr(0, size));
    };
    return reply;
}

}  // namespace

HttpReply OversizedPage(uint64_t bytes) {
    HttpReply reply = StreamedPage(bytes);
    reply.headers.emplace_back("Content-Length", std::to_string(bytes));
    return reply;
}

HttpReply EndlessPage() {
    return StreamedPage(ENDLESS_PAGE_LIMIT);
}

HttpReply ShortPage(size_t announced, size_t sent) {
    HttpReply reply = HttpReply::Text(200, std::string(sent, 'x'));
    reply.contentLength = announced;
    return reply;
}

}  // namespace camsim
