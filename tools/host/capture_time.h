// Capture times as the host keeps them: broken-down UTC and the text form the reports use.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "norvane/types.h"

namespace host {

// The host clock's present time, as the host stamps a frame the driver did not time itself.
SYSTEMTIME UtcNow();
SYSTEMTIME ToSystemTime(std::chrono::system_clock::time_point time);
// "2024-05-01T12:00:00.040Z".
std::string FormatUtc(const SYSTEMTIME& time);

}  // namespace host
