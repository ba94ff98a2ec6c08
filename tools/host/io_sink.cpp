#include "host/io_sink.h"

#include "host/capture_time.h"

namespace host {

void IOEventSink::OnInputChanged(unsigned index, int state) {
    Record(IOEvent{UtcNow(), std::chrono::steady_clock::now(), false, index, state});
}

void IOEventSink::OnIOFailure() { Record(IOEvent{UtcNow(), std::chrono::steady_clock::now(), true, 0, 0}); }

void IOEventSink::Record(const IOEvent& event) {
    std::function<void(const IOEvent&)> callback;
    monitor_.Update([&] {
        events_.Add(event);
        ++(event.failure ? failures_ : changes_);
        callback = callback_;
    });
    if (callback)
        callback(event);
}

void IOEventSink::SetCallback(std::function<void(const IOEvent&)> callback) {
    monitor_.Update([&] { callback_ = std::move(callback); });
}

std::vector<IOEvent> IOEventSink::Events() {
    return monitor_.With([&] { return events_.Copy(); });
}

std::vector<std::pair<unsigned, int>> IOEventSink::Changes() {
    return monitor_.With([&] {
        std::vector<std::pair<unsigned, int>> changes;
        for (const IOEvent& e : events_.Items())
            if (!e.failure)
                changes.emplace_back(e.index, e.state);
        return changes;
    });
}

size_t IOEventSink::ChangeCount() {
    return monitor_.With([&] { return changes_; });
}

size_t IOEventSink::FailureCount() {
    return monitor_.With([&] { return failures_; });
}

bool IOEventSink::WaitForChanges(size_t count, std::chrono::milliseconds timeout) {
    return monitor_.WaitFor([&] { return changes_ >= count; }, timeout);
}

bool IOEventSink::WaitForFailures(size_t count, std::chrono::milliseconds timeout) {
    return monitor_.WaitFor([&] { return failures_ >= count; }, timeout);
}

std::string DescribeIOEvent(const IOEvent& event) {
    const std::string when = FormatUtc(event.time);
    if (event.failure)
        return when + " I/O failure: states reset";
    const char* state = event.state == 2 ? "active" : event.state == 1 ? "inactive" : "unknown";
    return when + " input " + std::to_string(event.index) + " " + state;
}

}  // namespace host
