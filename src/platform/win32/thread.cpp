#include "platform/thread.h"

#include <process.h>
#include <windows.h>

namespace norvane::platform {

struct Thread::State {
    HANDLE handle = nullptr;
    unsigned id = 0;
    Procedure procedure = nullptr;
    void* argument = nullptr;

    ~State() {
        if (handle)
            CloseHandle(handle);
    }

    static unsigned __stdcall Entry(void* self) {
        const State* state = static_cast<const State*>(self);
        return state->procedure(state->argument);
    }
};

Thread::~Thread() { Close(); }

bool Thread::Start(Procedure procedure, void* argument) {
    Close();
    auto state = std::make_shared<State>();
    state->procedure = procedure;
    state->argument = argument;
    // Started through the C runtime, so the runtime's per-thread data is set up and freed.
    // Suspended until the owner has published the state, so the body sees its own id.
    const uintptr_t handle =
        _beginthreadex(nullptr, kThreadStackReservation, &State::Entry, state.get(),
                       CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, &state->id);
    if (handle == 0)
        return false;
    state->handle = reinterpret_cast<HANDLE>(handle);
    state_ = state;
    ResumeThread(state->handle);
    return true;
}

bool Thread::IsRunning() const {
    return state_ && WaitForSingleObject(state_->handle, 0) == WAIT_TIMEOUT;
}

bool Thread::WaitEnded(unsigned milliseconds) {
    return !state_ || WaitForSingleObject(state_->handle, milliseconds) == WAIT_OBJECT_0;
}

void Thread::Close() {
    if (!state_)
        return;
    // A thread closing itself lets the handle go; its procedure and state stay valid until it
    // returns because the state is only read before the procedure starts.
    if (!IsCurrent())
        WaitForSingleObject(state_->handle, INFINITE);
    state_.reset();
}

unsigned Thread::Id() const { return state_ ? state_->id : 0; }

bool Thread::IsCurrent() const { return state_ && state_->id == GetCurrentThreadId(); }

unsigned Thread::ExitCode() const {
    DWORD code = 0;
    if (!state_ || !GetExitCodeThread(state_->handle, &code) || code == STILL_ACTIVE)
        return 0;
    return code;
}

}  // namespace norvane::platform
