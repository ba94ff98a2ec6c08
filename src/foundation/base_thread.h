// Named thread with a stop event and bounded stops.
#pragma once

#include <atomic>
#include <string>

#include "foundation/event.h"
#include "foundation/lock.h"
#include "platform/thread.h"

namespace norvane {

class IDriver;

// Exit codes of the library's thread procedures besides the body's own.
constexpr unsigned NO_OBJECT_EXIT_CODE = 0x123456;
constexpr unsigned EXCEPTION_EXIT_CODE = 0x123457;

// Logs that the named thread ended by an exception; logs nothing if that fails too.
void LogThreadException(IDriver* driver, const char* name) noexcept;

// Runs a thread's body: an exception (out of memory) ends the thread with a log line, never the
// host's process.
template <typename Body>
unsigned RunThreadBody(IDriver* driver, const char* name, Body&& body) noexcept {
    try {
        return static_cast<unsigned>(body());
    } catch (...) {
        LogThreadException(driver, name);
        return EXCEPTION_EXIT_CODE;
    }
}

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
    bool OnOwnThread() const;
    // On the thread itself a stop only signals: true when it did.
    bool SignalOwnStop();
    // True when no thread runs or it ended within the limit.
    bool WaitForEnd(unsigned milliseconds);
    void CloseHandle();

    std::string name;
    platform::Thread handle;
    std::atomic<unsigned> threadId{0};  // the last thread's, kept for the log lines
    std::atomic<unsigned> ownId{0};     // the thread's while its handle is open
    IDriver* driver;
    CManualEvent stopEvent;
    CLock controlLock;  // serialises Start, StopThread and JoinThread (never taken by the thread)
};

}  // namespace norvane
