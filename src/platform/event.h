// Auto- and manual-reset events with one- and two-event waits. On Linux built on a mutex and
// condition variable each (no file descriptor per event, no polling); on Windows a kernel event.
#pragma once

#if !defined(_WIN32)
#include <condition_variable>
#include <mutex>
#include <vector>
#endif

namespace norvane::platform {

constexpr unsigned WAIT_INFINITE = 0xFFFFFFFFu;

class Event {
public:
    explicit Event(bool manualReset);
    ~Event();
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
    const bool manual_;
#if defined(_WIN32)
    void* handle_;  // kernel event object
#else
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
    std::vector<Waiter*> waiters_;  // two-event waits currently watching this event
#endif
};

}  // namespace norvane::platform
