#include "host/stop_signal.h"

#include <pthread.h>
#include <signal.h>

namespace host {

namespace {

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

StopSignal::StopSignal() {
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    thread_ = std::thread([this] { Run(); });
}

StopSignal::~StopSignal() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    pthread_kill(thread_.native_handle(), SIGTERM);  // wakes sigwait; not taken as a request
    thread_.join();
}

void StopSignal::Run() {
    const sigset_t set = StopSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0)
            return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (closing_)
                return;
            requested_ = true;
        }
        changed_.notify_all();
    }
}

}  // namespace host
