// Motion-JPEG as an HTTP server-push reply (multipart/x-mixed-replace), paced in real time.
#pragma once

#include <memory>
#include <vector>

#include "camsim/http_server.h"
#include "camsim/media_files.h"

namespace camsim {

constexpr const char* PUSH_BOUNDARY = "camsimframe";

// Pictures per second for the camera's push rate code (1 to 5); 0 gives the default rate.
unsigned PushRateFps(unsigned rateCode);

// An endless reply that sends the pictures in turn, `fps` per second, until the peer leaves or
// the server stops. An empty picture list gives 503.
HttpReply MakeServerPushReply(std::shared_ptr<const std::vector<Bytes>> pictures, unsigned fps);

}  // namespace camsim
