// A joinable thread whose end can be awaited with a time limit.
#pragma once

#include <cstddef>
#include <memory>

namespace norvane::platform {

// Address space each thread reserves for its stack, in place of the executable's default (1 MiB
// under Windows, 8 MiB under glibc): a 32-bit host runs hundreds of these threads. The deepest
// use measured is about 15 KiB (x86-64 release build, every test and fault case).
inline constexpr size_t kThreadStackReservation = 256 * 1024;

class Thread {
public:
    using Procedure = unsigned (*)(void* argument);

    Thread() = default;
    ~Thread();  // waits for a thread still running: nothing it uses may be freed under it
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    bool Start(Procedure procedure, void* argument);
    bool Exists() const { return state_ != nullptr; }
    bool IsRunning() const;
    // True when the thread ended within `milliseconds` (WAIT_INFINITE waits for ever).
    bool WaitEnded(unsigned milliseconds);
    // Joins an ended thread and forgets it; a running thread is first waited for.
    void Close();
    unsigned Id() const;
    bool IsCurrent() const;
    unsigned ExitCode() const;

private:
    struct State;
    std::shared_ptr<State> state_;  // shared with the running thread
};

}  // namespace norvane::platform
