// Motion-JPEG as an HTTP server-push reply (multipart/x-mixed-replace), paced in real time.
#pragma once

#include <memory>
#include <vector>

#include "camsim/http_message.h"
#include "camsim/media_files.h"

namespace camsim {

constexpr const char* PUSH_BOUNDARY = "camsimframe";

// Pictures per second for the camera's push rate code (1 to 5); 0 gives the default rate.
unsigned PushRateFps(unsigned rateCode);

// How the push stream is cut and spoilt, for the receiver's tests.
struct PushShape {
    size_t pieceSize = 0;     // each write at most this many bytes (0: a part in one write)
    uint32_t pieceSeed = 0;   // with pieceSize: random sizes from 1 to pieceSize (0: fixed)
    bool junk = false;        // garbage with stray marker bytes between the parts
    unsigned brokenEvery = 0; // every Nth part is spoilt: in turn cut before its end of image,
                              // or without its frame header (0: none)
};

// An endless reply that sends the pictures in turn, `fps` per second, until the peer leaves or
// the server stops. An empty picture list gives 503.
HttpReply MakeServerPushReply(std::shared_ptr<const std::vector<Bytes>> pictures, unsigned fps,
                              PushShape shape = {});

// The bytes of part `index` (head, picture, trailing CR LF) as `shape` spoils them.
Bytes PushPart(const Bytes& picture, uint64_t index, const PushShape& shape);

}  // namespace camsim
