// A channel's history over a run as the host saw it, in bounded memory: frames, key frames and
// bytes per time slot, and the latest state changes, signal-loss notices and motion records.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace host {

using TimelineClock = std::chrono::steady_clock;

// Seconds from `origin` to `at`.
double SecondsSince(TimelineClock::time_point origin, TimelineClock::time_point at);

struct RateSlot {
    uint64_t frames = 0;
    uint64_t keyFrames = 0;
    uint64_t bytes = 0;
};

// Frames and bytes per slot from the run's start. A slot covers one second until the run has
// more seconds than `capacity` slots; then neighbouring slots merge pairwise and each covers
// twice the time, so a run of any length keeps at most `capacity` slots.
class RateSeries {
public:
    explicit RateSeries(size_t capacity);

    // A frame `seconds` after the start (negative times count in the first slot).
    void Add(double seconds, uint64_t bytes, bool key);
    double SlotSeconds() const { return slotSeconds_; }
    const std::vector<RateSlot>& Slots() const { return slots_; }

private:
    size_t SlotOf(double seconds) const;
    void MergePairs();

    size_t capacity_;
    double slotSeconds_ = 1;
    std::vector<RateSlot> slots_;
};

enum class EventKind { State, Reconnect, SignalLoss, Online, Offline, Input, MotionOn, MotionOff };

struct TimelineEvent {
    double seconds;  // from the run's start
    EventKind kind;
    std::string text;
};

// The latest `capacity` events, and how many earlier ones it let go.
class EventRing {
public:
    explicit EventRing(size_t capacity) : capacity_(capacity) {}
    void Add(TimelineEvent event);
    const std::deque<TimelineEvent>& Events() const { return events_; }
    uint64_t Dropped() const { return dropped_; }

private:
    size_t capacity_;
    std::deque<TimelineEvent> events_;
    uint64_t dropped_ = 0;
};

struct TimelineSnapshot {
    RateSeries rates;
    EventRing events;  // state changes, reconnects, signal-loss notices
    EventRing motion;
};

// One channel's timeline; every operation may come from any thread.
class ChannelTimeline {
public:
    static constexpr size_t kSlots = 600;   // an hour in 8 s slots
    static constexpr size_t kEvents = 500;  // per ring
    explicit ChannelTimeline(TimelineClock::time_point origin);

    void AddFrame(TimelineClock::time_point at, uint64_t bytes, bool key);
    void AddMotion(TimelineClock::time_point at, bool motion);
    // A reading of the channel's state and of its signal-loss notices so far: a changed state
    // is an event ("reconnected" when it is Running again after having left it), and so is
    // each new notice.
    void Observe(TimelineClock::time_point at, const std::string& state, uint64_t signalLost);
    TimelineSnapshot Snapshot() const;

private:
    const TimelineClock::time_point origin_;
    mutable std::mutex mutex_;
    TimelineSnapshot data_;
    std::string state_;
    bool wasRunning_ = false;
    uint64_t signalLost_ = 0;
};

}  // namespace host
