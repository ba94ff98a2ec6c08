// The queue of output writes: one thread hands each queued state to the owner that writes it.
#pragma once

#include "foundation/idriver.h"
#include "foundation/queue_thread.h"

namespace norvane {

// One queued output write.
class COutputState {
public:
    COutputState(int index, int state) : index(index), state(state) {}
    virtual ~COutputState() = default;

    int index;
    int state;
};

// Output queue thread bound to its owner: each item becomes OnOutputState of the owner.
template <typename T>
class TOutputHandler : public CQueueThread<COutputState> {
public:
    TOutputHandler(IDriver* driver, T* owner) : CQueueThread<COutputState>(driver), owner(owner) {}
    ~TOutputHandler() override { CloseQueue(); }

    CManualEvent& GetStopEvent() { return StopEvent(); }

protected:
    void HandleWorkItem(COutputState* item) override {
        if (owner && item)
            owner->OnOutputState(static_cast<unsigned>(item->index), item->state);
    }
    // A full queue drops an output's older request before another output's only one, so the
    // host's last word for each output always reaches the camera.
    bool Supersedes(const COutputState& newer, const COutputState& older) const override {
        return newer.index == older.index;
    }

private:
    T* owner;
};

}  // namespace norvane
