// Mutex and condition variable pair that lets a test wait for a condition with a limit.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace host {

class Monitor {
public:
    template <typename F>
    auto With(F f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f();
    }

    // Runs `f` under the lock, then wakes every waiter.
    template <typename F>
    void Update(F f) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            f();
        }
        cv_.notify_all();
    }

    // True when `pred` (evaluated under the lock) holds within `timeout`.
    template <typename Pred>
    bool WaitFor(Pred pred, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, timeout, pred);
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
};

}  // namespace host
