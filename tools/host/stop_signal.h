// SIGINT and SIGTERM (on Windows the console's Ctrl+C, Ctrl+Break and close events) turned into
// a stop request the run can wait on. Construct it before any other thread starts: the signals
// are blocked for every thread and taken by one waiting thread. Repeated signals (a process
// group and its member both signalled) make one request.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace host {

class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // True when a stop signal came before `deadline`.
    bool WaitUntil(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_until(lock, deadline, [this] { return requested_; });
    }

#if defined(_WIN32)
    // Called by the console control handler.
    void Notify();
#endif

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable changed_;
    bool requested_ = false;
    bool closing_ = false;
    std::thread thread_;
};

}  // namespace host
