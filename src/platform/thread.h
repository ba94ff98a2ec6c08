// A joinable thread whose end can be awaited with a time limit.
#pragma once

#include <memory>

namespace norvane::platform {

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
