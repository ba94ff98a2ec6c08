#include "camsim/alarm_timeline.h"

#include <algorithm>
#include <cstdlib>

namespace camsim {

namespace {

// Decimal digits only, within 32 bits.
std::optional<uint32_t> Number(const std::string& text) {
    if (text.empty() || text.size() > 10 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (value > UINT32_MAX)
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

}  // namespace

std::optional<AlarmEvent> ParseAlarmEvent(const std::string& text) {
    const size_t colon = text.find(':');
    const size_t eq = text.find('=', colon == std::string::npos ? 0 : colon);
    if (colon == std::string::npos || eq == std::string::npos)
        return std::nullopt;
    const auto at = Number(text.substr(0, colon));
    const std::string what = text.substr(colon + 1, eq - colon - 1);
    const std::string value = text.substr(eq + 1);
    if (!at || (value != "0" && value != "1"))
        return std::nullopt;
    AlarmEvent event;
    event.atMs = *at;
    event.on = value == "1";
    if (what == "motion") {
        event.kind = AlarmEvent::Kind::Motion;
        return event;
    }
    const std::string prefix = "input";
    const auto input = what.rfind(prefix, 0) == 0 ? Number(what.substr(prefix.size())) : std::nullopt;
    if (!input || *input >= 32)
        return std::nullopt;
    event.kind = AlarmEvent::Kind::Input;
    event.input = *input;
    return event;
}

std::string FormatAlarmEvent(const AlarmEvent& event) {
    const std::string what =
        event.kind == AlarmEvent::Kind::Motion ? "motion" : "input" + std::to_string(event.input);
    return std::to_string(event.atMs) + ":" + what + "=" + (event.on ? "1" : "0");
}

void AlarmTimeline::Schedule(std::vector<AlarmEvent> events, uint64_t nowMs) {
    std::stable_sort(events.begin(), events.end(),
                     [](const AlarmEvent& a, const AlarmEvent& b) { return a.atMs < b.atMs; });
    events_ = std::move(events);
    next_ = 0;
    startMs_ = nowMs;
}

size_t AlarmTimeline::Apply(uint64_t nowMs, uint32_t& inputBits, bool& motion) {
    size_t applied = 0;
    for (; next_ < events_.size() && startMs_ + events_[next_].atMs <= nowMs; ++next_, ++applied) {
        const AlarmEvent& e = events_[next_];
        if (e.kind == AlarmEvent::Kind::Motion)
            motion = e.on;
        else if (e.on)
            inputBits |= 1u << e.input;
        else
            inputBits &= ~(1u << e.input);
    }
    return applied;
}

}  // namespace camsim
