#include "camsim/change_wait.h"

#include <chrono>

namespace camsim {

bool WaitForChange(std::mutex& mutex, std::condition_variable& changed, const uint64_t& changes,
                   const std::function<bool()>& condition, unsigned milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        const uint64_t seen = changes;
        lock.unlock();
        if (condition())
            return true;
        lock.lock();
        if (!changed.wait_until(lock, deadline, [&] { return changes != seen; })) {
            lock.unlock();
            return condition();
        }
    }
}

}  // namespace camsim
