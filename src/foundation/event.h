// Event objects and the two-event wait.
#pragma once

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
    platform::Event* Handle() { return &handle; }

private:
    // Part of the object rather than allocated apart, so that out of memory fails the owner's
    // construction as a whole and never leaves a thread waiting on an event that is not there
    // (such a wait returns at once, and the thread would spin without end).
    platform::Event handle;
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
