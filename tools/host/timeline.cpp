#include "host/timeline.h"

#include <algorithm>

namespace host {

double SecondsSince(TimelineClock::time_point origin, TimelineClock::time_point at) {
    return std::chrono::duration<double>(at - origin).count();
}

RateSeries::RateSeries(size_t capacity) : capacity_(std::max<size_t>(capacity, 2)) {}

size_t RateSeries::SlotOf(double seconds) const {
    return seconds > 0 ? static_cast<size_t>(seconds / slotSeconds_) : 0;
}

void RateSeries::Add(double seconds, uint64_t bytes, bool key) {
    while (SlotOf(seconds) >= capacity_)
        MergePairs();
    const size_t index = SlotOf(seconds);
    if (index >= slots_.size())
        slots_.resize(index + 1);
    RateSlot& slot = slots_[index];
    ++slot.frames;
    slot.keyFrames += key;
    slot.bytes += bytes;
}

void RateSeries::MergePairs() {
    std::vector<RateSlot> merged((slots_.size() + 1) / 2);
    for (size_t i = 0; i < slots_.size(); ++i) {
        RateSlot& into = merged[i / 2];
        into.frames += slots_[i].frames;
        into.keyFrames += slots_[i].keyFrames;
        into.bytes += slots_[i].bytes;
    }
    slots_ = std::move(merged);
    slotSeconds_ *= 2;
}

void EventRing::Add(TimelineEvent event) {
    if (events_.size() >= capacity_) {
        events_.pop_front();
        ++dropped_;
    }
    events_.push_back(std::move(event));
}

ChannelTimeline::ChannelTimeline(TimelineClock::time_point origin)
    : origin_(origin), data_{RateSeries(kSlots), EventRing(kEvents), EventRing(kEvents)} {}

void ChannelTimeline::AddFrame(TimelineClock::time_point at, uint64_t bytes, bool key) {
    std::lock_guard<std::mutex> lock(mutex_);
    data_.rates.Add(SecondsSince(origin_, at), bytes, key);
}

void ChannelTimeline::AddMotion(TimelineClock::time_point at, bool motion) {
    std::lock_guard<std::mutex> lock(mutex_);
    data_.motion.Add({SecondsSince(origin_, at),
                      motion ? EventKind::MotionOn : EventKind::MotionOff,
                      motion ? "motion on" : "motion off"});
}

void ChannelTimeline::Observe(TimelineClock::time_point at, const std::string& state,
                              uint64_t signalLost) {
    std::lock_guard<std::mutex> lock(mutex_);
    const double seconds = SecondsSince(origin_, at);
    if (signalLost > signalLost_)
        data_.events.Add({seconds, EventKind::SignalLoss,
                          std::to_string(signalLost - signalLost_) + " signal-loss notice(s)"});
    signalLost_ = signalLost;
    if (state == state_)
        return;
    const bool running = state == "Running";
    const bool reconnected = running && wasRunning_;
    data_.events.Add({seconds, reconnected ? EventKind::Reconnect : EventKind::State,
                      reconnected ? "Running again (reconnected)" : state});
    wasRunning_ = wasRunning_ || running;
    state_ = state;
}

TimelineSnapshot ChannelTimeline::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return data_;
}

}  // namespace host
