// What a camera of the family accepts from its CGI programs: for each program the parameters a
// camera of each group knows, the values it takes, and the forms of its requests (which
// parameters go together, in which order). A request outside them is refused, settings unchanged.
#pragma once

#include <functional>
#include <string>

#include "camsim/camera_cgi.h"
#include "camsim/personality.h"

namespace camsim {

struct Refusal {
    int status = 0;      // 0: accepted; 404 for a program the camera lacks, 400 otherwise
    std::string reason;  // why, for the log
};

// The value a setting holds on the camera now (written or submitted), empty when none; the
// codec decides which resolution and frame-rate codes are valid.
using CurrentSetting = std::function<std::string(const std::string& name)>;

// How a camera of `camera`'s personality answers a GET of `path` with `query`.
Refusal CheckCgiRequest(const Personality& camera, const std::string& path, const QueryList& query,
                        const CurrentSetting& current);

}  // namespace camsim
