// A scripted course of the camera's alarm inputs and motion: each event sets one input or the
// motion state at a time counted from when the script was given to the camera.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace camsim {

struct AlarmEvent {
    enum class Kind { Input, Motion };
    uint32_t atMs = 0;
    Kind kind = Kind::Input;
    unsigned input = 0;  // bit of the status byte (0 is the first input); inputs only
    bool on = false;
};

// "T:inputN=0|1" or "T:motion=0|1" with T in milliseconds; nothing for any other text.
std::optional<AlarmEvent> ParseAlarmEvent(const std::string& text);
// The event in the form ParseAlarmEvent reads.
std::string FormatAlarmEvent(const AlarmEvent& event);

// The camera's alarm state, with scripted events applied as their time comes.
class AlarmTimeline {
public:
    // Events keep their order of time; `nowMs` is the clock the script counts from.
    void Schedule(std::vector<AlarmEvent> events, uint64_t nowMs);
    // Applies every event due at `nowMs` to `inputBits` and `motion`; returns how many.
    size_t Apply(uint64_t nowMs, uint32_t& inputBits, bool& motion);

private:
    std::vector<AlarmEvent> events_;
    size_t next_ = 0;
    uint64_t startMs_ = 0;
};

}  // namespace camsim
