// Host callback for the camera's alarm inputs: counts every change and failure notice, keeps the
// latest MAX_EVENTS with the host's time, and optionally hands each to a live printer.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "host/monitor.h"
#include "host/recent_list.h"
#include "norvane/io.h"
#include "norvane/types.h"

namespace host {

struct IOEvent {
    SYSTEMTIME time;   // when the host heard of it
    std::chrono::steady_clock::time_point arrived;
    bool failure;      // OnIOFailure; index and state are unused then
    unsigned index;
    int state;
};

class IOEventSink : public norvane::TBoundaryObject<norvane::IIOEventSink> {
public:
    static constexpr size_t MAX_EVENTS = 20000;

    void OnInputChanged(unsigned index, int state) override;
    void OnIOFailure() override;

    // Called for each event, outside the sink's lock.
    void SetCallback(std::function<void(const IOEvent&)> callback);

    // The events held, oldest first; the counts below include those given up.
    std::vector<IOEvent> Events();
    // Input changes held, as (index, state) pairs in arrival order.
    std::vector<std::pair<unsigned, int>> Changes();
    size_t ChangeCount();
    size_t FailureCount();
    bool WaitForChanges(size_t count, std::chrono::milliseconds timeout);
    bool WaitForFailures(size_t count, std::chrono::milliseconds timeout);

private:
    void Record(const IOEvent& event);

    Monitor monitor_;
    RecentList<IOEvent> events_{MAX_EVENTS};
    size_t changes_ = 0;
    size_t failures_ = 0;
    std::function<void(const IOEvent&)> callback_;
};

// "input 2 active" style text of an event, with its time.
std::string DescribeIOEvent(const IOEvent& event);

}  // namespace host
