// Auto- and manual-reset events with one- and two-event waits. Built on a mutex and condition
// variable each; no file descriptor per event, no polling.
#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

namespace norvane::platform {

constexpr unsigned WAIT_INFINITE = 0xFFFFFFFFu;

class Event {
public:
    explicit Event(bool manualReset);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    bool IsSet();
    // True when signalled within `milliseconds`; an auto-reset event is consumed.
    bool Wait(unsigned milliseconds);
    // Index (0 or 1) of the event that ended the wait, -1 on time-out.
    static int WaitAny(Event& first, Event& second, unsigned milliseconds);

private:
    struct Waiter {
        std::mutex mutex;
        std::condition_variable cv;
        bool woken = false;
    };

    bool TryConsumeLocked();
    bool TryConsume();
    void AddWaiter(Waiter* waiter);
    void RemoveWaiter(Waiter* waiter);

    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
    const bool manual_;
    std::vector<Waiter*> waiters_;  // two-event waits currently watching this event
};

}  // namespace norvane::platform
