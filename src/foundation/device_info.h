// The driver's own records: the device record every object reads through IDriver, and the
// parameters a channel starts or changes format with. No host operation takes them.
#pragma once

#include <cstdint>
#include <string>

#include "norvane/types.h"

namespace norvane {

// One per driver object and per capability query module.
struct DEVICE_INFO {
    virtual ~DEVICE_INFO() = default;

    uint32_t timeout = 5000;   // HTTP request time-out, ms; twice this bounds thread stops
    uint32_t timeout2 = 5000;  // stream silence time-out, ms
    std::string address;
    uint16_t port = 80;
    std::string userName;
    std::string password;
    std::string model;
};

// Handed by pointer to a channel's start and change operations.
struct CAPTURE_PARAMS {
    uint32_t frameRate = 0;  // frame period in ms; 0 means not set
    uint32_t quality = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

}  // namespace norvane
