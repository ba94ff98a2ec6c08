// Test-side wait on a simulator object whose state changes are counted under its lock.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace camsim {

// True when `condition` holds within `milliseconds`. It is re-checked each time `changes`
// (guarded by `mutex`, bumped before `changed` is notified) moves, and runs without the lock,
// so it may call the object's own locking getters.
bool WaitForChange(std::mutex& mutex, std::condition_variable& changed, const uint64_t& changes,
                   const std::function<bool()>& condition, unsigned milliseconds);

}  // namespace camsim
