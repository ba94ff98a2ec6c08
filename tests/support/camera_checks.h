// What a test reads off the simulated camera's request logs, and how long a call takes.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "camsim/camera.h"
#include "camsim/http_server.h"
#include "camsim/rtsp_server.h"

namespace test {

// RTSP requests of `method` the camera received.
inline size_t CountRtspRequests(camsim::Camera& camera, const std::string& method) {
    size_t n = 0;
    for (const auto& entry : camera.Rtsp().Requests())
        n += entry.method == method;
    return n;
}

// HTTP requests of `path` (without the query) the camera received.
inline size_t CountHttpRequests(camsim::Camera& camera, const std::string& path) {
    size_t n = 0;
    for (const auto& request : camera.Http().Requests())
        n += request.path == path;
    return n;
}

inline long long MillisecondsOf(const std::function<void()>& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

}  // namespace test
