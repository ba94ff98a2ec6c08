// The codec settings a channel wants on the camera, in the order they are written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace norvane {

struct StreamParameter {
    std::string name;  // CGI parameter name
    uint32_t value;    // wanted value

    bool operator==(const StreamParameter&) const = default;
};

struct StreamParameterList {
    std::vector<StreamParameter> parameters;
    bool streamSet = false;  // the request gets "&stream_set=0" (camera groups other than 2 and 3)

    bool operator==(const StreamParameterList&) const = default;
};

}  // namespace norvane
