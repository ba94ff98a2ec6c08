#include "platform/event.h"

#include <algorithm>
#include <chrono>

namespace norvane::platform {

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point DeadlineAfter(unsigned milliseconds) {
    return milliseconds == WAIT_INFINITE ? Clock::time_point::max()
                                         : Clock::now() + std::chrono::milliseconds(milliseconds);
}

template <typename Lock, typename Pred>
bool WaitUntil(std::condition_variable& cv, Lock& lock, Clock::time_point deadline, Pred pred) {
    if (deadline == Clock::time_point::max()) {
        cv.wait(lock, pred);
        return true;
    }
    return cv.wait_until(lock, deadline, pred);
}

}  // namespace

Event::Event(bool manualReset) : manual_(manualReset) {}

Event::~Event() = default;

void Event::Set() {
    std::lock_guard<std::mutex> lock(mutex_);
    // Already set: no one sleeps on it (a waiter that came after the last Set took or saw the
    // signal), and two Sets without a wait between them are one. Per-packet Sets stay cheap.
    if (signalled_)
        return;
    signalled_ = true;
    if (manual_)
        cv_.notify_all();
    else
        cv_.notify_one();
    // Waiters unregister under mutex_, so each pointer is alive here. Each is notified after
    // its own mutex is released, so the woken thread does not sleep again on that mutex.
    for (Waiter* waiter : waiters_) {
        {
            std::lock_guard<std::mutex> waiterLock(waiter->mutex);
            waiter->woken = true;
        }
        waiter->cv.notify_one();
    }
}

void Event::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
}

bool Event::IsSet() {
    std::lock_guard<std::mutex> lock(mutex_);
    return signalled_;
}

bool Event::TryConsumeLocked() {
    if (!signalled_)
        return false;
    if (!manual_)
        signalled_ = false;
    return true;
}

bool Event::TryConsume() {
    std::lock_guard<std::mutex> lock(mutex_);
    return TryConsumeLocked();
}

bool Event::Wait(unsigned milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (milliseconds == 0)
        return TryConsumeLocked();  // a zero wait only tests: no timed sleep
    if (!WaitUntil(cv_, lock, DeadlineAfter(milliseconds), [this] { return signalled_; }))
        return false;
    return TryConsumeLocked();
}

void Event::AddWaiter(Waiter* waiter) {
    std::lock_guard<std::mutex> lock(mutex_);
    waiters_.push_back(waiter);
}

void Event::RemoveWaiter(Waiter* waiter) {
    std::lock_guard<std::mutex> lock(mutex_);
    waiters_.erase(std::remove(waiters_.begin(), waiters_.end(), waiter), waiters_.end());
}

int Event::WaitAny(Event& first, Event& second, unsigned milliseconds) {
    if (milliseconds == 0)
        return first.TryConsume() ? 0 : second.TryConsume() ? 1 : -1;
    const Clock::time_point deadline = DeadlineAfter(milliseconds);
    Waiter waiter;
    first.AddWaiter(&waiter);
    second.AddWaiter(&waiter);
    int result = -1;
    for (;;) {
        // Registered before testing, so a Set between the test and the sleep sets `woken`.
        if (first.TryConsume()) {
            result = 0;
            break;
        }
        if (second.TryConsume()) {
            result = 1;
            break;
        }
        std::unique_lock<std::mutex> lock(waiter.mutex);
        if (!WaitUntil(waiter.cv, lock, deadline, [&waiter] { return waiter.woken; }))
            break;
        waiter.woken = false;
    }
    first.RemoveWaiter(&waiter);
    second.RemoveWaiter(&waiter);
    return result;
}

}  // namespace norvane::platform
