#include "host/report_events.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace host {

namespace {

struct StateLine {
    const char* fragment;
    EventKind kind;
    const char* text;
};

// The camera-state lines of the driver's channels.
constexpr StateLine kStateLines[] = {
    {" is online", EventKind::Online, "camera online"},
    {" is offline. Channel was stopped", EventKind::Offline, "camera offline (channel stopped)"},
    {" is offline or failed", EventKind::Offline, "camera offline or failed"},
    {"Signal was lost for ", EventKind::Offline, "camera offline: signal lost"},
};

std::optional<StateLine> StateLineOf(const std::string& text) {
    if (text.find("::SetCameraState: ") == std::string::npos)
        return std::nullopt;
    for (const StateLine& line : kStateLines)
        if (text.find(line.fragment) != std::string::npos)
            return line;
    return std::nullopt;
}

// The N of "(channel N)", 0 when the line names no channel.
size_t ChannelOf(const std::string& text) {
    const size_t at = text.find("(channel ");
    return at == std::string::npos ? 0 : std::strtoul(text.c_str() + at + 9, nullptr, 10);
}

template <typename T>
void KeepLatest(std::vector<T>& items, size_t limit) {
    if (items.size() > limit)
        items.erase(items.begin(), items.end() - static_cast<std::ptrdiff_t>(limit));
}

}  // namespace

std::vector<std::vector<TimelineEvent>> CameraStateEvents(const std::vector<LogRecord>& log,
                                                          TimelineClock::time_point origin,
                                                          size_t channels, size_t limit) {
    std::vector<std::vector<TimelineEvent>> out(channels);
    for (const LogRecord& record : log) {
        const std::optional<StateLine> line = StateLineOf(record.text);
        const size_t channel = line ? ChannelOf(record.text) : channels;
        if (channel < channels)
            out[channel].push_back({SecondsSince(origin, record.arrived), line->kind, line->text});
    }
    for (std::vector<TimelineEvent>& events : out)
        KeepLatest(events, limit);
    return out;
}

std::vector<InputChange> InputChanges(const std::vector<IOEvent>& events,
                                      TimelineClock::time_point origin, size_t limit) {
    std::vector<InputChange> out;
    for (const IOEvent& e : events)
        out.push_back({SecondsSince(origin, e.arrived), e.failure ? -1 : static_cast<int>(e.index),
                       !e.failure && e.state == 2});
    KeepLatest(out, limit);
    return out;
}

}  // namespace host
