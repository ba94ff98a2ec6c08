// Event objects and the two-event wait.
#pragma once

#include <memory>
#include <utility>

#include "platform/event.h"

namespace norvane {

constexpr unsigned INFINITE_WAIT = platform::WAIT_INFINITE;

class CEvent {
public:
    explicit CEvent(bool manualReset = false);
    virtual ~CEvent();
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    bool Set();
    bool Reset();
    // True if signalled within `milliseconds`.
    bool Wait(unsigned milliseconds);
    platform::Event* Handle() const { return handle.get(); }

private:
    std::unique_ptr<platform::Event> handle;  // null if creation failed
};

class CManualEvent : public CEvent {
public:
    CManualEvent() : CEvent(true) {}
};

// First: the stop event; second: the work event.
using EventPair = std::pair<CEvent*, CEvent*>;

// 0 or 1 for the signalled event; -1 on time-out, failure or a null pair.
int WaitForStopOrItem(const EventPair* pair, unsigned milliseconds);

}  // namespace norvane
