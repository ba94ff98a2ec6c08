// Thread that calls Tick() once per interval until stopped.
#pragma once

#include <atomic>

#include "foundation/base_thread.h"

namespace norvane {

class CTickThread : public CBaseThread {
public:
    explicit CTickThread(IDriver* driver) : CBaseThread(driver) {}
    ~CTickThread() override { StopThread(2000); }

    // Ticks at once, then every interval.
    bool StartImmediate(const std::string& name);
    bool StopTick() { return StopThread(6000); }

    void SetInterval(unsigned milliseconds) { interval = milliseconds; }

protected:
    void Run() override;
    virtual void Tick() = 0;

private:
    std::atomic<unsigned> interval{3000};
    std::atomic<bool> tickFirst{false};
};

// Tick thread that calls a member function of its owner.
template <typename T>
class TTickThread : public CTickThread {
public:
    using Method = int (T::*)();

    TTickThread(IDriver* driver, T* owner, Method method)
        : CTickThread(driver), owner(owner), method(method) {}
    ~TTickThread() override { StopThread(2000); }

protected:
    void Tick() override {
        if (owner && method)
            (owner->*method)();
    }

private:
    T* owner;
    Method method;
};

}  // namespace norvane
