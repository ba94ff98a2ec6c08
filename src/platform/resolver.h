// Host name look-ups on a helper thread, so that a caller can stop waiting for a slow resolver.
// The look-up itself is shared by both back ends; each starts, joins and leaves its threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace norvane::platform {

// What the caller and its helper thread share; the last of the two to let go frees it.
struct Lookup {
    std::string host;
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;     // guarded by lock
    uint32_t address = 0;  // guarded by lock
    std::atomic<int> users{2};

    void Release() {
        if (--users == 0)
            delete this;
    }
};

// The helper thread's body: resolves, publishes the address and lets go of the look-up.
void RunLookUp(Lookup* lookup);

// One helper thread (per back end).
class LookUpThread {
public:
    // Starts a thread that runs RunLookUp(lookup).
    bool Start(Lookup* lookup);
    // Waits for a thread whose look-up is done.
    void Join();
    // The caller stops waiting: the thread ends on its own, and may end after the host has
    // unloaded the library.
    void Leave();

private:
    uintptr_t handle_ = 0;
};

}  // namespace norvane::platform
