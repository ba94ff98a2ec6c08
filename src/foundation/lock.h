// Recursive lock that spins before sleeping; one compare-and-exchange when uncontended.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "foundation/event.h"

namespace norvane {

class CLock {
public:
    CLock();
    ~CLock();
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

    void Enter();
    bool TryEnter();
    void Leave();

    static constexpr int32_t SPIN_COUNT = 4000;

private:
    struct State {
        std::atomic<int32_t> spinCount{0};
        std::atomic<int32_t> lockCount{0};  // holders and waiters
        std::atomic<unsigned> ownerThreadId{0};
        int32_t recursion = 0;  // touched only by the owner
    };

    CEvent event;  // auto-reset; contending threads sleep here
    std::unique_ptr<State> state;
};

class CLockGuard {
public:
    explicit CLockGuard(CLock* lock) : lock_(lock) { lock_->Enter(); }
    explicit CLockGuard(CLock& lock) : CLockGuard(&lock) {}
    ~CLockGuard() { lock_->Leave(); }
    CLockGuard(const CLockGuard&) = delete;
    CLockGuard& operator=(const CLockGuard&) = delete;

private:
    CLock* lock_;
};

}  // namespace norvane
