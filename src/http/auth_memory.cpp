#include "http/auth_memory.h"

#include <algorithm>

#include "platform/http_transport.h"

namespace norvane::Web {

CAuthMemory& CAuthMemory::Shared() {
    // Destroyed when the library unloads (a host unloads it only after closing its drivers), so
    // loading and unloading it again and again leaks nothing.
    static CAuthMemory memory;
    return memory;
}

uint32_t CAuthMemory::Scheme(const std::string& address) {
    CLockGuard guard(lock_);
    const auto found = cameras_.find(address);
    if (found == cameras_.end())
        return 0;
    found->second.lastUse = ++uses_;
    return found->second.scheme;
}

bool CAuthMemory::Learn(const std::string& address, uint32_t scheme) {
    CLockGuard guard(lock_);
    auto found = cameras_.find(address);
    if (found != cameras_.end() && found->second.scheme == platform::HTTP_AUTH_DIGEST &&
        scheme == platform::HTTP_AUTH_BASIC)
        return false;
    if (found == cameras_.end() && cameras_.size() >= MAX_CAMERAS)
        cameras_.erase(std::min_element(
            cameras_.begin(), cameras_.end(),
            [](const auto& a, const auto& b) { return a.second.lastUse < b.second.lastUse; }));
    cameras_[address] = Entry{scheme, ++uses_};
    return true;
}

void CAuthMemory::Clear() {
    CLockGuard guard(lock_);
    cameras_.clear();
}

}  // namespace norvane::Web
