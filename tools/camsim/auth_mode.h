// Login scheme a simulated camera asks for, on its HTTP and RTSP sides alike.
#pragma once

namespace camsim {

enum class AuthMode { None, Basic, Digest };

}  // namespace camsim
