#include "foundation/base_thread.h"

#include "foundation/idriver.h"

namespace norvane {

namespace {
constexpr unsigned NO_OBJECT_EXIT_CODE = 0x123456;
}

CBaseThread::CBaseThread(IDriver* driver) : driver(driver) {}

CBaseThread::~CBaseThread() { StopThread(2000); }

unsigned CBaseThread::ThreadProcedure(void* argument) {
    auto* self = static_cast<CBaseThread*>(argument);
    if (!self)
        return NO_OBJECT_EXIT_CODE;
    self->Run();
    return 0;
}

bool CBaseThread::Start(const std::string& threadName) {
    stopEvent.Reset();
    if (handle.IsRunning())
        return false;
    handle.Close();
    name = threadName;
    if (!handle.Start(&CBaseThread::ThreadProcedure, this))
        return false;
    threadId = handle.Id();
    return true;
}

bool CBaseThread::SignalStopAndWait(unsigned milliseconds, bool& timedOut) {
    stopEvent.Set();
    timedOut = false;
    if (!handle.Exists())
        return true;
    if (handle.IsCurrent())
        return false;
    timedOut = !handle.WaitEnded(milliseconds);
    return true;
}

bool CBaseThread::StopThread(unsigned milliseconds) {
    bool timedOut = false;
    if (!SignalStopAndWait(milliseconds, timedOut))
        return false;
    if (timedOut) {
        driver->Log(LOG_WARNING,
                    "%s: Thread (id=%u, name=\"%s\") was not stopped during %lu milliseconds and "
                    "will be terminated!",
                    "norvane::CBaseThread::StopThread", threadId.load(), name.c_str(),
                    static_cast<unsigned long>(milliseconds));
        // No safe forced termination exists here: closing the handle waits for the thread,
        // which may still use this object. Every blocking call of a thread body is bounded.
    }
    handle.Close();
    return true;
}

bool CBaseThread::JoinThread(unsigned milliseconds) {
    bool timedOut = false;
    if (!SignalStopAndWait(milliseconds, timedOut))
        return false;
    if (timedOut) {
        driver->Log(LOG_WARNING,
                    "%s: Thread (id=%u, name=\"%s\") was not stopped during %lu milliseconds",
                    "norvane::CBaseThread::JoinThread", threadId.load(), name.c_str(),
                    static_cast<unsigned long>(milliseconds));
        handle.WaitEnded(INFINITE_WAIT);
        driver->Log(LOG_INFO, "%s: Thread (id=%u, name=\"%s\") was stopped correctly",
                    "norvane::CBaseThread::JoinThread", threadId.load(), name.c_str());
    }
    handle.Close();
    return true;
}

}  // namespace norvane
