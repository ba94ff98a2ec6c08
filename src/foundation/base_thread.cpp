#include "foundation/base_thread.h"

#include "foundation/idriver.h"
#include "platform/system.h"

namespace norvane {

void LogThreadException(IDriver* driver, const char* name) noexcept {
    try {
        driver->Log(LOG_ERROR, "%s: Thread (name=\"%s\") ended by an exception",
                    "norvane::CBaseThread::ThreadProcedure", name);
    } catch (...) {
    }
}

CBaseThread::CBaseThread(IDriver* driver) : driver(driver) {}

CBaseThread::~CBaseThread() { StopThread(2000); }

unsigned CBaseThread::ThreadProcedure(void* argument) {
    auto* self = static_cast<CBaseThread*>(argument);
    if (!self)
        return NO_OBJECT_EXIT_CODE;
    self->ownId = platform::CurrentThreadId();  // before Run: a body may stop itself at once
    return RunThreadBody(self->driver, self->name.c_str(), [self] {
        self->Run();
        return 0;
    });
}

// Start and the stops of one object run one at a time (controlLock), so that a start racing a
// stop can neither clear the stop's signal nor start a thread the stop does not see. The thread
// itself never takes the lock: its own stop only signals, its own start finds it running.
bool CBaseThread::Start(const std::string& threadName) {
    if (OnOwnThread())
        return false;
    CLockGuard guard(controlLock);
    if (handle.IsRunning())
        return false;
    stopEvent.Reset();
    CloseHandle();
    name = threadName;
    if (!handle.Start(&CBaseThread::ThreadProcedure, this))
        return false;
    threadId = handle.Id();
    return true;
}

bool CBaseThread::StopThread(unsigned milliseconds) {
    if (SignalOwnStop())
        return false;
    CLockGuard guard(controlLock);
    stopEvent.Set();
    if (!WaitForEnd(milliseconds)) {
        driver->Log(LOG_WARNING,
                    "%s: Thread (id=%u, name=\"%s\") was not stopped during %lu milliseconds and "
                    "will be terminated!",
                    "norvane::CBaseThread::StopThread", threadId.load(), name.c_str(),
                    static_cast<unsigned long>(milliseconds));
        // No safe forced termination exists here: closing the handle waits for the thread,
        // which may still use this object. Every blocking call of a thread body is bounded.
    }
    CloseHandle();
    return true;
}

bool CBaseThread::JoinThread(unsigned milliseconds) {
    if (SignalOwnStop())
        return false;
    CLockGuard guard(controlLock);
    stopEvent.Set();
    if (!WaitForEnd(milliseconds)) {
        driver->Log(LOG_WARNING,
                    "%s: Thread (id=%u, name=\"%s\") was not stopped during %lu milliseconds",
                    "norvane::CBaseThread::JoinThread", threadId.load(), name.c_str(),
                    static_cast<unsigned long>(milliseconds));
        handle.WaitEnded(INFINITE_WAIT);
        driver->Log(LOG_INFO, "%s: Thread (id=%u, name=\"%s\") was stopped correctly",
                    "norvane::CBaseThread::JoinThread", threadId.load(), name.c_str());
    }
    CloseHandle();
    return true;
}

bool CBaseThread::OnOwnThread() const {
    const unsigned id = ownId;
    return id != 0 && id == platform::CurrentThreadId();
}

bool CBaseThread::SignalOwnStop() {
    if (!OnOwnThread())
        return false;
    stopEvent.Set();
    return true;
}

bool CBaseThread::WaitForEnd(unsigned milliseconds) {
    return !handle.Exists() || handle.WaitEnded(milliseconds);
}

void CBaseThread::CloseHandle() {
    handle.Close();
    ownId = 0;
}

}  // namespace norvane
