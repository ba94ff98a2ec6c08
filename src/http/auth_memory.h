// The authentication scheme each camera asked for, by address and port, shared by every HTTP
// client of the process: a client sends credentials before a challenge only in a scheme the
// camera asked for, and never Basic to a camera that asked for Digest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "foundation/lock.h"

namespace norvane::Web {

class CAuthMemory {
public:
    // Cameras remembered at most; past it the one asked least recently is forgotten.
    static constexpr size_t MAX_CAMERAS = 256;

    // The one memory of the process.
    static CAuthMemory& Shared();

    // The scheme bit the camera at `address` asked for last; 0 when none is known.
    uint32_t Scheme(const std::string& address);
    // Notes that the camera asked for `scheme`; false, noting nothing, for Basic from a camera
    // that asked for Digest (the challenge is then not answered).
    bool Learn(const std::string& address, uint32_t scheme);
    // Forgets every camera.
    void Clear();

private:
    struct Entry {
        uint32_t scheme = 0;
        uint64_t lastUse = 0;
    };

    CLock lock_;
    std::map<std::string, Entry> cameras_;
    uint64_t uses_ = 0;
};

}  // namespace norvane::Web
