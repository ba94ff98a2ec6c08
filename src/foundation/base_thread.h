// Named thread with a stop event and bounded stops.
#pragma once

#include <atomic>
#include <string>

#include "foundation/event.h"
#include "platform/thread.h"

namespace norvane {

class IDriver;

class CBaseThread {
public:
    explicit CBaseThread(IDriver* driver);
    virtual ~CBaseThread();
    CBaseThread(const CBaseThread&) = delete;
    CBaseThread& operator=(const CBaseThread&) = delete;

    virtual bool Start(const std::string& name);
    // Waits up to the limit, then for ever (logging both).
    virtual bool JoinThread(unsigned milliseconds);
    // Waits up to the limit; at the limit the thread is abandoned (logged) and waited for.
    virtual bool StopThread(unsigned milliseconds);

    bool IsStopSignalled() { return stopEvent.Wait(0); }
    const std::string& GetName() const { return name; }
    unsigned GetThreadId() const { return threadId; }

protected:
    virtual void Run() = 0;

    IDriver* GetDriver() const { return driver; }
    CManualEvent& StopEvent() { return stopEvent; }

private:
    static unsigned ThreadProcedure(void* argument);
    // Signals the stop event and waits up to the limit for the thread to end. False when called
    // on the thread itself; `timedOut` tells whether the thread outlived the limit.
    bool SignalStopAndWait(unsigned milliseconds, bool& timedOut);

    std::string name;
    platform::Thread handle;
    std::atomic<unsigned> threadId{0};
    IDriver* driver;
    CManualEvent stopEvent;
};

}  // namespace norvane
